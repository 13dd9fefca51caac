// Bitmaps that other programs wrote (tests/data/foreign, made by its
// make-foreign-bitmaps script with Pillow and ImageMagick), and our exported
// bitmaps read by Pillow. A user edits an exported portrait elsewhere and
// imports it again, so what those programs write must be taken or refused
// exactly as write-back can read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "demo_archives.h"
#include "support/test_files.h"

namespace pelloran {
namespace {

using archive::Slot;
using bitmap::ImportVerdict;

const std::filesystem::path kForeignDir = std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign";

// The pattern the fixtures were drawn with: index (x + 37 y) mod entries at
// column x, row y from the top; entry i is red i, green 255 - i, blue
// (7 i + 50) mod 256. The greyscale fixture has entry i = grey level i.
enum class Palette { Colours, Greys };

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

void PrintTo(const Rgb& c, std::ostream* os)
{
    *os << "red " << c.r << ", green " << c.g << ", blue " << c.b;
}

Rgb patternColour(Palette palette, int entry, int entries)
{
    if (entry >= entries) return {0, 0, 0};  // filled up by the tool
    if (palette == Palette::Greys) return {entry, entry, entry};
    return {entry, 255 - entry, (7 * entry + 50) % 256};
}

struct AcceptedCase {
    const char* file;
    Slot slot;
    Palette palette = Palette::Colours;
    int entries = 256;  // the tool fills the palette up to 256 with black
    int number = 1;     // whose record write-back replaces
};

struct RefusedCase {
    const char* file;
    // Whether the file passes the seven header bytes, so that only the rules
    // about what write-back needs can refuse it.
    bool passesHeaderBytes;
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

std::vector<std::uint8_t> fixture(const char* file)
{
    auto bytes = testing::readFile(kForeignDir / file);
    if (bytes.size() < bitmap::kHeaderSize) {
        ADD_FAILURE() << file << " is too short; run make-foreign-bitmaps";
        bytes.resize(bitmap::kHeaderSize);  // keeps the header reads below in bounds
    }
    return bytes;
}

// Signature, lowest size byte, width and height as the check compares them.
bool matchesHeaderBytes(const std::vector<std::uint8_t>& file)
{
    const auto le16 = [&](std::size_t at) { return file[at] | file[at + 1] << 8; };
    return file[0] == 'B' && file[1] == 'M' && file[2] == 54 &&
           (le16(18) == 64 || le16(18) == 32) && (le16(22) == 80 || le16(22) == 40);
}

// The whole demo archive of a slot, made once: it is 5 MB.
const std::vector<std::uint8_t>& demoArchive(Slot slot)
{
    static const std::array archives{demo::demoArchive(Slot::Large),
                                     demo::demoArchive(Slot::Small)};
    return archives[slot == Slot::Large ? 0 : 1];
}

class ForeignBitmapAccepted : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(ForeignBitmapAccepted, BecomesThePatternsRecordInTheArchive)
{
    const AcceptedCase& c = GetParam();
    const archive::SlotLayout& layout = archive::layoutOf(c.slot);
    const auto file = fixture(c.file);
    ASSERT_EQ(bitmap::checkImport(file),
              c.slot == Slot::Large ? ImportVerdict::Large : ImportVerdict::Small);

    std::vector<std::uint8_t> record(layout.recordSize);
    bitmap::recordFromBitmap(file, c.slot, record);
    for (int y = 0; y < layout.height(); ++y) {
        for (int x = 0; x < layout.width; ++x) {
            ASSERT_EQ(record[static_cast<std::size_t>(y * layout.width + x)],
                      (x + 37 * y) % c.entries)
                << "pixel (" << x << ", " << y << ")";
        }
    }
    const std::size_t paletteBlock = layout.pixelBlockSize();
    for (int e = 0; e < archive::kPaletteEntries; ++e) {
        const std::uint8_t* entry = &record[paletteBlock + 4 * static_cast<std::size_t>(e)];
        ASSERT_EQ((Rgb{entry[2], entry[1], entry[0]}), patternColour(c.palette, e, c.entries))
            << "palette entry " << e;
    }
    // Reserved bytes too travel as the tool wrote them (Pillow's grey
    // palette repeats the level there).
    EXPECT_TRUE(std::ranges::equal(std::span(record).subspan(paletteBlock),
                                   std::span(file).subspan(bitmap::kPaletteOffset, 1024)));

    testing::TempDir dir;
    const auto archivePath = dir / "archive.S10";
    std::vector<std::uint8_t> expected = demoArchive(c.slot);
    testing::writeFile(archivePath, expected);
    const std::uint64_t offset = archive::recordOffset(layout, c.number);
    ASSERT_TRUE(archive::writeRecord(fileio::nativeFileSystem(), archivePath, offset, record));

