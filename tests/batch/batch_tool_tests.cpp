// pelloran-batch run as a process on generated archives, as a script runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "demo_archives.h"
#include "journal/journal.h"
#include "session/numbers.h"
#include "support/pillow_reader.h"
#include "support/test_files.h"

namespace pelloran::batch {
using namespace session;
namespace {

using archive::Slot;
using testing::manyColoursBitmap;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

struct Outcome {
    int exit;
    std::string out, err;
};

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class BatchTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The tool's own language, Chinese, whatever the machine's.
        setenv("LANGUAGE", "", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        for (const auto& folder : {first, second, pack})
            std::filesystem::create_directories(folder);
        ASSERT_TRUE(demo::writeDemoArchives(first));
        ASSERT_TRUE(demo::writeDemoArchives(second));
    }

    Outcome run(const std::vector<std::string>& args,
                const std::filesystem::path& program = PELLORAN_BATCH_PROGRAM) const
    {
        std::string command(1, '\'');
        command += program.string();
        command += '\'';
        for (const auto& arg : args) command += " '" + arg + "'";
        command += " >'" + (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"),
                slurp(dir / "err")};
    }

    std::string large(const std::filesystem::path& pair) const
    {
        return (pair / "GRPFACES.S10").string();
    }
    std::vector<std::uint8_t> archiveBytes(const std::filesystem::path& pair, Slot slot) const
    {
        return readFile(pair / (slot == Slot::Large ? "GRPFACES.S10" : "GRPFACET.S10"));
    }
    // The record as the archive now holds it.
    std::vector<std::uint8_t> record(const std::filesystem::path& pair, Slot slot, int n) const
    {
        const auto bytes = archiveBytes(pair, slot);
        const auto at = archive::recordOffset(archive::layoutOf(slot), n);
        return {bytes.begin() + at, bytes.begin() + at + archive::layoutOf(slot).recordSize};
    }
    // The demo record with a few pixels and a palette entry changed.
    static std::vector<std::uint8_t> edited(Slot slot, int n)
    {
        auto bytes = demo::demoRecord(slot, n);
        for (int i = 0; i < 40; ++i) bytes[i * 7] = static_cast<std::uint8_t>(bytes[i * 7] + 1);
        bytes[archive::layoutOf(slot).pixelBlockSize() + 4] ^= 0x55;
        return bytes;
    }
    void expectPairUntouched(const std::filesystem::path& pair) const
    {
        EXPECT_EQ(archiveBytes(pair, Slot::Large), demo::demoArchive(Slot::Large));
        EXPECT_EQ(archiveBytes(pair, Slot::Small), demo::demoArchive(Slot::Small));
    }

