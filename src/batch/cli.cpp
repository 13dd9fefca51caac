#include "batch/cli.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "batch/pack.h"
#include "batch/qt_parts.h"
#include "session/messages.h"

namespace pelloran::batch {

namespace {

using session::displayName;
using session::format;
using session::slotName;

const char* const kProgram = "pelloran-batch";

// Session texts separate their lines with a carriage return, which a
// terminal would print over the line before.
void printText(std::FILE* to, std::string_view text)
{
    for (char c : text) std::fputc(c == '\r' ? '\n' : c, to);
    std::fputc('\n', to);
}

void printError(const session::Error& error)
{
    const session::Message message = session::describe(error);
    if (std::holds_alternative<session::TooManyColours>(error)) {
        // The window asks; a script is told how to agree.
        printText(stderr, message.text.substr(0, message.text.find('\r')) + "\r" +
                              "加上 --reduce-colours 可以把它减少为256色再导入。");
        return;
    }
    if (const auto* refusal = std::get_if<session::ImportRefusal>(&error)) {
        // The window's warning names no file: it is the one the user just chose.
        printText(stderr, "“" + displayName(refusal->file) + "”：" + message.text);
        return;
    }
    printText(stderr, message.text);
}

void printRefusal(const FileRefusal& refusal)
{
    if (const auto* error = std::get_if<session::Error>(&refusal)) return printError(*error);
    const auto& pack = std::get<PackRefusal>(refusal);
    if (pack.fault == PackFault::SecondFile)
        printText(stderr, "“" + displayName(pack.file) + "”和“" + displayName(pack.other) +
                              "”是同一个头像，不知道该导入哪一个。");
    else
        printText(stderr, "“" + displayName(pack.file) +
                              "”：图片的大小和文件名说的不一致（64×80的是大头像，"
                              "32×40的是小头像，小头像的文件名以T结尾）。");
}

std::string numberText(int number)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03d", number);
    return text;
}

std::string originName(journal::Origin origin)
{
    switch (origin) {
        case journal::Origin::WriteBack:
            return "写入";
        case journal::Origin::BatchImport:
            return "批量导入";
        case journal::Origin::Undo:
            return "撤销";
    }
    return "操作";
}

std::string stateName(journal::State state)
{
    switch (state) {
        case journal::State::Unfinished:
            return "未完成";
        case journal::State::Committed:
            return "已完成";
        case journal::State::RolledBack:
            return "已回滚";
        case journal::State::Undone:
            return "已撤销";
    }
    return "";
}

std::string timeText(journal::Time time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(time));
    // The user's own clock, as the window shows it and as ls and git do; the
    // offset keeps a log read elsewhere unambiguous.
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &parts);
    return text;
}

std::string placeText(const journal::RecordPlace& place)
{
    const int number = archive::recordNumber(archive::layoutOf(place.archive), place.offset);
    return format("%1第%2号", {slotName(place.archive), std::to_string(number)});
}

// Shown after work has run for a second (PELLORAN_PROGRESS_DELAY seconds,
// as git's GIT_PROGRESS_DELAY), on a terminal only: a script's log gets no
// carriage returns. Redrawn ten times a second at most, and at the end.
class Progress {
public:
    explicit Progress(std::string what) : what_(std::move(what)), shown_(isatty(STDERR_FILENO) == 1)
    {
        if (const char* delay = std::getenv("PELLORAN_PROGRESS_DELAY"))
            delay_ = std::chrono::duration<double>(std::atof(delay));
    }
    ~Progress()
    {
        if (printed_) std::fputc('\n', stderr);
    }
    void at(std::size_t done, std::size_t total)
    {
        if (!shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < delay_) return;
        if (printed_ && done != total && now - last_ < std::chrono::milliseconds(100)) return;
        std::fprintf(stderr, "\r%s %zu/%zu", what_.c_str(), done, total);
        printed_ = true;
        last_ = now;
    }

private:
    std::string what_;
    bool shown_;
    bool printed_ = false;
    std::chrono::duration<double> delay_ = std::chrono::seconds(1);
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_;
};

// The parsed arguments of one command.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    bool has(const std::string& flag) const { return flags.contains(flag); }
    std::optional<std::string> value(const std::string& option) const
    {
        const auto found = values.find(option);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
};

