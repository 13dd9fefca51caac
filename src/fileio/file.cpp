#include "fileio/file.h"

#include <string>

namespace pelloran::fileio {

namespace {

class FaultCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "pelloran"; }
    std::string message(int value) const override
    {
        switch (static_cast<Fault>(value)) {
            case Fault::ArchiveTooShort:
                return "archive ends before the record";
            case Fault::VerifyMismatch:
                return "read-back differs from what was written";
            case Fault::ShortWrite:
                return "the system wrote only part of the data";
            case Fault::ImportChanged:
                return "the file changed after it was imported";
            case Fault::NameTooShort:
                return "the name is too short";
        }
        return "unknown fault";
    }
};

}  // namespace

const std::error_category& faultCategory()
{
    static const FaultCategory category;
    return category;
}

std::error_code make_error_code(Fault fault)
{
    return {static_cast<int>(fault), faultCategory()};
}

Result<void> File::truncate(std::uint64_t)
{
    return std::unexpected(
        Error{{}, Operation::Write, std::make_error_code(std::errc::operation_not_supported)});
}

Result<void> FileSystem::syncFolder(const std::filesystem::path&)
{
    return {};
}

bool isNotFound(const Error& error)
{
    return error.operation == Operation::Open && error.code == std::errc::no_such_file_or_directory;
}

Result<std::size_t> readAtMost(FileSystem& fs, const std::filesystem::path& path,
                               std::uint64_t offset, std::span<std::uint8_t> out)
{
    auto file = fs.openRead(path);
    if (!file) {
        if (isNotFound(file.error())) return 0;
        return std::unexpected(file.error());
    }
    // Once every byte asked for has been read, a failing close changes nothing
    // about what was read.
    auto count = (*file)->readAt(offset, out);
    (void)(*file)->close();
    return count;
}

Result<void> replaceFile(FileSystem& fs, const std::filesystem::path& path,
                         std::span<const std::uint8_t> bytes)
{
    // The temporary file lives in the target's folder so that the final rename
    // stays within one file system and is atomic. A leftover of an earlier run
    // that was killed is never reused: the next free name is taken.
    constexpr int kAttempts = 100;
    std::filesystem::path temp;
    Result<std::unique_ptr<File>> file = std::unexpected(Error{path, Operation::Open, {}});
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temp = path;
        temp += ".pelloran-" + std::to_string(attempt) + ".tmp";
        file = fs.createNew(temp);
        if (file || file.error().code != std::errc::file_exists) break;
    }
    if (!file) return std::unexpected(Error{path, file.error().operation, file.error().code});

    auto fail = [&](const Error& error) -> Result<void> {
        file->reset();
        (void)fs.remove(temp);
        return std::unexpected(Error{path, error.operation, error.code});
    };
    if (auto r = (*file)->writeAt(0, bytes); !r) return fail(r.error());
    if (auto r = (*file)->flush(); !r) return fail(r.error());
    if (auto r = (*file)->close(); !r) return fail(r.error());
    if (auto r = fs.rename(temp, path); !r) return fail(r.error());
    return {};
}

Result<std::filesystem::path> replaceTail(const std::filesystem::path& path, std::size_t drop,
                                          std::u32string_view suffix)
{
    // Counted in characters, so a Chinese name loses whole characters, never
    // half of one.
    std::u32string text;
    try {
        text = path.u32string();
    } catch (const std::exception&) {
        return std::unexpected(
            Error{path, Operation::Open, std::make_error_code(std::errc::illegal_byte_sequence)});
    }
    if (text.size() < drop)
        return std::unexpected(Error{path, Operation::Open, Fault::NameTooShort});
    text.resize(text.size() - drop);
    text += suffix;
    return std::filesystem::path(text);
}

}  // namespace pelloran::fileio
