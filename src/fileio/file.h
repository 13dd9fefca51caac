// The one place where the format core meets the operating system: files
// addressed by explicit byte offset, opened, read or written, and closed
// within one action. Everything above this layer works on byte buffers.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace pelloran::fileio {

// What the core was doing when a file let it down.
enum class Operation { Open, Read, Write, Flush, Close, Rename, Remove, Size };

// A failure of one file operation: which file, what was tried, and the
// reason: the system's, this layer's own (fileio::Fault), or that of the
// format the bytes were for (archive::Fault).
struct Error {
    std::filesystem::path path;
    Operation operation;
    std::error_code code;
};

template <class T>
using Result = std::expected<T, Error>;

// Failures that are not the system's but this layer's own findings.
enum class Fault {
    ShortWrite = 1,  // the system accepted fewer bytes than given and then nothing
    WriteProtected,  // the file to replace is read-only
    NotRegularFile,  // a pipe, a device or a socket where a file was expected
    Locked,          // another program holds the file's writer lock and kept it
};
const std::error_category& faultCategory();
std::error_code make_error_code(Fault fault);

// The error category of one layer's own faults: its name, and how each value
// reads in a log (users read the words of session/messages.cpp instead).
class FaultCategory final : public std::error_category {
public:
    FaultCategory(const char* name, std::string (*describe)(int value))
        : name_(name), describe_(describe)
    {
    }
    const char* name() const noexcept override { return name_; }
    std::string message(int value) const override { return describe_(value); }

private:
    const char* name_;
    std::string (*describe_)(int);
};

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

    // Gives the file these permission bits (POSIX mode & 07777); where the
    // system has no such bits it does nothing.
    virtual Result<void> setPermissions(std::uint32_t permissions);
};

// A writer's lock on a file: advisory, honoured by every program of ours and
// by no other; released when dropped, and by the system when the process dies.
class Lock {
public:
    virtual ~Lock() = default;
};

// What replacing a file by name must respect.
struct FileInfo {
    std::filesystem::path target;  // the file a write to the name lands in, links followed
    std::uint32_t permissions;     // POSIX mode & 07777; 0 where the system has none
    bool writeProtected;           // read-only for us, or for everyone
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

    // Makes the bytes written to these closed files durable, as flushing
    // each before closing it would. One step for many files where the system
    // has one (a flush of each file system that holds them); the errors name
    // the file or the folder that failed.
    virtual Result<void> flushClosed(std::span<const std::filesystem::path> files);

    // What path names, or nothing when it names no file.
    virtual Result<std::optional<FileInfo>> inspect(const std::filesystem::path& path);

    // Whether a and b name the same file, by any path or link; false when
    // either names no file.
    virtual Result<bool> sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

    // The names in a folder.
    virtual Result<std::vector<std::filesystem::path>> listFolder(
        const std::filesystem::path& folder);

    // Takes the writer lock of an existing file if no one holds it: nullptr
    // when someone does. A file system without locks hands out one that
    // locks nothing.
    virtual Result<std::unique_ptr<Lock>> tryLock(const std::filesystem::path& path);
};

// Takes the writer lock of an existing file, trying again until wait has
// passed; onWaiting, when given, is told once that the first try found it
// held. Fault::Locked when the holder kept it all that while.
Result<std::unique_ptr<Lock>> lockFile(FileSystem& fs, const std::filesystem::path& path,
                                       std::chrono::milliseconds wait,
                                       const std::function<void()>& onWaiting = {});

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
// wholly new and no temporary file stays behind. As a careful editor saves:
// a link is written through to the file it points to, the file keeps its
// permission bits, and a write-protected file is refused.
Result<void> replaceFile(FileSystem& fs, const std::filesystem::path& path,
                         std::span<const std::uint8_t> bytes);

struct Replacement {
    std::filesystem::path path;
    std::span<const std::uint8_t> bytes;
};
// Replaces several files as replaceFile does one: every file is checked and
// every new content written and made durable before the first is renamed
// into place, so a failure before the renames leaves all of them as they
// were.
Result<void> replaceFiles(FileSystem& fs, std::span<const Replacement> files);

// Asked about every file that exists already before its new content is
// written: false keeps that file, and so all of them, as they are (the
// error is then an unpermitted write of that file's name).
using MayReplace = std::function<Result<bool>(const Replacement& file, const FileInfo& existing)>;

// replaceFiles for contents made one after another, so that a pack of
// hundreds of files is never all in memory at once: each add() checks its
// name and writes the new content beside it; commit() makes them durable and
// renames them all into place. Anything not committed, after a failure or
// when the object is dropped, is removed: the files stay as they were.
class Replacing {
public:
    // many: hundreds of files are coming, to be made durable in one step.
    Replacing(FileSystem& fs, bool many, MayReplace mayReplace = {});
    ~Replacing();
    Replacing(const Replacing&) = delete;
    Replacing& operator=(const Replacing&) = delete;

    Result<void> add(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
    // The same, with what FileSystem::inspect said of path already.
    Result<void> add(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                     const std::optional<FileInfo>& existing);
    // The folders are flushed after the renames. A failure there leaves the
    // files whole and in place, so it is ignored unless the caller must know
    // the new names are durable (a journal does).
    enum class Folders { BestEffort, MustFlush };
    Result<void> commit(Folders folders = Folders::BestEffort);

private:
    // Names as text: a path object keeps every component apart, and a pack's
    // 1,664 steps of three paths each took megabytes, page by page.
    using Text = std::filesystem::path::string_type;
    struct Step {
        Text path;    // as the caller named it
        Text target;  // where it lands, links followed
        Text temp;    // written and not yet renamed
    };
    void removeTemps();
    Result<void> discard(const Error& error);
    Result<std::optional<FileInfo>> inspect(const std::filesystem::path& path);

    FileSystem& fs_;
    bool many_;
    MayReplace mayReplace_;
    std::vector<Step> steps_;
    // With many files, each folder's names, listed once, in lower case, by
    // the folder's text; nothing for a folder that cannot be listed.
    std::vector<std::pair<Text, std::optional<std::vector<Text>>>> listed_;
};

// Replaces the last `drop` characters (not bytes) of path's text by suffix;
// nothing when the text has fewer characters or is not valid Unicode.
std::optional<std::filesystem::path> replaceTail(const std::filesystem::path& path,
                                                 std::size_t drop, std::u32string_view suffix);

}  // namespace pelloran::fileio

template <>
struct std::is_error_code_enum<pelloran::fileio::Fault> : std::true_type {
};
