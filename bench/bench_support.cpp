#include "bench_support.h"

#include <sys/statfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <stdexcept>

#include "demo_archives.h"
#include "platform/paths.h"

namespace pelloran::bench {

namespace {

// Values of statfs(2)'s f_type for the file systems a report names.
constexpr long kTmpfsMagic = 0x01021994;
constexpr long kExt4Magic = 0xEF53;
constexpr long kBtrfsMagic = 0x9123683E;
constexpr long kXfsMagic = 0x58465342;
constexpr long kOverlayMagic = 0x794C7630;

std::string fileSystemName(const std::filesystem::path& path)
{
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) return "unknown";
    switch (static_cast<long>(info.f_type)) {
        case kTmpfsMagic:
            return "tmpfs";
        case kExt4Magic:
            return "ext2/3/4";
        case kBtrfsMagic:
            return "btrfs";
        case kXfsMagic:
            return "xfs";
        case kOverlayMagic:
            return "overlay";
        default:
            return "other";
    }
}

// Wraps an open file so that flush() returns at once.
class NoFlushFile final : public fileio::File {
public:
    explicit NoFlushFile(std::unique_ptr<fileio::File> real) : real_(std::move(real)) {}
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
    fileio::Result<void> close() override { return real_->close(); }

private:
    std::unique_ptr<fileio::File> real_;
};

fileio::Result<std::unique_ptr<fileio::File>> withoutFlush(
    fileio::Result<std::unique_ptr<fileio::File>> opened)
{
    if (!opened) return opened;
    return std::make_unique<NoFlushFile>(std::move(*opened));
}

}  // namespace

ScratchFolder::ScratchFolder(const std::filesystem::path& under)
{
    std::string pattern = (under / "pelloran-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a folder under " + under.string());
    path_ = pattern;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::describe() const
{
    // The folder's own name differs at every run; where it lies does not.
    return path_.parent_path().string() + " (" + fileSystemName(path_) + ")";
}

std::filesystem::path diskRoot()
{
    return std::filesystem::temp_directory_path();
}

std::filesystem::path memoryRoot()
{
    const std::filesystem::path shm = "/dev/shm";
    if (::access(shm.c_str(), W_OK) == 0 && fileSystemName(shm) == "tmpfs") return shm;
    return diskRoot();
}

bool writeWarmArchives(const std::filesystem::path& folder)
{
    if (!demo::writeDemoArchives(folder)) return false;
    for (const char* name : {"GRPFACES.S10", "GRPFACET.S10"}) {
        std::ifstream in(folder / name, std::ios::binary);
        std::array<char, 1 << 16> chunk;
        while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        }
    }
    return true;
}

const ScratchFolder& demoFolder()
{
    static const ScratchFolder folder(diskRoot());
    static const bool written = writeWarmArchives(folder.path());
    if (!written) {
        std::fprintf(stderr, "cannot write the demo archives into %s\n", folder.path().c_str());
        std::exit(EXIT_FAILURE);
    }
    return folder;
}

int spreadNumber(std::int64_t i, int first, int last)
{
    // A stride prime to the range's length visits every number once per lap,
    // and as it is far from 0 and the length, the next one is far away.
    const std::int64_t length = last - first + 1;
    const std::int64_t stride = length / 2 + (length % 2 == 0 ? 1 : 0) + 34;
    std::int64_t step = stride;
    while (std::gcd(step, length) != 1) ++step;
    return first + static_cast<int>((i * step) % length);
}

void AnsweringDialog::next()
{
    if (answers_.empty()) {
        fileName = QString();
        return;
    }
    fileName = answers_.front();
    answers_.pop_front();
}

platform::MessageAnswer AnsweringMessages::show(const QString& text, const QString&,
                                                platform::MessageIcon icon,
                                                platform::MessageButtons buttons)
{
    if (icon == platform::MessageIcon::Critical) {
        if (firstError_.isEmpty()) firstError_ = text;
    } else {
        ++notices_;
    }
    return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::Yes
                                                      : platform::MessageAnswer::Ok;
}

fileio::Result<std::unique_ptr<fileio::File>> NoFlushFileSystem::openRead(
    const std::filesystem::path& path)
{
    return withoutFlush(fileio::nativeFileSystem().openRead(path));
}

fileio::Result<std::unique_ptr<fileio::File>> NoFlushFileSystem::openReadWrite(
    const std::filesystem::path& path)
{
    return withoutFlush(fileio::nativeFileSystem().openReadWrite(path));
}

fileio::Result<std::unique_ptr<fileio::File>> NoFlushFileSystem::createNew(
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

OpenWindow::OpenWindow(const std::filesystem::path& folder, fileio::FileSystem& fileSystem)
    : form(std::make_unique<editor::Form1>(dialog, messages, fileSystem))
{
    form->show();
    settle();
    dialog.answer(platform::toQString(folder / "GRPFACES.S10"));
    form->Command1->click();
    settle();
}

OpenWindow::~OpenWindow()
{
    form.reset();
    settle();
}

void OpenWindow::showNumber(int number)
{
    form->HScroll1->setValue(number);
    settle();
}

void settle()
{
    QCoreApplication::processEvents();
}

void sweepEveryNumber(editor::Form1& form)
{
    form.Option3->click();
    settle();
    for (int number = archive::kFirstNumber + 1; number <= archive::kLastHistoricalNumber;
         ++number) {
        form.HScroll1->setValue(number);
        settle();
    }
    form.Option1->click();
    settle();
    for (int number = archive::kFirstNewNumber + 1; number <= archive::kLastNumber; ++number) {
        form.HScroll1->setValue(number);
        settle();
    }
}

std::optional<std::string> runSelf(const std::vector<std::string>& args)
{
    // The arguments are our own: paths of folders we made and fixed flags.
    auto quoted = [](const std::string& text) {
        std::string word(1, '\'');
        word.append(text);
        word.push_back('\'');
        return word;
    };
    std::string command = quoted(std::filesystem::read_symlink("/proc/self/exe").string());
    for (const std::string& arg : args) {
        command.push_back(' ');
        command.append(quoted(arg));
    }
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) return std::nullopt;
    std::string output;
    std::array<char, 256> chunk;
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), child))
        output.append(chunk.data(), n);
    if (::pclose(child) != 0) return std::nullopt;
    return output;
}

std::uint64_t peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            std::uint64_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

void skipWithError(benchmark::State& state, const QString& why)
{
    state.SkipWithError(why.toStdString().c_str());
}

}  // namespace pelloran::bench
