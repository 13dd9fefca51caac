// What the editor does, whatever front end asks: an open archive pair, the
// number shown and its two records, export, import and write-back, and which
// of them is possible when. Standard library only, so that the window, the
// batch tool and the tests all drive the same steps.
//
// Every operation either succeeds or returns an error and leaves the session
// exactly as it was: it works on a copy of the state and keeps the copy only
// when everything went through.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "archive/layout.h"
#include "bitmap/bitmap.h"
#include "bitmap/import.h"
#include "fileio/file.h"
#include "journal/journal.h"
#include "session/edits.h"
#include "session/pictures.h"

namespace pelloran::session {

using archive::Slot;

// The two spans of portrait numbers the number bar offers.
enum class Range { Historical, NewOfficers };

struct Numbers {
    int first, last;
};
constexpr Numbers numbersOf(Range range)
{
    return range == Range::Historical
               ? Numbers{archive::kFirstNumber, archive::kLastHistoricalNumber}
               : Numbers{archive::kFirstNewNumber, archive::kLastNumber};
}

// What to do with a true-colour picture that has more colours than a
// palette holds.
enum class Colours { Refuse, Reduce };

// A file taken for import, waiting to be written into the shown number.
struct PendingImport {
    std::filesystem::path file;  // empty for a picture that came from no file
    Record record;               // what write-back writes, and what the preview shows
    Colours colours;
    // Made or changed by the edit operations: work that no file holds.
    bool edited = false;
    bool operator==(const PendingImport&) const = default;
};

struct SlotState {
    Record loaded;   // as last read from the archive; export writes this
    Record preview;  // what the slot's preview shows: the loaded record or an import
    std::optional<PendingImport> pending;
    std::filesystem::path lastImport;  // kept after its import is written or dropped
    bool operator==(const SlotState&) const = default;
};

struct State {
    std::filesystem::path largeArchive, smallArchive;  // empty until a pair is open
    int number = archive::kFirstNumber;                // the number shown
    Range range = Range::Historical;                   // the numbers the bar spans
    // The range the user chose last. Opening a pair shows the historical
    // range but leaves the choice alone.
    Range chosenRange = Range::Historical;
    // Set by an import, left set by write-back, cleared by opening a pair,
    // moving to another number, or an undo that drops the pending imports.
    bool writeEnabled = false;
    SlotState large, small;