    TempDir dir;
    std::filesystem::path first = dir / "first", second = dir / "second", pack = dir / "pack";
};

TEST_F(BatchTool, AnEditedPackImportsToExactlyItsRecordsAndUndoRestoresEveryByte)
{
    ASSERT_EQ(run({"export", large(first), pack.string(), "--numbers", "1-20"}).exit, 0);
    EXPECT_EQ(readFile(pack / "007T.BMP"),
              bitmap::encodeRecord(Slot::Small, demo::demoRecord(Slot::Small, 7)));
    const std::pair<int, Slot> changes[] = {{5, Slot::Large}, {7, Slot::Small}, {20, Slot::Large}};
    for (auto [n, slot] : changes)
        writeFile(pack / packFileName(n, slot, session::FileKind::Bmp),
                  bitmap::encodeRecord(slot, edited(slot, n)));
    // A name in other case and a stray file: taken, and listed and skipped.
    std::filesystem::rename(pack / "020.bmp", pack / "020.BMP");
    writeFile(pack / "notes.txt", std::vector<std::uint8_t>{'x'});

    const Outcome dry = run({"import", large(first), pack.string(), "--dry-run"});
    EXPECT_EQ(dry.exit, 0);
    EXPECT_NE(dry.out.find("notes.txt"), std::string::npos);
    EXPECT_NE(dry.out.find("020 大头像"), std::string::npos);
    expectPairUntouched(first);
    EXPECT_FALSE(std::filesystem::exists(journal::journalPath(large(first))));

    ASSERT_EQ(run({"import", large(first), pack.string()}).exit, 0);
    for (Slot slot : {Slot::Large, Slot::Small})
        for (int n : {1, 5, 7, 20, 21, 832}) {
            SCOPED_TRACE(n);
            const bool changed =
                std::ranges::find(changes, std::pair(n, slot)) != std::end(changes);
            EXPECT_EQ(record(first, slot, n),
                      changed ? edited(slot, n) : demo::demoRecord(slot, n));
        }
    const Outcome history = run({"history", large(first)});
    EXPECT_NE(history.out.find("批量导入  3个头像记录  已完成"), std::string::npos) << history.out;

    ASSERT_EQ(run({"undo", large(first)}).exit, 0);
    expectPairUntouched(first);
}

TEST_F(BatchTool, APackWithOneBadFileWritesNothingAndNamesTheFile)
{
    struct Row {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    const auto largeFile = bitmap::encodeRecord(Slot::Large, edited(Slot::Large, 3));
    const Row rows[] = {
        {"004.bmp", {largeFile.begin(), largeFile.begin() + 2000}},  // cut short
        {"004T.BMP", largeFile},                                     // a large picture named small
        {"003.BMP", largeFile},  // a second file for number 3, beside 003.bmp
        {"004.png", {'n', 'o', 't'}},
        {"004 (2).bmp", largeFile},  // a picture whose name says no number
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(pack);
        ASSERT_EQ(run({"export", large(first), pack.string(), "--numbers", "1-5"}).exit, 0);
        writeFile(pack / "001.bmp", bitmap::encodeRecord(Slot::Large, edited(Slot::Large, 1)));
        writeFile(pack / row.name, row.bytes);
        const Outcome result = run({"import", large(first), pack.string()});
        EXPECT_EQ(result.exit, 1);
        EXPECT_NE(result.err.find(row.name), std::string::npos) << result.err;
        expectPairUntouched(first);
    }
    // Unless the user says to skip it.
    const Outcome skipped = run({"import", large(first), pack.string(), "--skip-unknown"});
    EXPECT_EQ(skipped.exit, 0) << skipped.err;
    EXPECT_NE(skipped.out.find("跳过"), std::string::npos) << skipped.out;
}

TEST_F(BatchTool, DiffExportedAndImportedIntoTheOtherPairMakesThePairsEqual)
{
    writeFile(pack / "010.bmp", bitmap::encodeRecord(Slot::Large, edited(Slot::Large, 10)));
    writeFile(pack / "700T.BMP", bitmap::encodeRecord(Slot::Small, edited(Slot::Small, 700)));
    ASSERT_EQ(run({"import", large(first), pack.string()}).exit, 0);

    const Outcome diff =
        run({"diff", large(first), large(second), "--export", (dir / "d").string()});
    ASSERT_EQ(diff.exit, 0);
    EXPECT_NE(diff.out.find("010 大头像\n700 小头像\n2个"), std::string::npos) << diff.out;
    ASSERT_EQ(run({"import", large(second), (dir / "d").string()}).exit, 0);
    for (Slot slot : {Slot::Large, Slot::Small})
        EXPECT_EQ(archiveBytes(first, slot), archiveBytes(second, slot));
    EXPECT_NE(run({"diff", large(first), large(second)}).out.find("0个"), std::string::npos);
}

TEST_F(BatchTool, APngPackAndAReducedPictureImportAsTheWindowTakesThem)
{
    // Edits made in the second pair travel to the first as PNG files.
    for (int n : {5, 12})
        writeFile(pack / packFileName(n, Slot::Large, session::FileKind::Bmp),
                  bitmap::encodeRecord(Slot::Large, edited(Slot::Large, n)));
    ASSERT_EQ(run({"import", large(second), pack.string()}).exit, 0);
    const auto pngs = dir / "pngs";
    ASSERT_EQ(
        run({"export", large(second), pngs.string(), "--numbers", "1-20", "--format", "png"}).exit,
        0);
    ASSERT_EQ(run({"import", large(first), pngs.string()}).exit, 0);
    for (Slot slot : {Slot::Large, Slot::Small})
        EXPECT_EQ(archiveBytes(first, slot), archiveBytes(second, slot));

    // A picture of more colours than a record holds goes in only reduced.
    std::filesystem::remove_all(pngs);
    std::filesystem::create_directory(pngs);
    writeFile(pngs / "009.bmp", manyColoursBitmap());
    const Outcome refused = run({"import", large(first), pngs.string()});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find("--reduce-colours"), std::string::npos) << refused.err;
    EXPECT_EQ(archiveBytes(first, Slot::Large), archiveBytes(second, Slot::Large));
    ASSERT_EQ(run({"import", large(first), pngs.string(), "--reduce-colours"}).exit, 0);
    EXPECT_NE(record(first, Slot::Large, 9), record(second, Slot::Large, 9));
}

// Read back by Pillow, every pixel of each portrait on the sheet has its
// record's colour, where the grid puts it.
TEST_F(BatchTool, AContactSheetShowsEachPortraitInItsRecordsColours)
{
    if (!testing::pillowAvailable()) GTEST_SKIP() << "needs /usr/bin/python3 with Pillow";
    struct Row {
        Slot slot;
        std::vector<int> numbers;
        std::vector<std::string> options;
    };
    const Row rows[] = {{Slot::Large, {7, 8, 300}, {"--numbers", "7-8,300"}},
                        {Slot::Small, {3}, {"--numbers", "3", "--small"}}};
    for (const Row& row : rows) {
        const auto sheet = dir / "sheet.png";
        std::vector<std::string> args{"sheet", large(first), sheet.string()};
        args.insert(args.end(), row.options.begin(), row.options.end());
        ASSERT_EQ(run(args).exit, 0);
        const auto read = testing::readWithPillow({sheet});
        ASSERT_EQ(read.size(), 1u);
        const testing::PillowPicture& picture = read.begin()->second;
        ASSERT_TRUE(picture.error.empty()) << picture.error;
        const archive::SlotLayout& layout = archive::layoutOf(row.slot);
        for (std::size_t i = 0; i < row.numbers.size(); ++i) {
            const auto record = demo::demoRecord(row.slot, row.numbers[i]);
            const int left = 4 + static_cast<int>(i) * (layout.width + 4), top = 4;
            int wrong = 0;
            for (int y = 0; y < layout.height(); ++y)
                for (int x = 0; x < layout.width; ++x) {
                    const std::size_t at =
                        layout.pixelBlockSize() + 4u * record[y * layout.width + x];
                    const std::uint32_t colour =
                        record[at + 2] << 16 | record[at + 1] << 8 | record[at];
                    wrong += picture.colours[(top + y) * picture.width + left + x] != colour;
                }
            EXPECT_EQ(wrong, 0) << "number " << row.numbers[i];
        }
    }
}

TEST_F(BatchTool, AnImportCutShortIsReportedThenRolledBackOnTheNextRun)
{
    for (int n : {3, 4})
        writeFile(pack / packFileName(n, Slot::Large, FileKind::Bmp),
                  bitmap::encodeRecord(Slot::Large, edited(Slot::Large, n)));
    ASSERT_EQ(run({"import", large(first), pack.string()}).exit, 0);
    // Killed after the first record: no commit mark, number 4 still old.
    auto journalBytes = readFile(journal::journalPath(large(first)));
    journalBytes.resize(journalBytes.size() - 40);
    writeFile(journal::journalPath(large(first)), journalBytes);
    {
        auto bytes = archiveBytes(first, Slot::Large);
        const auto record = demo::demoRecord(Slot::Large, 4);
        std::ranges::copy(record, bytes.begin() + static_cast<std::ptrdiff_t>(archive::recordOffset(
                                                      archive::kLargeLayout, 4)));
        writeFile(first / "GRPFACES.S10", bytes);
    }

    EXPECT_NE(run({"info", large(first)}).out.find("有一个未完成的操作"), std::string::npos);
    const Outcome next =
        run({"export", large(first), (dir / "exported").string(), "--numbers", "1"});
    EXPECT_EQ(next.exit, 0);
    EXPECT_NE(next.out.find("上次中断的批量导入"), std::string::npos) << next.out;
    EXPECT_NE(next.out.find("1个头像记录已恢复"), std::string::npos) << next.out;
    expectPairUntouched(first);
}

// Two programs on one pair take turns: imports of different numbers and
// undos started at the same moment all succeed, one after the other, and the
// history agrees. A writer that keeps the pair too long gets a refusal.
TEST_F(BatchTool, WritersTakeTurnsAndAPairHeldTooLongIsRefusedWithNothingChanged)
{
    const auto other = dir / "other";
    std::filesystem::create_directories(other);
    writeFile(pack / "005.bmp", bitmap::encodeRecord(Slot::Large, edited(Slot::Large, 5)));
    writeFile(other / "006T.BMP", bitmap::encodeRecord(Slot::Small, edited(Slot::Small, 6)));
    // Appended piece by piece: gcc 12 at -O3 warns falsely about + chains here.
    const auto atOnce = [&](const std::string& a, const std::string& b) {
        std::string command;
        for (const auto& [args, status] : {std::pair{&a, "a"}, std::pair{&b, "b"}})
            command.append("('")
                .append(PELLORAN_BATCH_PROGRAM)
                .append("' ")
                .append(*args)
                .append(" >/dev/null 2>&1; echo $? >'")
                .append((dir / status).string())
                .append("') & ");
        command.append("wait");
        EXPECT_EQ(std::system(command.c_str()), 0);
        return slurp(dir / "a") + slurp(dir / "b");
    };
    std::string pair = "'";
    pair.append(large(first)).append("' ");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(atOnce("import " + pair + "'" + pack.string() + "'",
                         "import " + pair + "'" + other.string() + "'"),
                  "0\n0\n");
        EXPECT_EQ(record(first, Slot::Large, 5), edited(Slot::Large, 5));
        EXPECT_EQ(record(first, Slot::Small, 6), edited(Slot::Small, 6));
        EXPECT_EQ(atOnce("undo " + pair, "undo " + pair), "0\n0\n");
        expectPairUntouched(first);
    }
    const std::string history = run({"history", large(first)}).out;
    EXPECT_EQ(std::ranges::count(history, '\n'), 12) << history;
    EXPECT_EQ(history.find("未完成"), std::string::npos) << history;

