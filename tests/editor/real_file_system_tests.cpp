// Faults of a real file system rather than a simulated one: a small memory
// file system (tmpfs) mounted for the test, filled up or made read-only. Needs
// root and a kernel that lets the test mount; elsewhere the tests say why
// they are skipped.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <string>

#include "bitmap/bitmap.h"
#include "editor/editor_fixture.h"
#include "platform/paths.h"

namespace pelloran::testing {
namespace {

using archive::Slot;
using Bytes = std::vector<std::uint8_t>;

// A tmpfs of a given size at a folder, unmounted when the object goes,
// whatever the test did in between.
class MemoryMount {
public:
    MemoryMount(std::filesystem::path at, std::size_t bytes)
        : at_(std::move(at)), options_("size=" + std::to_string(bytes) + ",mode=0755")
    {
        std::filesystem::create_directories(at_);
        if (::geteuid() != 0) {
            whyNot_ = "mounting a memory file system needs root";
            return;
        }
        if (::mount("tmpfs", at_.c_str(), "tmpfs", 0, options_.c_str()) != 0) {
            whyNot_ = std::string("mounting a memory file system is not permitted here: ") +
                      std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~MemoryMount()
    {
        if (mounted_ && ::umount(at_.c_str()) != 0) ::umount2(at_.c_str(), MNT_DETACH);
    }
    MemoryMount(const MemoryMount&) = delete;
    MemoryMount& operator=(const MemoryMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return whyNot_; }

    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", at_.c_str(), "tmpfs", flags, options_.c_str()) == 0;
    }

    // Writes one file until the file system has no room left; returns its path.
    std::filesystem::path fill() const
    {
        const auto path = at_ / "filler";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const Bytes chunk(4096, 0xF1);
        while (fd >= 0 && ::write(fd, chunk.data(), chunk.size()) > 0) {
        }
        if (fd >= 0) ::close(fd);
        return path;
    }

private:
    std::filesystem::path at_;
    std::string options_;
    std::string whyNot_;
    bool mounted_ = false;
};

class RealFileSystemTest : public WindowFixture {};

TEST_F(RealFileSystemTest, ExportIntoAFullFileSystemLeavesTheTargetAsItWas)
{
    MemoryMount disk(folder / "disk", 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    openArchives();
    const auto target = folder / "disk" / "face.bmp";
    const auto smallTarget = folder / "disk" / "faceT.BMP";
    const Bytes old(3000, 0x11);
    writeFile(target, old);
    writeFile(smallTarget, old);
    const auto filler = disk.fill();

    dialog.answer(platform::toQString(target));
    form->Command3->click();
    ASSERT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_TRUE(messages.shown().front().text.contains(platform::toQString(target)));
    EXPECT_TRUE(messages.shown().front().text.contains("磁盘空间不足"));
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(readFile(smallTarget), old);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "disk"))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    EXPECT_EQ(names, (std::vector<std::string>{"face.bmp", "faceT.BMP", "filler"}));

    // With room again, the same export goes through.
    std::filesystem::remove(filler);
    messages.clear();
    dialog.answer(platform::toQString(target));
    form->Command3->click();
    EXPECT_EQ(messages.titles(), QStringList{"说明"});
    EXPECT_EQ(readFile(target).size(), 6198u);
    EXPECT_EQ(readFile(smallTarget).size(), 2358u);
}

TEST_F(RealFileSystemTest, WriteBackIntoAReadOnlyFileSystemLeavesTheArchiveAsItWas)
{
    MemoryMount disk(folder / "disk", 16 * 1024 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    const auto large = folder / "disk" / "GRPFACES.S10";
    writeFile(large, patternArchive(Slot::Large));
    writeFile(folder / "disk" / "GRPFACET.S10", patternArchive(Slot::Small));
    open(large);
    browseTo(3);
    const auto edited = static_cast<std::uint8_t>(~patternIndex(Slot::Large, 3, 0, 0));
    dialog.answer(platform::toQString(editedBitmap(Slot::Large, 3, 0, 0, edited, "edited.bmp")));
    form->Command4->click();
    ASSERT_TRUE(messages.shown().empty());
    const Bytes before = readFile(large);

    ASSERT_TRUE(disk.setReadOnly(true));
    form->Command5->click();
    ASSERT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_TRUE(messages.shown().front().text.contains(platform::toQString(large)));
    EXPECT_TRUE(messages.shown().front().text.contains("磁盘是只读的"));
    EXPECT_EQ(readFile(large), before);
    EXPECT_TRUE(form->LargePending);
    EXPECT_TRUE(form->Command5->isEnabled());

    // Export into the read-only folder fails the same way and leaves nothing.
    messages.clear();
    dialog.answer(platform::toQString(folder / "disk" / "face.bmp"));
    form->Command3->click();
    EXPECT_EQ(messages.titles(), QStringList{"错误"});
    EXPECT_FALSE(std::filesystem::exists(folder / "disk" / "face.bmp"));

    // Writable again, the pending import is written.
    ASSERT_TRUE(disk.setReadOnly(false));
    messages.clear();
    form->Command5->click();
    EXPECT_EQ(messages.titles(), QStringList{"说明"});
    const auto offset = archive::recordOffset(archive::kLargeLayout, 3);
    EXPECT_EQ(readFile(large)[offset],
              static_cast<std::uint8_t>(~patternIndex(Slot::Large, 3, 0, 0)));
}

}  // namespace
}  // namespace pelloran::testing
