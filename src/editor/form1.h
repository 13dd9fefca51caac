// Form1: the editor's one window, a fixed face over the session that does
// the work. Its names are the window's documented ones:
//
//   Form1            the window, 373 x 116, fixed size
//   Form_Load        start-up: fills the editor state below
//   Command1         "打开文件"  open an archive pair            Command1_Click
//   Command2         "说 明"     the about box                   Command2_Click
//   Command3         "导出图片"  export the shown pair as BMP    Command3_Click
//   Command4         "导入图片"  import a picture                Command4_Click
//   Command5         "写 入"     write pending imports           Command5_Click
//   Command6         "退 出"     exit, after asking              Command6_Click
//   Option3          "史实武将"  historical officers, 1-722      Option3_Click
//   Option1          "新武将"    new officers, 723-832           Option1_Click
//                    (there is no Option2)
//   HScroll1         the portrait number bar                     HScroll1_Change
//   Label1           "编号:" and the number shown
//   Label2, Label3   the lower and upper end of the range
//   Pic1, Pic2       the large (64 x 80) and small (32 x 40) preview
//   CommonDialog1    the one file dialog, shared by open, export and import
//   LoadPortrait     reads one slot's record of the shown number and shows it
//   CheckImportBitmap  checks a file for import; says why it is refused
//
// The editor-state fields (LargeFilePath ... SmallPending) keep their names
// but not their old types: offsets are 0-based and 64-bit, flags are bool.
// They mirror the session's state and are written in one place, showState().
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "fileio/file.h"
#include "platform/common_dialog.h"
#include "platform/message_boxes.h"
#include "platform/number_bar.h"
#include "platform/picture_box.h"
#include "platform/pictures.h"
#include "session/messages.h"
#include "session/session.h"

class QLabel;
namespace pelloran::editor {
class PainterLink;
}
class QPushButton;
class QRadioButton;

