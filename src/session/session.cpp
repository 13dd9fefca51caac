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

// An import file, up to far more than any portrait-sized picture needs. A
// file that does not exist reads as no bytes, which no decoder takes.
Result<std::vector<std::uint8_t>> readImportFile(fileio::FileSystem& fs,
                                                 const std::filesystem::path& file)
{
    constexpr std::size_t kMostBytes = std::size_t{1} << 20;
    std::vector<std::uint8_t> bytes(kMostBytes);
    const auto count = fileio::readAtMost(fs, file, 0, bytes);
    if (!count) return std::unexpected(count.error());
    bytes.resize(*count);
    return bytes;
}

}  // namespace

Session::Session(fileio::FileSystem& fileSystem, const Pictures* pictures)
    : fileSystem_(fileSystem), pictures_(pictures)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        SlotState& s = state_.slot(slot);
        s.loaded.assign(archive::layoutOf(slot).recordSize, 0);
        s.preview = s.loaded;
    }
}

Result<void> Session::needsPair() const
{
    if (!state_.pairOpen()) return std::unexpected(Refusal{Problem::NoPairOpen, {}});
    return {};
}

Result<void> Session::refuseArchive(const std::filesystem::path& file) const
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const auto same = fileSystem_.sameFile(file, state_.archive(slot));
        if (!same) return std::unexpected(same.error());
        if (*same) return std::unexpected(Refusal{Problem::ExportOverArchive, file});
    }
    return {};
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

namespace {

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

bool isPngName(const std::filesystem::path& file)
{
    const std::u8string extension = file.extension().u8string();
    return extension.size() == 4 && sameButForCase(extension, u8".png");
}

}  // namespace

Result<journal::Pair> pairOf(fileio::FileSystem& fs, const std::filesystem::path& largeArchive)
{
    auto derived = archive::siblingArchivePath(largeArchive);
    if (!derived) return std::unexpected(Refusal{Problem::NameTooShort, largeArchive});
    std::filesystem::path smallArchive = *derived;
    const auto found = fs.inspect(*derived);
    if (!found) return std::unexpected(found.error());
    if (!*found) {
        // A folder that cannot be listed leaves the name as derived: it reads
        // as blank, as a missing archive does.
        const auto names = fs.listFolder(derived->parent_path());
        std::vector<std::filesystem::path> matches;
        if (names)
            for (const auto& name : *names)
                if (sameButForCase(name, derived->filename())) matches.push_back(name);
        if (matches.size() == 1) smallArchive = derived->parent_path() / matches.front();
    }
    // Chosen as the large archive, the small one derives itself: large
    // records would later be written into it.
    const auto same = fs.sameFile(largeArchive, smallArchive);
    if (!same) return std::unexpected(same.error());
    if (*same) return std::unexpected(Refusal{Problem::PairIsOneFile, largeArchive});
    return journal::Pair{largeArchive, smallArchive};
}

Result<ArchiveLength> measureArchive(fileio::FileSystem& fs, Slot slot,
                                     const std::filesystem::path& file)
{
    ArchiveLength length{slot, file, std::nullopt,
                         archive::fullArchiveSize(archive::layoutOf(slot))};
    auto opened = fs.openRead(file);
    if (!opened && fileio::isNotFound(opened.error())) return length;
    if (!opened) return std::unexpected(opened.error());
    const auto size = (*opened)->size();
    if (!size) return std::unexpected(size.error());
    length.size = *size;
    return length;
}

Result<std::optional<ArchiveLength>> Session::doubtBeforeOpening(
    const std::filesystem::path& largeArchive) const
{
    if (auto pair = pairOf(fileSystem_, largeArchive); !pair) return std::unexpected(pair.error());
    auto length = measureArchive(fileSystem_, Slot::Large, largeArchive);
    if (!length) return std::unexpected(length.error());
    if (length->whole()) return std::nullopt;
    return *length;
}

