// Windows files: wide-character paths, reads and writes at explicit offsets,
// FlushFileBuffers, MoveFileExW. Paths go to the system as UTF-16, never
// through the 8-bit code page, so Chinese folder and file names work
// whatever the system's language.
#include "fileio/file.h"
#include "fileio/host.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace pelloran::fileio {

namespace {

// Windows error numbers, worded by the system in the user's language. The
// conditions the core tests for (a missing file, a name already taken, a
// refusal) are stated here rather than left to the standard library, whose
// mapping of Windows numbers differs between toolchains and versions.
class WindowsCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int value) const override { return host::systemMessage(value); }
    std::error_condition default_error_condition(int value) const noexcept override
    {
        switch (static_cast<DWORD>(value)) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return std::errc::no_such_file_or_directory;
            case ERROR_FILE_EXISTS:
            case ERROR_ALREADY_EXISTS:
                return std::errc::file_exists;
            case ERROR_ACCESS_DENIED:
                return std::errc::permission_denied;
            default:
                return std::system_category().default_error_condition(value);
        }
    }
};

const std::error_category& windowsCategory()
{
    static const WindowsCategory category;
    return category;
}

std::error_code lastError()
{
    return {static_cast<int>(::GetLastError()), windowsCategory()};
}

// One call moves at most a DWORD's worth; a whole gibibyte keeps well clear.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

OVERLAPPED at(std::uint64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

class WindowsFile final : public File {
public:
    WindowsFile(HANDLE handle, std::filesystem::path path) : handle_(handle), path_(std::move(path))
    {
    }
    ~WindowsFile() override
    {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        std::size_t done = 0;
        while (done < out.size()) {
            const auto chunk = static_cast<DWORD>(std::min(out.size() - done, kMaxChunk));
            OVERLAPPED position = at(offset + done);
            DWORD n = 0;
            if (!::ReadFile(handle_, out.data() + done, chunk, &n, &position)) {
                // A read that starts at or past the end is refused with this
                // code; for us it is simply where the file ends.
                if (::GetLastError() == ERROR_HANDLE_EOF) break;
                return fail(Operation::Read);
            }
            if (n == 0) break;  // end of file
            done += n;
        }
        return done;
    }

    Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override
    {
        std::size_t done = 0;
        while (done < data.size()) {
            const auto chunk = static_cast<DWORD>(std::min(data.size() - done, kMaxChunk));
            OVERLAPPED position = at(offset + done);
            DWORD n = 0;
            if (!::WriteFile(handle_, data.data() + done, chunk, &n, &position))
                return fail(Operation::Write);
            if (n == 0) return std::unexpected(Error{path_, Operation::Write, Fault::ShortWrite});
            done += n;
        }
        return {};
    }

    Result<std::uint64_t> size() override
    {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(handle_, &size)) return fail(Operation::Size);
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    Result<void> flush() override
    {
        if (!::FlushFileBuffers(handle_)) return fail(Operation::Flush);
        return {};
    }

    Result<void> truncate(std::uint64_t size) override
    {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end))
            return fail(Operation::Write);
        return {};
    }

    Result<void> close() override
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(handle)) return fail(Operation::Close);
        return {};
    }

private:
    std::unexpected<Error> fail(Operation operation) const
    {
        return std::unexpected(Error{path_, operation, lastError()});
    }

    HANDLE handle_;
    std::filesystem::path path_;
};

Result<std::unique_ptr<File>> openWith(const std::filesystem::path& path, DWORD access, DWORD share,
                                       DWORD disposition)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        std::error_code code = lastError();
        // Windows refuses to open a folder as a file with "access denied",
        // which would send the user hunting for a permission problem; say
        // what it is instead, as the POSIX side does.
        if (code == std::errc::permission_denied) {
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                code = std::make_error_code(std::errc::is_a_directory);
        }
        return std::unexpected(Error{path, Operation::Open, code});
    }
    // A name like NUL, COM1 or \\.\pipe\x opens a device or a pipe, whose
    // reads wait for a writer that may never come: only files on a disk are
    // read and written.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return std::unexpected(
            Error{path, Operation::Open, make_error_code(Fault::NotRegularFile)});
    }
    return std::make_unique<WindowsFile>(handle, path);
}

