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
        // Qt reads the patterns from the last parentheses of each entry.
        if (description.endsWith(u'(' + pattern + u')'))
            filters << description;
        else
            filters << description + QStringLiteral(" (") + pattern + u')';
    }
    return filters;
}

void QtCommonDialog::show(bool save)
{
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDirectory(initDir.isEmpty() ? QDir::currentPath() : initDir);
    dialog.setNameFilters(qtNameFilters(filter));
    if (save) dialog.setDefaultSuffix(defaultExt);
    if (!fileName.isEmpty()) dialog.selectFile(fileName);

    fileName.clear();
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

}  // namespace pelloran::platform
