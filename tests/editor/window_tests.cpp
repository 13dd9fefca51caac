// The window as the user first meets it, opening an archive pair, the about
// box and exit.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <functional>
#include <optional>

#include "editor/editor_fixture.h"
#include "platform/paths.h"
#include "session/language.h"

namespace pelloran::testing {
namespace {

class WindowTest : public WindowFixture {};

using archive::Slot;
using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

TEST_F(WindowTest, StartsWithEveryControlInPlace)
{
    struct Row {
        QWidget* control;
        QString caption;
        QRect geometry;
        bool enabled;
    };
    auto caption = [](QWidget* w) {
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        return QString();
    };
    const Row rows[] = {
        {form->Pic1, "", {8, 8, 68, 84}, true},
        {form->Pic2, "", {88, 8, 36, 44}, true},
        {form->Command1, "打开文件", {136, 8, 68, 25}, true},
        {form->Command3, "导出图片", {216, 8, 68, 25}, false},
        {form->Command4, "导入图片", {296, 8, 68, 25}, false},
        {form->Command5, "写 入", {136, 40, 68, 25}, false},
        {form->Command2, "说 明", {216, 40, 68, 25}, true},
        {form->Command6, "退 出", {296, 40, 68, 25}, true},
        {form->Label1, "编号:", {80, 72, 57, 17}, true},
        {form->Option3, "史实武将", {136, 72, 81, 17}, false},
        {form->Option1, "新武将", {216, 72, 81, 17}, false},
        {form->Label2, "", {8, 96, 25, 17}, true},
        {form->HScroll1, "", {32, 96, 297, 17}, false},
        {form->Label3, "", {336, 96, 25, 17}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control->metaObject()->className() + (": " + row.caption.toStdString()));
        EXPECT_EQ(caption(row.control), row.caption);
        EXPECT_EQ(row.control->geometry(), row.geometry);
        EXPECT_EQ(row.control->isEnabled(), row.enabled);
    }
    EXPECT_EQ(form->size(), QSize(373, 116));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(form->windowIcon().availableSizes().size(), 7);
    EXPECT_EQ(form->Pic1->contentsRect().size(), QSize(64, 80));
    EXPECT_EQ(form->Pic2->contentsRect().size(), QSize(32, 40));
    EXPECT_TRUE(form->Pic1->picture().isNull());
    EXPECT_TRUE(form->Option3->isChecked());
    EXPECT_FALSE(form->Option1->isChecked());
    EXPECT_EQ(form->Option3->toolTip(), "史实及其他人物头像");
    EXPECT_EQ(form->Option1->toolTip(), "新武将头像");
    for (QLabel* range : {form->Label2, form->Label3}) {
        EXPECT_TRUE(range->font().bold());
        EXPECT_EQ(range->font().pointSize(), 9);
    }
}

// Every caption of the fixed controls, in every language, fits inside its
// control's fixed size, with the largest number in the number label: measured
// with the window's font in device pixels at 1x and at 2x.
TEST_F(WindowTest, EveryLanguagesCaptionsFitTheFixedControlsAtEveryDensity)
{
    for (const std::string& code : session::languages()) {
        form->chooseLanguage(code);
        form->Label1->setText(form->Label1->text() + "832");
        for (QWidget* control : std::initializer_list<QWidget*>{
                 form->Command1, form->Command2, form->Command3, form->Command4, form->Command5,
                 form->Command6, form->Option1, form->Option3, form->Label1}) {
            QString text;
            int room = control->contentsRect().width();
            if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                text = button->text();
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = text;
                const bool radio = qobject_cast<QRadioButton*>(control) != nullptr;
                room = control->style()
                           ->subElementRect(radio ? QStyle::SE_RadioButtonContents
                                                  : QStyle::SE_PushButtonContents,
                                            &option, button)
                           .width();
            } else {
                text = static_cast<QLabel*>(control)->text();
            }
            for (const qreal density : {1.0, 2.0}) {
                SCOPED_TRACE(code + " " + text.toStdString() + " at " + std::to_string(density));
                QFont font = control->font();
                font.setPointSizeF(font.pointSizeF() * density);
                EXPECT_LE(QFontMetricsF(font).horizontalAdvance(text), room * density);
            }
        }
    }
}

TEST_F(WindowTest, StartsWithTheLayoutOfNumberOne)
{
    EXPECT_EQ(form->LargeRecordPos, 37260u);
    EXPECT_EQ(form->SmallRecordPos, 20244u);
    EXPECT_EQ(form->LargeBase, 37260);
    EXPECT_EQ(form->SmallBase, 20244);
    EXPECT_EQ(form->LargeRecordSize, 6144);
    EXPECT_EQ(form->SmallRecordSize, 2304);
    EXPECT_EQ(form->LargeWidth, 64);
    EXPECT_EQ(form->SmallWidth, 32);
    EXPECT_EQ(form->BitmapHeader, bitmap::headerTemplate());
    EXPECT_FALSE(form->LargePending);
    EXPECT_FALSE(form->SmallPending);
    EXPECT_TRUE(form->LargeFilePath.empty());
    EXPECT_TRUE(form->SmallImportPath.empty());
}

TEST_F(WindowTest, TabOrderRunsFromTheLargePortraitToTheSmallOneAndStartsThere)
{
    const std::vector<QWidget*> expected = {form->Pic1,     form->Command1, form->Command3,
                                            form->Command4, form->Command5, form->Command2,
                                            form->Command6, form->Option3,  form->Option1,
                                            form->HScroll1, form->Pic2};
    std::vector<QWidget*> chain;
    for (QWidget* w = form->Pic1; chain.size() < expected.size(); w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
    EXPECT_EQ(chain, expected);
    // Space at start-up does not open the open dialog.
    EXPECT_EQ(form->focusWidget(), form->Pic1);
}

TEST_F(WindowTest, CancelledOpenChangesNothing)
{
    dialog.cancel();
    form->Command1->click();

    ASSERT_EQ(dialog.shown().size(), 1u);
    const auto& shown = dialog.shown().front();
    EXPECT_FALSE(shown.save);
    EXPECT_EQ(shown.filter, "头像文件(GRPFACES.S10)|GRPFACES.S10");
    EXPECT_EQ(shown.fileName, "");
    EXPECT_EQ(shown.initDir, "");
    EXPECT_TRUE(form->LargeFilePath.empty());
    EXPECT_FALSE(form->Command3->isEnabled());
    EXPECT_FALSE(form->HScroll1->isEnabled());
    EXPECT_EQ(form->Label1->text(), "编号:");
    EXPECT_EQ(form->Label2->text(), "");
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_EQ(files.operationCount(), 0u);
}

TEST_F(WindowTest, FirstOpenShowsNumberOneAndEnablesBrowsing)
{
    openArchives();

    EXPECT_EQ(form->LargeFilePath, largeArchive());
    EXPECT_EQ(form->SmallFilePath, smallArchive());
    EXPECT_EQ(form->Label1->text(), "编号:1");
    EXPECT_EQ(form->Label2->text(), "1");
    EXPECT_EQ(form->Label3->text(), "722");
    EXPECT_EQ(form->HScroll1->value(), 1);
    for (QWidget* enabled : std::initializer_list<QWidget*>{
             form->Command3, form->Command4, form->Option1, form->Option3, form->HScroll1})
        EXPECT_TRUE(enabled->isEnabled()) << enabled->metaObject()->className();
    EXPECT_FALSE(form->Command5->isEnabled());
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
    EXPECT_TRUE(showsNumber(Slot::Small, 1));
    EXPECT_TRUE(messages.shown().empty());
}

// What a right click on control pops up: each entry as "text shortcut",
// "(off)" when disabled, "-" for a separator.
QStringList contextMenuOn(QWidget* control)
{
    QStringList seen;
    // The menu is read once it is up; on some platforms that takes more than
    // one turn of the event loop, and a menu never closed would wait for ever.
    std::function<void()> readMenu = [&seen, &readMenu] {
        QMenu* menu = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<QMenu*>(widget); shown && shown->isVisible())
                menu = shown;
        if (!menu) return QTimer::singleShot(10, readMenu);
        for (const QAction* action : menu->actions())
            seen << (action->isSeparator() ? QStringLiteral("-")
                                           : action->text() + ' ' + action->shortcut().toString() +
                                                 (action->isEnabled() ? "" : " (off)"));
        menu->close();
    };
    QTimer::singleShot(0, readMenu);
    const QPoint at(2, 2);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, control->mapToGlobal(at));
    QApplication::sendEvent(control, &click);
    return seen;
}

