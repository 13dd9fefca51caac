// POSIX files: pread/pwrite at explicit offsets, fsync, rename(2).
#include "fileio/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

namespace pelloran::fileio {

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}

class PosixFile final : public File {
public:
    PosixFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override
    {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                                      static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return fail(Operation::Read);
            }
            if (n == 0) break;  // end of file
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override
    {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                       static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return fail(Operation::Write);
            }
            if (n == 0) return std::unexpected(Error{path_, Operation::Write, Fault::ShortWrite});
            done += static_cast<std::size_t>(n);
        }
        return {};
    }

    Result<std::uint64_t> size() override
    {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return fail(Operation::Size);
        return static_cast<std::uint64_t>(st.st_size);
    }

    Result<void> flush() override
    {
        if (::fsync(fd_) != 0) return fail(Operation::Flush);
        return {};
    }

    Result<void> truncate(std::uint64_t size) override
    {
        int result;
        do {
            result = ::ftruncate(fd_, static_cast<off_t>(size));
        } while (result != 0 && errno == EINTR);
        if (result != 0) return fail(Operation::Write);
        return {};
    }

    Result<void> setPermissions(std::uint32_t permissions) override
    {
        // Exactly these bits: a mode given to open(2) would pass through the
        // process's umask first.
        if (::fchmod(fd_, static_cast<mode_t>(permissions & 07777)) != 0)
            return fail(Operation::Write);
        return {};
    }

    Result<void> close() override
    {
        const int fd = fd_;
        fd_ = -1;
        // The descriptor is gone whatever close(2) answers; retrying could
        // close a descriptor that another part of the process just opened.
        if (::close(fd) != 0 && errno != EINTR) return fail(Operation::Close);
        return {};
    }

private:
    std::unexpected<Error> fail(Operation operation) const
    {
        return std::unexpected(Error{path_, operation, lastError()});
    }

    int fd_;
    std::filesystem::path path_;
};

Result<std::unique_ptr<File>> openWith(const std::filesystem::path& path, int flags)
{
    // An existing name is opened without waiting: opening a FIFO for reading
    // would otherwise block until someone writes to it, which may be never.
    const bool existing = (flags & O_CREAT) == 0;
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | (existing ? O_NONBLOCK : 0), 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(Error{path, Operation::Open, lastError()});
    if (!existing) return std::make_unique<PosixFile>(fd, path);
    // A folder opens for reading on POSIX, but reading it fails with a reason
    // nobody understands; a pipe, a device or a socket would block or give
    // endless bytes. Each is refused here with the plain reason.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const auto code = lastError();
        ::close(fd);
        return std::unexpected(Error{path, Operation::Open, code});
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::unexpected(Error{path, Operation::Open,
                                     S_ISDIR(st.st_mode)
                                         ? std::make_error_code(std::errc::is_a_directory)
                                         : make_error_code(Fault::NotRegularFile)});
    }
    // A regular file never blocks; the flag is dropped so that nothing later
    // mistakes it for a request.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixFile>(fd, path);
}

// A folder opened to be flushed; -1 and errno as open(2) leaves them.
int openFolder(const std::filesystem::path& path)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// flock(2) rather than a record lock: it belongs to the open file, not to
// the process, so no other close in the process lets it go by accident.
class PosixLock final : public Lock {
public:
    explicit PosixLock(int fd) : fd_(fd) {}
    ~PosixLock() override { ::close(fd_); }
    PosixLock(const PosixLock&) = delete;
    PosixLock& operator=(const PosixLock&) = delete;

private:
    int fd_;
};

