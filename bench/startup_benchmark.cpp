// Start-up, from creating the application object to the first painted
// window, and the peak memory of a process that has shown every number. Both
// need a process of their own: the application object exists once per
// process, and a peak resident set only grows. This program therefore runs
// itself as a child that takes the steps of main() and prints what it
// measured.
#include <QApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QTranslator>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "archive/layout.h"
#include "bench_support.h"
#include "platform/paths.h"

namespace pelloran::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Notes which widgets of a window have received a paint event.
class PaintWatch final : public QObject {
public:
    explicit PaintWatch(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~PaintWatch() override { qApp->removeEventFilter(this); }

    // Whether the window and every visible widget in it have been painted.
    bool allPainted() const
    {
        if (!painted_.contains(window_)) return false;
        const auto children = window_->findChildren<QWidget*>();
        return std::ranges::all_of(children, [this](QWidget* child) {
            return !child->isVisible() || painted_.contains(child);
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) painted_.insert(watched);
        return false;
    }

private:
    QWidget* window_;
    QSet<QObject*> painted_;
};

// Shows the window and returns once it and every widget in it have been
// painted. A paint pass runs inside one processEvents() call, so when the
// last widget's paint event has been seen, the pass has finished too.
bool showAndWaitForPaint(QWidget& window)
{
    const PaintWatch paint(&window);
    window.show();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!paint.allPainted()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents();
    }
    return true;
}

// The translation main() installs, where Qt's translations are installed.
void installQtTexts(QTranslator& qtTexts)
{
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
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

// Prints the nanoseconds from the application object's creation to the
// window's first paint, taking the steps of main() in src/editor/main.cpp.
int runStartupChild(int argc, char* argv[])
{
    const auto start = Clock::now();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    QTranslator qtTexts;
    installQtTexts(qtTexts);
    platform::QtCommonDialog commonDialog;
    platform::QtMessageBoxes messageBoxes;
    editor::Form1 form(commonDialog, messageBoxes);
    commonDialog.setParentWidget(&form);
    messageBoxes.setParentWidget(&form);
    if (!showAndWaitForPaint(form)) return 1;
    const auto painted = Clock::now();
    std::printf("%lld\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(painted - start).count()));
    return 0;
}

// Starts as main() does, opens the pair in the folder given, shows every
// number in order, each one painted, and prints the peak resident set in bytes.
int runSweepChild(int argc, char* argv[])
{
    if (argc < 3) return 2;
    const std::filesystem::path folder = argv[2];
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    QTranslator qtTexts;
    installQtTexts(qtTexts);
    AnsweringDialog dialog;
    AnsweringMessages messages;
    editor::Form1 form(dialog, messages);
    if (!showAndWaitForPaint(form)) return 1;

    dialog.answer(platform::toQString(folder / "GRPFACES.S10"));
    form.Command1->click();
    settle();
    sweepEveryNumber(form);
    if (!messages.firstError().isEmpty() || form.HScroll1->value() != archive::kLastNumber)
        return 1;
    std::printf("%llu\n", static_cast<unsigned long long>(peakResidentBytes()));
    return 0;
}

}  // namespace pelloran::bench
