#include "demo_archives.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace pelloran::demo {

namespace {

using archive::kLargeLayout;
using archive::Slot;

constexpr int kWidth = 64;
constexpr int kHeight = 80;

// Palette entries the drawing uses. Everything else is a smooth ramp, so
// every entry holds a colour of this number's own.
enum Ink : std::uint8_t {
    kBackground = 0,  // 0..63, a vertical gradient
    kSkin = 64,       // 64..79, light to dark
    kHair = 80,       // 80..95
    kRobe = 96,       // 96..111
    kEye = 112,
    kWhite = 113,
    kMouth = 114,
    kPlate = 115,
    kDigit = 116,
};

struct Rgb {
    std::uint8_t r, g, b;
};

Rgb hsv(double hue, double saturation, double value)
{
    hue = std::fmod(hue, 1.0) * 6.0;
    const int sector = static_cast<int>(hue);
    const double f = hue - sector;
    const double p = value * (1 - saturation);
    const double q = value * (1 - saturation * f);
    const double t = value * (1 - saturation * (1 - f));
    double r = value, g = t, b = p;
    switch (sector % 6) {
        case 1:
            r = q, g = value, b = p;
            break;
        case 2:
            r = p, g = value, b = t;
            break;
        case 3:
            r = p, g = q, b = value;
            break;
        case 4:
            r = t, g = p, b = value;
            break;
        case 5:
            r = value, g = p, b = q;
            break;
        default:
            break;
    }
    auto byte = [](double v) { return static_cast<std::uint8_t>(std::lround(v * 255)); };
    return {byte(r), byte(g), byte(b)};
}

std::array<Rgb, 256> paletteFor(int number)
{
    // The golden ratio spreads neighbouring numbers far apart on the colour wheel.
    const double hue = std::fmod(number * 0.6180339887, 1.0);
    std::array<Rgb, 256> palette{};
    for (int i = 0; i < 64; ++i) palette[kBackground + i] = hsv(hue, 0.45, 0.25 + 0.6 * i / 63.0);
    const double skinHue = 0.06 + 0.03 * ((number * 7) % 5) / 4.0;
    for (int i = 0; i < 16; ++i)
        palette[kSkin + i] = hsv(skinHue, 0.35 + 0.02 * i, 0.98 - 0.03 * i);
    const double hairValue = 0.15 + 0.5 * ((number * 3) % 7) / 6.0;
    for (int i = 0; i < 16; ++i)
        palette[kHair + i] = hsv(hue + 0.08, 0.4, hairValue * (1 - 0.03 * i));
    for (int i = 0; i < 16; ++i) palette[kRobe + i] = hsv(hue + 0.5, 0.7, 0.85 - 0.035 * i);
    palette[kEye] = {20, 16, 12};
    palette[kWhite] = {250, 250, 245};
    palette[kMouth] = hsv(0.98, 0.6, 0.7);
    palette[kPlate] = {16, 16, 24};
    palette[kDigit] = {255, 236, 120};
    for (int i = kDigit + 1; i < 256; ++i) palette[i] = hsv(hue + i / 256.0, 0.5, 0.5);
    return palette;
}

// Three by five digits, one row per entry, the high bit on the left.
constexpr std::array<std::array<std::uint8_t, 5>, 10> kDigits = {{
    {7, 5, 5, 5, 7},
    {2, 6, 2, 2, 7},
    {7, 1, 7, 4, 7},
    {7, 1, 3, 1, 7},
    {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7},
    {7, 1, 2, 2, 2},
    {7, 5, 7, 5, 7},
    {7, 5, 7, 1, 7},
}};

class Canvas {
public:
    void set(int x, int y, std::uint8_t ink)
    {
        if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) pixels[y * kWidth + x] = ink;
    }
    // Fills the ellipse around (cx, cy); shade() picks the ink by the
    // distance from the centre, 0 in the middle to 1 at the rim.
    template <class Shade>
    void ellipse(double cx, double cy, double rx, double ry, Shade shade)
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
                const double d = dx * dx + dy * dy;
                if (d <= 1.0) set(x, y, shade(std::sqrt(d)));
            }
    }
    void rect(int x0, int y0, int w, int h, std::uint8_t ink)
    {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) set(x, y, ink);
    }
    // Digits at twice their size, on even coordinates, so that the half-size
    // portrait keeps them whole.
    void number(int value, int y0)
    {
        const std::string text = std::to_string(value);
        const int width = static_cast<int>(text.size()) * 8 - 2;
        const int x0 = (kWidth - width) / 2 & ~1;
        rect(x0 - 2, y0 - 2, width + 4, 14, kPlate);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto& glyph = kDigits[static_cast<std::size_t>(text[i] - '0')];
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (glyph[row] >> (2 - col) & 1)
                        rect(x0 + static_cast<int>(i) * 8 + 2 * col, y0 + 2 * row, 2, 2, kDigit);
        }
    }

    std::array<std::uint8_t, kWidth * kHeight> pixels{};
};

