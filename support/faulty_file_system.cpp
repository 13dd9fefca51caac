#include "support/faulty_file_system.h"

namespace pelloran::testing {

using fileio::Error;
using fileio::File;
using fileio::Operation;

namespace {

class FaultyFile final : public File {
public:
    FaultyFile(FaultyFileSystem& fs, std::filesystem::path path, std::unique_ptr<File> real)
        : fs_(fs), path_(std::move(path)), real_(std::move(real))
    {
    }

    fileio::Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        std::optional<FaultyFileSystem::Mode> hit;
        const auto code = fs_.note({Operation::Read, path_, offset, out.size()}, &hit);
        if (hit == FaultyFileSystem::Mode::WrongBytes) {
            auto count = real_->readAt(offset, out);
            if (count && *count > 0) out[0] ^= 0xFF;
            return count;
        }
        if (code) return std::unexpected(Error{path_, Operation::Read, *code});
        return real_->readAt(offset, out);
    }
    fileio::Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override
    {
        std::optional<FaultyFileSystem::Mode> hit;
        const auto code = fs_.note({Operation::Write, path_, offset, data.size()}, &hit);
        if (hit == FaultyFileSystem::Mode::WrongBytes && !code && !data.empty()) {
            std::vector<std::uint8_t> changed(data.begin(), data.end());
            changed[0] ^= 0xFF;
            return real_->writeAt(offset, changed);
        }
        if (code) {
            if (hit == FaultyFileSystem::Mode::ShortWrite)
                (void)real_->writeAt(offset, data.first(data.size() / 2));
            return std::unexpected(Error{path_, Operation::Write, *code});
        }
        return real_->writeAt(offset, data);
    }
    fileio::Result<std::uint64_t> size() override
    {
        if (auto code = fs_.note({Operation::Size, path_}))
            return std::unexpected(Error{path_, Operation::Size, *code});
        return real_->size();
    }
    fileio::Result<void> flush() override
    {
        if (auto code = fs_.note({Operation::Flush, path_}))
            return std::unexpected(Error{path_, Operation::Flush, *code});
        return real_->flush();
    }
    fileio::Result<void> truncate(std::uint64_t size) override
    {
        if (auto code = fs_.note({Operation::Write, path_, size, 0}))
            return std::unexpected(Error{path_, Operation::Write, *code});
        return real_->truncate(size);
    }
    fileio::Result<void> setPermissions(std::uint32_t permissions) override
    {
        if (auto code = fs_.note({Operation::Write, path_, 0, 0}))
            return std::unexpected(Error{path_, Operation::Write, *code});
        return real_->setPermissions(permissions);
    }
    fileio::Result<void> close() override
    {
        // The real file is closed either way, as a real close that fails does.
        auto closed = real_->close();
        if (auto code = fs_.note({Operation::Close, path_}))
            return std::unexpected(Error{path_, Operation::Close, *code});
        return closed;
    }

private:
    FaultyFileSystem& fs_;
    std::filesystem::path path_;
    std::unique_ptr<File> real_;
};

// Wraps an open file so that flush() returns at once.
class NoFlushFile final : public File {
public:
    explicit NoFlushFile(std::unique_ptr<File> real) : real_(std::move(real)) {}
    fileio::Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        return real_->readAt(offset, out);
    }
    fileio::Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override
    {
        return real_->writeAt(offset, data);
    }
    fileio::Result<std::uint64_t> size() override { return real_->size(); }
    fileio::Result<void> flush() override { return {}; }
    fileio::Result<void> truncate(std::uint64_t size) override { return real_->truncate(size); }
    fileio::Result<void> setPermissions(std::uint32_t permissions) override
    {
        return real_->setPermissions(permissions);
    }
    fileio::Result<void> close() override { return real_->close(); }

private:
    std::unique_ptr<File> real_;
};

fileio::Result<std::unique_ptr<File>> withoutFlush(fileio::Result<std::unique_ptr<File>> opened)
{
    if (!opened) return opened;
    return std::make_unique<NoFlushFile>(std::move(*opened));
}

}  // namespace

fileio::Result<std::unique_ptr<File>> NoFlushFileSystem::openRead(const std::filesystem::path& path)
{
    return withoutFlush(fileio::nativeFileSystem().openRead(path));
}

fileio::Result<std::unique_ptr<File>> NoFlushFileSystem::openReadWrite(
    const std::filesystem::path& path)
{
    return withoutFlush(fileio::nativeFileSystem().openReadWrite(path));
}

fileio::Result<std::unique_ptr<File>> NoFlushFileSystem::createNew(
    const std::filesystem::path& path)
{
    return withoutFlush(fileio::nativeFileSystem().createNew(path));
}

fileio::Result<void> NoFlushFileSystem::rename(const std::filesystem::path& from,
                                               const std::filesystem::path& to)
{
    return fileio::nativeFileSystem().rename(from, to);
}

