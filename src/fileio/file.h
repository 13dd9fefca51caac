// The one place where the format core meets the operating system: files
// addressed by explicit byte offset, opened, read or written, and closed
// within one action. Everything above this layer works on byte buffers.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <system_error>

namespace pelloran::fileio {

// What the core was doing when a file let it down.
enum class Operation { Open, Read, Write, Flush, Close, Rename, Remove, Size };

// A failure of one file operation: which file, what was tried, and the
// system's reason. Errors of the format rules (a record beyond the end of an
// archive, a read-back that differs) use the codes of fileio::Fault.
struct Error {
    std::filesystem::path path;
    Operation operation;
    std::error_code code;
};

template <class T>
using Result = std::expected<T, Error>;

// Failures that are not the system's but the core's own findings.
enum class Fault {
    ArchiveTooShort = 1,  // the record to write lies beyond the end of the archive
    VerifyMismatch,       // what was read back differs from what was written
    ShortWrite,           // the system accepted fewer bytes than given and then nothing
    ImportChanged,        // the imported bitmap is no longer what was imported
    NameTooShort,         // a sibling name cannot be derived from this name
};
const std::error_category& faultCategory();
std::error_code make_error_code(Fault fault);

// An open file. Every method reports failures; none throws.
class File {
public:
    virtual ~File() = default;

    // Reads up to out.size() bytes from offset; returns how many were read,
    // which is fewer only where the file ends.
    virtual Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;

    // Writes all of data at offset.
    virtual Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;

    virtual Result<std::uint64_t> size() = 0;

    // Makes what was written durable before the action reports success.
    virtual Result<void> flush() = 0;

    // Closes the file; a file destroyed without close() is closed quietly.
    virtual Result<void> close() = 0;

    // Sets the file's length: cuts it, or extends it with zeros. A failure is
    // reported as a write, which is what the user is told it was. A file that
    // cannot do it says operation_not_supported.
    virtual Result<void> truncate(std::uint64_t size);
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens an existing file for reading.
    virtual Result<std::unique_ptr<File>> openRead(const std::filesystem::path& path) = 0;

    // Opens an existing file for reading and writing in place; never creates
    // a file and never truncates one.
    virtual Result<std::unique_ptr<File>> openReadWrite(const std::filesystem::path& path) = 0;

    // Creates a file that must not exist yet, for writing.
    virtual Result<std::unique_ptr<File>> createNew(const std::filesystem::path& path) = 0;

    // Moves from over to, replacing to if it exists.
    virtual Result<void> rename(const std::filesystem::path& from,
                                const std::filesystem::path& to) = 0;

    virtual Result<void> remove(const std::filesystem::path& path) = 0;

    // Makes the folder's list of names durable, so that a file just created in
    // it or renamed into it is still there after a power cut; a failure is
    // reported as a flush of the folder. Where the system needs no such step,
    // it succeeds doing nothing.
    virtual Result<void> syncFolder(const std::filesystem::path& folder);
};

// The operating system's files.
FileSystem& nativeFileSystem();

// True when the error says that the file (or its folder) does not exist.
bool isNotFound(const Error& error);

// Reads whole: as many of out.size() bytes from offset as the file has. A
// file that does not exist yields 0 bytes; any other failure is an error.
Result<std::size_t> readAtMost(FileSystem& fs, const std::filesystem::path& path,
                               std::uint64_t offset, std::span<std::uint8_t> out);

// Replaces path with exactly bytes: written to a new file beside it, made
// durable and renamed over it, so that the target is either wholly old or
// wholly new and no temporary file stays behind.
Result<void> replaceFile(FileSystem& fs, const std::filesystem::path& path,
                         std::span<const std::uint8_t> bytes);

// Replaces the last `drop` characters (not bytes) of path's text by suffix;
// fails with Fault::NameTooShort when the text has fewer characters.
Result<std::filesystem::path> replaceTail(const std::filesystem::path& path, std::size_t drop,
                                          std::u32string_view suffix);

}  // namespace pelloran::fileio

template <>
struct std::is_error_code_enum<pelloran::fileio::Fault> : std::true_type {
};