    bool operator==(const State&) const = default;
    bool pairOpen() const { return !largeArchive.empty(); }
    const SlotState& slot(Slot s) const { return s == Slot::Large ? large : small; }
    SlotState& slot(Slot s) { return s == Slot::Large ? large : small; }
    const std::filesystem::path& archive(Slot s) const
    {
        return s == Slot::Large ? largeArchive : smallArchive;
    }
    // Where the shown number's record of the slot begins in its archive.
    std::uint64_t recordOffset(Slot s) const
    {
        return archive::recordOffset(archive::layoutOf(s), number);
    }
};

// What the session itself refuses, with the file it is about.
enum class Problem {
    NameTooShort,   // no sibling or small-bitmap name can be derived from the file's
    ImportChanged,  // the imported file no longer holds what was imported
    NoPairOpen,     // the operation needs an open archive pair
    NumberOutOfRange,
    PairIsOneFile,      // the large archive's name derives itself as the small one
    ExportOverArchive,  // an export name is one of the open archives
    NoPngWriter,        // PNG was asked for where no PNG writer was given
    NothingToUndo,      // every write the journal remembers is undone already
    ChangedElsewhere,   // another program changed the shown record after it was read
};
struct Refusal {
    Problem problem;
    std::filesystem::path file;
};

// A file offered for import that is not a portrait picture: the check it
// fails and what was found.
struct ImportRefusal {
    bitmap::Refusal refusal;
    std::filesystem::path file;
};

// A true-colour picture with more colours than a palette holds: taken only
// if the user agrees to reduce it.
struct TooManyColours {
    int colours;
    std::filesystem::path file;
};

// Undo refused: this record was changed again after operation, the write to undo.
struct UndoConflict {
    Slot slot;
    int number;
    std::uint64_t operation;
};

using Error = std::variant<fileio::Error, ImportRefusal, TooManyColours, UndoConflict, Refusal>;
template <class T>
using Result = std::expected<T, Error>;

// An import file read, checked and turned into the record it would write,
// against the number shown when it was checked.
struct CheckedImport {
    Slot slot;
    std::filesystem::path file;
    Record record;
    Colours colours;
};

// An operation the pair's journal remembers.
using HistoryEntry = journal::HistoryEntry;

// Whether the operation is a write-back, the window's own kind of write (a
// batch import is the batch tool's).
inline bool isWriteBack(const HistoryEntry& entry)
{
    return entry.origin == journal::Origin::WriteBack;
}

// Whether an edit starts a step of the edit history or continues the newest
// (the pencil dragged on: a stroke is taken back as one).
enum class Stroke { Starts, Continues };

// Whether opening a pair may roll back what a crash left unfinished, as
// anything that shows or writes the pair must, or only looks.
enum class Opening { Recover, LookOnly };

// What opening a pair found: an interrupted write it rolled back, if any.
struct Opened {
    std::optional<journal::Recovery> recovered;
};

// A record an undo wrote back, as a portrait number.
struct PlaceOfRecord {
    Slot slot;
    int number;
};
struct Undone {
    journal::HistoryEntry operation;  // the write undone
    std::vector<PlaceOfRecord> records;
};

// The pair whose large archive is largeArchive, as Session::open finds it:
// the small archive's name derived from it, or the one file in the folder
// that matches that name but for case. A name that derives itself is
// refused. Reads no record and rolls nothing back.
Result<journal::Pair> pairOf(fileio::FileSystem& fs, const std::filesystem::path& largeArchive);

// What a file named as an archive of the slot measures, against what a whole
// archive of the slot does.
struct ArchiveLength {
    Slot slot;
    std::filesystem::path file;
    std::optional<std::uint64_t> size;  // nothing when no file has that name
    std::uint64_t expectedSize;
    bool whole() const { return size == expectedSize; }
};

// Measures file as an archive of the slot. A name that is a folder, a pipe
// or a device is an error, as opening it would be.
Result<ArchiveLength> measureArchive(fileio::FileSystem& fs, Slot slot,
                                     const std::filesystem::path& file);

// How an exported portrait is stored.
enum class FileKind { Bmp, Png };

// The file the window exports for a slot's record: a BMP file, or an 8-bit
// indexed PNG file through pictures (refused when none is given).
Result<std::vector<std::uint8_t>> exportFile(Slot slot, std::span<const std::uint8_t> record,
                                             FileKind kind, const Pictures* pictures);

// What Session::checkImport concludes from the bytes of file, mapped against
// current, the records it would replace. Tools that import many numbers at
// once check each file against its own number's records through this.
Result<CheckedImport> checkImportBytes(std::span<const std::uint8_t> bytes,
                                       const std::filesystem::path& file,
                                       const bitmap::CurrentRecords& current, Colours colours,
                                       const Pictures* pictures);

class Session {
public:
    // pictures, when given, reads and writes PNG files and reduces colours.
    explicit Session(fileio::FileSystem& fileSystem = fileio::nativeFileSystem(),
                     const Pictures* pictures = nullptr);

    const State& state() const { return state_; }
    // The files and the picture port the session reads and writes through;
    // the work on whole pairs (session/packs.h) uses the same.
    fileio::FileSystem& fileSystem() const { return fileSystem_; }
    const Pictures* pictures() const { return pictures_; }
    // How a write waits for another program's operation on the pair to end:
    // how long, and whom to tell that it waits (a terminal line, say).
    void setWriterWait(std::chrono::milliseconds wait, std::function<void()> onWaiting = {})
    {
        writing_.lockWait = wait;
        writing_.onWaiting = std::move(onWaiting);
    }
    // Refuses, as NoPairOpen, an operation that needs an open pair when none is.
    Result<void> needsPair() const;
    // Refuses, as ExportOverArchive, a file to write that is one of the open
    // pair's archives by any name or link.
    Result<void> refuseArchive(const std::filesystem::path& file) const;

    // Opens the pair whose large archive is largeArchive (the small one's name
    // derived from it) and shows number 1 in the historical range. A missing
    // or short archive reads as zeros; nothing is created. Where the derived
    // name does not exist, the one file in the folder whose name matches it
    // but for case is the small archive. A write to the pair that was
    // interrupted is rolled back first, from the pair's journal, unless
    // opening only looks.
    Result<Opened> open(const std::filesystem::path& largeArchive,
                        Opening opening = Opening::Recover);
    // What open(largeArchive) would find doubtful before it shows anything: a
    // large archive that is missing or not of a whole archive's length, which
    // would show black where records are missing. Nothing when it is whole;
    // the refusals open would give (a name that makes no pair, a folder) as
    // errors. Reads no record.
    Result<std::optional<ArchiveLength>> doubtBeforeOpening(
        const std::filesystem::path& largeArchive) const;
    // Shows number, which must lie in the range the bar spans.
    Result<void> showNumber(int number);
    // Spans the bar over range and shows its first number.
    Result<void> switchRange(Range range);
    // Shows any number from 1 to 832, spanning the bar over its range.
    Result<void> goTo(int number);
    // Reads the slot's record of the shown number again.
    Result<void> reload(Slot slot);
    // Catches up with another program's writes: the shown number's records,
    // read again where they changed since they were read; a slot waiting with
    // an import keeps it on show. Whether anything changed.
    Result<bool> catchUp();
    // The slot's records from number first on, back to back, as many as fill
    // out; what an archive does not have reads as 0.
    Result<void> readRecords(Slot slot, int first, std::span<std::uint8_t> out) const;

