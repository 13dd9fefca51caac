#include "journal/journal.h"

#include <algorithm>
#include <array>
#include <map>
#include <ranges>
#include <string>

#include "journal/checksum.h"
#include "journal/format.h"

namespace pelloran::journal {

using archive::Slot;
using fileio::Error;
using fileio::File;
using fileio::FileSystem;
using fileio::Operation;
using fileio::Result;
using format::kBlockOverhead;
using format::kHeaderSize;
using format::Kind;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr Slot kSlots[] = {Slot::Large, Slot::Small};

const std::filesystem::path& archivePath(const Pair& pair, Slot slot)
{
    return slot == Slot::Large ? pair.large : pair.small;
}

std::unexpected<Error> failure(const std::filesystem::path& path, Operation operation,
                               std::error_code code)
{
    return std::unexpected(Error{path, operation, code});
}

// Reads exactly out.size() bytes; false when the file ends first.
Result<bool> readExactly(File& file, std::uint64_t offset, std::span<std::uint8_t> out)
{
    auto count = file.readAt(offset, out);
    if (!count) return std::unexpected(count.error());
    return *count == out.size();
}

// A batch moves megabytes: its pieces are gathered into writes, and read back,
// a mebibyte at a time, so that it costs dozens of system calls rather than
// thousands, and no buffer as large as itself.
constexpr std::size_t kChunk = std::size_t{1} << 20;
using Pieces = std::vector<std::span<const std::uint8_t>>;

// Writes pieces one after another from offset.
Result<void> writeGathered(File& file, std::uint64_t offset,
                           std::span<const std::span<const std::uint8_t>> pieces)
{
    Bytes staging;
    const auto writeStaged = [&] {
        auto written = file.writeAt(offset, staging);
        offset += staging.size();
        staging.clear();
        return written;
    };
    for (auto piece : pieces) {
        while (!piece.empty()) {
            const std::size_t taken = std::min(piece.size(), kChunk - staging.size());
            staging.insert(staging.end(), piece.begin(), piece.begin() + taken);
            piece = piece.subspan(taken);
            if (staging.size() < kChunk) continue;
            if (auto written = writeStaged(); !written) return written;
        }
    }
    if (staging.empty()) return {};
    return writeStaged();
}

// Whether the file holds pieces one after another from offset.
Result<bool> holds(File& file, std::uint64_t offset,
                   std::span<const std::span<const std::uint8_t>> pieces)
{
    std::uint64_t total = 0;
    for (const auto& piece : pieces) total += piece.size();
    Bytes back;
    std::size_t piece = 0, within = 0;
    for (std::uint64_t done = 0; done < total; done += back.size()) {
        back.resize(std::min<std::uint64_t>(kChunk, total - done));
        auto whole = readExactly(file, offset + done, back);
        if (!whole || !*whole) return whole;
        for (std::size_t k = 0; k < back.size();) {
            const auto expected = pieces[piece].subspan(within);
            const std::size_t n = std::min(expected.size(), back.size() - k);
            if (!std::equal(expected.begin(), expected.begin() + n, back.begin() + k)) return false;
            k += n;
            within += n;
            if (within == pieces[piece].size()) {
                ++piece;
                within = 0;
            }
        }
    }
    return true;
}

// A whole block of the journal and where it starts.
struct Block {
    std::uint64_t offset = 0;
    Bytes bytes;
    format::BlockView view;
    // Both its lengths agree but its checksum does not: damaged where it
    // stands, not torn by a crash. Its bytes and view say nothing.
    bool damaged = false;
};

// The journal, open, ending after its last whole block.
struct OpenJournal {
    std::filesystem::path path;
    std::unique_ptr<File> file;
    std::uint64_t end = 0;
    std::uint64_t nextId = 1;
};

// Opens the journal and checks its header. Nothing when there is none yet: an
// empty file is one whose creation never got as far as its header.
Result<std::optional<OpenJournal>> openJournal(FileSystem& fs, const std::filesystem::path& path,
                                               bool forWriting)
{
    auto opened = forWriting ? fs.openReadWrite(path) : fs.openRead(path);
    if (!opened) {
        if (fileio::isNotFound(opened.error())) return std::nullopt;
        return std::unexpected(opened.error());
    }
    auto size = (*opened)->size();
    if (!size) return std::unexpected(size.error());
    if (*size == 0) return std::nullopt;
    std::array<std::uint8_t, kHeaderSize> header{};
    auto whole = readExactly(**opened, 0, header);
    if (!whole) return std::unexpected(whole.error());
    auto baseId = format::decodeHeader(header);
    if (!*whole || !baseId)
        return failure(path, Operation::Read, *whole ? baseId.error() : Fault::NotAJournal);
    return OpenJournal{path, std::move(*opened), *size, std::max<std::uint64_t>(*baseId, 1)};
}

Result<std::optional<Block>> readBlock(File& file, std::uint64_t offset, std::uint64_t length)
{
    Block block{offset, Bytes(length), {}};
    auto whole = readExactly(file, offset, block.bytes);
    if (!whole) return std::unexpected(whole.error());
    auto view = format::decodeBlock(block.bytes);
    if (!*whole || !view) return std::nullopt;
    block.view = *view;
    return block;
}

// The last block, found from the end by the length its tail gives. Nothing
// when the journal holds no block, or ends in something that is not one.
Result<std::optional<Block>> lastBlock(OpenJournal& journal)
{
    if (journal.end < kHeaderSize + kBlockOverhead) return std::nullopt;
    std::array<std::uint8_t, format::kBlockTailSize> tail{};
    auto whole = readExactly(*journal.file, journal.end - tail.size(), tail);
    if (!whole) return std::unexpected(whole.error());
    const std::uint64_t length = format::tailBodyLength(tail);
    if (length > journal.end - kHeaderSize - kBlockOverhead) return std::nullopt;
    return readBlock(*journal.file, journal.end - kBlockOverhead - length, length + kBlockOverhead);
}

// Visits the whole blocks from the first on and returns where they end: at
// the journal's end, or where a block starts that a crash cut short.
Result<std::uint64_t> scan(OpenJournal& journal, const std::function<void(const Block&)>& visit)
{
    std::uint64_t at = kHeaderSize;
    while (journal.end - at >= kBlockOverhead) {
        std::array<std::uint8_t, format::kBlockHeadSize> head{};
        auto whole = readExactly(*journal.file, at, head);
        if (!whole) return std::unexpected(whole.error());
        const auto length = format::headBodyLength(head);
        if (!*whole || !length || *length > journal.end - at - kBlockOverhead) break;
        auto block = readBlock(*journal.file, at, *length + kBlockOverhead);
        if (!block) return std::unexpected(block.error());
        if (!*block) {
            // A crash leaves a block without its tail; a flipped bit leaves
            // one whose tail still gives its length. That one is passed over,
            // so that it never hides the blocks after it.
            std::array<std::uint8_t, format::kBlockTailSize> tail{};
            auto read = readExactly(*journal.file, at + format::kBlockHeadSize + *length, tail);
            if (!read) return std::unexpected(read.error());
            if (!*read || format::tailBodyLength(tail) != *length) break;
            visit(Block{at, {}, {}, true});
            at += *length + kBlockOverhead;
            continue;
        }
        visit(**block);
        at += (*block)->bytes.size();
    }
    return at;
}

std::uint64_t blockId(const Block& block)
{
    if (block.view.kind == Kind::Operation) {
        const auto operation = format::decodeOperation(block.view.body);
        return operation ? operation->head.id : 0;
    }
    return format::decodeMark(block.view.body).value_or(0);
}

HistoryEntry entryOf(const format::OperationView& operation, State state)
{
    return {operation.head.id,        operation.head.time,   operation.head.origin,
            operation.records.size(), operation.head.undoes, state};
}

// Appends a block, given in pieces, at the journal's end and makes it durable.
Result<void> append(OpenJournal& journal, std::span<const std::span<const std::uint8_t>> pieces)
{
    if (auto written = writeGathered(*journal.file, journal.end, pieces); !written) return written;
    if (auto flushed = journal.file->flush(); !flushed) return flushed;
    for (const auto& piece : pieces) journal.end += piece.size();
    return {};
}

Result<void> append(OpenJournal& journal, std::span<const std::uint8_t> block)
{
    const std::span<const std::uint8_t> pieces[] = {block};
    return append(journal, pieces);
}

// Whether every byte of current is the old or the new one at its place: what
// a write of ours leaves, whole or cut short by a crash at any point.
bool heldByUs(std::span<const std::uint8_t> current, std::span<const std::uint8_t> old,
              std::span<const std::uint8_t> written)
{
    if (std::ranges::equal(current, written)) return true;
    for (std::size_t i = 0; i < current.size(); ++i)
        if (current[i] != old[i] && current[i] != written[i]) return false;
    return true;
}

// An operation whose every record holds its new bytes finished all its
// writing: only its commit mark is missing or unreadable. It is made durable
// and marked committed instead of being undone behind the user's back.
// Whether it was so. One that changes no byte is no work to keep: rolling it
// back leaves the same archives and agrees with the failure it reported.
Result<bool> completeIfWritten(FileSystem& fs, const Pair& pair, OpenJournal& journal,
                               const format::OperationView& operation)
{
    const bool changesAny = std::ranges::any_of(
        std::views::iota(std::size_t{0}, operation.records.size()), [&](std::size_t i) {
            return !std::ranges::equal(operation.oldBytes(i), operation.newBytes(i));
        });
    if (!changesAny) return false;
    std::array<std::unique_ptr<File>, 2> files;
    Bytes current;
    for (std::size_t i = 0; i < operation.records.size(); ++i) {
        const auto& record = operation.records[i];
        auto& file = files[record.archive == Slot::Large ? 0 : 1];
        if (!file) {
            auto opened = fs.openReadWrite(archivePath(pair, record.archive));
            if (!opened) {
                if (fileio::isNotFound(opened.error())) return false;
                return std::unexpected(opened.error());
            }
            file = std::move(*opened);
        }
        current.resize(record.length);
        auto read = readExactly(*file, record.offset, current);
        if (!read) return std::unexpected(read.error());
        if (!*read || !std::ranges::equal(current, operation.newBytes(i))) return false;
    }
    for (auto& file : files)
        if (file)
            if (auto flushed = file->flush(); !flushed) return std::unexpected(flushed.error());
    if (auto marked = append(journal, format::encodeMark(Kind::Committed, operation.head.id));
        !marked)
        return std::unexpected(marked.error());
    return true;
}

// Puts an interrupted operation's records back: a record holding its new
// bytes, wholly or in part, gets the old ones; one holding the old ones is
// already right; one holding anything else was changed by someone else since,
// and is left alone.
Result<void> rollBack(FileSystem& fs, const Pair& pair, OpenJournal& journal,
                      const format::OperationView& operation, Recovery& report)
{
    report.operation = entryOf(operation, State::RolledBack);
    auto finished = completeIfWritten(fs, pair, journal, operation);
    if (!finished) return std::unexpected(finished.error());
    if (*finished) {
        report.operation->state = State::Committed;
        report.completed = true;
        return {};
    }
    for (Slot slot : kSlots) {
        std::vector<std::size_t> mine;
        for (std::size_t i = 0; i < operation.records.size(); ++i)
            if (operation.records[i].archive == slot) mine.push_back(i);
        if (mine.empty()) continue;
        const auto& path = archivePath(pair, slot);
        auto opened = fs.openReadWrite(path);
        if (!opened && !fileio::isNotFound(opened.error())) return std::unexpected(opened.error());
        Result<std::uint64_t> size = opened ? (*opened)->size() : 0;
        if (!size) return std::unexpected(size.error());

        std::vector<std::size_t> restored;
        Bytes current;
        for (std::size_t i : mine) {
            const auto& record = operation.records[i];
            const auto old = operation.oldBytes(i);
            bool whole = false;
            if (opened && *size >= record.offset + record.length) {
                current.resize(record.length);
                auto read = readExactly(**opened, record.offset, current);
                if (!read) return std::unexpected(read.error());
                whole = *read;
            }
            if (whole && std::ranges::equal(current, old)) continue;
            if (!whole || !heldByUs(current, old, operation.newBytes(i))) {
                report.leftAlone.push_back({slot, record.offset});
                continue;
            }
            if (auto written = (*opened)->writeAt(record.offset, old); !written) return written;
            restored.push_back(i);
        }
        if (restored.empty()) continue;
        if (auto flushed = (*opened)->flush(); !flushed) return flushed;
        for (std::size_t i : restored) {
            const auto& record = operation.records[i];
            // A record that reads back wrong holds neither the old nor the new
            // bytes, which the next recovery would take for someone else's
            // change and leave so: it is written once more before giving up.
            for (int attempt = 0;; ++attempt) {
                current.resize(record.length);
                auto read = readExactly(**opened, record.offset, current);
                if (!read) return std::unexpected(read.error());
                if (*read && std::ranges::equal(current, operation.oldBytes(i))) break;
                if (attempt == 1)
                    return failure(path, Operation::Write, archive::Fault::VerifyMismatch);
                if (auto again = (*opened)->writeAt(record.offset, operation.oldBytes(i)); !again)
                    return again;
                if (auto flushed = (*opened)->flush(); !flushed) return flushed;
            }
        }
        (void)(*opened)->close();
        report.putBack += restored.size();
    }
    // Only now, with every record back and flushed, may the journal say so; a
    // crash before this leaves the operation unfinished, and the next recovery
    // finds its records old and has nothing more to do.
    return append(journal, format::encodeMark(Kind::RolledBack, operation.head.id));
}

// Leaves the journal ending in a whole block and no operation unfinished: a
// torn end is cut off, an interrupted operation rolled back. Also learns the
// next operation's id.
Result<void> settle(FileSystem& fs, const Pair& pair, OpenJournal& journal, Recovery& report)
{
    auto last = lastBlock(journal);
    if (!last) return std::unexpected(last.error());
    if (!*last && journal.end > kHeaderSize) {
        // The crash hit the journal itself while it was appending. Whatever
        // follows the last whole block was never trusted with a record (records
        // change only after their entry is flushed), so it is cut off, and cut
        // durably before anything new is appended behind it. Blocks damaged in
        // place are kept; the last whole block before them decides.
        // Where the last whole block lies; a block's view points into the
        // bytes the scan read, so it is read again from there.
        std::optional<std::pair<std::uint64_t, std::uint64_t>> lastWhole;
        auto end = scan(journal, [&](const Block& block) {
            if (block.damaged)
                report.damagedEntries += 1;
            else
                lastWhole.emplace(block.offset, block.bytes.size());
        });
        if (!end) return std::unexpected(end.error());
        if (*end < journal.end) {
            if (auto cut = journal.file->truncate(*end); !cut) return cut;
            if (auto flushed = journal.file->flush(); !flushed) return flushed;
            report.discardedBytes = journal.end - *end;
            journal.end = *end;
        }
        last = std::nullopt;
        if (lastWhole) last = readBlock(*journal.file, lastWhole->first, lastWhole->second);
        if (!last) return std::unexpected(last.error());
    }
    if (!*last) return {};
    journal.nextId = std::max(journal.nextId, blockId(**last) + 1);
    if ((*last)->view.kind != Kind::Operation) return {};
    const auto operation = format::decodeOperation((*last)->view.body);
    if (!operation) return failure(journal.path, Operation::Read, Fault::EntryDamaged);
    return rollBack(fs, pair, journal, *operation, report);
}

Result<OpenJournal> writeFresh(FileSystem& fs, const std::filesystem::path& path,
                               std::uint64_t nextId, std::span<const std::uint8_t> bytes,
                               bool overProtection = false);

// The journal holds the archives' bytes: it is as private as they are.
Result<void> privateAsArchive(FileSystem& fs, const Pair& pair, OpenJournal& journal)
{
    const auto archive = fs.inspect(pair.large);
    if (!archive) return std::unexpected(archive.error());
    if (*archive && (*archive)->permissions)
        return journal.file->setPermissions((*archive)->permissions);
    return {};
}

// Opens the journal for appending. One that this user may read but not
// write (another user's write, as root say, made it) is taken over: written
// anew as this user's file, whole, and renamed over the other, so that the
// archives' owner keeps both the history and the right to write.
Result<std::optional<OpenJournal>> openForWriting(FileSystem& fs, const Pair& pair)
{
    const auto path = journalPath(pair.large);
    auto journal = openJournal(fs, path, true);
    if (journal || journal.error().code != std::errc::permission_denied) return journal;
    auto readable = openJournal(fs, path, false);
    if (!readable || !*readable) return journal;
    Bytes bytes(static_cast<std::size_t>((*readable)->end));
    auto whole = readExactly(*(*readable)->file, 0, bytes);
    if (!whole) return std::unexpected(whole.error());
    (*readable)->file.reset();
    auto fresh = writeFresh(fs, path, (*readable)->nextId, bytes, true);
    if (!fresh) return std::unexpected(fresh.error());
    if (auto set = privateAsArchive(fs, pair, *fresh); !set) return std::unexpected(set.error());
    return std::move(*fresh);
}

// Opens the journal for appending and settles it; nothing when there is none.
Result<std::optional<OpenJournal>> openSettled(FileSystem& fs, const Pair& pair, Recovery& report)
{
    auto journal = openForWriting(fs, pair);
    if (!journal || !*journal) return journal;
    if (auto settled = settle(fs, pair, **journal, report); !settled)
        return std::unexpected(settled.error());
    return journal;
}

// Writes a journal (its header and whole blocks) as a new file, renamed over
// the old one, so that a crash leaves either the old journal or the new one,
// never a part of it; then makes the name durable. overProtection: the old
// one is replaced even where this user may not write it.
Result<OpenJournal> writeFresh(FileSystem& fs, const std::filesystem::path& path,
                               std::uint64_t nextId, std::span<const std::uint8_t> bytes,
                               bool overProtection)
{
    fileio::Replacing replacing(fs, false);
    auto added =
        overProtection ? replacing.add(path, bytes, std::nullopt) : replacing.add(path, bytes);
    if (!added) return std::unexpected(added.error());
    if (auto committed = replacing.commit(fileio::Replacing::Folders::MustFlush); !committed)
        return std::unexpected(committed.error());
    auto opened = fs.openReadWrite(path);
    if (!opened) return std::unexpected(opened.error());
    return OpenJournal{path, std::move(*opened), bytes.size(), nextId};
}

// Makes room for an entry of incoming bytes by dropping the oldest whole
// operations. It keeps at most half the limit, so that the journal is copied
// once per half of the limit written, not at every write: the copying costs
// at most as much again as the writing.
Result<void> compact(FileSystem& fs, OpenJournal& journal, std::uint64_t incoming,
                     std::uint64_t limit)
{
    std::vector<std::uint64_t> starts;
    auto end = scan(journal, [&](const Block& block) {
        if (!block.damaged && block.view.kind == Kind::Operation) starts.push_back(block.offset);
    });
    if (!end) return std::unexpected(end.error());
    const std::uint64_t room = limit / 2;
    auto first = std::ranges::find_if(starts, [&](std::uint64_t start) {
        return kHeaderSize + (*end - start) + incoming <= room;
    });
    const std::uint64_t from = first == starts.end() ? *end : *first;
    Bytes bytes = format::encodeHeader(journal.nextId);
    bytes.resize(kHeaderSize + (*end - from));
    auto whole = readExactly(*journal.file, from, std::span(bytes).subspan(kHeaderSize));
    if (!whole) return std::unexpected(whole.error());
    if (!*whole) return failure(journal.path, Operation::Read, Fault::EntryDamaged);
    // Closed first: Windows renames nothing over a file that is open.
    journal.file.reset();
    auto fresh = writeFresh(fs, journal.path, journal.nextId, bytes);
    if (!fresh) return std::unexpected(fresh.error());
    journal = std::move(*fresh);
    return {};
}

// Where a block lies in the journal: its offset and length.
using Extent = std::pair<std::uint64_t, std::uint64_t>;

// Every operation of the journal with the state its marks give it, oldest
// first; where each operation's block lies goes into extents when given.
Result<std::vector<HistoryEntry>> readHistory(OpenJournal& journal, std::vector<Extent>* extents)
{
    std::vector<HistoryEntry> entries;
    std::map<std::uint64_t, std::size_t> byId;
    auto end = scan(journal, [&](const Block& block) {
        // A damaged block is named in its place; whatever it said is lost,
        // and nothing is rolled back or undone from it.
        const auto operation = block.damaged || block.view.kind != Kind::Operation
                                   ? std::nullopt
                                   : format::decodeOperation(block.view.body);
        if (block.damaged || (block.view.kind == Kind::Operation && !operation)) {
            entries.push_back({0, Time{}, Origin::WriteBack, 0, 0, State::Damaged});
            if (extents) extents->emplace_back(block.offset, block.bytes.size());
            return;
        }
        if (block.view.kind == Kind::Operation) {
            byId[operation->head.id] = entries.size();
            entries.push_back(entryOf(*operation, State::Unfinished));
            if (extents) extents->emplace_back(block.offset, block.bytes.size());
            return;
        }
        const auto found = byId.find(blockId(block));
        if (found == byId.end()) return;
        HistoryEntry& entry = entries[found->second];
        entry.state = block.view.kind == Kind::Committed ? State::Committed : State::RolledBack;
        if (entry.state == State::Committed && entry.origin == Origin::Undo) {
            const auto target = byId.find(entry.undoes);
            if (target != byId.end()) entries[target->second].state = State::Undone;
        }
    });
    if (!end) return std::unexpected(end.error());
    return entries;
}

// A record of the operation being applied.
struct Planned;
// Sees a record's bytes as they are before the operation, and may refuse them.
using Check =
    std::function<std::optional<UndoConflict>(const Planned&, std::span<const std::uint8_t>)>;
struct Planned {
    Slot slot;
    std::uint64_t offset;
    std::span<const std::uint8_t> bytes;
    std::size_t oldStart;
};

// Records of one archive, ordered by offset, as the runs of them that lie
// back to back: one write or read covers a run.
std::vector<std::span<const Planned>> runsOf(std::span<const Planned> records)
{
    std::vector<std::span<const Planned>> runs;
    std::size_t begin = 0;
    for (std::size_t i = 1; i <= records.size(); ++i) {
        if (i < records.size() &&
            records[i - 1].offset + records[i - 1].bytes.size() == records[i].offset)
            continue;
        runs.push_back(records.subspan(begin, i - begin));
        begin = i;
    }
    return runs;
}

std::uint64_t lengthOf(std::span<const Planned> run)
{
    return run.back().offset + run.back().bytes.size() - run.front().offset;
}

Pieces newBytesOf(std::span<const Planned> run)
{
    Pieces pieces;
    for (const Planned& record : run) pieces.push_back(record.bytes);
    return pieces;
}

// Writes every record of one archive, flushes once, and reads them back.
Result<void> writeArchive(File& file, const std::filesystem::path& path,
                          std::span<const Planned> records)
{
    const auto runs = runsOf(records);
    for (const auto& run : runs)
        if (auto written = writeGathered(file, run.front().offset, newBytesOf(run)); !written)
            return written;
    if (auto flushed = file.flush(); !flushed) return flushed;
    for (const auto& run : runs) {
        auto same = holds(file, run.front().offset, newBytesOf(run));
        if (!same) return std::unexpected(same.error());
        if (!*same) return failure(path, Operation::Write, archive::Fault::VerifyMismatch);
    }
    return {};
}

// An operation in progress: the archives it opened, its records grouped by
// archive and ordered by offset, and their old bytes.
struct Transaction {
    std::array<std::unique_ptr<File>, 2> files;
    std::array<std::vector<Planned>, 2> records;
    Bytes oldBytes;

