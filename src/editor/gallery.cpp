#include "editor/gallery.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <span>

#include "editor/form1.h"
#include "editor/texts.h"
#include "platform/picture_box.h"

namespace pelloran::editor {

using archive::kLargeLayout;
using archive::Slot;

namespace {

constexpr int kPadding = 6;
constexpr int kCaptionHeight = 16;
constexpr int kCellWidth = kLargeLayout.width + 2 * kPadding;
constexpr int kCellHeight = kLargeLayout.height() + 2 * kPadding + kCaptionHeight;
constexpr int kColumnsAtOpening = 10;
constexpr int kRowsAtOpening = 6;

int count(session::Numbers numbers)
{
    return std::max(0, numbers.last - numbers.first + 1);
}

}  // namespace

Gallery::Gallery(Form1& form) : QAbstractScrollArea(&form), form_(form)
{
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(kCellHeight / 4);
    resize(
        kColumnsAtOpening * kCellWidth + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
        kRowsAtOpening * kCellHeight + 2 * frameWidth());
    connect(&form, &Form1::portraitChanged, this, &Gallery::follow);
    connect(&form, &Form1::languageChanged, this, &Gallery::showTitle);
    // Cells hold records read once per range: other archives, or records
    // written or undone, are read again.
    connect(&form, &Form1::archivesChanged, this, [this] {
        numbers_ = kNoNumbers;
        follow();
    });
    follow();
}

void Gallery::follow()
{
    const session::State& state = form_.session().state();
    if (!state.pairOpen()) return;
    if (state.range != range_ || numbers_.first > numbers_.last) {
        range_ = state.range;
        showNumbers(session::numbersOf(state.range));
    } else if (state.number >= numbers_.first && state.number <= numbers_.last) {
        // A write-back changes the shown number's record: its cell shows it.
        const auto index = static_cast<std::size_t>(state.number - numbers_.first);
        const auto cell =
            std::span(records_).subspan(index * kLargeLayout.recordSize, kLargeLayout.recordSize);
        if (!std::ranges::equal(cell, state.large.loaded)) {
            std::ranges::copy(state.large.loaded, cell.begin());
            pictures_[index] = QImage();
        }
    }
    select(state.number);
}

void Gallery::showNumbers(session::Numbers numbers)
{
    numbers_ = numbers;
    showTitle();
    // An archive that is missing or short reads as zeros, as in the main
    // window; one that cannot be read at all leaves the cells black.
    records_.assign(static_cast<std::size_t>(count(numbers)) * kLargeLayout.recordSize, 0);
    if (!form_.session().readRecords(Slot::Large, numbers.first, records_))
        std::ranges::fill(records_, 0);
    pictures_.assign(static_cast<std::size_t>(count(numbers)), QImage());
    layOut();
    viewport()->update();
}

void Gallery::showTitle()
{
    if (numbers_.first <= numbers_.last)
        setWindowTitle(translated("头像一览 %1-%2").arg(numbers_.first).arg(numbers_.last));
}

int Gallery::columns() const
{
    return std::max(1, viewport()->width() / kCellWidth);
}

int Gallery::leftMargin() const
{
    return (viewport()->width() - columns() * kCellWidth) / 2;
}

void Gallery::layOut()
{
    const int rows = (count(numbers_) + columns() - 1) / columns();
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, rows * kCellHeight - viewport()->height()));
}

QRect Gallery::cellRect(int number) const
{
    const int index = number - numbers_.first;
    return {leftMargin() + (index % columns()) * kCellWidth,
            (index / columns()) * kCellHeight - verticalScrollBar()->value(), kCellWidth,
            kCellHeight};
}

const QImage& Gallery::pictureOf(int number)
{
    const auto index = static_cast<std::size_t>(number - numbers_.first);
    QImage& picture = pictures_[index];
    if (picture.isNull())
        picture = platform::recordPicture(
                      Slot::Large, std::span(records_).subspan(index * kLargeLayout.recordSize,
                                                               kLargeLayout.recordSize))
                      .convertToFormat(QImage::Format_RGB32);
    return picture;
}

void Gallery::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    if (count(numbers_) == 0) return;
    const int top = verticalScrollBar()->value() + event->rect().top();
    const int bottom = verticalScrollBar()->value() + event->rect().bottom();
    const int firstIndex = std::max(0, top / kCellHeight * columns());
    const int lastIndex = std::min(count(numbers_) - 1, (bottom / kCellHeight + 1) * columns() - 1);
    for (int index = firstIndex; index <= lastIndex; ++index) {
        const int number = numbers_.first + index;
        const QRect cell = cellRect(number);
        if (number == selected_)
            painter.fillRect(cell.adjusted(1, 1, -1, -1), palette().color(QPalette::Highlight));
        // One screen pixel per portrait pixel, as in the main window.
        painter.drawImage(cell.topLeft() + QPoint(kPadding, kPadding), pictureOf(number));
        painter.setPen(
            palette().color(number == selected_ ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QRect(cell.left(), cell.bottom() - kCaptionHeight - kPadding / 2,
                               cell.width(), kCaptionHeight),
                         Qt::AlignCenter, QString::number(number));
    }
}

void Gallery::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    layOut();
    bringSelectedIntoView();
}

void Gallery::select(int number)
{
    if (number < numbers_.first || number > numbers_.last) return;
    viewport()->update(cellRect(selected_));
    selected_ = number;
    bringSelectedIntoView();
    viewport()->update(cellRect(number));
}

void Gallery::bringSelectedIntoView()
{
    // Before the window is shown the viewport has no size of its own yet;
    // the first resize brings the selection into view instead.
    if (!isVisible() || selected_ < numbers_.first || selected_ > numbers_.last) return;
    const QRect cell = cellRect(selected_);
    QScrollBar* bar = verticalScrollBar();
    if (cell.top() < 0)
        bar->setValue(bar->value() + cell.top());
    else if (cell.bottom() >= viewport()->height())
        bar->setValue(bar->value() + cell.bottom() - viewport()->height() + 1);
}

void Gallery::choose(int number)
{
    select(number);
    form_.goTo(number);
}

void Gallery::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || count(numbers_) == 0) return;
    const QPoint at = event->position().toPoint();
    const int column = (at.x() - leftMargin()) / kCellWidth;
    if (at.x() < leftMargin() || column >= columns()) return;
    const int row = (at.y() + verticalScrollBar()->value()) / kCellHeight;
    const int number = numbers_.first + row * columns() + column;
    if (number <= numbers_.last) choose(number);
}

void Gallery::keyPressEvent(QKeyEvent* event)
{
    const int rowsInView = std::max(1, viewport()->height() / kCellHeight);
    int target = selected_;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return choose(selected_);
        case Qt::Key_Left:
            target -= 1;
            break;
        case Qt::Key_Right:
            target += 1;
            break;
        case Qt::Key_Up:
            target -= columns();
            break;
        case Qt::Key_Down:
            target += columns();
            break;
        case Qt::Key_PageUp:
            target -= rowsInView * columns();
            break;
        case Qt::Key_PageDown:
            target += rowsInView * columns();
            break;
        case Qt::Key_Home:
            target = numbers_.first;
            break;
        case Qt::Key_End:
            target = numbers_.last;
            break;
        default:
            return QAbstractScrollArea::keyPressEvent(event);
    }
    select(std::clamp(target, numbers_.first, numbers_.last));
}

}  // namespace pelloran::editor
