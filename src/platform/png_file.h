// PNG files written with libpng alone: no Qt, so the batch tool writes a
// PNG pack without loading its Qt module.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "bitmap/decode.h"

namespace pelloran::platform {

// A PNG file of width x height pixels, each row given by row(y): palette
// indices when palette is not empty, else pixels of four bytes in the
// machine's order of 0xffRRGGBB (Qt's RGB32). Empty when libpng fails.
std::vector<std::uint8_t> encodePng(int width, int height,
                                    std::span<const bitmap::PaletteEntry> palette,
                                    const std::function<const std::uint8_t*(int y)>& row);

// The picture by index with its palette.
std::vector<std::uint8_t> writePng(const bitmap::Picture& picture);

}  // namespace pelloran::platform