Result<Opened> Session::open(const std::filesystem::path& largeArchive, Opening opening)
{
    const auto pair = pairOf(fileSystem_, largeArchive);
    if (!pair) return std::unexpected(pair.error());
    // What is shown must never be the half of a write a crash cut short.
    fileio::Result<std::optional<journal::Recovery>> recovered;
    if (opening == Opening::Recover) recovered = journal::recover(fileSystem_, *pair, writing_);
    if (!recovered) return std::unexpected(recovered.error());
    auto opened = transact(state_, [&](State& next) -> Result<void> {
        next.largeArchive = pair->large;
        next.smallArchive = pair->small;
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
    if (!opened) return std::unexpected(opened.error());
    return Opened{*recovered};
}

Result<void> Session::showNumber(int number)
{
    if (auto open = needsPair(); !open) return open;
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
    if (auto open = needsPair(); !open) return open;
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
    if (auto open = needsPair(); !open) return open;
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
    if (auto open = needsPair(); !open) return open;
    return transact(state_, [&](State& next) { return load(next, slot); });
}

Result<bool> Session::changedOnDisk(Slot slot) const
{
    // An archive that no longer holds the whole record is not another
    // program's change: a write refuses it with its own reason.
    Record record(archive::layoutOf(slot).recordSize);
    const auto read =
        fileio::readAtMost(fileSystem_, state_.archive(slot), state_.recordOffset(slot), record);
    if (!read) return std::unexpected(read.error());
    return *read == record.size() && record != state_.slot(slot).loaded;
}

Result<bool> Session::catchUp()
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    bool changed = false;
    auto caughtUp = transact(state_, [&](State& next) -> Result<void> {
        for (Slot slot : {Slot::Large, Slot::Small}) {
            auto differs = changedOnDisk(slot);
            if (!differs) return std::unexpected(differs.error());
            if (!*differs) continue;
            changed = true;
            auto pending = std::move(next.slot(slot).pending);
            if (auto loaded = load(next, slot); !loaded) return loaded;
            if (pending) {
                next.slot(slot).preview = pending->record;
                next.slot(slot).pending = std::move(pending);
            }
        }
        return {};
    });
    if (!caughtUp) return std::unexpected(caughtUp.error());
    return changed;
}

Result<void> Session::readRecords(Slot slot, int first, std::span<std::uint8_t> out) const
{
    if (auto open = needsPair(); !open) return open;
    if (first < archive::kFirstNumber || first > archive::kLastNumber)
        return std::unexpected(Refusal{Problem::NumberOutOfRange, {}});
    // The records of a span lie back to back: one read brings them all.
    if (auto read = archive::readRecord(fileSystem_, state_.archive(slot),
                                        archive::recordOffset(archive::layoutOf(slot), first), out);
        !read)
        return std::unexpected(read.error());
    return {};
}

Result<std::filesystem::path> Session::exportPair(const std::filesystem::path& largeFile) const
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    // Both names are known, and checked, before anything is written.
    const bool png = isPngName(largeFile);
    const auto smallFile =
        png ? fileio::replaceTail(largeFile, 4, U"T.PNG") : bitmap::smallBitmapPath(largeFile);
    if (!smallFile) return std::unexpected(Refusal{Problem::NameTooShort, largeFile});
    for (const auto& file : {largeFile, *smallFile})
        if (auto refused = refuseArchive(file); !refused) return std::unexpected(refused.error());
    const FileKind kind = png ? FileKind::Png : FileKind::Bmp;
    const auto large = exportFile(Slot::Large, state_.large.loaded, kind, pictures_);
    if (!large) return std::unexpected(large.error());
    const auto small = exportFile(Slot::Small, state_.small.loaded, kind, pictures_);
    if (!small) return std::unexpected(small.error());
    const fileio::Replacement files[] = {{largeFile, *large}, {*smallFile, *small}};
    if (auto written = fileio::replaceFiles(fileSystem_, files); !written)
        return std::unexpected(written.error());
    return *smallFile;
}