TEST_F(WindowTest, RightClickAnywhereOffersTheActionsWithShortcutsEnabledLikeTheirButtons)
{
    struct Row {
        const char* after;
        std::function<void()> step;
        QWidget* clicked;
        QStringList menu;
    };
    const Row rows[] = {
        {"start",
         [] {},
         form->Pic1,
         {"打开文件 Ctrl+O", "导出图片 Ctrl+E (off)", "导入图片 Ctrl+I (off)", "写入 Ctrl+W (off)",
          "撤销上次写入 Ctrl+Z (off)", "复制头像 Ctrl+C (off)", "粘贴图片 Ctrl+V (off)",
          "由大头像生成小头像 Ctrl+M (off)", "在绘图程序中编辑 Ctrl+D (off)", "绘图程序设置… ", "-",
          "转到编号… Ctrl+J (off)", "头像一览 Ctrl+G (off)", "放大查看 Ctrl+L (off)", "-",
          "语言 (Language) "}},
        {"open",
         [this] { openArchives(); },
         form->HScroll1,
         {"打开文件 Ctrl+O", "导出图片 Ctrl+E", "导入图片 Ctrl+I", "写入 Ctrl+W (off)",
          "撤销上次写入 Ctrl+Z", "复制头像 Ctrl+C", "粘贴图片 Ctrl+V", "由大头像生成小头像 Ctrl+M",
          "在绘图程序中编辑 Ctrl+D", "绘图程序设置… ", "-", "转到编号… Ctrl+J", "头像一览 Ctrl+G",
          "放大查看 Ctrl+L", "-", "语言 (Language) "}},
        {"import",
         [this] { import(editedBitmap(Slot::Small, 1, 0, 0, 9, "edit.bmp")); },
         form->Label1,
         {"打开文件 Ctrl+O", "导出图片 Ctrl+E", "导入图片 Ctrl+I", "写入 Ctrl+W",
          "撤销上次写入 Ctrl+Z", "复制头像 Ctrl+C", "粘贴图片 Ctrl+V", "由大头像生成小头像 Ctrl+M",
          "在绘图程序中编辑 Ctrl+D", "绘图程序设置… ", "-", "转到编号… Ctrl+J", "头像一览 Ctrl+G",
          "放大查看 Ctrl+L", "-", "语言 (Language) "}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("after ") + row.after);
        row.step();
        EXPECT_EQ(contextMenuOn(row.clicked), row.menu);
    }
    // The write action runs the write button's handler.
    form->actions()[3]->trigger();
    EXPECT_FALSE(form->SmallPending);
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].icon, MessageIcon::Information);
}

