// The batch tool's work on whole archive pairs: reading both archives once,
// writing a pack of portrait files, checking a pack before anything is
// written, and comparing two pairs. Standard C++; PNG files through the
// session's picture port when one is given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "batch/numbers.h"
#include "journal/journal.h"
#include "session/session.h"

namespace pelloran::batch {

using archive::Slot;

// Both archives of a pair, read whole. Bytes an archive does not have read
// as 0, as the window shows them.
class PairRecords {
public:
    static fileio::Result<PairRecords> read(fileio::FileSystem& fs, const journal::Pair& pair);

    const journal::Pair& pair() const { return pair_; }
    std::span<const std::uint8_t> record(Slot slot, int number) const;

private:
    journal::Pair pair_;
    using Bytes = std::unique_ptr<std::uint8_t[]>;
    Bytes large_, small_;
};

// How many of the slot's records are all zeros.
int blankRecords(const PairRecords& records, Slot slot);

// Told how many files of how many are done, for a progress line.
using OnProgress = std::function<void(std::size_t done, std::size_t total)>;

// Writes the portraits named by entries, read from the pair's archives, into
// folder under their pack names, as the window exports them: all or none.
// Every file is replaced whole; none lands on either archive of the pair.
session::Result<void> exportPack(fileio::FileSystem& fs, const journal::Pair& pair,
                                 std::span<const PackEntry> entries,
                                 const std::filesystem::path& folder, session::FileKind kind,
                                 const session::Pictures* pictures,
                                 const OnProgress& onProgress = {});

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
using FileRefusal = std::variant<session::Error, PackRefusal>;

struct PlannedWrite {
    PackEntry entry;
    std::filesystem::path file;
    session::Record record;
};

struct ImportPlan {
    std::vector<PlannedWrite> changes;                 // records that will change, by number
    std::vector<std::filesystem::path> unchanged;      // files whose record is in place already
    std::vector<std::filesystem::path> notUnderstood;  // names that are not pack names
    std::vector<FileRefusal> refused;                  // files that cannot be taken
};

// Reads and maps every file of the pack in folder against the record it
// replaces, writing nothing.
fileio::Result<ImportPlan> planImport(fileio::FileSystem& fs, const PairRecords& records,
                                      const std::filesystem::path& folder, session::Colours colours,
                                      const session::Pictures* pictures,
                                      const OnProgress& onProgress = {});

// The plan's changes as one journaled, undoable operation: all or nothing.
fileio::Result<void> applyImport(fileio::FileSystem& fs, const journal::Pair& pair,
                                 std::span<const PlannedWrite> changes,
                                 const journal::Options& options = {});

// The numbers and slots whose records differ between two pairs.
std::vector<PackEntry> differences(const PairRecords& a, const PairRecords& b);

}  // namespace pelloran::batch
