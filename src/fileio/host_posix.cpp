#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "fileio/host.h"

namespace pelloran::host {

std::expected<std::filesystem::path, std::string> programFile()
{
    std::error_code code;
    auto program = std::filesystem::read_symlink("/proc/self/exe", code);
    if (code) return std::unexpected(code.message());
    return program;
}

std::expected<Module, std::string> Module::load(const std::filesystem::path& file)
{
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return std::unexpected(dlerror());
    return Module(handle);
}

std::expected<void*, std::string> Module::function(const char* name) const
{
    void* address = dlsym(handle_, name);
    if (address == nullptr) return std::unexpected(dlerror());
    return address;
}

std::optional<std::tm> localTime(std::time_t time)
{
    std::tm parts{};
    if (localtime_r(&time, &parts) == nullptr) return std::nullopt;
    return parts;
}

bool isTerminal(Stream stream)
{
    return isatty(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void write(Stream stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream == Stream::Output ? stdout : stderr);
}

bool useParentConsole()
{
    return true;
}

std::vector<std::string> arguments(int argc, char* argv[])
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::string systemMessage(int code)
{
    return std::generic_category().message(code);
}

std::string interfaceLanguage()
{
    return {};
}

}  // namespace pelloran::host
