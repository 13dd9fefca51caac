// Export of the shown pair and write-back of an imported pair, through the
// window's own handlers with dialogs that answer at once, and the
// byte-at-a-time way on the same files.
#include <QScrollBar>
#include <chrono>
#include <vector>

#include "archive/layout.h"
#include "bench_support.h"
#include "demo_archives.h"
#include "platform/paths.h"
#include "reference.h"
#include "support/faulty_file_system.h"

namespace pelloran::bench {
namespace {

using archive::Slot;
using editor::Form1;

// A number in the middle of the archive: nothing about its records is special.
constexpr int kNumber = 400;

using testing::readFile;

// Whether both archives hold the demo records of number, byte for byte.
bool archivesHoldDemoRecords(const std::filesystem::path& folder, int number)
{
    for (auto [slot, name] :
         {std::pair{Slot::Large, "GRPFACES.S10"}, std::pair{Slot::Small, "GRPFACET.S10"}}) {
        const auto archive = readFile(folder / name);
        const auto expected = demo::demoRecord(slot, number);
        const auto offset = archive::recordOffset(archive::layoutOf(slot), number);
        if (archive.size() < offset + expected.size() ||
            !std::equal(expected.begin(), expected.end(),
                        archive.begin() + static_cast<std::ptrdiff_t>(offset)))
            return false;
    }
    return true;
}

void exportOurs(benchmark::State& state)
{
    const TempDir out(memoryRoot());
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    window.showNumber(kNumber);

    const QString chosen = platform::toQString(out / "face.bmp");
    for (auto _ : state) {
        window.dialog.answer(chosen);
        form.Command3_Click();
    }
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    if (readFile(out / "face.bmp").size() != 6198 || readFile(out / "faceT.BMP").size() != 2358)
        return skipWithError(state, QStringLiteral("the exported files have the wrong size"));
    state.SetLabel("in " + describe(out.path()) + "; target: median <= 1 ms");
}

void exportReference(benchmark::State& state)
{
    const TempDir out(memoryRoot());
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    window.showNumber(kNumber);

    for (auto _ : state)
        reference::exportPair(form.BitmapHeader, form.LargePalette, form.LargePixels,
                              form.SmallPalette, form.SmallPixels, out / "face.bmp",
                              out / "faceT.BMP");

    // The baseline must write what the window writes.
    window.dialog.answer(platform::toQString(out / "ours.bmp"));
    form.Command3_Click();
    if (readFile(out / "face.bmp") != readFile(out / "ours.bmp") ||
        readFile(out / "faceT.BMP") != readFile(out / "oursT.BMP"))
        return skipWithError(state,
                             QStringLiteral("the reference writes other bytes than the window"));
    state.SetLabel("in " + describe(out.path()));
}

// One press of the write button with both slots pending, the imports done
// outside the measured time. The archives are on disk; fileSystem decides
// whether the write is flushed to it.
void writeBackOurs(benchmark::State& state, fileio::FileSystem& fileSystem, const char* flushNote)
{
    const TempDir folder(diskRoot());
    if (!writeWarmArchives(folder.path()))
        return skipWithError(state, QStringLiteral("cannot write the archives"));
    OpenWindow window(folder.path(), fileSystem);
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    window.showNumber(kNumber);
    window.dialog.answer(platform::toQString(folder / "face.bmp"));
    form.Command3_Click();

    const QString large = platform::toQString(folder / "face.bmp");
    const QString small = platform::toQString(folder / "faceT.BMP");
    int written = 0;
    for (auto _ : state) {
        window.dialog.answer(large);
        form.Command4_Click();
        window.dialog.answer(small);
        form.Command4_Click();
        window.messages.clear();
        const auto start = std::chrono::steady_clock::now();
        form.Command5_Click();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        written += window.messages.titles() == QStringList{QStringLiteral("说明")} ? 1 : 0;
    }
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    if (written != state.iterations() || form.LargePending || form.SmallPending)
        return skipWithError(state, QStringLiteral("a write-back did not complete"));
    if (!archivesHoldDemoRecords(folder.path(), kNumber))
        return skipWithError(state, QStringLiteral("the archives do not hold the written records"));
    state.SetLabel(std::string(flushNote) + ", in " + describe(folder.path()));
}

void writeBackFlushed(benchmark::State& state)
{
    writeBackOurs(state, fileio::nativeFileSystem(), "flushed to disk (fsync)");
}

void writeBackUnflushed(benchmark::State& state)
{
    testing::NoFlushFileSystem fileSystem;
    writeBackOurs(state, fileSystem, "flush skipped");
}

void writeBackReference(benchmark::State& state)
{
    const TempDir folder(diskRoot());
    if (!writeWarmArchives(folder.path()))
        return skipWithError(state, QStringLiteral("cannot write the archives"));
    OpenWindow window(folder.path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    window.showNumber(kNumber);
    window.dialog.answer(platform::toQString(folder / "face.bmp"));
    form.Command3_Click();

    const auto large = folder / "GRPFACES.S10";
    const auto small = folder / "GRPFACET.S10";
    for (auto _ : state) {
        reference::writeBack(large, folder / "face.bmp", form.LargeRecordPos + 1.0, 64, 80,
                             form.LargeRecordSize);
        reference::writeBack(small, folder / "faceT.BMP", form.SmallRecordPos + 1.0, 32, 40,
                             form.SmallRecordSize);
    }
    if (!archivesHoldDemoRecords(folder.path(), kNumber))
        return skipWithError(state, QStringLiteral("the archives do not hold the written records"));
    state.SetLabel("no flush, in " + describe(folder.path()));
}

BENCHMARK(exportOurs)
    ->Name("export/ours")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(exportReference)
    ->Name("export/reference")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(writeBackUnflushed)
    ->Name("writeback/ours")
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(writeBackFlushed)
    ->Name("writeback/ours+fsync")
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(writeBackReference)
    ->Name("writeback/reference")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace pelloran::bench