// A lock on one byte far past any archive's end: LockFileEx's locks are
// mandatory for the range they cover, and this one must not stop anybody's
// reads or writes, only another writer's lock.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

class WindowsLock final : public Lock {
public:
    explicit WindowsLock(HANDLE handle) : handle_(handle) {}
    ~WindowsLock() override { ::CloseHandle(handle_); }
    WindowsLock(const WindowsLock&) = delete;
    WindowsLock& operator=(const WindowsLock&) = delete;

private:
    HANDLE handle_;
};

class WindowsFileSystem final : public FileSystem {
public:
    Result<std::unique_ptr<Lock>> tryLock(const std::filesystem::path& path) override
    {
        HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return std::unexpected(Error{path, Operation::Open, lastError()});
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return std::make_unique<WindowsLock>(handle);
        const DWORD reason = ::GetLastError();
        ::CloseHandle(handle);
        if (reason == ERROR_LOCK_VIOLATION || reason == ERROR_IO_PENDING) return nullptr;
        return std::unexpected(
            Error{path, Operation::Open, {static_cast<int>(reason), windowsCategory()}});
    }
    // Reading lets everyone else go on reading, writing and renaming: the
    // game may have the archive open, and a read holds it only for a moment.
    Result<std::unique_ptr<File>> openRead(const std::filesystem::path& path) override
    {
        return openWith(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        OPEN_EXISTING);
    }
    // While a record is written and read back, others may read but not
    // write, or the read-back would prove nothing.
    Result<std::unique_ptr<File>> openReadWrite(const std::filesystem::path& path) override
    {
        return openWith(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    }
    // A new file is a temporary one being filled; it is ours alone until it
    // is renamed over its target.
    Result<std::unique_ptr<File>> createNew(const std::filesystem::path& path) override
    {
        return openWith(path, GENERIC_WRITE, 0, CREATE_NEW);
    }
    Result<void> rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        // Write-through: the rename is on disk when it returns, like the
        // data that replaceFile flushed before it.
        if (!::MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return std::unexpected(Error{to, Operation::Rename, lastError()});
        return {};
    }
    // Two names are one file when the volume and the file's index agree;
    // the portable answer cannot be trusted with that on every toolchain.
    Result<bool> sameFile(const std::filesystem::path& a, const std::filesystem::path& b) override
    {
        BY_HANDLE_FILE_INFORMATION first{}, second{};
        auto identify = [](const std::filesystem::path& path,
                           BY_HANDLE_FILE_INFORMATION& info) -> Result<bool> {
            const HANDLE handle = ::CreateFileW(
                path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (handle == INVALID_HANDLE_VALUE) {
                const std::error_code code = lastError();
                if (code == std::errc::no_such_file_or_directory) return false;
                return std::unexpected(Error{path, Operation::Open, code});
            }
            const BOOL known = ::GetFileInformationByHandle(handle, &info);
            const std::error_code code = lastError();
            ::CloseHandle(handle);
            if (!known) return std::unexpected(Error{path, Operation::Open, code});
            return true;
        };
        auto aExists = identify(a, first);
        if (!aExists || !*aExists) return aExists;
        auto bExists = identify(b, second);
        if (!bExists || !*bExists) return bExists;
        return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
               first.nFileIndexHigh == second.nFileIndexHigh &&
               first.nFileIndexLow == second.nFileIndexLow;
    }
    Result<void> remove(const std::filesystem::path& path) override
    {
        if (!::DeleteFileW(path.c_str()))
            return std::unexpected(Error{path, Operation::Remove, lastError()});
        return {};
    }
    // NTFS journals its names itself, and rename above writes through: there
    // is nothing to flush. A folder that is not there is still an error, as
    // on POSIX.
    Result<void> syncFolder(const std::filesystem::path& folder) override
    {
        const std::filesystem::path path = folder.empty() ? "." : folder;
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return std::unexpected(Error{path, Operation::Flush, lastError()});
        return {};
    }
};

}  // namespace

FileSystem& nativeFileSystem()
{
    static WindowsFileSystem fs;
    return fs;
}

}  // namespace pelloran::fileio
