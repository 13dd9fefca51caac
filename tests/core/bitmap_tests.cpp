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
#include "demo_archives.h"

namespace pelloran::bitmap {

// Verdicts by name in failure messages; found by argument-dependent lookup.
[[maybe_unused]] static void PrintTo(ImportVerdict verdict, std::ostream* out)
{
    constexpr const char* kNames[] = {"Large", "Small", "NotPortraitBitmap", "BadWidth",
                                      "BadHeight"};
    *out << kNames[static_cast<int>(verdict)];
}

}  // namespace pelloran::bitmap

namespace {

using namespace pelloran;
using archive::Slot;
using bitmap::ImportVerdict;
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

struct ImportRow {
    const char* name;
    std::function<Bytes()> file;
    ImportVerdict verdict;
};

void PrintTo(const ImportRow& row, std::ostream* out)
{
    *out << row.name;
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

const ImportRow kImportRows[] = {
    {"ExportedLarge", [] { return largeFile(); }, ImportVerdict::Large},
    {"ExportedSmall", [] { return smallFile(); }, ImportVerdict::Small},
    {"TrailingBytesAfterAValidFile",
     [] { return edited(largeFile(), [](Bytes& f) { f.resize(f.size() + 100, 0xEE); }); },
     ImportVerdict::Large},
    {"SmallFileAsLongAsALargeOne",
     [] { return edited(smallFile(), [](Bytes& f) { f.resize(6198, 0xEE); }); },
     ImportVerdict::Small},
    // The three checks the user is told about, in their order.
    {"TwoExtraBytesAndTheirSize",
     [] {
         return edited(largeFile(), [](Bytes& f) {
             f.resize(6200);
             put32(f, 2, 6200);
         });
     },
     ImportVerdict::NotPortraitBitmap},
    {"InfoHeaderOf124Bytes",
     [] {
         Bytes f(6282, 0);
         std::ranges::copy(largeHeader(), f.begin());
         put32(f, 2, 6282);
         put32(f, 10, 14 + 124 + 1024);
         put32(f, 14, 124);
         return f;
     },
     ImportVerdict::NotPortraitBitmap},
    {"FirstByteNotB",
     [] {
         return edited(largeFile(), [](Bytes& f) {
             f[0] = 'C';
             put32(f, 18, 48);
         });
     },
     ImportVerdict::NotPortraitBitmap},
    {"Width48HeightNotLookedAt",
     [] {
         return edited(largeFile(), [](Bytes& f) {
             put32(f, 18, 48);
             put32(f, 22, 7);
         });
     },
     ImportVerdict::BadWidth},
    {"TopDownRows",
     [] {
         return edited(largeFile(),
                       [](Bytes& f) { put32(f, 22, static_cast<std::uint32_t>(-80)); });
     },
     ImportVerdict::BadHeight},
    // Files that pass those three but that write-back could not read right.
    {"Valid64x40", [] { return otherBitmap(64, 40, 8); }, ImportVerdict::NotPortraitBitmap},
    {"Valid32x80", [] { return otherBitmap(32, 80, 8); }, ImportVerdict::NotPortraitBitmap},
    {"TwentyFourBit64x80", [] { return otherBitmap(64, 80, 24); },
     ImportVerdict::NotPortraitBitmap},
    {"InfoHeaderSizeOnly124",
     [] { return edited(largeFile(), [](Bytes& f) { put32(f, 14, 124); }); },
     ImportVerdict::NotPortraitBitmap},
    {"FourBitsPerPixel", [] { return edited(largeFile(), [](Bytes& f) { put16(f, 28, 4); }); },
     ImportVerdict::NotPortraitBitmap},
    {"RunLengthCompressed", [] { return edited(largeFile(), [](Bytes& f) { put32(f, 30, 1); }); },
     ImportVerdict::NotPortraitBitmap},
    {"TwoPlanes", [] { return edited(smallFile(), [](Bytes& f) { put16(f, 26, 2); }); },
     ImportVerdict::NotPortraitBitmap},
    {"PixelsAt1079", [] { return edited(largeFile(), [](Bytes& f) { put32(f, 10, 1079); }); },
     ImportVerdict::NotPortraitBitmap},
    {"WidthWithUpperBits",
     [] { return edited(largeFile(), [](Bytes& f) { put32(f, 18, 64 + 65536); }); },
     ImportVerdict::NotPortraitBitmap},
    {"HeightWithUpperBits",
     [] { return edited(smallFile(), [](Bytes& f) { put32(f, 22, 40 + 65536); }); },
     ImportVerdict::NotPortraitBitmap},
    {"LargeOneByteShort", [] { return prefix(largeFile(), 6197); },
     ImportVerdict::NotPortraitBitmap},
    {"SmallOneByteShort", [] { return prefix(smallFile(), 2357); },
     ImportVerdict::NotPortraitBitmap},
    // Files shorter than the header: the missing bytes count as 0.
    {"Empty", [] { return Bytes{}; }, ImportVerdict::NotPortraitBitmap},
    {"OnlyTheSignature", [] { return prefix(largeFile(), 2); }, ImportVerdict::NotPortraitBitmap},
    {"EndsAfterTheSizeByte", [] { return prefix(largeFile(), 3); }, ImportVerdict::BadWidth},
    {"EndsAfterTheWidth", [] { return prefix(largeFile(), 20); }, ImportVerdict::BadHeight},
    {"EndsInsideTheHeight", [] { return prefix(largeFile(), 23); },
     ImportVerdict::NotPortraitBitmap},
};

class CheckImport : public ::testing::TestWithParam<ImportRow> {};

TEST_P(CheckImport, GivesItsVerdict)
{
    const Bytes file = GetParam().file();
    EXPECT_EQ(bitmap::checkImport(file), GetParam().verdict);
}

INSTANTIATE_TEST_SUITE_P(Files, CheckImport, ::testing::ValuesIn(kImportRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFromBitmap, ExportThenImportGivesBackPixelsAndColours)
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
            ASSERT_EQ(bitmap::checkImport(file),
                      slot == Slot::Large ? ImportVerdict::Large : ImportVerdict::Small);

            Bytes back(layout.recordSize, 0xAA);
            bitmap::recordFromBitmap(file, slot, back);
            EXPECT_EQ(back, expected);

            // The rows are found from the start of the pixel data, not from the end
            // of the file.
            file.resize(file.size() + 3 * layout.width, 0x77);
            bitmap::recordFromBitmap(file, slot, back);
            EXPECT_EQ(back, expected);
        }
    }
}

TEST(RecordFromBitmap, CopiesAForeignFilesColourTableAsItStands)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        SCOPED_TRACE(layout.width);
        Bytes file = slot == Slot::Large ? largeFile() : smallFile();
        file[bitmap::kPaletteOffset + 3] = 0x5A;  // reserved byte of entry 0
        file[1077] = 0xAB;                        // reserved byte of entry 255

        Bytes record(layout.recordSize);
        bitmap::recordFromBitmap(file, slot, record);
        EXPECT_TRUE(std::ranges::equal(std::span(record).subspan(layout.pixelBlockSize()),
                                       std::span(file).subspan(bitmap::kPaletteOffset, 1024)));
        EXPECT_EQ(record[layout.pixelBlockSize() + 3], 0x5A);
        EXPECT_EQ(record.back(), 0xAB);
        // Top-left pixel of the record is the first of the file's last row.
        EXPECT_EQ(record[0], file[file.size() - layout.width]);
        EXPECT_EQ(record[layout.pixelBlockSize() - 1], file[1078 + layout.width - 1]);
    }
}

}  // namespace
