#include "editor/closer_look.h"

#include <QAction>
#include <QActionGroup>
#include <QColorDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "editor/form1.h"
#include "editor/texts.h"
#include "platform/picture_box.h"
#include "session/edits.h"
#include "session/messages.h"

namespace pelloran::editor {

using archive::Slot;

namespace {

constexpr int kSwatchesPerRow = 16;
constexpr int kSwatchSize = 14;

QString colourName(QRgb colour)
{
    return QColor(colour).name(QColor::HexRgb).toUpper();
}

QString qText(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

session::Point pointOf(QPoint pixel)
{
    return {pixel.x(), pixel.y()};
}

// The smallest rectangle of picture pixels in which two pictures of one size
// differ; empty when they are the same.
QRect changedPixels(const QImage& before, const QImage& after)
{
    if (before.size() != after.size()) return after.rect();
    QRect changed;
    for (int y = 0; y < after.height(); ++y) {
        const auto* old = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* now = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        for (int x = 0; x < after.width(); ++x)
            if (old[x] != now[x]) changed |= QRect(x, y, 1, 1);
    }
    return changed;
}

// A scrolled portrait that asks, when the window is first laid out, for room
// to show it whole at its scale; a scroll area's own wish is a few lines of
// text, whatever it holds.
class PictureScroll final : public QScrollArea {
public:
    PictureScroll(PixelView* view, QWidget* parent) : QScrollArea(parent)
    {
        setWidget(view);
        setWidgetResizable(true);
        setAlignment(Qt::AlignCenter);
    }
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget()->minimumSize() + QSize(frame, frame);
    }
};

}  // namespace

// ---------------------------------------------------------------- palette

PaletteView::PaletteView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFixedSize(kSwatchesPerRow * kSwatchSize + 1, kSwatchesPerRow * kSwatchSize + 1);
}

void PaletteView::setColours(QList<QRgb> colours)
{
    colours_ = std::move(colours);
    update();
}

void PaletteView::setChosen(int entry)
{
    chosen_ = entry;
    update();
}

QRect PaletteView::swatchRect(int entry) const
{
    return {(entry % kSwatchesPerRow) * kSwatchSize + 1,
            (entry / kSwatchesPerRow) * kSwatchSize + 1, kSwatchSize - 1, kSwatchSize - 1};
}

std::optional<int> PaletteView::entryAt(QPoint point) const
{
    // Whole swatches: QPoint's own division rounds to the nearest.
    const QPoint at(point.x() / kSwatchSize, point.y() / kSwatchSize);
    if (!rect().contains(point) || at.x() >= kSwatchesPerRow || at.y() >= kSwatchesPerRow)
        return std::nullopt;
    return at.y() * kSwatchesPerRow + at.x();
}

void PaletteView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    for (qsizetype entry = 0; entry < colours_.size(); ++entry)
        painter.fillRect(swatchRect(static_cast<int>(entry)), QColor(colours_[entry]));
    // The chosen entry in two frames, black and white, seen on any colour.
    const QRect chosen = swatchRect(chosen_);
    painter.setPen(Qt::black);
    painter.drawRect(chosen.adjusted(-1, -1, 0, 0));
    painter.setPen(Qt::white);
    painter.drawRect(chosen.adjusted(0, 0, -1, -1));
}

void PaletteView::mousePressEvent(QMouseEvent* event)
{
    const auto entry = entryAt(event->position().toPoint());
    if (!entry || event->button() != Qt::LeftButton) return;
    if (event->modifiers() & Qt::ShiftModifier) {
        if (editAsked) editAsked(*entry);
    } else if (clicked) {
        clicked(*entry);
    }
}

void PaletteView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const auto entry = entryAt(event->position().toPoint());
    if (entry && event->button() == Qt::LeftButton && editAsked) editAsked(*entry);
}

void PaletteView::mouseMoveEvent(QMouseEvent* event)
{
    if (hovered) hovered(entryAt(event->position().toPoint()));
}

void PaletteView::leaveEvent(QEvent*)
{
    if (hovered) hovered(std::nullopt);
}

// ---------------------------------------------------------------- portraits