TEST_F(WindowTest, PreviewPixelsTakeTheirColourFromTheRecordsOwnPalette)
{
    openArchives();
    struct Probe {
        Slot slot;
        int x, y;
        std::uint8_t index;  // the record byte at y * width + x, plus the number 1
    };
    const Probe probes[] = {
        {Slot::Large, 0, 0, 1},   {Slot::Large, 63, 0, 64}, {Slot::Large, 0, 1, 65},
        {Slot::Large, 63, 79, 0}, {Slot::Small, 0, 1, 33},  {Slot::Small, 31, 39, 0},
    };
    for (const Probe& probe : probes) {
        auto* picture = probe.slot == Slot::Large ? form->Pic1 : form->Pic2;
        EXPECT_EQ(shownPixel(picture, probe.x, probe.y) & RGB_MASK,
                  patternColour(probe.slot, 1, probe.index) & RGB_MASK)
            << "at (" << probe.x << ", " << probe.y << ")";
    }
    // The same byte means different colours in the two slots.
    EXPECT_NE(shownPixel(form->Pic1, 63, 79), shownPixel(form->Pic2, 31, 39));
    // The editor state holds what was shown: palette as red, green, blue,
    // pixels top row first.
    EXPECT_EQ(form->LargePalette[3 * 16], 16);
    EXPECT_EQ(form->LargePalette[3 * 16 + 1], 255 - 16);
    EXPECT_EQ(form->LargePalette[3 * 16 + 2], 1);
    EXPECT_EQ(form->LargePixels[5119], 0);
    EXPECT_EQ(form->SmallPixels[1279], 0);
    EXPECT_EQ(form->SmallPixels[1278], 255);
}

