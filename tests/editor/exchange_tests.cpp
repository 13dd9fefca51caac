// The exchange cycle through the window: export, import, write-back.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <functional>

#include "bitmap/bitmap.h"
#include "editor/application.h"
#include "editor/editor_fixture.h"
#include "platform/paths.h"

namespace pelloran::testing {
namespace {

using archive::Slot;
using platform::MessageIcon;

const QString kFormatRefusal = "导入的图片必须为64×80或32×40的BMP或PNG图片！";

class ExchangeTest : public WindowFixture {
protected:
    std::vector<std::uint8_t> recordOf(const std::filesystem::path& archivePath, Slot slot,
                                       int number)
    {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        const auto bytes = readFile(archivePath);
        const auto start =
            bytes.begin() + static_cast<std::ptrdiff_t>(archive::recordOffset(layout, number));
        return {start, start + layout.recordSize};
    }
};

TEST_F(ExchangeTest, ExportWritesThePairAsShownAndSaysSo)
{
    openArchives();
    browseTo(57);
    exportAs("face.bmp");

    ASSERT_EQ(dialog.shown().size(), 2u);
    const auto& save = dialog.shown().back();
    EXPECT_TRUE(save.save);
    EXPECT_EQ(save.filter, "位图文件(*.bmp)|*.bmp|PNG图片(*.png)|*.png|任意文件(*.*)|*.*");
    EXPECT_EQ(save.defaultExt, "Bmp");
    EXPECT_EQ(save.fileName, "057.bmp");
    EXPECT_EQ(QDir::cleanPath(save.initDir), QDir::cleanPath(platform::toQString(folder.path())));
    ASSERT_EQ(messages.titles(), QStringList{"说明"});
    EXPECT_EQ(messages.shown().front().text, QStringLiteral("图片导出成功！\r已写入“%1”和“%2”。")
                                                 .arg(platform::toQString(folder / "face.bmp"),
                                                      platform::toQString(folder / "faceT.BMP")));

    for (auto [slot, name] :
         {std::pair{Slot::Large, "face.bmp"}, std::pair{Slot::Small, "faceT.BMP"}}) {
        const auto file = readFile(folder / name);
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        ASSERT_EQ(file.size(), bitmap::fileSize(layout)) << name;
        // Bottom-left pixel first, top-right last.
        EXPECT_EQ(file[1078], patternIndex(slot, 57, 0, layout.height() - 1)) << name;
        EXPECT_EQ(file.back(), patternIndex(slot, 57, layout.width - 1, 0)) << name;
        // The palette is number 57's, with 0 where the archive had 0xEE.
        const QRgb colour = patternColour(slot, 57, 9);
        EXPECT_EQ(file[54 + 4 * 9], qBlue(colour));
        EXPECT_EQ(file[54 + 4 * 9 + 2], qRed(colour));
        EXPECT_EQ(file[54 + 4 * 9 + 3], 0);
    }
    EXPECT_EQ(folder.fileNames(),
              (std::vector<std::string>{"GRPFACES.S10", "GRPFACET.S10", "face.bmp", "faceT.BMP"}));
}

// Each dialog starts where its kind of file was last chosen, in this run or
// an earlier one: archives for open, pictures for export and import alike.
TEST_F(ExchangeTest, DialogsStartInTheFolderLastChosenForTheirKindOfFile)
{
    const auto pictures = folder / "pictures";
    std::filesystem::create_directory(pictures);
    struct Row {
        const char* step;
        std::function<void()> act;
        QString initDir, fileName;
    };
    const QString archives = platform::toQString(folder.path());
    const Row rows[] = {
        {"first open", [this] { openArchives(); }, "", ""},
        {"first export: the archive's folder",
         [&] {
             browseTo(9);
             dialog.answer(platform::toQString(pictures / "face.bmp"));
             form->Command3->click();
         },
         archives, "009.bmp"},
        {"import: where export wrote", [&] { import(pictures / "face.bmp"); },
         platform::toQString(pictures), ""},
        {"open again: the archives' folder", [this] { open(largeArchive()); }, archives, ""},
        {"export after a restart",
         [this] {
             form = std::make_unique<editor::Form1>(dialog, messages, files);
             form->openPair(largeArchive());
             exportAs("again.bmp");
         },
         platform::toQString(pictures), "001.bmp"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        row.act();
        ASSERT_FALSE(dialog.shown().empty());
        EXPECT_EQ(QDir::cleanPath(dialog.shown().back().initDir), QDir::cleanPath(row.initDir));
        EXPECT_EQ(dialog.shown().back().fileName, row.fileName);
    }
}

TEST_F(ExchangeTest, ExportReplacesLongerFilesWholeAndRepeatsItselfExactly)
{
    openArchives();
    writeFile(folder / "face.bmp", std::vector<std::uint8_t>(9000, 0xAB));
    writeFile(folder / "faceT.BMP", std::vector<std::uint8_t>(3000, 0xAB));
    exportAs("face.bmp");
    const auto first = readFile(folder / "face.bmp");
    EXPECT_EQ(first.size(), 6198u);
    EXPECT_EQ(readFile(folder / "faceT.BMP").size(), 2358u);
    exportAs("face.bmp");
    EXPECT_EQ(readFile(folder / "face.bmp"), first);
}

TEST_F(ExchangeTest, CancelledOrImpossibleExportWritesNothingAndClaimsNothing)
{
    openArchives();
    dialog.cancel();
    form->Command3->click();
    EXPECT_TRUE(messages.shown().empty());

    struct Row {
        const char* what;
        QString chosen;
        QString named;  // the file the one error message names
    };
    const auto in = [this](const char* name) { return platform::toQString(folder / name); };
    std::filesystem::create_directory(folder / "sub");
    std::vector<Row> rows = {
        {"too short a name to put a T before its extension", "abc", "abc"},
        {"a folder that does not exist", in("no such folder/face.bmp"), "face.bmp"},
        {"the large archive, by another path", in("sub/../GRPFACES.S10"), "GRPFACES.S10"},
    };
    std::vector<std::string> names = {"GRPFACES.S10", "GRPFACET.S10", "sub"};
#ifdef _WIN32
    // Names that differ only in case are one file there.
    rows.push_back({"the large archive, in other case", in("grpfaces.s10"), "grpfaces.s10"});
#else
    std::filesystem::create_symlink("GRPFACET.S10", folder / "linkT.BMP");
    rows.push_back(
        {"a small name that is a link to the small archive", in("link.bmp"), "linkT.BMP"});
    names.insert(names.begin() + 2, "linkT.BMP");
#endif
    const auto largeBefore = readFile(largeArchive());
    const auto smallBefore = readFile(smallArchive());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        messages.clear();
        dialog.answer(row.chosen);
        form->Command3->click();
        ASSERT_EQ(messages.titles(), QStringList{"错误"});
        EXPECT_TRUE(messages.shown().front().text.contains(row.named));
    }
    EXPECT_EQ(readFile(largeArchive()), largeBefore);
    EXPECT_EQ(readFile(smallArchive()), smallBefore);
    EXPECT_EQ(folder.fileNames(), names);
}

TEST_F(ExchangeTest, ExportedPairImportsBackIntoItsSlots)
{
    openArchives();
    exportAs("face.bmp");
    messages.clear();
    import(folder / "face.bmp");
    import(folder / "faceT.BMP");

    EXPECT_TRUE(messages.shown().empty());
    EXPECT_TRUE(form->LargePending);
    EXPECT_TRUE(form->SmallPending);
    EXPECT_EQ(form->LargeImportPath, folder / "face.bmp");
    EXPECT_EQ(form->SmallImportPath, folder / "faceT.BMP");
    EXPECT_TRUE(form->Command5->isEnabled());
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
    // The import dialog keeps the default extension export set.
    EXPECT_EQ(dialog.shown().back().defaultExt, "Bmp");
    EXPECT_EQ(dialog.shown().back().filter,
              "位图文件(*.bmp)|*.bmp|PNG图片(*.png)|*.png|任意文件(*.*)|*.*");
    EXPECT_FALSE(dialog.shown().back().save);
}

TEST_F(ExchangeTest, ImportShowsTheFileInTheSlotItsHeightNames)
{
    openArchives();
    import(editedBitmap(Slot::Small, 1, 5, 6, 200, "small.bmp"));
    EXPECT_EQ(shownPixel(form->Pic2, 5, 6) & RGB_MASK,
              patternColour(Slot::Small, 1, 200) & RGB_MASK);
    EXPECT_FALSE(form->LargePending);
    // The editor state still holds the portrait as loaded.
    EXPECT_EQ(form->SmallPixels[6 * 32 + 5], patternIndex(Slot::Small, 1, 5, 6));
}

TEST_F(ExchangeTest, RefusedImportSaysWhyOnceAndChangesNothing)
{
    openArchives();
    auto valid = readFile(editedBitmap(Slot::Large, 1, 0, 0, 0, "valid.bmp"));
    struct Row {
        const char* name;
        std::size_t offset;
        std::uint8_t value;
        QString message;  // the check's message, then a line naming what was found
    };
    const Row rows[] = {
        {"signature", 0, 'X', kFormatRefusal + "\r这个文件既不是BMP图片，也不是PNG图片。"},
        {"width", 18, 48, "导入的图片宽度必须为64或32像素！\r这张图片是48×80像素。"},
        {"height", 22, 0xB0, "导入的图片高度必须为80或40像素！\r这张图片是64×176像素。"},
        {"depth", 28, 24, kFormatRefusal + "\r文件在第6198字节处就结束了，比它的文件头所说的短。"},
        {"compression", 30, 9, kFormatRefusal + "\r无法读取压缩方式为9的图片。"},
        {"info header", 14, 44, kFormatRefusal + "\r无法读取信息头为44字节的BMP图片。"},
    };
    for (const Row& row : rows) {
        auto bytes = valid;
        bytes[row.offset] = row.value;
        writeFile(folder / row.name, bytes);
        messages.clear();
        import(folder / row.name);
        ASSERT_EQ(messages.shown().size(), 1u) << row.name;
        EXPECT_EQ(messages.shown().front().text, row.message) << row.name;
        EXPECT_EQ(messages.shown().front().title, "警告");
        EXPECT_EQ(messages.shown().front().icon, MessageIcon::Information);
        EXPECT_FALSE(form->LargePending);
        EXPECT_FALSE(form->Command5->isEnabled());
        EXPECT_TRUE(showsNumber(Slot::Large, 1));
    }
    // A file named in a dialog that does not exist is refused the same way
    // (Qt's own dialog returns only files that exist).
    messages.clear();
    import(folder / "missing.bmp");
    EXPECT_TRUE(messages.shown().front().text.startsWith(kFormatRefusal));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.bmp"));
}

TEST_F(ExchangeTest, CancelledImportKeepsAnEarlierOnePending)
{
    openArchives();
    import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
    dialog.cancel();
    form->Command4->click();
    EXPECT_TRUE(form->LargePending);
    EXPECT_TRUE(form->Command5->isEnabled());
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(ExchangeTest, ChangingTheNumberOrOpeningAgainDropsThePendingImport)
{
    struct Row {
        const char* what;
        std::function<void()> act;
        int shown;
    };
    const Row rows[] = {
        {"another number", [this] { browseTo(2); }, 2},
        {"the pair opened again", [this] { open(largeArchive()); }, 1},
        {"the other range", [this] { form->Option1->click(); }, 723},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        openArchives();
        import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
        row.act();
        EXPECT_FALSE(form->LargePending);
        EXPECT_FALSE(form->Command5->isEnabled());
        EXPECT_TRUE(showsNumber(Slot::Large, row.shown));
        files.clearLog();
        write();
        EXPECT_TRUE(files.entries(fileio::Operation::Open, largeArchive()).empty());
        form->Option3->click();
    }
}

TEST_F(ExchangeTest, WriteBackOfOneSlotChangesOnlyThatRecord)
{
    openArchives();
    browseTo(57);
    const auto largeBefore = readFile(largeArchive());
    const auto smallBefore = readFile(smallArchive());
    import(editedBitmap(Slot::Large, 57, 10, 20, 3, "large.bmp"));
    files.clearLog();
    write();

    EXPECT_EQ(messages.titles(), QStringList{"说明"});
    EXPECT_EQ(messages.shown().back().text, "图片写入成功！");
    EXPECT_FALSE(form->LargePending);
    EXPECT_TRUE(form->Command5->isEnabled());
    EXPECT_TRUE(files.entries(fileio::Operation::Open, smallArchive()).empty());
    EXPECT_EQ(readFile(smallArchive()), smallBefore);

    auto largeAfter = readFile(largeArchive());
    const auto offset = archive::recordOffset(archive::kLargeLayout, 57);
    std::size_t differences = 0;
    for (std::size_t i = 0; i < largeAfter.size(); ++i)
        if (largeAfter[i] != largeBefore[i]) {
            ++differences;
            EXPECT_GE(i, offset);
            EXPECT_LT(i, offset + 6144);
        }
    // The edited pixel, and the 256 reserved bytes that a bitmap holds as 0.
    EXPECT_EQ(differences, 1u + 256u);
    EXPECT_EQ(largeAfter[offset + 20 * 64 + 10], 3);
    EXPECT_EQ(largeAfter[offset + 6143], 0);
    // Nothing is reloaded: the editor state and the preview keep what they had.
    EXPECT_EQ(form->LargePixels[20 * 64 + 10], patternIndex(Slot::Large, 57, 10, 20));
}

TEST_F(ExchangeTest, RoundTripThroughTheWindowKeepsTheRecordsColours)
{
    for (const auto& [large, small] :
         {std::pair{"face.bmp", "faceT.BMP"}, std::pair{"face.png", "faceT.PNG"}}) {
        SCOPED_TRACE(large);
        openArchives();
        browseTo(9);
        exportAs(large);
        import(folder / large);
        import(folder / small);
        messages.clear();
        write();
        EXPECT_EQ(messages.titles(), QStringList{"说明"});

        browseTo(10);
        browseTo(9);
        EXPECT_TRUE(showsNumber(Slot::Large, 9));
        EXPECT_TRUE(showsNumber(Slot::Small, 9));
        // Exactly the pixel indices came back; only the reserved bytes became 0.
        const auto record = recordOf(largeArchive(), Slot::Large, 9);
        for (int i = 0; i < 5120; ++i) ASSERT_EQ(record[i], static_cast<std::uint8_t>(i + 9));
    }
}

TEST_F(ExchangeTest, TooManyColoursAreReducedOnlyWhenTheUserSaysSo)
{
    openArchives();
    writeFile(folder / "photo.bmp", manyColoursBitmap());
    for (const auto answer : {platform::MessageAnswer::No, platform::MessageAnswer::Yes}) {
        messages.clear();
        messages.answer(answer);
        import(folder / "photo.bmp");
        ASSERT_EQ(messages.shown().size(), 1u);
        EXPECT_EQ(messages.shown().front().buttons, platform::MessageButtons::YesNo);
        EXPECT_TRUE(messages.shown().front().text.contains("256"));
        EXPECT_EQ(form->LargePending, answer == platform::MessageAnswer::Yes);
    }
    write();
    EXPECT_EQ(messages.titles(), (QStringList{"警告", "说明"}));
    EXPECT_NE(recordOf(largeArchive(), Slot::Large, 1), form->session().state().large.loaded);
}

TEST_F(ExchangeTest, RecordsLastByteComesFromTheFilesOffset1077)
{
    openArchives();
    auto bytes = readFile(editedBitmap(Slot::Small, 1, 0, 0, 1, "small.bmp"));
    bytes[1077] = 0x77;  // the reserved byte of entry 255
    writeFile(folder / "small.bmp", bytes);
    import(folder / "small.bmp");
    write();
    EXPECT_EQ(recordOf(smallArchive(), Slot::Small, 1).back(), 0x77);
}

TEST_F(ExchangeTest, WriteWithNothingPendingOpensNothingAndStillSaysSo)
{
    openArchives();
    import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
    write();
    messages.clear();
    files.clearLog();
    write();
    EXPECT_EQ(files.operationCount(), 0u);
    EXPECT_EQ(messages.titles(), QStringList{"说明"});
}

TEST_F(ExchangeTest, WriteRefusesAnImportThatChangedOrVanished)
{
    struct Row {
        const char* what;
        std::function<void(const std::filesystem::path&)> change;
    };
    const Row rows[] = {
        {"removed", [](const auto& p) { std::filesystem::remove(p); }},
        {"edited",
         [](const auto& p) {
             auto bytes = readFile(p);
             bytes[2000] ^= 1;
             writeFile(p, bytes);
         }},
        {"truncated", [](const auto& p) { std::filesystem::resize_file(p, 3000); }},
        // Only a header field: the pixels and the palette are as imported.
        {"height field changed to 40",
         [](const auto& p) {
             auto bytes = readFile(p);
             bytes[22] = 40;
             writeFile(p, bytes);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        openArchives();
        const auto before = readFile(largeArchive());
        const auto bitmap = editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp");
        import(bitmap);
        row.change(bitmap);
        messages.clear();
        write();
        ASSERT_EQ(messages.titles(), QStringList{"错误"});
        EXPECT_TRUE(messages.shown().front().text.contains("large.bmp"));
        EXPECT_EQ(readFile(largeArchive()), before);
        EXPECT_TRUE(form->LargePending);
    }
}

TEST_F(ExchangeTest, ArchiveThatRefusesOrIsTooShortIsLeftAsItWas)
{
    struct Row {
        const char* what;
        std::function<void()> spoil;
        QString failed;  // what the message says could not be done
    };
    const Row rows[] = {
        {"write refused",
         [this] {
             files.failAlways(fileio::Operation::Write, largeArchive(),
                              std::make_error_code(std::errc::read_only_file_system));
         },
         "无法写入文件"},
        {"archive shorter than the record",
         [this] { std::filesystem::resize_file(largeArchive(), 40000); }, "无法写入文件"},
        {"archive gone", [this] { std::filesystem::remove(largeArchive()); }, "无法打开文件"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        files.clearFaults();
        openArchives();
        import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
        row.spoil();
        const bool existed = std::filesystem::exists(largeArchive());
        const auto before = existed ? readFile(largeArchive()) : std::vector<std::uint8_t>{};
        messages.clear();
        write();
        ASSERT_EQ(messages.titles(), QStringList{"错误"});
        EXPECT_TRUE(messages.shown().front().text.contains("GRPFACES.S10"));
        EXPECT_TRUE(messages.shown().front().text.startsWith(row.failed));
        ASSERT_EQ(std::filesystem::exists(largeArchive()), existed);
        if (existed) {
            EXPECT_EQ(readFile(largeArchive()), before);
        }
        EXPECT_TRUE(form->LargePending);
    }
}

TEST_F(ExchangeTest, BothSlotsAreWrittenOrNeitherAndAWriteCanBeUndone)
{
    openArchives();
    const auto largeBefore = readFile(largeArchive());
    const auto smallBefore = readFile(smallArchive());
    import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
    import(editedBitmap(Slot::Small, 1, 0, 0, 9, "small.bmp"));
    files.failAlways(fileio::Operation::Write, smallArchive());
    write();

    EXPECT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_TRUE(form->LargePending && form->SmallPending);
    EXPECT_EQ(readFile(largeArchive()), largeBefore) << "the large slot was put back";
    EXPECT_EQ(readFile(smallArchive()), smallBefore);

    // Once the archive takes writes again, pressing again writes both.
    files.clearFaults();
    messages.clear();
    write();
    EXPECT_EQ(messages.titles(), QStringList{"说明"});
    EXPECT_EQ(recordOf(largeArchive(), Slot::Large, 1)[0], 9);
    EXPECT_EQ(recordOf(smallArchive(), Slot::Small, 1)[0], 9);

    // Ctrl+Z puts both records back, says which, and shows number 1 as it is now.
    QApplication::setActiveWindow(form.get());
    messages.clear();
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(messages.titles(), QStringList{"说明"});
    EXPECT_TRUE(messages.shown().front().text.contains("大头像第1号、小头像第1号"));
    EXPECT_EQ(readFile(largeArchive()), largeBefore);
    EXPECT_EQ(readFile(smallArchive()), smallBefore);
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
    // The write undone, nothing is left to undo.
    messages.clear();
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(messages.shown().front().text, "没有可以撤销的操作。");
}

// An undo shows what it put back, the small portrait alone too, and gives up
// an import waiting for the shown records only once the user says so.
TEST_F(ExchangeTest, UndoShowsWhatItPutBackAndAsksBeforeDroppingAnImport)
{
    openArchives();
    QApplication::setActiveWindow(form.get());
    const auto undo = [this] { QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier); };
    struct Row {
        const char* what;
        bool importWaiting;
        platform::MessageAnswer answer;
        bool undone;
    };
    const Row rows[] = {
        {"nothing waiting", false, platform::MessageAnswer::No, true},
        {"an import waiting, No", true, platform::MessageAnswer::No, false},
        {"an import waiting, Yes", true, platform::MessageAnswer::Yes, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        import(editedBitmap(Slot::Small, 1, 0, 0, 9, "small.bmp"));
        write();
        if (row.importWaiting) import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
        messages.clear();
        messages.answer(row.answer);
        undo();
        EXPECT_EQ(messages.shown().front().buttons, row.importWaiting
                                                        ? platform::MessageButtons::YesNo
                                                        : platform::MessageButtons::Ok);
        EXPECT_EQ(recordOf(smallArchive(), Slot::Small, 1)[0], row.undone ? 1 : 9);
        EXPECT_EQ(form->LargePending, !row.undone);
        if (row.importWaiting) {
            EXPECT_EQ(form->Command5->isEnabled(), !row.undone);
        }
        if (!row.undone) {
            messages.answer(platform::MessageAnswer::Yes);
            undo();
            continue;
        }
        EXPECT_TRUE(showsNumber(Slot::Small, 1));
        EXPECT_TRUE(showsNumber(Slot::Large, 1));
        exportAs("undone.bmp");
        EXPECT_EQ(readFile(folder / "undoneT.BMP").back(), patternIndex(Slot::Small, 1, 31, 0));
    }
}

// The painter round trip with a stand-in painter: cp, given the working file
// as its last argument, saves an edited picture over it.
TEST_F(ExchangeTest, EverySaveInThePainterIsThePendingImportUntilTheNumberChanges)
{
#ifdef _WIN32
    GTEST_SKIP() << "the stand-in painter is cp, which Windows has not";
#endif
    openArchives();
    browseTo(57);
    const auto edited = editedBitmap(Slot::Large, 57, 0, 0, 9, "edited.bmp");
    qputenv("PELLORAN_PAINTER",
            (QStringLiteral("cp ") + QString::fromStdU16String(edited.u16string())).toUtf8());
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_D, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(form->LargePending, 5000);
    qunsetenv("PELLORAN_PAINTER");
    EXPECT_FALSE(form->SmallPending);
    EXPECT_EQ(shownPixel(form->Pic1, 0, 0) & RGB_MASK,
              patternColour(Slot::Large, 57, 9) & RGB_MASK);
    const auto working =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/painter/057.bmp";
    ASSERT_TRUE(QFile::exists(working));

    // A save that cannot be taken is said once; the import taken stays, and
    // 写 入 writes it.
    writeFile(platform::toPath(working), std::vector<std::uint8_t>{'B', 'M'});
    QTRY_COMPARE_WITH_TIMEOUT(messages.titles(), QStringList{"警告"}, 5000);
    QTest::qWait(600);
    EXPECT_EQ(messages.titles(), QStringList{"警告"});
    write();
    EXPECT_EQ(recordOf(largeArchive(), Slot::Large, 57)[0], 9);

    // Another number ends the watch, and the working file goes.
    browseTo(58);
    EXPECT_FALSE(QFile::exists(working));
    writeFile(platform::toPath(working), readFile(edited));
    QTest::qWait(600);
    EXPECT_FALSE(form->LargePending);
}

// Another program writes the pair while the window is open: an import never
// overwrites its change, the window shows it once it is active again, and
// its operation is undone only when the user says so.
TEST_F(ExchangeTest, AnotherProgramsWriteIsNeverOverwrittenShownOnReturnAndUndoneOnlyOnYes)
{
    openArchives();
    import(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
    session::Session other;
    ASSERT_TRUE(other.open(largeArchive()));
    const auto theirs = [&](Slot slot, std::uint8_t value) {
        auto record = recordOf(slot == Slot::Large ? largeArchive() : smallArchive(), slot, 1);
        record[0] = value;
        const std::vector<journal::RecordWrite> writes{
            {slot, archive::recordOffset(archive::layoutOf(slot), 1), record}};
        ASSERT_TRUE(other.writeRecords(journal::Origin::BatchImport, writes));
    };
    theirs(Slot::Large, 77);
    write();
    ASSERT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_TRUE(messages.shown().front().text.contains("别的程序"));
    EXPECT_EQ(recordOf(largeArchive(), Slot::Large, 1)[0], 77) << "their change was kept";
    EXPECT_FALSE(form->LargePending);
    EXPECT_EQ(form->LargePixels[0], 77);

    theirs(Slot::Small, 66);
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(form.get());
    EXPECT_EQ(form->SmallPixels[0], 66) << "shown once the window is active again";

    for (const auto answer : {platform::MessageAnswer::No, platform::MessageAnswer::Yes}) {
        messages.clear();
        messages.answer(answer);
        QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
        ASSERT_FALSE(messages.shown().empty());
        EXPECT_TRUE(messages.shown().front().text.contains("批量导入"));
        EXPECT_EQ(recordOf(smallArchive(), Slot::Small, 1)[0],
                  answer == platform::MessageAnswer::Yes
                      ? patternArchive(Slot::Small)[archive::recordOffset(archive::kSmallLayout, 1)]
                      : 66);
    }
}

TEST_F(ExchangeTest, ExportAfterWriteBackStillWritesThePairAsLoaded)
{
    openArchives();
    import(editedBitmap(Slot::Large, 1, 0, 79, 250, "large.bmp"));
    write();
    exportAs("after.bmp");
    EXPECT_EQ(readFile(folder / "after.bmp")[1078], patternIndex(Slot::Large, 1, 0, 79));
}

// What the window takes from outside its dialogs: a dropped picture or
// archive, a pasted image, the small portrait made from the large one, and
// what it gives: a copied portrait. Each pending import is written by "写 入".
TEST_F(ExchangeTest, DropPasteCopyAndTheSmallPortraitFromTheLargeOne)
{
    const auto drop = [this](const std::vector<std::filesystem::path>& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const auto& path : paths) urls << QUrl::fromLocalFile(platform::toQString(path));
        data.setUrls(urls);
        // As a drag does: entering first, which makes the window the target.
        QDragEnterEvent enter(QPoint(200, 50), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        QDropEvent event(QPointF(200, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &event);
    };
    struct Row {
        const char* what;
        std::function<void()> act;
        bool largePending, smallPending;
        std::uint8_t largeFirst, smallFirst;  // the first pixel the archives hold after "写 入"
    };
    const Row rows[] = {
        {"two pictures dropped",
         [&] {
             drop({editedBitmap(Slot::Large, 1, 0, 0, 7, "a.bmp"),
                   editedBitmap(Slot::Small, 1, 0, 0, 8, "b.bmp")});
         },
         true, true, 7, 8},
        {"an image pasted: true colour, mapped against the shown record",
         [&] {
             QImage image = form->Pic1->picture().convertToFormat(QImage::Format_RGB32);
             image.setPixel(0, 0, form->Pic1->picture().pixel(1, 0));
             QGuiApplication::clipboard()->setImage(image);
             form->pastePicture();
         },
         true, false, patternIndex(Slot::Large, 1, 1, 0), patternIndex(Slot::Small, 1, 0, 0)},
        {"the small portrait from the large one", [&] { form->makeSmallFromLarge(); }, false, true,
         patternIndex(Slot::Large, 1, 0, 0), patternIndex(Slot::Large, 1, 0, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        openArchives();
        messages.clear();
        row.act();
        EXPECT_TRUE(messages.shown().empty());
        EXPECT_EQ(form->LargePending, row.largePending);
        EXPECT_EQ(form->SmallPending, row.smallPending);
        write();
        EXPECT_EQ(recordOf(largeArchive(), Slot::Large, 1)[0], row.largeFirst);
        EXPECT_EQ(recordOf(smallArchive(), Slot::Small, 1)[0], row.smallFirst);
    }

    // A dropped archive opens its pair; with the small preview focused, Ctrl+C
    // copies the small portrait in its own colours.
    drop({writeArchives()});
    EXPECT_TRUE(showsNumber(Slot::Small, 1));
    form->Pic2->setFocus();
    form->copyPortrait();
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(32, 40));
    EXPECT_EQ(copied.pixel(5, 6) & RGB_MASK,
              patternColour(Slot::Small, 1, patternIndex(Slot::Small, 1, 5, 6)) & RGB_MASK);

    // A PNG that Qt will not decode (30000 x 30000 pixels) is refused for its size.
    const auto huge = readFile(std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign" /
                               "made-30000x30000.png");
    auto* data = new QMimeData;
    data->setData("image/png", QByteArray(reinterpret_cast<const char*>(huge.data()),
                                          static_cast<qsizetype>(huge.size())));
    QGuiApplication::clipboard()->setMimeData(data);
    messages.clear();
    form->pastePicture();
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown().front().text,
              "导入的图片宽度必须为64或32像素！\r这张图片是30000×30000像素。");
    EXPECT_FALSE(form->LargePending);
}

// The same work in each language the window speaks: the same files and
// states, each language's words, and Qt's own buttons in that language.
struct Speaking {
    const char* code;
    QString open, write, number;  // two buttons' captions and Label1's
    QString warning, notice;      // the boxes' titles
    QString widthRefusal, written, undone;
    QString qtYes;  // the Yes of Qt's own message boxes
};

class LanguageScenario : public ExchangeTest, public ::testing::WithParamInterface<Speaking> {};

TEST_P(LanguageScenario, OpenARefusedImportWriteAndUndoDoTheSameInEachLanguage)
{
    const Speaking& language = GetParam();
    form->chooseLanguage(language.code);
    EXPECT_EQ(form->Command1->text(), language.open);
    EXPECT_EQ(form->Command5->text(), language.write);
    openArchives();
    EXPECT_EQ(form->Label1->text(), language.number + "1");
    const auto before = readFile(largeArchive());

    auto narrow = readFile(editedBitmap(Slot::Large, 1, 0, 0, 9, "large.bmp"));
    narrow[18] = 48;
    writeFile(folder / "narrow.bmp", narrow);
    import(folder / "narrow.bmp");
    import(folder / "large.bmp");
    write();
    EXPECT_EQ(recordOf(largeArchive(), Slot::Large, 1)[0], 9);
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(readFile(largeArchive()), before);

    ASSERT_EQ(messages.shown().size(), 3u);
    EXPECT_EQ(messages.titles(), QStringList({language.warning, language.notice, language.notice}));
    EXPECT_EQ(messages.shown()[0].text, language.widthRefusal);
    EXPECT_EQ(messages.shown()[1].text, language.written);
    EXPECT_TRUE(messages.shown()[2].text.startsWith(language.undone))
        << messages.shown()[2].text.toStdString();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), language.qtYes);
    EXPECT_EQ(QSettings().value(editor::kLanguageSetting).toString(), language.code);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, LanguageScenario,
    ::testing::Values(
        Speaking{"zh", "打开文件", "写 入", "编号:", "警告", "说明",
                 "导入的图片宽度必须为64或32像素！\r这张图片是48×80像素。", "图片写入成功！",
                 "已撤销#1（写入，", "是(&Y)"},
        Speaking{"en", "Open", "Write", "No. ", "Warning", "Note",
                 "The imported picture must be 64 or 32 pixels wide!\rThis picture is 48 × 80 "
                 "pixels.",
                 "The pictures were written!", "Undid #1 (write, ", "&Yes"}),
    [](const auto& info) { return std::string(info.param.code); });

}  // namespace
}  // namespace pelloran::testing
