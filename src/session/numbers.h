// The names a portrait pack is made of, and the lists of portrait numbers a
// user types: what the batch tool, its tests and the pack operations agree on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/layout.h"
#include "session/session.h"

namespace pelloran::session {

// The numbers a list such as "57", "1-722" or "1,5,9-12" names, ascending
// and each once; nothing when any part is not a number or a range of
// numbers from 1 to 832 (a range's first no greater than its last).
std::optional<std::vector<int>> parseNumbers(std::string_view list);

// Every number from 1 to 832.
std::vector<int> allNumbers();

// The file of a pack that holds the slot's portrait of number: the name the
// window's export gives the pair when the large file is called "057.bmp"
// ("057.bmp" and "057T.BMP"), or "057.png" ("057.png" and "057T.PNG").
// A portrait number as a pack and a listing write it: three digits, "057".
std::string threeDigits(int number);

std::string packFileName(int number, archive::Slot slot, session::FileKind kind);

struct PackEntry {
    int number;
    archive::Slot slot;
    bool operator==(const PackEntry&) const = default;
};

// The portrait a file of a pack holds, by its name alone, whatever the case
// of its letters: a number from 1 to 832 in digits (leading zeros allowed:
// "57", "057", "0057"), a "T" for the small portrait, then ".bmp" or ".png".
// Nothing for any other name.
std::optional<PackEntry> parsePackFileName(const std::filesystem::path& name);

// Whether a file's name ends as a picture file's does (".bmp", ".png",
// ".jpg" and the other common picture kinds), whatever the case: a pack file
// whose name says nothing else is most likely a portrait misnamed.
bool isPictureFileName(const std::filesystem::path& name);

}  // namespace pelloran::session
