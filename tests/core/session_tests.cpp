// The session through its own interface, on the demo pair: what each
// operation changes when it succeeds, and that a failure at any file
// operation leaves the whole state as it was.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "archive/record.h"
#include "bitmap/bitmap.h"
#include "demo_archives.h"
#include "session/edits.h"
#include "session/language.h"
#include "session/messages.h"
#include "session/packs.h"
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
    {"export the pair",
     [](Session& s, const TempDir& dir) { ASSERT_TRUE(s.open(dir / "GRPFACES.S10")); },
     [](Session& s, const TempDir& dir) -> session::Result<void> {
         if (auto exported = s.exportPair(dir / "face.bmp"); !exported)
             return std::unexpected(exported.error());
         return {};
     },
     [](const State&) {}},
    {"undo a write",
     [](Session& s, const TempDir& dir) {
         ASSERT_TRUE(s.open(dir / "GRPFACES.S10"));
         importEdited(s, dir, Slot::Small);
         ASSERT_TRUE(s.writePending());
     },
     [](Session& s, const TempDir&) -> session::Result<void> {
         if (auto undone = s.undo(); !undone) return std::unexpected(undone.error());
         return {};
     },
     [](const State& state) {
         EXPECT_EQ(state.small.loaded, demo::demoRecord(Slot::Small, 1)) << "shown as put back";
     },
     true},
    {"import a pack",
     [](Session& s, const TempDir& dir) {
         ASSERT_TRUE(s.open(dir / "GRPFACES.S10"));
         const int numbers[] = {1, 2};
         ASSERT_TRUE(session::exportPack(s, session::bothSlots(numbers), dir / "pack",
                                         session::FileKind::Bmp));
         session::Record edited = demo::demoRecord(Slot::Large, 1);
         edited[5] ^= 0xFF;
         pelloran::testing::writeFile(dir / "pack" / "001.bmp",
                                      bitmap::encodeRecord(Slot::Large, edited));
     },
     [](Session& s, const TempDir& dir) -> session::Result<void> {
         const auto plan = session::planImport(s, dir / "pack", session::Colours::Refuse);
         if (!plan) return std::unexpected(plan.error());
         // A pack with a file that cannot be read is not written, as the batch tool does.
         for (const auto& refused : plan->refused)
             if (const auto* error = std::get_if<session::Error>(&refused))
                 return std::unexpected(*error);
         EXPECT_EQ(plan->changes.size(), 1u);
         return session::applyImport(s, plan->changes);
     },
     [](const State& state) {
         EXPECT_NE(state.large.loaded, demo::demoRecord(Slot::Large, 1)) << "number 1 read again";
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
            std::filesystem::remove(journal::journalPath(dir / "GRPFACES.S10"));
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

// Writes, undos and the journal's history as a user of either program meets
// them: what each step leaves in the archives and what the history says.
TEST(SessionHistory, EveryWriteIsUndoneInTurnAndAChangedRecordIsNeverOverwritten)
{
    TempDir dir;
    ASSERT_TRUE(demo::writeDemoArchives(dir.path()));
    Session s;
    ASSERT_TRUE(s.open(dir / "GRPFACES.S10"));
    const auto shownLarge = [&] { return s.state().large.loaded; };
    importEdited(s, dir, Slot::Large);
    ASSERT_TRUE(s.writePending());
    const session::Record firstWrite = s.state().large.preview;
    ASSERT_TRUE(s.reload(Slot::Large));
    importEdited(s, dir, Slot::Large);  // the first write's record, edited again
    ASSERT_TRUE(s.writePending());

    using journal::Origin, journal::State;
    const auto history = [&] {
        std::vector<std::pair<Origin, State>> kinds;
        const auto entries = s.history();
        for (const auto& entry : *entries) kinds.emplace_back(entry.origin, entry.state);
        return kinds;
    };
    using Kinds = std::vector<std::pair<Origin, State>>;
    EXPECT_EQ(history(), (Kinds{{Origin::WriteBack, State::Committed},
                                {Origin::WriteBack, State::Committed}}));

    const auto undone = s.undo();
    ASSERT_TRUE(undone);
    EXPECT_EQ(undone->operation.id, 2u);
    ASSERT_EQ(undone->records.size(), 1u);
    EXPECT_EQ(undone->records[0].number, 1);
    EXPECT_EQ(shownLarge(), firstWrite) << "the shown number is read again";

    // Another program changes the record the first write wrote, outside the
    // journal: undoing that write would destroy the change, so nothing is touched.
    session::Record theirs = firstWrite;
    theirs[100] ^= 0x0F;
    ASSERT_TRUE(archive::writeRecord(fileio::nativeFileSystem(), s.state().largeArchive,
                                     s.state().recordOffset(Slot::Large), theirs));
    const auto conflict = s.undo();
    ASSERT_FALSE(conflict);
    const auto* refused = std::get_if<session::UndoConflict>(&conflict.error());
    ASSERT_TRUE(refused) << session::describe(conflict.error()).text;
    EXPECT_EQ(refused->operation, 1u);
    EXPECT_EQ(pelloran::testing::readFile(s.state().largeArchive).size(),
              archive::fullArchiveSize(archive::kLargeLayout));
    EXPECT_EQ(history(), (Kinds{{Origin::WriteBack, State::Committed},
                                {Origin::WriteBack, State::Undone},
                                {Origin::Undo, State::Committed}}));

    // Over the journal of another: nothing to undo is said, not done.
    TempDir other;
    ASSERT_TRUE(demo::writeDemoArchives(other.path()));
    Session fresh;
    ASSERT_TRUE(fresh.open(other / "GRPFACES.S10"));
    const auto nothing = fresh.undo();
    ASSERT_FALSE(nothing);
    EXPECT_EQ(session::describe(nothing.error()).text, "没有可以撤销的操作。");
    EXPECT_TRUE(fresh.history()->empty());
}

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

// The language the user's environment asks for, as gettext reads it; the
// C locale and anything unspoken give the source language, Chinese.
TEST(Language, TheEnvironmentChoosesAsGettextDoesAndChineseIsTheDefault)
{
    struct Row {
        std::map<std::string, std::string> environment;
        std::string interfaceLanguage, expected;
    };
    const Row rows[] = {
        {{}, "", "zh"},
        {{{"LANG", "en_US.UTF-8"}}, "", "en"},
        {{{"LANG", "zh_CN.UTF-8"}}, "en-US", "zh"},
        {{{"LANG", "C.UTF-8"}, {"LANGUAGE", "en"}}, "en-US", "zh"},
        {{{"LC_ALL", "POSIX"}, {"LANG", "en_GB"}}, "", "zh"},
        {{{"LC_MESSAGES", "en_AU"}, {"LANG", "zh_TW"}}, "", "en"},
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LANGUAGE", "fr::en_GB:zh"}}, "", "en"},
        {{{"LANG", "fr_FR.UTF-8"}}, "en-US", "zh"},
        {{}, "en-US", "en"},
        {{}, "zh-CN", "zh"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected + " from " + row.interfaceLanguage);
        const auto preferred = session::preferredLanguages(
            [&](const char* name) -> const char* {
                const auto found = row.environment.find(name);
                return found == row.environment.end() ? nullptr : found->second.c_str();
            },
            row.interfaceLanguage);
        EXPECT_EQ(session::firstSpoken(preferred), row.expected);
    }
}

// The compiled catalog is read whole and the choice can go back and forth.
TEST(Language, TheCatalogTranslatesAndTheSourceStaysWhenChineseIsChosen)
{
    session::chooseLanguage("en");
    EXPECT_STREQ(session::tr("写 入"), "Write");
    EXPECT_EQ(
        session::describe(session::Error{session::Refusal{session::Problem::NoPairOpen, {}}}).text,
        "Please open an archive first.");
    session::chooseLanguage("zh");
    EXPECT_STREQ(session::tr("写 入"), "写 入");
    EXPECT_EQ(session::languageName("en"), "English");
    EXPECT_EQ(session::languageFor("EN-gb"), "en");
}

// The edit operations on a record: each row starts from a record whose
// pixels are 0 but for the areas given, and lists where the result differs.
struct Area {
    int x, y, width, height;
    std::uint8_t index;
};

void paint(Slot slot, session::Record& record, std::initializer_list<Area> areas)
{
    for (const Area& area : areas)
        for (int y = area.y; y < area.y + area.height; ++y)
            for (int x = area.x; x < area.x + area.width; ++x)
                record[static_cast<std::size_t>(y) * archive::layoutOf(slot).width + x] =
                    area.index;
}

session::Record paintedRecord(Slot slot, std::initializer_list<Area> areas)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    session::Record record(layout.recordSize, 0);
    for (int entry = 0; entry < 256; ++entry) {
        const std::size_t at = layout.pixelBlockSize() + 4 * static_cast<std::size_t>(entry);
        record[at] = static_cast<std::uint8_t>(entry);            // blue
        record[at + 1] = static_cast<std::uint8_t>(255 - entry);  // green
        record[at + 2] = 7;                                       // red
        record[at + 3] = 0xEE;                                    // reserved: no edit may touch it
    }
    paint(slot, record, areas);
    return record;
}

TEST(EditOperations, EachChangesTheRecordOnlyWhereItSays)
{
    using session::Point;
    struct Row {
        const char* name;
        Slot slot;
        std::initializer_list<Area> start;
        std::function<bool(session::Record&)> edit;
        std::initializer_list<Area> changes;
        bool changed;
    };
    const auto small = Slot::Small, large = Slot::Large;
    const Row rows[] = {
        {"pencil: points outside are left out, never wrapped",
         small,
         {},
         [](session::Record& r) {
             const Point points[] = {{0, 0}, {31, 39}, {32, 0}, {-1, 5}, {0, 40}};
             return session::setPixels(Slot::Small, r, points, 9);
         },
         {{0, 0, 1, 1, 9}, {31, 39, 1, 1, 9}},
         true},
        {"pencil on its own index",
         small,
         {{5, 5, 1, 1, 9}},
         [](session::Record& r) {
             const Point point{5, 5};
             return session::setPixels(Slot::Small, r, std::span(&point, 1), 9);
         },
         {},
         false},
        {"fill from the border stops at a wall",
         small,
         {{3, 0, 1, 40, 1}},
         [](session::Record& r) {
             return session::fill(Slot::Small, r, {0, 39}, 7);
         },
         {{0, 0, 3, 40, 7}},
         true},
        {"fill passes sides, not corners",
         small,
         {{0, 0, 32, 40, 1}, {0, 0, 1, 1, 0}, {1, 1, 1, 1, 0}},
         [](session::Record& r) {
             return session::fill(Slot::Small, r, {0, 0}, 5);
         },
         {{0, 0, 1, 1, 5}},
         true},
        {"fill of the whole large portrait from its last pixel",
         large,
         {},
         [](session::Record& r) {
             return session::fill(Slot::Large, r, {63, 79}, 4);
         },
         {{0, 0, 64, 80, 4}},
         true},
        {"fill with the index already there",
         small,
         {},
         [](session::Record& r) {
             return session::fill(Slot::Small, r, {0, 0}, 0);
         },
         {},
         false},
        {"fill outside the portrait",
         small,
         {},
         [](session::Record& r) {
             return session::fill(Slot::Small, r, {32, 0}, 3);
         },
         {},
         false},
        {"replace an index everywhere, and only it",
         small,
         {{0, 0, 2, 2, 6}, {30, 38, 2, 2, 6}, {10, 10, 1, 1, 7}},
         [](session::Record& r) { return session::replaceIndex(Slot::Small, r, 6, 8); },
         {{0, 0, 2, 2, 8}, {30, 38, 2, 2, 8}},
         true},
        {"replace to the same index",
         small,
         {{0, 0, 2, 2, 6}},
         [](session::Record& r) { return session::replaceIndex(Slot::Small, r, 6, 6); },
         {},
         false},
        {"mirror: each row right to left",
         small,
         {{0, 0, 1, 1, 5}, {30, 39, 1, 1, 6}},
         [](session::Record& r) { return session::mirror(Slot::Small, r); },
         {{0, 0, 1, 1, 0}, {31, 0, 1, 1, 5}, {30, 39, 1, 1, 0}, {1, 39, 1, 1, 6}},
         true},
        {"mirror of the large portrait",
         large,
         {{0, 79, 3, 1, 2}},
         [](session::Record& r) { return session::mirror(Slot::Large, r); },
         {{0, 79, 3, 1, 0}, {61, 79, 3, 1, 2}},
         true},
        {"a mirror twice is the identity",
         large,
         {{0, 0, 5, 80, 2}, {40, 3, 1, 1, 9}},
         [](session::Record& r) {
             const bool once = session::mirror(Slot::Large, r);
             return session::mirror(Slot::Large, r) && once;
         },
         {},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        session::Record record = paintedRecord(row.slot, row.start);
        session::Record expected = record;
        paint(row.slot, expected, row.changes);
        EXPECT_EQ(row.edit(record), row.changed);
        EXPECT_EQ(record, expected);
    }
}

TEST(EditOperations, APaletteEditChangesOnlyThatEntryBlueGreenRed)
{
    session::Record record = paintedRecord(Slot::Large, {{0, 0, 64, 80, 17}});
    session::Record expected = record;
    const std::size_t at = archive::kLargeLayout.pixelBlockSize() + 4 * 17;
    expected[at] = 3;
    expected[at + 1] = 2;
    expected[at + 2] = 1;
    EXPECT_TRUE(session::setPaletteEntry(Slot::Large, record, 17, {1, 2, 3}));
    EXPECT_EQ(record, expected);
    EXPECT_FALSE(session::setPaletteEntry(Slot::Large, record, 17, {1, 2, 3}));
}

// A dragged pencil's stroke: both ends, every pixel touching the one before,
// and no pixel twice.
TEST(EditOperations, AStrokeLeavesNoGap)
{
    using session::Point;
    const std::pair<Point, Point> rows[] = {
        {{0, 0}, {0, 0}},  {{0, 0}, {9, 2}},    {{9, 2}, {0, 0}},
        {{5, 0}, {3, 30}}, {{-4, 3}, {40, -6}}, {{7, 7}, {7, 1}},
    };
    for (const auto& [from, to] : rows) {
        SCOPED_TRACE(std::to_string(from.x) + "," + std::to_string(from.y) + " to " +
                     std::to_string(to.x) + "," + std::to_string(to.y));
        const auto line = session::lineBetween(from, to);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.front(), from);
        EXPECT_EQ(line.back(), to);
        EXPECT_EQ(line.size(), static_cast<std::size_t>(
                                   std::max(std::abs(to.x - from.x), std::abs(to.y - from.y)) + 1));
        for (std::size_t i = 1; i < line.size(); ++i)
            EXPECT_EQ(
                std::max(std::abs(line[i].x - line[i - 1].x), std::abs(line[i].y - line[i - 1].y)),
                1);
    }
}

// The small portrait from the large one: each 2 x 2 block (top left, top
// right, bottom left, bottom right) becomes its most frequent index, a tie
// going to the top-left pixel.
TEST(EditOperations, SmallFromLargeTakesEachBlocksMostFrequentIndexTiesToTheTopLeft)
{
    struct Row {
        std::array<std::uint8_t, 4> block;
        std::uint8_t expected;
    };
    const Row rows[] = {
        {{5, 3, 5, 3}, 5}, {{7, 2, 4, 1}, 7}, {{9, 4, 4, 9}, 9}, {{1, 6, 6, 0}, 6},
        {{2, 9, 9, 9}, 9}, {{8, 8, 8, 2}, 8}, {{3, 3, 3, 3}, 3},
    };
    for (const Row& row : rows)
        for (const session::Point at : {session::Point{0, 0}, session::Point{31, 39}}) {
            SCOPED_TRACE(std::to_string(row.block[0]) + std::to_string(row.block[1]) +
                         std::to_string(row.block[2]) + std::to_string(row.block[3]) + " at " +
                         std::to_string(at.x));
            const int x = 2 * at.x, y = 2 * at.y;
            session::Record large =
                paintedRecord(Slot::Large, {{0, 0, 64, 80, 11},
                                            {x, y, 1, 1, row.block[0]},
                                            {x + 1, y, 1, 1, row.block[1]},
                                            {x, y + 1, 1, 1, row.block[2]},
                                            {x + 1, y + 1, 1, 1, row.block[3]}});
            session::Record expected =
                paintedRecord(Slot::Small, {{0, 0, 32, 40, 11}, {at.x, at.y, 1, 1, row.expected}});
            EXPECT_EQ(session::smallFromLarge(large), expected);
        }
}

// Edits in a session: a picture like an import, a history of its own that
// never touches the archives, bounded, and forgotten once the slot changes
// by other means.
TEST(SessionEdits, AreAnImportWithAHistoryThatNeverTouchesTheArchives)
{
    TempDir dir;
    ASSERT_TRUE(demo::writeDemoArchives(dir.path()));
    const auto archiveBytes = pelloran::testing::readFile(dir / "GRPFACES.S10");
    Session s;
    ASSERT_TRUE(s.open(dir / "GRPFACES.S10"));
    const session::Record loaded = s.state().large.loaded;
    const auto pencil = [&](session::Point at, std::uint8_t index, session::Stroke stroke) {
        return s.edit(
            Slot::Large,
            [&](session::Record& r) {
                return session::setPixels(Slot::Large, r, std::span(&at, 1), index);
            },
            stroke);
    };
    const std::uint8_t other = static_cast<std::uint8_t>(loaded[0] + 1);

    // A stroke is one step, whatever its parts.
    ASSERT_TRUE(pencil({0, 0}, other, session::Stroke::Starts).value_or(false));
    ASSERT_TRUE(pencil({1, 0}, other, session::Stroke::Continues));
    ASSERT_TRUE(pencil({2, 0}, other, session::Stroke::Continues));
    EXPECT_TRUE(s.hasEdits());
    EXPECT_TRUE(s.state().writeEnabled);
    EXPECT_EQ(s.state().large.pending->record, s.state().large.preview);
    EXPECT_EQ(s.state().large.loaded, loaded);
    EXPECT_TRUE(s.undoEdit());
    EXPECT_EQ(s.state().large.preview, loaded);
    EXPECT_FALSE(s.state().large.pending || s.state().writeEnabled || s.hasEdits());
    EXPECT_FALSE(s.undoEdit());
    EXPECT_TRUE(s.redoEdit());
    EXPECT_EQ(session::indexAt(Slot::Large, s.state().large.preview, {2, 0}), other);
    EXPECT_FALSE(s.redoEdit());

    // Bounded: the oldest steps are forgotten.
    const std::size_t steps = session::EditHistory<int>::kSteps;
    for (std::size_t i = 0; i < steps + 10; ++i) {
        const session::Point at{static_cast<int>(i % 64), static_cast<int>(5 + i / 64)};
        const auto now = session::indexAt(Slot::Large, s.state().large.preview, at);
        ASSERT_TRUE(pencil(at, static_cast<std::uint8_t>(now + 1), session::Stroke::Starts)
                        .value_or(false));
    }
    std::size_t undone = 0;
    while (s.undoEdit()) ++undone;
    EXPECT_EQ(undone, steps);
    EXPECT_EQ(pelloran::testing::readFile(dir / "GRPFACES.S10"), archiveBytes);

    // Another number shown: the history is of a picture no longer there.
    ASSERT_TRUE(s.redoEdit());
    ASSERT_TRUE(s.showNumber(2));
    EXPECT_FALSE(s.redoEdit() || s.undoEdit());
    ASSERT_TRUE(s.showNumber(1));
    EXPECT_FALSE(s.undoEdit());
    EXPECT_FALSE(s.hasEdits());
}

}  // namespace
