#include "editor/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QSettings>
#include <QTranslator>
#include <QWidget>
#include <algorithm>
#include <optional>

#include "editor/form1.h"
#include "editor/texts.h"
#include "fileio/host.h"
#include "platform/paths.h"
#include "session/language.h"
#include "session/messages.h"

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

// Qt's own texts (its dialogs' buttons, --help's headings) in the language
// code: from Qt's installed translations, or from the copy built into the
// program where Qt is linked in (Windows). Qt's source language is English,
// which needs none; failing both, Qt's English.
void loadQtTexts(const std::string& code)
{
    constexpr std::string_view kQtSourceLanguage = "en";
    static QTranslator qtTexts;
    QCoreApplication::removeTranslator(&qtTexts);
    if (code == kQtSourceLanguage) return;
    // Qt names its Chinese translation by the script's region.
    const QLocale locale(code == session::kSourceLanguage ? QStringLiteral("zh_CN")
                                                          : QString::fromStdString(code));
    for (const QString& folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath), QStringLiteral(":/translations")}) {
        if (qtTexts.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(&qtTexts);
            return;
        }
    }
}

// The language to start in: --lang's, else the one chosen in the window's
// menu, else the user's. Nothing when --lang names one the program does not
// speak, which has been said then.
std::optional<std::string> startingLanguage(const QString& option)
{
    if (!option.isEmpty()) {
        std::string code = session::languageFor(option.toStdString());
        if (code.empty()) {
            host::useParentConsole();
            std::string text = session::usageProblem(session::Usage::BadValue, "pelloran", "--lang",
                                                     {}, session::languageChoices());
            std::replace(text.begin(), text.end(), '\r', '\n');
            host::write(host::Stream::Error, text.append("\n"));
            return std::nullopt;
        }
        return code;
    }
    const QString remembered = QSettings(QStringLiteral("Pelloran"), QStringLiteral("Pelloran"))
                                   .value(kLanguageSetting)
                                   .toString();
    if (std::string code = session::languageFor(remembered.toStdString()); !code.empty())
        return code;
    return session::userLanguage();
}

}  // namespace

void useLanguage(const std::string& code)
{
    session::chooseLanguage(code);
    if (!QCoreApplication::instance()) return;
    loadQtTexts(code);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        QEvent changed(QEvent::LanguageChange);
        QCoreApplication::sendEvent(window, &changed);
    }
}

int runEditor(int argc, char* argv[], const std::function<void(Form1&)>& started)
{
    QCommandLineParser parser;
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption languageOption(QStringLiteral("lang"), QString(),
                                            QString::fromStdString(session::languageChoices()));
    parser.addOption(languageOption);
    // --version and --help answer before the window system is reached, so
    // that they work on a machine without a display. Everything else is
    // checked once QApplication has taken its own options (-platform, ...).
    parser.parse(argumentsOf(argc, argv));
    const auto language = startingLanguage(parser.value(languageOption));
    if (!language) return 2;
    session::chooseLanguage(*language);
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        const bool printable = host::useParentConsole();
        QCoreApplication textOnly(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("pelloran"));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(session::version()));
        loadQtTexts(*language);
        // The texts of the help, in the language chosen: a parser of their own.
        QCommandLineParser help;
        help.setApplicationDescription(translated("Pelloran 头像编辑"));
        help.addHelpOption();
        help.addVersionOption();
        help.addOption(QCommandLineOption(QStringLiteral("lang"), translated("界面的语言。"),
                                          QString::fromStdString(session::languageChoices())));
        help.addPositionalArgument(QStringLiteral("archive"),
                                   translated("要打开的大头像文件（GRPFACES.S10）。"),
                                   QStringLiteral("[archive]"));
        // Written by us where there is somewhere to write: Qt would choose a
        // message box for a window program that a console did not start,
        // a script's pipe among them.
        if (printable) {
            const QString text = parser.isSet(versionOption)
                                     ? QCoreApplication::applicationName() + u' ' +
                                           QCoreApplication::applicationVersion() + u'\n'
                                     : help.helpText();
            host::write(host::Stream::Output, text.toStdString());
            return 0;
        }
        if (parser.isSet(versionOption)) help.showVersion();
        help.showHelp(0);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    // Where the window's settings live: ~/.config/Pelloran/Pelloran.conf.
    QApplication::setOrganizationName(QStringLiteral("Pelloran"));
    QApplication::setApplicationVersion(QString::fromUtf8(session::version()));
    QApplication::setDesktopFileName(QStringLiteral("org.pelloran.Pelloran"));
    parser.process(app);
    loadQtTexts(*language);

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
