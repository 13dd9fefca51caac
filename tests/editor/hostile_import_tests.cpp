// Hostile bitmaps offered to the real window: a dozen variants of the files
// it exported itself, one of each kind the core's sweep (hardening_tests)
// tries by the thousand. The window takes exactly what the core's import
// takes, into the slot it names and as the record it makes; a refused file
// gets one warning that starts with the check's message, changes nothing and
// never reaches an archive, even when the write button is pressed.
#include <QPushButton>
#include <iostream>
#include <set>

#include "bitmap/import.h"
#include "editor/editor_fixture.h"
#include "platform/paths.h"
#include "support/hostile_bitmaps.h"

namespace pelloran::testing {
namespace {

class HostileImportTest : public WindowFixture {};

using archive::Slot;
using Bytes = std::vector<std::uint8_t>;

QString messageOf(bitmap::Check check)
{
    switch (check) {
        case bitmap::Check::Width:
            return "导入的图片宽度必须为64或32像素！";
        case bitmap::Check::Height:
            return "导入的图片高度必须为80或40像素！";
        case bitmap::Check::Format:
            break;
    }
    return "导入的图片必须为64×80或32×40的BMP或PNG图片！";
}

const std::set<std::string> kRepresentative = {
    "bfType=0x0",    "bfSize=0x1837",   "biWidth=0x3f",      "biHeight=0xffffffb0",
    "biHeight=0x28", "biBitCount=0x18", "biCompression=0x1", "bfOffBits=0x437",
    "cut at 3",      "cut at 1078",     "longer by 2",       "biClrUsed=0xffffffff",
};

TEST_F(HostileImportTest, TheWindowTakesWhatTheCoreTakesAndNeverWritesARefusedFile)
{
    openArchives();
    browseTo(6);
    dialog.answer(platform::toQString(folder / "base.bmp"));
    form->Command3->click();
    ASSERT_EQ(messages.titles(), QStringList{"说明"});

    int tried = 0, refused = 0;
    for (const char* base : {"base.bmp", "baseT.BMP"}) {
        for (const HostileFile& file : hostileVariants(readFile(folder / base))) {
            if (!kRepresentative.contains(file.name)) continue;
            SCOPED_TRACE(std::string(base) + " " + file.name);
            ++tried;
            const auto path = folder / "hostile.bmp";
            writeFile(path, file.bytes);
            const auto before = form->session().state();
            const bool writeEnabled = form->Command5->isEnabled();
            messages.clear();
            dialog.answer(platform::toQString(path));
            form->Command4->click();

            const auto expected =
                bitmap::importBitmap(file.bytes, {before.large.loaded, before.small.loaded});
            if (expected) {
                ASSERT_TRUE(messages.shown().empty());
                const Slot slot = expected->slot;
                EXPECT_TRUE(slot == Slot::Large ? form->LargePending : form->SmallPending);
                form->Command5->click();
                ASSERT_EQ(messages.titles(), (QStringList{"说明"}));
                const archive::SlotLayout& layout = archive::layoutOf(slot);
                const Bytes archiveNow =
                    readFile(slot == Slot::Large ? largeArchive() : smallArchive());
                const auto start = archiveNow.begin() +
                                   static_cast<std::ptrdiff_t>(archive::recordOffset(layout, 6));
                ASSERT_EQ(Bytes(start, start + layout.recordSize), expected->record);
                browseTo(7);
                browseTo(6);
                continue;
            }
            ++refused;
            ASSERT_EQ(messages.shown().size(), 1u);
            EXPECT_EQ(messages.shown().front().title, "警告");
            const auto& refusal = std::get<bitmap::Refusal>(expected.error());
            ASSERT_TRUE(messages.shown().front().text.startsWith(messageOf(refusal.check) + "\r"));
            EXPECT_EQ(form->Command5->isEnabled(), writeEnabled);
            EXPECT_TRUE(form->session().state() == before);

            // Write-back, whether its button is enabled or not, touches no file.
            files.clearLog();
            form->Command5_Click();
            EXPECT_EQ(files.operationCount(), 0u);
        }
    }
    std::cout << "[ hostile  ] " << tried << " bitmaps offered to the window, " << refused
              << " refused\n";
    RecordProperty("hostile_bitmaps", tried);
}

}  // namespace
}  // namespace pelloran::testing
