// Pelloran: the portrait editor's one window.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "editor/form1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));

    // The editor speaks Chinese, so Qt's own buttons and dialogs should too.
    // Where Qt's translations are not installed its defaults are used.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    pelloran::platform::QtCommonDialog commonDialog;
    pelloran::platform::QtMessageBoxes messageBoxes;
    pelloran::editor::Form1 form(commonDialog, messageBoxes);
    commonDialog.setParentWidget(&form);
    messageBoxes.setParentWidget(&form);
    form.show();
    return QApplication::exec();
}
