// Bitmaps that painting and conversion programs wrote (tests/data/foreign,
// made by its make-foreign-bitmaps script), and our exported bitmaps read by
// Pillow. A user edits an exported portrait elsewhere and imports it again,
// so what those programs write must become exactly the record the mapping
// rule names, or be refused for what is wrong with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "bitmap/import.h"
#include "demo_archives.h"
#include "session/session.h"
#include "support/pillow_reader.h"
#include "support/test_files.h"

namespace pelloran {
namespace {

using archive::Slot;
using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kForeignDir = std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign";

// The pattern the fixtures were drawn with: index (x + 37 y) mod colours at
// column x, row y from the top; entry i is red i, green 255 - i, blue
// (7 i + 50) mod 256. The greyscale fixture has entry i = grey level i, with
// i also in the reserved byte. The 16-bit fixtures' 128 entries hold 5-bit
// levels, red kLevels16[i mod 9], green kGreens16[i / 81], blue
// kLevels16[i / 9 mod 9], each widened as v << 3 | v >> 2: colours that
// 5-5-5 and 5-6-5 pixels hold exactly. Entries past the colours drawn are
// black.
enum class Palette { Colours, Greys, Colours16 };
constexpr std::uint32_t kLevels16[] = {0, 4, 8, 12, 16, 20, 24, 28, 31};
constexpr std::uint32_t kGreens16[] = {0, 28};
// Whether the program kept the palette's order or made its own.
enum class Order { AsDrawn, Reordered };

constexpr int kTrueColour = 0;
// The rectangle the editing programs drew (left, top, right, bottom,
// inclusive) and its colour, 0xRRGGBB.
constexpr int kEdit[] = {2, 3, 9, 7};
constexpr std::uint32_t kEditColour = 0x123456;

struct AcceptedCase {
    const char* file;
    Slot slot;
    int colours = 256;  // of the pattern drawn
    int defined = 256;  // palette entries the file defines; kTrueColour for none
    Order order = Order::AsDrawn;
    Palette palette = Palette::Colours;
    // Indexed files replace the record of this number; true-colour files the
    // pattern's own record, as after an export, an edit and a save elsewhere.
    int number = 1;
    bool edited = false;  // the rectangle drawn over the pattern
};

struct RefusedCase {
    const char* file;
    bitmap::Check check;
    bitmap::DecodeFault fault;
    std::int64_t found = 0;
};

void PrintTo(const AcceptedCase& c, std::ostream* os)
{
    *os << c.file;
}
void PrintTo(const RefusedCase& c, std::ostream* os)
{
    *os << c.file;
}

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    std::string name = std::filesystem::path(info.param.file).stem().string();
    std::ranges::replace(name, '-', '_');
    return name;
}

Bytes fixture(const char* file)
{
    return testing::readFile(kForeignDir / file);
}

std::uint32_t patternColour(Palette palette, int entry, int colours)
{
    if (entry >= colours) return 0;
    const auto e = static_cast<std::uint32_t>(entry);
    if (palette == Palette::Greys) return e << 16 | e << 8 | e;
    if (palette == Palette::Colours16) {
        const auto widen = [](std::uint32_t v) { return v << 3 | v >> 2; };
        return widen(kLevels16[e % 9]) << 16 | widen(kGreens16[e / 81]) << 8 |
               widen(kLevels16[e / 9 % 9]);
    }
    return e << 16 | (255 - e) << 8 | (7 * e + 50) % 256;
}

void putEntry(Bytes& record, std::size_t at, std::uint32_t colour)
{
    record[at] = static_cast<std::uint8_t>(colour);
    record[at + 1] = static_cast<std::uint8_t>(colour >> 8);
    record[at + 2] = static_cast<std::uint8_t>(colour >> 16);
}

// The record the pattern was exported from: demo record `number` with the
// pattern's pixels and its colours in the first entries; the entries past
// them keep the demo's bytes.
Bytes patternRecord(const AcceptedCase& c)
{
    const archive::SlotLayout& layout = archive::layoutOf(c.slot);
    Bytes record = demo::demoRecord(c.slot, c.number);
    for (int y = 0; y < layout.height(); ++y)
        for (int x = 0; x < layout.width; ++x)
            record[static_cast<std::size_t>(y * layout.width + x)] =
                static_cast<std::uint8_t>((x + 37 * y) % c.colours);
    for (int e = 0; e < c.colours; ++e) {
        const std::size_t at = layout.pixelBlockSize() + 4 * static_cast<std::size_t>(e);
        putEntry(record, at, patternColour(c.palette, e, c.colours));
        record[at + 3] = c.palette == Palette::Greys ? static_cast<std::uint8_t>(e) : 0;
    }
    return record;
}

// The record the file should become, given the record it was exported from:
// that record itself wherever the picture's colours are its own, whatever the
// program did to the palette. A file that keeps the record's palette order
// also writes the entries it defines past the pattern's (the program fills
// them with black); the edit's new colour takes the lowest entry no pixel uses.
Bytes expectedRecord(const AcceptedCase& c, const Bytes& current)
{
    const archive::SlotLayout& layout = archive::layoutOf(c.slot);
    Bytes record = current;
    if (c.order == Order::AsDrawn && c.defined != kTrueColour)
        for (int e = c.colours; e < c.defined; ++e) {
            const std::size_t at = layout.pixelBlockSize() + 4 * static_cast<std::size_t>(e);
            putEntry(record, at, 0);
            record[at + 3] = 0;
        }
    if (c.edited) {
        for (int y = kEdit[1]; y <= kEdit[3]; ++y)
            for (int x = kEdit[0]; x <= kEdit[2]; ++x)
                record[static_cast<std::size_t>(y * layout.width + x)] =
                    static_cast<std::uint8_t>(c.colours);
        putEntry(record, layout.pixelBlockSize() + 4 * static_cast<std::size_t>(c.colours),
                 kEditColour);
    }
    return record;
}

// The whole demo archive of a slot, made once: it is 5 MB.
const Bytes& demoArchive(Slot slot)
{
    static const std::array archives{demo::demoArchive(Slot::Large),
                                     demo::demoArchive(Slot::Small)};
    return archives[slot == Slot::Large ? 0 : 1];
}

class ForeignBitmapAccepted : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(ForeignBitmapAccepted, BecomesTheRecordItWasExportedFromChangedOnlyWhereItsColoursAre)
{
    const AcceptedCase& c = GetParam();
    const archive::SlotLayout& layout = archive::layoutOf(c.slot);
    const Bytes current = patternRecord(c);
    const auto imported = bitmap::importBitmap(fixture(c.file), {current, current});
    ASSERT_TRUE(imported) << "refused";
    ASSERT_EQ(imported->slot, c.slot);
    const Bytes& record = imported->record;
    const auto [differs, _] = std::ranges::mismatch(record, expectedRecord(c, current));
    ASSERT_EQ(differs, record.end()) << "first wrong byte at " << (differs - record.begin());

