#include "session/messages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "archive/layout.h"
#include "fileio/host.h"
#include "pelloran_version.h"
#include "session/language.h"

namespace pelloran::session {

namespace {

// The titles of the message boxes, looked up when a box is made: the
// language may be chosen after the program started.
std::string noticeTitle()
{
    return tr("说明");
}

std::string warningTitle()
{
    return tr("警告");
}

std::string errorTitle()
{
    return tr("错误");
}

std::string placeText(Slot slot, int number)
{
    return format(tr("%1第%2号"), {slotName(slot), std::to_string(number)});
}

int numberAt(const journal::RecordPlace& place)
{
    return archive::recordNumber(archive::layoutOf(place.archive), place.offset);
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The reason a file operation failed, in words a user of this editor reads.
// The system's own wording follows in brackets where it says more.
std::string reasonText(const std::error_code& code)
{
    if (code.category() == archive::faultCategory()) {
        switch (static_cast<archive::Fault>(code.value())) {
            case archive::Fault::TooShort:
                return tr("文件长度不足，不含当前编号的头像。");
            case archive::Fault::VerifyMismatch:
                return tr("写入后读回的内容与写入的内容不一致。");
        }
    }
    if (code.category() == journal::faultCategory()) {
        switch (static_cast<journal::Fault>(code.value())) {
            case journal::Fault::NotAJournal:
                return tr(
                    "这个文件不是Pelloran的日志，没有动它。把它移走或删掉就可以写入，"
                    "只会失去它可能记着的撤销记录。");
            case journal::Fault::NewerVersion:
                return tr("日志文件是较新版本的Pelloran写的。");
            case journal::Fault::EntryDamaged:
                return tr("日志文件中有一项已损坏。");
            case journal::Fault::OverlappingRecords:
                return tr("同一次写入中有两条记录重叠。");
        }
    }
    if (code == fileio::Fault::ShortWrite) return tr("系统只写入了一部分数据。");
    if (code == fileio::Fault::WriteProtected) return tr("文件是只读的，没有替换它。");
    if (code == fileio::Fault::Locked)
        return tr(
            "另一个程序正在写入这对头像文件，等了几秒仍没有结束。什么都没有改变，请稍后再试。");
    if (code == fileio::Fault::NotRegularFile)
        return tr("这不是普通文件，而是管道、设备或套接字，没有打开它。");
    const std::string system = trimmed(code.message());
    std::string words;
    if (code == std::errc::no_such_file_or_directory)
        words = tr("文件不存在");
    else if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        words = tr("没有访问权限");
    else if (code == std::errc::no_space_on_device)
        words = tr("磁盘空间不足");
    else if (code == std::errc::read_only_file_system)
        words = tr("磁盘是只读的");
    else if (code == std::errc::is_a_directory)
        words = tr("这是一个文件夹");
    else if (code == std::errc::io_error)
        words = tr("磁盘读写出错");
    return words.empty() ? system : format(tr("%1（%2）"), {words, system});
}

std::string operationText(fileio::Operation operation)
{
    switch (operation) {
        case fileio::Operation::Open:
            return tr("无法打开文件");
        case fileio::Operation::Read:
        case fileio::Operation::Size:
            return tr("无法读取文件");
        case fileio::Operation::Write:
            return tr("无法写入文件");
        case fileio::Operation::Flush:
            return tr("无法保存文件");
        case fileio::Operation::Close:
            return tr("无法关闭文件");
        case fileio::Operation::Rename:
        case fileio::Operation::Remove:
            return tr("无法替换文件");
    }
    return tr("无法访问文件");
}

Message fileError(const fileio::Error& error)
{
    return {Tone::Error, errorTitle(),
            format(tr("%1“%2”。\r原因：%3"), {operationText(error.operation),
                                              displayName(error.path), reasonText(error.code)})};
}

// The line under a refusal that names what was found.
std::string foundText(const bitmap::DecodeError& found)
{
    const auto n = [](std::int64_t value) { return std::to_string(value); };
    switch (found.fault) {
        case bitmap::DecodeFault::NotABitmap:
            return tr("这个文件既不是BMP图片，也不是PNG图片。");
        case bitmap::DecodeFault::Truncated:
            return format(tr("文件在第%1字节处就结束了，比它的文件头所说的短。"), {n(found.found)});
        case bitmap::DecodeFault::UnsupportedHeader:
            return format(tr("无法读取信息头为%1字节的BMP图片。"), {n(found.found)});
        case bitmap::DecodeFault::NotPortraitSize:
            return format(tr("这张图片是%1×%2像素。"), {n(found.width), n(found.height)});
        case bitmap::DecodeFault::UnsupportedPlanes:
            return format(tr("图片有%1个色彩平面，只能读取1个的。"), {n(found.found)});
        case bitmap::DecodeFault::UnsupportedDepth:
            return format(tr("无法读取每像素%1位的图片。"), {n(found.found)});
        case bitmap::DecodeFault::UnsupportedCompression:
            return format(tr("无法读取压缩方式为%1的图片。"), {n(found.found)});
        case bitmap::DecodeFault::BadBitFields:
            return tr("图片的颜色掩码无法读取。");
        case bitmap::DecodeFault::BadPaletteLength:
            return format(tr("调色板说有%1种颜色，超出了图片的位数能用的数目。"), {n(found.found)});
        case bitmap::DecodeFault::PixelsInsideHeader:
            return format(tr("像素数据的位置（第%1字节）落在文件头或调色板里。"), {n(found.found)});
        case bitmap::DecodeFault::RunPastPicture:
            return format(tr("第%1字节处的压缩数据超出了图片的范围。"), {n(found.found)});
        case bitmap::DecodeFault::IndexBeyondPalette:
            return format(tr("像素用了第%1号颜色，可是调色板只有%2种颜色。"),
                          {n(found.found), n(found.paletteLength)});
        case bitmap::DecodeFault::DamagedPng:
            if (found.found == 0) return tr("PNG图片的像素数据已损坏，无法解开。");
            return format(tr("PNG图片第%1字节处的数据块已损坏（校验和不符或位置不对）。"),
                          {n(found.found)});
        case bitmap::DecodeFault::NoPngReader:
            return tr("这是PNG图片，可是这里没有读取PNG图片的模块，只能导入BMP图片。");
    }
    return {};
}

Message importRefusal(const ImportRefusal& refusal)
{
    std::string check;
    switch (refusal.refusal.check) {
        case bitmap::Check::Width:
            check = tr("导入的图片宽度必须为64或32像素！");
            break;
        case bitmap::Check::Height:
            check = tr("导入的图片高度必须为80或40像素！");
            break;
        case bitmap::Check::Format:
            check = tr("导入的图片必须为64×80或32×40的BMP或PNG图片！");
            break;
    }
    return {Tone::Warning, warningTitle(), check + "\r" + foundText(refusal.refusal.found)};
}

Message tooManyColours(const TooManyColours& refusal)
{
    return {Tone::Question, warningTitle(),
            format(tr("“%1”有%2种颜色，头像最多只能有256种。\r要把它减少为256色再导入吗？"),
                   {refusal.file.empty() ? tr("粘贴的图片") : displayName(refusal.file),
                    std::to_string(refusal.colours)})};
}

Message sessionRefusal(const Refusal& refusal)
{
    const std::string file = displayName(refusal.file);
    switch (refusal.problem) {
        case Problem::NameTooShort:
            return {
                Tone::Error, errorTitle(),
                format(tr("无法使用文件名“%1”：\r文件名太短，无法得出配套文件的名字。"), {file})};
        case Problem::ImportChanged:
            return {
                Tone::Error, errorTitle(),
                format(
                    tr("无法读取文件“%1”。\r原因：图片在导入后已被修改、移动或删除，请重新导入。"),
                    {file})};
        case Problem::NoPairOpen:
            return {Tone::Error, errorTitle(), tr("请先打开头像文件。")};
        case Problem::NumberOutOfRange:
            return {Tone::Error, errorTitle(), tr("编号不在当前的范围内。")};
        case Problem::PairIsOneFile:
            return {Tone::Error, errorTitle(),
                    format(tr("无法打开“%"
                              "1”：\r它同时是自己的小头像文件，请选择大头像文件（GRPFACES.S10）。"),
                           {file})};
        case Problem::NothingToUndo:
            return {Tone::Notice, noticeTitle(), tr("没有可以撤销的操作。")};
        case Problem::NoPngWriter:
            if (refusal.file.empty()) return {Tone::Error, errorTitle(), tr("无法写出PNG图片。")};
            return {Tone::Error, errorTitle(),
                    format(tr("无法生成“%1”：\r无法写出PNG图片。"), {file})};
        case Problem::ChangedElsewhere:
            return {Tone::Error, errorTitle(),
                    format(tr("没有写入：“%1”中这个编号的头像在导入之后已被别的程序改动过。\r"
                              "已重新读取，请看过之后重新导入。"),
                           {file})};
        case Problem::ExportOverArchive:
            return {
                Tone::Error, errorTitle(),
                format(
                    tr("不能导出为“%1”：\r这是正在编辑的头像文件，导出会覆盖它。请换一个文件名。"),
                    {file})};
    }
    return {Tone::Error, errorTitle(), file};
}

}  // namespace

std::string displayName(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

Message describe(const Error& error)
{
    return std::visit(
        [](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, fileio::Error>)
                return fileError(e);
            else if constexpr (std::is_same_v<E, ImportRefusal>)
                return importRefusal(e);
            else if constexpr (std::is_same_v<E, TooManyColours>)
                return tooManyColours(e);
            else if constexpr (std::is_same_v<E, UndoConflict>)
                return Message{Tone::Error, errorTitle(),
                               format(tr("无法撤销#%1：%2在那之后又被改动过，什么都没有改变。"),
                                      {std::to_string(e.operation), placeText(e.slot, e.number)})};
            else
                return sessionRefusal(e);
        },
        error);
}

Message recovered(const journal::Recovery& recovery)
{
    std::string text;
    if (recovery.operation && recovery.completed)
        text =
            format(tr("上次中断的%1（%2）其实已经写完：%3个头像记录都是新的，已记为完成。"),
                   {operationKind(recovery.operation->origin), timeText(recovery.operation->time),
                    std::to_string(recovery.operation->records)});
    else if (recovery.operation)
        text = format(tr("上次中断的%1（%2）已回滚：%3个头像记录已恢复。"),
                      {operationKind(recovery.operation->origin),
                       timeText(recovery.operation->time), std::to_string(recovery.putBack)});
    for (const journal::RecordPlace& place : recovery.leftAlone)
        text += format(tr("\r%1已被别的程序改动过，没有动它。"),
                       {placeText(place.archive, numberAt(place))});
    if (recovery.damagedEntries > 0)
        text += format(tr("\r日志中有%1项已损坏，已跳过；其余的操作仍可撤销。"),
                       {std::to_string(recovery.damagedEntries)});
    if (recovery.discardedBytes > 0)
        text += format(tr("\r日志末尾写了一半的%1字节已删去。"),
                       {std::to_string(recovery.discardedBytes)});
    if (!text.empty() && text.front() == '\r') text.erase(0, 1);
    return {Tone::Notice, noticeTitle(), text};
}

Message undoDone(const Undone& undone)
{
    // A few records are named; a whole pack's are counted.
    constexpr std::size_t kMostNamed = 8;
    std::string text =
        format(tr("已撤销#%1（%2，%3），%4个头像记录已恢复。"),
               {std::to_string(undone.operation.id), operationKind(undone.operation.origin),
                timeText(undone.operation.time), std::to_string(undone.records.size())});
    if (undone.records.size() <= kMostNamed && !undone.records.empty()) {
        std::string records;
        for (const PlaceOfRecord& place : undone.records) {
            // TRANSLATORS: what separates the records of a list.
            if (!records.empty()) records += tr("、");
            records += placeText(place.slot, place.number);
        }
        text = format(
            tr("已撤销#%1（%2，%3），%4个头像记录已恢复：%5。"),
            {std::to_string(undone.operation.id), operationKind(undone.operation.origin),
             timeText(undone.operation.time), std::to_string(undone.records.size()), records});
    }
    return {Tone::Notice, noticeTitle(), text};
}

Message undoOthersQuestion(const HistoryEntry& operation)
{
    return {
        Tone::Question, warningTitle(),
        format(
            tr("要撤销的是#%1：%2（%3），%4个头像记录，不是在这个窗口里写入的。\r确定要撤销它吗？"),
            {std::to_string(operation.id), operationKind(operation.origin),
             timeText(operation.time), std::to_string(operation.records)})};
}

std::string archiveNotWhole(const ArchiveLength& length)
{
    const std::string expected = std::to_string(length.expectedSize);
    if (!length.size)
        return format(tr("%1文件“%2”不存在（%1文件应为%3字节）。"),
                      {slotName(length.slot), displayName(length.file), expected});
    return format(
        tr("“%1”有%2字节，不是%3文件的长度（应为%4字节）。"),
        {displayName(length.file), std::to_string(*length.size), slotName(length.slot), expected});
}

Message openAnywayQuestion(const ArchiveLength& length)
{
    return {Tone::Question, warningTitle(),
            archiveNotWhole(length) + tr("\r仍要打开它吗？文件中没有的头像将显示为黑色。")};
}

Message undoDropsImportQuestion()
{
    return {Tone::Question, warningTitle(),
            tr("导入的图片还没有写入。撤销若恢复的是这个编号的头像，导入的图片就会被丢掉。\r"
               "确定要撤销吗？")};
}

Message closeDropsImportQuestion()
{
    return {Tone::Question, tr("退出"),
            tr("导入的图片还没有写入，退出就会丢掉它。\r确定要退出本工具？")};
}

Message exportDone(const std::filesystem::path& largeFile, const std::filesystem::path& smallFile)
{
    return {Tone::Notice, noticeTitle(),
            format(tr("图片导出成功！\r已写入“%1”和“%2”。"),
                   {displayName(largeFile), displayName(smallFile)})};
}

Message numberPrompt()
{
    return {Tone::Question, tr("转到编号"),
            format(tr("编号（%1-%2，%3起是新武将）："),
                   {std::to_string(archive::kFirstNumber), std::to_string(archive::kLastNumber),
                    std::to_string(archive::kFirstNewNumber)})};
}

PainterSettingsTexts painterSettingsTexts()
{
    return {tr("绘图程序设置"),
            tr("绘图程序（一条命令，图片的路径加在最后；留空则用系统默认的程序）："),
            tr("工作文件的格式：")};
}

EditingTexts editingTexts()
{
    return {tr("铅笔"), tr("吸管"),     tr("填充"),     tr("替换颜色"), tr("左右翻转"),
            tr("网格"), tr("撤销修改"), tr("重做修改"), tr("放大"),     tr("缩小")};
}

std::string chosenEntryText(int entry, std::string_view colour, int scale)
{
    return format(tr("当前颜色：索引 %1  %2    %3倍"),
                  {std::to_string(entry), colour, std::to_string(scale)});
}

std::string paletteEntryTitle(Slot slot, int entry)
{
    return format(tr("%1调色板的第%2号颜色"), {slotName(slot), std::to_string(entry)});
}

Message dropEditsQuestion()
{
    return {Tone::Question, warningTitle(),
            tr("放大查看中修改的头像还没有写入，显示别的编号或打开别的文件就会丢掉这些修改。\r"
               "确定要丢掉吗？")};
}

Message painterNotStarted(const std::string& command)
{
    if (command.empty())
        return {Tone::Error, errorTitle(),
                tr("无法打开绘图程序：系统没有为这种图片设置默认程序。\r"
                   "请在“绘图程序设置…”中选择一个绘图程序。")};
    return {Tone::Error, errorTitle(),
            format(tr("无法启动绘图程序“%1”。\r请在“绘图程序设置…”中检查它，"
                      "或检查环境变量PELLORAN_PAINTER。"),
                   {command})};
}

Message writeDone()
{
    return {Tone::Notice, noticeTitle(), tr("图片写入成功！")};
}

Message about()
{
    // Blank lines and leading blanks are part of the box's layout.
    return {Tone::Notice, noticeTitle(),
            format(tr("     Pelloran v%1\r\r\r"
                      "    这个工具可以修改Kestrova10中的人物小头像，\r"
                      "选择头像文件后，可以导出修改，也可以自己选\r"
                      "一张256色64×80或32×40的BMP图导入替换。\r\r"
                      "            2004年7月6日\r\r"),
                   {version()})};
}

Message exitQuestion()
{
    return {Tone::Question, tr("退出"), tr("确定要退出本工具？")};
}

const char* version()
{
    return PELLORAN_VERSION;
}

// In one pass over text, so that an argument (a file's name, say) that
// holds "%2" is never taken for a mark itself.
std::string format(std::string_view text, std::initializer_list<std::string_view> args)
{
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t index = at + 1 < text.size() && text[at] == '%'
                                      ? static_cast<std::size_t>(text[at + 1] - '1')
                                      : args.size();
        if (index < args.size()) {
            out += args.begin()[index];
            ++at;
        } else {
            out += text[at];
        }
    }
    return out;
}

std::string slotName(Slot slot)
{
    return slot == Slot::Large ? tr("大头像") : tr("小头像");
}

std::string describeForTerminal(const FileRefusal& refusal)
{
    if (const auto* pack = std::get_if<PackRefusal>(&refusal)) {
        if (pack->fault == PackFault::SecondFile)
            return format(tr("“%1”和“%2”是同一个头像，不知道该导入哪一个。"),
                          {displayName(pack->file), displayName(pack->other)});
        return format(tr("“%1”：图片的大小和文件名说的不一致（64×80的是大头像，"
                         "32×40的是小头像，小头像的文件名以T结尾）。"),
                      {displayName(pack->file)});
    }
    const Error& error = std::get<Error>(refusal);
    const std::string text = describe(error).text;
    // The window asks; a script is told how to agree.
    if (std::holds_alternative<TooManyColours>(error))
        return text.substr(0, text.find('\r')) +
               tr("\r加上 --reduce-colours 可以把它减少为256色再导入。");
    // The window's warning names no file: it is the one the user just chose.
    if (const auto* refused = std::get_if<ImportRefusal>(&error))
        return format(tr("“%1”：%2"), {displayName(refused->file), text});
    return text;
}

std::string operationKind(journal::Origin origin)
{
    switch (origin) {
        case journal::Origin::WriteBack:
            return tr("operation", "写入");
        case journal::Origin::BatchImport:
            return tr("operation", "批量导入");
        case journal::Origin::Undo:
            return tr("operation", "撤销");
    }
    return tr("operation", "操作");
}

std::string operationState(journal::State state)
{
    switch (state) {
        case journal::State::Unfinished:
            return tr("未完成");
        case journal::State::Committed:
            return tr("已完成");
        case journal::State::RolledBack:
            return tr("已回滚");
        case journal::State::Undone:
            return tr("已撤销");
        case journal::State::Damaged:
            return tr("已损坏");
    }
    return {};
}

namespace {

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm), so
// that the offset from UTC comes from the local time itself: strftime's %z
// gives a zone's name instead on some Windows C libraries.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

}  // namespace

