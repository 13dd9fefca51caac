// Import: a picture file becomes the record of the slot its size names. One
// rule for every source (each BMP variant here, other formats through the
// same Picture): a record changes only where the picture's colours changed.
// An indexed picture in the record's own palette is written by index; any
// other picture by colour against the record it replaces.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <variant>
#include <vector>

#include "archive/layout.h"
#include "bitmap/decode.h"

namespace pelloran::bitmap {

// Which of the user's refusals a picture gets.
enum class Check {
    Format,  // not a 256-colour 64 x 80 or 32 x 40 BMP: not readable, or a mix of the two sizes
    Width,   // the width is neither 64 nor 32
    Height,  // the height is neither 80 nor 40
};

// The slot of a picture width x height pixels: 64 x 80 large, 32 x 40 small.
// Otherwise the check it fails, the width being looked at first.
std::expected<archive::Slot, Check> portraitSlot(std::int64_t width, std::int64_t height);

// A file that is not taken: the refusal the user gets, and what was found
// (the fault, and the size when the header was read that far).
struct Refusal {
    Check check;
    DecodeError found;
};

// The check a decode error fails: the size rule's for a picture of the wrong
// size, Format for everything else.
Check checkOf(const DecodeError& error);

struct Portrait {
    archive::Slot slot;
    Picture picture;
};

// Decodes a BMP file and names the slot it goes to.
std::expected<Portrait, Refusal> readPortrait(std::span<const std::uint8_t> file);

// A true-colour picture with more distinct colours than a palette holds; it
// can be taken only once reduced.
struct TooManyColours {
    int colours;  // distinct colours in the picture
};

// The record of slot made from picture, which must be that slot's size (and,
// if indexed, hold indices below its palette's length, as decodeBmp
// guarantees). current is the record it replaces, recordSize bytes: pixels
// top row first, then 256 palette entries of blue, green, red, reserved.
//  - Indexed in current's palette (every entry a pixel uses has current's
//    colour there): the picture's indices as they are; palette entry e
//    becomes the picture's entry e (reserved byte included), and entries the
//    picture does not define keep current's bytes. An exported file comes
//    back byte for byte.
//  - Indexed with any other palette (one a painter rebuilt or reordered): by
//    colour, as true colour below, each pixel the colour of its entry.
//  - True colour: each pixel keeps current's index where that entry still has
//    the pixel's colour (so palettes with repeated colours survive an edit),
//    otherwise takes the lowest entry of its colour. Colours the palette
//    lacks go, in the order they first appear, into the lowest entries no
//    pixel uses. Lossless and deterministic; fails only when the picture has
//    more than 256 colours.
std::expected<std::vector<std::uint8_t>, TooManyColours> mapToRecord(
    const Picture& picture, archive::Slot slot, std::span<const std::uint8_t> current);

struct Import {
    archive::Slot slot;
    std::vector<std::uint8_t> record;
};

// The records a file may replace, one per slot (the shown number's): which
// one is known only once the file is decoded.
struct CurrentRecords {
    std::span<const std::uint8_t> large;
    std::span<const std::uint8_t> small;
};

// readPortrait, then mapToRecord against the current record of its slot.
std::expected<Import, std::variant<Refusal, TooManyColours>> importBitmap(
    std::span<const std::uint8_t> file, const CurrentRecords& current);

}  // namespace pelloran::bitmap
