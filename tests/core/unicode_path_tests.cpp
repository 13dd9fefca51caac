// Archives and bitmaps in folders and under names with Chinese characters and
// spaces, as the game's users keep them: every step of open, export, import
// and write-back, and the derived sibling names, on the real file system.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "fileio/file.h"
#include "session/messages.h"
#include "support/test_files.h"

namespace {

using namespace pelloran;
using archive::Slot;
using pelloran::testing::readFile;
using pelloran::testing::TempDir;
using pelloran::testing::writeFile;
using Bytes = std::vector<std::uint8_t>;
using Path = std::filesystem::path;

Path u8path(const char8_t* text)
{
    return Path(text);
}

std::uint64_t offsetOf(Slot slot, int number)
{
    return archive::recordOffset(archive::layoutOf(slot), number);
}

Bytes readRecordOf(const Path& archive, Slot slot, int number)
{
    Bytes record(archive::layoutOf(slot).recordSize);
    const auto read =
        archive::readRecord(fileio::nativeFileSystem(), archive, offsetOf(slot, number), record);
    EXPECT_TRUE(read.has_value()) << archive;
    return record;
}

// A folder and the names in it; the expected names are written out, not
// derived, so that a derivation that counts bytes instead of characters fails.
struct Place {
    const char* label;
    const char8_t* folder;
    const char8_t* largeArchive;
    const char8_t* smallArchive;  // what the large archive's name must give
    const char8_t* largeBitmap;
    const char8_t* smallBitmap;  // what the large bitmap's name must give
};

void PrintTo(const Place& place, std::ostream* os)
{
    *os << place.label;
}

const Place kPlaces[] = {
    {"ChineseFolderWithSpace", u8"测试 目录", u8"GRPFACES.S10", u8"GRPFACET.S10", u8"头像 57.bmp",
     u8"头像 57T.BMP"},
    {"NestedChineseFoldersAndNames", u8"我的 文件/新 头像", u8"备份 GRPFACES.S10",
     u8"备份 GRPFACET.S10", u8"导出.BMP", u8"导出T.BMP"},
    // The last five and four characters are themselves partly Chinese.
    {"ChineseCharactersInTheReplacedTail", u8"存档", u8"头像文件.S10", u8"头像文T.S10",
     u8"图片一.图", u8"图T.BMP"},
};

class UnicodePaths : public ::testing::TestWithParam<Place> {
protected:
    void SetUp() override
    {
        const Place& place = GetParam();
        folder = dir.path() / u8path(place.folder);
        std::filesystem::create_directories(folder);
        largeArchive = folder / u8path(place.largeArchive);
        smallArchive = folder / u8path(place.smallArchive);
        largeBitmap = folder / u8path(place.largeBitmap);
        smallBitmap = folder / u8path(place.smallBitmap);

        // The generator writes the standard names; the pair then moves to
        // this place's names through the core's own rename.
        ASSERT_TRUE(demo::writeDemoArchives(folder));
        auto& fs = fileio::nativeFileSystem();
        if (largeArchive.filename() != "GRPFACES.S10") {
            ASSERT_TRUE(fs.rename(folder / "GRPFACES.S10", largeArchive));
            ASSERT_TRUE(fs.rename(folder / "GRPFACET.S10", smallArchive));
        }
    }

