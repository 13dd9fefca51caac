// The batch tool's Qt module (see qt_parts.h): Qt's PNG reader,
// libimagequant, and the contact sheet drawn with Qt's fonts.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "batch/qt_parts.h"
#include "batch/sheet.h"
#include "platform/pictures.h"

namespace pelloran::batch {

namespace {

// Qt draws text only with a platform plugin, and a terminal has no display:
// the sheet is drawn offscreen unless the user's environment says otherwise.
std::vector<std::uint8_t> sheetWithGui(std::span<const std::span<const std::uint8_t>> portraits,
                                       std::span<const int> numbers, archive::Slot slot)
{
#ifndef _WIN32
    // Windows' own platform needs no display; elsewhere the offscreen one is
    // used unless the environment names another.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    int argc = 1;
    char name[] = "pelloran-batch";
    char* argv[] = {name, nullptr};
    // Qt's notes about the environment (no runtime folder on a server) are
    // not the user's business; its warnings about the work are.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && !text.contains("XDG_RUNTIME_DIR"))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QGuiApplication application(argc, argv);
    return contactSheet(portraits, numbers, slot);
}

}  // namespace

}  // namespace pelloran::batch

#ifdef _WIN32
#define PELLORAN_EXPORT
#else
#define PELLORAN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PELLORAN_EXPORT const pelloran::batch::QtParts* pelloranBatchQtParts()
{
    static const pelloran::platform::QtPictures pictures;
    static const pelloran::batch::QtParts parts{&pictures, pelloran::batch::sheetWithGui};
    return &parts;
}
