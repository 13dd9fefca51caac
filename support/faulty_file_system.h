// A file system over the real one that logs every operation and can make
// chosen ones fail, as a full disk, a vanished file or a refusing archive do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>
#include <vector>

#include "fileio/file.h"

namespace pelloran::testing {

class FaultyFileSystem final : public fileio::FileSystem {
public:
    template <class T>
    using Result = fileio::Result<T>;

    explicit FaultyFileSystem(fileio::FileSystem& real = fileio::nativeFileSystem()) : real_(real)
    {
    }

    // A truncate is logged as a write of size 0 at the new length, a folder
    // flush as a flush of the folder: each fails the way it is reported.
    struct Entry {
        fileio::Operation operation;
        std::filesystem::path path;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        bool failed = false;
    };
    const std::vector<Entry>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    // Operations done (or refused) since the last clearLog().
    std::size_t operationCount() const { return log_.size(); }
    // Entries of the log for one operation and file.
    std::vector<Entry> entries(fileio::Operation operation,
                               const std::filesystem::path& path) const;

    enum class Mode { Fail, ShortWrite, WrongBytes };
    // Fails the k-th operation from now (1 = the next one). In ShortWrite
    // mode a write writes its first half and then fails; in WrongBytes mode
    // a read succeeds but hands back its first byte changed, and a write
    // succeeds but stores its first byte changed, as a disk that kept
    // something other than what was written does.
    void failAt(int k, Mode mode = Mode::Fail,
                std::error_code code = std::make_error_code(std::errc::io_error));
    // Fails every operation of one kind on one file (on every file when path
    // is empty) until cleared.
    void failAlways(fileio::Operation operation, const std::filesystem::path& path,
                    std::error_code code = std::make_error_code(std::errc::io_error));
    void clearFaults();
    // Whether the fault set by failAt has been hit.
    bool injected() const { return injected_; }
    // Called with every operation before it is done or refused.
    std::function<void(const Entry&)> observer;

    Result<std::unique_ptr<fileio::File>> openRead(const std::filesystem::path& path) override;
    Result<std::unique_ptr<fileio::File>> openReadWrite(const std::filesystem::path& path) override;
    Result<std::unique_ptr<fileio::File>> createNew(const std::filesystem::path& path) override;
    Result<void> rename(const std::filesystem::path& from,
                        const std::filesystem::path& to) override;
    Result<void> remove(const std::filesystem::path& path) override;
    Result<void> syncFolder(const std::filesystem::path& folder) override;
    Result<void> flushClosed(std::span<const std::filesystem::path> files) override;
    Result<std::optional<fileio::FileInfo>> inspect(const std::filesystem::path& path) override;
    Result<bool> sameFile(const std::filesystem::path& a, const std::filesystem::path& b) override;
    Result<std::unique_ptr<fileio::Lock>> tryLock(const std::filesystem::path& path) override
    {
        return real_.tryLock(path);
    }
    Result<std::vector<std::filesystem::path>> listFolder(
        const std::filesystem::path& folder) override;

    // Records an operation; returns the error to report if it must fail.
    // hit, when given, tells in which mode the k-th operation was reached.
    std::optional<std::error_code> note(Entry entry, std::optional<Mode>* hit = nullptr);

private:
    Result<std::unique_ptr<fileio::File>> wrap(const std::filesystem::path& path,
                                               Result<std::unique_ptr<fileio::File>> opened);

    fileio::FileSystem& real_;
    std::vector<Entry> log_;
    int countdown_ = 0;
    Mode mode_ = Mode::Fail;
    std::error_code code_;
    bool injected_ = false;
    struct Always {
        fileio::Operation operation;
        std::filesystem::path path;
        std::error_code code;
    };
    std::vector<Always> always_;
};

// The operating system's files, except that flush() returns at once: a write
// then costs what it costs before the disk is involved.
class NoFlushFileSystem final : public fileio::FileSystem {
public:
    template <class T>
    using Result = fileio::Result<T>;

    Result<std::unique_ptr<fileio::File>> openRead(const std::filesystem::path& path) override;
    Result<std::unique_ptr<fileio::File>> openReadWrite(const std::filesystem::path& path) override;
    Result<std::unique_ptr<fileio::File>> createNew(const std::filesystem::path& path) override;
    Result<void> rename(const std::filesystem::path& from,
                        const std::filesystem::path& to) override;
    Result<void> remove(const std::filesystem::path& path) override;
    Result<std::unique_ptr<fileio::Lock>> tryLock(const std::filesystem::path& path) override
    {
        return fileio::nativeFileSystem().tryLock(path);
    }
};

}  // namespace pelloran::testing
