// The window's dialogs answered by a script instead of a person.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
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
    // The next number asked for is answered with number; nothing cancels.
    void answerNumber(std::optional<int> number) { numbers_.push_back(number); }
    const std::vector<Shown>& shown() const { return shown_; }
    void clear() { shown_.clear(); }
    // The titles of the messages shown, in order.
    QStringList titles() const;

    platform::MessageAnswer show(const QString& text, const QString& title,
                                 platform::MessageIcon icon,
                                 platform::MessageButtons buttons) override;
    std::optional<int> askNumber(const QString& text, const QString& title, int value, int first,
                                 int last) override;

private:
    std::deque<platform::MessageAnswer> answers_;
    std::deque<std::optional<int>> numbers_;
    std::vector<Shown> shown_;
};

}  // namespace pelloran::testing
