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

#include "demo_archives.h"

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

}  // namespace

std::string describe(const std::filesystem::path& folder)
{
    // The folder's own name differs at every run; where it lies does not.
    return folder.parent_path().string() + " (" + fileSystemName(folder) + ")";
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

const TempDir& demoFolder()
{
    static const TempDir folder(diskRoot());
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

bool samePixels(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

QString firstError(const testing::ScriptedMessageBoxes& messages)
{
    for (const auto& shown : messages.shown())
        if (shown.icon == platform::MessageIcon::Critical) return shown.text;
    return {};
}

OpenWindow::OpenWindow(const std::filesystem::path& folder, fileio::FileSystem& fileSystem)
    : form(std::make_unique<editor::Form1>(dialog, messages, fileSystem))
{
    form->show();
    settle();
    form->openPair(folder / "GRPFACES.S10");
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
