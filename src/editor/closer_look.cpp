#include "editor/closer_look.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "editor/form1.h"
#include "editor/texts.h"
#include "platform/picture_box.h"

namespace pelloran::editor {

using archive::Slot;

namespace {

constexpr int kMinimumScale = 4;
constexpr int kSwatchesPerRow = 16;
constexpr int kSwatchSize = 14;

QString colourName(QRgb colour)
{
    return QColor(colour).name(QColor::HexRgb).toUpper();
}

}  // namespace

// The 256 colours of a palette as 16 rows of 16 swatches, entry 0 top left.
class PaletteView final : public QWidget {
public:
    explicit PaletteView(QWidget* parent) : QWidget(parent)
    {
        setMouseTracking(true);
        setFixedSize(kSwatchesPerRow * kSwatchSize + 1, kSwatchesPerRow * kSwatchSize + 1);
    }

    void setColours(QList<QRgb> colours)
    {
        colours_ = std::move(colours);
        update();
    }
    const QList<QRgb>& colours() const { return colours_; }
    std::function<void(std::optional<int>)> hovered;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Dark));
        for (qsizetype entry = 0; entry < colours_.size(); ++entry) {
            const int column = static_cast<int>(entry) % kSwatchesPerRow;
            const int row = static_cast<int>(entry) / kSwatchesPerRow;
            painter.fillRect(column * kSwatchSize + 1, row * kSwatchSize + 1, kSwatchSize - 1,
                             kSwatchSize - 1, QColor(colours_[entry]));
        }
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        const QPoint point = event->position().toPoint();
        // Whole swatches: QPoint's own division rounds to the nearest.
        const QPoint at(point.x() / kSwatchSize, point.y() / kSwatchSize);
        const bool inside =
            rect().contains(point) && at.x() < kSwatchesPerRow && at.y() < kSwatchesPerRow;
        if (hovered)
            hovered(inside ? std::optional(at.y() * kSwatchesPerRow + at.x()) : std::nullopt);
    }
    void leaveEvent(QEvent*) override
    {
        if (hovered) hovered(std::nullopt);
    }

private:
    QList<QRgb> colours_;
};

PixelView::PixelView(int minimumScale, QSize pictureSize, QWidget* parent)
    : QWidget(parent), pictureSize_(pictureSize)
{
    setMouseTracking(true);
    setMinimumSize(pictureSize * minimumScale);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PixelView::setPicture(const QImage& picture)
{
    picture_ = picture;
    shown_ = picture.convertToFormat(QImage::Format_RGB32);
    update();
}

QRect PixelView::pictureRect() const
{
    const int scale =
        std::max(1, std::min(width() / pictureSize_.width(), height() / pictureSize_.height()));
    const QSize size = pictureSize_ * scale;
    return {QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size};
}

QRect PixelView::pixelRect(QPoint pixel) const
{
    const QRect area = pictureRect();
    const int scale = area.width() / pictureSize_.width();
    return {area.topLeft() + pixel * scale, QSize(scale, scale)};
}

std::optional<QPoint> PixelView::pixelAt(QPoint point) const
{
    const QRect area = pictureRect();
    if (!area.contains(point)) return std::nullopt;
    const int scale = area.width() / pictureSize_.width();
    const QPoint offset = point - area.topLeft();
    // Whole pixels: QPoint's own division rounds to the nearest.
    return QPoint(offset.x() / scale, offset.y() / scale);
}

void PixelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (shown_.isNull()) return;
    // A whole-number scale without smoothing: every portrait pixel stays a
    // sharp square of one colour, however large the window.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(pictureRect(), shown_);
}

void PixelView::mouseMoveEvent(QMouseEvent* event)
{
    if (hovered) hovered(pixelAt(event->position().toPoint()));
}

void PixelView::leaveEvent(QEvent*)
{
    if (hovered) hovered(std::nullopt);
}

CloserLook::CloserLook(Form1& form)
    : QWidget(&form, Qt::Window),
      form_(form),
      large_(new PixelView(
          kMinimumScale, QSize(archive::kLargeLayout.width, archive::kLargeLayout.height()), this)),
      small_(new PixelView(
          kMinimumScale, QSize(archive::kSmallLayout.width, archive::kSmallLayout.height()), this)),
      palette_(new PaletteView(this)),
      status_(new QLabel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto* pictures = new QHBoxLayout;
    pictures->addWidget(large_, 2);
    pictures->addWidget(small_, 1);
    auto* paletteColumn = new QVBoxLayout;
    paletteColumn->addWidget(palette_);
    paletteColumn->addStretch();
    pictures->addLayout(paletteColumn);
    auto* page = new QVBoxLayout(this);
    page->addLayout(pictures, 1);
    page->addWidget(status_);

    auto describePixel = [this](PixelView* view, const char* which) {
        return [this, view, which](std::optional<QPoint> pixel) {
            if (!pixel) return clearStatusFrom(view);
            statusFrom_ = view;
            const QImage& picture = view->picture();
            const int index = picture.pixelIndex(*pixel);
            status_->setText(translated("%1 (%2, %3)  索引 %4  %5")
                                 .arg(translated(which))
                                 .arg(pixel->x())
                                 .arg(pixel->y())
                                 .arg(index)
                                 .arg(colourName(picture.color(index))));
        };
    };
    large_->hovered = describePixel(large_, session::N_("大头像"));
    small_->hovered = describePixel(small_, session::N_("小头像"));
    palette_->hovered = [this](std::optional<int> entry) {
        if (!entry) return clearStatusFrom(palette_);
        statusFrom_ = palette_;
        status_->setText(translated("调色板  索引 %1  %2")
                             .arg(*entry)
                             .arg(colourName(palette_->colours().value(*entry))));
    };

    connect(&form, &Form1::portraitChanged, this, &CloserLook::follow);
    connect(&form, &Form1::languageChanged, this, &CloserLook::follow);
    follow();
}

void CloserLook::clearStatusFrom(const QWidget* source)
{
    // The pointer leaving one view may be told after it entered the next.
    if (statusFrom_ == source) status_->clear();
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
    const QImage& large = form_.Pic1->picture();
    large_->setPicture(large);
    small_->setPicture(form_.Pic2->picture());
    palette_->setColours(large.colorTable());
    status_->clear();
}

}  // namespace pelloran::editor
