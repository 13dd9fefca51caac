// A contact sheet: chosen portraits of one archive in a grid, each number
// written under its portrait. Qt Gui; needs a QGuiApplication for the font.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "archive/layout.h"

namespace pelloran::batch {

// The sheet as PNG file bytes; empty when Qt could not encode it.
// portraits[i] is the record of numbers[i] in the slot's layout.
std::vector<std::uint8_t> contactSheet(std::span<const std::span<const std::uint8_t>> portraits,
                                       std::span<const int> numbers, archive::Slot slot);

}  // namespace pelloran::batch