Canvas drawLarge(int number)
{
    Canvas canvas;
    for (int y = 0; y < kHeight; ++y)
        canvas.rect(0, y, kWidth, 1,
                    static_cast<std::uint8_t>(kBackground + y * 63 / (kHeight - 1)));

    const int style = number % 4;  // hair, hat or helmet
    const auto shaded = [](std::uint8_t base) {
        return [base](double d) {
            return static_cast<std::uint8_t>(base + std::min(15.0, d * d * 15));
        };
    };
    // Shoulders and robe.
    canvas.ellipse(32, 84, 30, 22, shaded(kRobe));
    canvas.rect(28, 56, 8, 8, kSkin + 6);  // neck
    // Hair behind the face.
    if (style != 3) canvas.ellipse(32, 28, 19, 19 + style * 2, shaded(kHair));
    canvas.ellipse(32, 36, 15, 19, shaded(kSkin));
    // Headgear: a cap, a helmet with a crest, or a plain forehead.
    if (style == 1) canvas.ellipse(32, 20, 17, 9, shaded(kRobe));
    if (style == 3) {
        canvas.ellipse(32, 22, 18, 12, shaded(kHair + 4));
        canvas.rect(31, 6, 2, 8, kMouth);
    }
    // Eyes, brows, nose, mouth, and a beard for every third officer.
    for (int side : {-1, 1}) {
        canvas.rect(32 + side * 7 - 2, 33, 5, 2, kWhite);
        canvas.rect(32 + side * 7 - 1, 33, 2, 2, kEye);
        canvas.rect(32 + side * 7 - 3, 30, 6, 1, kHair);
    }
    canvas.rect(31, 37, 2, 5, kSkin + 10);
    canvas.rect(28, 45, 8, 2, kMouth);
    if (number % 3 == 0) canvas.ellipse(32, 50, 8, 6, shaded(kHair));
    canvas.number(number, 64);
    return canvas;
}

// The small archive holds the same figure at half size, with its palette in
// another order: each record's palette is its own.
constexpr std::uint8_t kSmallPaletteShift = 128;

}  // namespace

std::vector<std::uint8_t> demoRecord(Slot slot, int number)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const Canvas canvas = drawLarge(number);
    const auto palette = paletteFor(number);
    const std::uint8_t shift = slot == Slot::Large ? 0 : kSmallPaletteShift;
    const int step = kLargeLayout.width / layout.width;

    std::vector<std::uint8_t> record;
    record.reserve(layout.recordSize);
    for (int y = 0; y < layout.height(); ++y)
        for (int x = 0; x < layout.width; ++x)
            record.push_back(
                static_cast<std::uint8_t>(canvas.pixels[y * step * kWidth + x * step] + shift));
    for (int e = 0; e < archive::kPaletteEntries; ++e) {
        const Rgb& colour = palette[static_cast<std::uint8_t>(e - shift)];
        record.insert(record.end(), {colour.b, colour.g, colour.r, 0});
    }
    return record;
}

std::vector<std::uint8_t> demoArchive(Slot slot)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    std::vector<std::uint8_t> archive;
    archive.reserve(archive::fullArchiveSize(layout));
    // What precedes the records is the game's business; any bytes will do,
    // as long as they are not zeros that would hide a stray write.
    for (std::uint32_t i = 0; i < layout.base; ++i)
        archive.push_back(static_cast<std::uint8_t>(i * 31 + 7));
    for (int number = archive::kFirstNumber; number <= archive::kLastNumber; ++number) {
        const auto record = demoRecord(slot, number);
        archive.insert(archive.end(), record.begin(), record.end());
    }
    return archive;
}

fileio::Result<void> writeDemoArchives(const std::filesystem::path& folder, fileio::FileSystem& fs)
{
    for (auto [slot, name] :
         {std::pair{Slot::Large, "GRPFACES.S10"}, std::pair{Slot::Small, "GRPFACET.S10"}}) {
        if (auto written = fileio::replaceFile(fs, folder / name, demoArchive(slot)); !written)
            return written;
    }
    return {};
}

}  // namespace pelloran::demo
