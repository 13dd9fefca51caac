// What the benchmarks share: the synthetic archive pair in a private folder,
// the real window driven by scripted dialogs, and runs of this program in a
// child process for what needs a fresh process.
#pragma once

#include <benchmark/benchmark.h>

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/form1.h"
#include "fileio/file.h"
#include "support/scripted_dialogs.h"
#include "support/test_files.h"

namespace pelloran::bench {

using testing::TempDir;

// Counts the paint events of one widget.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : widget_(widget) { widget->installEventFilter(this); }
    ~PaintCounter() override { widget_->removeEventFilter(this); }
    int count() const { return count_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++count_;
        return false;
    }

private:
    QWidget* widget_;
    int count_ = 0;
};

// "/dev/shm (tmpfs)": where a folder lies and on what, for the report.
std::string describe(const std::filesystem::path& folder);

// The folder of the system's temporary files, on disk.
std::filesystem::path diskRoot();
// A folder in memory (/dev/shm), or the disk root where there is none.
std::filesystem::path memoryRoot();

// A folder holding the demo archive pair, written once per run and read
// through once, so that every benchmark starts with a warm page cache.
const TempDir& demoFolder();
// Writes the demo pair into folder and reads it back through the page cache.
bool writeWarmArchives(const std::filesystem::path& folder);

// Portrait number i of a walk that visits every number of first..last in an
// order spread over the range, never the same number twice in a row.
int spreadNumber(std::int64_t i, int first, int last);

// The first error message the window showed, or "" while there was none.
QString firstError(const testing::ScriptedMessageBoxes& messages);

// What the user sees: the colour of every pixel, whatever the image's format.
bool samePixels(const QImage& a, const QImage& b);

// The window as a user has it after opening GRPFACES.S10 from folder: shown,
// painted, showing number 1.
class OpenWindow {
public:
    explicit OpenWindow(const std::filesystem::path& folder,
                        fileio::FileSystem& fileSystem = fileio::nativeFileSystem());
    ~OpenWindow();

    // Empty when the window opened the pair without a message.
    QString error() const { return firstError(messages); }
    // Moves the bar to number as a user does, and lets the window repaint.
    void showNumber(int number);

    testing::ScriptedCommonDialog dialog;
    testing::ScriptedMessageBoxes messages;
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
