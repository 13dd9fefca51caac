#include "entries.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "bitmap/import.h"
#include "demo_archives.h"
#include "journal/format.h"
#include "journal/journal.h"
#include "support/import_rule.h"

namespace pelloran::fuzz {

namespace {

using archive::Slot;
using archive::SlotLayout;
using Bytes = std::vector<std::uint8_t>;
namespace rule = testing::rule;

void require(bool holds, const char* property, std::span<const std::uint8_t> input)
{
    if (holds) return;
    std::fprintf(stderr, "broken: %s (input of %zu bytes)\n", property, input.size());
    std::abort();
}

// ------------------------------------------------------------ archives in memory

enum class Failure { None, Missing, OpenFails, ReadFails };

// An archive that exists only as a rule: filler up to start, then the
// fuzzer's bytes. No allocation depends on where the record lies.
struct VirtualArchive {
    std::uint64_t start;
    std::span<const std::uint8_t> tail;
    Failure failure;
    bool changeAttempted = false;

    std::uint64_t size() const { return start + tail.size(); }
    std::uint8_t at(std::uint64_t offset) const
    {
        if (offset < start) return static_cast<std::uint8_t>(offset * 31 + 7);
        return tail[offset - start];
    }
};

const std::error_code kIoError = std::make_error_code(std::errc::io_error);
const std::error_code kReadOnly = std::make_error_code(std::errc::read_only_file_system);

class MemoryFile final : public fileio::File {
public:
    MemoryFile(VirtualArchive& archive, std::filesystem::path path)
        : archive_(archive), path_(std::move(path))
    {
    }
    fileio::Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        if (archive_.failure == Failure::ReadFails)
            return std::unexpected(fileio::Error{path_, fileio::Operation::Read, kIoError});
        std::size_t count = 0;
        while (count < out.size() && offset + count < archive_.size()) {
            out[count] = archive_.at(offset + count);
            ++count;
        }
        return count;
    }
    fileio::Result<void> writeAt(std::uint64_t, std::span<const std::uint8_t>) override
    {
        archive_.changeAttempted = true;
        return std::unexpected(fileio::Error{path_, fileio::Operation::Write, kReadOnly});
    }
    fileio::Result<std::uint64_t> size() override { return archive_.size(); }
    fileio::Result<void> flush() override { return {}; }
    fileio::Result<void> close() override { return {}; }

private:
    VirtualArchive& archive_;
    std::filesystem::path path_;
};

class MemoryFileSystem final : public fileio::FileSystem {
public:
    MemoryFileSystem(VirtualArchive& archive, std::filesystem::path path)
        : archive_(archive), path_(std::move(path))
    {
    }
    fileio::Result<std::unique_ptr<fileio::File>> openRead(
        const std::filesystem::path& path) override
    {
        if (path != path_ || archive_.failure == Failure::Missing)
            return std::unexpected(
                fileio::Error{path, fileio::Operation::Open,
                              std::make_error_code(std::errc::no_such_file_or_directory)});
        if (archive_.failure == Failure::OpenFails)
            return std::unexpected(fileio::Error{path, fileio::Operation::Open, kIoError});
        return std::make_unique<MemoryFile>(archive_, path_);
    }
    fileio::Result<std::unique_ptr<fileio::File>> openReadWrite(
        const std::filesystem::path& path) override
    {
        return refuse(path);
    }
    fileio::Result<std::unique_ptr<fileio::File>> createNew(
        const std::filesystem::path& path) override
    {
        return refuse(path);
    }
    fileio::Result<void> rename(const std::filesystem::path&,
                                const std::filesystem::path& to) override
    {
        archive_.changeAttempted = true;
        return std::unexpected(fileio::Error{to, fileio::Operation::Rename, kReadOnly});
    }
    fileio::Result<void> remove(const std::filesystem::path& path) override
    {
        archive_.changeAttempted = true;
        return std::unexpected(fileio::Error{path, fileio::Operation::Remove, kReadOnly});
    }

private:
    std::unexpected<fileio::Error> refuse(const std::filesystem::path& path)
    {
        archive_.changeAttempted = true;
        return std::unexpected(fileio::Error{path, fileio::Operation::Open, kReadOnly});
    }

