// The real window on real files, with dialogs answered by a script.
#pragma once

#include <gtest/gtest.h>

#include <QRgb>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "editor/form1.h"
#include "support/faulty_file_system.h"
#include "support/scripted_dialogs.h"
#include "support/test_files.h"

namespace pelloran::testing {

// Archives whose every byte is known: portrait number n's record has pixel
// byte i = (i + n) mod 256, and palette entry e of the large archive is
// (e, 255 - e, n) in red, green, blue; the small archive's is (n, e, 255 - e).
// Its reserved bytes are 0xEE, which no colour may depend on.
const std::vector<std::uint8_t>& patternArchive(archive::Slot slot);
QRgb patternColour(archive::Slot slot, int number, std::uint8_t index);
std::uint8_t patternIndex(archive::Slot slot, int number, int x, int y);

class WindowFixture : public ::testing::Test {
protected:
    WindowFixture();
    ~WindowFixture() override;

    // Writes the pattern archives as GRPFACES.S10 and GRPFACET.S10 in the
    // test's folder and returns the large one's path.
    std::filesystem::path writeArchives();
    // The user opens path through the dialog.
    void open(const std::filesystem::path& path);
    void openArchives() { open(writeArchives()); }
    // The user drags the bar to number.
    void browseTo(int number);
    // The user exports the shown pair under name in the test's folder.
    void exportAs(const std::string& name);
    // The user imports path.
    void import(const std::filesystem::path& path);
    // The user presses the write button.
    void write();
    // An exported portrait of the slot's pattern record of number, as the
    // user's edit: the pixel at (x, y) changed to index; written as name in
    // the test's folder.
    std::filesystem::path editedBitmap(archive::Slot slot, int number, int x, int y,
                                       std::uint8_t index, const std::string& name);

    // The colour the user sees at (x, y) of a preview's drawing area.
    static QRgb shownPixel(platform::PictureBox* picture, int x, int y);
    // Whether the previews show the pattern portrait of number, every pixel.
    ::testing::AssertionResult showsNumber(archive::Slot slot, int number) const;

    std::filesystem::path largeArchive() const { return folder / "GRPFACES.S10"; }
    std::filesystem::path smallArchive() const { return folder / "GRPFACET.S10"; }

    TempDir folder;
    ScriptedCommonDialog dialog;
    ScriptedMessageBoxes messages;
    FaultyFileSystem files;
    std::unique_ptr<editor::Form1> form;
};

}  // namespace pelloran::testing

// Readable QStrings in test failures.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << list.join(u'|').toStdString();
}
QT_END_NAMESPACE
