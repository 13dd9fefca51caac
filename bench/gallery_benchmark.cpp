// Opening the gallery over every number, 1 to 832, until its first paint:
// once as the gallery does it and once the naive way, a grid layout of 832
// labels, each holding the pixmap of a record read on its own.
#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <memory>
#include <vector>

#include "archive/record.h"
#include "bench_support.h"
#include "editor/gallery.h"
#include "platform/picture_box.h"

namespace pelloran::bench {
namespace {

using archive::kLargeLayout;
using archive::Slot;

constexpr session::Numbers kEveryNumber{archive::kFirstNumber, archive::kLastNumber};
constexpr int kColumns = 10;

void galleryOurs(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    for (auto _ : state) {
        auto gallery = std::make_unique<editor::Gallery>(*window.form);
        gallery->showNumbers(kEveryNumber);
        gallery->show();
        settle();
    }
    state.counters["numbers"] = kEveryNumber.last;
    state.SetLabel("target: median well under 100 ms for 832 portraits");
}

void galleryReference(benchmark::State& state)
{
    OpenWindow window(demoFolder().path());
    if (!window.error().isEmpty()) return skipWithError(state, window.error());
    const std::filesystem::path archive = window.form->LargeFilePath;
    std::vector<std::uint8_t> record(kLargeLayout.recordSize);
    for (auto _ : state) {
        auto scroll = std::make_unique<QScrollArea>();
        auto* grid = new QWidget;
        auto* layout = new QGridLayout(grid);
        for (int number = kEveryNumber.first; number <= kEveryNumber.last; ++number) {
            if (!archive::readRecord(fileio::nativeFileSystem(), archive,
                                     archive::recordOffset(kLargeLayout, number), record))
                return skipWithError(state, QStringLiteral("a record could not be read"));
            auto* cell = new QLabel;
            cell->setPixmap(QPixmap::fromImage(platform::recordPicture(Slot::Large, record)));
            const int index = number - kEveryNumber.first;
            layout->addWidget(cell, 2 * (index / kColumns), index % kColumns);
            layout->addWidget(new QLabel(QString::number(number)), 2 * (index / kColumns) + 1,
                              index % kColumns);
        }
        scroll->setWidget(grid);
        scroll->resize(800, 600);
        scroll->show();
        settle();
    }
    state.counters["numbers"] = kEveryNumber.last;
}

BENCHMARK(galleryOurs)
    ->Name("gallery/ours")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(galleryReference)
    ->Name("gallery/reference")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace pelloran::bench
