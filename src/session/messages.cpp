#include "session/messages.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "archive/layout.h"
#include "pelloran_version.h"

namespace pelloran::session {

namespace {

const std::string kNoticeTitle = "说明";
const std::string kWarningTitle = "警告";
const std::string kErrorTitle = "错误";

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
                return "文件长度不足，不含当前编号的头像。";
            case archive::Fault::VerifyMismatch:
                return "写入后读回的内容与写入的内容不一致。";
        }
    }
    if (code.category() == journal::faultCategory()) {
        switch (static_cast<journal::Fault>(code.value())) {
            case journal::Fault::NotAJournal:
                return "日志文件不是Pelloran的日志，没有动它。";
            case journal::Fault::NewerVersion:
                return "日志文件是较新版本的Pelloran写的。";
            case journal::Fault::EntryDamaged:
                return "日志文件中有一项已损坏。";
            case journal::Fault::OverlappingRecords:
                return "同一次写入中有两条记录重叠。";
        }
    }
    if (code == fileio::Fault::ShortWrite) return "系统只写入了一部分数据。";
    if (code == fileio::Fault::WriteProtected) return "文件是只读的，没有替换它。";
    const std::string system = trimmed(code.message());
    std::string words;
    if (code == std::errc::no_such_file_or_directory)
        words = "文件不存在";
    else if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        words = "没有访问权限";
    else if (code == std::errc::no_space_on_device)
        words = "磁盘空间不足";
    else if (code == std::errc::read_only_file_system)
        words = "磁盘是只读的";
    else if (code == std::errc::is_a_directory)
        words = "这是一个文件夹";
    else if (code == std::errc::io_error)
        words = "磁盘读写出错";
    return words.empty() ? system : words + "（" + system + "）";
}

std::string operationText(fileio::Operation operation)
{
    switch (operation) {
        case fileio::Operation::Open:
            return "无法打开文件";
        case fileio::Operation::Read:
        case fileio::Operation::Size:
            return "无法读取文件";
        case fileio::Operation::Write:
            return "无法写入文件";
        case fileio::Operation::Flush:
            return "无法保存文件";
        case fileio::Operation::Close:
            return "无法关闭文件";
        case fileio::Operation::Rename:
        case fileio::Operation::Remove:
            return "无法替换文件";
    }
    return "无法访问文件";
}

Message fileError(const fileio::Error& error)
{
    return {Tone::Error, kErrorTitle,
            format("%1“%2”。\r原因：%3", {operationText(error.operation), displayName(error.path),
                                          reasonText(error.code)})};
}

// The line under a refusal that names what was found.
std::string foundText(const bitmap::DecodeError& found)
{
    const auto n = [](std::int64_t value) { return std::to_string(value); };
    switch (found.fault) {
        case bitmap::DecodeFault::NotABitmap:
            return "这个文件不是可以读取的BMP或PNG图片。";
        case bitmap::DecodeFault::Truncated:
            return format("文件在第%1字节处就结束了，比它的文件头所说的短。", {n(found.found)});
        case bitmap::DecodeFault::UnsupportedHeader:
            return format("无法读取信息头为%1字节的BMP图片。", {n(found.found)});
        case bitmap::DecodeFault::NotPortraitSize:
            return format("这张图片是%1×%2像素。", {n(found.width), n(found.height)});
        case bitmap::DecodeFault::UnsupportedPlanes:
            return format("图片有%1个色彩平面，只能读取1个的。", {n(found.found)});
        case bitmap::DecodeFault::UnsupportedDepth:
            return format("无法读取每像素%1位的图片。", {n(found.found)});
        case bitmap::DecodeFault::UnsupportedCompression:
            return format("无法读取压缩方式为%1的图片。", {n(found.found)});
        case bitmap::DecodeFault::BadBitFields:
            return "图片的颜色掩码无法读取。";
        case bitmap::DecodeFault::BadPaletteLength:
            return format("调色板说有%1种颜色，超出了图片的位数能用的数目。", {n(found.found)});
        case bitmap::DecodeFault::PixelsInsideHeader:
            return format("像素数据的位置（第%1字节）落在文件头或调色板里。", {n(found.found)});
        case bitmap::DecodeFault::RunPastPicture:
            return format("第%1字节处的压缩数据超出了图片的范围。", {n(found.found)});
        case bitmap::DecodeFault::IndexBeyondPalette:
            return format("像素用了第%1号颜色，可是调色板只有%2种颜色。",
                          {n(found.found), n(found.paletteLength)});
    }
    return {};
}

Message importRefusal(const ImportRefusal& refusal)
{
    std::string check;
    switch (refusal.refusal.check) {
        case bitmap::Check::Width:
            check = "导入的图片宽度必须为64或32像素！";
            break;
        case bitmap::Check::Height:
            check = "导入的图片高度必须为80或40像素！";
            break;
        case bitmap::Check::Format:
            check = "导入的图片必须为256色64×80或32×40的BMP图片！";
            break;
    }
    return {Tone::Warning, kWarningTitle, check + "\r" + foundText(refusal.refusal.found)};
}

