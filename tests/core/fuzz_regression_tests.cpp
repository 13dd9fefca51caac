// Replays, in the normal build, every input a fuzz target once failed on
// (tests/data/fuzz-regressions/<target>/) and every seed the targets start
// from (and the bitmaps other programs wrote, tests/data/foreign, which the
// import target also starts from), through the entry functions the fuzzers
// call. A broken property
// aborts the test; the input being replayed is printed first.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "entries.h"
#include "support/test_files.h"

namespace {

using namespace pelloran;

const std::filesystem::path kKept =
    std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "fuzz-regressions";
const std::filesystem::path kForeign = std::filesystem::path(PELLORAN_TEST_DATA_DIR) / "foreign";

TEST(FuzzRegressions, KeptInputsAndSeedsPassEveryTarget)
{
    int replayed = 0;
    for (const fuzz::Target& target : fuzz::kTargets) {
        const std::filesystem::path folder = kKept / target.name;
        if (std::filesystem::is_directory(folder)) {
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                std::cerr << "replaying " << entry.path() << "\n";
                target.run(pelloran::testing::readFile(entry.path()));
                ++replayed;
            }
        }
        if (target.name == std::string("import_bitmap")) {
            for (const auto& entry : std::filesystem::directory_iterator(kForeign)) {
                if (entry.path().extension() != ".bmp") continue;
                std::cerr << "replaying " << entry.path() << "\n";
                target.run(pelloran::testing::readFile(entry.path()));
                ++replayed;
            }
        }
        for (const fuzz::Seed& seed : fuzz::seedsFor(target.name)) {
            std::cerr << "replaying seed " << target.name << "/" << seed.name << "\n";
            target.run(seed.bytes);
            ++replayed;
        }
    }
    RecordProperty("inputs_replayed", replayed);
    EXPECT_GT(replayed, 0);
}

}  // namespace
