// What the session needs beyond the standard library, provided by the front
// end: reading and writing PNG files (Qt's reader and writer) and reducing a
// picture to 256 colours (libimagequant). The session works without it,
// taking BMP files only, as it does in the tests of the core.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bitmap/decode.h"

namespace pelloran::session {

class Pictures {
public:
    virtual ~Pictures() = default;

    // The picture in a PNG file, indexed or true colour; nothing when the
    // file cannot be read whole.
    virtual std::optional<bitmap::Picture> readPng(std::span<const std::uint8_t> file) const = 0;

    // An 8-bit indexed PNG file of an indexed picture, its palette as given.
    virtual std::vector<std::uint8_t> writePng(const bitmap::Picture& picture) const = 0;

    // A true-colour picture reduced to at most 256 colours, as an indexed
    // picture; deterministic, without dithering, so pixel art stays crisp.
    // An empty picture when the reduction fails.
    virtual bitmap::Picture reduceColours(const bitmap::Picture& picture) const = 0;
};

// Whether bytes begin as a PNG file does.
inline bool looksLikePng(std::span<const std::uint8_t> bytes)
{
    constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= sizeof kSignature &&
           std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin());
}

}  // namespace pelloran::session
