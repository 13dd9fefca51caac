// The rollback journal: operations over both archives that land whole or not
// at all, recovery after a crash, undo down the history, and the same under a
// failure at every file operation and under SIGKILL at random moments.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "demo_archives.h"
#include "journal/checksum.h"
#include "journal/format.h"
#include "journal/journal.h"
#include "support/faulty_file_system.h"
#include "support/test_files.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <ranges>
#include <thread>
#endif

namespace {

using namespace pelloran;
using archive::Slot;
using fileio::Operation;
using journal::Origin;
using journal::RecordWrite;
using journal::State;
using pelloran::testing::FaultyFileSystem;
using pelloran::testing::readFile;
using pelloran::testing::TempDir;
using pelloran::testing::writeFile;
using Bytes = std::vector<std::uint8_t>;
using Archives = std::array<Bytes, 2>;  // large, small
using Writes = std::vector<RecordWrite>;

constexpr std::size_t kMarkSize = 40;  // a commit mark, the last block of a committed journal

std::uint64_t offsetOf(Slot slot, int number)
{
    return archive::recordOffset(archive::layoutOf(slot), number);
}

Bytes pattern(std::size_t size, int salt)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + salt);
    return bytes;
}

RecordWrite recordWrite(Slot slot, int number, int salt)
{
    return {slot, offsetOf(slot, number),
            pattern(archive::layoutOf(slot).recordSize, salt * 7 + number)};
}

// The writes of numbers first..last in both archives.
Writes bothSlots(int first, int last, int salt)
{
    Writes writes;
    for (int number = first; number <= last; ++number)
        for (Slot slot : {Slot::Large, Slot::Small})
            writes.push_back(recordWrite(slot, number, salt));
    return writes;
}

Archives applied(Archives archives, const Writes& writes)
{
    for (const RecordWrite& write : writes)
        std::ranges::copy(write.bytes, archives[write.archive == Slot::Large ? 0 : 1].begin() +
                                           static_cast<std::ptrdiff_t>(write.offset));
    return archives;
}

// Archives holding numbers 1 to 4, the large one with some bytes after them.
Archives smallPair()
{
    return {pattern(offsetOf(Slot::Large, 5) + 100, 1), pattern(offsetOf(Slot::Small, 5), 2)};
}

// An archive pair in a folder of its own, and its journal.
struct PairFolder {
    explicit PairFolder(const Archives& archives = smallPair(),
                        const std::filesystem::path& under = std::filesystem::temp_directory_path())
        : dir(under)
    {
        put(archives);
    }
    Archives archives() const { return {readFile(pair.large), readFile(pair.small)}; }
    void put(const Archives& archives) const
    {
        writeFile(pair.large, archives[0]);
        writeFile(pair.small, archives[1]);
    }
    std::optional<Bytes> journalBytes() const
    {
        if (!std::filesystem::exists(journal)) return std::nullopt;
        return readFile(journal);
    }
    void putJournal(const std::optional<Bytes>& bytes) const
    {
        std::filesystem::remove(journal);
        if (bytes) writeFile(journal, *bytes);
    }

    TempDir dir;
    journal::Pair pair{dir / "GRPFACES.S10", dir / "GRPFACET.S10"};
    std::filesystem::path journal = journal::journalPath(pair.large);
};

std::vector<State> statesOf(const std::vector<journal::HistoryEntry>& entries)
{
    std::vector<State> states;
    for (const auto& entry : entries) states.push_back(entry.state);
    return states;
}

TEST(Checksum64, MatchesTheReferenceValuesOfXxh64)
{
    const std::pair<std::size_t, std::uint64_t> rows[] = {
        {0, 0xEF46DB3751D8E999},   {3, 0x31D2363F52E564C9},  {4, 0x9BB64B7D66EE9FDA},
        {31, 0xA2AA5F33CC4A6119},  {32, 0x23C3C17EF790FD97}, {45, 0x86FAEE00897C4B41},
        {6144, 0xCD5E17882D8E3391}};
    for (const auto& [size, expected] : rows) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        EXPECT_EQ(journal::checksum64(bytes), expected) << size;
    }
}

