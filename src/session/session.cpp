#include "session/session.h"

#include <algorithm>
#include <array>

#include "archive/record.h"

namespace pelloran::session {

namespace {

// Runs change on a copy of state and keeps the copy only if change succeeds,
// so a failure anywhere leaves every field as it was.
template <class Change>
Result<void> transact(State& state, Change change)
{
    State next = state;
    if (auto changed = change(next); !changed) return changed;
    state = std::move(next);
    return {};
}

Result<void> needsPair(const State& state)
{
    if (!state.pairOpen()) return std::unexpected(Refusal{Problem::NoPairOpen, {}});
    return {};
}

// The first bytes of an import file, as many as the check and the record
// ever look at. A file that does not exist reads as none, and so fails the
// check's first comparison.
Result<std::vector<std::uint8_t>> readImportFile(fileio::FileSystem& fs,
                                                 const std::filesystem::path& file)
{
    std::vector<std::uint8_t> bytes(bitmap::kImportReadSize);
    const auto count = fileio::readAtMost(fs, file, 0, bytes);
    if (!count) return std::unexpected(count.error());
    bytes.resize(*count);
    return bytes;
}

}  // namespace

Session::Session(fileio::FileSystem& fileSystem) : fileSystem_(fileSystem)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        SlotState& s = state_.slot(slot);
        s.loaded.assign(archive::layoutOf(slot).recordSize, 0);
        s.preview = s.loaded;
    }
}

Result<void> Session::load(State& next, Slot slot) const
{
    Record record(archive::layoutOf(slot).recordSize);
    if (auto read =
            archive::readRecord(fileSystem_, next.archive(slot), next.recordOffset(slot), record);
        !read)
        return std::unexpected(read.error());
    SlotState& s = next.slot(slot);
    s.preview = record;
    s.loaded = std::move(record);
    s.pending.reset();
    return {};
}

Result<void> Session::loadBoth(State& next) const
{
    if (auto large = load(next, Slot::Large); !large) return large;
    return load(next, Slot::Small);
}

// Lower-case names are common after copying from a system that ignores case;
// letters outside ASCII are compared as they are.
bool sameButForCase(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const std::u8string x = a.u8string(), y = b.u8string();
    const auto lower = [](char8_t c) -> char8_t {
        return c >= u8'A' && c <= u8'Z' ? static_cast<char8_t>(c - u8'A' + u8'a') : c;
    };
    return std::ranges::equal(x, y, {}, lower, lower);
}

Result<std::filesystem::path> Session::smallArchiveOf(
    const std::filesystem::path& largeArchive) const
{
    auto derived = archive::siblingArchivePath(largeArchive);
    if (!derived) return std::unexpected(Refusal{Problem::NameTooShort, largeArchive});
    const auto found = fileSystem_.inspect(*derived);
    if (!found) return std::unexpected(found.error());
    if (*found) return *derived;
    // A folder that cannot be listed leaves the name as derived: it reads as
    // blank, as a missing archive does.
    const auto names = fileSystem_.listFolder(derived->parent_path());
    if (!names) return *derived;
    std::vector<std::filesystem::path> matches;
    for (const auto& name : *names)
        if (sameButForCase(name, derived->filename())) matches.push_back(name);
    if (matches.size() != 1) return *derived;
    return derived->parent_path() / matches.front();
}

Result<void> Session::open(const std::filesystem::path& largeArchive)
{
    const auto smallArchive = smallArchiveOf(largeArchive);
    if (!smallArchive) return std::unexpected(smallArchive.error());
    // Chosen as the large archive, the small one derives itself: large
    // records would later be written into it.
    const auto same = fileSystem_.sameFile(largeArchive, *smallArchive);
    if (!same) return std::unexpected(same.error());
    if (*same) return std::unexpected(Refusal{Problem::PairIsOneFile, largeArchive});
    return transact(state_, [&](State& next) -> Result<void> {
        next.largeArchive = largeArchive;
        next.smallArchive = *smallArchive;
        // The number browsed last is read from the new pair first; the reset
        // of the range below then moves to the range's first number.
        if (auto loaded = loadBoth(next); !loaded) return loaded;
        next.writeEnabled = false;
        next.range = Range::Historical;
        const int first = numbersOf(next.range).first;
        if (next.number == first) return {};
        next.number = first;
        return loadBoth(next);
    });
}

Result<void> Session::showNumber(int number)
{
    if (auto open = needsPair(state_); !open) return open;
    const Numbers numbers = numbersOf(state_.range);
    if (number < numbers.first || number > numbers.last)
        return std::unexpected(Refusal{Problem::NumberOutOfRange, {}});
    return transact(state_, [&](State& next) {
        next.number = number;
        next.writeEnabled = false;
        return loadBoth(next);
    });
}