    const int held = ::open(large(first).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ::setenv("PELLORAN_LOCK_WAIT", "0.3", 1);
    const auto start = std::chrono::steady_clock::now();
    const Outcome refused = run({"import", large(first), pack.string()});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find("另一个程序正在写入"), std::string::npos) << refused.err;
    expectPairUntouched(first);
    // Reading is never held up.
    EXPECT_EQ(run({"info", large(first)}).exit, 0);
    EXPECT_EQ(run({"export", large(first), (dir / "exported").string(), "--numbers", "1"}).exit, 0);
    ::unsetenv("PELLORAN_LOCK_WAIT");
    ::close(held);

    // An import and an undo at once: whichever goes second finds the first's
    // work whole, so number 7's pair is never split.
    const auto third = dir / "third";
    std::filesystem::create_directories(third);
    writeFile(third / "007.bmp", bitmap::encodeRecord(Slot::Large, edited(Slot::Large, 7)));
    writeFile(third / "007T.bmp", bitmap::encodeRecord(Slot::Small, edited(Slot::Small, 7)));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(run({"import", large(first), other.string()}).exit, 0);
        EXPECT_EQ(atOnce("import " + pair + "'" + third.string() + "'", "undo " + pair), "0\n0\n");
        const bool importLast = record(first, Slot::Large, 7) == edited(Slot::Large, 7);
        EXPECT_EQ(record(first, Slot::Small, 7) == edited(Slot::Small, 7), importLast);
        EXPECT_EQ(record(first, Slot::Small, 6) == edited(Slot::Small, 6), !importLast);
        // One operation is left standing whichever order it was.
        EXPECT_EQ(run({"undo", large(first)}).exit, 0);
        expectPairUntouched(first);
    }
}

