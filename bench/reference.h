// The byte-at-a-time way, kept here only as the baseline every ratio is
// measured against: one positioned stdio access (fseek, then fgetc or fputc)
// per byte, the file opened and closed per record or per file, and one
// QPainter line per pixel. It follows the steps and the positions of the
// editor's handlers exactly, so both ways read and write the same bytes.
#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <span>

#include "archive/record.h"
#include "bitmap/bitmap.h"

namespace pelloran::bench::reference {

// Reads the record at the 1-based recordPosition into palette and pixels, one
// byte per read (768 palette reads, then one read per pixel), and paints each
// pixel as a line from (x, y) to (x + 1, y + 1) onto a cleared picture.
QImage loadPortrait(const std::filesystem::path& archive, double recordPosition, std::int16_t width,
                    double recordSize, archive::RgbPalette& palette,
                    std::span<std::uint8_t> pixels);

// Writes the pair as two BMP files, one byte (or one 16-bit value) per write,
// each file opened in place without truncation, as the byte-at-a-time way does.
void exportPair(const bitmap::Header& headerTemplate, const archive::RgbPalette& largePalette,
                std::span<const std::uint8_t> largePixels, const archive::RgbPalette& smallPalette,
                std::span<const std::uint8_t> smallPixels, const std::filesystem::path& largeFile,
                const std::filesystem::path& smallFile);

// Copies an imported BMP into the record at the 1-based recordPosition: rows
// turned top row first and the palette, one byte per read and per write, no
// flush to disk.
void writeBack(const std::filesystem::path& archive, const std::filesystem::path& importFile,
               double recordPosition, std::int16_t width, std::int16_t height, double recordSize);

}  // namespace pelloran::bench::reference