    // The old bytes of a run lie back to back, as the run does.
    std::span<const std::uint8_t> oldBytesOf(std::span<const Planned> run) const
    {
        return std::span(oldBytes).subspan(run.front().oldStart, lengthOf(run));
    }

    // Puts the old bytes back into every record of every archive the write
    // began in, best effort; whether every one of them went back and was
    // flushed.
    bool putBack(std::size_t archivesBegun)
    {
        bool all = true;
        for (std::size_t a = 0; a < archivesBegun; ++a) {
            if (!files[a]) continue;
            for (const auto& run : runsOf(records[a]))
                all = files[a]->writeAt(run.front().offset, oldBytesOf(run)) && all;
            all = files[a]->flush() && all;
        }
        return all;
    }
};

std::size_t indexOf(Slot slot)
{
    return slot == Slot::Large ? 0 : 1;
}

// Groups the writes by archive and offset; refuses overlapping ones, whose
// old bytes could not be put back in a well-defined order.
Result<Transaction> plan(const Pair& pair, std::span<const RecordWrite> writes)
{
    Transaction transaction;
    for (const RecordWrite& write : writes)
        transaction.records[indexOf(write.archive)].push_back(
            {write.archive, write.offset, write.bytes, 0});
    std::size_t oldSize = 0;
    for (Slot slot : kSlots) {
        auto& records = transaction.records[indexOf(slot)];
        std::ranges::sort(records, {}, &Planned::offset);
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (i > 0 && records[i - 1].offset + records[i - 1].bytes.size() > records[i].offset)
                return failure(archivePath(pair, slot), Operation::Write,
                               Fault::OverlappingRecords);
            records[i].oldStart = oldSize;
            oldSize += records[i].bytes.size();
        }
    }
    transaction.oldBytes.resize(oldSize);
    return transaction;
}

