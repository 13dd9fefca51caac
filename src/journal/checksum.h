// The journal's 64-bit checksum of bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace pelloran::journal {

// XXH64 with seed 0. Chosen because it runs at several gigabytes a second, so
// checking the megabytes a whole batch moves costs a few milliseconds, and
// because with 64 bits a torn or changed block passes for the one we wrote
// with odds of 1 in 2^64. It guards against crashes and accidents, not
// against someone who forges a journal on purpose: that would need a
// cryptographic hash.
std::uint64_t checksum64(std::span<const std::uint8_t> bytes);

// The same checksum over bytes given in pieces, for a block that is written
// from where its parts already are instead of being copied together first.
class Checksum64 {
public:
    Checksum64();
    void add(std::span<const std::uint8_t> bytes);
    std::uint64_t value() const;

private:
    std::array<std::uint64_t, 4> lanes_;
    std::array<std::uint8_t, 32> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace pelloran::journal