TEST_F(WindowTest, PreviewsStaySharpOnDenserScreens)
{
    openArchives();
    for (const qreal ratio : {2.0, 3.0, 1.5}) {
        // What the box paints on a screen of that density.
        QPixmap screen(form->Pic1->size() * ratio);
        screen.setDevicePixelRatio(ratio);
        form->Pic1->render(&screen);
        const QImage shot = screen.toImage();
        const QImage& source = form->Pic1->picture();
        const QPoint origin = form->Pic1->contentsRect().topLeft() * ratio;
        // Every screen pixel of the drawing area carries exactly the colour of
        // the portrait pixel it lies in: nothing blended, nothing shifted.
        for (int y = 0; y < static_cast<int>(80 * ratio); ++y)
            for (int x = 0; x < static_cast<int>(64 * ratio); ++x) {
                const QRgb seen = shot.pixel(origin.x() + x, origin.y() + y) & RGB_MASK;
                const QRgb near =
                    source.pixel(static_cast<int>(x / ratio), static_cast<int>(y / ratio));
                ASSERT_EQ(seen, near & RGB_MASK) << "ratio " << ratio << " at " << x << "," << y;
            }
    }
}

TEST_F(WindowTest, SmallArchivePathIsDerivedFromTheText)
{
    struct Row {
        QString chosen, small;
    };
    const Row rows[] = {
        {"D:\\data\\GRPFACES.S10", "D:\\data\\GRPFACET.S10"},
        {"FACE.S10", "FACT.S10"},
        {"/游戏 存档/头像GRPFACES.S10", "/游戏 存档/头像GRPFACET.S10"},
    };
    for (const Row& row : rows) {
        messages.answer(MessageAnswer::Yes);
        dialog.answer(row.chosen);
        form->Command1->click();
        EXPECT_EQ(platform::toQString(form->SmallFilePath), row.small);
    }
    // None of these exists: each is named, loads as zeros on Yes, and none is created.
    EXPECT_EQ(messages.titles(), (QStringList{"警告", "警告", "警告"}));
    EXPECT_FALSE(std::filesystem::exists("FACE.S10"));
    EXPECT_FALSE(std::filesystem::exists("FACT.S10"));
}

TEST_F(WindowTest, ANameThatCannotMakeAPairIsRefusedAndChangesNothing)
{
    writeArchives();
    struct Row {
        const char* what;
        QString chosen;
    };
    const Row rows[] = {
        {"too short to derive the small archive's name from", "S10"},
        {"the small archive, which derives itself", platform::toQString(smallArchive())},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        messages.clear();
        dialog.answer(row.chosen);
        form->Command1->click();
        ASSERT_EQ(messages.titles(), QStringList{"错误"});
        EXPECT_TRUE(messages.shown().front().text.contains(row.chosen));
        EXPECT_TRUE(form->LargeFilePath.empty());
        EXPECT_FALSE(form->HScroll1->isEnabled());
    }
}