// Opens every archive the operation writes and reads the old bytes of its
// records, refusing an archive that would have to be created or extended.
// check sees each record's bytes as they are now and may refuse them (an
// undo's check that nobody changed the record since).
std::expected<void, UndoError> readOld(FileSystem& fs, const Pair& pair, Transaction& transaction,
                                       const Check& check)
{
    for (Slot slot : kSlots) {
        const auto a = indexOf(slot);
        if (transaction.records[a].empty()) continue;
        const auto& path = archivePath(pair, slot);
        auto opened = fs.openReadWrite(path);
        if (!opened) return std::unexpected(opened.error());
        transaction.files[a] = std::move(*opened);
        auto size = transaction.files[a]->size();
        if (!size) return std::unexpected(size.error());
        for (const auto& run : runsOf(transaction.records[a])) {
            if (*size < run.front().offset + lengthOf(run))
                return std::unexpected(Error{path, Operation::Write, archive::Fault::TooShort});
            const auto old =
                std::span(transaction.oldBytes).subspan(run.front().oldStart, lengthOf(run));
            auto whole = readExactly(*transaction.files[a], run.front().offset, old);
            if (!whole) return std::unexpected(whole.error());
            if (!*whole)
                return std::unexpected(Error{path, Operation::Read, archive::Fault::TooShort});
            for (const Planned& record : run)
                if (auto conflict = check(
                        record,
                        old.subspan(record.oldStart - run.front().oldStart, record.bytes.size())))
                    return std::unexpected(*conflict);
        }
    }
    return {};
}

