// Form1: the editor's one window, its controls, the editor state and the
// event handlers that carry out what the user asks.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "fileio/file.h"
#include "platform/common_dialog.h"
#include "platform/message_boxes.h"
#include "platform/picture_box.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace pelloran::editor {

// The game's boolean: true is -1, false is 0.
using Bool16 = std::int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;

// Everything the window remembers between events. Strings start empty and
// numbers at zero; Form_Load gives the layout fields their values.
struct EditorState {
    std::filesystem::path LargeFilePath;
    std::filesystem::path SmallFilePath;
    std::filesystem::path LargeImportPath;
    std::filesystem::path SmallImportPath;
    double LargeRecordPos = 0;  // 1-based file position of the shown record
    double SmallRecordPos = 0;
    double LargeRecordSize = 0;
    double SmallRecordSize = 0;
    double LargeBase = 0;  // 0-based offset of the record of number 1
    double SmallBase = 0;
    std::int16_t LargeWidth = 0;
    std::int16_t SmallWidth = 0;
    archive::RgbPalette LargePalette{};
    archive::RgbPalette SmallPalette{};
    std::array<std::uint8_t, 5120> LargePixels{};  // top row first
    std::array<std::uint8_t, 2304> SmallPixels{};  // 0..1279 used
    bitmap::Header BitmapHeader{};
    Bool16 LargePending = kFalse;  // an imported bitmap waits to be written
    Bool16 SmallPending = kFalse;
};

class Form1 final : public QWidget, public EditorState {
public:
    Form1(platform::CommonDialog& commonDialog, platform::MessageBoxes& messageBoxes,
          fileio::FileSystem& fileSystem = fileio::nativeFileSystem(), QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: the layout constants and the bitmap header template.
    void Form_Load();

    // Open: asks for the large archive, derives the small one, shows number 1.
    void Command1_Click();
    // About box.
    void Command2_Click();
    // Export the shown pair as two bitmap files.
    void Command3_Click();
    // Import a bitmap into the slot its height names.
    void Command4_Click();
    // Write pending imports into the records of the shown number.
    void Command5_Click();
    // Exit, after asking.
    void Command6_Click();

    // The shown number changed: both slots are loaded for it. Returns false
    // after a load failed, which has been reported.
    bool HScroll1_Change();
    // The new officers' range, 723 to 832; false as for HScroll1_Change.
    bool Option1_Click();
    // The historical range, 1 to 722.
    bool Option3_Click();

    // Reads the slot's record at recordPosition, fills the slot's palette and
    // pixels, paints its preview, ends its pending import and enables export
    // and import. A read error is reported and changes nothing.
    bool LoadPortrait(archive::Slot slot, double recordPosition, std::int16_t width,
                      double recordSize);

    // The import check of a bitmap file's first bytes; tells the user why a
    // file is refused. Returns kTrue when it passes.
    Bool16 CheckImportBitmap(std::span<const std::uint8_t> file);

    QPushButton* Command1;       // "打开文件"
    QPushButton* Command2;       // "说 明"
    QPushButton* Command3;       // "导出图片"
    QPushButton* Command4;       // "导入图片"
    QPushButton* Command5;       // "写 入"
    QPushButton* Command6;       // "退 出"
    QRadioButton* Option1;       // new officers
    QRadioButton* Option3;       // historical officers
    QScrollBar* HScroll1;        // the portrait number
    QLabel* Label1;              // "编号:" and the number
    QLabel* Label2;              // lower end of the range
    QLabel* Label3;              // upper end of the range
    platform::PictureBox* Pic1;  // large portrait
    platform::PictureBox* Pic2;  // small portrait
    platform::CommonDialog& CommonDialog1;

private:
    // The fields of one slot's row of the editor state, so that one routine
    // serves both slots.
    struct SlotFields {
        std::filesystem::path& filePath;
        std::filesystem::path& importPath;
        double& recordPos;
        double& recordSize;
        std::int16_t& width;
        archive::RgbPalette& palette;
        std::span<std::uint8_t> pixels;
        Bool16& pending;
        platform::PictureBox* picture;
        std::vector<std::uint8_t>& importedRecord;
    };
    SlotFields fieldsOf(archive::Slot slot);

    // What a failed action puts back: the editor state and every control a
    // load or a number change touches.
    struct Snapshot {
        EditorState state;
        bool exportEnabled, importEnabled, writeEnabled, numbersEnabled;
        bool newRange;  // Option1 selected
        int minimum, maximum, number;
        QString label1, label2, label3;
        QImage large, small;
    };
    Snapshot snapshot() const;
    void restore(const Snapshot& before);

    void createControls();
    void connectHandlers();

    bool openArchives(const std::filesystem::path& large, const std::filesystem::path& small);
    bool showRange(int first, int last);
    bool setNumber(int number);
    int shownNumber() const;
    fileio::Result<void> writeBack(archive::Slot slot);

    // Tells the user which file failed and why.
    void showError(const fileio::Error& error);
    void showNotice(const QString& text, const QString& title);

    platform::MessageBoxes& messageBoxes_;
    fileio::FileSystem& fileSystem_;
    // The record each slot's import would write, kept to see at write time
    // whether the file still holds what the user saw.
    std::vector<std::uint8_t> largeImportedRecord_;
    std::vector<std::uint8_t> smallImportedRecord_;
};

// The about box's text, lines separated by carriage returns.
QString aboutText();

}  // namespace pelloran::editor
