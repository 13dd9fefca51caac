#include "batch/sheet.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QSysInfo>
#include <algorithm>
#include <cmath>
#include <csetjmp>

#include <png.h>

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

// Qt's PNG writer lets libpng try five filters on every row and keep the
// best, which took half of a whole sheet's time. Pixel art with flat areas
// and hard edges compresses best unfiltered: measured on the demo sheet, the
// file is the smallest of the five filters' and made in under half the
// time. So libpng, the library under Qt's writer, is driven directly: no
// filter, zlib's fastest level. image is RGB32; empty when libpng fails.
std::vector<std::uint8_t> encodePng(const QImage& image)
{
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(image.sizeInBytes()) / 4);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // libpng reports a failure by jumping back here; nothing between here and
    // the jump owns anything but out, which is then dropped whole.
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        out.clear();
        return out;
    }
    png_set_write_fn(
        png, &out,
        [](png_structp png, png_bytep data, png_size_t size) {
            auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
            bytes->insert(bytes->end(), data, data + size);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    // RGB32 is 0xffRRGGBB in native order: blue, green, red and a filler byte
    // on a little-endian machine, the filler first on a big-endian one.
    png_set_bgr(png);
    png_set_filler(
        png, 0,
        QSysInfo::ByteOrder == QSysInfo::LittleEndian ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
    for (int y = 0; y < image.height(); ++y) png_write_row(png, image.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
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

    return encodePng(sheet);
}

}  // namespace pelloran::batch