PixelView::PixelView(int scale, QSize pictureSize, QWidget* parent)
    : QWidget(parent), pictureSize_(pictureSize), scale_(scale)
{
    setMouseTracking(true);
    setMinimumSize(pictureSize * scale);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PixelView::setPicture(const QImage& picture)
{
    picture_ = picture;
    QImage shown = picture.convertToFormat(QImage::Format_RGB32);
    // A pencil stroke changes a few pixels: only their blocks are painted
    // again, which keeps a stroke smooth at the largest scale.
    const QRect changed = changedPixels(shown_, shown);
    shown_ = std::move(shown);
    if (changed.isEmpty()) return;
    update(QRect(pixelRect(changed.topLeft()).topLeft(),
                 pixelRect(changed.bottomRight()).bottomRight()));
}

void PixelView::setScale(int scale)
{
    scale_ = scale;
    setMinimumSize(pictureSize_ * scale);
    update();
}

void PixelView::setGrid(bool grid)
{
    grid_ = grid;
    update();
}

QRect PixelView::pictureRect() const
{
    const QSize size = pictureSize_ * scale_;
    return {QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size};
}

QRect PixelView::pixelRect(QPoint pixel) const
{
    return {pictureRect().topLeft() + pixel * scale_, QSize(scale_, scale_)};
}

QPoint PixelView::pixelUnder(QPoint point) const
{
    const QPoint offset = point - pictureRect().topLeft();
    // Whole pixels, rounded down also left of and above the picture: QPoint's
    // own division rounds to the nearest.
    const auto down = [this](int value) {
        return value >= 0 ? value / scale_ : -((-value + scale_ - 1) / scale_);
    };
    return {down(offset.x()), down(offset.y())};
}

std::optional<QPoint> PixelView::pixelAt(QPoint point) const
{
    if (!pictureRect().contains(point)) return std::nullopt;
    return pixelUnder(point);
}

void PixelView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setClipRegion(event->region());
    const QRect area = pictureRect();
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (shown_.isNull()) return;
    // A whole-number scale without smoothing: every portrait pixel stays a
    // sharp square of one colour, however large the window.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area, shown_);
    if (grid_ && scale_ >= CloserLook::kGridScale) {
        // A line at the left and top of each block, in a grey that shows on
        // light and dark colours alike and leaves the block's inside alone.
        painter.setPen(QColor(128, 128, 128, 96));
        for (int x = 0; x <= pictureSize_.width(); ++x)
            painter.drawLine(area.left() + x * scale_, area.top(), area.left() + x * scale_,
                             area.bottom());
        for (int y = 0; y <= pictureSize_.height(); ++y)
            painter.drawLine(area.left(), area.top() + y * scale_, area.right(),
                             area.top() + y * scale_);
    }
    if (outlined_) {
        const QRect block = pixelRect(*outlined_);
        painter.setPen(Qt::black);
        painter.drawRect(block.adjusted(0, 0, -1, -1));
        painter.setPen(Qt::white);
        painter.drawRect(block.adjusted(1, 1, -2, -2));
    }
}

void PixelView::outline(std::optional<QPoint> pixel)
{
    if (pixel == outlined_) return;
    if (outlined_) update(pixelRect(*outlined_));
    outlined_ = pixel;
    if (outlined_) update(pixelRect(*outlined_));
}

void PixelView::mousePressEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (pixelAt(point) && pressed) pressed(pixelUnder(point), event->button(), event->modifiers());
}

void PixelView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    outline(pixelAt(point));
    if (hovered) hovered(pixelAt(point));
    if ((event->buttons() & Qt::LeftButton) && dragged) dragged(pixelUnder(point));
}

void PixelView::mouseReleaseEvent(QMouseEvent*)
{
    if (released) released();
}

void PixelView::leaveEvent(QEvent*)
{
    outline(std::nullopt);
    if (hovered) hovered(std::nullopt);
}

void PixelView::wheelEvent(QWheelEvent* event)
{
    // Without Ctrl the wheel scrolls the enlarged picture, as anywhere.
    const int turn = event->angleDelta().y();
    if (!(event->modifiers() & Qt::ControlModifier) || turn == 0) return event->ignore();
    if (zoomed) zoomed(turn > 0 ? 1 : -1);
}

// ---------------------------------------------------------------- window

