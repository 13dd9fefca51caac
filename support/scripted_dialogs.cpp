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

}  // namespace pelloran::testing
