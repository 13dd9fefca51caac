// Browsing by number: the scroll bar, the two ranges, and what a number
// change loads.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <functional>
#include <optional>
#include <set>

#include "editor/closer_look.h"
#include "editor/editor_fixture.h"
#include "editor/gallery.h"
#include "session/edits.h"

namespace pelloran::testing {
namespace {

class BrowseTest : public WindowFixture {};

using archive::Slot;
using platform::MessageAnswer;

TEST_F(BrowseTest, EveryNumberSelectsItsRecordInBothArchives)
{
    openArchives();
    struct Row {
        int number;
        std::uint64_t large, small;  // where the records begin
    };
    const Row rows[] = {
        {2, 43404, 22548},
        {722, 4467084, 1681428},
        {40, 37260 + 39 * 6144, 20244 + 39 * 2304},
    };
    for (const Row& row : rows) {
        browseTo(row.number);
        EXPECT_EQ(form->LargeRecordPos, row.large) << row.number;
        EXPECT_EQ(form->SmallRecordPos, row.small) << row.number;
        EXPECT_EQ(form->Label1->text(), "编号:" + QString::number(row.number));
        EXPECT_TRUE(showsNumber(Slot::Large, row.number));
        EXPECT_TRUE(showsNumber(Slot::Small, row.number));
    }
    form->Option1->click();
    for (const Row& row : {Row{723, 4473228, 1683732}, Row{832, 5142924, 1934868}}) {
        browseTo(row.number);
        EXPECT_EQ(form->LargeRecordPos, row.large) << row.number;
        EXPECT_EQ(form->SmallRecordPos, row.small) << row.number;
        EXPECT_TRUE(showsNumber(Slot::Small, row.number));
    }
}

TEST_F(BrowseTest, RangeButtonsSwitchBetweenHistoricalAndNewOfficers)
{
    openArchives();
    browseTo(300);

    form->Option1->click();
    EXPECT_EQ(form->Label2->text(), "723");
    EXPECT_EQ(form->Label3->text(), "832");
    EXPECT_EQ(form->HScroll1->value(), 723);
    EXPECT_EQ(form->Label1->text(), "编号:723");
    EXPECT_TRUE(showsNumber(Slot::Large, 723));
    EXPECT_TRUE(showsNumber(Slot::Small, 723));

    form->Option3->click();
    EXPECT_EQ(form->Label2->text(), "1");
    EXPECT_EQ(form->Label3->text(), "722");
    EXPECT_EQ(form->Label1->text(), "编号:1");
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(BrowseTest, ReturningToTheShownNumberReadsTheArchivesAgain)
{
    openArchives();
    browseTo(5);
    // The archive changes behind the editor's back; coming back shows it.
    auto large = readFile(largeArchive());
    const auto offset = archive::recordOffset(archive::kLargeLayout, 5);
    std::fill_n(large.begin() + static_cast<std::ptrdiff_t>(offset), 5120, std::uint8_t{7});
    writeFile(largeArchive(), large);
    browseTo(6);
    browseTo(5);
    EXPECT_EQ(form->LargePixels[0], 7);
    EXPECT_EQ(shownPixel(form->Pic1, 10, 10) & RGB_MASK,
              patternColour(Slot::Large, 5, 7) & RGB_MASK);
}

TEST_F(BrowseTest, ScrollBarAnswersKeysAndWheelLikeAnyOther)
{
    openArchives();
    QScrollBar* bar = form->HScroll1;
    ASSERT_TRUE(bar->focusPolicy() & Qt::TabFocus);
    ASSERT_TRUE(bar->focusPolicy() & Qt::ClickFocus);
    struct Step {
        Qt::Key key;
        int expected;
    };
    const Step steps[] = {
        {Qt::Key_Right, 2},  {Qt::Key_Right, 3},
        {Qt::Key_Left, 2},   {Qt::Key_PageDown, 2 + bar->pageStep()},
        {Qt::Key_PageUp, 2}, {Qt::Key_End, 722},
        {Qt::Key_Home, 1},
    };
    for (const Step& step : steps) {
        QTest::keyClick(bar, step.key);
        EXPECT_EQ(bar->value(), step.expected) << QTest::toString(step.key);
        EXPECT_EQ(form->Label1->text(), "编号:" + QString::number(step.expected));
    }
    EXPECT_TRUE(showsNumber(Slot::Large, 1));

    // Wheel away from the user moves to higher numbers, as a horizontal bar does.
    QWheelEvent wheel(QPointF(100, 8), bar->mapToGlobal(QPointF(100, 8)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &wheel);
    EXPECT_GT(bar->value(), 1);
    EXPECT_TRUE(showsNumber(Slot::Large, bar->value()));

    // A click on the arrow at the right end steps by one.
    const int before = bar->value();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() - 4, 8));
    EXPECT_EQ(bar->value(), before + 1);
}

TEST_F(BrowseTest, FailedNumberChangePutsTheBarBackOnTheShownNumber)
{
    openArchives();
    browseTo(10);
    files.failAt(4);  // the large record of 11 is read; the small one's open fails
    browseTo(11);

    ASSERT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_EQ(form->HScroll1->value(), 10);
    EXPECT_EQ(form->Label1->text(), "编号:10");
    EXPECT_EQ(form->LargeRecordPos, archive::recordOffset(archive::kLargeLayout, 10));
    EXPECT_TRUE(showsNumber(Slot::Large, 10));
    EXPECT_TRUE(showsNumber(Slot::Small, 10));
    EXPECT_EQ(form->LargePixels[0], patternIndex(Slot::Large, 10, 0, 0));

    browseTo(12);  // and browsing goes on
    EXPECT_TRUE(showsNumber(Slot::Small, 12));
}

TEST_F(BrowseTest, FailedRangeSwitchKeepsTheOldRangeAndButton)
{
    openArchives();
    browseTo(33);
    files.failAlways(fileio::Operation::Open, largeArchive());
    form->Option1->click();

    ASSERT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_TRUE(form->Option3->isChecked());
    EXPECT_EQ(form->HScroll1->minimum(), 1);
    EXPECT_EQ(form->HScroll1->maximum(), 722);
    EXPECT_EQ(form->HScroll1->value(), 33);
    EXPECT_EQ(form->Label2->text(), "1");
    EXPECT_EQ(form->Label3->text(), "722");
    EXPECT_TRUE(showsNumber(Slot::Large, 33));
}

// A number change that fails while the mouse holds the bar, with Qt's real
// modal message box and real press and release events: the box takes the
// release, so a bar left pressed would go on stepping (and failing) behind
// it. Each box is dismissed only after it has been up longer than the bar's
// repeat delay.
TEST_F(BrowseTest, AFailureWhileTheMouseHoldsTheBarGivesOneMessageAndStops)
{
    struct Row {
        const char* what;
        int pressX, releaseX;      // where the press and the release land, from the right end
        bool faultEndsWithTheBox;  // a drive coming back while the box is up
    };
    const Row rows[] = {
        {"arrow held, the fault persisting", 4, 4, false},
        {"arrow held, the fault ending while the box is up", 4, 4, true},
        {"trough held", 60, 60, false},
        {"handle dragged", 280, 200, false},
    };
    const auto path = writeArchives();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        platform::QtMessageBoxes realBoxes;
        editor::Form1 window(dialog, realBoxes, files);
        realBoxes.setParentWidget(&window);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.openPair(path);
        files.failAlways(fileio::Operation::Read, smallArchive());

        std::set<QWidget*> seen;
        QTimer dismisser;
        QObject::connect(&dismisser, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            if (seen.insert(box).second)
                return QTimer::singleShot(700, box, [&, box] {
                    if (row.faultEndsWithTheBox) files.clearFaults();
                    box->done(QMessageBox::Ok);
                });
        });
        dismisser.start(20);