fileio::Result<void> NoFlushFileSystem::remove(const std::filesystem::path& path)
{
    return fileio::nativeFileSystem().remove(path);
}

std::vector<FaultyFileSystem::Entry> FaultyFileSystem::entries(
    Operation operation, const std::filesystem::path& path) const
{
    std::vector<Entry> found;
    for (const Entry& entry : log_)
        if (entry.operation == operation && entry.path == path) found.push_back(entry);
    return found;
}

void FaultyFileSystem::failAt(int k, Mode mode, std::error_code code)
{
    countdown_ = k;
    mode_ = mode;
    code_ = code;
    injected_ = false;
}

void FaultyFileSystem::failAlways(Operation operation, const std::filesystem::path& path,
                                  std::error_code code)
{
    always_.push_back({operation, path, code});
}

void FaultyFileSystem::clearFaults()
{
    countdown_ = 0;
    always_.clear();
}

std::optional<std::error_code> FaultyFileSystem::note(Entry entry, std::optional<Mode>* hit)
{
    if (observer) observer(entry);
    std::optional<std::error_code> failure;
    if (countdown_ > 0 && --countdown_ == 0) {
        injected_ = true;
        // Wrong bytes is a read or write that succeeds; anywhere else it is a failure.
        const bool wrongBytes = mode_ == Mode::WrongBytes && (entry.operation == Operation::Read ||
                                                              entry.operation == Operation::Write);
        if (!wrongBytes) failure = code_;
        if (hit) *hit = mode_;
    }
    for (const Always& always : always_)
        if (always.operation == entry.operation &&
            (always.path.empty() || always.path == entry.path))
            failure = always.code;
    entry.failed = failure.has_value();
    log_.push_back(std::move(entry));
    return failure;
}

fileio::Result<std::unique_ptr<File>> FaultyFileSystem::wrap(
    const std::filesystem::path& path, fileio::Result<std::unique_ptr<File>> opened)
{
    if (!opened) return opened;
    return std::make_unique<FaultyFile>(*this, path, std::move(*opened));
}

fileio::Result<std::unique_ptr<File>> FaultyFileSystem::openRead(const std::filesystem::path& path)
{
    if (auto code = note({Operation::Open, path}))
        return std::unexpected(Error{path, Operation::Open, *code});
    return wrap(path, real_.openRead(path));
}

fileio::Result<std::unique_ptr<File>> FaultyFileSystem::openReadWrite(
    const std::filesystem::path& path)
{
    if (auto code = note({Operation::Open, path}))
        return std::unexpected(Error{path, Operation::Open, *code});
    return wrap(path, real_.openReadWrite(path));
}

fileio::Result<std::unique_ptr<File>> FaultyFileSystem::createNew(const std::filesystem::path& path)
{
    if (auto code = note({Operation::Open, path}))
        return std::unexpected(Error{path, Operation::Open, *code});
    return wrap(path, real_.createNew(path));
}

fileio::Result<void> FaultyFileSystem::rename(const std::filesystem::path& from,
                                              const std::filesystem::path& to)
{
    if (auto code = note({Operation::Rename, to}))
        return std::unexpected(Error{to, Operation::Rename, *code});
    return real_.rename(from, to);
}

fileio::Result<void> FaultyFileSystem::remove(const std::filesystem::path& path)
{
    if (auto code = note({Operation::Remove, path}))
        return std::unexpected(Error{path, Operation::Remove, *code});
    return real_.remove(path);
}

fileio::Result<void> FaultyFileSystem::syncFolder(const std::filesystem::path& folder)
{
    if (auto code = note({Operation::Flush, folder}))
        return std::unexpected(Error{folder, Operation::Flush, *code});
    return real_.syncFolder(folder);
}

// Each file is logged and failed as a flush of its own.
fileio::Result<void> FaultyFileSystem::flushClosed(std::span<const std::filesystem::path> files)
{
    for (const auto& path : files)
        if (auto code = note({Operation::Flush, path}))
            return std::unexpected(Error{path, Operation::Flush, *code});
    return real_.flushClosed(files);
}

// Looking a name up is logged and failed as opening it.
fileio::Result<std::optional<fileio::FileInfo>> FaultyFileSystem::inspect(
    const std::filesystem::path& path)
{
    if (auto code = note({Operation::Open, path}))
        return std::unexpected(Error{path, Operation::Open, *code});
    return real_.inspect(path);
}

fileio::Result<bool> FaultyFileSystem::sameFile(const std::filesystem::path& a,
                                                const std::filesystem::path& b)
{
    if (auto code = note({Operation::Open, a}))
        return std::unexpected(Error{a, Operation::Open, *code});
    return real_.sameFile(a, b);
}

fileio::Result<std::vector<std::filesystem::path>> FaultyFileSystem::listFolder(
    const std::filesystem::path& folder)
{
    if (auto code = note({Operation::Open, folder}))
        return std::unexpected(Error{folder, Operation::Open, *code});
    return real_.listFolder(folder);
}

}  // namespace pelloran::testing
