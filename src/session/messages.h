// Every word the editor says to its user in a message box or on a terminal:
// the texts of the notices, warnings, errors and questions, made here from
// the typed results of the layers below. UTF-8; lines are separated by a
// carriage return, which each front end turns into its own line break.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "session/packs.h"

namespace pelloran::session {

enum class Tone {
    Notice,    // "说明", information icon, OK
    Warning,   // "警告": an import refused by the check, information icon, OK
    Error,     // "错误", critical icon, OK
    Question,  // Yes and No
};

struct Message {
    Tone tone;
    std::string title;
    std::string text;
};

// The one message a failed operation shows.
Message describe(const Error& error);
// The same on a terminal, where a script reads many: a refused file is
// named, and a picture of too many colours says which option takes it.
std::string describeForTerminal(const FileRefusal& refusal);

// An archive that is missing or not of a whole archive's length, said in
// one sentence with the length expected; the window asks whether to open it
// all the same.
std::string archiveNotWhole(const ArchiveLength& length);
Message openAnywayQuestion(const ArchiveLength& length);

// Says that both files were written, naming them.
Message exportDone(const std::filesystem::path& largeFile, const std::filesystem::path& smallFile);
// One sentence on a write that a crash had cut short and opening rolled back.
Message recovered(const journal::Recovery& recovery);
Message undoDone(const Undone& undone);
// Asked before the window undoes an operation it did not write itself.
Message undoOthersQuestion(const HistoryEntry& operation);
// Asked before an undo while an import waits: an undo that puts back the
// shown number's records drops it.
Message undoDropsImportQuestion();
Message writeDone();
// The painter settings dialog: its title and the labels of its fields.
struct PainterSettingsTexts {
    std::string title, command, format;
};
PainterSettingsTexts painterSettingsTexts();
// The closer look's editing: its tools and commands (each shown with its
// key), the line that says the chosen palette entry, and the colour
// dialog's title for a palette entry.
struct EditingTexts {
    std::string pencil, eyedropper, fill, replace, mirror, grid, undo, redo, zoomIn, zoomOut;
};
EditingTexts editingTexts();
std::string chosenEntryText(int entry, std::string_view colour, int scale);
std::string paletteEntryTitle(Slot slot, int entry);
// Asked before a number or a pair is shown while a picture edited in the
// closer look waits to be written: showing another drops it.
Message dropEditsQuestion();
// The painting program could not be started with command ("" for the
// desktop's default program).
Message painterNotStarted(const std::string& command);
// The window's prompt for a number to show, from 1 to 832.
Message numberPrompt();
Message about();
// Asked by the exit button, whatever waits.
Message exitQuestion();
// Asked when the window is closed by other means while an import waits.
Message closeDropsImportQuestion();

// The journal's operations as every front end names them: the kind, the
// state, the time on the user's clock with its offset from UTC.
std::string operationKind(journal::Origin origin);
std::string operationState(journal::State state);
std::string timeText(journal::Time time);
std::string historyLine(const HistoryEntry& entry);
std::string noHistory();

// What the batch tool says of its work, a line or a few.
std::string summaryText(const PairSummary& summary);
std::string packExported(std::size_t numbers, std::size_t files,
                         const std::filesystem::path& folder);
std::string skippedName(const std::filesystem::path& file);
// A picture file of a pack whose name says no portrait, and how to go on.
std::string unknownPictureName(const std::filesystem::path& file);
std::string plannedChange(const PlannedWrite& change);
std::string planTotals(std::size_t changes, std::size_t unchanged);
std::string dryRunDone();
std::string packImported(std::size_t records, std::string_view undoCommand);
std::string packRefused(std::size_t files);
std::string sheetDone(std::size_t portraits, Slot slot, const std::filesystem::path& file);
std::string differenceLine(const PackEntry& entry);
std::string differencesFound(std::size_t records);
std::string differencesExported(std::size_t records, const std::filesystem::path& folder);
// Said on a terminal while a write waits for another program's to end.
std::string waitingForWriter(const std::filesystem::path& largeArchive);

// The word before "n/total" on a progress line.
enum class Work { Export, Check };
std::string progressWord(Work work);

// Why the picture module of a program could not be had.
enum class ModuleProblem { ProgramNotFound, NotLoaded, NotOurs };
std::string moduleProblem(ModuleProblem problem, const std::filesystem::path& module,
                          std::string_view reason);

// A command line that cannot be run, and the words around a help text; the
// program's own option table gives the rest.
enum class Usage {
    NoCommand,       // nothing was given
    UnknownCommand,  // what: the command
    UnknownOption,   // what: the option; command: the command
    MissingValue,    // what: the option
    RepeatedOption,  // what: the option
    BadValue,        // what: the option, choices: what it takes ("bmp 或 png")
    BadNumbers,      // what: the list given
    WrongArguments,  // what: the command's synopsis
};
std::string usageProblem(Usage usage, std::string_view program, std::string_view what,
                         std::string_view command = {}, std::string_view choices = {});
std::string helpHeading(std::string_view program);
std::string helpFooter(std::string_view program);
std::string commandUsage(std::string_view program, std::string_view command,
                         std::string_view synopsis);
std::string versionLine(std::string_view program);

// The program's version, as the build states it ("1.2").
const char* version();

// A path as UTF-8 text, whatever the platform keeps it in.
std::string displayName(const std::filesystem::path& path);

// text with each "%1" ... "%9" replaced by that argument.
std::string format(std::string_view text, std::initializer_list<std::string_view> args);

// "大头像" or "小头像".
std::string slotName(Slot slot);

}  // namespace pelloran::session