TEST(Journal, UndoWalksBackDownTheHistoryButNotOverARecordChangedSince)
{
    PairFolder folder;
    fileio::FileSystem& fs = fileio::nativeFileSystem();
    journal::Options options;
    options.clock = [] { return journal::Time(std::chrono::hours(1)); };
    const Writes writeBack = bothSlots(2, 2, 1), batch = bothSlots(1, 3, 2);
    const Archives original = folder.archives(), afterWriteBack = applied(original, writeBack);
    ASSERT_TRUE(journal::apply(fs, folder.pair, Origin::WriteBack, writeBack, options));
    ASSERT_TRUE(journal::apply(fs, folder.pair, Origin::BatchImport, batch, options));
    ASSERT_EQ(folder.archives(), applied(afterWriteBack, batch));
    EXPECT_TRUE(std::filesystem::exists(folder.dir / "GRPFACES.S10.journal"));

    // Someone else changes a record the batch wrote: its undo is refused,
    // naming the record, and leaves everything as it was.
    const Archives changed = applied(folder.archives(), {recordWrite(Slot::Small, 3, 9)});
    folder.put(changed);
    auto undone = journal::undoLast(fs, folder.pair, options);
    ASSERT_FALSE(undone.has_value());
    const auto* conflict = std::get_if<journal::UndoConflict>(&undone.error());
    ASSERT_NE(conflict, nullptr);
    EXPECT_EQ(conflict->record, (journal::RecordPlace{Slot::Small, offsetOf(Slot::Small, 3)}));
    EXPECT_EQ(folder.archives(), changed);

    folder.put(applied(afterWriteBack, batch));
    struct Step {
        Origin origin;
        std::size_t touched;
        Archives after;
    };
    for (const Step& step :
         {Step{Origin::BatchImport, 6, afterWriteBack}, Step{Origin::WriteBack, 2, original}}) {
        undone = journal::undoLast(fs, folder.pair, options);
        ASSERT_TRUE(undone.has_value());
        EXPECT_EQ(undone->undone.origin, step.origin);
        EXPECT_EQ(undone->touched.size(), step.touched);
        EXPECT_EQ(folder.archives(), step.after);
    }
    undone = journal::undoLast(fs, folder.pair, options);
    EXPECT_TRUE(!undone && std::holds_alternative<journal::NothingToUndo>(undone.error()));

    const auto entries = journal::history(fs, folder.pair);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(statesOf(*entries),
              (std::vector{State::Undone, State::Undone, State::Committed, State::Committed}));
    EXPECT_EQ((*entries)[2].undoes, (*entries)[1].id);
    EXPECT_EQ((*entries)[3].undoes, (*entries)[0].id);
    EXPECT_EQ((*entries)[1].records, 6u);
    EXPECT_EQ((*entries)[0].time, journal::Time(std::chrono::hours(1)));
}

// What a kill cannot show, since it leaves the page cache standing: the
// order the journal's promises rest on, as the file operations happened.
TEST(Journal, FlushesItsEntryBeforeAnyRecordAndReadsTheRecordsBackBeforeTheCommitMark)
{
    PairFolder folder;
    ASSERT_TRUE(journal::apply(fileio::nativeFileSystem(), folder.pair, Origin::WriteBack,
                               bothSlots(3, 3, 1)));
    FaultyFileSystem fs;
    ASSERT_TRUE(journal::apply(fs, folder.pair, Origin::BatchImport, bothSlots(1, 2, 5)));
    const auto& log = fs.log();
    const auto is = [](const auto& path, Operation operation) {
        return [&path, operation](const FaultyFileSystem::Entry& e) {
            return e.path == path && e.operation == operation &&
                   (operation != Operation::Write || e.size > 0);
        };
    };
    const auto first = [&](auto pred) { return std::ranges::find_if(log, pred) - log.begin(); };
    const auto last = [&](auto pred) {
        return log.rend() - std::ranges::find_if(log.rbegin(), log.rend(), pred) - 1;
    };
    const auto entryWrite = first(is(folder.journal, Operation::Write));
    const auto entryFlush = first(is(folder.journal, Operation::Flush));
    const auto commitWrite = last(is(folder.journal, Operation::Write));
    const auto commitFlush = last(is(folder.journal, Operation::Flush));
    EXPECT_LT(entryWrite, entryFlush);
    EXPECT_LT(entryFlush, commitWrite);
    EXPECT_LT(commitWrite, commitFlush);
    for (const auto& archive : {folder.pair.large, folder.pair.small}) {
        SCOPED_TRACE(archive.filename().string());
        const auto written = first(is(archive, Operation::Write));
        const auto flushed = first(is(archive, Operation::Flush));
        const auto readBack = last(is(archive, Operation::Read));
        EXPECT_LT(entryFlush, written) << "a record changed before its old bytes were durable";
        EXPECT_LT(last(is(archive, Operation::Write)), flushed);
        EXPECT_LT(flushed, readBack);
        EXPECT_LT(readBack, commitWrite) << "committed before the record was read back";
    }
}