    VirtualArchive& archive_;
    std::filesystem::path path_;
};

// The selector in front of a record reader's input.
constexpr std::size_t kSelectorSize = 5;
constexpr std::uint32_t kMaxShift = 0x3FFF;  // how far before the record the tail may start

Bytes selector(Slot slot, Failure failure, int number, std::uint32_t shift)
{
    const auto index = static_cast<std::uint32_t>(number - archive::kFirstNumber);
    return {
        static_cast<std::uint8_t>((slot == Slot::Small ? 1 : 0) | static_cast<int>(failure) << 1),
        static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
        static_cast<std::uint8_t>(shift), static_cast<std::uint8_t>(shift >> 8)};
}

// ------------------------------------------------------------ the journal

// Two small archives in a folder of the process's own: the journal knows
// nothing of the portrait layout, so records anywhere in 4 KiB reach every
// path of its reader and its recovery without megabytes per input.
constexpr std::size_t kJournalArchiveSize = 4096;

Bytes journalArchive(Slot slot, bool pattern)
{
    Bytes bytes(kJournalArchiveSize, 0);
    if (pattern)
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + (slot == Slot::Small ? 3 : 1));
    return bytes;
}

void writeBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

const journal::Pair& journalPair()
{
    static const journal::Pair pair = [] {
        const auto folder =
            std::filesystem::temp_directory_path() /
            ("pelloran-fuzz-journal-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(folder);
        static const std::filesystem::path made = folder;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return journal::Pair{folder / "GRPFACES.S10", folder / "GRPFACET.S10"};
    }();
    return pair;
}

// Every operation block that stands whole and valid somewhere in data.
std::vector<journal::format::OperationView> validOperations(std::span<const std::uint8_t> data)
{
    namespace format = journal::format;
    std::vector<format::OperationView> found;
    for (std::size_t at = format::kHeaderSize; at + format::kBlockOverhead <= data.size(); ++at) {
        const auto length = format::headBodyLength(data.subspan(at, format::kBlockHeadSize));
        if (!length || *length > data.size() - at - format::kBlockOverhead) continue;
        const auto block = format::decodeBlock(data.subspan(at, *length + format::kBlockOverhead));
        if (!block || block->kind != format::Kind::Operation) continue;
        if (auto operation = format::decodeOperation(block->body)) found.push_back(*operation);
    }
    return found;
}

}  // namespace

void journalInput(std::span<const std::uint8_t> data)
{
    const journal::Pair& pair = journalPair();
    for (Slot slot : {Slot::Large, Slot::Small})
        writeBytes(slot == Slot::Large ? pair.large : pair.small, journalArchive(slot, true));
    writeBytes(journal::journalPath(pair.large), data);

    fileio::FileSystem& fs = fileio::nativeFileSystem();
    (void)journal::history(fs, pair);
    (void)journal::recover(fs, pair);
    (void)journal::history(fs, pair);

    // A byte that changed was put back from a whole, valid entry: a record
    // of that archive over it whose new byte was there and whose old byte is.
    const auto operations = validOperations(data);
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const Bytes before = journalArchive(slot, true);
        const Bytes after = readBytes(slot == Slot::Large ? pair.large : pair.small);
        require(after.size() == before.size(), "a recovery never resizes an archive", data);
        for (std::size_t at = 0; at < before.size(); ++at) {
            if (after[at] == before[at]) continue;
            const bool fromAnEntry = std::ranges::any_of(operations, [&](const auto& operation) {
                for (std::size_t i = 0; i < operation.records.size(); ++i) {
                    const auto& record = operation.records[i];
                    if (record.archive != slot || at < record.offset ||
                        at - record.offset >= record.length)
                        continue;
                    const std::size_t k = at - record.offset;
                    if (operation.oldBytes(i)[k] == after[at] &&
                        operation.newBytes(i)[k] == before[at])
                        return true;
                }
                return false;
            });
            require(fromAnEntry, "only a whole, valid entry is rolled back", data);
        }
    }
}