CloserLook::CloserLook(Form1& form)
    : QWidget(&form, Qt::Window),
      form_(form),
      large_(new PixelView(
          kGridScale, QSize(archive::kLargeLayout.width, archive::kLargeLayout.height()), this)),
      small_(new PixelView(
          kGridScale, QSize(archive::kSmallLayout.width, archive::kSmallLayout.height()), this)),
      palette_(new PaletteView(this)),
      status_(new QLabel(this)),
      chosenLine_(new QLabel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    using Texts = session::EditingTexts;
    auto* tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto add = [&](std::string Texts::*text, QList<QKeySequence> keys, auto run) {
        auto* action = tools->addAction(QString());
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, run);
        toolTexts_.emplace_back(action, text);
        return action;
    };
    auto* toolGroup = new QActionGroup(this);
    struct ToolKey {
        Tool tool;
        std::string Texts::*text;
        Qt::Key key;
    };
    const ToolKey toolKeys[] = {
        {Tool::Pencil, &Texts::pencil, Qt::Key_B},
        {Tool::Eyedropper, &Texts::eyedropper, Qt::Key_I},
        {Tool::Fill, &Texts::fill, Qt::Key_G},
        {Tool::Replace, &Texts::replace, Qt::Key_R},
    };
    for (const auto& [tool, text, key] : toolKeys) {
        QAction* action = add(text, {QKeySequence(key)}, [this, tool = tool] { setTool(tool); });
        action->setCheckable(true);
        toolGroup->addAction(action);
        toolActions_[static_cast<std::size_t>(tool)] = action;
    }
    add(&Texts::mirror, {QKeySequence(Qt::Key_H)}, [this] {
        form_.editPortrait(
            active_, [this](session::Record& record) { return session::mirror(active_, record); });
    });
    tools->addSeparator();
    add(&Texts::undo, {QKeySequence(Qt::CTRL | Qt::Key_Z)}, [this] { form_.undoEdit(); });
    add(&Texts::redo,
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        [this] { form_.redoEdit(); });
    tools->addSeparator();
    add(&Texts::zoomIn,
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        [this] { zoomBy(1); });
    add(&Texts::zoomOut, {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { zoomBy(-1); });
    grid_ = add(&Texts::grid, {QKeySequence(Qt::CTRL | Qt::Key_Apostrophe)}, [this](bool on) {
        large_->setGrid(on);
        small_->setGrid(on);
    });
    grid_->setCheckable(true);
    grid_->setChecked(true);
    showToolTexts();

    auto* pictures = new QHBoxLayout;
    pictures->addWidget(new PictureScroll(large_, this));
    pictures->addWidget(new PictureScroll(small_, this));
    auto* paletteColumn = new QVBoxLayout;
    paletteColumn->addWidget(palette_);
    paletteColumn->addWidget(chosenLine_);
    paletteColumn->addStretch();
    pictures->addLayout(paletteColumn);
    // A line each, empty or not, so that the pictures do not move when
    // the pointer enters one.
    for (QLabel* line : {status_, chosenLine_}) {
        line->setText(QStringLiteral(" "));
        line->setFixedHeight(line->sizeHint().height());
        line->clear();
    }
    auto* page = new QVBoxLayout(this);
    page->addWidget(tools);
    page->addLayout(pictures, 1);
    page->addWidget(status_);

    for (Slot slot : {Slot::Large, Slot::Small}) {
        PixelView* view = viewOf(slot);
        view->hovered = [this, view](std::optional<QPoint> pixel) {
            if (!pixel) return clearStatusFrom(view);
            describePixel(view, *pixel);
        };
        view->pressed = [this, slot](QPoint pixel, Qt::MouseButton button,
                                     Qt::KeyboardModifiers modifiers) {
            press(slot, pixel, button, modifiers);
        };
        view->dragged = [this, slot](QPoint pixel) { drag(slot, pixel); };
        view->released = [this] { strokeAt_.reset(); };
        view->zoomed = [this](int steps) { zoomBy(steps); };
    }
    palette_->hovered = [this](std::optional<int> entry) {
        if (!entry) return clearStatusFrom(palette_);
        statusFrom_ = palette_;
        hoveredPixel_.reset();
        status_->setText(translated("调色板  索引 %1  %2")
                             .arg(*entry)
                             .arg(colourName(palette_->colours().value(*entry))));
    };
    palette_->clicked = [this](int entry) { choose(entry); };
    palette_->editAsked = [this](int entry) { editColour(entry); };

    connect(&form, &Form1::portraitChanged, this, &CloserLook::follow);
    connect(&form, &Form1::languageChanged, this, [this] {
        showToolTexts();
        follow();
    });
    setTool(Tool::Pencil);
    follow();
}

void CloserLook::clearStatusFrom(const QWidget* source)
{
    // The pointer leaving one view may be told after it entered the next.
    if (statusFrom_ != source) return;
    status_->clear();
    hoveredPixel_.reset();
}

void CloserLook::describePixel(PixelView* view, QPoint pixel)
{
    statusFrom_ = view;
    hoveredPixel_ = pixel;
    const QImage& picture = view->picture();
    const int index = picture.pixelIndex(pixel);
    status_->setText(translated("%1 (%2, %3)  索引 %4  %5")
                         .arg(qText(session::slotName(view == large_ ? Slot::Large : Slot::Small)))
                         .arg(pixel.x())
                         .arg(pixel.y())
                         .arg(index)
                         .arg(colourName(picture.color(index))));
}

QString CloserLook::statusText() const
{
    return status_->text();
}