format::Pieces entryFor(const Transaction& transaction, const format::OperationHead& head)
{
    std::vector<format::RecordChange> records;
    for (const auto& archiveRecords : transaction.records)
        for (const Planned& record : archiveRecords)
            records.push_back(
                {record.slot, record.offset,
                 std::span(transaction.oldBytes).subspan(record.oldStart, record.bytes.size()),
                 record.bytes});
    return format::encodeOperation(head, records);
}

Time now(const Options& options)
{
    if (options.clock) return options.clock();
    return std::chrono::time_point_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now());
}

// The pair's writer lock, on its large archive. An archive that does not
// exist holds nothing to protect: a write refuses it anyway.
Result<std::unique_ptr<fileio::Lock>> lockPair(FileSystem& fs, const Pair& pair,
                                               const Options& options)
{
    auto lock = fileio::lockFile(fs, pair.large, options.lockWait, options.onWaiting);
    if (!lock && fileio::isNotFound(lock.error())) return nullptr;
    return lock;
}

// A compaction that a crash cut short leaves its new journal under a
// temporary name beside the old one. Under the lock nobody else is writing
// such a name, so the writer that holds it removes them. A folder that
// cannot be listed is one the write would fail in too: it is said now.
Result<void> removeLeftovers(FileSystem& fs, const std::filesystem::path& journal)
{
    const std::filesystem::path folder = journal.parent_path();
    const auto names = fs.listFolder(folder.empty() ? "." : folder);
    if (!names) return std::unexpected(names.error());
    const std::u8string prefix = journal.filename().u8string() + u8".pelloran-";
    for (const auto& name : *names) {
        const std::u8string text = name.u8string();
        if (text.starts_with(prefix) && text.ends_with(u8".tmp")) (void)fs.remove(folder / name);
    }
    return {};
}