TEST_F(BatchTool, AProgressLineIsDrawnOnATerminalOnly)
{
    struct Row {
        std::string command;
        const char* line;  // the last state of the line
    };
    const Row rows[] = {{"export", "\r导出 1664/1664"}, {"import", "\r检查 1664/1664"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        // script(1) gives the program a terminal; the delay before the line is none.
        const auto log = dir / "typescript";
        std::string command = "PELLORAN_PROGRESS_DELAY=0 script -qec \"'";
        command += PELLORAN_BATCH_PROGRAM;
        command += "' " + row.command + " '" + large(first) + "' '" + pack.string() + "'\" '";
        command += log.string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_NE(slurp(log).find(row.line), std::string::npos) << slurp(log);
        EXPECT_EQ(run({row.command, large(first), pack.string()}).err.find('\r'),
                  std::string::npos);
    }
}

TEST_F(BatchTool, EveryFailureExitsOneAndLeavesTheArchivesAlone)
{
    writeFile(pack / "001.bmp", bitmap::encodeRecord(Slot::Large, edited(Slot::Large, 1)));
    const std::vector<std::string> rows[] = {
        {"import", large(first), (dir / "missing").string()},
        {"undo", large(first)},
        {"import", "S10", pack.string()},
        {"export", large(first), (first / "GRPFACES.S10").string()},
        {"sheet", large(first), large(first)},
        {"diff", large(first), "a"},
        {"info", (dir / "nosuch" / "GRPFACES.S10").string()},
        {"diff", large(first), (dir / "nosuch" / "GRPFACES.S10").string()},
        {"info", (pack / "001.bmp").string()},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(args[0] + " " + args.back());
        const Outcome result = run(args);
        EXPECT_EQ(result.exit, 1);
        EXPECT_FALSE(result.err.empty());
        expectPairUntouched(first);
    }

    // In English on request, naming the file all the same.
    const std::string missing = (dir / "nosuch" / "GRPFACES.S10").string();
    const Outcome english = run({"--lang", "en", "info", missing});
    EXPECT_EQ(english.err.substr(0, english.err.find('\n')),
              "The large portrait archive “" + missing +
                  "” does not exist (a large portrait archive is 5149068 bytes long).");

    // Without its Qt module the program still does all it can without Qt
    // (PNG files are written by libpng alone), and says which file is
    // missing for the rest.
    const auto alone = dir / "bin" / "pelloran-batch";
    std::filesystem::create_directories(alone.parent_path());
    std::filesystem::copy_file(PELLORAN_BATCH_PROGRAM, alone);
    const auto sheetFile = dir / "sheet.png";
    const Outcome sheet = run({"sheet", large(first), sheetFile.string()}, alone);
    EXPECT_EQ(sheet.exit, 1);
    EXPECT_NE(sheet.err.find("pelloran-batch-qt.so"), std::string::npos) << sheet.err;
    EXPECT_FALSE(std::filesystem::exists(sheetFile));
    EXPECT_EQ(run({"export", large(first), (dir / "png").string(), "--format", "png"}, alone).exit,
              0);
    const auto out = dir / "exported";
    EXPECT_EQ(run({"export", large(first), out.string()}, alone).exit, 0);
    EXPECT_EQ(run({"import", large(first), out.string()}, alone).exit, 0);
    expectPairUntouched(first);
}

TEST_F(BatchTool, UsageErrorsExitTwoAndHelpExitsZero)
{
    const std::vector<std::string> usage[] = {
        {},
        {"merge", large(first)},
        {"export", large(first)},
        {"export", large(first), pack.string(), "--numbers", "0-5"},
        {"export", large(first), pack.string(), "--format", "gif"},
        {"import", large(first), pack.string(), "--force"},
        {"sheet", large(first), "s.png", "--numbers"},
        {"export", large(first), pack.string(), "--format", "png", "--format=bmp"},
        {"import", large(first), pack.string(), "--dry-run=yes"},
        {"export", large(first), "--", pack.string(), "--numbers=5"},
    };
    for (const auto& args : usage) {
        SCOPED_TRACE(args.empty() ? "" : args[0]);
        EXPECT_EQ(run(args).exit, 2);
    }
    EXPECT_TRUE(std::filesystem::is_empty(pack));
    // An option's value after "=", options before the names, and "--" ending them.
    ASSERT_EQ(run({"export", "--numbers=5", large(first), "--", pack.string()}).exit, 0);
    EXPECT_TRUE(std::filesystem::exists(pack / "005T.BMP"));
    for (const char* command : {"info", "export", "import", "sheet", "diff", "history", "undo"})
        EXPECT_EQ(run({command, "--help"}).exit, 0) << command;
    // English when --lang or the environment asks for it; a language the
    // tool does not speak is a usage error.
    EXPECT_EQ(run({"merge", "--lang", "en"}).err,
              "pelloran-batch: There is no command “merge”.\n"
              "See pelloran-batch --help for how to use it.\n");
    EXPECT_EQ(run({"--lang=fr", "--help"}).exit, 2);
    setenv("LC_ALL", "en_GB.UTF-8", 1);
    const Outcome help = run({"export", "--help"});
    EXPECT_EQ(
        help.out.substr(0, help.out.find('\n')),
        "Usage: pelloran-batch export GRPFACES.S10 FOLDER [--numbers LIST] [--format bmp|png]");
    EXPECT_EQ(run({"--version"}).out.rfind("pelloran-batch ", 0), 0u);
}

}  // namespace
}  // namespace pelloran::batch
