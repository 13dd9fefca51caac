// The BMP files portraits travel in: the bytes export writes, the files
// import accepts or refuses, and the record an accepted file turns into.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "bitmap/import.h"
#include "demo_archives.h"

namespace {

using namespace pelloran;
using archive::Slot;
using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& file, std::size_t offset, std::uint16_t value)
{
    file[offset] = static_cast<std::uint8_t>(value);
    file[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& file, std::size_t offset, std::uint32_t value)
{
    put16(file, offset, static_cast<std::uint16_t>(value));
    put16(file, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

Bytes largeHeader()
{
    Bytes header(bitmap::kHeaderSize, 0);
    const Bytes first = {0x42, 0x4D, 0x36, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x36, 0x04, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x40, 0x00,
                         0x00, 0x00, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00, 0x08, 0x00};
    std::ranges::copy(first, header.begin());
    header[35] = 0x14;
    return header;
}

Bytes smallHeader()
{
    Bytes header = largeHeader();
    header[3] = 0x09;
    header[18] = 0x20;
    header[22] = 0x28;
    header[35] = 0x05;
    return header;
}

// A palette whose red, green and blue all differ, so that a swapped channel shows.
archive::RgbPalette rampPalette()
{
    archive::RgbPalette palette{};
    for (int e = 0; e < archive::kPaletteEntries; ++e) {
        palette[3 * e] = static_cast<std::uint8_t>(e);
        palette[3 * e + 1] = static_cast<std::uint8_t>(e ^ 0xA5);
        palette[3 * e + 2] = static_cast<std::uint8_t>(255 - e);
    }
    return palette;
}

Bytes rampPixels(Slot slot)
{
    Bytes pixels(archive::layoutOf(slot).pixelBlockSize());
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i % 251);
    return pixels;
}

// The ramp pixels, then the ramp palette as blue, green, red and a reserved
// byte that is not 0, which the bitmap must not carry.
Bytes exported(Slot slot)
{
    Bytes record = rampPixels(slot);
    const archive::RgbPalette palette = rampPalette();
    for (int e = 0; e < archive::kPaletteEntries; ++e)
        record.insert(record.end(), {palette[3 * e + 2], palette[3 * e + 1], palette[3 * e], 0x77});
    return bitmap::encodeRecord(slot, record);
}

TEST(ExportedBitmap, HasItsSlotsHeaderSizeRowOrderAndPalette)
{
    const bitmap::Header header = bitmap::headerTemplate();
    EXPECT_EQ(Bytes(header.begin(), header.end()), largeHeader());

    struct Row {
        Slot slot;
        Bytes header;
        std::size_t size;
        std::size_t bottomLeft, topRight;  // indices of the pixels at offset 1078 and at the end
    };
    const Row rows[] = {
        {Slot::Large, largeHeader(), 6198, 5056, 63},
        {Slot::Small, smallHeader(), 2358, 1248, 31},
    };
    const archive::RgbPalette palette = rampPalette();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        const Bytes pixels = rampPixels(row.slot);
        const Bytes file = exported(row.slot);
        ASSERT_EQ(file.size(), row.size);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + bitmap::kHeaderSize), row.header);
        EXPECT_EQ(file[1078], pixels[row.bottomLeft]);
        EXPECT_EQ(file.back(), pixels[row.topRight]);
        for (int e = 0; e < archive::kPaletteEntries; ++e) {
            const std::size_t at = bitmap::kPaletteOffset + 4 * static_cast<std::size_t>(e);
            ASSERT_EQ(Bytes(file.begin() + at, file.begin() + at + 4),
                      (Bytes{palette[3 * e + 2], palette[3 * e + 1], palette[3 * e], 0}))
                << "palette entry " << e;
        }
    }
}

// A well-formed uncompressed bitmap of any shape and depth, as another
// program would write it: rows padded to four bytes, a colour table only
// up to 8 bits.
Bytes otherBitmap(std::uint32_t width, std::uint32_t height, std::uint16_t bits)
{
    const std::uint32_t rowBytes = (width * bits / 8 + 3) / 4 * 4;
    const std::uint32_t pixelOffset = 54 + (bits <= 8 ? 4u << bits : 0u);
    Bytes file(pixelOffset + rowBytes * height, 0x11);
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<std::uint32_t>(file.size()));
    put32(file, 6, 0);
    put32(file, 10, pixelOffset);
    put32(file, 14, 40);
    put32(file, 18, width);
    put32(file, 22, height);
    put16(file, 26, 1);
    put16(file, 28, bits);
    put32(file, 30, 0);
    put32(file, 34, rowBytes * height);
    std::fill(file.begin() + 38, file.begin() + 54, 0);
    return file;
}

