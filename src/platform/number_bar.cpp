#include "platform/number_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegion>
#include <QStyle>
#include <QStyleOptionSlider>
#include <utility>

namespace pelloran::platform {

// Qt's scroll bars invert their key controls so that Up on a vertical bar
// goes towards the top; on a horizontal bar that turns Left and Right around.
void NumberBar::keyPressEvent(QKeyEvent* event)
{
    const bool forward = layoutDirection() == Qt::LeftToRight;
    if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Left) {
        const bool up = (event->key() == Qt::Key_Right) == forward;
        triggerAction(up ? SliderSingleStepAdd : SliderSingleStepSub);
        event->accept();
        return;
    }
    QScrollBar::keyPressEvent(event);
}

void NumberBar::releasePress()
{
    // A release with no button held is what the bar's own release handling
    // takes to stop its repeat timer and let go of the pressed part; without
    // a press it does nothing.
    const QPointF inside(width() / 2.0, height() / 2.0);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, mapToGlobal(inside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QScrollBar::mouseReleaseEvent(&release);
}

// A new number moves only the handle, so only where the handle was and
// where it is now are repainted, with a margin for the outline a style
// draws around it. Repainting the whole bar cost more than all the rest
// of a number change: its long translucent edge line is even handed to
// helper threads. The ends are repainted whole, as a style may draw the
// arrows differently there.
void NumberBar::sliderChange(SliderChange change)
{
    const int previous = std::exchange(shownValue_, value());
    const bool handleOnly = change == SliderValueChange && previous != value() &&
                            !atEnd(previous) && !atEnd(value()) &&
                            !style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this);
    if (!handleOnly) return QScrollBar::sliderChange(change);
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect before = around(handleAt(option, previous));
    const QRect after = around(handleAt(option, value()));
    // While the bar is pressed, a style may show the stretches on either
    // side of the handle differently: everything in between changes.
    if (option.state & QStyle::State_Sunken)
        update(before.united(after));
    else
        update(QRegion(before) + after);
}

QRect NumberBar::handleAt(QStyleOptionSlider option, int at) const
{
    option.sliderPosition = at;
    option.sliderValue = at;
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
}

QRect NumberBar::around(const QRect& handle) const
{
    constexpr int kOutline = 3;
    return {handle.left() - kOutline, 0, handle.width() + 2 * kOutline, height()};
}

}  // namespace pelloran::platform
