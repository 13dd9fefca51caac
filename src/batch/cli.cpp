#include "batch/cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "batch/qt_parts.h"
#include "fileio/host.h"
#include "session/language.h"
#include "session/messages.h"
#include "session/packs.h"

namespace pelloran::batch {

namespace {

using namespace session;

constexpr std::string_view kProgram = "pelloran-batch";

constexpr host::Stream kOut = host::Stream::Output, kErr = host::Stream::Error;

// Session texts separate their lines with a carriage return, which a
// terminal would print over the line before.
void printText(host::Stream to, std::string_view text)
{
    std::string lines(text);
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    lines += '\n';
    host::write(to, lines);
}

// An argument names a file in UTF-8, whatever the system's code page.
std::filesystem::path pathOf(const std::string& argument)
{
    return std::u8string(argument.begin(), argument.end());
}

Exit fail(const FileRefusal& refusal)
{
    printText(kErr, describeForTerminal(refusal));
    return Exit::Failure;
}

// Shown after work has run for a second (PELLORAN_PROGRESS_DELAY seconds,
// as git's GIT_PROGRESS_DELAY), on a terminal only: a script's log gets no
// carriage returns. Redrawn ten times a second at most, and at the end.
class Progress {
public:
    explicit Progress(Work work)
        : what_(progressWord(work)), shown_(host::isTerminal(host::Stream::Error))
    {
        if (const char* delay = std::getenv("PELLORAN_PROGRESS_DELAY"))
            delay_ = std::chrono::duration<double>(std::atof(delay));
    }
    ~Progress()
    {
        if (printed_) host::write(kErr, "\n");
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    OnProgress callback()
    {
        return [this](std::size_t done, std::size_t total) { at(done, total); };
    }

private:
    void at(std::size_t done, std::size_t total)
    {
        if (!shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < delay_) return;
        if (printed_ && done != total && now - last_ < std::chrono::milliseconds(100)) return;
        host::write(kErr, "\r" + what_ + ' ' + std::to_string(done) + '/' + std::to_string(total));
        printed_ = true;
        last_ = now;
    }

    std::string what_;
    bool shown_;
    bool printed_ = false;
    std::chrono::duration<double> delay_ = std::chrono::seconds(1);
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_;
};

// The parsed arguments of one command.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string, std::less<>> options;  // a flag's value is empty
    bool has(std::string_view option) const { return options.contains(option); }
    std::optional<std::string> value(std::string_view option) const
    {
        const auto found = options.find(option);
        if (found == options.end()) return std::nullopt;
        return found->second;
    }
};

// One option of a command: it both parses the command line and prints the help.
struct Option {
    std::string_view name;   // "--numbers"
    std::string_view value;  // how the help names its value; empty for a flag
    std::string_view help;
    std::string_view choices = {};  // the values it takes, "bmp|png"; empty: any
};

struct Command {
    std::string_view name;
    std::vector<std::string_view> arguments;  // as the help names them
    std::string_view summary;
    std::vector<Option> options;
    Exit (*run)(const Arguments&);
};

Exit usage(Usage problem, std::string_view what, std::string_view command = {},
           std::string_view choices = {})
{
    printText(kErr, usageProblem(problem, kProgram, what, command, choices));
    return Exit::Usage;
}

// The numbers --numbers names, all of them when it is not given; nothing
// when the list cannot be understood, which has been said then.
std::optional<std::vector<int>> chosenNumbers(const Arguments& args)
{
    const auto list = args.value("--numbers");
    if (!list) return allNumbers();
    auto numbers = parseNumbers(*list);
    if (!numbers) usage(Usage::BadNumbers, *list);
    return numbers;
}

// Reading PNG files and colour reduction load the Qt module when first needed.
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
        printText(kErr, parts.error());
        return nullptr;
    }
    return *parts;
}