    // Writes the shown pair, as loaded, as two BMP files: the large one as
    // largeFile, the small one beside it ("face.bmp" gives "faceT.BMP").
    // As two 8-bit indexed PNG files when largeFile ends in ".png" (the small
    // one "faceT.PNG"). Neither may be an open archive; both are replaced
    // whole, or neither. The small file's name, for saying what was written.
    Result<std::filesystem::path> exportPair(const std::filesystem::path& largeFile) const;

    // Reads an import file (any BMP, or PNG through the picture port), checks
    // its size and maps it to the record of the slot its size names, against
    // the record shown there, without changing anything. A picture with too
    // many colours is refused unless colours says to reduce it.
    Result<CheckedImport> checkImport(const std::filesystem::path& file,
                                      Colours colours = Colours::Refuse) const;
    // The same for a picture that is not in a file (pasted, dropped as an
    // image): source only names it in messages.
    Result<CheckedImport> checkPicture(bitmap::Picture picture, const std::filesystem::path& source,
                                       Colours colours = Colours::Refuse) const;
    // The same for a picture file's bytes that are not in a file (a PNG on
    // the clipboard that the front end could not turn into a picture).
    Result<CheckedImport> checkPictureBytes(std::span<const std::uint8_t> bytes,
                                            Colours colours = Colours::Refuse) const;
    // The small portrait made from the large one shown (or pending), as an
    // import into the small slot; see bitmap::smallFromLarge for the rule.
    Result<CheckedImport> smallFromLarge() const;
    // Makes a checked import its slot's pending import: previewed, and
    // written by the next writePending.
    void acceptImport(CheckedImport import);

    // Edits the slot's picture as shown (its pending import, or the record as
    // loaded) with change, one of the edit operations of session/edits.h,
    // which says whether it changed anything. A change makes the result the
    // slot's pending import, like any import, and is one step of the edit
    // history (or part of the newest, as stroke says). Whether it changed.
    Result<bool> edit(Slot slot, const std::function<bool(Record&)>& change,
                      Stroke stroke = Stroke::Starts);
    // Takes back the newest edit step, or does again the last one taken
    // back: the slot's picture and pending import as they were. Never
    // touches the archives. False when there is none, or when anything else
    // changed the slot since (a number shown, an import, a write), which
    // also forgets the history.
    bool undoEdit();
    bool redoEdit();
    // Whether a pending import holds edits, which dropping it would lose.
    bool hasEdits() const;

    // Writes the pending imports into the shown number's records as one
    // journaled operation: each file is read and checked again first, and
    // either every pending slot is written or none is. An import whose record
    // another program changed since it was read is not written over that
    // change: the record is read again, the import dropped, and the write
    // refused (ChangedElsewhere).
    Result<void> writePending();
    // Writes records into the pair as one journaled operation of origin: all
    // of them or none. The shown number is read again when it was written.
    Result<void> writeRecords(journal::Origin origin, std::span<const journal::RecordWrite> writes);

    // Undoes the newest write to the pair that is not undone yet, as the
    // journal remembers it; the shown number is read again when it was one
    // of the records put back, dropping its pending imports (and the write
    // they enabled).
    Result<Undone> undo();
    // The operation undo() would undo now, if any.
    Result<std::optional<HistoryEntry>> nextUndo() const;
    // The writes the journal remembers, oldest first.
    Result<std::vector<HistoryEntry>> history() const;

private:
    Result<void> load(State& next, Slot slot) const;
    Result<void> loadBoth(State& next) const;
    Result<Record> recheck(Slot slot) const;
    Result<bool> changedOnDisk(Slot slot) const;

    // One edit step: the slot as it was before and after, where, and the
    // stroke it belongs to.
    struct EditStep {
        Slot slot;
        std::filesystem::path largeArchive;
        int number;
        std::uint64_t stroke;
        SlotState before, after;
        bool writeEnabledBefore;
    };
    // Whether the step's slot still is as expected, at the same place.
    bool holds(const EditStep& step, const SlotState& expected) const;
    EditHistory<EditStep> edits_;
    std::uint64_t strokes_ = 0;  // counts strokes begun, so that one never joins another

    fileio::FileSystem& fileSystem_;
    const Pictures* pictures_;
    journal::Options writing_;
    State state_;
};

}  // namespace pelloran::session