    testing::TempDir dir;
    const auto archivePath = dir / "archive.S10";
    Bytes archive = demoArchive(c.slot);
    testing::writeFile(archivePath, archive);
    const std::uint64_t offset = archive::recordOffset(layout, c.number);
    ASSERT_TRUE(archive::writeRecord(fileio::nativeFileSystem(), archivePath, offset, record));
    std::ranges::copy(record, archive.begin() + static_cast<std::ptrdiff_t>(offset));
    EXPECT_TRUE(testing::readFile(archivePath) == archive) << "more than the record changed";
}

constexpr Slot L = Slot::Large;
constexpr Slot S = Slot::Small;
constexpr Order kReordered = Order::Reordered;

// A 128-colour pattern with the rectangle drawn over it, saved in true colour.
constexpr AcceptedCase edited(const char* file, Slot slot)
{
    return {.file = file, .slot = slot, .colours = 128, .defined = kTrueColour, .edited = true};
}

// The 16-bit pattern saved with 16 bits per pixel.
constexpr AcceptedCase sixteen(const char* file, Slot slot)
{
    return {.file = file,
            .slot = slot,
            .colours = 128,
            .defined = kTrueColour,
            .palette = Palette::Colours16};
}

const AcceptedCase kAccepted[] = {
    // The exported format: 8 bits, 40-byte header, 256 entries, pixels at 1078.
    {.file = "pillow-p-64x80.bmp", .slot = L, .number = 57},
    {.file = "pillow-p-32x40.bmp", .slot = S, .number = 832},
    {.file = "pillow-l-32x40.bmp", .slot = S, .palette = Palette::Greys},
    {.file = "imagemagick-bmp3-64x80.bmp", .slot = L, .number = 832},
    {.file = "imagemagick-bmp3-32x40.bmp", .slot = S, .number = 57},
    {.file = "imagemagick-bmp3-128-colours-64x80.bmp", .slot = L, .colours = 128, .number = 723},
    {.file = "ffmpeg-pal8-64x80.bmp", .slot = L},
    {.file = "ffmpeg-pal8-32x40.bmp", .slot = S},
    // 124-byte header.
    {.file = "gimp-64x80.bmp", .slot = L, .number = 400},
    {.file = "gimp-32x40.bmp", .slot = S, .number = 400},
    {.file = "imagemagick-bmp5-64x80.bmp", .slot = L},
    {.file = "imagemagick-bmp5-32x40.bmp", .slot = S},
    // Made from GIMP's and ImageMagick's files: 108-, 56- and 52-byte headers.
    {.file = "gimp-as-v4-header-64x80.bmp", .slot = L},
    {.file = "gimp-as-v4-header-32x40.bmp", .slot = S},
    // RLE8, 40- and 124-byte headers.
    {.file = "graphicsmagick-rle8-64x80.bmp", .slot = L, .number = 5},
    {.file = "graphicsmagick-rle8-32x40.bmp", .slot = S, .number = 5},
    {.file = "imagemagick-rle8-bmp3-64x80.bmp", .slot = L},
    {.file = "imagemagick-rle8-bmp3-32x40.bmp", .slot = S},
    {.file = "imagemagick-rle8-bmp5-64x80.bmp", .slot = L},
    {.file = "imagemagick-rle8-bmp5-32x40.bmp", .slot = S},
    {.file = "gimp-rle8-64x80.bmp", .slot = L},
    {.file = "gimp-rle8-32x40.bmp", .slot = S},
    // OS/2 header, three-byte entries.
    {.file = "imagemagick-os2-64x80.bmp", .slot = L, .number = 9},
    {.file = "imagemagick-os2-32x40.bmp", .slot = S, .number = 9},
    {.file = "netpbm-os2-64x80.bmp", .slot = L, .order = kReordered},
    {.file = "netpbm-os2-32x40.bmp", .slot = S, .order = kReordered},
    // Short or reordered palettes.
    {.file = "pillow-p-128-colours-64x80.bmp", .slot = L, .colours = 128, .defined = 128},
    {"gimp-reindexed-128-colours-64x80.bmp", L, 128, 128, kReordered},
    {"gimp-reindexed-128-colours-32x40.bmp", S, 128, 128, kReordered},
    {"pillow-quantize-128-colours-64x80.bmp", L, 128, 256, kReordered},
    {"pillow-quantize-128-colours-32x40.bmp", S, 128, 256, kReordered},
    {"netpbm-128-colours-64x80.bmp", L, 128, 256, kReordered},
    {"netpbm-128-colours-32x40.bmp", S, 128, 256, kReordered},
    // 1 and 4 bits, RLE4.
    {.file = "gimp-1bit-2-colours-64x80.bmp", .slot = L, .colours = 2, .defined = 2},
    {.file = "gimp-1bit-2-colours-32x40.bmp", .slot = S, .colours = 2, .defined = 2},
    {.file = "gimp-4bit-16-colours-64x80.bmp", .slot = L, .colours = 16, .defined = 16},
    {.file = "gimp-4bit-16-colours-32x40.bmp", .slot = S, .colours = 16, .defined = 16},
    {.file = "imagemagick-4bit-16-colours-64x80.bmp", .slot = L, .colours = 16, .defined = 16},
    {.file = "imagemagick-4bit-16-colours-32x40.bmp", .slot = S, .colours = 16, .defined = 16},
    {.file = "gimp-rle4-16-colours-64x80.bmp", .slot = L, .colours = 16, .defined = 16},
    {.file = "gimp-rle4-16-colours-32x40.bmp", .slot = S, .colours = 16, .defined = 16},
    // Our own streams: literal runs padded from an odd number of bytes, and
    // RLE4 runs of two different pixels.
    {.file = "encoded-rle8-odd-literals-64x80.bmp", .slot = L},
    {.file = "encoded-rle8-odd-literals-32x40.bmp", .slot = S},
    {.file = "encoded-rle4-pairs-16-colours-64x80.bmp", .slot = L, .colours = 16, .defined = 16},
    {.file = "encoded-rle4-pairs-16-colours-32x40.bmp", .slot = S, .colours = 16, .defined = 16},
    // Rows top row first.
    {.file = "top-down-64x80.bmp", .slot = L},
    {.file = "top-down-32x40.bmp", .slot = S},
    // True colour: 24 bits, 32 bits plain, 32-bit bit fields (124, 56 and
    // 52-byte headers); the edited ones add a colour.
    {.file = "pillow-rgb-64x80.bmp", .slot = L, .defined = kTrueColour},
    {.file = "pillow-rgb-32x40.bmp", .slot = S, .defined = kTrueColour},
    {.file = "pillow-rgba-64x80.bmp", .slot = L, .defined = kTrueColour},
    {.file = "pillow-rgba-32x40.bmp", .slot = S, .defined = kTrueColour},
    {.file = "gimp-rgb-64x80.bmp", .slot = L, .defined = kTrueColour},
    {.file = "gimp-rgb-32x40.bmp", .slot = S, .defined = kTrueColour},
    {.file = "ffmpeg-bgr24-64x80.bmp", .slot = L, .defined = kTrueColour},
    {.file = "ffmpeg-bgr24-32x40.bmp", .slot = S, .defined = kTrueColour},
    {.file = "ffmpeg-bgra-64x80.bmp", .slot = L, .defined = kTrueColour},
    {.file = "ffmpeg-bgra-32x40.bmp", .slot = S, .defined = kTrueColour},
    {.file = "netpbm-24bit-64x80.bmp", .slot = L, .defined = kTrueColour},
    {.file = "netpbm-24bit-32x40.bmp", .slot = S, .defined = kTrueColour},
    edited("imagemagick-edit-24bit-128-colours-64x80.bmp", L),
    edited("imagemagick-edit-24bit-128-colours-32x40.bmp", S),
    edited("imagemagick-edit-32bit-128-colours-64x80.bmp", L),
    edited("imagemagick-edit-32bit-128-colours-32x40.bmp", S),
    edited("imagemagick-edit-as-56-byte-header-64x80.bmp", L),
    edited("imagemagick-edit-as-56-byte-header-32x40.bmp", S),
    edited("imagemagick-edit-as-52-byte-header-64x80.bmp", L),
    edited("imagemagick-edit-as-52-byte-header-32x40.bmp", S),
    // 16 bits: 5-6-5 and X1R5G5B5 with bit fields, 5-5-5 without them.
    sixteen("imagemagick-rgb555-16bit-64x80.bmp", L),
    sixteen("imagemagick-rgb555-16bit-32x40.bmp", S),
    sixteen("imagemagick-rgb565-16bit-64x80.bmp", L),
    sixteen("imagemagick-rgb565-16bit-32x40.bmp", S),
    sixteen("gimp-rgb565-16bit-64x80.bmp", L),
    sixteen("gimp-rgb565-16bit-32x40.bmp", S),
    sixteen("gimp-xrgb1555-16bit-64x80.bmp", L),
    sixteen("gimp-xrgb1555-16bit-32x40.bmp", S),
    sixteen("imagemagick-rgb555-as-no-bit-fields-16bit-64x80.bmp", L),
    sixteen("imagemagick-rgb555-as-no-bit-fields-16bit-32x40.bmp", S),
};

// ffmpeg's 16-bit files: its conversion changes the colours, so they are
// compared with Pillow only.
const AcceptedCase kPillowOnly[] = {
    sixteen("ffmpeg-rgb555-16bit-64x80.bmp", L),
    sixteen("ffmpeg-rgb555-16bit-32x40.bmp", S),
    sixteen("ffmpeg-rgb565-16bit-64x80.bmp", L),
    sixteen("ffmpeg-rgb565-16bit-32x40.bmp", S),
};

INSTANTIATE_TEST_SUITE_P(Foreign, ForeignBitmapAccepted, ::testing::ValuesIn(kAccepted),
                         caseName<AcceptedCase>);

class ForeignBitmapRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ForeignBitmapRefused, GetsItsCheckAndWhatWasFound)
{
    const RefusedCase& c = GetParam();
    // Through the session's door, where PNG files are told from BMP files.
    const auto checked =
        session::checkImportBytes(fixture(c.file), c.file, {}, session::Colours::Refuse, nullptr);
    ASSERT_FALSE(checked) << "taken";
    const auto* refused = std::get_if<session::ImportRefusal>(&checked.error());
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->refusal.check, c.check);
    EXPECT_EQ(refused->refusal.found.fault, c.fault);
    EXPECT_EQ(refused->refusal.found.found, c.found);
}