std::string timeText(journal::Time time)
{
    // The user's own clock, as ls and git show it; the offset keeps a
    // journal read elsewhere unambiguous.
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(time));
    const auto local = host::localTime(seconds);
    if (!local) return std::to_string(seconds);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*local);
    const std::int64_t asUtc =
        daysFromCivil(local->tm_year + 1900, static_cast<unsigned>(local->tm_mon + 1),
                      static_cast<unsigned>(local->tm_mday)) *
            86400 +
        local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec;
    const std::int64_t offset = (asUtc - static_cast<std::int64_t>(seconds)) / 60;
    const std::int64_t minutes = offset < 0 ? -offset : offset;
    char zone[8];
    std::snprintf(zone, sizeof zone, " %c%02d%02d", offset < 0 ? '-' : '+',
                  static_cast<int>(minutes / 60 % 100), static_cast<int>(minutes % 60));
    return std::string(text) + zone;
}

std::string historyLine(const HistoryEntry& entry)
{
    if (entry.state == journal::State::Damaged)
        return tr("#?  日志中的这一项已损坏，无法读取，已跳过；它之后的操作不受影响。");
    std::string line =
        format(tr("#%1  %2  %3  %4个头像记录  %5"),
               {std::to_string(entry.id), timeText(entry.time), operationKind(entry.origin),
                std::to_string(entry.records), operationState(entry.state)});
    if (entry.undoes != 0) line += format(tr("（撤销#%1）"), {std::to_string(entry.undoes)});
    return line;
}

