#include "platform/picture_box.h"

#include <QPainter>

#include <cstring>

namespace pelloran::platform {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
}

void PictureBox::setPicture(const QImage& picture)
{
    picture_ = picture;
    update();
}

void PictureBox::clear()
{
    picture_ = QImage();
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (picture_.isNull()) return;
    QPainter painter(this);
    // Pixel art: on a high-density screen each pixel grows into a square
    // block; it is never blended with its neighbours.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(contentsRect().topLeft(), picture_);
}

}  // namespace pelloran::platform

namespace pelloran::platform {

QImage indexedImage(std::span<const std::uint8_t> rgbPalette,
                    std::span<const std::uint8_t> pixels, int width)
{
    const int height = static_cast<int>(pixels.size()) / width;
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> colours(static_cast<qsizetype>(rgbPalette.size() / 3));
    for (qsizetype e = 0; e < colours.size(); ++e)
        colours[e] = qRgb(rgbPalette[3 * e], rgbPalette[3 * e + 1], rgbPalette[3 * e + 2]);
    image.setColorTable(colours);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), pixels.data() + static_cast<std::size_t>(y) * width,
                    static_cast<std::size_t>(width));
    return image;
}

}  // namespace pelloran::platform
