#include "session/numbers.h"

#include <algorithm>
#include <charconv>

namespace pelloran::session {

namespace {

std::optional<int> parseNumber(std::string_view text)
{
    int value = 0;
    const auto end = text.data() + text.size();
    // from_chars takes a leading minus sign; a number here never has one.
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || at != end) return std::nullopt;
    if (value < archive::kFirstNumber || value > archive::kLastNumber) return std::nullopt;
    return value;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<std::vector<int>> parseNumbers(std::string_view list)
{
    std::vector<bool> chosen(archive::kLastNumber + 1, false);
    while (true) {
        const auto comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        const auto dash = item.find('-');
        const auto first = parseNumber(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : parseNumber(item.substr(dash + 1));
        if (!first || !last || *first > *last) return std::nullopt;
        for (int n = *first; n <= *last; ++n) chosen[n] = true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    std::vector<int> numbers;
    for (int n = archive::kFirstNumber; n <= archive::kLastNumber; ++n)
        if (chosen[n]) numbers.push_back(n);
    return numbers;
}

std::vector<int> allNumbers()
{
    std::vector<int> numbers;
    for (int n = archive::kFirstNumber; n <= archive::kLastNumber; ++n) numbers.push_back(n);
    return numbers;
}

std::string threeDigits(int number)
{
    std::string text = std::to_string(number);
    text.insert(0, 3 - std::min<std::size_t>(3, text.size()), '0');
    return text;
}

std::string packFileName(int number, archive::Slot slot, session::FileKind kind)
{
    const std::string name = threeDigits(number);
    // The window derives the small file's name as "T.BMP" (or "T.PNG") in
    // upper case, whatever the large one's case: the pack follows it, so a
    // pack exported here and one exported from the window are the same.
    const bool png = kind == session::FileKind::Png;
    if (slot == archive::Slot::Large) return name + (png ? ".png" : ".bmp");
    return name + (png ? "T.PNG" : "T.BMP");
}

std::optional<PackEntry> parsePackFileName(const std::filesystem::path& name)
{
    const std::u8string text = name.filename().u8string();
    std::string folded;
    for (char8_t c : text) folded.push_back(lower(static_cast<char>(c)));
    std::string_view rest = folded;
    if (!rest.ends_with(".bmp") && !rest.ends_with(".png")) return std::nullopt;
    rest.remove_suffix(4);
    archive::Slot slot = archive::Slot::Large;
    if (rest.ends_with('t')) {
        slot = archive::Slot::Small;
        rest.remove_suffix(1);
    }
    // Digits only: parseNumber takes any number of leading zeros.
    const auto number = parseNumber(rest);
    if (!number) return std::nullopt;
    return PackEntry{*number, slot};
}

bool isPictureFileName(const std::filesystem::path& name)
{
    static constexpr std::string_view kExtensions[] = {
        ".bmp", ".dib", ".png", ".jpg", ".jpeg", ".gif", ".tif", ".tiff", ".webp", ".tga",
        ".pcx", ".ico", ".ppm", ".pgm", ".pbm",  ".pnm", ".xpm", ".xcf",  ".psd",  ".ora"};
    const std::u8string text = name.extension().u8string();
    std::string folded;
    for (char8_t c : text) folded.push_back(lower(static_cast<char>(c)));
    return std::ranges::find(kExtensions, folded) != std::end(kExtensions);
}

}  // namespace pelloran::session
