// The language both programs speak. Their texts are written in Chinese in the
// source, and Chinese is what they show unless another language is chosen;
// every other language comes from a translator's GNU gettext catalog
// (po/<code>.po), compiled at build time and carried inside the program, so
// that the batch tool, the window and the Windows build share one lookup and
// nothing has to be installed beside them.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::session {

// The code of the source language, which needs no catalog.
inline constexpr std::string_view kSourceLanguage = "zh";

// text (a Chinese source text) in the chosen language: the catalog's
// translation, or text itself when there is none or Chinese is chosen. The
// result lives as long as text does.
const char* tr(const char* text);

// The same for a text whose translation depends on where it is said: a
// source text that reads the same in two places ("写入" the menu's
// command, "写入" a kind of operation in a sentence) has a context in each.
const char* tr(const char* context, const char* text);

// Marks a source text for the catalog where it is stored in a table and
// translated (by tr) only where it is shown.
constexpr const char* N_(const char* text)
{
    return text;
}

// The language codes the programs speak: the source's, then each catalog's.
std::vector<std::string> languages();
// languages() as one value of an option takes them: "zh|en".
std::string languageChoices();
// The code of languages() that a preferred language names ("en_GB.UTF-8",
// "en-US" and "en" name "en"); empty when none does.
std::string languageFor(std::string_view preferred);
// The first of the user's preferred languages the programs speak, or the
// source language when none is.
std::string firstSpoken(std::span<const std::string> preferred);

// The user's preferred languages, most preferred first, as gettext reads
// them: the locale of messages is the first set of LC_ALL, LC_MESSAGES and
// LANG, preceded by the list in LANGUAGE ("fr:en"); the C and POSIX locales
// prefer nothing (LANGUAGE is then ignored), so the source language is
// spoken. With none of them set, the system's interface language.
using Environment = std::function<const char*(const char* name)>;
std::vector<std::string> preferredLanguages(const Environment& environment,
                                            std::string_view interfaceLanguage);
// The language of languages() this user prefers, from the process's
// environment and the system.
std::string userLanguage();

// Chooses the language tr translates into: a code of languages(). Unknown
// codes choose the source language.
void chooseLanguage(std::string_view code);
std::string chosenLanguage();

// A language's name in that language itself ("中文", "English"), for a menu.
std::string languageName(std::string_view code);

}  // namespace pelloran::session
