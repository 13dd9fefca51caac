// The session through its own interface, on the demo pair: what each
// operation changes when it succeeds, and that a failure at any file
// operation leaves the whole state as it was.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bitmap/bitmap.h"
#include "demo_archives.h"
#include "session/messages.h"
#include "session/session.h"
#include "support/faulty_file_system.h"
#include "support/test_files.h"

namespace {

using namespace pelloran;
using archive::Slot;
using pelloran::testing::FaultyFileSystem;
using pelloran::testing::TempDir;
using session::Range;
using session::Session;
using session::State;

struct Step {
    const char* name;
    std::function<void(Session&, const TempDir&)> prepare;
    std::function<session::Result<void>(Session&, const TempDir&)> act;
    std::function<void(const State&)> check;  // the state after a success
    bool writes = false;  // changes the archives, which each run starts again from
};

// A portrait file of the shown number's record of the slot, one pixel changed.
std::filesystem::path editedFile(const Session& s, const TempDir& dir, Slot slot)
{
    session::Record record = s.state().slot(slot).loaded;
    record[0] ^= 0xFF;
    const auto file = dir / (slot == Slot::Large ? "large.bmp" : "small.bmp");
    pelloran::testing::writeFile(file, bitmap::encodeRecord(slot, record));
    return file;
}

void importEdited(Session& s, const TempDir& dir, Slot slot)
{
    auto checked = s.checkImport(editedFile(s, dir, slot));
    ASSERT_TRUE(checked.has_value());
    s.acceptImport(std::move(*checked));
}

const Step kSteps[] = {
    {"open", [](Session&, const TempDir&) {},
     [](Session& s, const TempDir& dir) -> session::Result<void> {
         if (auto opened = s.open(dir / "GRPFACES.S10"); !opened)
             return std::unexpected(opened.error());
         return {};
     },
     [](const State& state) {
         EXPECT_EQ(state.smallArchive.filename(), "GRPFACET.S10");
         EXPECT_EQ(state.number, 1);
         EXPECT_EQ(state.large.loaded, demo::demoRecord(Slot::Large, 1));
         EXPECT_FALSE(state.writeEnabled);
     }},
    {"show a number",
     [](Session& s, const TempDir& dir) {
         ASSERT_TRUE(s.open(dir / "GRPFACES.S10"));
         importEdited(s, dir, Slot::Large);
     },
     [](Session& s, const TempDir&) { return s.showNumber(57); },
     [](const State& state) {
         EXPECT_EQ(state.recordOffset(Slot::Small),
                   archive::recordOffset(archive::kSmallLayout, 57));
         EXPECT_EQ(state.small.preview, demo::demoRecord(Slot::Small, 57));
         EXPECT_FALSE(state.large.pending || state.writeEnabled) << "the import was dropped";
     }},
    {"switch to the new officers",
     [](Session& s, const TempDir& dir) { ASSERT_TRUE(s.open(dir / "GRPFACES.S10")); },
     [](Session& s, const TempDir&) { return s.switchRange(Range::NewOfficers); },
     [](const State& state) {
         EXPECT_EQ(state.number, 723);
         EXPECT_EQ(state.chosenRange, Range::NewOfficers);
         EXPECT_EQ(state.large.loaded, demo::demoRecord(Slot::Large, 723));
     }},
    {"go to a number of the other range",
     [](Session& s, const TempDir& dir) { ASSERT_TRUE(s.open(dir / "GRPFACES.S10")); },
     [](Session& s, const TempDir&) { return s.goTo(800); },
     [](const State& state) {
         EXPECT_EQ(state.number, 800);
         EXPECT_EQ(state.range, Range::NewOfficers);
         EXPECT_EQ(state.chosenRange, Range::NewOfficers);
         EXPECT_EQ(state.small.loaded, demo::demoRecord(Slot::Small, 800));
     }},
    {"write both slots",
     [](Session& s, const TempDir& dir) {
         ASSERT_TRUE(s.open(dir / "GRPFACES.S10"));
         ASSERT_TRUE(s.showNumber(9));
         importEdited(s, dir, Slot::Large);
         importEdited(s, dir, Slot::Small);
     },
     [](Session& s, const TempDir&) { return s.writePending(); },
     [](const State& state) {
         EXPECT_FALSE(state.large.pending || state.small.pending);
         EXPECT_TRUE(state.writeEnabled);
         EXPECT_NE(state.large.preview, state.large.loaded) << "write-back reloads nothing";
     },
     true},
};

class SessionSteps : public ::testing::TestWithParam<Step> {
protected:
    void SetUp() override { ASSERT_TRUE(demo::writeDemoArchives(dir.path())); }
    TempDir dir;
};

TEST_P(SessionSteps, ChangeTheStateOnlyWhenEveryFileOperationSucceeds)
{
    const Step& step = GetParam();
    FaultyFileSystem files;
    {
        Session clean(files);
        step.prepare(clean, dir);
        files.clearLog();
        ASSERT_TRUE(step.act(clean, dir));
        step.check(clean.state());
    }
    const std::size_t operations = files.operationCount();
    for (std::size_t k = 1; k <= operations; ++k) {
        SCOPED_TRACE("failure at operation " + std::to_string(k));
        if (step.writes) {
            ASSERT_TRUE(demo::writeDemoArchives(dir.path()));
        }
        Session s(files);
        step.prepare(s, dir);
        const State before = s.state();
        files.failAt(static_cast<int>(k));
        const auto result = step.act(s, dir);
        files.clearFaults();
        // A failing close after whole data is not a failure; anything else is
        // reported and changes nothing.
        if (result) continue;
        EXPECT_EQ(session::describe(result.error()).tone, session::Tone::Error);
        EXPECT_TRUE(s.state() == before);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, SessionSteps, ::testing::ValuesIn(kSteps), [](const auto& info) {
    std::string name = info.param.name;
    std::erase(name, ' ');
    return name;
});

// A reduction that fails, as libimagequant may, refuses the picture as one
// of too many colours instead of mapping a picture that is not there.
TEST(CheckImport, AFailedReductionLeavesTheColoursTooMany)
{
    struct FailingPictures final : session::Pictures {
        std::optional<bitmap::Picture> readPng(std::span<const std::uint8_t>) const override
        {
            return std::nullopt;
        }
        std::vector<std::uint8_t> writePng(const bitmap::Picture&) const override { return {}; }
        bitmap::Picture reduceColours(const bitmap::Picture&) const override { return {}; }
    } failing;
    const auto large = demo::demoRecord(Slot::Large, 1), small = demo::demoRecord(Slot::Small, 1);
    const auto checked =
        session::checkImportBytes(pelloran::testing::manyColoursBitmap(), "photo.bmp",
                                  {large, small}, session::Colours::Reduce, &failing);
    ASSERT_FALSE(checked.has_value());
    EXPECT_TRUE(std::holds_alternative<session::TooManyColours>(checked.error()));
}

}  // namespace
