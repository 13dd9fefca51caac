#include "session/packs.h"

#include <algorithm>
#include <map>

#include "archive/record.h"

namespace pelloran::session {

Result<PairRecords> readPair(const Session& session)
{
    if (auto open = session.needsPair(); !open) return std::unexpected(open.error());
    PairRecords records;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        auto& bytes = slot == Slot::Large ? records.large_ : records.small_;
        // Only the records are kept; the area before them is not ours. The
        // buffer is not cleared first: filling seven megabytes with zeros
        // that the read overwrites took longer than the read.
        const auto size = archive::fullArchiveSize(layout) - layout.base;
        bytes = PairRecords::Bytes(new std::uint8_t[size]);
        const std::span<std::uint8_t> span(bytes.get(), size);
        const auto read = fileio::readAtMost(session.fileSystem(), session.state().archive(slot),
                                             layout.base, span);
        if (!read) return std::unexpected(read.error());
        // Bytes an archive does not have read as 0, as the window shows them.
        std::ranges::fill(span.subspan(*read), std::uint8_t{0});
    }
    return records;
}

std::span<const std::uint8_t> PairRecords::record(Slot slot, int number) const
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const auto& bytes = slot == Slot::Large ? large_ : small_;
    return std::span<const std::uint8_t>(bytes.get(),
                                         archive::fullArchiveSize(layout) - layout.base)
        .subspan(archive::recordOffset(layout, number) - layout.base, layout.recordSize);
}

int blankRecords(const PairRecords& records, Slot slot)
{
    int blank = 0;
    for (int n = archive::kFirstNumber; n <= archive::kLastNumber; ++n)
        if (std::ranges::all_of(records.record(slot, n), [](std::uint8_t b) { return b == 0; }))
            ++blank;
    return blank;
}

std::vector<PackEntry> bothSlots(std::span<const int> numbers)
{
    std::vector<PackEntry> entries;
    for (int n : numbers) {
        entries.push_back({n, Slot::Large});
        entries.push_back({n, Slot::Small});
    }
    return entries;
}

namespace {

// One archive's records read a run of consecutive numbers at a time, which
// a pack in the order of its numbers reads each once.
struct RecordRuns {
    static constexpr int kRun = 32;
    std::unique_ptr<fileio::File> file;  // none when the archive does not exist
    std::vector<std::uint8_t> bytes;
    int first = 0;  // the number of the first record in bytes; 0 before the first read

    fileio::Result<std::span<const std::uint8_t>> record(Slot slot, int number)
    {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        if (first == 0 || number < first || number >= first + kRun) {
            first = number;
            const int count = std::min(kRun, archive::kLastNumber - number + 1);
            // Bytes an archive does not have read as 0, as the window shows them.
            bytes.assign(static_cast<std::size_t>(count) * layout.recordSize, 0);
            if (file)
                if (auto read = file->readAt(archive::recordOffset(layout, number), bytes); !read)
                    return std::unexpected(read.error());
        }
        return std::span<const std::uint8_t>(bytes).subspan(
            static_cast<std::size_t>(number - first) * layout.recordSize, layout.recordSize);
    }
};

}  // namespace

Result<void> exportPack(const Session& session, std::span<const PackEntry> entries,
                        const std::filesystem::path& folder, FileKind kind,
                        const OnProgress& onProgress)
{
    if (auto open = session.needsPair(); !open) return std::unexpected(open.error());
    fileio::FileSystem& fs = session.fileSystem();
    const State& state = session.state();
    // A pack's folder is made when it does not exist yet, as a shell's cp -r would.
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) return std::unexpected(fileio::Error{folder, fileio::Operation::Write, made});

    // Records are read from the archives as they are needed, a run of them
    // at a time, so that a pack of all 832 pairs never holds seven megabytes
    // of archive and nine of files in memory.
    RecordRuns runs[2];
    for (Slot slot : {Slot::Large, Slot::Small}) {
        auto file = fs.openRead(state.archive(slot));
        if (file)
            runs[static_cast<int>(slot)].file = std::move(*file);
        else if (!fileio::isNotFound(file.error()))
            return std::unexpected(file.error());
    }

    // A pack file that is an archive, through a link or by the archive's
    // own name, would be overwritten with a portrait. Any other name that
    // exists, a hard link included, is replaced by a rename that leaves the
    // archive's data where it is; so only those two are compared, and a pack
    // exported again over itself costs no look at the archives per file.
    const std::filesystem::path archives[] = {state.largeArchive, state.smallArchive};
    std::vector<std::filesystem::path> archiveNames;
    for (const auto& archive : archives) {
        std::error_code code;
        const auto real = std::filesystem::weakly_canonical(archive, code);
        archiveNames.push_back((code ? archive : real).filename());
    }
    std::optional<std::filesystem::path> overArchive;
    const auto notAnArchive = [&](const fileio::Replacement& file,
                                  const fileio::FileInfo& existing) -> fileio::Result<bool> {
        if (existing.target == file.path &&
            std::ranges::find(archiveNames, file.path.filename()) == archiveNames.end())
            return true;
        for (const auto& archive : archives) {
            const auto same = fs.sameFile(existing.target, archive);
            if (!same) return std::unexpected(same.error());
            if (*same) {
                overArchive = file.path;
                return false;
            }
        }
        return true;
    };

    fileio::Replacing replacing(fs, entries.size() > 2, notAnArchive);
    std::size_t done = 0;
    for (const PackEntry& entry : entries) {
        const auto record = runs[static_cast<int>(entry.slot)].record(entry.slot, entry.number);
        if (!record) return std::unexpected(record.error());
        auto bytes = exportFile(entry.slot, *record, kind, session.pictures());
        if (!bytes) return std::unexpected(bytes.error());
        const auto path = folder / packFileName(entry.number, entry.slot, kind);
        if (auto added = replacing.add(path, *bytes); !added) {
            if (overArchive)
                return std::unexpected(Refusal{Problem::ExportOverArchive, *overArchive});
            return std::unexpected(added.error());
        }
        if (onProgress) onProgress(++done, entries.size());
    }
    if (auto committed = replacing.commit(); !committed) return std::unexpected(committed.error());
    return {};
}

