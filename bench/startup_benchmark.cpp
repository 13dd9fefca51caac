// Start-up, from creating the application object to the first painted
// window, and the peak memory of a process that has shown every number. Both
// need a process of their own: the application object exists once per
// process, and a peak resident set only grows. This program therefore runs
// itself as a child that runs the editor's real start-up (runEditor, which
// main() calls) and prints what it measured.
#include <QApplication>
#include <QEvent>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "archive/layout.h"
#include "bench_support.h"
#include "editor/application.h"

namespace pelloran::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Calls done once the window and every visible widget in it have been
// painted. A paint pass runs within one turn of the event loop, so a check
// queued behind a paint event runs after the pass has finished. Goes with
// the window.
class FirstPaint final : public QObject {
public:
    FirstPaint(QWidget* window, std::function<void()> done)
        : QObject(window), window_(window), done_(std::move(done))
    {
        qApp->installEventFilter(this);
    }
    ~FirstPaint() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint) return false;
        painted_.insert(watched);
        QMetaObject::invokeMethod(this, &FirstPaint::check, Qt::QueuedConnection);
        return false;
    }

private:
    bool allPainted() const
    {
        if (!painted_.contains(window_)) return false;
        const auto children = window_->findChildren<QWidget*>();
        return std::ranges::all_of(children, [this](QWidget* child) {
            return !child->isVisible() || painted_.contains(child);
        });
    }

    void check()
    {
        if (done_ && allPainted()) std::exchange(done_, nullptr)();
    }

    QWidget* window_;
    std::function<void()> done_;
    QSet<QObject*> painted_;
};

char* program()
{
    static std::string path = std::filesystem::read_symlink("/proc/self/exe").string();
    return path.data();
}

// Runs the editor's real start-up, without this program's child arguments;
// whenPainted runs once the window has first been painted. Whatever
// happens, the child ends within ten seconds.
int runEditorAsChild(std::function<void(editor::Form1&)> whenPainted)
{
    char* argv[] = {program(), nullptr};
    int argc = 1;
    return editor::runEditor(argc, argv, [&](editor::Form1& form) {
        QTimer::singleShot(std::chrono::seconds(10), [] { QCoreApplication::exit(1); });
        new FirstPaint(&form, [&whenPainted, &form] { whenPainted(form); });
    });
}

void startupOurs(benchmark::State& state)
{
    double processSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto printed = runSelf({kStartupChild});
        processSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (!printed) return state.SkipWithError("the start-up child failed");
        state.SetIterationTime(std::stod(*printed) * 1e-9);
    }
    state.counters["whole_process_ms"] =
        benchmark::Counter(processSeconds * 1e3 / static_cast<double>(state.iterations()));
    state.SetLabel(
        "QApplication to first painted window, fresh process each time; target: median <= 40 ms");
}

BENCHMARK(startupOurs)
    ->Name("startup/ours")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

}  // namespace

// Prints the nanoseconds from the start of the editor's start-up to the
// window's first paint.
int runStartupChild(int, char*[])
{
    const auto start = Clock::now();
    return runEditorAsChild([start](editor::Form1&) {
        const auto painted = Clock::now();
        std::printf(
            "%lld\n",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(painted - start).count()));
        QCoreApplication::exit(0);
    });
}

// Starts the editor as main() does, opens the pair in the folder given, shows
// every number in order, each one painted, and prints the peak resident set
// in bytes.
int runSweepChild(int argc, char* argv[])
{
    if (argc < 3) return 2;
    const std::filesystem::path folder = argv[2];
    return runEditorAsChild([folder](editor::Form1& form) {
        form.openPair(folder / "GRPFACES.S10");
        settle();
        sweepEveryNumber(form);
        const bool swept = form.session().state().number == archive::kLastNumber;
        if (swept) std::printf("%llu\n", static_cast<unsigned long long>(peakResidentBytes()));
        QCoreApplication::exit(swept ? 0 : 1);
    });
}

}  // namespace pelloran::bench
