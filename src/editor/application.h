// The editor program from start to end, as main() runs it: the application
// object, Qt's own texts in Chinese, the real dialogs and message boxes, and
// the window.
#pragma once

#include <functional>

namespace pelloran::editor {

class Form1;

// Runs the editor and returns its exit code. started, when given, is called
// once the window has been shown (the benchmarks time and drive the real
// start-up through it).
int runEditor(int argc, char* argv[], const std::function<void(Form1&)>& started = {});

}  // namespace pelloran::editor