        auto* bar = window.HScroll1;
        const int y = bar->height() / 2;
        if (row.pressX == 280) {
            // The handle sits at the left end on number 1.
            QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() - row.pressX, y));
            QTest::mouseMove(bar, QPoint(bar->width() - row.releaseX, y));
        } else {
            QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() - row.pressX, y));
        }
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() - row.releaseX, y));
        QTest::qWait(800);
        dismisser.stop();
        files.clearFaults();

        EXPECT_EQ(seen.size(), 1u);
        EXPECT_EQ(bar->value(), 1);
        EXPECT_EQ(window.session().state().number, 1);
        EXPECT_EQ(window.Label1->text(), "编号:1");
    }
}

// The added window a shortcut opens, as the user opens it.
template <class View>
View* openWith(editor::Form1& form, const char* shortcut)
{
    for (QAction* action : form.actions())
        if (action->shortcut() == QKeySequence(QString::fromLatin1(shortcut))) action->trigger();
    return form.findChild<View*>();
}

TEST_F(BrowseTest, TheGalleryShowsTheChosenNumberInTheWindowByClickOrEnter)
{
    struct Row {
        const char* how;
        std::function<void(editor::Gallery&)> choose;
        int number;
    };
    const auto keys = [](std::vector<Qt::Key> pressed) {
        return [pressed](editor::Gallery& gallery) {
            for (Qt::Key key : pressed) {
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
                QApplication::sendEvent(&gallery, &press);
            }
        };
    };
    const auto click = [](int number) {
        return [number](editor::Gallery& gallery) {
            QTest::mouseClick(gallery.viewport(), Qt::LeftButton, {},
                              gallery.cellRect(number).center());
        };
    };
    const Row rows[] = {
        {"click", click(13), 13},
        {"right, right, Enter", keys({Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_Return}),
         3},
        {"End, Enter", keys({Qt::Key_End, Qt::Key_Enter}), 722},
        {"click after scrolling down",
         [click](editor::Gallery& gallery) {
             QScrollBar* bar = gallery.verticalScrollBar();
             bar->setValue(bar->value() + gallery.cellRect(400).top() - 20);
             click(400)(gallery);
         },
         400},
        {"click after switching to the new officers",
         [this, click](editor::Gallery& gallery) {
             form->Option1->click();
             click(730)(gallery);
         },
         730},
    };
    openArchives();
    auto* gallery = openWith<editor::Gallery>(*form, "Ctrl+G");
    ASSERT_NE(gallery, nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.how);
        row.choose(*gallery);
        EXPECT_EQ(form->Label1->text(), "编号:" + QString::number(row.number));
        EXPECT_TRUE(showsNumber(Slot::Large, row.number));
        EXPECT_TRUE(showsNumber(Slot::Small, row.number));
        EXPECT_EQ(gallery->selected(), row.number);
        // The cell shows the number's portrait, one screen pixel per pixel.
        const QImage shot = gallery->viewport()->grab().toImage();
        const QPoint origin = gallery->cellRect(row.number).topLeft() + QPoint(6, 6);
        EXPECT_EQ(
            shot.pixel(origin + QPoint(5, 7)) & 0xFFFFFF,
            patternColour(Slot::Large, row.number, patternIndex(Slot::Large, row.number, 5, 7)) &
                0xFFFFFF);
    }
    EXPECT_TRUE(messages.shown().empty());
}

