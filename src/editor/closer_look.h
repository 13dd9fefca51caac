// The closer look: the shown pair enlarged, crisp at any window size, with
// the palette of the portrait being edited, and what lies under the pointer.
// It follows the main window: a new number or a new preview (an import
// waiting to be written) shows here at once.
//
// It is also where the pair is touched up: pencil, eyedropper, fill, replace
// and mirror on either portrait, and a palette entry's colour. Each is one of
// the session's edit operations; what they make is the slot's pending import,
// written by 写 入 like any other.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "archive/layout.h"
#include "session/messages.h"

class QAction;
class QLabel;

namespace pelloran::editor {

class Form1;
class PixelView;
class PaletteView;

class CloserLook final : public QWidget {
    Q_OBJECT

public:
    // What a left click on a portrait does.
    enum class Tool { Pencil, Eyedropper, Fill, Replace };
    static constexpr int kMinimumScale = 4;
    static constexpr int kMaximumScale = 16;
    // From this scale on the pixel grid is drawn, while it is switched on.
    static constexpr int kGridScale = 8;

    // A window of its own, closed with form.
    explicit CloserLook(Form1& form);

    // The line under the pictures: the pixel or palette entry under the
    // pointer, its index and its colour.
    QString statusText() const;
    PixelView* largeView() const { return large_; }
    PixelView* smallView() const { return small_; }
    PaletteView* paletteView() const { return palette_; }
    Tool tool() const { return tool_; }
    int chosenIndex() const { return chosen_; }
    int scale() const { return scale_; }

private:
    void follow();
    void clearStatusFrom(const QWidget* source);
    void describePixel(PixelView* view, QPoint pixel);
    void showChosen();
    // The tools' and commands' captions and tips, in the chosen language.
    void showToolTexts();
    void choose(int index);
    void setTool(Tool tool);
    void zoomBy(int steps);
    void setActive(archive::Slot slot);
    // A press on a portrait, and the pointer dragged on with the left
    // button held: what the tool does there.
    void press(archive::Slot slot, QPoint pixel, Qt::MouseButton button,
               Qt::KeyboardModifiers modifiers);
    void drag(archive::Slot slot, QPoint pixel);
    void pickAt(archive::Slot slot, QPoint pixel);
    void editColour(int entry);
    PixelView* viewOf(archive::Slot slot) const
    {
        return slot == archive::Slot::Large ? large_ : small_;
    }

    Form1& form_;
    PixelView* large_;
    PixelView* small_;
    PaletteView* palette_;
    QLabel* status_;
    QLabel* chosenLine_;
    std::array<QAction*, 4> toolActions_{};
    // Each tool bar action with its caption among session::EditingTexts.
    std::vector<std::pair<QAction*, std::string session::EditingTexts::*>> toolTexts_;
    QAction* grid_;
    const QWidget* statusFrom_ = nullptr;  // the view that wrote the status
    std::optional<QPoint> hoveredPixel_;   // in statusFrom_, when it is a portrait
    Tool tool_ = Tool::Pencil;
    int chosen_ = 0;
    int scale_ = kGridScale;
    archive::Slot active_ = archive::Slot::Large;  // the portrait whose palette is shown
    std::optional<QPoint> strokeAt_;               // the pencil's last pixel while it draws
};

// A picture at a whole-number scale, centred; each picture pixel a square
// block, never blended.
class PixelView final : public QWidget {
    Q_OBJECT

public:
    PixelView(int scale, QSize pictureSize, QWidget* parent);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }
    void setScale(int scale);
    void setGrid(bool grid);
    // Where picture pixel (x, y) lies on the widget, and back; nothing when
    // the widget point is outside the picture.
    QRect pixelRect(QPoint pixel) const;
    std::optional<QPoint> pixelAt(QPoint point) const;
    // Called with the pixel under the pointer, or nothing when it left.
    std::function<void(std::optional<QPoint>)> hovered;
    // A button pressed over the picture, and the pointer moved on with the
    // left button held: the pixel under it, which may lie outside the
    // picture once the pointer left it.
    std::function<void(QPoint, Qt::MouseButton, Qt::KeyboardModifiers)> pressed;
    std::function<void(QPoint)> dragged;
    std::function<void()> released;
    // The wheel turned with Ctrl held: a step in or out.
    std::function<void(int)> zoomed;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QRect pictureRect() const;
    QPoint pixelUnder(QPoint point) const;
    void outline(std::optional<QPoint> pixel);

    QImage picture_;
    QImage shown_;  // picture_ in the screen's format, made once per picture
    QSize pictureSize_;
    int scale_;
    bool grid_ = true;
    std::optional<QPoint> outlined_;  // the pixel under the pointer
};

// The 256 colours of a palette as 16 rows of 16 swatches, entry 0 top left;
// the chosen entry framed.
class PaletteView final : public QWidget {
    Q_OBJECT

public:
    explicit PaletteView(QWidget* parent);

    void setColours(QList<QRgb> colours);
    const QList<QRgb>& colours() const { return colours_; }
    void setChosen(int entry);
    // Where entry's swatch lies.
    QRect swatchRect(int entry) const;
    std::function<void(std::optional<int>)> hovered;
    // A click on a swatch, and a double click or a click with Shift: to edit it.
    std::function<void(int)> clicked;
    std::function<void(int)> editAsked;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::optional<int> entryAt(QPoint point) const;

    QList<QRgb> colours_;
    int chosen_ = 0;
};

}  // namespace pelloran::editor