void CloserLook::follow()
{
    const session::State& state = form_.session().state();
    if (!state.pairOpen()) return;
    setWindowTitle(translated("放大查看 - 编号 %1").arg(state.number));
    // What the main window shows, an import waiting to be written included,
    // is what is looked at here: its pictures, made once.
    large_->setPicture(form_.Pic1->picture());
    small_->setPicture(form_.Pic2->picture());
    palette_->setColours(viewOf(active_)->picture().colorTable());
    // The pointer may rest on a pixel that just changed: the line says what
    // it is now.
    if (hoveredPixel_ && (statusFrom_ == large_ || statusFrom_ == small_))
        describePixel(statusFrom_ == large_ ? large_ : small_, *hoveredPixel_);
    else if (statusFrom_ != palette_)
        status_->clear();
    showChosen();
}

void CloserLook::showChosen()
{
    palette_->setChosen(chosen_);
    chosenLine_->setText(qText(session::chosenEntryText(
        chosen_, colourName(palette_->colours().value(chosen_)).toStdString(), scale_)));
}

void CloserLook::showToolTexts()
{
    const session::EditingTexts texts = session::editingTexts();
    for (const auto& [action, text] : toolTexts_) {
        const QString caption = qText(texts.*text);
        action->setText(caption);
        action->setToolTip(QStringLiteral("%1 (%2)").arg(
            caption, action->shortcuts().front().toString(QKeySequence::NativeText)));
    }
}

void CloserLook::choose(int index)
{
    chosen_ = index;
    showChosen();
}

void CloserLook::setTool(Tool tool)
{
    tool_ = tool;
    toolActions_[static_cast<std::size_t>(tool)]->setChecked(true);
}

void CloserLook::zoomBy(int steps)
{
    scale_ = std::clamp(scale_ + steps, kMinimumScale, kMaximumScale);
    for (PixelView* view : {large_, small_}) {
        view->setScale(scale_);
        // The scroll area's wish for room follows its picture's new size.
        view->parentWidget()->parentWidget()->updateGeometry();
    }
    showChosen();
}

void CloserLook::setActive(Slot slot)
{
    if (slot == active_) return;
    active_ = slot;
    palette_->setColours(viewOf(slot)->picture().colorTable());
    showChosen();
}

void CloserLook::pickAt(Slot slot, QPoint pixel)
{
    choose(viewOf(slot)->picture().pixelIndex(pixel));
}

void CloserLook::press(Slot slot, QPoint pixel, Qt::MouseButton button,
                       Qt::KeyboardModifiers modifiers)
{
    setActive(slot);
    strokeAt_.reset();
    // The eyedropper is at hand with any tool: a right click, or Alt with
    // the pencil, as painters have it.
    if (button == Qt::RightButton ||
        (button == Qt::LeftButton &&
         (tool_ == Tool::Eyedropper || (tool_ == Tool::Pencil && (modifiers & Qt::AltModifier)))))
        return pickAt(slot, pixel);
    if (button != Qt::LeftButton) return;
    const auto index = static_cast<std::uint8_t>(chosen_);
    const session::Point at = pointOf(pixel);
    switch (tool_) {
        case Tool::Pencil:
            strokeAt_ = pixel;
            form_.editPortrait(
                slot,
                [&](session::Record& record) {
                    return session::setPixels(slot, record, std::span(&at, 1), index);
                },
                session::Stroke::Starts);
            break;
        case Tool::Fill:
            form_.editPortrait(slot, [&](session::Record& record) {
                return session::fill(slot, record, at, index);
            });
            break;
        case Tool::Replace:
            form_.editPortrait(slot, [&](session::Record& record) {
                return session::replaceIndex(slot, record, session::indexAt(slot, record, at),
                                             index);
            });
            break;
        case Tool::Eyedropper:
            break;
    }
}

void CloserLook::drag(Slot slot, QPoint pixel)
{
    if (!strokeAt_ || slot != active_ || pixel == *strokeAt_) return;
    // Every pixel between the last one and this: the pointer moves faster
    // than one pixel per event.
    const auto line = session::lineBetween(pointOf(*strokeAt_), pointOf(pixel));
    strokeAt_ = pixel;
    const auto index = static_cast<std::uint8_t>(chosen_);
    form_.editPortrait(
        slot,
        [&](session::Record& record) { return session::setPixels(slot, record, line, index); },
        session::Stroke::Continues);
}

void CloserLook::editColour(int entry)
{
    choose(entry);
    const QColor chosen = QColorDialog::getColor(QColor(palette_->colours().value(entry)), this,
                                                 qText(session::paletteEntryTitle(active_, entry)));
    if (!chosen.isValid()) return;
    const bitmap::Colour colour{static_cast<std::uint8_t>(chosen.red()),
                                static_cast<std::uint8_t>(chosen.green()),
                                static_cast<std::uint8_t>(chosen.blue())};
    form_.editPortrait(active_, [&](session::Record& record) {
        return session::setPaletteEntry(active_, record, static_cast<std::uint8_t>(entry), colour);
    });
}

}  // namespace pelloran::editor