using bitmap::Check;
using bitmap::DecodeFault;
INSTANTIATE_TEST_SUITE_P(
    Foreign, ForeignBitmapRefused,
    ::testing::Values(
        RefusedCase{"pillow-p-64x40.bmp", Check::Format, DecodeFault::NotPortraitSize},
        RefusedCase{"pillow-p-32x80.bmp", Check::Format, DecodeFault::NotPortraitSize},
        RefusedCase{"pillow-p-48x80.bmp", Check::Width, DecodeFault::NotPortraitSize},
        RefusedCase{"pillow-p-64x64.bmp", Check::Height, DecodeFault::NotPortraitSize},
        // Cut in the middle of the pixel rows: the file ends at byte 3722.
        RefusedCase{"gimp-truncated-64x80.bmp", Check::Format, DecodeFault::Truncated, 3722},
        // The first run is 33 pixels in a row of 32, at the pixel offset.
        RefusedCase{"imagemagick-rle8-run-past-picture-32x40.bmp", Check::Format,
                    DecodeFault::RunPastPicture, 1078},
        RefusedCase{"gimp-reindexed-index-beyond-palette-64x80.bmp", Check::Format,
                    DecodeFault::IndexBeyondPalette, 200},
        // PNG files refused by our own check before any PNG library sees
        // them: cut in half, a byte of the chunk at 813 changed, 30000 x
        // 30000 pixels in a valid 65-byte file.
        RefusedCase{"pillow-truncated-64x80.png", Check::Format, DecodeFault::Truncated, 715},
        RefusedCase{"pillow-damaged-64x80.png", Check::Format, DecodeFault::DamagedPng, 813},
        RefusedCase{"made-30000x30000.png", Check::Width, DecodeFault::NotPortraitSize}),
    caseName<RefusedCase>);