Result<void> Session::switchRange(Range range)
{
    if (auto open = needsPair(state_); !open) return open;
    return transact(state_, [&](State& next) -> Result<void> {
        next.range = range;
        next.chosenRange = range;
        const int first = numbersOf(range).first;
        if (next.number == first) return {};
        next.number = first;
        next.writeEnabled = false;
        return loadBoth(next);
    });
}

Result<void> Session::goTo(int number)
{
    if (auto open = needsPair(state_); !open) return open;
    if (number < archive::kFirstNumber || number > archive::kLastNumber)
        return std::unexpected(Refusal{Problem::NumberOutOfRange, {}});
    const Range range = number < archive::kFirstNewNumber ? Range::Historical : Range::NewOfficers;
    return transact(state_, [&](State& next) {
        next.range = range;
        next.chosenRange = range;
        next.number = number;
        next.writeEnabled = false;
        return loadBoth(next);
    });
}

Result<void> Session::reload(Slot slot)
{
    if (auto open = needsPair(state_); !open) return open;
    return transact(state_, [&](State& next) { return load(next, slot); });
}

Result<void> Session::exportPair(const std::filesystem::path& largeFile) const
{
    if (auto open = needsPair(state_); !open) return open;
    // Both names are known, and checked, before anything is written.
    const auto smallFile = bitmap::smallBitmapPath(largeFile);
    if (!smallFile) return std::unexpected(Refusal{Problem::NameTooShort, largeFile});
    for (const auto& file : {largeFile, *smallFile})
        for (Slot slot : {Slot::Large, Slot::Small}) {
            const auto same = fileSystem_.sameFile(file, state_.archive(slot));
            if (!same) return std::unexpected(same.error());
            if (*same) return std::unexpected(Refusal{Problem::ExportOverArchive, file});
        }
    const auto large = bitmap::encodeRecord(Slot::Large, state_.large.loaded);
    const auto small = bitmap::encodeRecord(Slot::Small, state_.small.loaded);
    const fileio::Replacement files[] = {{largeFile, large}, {*smallFile, small}};
    if (auto written = fileio::replaceFiles(fileSystem_, files); !written)
        return std::unexpected(written.error());
    return {};
}

Result<CheckedImport> Session::checkImport(const std::filesystem::path& file) const
{
    if (auto open = needsPair(state_); !open) return std::unexpected(open.error());
    const auto bytes = readImportFile(fileSystem_, file);
    if (!bytes) return std::unexpected(bytes.error());
    const bitmap::ImportVerdict verdict = bitmap::checkImport(*bytes);
    if (verdict != bitmap::ImportVerdict::Large && verdict != bitmap::ImportVerdict::Small)
        return std::unexpected(ImportRefusal{verdict, file});
    const Slot slot = verdict == bitmap::ImportVerdict::Large ? Slot::Large : Slot::Small;
    Record record(archive::layoutOf(slot).recordSize);
    bitmap::recordFromBitmap(*bytes, slot, record);
    return CheckedImport{slot, file, std::move(record)};
}

void Session::acceptImport(CheckedImport import)
{
    SlotState& s = state_.slot(import.slot);
    s.preview = import.record;
    s.lastImport = import.file;
    s.pending = PendingImport{std::move(import.file), std::move(import.record)};
    state_.writeEnabled = true;
}

Result<Record> Session::recheck(const State& at, Slot slot) const
{
    // Since the import the file may have been edited, replaced or removed;
    // only what the user saw is written.
    const PendingImport& pending = *at.slot(slot).pending;
    const Refusal changed{Problem::ImportChanged, pending.file};
    const auto bytes = readImportFile(fileSystem_, pending.file);
    if (!bytes) return std::unexpected(bytes.error());
    const auto verdict = bitmap::checkImport(*bytes);
    const bool sameSlot = verdict == (slot == Slot::Large ? bitmap::ImportVerdict::Large
                                                          : bitmap::ImportVerdict::Small);
    if (!sameSlot) return std::unexpected(changed);
    Record record(archive::layoutOf(slot).recordSize);
    bitmap::recordFromBitmap(*bytes, slot, record);
    if (record != pending.record) return std::unexpected(changed);
    return record;
}

Result<void> Session::writePending()
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        if (!state_.slot(slot).pending) continue;
        const auto record = recheck(state_, slot);
        if (!record) return std::unexpected(record.error());
        if (auto written = archive::writeRecord(fileSystem_, state_.archive(slot),
                                                state_.recordOffset(slot), *record);
            !written)
            return std::unexpected(written.error());
        state_.slot(slot).pending.reset();
    }
    return {};
}

}  // namespace pelloran::session
