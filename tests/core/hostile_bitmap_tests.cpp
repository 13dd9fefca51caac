// Hostile bitmaps by property: thousands of variants of our exported 64 x 80
// and 32 x 40 files, each judged by the import check and by the rule written
// out independently (support/import_rule.h). An accepted file must turn into
// exactly the record the rule names.
#include <gtest/gtest.h>

#include <iostream>
#include <map>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "demo_archives.h"
#include "support/hostile_bitmaps.h"
#include "support/import_rule.h"

namespace {

using namespace pelloran;
using archive::Slot;
using bitmap::ImportVerdict;
using pelloran::testing::HostileFile;
namespace rule = pelloran::testing::rule;
using Bytes = std::vector<std::uint8_t>;

rule::Outcome outcomeOf(ImportVerdict verdict)
{
    switch (verdict) {
        case ImportVerdict::Large:
            return rule::Outcome::Large;
        case ImportVerdict::Small:
            return rule::Outcome::Small;
        case ImportVerdict::NotPortraitBitmap:
            return rule::Outcome::FormatRefusal;
        case ImportVerdict::BadWidth:
            return rule::Outcome::WidthRefusal;
        case ImportVerdict::BadHeight:
            return rule::Outcome::HeightRefusal;
    }
    return rule::Outcome::FormatRefusal;
}

const char* nameOf(rule::Outcome outcome)
{
    constexpr const char* kNames[] = {"large", "small", "format refusal", "width refusal",
                                      "height refusal"};
    return kNames[static_cast<int>(outcome)];
}

Bytes exported(Slot slot, int number)
{
    return bitmap::encodeRecord(slot, demo::demoRecord(slot, number));
}

TEST(HostileBitmaps, ImportCheckAndRecordFollowTheRuleForEveryVariant)
{
    std::map<rule::Outcome, int> tally;
    int tried = 0;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const Bytes valid = exported(slot, 57);
        ASSERT_EQ(rule::judge(valid),
                  slot == Slot::Large ? rule::Outcome::Large : rule::Outcome::Small);
        for (const HostileFile& file : pelloran::testing::hostileVariants(valid)) {
            SCOPED_TRACE((slot == Slot::Large ? "64x80 " : "32x40 ") + file.name);
            ++tried;
            const rule::Outcome expected = rule::judge(file.bytes);
            ++tally[expected];
            ASSERT_EQ(nameOf(outcomeOf(bitmap::checkImport(file.bytes))),
                      std::string(nameOf(expected)));
            if (expected != rule::Outcome::Large && expected != rule::Outcome::Small) continue;

            const Slot accepted = expected == rule::Outcome::Large ? Slot::Large : Slot::Small;
            const archive::SlotLayout& layout = archive::layoutOf(accepted);
            Bytes record(layout.recordSize, 0xAA);
            bitmap::recordFromBitmap(file.bytes, accepted, record);
            ASSERT_EQ(record, rule::recordOf(file.bytes, layout.width, layout.height()));
        }
    }
    std::cout << "[ hostile  ] " << tried << " bitmaps:";
    for (const auto& [outcome, count] : tally)
        std::cout << " " << count << " " << nameOf(outcome) << ";";
    std::cout << "\n";
    RecordProperty("hostile_bitmaps", tried);
    // The variants reach every outcome, and most of them are refusals.
    EXPECT_EQ(tally.size(), 5u);
    EXPECT_GT(tried, 2500);
}

// The rule itself, held to answers worked out by hand, so that it cannot
// share a mistake with the check it judges.
TEST(HostileBitmaps, TheRuleGivesTheHandWorkedAnswers)
{
    const Bytes large = exported(Slot::Large, 1);
    const Bytes small = exported(Slot::Small, 1);
    std::map<std::string, Bytes> variants;
    for (const auto& [prefix, valid] : {std::pair{"64x80 ", &large}, std::pair{"32x40 ", &small}})
        for (HostileFile& file : pelloran::testing::hostileVariants(*valid))
            variants[prefix + file.name] = std::move(file.bytes);

    struct Row {
        const char* variant;
        rule::Outcome outcome;
    };
    const Row rows[] = {
        {"64x80 bfType=0x0", rule::Outcome::FormatRefusal},
        {"64x80 bfSize=0x1837", rule::Outcome::FormatRefusal},  // lowest size byte 55
        {"64x80 bfSize=0x11836", rule::Outcome::Large},         // only the lowest byte counts
        {"64x80 biWidth=0x20", rule::Outcome::FormatRefusal},   // 32 x 80
        {"64x80 biWidth=0x3f", rule::Outcome::WidthRefusal},
        {"64x80 biWidth=0x10040", rule::Outcome::FormatRefusal},      // low half 64, not 64 wide
        {"64x80 biHeight=0xffffffb0", rule::Outcome::HeightRefusal},  // top-down, -80
        {"64x80 biHeight=0x28", rule::Outcome::FormatRefusal},        // 64 x 40
        {"32x40 biHeight=0x50", rule::Outcome::FormatRefusal},        // 32 x 80
        {"32x40 biBitCount=0x0", rule::Outcome::FormatRefusal},
        {"32x40 biPlanes=0x0", rule::Outcome::FormatRefusal},
        {"32x40 biCompression=0x1", rule::Outcome::FormatRefusal},
        {"32x40 bfOffBits=0x437", rule::Outcome::FormatRefusal},
        {"32x40 biSize=0x29", rule::Outcome::FormatRefusal},
        {"32x40 biClrUsed=0xffffffff", rule::Outcome::Small},
        {"32x40 biSizeImage=0x0", rule::Outcome::Small},
        {"32x40 bfReserved1=0xffff", rule::Outcome::Small},
        {"64x80 byte1=0x4e", rule::Outcome::FormatRefusal},
        {"64x80 byte19=0xff", rule::Outcome::WidthRefusal},
        {"64x80 byte23=0x1", rule::Outcome::HeightRefusal},
        {"64x80 byte24=0x1", rule::Outcome::FormatRefusal},  // height 65616
        {"64x80 cut at 0", rule::Outcome::FormatRefusal},
        {"64x80 cut at 3", rule::Outcome::WidthRefusal},  // width reads as 0
        {"64x80 cut at 20", rule::Outcome::HeightRefusal},
        {"64x80 cut at 1078", rule::Outcome::FormatRefusal},
        {"64x80 cut at 6197", rule::Outcome::FormatRefusal},
        {"32x40 cut at 2357", rule::Outcome::FormatRefusal},
        {"64x80 longer by 2", rule::Outcome::Large},
        {"32x40 longer by 1", rule::Outcome::Small},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.variant);
        ASSERT_TRUE(variants.contains(row.variant));
        EXPECT_STREQ(nameOf(rule::judge(variants.at(row.variant))), nameOf(row.outcome));
    }
}

}  // namespace