void importBitmapInput(std::span<const std::uint8_t> data)
{
    // Records to replace, made once: a demo portrait, whose palette holds
    // repeated colours.
    static const Bytes largeCurrent = demo::demoRecord(Slot::Large, 57);
    static const Bytes smallCurrent = demo::demoRecord(Slot::Small, 57);
    const auto portrait = bitmap::readPortrait(data);
    if (!portrait) {
        const bitmap::DecodeError& found = portrait.error().found;
        require(portrait.error().check == bitmap::checkOf(found), "a refusal has its check", data);
        require(found.fault != bitmap::DecodeFault::Truncated ||
                    found.found == static_cast<std::int64_t>(data.size()),
                "a truncated file is said to end where it ends", data);
        return;
    }
    const bitmap::Picture& picture = portrait->picture;
    const SlotLayout& layout = archive::layoutOf(portrait->slot);
    const std::size_t pixels = layout.pixelBlockSize();
    require(picture.width == layout.width && picture.height == layout.height(),
            "a taken picture has its slot's size", data);
    if (picture.indexed()) {
        require(picture.palette.size() <= 256 && picture.indices.size() == pixels &&
                    picture.colours.empty() &&
                    std::ranges::all_of(picture.indices,
                                        [&](std::uint8_t i) { return i < picture.palette.size(); }),
                "an indexed picture has an index below its palette's length per pixel", data);
    } else {
        require(picture.colours.size() == pixels && picture.indices.empty(),
                "a true-colour picture has a colour per pixel", data);
    }

    const Bytes& current = portrait->slot == Slot::Large ? largeCurrent : smallCurrent;
    const auto record = bitmap::mapToRecord(picture, portrait->slot, current);
    if (!record) {
        require(!picture.indexed() && record.error().colours > 256 &&
                    record.error().colours <= static_cast<int>(pixels),
                "only a true-colour picture of more than 256 colours does not fit", data);
        return;
    }
    require(record->size() == layout.recordSize, "the record has its slot's size", data);
    const auto block = std::span(*record).subspan(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const auto entry = block.subspan(4 * std::size_t{(*record)[i]}, 3);
        const bitmap::Colour colour =
            picture.indexed() ? bitmap::Colour{picture.palette[picture.indices[i]].red,
                                               picture.palette[picture.indices[i]].green,
                                               picture.palette[picture.indices[i]].blue}
                              : picture.colours[i];
        require(entry[2] == colour.red && entry[1] == colour.green && entry[0] == colour.blue,
                "every pixel of the record has the picture's colour", data);
    }
    // A palette that has the record's colour at every entry a pixel uses
    // goes in by index; the entries it does not define keep their bytes.
    const auto inPalette = [&](const bitmap::Picture& indexed, const Bytes& of) {
        for (std::size_t i = 0; i < pixels; ++i) {
            const bitmap::PaletteEntry& entry = indexed.palette[indexed.indices[i]];
            const auto stored =
                std::span(of).subspan(pixels + 4 * std::size_t{indexed.indices[i]}, 3);
            if (stored[2] != entry.red || stored[1] != entry.green || stored[0] != entry.blue)
                return false;
        }
        return true;
    };
    if (picture.indexed() && inPalette(picture, current)) {
        const std::size_t defined = pixels + 4 * picture.palette.size();
        require(std::ranges::equal(std::span(*record).subspan(defined),
                                   std::span(current).subspan(defined)),
                "entries the picture does not define keep the record's bytes", data);
    }

    // The taken record drawn again with its own colours, as a painter that
    // rebuilds the palette saves it (entries in reverse order, reserved bytes
    // 0) and in true colour, changes nothing. (A reversed palette that still
    // has the record's colour at every entry used is the record's own and
    // goes in by index.)
    bitmap::Picture redrawn{layout.width, layout.height(), {}, {}, {}};
    bitmap::Picture trueColour = redrawn;
    for (std::size_t e = 0; e < 256; ++e) {
        const auto entry = block.subspan(4 * (255 - e), 3);
        redrawn.palette.push_back({entry[2], entry[1], entry[0], 0});
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t index = (*record)[i];
        redrawn.indices.push_back(static_cast<std::uint8_t>(255 - index));
        const auto entry = block.subspan(4 * std::size_t{index}, 3);
        trueColour.colours.push_back({entry[2], entry[1], entry[0]});
    }
    for (const bitmap::Picture* same : {&redrawn, &trueColour})
        require((same->indexed() && inPalette(*same, *record)) ||
                    bitmap::mapToRecord(*same, portrait->slot, *record) == *record,
                "a picture in the record's own colours gives the record unchanged", data);

    // Exported (which writes reserved bytes as 0) and imported again.
    Bytes expected = *record;
    for (std::size_t k = pixels + 3; k < expected.size(); k += 4) expected[k] = 0;
    const auto again =
        bitmap::importBitmap(bitmap::encodeRecord(portrait->slot, *record), {*record, *record});
    require(again && again->slot == portrait->slot && again->record == expected,
            "an imported record exported and imported again is itself", data);

    const rule::Outcome outcome = rule::judge(data);
    const std::uint32_t coloursUsed = rule::little32(data, 46);
    if ((outcome == rule::Outcome::Large || outcome == rule::Outcome::Small) &&
        (coloursUsed == 0 || coloursUsed == 256)) {
        // Into the record it was exported from, it comes back as that record.
        const Bytes exportedFrom = rule::recordOf(data, layout.width, layout.height());
        require(bitmap::mapToRecord(picture, portrait->slot, exportedFrom) == exportedFrom,
                "the export format gives the rule's record", data);
    }
}