// The pair's writer lock with the journal's folder cleared of leftovers:
// where every step that writes or recovers begins.
Result<std::unique_ptr<fileio::Lock>> beginWriting(FileSystem& fs, const Pair& pair,
                                                   const Options& options)
{
    auto lock = lockPair(fs, pair, options);
    if (!lock) return lock;
    if (auto cleared = removeLeftovers(fs, journalPath(pair.large)); !cleared)
        return std::unexpected(cleared.error());
    return lock;
}

// One journaled operation; what apply and undo share. Returns the id the
// operation got.
std::expected<std::uint64_t, UndoError> run(FileSystem& fs, const Pair& pair, Origin origin,
                                            std::uint64_t undoes,
                                            std::span<const RecordWrite> writes,
                                            const Options& options, const Check& check)
{
    auto transaction = plan(pair, writes);
    if (!transaction) return std::unexpected(transaction.error());
    Recovery ignored;
    auto journal = openSettled(fs, pair, ignored);
    if (!journal) return std::unexpected(journal.error());
    // The archives are checked and their old bytes read before the journal is
    // created or grown: a write refused for a short archive leaves no trace.
    if (auto read = readOld(fs, pair, *transaction, check); !read)
        return std::unexpected(read.error());

    const std::uint64_t id = *journal ? (*journal)->nextId : 1;
    const format::Pieces entry = entryFor(*transaction, {id, now(options), undoes, origin});
    if (!*journal) {
        auto fresh = writeFresh(fs, journalPath(pair.large), id, format::encodeHeader(id));
        if (!fresh) return std::unexpected(fresh.error());
        *journal = std::move(*fresh);
        if (auto set = privateAsArchive(fs, pair, **journal); !set)
            return std::unexpected(set.error());
    } else if ((*journal)->end + entry.size() > options.sizeLimit) {
        if (auto compacted = compact(fs, **journal, entry.size(), options.sizeLimit); !compacted)
            return std::unexpected(compacted.error());
    }
    OpenJournal& open = **journal;

    // The old bytes are durable before the first record changes: this order
    // is what makes every crash from here on recoverable.
    const std::uint64_t entryStart = open.end;
    if (auto appended = append(open, entry.all()); !appended) {
        // Nothing was written to an archive; the torn or unflushed entry is cut
        // off now rather than left for the next recovery, best effort.
        if (open.file->truncate(entryStart)) (void)open.file->flush();
        return std::unexpected(appended.error());
    }

    // Per archive one flush for all its records; each archive is flushed
    // before the commit mark is written, so that a durable commit mark always
    // means durable records.
    std::size_t begun = 0;
    auto finished = [&]() -> Result<void> {
        for (Slot slot : kSlots) {
            const auto a = indexOf(slot);
            if (transaction->records[a].empty()) continue;
            begun = a + 1;
            if (auto written = writeArchive(*transaction->files[a], archivePath(pair, slot),
                                            transaction->records[a]);
                !written)
                return written;
        }
        return append(open, format::encodeMark(Kind::Committed, id));
    }();
    if (!finished) {
        // The commit mark, if it got as far as the file, is overwritten in
        // place by a rolled-back mark of the same size, but only once every
        // record is back: until then the operation stays unfinished, and the
        // next recovery puts back what this could not.
        const std::uint64_t markAt = entryStart + entry.size();
        if (transaction->putBack(begun)) {
            const Bytes mark = format::encodeMark(Kind::RolledBack, id);
            if (open.file->writeAt(markAt, mark) && open.file->truncate(markAt + mark.size()))
                (void)open.file->flush();
        }
        return std::unexpected(finished.error());
    }
    // Committed and durable: a failing close changes nothing about that.
    for (auto& file : transaction->files)
        if (file) (void)file->close();
    (void)open.file->close();
    return id;
}

}  // namespace