    std::ranges::copy(record, expected.begin() + static_cast<std::ptrdiff_t>(offset));
    const auto written = testing::readFile(archivePath);
    ASSERT_EQ(written.size(), expected.size());
    const auto [differs, _] = std::ranges::mismatch(written, expected);
    EXPECT_EQ(differs, written.end())
        << "first wrong byte at offset " << (differs - written.begin());
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, ForeignBitmapAccepted,
    ::testing::Values(
        AcceptedCase{.file = "pillow-p-64x80.bmp", .slot = Slot::Large, .number = 57},
        AcceptedCase{.file = "pillow-p-32x40.bmp", .slot = Slot::Small, .number = 832},
        AcceptedCase{.file = "pillow-l-32x40.bmp", .slot = Slot::Small, .palette = Palette::Greys},
        AcceptedCase{.file = "imagemagick-bmp3-64x80.bmp", .slot = Slot::Large, .number = 832},
        AcceptedCase{.file = "imagemagick-bmp3-32x40.bmp", .slot = Slot::Small, .number = 57},
        AcceptedCase{.file = "imagemagick-bmp3-128-colours-64x80.bmp",
                     .slot = Slot::Large,
                     .entries = 128,
                     .number = 723}),
    caseName<AcceptedCase>);

class ForeignBitmapRefused : public ::testing::TestWithParam<RefusedCase> {};

// Each gets the first message of the check.
TEST_P(ForeignBitmapRefused, GetsTheNotAPortraitBitmapMessage)
{
    const RefusedCase& c = GetParam();
    const auto file = fixture(c.file);
    EXPECT_EQ(bitmap::checkImport(file), ImportVerdict::NotPortraitBitmap);
    EXPECT_EQ(matchesHeaderBytes(file), c.passesHeaderBytes) << "the fixture is not what it was";
}

INSTANTIATE_TEST_SUITE_P(Foreign, ForeignBitmapRefused,
                         ::testing::Values(
                             // 24 bits, no palette, pixels at 54.
                             RefusedCase{"pillow-rgb-64x80.bmp", true},
                             // 128 palette entries, pixels at 566.
                             RefusedCase{"pillow-p-128-colours-64x80.bmp", true},
                             RefusedCase{"pillow-p-64x40.bmp", true},
                             RefusedCase{"pillow-p-32x80.bmp", true},
                             // RLE8 with every other field as ours, drawn to a size ending in 54.
                             RefusedCase{"imagemagick-rle8-64x80.bmp", true},
                             // 124-byte info header, 6282 bytes.
                             RefusedCase{"imagemagick-bmp5-64x80.bmp", false}),
                         caseName<RefusedCase>);

// Our exported files as Pillow sees them: every pixel must have the index
// and the colour of the record the preview paints.
std::string run(const std::string& command)
{
#ifdef _MSC_VER
    const auto popen = _popen;
    const auto pclose = _pclose;
#endif
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> chunk{};
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), n);
    if (pclose(pipe) != 0) output.clear();
    return output;
}

const char* const kPython = "/usr/bin/python3";

bool pillowAvailable()
{
    const std::string probe = std::string(kPython) + " -c 'import PIL.BmpImagePlugin' 2>/dev/null";
    return std::filesystem::exists(kPython) && std::system(probe.c_str()) == 0;
}

struct ReadBackCase {
    Slot slot;
    int number;
};

class PillowReadBack : public ::testing::TestWithParam<ReadBackCase> {};

TEST_P(PillowReadBack, SeesTheRecordsIndicesAndColours)
{
    if (!pillowAvailable())
        GTEST_SKIP() << kPython << " with PIL is not installed (Debian: python3-pil)";
    const auto [slot, number] = GetParam();
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const auto record = demo::demoRecord(slot, number);
    archive::RgbPalette palette{};
    archive::decodePalette(std::span(record).subspan(layout.pixelBlockSize()), palette);

    testing::TempDir dir;
    const auto path = dir / "face.bmp";
    testing::writeFile(path, bitmap::encodeRecord(slot, record));
    const std::string output =
        run(std::string(kPython) + " '" + (kForeignDir / "pillow_read_back.py").string() + "' '" +
            path.string() + "'");
    ASSERT_FALSE(output.empty()) << "Pillow could not read " << path;

    std::istringstream in(output);
    int width = 0, height = 0;
    std::string mode;
    in >> width >> height >> mode;
    ASSERT_EQ(width, layout.width);
    ASSERT_EQ(height, layout.height());
    ASSERT_EQ(mode, "P");
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int index = record[static_cast<std::size_t>(y * width + x)];
            char colour[16];
            std::snprintf(colour, sizeof colour, "%02x%02x%02x", palette[3 * index],
                          palette[3 * index + 1], palette[3 * index + 2]);
            std::string token;
            in >> token;
            ASSERT_EQ(token, std::to_string(index) + ":" + colour)
                << "pixel (" << x << ", " << y << ")";
        }
    }
}

std::string readBackName(const ::testing::TestParamInfo<ReadBackCase>& info)
{
    return (info.param.slot == Slot::Large ? "Large" : "Small") + std::to_string(info.param.number);
}

INSTANTIATE_TEST_SUITE_P(Exported, PillowReadBack,
                         ::testing::Values(ReadBackCase{Slot::Large, 57},
                                           ReadBackCase{Slot::Small, 57},
                                           ReadBackCase{Slot::Large, 832},
                                           ReadBackCase{Slot::Small, 1}),
                         readBackName);

}  // namespace
}  // namespace pelloran
