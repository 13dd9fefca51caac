// Hostile bitmaps offered to the real window: a dozen variants of the files
// it exported itself, one of each kind the core's sweep (hardening_tests)
// tries by the thousand, each judged by the rule written out independently
// (support/import_rule.h). A refused file gets the rule's message, changes
// nothing and never reaches an archive, even when the write button is
// pressed; an accepted one is written as exactly the record the rule names.
#include <QPushButton>
#include <iostream>
#include <set>

#include "editor/editor_fixture.h"
#include "platform/paths.h"
#include "support/hostile_bitmaps.h"
#include "support/import_rule.h"

namespace pelloran::testing {
namespace {

class HostileImportTest : public WindowFixture {};

using archive::Slot;
using Bytes = std::vector<std::uint8_t>;

QString messageOf(rule::Outcome outcome)
{
    switch (outcome) {
        case rule::Outcome::WidthRefusal:
            return "导入的图片宽度必须为64或32像素！";
        case rule::Outcome::HeightRefusal:
            return "导入的图片高度必须为80或40像素！";
        case rule::Outcome::FormatRefusal:
            return "导入的图片必须为256色64×80或32×40的BMP图片！";
        case rule::Outcome::Large:
        case rule::Outcome::Small:
            break;
    }
    return {};
}

const std::set<std::string> kRepresentative = {
    "bfType=0x0",    "bfSize=0x1837",   "biWidth=0x3f",      "biHeight=0xffffffb0",
    "biHeight=0x28", "biBitCount=0x18", "biCompression=0x1", "bfOffBits=0x437",
    "cut at 3",      "cut at 1078",     "longer by 2",       "biClrUsed=0xffffffff",
};

TEST_F(HostileImportTest, HostileBitmapsAreRefusedByTheRuleAndNeverWritten)
{
    openArchives();
    browseTo(6);
    dialog.answer(platform::toQString(folder / "base.bmp"));
    form->Command3->click();
    ASSERT_EQ(messages.titles(), QStringList{"说明"});

    int tried = 0, refused = 0;
    for (const auto& [base, slot] :
         {std::pair{"base.bmp", Slot::Large}, std::pair{"baseT.BMP", Slot::Small}}) {
        for (const HostileFile& file : hostileVariants(readFile(folder / base))) {
            if (!kRepresentative.contains(file.name)) continue;
            SCOPED_TRACE(std::string(base) + " " + file.name);
            ++tried;
            const auto path = folder / "hostile.bmp";
            writeFile(path, file.bytes);
            const bool writeEnabled = form->Command5->isEnabled();
            const auto largePending = form->LargePending, smallPending = form->SmallPending;
            const QImage largeShown = form->Pic1->picture(), smallShown = form->Pic2->picture();
            messages.clear();
            dialog.answer(platform::toQString(path));
            form->Command4->click();

            const rule::Outcome outcome = rule::judge(file.bytes);
            if (outcome == rule::Outcome::Large || outcome == rule::Outcome::Small) {
                ASSERT_TRUE(messages.shown().empty());
                const Slot accepted = outcome == rule::Outcome::Large ? Slot::Large : Slot::Small;
                EXPECT_TRUE(accepted == Slot::Large ? form->LargePending : form->SmallPending);
                form->Command5->click();
                ASSERT_EQ(messages.titles(), QStringList{"说明"});
                const archive::SlotLayout& layout = archive::layoutOf(accepted);
                const Bytes archiveNow =
                    readFile(accepted == Slot::Large ? largeArchive() : smallArchive());
                const auto start = archiveNow.begin() +
                                   static_cast<std::ptrdiff_t>(archive::recordOffset(layout, 6));
                ASSERT_EQ(Bytes(start, start + layout.recordSize),
                          rule::recordOf(file.bytes, layout.width, layout.height()));
                continue;
            }
            ++refused;
            ASSERT_EQ(messages.shown().size(), 1u);
            EXPECT_EQ(messages.shown().front().title, "警告");
            ASSERT_EQ(messages.shown().front().text, messageOf(outcome));
            EXPECT_EQ(form->Command5->isEnabled(), writeEnabled);
            EXPECT_EQ(form->LargePending, largePending);
            EXPECT_EQ(form->SmallPending, smallPending);
            EXPECT_TRUE(form->Pic1->picture() == largeShown && form->Pic2->picture() == smallShown);

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
