#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "fileio/host.h"

namespace pelloran::host {

namespace {

std::string lastError()
{
    return systemMessage(static_cast<int>(GetLastError()));
}

std::string utf8(std::wstring_view wide)
{
    if (wide.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}

std::wstring wide(std::string_view text)
{
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// The console behind the stream, or none when it goes to a file or a pipe.
HANDLE console(Stream stream)
{
    HANDLE handle = GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
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

// The C library's _isatty says yes to any character device, NUL among them:
// only a console is a terminal.
bool isTerminal(Stream stream)
{
    return console(stream) != nullptr;
}

void write(Stream stream, std::string_view text)
{
    std::FILE* file = stream == Stream::Output ? stdout : stderr;
    HANDLE handle = console(stream);
    if (handle == nullptr) {
        std::fwrite(text.data(), 1, text.size(), file);
        return;
    }
    // What the C library still holds goes first, so the lines keep their order.
    std::fflush(file);
    const std::wstring characters = wide(text);
    DWORD written = 0;
    WriteConsoleW(handle, characters.data(), static_cast<DWORD>(characters.size()), &written,
                  nullptr);
}

bool useParentConsole()
{
    // Output already going to a file or a pipe stays there; otherwise the
    // console of the program that started this one, if there is one.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE &&
        GetFileType(output) != FILE_TYPE_UNKNOWN)
        return true;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
    return true;
}

std::vector<std::string> arguments(int argc, char* argv[])
{
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> words(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    if (!words) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> result;
    for (int i = 1; i < count; ++i) result.push_back(utf8(words.get()[i]));
    return result;
}

std::string systemMessage(int code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length == 0) return "Windows error " + std::to_string(code);
    std::wstring_view words(text, length);
    // The system ends its sentence with a line break; a message of ours goes on after it.
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
        words.remove_suffix(1);
    std::string message = utf8(words);
    LocalFree(text);
    return message;
}

std::string interfaceLanguage()
{
    // The language the user chose for Windows' own menus and dialogs, which
    // may differ from the one dates and numbers are written in.
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                         LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return {};
    return utf8(name);
}

}  // namespace pelloran::host
