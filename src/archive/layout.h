// Where the portraits lie in the two archives. An archive is an area we do not
// interpret, followed by one fixed-size record per portrait number, back to
// back; nothing else in the file is read or written.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <system_error>

#include "fileio/file.h"

namespace pelloran::archive {

enum class Slot { Large, Small };

// The constants of one archive of the pair.
struct SlotLayout {
    std::uint32_t base;        // byte offset of the record of number 1
    std::uint32_t recordSize;  // pixel block followed by the palette block
    std::uint16_t width;       // pixels, and bytes, per row

    constexpr std::uint32_t pixelBlockSize() const { return recordSize - kPaletteBlockSize; }
    constexpr std::uint16_t height() const
    {
        return static_cast<std::uint16_t>(pixelBlockSize() / width);
    }

    // 256 entries of blue, green, red, reserved.
    static constexpr std::uint32_t kPaletteBlockSize = 1024;
};

inline constexpr SlotLayout kLargeLayout{37260, 6144, 64};
inline constexpr SlotLayout kSmallLayout{20244, 2304, 32};
inline constexpr std::uint32_t kMaxRecordSize = kLargeLayout.recordSize;

constexpr const SlotLayout& layoutOf(Slot slot)
{
    return slot == Slot::Large ? kLargeLayout : kSmallLayout;
}

inline constexpr int kPaletteEntries = 256;

// What the archive's own rules find wrong with a record write.
enum class Fault {
    TooShort = 1,    // the archive ends before the end of the record to write
    VerifyMismatch,  // what was read back differs from what was written
};
const std::error_category& faultCategory();
std::error_code make_error_code(Fault fault);

// Portrait numbers: the historical officers first, then the new ones.
inline constexpr int kFirstNumber = 1;
inline constexpr int kLastHistoricalNumber = 722;
inline constexpr int kFirstNewNumber = 723;
inline constexpr int kLastNumber = 832;

// Byte offset, from 0, of the record of portrait number n.
constexpr std::uint64_t recordOffset(const SlotLayout& layout, int number)
{
    return layout.base + static_cast<std::uint64_t>(number - 1) * layout.recordSize;
}

// The number of the record at a byte offset inside it.
constexpr int recordNumber(const SlotLayout& layout, std::uint64_t offset)
{
    return static_cast<int>((offset - layout.base) / layout.recordSize) + 1;
}

// The size an archive has when it holds every number.
constexpr std::uint64_t fullArchiveSize(const SlotLayout& layout)
{
    return recordOffset(layout, kLastNumber + 1);
}

// The small archive's path: the large one's with its last five characters
// replaced by "T.S10", so GRPFACES.S10 gives GRPFACET.S10 beside it. The
// derivation is textual; neither file has to exist. Nothing when the name
// has fewer than five characters.
std::optional<std::filesystem::path> siblingArchivePath(const std::filesystem::path& largeArchive);

}  // namespace pelloran::archive

template <>
struct std::is_error_code_enum<pelloran::archive::Fault> : std::true_type {
};