class PosixFileSystem final : public FileSystem {
public:
    Result<std::unique_ptr<Lock>> tryLock(const std::filesystem::path& path) override
    {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return std::unexpected(Error{path, Operation::Open, lastError()});
        int result;
        do {
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result == 0) return std::make_unique<PosixLock>(fd);
        const auto reason = lastError();
        ::close(fd);
        if (reason == std::errc::operation_would_block) return nullptr;
        return std::unexpected(Error{path, Operation::Open, reason});
    }
    Result<std::unique_ptr<File>> openRead(const std::filesystem::path& path) override
    {
        return openWith(path, O_RDONLY);
    }
    Result<std::unique_ptr<File>> openReadWrite(const std::filesystem::path& path) override
    {
        return openWith(path, O_RDWR);
    }
    Result<std::unique_ptr<File>> createNew(const std::filesystem::path& path) override
    {
        return openWith(path, O_WRONLY | O_CREAT | O_EXCL);
    }
    Result<void> rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        if (::rename(from.c_str(), to.c_str()) != 0)
            return std::unexpected(Error{to, Operation::Rename, lastError()});
        return {};
    }
    // One lstat(2) for a name that is not there or not a link, which is
    // every name of a new pack.
    Result<std::optional<FileInfo>> inspect(const std::filesystem::path& path) override
    {
        struct stat st {};
        const auto missing = [] { return errno == ENOENT || errno == ENOTDIR; };
        if (::lstat(path.c_str(), &st) != 0) {
            if (missing()) return std::nullopt;
            return std::unexpected(Error{path, Operation::Open, lastError()});
        }
        std::filesystem::path target = path;
        if (S_ISLNK(st.st_mode)) {
            // A dangling link names no file either: a write replaces the link.
            if (::stat(path.c_str(), &st) != 0) {
                if (missing()) return std::nullopt;
                return std::unexpected(Error{path, Operation::Open, lastError()});
            }
            std::error_code code;
            target = std::filesystem::canonical(path, code);
            if (code) return std::unexpected(Error{path, Operation::Open, code});
        }
        FileInfo info{std::move(target), static_cast<std::uint32_t>(st.st_mode & 07777),
                      (st.st_mode & 0222) == 0};
        // A file that has write bits but not for us is protected too:
        // renaming over it would replace a file this user may not change.
        if (::access(info.target.c_str(), W_OK) != 0) info.writeProtected = true;
        return info;
    }
#ifdef __linux__
    // syncfs(2) once for each file system the files are on, found through
    // their folders: what a flush of each file would make durable, and more.
    Result<void> flushClosed(std::span<const std::filesystem::path> files) override
    {
        // Folders by their text, which a pack's files share: no path is
        // built for each file.
        std::vector<std::string_view> seen;
        std::vector<std::filesystem::path> folders;
        for (const auto& file : files) {
            const std::string_view text = file.native();
            const auto at = text.rfind('/');
            const auto folder = at == text.npos ? std::string_view() : text.substr(0, at ? at : 1);
            if (std::ranges::find(seen, folder) != seen.end()) continue;
            seen.push_back(folder);
            folders.push_back(file.parent_path());
        }
        std::vector<dev_t> done;
        for (const auto& folder : folders) {
            const std::filesystem::path path = folder.empty() ? "." : folder;
            const int fd = openFolder(path);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0) {
                const std::error_code reason = lastError();
                if (fd >= 0) ::close(fd);
                return std::unexpected(Error{path, Operation::Flush, reason});
            }
            int result = 0;
            if (std::ranges::find(done, st.st_dev) == done.end()) {
                result = ::syncfs(fd);
                done.push_back(st.st_dev);
            }
            const std::error_code reason = lastError();
            ::close(fd);
            if (result != 0) return std::unexpected(Error{path, Operation::Flush, reason});
        }
        return {};
    }
#endif
    Result<void> remove(const std::filesystem::path& path) override
    {
        if (::unlink(path.c_str()) != 0)
            return std::unexpected(Error{path, Operation::Remove, lastError()});
        return {};
    }
    // A new name lives in the folder, not in the file: fsync of the file makes
    // its bytes durable, fsync of the folder makes the name that leads to them.
    Result<void> syncFolder(const std::filesystem::path& folder) override
    {
        const std::filesystem::path path = folder.empty() ? "." : folder;
        const int fd = openFolder(path);
        if (fd < 0) return std::unexpected(Error{path, Operation::Flush, lastError()});
        int result = ::fsync(fd);
        // Some file systems cannot flush a folder and say so with EINVAL; they
        // keep names durable by other means, and refusing every write there
        // would help nobody.
        const std::error_code reason = lastError();
        ::close(fd);
        if (result != 0 && reason != std::errc::invalid_argument)
            return std::unexpected(Error{path, Operation::Flush, reason});
        return {};
    }
};

}  // namespace

FileSystem& nativeFileSystem()
{
    static PosixFileSystem fs;
    return fs;
}

}  // namespace pelloran::fileio
