#include "platform/common_dialog.h"

#include <QDir>
#include <QFileDialog>

namespace pelloran::platform {

QStringList qtNameFilters(const QString& filter)
{
    QStringList filters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Qt reads the patterns from the last parentheses of each entry and
        // separates them by blanks where the filter list uses semicolons.
        // "*.*" means every file, but to Qt it means names with a dot.
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        if (patterns == u"*.*") patterns = QStringLiteral("*");
        filters << parts[i] + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

void QtCommonDialog::show(bool save)
{
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!initDir.isEmpty())
        dialog.setDirectory(initDir);
    else
        dialog.setDirectory(lastDir_.isEmpty() ? QDir::currentPath() : lastDir_);
    // The descriptions are shown as they are written; the patterns Qt
    // matches with are only in the parentheses it hides.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(qtNameFilters(filter));
    // The default extension stays set for every later dialog, but only a
    // save dialog adds it: added to a name typed into an open dialog, it
    // would look for "face.Bmp" when the user means the file "face".
    if (save) {
        dialog.setDefaultSuffix(defaultExt);
        // A name typed without an extension under a filter of one kind of
        // file gets that kind's: "face" saved as PNG is "face.png".
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, this](const QString& chosen) {
                const QString pattern = chosen.section(u'(', -1).chopped(1);
                const bool oneKind = pattern.startsWith(u"*.") && !pattern.contains(u' ');
                dialog.setDefaultSuffix(oneKind && chosen != dialog.nameFilters().first()
                                            ? pattern.mid(2)
                                            : defaultExt);
            });
    }
    if (!fileName.isEmpty()) dialog.selectFile(fileName);

    fileName.clear();
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    lastDir_ = dialog.directory().absolutePath();
}

}  // namespace pelloran::platform