const std::error_category& faultCategory()
{
    static const fileio::FaultCategory category("pelloran-journal", [](int value) -> std::string {
        switch (static_cast<Fault>(value)) {
            case Fault::NotAJournal:
                return "the file is not a journal of this program";
            case Fault::NewerVersion:
                return "the journal was written by a newer version of this program";
            case Fault::EntryDamaged:
                return "an entry of the journal is damaged";
            case Fault::OverlappingRecords:
                return "two records of one operation overlap";
        }
        return "unknown journal fault";
    });
    return category;
}

std::error_code make_error_code(Fault fault)
{
    return {static_cast<int>(fault), faultCategory()};
}

std::filesystem::path journalPath(const std::filesystem::path& largeArchive)
{
    // A link to the archive leads to the journal beside the archive itself;
    // any other spelling of the path names that place already.
    std::error_code code;
    std::filesystem::path path = largeArchive;
    if (std::filesystem::is_symlink(largeArchive, code)) {
        const auto real = std::filesystem::canonical(largeArchive, code);
        if (!code) path = real;
    }
    path += ".journal";
    return path;
}

Result<void> apply(FileSystem& fs, const Pair& pair, Origin origin,
                   std::span<const RecordWrite> writes, const Options& options)
{
    if (writes.empty()) return {};
    const auto lock = beginWriting(fs, pair, options);
    if (!lock) return std::unexpected(lock.error());
    auto done =
        run(fs, pair, origin, 0, writes, options,
            [](const Planned&, std::span<const std::uint8_t>) -> std::optional<UndoConflict> {
                return {};
            });
    // Only an undo's check yields anything but a file error.
    if (!done) return std::unexpected(std::get<Error>(done.error()));
    return {};
}