template <class Edit>
Bytes edited(Bytes file, Edit edit)
{
    edit(file);
    return file;
}

const Bytes& largeFile()
{
    static const Bytes file = exported(Slot::Large);
    return file;
}

const Bytes& smallFile()
{
    static const Bytes file = exported(Slot::Small);
    return file;
}

Bytes prefix(const Bytes& file, std::size_t size)
{
    return {file.begin(), file.begin() + size};
}

TEST(ImportBitmap, ExportThenImportGivesBackPixelsAndColours)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        for (int number : {1, 57, 832}) {
            SCOPED_TRACE(::testing::Message() << layout.width << " wide, number " << number);
            // A record whose reserved palette bytes are not 0: the bitmap carries
            // the colours but writes its reserved bytes as 0.
            Bytes record = demo::demoRecord(slot, number);
            Bytes expected = record;
            for (std::size_t k = layout.pixelBlockSize() + 3; k < record.size(); k += 4) {
                record[k] = 0xEE;
                expected[k] = 0;
            }
            Bytes file = bitmap::encodeRecord(slot, record);
            // Whatever the record it replaces, and with bytes past the
            // pixels: rows are found from the pixel data's start.
            for (std::size_t extra : {std::size_t{0}, std::size_t{3} * layout.width}) {
                file.resize(bitmap::fileSize(layout) + extra, 0x77);
                const auto imported = bitmap::importBitmap(file, {record, record});
                ASSERT_TRUE(imported);
                EXPECT_EQ(imported->slot, slot);
                EXPECT_EQ(imported->record, expected);
            }
        }
    }
}

TEST(ImportBitmap, TakesAForeignFilesColourTableAsItStands)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        SCOPED_TRACE(layout.width);
        Bytes file = slot == Slot::Large ? largeFile() : smallFile();
        file[bitmap::kPaletteOffset + 3] = 0x5A;  // reserved byte of entry 0
        file[1077] = 0xAB;                        // reserved byte of entry 255

        // A record with the file's colours, its reserved bytes 0: the file
        // goes in by index, the colour table as it stands.
        Bytes current(layout.recordSize, 0);
        for (std::size_t e = 0; e < 256; ++e)
            std::copy_n(
                file.begin() + static_cast<std::ptrdiff_t>(bitmap::kPaletteOffset + 4 * e), 3,
                current.begin() + static_cast<std::ptrdiff_t>(layout.pixelBlockSize() + 4 * e));
        const auto imported = bitmap::importBitmap(file, {current, current});
        ASSERT_TRUE(imported);
        const Bytes& record = imported->record;
        EXPECT_TRUE(std::ranges::equal(std::span(record).subspan(layout.pixelBlockSize()),
                                       std::span(file).subspan(bitmap::kPaletteOffset, 1024)));
        EXPECT_EQ(record[layout.pixelBlockSize() + 3], 0x5A);
        EXPECT_EQ(record.back(), 0xAB);
        // Top-left pixel of the record is the first of the file's last row.
        EXPECT_EQ(record[0], file[file.size() - layout.width]);
        EXPECT_EQ(record[layout.pixelBlockSize() - 1], file[1078 + layout.width - 1]);
    }
}

// Files no program writes, each stopped at the stage that finds it wrong
// (cut files and wrong sizes: the hostile sweep).
struct DecodeRow {
    const char* name;
    std::function<Bytes()> file;
    bitmap::DecodeFault fault;
    std::int64_t found = 0;
};

void PrintTo(const DecodeRow& row, std::ostream* out)
{
    *out << row.name;
}

