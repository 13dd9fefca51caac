// What the programs need from the operating system besides files: where the
// running program lies, loading a module of its own, the user's clock, their
// arguments and their output to a terminal, and the system's words for an error. The POSIX and
// Windows versions live beside the file layer's, so that the platforms differ in one place only.
#pragma once

#include <ctime>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::host {

// The running program's own file, links resolved.
std::expected<std::filesystem::path, std::string> programFile();

// A loaded module; it stays loaded until the program ends, as a module that
// brings Qt must (Qt cannot be unloaded).
class Module {
public:
    // Loads the module; the reason is the system's when it cannot.
    static std::expected<Module, std::string> load(const std::filesystem::path& file);
    // The address of the exported function name; the reason when there is none.
    std::expected<void*, std::string> function(const char* name) const;

private:
    explicit Module(void* handle) : handle_(handle) {}
    void* handle_;
};

// time as the user's clock shows it, in the user's time zone.
std::optional<std::tm> localTime(std::time_t time);

enum class Stream { Output, Error };
// Whether the stream is a terminal (a console on Windows) rather than a file or a pipe.
bool isTerminal(Stream stream);

// Writes UTF-8 text to the stream. A Windows console is given it as wide
// characters, which it shows whatever its code page; a file or a pipe gets
// the bytes themselves, as on every other system.
void write(Stream stream, std::string_view text);

// A window program (Windows) started from a console writes --help and
// --version there; whether its output now goes somewhere (a console, a
// file or a pipe), or only a message box would be seen. Elsewhere it does.
bool useParentConsole();

// The program's arguments after its own name, as UTF-8. On Windows they are
// read from the wide command line: the narrow ones are in the system's code
// page, which turns every character it cannot spell into a question mark.
std::vector<std::string> arguments(int argc, char* argv[]);

// The system's words for an error number, as UTF-8 (Windows words them in the
// user's language, and in its code page unless asked for wide characters).
std::string systemMessage(int code);

// The language of the user's desktop where the system keeps one apart from
// the environment ("en-US" on Windows); empty where the environment's
// locale variables are the only word on it (POSIX).
std::string interfaceLanguage();

}  // namespace pelloran::host