// A flipped bit in an older entry is named and passed over: the operations
// after it stay listed and can be undone. Named through a link, the pair
// meets the same journal.
TEST(Journal, ADamagedEntryHidesNothingAfterItAndALinkMeetsTheSameJournal)
{
    PairFolder folder;
    fileio::FileSystem& fs = fileio::nativeFileSystem();
#ifndef _WIN32
    // The journal holds the archives' bytes: it is exactly as private.
    const auto privateBits =
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    std::filesystem::permissions(folder.pair.large, privateBits);
#endif
    ASSERT_TRUE(journal::apply(fs, folder.pair, Origin::WriteBack, bothSlots(1, 1, 1)));
    // A journal this user may read but not write (another user's write made
    // it) is taken over whole, as private as before.
    FaultyFileSystem faulty;
    const auto& log = faulty.log();
    ASSERT_TRUE(journal::apply(faulty, folder.pair, Origin::WriteBack, bothSlots(2, 2, 2)));
    const auto opening =
        std::ranges::find_if(log, [&](const auto& entry) { return entry.path == folder.journal; });
    faulty.clearLog();
    faulty.failAt(static_cast<int>(opening - log.begin()) + 1, FaultyFileSystem::Mode::Fail,
                  std::make_error_code(std::errc::permission_denied));
    ASSERT_TRUE(journal::apply(faulty, folder.pair, Origin::WriteBack, bothSlots(3, 3, 3)));
    EXPECT_TRUE(faulty.injected());
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(folder.journal).permissions(), privateBits);
#endif
    Bytes bytes = *folder.journalBytes();
    bytes[journal::format::kHeaderSize + journal::format::kBlockHeadSize + 40] ^=
        0x01;  // inside the first entry
    folder.putJournal(bytes);
    auto entries = journal::history(fs, folder.pair);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(statesOf(*entries),
              (std::vector{State::Damaged, State::Committed, State::Committed}));
    // What a compaction killed half way leaves is removed by the next writer.
    auto leftover = folder.journal;
    leftover += ".pelloran-0.tmp";
    writeFile(leftover, Bytes(10, 1));

#ifndef _WIN32
    const journal::Pair linked{folder.dir / "link.S10", folder.pair.small};
    std::filesystem::create_symlink(folder.pair.large, linked.large);
    EXPECT_EQ(journal::journalPath(linked.large), folder.journal);
    ASSERT_TRUE(journal::undoLast(fs, linked).has_value());
#else
    ASSERT_TRUE(journal::undoLast(fs, folder.pair).has_value());
#endif
    ASSERT_TRUE(journal::undoLast(fs, folder.pair).has_value());
    const auto nothing = journal::undoLast(fs, folder.pair);
    EXPECT_TRUE(!nothing && std::holds_alternative<journal::NothingToUndo>(nothing.error()));
    EXPECT_FALSE(std::filesystem::exists(leftover));
    entries = journal::history(fs, folder.pair);
    EXPECT_EQ(statesOf(*entries), (std::vector{State::Damaged, State::Undone, State::Undone,
                                               State::Committed, State::Committed}));
}

