// Hostile variants of a valid portrait bitmap, made by rule rather than by
// hand: every header field at its boundary values, every header byte at its
// extremes, the file cut short at every offset of its headers and colour
// table and throughout its pixels, and, in a compressed file, the first runs
// of its stream turned into escapes, jumps and runs past the row.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelloran::testing {

struct HostileFile {
    std::string name;  // what was done to the valid file, e.g. "biHeight=0xffffffb0"
    std::vector<std::uint8_t> bytes;
};

// The valid file may be any BMP whose headers are whole; the fields of the
// 40-byte info header are varied where its info header has them.
std::vector<HostileFile> hostileVariants(std::span<const std::uint8_t> valid);

}  // namespace pelloran::testing
