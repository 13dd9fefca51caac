#include "session/language.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include "fileio/host.h"
#include "session/catalogs.h"

namespace pelloran::session {

namespace {

// One compiled catalog, read once: its source texts and their translations.
struct Catalog {
    std::string code;
    std::unordered_map<std::string_view, const char*> translations;
};

// Reads a GNU .mo file: a header of 32-bit words (magic, revision, count,
// where the source texts' table starts, where the translations' does), then
// per text its length and offset, each text ending in a zero byte. msgfmt
// writes the words in the byte order of the machine that built, which the
// magic tells. A catalog that does not read as one gives no translations:
// the program then speaks its source language rather than anything wrong.
std::unordered_map<std::string_view, const char*> readMo(std::span<const unsigned char> bytes)
{
    constexpr std::uint32_t kMagic = 0x950412de;
    std::unordered_map<std::string_view, const char*> texts;
    const auto word = [&](std::size_t at, bool bigEndian) -> std::uint32_t {
        if (at + 4 > bytes.size()) return 0;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= std::uint32_t{bytes[at + static_cast<std::size_t>(bigEndian ? 3 - i : i)]}
                     << (8 * i);
        return value;
    };
    const bool bigEndian = word(0, false) != kMagic;
    if (word(0, bigEndian) != kMagic) return texts;
    const std::uint32_t count = word(8, bigEndian);
    const std::uint32_t sources = word(12, bigEndian), translations = word(16, bigEndian);
    // Each text takes an entry of 8 bytes in both tables.
    if (count > bytes.size() / 16) return texts;
    // A text as its table's entry i says, or nothing when it lies outside
    // the catalog or lacks its ending zero.
    const auto text = [&](std::uint32_t table, std::uint32_t i) -> std::string_view {
        const std::size_t entry = table + std::size_t{8} * i;
        const std::size_t length = word(entry, bigEndian), offset = word(entry + 4, bigEndian);
        if (entry + 8 > bytes.size() || offset + length >= bytes.size() ||
            bytes[offset + length] != 0)
            return {};
        return {reinterpret_cast<const char*>(bytes.data() + offset), length};
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string_view source = text(sources, i);
        const std::string_view translation = text(translations, i);
        // The entry with the empty source is the catalog's own header.
        if (!source.empty() && !translation.empty()) texts.emplace(source, translation.data());
    }
    return texts;
}

const std::vector<Catalog>& catalogs()
{
    static const std::vector<Catalog> all = [] {
        std::vector<Catalog> read;
        for (const EmbeddedCatalog& embedded : embeddedCatalogs())
            read.push_back({embedded.code, readMo(embedded.bytes)});
        return read;
    }();
    return all;
}

// The index in catalogs() of the chosen language; -1 for the source's.
std::atomic<int> chosen = -1;

const char* lookUp(const Catalog& catalog, const char* text)
{
    const auto found = catalog.translations.find(text);
    return found == catalog.translations.end() ? text : found->second;
}

}  // namespace

const char* tr(const char* text)
{
    const int index = chosen.load(std::memory_order_relaxed);
    if (index < 0) return text;
    return lookUp(catalogs()[static_cast<std::size_t>(index)], text);
}

const char* tr(const char* context, const char* text)
{
    const int index = chosen.load(std::memory_order_relaxed);
    if (index < 0) return text;
    // A .mo file keys a text with a context as the context, byte 4, the text.
    std::string key(context);
    key.append(1, '\x04').append(text);
    const auto& translations = catalogs()[static_cast<std::size_t>(index)].translations;
    const auto found = translations.find(key);
    return found == translations.end() ? text : found->second;
}

std::vector<std::string> languages()
{
    std::vector<std::string> codes{std::string(kSourceLanguage)};
    for (const Catalog& catalog : catalogs()) codes.push_back(catalog.code);
    return codes;
}

std::string languageChoices()
{
    std::string choices;
    for (const std::string& code : languages())
        choices.append(choices.empty() ? "" : "|").append(code);
    return choices;
}

std::string languageFor(std::string_view preferred)
{
    // "pt_BR.UTF-8@euro" or "pt-BR": the language and region first, then the
    // language alone.
    std::string name(preferred.substr(0, preferred.find_first_of(".@")));
    std::ranges::replace(name, '-', '_');
    const std::vector<std::string> spoken = languages();
    for (const std::string& candidate : {name, name.substr(0, name.find('_'))}) {
        const auto found = std::ranges::find_if(spoken, [&](const std::string& code) {
            return std::ranges::equal(code, candidate, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            });
        });
        if (!candidate.empty() && found != spoken.end()) return *found;
    }
    return {};
}

std::string firstSpoken(std::span<const std::string> preferred)
{
    for (const std::string& language : preferred)
        if (std::string code = languageFor(language); !code.empty()) return code;
    return std::string(kSourceLanguage);
}

std::vector<std::string> preferredLanguages(const Environment& environment,
                                            std::string_view interfaceLanguage)
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = environment(name); value && *value) {
            locale = value;
            break;
        }
    if (locale.empty())
        return interfaceLanguage.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{std::string(interfaceLanguage)};
    if (locale == "C" || locale == "POSIX" || locale.starts_with("C.")) return {};
    std::vector<std::string> preferred;
    if (const char* list = environment("LANGUAGE"); list) {
        for (std::string_view rest = list; !rest.empty();) {
            const auto colon = rest.find(':');
            if (colon != 0) preferred.emplace_back(rest.substr(0, colon));
            rest.remove_prefix(colon == rest.npos ? rest.size() : colon + 1);
        }
    }
    preferred.push_back(locale);
    return preferred;
}

std::string userLanguage()
{
    return firstSpoken(preferredLanguages([](const char* name) { return std::getenv(name); },
                                          host::interfaceLanguage()));
}

void chooseLanguage(std::string_view code)
{
    const auto& all = catalogs();
    const auto found = std::ranges::find(all, code, &Catalog::code);
    chosen = found == all.end() ? -1 : static_cast<int>(found - all.begin());
}

std::string chosenLanguage()
{
    const int index = chosen.load();
    return index < 0 ? std::string(kSourceLanguage)
                     : catalogs()[static_cast<std::size_t>(index)].code;
}

std::string languageName(std::string_view code)
{
    // TRANSLATORS: the name of your language in your language ("English"),
    // as the window's language menu lists it.
    const char* name = N_("中文");
    const auto& all = catalogs();
    const auto found = std::ranges::find(all, code, &Catalog::code);
    return found == all.end() ? name : lookUp(*found, name);
}

}  // namespace pelloran::session
