// What the benchmarks share: the synthetic archive pair in a private folder,
// the real window driven by dialogs that answer at once, and the runs of this
// program in a child process for what needs a fresh process.
#pragma once

#include <benchmark/benchmark.h>

#include <QString>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/form1.h"
#include "fileio/file.h"
#include "platform/common_dialog.h"
#include "platform/message_boxes.h"

namespace pelloran::bench {

// A fresh folder under `under`, removed with its contents when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::filesystem::path& under);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const char* name) const { return path_ / name; }
    // "/dev/shm (tmpfs)": where the folder lies and on what, for the report.
    std::string describe() const;

private:
    std::filesystem::path path_;
};

// The folder of the system's temporary files, on disk.
std::filesystem::path diskRoot();
// A folder in memory (/dev/shm), or the disk root where there is none.
std::filesystem::path memoryRoot();

// A folder holding the demo archive pair, written once per run and read
// through once, so that every benchmark starts with a warm page cache.
const ScratchFolder& demoFolder();
// Writes the demo pair into folder and reads it back through the page cache.
bool writeWarmArchives(const std::filesystem::path& folder);

// Portrait number i of a walk that visits every number of first..last in an
// order spread over the range, never the same number twice in a row.
int spreadNumber(std::int64_t i, int first, int last);

// Answers each file dialog with the next name queued.
class AnsweringDialog final : public platform::CommonDialog {
public:
    void answer(const QString& name) { answers_.push_back(name); }
    void showOpen() override { next(); }
    void showSave() override { next(); }

private:
    void next();
    std::deque<QString> answers_;
};

// Presses OK (or Yes) at once and remembers whether an error was shown.
class AnsweringMessages final : public platform::MessageBoxes {
public:
    platform::MessageAnswer show(const QString& text, const QString& title,
                                 platform::MessageIcon icon,
                                 platform::MessageButtons buttons) override;
    // The first error's text, empty while none was shown.
    const QString& firstError() const { return firstError_; }
    int notices() const { return notices_; }

private:
    QString firstError_;
    int notices_ = 0;
};

// The operating system's files, except that flush() returns at once: a write
// then costs what it costs before the disk is involved.
class NoFlushFileSystem final : public fileio::FileSystem {
public:
    fileio::Result<std::unique_ptr<fileio::File>> openRead(
        const std::filesystem::path& path) override;
    fileio::Result<std::unique_ptr<fileio::File>> openReadWrite(
        const std::filesystem::path& path) override;
    fileio::Result<std::unique_ptr<fileio::File>> createNew(
        const std::filesystem::path& path) override;
    fileio::Result<void> rename(const std::filesystem::path& from,
                                const std::filesystem::path& to) override;
    fileio::Result<void> remove(const std::filesystem::path& path) override;
};

// The window as a user has it after opening GRPFACES.S10 from folder: shown,
// painted, showing number 1.
class OpenWindow {
public:
    explicit OpenWindow(const std::filesystem::path& folder,
                        fileio::FileSystem& fileSystem = fileio::nativeFileSystem());
    ~OpenWindow();

    // Empty when the window opened the pair without a message.
    const QString& error() const { return messages.firstError(); }
    // Moves the bar to number as a user does, and lets the window repaint.
    void showNumber(int number);

    AnsweringDialog dialog;
    AnsweringMessages messages;
    std::unique_ptr<editor::Form1> form;
};

// Lets the window handle what the last action posted, painting included.
void settle();

// Shows every number once, in order, as a user stepping through both ranges
// does: the historical range from 1, then the new officers' from 723.
void sweepEveryNumber(editor::Form1& form);

// Runs this program again with args and returns what it printed, or nothing
// when it failed.
std::optional<std::string> runSelf(const std::vector<std::string>& args);

// The process's peak resident set, in bytes (VmHWM).
std::uint64_t peakResidentBytes();

// The modes in which this program runs as a child (see startup_benchmark.cpp).
inline constexpr const char* kStartupChild = "--child-startup";
inline constexpr const char* kSweepChild = "--child-sweep";
int runStartupChild(int argc, char* argv[]);
int runSweepChild(int argc, char* argv[]);

// Marks the run failed with a text naming the window's message.
void skipWithError(benchmark::State& state, const QString& why);

}  // namespace pelloran::bench
