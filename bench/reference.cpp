#include "reference.h"

#include <QColor>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <vector>

namespace pelloran::bench::reference {

namespace {

constexpr double kHeaderBytes = 54;
constexpr double kPaletteEnd = 1078;  // header and colour table
constexpr double kPaletteBytes = 1024;

// The one open mode of the byte-at-a-time way: reading and writing, an
// existing file kept as it is, a missing one created empty.
std::FILE* openInPlace(const std::filesystem::path& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) file = std::fopen(path.c_str(), "w+b");
    return file;
}

void seek(std::FILE* file, double position)
{
    std::fseek(file, static_cast<long>(std::lround(position)) - 1, SEEK_SET);
}

// One byte at a 1-based position; a byte past the end reads as 0.
std::uint8_t getByte(std::FILE* file, double position)
{
    seek(file, position);
    const int byte = std::fgetc(file);
    return byte == EOF ? 0 : static_cast<std::uint8_t>(byte);
}

void putByte(std::FILE* file, double position, std::uint8_t byte)
{
    seek(file, position);
    std::fputc(byte, file);
}

// A 16-bit little-endian value at a 1-based position, in one access.
void putWord(std::FILE* file, double position, std::uint16_t value)
{
    seek(file, position);
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8)};
    std::fwrite(bytes, 1, 2, file);
}

void writeBitmap(std::FILE* file, const bitmap::Header& headerTemplate, bool small,
                 const archive::RgbPalette& palette, std::span<const std::uint8_t> pixels,
                 std::int16_t width, std::int16_t height)
{
    double placed = 0;
    while (placed < kHeaderBytes) {
        putByte(file, placed + 1, headerTemplate[static_cast<std::size_t>(placed)]);
        placed += 1;
    }
    if (small) {
        putWord(file, 4, 9);
        putWord(file, 19, 32);
        putWord(file, 23, 40);
        putWord(file, 36, 5);
    }
    // The 16-bit zero's upper byte is overwritten by the next entry's blue.
    std::int16_t entry = 0;
    while (placed < kPaletteEnd) {
        putByte(file, placed + 1, palette[3 * entry + 2]);
        placed += 1;
        putByte(file, placed + 1, palette[3 * entry + 1]);
        placed += 1;
        putByte(file, placed + 1, palette[3 * entry]);
        placed += 1;
        putWord(file, placed + 1, 0);
        placed += 1;
        ++entry;
    }
    const int lastIndex = width * height - 1;
    const double end = kPaletteEnd + width * height;
    std::int16_t row = 1;
    while (placed < end) {
        for (int column = 1; column <= width; ++column) {
            putByte(file, placed + 1,
                    pixels[static_cast<std::size_t>(lastIndex - width * row + column)]);
            placed += 1;
        }
        ++row;
    }
}

}  // namespace

QImage loadPortrait(const std::filesystem::path& archive, double recordPosition, std::int16_t width,
                    double recordSize, archive::RgbPalette& palette, std::span<std::uint8_t> pixels)
{
    std::FILE* file = openInPlace(archive);

    auto paletteOffset = static_cast<std::int16_t>(recordSize - kPaletteBytes);
    double entry = 0;
    while (paletteOffset < recordSize) {
        const auto e = static_cast<std::size_t>(entry);
        palette[3 * e + 2] = getByte(file, recordPosition + paletteOffset);
        palette[3 * e + 1] = getByte(file, recordPosition + paletteOffset + 1);
        palette[3 * e] = getByte(file, recordPosition + paletteOffset + 2);
        paletteOffset = static_cast<std::int16_t>(paletteOffset + 4);
        entry += 1;
    }

    const int height = static_cast<int>((recordSize - kPaletteBytes) / width);
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    std::uint8_t readBuffer = 0;
    std::int16_t n = 0;
    std::int16_t y = 0;
    while (n < recordSize - kPaletteBytes) {
        for (std::int16_t x = 0; x < width; ++x) {
            readBuffer = getByte(file, recordPosition + n);
            pixels[static_cast<std::size_t>(n)] = readBuffer;
            const std::size_t e = readBuffer;
            painter.setPen(QColor(palette[3 * e], palette[3 * e + 1], palette[3 * e + 2]));
            painter.drawLine(x, y, x + 1, y + 1);
            ++n;
        }
        ++y;
    }
    painter.end();

    if (file != nullptr) std::fclose(file);
    return picture;
}

void exportPair(const bitmap::Header& headerTemplate, const archive::RgbPalette& largePalette,
                std::span<const std::uint8_t> largePixels, const archive::RgbPalette& smallPalette,
                std::span<const std::uint8_t> smallPixels, const std::filesystem::path& largeFile,
                const std::filesystem::path& smallFile)
{
    std::FILE* large = openInPlace(largeFile);
    writeBitmap(large, headerTemplate, false, largePalette, largePixels, 64, 80);
    std::fclose(large);
    std::FILE* small = openInPlace(smallFile);
    writeBitmap(small, headerTemplate, true, smallPalette, smallPixels, 32, 40);
    std::fclose(small);
}

void writeBack(const std::filesystem::path& archive, const std::filesystem::path& importFile,
               double recordPosition, std::int16_t width, std::int16_t height, double recordSize)
{
    std::vector<std::uint8_t> record(6144);
    std::FILE* target = openInPlace(archive);
    std::FILE* source = openInPlace(importFile);

    // The file's rows are counted back from its end: its last row is the
    // portrait's top row, which the record holds first.
    std::int16_t i = 0;
    for (std::int16_t row = 1; row <= height; ++row)
        for (std::int16_t column = 1; column <= width; ++column)
            record[static_cast<std::size_t>(i++)] =
                getByte(source, recordSize + kHeaderBytes - width * row + column);
    for (int k = 0; k < kPaletteBytes; ++k)
        record[static_cast<std::size_t>(recordSize - kPaletteBytes) + static_cast<std::size_t>(k)] =
            getByte(source, kHeaderBytes + 1 + k);
    std::fclose(source);

    for (int k = 0; k < recordSize; ++k)
        putByte(target, recordPosition + k, record[static_cast<std::size_t>(k)]);
    std::fclose(target);
}

}  // namespace pelloran::bench::reference
