// The batch tool's commands as a user runs them: arguments in, texts on
// standard output and standard error, and the exit status.
#pragma once

#include <string>
#include <vector>

namespace pelloran::batch {

enum class Exit { Success = 0, Failure = 1, Usage = 2 };

// Runs the command that args (the program's arguments, without its name) ask
// for, in the language --lang names, or else the user's.
Exit run(std::vector<std::string> args);

}  // namespace pelloran::batch
