// The rollback journal of an archive pair. Every change to either archive is
// one operation: the old bytes of every record it will write are made durable
// in the journal before any record changes, and the operation is marked
// committed only once every record is written and read back. An operation that
// a crash interrupted is rolled back the next time the pair is opened, and the
// last finished operations can be undone, one after another.
//
// One journal serves both archives of a pair; it lies beside the large one as
// <large archive>.journal, the large archive found through any link to it, so
// that every name of the pair meets the same journal. Every step that writes
// or recovers holds the pair's writer lock, taken on the large archive: two
// programs never interleave their operations. A missing journal is an empty one: reading, listing
// and a recovery with nothing to do never create it. A user may delete it
// whenever no operation runs; only the undo history is lost.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <system_error>
#include <variant>
#include <vector>

#include "archive/layout.h"
#include "fileio/file.h"

namespace pelloran::journal {

enum class Origin : std::uint8_t { WriteBack = 1, BatchImport = 2, Undo = 3 };

// One record to write: the bytes that replace those at offset.
struct RecordWrite {
    archive::Slot archive;
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
};

// Where a record lies; the application turns an offset into a portrait number.
struct RecordPlace {
    archive::Slot archive;
    std::uint64_t offset;
    bool operator==(const RecordPlace&) const = default;
};

struct Pair {
    std::filesystem::path large, small;
};

using Time = std::chrono::sys_time<std::chrono::milliseconds>;

struct Options {
    // The journal keeps the newest operations within this many bytes: when
    // the next one would not fit, the oldest are dropped until at most half
    // of it is used. The newest is kept even when it alone is larger.
    std::uint64_t sizeLimit = std::uint64_t{64} << 20;
    // When operations happen; empty means the system clock.
    std::function<Time()> clock;
    // How long a writer waits for another program's operation on the pair
    // to end before it refuses (fileio::Fault::Locked); onWaiting, when
    // given, is told once that it waits.
    std::chrono::milliseconds lockWait = std::chrono::seconds(5);
    std::function<void()> onWaiting;
};

enum class State : std::uint8_t {
    Unfinished,  // interrupted; recover() rolls it back
    Committed,   // every record written and verified
    RolledBack,  // failed or interrupted, every record it had written put back
    Undone,      // committed, and a later committed undo put it back
    Damaged,     // an entry whose bytes fail their checksum: nothing of it is known
};

struct HistoryEntry {
    std::uint64_t id;
    Time time;
    Origin origin;
    std::size_t records;
    std::uint64_t undoes;  // for an undo, the id of the operation it undid; else 0
    State state;
};

// What recover() did. An application says it in one sentence: "the unfinished
// batch import of <time> was rolled back: 12 records put back; left alone,
// because someone else changed them since: large archive, number 57".
struct Recovery {
    std::optional<HistoryEntry> operation;  // the operation rolled back, if there was one
    std::size_t putBack = 0;                // records that held its new bytes and now the old
    std::vector<RecordPlace> leftAlone;     // records holding neither: not touched
    std::uint64_t discardedBytes = 0;       // a torn end of the journal, cut off
    // Every record already held the operation's new bytes: it had finished
    // but for its commit mark, and is now marked committed, not rolled back.
    bool completed = false;
    std::size_t damagedEntries = 0;  // entries damaged in place, passed over
};

struct UndoReport {
    HistoryEntry undone;               // the operation undone (state Undone)
    std::uint64_t undoId;              // the undo's own operation in the journal
    std::vector<RecordPlace> touched;  // every record written
};

// Undo refused: this record no longer holds what the operation wrote.
struct UndoConflict {
    RecordPlace record;
    std::uint64_t operation;
};
// Undo refused: every committed operation in the journal is undone already.
struct NothingToUndo {};
using UndoError = std::variant<fileio::Error, UndoConflict, NothingToUndo>;

// The journal's own findings, carried as the code of a fileio::Error.
enum class Fault {
    NotAJournal = 1,     // the journal file does not start like one
    NewerVersion,        // written by a newer version of this program
    EntryDamaged,        // a whole entry that fails its own checks
    OverlappingRecords,  // two records of one operation share bytes
};
const std::error_category& faultCategory();
std::error_code make_error_code(Fault fault);

std::filesystem::path journalPath(const std::filesystem::path& largeArchive);

// Writes every record as one operation: either all of them are in place,
// flushed and read back, or, when it fails, none is. Refuses before anything
// is written when an archive is missing or ends before a record's end, or the
// journal cannot be written. A pending interrupted operation is rolled back
// first.
fileio::Result<void> apply(fileio::FileSystem& fs, const Pair& pair, Origin origin,
                           std::span<const RecordWrite> writes, const Options& options = {});

// Called when the application opens a pair: cuts a torn end off the journal
// and rolls back an interrupted operation (or marks one committed whose
// records all hold its new bytes). Nothing when there was nothing to do; a
// file at the journal's name that is no journal is left to the next write.
fileio::Result<std::optional<Recovery>> recover(fileio::FileSystem& fs, const Pair& pair,
                                                const Options& options = {});

// Undoes the newest committed operation that is not undone yet (undos are not
// undone), as an operation of its own.
std::expected<UndoReport, UndoError> undoLast(fileio::FileSystem& fs, const Pair& pair,
                                              const Options& options = {});

// Every operation the journal holds, oldest first. Never writes.
fileio::Result<std::vector<HistoryEntry>> history(fileio::FileSystem& fs, const Pair& pair);

}  // namespace pelloran::journal

template <>
struct std::is_error_code_enum<pelloran::journal::Fault> : std::true_type {
};
