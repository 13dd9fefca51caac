// Where records lie in the two archives, and how the names of the second
// archive and of the small exported bitmap follow from the first.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "bitmap/bitmap.h"

namespace {

using namespace pelloran;
using archive::Slot;

struct OffsetRow {
    Slot slot;
    int number;
    std::uint64_t offset;  // first byte of the record, counted from 0
};

// The first and last numbers of both ranges, and the first neighbour, in both
// archives: an off-by-one in the base or in (number - 1) shows in every row.
const std::vector<OffsetRow> kOffsets = {
    {Slot::Large, 1, 37260},     {Slot::Large, 2, 43404},     {Slot::Large, 722, 4467084},
    {Slot::Large, 723, 4473228}, {Slot::Large, 832, 5142924}, {Slot::Small, 1, 20244},
    {Slot::Small, 2, 22548},     {Slot::Small, 722, 1681428}, {Slot::Small, 723, 1683732},
    {Slot::Small, 832, 1934868},
};

TEST(RecordLayout, NumbersMapToTheirOffsets)
{
    for (const OffsetRow& row : kOffsets) {
        SCOPED_TRACE(::testing::Message()
                     << (row.slot == Slot::Large ? "large" : "small") << " number " << row.number);
        const archive::SlotLayout& layout = archive::layoutOf(row.slot);
        EXPECT_EQ(archive::recordOffset(layout, row.number), row.offset);
        // Records lie back to back: the next number starts where this one ends.
        EXPECT_EQ(archive::recordOffset(layout, row.number + 1), row.offset + layout.recordSize);
    }
}

TEST(RecordLayout, SlotsHaveTheirShapeAndFullSize)
{
    struct Row {
        Slot slot;
        std::uint32_t pixelBlock;
        std::uint16_t width, height;
        std::uint64_t fullSize;  // an archive holding every number up to 832
    };
    for (const Row& row :
         {Row{Slot::Large, 5120, 64, 80, 5149068}, Row{Slot::Small, 1280, 32, 40, 1937172}}) {
        const archive::SlotLayout& layout = archive::layoutOf(row.slot);
        EXPECT_EQ(layout.pixelBlockSize(), row.pixelBlock);
        EXPECT_EQ(layout.width, row.width);
        EXPECT_EQ(layout.height(), row.height);
        EXPECT_EQ(archive::fullArchiveSize(layout), row.fullSize);
    }
}

std::string utf8(const std::u8string& text)
{
    return {text.begin(), text.end()};
}

using Derive = std::optional<std::filesystem::path> (*)(const std::filesystem::path&);

struct DerivationRow {
    const char* what;
    Derive derive;
    std::u8string input;
    std::u8string expected;  // empty: the name is too short to derive from
};

// Both derivations are textual and count characters, not bytes: a Chinese
// name must lose whole characters, and neither file needs to exist.
const std::vector<DerivationRow> kDerivations = {
    {"archive, Windows path", archive::siblingArchivePath, u8"D:\\data\\GRPFACES.S10",
     u8"D:\\data\\GRPFACET.S10"},
    {"archive, bare name", archive::siblingArchivePath, u8"FACE.S10", u8"FACT.S10"},
    {"archive, Chinese folder with spaces", archive::siblingArchivePath,
     u8"/home/用户/三 国 存档/GRPFACES.S10", u8"/home/用户/三 国 存档/GRPFACET.S10"},
    {"archive, Chinese character among the last five", archive::siblingArchivePath,
     u8"/存档/头像 文件.S10", u8"/存档/头像 文T.S10"},
    {"archive, exactly five characters", archive::siblingArchivePath, u8"头像.S1", u8"T.S10"},
    {"archive, four characters", archive::siblingArchivePath, u8"A.10", u8""},
    {"archive, empty", archive::siblingArchivePath, u8"", u8""},
    {"bitmap, .bmp", bitmap::smallBitmapPath, u8"D:\\out\\face.bmp", u8"D:\\out\\faceT.BMP"},
    {"bitmap, .png", bitmap::smallBitmapPath, u8"face.png", u8"faceT.BMP"},
    {"bitmap, .jpeg loses only four characters", bitmap::smallBitmapPath, u8"face.jpeg",
     u8"face.T.BMP"},
    {"bitmap, Chinese name", bitmap::smallBitmapPath, u8"/导出/头像 一.bmp",
     u8"/导出/头像 一T.BMP"},
    {"bitmap, Chinese characters dropped", bitmap::smallBitmapPath, u8"关羽头像", u8"T.BMP"},
    {"bitmap, three characters", bitmap::smallBitmapPath, u8"a.b", u8""},
    {"bitmap, empty", bitmap::smallBitmapPath, u8"", u8""},
};

TEST(NameDerivation, ReplacesTheTailByCharacters)
{
    for (const DerivationRow& row : kDerivations) {
        SCOPED_TRACE(row.what);
        const auto derived = row.derive(std::filesystem::path(row.input));
        if (row.expected.empty()) {
            EXPECT_FALSE(derived.has_value()) << utf8(derived->u8string());
        } else {
            ASSERT_TRUE(derived.has_value());
            EXPECT_EQ(utf8(derived->u8string()), utf8(row.expected));
        }
    }
}

}  // namespace
