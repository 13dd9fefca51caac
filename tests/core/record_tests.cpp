// Reading one record out of an archive and rewriting it in place, on real
// files and on a file system that fails on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "demo_archives.h"
#include "support/faulty_file_system.h"
#include "support/test_files.h"

namespace {

using namespace pelloran;
using archive::Slot;
using fileio::Operation;
using pelloran::testing::FaultyFileSystem;
using pelloran::testing::readFile;
using pelloran::testing::TempDir;
using pelloran::testing::writeFile;
using Bytes = std::vector<std::uint8_t>;

// Archive contents that are never 0 and repeat with a prime period, so that a
// byte read from the wrong place or filled in as 0 cannot pass unnoticed.
Bytes patternArchive(std::uint64_t size)
{
    Bytes bytes(size);
    for (std::uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251 + 1);
    return bytes;
}

const char* operationName(Operation operation)
{
    constexpr const char* kNames[] = {"open",  "read",   "write",  "flush",
                                      "close", "rename", "remove", "size"};
    return kNames[static_cast<int>(operation)];
}

const char* slotName(Slot slot)
{
    return slot == Slot::Large ? "large" : "small";
}

std::uint64_t offsetOf(Slot slot, int number)
{
    return archive::recordOffset(archive::layoutOf(slot), number);
}

TEST(DecodePalette, TurnsBlueGreenRedReservedIntoRedGreenBlue)
{
    Bytes block(archive::SlotLayout::kPaletteBlockSize);
    for (int e = 0; e < archive::kPaletteEntries; ++e) {
        const auto entry = static_cast<std::uint8_t>(e);
        std::ranges::copy(Bytes{entry, static_cast<std::uint8_t>(entry ^ 0x55),
                                static_cast<std::uint8_t>(255 - entry), 0},
                          block.begin() + 4 * e);
    }
    std::ranges::copy(Bytes{0x10, 0x20, 0x30, 0xFF}, block.begin() + 4 * 7);

    archive::RgbPalette palette{};
    archive::decodePalette(block, palette);
    EXPECT_EQ(palette[3 * 7], 0x30);
    EXPECT_EQ(palette[3 * 7 + 1], 0x20);
    EXPECT_EQ(palette[3 * 7 + 2], 0x10);
    for (int e : {0, 1, 128, 255}) {
        SCOPED_TRACE(e);
        EXPECT_EQ(palette[3 * e], 255 - e);
        EXPECT_EQ(palette[3 * e + 1], e ^ 0x55);
        EXPECT_EQ(palette[3 * e + 2], e);
    }

    // The reserved byte carries no colour: changing every one of them changes nothing.
    for (std::size_t k = 3; k < block.size(); k += 4) block[k] = static_cast<std::uint8_t>(~k);
    archive::RgbPalette again{};
    archive::decodePalette(block, again);
    EXPECT_EQ(again, palette);
}

class DemoArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        for (Slot slot : {Slot::Large, Slot::Small}) writeFile(path(slot), demo::demoArchive(slot));
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    static std::filesystem::path path(Slot slot)
    {
        return *dir_ / (slot == Slot::Large ? "GRPFACES.S10" : "GRPFACET.S10");
    }

private:
    static TempDir* dir_;
};

TempDir* DemoArchives::dir_ = nullptr;

TEST_F(DemoArchives, ReadsExactlyTheBytesAtTheRecordsOffset)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const Bytes whole = readFile(path(slot));
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        ASSERT_EQ(whole.size(), archive::fullArchiveSize(layout));
        for (int number : {1, 2, 722, 723, 832}) {
            SCOPED_TRACE(::testing::Message() << slotName(slot) << " number " << number);
            Bytes record(layout.recordSize, 0xAA);
            ASSERT_TRUE(archive::readRecord(fileio::nativeFileSystem(), path(slot),
                                            offsetOf(slot, number), record));
            const auto begin = whole.begin() + static_cast<std::ptrdiff_t>(offsetOf(slot, number));
            EXPECT_TRUE(std::ranges::equal(
                record, std::ranges::subrange(begin, begin + layout.recordSize)));
            EXPECT_EQ(record, demo::demoRecord(slot, number));
        }
    }
}