void readRecordInput(std::span<const std::uint8_t> data)
{
    const auto select = [&](std::size_t i) -> std::uint32_t {
        return i < data.size() ? data[i] : 0;
    };
    const Slot slot = (select(0) & 1) ? Slot::Small : Slot::Large;
    const auto failure = static_cast<Failure>(select(0) >> 1 & 3);
    const int number = static_cast<int>((select(1) | select(2) << 8) % archive::kLastNumber) + 1;
    const std::uint32_t shift = (select(3) | select(4) << 8) & kMaxShift;
    const SlotLayout& layout = archive::layoutOf(slot);
    const std::uint64_t offset = archive::recordOffset(layout, number);

    VirtualArchive archive{
        offset - shift,
        data.size() > kSelectorSize ? data.subspan(kSelectorSize) : std::span<const std::uint8_t>{},
        failure};
    const std::filesystem::path path = slot == Slot::Large ? "GRPFACES.S10" : "GRPFACET.S10";
    MemoryFileSystem fs(archive, path);

    Bytes record(layout.recordSize, 0xAA);
    const auto read = archive::readRecord(fs, path, offset, record);
    require(!archive.changeAttempted, "reading never creates or changes a file", data);

    switch (failure) {
        case Failure::OpenFails:
        case Failure::ReadFails:
            require(!read && read.error().path == path && read.error().code == kIoError,
                    "a failing archive is reported with its name and reason", data);
            require(
                read.error().operation == (failure == Failure::OpenFails ? fileio::Operation::Open
                                                                         : fileio::Operation::Read),
                "the error names the operation that failed", data);
            return;
        case Failure::Missing:
            require(read && std::ranges::all_of(record, [](std::uint8_t b) { return b == 0; }),
                    "a missing archive reads as zeros", data);
            break;
        case Failure::None:
            require(read.has_value(), "a readable archive loads", data);
            for (std::size_t k = 0; k < record.size(); ++k) {
                const std::uint64_t at = offset + k;
                require(record[k] == (at < archive.size() ? archive.at(at) : 0),
                        "the record is the archive's bytes, 0 past its end", data);
            }
            break;
    }

    archive::RgbPalette palette{};
    const auto block = std::span(record).subspan(layout.pixelBlockSize());
    archive::decodePalette(block, palette);
    for (int e = 0; e < archive::kPaletteEntries; ++e) {
        const std::size_t stored = 4 * static_cast<std::size_t>(e);
        require(palette[3 * e] == block[stored + 2] && palette[3 * e + 1] == block[stored + 1] &&
                    palette[3 * e + 2] == block[stored],
                "palette entries turn from blue, green, red into red, green, blue", data);
    }
}

// ------------------------------------------------------------ seeds