struct Command {
    std::string name;
    std::string synopsis;  // after the program and the command's name
    std::string summary;
    std::vector<std::string> details;  // one line each: the options
    std::size_t positionals;
    std::set<std::string> flags;
    std::set<std::string> valued;
    std::function<Exit(const Arguments&)> run;
};

struct UsageError {
    std::string text;
};

Exit usage(const std::string& text)
{
    printText(stderr,
              std::string(kProgram) + "：" + text + "\r用 " + kProgram + " --help 查看用法。");
    return Exit::Usage;
}

std::optional<std::vector<int>> chosenNumbers(const Arguments& args)
{
    const auto list = args.value("--numbers");
    if (!list) return allNumbers();
    return parseNumbers(*list);
}

fileio::FileSystem& files()
{
    return fileio::nativeFileSystem();
}

// PNG files and colour reduction load the Qt module when first needed.
const LazyPictures& pictures()
{
    static const LazyPictures instance;
    return instance;
}

// The Qt module for work that cannot be done without it, loaded before
// anything is written; nothing when it cannot be loaded, and then it was said why.
const QtParts* needQt()
{
    const auto parts = qtParts();
    if (!parts) {
        printText(stderr, parts.error());
        return nullptr;
    }
    return *parts;
}

// Opens the pair and, as the window does, rolls back what a crash left
// unfinished, saying so in one sentence.
std::optional<journal::Pair> openAndRecover(const std::filesystem::path& largeArchive)
{
    const auto pair = session::pairOf(files(), largeArchive);
    if (!pair) {
        printError(pair.error());
        return std::nullopt;
    }
    const auto recovery = journal::recover(files(), *pair);
    if (!recovery) {
        printError(recovery.error());
        return std::nullopt;
    }
    if (*recovery && (*recovery)->operation) {
        const journal::Recovery& r = **recovery;
        std::string text = format("上次中断的%1（%2）已回滚：%3个头像记录已恢复。",
                                  {originName(r.operation->origin), timeText(r.operation->time),
                                   std::to_string(r.putBack)});
        if (!r.leftAlone.empty()) {
            text += "已被别的程序修改、没有动的：";
            for (const auto& place : r.leftAlone) text += placeText(place) + " ";
        }
        printText(stdout, text);
    }
    return *pair;
}

// A pack's folder is made when it does not exist yet, as a shell's cp -r would.
fileio::Result<void> makeFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return std::unexpected(fileio::Error{folder, fileio::Operation::Write, error});
    return {};
}

std::optional<PairRecords> readRecords(const journal::Pair& pair)
{
    auto records = PairRecords::read(files(), pair);
    if (!records) {
        printError(records.error());
        return std::nullopt;
    }
    return std::move(*records);
}

Exit info(const Arguments& args)
{
    const auto pair = session::pairOf(files(), args.positional[0]);
    if (!pair) return printError(pair.error()), Exit::Failure;
    const auto records = readRecords(*pair);
    if (!records) return Exit::Failure;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const auto& path = slot == Slot::Large ? pair->large : pair->small;
        const std::uint64_t expected = archive::fullArchiveSize(archive::layoutOf(slot));
        std::string line = slotName(slot) + "文件：" + displayName(path) + "，";
        auto file = files().openRead(path);
        if (!file && fileio::isNotFound(file.error())) {
            line += "不存在（读作全部空白）";
        } else if (!file) {
            return printError(file.error()), Exit::Failure;
        } else {
            const auto size = (*file)->size();
            if (!size) return printError(size.error()), Exit::Failure;
            line += format("%1字节，", {std::to_string(*size)});
            line += *size == expected
                        ? "长度正确"
                        : format("长度不对（应为%1字节）", {std::to_string(expected)});
        }
        printText(stdout, line);
        printText(stdout, format("  空白头像（全部为0）：%1个，共%2个",
                                 {std::to_string(blankRecords(*records, slot)),
                                  std::to_string(archive::kLastNumber)}));
    }
    const auto journalFile = journal::journalPath(pair->large);
    const auto found = files().inspect(journalFile);
    if (!found) return printError(found.error()), Exit::Failure;
    if (!*found) {
        printText(stdout, "日志：" + displayName(journalFile) + "，不存在");
        return Exit::Success;
    }
    const auto entries = journal::history(files(), *pair);
    if (!entries) return printError(entries.error()), Exit::Failure;
    const bool unfinished = std::ranges::any_of(*entries, [](const journal::HistoryEntry& e) {
        return e.state == journal::State::Unfinished;
    });
    printText(stdout,
              format("日志：%1，%2个操作，%3",
                     {displayName(journalFile), std::to_string(entries->size()),
                      unfinished ? "有一个未完成的操作，下次打开时会回滚" : "没有未完成的操作"}));
    return Exit::Success;
}

