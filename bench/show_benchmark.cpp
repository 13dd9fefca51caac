// Showing one portrait number: both records of the number read and turned
// into the pictures the two previews display, by the session and the
// preview's picture-making, and by the byte-at-a-time way, over numbers
// spread across the historical range.
#include <QImage>
#include <algorithm>
#include <array>

#include "archive/layout.h"
#include "bench_support.h"
#include "platform/picture_box.h"
#include "reference.h"
#include "session/session.h"

namespace pelloran::bench {
namespace {

using archive::kLargeLayout;
using archive::kSmallLayout;
using archive::Slot;

double recordPosition(const archive::SlotLayout& layout, int number)
{
    return static_cast<double>(archive::recordOffset(layout, number)) + 1;
}

int spreadHistorical(std::int64_t i)
{
    return spreadNumber(i, archive::kFirstNumber, archive::kLastHistoricalNumber);
}

// The session on the demo pair, showing number 1.
std::optional<session::Session> openDemoPair()
{
    session::Session session;
    if (!session.open(demoFolder() / "GRPFACES.S10")) return std::nullopt;
    return session;
}

// The reference is a fair baseline only if it shows what the window shows
// and leaves the same palette and pixels behind.
bool referenceMatchesSession(session::Session& session)
{
    for (int number : {archive::kFirstNumber, 400, archive::kLastHistoricalNumber}) {
        if (!session.showNumber(number)) return false;
        for (Slot slot : {Slot::Large, Slot::Small}) {
            const archive::SlotLayout& layout = archive::layoutOf(slot);
            const session::Record& record = session.state().slot(slot).loaded;
            archive::RgbPalette palette{}, expected{};
            std::array<std::uint8_t, 5120> pixels{};
            const QImage picture = reference::loadPortrait(
                session.state().archive(slot), recordPosition(layout, number), layout.width,
                layout.recordSize, palette, pixels);
            archive::decodePalette(std::span(record).subspan(layout.pixelBlockSize()), expected);
            if (!samePixels(picture, platform::recordPicture(slot, record)) ||
                palette != expected ||
                !std::equal(record.begin(), record.begin() + layout.pixelBlockSize(),
                            pixels.begin()))
                return false;
        }
    }
    return true;
}

void showOurs(benchmark::State& state)
{
    auto session = openDemoPair();
    if (!session) return state.SkipWithError("the demo pair did not open");

    std::int64_t i = 0;
    for (auto _ : state) {
        if (!session->showNumber(spreadHistorical(i++)))
            return state.SkipWithError("a number did not load");
        const QImage large = platform::recordPicture(Slot::Large, session->state().large.loaded);
        const QImage small = platform::recordPicture(Slot::Small, session->state().small.loaded);
        benchmark::DoNotOptimize(large);
        benchmark::DoNotOptimize(small);
    }
    state.SetLabel("target: median <= 10 us, >= 250x faster than the reference");
}

void showReference(benchmark::State& state)
{
    auto session = openDemoPair();
    if (!session || !referenceMatchesSession(*session))
        return state.SkipWithError("the reference shows other pixels than the window");

    const std::filesystem::path large = demoFolder() / "GRPFACES.S10";
    const std::filesystem::path small = demoFolder() / "GRPFACET.S10";
    archive::RgbPalette largePalette{}, smallPalette{};
    std::array<std::uint8_t, 5120> largePixels{};
    std::array<std::uint8_t, 2304> smallPixels{};
    QImage largePicture, smallPicture;
    std::int64_t i = 0;
    for (auto _ : state) {
        const int number = spreadHistorical(i++);
        largePicture = reference::loadPortrait(large, recordPosition(kLargeLayout, number), 64,
                                               kLargeLayout.recordSize, largePalette, largePixels);
        smallPicture = reference::loadPortrait(small, recordPosition(kSmallLayout, number), 32,
                                               kSmallLayout.recordSize, smallPalette, smallPixels);
        benchmark::DoNotOptimize(largePicture);
        benchmark::DoNotOptimize(smallPicture);
    }
}

BENCHMARK(showOurs)
    ->Name("show/ours")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(showReference)
    ->Name("show/reference")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace pelloran::bench
