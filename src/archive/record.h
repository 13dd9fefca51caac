// Reading and rewriting one portrait record of an archive.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>

#include "archive/layout.h"
#include "fileio/file.h"

namespace pelloran::archive {

// A palette as the editor holds it: entry e is red, green, blue at 3e, 3e+1, 3e+2.
using RgbPalette = std::array<std::uint8_t, 3 * kPaletteEntries>;

// Reads record.size() bytes of the archive from offset. Bytes the archive
// does not have, because it ends early or does not exist at all, read as 0:
// the game's archives vary in length, and a missing small archive must not
// stop the large portrait from being shown. Never creates or changes a file.
fileio::Result<void> readRecord(fileio::FileSystem& fs, const std::filesystem::path& archive,
                                std::uint64_t offset, std::span<std::uint8_t> record);

// The palette block of a record (blue, green, red, reserved per entry) as the
// editor's red, green, blue; the reserved byte has no colour meaning.
void decodePalette(std::span<const std::uint8_t> paletteBlock, RgbPalette& palette);

// Overwrites the record at offset with record, in place: one positioned
// write, flushed and read back. An archive that is missing or ends before the
// record's end is refused rather than created or extended. If anything fails
// after the write began, the old bytes are put back, so the record is either
// wholly old or wholly new.
fileio::Result<void> writeRecord(fileio::FileSystem& fs, const std::filesystem::path& archive,
                                 std::uint64_t offset, std::span<const std::uint8_t> record);

}  // namespace pelloran::archive
