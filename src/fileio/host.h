// What the programs need from the operating system besides files: where the
// running program lies, loading a module of its own, the user's clock, and
// whether an output stream is a terminal. The POSIX and Windows versions live
// beside the file layer's, so that the platforms differ in one place only.
#pragma once

#include <ctime>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>

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

}  // namespace pelloran::host