    TempDir dir;
    Path folder, largeArchive, smallArchive, largeBitmap, smallBitmap;
};

TEST_P(UnicodePaths, SiblingNamesAreDerivedByCharacterAndOpen)
{
    const auto sibling = archive::siblingArchivePath(largeArchive);
    ASSERT_TRUE(sibling.has_value());
    EXPECT_EQ(*sibling, smallArchive);
    EXPECT_EQ(readRecordOf(*sibling, Slot::Small, 832), demo::demoRecord(Slot::Small, 832));
    EXPECT_EQ(readRecordOf(largeArchive, Slot::Large, 1), demo::demoRecord(Slot::Large, 1));

    const auto smallName = bitmap::smallBitmapPath(largeBitmap);
    ASSERT_TRUE(smallName.has_value());
    EXPECT_EQ(*smallName, smallBitmap);
}

// Export 57, import both files again, write them into record 1 of each
// archive: record 1 then holds 57's pictures and nothing else has moved.
TEST_P(UnicodePaths, ExportImportAndWriteBackRoundTrip)
{
    auto& fs = fileio::nativeFileSystem();
    // A stale, longer file under the large name must be replaced whole.
    writeFile(largeBitmap, Bytes(10000, 0xEE));

    struct SlotFiles {
        Slot slot;
        Path archive;
        Path bitmap;
    };
    const auto smallName = bitmap::smallBitmapPath(largeBitmap);
    ASSERT_TRUE(smallName.has_value());
    const SlotFiles slots[] = {{Slot::Large, largeArchive, largeBitmap},
                               {Slot::Small, smallArchive, *smallName}};

    for (const SlotFiles& s : slots) {
        SCOPED_TRACE(s.slot == Slot::Large ? "large" : "small");
        const archive::SlotLayout& layout = archive::layoutOf(s.slot);
        const Bytes record = readRecordOf(s.archive, s.slot, 57);
        const auto encoded = bitmap::encodeRecord(s.slot, record);
        ASSERT_TRUE(fileio::replaceFile(fs, s.bitmap, encoded));
        EXPECT_EQ(readFile(s.bitmap).size(), bitmap::fileSize(layout));

        Bytes imported(bitmap::fileSize(archive::kLargeLayout));
        const auto count = fileio::readAtMost(fs, s.bitmap, 0, imported);
        ASSERT_TRUE(count.has_value());
        EXPECT_EQ(*count, bitmap::fileSize(layout));
        imported.resize(*count);
        const auto back = bitmap::importBitmap(imported, {record, record});
        ASSERT_TRUE(back && back->slot == s.slot);

        const Bytes archiveBefore = readFile(s.archive);
        ASSERT_TRUE(archive::writeRecord(fs, s.archive, offsetOf(s.slot, 1), back->record));

        Bytes expected = archiveBefore;
        // The reserved palette bytes travel through the bitmap as 0; the
        // demo records hold 0 there too, so the record comes back whole.
        std::ranges::copy(record,
                          expected.begin() + static_cast<std::ptrdiff_t>(offsetOf(s.slot, 1)));
        EXPECT_EQ(readFile(s.archive), expected);
    }

    // Only the archives and the two bitmaps: no temporary file stays behind.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    std::vector<std::string> expectedNames{
        largeArchive.filename().string(), smallArchive.filename().string(),
        largeBitmap.filename().string(), smallName->filename().string()};
    std::ranges::sort(expectedNames);
    EXPECT_EQ(names, expectedNames);
}

INSTANTIATE_TEST_SUITE_P(Places, UnicodePaths, ::testing::ValuesIn(kPlaces),
                         [](const auto& info) { return std::string(info.param.label); });

// What the system answers for a Chinese path that is missing, taken or a
// folder must mean the same to the core on every platform.
TEST(UnicodePathErrors, MissingTakenAndFolderAreToldApart)
{
    TempDir dir;
    const Path folder = dir.path() / u8path(u8"测试 目录");
    std::filesystem::create_directories(folder / u8path(u8"文件夹.S10"));
    auto& fs = fileio::nativeFileSystem();

    // A missing file and a missing folder both read as zeros, create nothing,
    // and refuse write-back with "not found" naming the path, whole even
    // where it holds what looks like a mark of the message's text.
    for (const Path& missing : {folder / u8path(u8"没有 GRPFACES.S10"),
                                folder / u8path(u8"不存在") / u8path(u8"GRPFACES.S10"),
                                folder / u8path(u8"100%3 GRPFACES.S10")}) {
        SCOPED_TRACE(missing);
        Bytes record(archive::kSmallLayout.recordSize, 0xAA);
        ASSERT_TRUE(archive::readRecord(fs, missing, 0, record));
        EXPECT_TRUE(std::ranges::all_of(record, [](std::uint8_t b) { return b == 0; }));

        const auto written = archive::writeRecord(fs, missing, 0, record);
        ASSERT_FALSE(written.has_value());
        EXPECT_TRUE(fileio::isNotFound(written.error()));
        EXPECT_EQ(written.error().code, std::errc::no_such_file_or_directory);
        EXPECT_EQ(written.error().path, missing);
        EXPECT_FALSE(std::filesystem::exists(missing));
        EXPECT_EQ(
            session::describe(session::Error{written.error()})
                .text.rfind(
                    "无法打开文件“" + session::displayName(missing) + "”。\r原因：文件不存在", 0),
            0u);
    }

    // A folder given as an archive is an error, not an empty archive.
    Bytes record(archive::kSmallLayout.recordSize);
    const auto read = archive::readRecord(fs, folder / u8path(u8"文件夹.S10"), 0, record);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().code, std::errc::is_a_directory);

    // A name that is taken is reported as such, so that an export passes
    // over the leftover of an earlier run instead of failing or reusing it.
    const Path target = folder / u8path(u8"头像 57.bmp");
    const Path leftover = Path(target).concat(".pelloran-0.tmp");
    writeFile(leftover, Bytes{1, 2, 3});
    const auto taken = fs.createNew(leftover);
    ASSERT_FALSE(taken.has_value());
    EXPECT_EQ(taken.error().code, std::errc::file_exists);
    ASSERT_TRUE(fileio::replaceFile(fs, target, Bytes{4, 5}));
    EXPECT_EQ(readFile(target), (Bytes{4, 5}));
    EXPECT_EQ(readFile(leftover), (Bytes{1, 2, 3}));
}

}  // namespace
