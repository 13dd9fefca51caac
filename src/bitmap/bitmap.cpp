#include "bitmap/bitmap.h"

#include <algorithm>

namespace pelloran::bitmap {

namespace {

using archive::layoutOf;
using archive::Slot;
using archive::SlotLayout;

// Offsets of the header fields we write or test.
constexpr std::size_t kSignature = 0;     // "BM"
constexpr std::size_t kFileSize = 2;      // 32-bit
constexpr std::size_t kPixelOffset = 10;  // 32-bit
constexpr std::size_t kInfoSize = 14;     // 32-bit
constexpr std::size_t kWidth = 18;        // 32-bit
constexpr std::size_t kHeight = 22;       // 32-bit, positive: bottom row first
constexpr std::size_t kPlanes = 26;       // 16-bit
constexpr std::size_t kBitCount = 28;     // 16-bit
constexpr std::size_t kCompression = 30;  // 32-bit
constexpr std::size_t kImageSize = 34;    // 32-bit

void putLe32(Header& header, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) header[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The import check reads its fixed positions without looking at the file's
// length: a byte past the end of a short file counts as 0, which makes any
// file too short for its header fail the check it is short of.
class Bytes {
public:
    explicit Bytes(std::span<const std::uint8_t> file) : file_(file) {}
    std::uint8_t at(std::size_t offset) const { return offset < file_.size() ? file_[offset] : 0; }
    std::uint32_t le16(std::size_t offset) const { return at(offset) | at(offset + 1) << 8; }
    std::uint32_t le32(std::size_t offset) const
    {
        return le16(offset) | static_cast<std::uint32_t>(le16(offset + 2)) << 16;
    }
    std::size_t size() const { return file_.size(); }

private:
    std::span<const std::uint8_t> file_;
};

Header headerFor(const Header& headerTemplate, const SlotLayout& layout)
{
    Header header = headerTemplate;
    putLe32(header, kFileSize, static_cast<std::uint32_t>(fileSize(layout)));
    putLe32(header, kWidth, layout.width);
    putLe32(header, kHeight, layout.height());
    putLe32(header, kImageSize, layout.pixelBlockSize());
    return header;
}

bool fits(const Bytes& file, const SlotLayout& layout)
{
    return file.le32(kWidth) == layout.width && file.le32(kHeight) == layout.height();
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

ImportVerdict checkImport(std::span<const std::uint8_t> bytes)
{
    const Bytes file(bytes);
    const Bytes expected(headerTemplate());

    // The three checks the user knows, each with its own message. The size
    // byte is the lowest byte of the file size: 54 for both sizes we write.
    for (std::size_t offset : {kSignature, kSignature + 1, kFileSize}) {
        if (file.at(offset) != expected.at(offset)) return ImportVerdict::NotPortraitBitmap;
    }
    const std::uint32_t width = file.le16(kWidth);
    if (width != expected.le16(kWidth) && width != archive::kSmallLayout.width)
        return ImportVerdict::BadWidth;
    const std::uint32_t height = file.le16(kHeight);
    if (height != expected.le16(kHeight) && height != archive::kSmallLayout.height())
        return ImportVerdict::BadHeight;

    // What write-back reads at fixed positions must really be there, or it
    // would write another format's bytes into the archive as pixels.
    const bool layoutOk = file.le32(kInfoSize) == kInfoHeaderSize && file.le16(kPlanes) == 1 &&
                          file.le16(kBitCount) == 8 && file.le32(kCompression) == 0 &&
                          file.le32(kPixelOffset) == kPixelDataOffset;
    if (!layoutOk) return ImportVerdict::NotPortraitBitmap;
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const SlotLayout& layout = layoutOf(slot);
        if (fits(file, layout)) {
            if (file.size() < fileSize(layout)) return ImportVerdict::NotPortraitBitmap;
            return slot == Slot::Large ? ImportVerdict::Large : ImportVerdict::Small;
        }
    }
    return ImportVerdict::NotPortraitBitmap;
}

void recordFromBitmap(std::span<const std::uint8_t> bytes, Slot slot,
                      std::span<std::uint8_t> record)
{
    const Bytes file(bytes);
    const SlotLayout& layout = layoutOf(slot);
    std::size_t i = 0;
    // The file's last row is the portrait's top row, which the record holds first.
    for (int row = layout.height() - 1; row >= 0; --row) {
        const std::size_t start = kPixelDataOffset + static_cast<std::size_t>(row) * layout.width;
        for (std::size_t x = 0; x < layout.width; ++x) record[i++] = file.at(start + x);
    }
    // The colour table is copied byte for byte, reserved bytes included.
    for (std::size_t k = 0; k < SlotLayout::kPaletteBlockSize; ++k)
        record[i++] = file.at(kPaletteOffset + k);
}

}  // namespace pelloran::bitmap
