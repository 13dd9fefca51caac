#include "platform/common_dialog.h"

#include <QDir>
#include <QFileDialog>

namespace pelloran::platform {

QStringList qtNameFilters(const QString& filter)
{
    QStringList filters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& pattern = parts[i + 1];
        // Qt reads the patterns from the last parentheses of each entry, and
        // separates them by blanks where the filter list uses semicolons.
        QString qtPattern = pattern;
        qtPattern.replace(u';', u' ');
        if (description.endsWith(u'(' + pattern + u')'))
            filters << description.chopped(pattern.size() + 1) + qtPattern + u')';
        else
            filters << description + QStringLiteral(" (") + qtPattern + u')';
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
    dialog.setNameFilters(qtNameFilters(filter));
    if (save) dialog.setDefaultSuffix(defaultExt);
    if (!fileName.isEmpty()) dialog.selectFile(fileName);

    fileName.clear();
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    lastDir_ = dialog.directory().absolutePath();
}

}  // namespace pelloran::platform
