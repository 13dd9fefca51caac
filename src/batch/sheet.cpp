#include "batch/sheet.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "platform/png_file.h"

namespace pelloran::batch {

using archive::Slot;

namespace {

constexpr int kMostColumns = 26;  // 832 large portraits make a sheet about as wide as tall
constexpr int kGap = 4;

// The record as Qt's indexed image, sharing nothing with the record.
QImage portraitImage(std::span<const std::uint8_t> record, Slot slot)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    QImage image(layout.width, layout.height(), QImage::Format_Indexed8);
    for (int y = 0; y < image.height(); ++y)
        std::copy_n(record.data() + y * layout.width, layout.width, image.scanLine(y));
    QList<QRgb> colours;
    for (std::size_t at = layout.pixelBlockSize(); at < record.size(); at += 4)
        colours.push_back(qRgb(record[at + 2], record[at + 1], record[at]));
    image.setColorTable(colours);
    return image;
}

}  // namespace

std::vector<std::uint8_t> contactSheet(std::span<const std::span<const std::uint8_t>> portraits,
                                       std::span<const int> numbers, Slot slot)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const int count = static_cast<int>(numbers.size());
    const int columns = std::clamp(count, 1, kMostColumns);
    const int rows = std::max(1, (count + columns - 1) / columns);
    QFont font;
    font.setPixelSize(slot == Slot::Large ? 12 : 10);
    const int labelHeight = font.pixelSize() + 4;
    const int cellWidth = layout.width + kGap, cellHeight = layout.height() + labelHeight;

    QImage sheet(columns * cellWidth + kGap, rows * cellHeight + kGap, QImage::Format_RGB32);
    sheet.fill(QColor(40, 40, 40));
    QPainter painter(&sheet);
    // Portraits are drawn at their own size: no scaling, so no smoothing.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setFont(font);
    painter.setPen(QColor(230, 230, 230));
    for (int i = 0; i < count; ++i) {
        const int x = kGap + (i % columns) * cellWidth, y = kGap + (i / columns) * cellHeight;
        painter.drawImage(x, y, portraitImage(portraits[i], slot));
        painter.drawText(QRect(x, y + layout.height(), layout.width, labelHeight), Qt::AlignCenter,
                         QString::number(numbers[i]));
    }
    painter.end();

    return platform::encodePng(sheet.width(), sheet.height(), {},
                               [&](int y) { return sheet.constScanLine(y); });
}

}  // namespace pelloran::batch