TEST_F(WindowTest, AWrongLargeArchiveIsNamedAtOnceAndOpensOnlyOnYes)
{
    struct Row {
        const char* what;
        std::optional<std::vector<std::uint8_t>> bytes;  // nothing: no such file
        QString said;
        MessageAnswer answer;
    };
    const std::vector<std::uint8_t> cut(patternArchive(Slot::Large).begin(),
                                        patternArchive(Slot::Large).begin() + 40000);
    const Row rows[] = {
        {"missing", std::nullopt, "大头像文件“%1”不存在（大头像文件应为5149068字节）。",
         MessageAnswer::No},
        {"missing, opened on Yes", std::nullopt, "不存在", MessageAnswer::Yes},
        {"empty", std::vector<std::uint8_t>{},
         "“%1”有0字节，不是大头像文件的长度（应为5149068字节）", MessageAnswer::No},
        {"a text file", std::vector<std::uint8_t>{'h', 'i', '\n'}, "有3字节", MessageAnswer::No},
        {"cut short, opened on Yes", cut, "有40000字节", MessageAnswer::Yes},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        openArchives();
        browseTo(9);
        TempDir other;
        const auto chosen = other / "GRPFACES.S10";
        if (row.bytes) writeFile(chosen, *row.bytes);
        messages.clear();
        messages.answer(row.answer);
        open(chosen);
        ASSERT_EQ(messages.shown().size(), 1u);
        EXPECT_EQ(messages.shown()[0].buttons, MessageButtons::YesNo);
        const QString said =
            row.said.contains("%1") ? row.said.arg(platform::toQString(chosen)) : row.said;
        EXPECT_TRUE(messages.shown()[0].text.contains(said))
            << messages.shown()[0].text.toStdString();
        const bool opened = row.answer == MessageAnswer::Yes;
        EXPECT_EQ(form->LargeFilePath, opened ? chosen : largeArchive());
        EXPECT_EQ(form->Label1->text(), opened ? "编号:1" : "编号:9");
        if (opened) {
            EXPECT_EQ(shownPixel(form->Pic1, 63, 79) & RGB_MASK, qRgb(0, 0, 0) & RGB_MASK);
        }
        EXPECT_FALSE(std::filesystem::exists(other / "GRPFACET.S10"));
    }
    // A folder cannot be opened anyway: one error, no question.
    openArchives();
    messages.clear();
    TempDir other;
    std::filesystem::create_directory(other / "GRPFACES.S10");
    open(other / "GRPFACES.S10");
    EXPECT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_EQ(form->LargeFilePath, largeArchive());
}