std::string noHistory()
{
    return tr("日志里没有操作。");
}

std::string summaryText(const PairSummary& summary)
{
    std::string text;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const ArchiveSummary& archive = slot == Slot::Large ? summary.large : summary.small;
        std::string state;
        if (!archive.size)
            state = tr("不存在（读作全部空白）");
        else if (*archive.size == archive.expectedSize)
            state = format(tr("%1字节，长度正确"), {std::to_string(*archive.size)});
        else
            state = format(tr("%1字节，长度不对（应为%2字节）"),
                           {std::to_string(*archive.size), std::to_string(archive.expectedSize)});
        text += format(tr("%1文件：%2，%3"), {slotName(slot), displayName(archive.file), state});
        text += format(tr("\r  空白头像（全部为0）：%1个，共%2个\r"),
                       {std::to_string(archive.blank), std::to_string(archive::kLastNumber)});
    }
    if (!summary.operations)
        return text + format(tr("日志：%1，不存在"), {displayName(summary.journal)});
    const bool unfinished = std::ranges::any_of(*summary.operations, [](const HistoryEntry& e) {
        return e.state == journal::State::Unfinished;
    });
    return text + format(tr("日志：%1，%2个操作，%3"),
                         {displayName(summary.journal), std::to_string(summary.operations->size()),
                          unfinished ? tr("有一个未完成的操作，下次打开时会回滚")
                                     : tr("没有未完成的操作")});
}