// Pillow, an independent reader, sees in every accepted file the colour our
// decoder gives each pixel and, where both read a palette, the same index.
TEST(ForeignBitmapPillow, SeesTheDecodedIndicesAndColours)
{
    if (!testing::pillowAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with PIL is not installed (Debian: python3-pil)";
    std::vector<AcceptedCase> cases(std::begin(kAccepted), std::end(kAccepted));
    cases.insert(cases.end(), std::begin(kPillowOnly), std::end(kPillowOnly));
    std::vector<std::filesystem::path> paths;
    for (const AcceptedCase& c : cases) paths.push_back(kForeignDir / c.file);
    const auto pillow = testing::readWithPillow(paths);
    int compared = 0;
    for (const AcceptedCase& c : cases) {
        SCOPED_TRACE(c.file);
        const auto& seen = pillow.at(kForeignDir / c.file);
        // Pillow 9.4 reads neither of the two shortest headers with masks.
        if (std::string(c.file).find("-byte-header-") != std::string::npos) {
            EXPECT_NE(seen.error.find("Unsupported BMP header type"), std::string::npos);
            continue;
        }
        ASSERT_EQ(seen.error, "");
        const auto picture = bitmap::decodeBmp(fixture(c.file));
        ASSERT_TRUE(picture);
        ASSERT_EQ(seen.width, picture->width);
        ASSERT_EQ(seen.height, picture->height);
        for (std::size_t i = 0; i < seen.colours.size(); ++i) {
            const bitmap::Colour colour =
                picture->indexed() ? bitmap::Colour{picture->palette[picture->indices[i]].red,
                                                    picture->palette[picture->indices[i]].green,
                                                    picture->palette[picture->indices[i]].blue}
                                   : picture->colours[i];
            const std::uint32_t ours =
                std::uint32_t{colour.red} << 16 | colour.green << 8 | colour.blue;
            if (c.palette == Palette::Colours16) {
                // Pillow 9.4 widens a 5- or 6-bit channel as v * 255 / max
                // rounded down, which is ours or one below.
                for (int shift : {16, 8, 0}) {
                    const int difference = static_cast<int>(ours >> shift & 0xFF) -
                                           static_cast<int>(seen.colours[i] >> shift & 0xFF);
                    ASSERT_TRUE(difference == 0 || difference == 1) << "pixel " << i;
                }
            } else {
                ASSERT_EQ(ours, seen.colours[i]) << "pixel " << i;
            }
            if (seen.mode == "P" && picture->indexed()) {
                ASSERT_EQ(picture->indices[i], seen.indices[i]) << "pixel " << i;
            }
        }
        ++compared;
    }
    RecordProperty("compared_with_pillow", compared);
}

// Our exported files as Pillow sees them: every pixel must have the index
// and the colour of the record the preview paints.
TEST(PillowReadBack, SeesTheExportedRecordsIndicesAndColours)
{
    if (!testing::pillowAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with PIL is not installed (Debian: python3-pil)";
    struct Exported {
        Slot slot;
        int number;
    };
    const Exported exports[] = {{L, 57}, {S, 57}, {L, 832}, {S, 1}};
    testing::TempDir dir;
    std::vector<std::filesystem::path> paths;
    for (const auto& [slot, number] : exports) {
        paths.push_back(dir / ("face" + std::to_string(paths.size()) + ".bmp"));
        testing::writeFile(paths.back(),
                           bitmap::encodeRecord(slot, demo::demoRecord(slot, number)));
    }
    const auto pillow = testing::readWithPillow(paths);
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const auto [slot, number] = exports[k];
        SCOPED_TRACE(::testing::Message()
                     << "number " << number << (slot == L ? " large" : " small"));
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        const Bytes record = demo::demoRecord(slot, number);
        archive::RgbPalette palette{};
        archive::decodePalette(std::span(record).subspan(layout.pixelBlockSize()), palette);
        const auto& seen = pillow.at(paths[k]);
        ASSERT_EQ(seen.mode, "P") << seen.error;
        ASSERT_EQ(seen.width, layout.width);
        ASSERT_EQ(seen.height, layout.height());
        for (std::size_t i = 0; i < layout.pixelBlockSize(); ++i) {
            const std::size_t index = record[i];
            ASSERT_EQ(seen.indices[i], record[i]) << "pixel " << i;
            ASSERT_EQ(seen.colours[i], std::uint32_t{palette[3 * index]} << 16 |
                                           palette[3 * index + 1] << 8 | palette[3 * index + 2])
                << "pixel " << i;
        }
    }
}

}  // namespace
}  // namespace pelloran
