#include "platform/picture_box.h"

#include <QPaintEvent>
#include <QPainter>

#include <cstring>

#include "archive/record.h"

namespace pelloran::platform {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    // In the tab order, so that keyboard actions can name a portrait.
    setFocusPolicy(Qt::StrongFocus);
}

void PictureBox::setPicture(const QImage& picture)
{
    picture_ = picture;
    shown_ = QImage();
    // The frame does not change with the picture: only the drawing area is
    // repainted.
    update(contentsRect());
}

void PictureBox::clear()
{
    picture_ = QImage();
    shown_ = QImage();
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (!contentsRect().contains(event->rect())) {
        drawFrame(&painter);
        // Focus shows on the frame's outer edge; the portrait is untouched.
        if (hasFocus()) {
            painter.setPen(palette().color(QPalette::Highlight));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }
    if (picture_.isNull()) return;
    // An indexed picture drawn as it is goes through Qt's slowest path, a
    // colour lookup and a blend per pixel at every paint; converted once,
    // each later paint is a copy of rows.
    if (shown_.isNull())
        shown_ = picture_.convertToFormat(picture_.hasAlphaChannel()
                                              ? QImage::Format_ARGB32_Premultiplied
                                              : QImage::Format_RGB32);
    // Pixel art: on a high-density screen each pixel grows into a square
    // block; it is never blended with its neighbours.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(contentsRect().topLeft(), shown_);
}

QImage indexedImage(std::span<const std::uint8_t> rgbPalette, std::span<const std::uint8_t> pixels,
                    int width)
{
    const int height = static_cast<int>(pixels.size()) / width;
    QImage image(width, height, QImage::Format_Indexed8);
    // Raw pointers, taken once: the non-const element access of QList and
    // QImage checks for sharing at every call, which here costs more than
    // the copying itself.
    QList<QRgb> colours(static_cast<qsizetype>(rgbPalette.size() / 3));
    QRgb* colour = colours.data();
    for (qsizetype e = 0; e < colours.size(); ++e)
        colour[e] = qRgb(rgbPalette[3 * e], rgbPalette[3 * e + 1], rgbPalette[3 * e + 2]);
    image.setColorTable(colours);
    uchar* rows = image.bits();
    const auto stride = static_cast<std::size_t>(image.bytesPerLine());
    for (int y = 0; y < height; ++y)
        std::memcpy(rows + static_cast<std::size_t>(y) * stride,
                    pixels.data() + static_cast<std::size_t>(y) * width,
                    static_cast<std::size_t>(width));
    return image;
}

QImage recordPicture(archive::Slot slot, std::span<const std::uint8_t> record)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    archive::RgbPalette palette;
    archive::decodePalette(record.subspan(layout.pixelBlockSize()), palette);
    return indexedImage(palette, record.first(layout.pixelBlockSize()), layout.width);
}

}  // namespace pelloran::platform