Message tooManyColours(const TooManyColours& refusal)
{
    return {Tone::Question, kWarningTitle,
            format("“%1”有%2种颜色，头像最多只能有256种。\r要把它减少为256色再导入吗？",
                   {refusal.file.empty() ? "粘贴的图片" : displayName(refusal.file),
                    std::to_string(refusal.colours)})};
}

Message sessionRefusal(const Refusal& refusal)
{
    const std::string file = displayName(refusal.file);
    switch (refusal.problem) {
        case Problem::NameTooShort:
            return {Tone::Error, kErrorTitle,
                    format("无法使用文件名“%1”：\r文件名太短，无法得出配套文件的名字。", {file})};
        case Problem::ImportChanged:
            return {
                Tone::Error, kErrorTitle,
                format("无法读取文件“%1”。\r原因：图片在导入后已被修改、移动或删除，请重新导入。",
                       {file})};
        case Problem::NoPairOpen:
            return {Tone::Error, kErrorTitle, "请先打开头像文件。"};
        case Problem::NumberOutOfRange:
            return {Tone::Error, kErrorTitle, "编号不在当前的范围内。"};
        case Problem::PairIsOneFile:
            return {
                Tone::Error, kErrorTitle,
                format(
                    "无法打开“%1”：\r它同时是自己的小头像文件，请选择大头像文件（GRPFACES.S10）。",
                    {file})};
        case Problem::NothingToUndo:
            return {Tone::Notice, kNoticeTitle, "没有可以撤销的写入。"};
        case Problem::NoPngWriter:
            return {Tone::Error, kErrorTitle, "无法写出PNG图片。"};
        case Problem::ExportOverArchive:
            return {
                Tone::Error, kErrorTitle,
                format("不能导出为“%1”：\r这是正在编辑的头像文件，导出会覆盖它。请换一个文件名。",
                       {file})};
    }
    return {Tone::Error, kErrorTitle, file};
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
                return Message{
                    Tone::Error, kErrorTitle,
                    format("无法撤销：%1第%2号在那次写入之后又被改动过，没有动任何记录。",
                           {slotName(e.slot), std::to_string(e.number)})};
            else
                return sessionRefusal(e);
        },
        error);
}

std::string operationName(const journal::HistoryEntry& entry)
{
    // In the user's local time, as the clock on their desk shows it.
    const std::time_t time = std::chrono::system_clock::to_time_t(entry.time);
    char when[32] = "";
    if (const std::tm* local = std::localtime(&time))
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", local);
    switch (entry.origin) {
        case journal::Origin::WriteBack:
            return std::string(when) + " 的写入";
        case journal::Origin::BatchImport:
            return std::string(when) + " 的批量导入";
        case journal::Origin::Undo:
            return std::string(when) + " 的撤销";
    }
    return when;
}

Message recovered(const journal::Recovery& recovery)
{
    std::string text;
    if (recovery.operation)
        text = format("%1没有完成，已恢复原样：放回了%2条记录。",
                      {operationName(*recovery.operation), std::to_string(recovery.putBack)});
    for (const journal::RecordPlace& place : recovery.leftAlone) {
        const int number = archive::recordNumber(archive::layoutOf(place.archive), place.offset);
        text += format("\r%1第%2号已被改动过，没有动它。",
                       {slotName(place.archive), std::to_string(number)});
    }
    if (recovery.discardedBytes > 0)
        text +=
            format("\r日志末尾写了一半的%1字节已删去。", {std::to_string(recovery.discardedBytes)});
    return {Tone::Notice, kNoticeTitle, text};
}

Message undoDone(const Undone& undone)
{
    std::string records;
    for (const PlaceOfRecord& place : undone.records) {
        if (!records.empty()) records += "、";
        records += slotName(place.slot) + "第" + std::to_string(place.number) + "号";
    }
    return {Tone::Notice, kNoticeTitle,
            format("已撤销%1：%2。", {operationName(undone.operation), records})};
}

Message exportDone()
{
    return {Tone::Notice, kNoticeTitle, "图片导出成功！"};
}

Message writeDone()
{
    return {Tone::Notice, kNoticeTitle, "图片写入成功！"};
}

Message about()
{
    // Blank lines and leading blanks are part of the box's layout.
    return {Tone::Notice, kNoticeTitle,
            format("     Pelloran v%1\r\r\r"
                   "    这个工具可以修改Kestrova10中的人物小头像，\r"
                   "选择头像文件后，可以导出修改，也可以自己选\r"
                   "一张256色64×80或32×40的BMP图导入替换。\r\r"
                   "            2004年7月6日\r\r",
                   {version()})};
}

Message exitQuestion()
{
    return {Tone::Question, "退出", "确定要退出本工具？"};
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
    return slot == Slot::Large ? "大头像" : "小头像";
}

}  // namespace pelloran::session