std::string packExported(std::size_t numbers, std::size_t files,
                         const std::filesystem::path& folder)
{
    return format(tr("已导出%1个编号的头像（%2个文件）到“%3”。"),
                  {std::to_string(numbers), std::to_string(files), displayName(folder)});
}

std::string skippedName(const std::filesystem::path& file)
{
    return tr("跳过（不是头像文件名，如 057.bmp、057T.bmp）：") + displayName(file);
}

std::string unknownPictureName(const std::filesystem::path& file)
{
    return format(tr("“%1”：文件名看不出是哪个头像（头像文件名如 057.bmp、57.png、057T.BMP）。"
                     "请改名，或加上 --skip-unknown 跳过它。"),
                  {displayName(file)});
}

std::string plannedChange(const PlannedWrite& change)
{
    return format(tr("%1 %2 ← %3"), {threeDigits(change.entry.number), slotName(change.entry.slot),
                                     displayName(change.file)});
}

std::string planTotals(std::size_t changes, std::size_t unchanged)
{
    return format(tr("%1个头像记录将改变，%2个文件与头像相同，跳过。"),
                  {std::to_string(changes), std::to_string(unchanged)});
}

std::string dryRunDone()
{
    return tr("试运行：什么都没有写入。");
}

std::string packImported(std::size_t records, std::string_view undoCommand)
{
    return format(tr("已写入%1个头像记录；用 %2 可以一步撤销。"),
                  {std::to_string(records), undoCommand});
}