// A number typed into "转到编号…" (Ctrl+J) is shown, in whichever range it
// lies, the range switched as its button would.
TEST_F(BrowseTest, ATypedNumberIsShownInItsRange)
{
    struct Row {
        std::optional<int> typed;  // nothing: cancelled
        int shown;
        QRadioButton* range;
        QString last;
    };
    openArchives();
    const Row rows[] = {
        {57, 57, form->Option3, "722"},
        {800, 800, form->Option1, "832"},
        {std::nullopt, 800, form->Option1, "832"},
        {5, 5, form->Option3, "722"},
    };
    QApplication::setActiveWindow(form.get());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed.value_or(0));
        messages.clear();
        messages.answerNumber(row.typed);
        QTest::keyClick(form.get(), Qt::Key_J, Qt::ControlModifier);
        EXPECT_EQ(messages.titles(), QStringList{"转到编号"});
        EXPECT_EQ(form->Label1->text(), "编号:" + QString::number(row.shown));
        EXPECT_EQ(form->HScroll1->value(), row.shown);
        EXPECT_TRUE(row.range->isChecked());
        EXPECT_EQ(form->Label3->text(), row.last);
        EXPECT_TRUE(showsNumber(Slot::Large, row.shown));
    }
}

// The added windows open beside the main window, never over it, close with
// Escape, and open again where they were left.
TEST_F(BrowseTest, TheAddedWindowsOpenBesideTheWindowCloseWithEscapeAndKeepTheirPlace)
{
    struct Row {
        const char* shortcut;
        std::function<QWidget*()> open;
    };
    const Row rows[] = {
        {"Ctrl+G", [this] { return openWith<editor::Gallery>(*form, "Ctrl+G"); }},
        {"Ctrl+L", [this] { return openWith<editor::CloserLook>(*form, "Ctrl+L"); }},
    };
    openArchives();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shortcut);
        QPointer<QWidget> view = row.open();
        ASSERT_NE(view, nullptr);
        EXPECT_FALSE(view->frameGeometry().intersects(form->frameGeometry()));
        // Moved and made a little larger than it can be made smaller.
        const QRect left(QPoint(30, 30),
                         view->minimumSizeHint().expandedTo({420, 300}) + QSize(9, 9));
        view->setGeometry(left);
        QApplication::setActiveWindow(view);
        QTest::keyClick(view, Qt::Key_Escape);
        EXPECT_TRUE(!view || !view->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        view = row.open();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->geometry(), left);
    }
}

