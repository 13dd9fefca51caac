// The window's dialogs answered by a script instead of a person.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "platform/common_dialog.h"
#include "platform/message_boxes.h"

namespace pelloran::testing {

// Answers each show with the next scripted name ("" is a cancel) and keeps
// the settings each show was made with.
class ScriptedCommonDialog final : public platform::CommonDialog {
public:
    struct Shown {
        bool save;
        QString fileName, filter, initDir, defaultExt;
    };

    void answer(const QString& chosen) { answers_.push_back(chosen); }
    void cancel() { answers_.push_back(QString()); }
    const std::vector<Shown>& shown() const { return shown_; }

    void showOpen() override { show(false); }
    void showSave() override { show(true); }

private:
    void show(bool save);
    std::deque<QString> answers_;
    std::vector<Shown> shown_;
};

// Keeps every message shown and answers Yes/No questions from a script
// (No when the script is empty).
class ScriptedMessageBoxes final : public platform::MessageBoxes {
public:
    struct Shown {
        QString text, title;
        platform::MessageIcon icon;
        platform::MessageButtons buttons;
    };

    void answer(platform::MessageAnswer answer) { answers_.push_back(answer); }
    const std::vector<Shown>& shown() const { return shown_; }
    void clear() { shown_.clear(); }
    // The titles of the messages shown, in order.
    QStringList titles() const;

    platform::MessageAnswer show(const QString& text, const QString& title,
                                 platform::MessageIcon icon,
                                 platform::MessageButtons buttons) override;

private:
    std::deque<platform::MessageAnswer> answers_;
    std::vector<Shown> shown_;
};

}  // namespace pelloran::testing