std::string packRefused(std::size_t files)
{
    return format(tr("%1个文件无法导入，什么都没有写入。"), {std::to_string(files)});
}

std::string sheetDone(std::size_t portraits, Slot slot, const std::filesystem::path& file)
{
    return format(tr("已把%1个%2排成一张图：“%3”。"),
                  {std::to_string(portraits), slotName(slot), displayName(file)});
}

std::string differenceLine(const PackEntry& entry)
{
    return threeDigits(entry.number) + " " + slotName(entry.slot);
}

std::string differencesFound(std::size_t records)
{
    return format(tr("%1个头像记录不同。"), {std::to_string(records)});
}

std::string differencesExported(std::size_t records, const std::filesystem::path& folder)
{
    return format(tr("已把第一对文件中不同的%1个头像导出到“%2”。"),
                  {std::to_string(records), displayName(folder)});
}

std::string waitingForWriter(const std::filesystem::path& largeArchive)
{
    return format(tr("另一个程序正在写入“%1”，等它写完……"), {displayName(largeArchive)});
}

std::string progressWord(Work work)
{
    return work == Work::Export ? tr("导出") : tr("检查");
}

std::string moduleProblem(ModuleProblem problem, const std::filesystem::path& module,
                          std::string_view reason)
{
    switch (problem) {
        case ModuleProblem::ProgramNotFound:
            return format(tr("无法找到程序自己的位置：%1"), {reason});
        case ModuleProblem::NotLoaded:
            return format(tr("无法加载“%1”：%2"), {displayName(module), reason});
        case ModuleProblem::NotOurs:
            return format(tr("“%1”不是本程序的模块：%2"), {displayName(module), reason});
    }
    return std::string(reason);
}

