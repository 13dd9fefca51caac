// What the journal costs: a write-back of a large and a small record as one
// journaled operation, beside the same two records written with
// archive::writeRecord unjournaled, each with and without flushing to disk;
// and a batch of all 832 numbers of both archives as one operation.
#include <vector>

#include "archive/layout.h"
#include "archive/record.h"
#include "bench_support.h"
#include "demo_archives.h"
#include "journal/journal.h"
#include "support/faulty_file_system.h"

namespace pelloran::bench {
namespace {

using archive::Slot;

// A number in the middle of the archive: nothing about its records is special.
constexpr int kNumber = 400;

// Two versions of the writes, taken in turn, so that every iteration changes
// every byte it writes: the demo records of numbers, or of the numbers read
// from the other end of the range.
std::vector<journal::RecordWrite> writesOf(int first, int last, bool reversed)
{
    std::vector<journal::RecordWrite> writes;
    for (int number = first; number <= last; ++number)
        for (Slot slot : {Slot::Large, Slot::Small})
            writes.push_back(
                {slot, archive::recordOffset(archive::layoutOf(slot), number),
                 demo::demoRecord(slot, reversed ? archive::kLastNumber + 1 - number : number)});
    return writes;
}

journal::Pair pairIn(const TempDir& folder)
{
    return {folder / "GRPFACES.S10", folder / "GRPFACET.S10"};
}

void journaled(benchmark::State& state, fileio::FileSystem& fileSystem, int first, int last,
               const char* note)
{
    const TempDir folder(diskRoot());
    if (!writeWarmArchives(folder.path()))
        return skipWithError(state, QStringLiteral("cannot write the archives"));
    const journal::Pair pair = pairIn(folder);
    const std::vector<journal::RecordWrite> versions[] = {writesOf(first, last, false),
                                                          writesOf(first, last, true)};
    const bool batch = last > first;
    const auto origin = batch ? journal::Origin::BatchImport : journal::Origin::WriteBack;
    std::size_t turn = 0;
    for (auto _ : state) {
        // A batch is measured into an empty journal: one that is full adds a
        // compaction, which is rare and measured apart. Write-backs run into
        // the journal they fill, compactions included when they fall due.
        if (batch) {
            state.PauseTiming();
            std::filesystem::remove(journal::journalPath(pair.large));
            state.ResumeTiming();
        }
        if (!journal::apply(fileSystem, pair, origin, versions[++turn % 2]))
            return skipWithError(state, QStringLiteral("a journaled write failed"));
    }
    state.SetLabel(std::string(note) + ", in " + describe(folder.path()));
}

void plain(benchmark::State& state, fileio::FileSystem& fileSystem, const char* note)
{
    const TempDir folder(diskRoot());
    if (!writeWarmArchives(folder.path()))
        return skipWithError(state, QStringLiteral("cannot write the archives"));
    const journal::Pair pair = pairIn(folder);
    const std::vector<journal::RecordWrite> versions[] = {writesOf(kNumber, kNumber, false),
                                                          writesOf(kNumber, kNumber, true)};
    std::size_t turn = 0;
    for (auto _ : state) {
        for (const auto& write : versions[++turn % 2]) {
            const auto& path = write.archive == Slot::Large ? pair.large : pair.small;
            if (!archive::writeRecord(fileSystem, path, write.offset, write.bytes))
                return skipWithError(state, QStringLiteral("a record write failed"));
        }
    }
    state.SetLabel(std::string(note) + ", in " + describe(folder.path()));
}

void writeBackFlushed(benchmark::State& state)
{
    journaled(state, fileio::nativeFileSystem(), kNumber, kNumber,
              "flushed to disk (fsync); target: median well under 5 ms");
}

void writeBackUnflushed(benchmark::State& state)
{
    testing::NoFlushFileSystem fileSystem;
    journaled(state, fileSystem, kNumber, kNumber, "flush skipped");
}

void plainFlushed(benchmark::State& state)
{
    plain(state, fileio::nativeFileSystem(), "two writeRecord calls, flushed to disk (fsync)");
}

void plainUnflushed(benchmark::State& state)
{
    testing::NoFlushFileSystem fileSystem;
    plain(state, fileSystem, "two writeRecord calls, flush skipped");
}

void batchFlushed(benchmark::State& state)
{
    journaled(state, fileio::nativeFileSystem(), archive::kFirstNumber, archive::kLastNumber,
              "1664 records, flushed to disk (fsync); target: median <= 150 ms");
}

void batchUnflushed(benchmark::State& state)
{
    testing::NoFlushFileSystem fileSystem;
    journaled(state, fileSystem, archive::kFirstNumber, archive::kLastNumber,
              "1664 records, flush skipped");
}

BENCHMARK(writeBackFlushed)
    ->Name("journal-writeback/ours+fsync")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(writeBackUnflushed)
    ->Name("journal-writeback/ours")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(plainFlushed)
    ->Name("journal-writeback/plain+fsync")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(plainUnflushed)
    ->Name("journal-writeback/plain")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(batchFlushed)
    ->Name("journal-batch/ours+fsync")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(batchUnflushed)
    ->Name("journal-batch/ours")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace pelloran::bench
