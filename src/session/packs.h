// Work on whole archive pairs, for every front end: reading a pair's records
// at once, writing a pack of portrait files, checking a pack before anything
// is written and writing it as one journaled operation, comparing two pairs,
// and what a pair holds. Each reads and writes through the session's files
// and picture port, so the rules of opening, recovering and undoing that the
// session keeps hold here too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "session/numbers.h"
#include "session/session.h"

namespace pelloran::session {

// Both archives of a pair, read whole. Bytes an archive does not have read
// as 0, as the window shows them.
class PairRecords {
public:
    std::span<const std::uint8_t> record(Slot slot, int number) const;

private:
    friend Result<PairRecords> readPair(const Session& session);
    using Bytes = std::unique_ptr<std::uint8_t[]>;
    Bytes large_, small_;
};

// The open pair's records, both archives whole.
Result<PairRecords> readPair(const Session& session);

// How many of the slot's records are all zeros.
int blankRecords(const PairRecords& records, Slot slot);

// Told how many files of how many are done, for a progress line.
using OnProgress = std::function<void(std::size_t done, std::size_t total)>;

// Writes the portraits named by entries, read from the open pair, into folder
// (made when missing) under their pack names, as the window exports them:
// all or none. Every file is replaced whole; none lands on either archive.
Result<void> exportPack(const Session& session, std::span<const PackEntry> entries,
                        const std::filesystem::path& folder, FileKind kind,
                        const OnProgress& onProgress = {});

// Replaces file whole with bytes, as an export does; never one of the open
// pair's archives, by any name.
Result<void> saveFile(const Session& session, const std::filesystem::path& file,
                      std::span<const std::uint8_t> bytes);

// Both slots of every number, large first.
std::vector<PackEntry> bothSlots(std::span<const int> numbers);

// A file of a pack that cannot be taken for what its name says.
enum class PackFault {
    SecondFile,   // another file in the pack holds the same number and slot
    SizeNotName,  // the picture's size is the other slot's
};
struct PackRefusal {
    PackFault fault;
    std::filesystem::path file;
    std::filesystem::path other;  // for SecondFile, the file met first
};
using FileRefusal = std::variant<Error, PackRefusal>;

struct PlannedWrite {
    PackEntry entry;
    std::filesystem::path file;
    Record record;
};

struct ImportPlan {
    std::vector<PlannedWrite> changes;                 // records that will change, by number
    std::vector<std::filesystem::path> unchanged;      // files whose record is in place already
    std::vector<std::filesystem::path> notUnderstood;  // other files: not pictures by their names
    // Picture files whose names are not pack names ("057 (2).bmp",
    // "face.png", "057.jpg"): a script must hear of them.
    std::vector<std::filesystem::path> unknownPictures;
    std::vector<FileRefusal> refused;  // files that cannot be taken
};

// Reads and maps every file of the pack in folder against the open pair's
// record it replaces, writing nothing.
Result<ImportPlan> planImport(const Session& session, const std::filesystem::path& folder,
                              Colours colours, const OnProgress& onProgress = {});

// The plan's changes as one journaled, undoable operation: all or nothing.
// The shown number is read again when it was written.
Result<void> applyImport(Session& session, std::span<const PlannedWrite> changes);

// Refuses, as a file that is not found, an archive of the open pair that does
// not exist: compared with another pair, its records would all read as
// different, which says nothing about either.
Result<void> needsBothArchives(const Session& session);

// The numbers and slots whose records differ between two pairs.
std::vector<PackEntry> differences(const PairRecords& a, const PairRecords& b);

// What a pair holds, as it is, for a user who wants to know before acting.
struct ArchiveSummary : ArchiveLength {
    int blank;  // records all zeros (a missing archive's all are)
};
struct PairSummary {
    ArchiveSummary large, small;
    std::filesystem::path journal;
    // Nothing when there is no journal.
    std::optional<std::vector<HistoryEntry>> operations;
};
Result<PairSummary> summarize(const Session& session);

}  // namespace pelloran::session
