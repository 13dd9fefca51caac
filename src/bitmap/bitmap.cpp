#include "bitmap/bitmap.h"

#include <algorithm>

namespace pelloran::bitmap {

namespace {

using archive::layoutOf;
using archive::Slot;
using archive::SlotLayout;

// Offsets of the header fields we write.
constexpr std::size_t kSignature = 0;     // "BM"
constexpr std::size_t kFileSize = 2;      // 32-bit
constexpr std::size_t kPixelOffset = 10;  // 32-bit
constexpr std::size_t kInfoSize = 14;     // 32-bit
constexpr std::size_t kWidth = 18;        // 32-bit
constexpr std::size_t kHeight = 22;       // 32-bit, positive: bottom row first
constexpr std::size_t kPlanes = 26;       // 16-bit
constexpr std::size_t kBitCount = 28;     // 16-bit
constexpr std::size_t kImageSize = 34;    // 32-bit

void putLe32(Header& header, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) header[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Header headerFor(const Header& headerTemplate, const SlotLayout& layout)
{
    Header header = headerTemplate;
    putLe32(header, kFileSize, static_cast<std::uint32_t>(fileSize(layout)));
    putLe32(header, kWidth, layout.width);
    putLe32(header, kHeight, layout.height());
    putLe32(header, kImageSize, layout.pixelBlockSize());
    return header;
}

Header makeHeaderTemplate()
{
    Header header{};
    header[kSignature] = 'B';
    header[kSignature + 1] = 'M';
    putLe32(header, kPixelOffset, kPixelDataOffset);
    putLe32(header, kInfoSize, kInfoHeaderSize);
    header[kPlanes] = 1;
    header[kBitCount] = 8;
    // Compression, resolution and colours used stay 0: uncompressed, no
    // preferred resolution, and all 256 entries of an 8-bit colour table.
    return headerFor(header, archive::kLargeLayout);
}

}  // namespace

const Header& headerTemplate()
{
    static const Header header = makeHeaderTemplate();
    return header;
}

std::vector<std::uint8_t> encodeRecord(Slot slot, std::span<const std::uint8_t> record)
{
    const SlotLayout& layout = layoutOf(slot);
    const auto pixels = record.first(layout.pixelBlockSize());
    const auto paletteBlock =
        record.subspan(layout.pixelBlockSize(), SlotLayout::kPaletteBlockSize);
    std::vector<std::uint8_t> file;
    file.reserve(fileSize(layout));

    const Header header = headerFor(headerTemplate(), layout);
    file.insert(file.end(), header.begin(), header.end());

    // Both store blue, green, red per entry; the fourth byte is written 0
    // whatever the archive record held there, as the BMP format asks.
    for (std::size_t e = 0; e < archive::kPaletteEntries; ++e) {
        const auto entry = paletteBlock.subspan(4 * e, 3);
        file.insert(file.end(), entry.begin(), entry.end());
        file.push_back(0);
    }

    // A positive height means bottom row first; the record holds the top row
    // first. Rows of 64 and 32 bytes need no padding to four bytes.
    for (int row = layout.height() - 1; row >= 0; --row) {
        const auto line =
            pixels.subspan(static_cast<std::size_t>(row) * layout.width, layout.width);
        file.insert(file.end(), line.begin(), line.end());
    }
    return file;
}

std::optional<std::filesystem::path> smallBitmapPath(const std::filesystem::path& largeBitmap)
{
    return fileio::replaceTail(largeBitmap, 4, U"T.BMP");
}

}  // namespace pelloran::bitmap