// A session on the pair; as the window does, commands that show or write
// roll back first what a crash left unfinished, saying so in one sentence.
std::optional<Session> openPair(const std::string& argument, Opening opening = Opening::Recover)
{
    const std::filesystem::path largeArchive = pathOf(argument);
    std::optional<Session> session(std::in_place, fileio::nativeFileSystem(), &pictures());
    // A few seconds for another program's write to end (PELLORAN_LOCK_WAIT
    // seconds), said on a terminal; a script's log gets only the outcome.
    auto wait = std::chrono::milliseconds(5000);
    if (const char* seconds = std::getenv("PELLORAN_LOCK_WAIT"))
        wait = std::chrono::milliseconds(static_cast<std::int64_t>(std::atof(seconds) * 1000));
    session->setWriterWait(wait, [largeArchive] {
        if (host::isTerminal(host::Stream::Error)) printText(kErr, waitingForWriter(largeArchive));
    });
    const auto opened = session->open(largeArchive, opening);
    if (!opened) {
        fail(opened.error());
        return std::nullopt;
    }
    if (opened->recovered) printText(kOut, recovered(*opened->recovered).text);
    return session;
}

Exit info(const Arguments& args)
{
    const auto session = openPair(args.positional[0], Opening::LookOnly);
    if (!session) return Exit::Failure;
    const auto summary = summarize(*session);
    if (!summary) return fail(summary.error());
    printText(kOut, summaryText(*summary));
    // A script that checks a pair before working on it learns from the
    // status alone that an archive is missing or of the wrong length.
    Exit exit = Exit::Success;
    for (const ArchiveSummary* archive : {&summary->large, &summary->small})
        if (!archive->whole()) {
            printText(kErr, archiveNotWhole(*archive));
            exit = Exit::Failure;
        }
    return exit;
}

Exit exportCommand(const Arguments& args)
{
    const auto numbers = chosenNumbers(args);
    if (!numbers) return Exit::Usage;
    const FileKind kind = args.value("--format") == "png" ? FileKind::Png : FileKind::Bmp;
    const auto session = openPair(args.positional[0]);
    if (!session) return Exit::Failure;
    const std::filesystem::path folder = pathOf(args.positional[1]);
    const auto entries = bothSlots(*numbers);
    Progress progress(Work::Export);
    if (auto written = exportPack(*session, entries, folder, kind, progress.callback()); !written)
        return fail(written.error());
    printText(kOut, packExported(numbers->size(), entries.size(), folder));
    return Exit::Success;
}

Exit importCommand(const Arguments& args)
{
    auto session = openPair(args.positional[0]);
    if (!session) return Exit::Failure;
    const Colours colours = args.has("--reduce-colours") ? Colours::Reduce : Colours::Refuse;
    Progress progress(Work::Check);
    const auto plan =
        planImport(*session, pathOf(args.positional[1]), colours, progress.callback());
    if (!plan) return fail(plan.error());
    if (const auto failure = pictures().failure()) {
        printText(kErr, *failure);
        return Exit::Failure;
    }

    for (const auto& path : plan->notUnderstood) printText(kOut, skippedName(path));
    const bool skipUnknown = args.has("--skip-unknown");
    if (skipUnknown)
        for (const auto& path : plan->unknownPictures) printText(kOut, skippedName(path));
    const std::size_t unknown = skipUnknown ? 0 : plan->unknownPictures.size();
    if (!plan->refused.empty() || unknown > 0) {
        if (!skipUnknown)
            for (const auto& path : plan->unknownPictures)
                printText(kErr, unknownPictureName(path));
        for (const auto& refusal : plan->refused) printText(kErr, describeForTerminal(refusal));
        printText(kErr, packRefused(plan->refused.size() + unknown));
        return Exit::Failure;
    }
    for (const auto& change : plan->changes) printText(kOut, plannedChange(change));
    printText(kOut, planTotals(plan->changes.size(), plan->unchanged.size()));
    if (args.has("--dry-run")) {
        printText(kOut, dryRunDone());
        return Exit::Success;
    }
    if (auto written = applyImport(*session, plan->changes); !written) return fail(written.error());
    if (!plan->changes.empty())
        printText(kOut, packImported(plan->changes.size(), std::string(kProgram) + " undo"));
    return Exit::Success;
}

Exit sheet(const Arguments& args)
{
    const auto numbers = chosenNumbers(args);
    if (!numbers) return Exit::Usage;
    const auto session = openPair(args.positional[0]);
    if (!session) return Exit::Failure;
    const auto records = readPair(*session);
    if (!records) return fail(records.error());
    const std::filesystem::path out = pathOf(args.positional[1]);
    const Slot slot = args.has("--small") ? Slot::Small : Slot::Large;
    const QtParts* qt = needQt();
    if (!qt) return Exit::Failure;
    std::vector<std::span<const std::uint8_t>> portraits;
    for (int n : *numbers) portraits.push_back(records->record(slot, n));
    const auto png = qt->contactSheet(portraits, *numbers, slot);
    if (png.empty()) return fail(Error{Refusal{Problem::NoPngWriter, out}});
    if (auto written = saveFile(*session, out, png); !written) return fail(written.error());
    printText(kOut, sheetDone(numbers->size(), slot, out));
    return Exit::Success;
}