// Another pair opened while the gallery is up: every cell shows the new
// pair's portrait, not only the shown number's.
TEST_F(BrowseTest, TheGalleryShowsAnotherPairOnceItIsOpened)
{
    openArchives();
    auto* gallery = openWith<editor::Gallery>(*form, "Ctrl+G");
    ASSERT_NE(gallery, nullptr);
    const auto other = folder / "other";
    std::filesystem::create_directory(other);
    for (const char* name : {"GRPFACES.S10", "GRPFACET.S10"})
        std::filesystem::copy_file(folder / name, other / name);
    // Number 5 of the other pair is painted all in its first colour.
    auto bytes = testing::readFile(other / "GRPFACES.S10");
    std::fill_n(bytes.begin() + archive::recordOffset(archive::kLargeLayout, 5),
                archive::kLargeLayout.pixelBlockSize(), std::uint8_t{0});
    testing::writeFile(other / "GRPFACES.S10", bytes);

    form->openPair(other / "GRPFACES.S10");
    const QImage shot = gallery->viewport()->grab().toImage();
    const QPoint origin = gallery->cellRect(5).topLeft() + QPoint(6, 6);
    EXPECT_EQ(shot.pixel(origin + QPoint(5, 7)) & 0xFFFFFF,
              patternColour(Slot::Large, 5, 0) & 0xFFFFFF);
}

TEST_F(BrowseTest, TheCloserLookFollowsTheNumberAndThePendingImport)
{
    struct Row {
        const char* after;
        std::function<void()> step;
        Slot slot;
        QPoint pixel;
        int index;
        QRgb colour;
    };
    const Row rows[] = {
        {"a number change",
         [this] { browseTo(57); },
         Slot::Large,
         {3, 2},
         patternIndex(Slot::Large, 57, 3, 2),
         patternColour(Slot::Large, 57, patternIndex(Slot::Large, 57, 3, 2))},
        {"the same, small",
         [] {},
         Slot::Small,
         {31, 39},
         patternIndex(Slot::Small, 57, 31, 39),
         patternColour(Slot::Small, 57, patternIndex(Slot::Small, 57, 31, 39))},
        {"an import",
         [this] { import(editedBitmap(Slot::Large, 57, 0, 0, 7, "edit.bmp")); },
         Slot::Large,
         {0, 0},
         7,
         patternColour(Slot::Large, 57, 7)},
    };
    openArchives();
    auto* look = openWith<editor::CloserLook>(*form, "Ctrl+L");
    ASSERT_NE(look, nullptr);
    look->resize(900, 600);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("after ") + row.after);
        row.step();
        editor::PixelView* view = row.slot == Slot::Large ? look->largeView() : look->smallView();
        const QRect block = view->pixelRect(row.pixel);
        EXPECT_GE(block.width(), 4);
        const QImage shot = view->grab().toImage();
        // Every screen pixel of the block has the pixel's colour: no blending.
        // The grid's lines run along its top and left edge.
        for (QPoint corner : {block.topLeft() + QPoint(1, 1), block.bottomRight()})
            EXPECT_EQ(shot.pixel(corner) & 0xFFFFFF, row.colour & 0xFFFFFF);
        QMouseEvent move(QEvent::MouseMove, block.center(), view->mapToGlobal(block.center()),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        EXPECT_EQ(look->statusText(), QStringLiteral("%1 (%2, %3)  索引 %4  %5")
                                          .arg(row.slot == Slot::Large ? "大头像" : "小头像")
                                          .arg(row.pixel.x())
                                          .arg(row.pixel.y())
                                          .arg(row.index)
                                          .arg(QColor(row.colour).name().toUpper()));
    }
    EXPECT_TRUE(look->windowTitle().endsWith("57"));
}

