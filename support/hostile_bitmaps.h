// Hostile variants of a valid portrait bitmap, made by rule rather than by
// hand: every header field at its boundary values, every header byte at its
// extremes, and the file cut short at every offset of its header and colour
// table and at the edges of its pixel rows.
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

// The valid file must be one of ours: 54-byte header, 1024-byte colour
// table, pixels at 1078.
std::vector<HostileFile> hostileVariants(std::span<const std::uint8_t> valid);

}  // namespace pelloran::testing