Exit diff(const Arguments& args)
{
    const auto first = openPair(args.positional[0]);
    if (!first) return Exit::Failure;
    const auto second = openPair(args.positional[1]);
    if (!second) return Exit::Failure;
    for (const Session* pair : {&*first, &*second})
        if (auto both = needsBothArchives(*pair); !both) return fail(both.error());
    const auto a = readPair(*first);
    if (!a) return fail(a.error());
    const auto b = readPair(*second);
    if (!b) return fail(b.error());
    const auto differing = differences(*a, *b);
    for (const PackEntry& entry : differing) printText(kOut, differenceLine(entry));
    printText(kOut, differencesFound(differing.size()));
    if (const auto folder = args.value("--export"); folder && !differing.empty()) {
        if (auto written = exportPack(*first, differing, *folder, FileKind::Bmp); !written)
            return fail(written.error());
        printText(kOut, differencesExported(differing.size(), *folder));
    }
    return Exit::Success;
}

Exit history(const Arguments& args)
{
    const auto session = openPair(args.positional[0], Opening::LookOnly);
    if (!session) return Exit::Failure;
    const auto entries = session->history();
    if (!entries) return fail(entries.error());
    if (entries->empty()) printText(kOut, noHistory());
    for (const auto& entry : *entries) printText(kOut, historyLine(entry));
    return Exit::Success;
}

Exit undo(const Arguments& args)
{
    auto session = openPair(args.positional[0]);
    if (!session) return Exit::Failure;
    const auto undone = session->undo();
    if (!undone) return fail(undone.error());
    printText(kOut, undoDone(*undone).text);
    return Exit::Success;
}

const std::vector<Command>& commands()
{
    static const Option numbers{"--numbers", N_("列表"),
                                N_("要处理的编号，如 57、1-722、1,5,9-12；默认全部832个")};
    static const std::vector<Command> table = {
        {"info", {"GRPFACES.S10"}, N_("两个头像文件的长度、空白头像的数目和日志的状态"), {}, info},
        {"export",
         {"GRPFACES.S10", N_("文件夹")},
         N_("把头像导出为文件：大头像 057.bmp，小头像 057T.BMP"),
         {numbers, {"--format", "bmp|png", N_("文件格式，默认 bmp"), "bmp|png"}},
         exportCommand},
        {"import",
         {"GRPFACES.S10", N_("文件夹")},
         N_("把文件夹里的头像文件写入头像文件；先检查全部文件，一个有错就什么都不写"),
         {{"--dry-run", "", N_("只列出会改变的头像，不写入")},
          {"--reduce-colours", "", N_("颜色超过256种的图片减少为256色再导入")},
          {"--skip-unknown", "",
           N_("跳过文件名看不出编号的图片文件（如 face.png）；不加时这样的文件使导入失败")}},
         importCommand},
        {"sheet",
         {"GRPFACES.S10", N_("输出.png")},
         N_("把头像排成一张PNG图片，每个头像下面写着编号"),
         {numbers, {"--small", "", N_("排小头像")}},
         sheet},
        {"diff",
         {"GRPFACES.S10", N_("另一个/GRPFACES.S10")},
         N_("列出两对头像文件中不同的编号"),
         {{"--export", N_("文件夹"), N_("把第一对中不同的头像导出到文件夹")}},
         diff},
        {"history", {"GRPFACES.S10"}, N_("列出日志里的操作"), {}, history},
        {"undo", {"GRPFACES.S10"}, N_("撤销最后一个操作"), {}, undo},
    };
    return table;
}

// Columns on a terminal: a CJK character takes two.
std::size_t columns(std::string_view text)
{
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80)
            width += 1;
        else if (byte >= 0xE0)
            width += 2;  // the lead byte of three or four: wide
    }
    return width;
}

// A text of the table in the chosen language. The table's texts are
// literals, so each view ends in the zero the catalog's lookup needs.
std::string_view shown(std::string_view text)
{
    return text.empty() ? text : tr(text.data());
}