Result<void> saveFile(const Session& session, const std::filesystem::path& file,
                      std::span<const std::uint8_t> bytes)
{
    if (auto open = session.needsPair(); !open) return std::unexpected(open.error());
    if (auto refused = session.refuseArchive(file); !refused) return refused;
    if (auto written = fileio::replaceFile(session.fileSystem(), file, bytes); !written)
        return std::unexpected(written.error());
    return {};
}

Result<ImportPlan> planImport(const Session& session, const std::filesystem::path& folder,
                              Colours colours, const OnProgress& onProgress)
{
    const auto records = readPair(session);
    if (!records) return std::unexpected(records.error());
    fileio::FileSystem& fs = session.fileSystem();
    auto names = fs.listFolder(folder);
    if (!names) return std::unexpected(names.error());
    std::ranges::sort(*names);

    ImportPlan plan;
    std::map<std::pair<int, Slot>, std::filesystem::path> seen;
    // The most any portrait file needs, as the window reads it.
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    for (const auto& name : *names) {
        if (onProgress) onProgress(static_cast<std::size_t>(&name - names->data()), names->size());
        const auto path = folder / name;
        const auto entry = parsePackFileName(name);
        if (!entry) {
            (isPictureFileName(name) ? plan.unknownPictures : plan.notUnderstood).push_back(path);
            continue;
        }
        const auto [first, added] = seen.try_emplace({entry->number, entry->slot}, path);
        if (!added) {
            plan.refused.push_back(PackRefusal{PackFault::SecondFile, path, first->second});
            continue;
        }
        const auto count = fileio::readAtMost(fs, path, 0, buffer);
        if (!count) {
            plan.refused.push_back(Error{count.error()});
            continue;
        }
        const auto checked = checkImportBytes(std::span(buffer).first(*count), path,
                                              {records->record(Slot::Large, entry->number),
                                               records->record(Slot::Small, entry->number)},
                                              colours, session.pictures());
        if (!checked) {
            plan.refused.push_back(checked.error());
            continue;
        }
        if (checked->slot != entry->slot) {
            plan.refused.push_back(PackRefusal{PackFault::SizeNotName, path, {}});
            continue;
        }
        if (std::ranges::equal(checked->record, records->record(entry->slot, entry->number)))
            plan.unchanged.push_back(path);
        else
            plan.changes.push_back({*entry, path, std::move(checked->record)});
    }
    if (onProgress) onProgress(names->size(), names->size());
    std::ranges::sort(plan.changes, {}, [](const PlannedWrite& w) {
        return std::pair(w.entry.number, w.entry.slot);
    });
    return plan;
}

Result<void> applyImport(Session& session, std::span<const PlannedWrite> changes)
{
    if (changes.empty()) return {};
    std::vector<journal::RecordWrite> writes;
    writes.reserve(changes.size());
    for (const PlannedWrite& change : changes)
        writes.push_back(
            {change.entry.slot,
             archive::recordOffset(archive::layoutOf(change.entry.slot), change.entry.number),
             change.record});
    return session.writeRecords(journal::Origin::BatchImport, writes);
}

Result<void> needsBothArchives(const Session& session)
{
    if (auto open = session.needsPair(); !open) return open;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const auto length =
            measureArchive(session.fileSystem(), slot, session.state().archive(slot));
        if (!length) return std::unexpected(length.error());
        if (!length->size)
            return std::unexpected(
                fileio::Error{length->file, fileio::Operation::Open,
                              std::make_error_code(std::errc::no_such_file_or_directory)});
    }
    return {};
}

std::vector<PackEntry> differences(const PairRecords& a, const PairRecords& b)
{
    std::vector<PackEntry> differing;
    for (int n = archive::kFirstNumber; n <= archive::kLastNumber; ++n)
        for (Slot slot : {Slot::Large, Slot::Small})
            if (!std::ranges::equal(a.record(slot, n), b.record(slot, n)))
                differing.push_back({n, slot});
    return differing;
}

Result<PairSummary> summarize(const Session& session)
{
    const auto records = readPair(session);
    if (!records) return std::unexpected(records.error());
    fileio::FileSystem& fs = session.fileSystem();
    const State& state = session.state();
    PairSummary summary;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        auto length = measureArchive(fs, slot, state.archive(slot));
        if (!length) return std::unexpected(length.error());
        (slot == Slot::Large ? summary.large : summary.small) =
            ArchiveSummary{std::move(*length), blankRecords(*records, slot)};
    }
    summary.journal = journal::journalPath(state.largeArchive);
    const auto found = fs.inspect(summary.journal);
    if (!found) return std::unexpected(found.error());
    if (!*found) return summary;
    auto operations = session.history();
    if (!operations) return std::unexpected(operations.error());
    summary.operations = std::move(*operations);
    return summary;
}

}  // namespace pelloran::session