TEST(ReadRecord, BytesPastTheEndOfTheArchiveReadAsZero)
{
    struct Row {
        const char* what;
        Slot slot;
        std::uint64_t archiveSize;
        int number;
    };
    const Row rows[] = {
        {"empty archive", Slot::Large, 0, 1},
        {"shorter than the base", Slot::Small, 20000, 1},
        {"ends inside the pixel block", Slot::Large, 37260 + 100, 1},
        {"ends inside the palette block", Slot::Small, 20244 + 1280 + 6, 1},
        {"ends one byte before the last record's end", Slot::Large, 5149067, 832},
        {"ends exactly at the record's end", Slot::Small, 22548, 1},
        {"goes on after number 832", Slot::Small, 1937172 + 50, 832},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes file = patternArchive(row.archiveSize);
        writeFile(dir / "archive", file);
        const std::uint64_t offset = offsetOf(row.slot, row.number);

        // Filled with a marker first: a read that leaves bytes alone is as wrong as
        // one that invents them.
        Bytes record(archive::layoutOf(row.slot).recordSize, 0xAA);
        ASSERT_TRUE(
            archive::readRecord(fileio::nativeFileSystem(), dir / "archive", offset, record));
        Bytes expected(record.size(), 0);
        for (std::size_t k = 0; k < expected.size() && offset + k < file.size(); ++k)
            expected[k] = file[offset + k];
        EXPECT_EQ(record, expected);
        EXPECT_EQ(readFile(dir / "archive"), file);
    }
}

TEST(ReadRecord, MissingArchiveReadsAsZerosAndIsNotCreatedButAFolderIsAnError)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "GRPFACES.S10");
    for (const std::filesystem::path& missing :
         {dir / "GRPFACET.S10", dir / "gone" / "GRPFACET.S10"}) {
        Bytes record(archive::kSmallLayout.recordSize, 0xAA);
        ASSERT_TRUE(archive::readRecord(fileio::nativeFileSystem(), missing,
                                        offsetOf(Slot::Small, 1), record));
        EXPECT_TRUE(std::ranges::all_of(record, [](std::uint8_t b) { return b == 0; }));
        EXPECT_FALSE(std::filesystem::exists(missing)) << missing;
    }

    Bytes record(archive::kLargeLayout.recordSize);
    const auto read = archive::readRecord(fileio::nativeFileSystem(), dir / "GRPFACES.S10",
                                          offsetOf(Slot::Large, 1), record);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().path, dir / "GRPFACES.S10");
    EXPECT_EQ(read.error().code, std::errc::is_a_directory);
}

// The record to write: every byte differs from the one it replaces, so that a
// write that is partial, shifted or skipped shows.
Bytes complementOf(const Bytes& archiveBytes, std::uint64_t offset, std::uint32_t size)
{
    Bytes record(size);
    for (std::uint32_t k = 0; k < size; ++k)
        record[k] = static_cast<std::uint8_t>(~archiveBytes[offset + k]);
    return record;
}

Bytes withRecord(Bytes archiveBytes, std::uint64_t offset, const Bytes& record)
{
    std::ranges::copy(record, archiveBytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return archiveBytes;
}

TEST(WriteRecord, ChangesOnlyTheAddressedRecordWithOnePositionedWrite)
{
    struct Row {
        Slot slot;
        int number;
        std::uint64_t archiveSize;
    };
    const Row rows[] = {
        {Slot::Large, 1, 37260 + 6144 + 500},
        {Slot::Small, 2, 22548 + 2304},  // ends with the record
        {Slot::Large, 723, 4473228 + 6144 + 7},
        {Slot::Small, 832, 1937172},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << slotName(row.slot) << " number " << row.number);
        TempDir dir;
        const auto path = dir / "archive";
        const Bytes before = patternArchive(row.archiveSize);
        writeFile(path, before);
        const std::uint64_t offset = offsetOf(row.slot, row.number);
        const Bytes record = complementOf(before, offset, archive::layoutOf(row.slot).recordSize);

        FaultyFileSystem fs;
        ASSERT_TRUE(archive::writeRecord(fs, path, offset, record));
        EXPECT_EQ(readFile(path), withRecord(before, offset, record));

        const auto writes = fs.entries(Operation::Write, path);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].offset, offset);
        EXPECT_EQ(writes[0].size, record.size());
        // The old bytes are read first; what is read back comes off the disk,
        // after the flush.
        std::vector<Operation> order;
        for (const auto& entry : fs.log()) order.push_back(entry.operation);
        EXPECT_EQ(order,
                  (std::vector{Operation::Open, Operation::Size, Operation::Read, Operation::Write,
                               Operation::Flush, Operation::Read, Operation::Close}));
        EXPECT_EQ(dir.fileNames(), std::vector<std::string>{"archive"});
    }
}