TEST(Journal, RefusesBeforeAnyRecordIsTouched)
{
    const std::error_code tooShort = archive::Fault::TooShort;
    const std::error_code overlap = journal::Fault::OverlappingRecords;
    const auto missing = std::make_error_code(std::errc::no_such_file_or_directory);
    const auto readOnly = std::make_error_code(std::errc::read_only_file_system);
    const auto full = std::make_error_code(std::errc::no_space_on_device);
    enum class Trouble {
        SmallMissing,
        LargeShort,
        None,
        NoOpens,
        NoWrites,
        NoJournalWrites,
        ForeignJournal,  // a file of something else at the journal's name
    };
    struct Row {
        const char* what;
        bool withHistory;  // a journal exists already
        Trouble trouble;
        Writes writes;
        std::error_code reason;
    };
    const Row rows[] = {
        {"small archive missing", false, Trouble::SmallMissing, bothSlots(1, 1, 3), missing},
        {"large archive ends inside the record", false, Trouble::LargeShort, bothSlots(4, 4, 3),
         tooShort},
        {"records overlap",
         true,
         Trouble::None,
         {recordWrite(Slot::Large, 1, 3), {Slot::Large, offsetOf(Slot::Large, 2) - 1, Bytes(9)}},
         overlap},
        {"journal's folder read-only", false, Trouble::NoOpens, bothSlots(1, 1, 3), readOnly},
        {"disk full as the journal is created", false, Trouble::NoWrites, bothSlots(1, 1, 3), full},
        {"disk full as the entry is appended", true, Trouble::NoJournalWrites, bothSlots(1, 2, 3),
         full},
        {"a file that is no journal at its name", false, Trouble::ForeignJournal,
         bothSlots(1, 1, 3), journal::Fault::NotAJournal},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PairFolder folder;
        if (row.withHistory) {
            ASSERT_TRUE(journal::apply(fileio::nativeFileSystem(), folder.pair, Origin::WriteBack,
                                       bothSlots(3, 3, 1)));
        }
        FaultyFileSystem fs;
        const std::filesystem::path anyFile;
        if (row.trouble == Trouble::SmallMissing) std::filesystem::remove(folder.pair.small);
        if (row.trouble == Trouble::ForeignJournal) writeFile(folder.journal, Bytes(100, 'x'));
        if (row.trouble == Trouble::LargeShort)
            std::filesystem::resize_file(folder.pair.large, offsetOf(Slot::Large, 4) + 10);
        if (row.trouble == Trouble::NoOpens) fs.failAlways(Operation::Open, anyFile, readOnly);
        if (row.trouble == Trouble::NoWrites) fs.failAlways(Operation::Write, anyFile, full);
        if (row.trouble == Trouble::NoJournalWrites)
            fs.failAlways(Operation::Write, folder.journal, full);
        const auto names = folder.dir.fileNames();
        const Bytes large = readFile(folder.pair.large);
        const auto journalBefore = folder.journalBytes();

        const auto applied = journal::apply(fs, folder.pair, Origin::BatchImport, row.writes);
        ASSERT_FALSE(applied.has_value());
        EXPECT_TRUE(applied.error().code == row.reason.default_error_condition())
            << applied.error().code.message();
        EXPECT_EQ(readFile(folder.pair.large), large);
        EXPECT_EQ(folder.journalBytes(), journalBefore);
        EXPECT_EQ(folder.dir.fileNames(), names);
        EXPECT_TRUE(fs.entries(Operation::Write, folder.pair.large).empty());
        // Opening only reads: a file it cannot use stops the writes, not the reading.
        if (row.trouble == Trouble::ForeignJournal) {
            const auto recovered = journal::recover(fs, folder.pair);
            EXPECT_TRUE(recovered && !*recovered);
        }
    }
}