Result<std::vector<std::uint8_t>> exportFile(Slot slot, std::span<const std::uint8_t> record,
                                             FileKind kind, const Pictures* pictures)
{
    if (kind == FileKind::Bmp) return bitmap::encodeRecord(slot, record);
    if (!pictures) return std::unexpected(Refusal{Problem::NoPngWriter, {}});
    // All 256 entries in the record's order, so that the file imports back
    // by index into exactly this record.
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    bitmap::Picture picture{layout.width, layout.height(), {}, {}, {}};
    const auto pixels = record.first(layout.pixelBlockSize());
    picture.indices.assign(pixels.begin(), pixels.end());
    for (std::size_t at = pixels.size(); at < record.size(); at += 4)
        picture.palette.push_back({record[at + 2], record[at + 1], record[at], 0});
    auto bytes = pictures->writePng(picture);
    if (bytes.empty()) return std::unexpected(Refusal{Problem::NoPngWriter, {}});
    return bytes;
}

namespace {

// A decoded picture of a portrait's size mapped against current, the records
// it would replace; source only names it in messages.
Result<CheckedImport> checkPictureAgainst(bitmap::Picture picture,
                                          const std::filesystem::path& source,
                                          const bitmap::CurrentRecords& current, Colours colours,
                                          const Pictures* pictures)
{
    const auto slot = bitmap::portraitSlot(picture.width, picture.height);
    if (!slot)
        return std::unexpected(ImportRefusal{bitmap::Refusal{slot.error(),
                                                             {bitmap::DecodeFault::NotPortraitSize,
                                                              0, 0, picture.width, picture.height}},
                                             source});
    const auto replaced = *slot == Slot::Large ? current.large : current.small;
    auto record = bitmap::mapToRecord(picture, *slot, replaced);
    if (!record && colours == Colours::Reduce && pictures) {
        // A reduction that failed hands back no picture; mapping that would
        // read pixels that are not there. The colours then stay too many.
        const auto reduced = pictures->reduceColours(picture);
        if (reduced.width == picture.width && reduced.height == picture.height &&
            reduced.indices.size() == picture.colours.size())
            record = bitmap::mapToRecord(reduced, *slot, replaced);
    }
    if (!record) return std::unexpected(TooManyColours{record.error().colours, source});
    return CheckedImport{*slot, source, std::move(*record), colours};
}

}  // namespace

Result<CheckedImport> checkImportBytes(std::span<const std::uint8_t> bytes,
                                       const std::filesystem::path& file,
                                       const bitmap::CurrentRecords& current, Colours colours,
                                       const Pictures* pictures)
{
    // BMP files by our own decoder; PNG files through the front end's reader,
    // once our own check has found them whole and of a portrait's size.
    if (looksLikePng(bytes)) {
        const auto refused = [&](const bitmap::DecodeError& found) {
            return std::unexpected(ImportRefusal{{bitmap::checkOf(found), found}, file});
        };
        const auto size = bitmap::checkPng(bytes);
        if (!size) return refused(size.error());
        if (!pictures) return refused({bitmap::DecodeFault::NoPngReader});
        auto picture = pictures->readPng(bytes);
        if (!picture)
            return refused({bitmap::DecodeFault::DamagedPng, 0, 0, size->width, size->height});
        return checkPictureAgainst(std::move(*picture), file, current, colours, pictures);
    }
    auto portrait = bitmap::readPortrait(bytes);
    if (!portrait) return std::unexpected(ImportRefusal{portrait.error(), file});
    return checkPictureAgainst(std::move(portrait->picture), file, current, colours, pictures);
}

Result<CheckedImport> Session::checkPicture(bitmap::Picture picture,
                                            const std::filesystem::path& source,
                                            Colours colours) const
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    return checkPictureAgainst(std::move(picture), source,
                               {state_.large.loaded, state_.small.loaded}, colours, pictures_);
}

Result<CheckedImport> Session::checkPictureBytes(std::span<const std::uint8_t> bytes,
                                                 Colours colours) const
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    return checkImportBytes(bytes, {}, {state_.large.loaded, state_.small.loaded}, colours,
                            pictures_);
}

