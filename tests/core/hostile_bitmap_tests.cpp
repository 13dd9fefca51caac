// Hostile bitmaps by property: thousands of variants of our exported 64 x 80
// and 32 x 40 files and of files other programs wrote, each judged by the
// rule of the export format written out independently
// (support/import_rule.h), and by the import of every BMP variant:
//  - a file in the exact export format (the rule takes it, and it defines all
//    256 entries) imported into the rule's record gives exactly that record;
//  - a file cut short is refused as truncated where it ends;
//  - any other file the import takes has, pixel for pixel, the colours that
//    Pillow, an independent reader, sees in it.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>
#include <string_view>

#include "archive/layout.h"
#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "bitmap/import.h"
#include "demo_archives.h"
#include "support/hostile_bitmaps.h"
#include "support/import_rule.h"
#include "support/pillow_reader.h"
#include "support/test_files.h"

namespace {

using namespace pelloran;
using archive::Slot;
using pelloran::testing::HostileFile;
namespace rule = pelloran::testing::rule;
using Bytes = std::vector<std::uint8_t>;

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

const char* faultName(bitmap::DecodeFault fault)
{
    constexpr const char* kNames[] = {"not a bitmap",
                                      "truncated",
                                      "unsupported header",
                                      "not portrait size",
                                      "unsupported planes",
                                      "unsupported depth",
                                      "unsupported compression",
                                      "bad bit fields",
                                      "bad palette length",
                                      "pixels inside header",
                                      "run past picture",
                                      "index beyond palette"};
    return kNames[static_cast<int>(fault)];
}

// Files other programs wrote, one of each kind, as bases for variants.
constexpr const char* kForeignBases[] = {
    "gimp-32x40.bmp",
    "gimp-as-v4-header-32x40.bmp",
    "imagemagick-os2-32x40.bmp",
    "gimp-rle8-32x40.bmp",
    "graphicsmagick-rle8-32x40.bmp",
    "gimp-rle4-16-colours-32x40.bmp",
    "gimp-1bit-2-colours-32x40.bmp",
    "gimp-reindexed-128-colours-32x40.bmp",
    "pillow-rgb-32x40.bmp",
    "imagemagick-edit-32bit-128-colours-32x40.bmp",
    "imagemagick-edit-as-52-byte-header-32x40.bmp",
    "top-down-32x40.bmp",
};

// Colour of pixel i of a record, 0xRRGGBB.
std::uint32_t colourAt(const Bytes& record, std::size_t pixels, std::size_t i)
{
    const std::size_t at = pixels + 4 * std::size_t{record[i]};
    return std::uint32_t{record[at + 2]} << 16 | record[at + 1] << 8 | record[at];
}

TEST(HostileBitmaps, TheImportOfEveryVariantFollowsTheRuleAndPillow)
{
    std::map<rule::Outcome, int> tally;
    std::map<std::string, int> importTally;
    int tried = 0;
    const auto foreign = std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign";
    std::vector<std::pair<std::string, Bytes>> bases = {{"64x80 ", exported(Slot::Large, 57)},
                                                        {"32x40 ", exported(Slot::Small, 57)}};
    for (const char* name : kForeignBases)
        bases.emplace_back(std::string(name) + " ", pelloran::testing::readFile(foreign / name));

    // Accepted variants whose record is new, for Pillow to read in one run.
    pelloran::testing::TempDir dir;
    struct Taken {
        std::string name;
        std::filesystem::path path;
        Bytes record;
    };
    std::vector<Taken> taken;
    // As text: gcc 12 at -O3 warns falsely about a set of byte vectors.
    std::set<std::string> records;
    const Bytes largeCurrent = demo::demoRecord(Slot::Large, 832);
    const Bytes smallCurrent = demo::demoRecord(Slot::Small, 832);
    for (const auto& [prefix, valid] : bases) {
        for (const HostileFile& file : pelloran::testing::hostileVariants(valid)) {
            SCOPED_TRACE(prefix + file.name);
            ++tried;
            const rule::Outcome expected = rule::judge(file.bytes);
            ++tally[expected];

            const auto imported = bitmap::importBitmap(file.bytes, {largeCurrent, smallCurrent});
            const bool acceptedByRule =
                expected == rule::Outcome::Large || expected == rule::Outcome::Small;
            const std::uint32_t coloursUsed = rule::little32(file.bytes, 46);
            if (acceptedByRule && (coloursUsed == 0 || coloursUsed == 256)) {
                const Slot slot = expected == rule::Outcome::Large ? Slot::Large : Slot::Small;
                const archive::SlotLayout& layout = archive::layoutOf(slot);
                const Bytes ruled = rule::recordOf(file.bytes, layout.width, layout.height());
                ASSERT_TRUE(imported) << "the export format is refused";
                ASSERT_EQ(imported->slot, slot);
                const auto back = bitmap::importBitmap(file.bytes, {ruled, ruled});
                ASSERT_EQ(back->record, ruled);
            }
            if (file.name.starts_with("cut at ") && file.bytes.size() >= 2) {
                ASSERT_FALSE(imported);
                const auto& refusal = std::get<bitmap::Refusal>(imported.error());
                ASSERT_STREQ(faultName(refusal.found.fault), "truncated");
                ASSERT_EQ(refusal.found.found, static_cast<std::int64_t>(file.bytes.size()));
            }
            if (!imported) {
                ++importTally[faultName(std::get<bitmap::Refusal>(imported.error()).found.fault)];
                continue;
            }
            ++importTally["taken"];
            if (!records.emplace(imported->record.begin(), imported->record.end()).second) continue;
            taken.push_back({prefix + file.name, dir / ("taken" + std::to_string(taken.size())),
                             imported->record});
            pelloran::testing::writeFile(taken.back().path, file.bytes);
        }
    }
    std::cout << "[ hostile  ] " << tried << " bitmaps:";
    for (const auto& [outcome, count] : tally)
        std::cout << " " << count << " " << nameOf(outcome) << ";";
    std::cout << "\n[ hostile  ] import of every variant:";
    for (const auto& [outcome, count] : importTally)
        std::cout << " " << count << " " << outcome << ";";
    std::cout << "\n";
    RecordProperty("hostile_bitmaps", tried);
    // The variants reach every outcome of the rule, and every fault of the
    // import as well as files it takes.
    EXPECT_EQ(tally.size(), 5u);
    EXPECT_EQ(importTally.size(), 13u);
    EXPECT_GT(tried, 20000);

    if (!pelloran::testing::pillowAvailable()) {
        std::cout << "[ hostile  ] Pillow is not installed: taken variants not compared\n";
        return;
    }
    std::vector<std::filesystem::path> paths;
    for (const Taken& t : taken) paths.push_back(t.path);
    const auto pillow = pelloran::testing::readWithPillow(paths);
    int compared = 0;
    for (const Taken& t : taken) {
        SCOPED_TRACE(t.name);
        const auto& seen = pillow.at(t.path);
        if (!seen.error.empty()) continue;  // Pillow is stricter here, or cannot read the kind
        const std::size_t pixels = t.record.size() - 1024;
        ASSERT_EQ(seen.colours.size(), pixels);
        for (std::size_t i = 0; i < pixels; ++i)
            ASSERT_EQ(colourAt(t.record, pixels, i), seen.colours[i]) << "pixel " << i;
        ++compared;
    }
    std::cout << "[ hostile  ] " << compared << " of " << taken.size()
              << " distinct taken variants compared with Pillow\n";
    EXPECT_GT(compared, static_cast<int>(taken.size()) / 2);
}

// The rule itself, held to answers worked out by hand, so that it cannot
// share a mistake with the import it judges.
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