TEST(Journal, RecoveryRollsBackAnUnfinishedOperationOnlyWhereItsBytesAreAndKeepsAFinishedOne)
{
    const Writes writes = bothSlots(1, 2, 5);  // large 1, small 1, large 2, small 2
    const RecordWrite foreign = recordWrite(Slot::Small, 2, 9);
    const journal::RecordPlace small1{Slot::Small, offsetOf(Slot::Small, 1)},
        small2{Slot::Small, offsetOf(Slot::Small, 2)};
    // What else happened between the crash and the recovery.
    enum class Meddle { None, SmallOldAgain, SmallChanged, SmallGone, BothOld };
    struct Row {
        const char* what;
        std::size_t cut;    // bytes cut off the journal's end after the operation
        std::size_t zeros;  // zeros appended after that, as a crash that grew the file
        Meddle meddle;
        bool discards;  // recovery finds a torn end to cut off
        bool rolledBack;
        std::size_t putBack;
        std::vector<journal::RecordPlace> leftAlone;
        // Every record holds the new bytes: finished, only its mark is lost.
        bool completed = false;
        std::size_t flipped = 0;  // a bit flipped this many bytes before the end
    };
    const Row rows[] = {
        {"commit mark never written", kMarkSize, 0, Meddle::None, false, false, 0, {}, true},
        {"commit mark torn", kMarkSize / 2, 0, Meddle::None, true, false, 0, {}, true},
        {"commit mark damaged", 0, 0, Meddle::None, false, false, 0, {}, true, 20},
        {"killed between the archives", kMarkSize, 0, Meddle::SmallOldAgain, false, true, 2, {}},
        {"a record changed since", kMarkSize, 0, Meddle::SmallChanged, false, true, 3, {small2}},
        {"small archive gone", kMarkSize, 0, Meddle::SmallGone, false, true, 2, {small1, small2}},
        {"entry torn, no record written", 3 * kMarkSize, 0, Meddle::BothOld, true, false, 0, {}},
        {"zeros after the commit mark", 0, 4096, Meddle::None, true, false, 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PairFolder folder;
        fileio::FileSystem& fs = fileio::nativeFileSystem();
        ASSERT_TRUE(journal::apply(fs, folder.pair, Origin::BatchImport, writes));
        Bytes journalBytes = *folder.journalBytes();
        journalBytes.resize(journalBytes.size() - row.cut + row.zeros);
        if (row.flipped) journalBytes[journalBytes.size() - row.flipped] ^= 0x10;
        folder.putJournal(journalBytes);
        Archives meddled = folder.archives();
        if (row.meddle == Meddle::SmallOldAgain) meddled[1] = smallPair()[1];
        if (row.meddle == Meddle::SmallChanged) meddled = applied(meddled, {foreign});
        if (row.meddle == Meddle::BothOld) meddled = smallPair();
        folder.put(meddled);
        if (row.meddle == Meddle::SmallGone) std::filesystem::remove(folder.pair.small);

        const auto recovered = journal::recover(fs, folder.pair);
        ASSERT_TRUE(recovered.has_value()) << recovered.error().code.message();
        ASSERT_TRUE(recovered->has_value());
        const journal::Recovery& report = **recovered;
        EXPECT_EQ(report.operation.has_value(), row.rolledBack || row.completed);
        EXPECT_EQ(report.completed, row.completed);
        EXPECT_EQ(report.operation ? report.operation->origin : Origin::BatchImport,
                  Origin::BatchImport);
        EXPECT_EQ(report.putBack, row.putBack);
        EXPECT_EQ(report.leftAlone, row.leftAlone);
        EXPECT_EQ(report.discardedBytes > 0, row.discards);

        // A record left alone keeps what someone else wrote; every other is old again.
        Archives expected = row.rolledBack ? smallPair() : meddled;
        if (row.meddle == Meddle::SmallChanged) expected = applied(expected, {foreign});
        EXPECT_EQ(readFile(folder.pair.large), expected[0]);
        if (row.meddle == Meddle::SmallGone) {
            EXPECT_FALSE(std::filesystem::exists(folder.pair.small));
        } else {
            EXPECT_EQ(readFile(folder.pair.small), expected[1]);
        }

        // Settled: a second look finds nothing to do.
        const auto again = journal::recover(fs, folder.pair);
        ASSERT_TRUE(again.has_value());
        EXPECT_FALSE(again->has_value());
        const auto entries = journal::history(fs, folder.pair);
        ASSERT_TRUE(entries.has_value());
        EXPECT_EQ(statesOf(*entries), row.flipped ? (std::vector{State::Committed, State::Damaged})
                                      : row.cut > kMarkSize ? std::vector<State>{}
                                      : row.rolledBack      ? std::vector{State::RolledBack}
                                                            : std::vector{State::Committed});
    }

    // With no journal there is nothing to do, and nothing is created.
    PairFolder folder;
    const auto recovered = journal::recover(fileio::nativeFileSystem(), folder.pair);
    ASSERT_TRUE(recovered.has_value());
    EXPECT_FALSE(recovered->has_value());
    EXPECT_TRUE(journal::history(fileio::nativeFileSystem(), folder.pair)->empty());
    EXPECT_FALSE(std::filesystem::exists(folder.journal));
}

TEST(Journal, KeepsTheNewestOperationsWithinItsSizeLimit)
{
    PairFolder folder;
    fileio::FileSystem& fs = fileio::nativeFileSystem();
    journal::Options options;
    options.sizeLimit = 8 * 4700;  // eight small records' worth
    for (int salt = 1; salt <= 12; ++salt) {
        ASSERT_TRUE(journal::apply(fs, folder.pair, Origin::WriteBack,
                                   {{recordWrite(Slot::Small, 1 + salt % 2, salt)}}, options));
        EXPECT_LE(std::filesystem::file_size(folder.journal), options.sizeLimit);
    }
    const auto entries = journal::history(fs, folder.pair);
    ASSERT_TRUE(entries.has_value());
    ASSERT_GE(entries->size(), 2u);
    ASSERT_LT(entries->size(), 12u);
    for (std::size_t i = 0; i < entries->size(); ++i)
        EXPECT_EQ((*entries)[i].id, 12 - entries->size() + 1 + i);

    // The newest can still be undone; the ids go on where they were.
    const auto undone = journal::undoLast(fs, folder.pair, options);
    ASSERT_TRUE(undone.has_value());
    EXPECT_EQ(undone->undone.id, 12u);
    EXPECT_EQ(undone->undoId, 13u);
}

// Whatever file operation fails, each archive ends wholly as it was or wholly
// as the action leaves it, the journal agrees, and success is reported only
// when the new state is in place; a recovery at the next opening changes
// nothing of that.
TEST(Journal, AFailureAtAnyStepLeavesEachArchiveWhollyOldOrWhollyNew)
{
    using Act = std::function<bool(fileio::FileSystem&, const journal::Pair&)>;
    const auto applying = [](const Writes& writes, std::uint64_t limit = 64 << 20) -> Act {
        journal::Options options;
        options.sizeLimit = limit;
        return [=](fileio::FileSystem& fs, const journal::Pair& pair) {
            return journal::apply(fs, pair, Origin::BatchImport, writes, options).has_value();
        };
    };
    const Act undoing = [](fileio::FileSystem& fs, const journal::Pair& pair) {
        return journal::undoLast(fs, pair).has_value();
    };
    const Act recovering = [](fileio::FileSystem& fs, const journal::Pair& pair) {
        return journal::recover(fs, pair).has_value();
    };
    const Writes writeBack = bothSlots(2, 2, 4), batch = bothSlots(1, 3, 5),
                 oneSmall = {recordWrite(Slot::Small, 3, 6)};
    struct Scenario {
        const char* what;
        std::vector<Writes> earlier;  // applied first, on the real files
        bool unfinished;              // and the last of them left uncommitted
        Act act;
        Writes effect;  // what the act writes over the archives as they are
    };
    const Scenario scenarios[] = {
        {"first write-back, journal created", {}, false, applying(writeBack), writeBack},
        {"one small record", {writeBack}, false, applying(oneSmall), oneSmall},
        {"batch in both archives", {writeBack}, false, applying(batch), batch},
        {"write-back that compacts",
         {batch, writeBack, oneSmall},
         false,
         applying(writeBack, 60000),
         writeBack},
        {"undo", {batch, writeBack}, false, undoing, {}},
        {"recovery", {batch, writeBack}, true, recovering, {}},
    };

    std::size_t runs = 0;
    for (const Scenario& scenario : scenarios) {
        PairFolder folder;
        fileio::FileSystem& native = fileio::nativeFileSystem();
        // Undo and recovery both lead back to the state before the last earlier write.
        Archives before = smallPair(), after;
        for (const Writes& writes : scenario.earlier) {
            ASSERT_TRUE(journal::apply(native, folder.pair, Origin::WriteBack, writes));
            after = std::exchange(before, applied(before, writes));
        }
        if (!scenario.effect.empty()) after = applied(before, scenario.effect);
        if (scenario.unfinished) {
            // Interrupted between the archives: the small one still old.
            Bytes bytes = *folder.journalBytes();
            bytes.resize(bytes.size() - kMarkSize);
            folder.putJournal(bytes);
            folder.put({before[0], after[1]});
        }
        const auto journalBefore = folder.journalBytes();
        const Archives start = folder.archives();
        const auto newestCommitted = [&] {
            const auto entries = journal::history(native, folder.pair);
            std::uint64_t id = 0;
            for (const auto& entry : entries.value())
                if (entry.state == State::Committed) id = std::max(id, entry.id);
            return id;
        };
        const std::uint64_t committedBefore = newestCommitted();

        FaultyFileSystem counting;
        ASSERT_TRUE(scenario.act(counting, folder.pair)) << scenario.what;
        ASSERT_EQ(folder.archives(), after) << scenario.what;

        // Each step fails once, each write also stops half way, and every
        // write or flush of one archive fails, which defeats putting the old
        // bytes back too.
        std::vector<std::pair<std::string, std::function<void(FaultyFileSystem&)>>> armings;
        for (std::size_t k = 1; k <= counting.log().size(); ++k) {
            const int at = static_cast<int>(k);
            armings.emplace_back("failure at step " + std::to_string(k),
                                 [at](FaultyFileSystem& f) { f.failAt(at); });
            if (counting.log()[k - 1].operation == Operation::Write)
                armings.emplace_back("short write at step " + std::to_string(k),
                                     [at](FaultyFileSystem& f) {
                                         f.failAt(at, FaultyFileSystem::Mode::ShortWrite);
                                     });
            // A record stored wrong is caught by reading it back.
            const auto& step = counting.log()[k - 1];
            if (step.operation == Operation::Write && step.size > 0 &&
                (step.path == folder.pair.large || step.path == folder.pair.small))
                armings.emplace_back("wrong byte stored at step " + std::to_string(k),
                                     [at](FaultyFileSystem& f) {
                                         f.failAt(at, FaultyFileSystem::Mode::WrongBytes);
                                     });
        }
        for (const auto& archive : {folder.pair.large, folder.pair.small})
            for (Operation operation : {Operation::Write, Operation::Flush})
                armings.emplace_back(
                    "every write or flush of " + archive.filename().string(),
                    [=](FaultyFileSystem& f) { f.failAlways(operation, archive); });

        for (const auto& [what, arm] : armings) {
            SCOPED_TRACE(::testing::Message() << scenario.what << ", " << what);
            folder.put(start);
            folder.putJournal(journalBefore);
            FaultyFileSystem faulty;
            arm(faulty);
            const bool succeeded = scenario.act(faulty, folder.pair);
            const bool once = !what.starts_with("every");
            ++runs;
            if (once) {
                EXPECT_TRUE(faulty.injected());
            }
            // A single fault leaves room to put everything back at once; an
            // interrupted recovery is finished by the next one.
            if (succeeded || (once && !scenario.unfinished)) {
                EXPECT_TRUE(folder.archives() == (succeeded ? after : before))
                    << (succeeded ? "success reported, but the new state is not in place"
                                  : "failure reported, but the archives changed");
            }
            const auto recovered = journal::recover(native, folder.pair);
            ASSERT_TRUE(recovered.has_value()) << recovered.error().code.message();
            EXPECT_TRUE(folder.archives() == (succeeded || scenario.unfinished ? after : before));
            const auto again = journal::recover(native, folder.pair);
            ASSERT_TRUE(again.has_value());
            EXPECT_FALSE(again->has_value()) << "the journal was left unsettled";
            if (!scenario.unfinished) {
                EXPECT_EQ(newestCommitted() > committedBefore, succeeded);
            }
        }
    }
    RecordProperty("fault_runs", std::to_string(runs));
    std::printf("journal fault sweep: %zu runs, each ending wholly old or wholly new\n", runs);
}

#ifndef _WIN32
// A child process writes all 832 numbers of both archives as one batch and is
// killed at a random moment; recovery then leaves both archives exactly as
// before or exactly as after the batch. tmpfs keeps it fast: a kill, unlike a
// power cut, leaves the page cache standing, so the disk adds nothing here.
TEST(JournalCrash, AKillAtAnyMomentLeavesTheArchivesAsBeforeOrAfterOnceRecovered)
{
    // A few hundred kills; fewer, but never fewer than the minimum, where a
    // slow machine or a sanitizer would take more than the budget.
    constexpr int kKills = 300, kMinimum = 30;
    constexpr auto kBudget = std::chrono::seconds(40);
    const bool shm = std::filesystem::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0;
    const Archives before{demo::demoArchive(Slot::Large), demo::demoArchive(Slot::Small)};
    PairFolder folder(before, shm ? "/dev/shm" : std::filesystem::temp_directory_path());
    Writes batch;
    for (int number = archive::kFirstNumber; number <= archive::kLastNumber; ++number)
        for (Slot slot : {Slot::Large, Slot::Small})
            batch.push_back({slot, offsetOf(slot, number),
                             demo::demoRecord(slot, archive::kLastNumber + 1 - number)});
    const Archives after = applied(before, batch);
    const auto reset = [&](bool archivesChanged) {
        for (const auto& name : folder.dir.fileNames())
            if (name.find(".journal") != std::string::npos)
                std::filesystem::remove(folder.dir / name);
        if (archivesChanged) folder.put(before);
    };

    // Runs the batch in a child and kills it killAfter microseconds after its
    // start or, given atOperation, after it reached its file operation of that
    // number (it says so through a pipe; watching the files would slow it
    // down). Returns how the child ended and how long it ran.
    using Clock = std::chrono::steady_clock;
    const auto runChild = [&](std::optional<std::int64_t> killAfter,
                              std::optional<std::size_t> atOperation) {
        int pipe[2];
        EXPECT_EQ(::pipe(pipe), 0);
        const auto start = Clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe[0]);
            FaultyFileSystem files;
            files.observer = [&](const FaultyFileSystem::Entry&) {
                if (files.operationCount() + 1 == atOperation) (void)!::write(pipe[1], "k", 1);
            };
            ::_exit(journal::apply(files, folder.pair, Origin::BatchImport, batch) ? 0 : 1);
        }
        ::close(pipe[1]);
        char signal;
        const auto from = atOperation && ::read(pipe[0], &signal, 1) == 1 ? Clock::now() : start;
        if (killAfter) {
            std::this_thread::sleep_until(from + std::chrono::microseconds(*killAfter));
            ::kill(child, SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipe[0]);
        return std::pair{
            status,
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()};
    };

    // Unkilled runs tell how long a batch takes, which of its file operations
    // write records and the commit mark, and how long the committed journal is.
    reset(true);
    const auto [status, whole] = runChild(std::nullopt, std::nullopt);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    reset(true);
    FaultyFileSystem counting;
    ASSERT_TRUE(journal::apply(counting, folder.pair, Origin::BatchImport, batch));
    ASSERT_EQ(folder.archives(), after);
    const auto& log = counting.log();
    const auto firstRecordWrite = std::ranges::find_if(log, [&](const auto& entry) {
        return entry.operation == Operation::Write &&
               (entry.path == folder.pair.large || entry.path == folder.pair.small);
    });
    const auto commitWrite =
        std::ranges::find_if(log | std::views::reverse, [&](const auto& entry) {
            return entry.operation == Operation::Write && entry.path == folder.journal;
        });
    const auto committedSize = std::filesystem::file_size(folder.journal);

    // A third of the kills falls anywhere in the run; the rest at or just after
    // one of the file operations from the first record write to the commit
    // mark, where recovery has the most to do.
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::int64_t> anywhere(0, whole), soonAfter(0, 500);
    std::uniform_int_distribution<std::size_t> operation(
        static_cast<std::size_t>(firstRecordWrite - log.begin()) + 1,
        static_cast<std::size_t>(log.rend() - commitWrite));
    int beforeEntry = 0, entryOnly = 0, mixed = 0, allWritten = 0, kept = 0, afterCommit = 0,
        exited = 0;
    const auto deadline = Clock::now() + kBudget;
    int kills = 0;
    for (bool changed = true; kills < kKills && (kills < kMinimum || Clock::now() < deadline);
         ++kills) {
        SCOPED_TRACE(kills);
        reset(changed);
        const auto [status, took] = kills % 3 == 0 ? runChild(anywhere(random), std::nullopt)
                                                   : runChild(soonAfter(random), operation(random));
        exited += WIFEXITED(status);
        ASSERT_TRUE(!WIFEXITED(status) || WEXITSTATUS(status) == 0);

        // Only a committed batch leaves the journal this long and nothing to do.
        std::error_code missing;
        const bool committed = std::filesystem::file_size(folder.journal, missing) == committedSize;
        const auto recovered = journal::recover(fileio::nativeFileSystem(), folder.pair);
        ASSERT_TRUE(recovered.has_value()) << recovered.error().code.message();
        EXPECT_TRUE(!committed || !recovered->has_value());
        // Every record written, only the mark missing: the batch is kept.
        const bool completed = *recovered && (*recovered)->completed;
        if (!*recovered || !(*recovered)->operation) {
            ++(committed ? afterCommit : beforeEntry);
        } else if (completed) {
            ++kept;
        } else {
            const std::size_t putBack = (*recovered)->putBack;
            ++(putBack == 0 ? entryOnly : putBack == batch.size() ? allWritten : mixed);
        }
        const Archives now = folder.archives();
        ASSERT_TRUE(now == (committed || completed ? after : before))
            << (now == before || now == after ? "the wrong whole state"
                                              : "a mixture of old and new records");
        changed = now != before;
    }
    RecordProperty("kills", kills);
    RecordProperty("before_entry_whole", beforeEntry);
    RecordProperty("inside_record_writes", entryOnly + mixed + allWritten + kept);
    RecordProperty("after_commit", afterCommit);
    std::printf(
        "journal crash test: %d kills (a batch of %zu records runs %lld us): %d before the "
        "entry was whole; %d inside the record writes (%d with no record written yet, %d with "
        "the archives mixed, %d with every record put back, %d finished but for the mark and "
        "kept); %d after the commit (%d had exited)\n",
        kills, batch.size(), static_cast<long long>(whole), beforeEntry,
        entryOnly + mixed + allWritten + kept, entryOnly, mixed, allWritten, kept, afterCommit,
        exited);
}
#endif

}  // namespace