TEST(WriteRecord, RefusesAnArchiveItWouldHaveToCreateOrExtend)
{
    constexpr std::uint64_t kMissing = ~0ull;
    constexpr std::uint64_t kRecordEnd = 22548 + 2304;  // small number 2
    const std::error_condition tooShort(static_cast<int>(archive::Fault::TooShort),
                                        archive::faultCategory());
    struct Row {
        const char* what;
        std::uint64_t archiveSize;
        std::error_condition reason;
    };
    const Row rows[] = {
        {"missing", kMissing, std::errc::no_such_file_or_directory},
        {"empty", 0, tooShort},
        {"ends where the record begins", 22548, tooShort},
        {"ends one byte before the record's end", kRecordEnd - 1, tooShort},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const auto path = dir / "GRPFACET.S10";
        const Bytes before =
            row.archiveSize == kMissing ? Bytes{} : patternArchive(row.archiveSize);
        if (row.archiveSize != kMissing) writeFile(path, before);

        const auto written =
            archive::writeRecord(fileio::nativeFileSystem(), path, offsetOf(Slot::Small, 2),
                                 Bytes(archive::kSmallLayout.recordSize, 0x5A));
        ASSERT_FALSE(written.has_value());
        EXPECT_TRUE(written.error().code == row.reason) << written.error().code.message();
        EXPECT_EQ(written.error().path, path);
        if (row.archiveSize == kMissing) {
            EXPECT_FALSE(std::filesystem::exists(path));
        } else {
            EXPECT_EQ(readFile(path), before);
        }
    }
}

// Whatever single step of the write fails, the archive holds either the old
// record or, when the write reports success, the new one; never a mixture.
TEST(WriteRecord, AFailureAtAnyStepLeavesTheRecordWhollyOld)
{
    TempDir dir;
    const auto path = dir / "GRPFACET.S10";
    const std::uint64_t offset = offsetOf(Slot::Small, 2);
    const Bytes before = patternArchive(offset + 2 * archive::kSmallLayout.recordSize);
    const Bytes record = complementOf(before, offset, archive::kSmallLayout.recordSize);
    const Bytes after = withRecord(before, offset, record);

    FaultyFileSystem fs;
    writeFile(path, before);
    ASSERT_TRUE(archive::writeRecord(fs, path, offset, record));
    const auto steps = fs.log();

    struct Scenario {
        std::string what;
        std::function<void(FaultyFileSystem&)> arm;
        bool once;              // armed with failAt, so the fault must have been hit
        bool mustFail = false;  // the write itself cannot be proven
    };
    std::vector<Scenario> scenarios;
    for (std::size_t k = 1; k <= steps.size(); ++k) {
        const auto step =
            " at step " + std::to_string(k) + " (" + operationName(steps[k - 1].operation) + ")";
        const int at = static_cast<int>(k);
        scenarios.push_back({"failure" + step, [at](FaultyFileSystem& f) { f.failAt(at); }, true});
        scenarios.push_back(
            {"short write" + step,
             [at](FaultyFileSystem& f) { f.failAt(at, FaultyFileSystem::Mode::ShortWrite); },
             true});
        // A read-back that differs from what was written: the disk did not
        // keep the record, and a success would be a lie.
        const bool readBack = k >= 2 && steps[k - 1].operation == Operation::Read &&
                              steps[k - 2].operation == Operation::Flush;
        scenarios.push_back(
            {"other bytes read" + step,
             [at](FaultyFileSystem& f) { f.failAt(at, FaultyFileSystem::Mode::WrongBytes); }, true,
             readBack});
    }
    // Failing every time also defeats the attempt to put the old bytes back.
    for (Operation operation : {Operation::Read, Operation::Write, Operation::Flush}) {
        scenarios.push_back(
            {std::string("every ") + operationName(operation) + " failing",
             [operation, path](FaultyFileSystem& f) { f.failAlways(operation, path); }, false});
    }

    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        writeFile(path, before);
        FaultyFileSystem faulty;
        scenario.arm(faulty);
        const auto written = archive::writeRecord(faulty, path, offset, record);
        if (scenario.once) {
            EXPECT_TRUE(faulty.injected());
        }
        if (scenario.mustFail) {
            ASSERT_FALSE(written.has_value());
            EXPECT_EQ(written.error().code, archive::Fault::VerifyMismatch);
        }
        const Bytes now = readFile(path);
        if (written) {
            EXPECT_TRUE(now == after) << "success reported, but the new record is not in place";
        } else {
            EXPECT_TRUE(now == before)
                << "\"" << written.error().code.message() << "\" reported, but the archive "
                << (now == after ? "holds the new record" : "is neither old nor new");
        }
        EXPECT_EQ(dir.fileNames(), std::vector<std::string>{"GRPFACET.S10"});
    }
}

}  // namespace