// Touching up in the closer look with the mouse and keys a user has: a
// pencil stroke changes exactly the pixels under the pointer at either scale,
// the eyedropper copies an index, Ctrl+Z there takes edits back without
// touching the archives, and 写 入 writes the edit as one operation that the
// main window's Ctrl+Z undoes.
TEST_F(BrowseTest, ThePencilDrawsUnderThePointerAndItsEditIsWrittenAndUndoneLikeAnImport)
{
    openArchives();
    const auto archiveBefore = readFile(largeArchive());
    auto* look = openWith<editor::CloserLook>(*form, "Ctrl+L");
    ASSERT_NE(look, nullptr);
    look->resize(1200, 900);
    QApplication::setActiveWindow(look);
    editor::PixelView* view = look->largeView();
    const auto shown = [&] { return form->session().state().large.preview; };
    const auto at = [&](QPoint pixel) { return view->pixelRect(pixel).center(); };
    const auto indexOf = [](const session::Record& record, QPoint pixel) {
        return session::indexAt(Slot::Large, record, {pixel.x(), pixel.y()});
    };

    struct Row {
        int scale;
        std::vector<QPoint> stroke;  // pressed at the first, dragged through the rest
    };
    const Row rows[] = {
        {8, {{2, 10}, {9, 13}, {9, 13}, {4, 20}}},
        {4, {{63, 0}, {50, 79}}},
    };
    int steps = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scale);
        while (look->scale() > row.scale) QTest::keyClick(look, Qt::Key_Minus, Qt::ControlModifier);
        ASSERT_EQ(look->scale(), row.scale);
        const session::Record before = shown();
        std::set<std::pair<int, int>> under;
        for (std::size_t i = 0; i < row.stroke.size(); ++i) {
            const QPoint pixel = row.stroke[i];
            const QPoint from = row.stroke[i == 0 ? 0 : i - 1];
            for (const session::Point p :
                 session::lineBetween({from.x(), from.y()}, {pixel.x(), pixel.y()}))
                under.emplace(p.x, p.y);
            i == 0 ? QTest::mousePress(view, Qt::LeftButton, {}, at(pixel))
                   : QTest::mouseMove(view, at(pixel));
        }
        QTest::mouseRelease(view, Qt::LeftButton, {}, at(row.stroke.back()));
        ++steps;
        const session::Record after = shown();
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 64; ++x)
                EXPECT_EQ(indexOf(after, {x, y}),
                          under.contains({x, y}) ? 0 : indexOf(before, {x, y}))
                    << x << "," << y;
    }
    EXPECT_TRUE(showsNumber(Slot::Small, 1));

    // The eyedropper, by its key and by a right click, then the pencil.
    const QPoint source(30, 40), target(31, 40), other(32, 40);
    QTest::keyClick(look, Qt::Key_I);
    QTest::mouseClick(view, Qt::LeftButton, {}, at(source));
    EXPECT_EQ(look->tool(), editor::CloserLook::Tool::Eyedropper);
    EXPECT_EQ(look->chosenIndex(), indexOf(shown(), source));
    QTest::keyClick(look, Qt::Key_B);
    QTest::mouseClick(view, Qt::LeftButton, {}, at(target));
    QTest::mouseClick(view, Qt::RightButton, {}, at(QPoint(0, 79)));
    QTest::mouseClick(view, Qt::LeftButton, {}, at(other));
    steps += 2;
    EXPECT_EQ(indexOf(shown(), target), indexOf(shown(), source));
    EXPECT_EQ(indexOf(shown(), other), indexOf(shown(), {0, 79}));
    EXPECT_EQ(form->Pic1->picture().pixelIndex(target), indexOf(shown(), source));
    EXPECT_TRUE(form->Command5->isEnabled());

    // Ctrl+Z in the closer look, step by step, down to the portrait as read.
    const session::Record edited = shown();
    for (int i = 0; i < steps; ++i) QTest::keyClick(look, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
    EXPECT_FALSE(form->Command5->isEnabled());
    EXPECT_EQ(readFile(largeArchive()), archiveBefore);
    for (int i = 0; i < steps; ++i) QTest::keyClick(look, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(shown(), edited);

    // Another number drops the edits only once the user says so.
    messages.answer(MessageAnswer::No);
    browseTo(2);
    EXPECT_EQ(form->HScroll1->value(), 1);
    EXPECT_EQ(shown(), edited);

    write();
    const auto offset =
        static_cast<std::ptrdiff_t>(archive::recordOffset(archive::kLargeLayout, 1));
    auto written = readFile(largeArchive());
    EXPECT_TRUE(std::equal(edited.begin(), edited.end(), written.begin() + offset));
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(readFile(largeArchive()), archiveBefore);
    EXPECT_TRUE(showsNumber(Slot::Large, 1));
}

}  // namespace
}  // namespace pelloran::testing