namespace {

void put32(Bytes& file, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes exported(Slot slot, int number)
{
    return bitmap::encodeRecord(slot, demo::demoRecord(slot, number));
}

std::vector<Seed> bitmapSeeds()
{
    std::vector<Seed> seeds;
    for (Slot slot : {Slot::Large, Slot::Small})
        for (int number : {1, 57, 832})
            seeds.push_back({std::string(slot == Slot::Large ? "large-" : "small-") +
                                 std::to_string(number) + ".bmp",
                             exported(slot, number)});

    const Bytes large = exported(Slot::Large, 1);
    const Bytes small = exported(Slot::Small, 1);
    const auto edited = [](Bytes file, std::size_t offset, std::uint32_t value) {
        put32(file, offset, value);
        return file;
    };
    const auto prefix = [](const Bytes& file, std::size_t size) {
        return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
    };
    Bytes longer = large;
    longer.resize(6200);
    put32(longer, 2, 6200);
    Bytes lowerHalves = edited(edited(large, 18, 64), 22, 40);  // 64 x 40 with a 64 x 80 body
    const std::pair<const char*, Bytes> malformed[] = {
        {"empty", {}},
        {"signature-only", prefix(large, 2)},
        {"ends-after-size-byte", prefix(large, 3)},
        {"ends-inside-height", prefix(large, 23)},
        {"header-only", prefix(large, 54)},
        {"no-pixels", prefix(large, 1078)},
        {"one-byte-short", prefix(large, large.size() - 1)},
        {"small-one-byte-short", prefix(small, small.size() - 1)},
        {"two-extra-bytes", longer},
        {"width-48", edited(large, 18, 48)},
        {"top-down", edited(large, 22, static_cast<std::uint32_t>(-80))},
        {"64x40", lowerHalves},
        {"32x80", edited(small, 22, 80)},
        {"width-upper-bits", edited(large, 18, 64 + 65536)},
        {"24-bit", edited(large, 28, 24)},
        {"rle8", edited(large, 30, 1)},
        {"two-planes", edited(small, 26, 2)},
        {"info-header-124", edited(large, 14, 124)},
        {"pixels-at-1079", edited(large, 10, 1079)},
    };
    for (const auto& [name, bytes] : malformed)
        seeds.push_back({std::string(name) + ".bmp", bytes});
    return seeds;
}

std::vector<Seed> archiveSeeds()
{
    std::vector<Seed> seeds;
    struct Place {
        Slot slot;
        int number;
    };
    for (const Place place : {Place{Slot::Large, 1}, Place{Slot::Small, 1}, Place{Slot::Large, 832},
                              Place{Slot::Small, 723}}) {
        const Bytes record = demo::demoRecord(place.slot, place.number);
        for (std::uint32_t shift : {0u, 100u}) {
            // The archive ends after the record, inside its palette, inside its
            // pixels, and before it.
            for (std::size_t kept :
                 {record.size() + 7, record.size() - 3, std::size_t{700}, std::size_t{0}}) {
                Bytes input = selector(place.slot, Failure::None, place.number, shift);
                input.resize(input.size() + shift, 0x5A);
                const std::size_t fromRecord = std::min(kept, record.size());
                input.insert(input.end(), record.begin(),
                             record.begin() + static_cast<std::ptrdiff_t>(fromRecord));
                input.resize(kSelectorSize + shift + kept, 0xC3);
                seeds.push_back({"number-" + std::to_string(place.number) +
                                     (place.slot == Slot::Large ? "-large" : "-small") + "-shift-" +
                                     std::to_string(shift) + "-kept-" + std::to_string(kept),
                                 std::move(input)});
            }
        }
    }
    for (Failure failure : {Failure::Missing, Failure::OpenFails, Failure::ReadFails})
        seeds.push_back({"failure-" + std::to_string(static_cast<int>(failure)),
                         selector(Slot::Large, failure, 1, 0)});
    return seeds;
}

// Journals of real operations on the target's archives: each writes the
// archives' pattern over zeros, so that one left unfinished rolls back.
std::vector<Seed> journalSeeds()
{
    const journal::Pair& pair = journalPair();
    std::vector<Seed> seeds;
    const auto fresh = [&] {
        for (Slot slot : {Slot::Large, Slot::Small})
            writeBytes(slot == Slot::Large ? pair.large : pair.small, journalArchive(slot, false));
        std::filesystem::remove(journal::journalPath(pair.large));
    };
    const auto write = [&](std::uint64_t offset, std::size_t length) {
        std::vector<journal::RecordWrite> writes;
        for (Slot slot : {Slot::Large, Slot::Small}) {
            const Bytes pattern = journalArchive(slot, true);
            writes.push_back(
                {slot, offset,
                 Bytes(pattern.begin() + static_cast<std::ptrdiff_t>(offset),
                       pattern.begin() + static_cast<std::ptrdiff_t>(offset + length))});
        }
        journal::Options options;
        options.clock = [] { return journal::Time{}; };
        (void)journal::apply(fileio::nativeFileSystem(), pair, journal::Origin::BatchImport, writes,
                             options);
    };
    fresh();
    write(100, 64);
    const Bytes one = readBytes(journal::journalPath(pair.large));
    seeds.push_back({"committed", one});
    // Without its commit mark, the last block, the operation never finished.
    seeds.push_back({"unfinished", Bytes(one.begin(), one.end() - 40)});
    write(2000, 32);
    const Bytes two = readBytes(journal::journalPath(pair.large));
    seeds.push_back({"two-unfinished", Bytes(two.begin(), two.end() - 40)});
    (void)journal::undoLast(fileio::nativeFileSystem(), pair);
    seeds.push_back({"undone", readBytes(journal::journalPath(pair.large))});
    return seeds;
}

}  // namespace

std::vector<Seed> seedsFor(const std::string& target)
{
    if (target == "read_record") return archiveSeeds();
    if (target == "journal") return journalSeeds();
    return bitmapSeeds();
}

}  // namespace pelloran::fuzz
