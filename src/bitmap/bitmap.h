// The BMP files portraits travel in: 8 bits per pixel, a 256-entry colour
// table, uncompressed, bottom row first. Export encodes them into a buffer,
// import checks and reads them from one; neither touches a file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "fileio/file.h"

namespace pelloran::bitmap {

inline constexpr std::size_t kHeaderSize = 54;  // file header 14 + info header 40
inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::size_t kPaletteOffset = kHeaderSize;
inline constexpr std::size_t kPixelDataOffset =
    kHeaderSize + archive::SlotLayout::kPaletteBlockSize;

// The size of an exported file of the slot: 6198 large, 2358 small.
constexpr std::size_t fileSize(const archive::SlotLayout& layout)
{
    return kPixelDataOffset + layout.pixelBlockSize();
}

using Header = std::array<std::uint8_t, kHeaderSize>;

// The header of a large portrait's file: export starts every file from it
// and the import check compares with it.
const Header& headerTemplate();

// The complete BMP file of one portrait record (pixels top row first, then
// the palette block): the template with the slot's size fields, the palette
// as blue, green, red, 0, and the rows bottom row first.
std::vector<std::uint8_t> encodeRecord(archive::Slot slot, std::span<const std::uint8_t> record);

// Where the small portrait goes when the large one is exported as path: the
// name less its last four characters, whatever they are, plus "T.BMP".
// Nothing when the name has fewer than four characters.
std::optional<std::filesystem::path> smallBitmapPath(const std::filesystem::path& largeBitmap);

}  // namespace pelloran::bitmap
