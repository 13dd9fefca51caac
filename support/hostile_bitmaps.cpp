#include "support/hostile_bitmaps.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace pelloran::testing {

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Field {
    const char* name;
    std::size_t offset;
    std::size_t width;  // bytes, little-endian
};

// Every field of the file header and the 40-byte info header.
constexpr Field kFields[] = {
    {"bfType", 0, 2},           {"bfSize", 2, 4},           {"bfReserved1", 6, 2},
    {"bfReserved2", 8, 2},      {"bfOffBits", 10, 4},       {"biSize", 14, 4},
    {"biWidth", 18, 4},         {"biHeight", 22, 4},        {"biPlanes", 26, 2},
    {"biBitCount", 28, 2},      {"biCompression", 30, 4},   {"biSizeImage", 34, 4},
    {"biXPelsPerMeter", 38, 4}, {"biYPelsPerMeter", 42, 4}, {"biClrUsed", 46, 4},
    {"biClrImportant", 50, 4},
};

constexpr std::size_t kWindows3HeaderEnd = 54;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::size_t kRunsVaried = 48;  // pairs at the start of a compressed stream
constexpr std::size_t kPixelCuts = 150;  // cuts spread over the pixel data

std::uint32_t read(std::span<const std::uint8_t> file, const Field& field)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.width; ++i)
        value |= std::uint32_t{file[field.offset + i]} << (8 * i);
    return value;
}

Bytes written(std::span<const std::uint8_t> file, const Field& field, std::uint32_t value)
{
    Bytes bytes(file.begin(), file.end());
    for (std::size_t i = 0; i < field.width; ++i)
        bytes[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

}  // namespace

std::vector<HostileFile> hostileVariants(std::span<const std::uint8_t> valid)
{
    std::vector<HostileFile> files;
    const std::uint32_t infoSize = read(valid, {"biSize", 14, 4});
    const bool windows = infoSize >= 40;
    const std::uint32_t compression = windows ? read(valid, kFields[10]) : 0;
    // The headers end after the masks that follow a 40-byte header.
    const std::size_t headerEnd =
        14 + infoSize + (infoSize == 40 && compression == kBitFields ? 12 : 0);
    const std::size_t pixelOffset = read(valid, kFields[4]);

    // Each field through its boundaries, the values next to the right one,
    // the other portrait size's values, and the right value with its upper
    // half or its sign changed.
    for (const Field& field : kFields) {
        if (!windows && field.offset >= 14) break;
        const std::uint32_t right = read(valid, field);
        const std::uint32_t all = field.width == 4 ? 0xFFFFFFFFu : 0xFFFFu;
        const std::uint32_t signBit = field.width == 4 ? 0x80000000u : 0x8000u;
        std::set<std::uint32_t> values = {
            0,  1,  all, signBit - 1, signBit, right, right + 1, right - 1, (0u - right) & all,
            64, 32, 80,  40,          1078,    6198,  2358,      5120,      1280};
        if (field.width == 4) {
            values.insert(right + 0x10000);
            values.insert(right | 0xFFFF0000u);
        }
        for (std::uint32_t value : values)
            files.push_back({std::string(field.name) + "=" + hex(value & all),
                             written(valid, field, value & all)});
    }

    // Each header byte at its extremes and next to its value.
    for (std::size_t offset = 0; offset < std::max(headerEnd, kWindows3HeaderEnd); ++offset) {
        const std::uint8_t right = valid[offset];
        const std::set<std::uint8_t> values = {0x00, 0xFF, static_cast<std::uint8_t>(right + 1),
                                               static_cast<std::uint8_t>(right - 1)};
        for (std::uint8_t value : values) {
            if (value == right) continue;
            Bytes bytes(valid.begin(), valid.end());
            bytes[offset] = value;
            files.push_back({"byte" + std::to_string(offset) + "=" + hex(value), std::move(bytes)});
        }
    }

    // Cut short at every offset of the headers and the colour table, at the
    // edges of the pixel rows and throughout the pixels; one and two bytes
    // longer.
    const std::uint32_t width = windows ? read(valid, kFields[6]) : read(valid, {"bcWidth", 18, 2});
    std::set<std::size_t> lengths;
    for (std::size_t length = 0; length <= pixelOffset; ++length) lengths.insert(length);
    for (std::size_t length :
         {pixelOffset + 1, pixelOffset + width, pixelOffset + width + 1,
          (pixelOffset + valid.size()) / 2, valid.size() - width, valid.size() - 1})
        lengths.insert(length);
    const std::size_t step = std::max<std::size_t>(1, (valid.size() - pixelOffset) / kPixelCuts);
    for (std::size_t length = pixelOffset; length < valid.size(); length += step)
        lengths.insert(length);
    for (std::size_t length : lengths)
        files.push_back(
            {"cut at " + std::to_string(length),
             Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length))});
    for (std::size_t extra : {1, 2}) {
        Bytes bytes(valid.begin(), valid.end());
        bytes.resize(bytes.size() + extra, 0x5A);
        files.push_back({"longer by " + std::to_string(extra), std::move(bytes)});
    }

    // The first runs of a compressed stream: counts that reach and pass the
    // row's end, escapes (end of row, end of picture, jump, literals) where
    // a run was, and values past a short palette.
    if (compression == kRle8 || compression == kRle4) {
        const std::set<std::uint32_t> counts = {0, 1, 2, 3, width - 1, width, width + 1, 255};
        for (std::size_t pair = 0; pair < kRunsVaried; ++pair) {
            const std::size_t at = pixelOffset + 2 * pair;
            if (at + 1 >= valid.size()) break;
            for (std::uint32_t count : counts) {
                Bytes bytes(valid.begin(), valid.end());
                bytes[at] = static_cast<std::uint8_t>(count);
                files.push_back({"run " + std::to_string(pair) + " count=" + hex(count), bytes});
                bytes[at + 1] = 0xFF;
                files.push_back(
                    {"run " + std::to_string(pair) + " count=" + hex(count) + " value=0xff",
                     std::move(bytes)});
            }
        }
    }
    return files;
}

}  // namespace pelloran::testing
