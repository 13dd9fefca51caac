// Every word the editor says to its user in a message box or on a terminal:
// the texts of the notices, warnings, errors and questions, made here from
// the typed results of the layers below. UTF-8; lines are separated by a
// carriage return, which each front end turns into its own line break.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "session/session.h"

namespace pelloran::session {

enum class Tone {
    Notice,    // "说明", information icon, OK
    Warning,   // "警告": an import refused by the check, information icon, OK
    Error,     // "错误", critical icon, OK
    Question,  // Yes and No
};

struct Message {
    Tone tone;
    std::string title;
    std::string text;
};

// The one message a failed operation shows.
Message describe(const Error& error);

Message exportDone();
// One sentence on a write that a crash had cut short and opening rolled back.
Message recovered(const journal::Recovery& recovery);
Message undoDone(const Undone& undone);
Message writeDone();
Message about();
Message exitQuestion();

// The program's version, as the build states it ("1.2").
const char* version();

// A path as UTF-8 text, whatever the platform keeps it in.
std::string displayName(const std::filesystem::path& path);

// text with each "%1" ... "%9" replaced by that argument.
std::string format(std::string_view text, std::initializer_list<std::string_view> args);

// "大头像" or "小头像".
std::string slotName(Slot slot);

}  // namespace pelloran::session