// After copying from a system that ignores case the names are often lower
// case, and the small archive's derived name, "grpfaceT.S10", is not there.
TEST_F(WindowTest, TheSmallArchiveIsFoundWhateverTheCaseOfItsName)
{
#ifdef _WIN32
    GTEST_SKIP()
        << "names that differ only in case are one file on Windows: the derived name is it";
#endif
    struct Row {
        const char* what;
        std::vector<const char*> smallNames;  // what the folder holds besides grpfaces.s10
        const char* paired;                   // the small archive the window opens
    };
    const Row rows[] = {
        {"only a lower-case sibling", {"grpfacet.s10"}, "grpfacet.s10"},
        {"the derived name exists too", {"grpfacet.s10", "grpfaceT.S10"}, "grpfaceT.S10"},
        {"two candidates: none is guessed", {"grpfacet.s10", "GRPFACET.s10"}, "grpfaceT.S10"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir copied;
        writeFile(copied / "grpfaces.s10", patternArchive(Slot::Large));
        for (const char* name : row.smallNames)
            writeFile(copied / name, patternArchive(Slot::Small));
        open(copied / "grpfaces.s10");
        EXPECT_TRUE(messages.shown().empty());
        EXPECT_EQ(form->SmallFilePath, copied / row.paired);
        EXPECT_EQ(showsNumber(Slot::Small, 1), std::filesystem::exists(copied / row.paired));
        EXPECT_FALSE(std::filesystem::exists(copied / "grpfaceT.S10") && row.smallNames.size() == 1)
            << "nothing is created";
    }
}

TEST_F(WindowTest, MissingSmallArchiveIsShownBlankAndNeverCreated)
{
    writeArchives();
    std::filesystem::remove(smallArchive());
    open(largeArchive());

    EXPECT_TRUE(messages.shown().empty());
    EXPECT_FALSE(std::filesystem::exists(smallArchive()));
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
    EXPECT_EQ(shownPixel(form->Pic2, 31, 39) & RGB_MASK, qRgb(0, 0, 0) & RGB_MASK);
    EXPECT_TRUE(form->Command3->isEnabled());
    EXPECT_TRUE(form->Command4->isEnabled());
}

TEST_F(WindowTest, ShortArchiveReadsZerosPastItsEnd)
{
    writeArchives();
    // The small archive ends inside number 1's pixel block: its first 100
    // pixels are there, the rest and the whole palette are not.
    std::filesystem::resize_file(smallArchive(), 20244 + 100);
    open(largeArchive());

    EXPECT_TRUE(messages.shown().empty());
    EXPECT_EQ(form->SmallPixels[99], 100);
    EXPECT_EQ(form->SmallPixels[100], 0);
    EXPECT_EQ(form->SmallPalette[3 * 100], 0);
    EXPECT_EQ(std::filesystem::file_size(smallArchive()), 20344u);
}

TEST_F(WindowTest, BrowsingThenOpeningAgainShowsTheLastNumberThenNumberOne)
{
    openArchives();
    browseTo(40);
    files.clearLog();
    open(largeArchive());

    std::vector<std::uint64_t> offsets;
    for (const auto& read : files.entries(fileio::Operation::Read, largeArchive()))
        offsets.push_back(read.offset);
    EXPECT_EQ(offsets,
              (std::vector<std::uint64_t>{archive::recordOffset(archive::kLargeLayout, 40),
                                          archive::recordOffset(archive::kLargeLayout, 1)}));
    EXPECT_EQ(form->LargeRecordPos, 37260u);
    EXPECT_EQ(form->Label1->text(), "编号:1");
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
}

TEST_F(WindowTest, ReopeningKeepsTheNewOfficersButtonButShowsTheHistoricalRange)
{
    openArchives();
    form->Option1->click();
    open(largeArchive());
    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_EQ(form->HScroll1->minimum(), 1);
    EXPECT_EQ(form->HScroll1->maximum(), 722);
    EXPECT_EQ(form->Label3->text(), "722");
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
}

TEST_F(WindowTest, UnreadableArchiveIsReportedAndLeavesThePreviousPairShown)
{
    openArchives();
    browseTo(7);
    const QImage large = form->Pic1->picture();
    const auto palette = form->SmallPalette;

    // Another pair whose small archive cannot be read.
    TempDir other;
    writeFile(other / "GRPFACES.S10", patternArchive(Slot::Large));
    writeFile(other / "GRPFACET.S10", patternArchive(Slot::Small));
    files.failAlways(fileio::Operation::Read, other / "GRPFACET.S10",
                     std::make_error_code(std::errc::permission_denied));
    open(other / "GRPFACES.S10");

    ASSERT_EQ(messages.titles(), QStringList{"错误"});
    const auto& error = messages.shown().front();
    EXPECT_EQ(error.icon, MessageIcon::Critical);
    EXPECT_TRUE(error.text.contains(platform::toQString(other / "GRPFACET.S10")));
    EXPECT_TRUE(error.text.contains("没有访问权限"));
    EXPECT_EQ(form->LargeFilePath, largeArchive());
    EXPECT_EQ(form->SmallFilePath, smallArchive());
    EXPECT_EQ(form->LargeRecordPos, archive::recordOffset(archive::kLargeLayout, 7));
    EXPECT_EQ(form->Pic1->picture(), large);
    EXPECT_EQ(form->SmallPalette, palette);
    EXPECT_EQ(form->Label1->text(), "编号:7");
    EXPECT_EQ(form->HScroll1->value(), 7);
}

TEST_F(WindowTest, AboutShowsItsLinesSeparatedByCarriageReturns)
{
    form->Command2->click();
    ASSERT_EQ(messages.shown().size(), 1u);
    const auto& about = messages.shown().front();
    EXPECT_EQ(about.title, "说明");
    EXPECT_EQ(about.icon, MessageIcon::Information);
    EXPECT_EQ(about.buttons, MessageButtons::Ok);
    // The version the build declares, whatever it is now.
    EXPECT_EQ(about.text, "     Pelloran v" PELLORAN_PROJECT_VERSION
                          "\r\r\r"
                          "    这个工具可以修改Kestrova10中的人物小头像，\r"
                          "选择头像文件后，可以导出修改，也可以自己选\r"
                          "一张256色64×80或32×40的BMP图导入替换。\r\r"
                          "            2004年7月6日\r\r");
}

TEST_F(WindowTest, ExitAsksAndEndsOnlyOnYes)
{
    openArchives();
    messages.answer(MessageAnswer::No);
    form->Command6->click();
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown().front().text, "确定要退出本工具？");
    EXPECT_EQ(messages.shown().front().title, "退出");
    EXPECT_EQ(messages.shown().front().buttons, MessageButtons::YesNo);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(showsNumber(Slot::Large, 1));

    messages.answer(MessageAnswer::Yes);
    form->Command6->click();
    EXPECT_FALSE(form->isVisible());
}

