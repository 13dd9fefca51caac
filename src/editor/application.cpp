#include "editor/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

#include "editor/form1.h"
#include "fileio/host.h"
#include "platform/paths.h"

namespace pelloran::editor {

namespace {

// Silent unless asked for (QT_LOGGING_RULES="pelloran.editor.info=true"):
// what a packaged program did at start-up, for a check that has no screen.
Q_LOGGING_CATEGORY(startupLog, "pelloran.editor", QtWarningMsg)

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace

int runEditor(int argc, char* argv[], const std::function<void(Form1&)>& started)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Pelloran 头像编辑"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("archive"),
                                 QStringLiteral("The large archive to open (GRPFACES.S10)."),
                                 QStringLiteral("[archive]"));
    // --version and --help answer before the window system is reached, so
    // that they work on a machine without a display. Everything else is
    // checked once QApplication has taken its own options (-platform, ...).
    parser.parse(argumentsOf(argc, argv));
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        host::useParentConsole();
        QCoreApplication textOnly(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("pelloran"));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(session::version()));
        if (parser.isSet(versionOption)) parser.showVersion();
        parser.showHelp(0);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    // Where the window's settings live: ~/.config/Pelloran/Pelloran.conf.
    QApplication::setOrganizationName(QStringLiteral("Pelloran"));
    QApplication::setApplicationVersion(QString::fromUtf8(session::version()));
    QApplication::setDesktopFileName(QStringLiteral("org.pelloran.Pelloran"));
    parser.process(app);

    // The editor speaks Chinese, so Qt's own buttons and dialogs should too:
    // from Qt's installed translations, or from the copy built into the
    // program where Qt is linked in (Windows). Failing both, Qt's defaults.
    QTranslator qtTexts;
    for (const QString& folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath), QStringLiteral(":/translations")}) {
        if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), folder)) {
            QApplication::installTranslator(&qtTexts);
            break;
        }
    }

    platform::QtCommonDialog commonDialog;
    platform::QtMessageBoxes messageBoxes;
    Form1 form(commonDialog, messageBoxes);
    commonDialog.setParentWidget(&form);
    messageBoxes.setParentWidget(&form);
    form.show();
    qCInfo(startupLog, "window shown");
    // An archive named on the command line (a file opened from the desktop)
    // is opened as if chosen in the open dialog; a failure is reported the
    // same way.
    if (const QStringList archives = parser.positionalArguments(); !archives.isEmpty()) {
        form.openPair(platform::toPath(archives.constFirst()));
        if (form.session().state().pairOpen())
            qCInfo(startupLog, "opened %s, showing number %d",
                   qUtf8Printable(archives.constFirst()), form.session().state().number);
    }
    if (started) started(form);
    return QApplication::exec();
}

}  // namespace pelloran::editor
