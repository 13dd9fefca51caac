#include "editor/application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "editor/form1.h"

namespace pelloran::editor {

int runEditor(int argc, char* argv[], const std::function<void(Form1&)>& started)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    QApplication::setApplicationVersion(QString::fromUtf8(session::version()));

    // The editor speaks Chinese, so Qt's own buttons and dialogs should too.
    // Where Qt's translations are not installed its defaults are used.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    platform::QtCommonDialog commonDialog;
    platform::QtMessageBoxes messageBoxes;
    Form1 form(commonDialog, messageBoxes);
    commonDialog.setParentWidget(&form);
    messageBoxes.setParentWidget(&form);
    form.show();
    if (started) started(form);
    return QApplication::exec();
}

}  // namespace pelloran::editor