Result<CheckedImport> Session::smallFromLarge() const
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    return CheckedImport{
        Slot::Small, {}, session::smallFromLarge(state_.large.preview), Colours::Refuse};
}

Result<CheckedImport> Session::checkImport(const std::filesystem::path& file, Colours colours) const
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    const auto bytes = readImportFile(fileSystem_, file);
    if (!bytes) return std::unexpected(bytes.error());
    return checkImportBytes(*bytes, file, {state_.large.loaded, state_.small.loaded}, colours,
                            pictures_);
}

void Session::acceptImport(CheckedImport import)
{
    SlotState& s = state_.slot(import.slot);
    s.preview = import.record;
    s.lastImport = import.file;
    s.pending = PendingImport{std::move(import.file), std::move(import.record), import.colours};
    state_.writeEnabled = true;
}

Result<bool> Session::edit(Slot slot, const std::function<bool(Record&)>& change, Stroke stroke)
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    if (stroke == Stroke::Starts) ++strokes_;
    SlotState& shown = state_.slot(slot);
    Record edited = shown.preview;
    if (!change(edited)) return false;
    const SlotState before = shown;
    const bool writeEnabledBefore = state_.writeEnabled;
    EditStep* newest = edits_.nextUndo();
    const bool continues = stroke == Stroke::Continues && newest && newest->stroke == strokes_ &&
                           newest->slot == slot && holds(*newest, newest->after);
    // No file holds the edited picture: write-back writes it as it is, like
    // a painter's save.
    shown.preview = edited;
    shown.pending = PendingImport{{}, std::move(edited), Colours::Refuse, true};
    state_.writeEnabled = true;
    if (continues)
        newest->after = shown;
    else
        edits_.push({slot, state_.largeArchive, state_.number, strokes_, before, shown,
                     writeEnabledBefore});
    return true;
}

bool Session::holds(const EditStep& step, const SlotState& expected) const
{
    return state_.largeArchive == step.largeArchive && state_.number == step.number &&
           state_.slot(step.slot) == expected;
}

bool Session::undoEdit()
{
    const EditStep* next = edits_.nextUndo();
    if (!next) return false;
    if (!holds(*next, next->after)) {
        edits_.clear();
        return false;
    }
    const EditStep& step = *edits_.undo();
    state_.slot(step.slot) = step.before;
    state_.writeEnabled = step.writeEnabledBefore || state_.large.pending || state_.small.pending;
    return true;
}

bool Session::redoEdit()
{
    const EditStep* next = edits_.nextRedo();
    if (!next) return false;
    if (!holds(*next, next->before)) {
        edits_.clear();
        return false;
    }
    const EditStep& step = *edits_.redo();
    state_.slot(step.slot) = step.after;
    state_.writeEnabled = true;
    return true;
}

bool Session::hasEdits() const
{
    return std::ranges::any_of(std::array{Slot::Large, Slot::Small}, [&](Slot slot) {
        const auto& pending = state_.slot(slot).pending;
        return pending && pending->edited;
    });
}

Result<Record> Session::recheck(Slot slot) const
{
    // Since the import the file may have been edited, replaced or removed;
    // only what the user saw is written. The records it was mapped against
    // are still the ones shown: any load would have dropped the import.
    const PendingImport& pending = *state_.slot(slot).pending;
    // A picture that came from no file is written as it was taken.
    if (pending.file.empty()) return pending.record;
    auto again = checkImport(pending.file, pending.colours);
    if (!again) {
        if (std::holds_alternative<fileio::Error>(again.error()))
            return std::unexpected(again.error());
        return std::unexpected(Refusal{Problem::ImportChanged, pending.file});
    }
    if (again->slot != slot || again->record != pending.record)
        return std::unexpected(Refusal{Problem::ImportChanged, pending.file});
    return std::move(again->record);
}

