#include <io.h>
#include <windows.h>

#include <system_error>

#include "fileio/host.h"

namespace pelloran::host {

namespace {

std::string lastError()
{
    return std::system_category().message(static_cast<int>(GetLastError()));
}

}  // namespace

std::expected<std::filesystem::path, std::string> programFile()
{
    // A long path may not fit the first buffer; the name is cut then, and
    // the buffer is grown until it fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return std::unexpected(lastError());
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name);
        }
        name.resize(name.size() * 2);
    }
}

std::expected<Module, std::string> Module::load(const std::filesystem::path& file)
{
    HMODULE handle = LoadLibraryW(file.c_str());
    if (handle == nullptr) return std::unexpected(lastError());
    return Module(reinterpret_cast<void*>(handle));
}

std::expected<void*, std::string> Module::function(const char* name) const
{
    const FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(handle_), name);
    if (address == nullptr) return std::unexpected(lastError());
    return reinterpret_cast<void*>(address);
}

std::optional<std::tm> localTime(std::time_t time)
{
    std::tm parts{};
    if (localtime_s(&parts, &time) != 0) return std::nullopt;
    return parts;
}

bool isTerminal(Stream stream)
{
    return _isatty(stream == Stream::Output ? 1 : 2) != 0;
}

}  // namespace pelloran::host