std::optional<session::FileKind> chosenKind(const Arguments& args)
{
    const auto format = args.value("--format").value_or("bmp");
    if (format == "bmp") return session::FileKind::Bmp;
    if (format == "png") return session::FileKind::Png;
    return std::nullopt;
}

Exit exportCommand(const Arguments& args)
{
    const auto numbers = chosenNumbers(args);
    if (!numbers) return usage("无法理解编号列表“" + *args.value("--numbers") + "”。");
    const auto kind = chosenKind(args);
    if (!kind) return usage("--format 只能是 bmp 或 png。");
    if (*kind == session::FileKind::Png && !needQt()) return Exit::Failure;
    const auto pair = openAndRecover(args.positional[0]);
    if (!pair) return Exit::Failure;
    const std::filesystem::path folder = args.positional[1];
    if (auto made = makeFolder(folder); !made) return printError(made.error()), Exit::Failure;
    const auto entries = bothSlots(*numbers);
    Progress progress("导出");
    if (auto written =
            exportPack(files(), *pair, entries, folder, *kind, &pictures(),
                       [&](std::size_t done, std::size_t total) { progress.at(done, total); });
        !written)
        return printError(written.error()), Exit::Failure;
    printText(stdout, format("已导出%1个编号的头像（%2个文件）到“%3”。",
                             {std::to_string(numbers->size()), std::to_string(entries.size()),
                              displayName(folder)}));
    return Exit::Success;
}

Exit importCommand(const Arguments& args)
{
    const auto pair = openAndRecover(args.positional[0]);
    if (!pair) return Exit::Failure;
    const auto records = readRecords(*pair);
    if (!records) return Exit::Failure;
    const auto colours =
        args.has("--reduce-colours") ? session::Colours::Reduce : session::Colours::Refuse;
    Progress progress("检查");
    const auto plan =
        planImport(files(), *records, args.positional[1], colours, &pictures(),
                   [&](std::size_t done, std::size_t total) { progress.at(done, total); });
    if (!plan) return printError(plan.error()), Exit::Failure;
    if (const auto failure = pictures().failure()) {
        printText(stderr, *failure);
        return Exit::Failure;
    }

    for (const auto& path : plan->notUnderstood)
        printText(stdout, "跳过（不是头像文件名，如 057.bmp、057T.bmp）：" + displayName(path));
    if (!plan->refused.empty()) {
        for (const auto& refusal : plan->refused) printRefusal(refusal);
        printText(stderr, format("%1个文件无法导入，什么都没有写入。",
                                 {std::to_string(plan->refused.size())}));
        return Exit::Failure;
    }
    for (const auto& change : plan->changes)
        printText(stdout,
                  format("%1 %2 ← %3", {numberText(change.entry.number),
                                        slotName(change.entry.slot), displayName(change.file)}));
    printText(stdout, format("%1个头像记录将改变，%2个文件与头像相同，跳过。",
                             {std::to_string(plan->changes.size()),
                              std::to_string(plan->unchanged.size())}));
    if (args.has("--dry-run")) {
        printText(stdout, "试运行：什么都没有写入。");
        return Exit::Success;
    }
    if (auto written = applyImport(files(), *pair, plan->changes); !written)
        return printError(written.error()), Exit::Failure;
    if (!plan->changes.empty())
        printText(stdout, format("已写入%1个头像记录；用 %2 undo 可以一步撤销。",
                                 {std::to_string(plan->changes.size()), kProgram}));
    return Exit::Success;
}