// The exit button keeps its one question; any other way of closing asks
// only when an import would be given up.
TEST_F(WindowTest, ClosingWithAnImportWaitingAsksFirst)
{
    struct Row {
        const char* how;
        bool importWaiting;
        bool byExitButton;
        MessageAnswer answer;
        QStringList asked;
        bool closes;
    };
    const Row rows[] = {
        {"title bar, nothing waiting", false, false, MessageAnswer::No, {}, true},
        {"title bar, import waiting, No",
         true,
         false,
         MessageAnswer::No,
         {"导入的图片还没有写入"},
         false},
        {"title bar, import waiting, Yes",
         true,
         false,
         MessageAnswer::Yes,
         {"导入的图片还没有写入"},
         true},
        {"exit button, import waiting",
         true,
         true,
         MessageAnswer::Yes,
         {"确定要退出本工具？"},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.how);
        openArchives();
        form->show();
        if (row.importWaiting) import(editedBitmap(Slot::Large, 1, 0, 0, 9, "edit.bmp"));
        messages.clear();
        if (!row.asked.isEmpty()) messages.answer(row.answer);
        row.byExitButton ? form->Command6->click() : (void)form->close();
        QStringList asked;
        for (const auto& shown : messages.shown()) asked << shown.text.section(u'，', 0, 0);
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(form->isVisible(), !row.closes);
        EXPECT_EQ(form->LargePending, row.importWaiting);
    }
}

}  // namespace
}  // namespace pelloran::testing

namespace pelloran::testing {
namespace {

TEST(QtNameFilters, ShowTheDescriptionsAsWrittenAndMatchEveryFileForStarDotStar)
{
    EXPECT_EQ(platform::qtNameFilters("头像文件(GRPFACES.S10)|GRPFACES.S10"),
              QStringList{"头像文件(GRPFACES.S10) (GRPFACES.S10)"});
    EXPECT_EQ(platform::qtNameFilters("位图文件(*.bmp)|*.bmp|任意文件(*.*)|*.*"),
              (QStringList{"位图文件(*.bmp) (*.bmp)", "任意文件(*.*) (*)"}));
    EXPECT_EQ(platform::qtNameFilters("Pictures|*.bmp;*.dib"),
              QStringList{"Pictures (*.bmp *.dib)"});
}

// Qt's real file dialog, as the window shows it: what it lists under "any
// file", and where the default extension export sets applies.
TEST(QtCommonDialog, ListsEveryFileAndAddsTheExtensionOnlyWhenSaving)
{
    TempDir folder;
    writeFile(folder / "GRPFACES", std::vector<std::uint8_t>{1});
    platform::QtCommonDialog dialog;
    dialog.initDir = platform::toQString(folder.path());
    dialog.filter = "位图文件(*.bmp)|*.bmp|任意文件(*.*)|*.*";
    dialog.defaultExt = "Bmp";
    struct Seen {
        QStringList filters;
        QString suffix;
        bool listsNameWithoutDot = false;
    };
    const auto look = [](Seen& seen) {
        QTimer::singleShot(0, [&seen] {
            auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (shown == nullptr) return;
            seen.suffix = shown->defaultSuffix();
            shown->selectNameFilter(shown->nameFilters().last());
            // What Qt matches with: the last parentheses of each filter.
            for (const QString& filter : shown->nameFilters())
                seen.filters << filter.section(u'(', -1).chopped(1);
            seen.listsNameWithoutDot =
                QDir::match(shown->findChild<QFileSystemModel*>()->nameFilters(), "GRPFACES");
            shown->reject();
        });
    };
    Seen open, save;
    look(open);
    dialog.showOpen();
    look(save);
    dialog.showSave();
    EXPECT_EQ(open.filters, (QStringList{"*.bmp", "*"}));
    EXPECT_TRUE(open.listsNameWithoutDot);
    EXPECT_EQ(open.suffix, "");
    EXPECT_EQ(save.suffix, "Bmp");
    EXPECT_TRUE(dialog.fileName.isEmpty()) << "a cancelled dialog chooses nothing";
}

}  // namespace
}  // namespace pelloran::testing
