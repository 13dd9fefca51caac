// The import rule written out a second time, from the rule's own words and
// without the editor's code: which files import accepts, with which message
// it refuses the others, and the record write-back makes of an accepted file.
// Hostile-file tests and the fuzz targets hold the editor to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pelloran::testing::rule {

enum class Outcome {
    Large,          // 64 x 80, goes to the large slot
    Small,          // 32 x 40, goes to the small slot
    FormatRefusal,  // "导入的图片必须为64×80或32×40的BMP或PNG图片！"
    WidthRefusal,   // "导入的图片宽度必须为64或32像素！"
    HeightRefusal,  // "导入的图片高度必须为80或40像素！"
};

// A byte the file does not have reads as 0, as the check reads a short file.
inline std::uint32_t byteOf(std::span<const std::uint8_t> file, std::size_t at)
{
    return at < file.size() ? file[at] : 0u;
}

inline std::uint32_t little16(std::span<const std::uint8_t> file, std::size_t at)
{
    return byteOf(file, at) + 256u * byteOf(file, at + 1);
}

inline std::uint32_t little32(std::span<const std::uint8_t> file, std::size_t at)
{
    return little16(file, at) + 65536u * little16(file, at + 2);
}

inline Outcome judge(std::span<const std::uint8_t> file)
{
    // First the three header checks the user knows, in their order.
    if (byteOf(file, 0) != 'B' || byteOf(file, 1) != 'M' || byteOf(file, 2) != 54)
        return Outcome::FormatRefusal;
    const std::uint32_t widthLow = little16(file, 18);
    if (widthLow != 64 && widthLow != 32) return Outcome::WidthRefusal;
    const std::uint32_t heightLow = little16(file, 22);
    if (heightLow != 80 && heightLow != 40) return Outcome::HeightRefusal;

    // Then what write-back reads at fixed places must be what is there.
    if (little32(file, 14) != 40) return Outcome::FormatRefusal;    // info header size
    if (little16(file, 26) != 1) return Outcome::FormatRefusal;     // planes
    if (little16(file, 28) != 8) return Outcome::FormatRefusal;     // bits per pixel
    if (little32(file, 30) != 0) return Outcome::FormatRefusal;     // compression
    if (little32(file, 10) != 1078) return Outcome::FormatRefusal;  // pixel data offset
    const std::uint32_t width = little32(file, 18);
    const std::uint32_t height = little32(file, 22);
    const bool large = width == 64 && height == 80;
    const bool small = width == 32 && height == 40;
    if (!large && !small) return Outcome::FormatRefusal;
    if (file.size() < 1078u + std::size_t{width} * height) return Outcome::FormatRefusal;
    return large ? Outcome::Large : Outcome::Small;
}

// The record of a slot width x height made from file: the pixel rows, the
// top one first (the file's last), then the file's 1024 colour table bytes
// as they stand. Bytes the file lacks are 0.
inline std::vector<std::uint8_t> recordOf(std::span<const std::uint8_t> file, std::size_t width,
                                          std::size_t height)
{
    std::vector<std::uint8_t> record(width * height + 1024);
    std::size_t i = 0;
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x)
            record[i++] =
                static_cast<std::uint8_t>(byteOf(file, 1078 + (height - 1 - y) * width + x));
    for (std::size_t k = 0; k < 1024; ++k)
        record[i++] = static_cast<std::uint8_t>(byteOf(file, 54 + k));
    return record;
}

}  // namespace pelloran::testing::rule
