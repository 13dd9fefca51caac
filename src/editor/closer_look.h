// The closer look: the shown pair enlarged, crisp at any window size, with
// the large portrait's palette, and what lies under the pointer. It follows
// the main window: a new number or a new preview (an import waiting to be
// written) shows here at once.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;

namespace pelloran::editor {

class Form1;
class PixelView;
class PaletteView;

class CloserLook final : public QWidget {
    Q_OBJECT

public:
    // A window of its own, closed with form.
    explicit CloserLook(Form1& form);

    // The line under the pictures: the pixel or palette entry under the
    // pointer, its index and its colour.
    QString statusText() const;
    PixelView* largeView() const { return large_; }
    PixelView* smallView() const { return small_; }

private:
    void follow();
    void clearStatusFrom(const QWidget* source);

    Form1& form_;
    PixelView* large_;
    PixelView* small_;
    PaletteView* palette_;
    QLabel* status_;
    const QWidget* statusFrom_ = nullptr;  // the view that wrote the status
};

// A picture at the largest whole-number scale that fits, centred; each
// picture pixel a square block, never blended.
class PixelView final : public QWidget {
    Q_OBJECT

public:
    PixelView(int minimumScale, QSize pictureSize, QWidget* parent);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }
    // Where picture pixel (x, y) lies on the widget, and back; nothing when
    // the widget point is outside the picture.
    QRect pixelRect(QPoint pixel) const;
    std::optional<QPoint> pixelAt(QPoint point) const;
    // Called with the pixel under the pointer, or nothing when it left.
    std::function<void(std::optional<QPoint>)> hovered;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QRect pictureRect() const;

    QImage picture_;
    QImage shown_;  // picture_ in the screen's format, made once per picture
    QSize pictureSize_;
};

}  // namespace pelloran::editor
