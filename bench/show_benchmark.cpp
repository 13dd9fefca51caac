// Showing one portrait number: both records of the number read and turned
// into the pictures the two previews display, by the window's own
// LoadPortrait and by the byte-at-a-time way, over numbers spread across the
// whole range.
#include <QImage>
#include <algorithm>
#include <array>

#include "archive/layout.h"
#include "bench_support.h"
#include "reference.h"

namespace pelloran::bench {
namespace {

using archive::kLargeLayout;
using archive::kSmallLayout;
using archive::Slot;

double recordPosition(const archive::SlotLayout& layout, int number)
{
    return static_cast<double>(archive::recordOffset(layout, number)) + 1;
}

// What the user sees: the colour of every pixel, whatever the image's format.
bool samePixels(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// The reference is a fair baseline only if it shows what the window shows
// and leaves the same palette and pixels behind.
bool referenceMatchesWindow(editor::Form1& form)
{
    archive::RgbPalette palette{};
    std::array<std::uint8_t, 5120> pixels{};
    for (int number : {archive::kFirstNumber, 400, archive::kLastNumber}) {
        form.LoadPortrait(Slot::Large, recordPosition(kLargeLayout, number), form.LargeWidth,
                          form.LargeRecordSize);
        form.LoadPortrait(Slot::Small, recordPosition(kSmallLayout, number), form.SmallWidth,
                          form.SmallRecordSize);
        const QImage large =
            reference::loadPortrait(form.LargeFilePath, recordPosition(kLargeLayout, number),
                                    form.LargeWidth, form.LargeRecordSize, palette, pixels);
        if (!samePixels(large, form.Pic1->picture()) || palette != form.LargePalette ||
            pixels != form.LargePixels)
            return false;
        const QImage small =
            reference::loadPortrait(form.SmallFilePath, recordPosition(kSmallLayout, number),
                                    form.SmallWidth, form.SmallRecordSize, palette, pixels);
        if (!samePixels(small, form.Pic2->picture()) || palette != form.SmallPalette ||
            !std::equal(pixels.begin(), pixels.begin() + 1280, form.SmallPixels.begin()))
            return false;
    }
    return true;
}

void showOurs(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    editor::Form1& form = *window.form;

    std::int64_t i = 0;
    for (auto _ : state) {
        const int number = spreadNumber(i++, archive::kFirstNumber, archive::kLastNumber);
        form.LoadPortrait(Slot::Large, recordPosition(kLargeLayout, number), form.LargeWidth,
                          form.LargeRecordSize);
        form.LoadPortrait(Slot::Small, recordPosition(kSmallLayout, number), form.SmallWidth,
                          form.SmallRecordSize);
    }
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    state.SetLabel("target: median <= 10 us, >= 250x faster than the reference");
}

void showReference(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    if (!referenceMatchesWindow(*window.form))
        return skipWithError(state,
                             QStringLiteral("the reference shows other pixels than the window"));

    const std::filesystem::path large = demoFolder() / "GRPFACES.S10";
    const std::filesystem::path small = demoFolder() / "GRPFACET.S10";
    archive::RgbPalette largePalette{}, smallPalette{};
    std::array<std::uint8_t, 5120> largePixels{};
    std::array<std::uint8_t, 2304> smallPixels{};
    QImage largePicture, smallPicture;
    std::int64_t i = 0;
    for (auto _ : state) {
        const int number = spreadNumber(i++, archive::kFirstNumber, archive::kLastNumber);
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
