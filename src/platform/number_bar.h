// The bar that chooses the portrait number.
#pragma once

#include <QRect>
#include <QScrollBar>

class QStyleOptionSlider;

namespace pelloran::platform {

// A horizontal scroll bar on which Right means the next number, and which
// repaints only the part that moved.
class NumberBar final : public QScrollBar {
public:
    explicit NumberBar(QWidget* parent = nullptr) : QScrollBar(Qt::Horizontal, parent) {}

    // Ends a press of the mouse on the bar as a release would: no more
    // repeated steps, no arrow or handle held. For a modal message shown
    // while the bar is pressed, which takes the real release for itself.
    void releasePress();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void sliderChange(SliderChange change) override;

private:
    bool atEnd(int at) const { return at <= minimum() || at >= maximum(); }
    QRect handleAt(QStyleOptionSlider option, int at) const;
    QRect around(const QRect& handle) const;

    int shownValue_ = 0;
};

}  // namespace pelloran::platform
