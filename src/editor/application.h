// The editor program from start to end, as main() runs it: the application
// object, the language and Qt's own texts in it, the real dialogs and message
// boxes, and the window.
#pragma once

#include <QString>
#include <functional>
#include <string>

namespace pelloran::editor {

class Form1;

// Runs the editor and returns its exit code. started, when given, is called
// once the window has been shown (the benchmarks time and drive the real
// start-up through it).
// Speaks the language code (one of session::languages()) from now on: the
// session's texts, Qt's own dialog texts, and every open window's captions
// (each told by a QEvent::LanguageChange).
void useLanguage(const std::string& code);

// Where the window remembers the language chosen in its menu.
inline const QString kLanguageSetting = QStringLiteral("language");

int runEditor(int argc, char* argv[], const std::function<void(Form1&)>& started = {});

}  // namespace pelloran::editor