Result<void> Session::writePending()
{
    // An import was mapped against the record as it was read; written over a
    // change another program made since, it would undo that change unseen.
    for (Slot slot : {Slot::Large, Slot::Small}) {
        if (!state_.slot(slot).pending) continue;
        const auto differs = changedOnDisk(slot);
        if (!differs) return std::unexpected(differs.error());
        if (!*differs) continue;
        if (auto reloaded = transact(state_, [&](State& next) { return load(next, slot); });
            !reloaded)
            return reloaded;
        return std::unexpected(Refusal{Problem::ChangedElsewhere, state_.archive(slot)});
    }
    std::vector<journal::RecordWrite> writes;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        if (!state_.slot(slot).pending) continue;
        auto record = recheck(slot);
        if (!record) return std::unexpected(record.error());
        writes.push_back({slot, state_.recordOffset(slot), std::move(*record)});
    }
    if (writes.empty()) return {};
    if (auto written = journal::apply(fileSystem_, {state_.largeArchive, state_.smallArchive},
                                      journal::Origin::WriteBack, writes, writing_);
        !written)
        return std::unexpected(written.error());
    state_.large.pending.reset();
    state_.small.pending.reset();
    return {};
}

Result<void> Session::writeRecords(journal::Origin origin,
                                   std::span<const journal::RecordWrite> writes)
{
    if (auto open = needsPair(); !open) return open;
    if (auto written = journal::apply(fileSystem_, {state_.largeArchive, state_.smallArchive},
                                      origin, writes, writing_);
        !written)
        return std::unexpected(written.error());
    // What is shown must be what the archives hold; an import waiting for a
    // record that changed under it would be written over the change.
    const bool shownTouched = std::ranges::any_of(writes, [&](const journal::RecordWrite& w) {
        return w.offset == state_.recordOffset(w.archive);
    });
    // The write stands whether or not the shown number can be read again:
    // reporting it as failed would be untrue.
    if (shownTouched) (void)transact(state_, [&](State& next) { return loadBoth(next); });
    return {};
}

namespace {

int numberAt(Slot slot, std::uint64_t offset)
{
    return archive::recordNumber(archive::layoutOf(slot), offset);
}

}  // namespace

Result<Undone> Session::undo()
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    auto undone =
        journal::undoLast(fileSystem_, {state_.largeArchive, state_.smallArchive}, writing_);
    if (!undone)
        return std::unexpected(std::visit(
            [](const auto& e) -> Error {
                using E = std::decay_t<decltype(e)>;
                if constexpr (std::is_same_v<E, fileio::Error>)
                    return e;
                else if constexpr (std::is_same_v<E, journal::UndoConflict>)
                    return UndoConflict{e.record.archive,
                                        numberAt(e.record.archive, e.record.offset), e.operation};
                else
                    return Refusal{Problem::NothingToUndo, {}};
            },
            undone.error()));
    Undone result{undone->undone, {}};
    bool shownTouched = false;
    for (const journal::RecordPlace& place : undone->touched) {
        result.records.push_back({place.archive, numberAt(place.archive, place.offset)});
        shownTouched |= place.offset == state_.recordOffset(place.archive);
    }
    // The shown records read again drop any import waiting for them: with
    // nothing left to write, the write button must not claim a success.
    if (shownTouched)
        if (auto reloaded = transact(state_,
                                     [&](State& next) {
                                         if (next.large.pending || next.small.pending)
                                             next.writeEnabled = false;
                                         return loadBoth(next);
                                     });
            !reloaded)
            return std::unexpected(reloaded.error());
    return result;
}

Result<std::optional<HistoryEntry>> Session::nextUndo() const
{
    auto entries = history();
    if (!entries) return std::unexpected(entries.error());
    // As the journal chooses: the newest committed write that is no undo.
    for (auto entry = entries->rbegin(); entry != entries->rend(); ++entry)
        if (entry->state == journal::State::Committed && entry->origin != journal::Origin::Undo)
            return *entry;
    return std::nullopt;
}

Result<std::vector<HistoryEntry>> Session::history() const
{
    if (auto open = needsPair(); !open) return std::unexpected(open.error());
    auto entries = journal::history(fileSystem_, {state_.largeArchive, state_.smallArchive});
    if (!entries) return std::unexpected(entries.error());
    return *entries;
}

}  // namespace pelloran::session
