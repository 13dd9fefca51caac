#include "support/scripted_dialogs.h"

#include <stdexcept>

namespace pelloran::testing {

void ScriptedCommonDialog::show(bool save)
{
    shown_.push_back({save, fileName, filter, initDir, defaultExt});
    if (answers_.empty())
        throw std::logic_error("a file dialog was shown that the test did not expect");
    fileName = answers_.front();
    answers_.pop_front();
}

QStringList ScriptedMessageBoxes::titles() const
{
    QStringList titles;
    for (const Shown& shown : shown_) titles << shown.title;
    return titles;
}

platform::MessageAnswer ScriptedMessageBoxes::show(const QString& text, const QString& title,
                                                   platform::MessageIcon icon,
                                                   platform::MessageButtons buttons)
{
    shown_.push_back({text, title, icon, buttons});
    if (buttons == platform::MessageButtons::Ok) return platform::MessageAnswer::Ok;
    if (answers_.empty()) return platform::MessageAnswer::No;
    const auto answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<int> ScriptedMessageBoxes::askNumber(const QString& text, const QString& title, int,
                                                   int, int)
{
    shown_.push_back(
        {text, title, platform::MessageIcon::Information, platform::MessageButtons::Ok});
    if (numbers_.empty())
        throw std::logic_error("a number was asked for that the test did not expect");
    const auto number = numbers_.front();
    numbers_.pop_front();
    return number;
}

}  // namespace pelloran::testing