std::string usageProblem(Usage usage, std::string_view program, std::string_view what,
                         std::string_view command, std::string_view choices)
{
    std::string text;
    switch (usage) {
        case Usage::NoCommand:
            text = tr("请给出命令。");
            break;
        case Usage::UnknownCommand:
            text = format(tr("没有“%1”这个命令。"), {what});
            break;
        case Usage::UnknownOption:
            text = format(tr("%1 命令没有 %2 这个选项。"), {command, what});
            break;
        case Usage::MissingValue:
            text = format(tr("%1 后面缺少值。"), {what});
            break;
        case Usage::RepeatedOption:
            text = format(tr("%1 只能给一次。"), {what});
            break;
        case Usage::BadValue: {
            std::string either;
            for (char c : choices) either += c == '|' ? std::string(tr(" 或 ")) : std::string(1, c);
            text = format(tr("%1 只能是 %2。"), {what, either});
            break;
        }
        case Usage::BadNumbers:
            text = format(tr("无法理解编号列表“%1”。"), {what});
            break;
        case Usage::WrongArguments:
            text = format(tr("用法：%1 %2 %3"), {program, command, what});
            break;
    }
    return format(tr("%1：%2\r用 %1 --help 查看用法。"), {program, text});
}

std::string helpHeading(std::string_view program)
{
    return format(tr("用法：%1 命令 参数…\r\r命令："), {program});
}

std::string helpFooter(std::string_view program)
{
    return format(tr("%1 命令 --help 查看命令的用法；%1 --version 显示版本；--lang %2 选择语言。\r"
                     "成功时返回0，失败时返回1（什么都没有改变），用法错误时返回2。"),
                  {program, languageChoices()});
}

std::string commandUsage(std::string_view program, std::string_view command,
                         std::string_view synopsis)
{
    return format(tr("用法：%1 %2 %3"), {program, command, synopsis});
}

std::string versionLine(std::string_view program)
{
    return format("%1 %2", {program, version()});
}

}  // namespace pelloran::session
