// Every file operation of every action that touches files, failed in turn.
// For each action the user can take (open, number change, range switch,
// export, import, write-back), the k-th file operation fails, for k = 1, 2,
// ... until the action finishes before reaching k; each write also fails
// once after writing half of its bytes. Whatever fails, the window keeps
// running and answers the next action, says so in one error message that
// names the file, and leaves the editor state, its controls and the files as
// they were, except what finished whole before the failure: a bitmap export
// already in place, a write-back slot already written.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <algorithm>
#include <iostream>
#include <map>
#include <string_view>

#include "bitmap/bitmap.h"
#include "editor/editor_fixture.h"
#include "platform/paths.h"

namespace pelloran::testing {
namespace {

using archive::Slot;
using fileio::Operation;
using Bytes = std::vector<std::uint8_t>;
using Entry = FaultyFileSystem::Entry;

// The session's state, everything the user can see, and everything the disk
// holds under the test's folder, by name relative to it.
struct Seen {
    session::State state;
    bool exportEnabled, importEnabled, writeEnabled, numbersEnabled, newRange;
    int minimum, maximum, number;
    QString label1, label2, label3;
    QImage large, small;
    std::map<std::string, Bytes> files;
};

::testing::AssertionResult same(const Seen& expected, const Seen& actual)
{
    std::vector<std::string> differences;
    const auto check = [&](bool equal, const std::string& what) {
        if (!equal) differences.push_back(what);
    };
    check(expected.state == actual.state, "the session's state");
    check(expected.exportEnabled == actual.exportEnabled, "Command3 enabled");
    check(expected.importEnabled == actual.importEnabled, "Command4 enabled");
    check(expected.writeEnabled == actual.writeEnabled, "Command5 enabled");
    check(expected.numbersEnabled == actual.numbersEnabled, "number controls enabled");
    check(expected.newRange == actual.newRange, "selected range button");
    check(expected.minimum == actual.minimum && expected.maximum == actual.maximum,
          "HScroll1 range");
    check(expected.number == actual.number, "HScroll1 value");
    check(expected.label1 == actual.label1, "Label1");
    check(expected.label2 == actual.label2 && expected.label3 == actual.label3, "Label2/Label3");
    check(expected.large == actual.large, "Pic1");
    check(expected.small == actual.small, "Pic2");
    for (const auto& [name, bytes] : expected.files) {
        const auto found = actual.files.find(name);
        if (found == actual.files.end())
            differences.push_back(name + " is gone");
        else
            check(found->second == bytes, name + " is neither as it was nor wholly replaced");
    }
    for (const auto& [name, bytes] : actual.files)
        check(expected.files.contains(name), name + " was left behind");

    if (differences.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "differs in:";
    for (const auto& difference : differences) failure << " [" << difference << "]";
    return failure;
}

// replaceFile's temporary files are "<target>.pelloran-<n>.tmp"; returns
// the target's name, or the name itself for any other file.
std::string targetName(const std::string& name)
{
    constexpr std::string_view kMark = ".pelloran-", kEnd = ".tmp";
    const auto mark = name.rfind(kMark);
    if (mark == std::string::npos || !name.ends_with(kEnd)) return name;
    const auto digits = std::string_view(name).substr(mark + kMark.size());
    const auto number = digits.substr(0, digits.size() - kEnd.size());
    if (number.empty() || !std::ranges::all_of(number, [](char c) { return c >= '0' && c <= '9'; }))
        return name;
    return name.substr(0, mark);
}

bool isTemporary(const std::filesystem::path& path)
{
    return targetName(path.string()) != path.string();
}

// The file an error about path should name: a temporary file's target.
QString namedFile(const std::filesystem::path& path)
{
    return platform::toQString(std::filesystem::path(targetName(path.string())));
}

enum class Action {
    FirstOpen,
    OpenAnotherPairInTheNewRange,
    DragNumber,
    StepNumber,
    SwitchToNewOfficers,
    SwitchBackToHistorical,
    ExportOverOldFiles,
    ExportNewFiles,
    ImportOverAPendingImport,
    WriteBackOneSlot,
    WriteBackBothSlots,
};

struct Case {
    const char* name;
    Action action;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

const Case kCases[] = {
    {"FirstOpen", Action::FirstOpen},
    {"OpenAnotherPairInTheNewRange", Action::OpenAnotherPairInTheNewRange},
    {"DragNumber", Action::DragNumber},
    {"StepNumber", Action::StepNumber},
    {"SwitchToNewOfficers", Action::SwitchToNewOfficers},
    {"SwitchBackToHistorical", Action::SwitchBackToHistorical},
    {"ExportOverOldFiles", Action::ExportOverOldFiles},
    {"ExportNewFiles", Action::ExportNewFiles},
    {"ImportOverAPendingImport", Action::ImportOverAPendingImport},
    {"WriteBackOneSlot", Action::WriteBackOneSlot},
    {"WriteBackBothSlots", Action::WriteBackBothSlots},
};

// Archives holding numbers 1 to 8; further numbers read as zeros, as in a
// short archive. The second pair has every byte inverted, so that a load
// from the wrong pair cannot pass for the right one.
constexpr int kNumbersInArchive = 8;

Bytes archiveBytes(Slot slot, bool inverted)
{
    const Bytes& full = patternArchive(slot);
    const auto end = archive::recordOffset(archive::layoutOf(slot), kNumbersInArchive + 1);
    Bytes bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(end));
    if (inverted)
        for (auto& b : bytes) b = static_cast<std::uint8_t>(~b);
    return bytes;
}

class FaultSweep : public WindowFixture, public ::testing::WithParamInterface<Case> {
protected:
    struct Run {
        Seen before, after;
        std::vector<Entry> log;
        std::vector<ScriptedMessageBoxes::Shown> shown;
    };

    std::filesystem::path otherArchive() const { return folder / "other" / "GRPFACES.S10"; }

    // A new window on freshly written files.
    void restart()
    {
        form.reset();
        files.clearFaults();
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            std::filesystem::remove_all(entry.path());
        std::filesystem::create_directory(folder / "other");
        // Of a whole archive's length, or opening would first ask about it;
        // past the numbers written they hold a hole, which reads as zeros.
        const auto writeArchive = [](const std::filesystem::path& path, Slot slot, bool inverted) {
            writeFile(path, archiveBytes(slot, inverted));
            std::filesystem::resize_file(path, archive::fullArchiveSize(archive::layoutOf(slot)));
        };
        writeArchive(largeArchive(), Slot::Large, false);
        writeArchive(smallArchive(), Slot::Small, false);
        writeArchive(otherArchive(), Slot::Large, true);
        writeArchive(folder / "other" / "GRPFACET.S10", Slot::Small, true);
        form = std::make_unique<editor::Form1>(dialog, messages, files);
        form->show();
        messages.clear();
    }

    // An exported portrait of number with its first pixel changed, as the user's edit.
    std::filesystem::path portraitFile(Slot slot, int number, std::uint8_t edit,
                                       const std::string& name)
    {
        return editedBitmap(slot, number, 0, 0, edit, name);
    }

    // Brings the window to where the action starts.
    void setUp(Action action)
    {
        switch (action) {
            case Action::FirstOpen:
                return;
            // Imports waiting to be written stay pending when the action fails.
            case Action::OpenAnotherPairInTheNewRange:
                open(largeArchive());
                form->Option1->click();
                browseTo(730);
                import(portraitFile(Slot::Large, 1, 9, "large.bmp"));
                return;
            case Action::DragNumber:
                open(largeArchive());
                browseTo(3);
                import(portraitFile(Slot::Small, 3, 9, "small.bmp"));
                return;
            case Action::StepNumber:
                open(largeArchive());
                browseTo(3);
                return;
            case Action::SwitchToNewOfficers:
                open(largeArchive());
                browseTo(5);
                import(portraitFile(Slot::Large, 5, 9, "large.bmp"));
                import(portraitFile(Slot::Small, 5, 9, "small.bmp"));
                return;
            case Action::SwitchBackToHistorical:
                open(largeArchive());
                form->Option1->click();
                browseTo(725);
                return;
            case Action::ExportOverOldFiles:
                writeFile(folder / "face.bmp", Bytes(9000, 0xAB));
                writeFile(folder / "faceT.BMP", Bytes(100, 0xCD));
                [[fallthrough]];
            case Action::ExportNewFiles:
                open(largeArchive());
                browseTo(2);
                return;
            case Action::ImportOverAPendingImport:
                open(largeArchive());
                import(portraitFile(Slot::Large, 1, 7, "earlier.bmp"));
                import(portraitFile(Slot::Small, 1, 8, "small.bmp"));
                portraitFile(Slot::Large, 1, 9, "large.bmp");
                return;
            case Action::WriteBackOneSlot:
                open(largeArchive());
                browseTo(4);
                import(portraitFile(Slot::Large, 4, 9, "large.bmp"));
                return;
            case Action::WriteBackBothSlots:
                open(largeArchive());
                browseTo(4);
                import(portraitFile(Slot::Large, 4, 9, "large.bmp"));
                import(portraitFile(Slot::Small, 4, 9, "small.bmp"));
                return;
        }
    }

    void act(Action action)
    {
        switch (action) {
            case Action::FirstOpen:
                return open(largeArchive());
            case Action::OpenAnotherPairInTheNewRange:
                return open(otherArchive());
            case Action::DragNumber:
                return browseTo(7);
            case Action::StepNumber:
                return form->HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            case Action::SwitchToNewOfficers:
                return form->Option1->click();
            case Action::SwitchBackToHistorical:
                return form->Option3->click();
            case Action::ExportOverOldFiles:
            case Action::ExportNewFiles:
                return exportAs("face.bmp");
            case Action::ImportOverAPendingImport:
                return import(folder / "large.bmp");
            case Action::WriteBackOneSlot:
            case Action::WriteBackBothSlots:
                return form->Command5->click();
        }
    }

    // What a failure of `failed` leaves besides `before`: the part of the
    // action that finished whole before it, as the clean run left it.
    void addFinishedPart(Action action, const Entry& failed, const Seen& clean, Seen& expected)
    {
        const auto takeFromClean = [&](const std::string& name) {
            if (clean.files.contains(name)) expected.files[name] = clean.files.at(name);
        };
        // Export renames both files into place only once both are written:
        // only the small file's rename comes after the large one is new.
        if ((action == Action::ExportOverOldFiles || action == Action::ExportNewFiles) &&
            failed.operation == Operation::Rename && failed.path == folder / "faceT.BMP")
            takeFromClean("face.bmp");
    }

    Seen seen() const
    {
        Seen now{
            form->session().state(),     form->Command3->isEnabled(), form->Command4->isEnabled(),
            form->Command5->isEnabled(), form->HScroll1->isEnabled(), form->Option1->isChecked(),
            form->HScroll1->minimum(),   form->HScroll1->maximum(),   form->HScroll1->value(),
            form->Label1->text(),        form->Label2->text(),        form->Label3->text(),
            form->Pic1->picture(),       form->Pic2->picture(),       {}};
        // The journal's own bytes are not compared: what it promises, every
        // archive wholly old or wholly new, is.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path()))
            if (entry.is_regular_file() && entry.path().extension() != ".journal")
                now.files[std::filesystem::relative(entry.path(), folder.path()).generic_string()] =
                    readFile(entry.path());
        return now;
    }

    Run runOnce(Action action, int k = 0,
                FaultyFileSystem::Mode mode = FaultyFileSystem::Mode::Fail)
    {
        restart();
        setUp(action);
        EXPECT_TRUE(messages.shown().empty()) << "the way to the action went wrong";
        Run run;
        run.before = seen();
        messages.clear();
        files.clearLog();
        if (k > 0) files.failAt(k, mode);
        EXPECT_NO_THROW(act(action));
        files.clearFaults();
        run.log = files.log();
        run.shown = messages.shown();
        run.after = seen();
        return run;
    }

    // The window takes the next action as if nothing had happened.
    void expectStillAnswers()
    {
        messages.clear();
        if (!form->HScroll1->isEnabled()) {
            open(largeArchive());
            EXPECT_TRUE(messages.shown().empty());
            EXPECT_EQ(form->Label1->text(), "编号:1");
            return;
        }
        const int next = form->HScroll1->value() == form->HScroll1->minimum()
                             ? form->HScroll1->minimum() + 1
                             : form->HScroll1->minimum();
        browseTo(next);
        EXPECT_TRUE(messages.shown().empty()) << "the next number change failed";
        EXPECT_EQ(form->Label1->text(), "编号:" + QString::number(next));
        EXPECT_EQ(form->LargeRecordPos, archive::recordOffset(archive::kLargeLayout, next));
    }
};

TEST_P(FaultSweep, AnyFailingOperationIsReportedOnceAndLeavesEverythingWhole)
{
    const Action action = GetParam().action;
    const Run clean = runOnce(action);
    ASSERT_FALSE(clean.log.empty());
    for (const auto& message : clean.shown)
        ASSERT_NE(message.title, "错误") << message.text.toStdString();

    struct Fault {
        int k;
        FaultyFileSystem::Mode mode;
    };
    std::vector<Fault> faults;
    // One more than the action needs: that run must finish untouched.
    for (int k = 1; k <= static_cast<int>(clean.log.size()) + 1; ++k)
        faults.push_back({k, FaultyFileSystem::Mode::Fail});
    for (int k = 1; k <= static_cast<int>(clean.log.size()); ++k)
        if (clean.log[k - 1].operation == Operation::Write)
            faults.push_back({k, FaultyFileSystem::Mode::ShortWrite});

    const auto failuresSoFar = [] {
        return ::testing::UnitTest::GetInstance()
            ->current_test_info()
            ->result()
            ->total_part_count();
    };
    int injected = 0, survived = 0;
    for (const Fault& fault : faults) {
        const bool shortWrite = fault.mode == FaultyFileSystem::Mode::ShortWrite;
        SCOPED_TRACE(::testing::Message() << (shortWrite ? "half-done write at" : "failure at")
                                          << " operation " << fault.k);
        const int failuresBefore = failuresSoFar();
        const Run run = runOnce(action, fault.k, fault.mode);
        if (!files.injected()) {
            EXPECT_EQ(fault.k, static_cast<int>(clean.log.size()) + 1)
                << "the action took another road";
            EXPECT_TRUE(same(clean.after, run.after));
            continue;
        }
        ++injected;
        const auto failed = std::ranges::find_if(run.log, [](const Entry& e) { return e.failed; });
        ASSERT_NE(failed, run.log.end());
        ASSERT_EQ(failed->operation, clean.log[fault.k - 1].operation);
        ASSERT_EQ(failed->path, clean.log[fault.k - 1].path);
        SCOPED_TRACE(failed->path.filename().string());

        // A close after every byte was read, or after the record was written
        // and read back, or a folder flush after the files are in place,
        // changes nothing about the data: the action succeeds.
        // A folder flush may come after the data is whole (export) or before
        // any record is touched (the journal's own): either way the action
        // ends wholly as the clean run or wholly as before, and says which.
        const bool folderFlush =
            failed->operation == Operation::Flush && std::filesystem::is_directory(failed->path);
        const bool saidSuccess = !run.shown.empty() && run.shown.front().title != "错误";
        const bool afterWholeData =
            (failed->operation == Operation::Close && !isTemporary(failed->path)) ||
            (folderFlush && saidSuccess);
        if (afterWholeData) {
            EXPECT_TRUE(same(clean.after, run.after));
            ASSERT_EQ(run.shown.size(), clean.shown.size());
            for (std::size_t i = 0; i < run.shown.size(); ++i)
                EXPECT_EQ(run.shown[i].text, clean.shown[i].text);
        } else {
            ASSERT_EQ(run.shown.size(), 1u) << "one message, and no success message";
            const auto& error = run.shown.front();
            EXPECT_EQ(error.title, "错误");
            EXPECT_EQ(error.icon, platform::MessageIcon::Critical);
            EXPECT_TRUE(error.text.contains(namedFile(failed->path))) << error.text.toStdString();
            EXPECT_TRUE(error.text.contains("磁盘读写出错")) << error.text.toStdString();
            Seen expected = run.before;
            addFinishedPart(action, *failed, clean.after, expected);
            EXPECT_TRUE(same(expected, run.after));
        }
        expectStillAnswers();
        if (failuresSoFar() == failuresBefore) ++survived;
    }
    std::cout << "[ faults   ] " << GetParam().name << ": " << injected << " injected, " << survived
              << " survived\n";
    RecordProperty("faults_injected", injected);
    RecordProperty("faults_survived", survived);
    EXPECT_EQ(survived, injected);
}

INSTANTIATE_TEST_SUITE_P(Actions, FaultSweep, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class FaultInjectionTest : public WindowFixture {};

// Two faults at once: a step of writing the temporary file fails, and so does
// its removal. The target stays whole, the one message names it, and the
// leftover neither blocks the next export nor is taken over by it.
TEST_F(FaultInjectionTest, ExportWhoseCleanupFailsTooLeavesTheTargetWholeAndTheNextExportWorks)
{
    const auto target = folder / "face.bmp";
    const auto answerExport = [&] {
        dialog.answer(platform::toQString(target));
        form->Command3->click();
    };
    openArchives();
    answerExport();
    const Bytes exported = readFile(target);
    const Bytes old(9000, 0xAB);

    // The large file's steps after its temporary file was created: its
    // permission bits, write, flush, close, and its rename into place.
    files.clearLog();
    answerExport();
    std::vector<int> steps;
    for (std::size_t i = 0; i < files.log().size(); ++i) {
        const Entry& entry = files.log()[i];
        const bool onTemporary = isTemporary(entry.path) && entry.operation != Operation::Open;
        const bool renameOver = entry.operation == Operation::Rename && entry.path == target;
        if (targetName(entry.path.string()) == target.string() && (onTemporary || renameOver))
            steps.push_back(static_cast<int>(i) + 1);
    }
    ASSERT_EQ(steps.size(), 5u);

    int injected = 0;
    for (int k : steps) {
        SCOPED_TRACE(::testing::Message() << "failure at operation " << k);
        for (const auto& name : folder.fileNames())
            if (isTemporary(name)) std::filesystem::remove(folder / name);
        writeFile(target, old);
        messages.clear();
        files.clearLog();
        files.failAt(k);
        files.failAlways(Operation::Remove, {});
        answerExport();
        files.clearFaults();
        ASSERT_TRUE(files.injected());
        injected += 2;

        ASSERT_EQ(messages.titles(), QStringList{"错误"});
        EXPECT_TRUE(messages.shown().front().text.contains(platform::toQString(target)));
        EXPECT_EQ(readFile(target), old);
        // The large file's temporary, and the small one's when the failure
        // came at the renames.
        std::map<std::string, Bytes> leftovers;
        for (const auto& name : folder.fileNames())
            if (isTemporary(name)) leftovers[name] = readFile(folder / name);
        ASSERT_GE(leftovers.size(), 1u);

        messages.clear();
        answerExport();
        EXPECT_EQ(messages.titles(), QStringList{"说明"});
        EXPECT_EQ(readFile(target), exported);
        for (const auto& [name, bytes] : leftovers) EXPECT_EQ(readFile(folder / name), bytes);
    }
    std::cout << "[ faults   ] ExportWhoseCleanupFailsToo: " << injected << " injected\n";
    RecordProperty("faults_injected", injected);
}

}  // namespace
}  // namespace pelloran::testing