Exit sheet(const Arguments& args)
{
    const auto numbers = chosenNumbers(args);
    if (!numbers) return usage("无法理解编号列表“" + *args.value("--numbers") + "”。");
    const auto pair = openAndRecover(args.positional[0]);
    if (!pair) return Exit::Failure;
    const auto records = readRecords(*pair);
    if (!records) return Exit::Failure;
    const std::filesystem::path out = args.positional[1];
    const Slot slot = args.has("--small") ? Slot::Small : Slot::Large;
    const QtParts* qt = needQt();
    if (!qt) return Exit::Failure;
    std::vector<std::span<const std::uint8_t>> portraits;
    for (int n : *numbers) portraits.push_back(records->record(slot, n));
    const auto png = qt->contactSheet(portraits, *numbers, slot);
    if (png.empty()) {
        printText(stderr, "无法生成“" + displayName(out) + "”：Qt无法写出PNG图片。");
        return Exit::Failure;
    }
    for (const auto& archive : {pair->large, pair->small}) {
        const auto same = files().sameFile(out, archive);
        if (!same) return printError(same.error()), Exit::Failure;
        if (*same)
            return printError(session::Refusal{session::Problem::ExportOverArchive, out}),
                   Exit::Failure;
    }
    if (auto written = fileio::replaceFile(files(), out, png); !written)
        return printError(written.error()), Exit::Failure;
    printText(stdout, format("已把%1个%2排成一张图：“%3”。",
                             {std::to_string(numbers->size()), slotName(slot), displayName(out)}));
    return Exit::Success;
}

Exit diff(const Arguments& args)
{
    const auto first = openAndRecover(args.positional[0]);
    if (!first) return Exit::Failure;
    const auto second = openAndRecover(args.positional[1]);
    if (!second) return Exit::Failure;
    const auto a = readRecords(*first);
    if (!a) return Exit::Failure;
    const auto b = readRecords(*second);
    if (!b) return Exit::Failure;
    const auto differing = differences(*a, *b);
    for (const PackEntry& entry : differing)
        printText(stdout, numberText(entry.number) + " " + slotName(entry.slot));
    printText(stdout, format("%1个头像记录不同。", {std::to_string(differing.size())}));
    if (const auto folder = args.value("--export"); folder && !differing.empty()) {
        if (auto made = makeFolder(*folder); !made) return printError(made.error()), Exit::Failure;
        if (auto written = exportPack(files(), *first, differing, *folder, session::FileKind::Bmp,
                                      &pictures());
            !written)
            return printError(written.error()), Exit::Failure;
        printText(stdout, format("已把第一对文件中不同的%1个头像导出到“%2”。",
                                 {std::to_string(differing.size()), *folder}));
    }
    return Exit::Success;
}

Exit history(const Arguments& args)
{
    const auto pair = session::pairOf(files(), args.positional[0]);
    if (!pair) return printError(pair.error()), Exit::Failure;
    const auto entries = journal::history(files(), *pair);
    if (!entries) return printError(entries.error()), Exit::Failure;
    if (entries->empty()) printText(stdout, "日志里没有操作。");
    for (const auto& e : *entries) {
        std::string line = format("#%1  %2  %3  %4个头像记录  %5",
                                  {std::to_string(e.id), timeText(e.time), originName(e.origin),
                                   std::to_string(e.records), stateName(e.state)});
        if (e.undoes != 0) line += format("（撤销#%1）", {std::to_string(e.undoes)});
        printText(stdout, line);
    }
    return Exit::Success;
}

