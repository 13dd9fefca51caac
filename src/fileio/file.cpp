#include "fileio/file.h"

#include <thread>

#include <algorithm>
#include <string>

namespace pelloran::fileio {

const std::error_category& faultCategory()
{
    static const FaultCategory category("pelloran.fileio", [](int value) -> std::string {
        switch (static_cast<Fault>(value)) {
            case Fault::ShortWrite:
                return "the system wrote only part of the data";
            case Fault::WriteProtected:
                return "the file is write-protected";
            case Fault::NotRegularFile:
                return "not a regular file";
            case Fault::Locked:
                return "another program is writing the file";
        }
        return "unknown fault";
    });
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

Result<void> File::setPermissions(std::uint32_t)
{
    return {};
}

Result<void> FileSystem::syncFolder(const std::filesystem::path&)
{
    return {};
}

// Portable: each file opened again and flushed. A file that cannot be
// opened for writing any more is no longer ours to flush.
Result<void> FileSystem::flushClosed(std::span<const std::filesystem::path> files)
{
    for (const auto& path : files) {
        auto file = openReadWrite(path);
        if (!file) return std::unexpected(Error{path, Operation::Flush, file.error().code});
        if (auto flushed = (*file)->flush(); !flushed) return flushed;
        if (auto closed = (*file)->close(); !closed) return closed;
    }
    return {};
}

// The portable answers of std::filesystem, which both systems' file layers
// use; a system that knows better overrides them.
Result<std::optional<FileInfo>> FileSystem::inspect(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    // A dangling link names no file either: a write replaces the link.
    if (status.type() == fs::file_type::not_found) return std::nullopt;
    if (code) return std::unexpected(Error{path, Operation::Open, code});
    // Only a link leads a write elsewhere; other names are written where
    // they are, which spares resolving every folder on the way.
    fs::path target = path;
    if (fs::is_symlink(fs::symlink_status(path, code))) target = fs::canonical(path, code);
    if (code) return std::unexpected(Error{path, Operation::Open, code});
    const fs::perms permissions = status.permissions();
    constexpr fs::perms kWrite =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return FileInfo{std::move(target), static_cast<std::uint32_t>(permissions & fs::perms::mask),
                    (permissions & kWrite) == fs::perms::none};
}

Result<bool> FileSystem::sameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code code;
    const bool same = std::filesystem::equivalent(a, b, code);
    if (code == std::errc::no_such_file_or_directory) return false;
    if (code) return std::unexpected(Error{a, Operation::Open, code});
    return same;
}

Result<std::vector<std::filesystem::path>> FileSystem::listFolder(
    const std::filesystem::path& folder)
{
    std::error_code code;
    std::vector<std::filesystem::path> names;
    const std::filesystem::path where = folder.empty() ? "." : folder;
    for (std::filesystem::directory_iterator it(where, code), end; !code && it != end;
         it.increment(code))
        names.push_back(it->path().filename());
    if (code) return std::unexpected(Error{where, Operation::Open, code});
    return names;
}

Result<std::unique_ptr<Lock>> FileSystem::tryLock(const std::filesystem::path&)
{
    return std::make_unique<Lock>();
}

Result<std::unique_ptr<Lock>> lockFile(FileSystem& fs, const std::filesystem::path& path,
                                       std::chrono::milliseconds wait,
                                       const std::function<void()>& onWaiting)
{
    // Polled, not slept on in the system: a lock that blocks cannot be given
    // up after a while on every system, and an operation takes milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(5);
    for (bool first = true;; first = false) {
        auto lock = fs.tryLock(path);
        if (!lock || *lock) return lock;
        if (first && onWaiting) onWaiting();
        if (std::chrono::steady_clock::now() >= deadline)
            return std::unexpected(Error{path, Operation::Open, Fault::Locked});
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
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

namespace {

// From this many files on, the new contents are made durable together after
// all are written rather than each before it is closed: a pack of hundreds
// of portraits then costs one flush, not hundreds. A window's pair keeps a
// flush of each file, which on a disk busy with other programs' writes costs
// less than flushing everything the file system holds.
constexpr std::size_t kFlushTogether = 8;

// Writes bytes into a new file beside target, with target's permission bits
// when it has some, and, when flush is set, makes it durable; returns the
// new file's name. The file lives in the target's folder so that the rename
// into place stays within one file system and is atomic. A leftover of an earlier run that
// was killed is never reused: the next free name is taken. Errors name the
// target; nothing is left behind on failure.
Result<std::filesystem::path> writeBeside(FileSystem& fs, const std::filesystem::path& target,
                                          std::optional<std::uint32_t> permissions,
                                          std::span<const std::uint8_t> bytes, bool flush)
{
    constexpr int kAttempts = 100;
    std::filesystem::path temp;
    Result<std::unique_ptr<File>> file = std::unexpected(Error{target, Operation::Open, {}});
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temp = target;
        temp += ".pelloran-" + std::to_string(attempt) + ".tmp";
        file = fs.createNew(temp);
        if (file || file.error().code != std::errc::file_exists) break;
    }
    if (!file) return std::unexpected(Error{target, file.error().operation, file.error().code});

    const auto fail = [&](const Error& error) -> Result<std::filesystem::path> {
        file->reset();
        (void)fs.remove(temp);
        return std::unexpected(Error{target, error.operation, error.code});
    };
    if (permissions)
        if (auto r = (*file)->setPermissions(*permissions); !r) return fail(r.error());
    if (auto r = (*file)->writeAt(0, bytes); !r) return fail(r.error());
    if (flush)
        if (auto r = (*file)->flush(); !r) return fail(r.error());
    if (auto r = (*file)->close(); !r) return fail(r.error());
    return temp;
}

}  // namespace

Replacing::Replacing(FileSystem& fs, bool many, MayReplace mayReplace)
    : fs_(fs), many_(many), mayReplace_(std::move(mayReplace))
{
}

Replacing::~Replacing()
{
    removeTemps();
}

void Replacing::removeTemps()
{
    for (const Step& step : steps_)
        if (!step.temp.empty()) (void)fs_.remove(step.temp);
}

Result<void> Replacing::discard(const Error& error)
{
    removeTemps();
    steps_.clear();
    return std::unexpected(error);
}

namespace {

using Text = std::filesystem::path::string_type;
using TextView = std::basic_string_view<std::filesystem::path::value_type>;

#ifdef _WIN32
constexpr TextView kSeparators = L"/\\";
#else
constexpr TextView kSeparators = "/";
#endif

// A path's text split at its last separator: the folder's text, a key that
// paths in one folder share, and the name. Cheaper than parent_path() and
// filename(), which build new paths, for every file of a pack.
std::pair<TextView, TextView> folderAndName(TextView text)
{
    const auto at = text.find_last_of(kSeparators);
    if (at == TextView::npos) return {TextView(), text};
    // The root's own separator is its text: "/x" is not in the folder "" of "x".
    return {text.substr(0, at == 0 ? 1 : at), text.substr(at + 1)};
}

Text lowerCase(TextView name)
{
    Text text(name);
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<std::filesystem::path::value_type>(c - 'A' + 'a');
    return text;
}

}  // namespace

// With many files coming, each folder is listed once, and a name it does not
// hold is not looked up: a new pack's hundreds of names cost one listing,
// not a look-up each. Names are compared ignoring case, as some file
// systems do, so that no existing file is taken for absent.
Result<std::optional<FileInfo>> Replacing::inspect(const std::filesystem::path& path)
{
    if (!many_) return fs_.inspect(path);
    const auto [folder, name] = folderAndName(path.native());
    auto listing = std::ranges::find(listed_, folder, &decltype(listed_)::value_type::first);
    if (listing == listed_.end()) {
        // A folder that cannot be listed is asked about name by name.
        std::optional<std::vector<Text>> lower;
        if (auto names = fs_.listFolder(path.parent_path())) {
            lower.emplace();
            lower->reserve(names->size());
            for (const auto& listed : *names) lower->push_back(lowerCase(listed.native()));
            std::ranges::sort(*lower);
        }
        listed_.emplace_back(Text(folder), std::move(lower));
        listing = std::prev(listed_.end());
    }
    if (listing->second && !std::ranges::binary_search(*listing->second, lowerCase(name)))
        return std::nullopt;
    return fs_.inspect(path);
}

Result<void> Replacing::add(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    const auto info = inspect(path);
    if (!info) return discard({path, info.error().operation, info.error().code});
    return add(path, bytes, *info);
}

Result<void> Replacing::add(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                            const std::optional<FileInfo>& info)
{
    if (info && info->writeProtected)
        return discard({path, Operation::Write, Fault::WriteProtected});
    if (info && mayReplace_) {
        const Replacement file{path, bytes};
        const auto allowed = mayReplace_(file, *info);
        if (!allowed) return discard(allowed.error());
        if (!*allowed)
            return discard(
                {path, Operation::Write, std::make_error_code(std::errc::operation_not_permitted)});
    }
    const std::filesystem::path& target = info ? info->target : path;
    std::optional<std::uint32_t> permissions;
    if (info) permissions = info->permissions;
    auto written = writeBeside(fs_, target, permissions, bytes, !many_);
    if (!written) return discard({path, written.error().operation, written.error().code});
    steps_.push_back({path.native(), target.native(), written->native()});
    return {};
}

Result<void> Replacing::commit(Folders flushFolders)
{
    if (many_) {
        std::vector<std::filesystem::path> temps;
        temps.reserve(steps_.size());
        for (const Step& step : steps_) temps.emplace_back(step.temp);
        if (auto flushed = fs_.flushClosed(temps); !flushed) {
            // A temporary's name means nothing to the user; its target does.
            const auto failed =
                std::ranges::find(steps_, flushed.error().path.native(), &Step::temp);
            return discard({failed == steps_.end() ? flushed.error().path
                                                   : std::filesystem::path(failed->path),
                            Operation::Flush, flushed.error().code});
        }
    }
    for (Step& step : steps_) {
        if (auto renamed = fs_.rename(step.temp, step.target); !renamed)
            return discard({step.path, Operation::Rename, renamed.error().code});
        step.temp.clear();
    }
    // The new names are made durable where the system needs a step for it. A
    // folder that cannot be flushed after the files are whole and in place
    // changes nothing the user can see, as a failing close after a complete
    // write does not.
    std::vector<Text> seen;
    std::vector<std::filesystem::path> folders;
    for (const Step& step : steps_)
        if (const auto folder = folderAndName(step.target).first;
            std::ranges::find(seen, folder) == seen.end()) {
            seen.emplace_back(folder);
            folders.push_back(std::filesystem::path(step.target).parent_path());
        }
    steps_.clear();
    for (const auto& folder : folders)
        if (auto synced = fs_.syncFolder(folder); !synced && flushFolders == Folders::MustFlush)
            return synced;
    return {};
}

Result<void> replaceFiles(FileSystem& fs, std::span<const Replacement> files)
{
    // Everything that refuses the whole is found before anything is written.
    std::vector<std::optional<FileInfo>> existing;
    for (const Replacement& file : files) {
        auto info = fs.inspect(file.path);
        if (!info)
            return std::unexpected(Error{file.path, info.error().operation, info.error().code});
        if (*info && (*info)->writeProtected)
            return std::unexpected(Error{file.path, Operation::Write, Fault::WriteProtected});
        existing.push_back(std::move(*info));
    }
    Replacing replacing(fs, files.size() >= kFlushTogether);
    for (std::size_t i = 0; i < files.size(); ++i)
        if (auto added = replacing.add(files[i].path, files[i].bytes, existing[i]); !added)
            return added;
    return replacing.commit();
}

Result<void> replaceFile(FileSystem& fs, const std::filesystem::path& path,
                         std::span<const std::uint8_t> bytes)
{
    const Replacement file{path, bytes};
    return replaceFiles(fs, std::span(&file, 1));
}

std::optional<std::filesystem::path> replaceTail(const std::filesystem::path& path,
                                                 std::size_t drop, std::u32string_view suffix)
{
    // Counted in characters, so a Chinese name loses whole characters, never
    // half of one.
    std::u32string text;
    try {
        text = path.u32string();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (text.size() < drop) return std::nullopt;
    text.resize(text.size() - drop);
    text += suffix;
    return std::filesystem::path(text);
}

}  // namespace pelloran::fileio