// A small file of the given depth and compression with pixel data as given.
Bytes withPixels(std::uint16_t bits, std::uint32_t compression, const Bytes& pixels,
                 std::uint32_t coloursUsed = 0)
{
    Bytes file = otherBitmap(32, 40, bits);
    file.resize(bits <= 8 ? 54 + 4 * (coloursUsed ? coloursUsed : 1u << bits) : 54);
    put32(file, 10, static_cast<std::uint32_t>(file.size()));
    put32(file, 30, compression);
    put32(file, 46, coloursUsed);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

Bytes withMasks(std::uint16_t bits, std::uint32_t red, std::uint32_t green, std::uint32_t blue)
{
    Bytes file = otherBitmap(32, 40, bits);
    file.insert(file.begin() + 54, 12, 0);
    put32(file, 10, 66);
    put32(file, 30, 3);
    put32(file, 54, red);
    put32(file, 58, green);
    put32(file, 62, blue);
    return file;
}

using bitmap::DecodeFault;
const DecodeRow kDecodeRows[] = {
    {"InfoHeaderOf64Bytes", [] { return edited(smallFile(), [](Bytes& f) { put32(f, 14, 64); }); },
     DecodeFault::UnsupportedHeader, 64},
    {"TwoPlanes", [] { return edited(smallFile(), [](Bytes& f) { put16(f, 26, 2); }); },
     DecodeFault::UnsupportedPlanes, 2},
    {"TwoBits", [] { return otherBitmap(32, 40, 2); }, DecodeFault::UnsupportedDepth, 2},
    {"JpegInside", [] { return withPixels(24, 4, {}); }, DecodeFault::UnsupportedCompression, 4},
    {"Rle4WithEightBits", [] { return withPixels(8, 2, {}); }, DecodeFault::UnsupportedCompression,
     2},
    {"BitFieldsWithEightBits", [] { return withPixels(8, 3, {}); },
     DecodeFault::UnsupportedCompression, 3},
    {"MoreColoursThanEightBitsAddress",
     [] { return edited(smallFile(), [](Bytes& f) { put32(f, 46, 257); }); },
     DecodeFault::BadPaletteLength, 257},
    {"PixelsInsideTheColourTable",
     [] { return edited(smallFile(), [](Bytes& f) { put32(f, 10, 1077); }); },
     DecodeFault::PixelsInsideHeader, 1077},
    {"MaskOfTwoRuns", [] { return withMasks(32, 0xFF00FF, 0xFF00, 0xFF); },
     DecodeFault::BadBitFields, 0xFF00FF},
    {"EmptyMask", [] { return withMasks(32, 0xFF0000, 0, 0xFF); }, DecodeFault::BadBitFields, 0},
    {"MaskPastA24BitPixel", [] { return withMasks(24, 0xFF000000, 0xFF00, 0xFF); },
     DecodeFault::BadBitFields, 0xFF000000},
    {"MaskPastA16BitPixel", [] { return withMasks(16, 0x1F0000, 0x7E0, 0x1F); },
     DecodeFault::BadBitFields, 0x1F0000},
    {"MasksCutShort", [] { return prefix(withMasks(32, 0xFF0000, 0xFF00, 0xFF), 60); },
     DecodeFault::Truncated, 60},
    {"Rle8RunLongerThanTheRow",
     [] {
         return withPixels(8, 1, {33, 5});
     },
     DecodeFault::RunPastPicture, 1078},
    {"Rle8LiteralPastTheRow",
     [] {
         return withPixels(8, 1, {30, 5, 0, 3, 1, 2, 3, 0});
     },
     DecodeFault::RunPastPicture, 1080},
    {"Rle8JumpPastTheLastRow",
     [] {
         return withPixels(8, 1, {0, 2, 0, 41});
     },
     DecodeFault::RunPastPicture, 1078},
    {"Rle8RowsPastTheLast",
     [] {
         Bytes runs;
         for (int row = 0; row < 41; ++row) runs.insert(runs.end(), {0, 0});
         return withPixels(8, 1, runs);
     },
     DecodeFault::RunPastPicture, 1078 + 80},
    {"Rle8WithoutItsEnd",
     [] {
         return withPixels(8, 1, {32, 5, 0, 0});
     },
     DecodeFault::Truncated, 1082},
    {"Rle8LiteralCutShort",
     [] {
         return withPixels(8, 1, {0, 5, 1, 2});
     },
     DecodeFault::Truncated, 1082},
    {"Rle8IndexPastAShortPalette",
     [] {
         return withPixels(8, 1, {3, 9, 0, 1}, 4);
     },
     DecodeFault::IndexBeyondPalette, 9},
    {"Rle4NibblePastAShortPalette",
     [] {
         return withPixels(4, 2, {0, 3, 0x12, 0x70, 0, 1}, 7);
     },
     DecodeFault::IndexBeyondPalette, 7},
};

class DecodeBmp : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeBmp, StopsAtTheFaultAndSaysWhatItFound)
{
    const auto decoded = bitmap::decodeBmp(GetParam().file());
    ASSERT_FALSE(decoded);
    EXPECT_EQ(static_cast<int>(decoded.error().fault), static_cast<int>(GetParam().fault));
    EXPECT_EQ(decoded.error().found, GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(Files, DecodeBmp, ::testing::ValuesIn(kDecodeRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeBmp, GivesTheSizeFoundAndThePaletteLength)
{
    const auto wide =
        bitmap::readPortrait(edited(largeFile(), [](Bytes& f) { put32(f, 18, 0x7FFFFFFF); }));
    ASSERT_FALSE(wide);
    EXPECT_EQ(wide.error().check, bitmap::Check::Width);
    EXPECT_EQ(wide.error().found.width, 0x7FFFFFFF);
    EXPECT_EQ(wide.error().found.height, 80);
    const auto topDown64x40 = bitmap::readPortrait(
        edited(smallFile(), [](Bytes& f) { put32(f, 18, 64), put32(f, 22, 0xFFFFFFD8); }));
    ASSERT_FALSE(topDown64x40);
    EXPECT_EQ(topDown64x40.error().check, bitmap::Check::Format);
    EXPECT_EQ(topDown64x40.error().found.height, 40);
    const auto beyond = bitmap::decodeBmp(withPixels(8, 1, {3, 9, 0, 1}, 4));
    EXPECT_EQ(beyond.error().paletteLength, 4);
}

// Channels of fewer than 8 bits are stretched so that full scale stays 255;
// headers longer than 40 bytes carry masks that count only with bit fields.
TEST(DecodeBmp, ReadsBitFieldsOfAnyWidthAndIgnoresMasksWithoutThem)
{
    Bytes rgb565 = withMasks(32, 0xF800, 0x07E0, 0x001F);
    put32(rgb565, 66, 0x8410);
    put32(rgb565, 70, 0xFFFF);
    const auto read = bitmap::decodeBmp(rgb565);
    ASSERT_TRUE(read);
    // The first pixel of the file is the bottom row's.
    EXPECT_EQ(read->colours[39 * 32], (bitmap::Colour{132, 130, 132}));
    EXPECT_EQ(read->colours[39 * 32 + 1], (bitmap::Colour{255, 255, 255}));

    Bytes v4 = otherBitmap(32, 40, 32);
    v4.insert(v4.begin() + 54, 68, 0);
    put32(v4, 10, 122);
    put32(v4, 14, 108);
    put32(v4, 54, 0xFF);  // a red mask, which uncompressed pixels do not use
    put32(v4, 122, 0x00332211);
    const auto plain = bitmap::decodeBmp(v4);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->colours[39 * 32], (bitmap::Colour{0x33, 0x22, 0x11}));
}

// A true-colour picture against the record it replaces: entries 0 and 2
// share a colour, and the record's pixels are 0 except pixel 1 (entry 2) and
// pixel 2 (entry 1).
TEST(MapToRecord, KeepsIndicesOfUnchangedColoursAndFitsNewOnesIntoUnusedEntries)
{
    const Slot slot = Slot::Small;
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    Bytes current(layout.recordSize, 0);
    current[1] = 2;
    current[2] = 1;
    const auto colourOf = [](std::size_t e) {
        return bitmap::Colour{7, static_cast<std::uint8_t>(e == 2 ? 0 : e), 9};
    };
    for (std::size_t e = 0; e < 256; ++e) {
        const auto [red, green, blue] = colourOf(e);
        std::ranges::copy(Bytes{blue, green, red, 0x5A},
                          current.begin() + static_cast<std::ptrdiff_t>(1280 + 4 * e));
    }
    const auto unchanged = [&] {
        bitmap::Picture picture;
        picture.width = 32;
        picture.height = 40;
        for (std::size_t i = 0; i < 1280; ++i) picture.colours.push_back(colourOf(current[i]));
        return picture;
    };
    const auto newColour = [](int k) {
        return bitmap::Colour{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8), 200};
    };
    const auto map = [&](const bitmap::Picture& picture) {
        return bitmap::mapToRecord(picture, slot, current);
    };

    EXPECT_EQ(map(unchanged()).value(), current);

    bitmap::Picture edited = unchanged();
    edited.colours[0] = colourOf(1);
    edited.colours[5] = newColour(0);
    Bytes expected = current;
    expected[0] = 1;
    expected[5] = 3;  // entries 0, 1 and 2 are in use
    std::ranges::copy(Bytes{200, 0, 0}, expected.begin() + 1280 + 12);
    EXPECT_EQ(map(edited).value(), expected);

    // 254 new colours fit only if entry 2 gives up its copy of entry 0's
    // colour; the first new one then takes it.
    bitmap::Picture crowded = unchanged();
    for (int k = 0; k < 254; ++k) crowded.colours[static_cast<std::size_t>(3 + k)] = newColour(k);
    const auto record = map(crowded);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)[1], 0);
    EXPECT_EQ((*record)[3], 2);

    crowded.colours[300] = newColour(254);
    EXPECT_EQ(map(crowded).error().colours, 257);
}

}  // namespace