Result<std::optional<Recovery>> recover(FileSystem& fs, const Pair& pair, const Options& options)
{
    // Looked at read-only first: with nothing to do, a journal in a folder
    // the user cannot write to is no obstacle, and nothing is written.
    {
        auto journal = openJournal(fs, journalPath(pair.large), false);
        if (!journal && journal.error().code == Fault::NotAJournal) return std::nullopt;
        if (!journal) return std::unexpected(journal.error());
        if (!*journal) return std::nullopt;
        auto last = lastBlock(**journal);
        if (!last) return std::unexpected(last.error());
        const bool torn = !*last && (*journal)->end > kHeaderSize;
        if (!torn && (!*last || (*last)->view.kind != Kind::Operation)) return std::nullopt;
    }
    // What looks unfinished may be another program's operation in progress:
    // only the holder of the lock may take it for a crashed one.
    const auto lock = beginWriting(fs, pair, options);
    if (!lock) return std::unexpected(lock.error());
    Recovery report;
    auto journal = openSettled(fs, pair, report);
    if (!journal) return std::unexpected(journal.error());
    if (*journal) (void)(*journal)->file->close();
    if (!report.operation && report.discardedBytes == 0 && report.damagedEntries == 0)
        return std::nullopt;
    return report;
}

Result<std::vector<HistoryEntry>> history(FileSystem& fs, const Pair& pair)
{
    auto journal = openJournal(fs, journalPath(pair.large), false);
    if (!journal) return std::unexpected(journal.error());
    if (!*journal) return std::vector<HistoryEntry>{};
    return readHistory(**journal, nullptr);
}

