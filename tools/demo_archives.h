// A synthetic archive pair drawn by our own code: every number a face-like
// figure in a palette of its own, its number written on the large portrait,
// the small portrait the large one at half size. Deterministic, so tests and
// benchmarks can rely on every byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "archive/layout.h"
#include "fileio/file.h"

namespace pelloran::demo {

// The record of portrait number (1..832) of the slot's archive: pixels top
// row first, then the palette as blue, green, red, 0.
std::vector<std::uint8_t> demoRecord(archive::Slot slot, int number);

// A whole archive of the slot: filler bytes up to the first record, then the
// records of numbers 1..832; 5,149,068 bytes large, 1,937,172 small.
std::vector<std::uint8_t> demoArchive(archive::Slot slot);

// Writes GRPFACES.S10 and GRPFACET.S10 into folder, which must exist.
fileio::Result<void> writeDemoArchives(const std::filesystem::path& folder,
                                       fileio::FileSystem& fs = fileio::nativeFileSystem());

}  // namespace pelloran::demo
