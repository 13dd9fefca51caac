#include "journal/checksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pelloran::journal {

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ull;
constexpr std::size_t kStripe = 32;

// Little-endian whatever the machine, so a journal moves between machines;
// one load, not a byte at a time, so that it stays fast where the compiler
// does not merge bytes, as in sanitized builds.
template <class Word>
std::uint64_t load(const std::uint8_t* p)
{
    Word word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    return word;
}

std::uint64_t round(std::uint64_t lane, std::uint64_t input)
{
    return std::rotl(lane + input * kPrime2, 31) * kPrime1;
}

std::uint64_t merge(std::uint64_t hash, std::uint64_t lane)
{
    return (hash ^ round(0, lane)) * kPrime1 + kPrime4;
}

// Four independent lanes over 32-byte stripes: what makes it fast.
void stripe(std::array<std::uint64_t, 4>& lanes, const std::uint8_t* p)
{
    for (int i = 0; i < 4; ++i) lanes[i] = round(lanes[i], load<std::uint64_t>(p + 8 * i));
}

}  // namespace

Checksum64::Checksum64() : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1} {}

void Checksum64::add(std::span<const std::uint8_t> bytes)
{
    total_ += bytes.size();
    if (pendingSize_ > 0) {
        const std::size_t taken = std::min(bytes.size(), kStripe - pendingSize_);
        std::copy_n(bytes.begin(), taken, pending_.begin() + pendingSize_);
        pendingSize_ += taken;
        bytes = bytes.subspan(taken);
        if (pendingSize_ < kStripe) return;
        stripe(lanes_, pending_.data());
        pendingSize_ = 0;
    }
    for (; bytes.size() >= kStripe; bytes = bytes.subspan(kStripe)) stripe(lanes_, bytes.data());
    std::ranges::copy(bytes, pending_.begin());
    pendingSize_ = bytes.size();
}

std::uint64_t Checksum64::value() const
{
    std::uint64_t hash = kPrime5;
    if (total_ >= kStripe) {
        hash = std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) + std::rotl(lanes_[2], 12) +
               std::rotl(lanes_[3], 18);
        for (std::uint64_t lane : lanes_) hash = merge(hash, lane);
    }
    hash += total_;
    const std::uint8_t* p = pending_.data();
    const std::uint8_t* const end = p + pendingSize_;
    for (; end - p >= 8; p += 8)
        hash = std::rotl(hash ^ round(0, load<std::uint64_t>(p)), 27) * kPrime1 + kPrime4;
    if (end - p >= 4) {
        hash = std::rotl(hash ^ load<std::uint32_t>(p) * kPrime1, 23) * kPrime2 + kPrime3;
        p += 4;
    }
    for (; p < end; ++p) hash = std::rotl(hash ^ *p * kPrime5, 11) * kPrime1;
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

std::uint64_t checksum64(std::span<const std::uint8_t> bytes)
{
    Checksum64 checksum;
    checksum.add(bytes);
    return checksum.value();
}

}  // namespace pelloran::journal
