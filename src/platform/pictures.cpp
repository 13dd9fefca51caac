#include "platform/pictures.h"

#include <libimagequant.h>
#include <QImage>

#include <memory>

#include "platform/png_file.h"

namespace pelloran::platform {

using bitmap::Colour;
using bitmap::PaletteEntry;
using bitmap::Picture;

namespace {

// Frees whichever of libimagequant's objects it is given.
struct Destroy {
    void operator()(liq_attr* attr) const { liq_attr_destroy(attr); }
    void operator()(liq_image* image) const { liq_image_destroy(image); }
    void operator()(liq_result* result) const { liq_result_destroy(result); }
};

}  // namespace

Picture pictureOf(const QImage& image, bool keepIndices)
{
    Picture picture{image.width(), image.height(), {}, {}, {}};
    const auto pixels = static_cast<std::size_t>(picture.width) * picture.height;
    if (keepIndices && image.colorCount() > 0) {
        // An indexed image keeps its palette's order and its indices; entries
        // are colours only (a portrait has no transparency).
        const QImage indexed = image.convertToFormat(QImage::Format_Indexed8);
        for (const QRgb colour : indexed.colorTable())
            picture.palette.push_back({static_cast<std::uint8_t>(qRed(colour)),
                                       static_cast<std::uint8_t>(qGreen(colour)),
                                       static_cast<std::uint8_t>(qBlue(colour)), 0});
        picture.indices.reserve(pixels);
        for (int y = 0; y < picture.height; ++y) {
            const uchar* row = indexed.constScanLine(y);
            picture.indices.insert(picture.indices.end(), row, row + picture.width);
        }
        return picture;
    }
    const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
    picture.colours.reserve(pixels);
    for (int y = 0; y < picture.height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < picture.width; ++x)
            picture.colours.push_back({static_cast<std::uint8_t>(qRed(row[x])),
                                       static_cast<std::uint8_t>(qGreen(row[x])),
                                       static_cast<std::uint8_t>(qBlue(row[x]))});
    }
    return picture;
}

std::optional<Picture> QtPictures::readPng(std::span<const std::uint8_t> file) const
{
    QImage image;
    if (!image.loadFromData(file.data(), static_cast<int>(file.size()), "PNG")) return std::nullopt;
    return pictureOf(image, true);
}

std::vector<std::uint8_t> QtPictures::writePng(const Picture& picture) const
{
    return platform::writePng(picture);
}

Picture QtPictures::reduceColours(const Picture& picture) const
{
    const auto pixels = static_cast<std::size_t>(picture.width) * picture.height;
    std::vector<std::uint8_t> rgba;
    rgba.reserve(4 * pixels);
    for (const Colour& colour : picture.colours)
        rgba.insert(rgba.end(), {colour.red, colour.green, colour.blue, 255});

    const std::unique_ptr<liq_attr, Destroy> attr(liq_attr_create());
    liq_set_max_colors(attr.get(), 256);
    // The slowest, most careful search: a portrait is small.
    liq_set_speed(attr.get(), 1);
    const std::unique_ptr<liq_image, Destroy> image(
        liq_image_create_rgba(attr.get(), rgba.data(), picture.width, picture.height, 0));
    liq_result* quantized = nullptr;
    if (!image || liq_image_quantize(image.get(), attr.get(), &quantized) != LIQ_OK) return {};
    const std::unique_ptr<liq_result, Destroy> result(quantized);
    // No dithering: scattered pixels of neighbouring colours would blur
    // pixel art.
    liq_set_dithering_level(result.get(), 0);

    Picture reduced{picture.width, picture.height, {}, std::vector<std::uint8_t>(pixels), {}};
    if (liq_write_remapped_image(result.get(), image.get(), reduced.indices.data(), pixels) !=
        LIQ_OK)
        return {};
    const liq_palette* palette = liq_get_palette(result.get());
    for (unsigned i = 0; i < palette->count; ++i)
        reduced.palette.push_back(
            {palette->entries[i].r, palette->entries[i].g, palette->entries[i].b, 0});
    return reduced;
}

}  // namespace pelloran::platform