std::expected<UndoReport, UndoError> undoLast(FileSystem& fs, const Pair& pair,
                                              const Options& options)
{
    // The lock covers choosing the operation to undo as well as undoing it:
    // two undos at once undo two operations, one after the other.
    const auto lock = beginWriting(fs, pair, options);
    if (!lock) return std::unexpected(lock.error());
    HistoryEntry target;
    std::optional<Block> block;
    {
        Recovery ignored;
        auto journal = openSettled(fs, pair, ignored);
        if (!journal) return std::unexpected(journal.error());
        if (!*journal) return std::unexpected(NothingToUndo{});
        std::vector<Extent> extents;
        auto entries = readHistory(**journal, &extents);
        if (!entries) return std::unexpected(entries.error());
        std::size_t i = entries->size();
        while (i > 0 && ((*entries)[i - 1].state != State::Committed ||
                         (*entries)[i - 1].origin == Origin::Undo))
            --i;
        if (i == 0) return std::unexpected(NothingToUndo{});
        target = (*entries)[i - 1];
        auto read = readBlock(*(*journal)->file, extents[i - 1].first, extents[i - 1].second);
        if (!read) return std::unexpected(read.error());
        block = std::move(*read);
    }
    const auto operation =
        block ? format::decodeOperation(block->view.body) : std::optional<format::OperationView>{};
    if (!operation)
        return std::unexpected(
            Error{journalPath(pair.large), Operation::Read, Fault::EntryDamaged});

    std::vector<RecordWrite> writes;
    std::map<std::pair<Slot, std::uint64_t>, std::span<const std::uint8_t>> written;
    for (std::size_t i = 0; i < operation->records.size(); ++i) {
        const auto& record = operation->records[i];
        const auto old = operation->oldBytes(i);
        writes.push_back({record.archive, record.offset, Bytes(old.begin(), old.end())});
        written[{record.archive, record.offset}] = operation->newBytes(i);
    }
    // Checked against the bytes read under the same open handle that then
    // writes them, so nothing can slip in between the check and the write.
    auto undoId = run(fs, pair, Origin::Undo, target.id, writes, options,
                      [&](const Planned& record,
                          std::span<const std::uint8_t> now) -> std::optional<UndoConflict> {
                          if (std::ranges::equal(written.at({record.slot, record.offset}), now))
                              return std::nullopt;
                          return UndoConflict{{record.slot, record.offset}, target.id};
                      });
    if (!undoId) return std::unexpected(undoId.error());

    UndoReport report{target, *undoId, {}};
    report.undone.state = State::Undone;
    for (const auto& write : writes) report.touched.push_back({write.archive, write.offset});
    return report;
}

}  // namespace pelloran::journal