namespace pelloran::editor {

// What the window shows of the session, under the window's own names.
struct EditorState {
    std::filesystem::path LargeFilePath;
    std::filesystem::path SmallFilePath;
    std::filesystem::path LargeImportPath;  // the last file imported into the slot
    std::filesystem::path SmallImportPath;
    std::uint64_t LargeRecordPos = 0;  // 0-based offset of the shown number's record
    std::uint64_t SmallRecordPos = 0;
    // Fixed by the archives' layout.
    std::uint32_t LargeRecordSize = archive::kLargeLayout.recordSize;
    std::uint32_t SmallRecordSize = archive::kSmallLayout.recordSize;
    std::uint32_t LargeBase = archive::kLargeLayout.base;  // offset of the record of number 1
    std::uint32_t SmallBase = archive::kSmallLayout.base;
    int LargeWidth = archive::kLargeLayout.width;
    int SmallWidth = archive::kSmallLayout.width;
    archive::RgbPalette LargePalette{};  // of the record as loaded
    archive::RgbPalette SmallPalette{};
    std::array<std::uint8_t, archive::kLargeLayout.pixelBlockSize()>
        LargePixels{};  // top row first
    std::array<std::uint8_t, archive::kSmallLayout.pixelBlockSize()> SmallPixels{};
    bitmap::Header BitmapHeader{};
    bool LargePending = false;  // an imported picture waits to be written
    bool SmallPending = false;
};

class Form1 final : public QWidget, public EditorState {
    Q_OBJECT

public:
    Form1(platform::CommonDialog& commonDialog, platform::MessageBoxes& messageBoxes,
          fileio::FileSystem& fileSystem = fileio::nativeFileSystem(), QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

    // The bar moved to another number: both slots are loaded for it.
    void HScroll1_Change();
    void Option1_Click();
    void Option3_Click();

    void LoadPortrait(archive::Slot slot);
    // Opens the pair whose large archive is largeArchive, as a file chosen
    // in the open dialog is opened.
    void openPair(const std::filesystem::path& largeArchive);
    // Shows number (1 to 832), switching the range as the range buttons do.
    void goTo(int number);
    // Asks for a number and shows it as goTo does.
    void askForNumber();
    // Undoes the last write to the pair and says what it put back.
    void undo();
    // Puts the portrait of the focused preview on the clipboard, in its
    // palette's colours; nothing when no preview has the focus.
    void copyPortrait();
    // Takes the clipboard's image as an import, by colour against the record
    // shown in the slot its size names.
    void pastePicture();
    // Makes the small portrait from the large one shown as the small slot's
    // pending import.
    void makeSmallFromLarge();
    // Edits the slot's picture as shown through the session (see
    // Session::edit) and shows the result; whether it changed.
    bool editPortrait(archive::Slot slot, const std::function<bool(session::Record&)>& change,
                      session::Stroke stroke = session::Stroke::Starts);
    // Takes back, or does again, an edit made in the closer look.
    void undoEdit();
    void redoEdit();
    // Opens the portrait of the focused preview (the large one when neither
    // has the focus), as shown, in the user's painting program, and takes
    // each save of it as that slot's pending import.
    void editInPainter();
    // Imports a save of the painter's working file as the import button
    // imports a file, but keeps the picture taken: the painter may save
    // again, or badly, before 写 入, which writes what the preview shows.
    // False when it was refused, which has been said then.
    bool importSave(const std::filesystem::path& file);
    // Reads, checks and maps the file for import; shows the refusal or error
    // and returns nothing when it is not taken. A picture with more colours
    // than a palette holds is taken reduced if the user says so.
    std::optional<session::CheckedImport> CheckImportBitmap(const std::filesystem::path& file);
    // Speaks the language code (one of session::languages()) from now on, in
    // this run and the next ones.
    void chooseLanguage(const std::string& code);

protected:
    // Back in the window: what another program wrote is shown. Another
    // language: the captions are said in it.
    void changeEvent(QEvent* event) override;
    // Closed by any means but the exit button, which has asked already: an
    // import waiting to be written is given up only once the user says so.
    void closeEvent(QCloseEvent* event) override;
    // A dropped archive opens its pair; dropped pictures (one or two) are
    // imported, each into the slot its size names.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public:
    const session::Session& session() const { return session_; }

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QRadioButton* Option1;
    QRadioButton* Option3;
    platform::NumberBar* HScroll1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    platform::PictureBox* Pic1;
    platform::PictureBox* Pic2;
    platform::CommonDialog& CommonDialog1;

signals:
    // The controls were written from the session, after any action.
    void stateShown();
    // The number shown or a preview's record changed: what the added views
    // of the shown pair must follow. Not sent when nothing they show changed.
    void portraitChanged();
    // Another pair was opened, or records were written or undone: what the
    // added views show of numbers other than the shown one may have changed.
    void archivesChanged();
    // Another language was chosen: the added windows and the menu say their
    // texts again.
    void languageChanged();

private:
    void createControls();
    void connectHandlers();
    // The captions of the controls, in the chosen language; Label1's number
    // is showState()'s.
    void showCaptions();

    // Runs check, asking whether to reduce when there are too many colours;
    // shows the refusal and returns nothing when the picture is not taken.
    std::optional<session::CheckedImport> takeOrRefuse(
        const std::function<session::Result<session::CheckedImport>(session::Colours)>& check);
    void accept(session::CheckedImport import);
    // Whether what is shown may change: yes when no edited picture waits to
    // be written, or the user agrees to drop it. On no the controls go back.
    bool mayDropEdits();

    enum class DialogKind { Open, Save };
    // The kinds of file whose dialogs remember, each its own, the folder
    // last chosen from, between runs: archives (open), and the portrait
    // pictures that export writes and import reads, which are the same files
    // on their way out and back in.
    enum class FileFolder { Archives, Pictures };
    // Shows CommonDialog1 with filter, suggesting the name suggested, in the
    // folder last chosen from for that kind of file (the open archive's
    // folder before any); nothing when the user cancelled.
    std::optional<std::filesystem::path> askForFile(const QString& filter, DialogKind kind,
                                                    FileFolder folder,
                                                    const QString& suggested = {});
    QString startFolder(FileFolder folder) const;
    static QString settingsKey(FileFolder folder);

    // The one place where the editor state and the controls are written from
    // the session: after every action, whether it succeeded or not.
    void showState();
    // Shows the state, then the error of a failed action, if any.
    template <class T>
    void settle(const session::Result<T>& result);
    platform::MessageAnswer tell(const session::Message& message);

    PainterLink* painter_;  // a child of the window
    platform::QtPictures pictures_;
    session::Session session_;
    platform::MessageBoxes& messageBoxes_;
    // The records the previews were last painted from, so that a picture is
    // made only when its record changed.
    std::array<session::Record, 2> painted_;
    int shownNumber_ = 0;
    bool exitConfirmed_ = false;  // the exit button's question was answered Yes
};

}  // namespace pelloran::editor
