// A contact sheet: chosen portraits of one archive in a grid, each number
// written under its portrait. Qt Gui; needs a QGuiApplication for the font.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "batch/pack.h"

namespace pelloran::batch {

// The sheet as PNG file bytes; empty when Qt could not encode it.
std::vector<std::uint8_t> contactSheet(const PairRecords& records, Slot slot,
                                       std::span<const int> numbers);

}  // namespace pelloran::batch
