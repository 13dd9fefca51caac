// The window's one file dialog, shared by opening, export and import.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace pelloran::platform {

// Settings live on the object, so a setting that one use does not make stays
// as the previous use left it (only export sets the default extension).
class CommonDialog {
public:
    virtual ~CommonDialog() = default;

    QString fileName;    // the chosen file after a show; "" when the user cancelled
    QString filter;      // "description|pattern|description|pattern..."
    QString initDir;     // "" means the working folder
    QString defaultExt;  // added to a typed name that has no extension (save only)

    virtual void showOpen() = 0;
    virtual void showSave() = 0;
};

// Turns "description|pattern|..." into Qt's name filters, "description
// (patterns)", for a dialog that hides the patterns and shows each
// description as written.
QStringList qtNameFilters(const QString& filter);

class QtCommonDialog final : public CommonDialog {
public:
    explicit QtCommonDialog(QWidget* parent = nullptr) : parent_(parent) {}
    void setParentWidget(QWidget* parent) { parent_ = parent; }
    void showOpen() override { show(false); }
    void showSave() override { show(true); }

private:
    void show(bool save);
    QWidget* parent_;
    // With no initial directory, a dialog opens where the last one was left,
    // as the system's own dialogs do.
    QString lastDir_;
};

}  // namespace pelloran::platform
