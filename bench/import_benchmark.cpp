// Import of each kind of BMP that painting programs save (the files of
// tests/data/foreign): decoding and mapping to the record from memory, ours,
// against Qt's own BMP reader decoding the same bytes to a QImage in the same
// run. Qt does less (no mapping) and is the yardstick, not a rival.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "bench_support.h"
#include "bitmap/import.h"

namespace pelloran::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fixture(const std::string& name)
{
    return testing::readFile(std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign" / name);
}

// The record true-colour files replace: the pattern they were drawn from, as
// after an export, an edit elsewhere and a save in true colour. newColours
// replaces a record whose palette has none of the picture's colours instead.
enum class Current { Pattern, NewColours };

const Bytes& currentRecord(Current current)
{
    static const Bytes pattern = [] {
        const Bytes blank(archive::kLargeLayout.recordSize, 0);
        return bitmap::importBitmap(fixture("pillow-p-64x80.bmp"), {blank, blank})->record;
    }();
    static const Bytes other(archive::kLargeLayout.recordSize, 0x33);
    return current == Current::Pattern ? pattern : other;
}

void importOurs(benchmark::State& state, const std::string& file, Current current)
{
    const Bytes bytes = fixture(file);
    const Bytes& record = currentRecord(current);
    for (auto _ : state) {
        auto imported = bitmap::importBitmap(bytes, {record, record});
        benchmark::DoNotOptimize(imported);
        if (!imported) return state.SkipWithError(("refused: " + file).c_str());
    }
    state.SetLabel(file + "; target: median far below 1 ms");
}

void importReference(benchmark::State& state, const std::string& file)
{
    const Bytes bytes = fixture(file);
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "bmp");
        QImage image = reader.read();
        benchmark::DoNotOptimize(image);
        if (image.isNull())
            return state.SkipWithError(
                ("Qt cannot read " + file + ": " + reader.errorString().toStdString()).c_str());
    }
    state.SetLabel(file + "; QImageReader, decode only");
}

struct Kind {
    const char* name;
    const char* file;
    Current current = Current::Pattern;
};

// One large-portrait file of each kind.
const Kind kKinds[] = {
    {"import-exported", "pillow-p-64x80.bmp"},
    {"import-v5-8bit", "gimp-64x80.bmp"},
    {"import-v4-8bit", "gimp-as-v4-header-64x80.bmp"},
    {"import-os2-8bit", "imagemagick-os2-64x80.bmp"},
    {"import-rle8-40", "graphicsmagick-rle8-64x80.bmp"},
    {"import-rle8-124", "gimp-rle8-64x80.bmp"},
    {"import-short-palette", "gimp-reindexed-128-colours-64x80.bmp"},
    {"import-4bit", "gimp-4bit-16-colours-64x80.bmp"},
    {"import-rle4", "gimp-rle4-16-colours-64x80.bmp"},
    {"import-1bit", "gimp-1bit-2-colours-64x80.bmp"},
    {"import-top-down", "top-down-64x80.bmp"},
    {"import-24bit", "pillow-rgb-64x80.bmp"},
    {"import-32bit-bitfields", "imagemagick-edit-32bit-128-colours-64x80.bmp"},
    {"import-24bit-new-colours", "pillow-rgb-64x80.bmp", Current::NewColours},
};

const bool kRegistered = [] {
    for (const Kind& kind : kKinds) {
        benchmark::RegisterBenchmark((std::string(kind.name) + "/ours").c_str(), importOurs,
                                     std::string(kind.file), kind.current)
            ->Unit(benchmark::kMicrosecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly();
        benchmark::RegisterBenchmark((std::string(kind.name) + "/reference").c_str(),
                                     importReference, std::string(kind.file))
            ->Unit(benchmark::kMicrosecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly();
    }
    return true;
}();

}  // namespace
}  // namespace pelloran::bench