Exit undo(const Arguments& args)
{
    const auto pair = openAndRecover(args.positional[0]);
    if (!pair) return Exit::Failure;
    const auto report = journal::undoLast(files(), *pair);
    if (report) {
        printText(stdout,
                  format("已撤销#%1（%2，%3），%4个头像记录已恢复。",
                         {std::to_string(report->undone.id), originName(report->undone.origin),
                          timeText(report->undone.time), std::to_string(report->touched.size())}));
        return Exit::Success;
    }
    std::visit(
        [](const auto& error) {
            using E = std::decay_t<decltype(error)>;
            if constexpr (std::is_same_v<E, fileio::Error>)
                printError(error);
            else if constexpr (std::is_same_v<E, journal::UndoConflict>)
                printText(stderr,
                          format("无法撤销#%1：%2在那之后又被修改过，什么都没有改变。",
                                 {std::to_string(error.operation), placeText(error.record)}));
            else
                printText(stderr, "没有可以撤销的操作。");
        },
        report.error());
    return Exit::Failure;
}

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = {
        {"info",
         "GRPFACES.S10",
         "两个头像文件的长度、空白头像的数目和日志的状态",
         {},
         1,
         {},
         {},
         info},
        {"export",
         "GRPFACES.S10 文件夹 [--numbers 列表] [--format bmp|png]",
         "把头像导出为文件：大头像 057.bmp，小头像 057T.BMP",
         {"--numbers 列表   要导出的编号，如 57、1-722、1,5,9-12；默认全部832个",
          "--format bmp|png 文件格式，默认 bmp"},
         2,
         {},
         {"--numbers", "--format"},
         exportCommand},
        {"import",
         "GRPFACES.S10 文件夹 [--dry-run] [--reduce-colours]",
         "把文件夹里的头像文件写入头像文件；先检查全部文件，一个有错就什么都不写",
         {"--dry-run        只列出会改变的头像，不写入",
          "--reduce-colours 颜色超过256种的图片减少为256色再导入"},
         2,
         {"--dry-run", "--reduce-colours"},
         {},
         importCommand},
        {"sheet",
         "GRPFACES.S10 输出.png [--numbers 列表] [--small]",
         "把头像排成一张PNG图片，每个头像下面写着编号",
         {"--numbers 列表   要排的编号；默认全部832个", "--small          排小头像"},
         2,
         {"--small"},
         {"--numbers"},
         sheet},
        {"diff",
         "GRPFACES.S10 另一个/GRPFACES.S10 [--export 文件夹]",
         "列出两对头像文件中不同的编号",
         {"--export 文件夹  把第一对中不同的头像导出到文件夹"},
         2,
         {},
         {"--export"},
         diff},
        {"history", "GRPFACES.S10", "列出日志里的操作", {}, 1, {}, {}, history},
        {"undo", "GRPFACES.S10", "撤销最后一个操作", {}, 1, {}, {}, undo},
    };
    return table;
}

void printHelp()
{
    std::string text = format("用法：%1 命令 参数…\r\r命令：", {kProgram});
    for (const Command& c : commands())
        text += "\r  " + c.name + std::string(9 - c.name.size(), ' ') + c.summary;
    text += format(
        "\r\r%1 命令 --help 查看命令的用法；%2 --version 显示版本。\r"
        "成功时返回0，失败时返回1（什么都没有改变），用法错误时返回2。",
        {kProgram, kProgram});
    printText(stdout, text);
}

void printHelp(const Command& c)
{
    std::string text = format("用法：%1 %2 %3\r%4", {kProgram, c.name, c.synopsis, c.summary});
    for (const auto& line : c.details) text += "\r  " + line;
    printText(stdout, text);
}

}  // namespace

Exit run(const std::vector<std::string>& args)
{
    if (args.empty()) return usage("请给出命令。");
    if (args[0] == "--help" || args[0] == "-h") return printHelp(), Exit::Success;
    if (args[0] == "--version")
        return printText(stdout, std::string(kProgram) + " " + session::version()), Exit::Success;
    const auto& table = commands();
    const auto command = std::ranges::find(table, args[0], &Command::name);
    if (command == table.end()) return usage("没有“" + args[0] + "”这个命令。");

    Arguments parsed;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") return printHelp(*command), Exit::Success;
        if (command->flags.contains(arg)) {
            parsed.flags.insert(arg);
        } else if (command->valued.contains(arg)) {
            if (i + 1 == args.size()) return usage(arg + " 后面缺少值。");
            parsed.values[arg] = args[++i];
        } else if (arg.starts_with("--")) {
            return usage(command->name + " 命令没有 " + arg + " 这个选项。");
        } else {
            parsed.positional.push_back(arg);
        }
    }
    if (parsed.positional.size() != command->positionals)
        return usage(format("用法：%1 %2 %3", {kProgram, command->name, command->synopsis}));
    return command->run(parsed);
}

}  // namespace pelloran::batch
