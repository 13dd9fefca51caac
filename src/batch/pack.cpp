#include "batch/pack.h"

#include <algorithm>
#include <map>

#include "archive/record.h"

namespace pelloran::batch {

session::Result<journal::Pair> openPair(fileio::FileSystem& fs,
                                        const std::filesystem::path& largeArchive)
{
    session::Session session(fs);
    if (auto opened = session.open(largeArchive); !opened) return std::unexpected(opened.error());
    return journal::Pair{session.state().largeArchive, session.state().smallArchive};
}

fileio::Result<PairRecords> PairRecords::read(fileio::FileSystem& fs, const journal::Pair& pair)
{
    PairRecords records;
    records.pair_ = pair;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const archive::SlotLayout& layout = archive::layoutOf(slot);
        auto& bytes = slot == Slot::Large ? records.large_ : records.small_;
        // Only the records are kept; the area before them is not ours.
        bytes.assign(archive::fullArchiveSize(layout) - layout.base, 0);
        const auto& path = slot == Slot::Large ? pair.large : pair.small;
        if (auto read = fileio::readAtMost(fs, path, layout.base, bytes); !read)
            return std::unexpected(read.error());
    }
    return records;
}

std::span<const std::uint8_t> PairRecords::record(Slot slot, int number) const
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    const auto& bytes = slot == Slot::Large ? large_ : small_;
    return std::span(bytes).subspan(archive::recordOffset(layout, number) - layout.base,
                                    layout.recordSize);
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

session::Result<void> exportPack(fileio::FileSystem& fs, const PairRecords& records,
                                 std::span<const PackEntry> entries,
                                 const std::filesystem::path& folder, session::FileKind kind,
                                 const session::Pictures* pictures, const OnProgress& onProgress)
{
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<fileio::Replacement> replacements;
    files.reserve(entries.size());
    for (const PackEntry& entry : entries) {
        const auto path = folder / packFileName(entry.number, entry.slot, kind);
        // A pack file may be a link to an archive; a replacement writes
        // through links, so it would overwrite the archive. Any other name,
        // a hard link included, is replaced by a rename and leaves the
        // archive's data where it is.
        std::error_code code;
        const bool link = std::filesystem::is_symlink(std::filesystem::symlink_status(path, code));
        for (const auto& archive : {records.pair().large, records.pair().small}) {
            if (!link) break;
            const auto same = fs.sameFile(path, archive);
            if (!same) return std::unexpected(same.error());
            if (*same)
                return std::unexpected(session::Refusal{session::Problem::ExportOverArchive, path});
        }
        auto bytes = session::exportFile(entry.slot, records.record(entry.slot, entry.number), kind,
                                         pictures);
        if (!bytes) return std::unexpected(bytes.error());
        files.push_back(std::move(*bytes));
        replacements.push_back({path, files.back()});
        if (onProgress) onProgress(files.size());
    }
    if (auto written = fileio::replaceFiles(fs, replacements); !written)
        return std::unexpected(written.error());
    return {};
}

fileio::Result<ImportPlan> planImport(fileio::FileSystem& fs, const PairRecords& records,
                                      const std::filesystem::path& folder, session::Colours colours,
                                      const session::Pictures* pictures,
                                      const OnProgress& onProgress)
{
    auto names = fs.listFolder(folder);
    if (!names) return std::unexpected(names.error());
    std::ranges::sort(*names);

    ImportPlan plan;
    std::map<std::pair<int, Slot>, std::filesystem::path> seen;
    // The most any portrait file needs, as the window reads it.
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    for (const auto& name : *names) {
        if (onProgress) onProgress(static_cast<std::size_t>(&name - names->data()));
        const auto path = folder / name;
        const auto entry = parsePackFileName(name);
        if (!entry) {
            plan.notUnderstood.push_back(path);
            continue;
        }
        const auto [first, added] = seen.try_emplace({entry->number, entry->slot}, path);
        if (!added) {
            plan.refused.push_back(PackRefusal{PackFault::SecondFile, path, first->second});
            continue;
        }
        const auto count = fileio::readAtMost(fs, path, 0, buffer);
        if (!count) {
            plan.refused.push_back(session::Error{count.error()});
            continue;
        }
        const auto checked = session::checkImportBytes(std::span(buffer).first(*count), path,
                                                       {records.record(Slot::Large, entry->number),
                                                        records.record(Slot::Small, entry->number)},
                                                       colours, pictures);
        if (!checked) {
            plan.refused.push_back(checked.error());
            continue;
        }
        if (checked->slot != entry->slot) {
            plan.refused.push_back(PackRefusal{PackFault::SizeNotName, path, {}});
            continue;
        }
        if (std::ranges::equal(checked->record, records.record(entry->slot, entry->number)))
            plan.unchanged.push_back(path);
        else
            plan.changes.push_back({*entry, path, std::move(checked->record)});
    }
    std::ranges::sort(plan.changes, {}, [](const PlannedWrite& w) {
        return std::pair(w.entry.number, w.entry.slot);
    });
    return plan;
}

fileio::Result<void> applyImport(fileio::FileSystem& fs, const journal::Pair& pair,
                                 std::span<const PlannedWrite> changes,
                                 const journal::Options& options)
{
    if (changes.empty()) return {};
    std::vector<journal::RecordWrite> writes;
    writes.reserve(changes.size());
    for (const PlannedWrite& change : changes)
        writes.push_back(
            {change.entry.slot,
             archive::recordOffset(archive::layoutOf(change.entry.slot), change.entry.number),
             change.record});
    return journal::apply(fs, pair, journal::Origin::BatchImport, writes, options);
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

}  // namespace pelloran::batch
