// Reading a BMP file as painting programs save it: the OS/2 and Windows info
// headers (12, 40, 52, 56, 108 and 124 bytes), 1, 4 and 8 bits with a colour
// table, 16, 24 and 32 bits of true colour (plain or with bit fields), RLE8 and
// RLE4, rows bottom-up or top-down. Only portrait-sized pictures are decoded:
// the size is checked from the header before anything is allocated.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

namespace pelloran::bitmap {

// One colour table entry. reserved is the file's fourth byte (0 where the
// format has three-byte entries): an exported file's colour table must come
// back byte for byte, reserved bytes included.
struct PaletteEntry {
    std::uint8_t red, green, blue, reserved;
    bool operator==(const PaletteEntry&) const = default;
};

struct Colour {
    std::uint8_t red, green, blue;
    bool operator==(const Colour&) const = default;
};

// A decoded picture, width x height, top row first. Indexed pictures have a
// palette (the entries the file defines, 1 to 256) and one index per pixel,
// each below the palette's length; true-colour pictures have no palette and
// one colour per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<PaletteEntry> palette;
    std::vector<std::uint8_t> indices;
    std::vector<Colour> colours;

    bool indexed() const { return !palette.empty(); }
};

// Why a file cannot be read, and what was found; `found` holds what each
// fault names.
enum class DecodeFault {
    NotABitmap,              // the file does not start with "BM"
    Truncated,               // found: the file's length; it ends before what its header promises
    UnsupportedHeader,       // found: the info header's size
    NotPortraitSize,         // the picture is width x height (below): not 64 x 80 or 32 x 40
    UnsupportedPlanes,       // found: the number of colour planes (a readable file has 1)
    UnsupportedDepth,        // found: bits per pixel
    UnsupportedCompression,  // found: the compression code (also one that does not fit the depth)
    BadBitFields,            // found: a channel mask that is 0, not one run of bits, or too wide
    BadPaletteLength,        // found: colours used, more than the depth can address
    PixelsInsideHeader,      // found: the pixel data offset, inside the headers or colour table
    RunPastPicture,          // found: the file offset of a compressed run that leaves the picture
    IndexBeyondPalette,      // found: the first such index; paletteLength: the entries there are
    DamagedPng,   // found: the offset of the PNG chunk whose check sum is wrong or that is out
                  // of place; 0 when the chunks are whole but the picture cannot be unpacked
    NoPngReader,  // a PNG file where no PNG reader is at hand
};

struct DecodeError {
    DecodeFault fault;
    std::int64_t found = 0;
    std::int64_t paletteLength = 0;
    // The size the header states (rows counted whatever their order), once
    // the header was read that far; 0 x 0 before.
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// Decodes a whole BMP file held in memory. Never reads outside file, never
// allocates more than a large portrait's worth, never throws.
std::expected<Picture, DecodeError> decodeBmp(std::span<const std::uint8_t> file);

// The size a PNG file states, once its chunks are whole and their check sums
// right (the header first, the end mark last). A PNG library told of a file
// cut short or damaged prints its own words; this check finds those files
// first, and a picture of the wrong size before anything is allocated for
// it. The picture data itself is not unpacked. Never reads outside file.
struct PictureSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};
std::expected<PictureSize, DecodeError> checkPng(std::span<const std::uint8_t> file);

}  // namespace pelloran::bitmap
