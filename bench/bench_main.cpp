// The benchmark program: the offscreen window, then every registered
// benchmark; or, started with one of the child flags, one measurement that
// needs a fresh process (see startup_benchmark.cpp).
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cstring>

#include "bench_support.h"

int main(int argc, char* argv[])
{
    // The window is driven without a display, here and in every child.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A desktop session has a runtime folder; without one Qt warns once per
    // process, children included, and then uses this same folder.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = "/tmp/runtime-" + QByteArray::number(::getuid());
        ::mkdir(runtime.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }

    using namespace pelloran::bench;
    if (argc >= 2 && std::strcmp(argv[1], kStartupChild) == 0) return runStartupChild(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], kSweepChild) == 0) return runSweepChild(argc, argv);

    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