std::string optionHeading(const Option& option)
{
    std::string heading(option.name);
    if (!option.value.empty()) heading.append(" ").append(shown(option.value));
    return heading;
}

std::string synopsis(const Command& command)
{
    std::string text;
    for (std::string_view argument : command.arguments) {
        if (!text.empty()) text += ' ';
        text += shown(argument);
    }
    for (const Option& option : command.options) text += " [" + optionHeading(option) + "]";
    return text;
}

void printHelp()
{
    std::string text = helpHeading(kProgram);
    for (const Command& c : commands())
        text += "\r  " + std::string(c.name) + std::string(9 - c.name.size(), ' ') +
                std::string(shown(c.summary));
    text += "\r\r" + helpFooter(kProgram);
    printText(kOut, text);
}

void printHelp(const Command& c)
{
    constexpr std::size_t kHeadingColumns = 17;
    std::string text =
        commandUsage(kProgram, c.name, synopsis(c)) + "\r" + std::string(shown(c.summary));
    for (const Option& option : c.options) {
        const std::string heading = optionHeading(option);
        text +=
            "\r  " + heading +
            std::string(kHeadingColumns - std::min(kHeadingColumns - 1, columns(heading)), ' ') +
            std::string(shown(option.help));
    }
    printText(kOut, text);
}

// The command line of command: options as "--opt value" or "--opt=value",
// each at most once; "--" ends them.
std::variant<Arguments, Exit> parse(const Command& command, std::span<const std::string> args)
{
    Arguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || !arg.starts_with("-") || arg == "-") {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return printHelp(command), Exit::Success;
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto option = std::ranges::find(command.options, name, &Option::name);
        if (option == command.options.end() || (option->value.empty() && equals != arg.npos))
            return usage(Usage::UnknownOption, arg, command.name);
        if (parsed.has(name)) return usage(Usage::RepeatedOption, name);
        std::string value;
        if (!option->value.empty()) {
            if (equals != arg.npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return usage(Usage::MissingValue, name);
            if (!option->choices.empty()) {
                std::string_view choices = option->choices;
                bool known = false;
                while (!choices.empty() && !known) {
                    const auto bar = choices.find('|');
                    known = choices.substr(0, bar) == value;
                    choices.remove_prefix(bar == choices.npos ? choices.size() : bar + 1);
                }
                if (!known) return usage(Usage::BadValue, name, command.name, option->choices);
            }
        }
        parsed.options.emplace(name, std::move(value));
    }
    if (parsed.positional.size() != command.arguments.size())
        return usage(Usage::WrongArguments, synopsis(command), command.name);
    return parsed;
}

// Takes "--lang CODE" or "--lang=CODE" out of args wherever it stands before
// "--", and chooses that language; otherwise the user's. A code the
// programs do not speak is a usage error.
std::optional<Exit> takeLanguage(std::vector<std::string>& args)
{
    chooseLanguage(userLanguage());
    const auto end = std::ranges::find(args, "--");
    const auto option = std::find_if(args.begin(), end, [](const std::string& arg) {
        return arg == "--lang" || arg.starts_with("--lang=");
    });
    if (option == end) return std::nullopt;
    const bool joined = *option != "--lang";
    if (!joined && option + 1 == end) return usage(Usage::MissingValue, "--lang");
    const std::string value = joined ? option->substr(7) : *(option + 1);
    args.erase(option, option + (joined ? 1 : 2));
    const std::string code = languageFor(value);
    if (code.empty()) return usage(Usage::BadValue, "--lang", {}, languageChoices());
    chooseLanguage(code);
    return std::nullopt;
}

}  // namespace

Exit run(std::vector<std::string> args)
{
    if (const auto exit = takeLanguage(args)) return *exit;
    if (args.empty()) return usage(Usage::NoCommand, {});
    if (args[0] == "--help" || args[0] == "-h") return printHelp(), Exit::Success;
    if (args[0] == "--version") return printText(kOut, versionLine(kProgram)), Exit::Success;
    const auto& table = commands();
    const auto command = std::ranges::find(table, args[0], &Command::name);
    if (command == table.end()) return usage(Usage::UnknownCommand, args[0]);
    auto parsed = parse(*command, std::span(args).subspan(1));
    if (const Exit* exit = std::get_if<Exit>(&parsed)) return *exit;
    return command->run(std::get<Arguments>(parsed));
}

}  // namespace pelloran::batch
