// Browsing in the window as a user does it: the number bar moves, the
// handler runs, and the event loop repaints what changed, both previews
// included. Once with the window's own handler and once with the
// byte-at-a-time way in its place, on the same window.
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "archive/layout.h"
#include "bench_support.h"
#include "demo_archives.h"
#include "platform/picture_box.h"
#include "reference.h"

namespace pelloran::bench {
namespace {

using archive::Slot;
using editor::Form1;

constexpr int kAllNumbers = archive::kLastNumber - archive::kFirstNumber + 1;

// Whether moving the bar to number repaints both previews by the time the
// event loop has settled: what the figures below claim to include.
bool changeRepaintsPreviews(Form1& form, int number)
{
    PaintCounter large(form.Pic1);
    PaintCounter small(form.Pic2);
    form.HScroll1->setValue(number);
    settle();
    return large.count() > 0 && small.count() > 0;
}

// Whether the window shows the records of number.
bool holdsNumber(const Form1& form, int number)
{
    return samePixels(
               form.Pic1->picture(),
               platform::recordPicture(Slot::Large, demo::demoRecord(Slot::Large, number))) &&
           samePixels(
               form.Pic2->picture(),
               platform::recordPicture(Slot::Small, demo::demoRecord(Slot::Small, number))) &&
           form.Label1->text().endsWith(QString::number(number));
}

// The number change of the byte-at-a-time way, in the same window: both
// positions, both loads painted pixel by pixel, the same controls updated.
void referenceNumberChange(Form1& form, int number)
{
    static archive::RgbPalette largePalette, smallPalette;
    static std::array<std::uint8_t, 5120> largePixels;
    static std::array<std::uint8_t, 2304> smallPixels;
    const auto previous = static_cast<std::int16_t>(number - 1);
    const double largePosition = previous * 6144.0 + archive::kLargeLayout.base + 1;
    const double smallPosition = previous * 2304.0 + archive::kSmallLayout.base + 1;
    form.Pic1->setPicture(reference::loadPortrait(form.LargeFilePath, largePosition, 64, 6144,
                                                  largePalette, largePixels));
    form.Pic2->setPicture(reference::loadPortrait(form.SmallFilePath, smallPosition, 32, 2304,
                                                  smallPalette, smallPixels));
    form.Command3->setEnabled(true);
    form.Command4->setEnabled(true);
    form.Command5->setEnabled(false);
    form.Label1->setText(QStringLiteral("编号:") + QString::number(number));
}

void referenceMoveTo(Form1& form, int number)
{
    {
        const QSignalBlocker quiet(form.HScroll1);
        form.HScroll1->setValue(number);
    }
    referenceNumberChange(form, number);
}

void referenceShowRange(Form1& form, int first, int last, QRadioButton* option)
{
    {
        const QSignalBlocker quiet1(form.Option1);
        const QSignalBlocker quiet3(form.Option3);
        option->setChecked(true);
    }
    {
        const QSignalBlocker quiet(form.HScroll1);
        form.HScroll1->setRange(first, last);
    }
    form.Label2->setText(QString::number(form.HScroll1->minimum()));
    form.Label3->setText(QString::number(form.HScroll1->maximum()));
    referenceMoveTo(form, first);
}

void changeOurs(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    if (!changeRepaintsPreviews(form, 2))
        return skipWithError(state,
                             QStringLiteral("a number change did not repaint both previews"));

    // Number 1 is shown after opening; the walk starts elsewhere.
    std::int64_t i = 1;
    int number = 0;
    for (auto _ : state) {
        number = spreadNumber(i++, archive::kFirstNumber, archive::kLastHistoricalNumber);
        form.HScroll1->setValue(number);
        settle();
    }
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    if (!holdsNumber(form, number))
        return skipWithError(state, QStringLiteral("the window does not show the last number"));
    state.SetLabel("target: median <= 100 us");
}

void changeReference(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;

    std::int64_t i = 1;
    int number = 0;
    for (auto _ : state) {
        number = spreadNumber(i++, archive::kFirstNumber, archive::kLastHistoricalNumber);
        referenceMoveTo(form, number);
        settle();
    }
    if (!holdsNumber(form, number))
        return skipWithError(state, QStringLiteral("the window does not show the last number"));
}

// The peak resident set of a process that starts the window as main() does,
// opens the pair and shows every number: measured once per run, in a child,
// so that nothing of this program's own counts.
std::optional<double> sweptProcessPeakMiB()
{
    static const std::optional<double> peak = []() -> std::optional<double> {
        const auto printed = runSelf({kSweepChild, demoFolder().path().string()});
        if (!printed) return std::nullopt;
        try {
            return std::stod(*printed) / (1024.0 * 1024.0);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }();
    return peak;
}

void sweepOurs(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    // Each lap starts on the last number of the new officers' range.
    form.Option1->click();
    form.HScroll1->setValue(archive::kLastNumber);
    settle();

    for (auto _ : state) sweepEveryNumber(form);
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    if (!holdsNumber(form, archive::kLastNumber))
        return skipWithError(state, QStringLiteral("the window does not show the last number"));

    const auto peak = sweptProcessPeakMiB();
    if (!peak) return skipWithError(state, QStringLiteral("the sweep in a child process failed"));
    state.counters["numbers"] = kAllNumbers;
    state.counters["peak_rss_MiB"] = *peak;
    state.SetLabel("target: median <= 100 ms for 832 numbers; peak resident set <= 48 MiB");
}

void sweepReference(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    Form1& form = *window.form;
    referenceShowRange(form, archive::kFirstNewNumber, archive::kLastNumber, form.Option1);
    referenceMoveTo(form, archive::kLastNumber);
    settle();

    for (auto _ : state) {
        referenceShowRange(form, archive::kFirstNumber, archive::kLastHistoricalNumber,
                           form.Option3);
        settle();
        for (int number = archive::kFirstNumber + 1; number <= archive::kLastHistoricalNumber;
             ++number) {
            referenceMoveTo(form, number);
            settle();
        }
        referenceShowRange(form, archive::kFirstNewNumber, archive::kLastNumber, form.Option1);
        settle();
        for (int number = archive::kFirstNewNumber + 1; number <= archive::kLastNumber; ++number) {
            referenceMoveTo(form, number);
            settle();
        }
    }
    if (!holdsNumber(form, archive::kLastNumber))
        return skipWithError(state, QStringLiteral("the window does not show the last number"));
    state.counters["numbers"] = kAllNumbers;
}

BENCHMARK(changeOurs)
    ->Name("change/ours")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(changeReference)
    ->Name("change/reference")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(sweepOurs)
    ->Name("sweep/ours")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(sweepReference)
    ->Name("sweep/reference")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace pelloran::bench
