#include "bitmap/decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string_view>

#include "bitmap/import.h"

namespace pelloran::bitmap {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kPixelOffsetField = 10;
constexpr std::size_t kInfoHeaderAt = kFileHeaderSize;
constexpr std::size_t kInfoSizeField = 4;

// The info headers painting programs write: OS/2 1.x (12), Windows 3 (40),
// the two that add bit masks (52, 56), and Windows 4 and 5 (108, 124).
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSizes[] = {kCoreHeaderSize, 40, 52, 56, 108, 124};
constexpr std::uint32_t kWindows3HeaderSize = 40;

enum Compression : std::uint32_t { kUncompressed = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

constexpr std::size_t kMaskCount = 3;  // red, green, blue; an alpha mask is not read
constexpr std::size_t kMaskSize = 4;

using Bytes = std::span<const std::uint8_t>;

// Reads at offsets the caller has checked against the file's length.
std::uint32_t le16(Bytes file, std::size_t at)
{
    return file[at] | file[at + 1] << 8;
}

std::uint32_t le32(Bytes file, std::size_t at)
{
    return le16(file, at) | le16(file, at + 2) << 16;
}

// What the headers say, checked against each other and against the file.
struct Layout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    std::uint32_t bits = 0;
    std::uint32_t compression = kUncompressed;
    std::array<std::uint32_t, kMaskCount> masks{};  // bit fields, and 16 bits without them
    std::size_t paletteAt = 0;
    std::size_t paletteEntries = 0;  // 0 for true colour
    std::size_t entrySize = 4;
    std::uint64_t pixelsAt = 0;
};

// A channel of a bit-field pixel: where its bits are and how many.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    std::uint8_t of(std::uint32_t pixel) const
    {
        const std::uint32_t value = (pixel & mask) >> shift;
        if (width >= 8) return static_cast<std::uint8_t>(value >> (width - 8));
        // Fewer than 8 bits are widened by repeating them below themselves
        // (5 bits: v << 3 | v >> 2), as Qt and ffmpeg do: 0 stays black,
        // full scale becomes 255, and a colour saved from such a value comes
        // back as that value.
        std::uint32_t wide = value << (8 - width);
        for (int filled = width; filled < 8; filled += width) wide |= wide >> width;
        return static_cast<std::uint8_t>(wide);
    }
};

class Decoder {
public:
    explicit Decoder(Bytes file) : file_(file) {}

    std::expected<Picture, DecodeError> run()
    {
        if (auto read = readHeaders(); !read) return std::unexpected(read.error());
        readColourTable();
        picture_.width = layout_.width;
        picture_.height = layout_.height;
        const std::size_t count = static_cast<std::size_t>(layout_.width) * layout_.height;
        std::expected<void, DecodeError> read;
        if (picture_.indexed()) {
            picture_.indices.assign(count, 0);
            read = layout_.compression == kUncompressed ? readIndexedRows() : readRuns();
        } else {
            picture_.colours.assign(count, Colour{});
            read = readColourRows();
        }
        if (!read) return std::unexpected(read.error());
        return std::move(picture_);
    }

private:
    std::unexpected<DecodeError> fail(DecodeFault fault, std::int64_t found = 0) const
    {
        return std::unexpected(DecodeError{fault, found, 0, width_, height_});
    }
    std::unexpected<DecodeError> truncated() const
    {
        return fail(DecodeFault::Truncated, static_cast<std::int64_t>(file_.size()));
    }
    bool has(std::uint64_t end) const { return end <= file_.size(); }

    std::expected<void, DecodeError> readHeaders()
    {
        if (file_.size() < 2 || file_[0] != 'B' || file_[1] != 'M')
            return fail(DecodeFault::NotABitmap);
        if (!has(kInfoHeaderAt + kInfoSizeField)) return truncated();
        const std::uint32_t infoSize = le32(file_, kInfoHeaderAt);
        if (std::ranges::find(kInfoHeaderSizes, infoSize) == std::end(kInfoHeaderSizes))
            return fail(DecodeFault::UnsupportedHeader, infoSize);
        if (!has(kInfoHeaderAt + infoSize)) return truncated();
        const std::size_t at = kInfoHeaderAt + kInfoSizeField;

        std::uint32_t planes = 0;
        std::uint32_t coloursUsed = 0;
        if (infoSize == kCoreHeaderSize) {
            // OS/2: unsigned 16-bit sizes, always bottom-up, uncompressed,
            // a full colour table of three-byte entries.
            width_ = le16(file_, at);
            height_ = le16(file_, at + 2);
            planes = le16(file_, at + 4);
            layout_.bits = le16(file_, at + 6);
            layout_.entrySize = 3;
        } else {
            width_ = static_cast<std::int32_t>(le32(file_, at));
            const auto height = static_cast<std::int32_t>(le32(file_, at + 4));
            // A negative height means the top row comes first.
            layout_.topDown = height < 0;
            height_ = layout_.topDown ? -std::int64_t{height} : height;
            planes = le16(file_, at + 8);
            layout_.bits = le16(file_, at + 10);
            layout_.compression = le32(file_, at + 12);
            coloursUsed = le32(file_, at + 28);
        }
        // Checked before anything else is believed: nothing below allocates
        // or loops by a size that is not a portrait's.
        if (!portraitSlot(width_, height_)) return fail(DecodeFault::NotPortraitSize);
        layout_.width = static_cast<int>(width_);
        layout_.height = static_cast<int>(height_);
        if (planes != 1) return fail(DecodeFault::UnsupportedPlanes, planes);

        const std::uint32_t bits = layout_.bits;
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return fail(DecodeFault::UnsupportedDepth, bits);
        const bool indexed = bits <= 8;
        const std::uint32_t compression = layout_.compression;
        const bool fits = compression == kUncompressed || (compression == kRle8 && bits == 8) ||
                          (compression == kRle4 && bits == 4) ||
                          (compression == kBitFields && !indexed);
        if (!fits) return fail(DecodeFault::UnsupportedCompression, compression);

        std::size_t tableAt = kInfoHeaderAt + infoSize;
        // 16 bits without bit fields are 5 bits each of red, green and blue.
        if (bits == 16) layout_.masks = {0x7C00, 0x03E0, 0x001F};
        if (compression == kBitFields) {
            // Longer headers hold the masks from byte 54 on; the 40-byte
            // header has no room for them, so they follow it.
            std::size_t masksAt = at + 36;
            if (infoSize == kWindows3HeaderSize) {
                masksAt = tableAt;
                tableAt += kMaskCount * kMaskSize;
                if (!has(tableAt)) return truncated();
            }
            for (std::size_t c = 0; c < kMaskCount; ++c) {
                const std::uint32_t mask = le32(file_, masksAt + kMaskSize * c);
                if (auto checked = checkMask(mask); !checked) return checked;
                layout_.masks[c] = mask;
            }
        }

        std::uint64_t tableEnd = tableAt;
        if (indexed) {
            const std::uint32_t addressable = 1u << bits;
            if (coloursUsed > addressable) return fail(DecodeFault::BadPaletteLength, coloursUsed);
            // 0 colours used means as many as the depth addresses.
            layout_.paletteEntries = coloursUsed == 0 ? addressable : coloursUsed;
            layout_.paletteAt = tableAt;
            tableEnd += layout_.paletteEntries * layout_.entrySize;
        }
        layout_.pixelsAt = le32(file_, kPixelOffsetField);
        if (layout_.pixelsAt < tableEnd)
            return fail(DecodeFault::PixelsInsideHeader,
                        static_cast<std::int64_t>(layout_.pixelsAt));
        if (!has(layout_.pixelsAt)) return truncated();
        return {};
    }

    std::expected<void, DecodeError> checkMask(std::uint32_t mask)
    {
        const int shift = std::countr_zero(mask);
        const bool oneRun = mask != 0 && ((mask >> shift) & ((mask >> shift) + 1)) == 0;
        const bool insidePixel = layout_.bits == 32 || mask >> layout_.bits == 0;
        if (!oneRun || !insidePixel) return fail(DecodeFault::BadBitFields, mask);
        return {};
    }

    // The headers' checks put the whole table inside the file.
    void readColourTable()
    {
        if (layout_.paletteEntries == 0) return;
        picture_.palette.resize(layout_.paletteEntries);
        for (std::size_t e = 0; e < layout_.paletteEntries; ++e) {
            const auto entry = file_.subspan(layout_.paletteAt + e * layout_.entrySize);
            const std::uint8_t reserved = layout_.entrySize == 4 ? entry[3] : 0;
            picture_.palette[e] = {entry[2], entry[1], entry[0], reserved};
        }
    }

    // Row r of the file is the picture's row r when the file stores the top
    // row first, and counted from the bottom otherwise.
    std::size_t pictureRow(std::size_t fileRow) const
    {
        return layout_.topDown ? fileRow : static_cast<std::size_t>(layout_.height) - 1 - fileRow;
    }

    // Rows are padded to four bytes.
    std::size_t rowBytes() const
    {
        return (static_cast<std::size_t>(layout_.width) * layout_.bits + 31) / 32 * 4;
    }

    std::unexpected<DecodeError> beyondPalette(std::uint32_t index) const
    {
        auto error = fail(DecodeFault::IndexBeyondPalette, index);
        error.error().paletteLength = static_cast<std::int64_t>(picture_.palette.size());
        return error;
    }

    std::expected<void, DecodeError> setIndex(std::size_t fileRow, std::size_t x,
                                              std::uint32_t index)
    {
        if (index >= picture_.palette.size()) return beyondPalette(index);
        picture_.indices[pictureRow(fileRow) * static_cast<std::size_t>(layout_.width) + x] =
            static_cast<std::uint8_t>(index);
        return {};
    }

    std::expected<void, DecodeError> readIndexedRows()
    {
        const std::size_t stride = rowBytes();
        if (!has(layout_.pixelsAt + stride * static_cast<std::size_t>(layout_.height)))
            return truncated();
        const std::uint32_t bits = layout_.bits;
        const std::uint32_t perByte = 8 / bits;
        const std::uint32_t lowBits = (1u << bits) - 1u;
        const auto width = static_cast<std::size_t>(layout_.width);
        const bool fullPalette = picture_.palette.size() == std::size_t{1} << bits;
        for (std::size_t row = 0; row < static_cast<std::size_t>(layout_.height); ++row) {
            const auto line = file_.subspan(layout_.pixelsAt + row * stride, stride);
            const auto out = std::span(picture_.indices).subspan(pictureRow(row) * width, width);
            if (bits == 8) {
                std::ranges::copy(line.first(width), out.begin());
            } else {
                // The leftmost pixel is in the highest bits of its byte.
                for (std::size_t x = 0, byte = 0; x < width; ++byte) {
                    for (std::uint32_t k = 1; k <= perByte && x < width; ++k, ++x)
                        out[x] = static_cast<std::uint8_t>(line[byte] >> (8 - k * bits) & lowBits);
                }
            }
            if (!fullPalette) {
                const auto beyond = std::ranges::find_if(
                    out, [&](std::uint8_t index) { return index >= picture_.palette.size(); });
                if (beyond != out.end()) return beyondPalette(*beyond);
            }
        }
        return {};
    }

    std::expected<void, DecodeError> readColourRows()
    {
        const std::size_t stride = rowBytes();
        if (!has(layout_.pixelsAt + stride * static_cast<std::size_t>(layout_.height)))
            return truncated();
        const std::size_t bytesPerPixel = layout_.bits / 8;
        std::array<Channel, kMaskCount> channels{};
        for (std::size_t c = 0; c < kMaskCount; ++c)
            channels[c] = {layout_.masks[c], std::countr_zero(layout_.masks[c]),
                           std::popcount(layout_.masks[c])};
        // Alpha is dropped: portraits have no transparency.
        for (std::size_t row = 0; row < static_cast<std::size_t>(layout_.height); ++row) {
            const auto line = file_.subspan(layout_.pixelsAt + row * stride, stride);
            Colour* out =
                &picture_.colours[pictureRow(row) * static_cast<std::size_t>(layout_.width)];
            if (layout_.bits != 16 && layout_.compression != kBitFields) {
                // Without bit fields a pixel is blue, green, red (and an unused byte).
                for (std::size_t x = 0; x < static_cast<std::size_t>(layout_.width); ++x) {
                    const std::size_t at = x * bytesPerPixel;
                    out[x] = {line[at + 2], line[at + 1], line[at]};
                }
                continue;
            }
            for (std::size_t x = 0; x < static_cast<std::size_t>(layout_.width); ++x) {
                std::uint32_t pixel = 0;
                for (std::size_t k = 0; k < bytesPerPixel; ++k)
                    pixel |= std::uint32_t{line[x * bytesPerPixel + k]} << (8 * k);
                out[x] = {channels[0].of(pixel), channels[1].of(pixel), channels[2].of(pixel)};
            }
        }
        return {};
    }

    // RLE8 and RLE4: pairs of a count and a value (a run of count pixels), or
    // 0 and an escape: end of row, end of picture, a jump, or a stretch of
    // literal pixels padded to an even length. Pixels the stream never sets
    // keep index 0, as the format leaves them to the background. A stream
    // that the file cuts before its end-of-picture mark is truncated.
    std::expected<void, DecodeError> readRuns()
    {
        enum Escape : std::uint8_t { kEndOfRow = 0, kEndOfPicture = 1, kJump = 2 };
        const bool nibbles = layout_.compression == kRle4;
        const std::size_t width = static_cast<std::size_t>(layout_.width);
        const std::size_t height = static_cast<std::size_t>(layout_.height);
        std::size_t x = 0;
        std::size_t row = 0;
        std::uint64_t at = layout_.pixelsAt;
        // Pixels may only be set inside the picture; moving to the row just
        // past the last is what a final end-of-row does.
        const auto runFits = [&](std::size_t count) { return row < height && x + count <= width; };
        while (true) {
            if (!has(at + 2)) return truncated();
            const std::uint64_t runAt = at;
            const std::uint32_t count = file_[at];
            const std::uint32_t value = file_[at + 1];
            at += 2;
            if (count > 0) {
                if (!runFits(count)) return fail(DecodeFault::RunPastPicture, runAt);
                for (std::uint32_t k = 0; k < count; ++k, ++x) {
                    const std::uint32_t index =
                        nibbles ? (k % 2 == 0 ? value >> 4 : value & 0xF) : value;
                    if (auto set = setIndex(row, x, index); !set) return set;
                }
                continue;
            }
            switch (value) {
                case kEndOfRow:
                    x = 0;
                    ++row;
                    if (row > height) return fail(DecodeFault::RunPastPicture, runAt);
                    break;
                case kEndOfPicture:
                    return {};
                case kJump: {
                    if (!has(at + 2)) return truncated();
                    x += file_[at];
                    row += file_[at + 1];
                    at += 2;
                    if (x > width || row > height) return fail(DecodeFault::RunPastPicture, runAt);
                    break;
                }
                default: {
                    const std::size_t literal = value;
                    const std::size_t bytes = nibbles ? (literal + 1) / 2 : literal;
                    const std::size_t padded = (bytes + 1) / 2 * 2;
                    if (!has(at + padded)) return truncated();
                    if (!runFits(literal)) return fail(DecodeFault::RunPastPicture, runAt);
                    for (std::size_t k = 0; k < literal; ++k, ++x) {
                        const std::uint32_t byte = file_[at + (nibbles ? k / 2 : k)];
                        const std::uint32_t index =
                            nibbles ? (k % 2 == 0 ? byte >> 4 : byte & 0xF) : byte;
                        if (auto set = setIndex(row, x, index); !set) return set;
                    }
                    at += padded;
                    break;
                }
            }
        }
    }

    Bytes file_;
    Layout layout_;
    Picture picture_;
    std::int64_t width_ = 0;
    std::int64_t height_ = 0;
};

// PNG's CRC-32 (polynomial 0xEDB88320), over a chunk's type and data.
constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

std::uint32_t crc32(Bytes bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) c = kCrcTable[(c ^ byte) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t be32(Bytes file, std::size_t at)
{
    return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 |
           std::uint32_t{file[at + 2]} << 8 | file[at + 3];
}

}  // namespace

std::expected<Picture, DecodeError> decodeBmp(std::span<const std::uint8_t> file)
{
    return Decoder(file).run();
}

std::expected<PictureSize, DecodeError> checkPng(std::span<const std::uint8_t> file)
{
    constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
    constexpr std::size_t kHeaderLength = 13;
    const auto fault = [&](DecodeFault why, std::uint64_t found, PictureSize size = {}) {
        return std::unexpected(
            DecodeError{why, static_cast<std::int64_t>(found), 0, size.width, size.height});
    };
    if (file.size() < sizeof kSignature || !std::ranges::equal(kSignature, file.first(8)))
        return fault(DecodeFault::NotABitmap, 0);
    PictureSize size;
    for (std::uint64_t at = sizeof kSignature;;) {
        if (file.size() - at < kChunkOverhead) return fault(DecodeFault::Truncated, file.size());
        const std::uint64_t length = be32(file, at);
        if (file.size() - at - kChunkOverhead < length)
            return fault(DecodeFault::Truncated, file.size(), size);
        const auto typeAndData = file.subspan(at + 4, 4 + length);
        if (crc32(typeAndData) != be32(file, at + 8 + length))
            return fault(DecodeFault::DamagedPng, at, size);
        const std::string_view type(reinterpret_cast<const char*>(typeAndData.data()), 4);
        const bool first = at == sizeof kSignature;
        if (first != (type == "IHDR") || (first && length != kHeaderLength))
            return fault(DecodeFault::DamagedPng, at);
        if (first) {
            size = {be32(file, at + 8), be32(file, at + 12)};
            // Checked before anything else is believed, as a BMP file's size.
            if (!portraitSlot(size.width, size.height))
                return fault(DecodeFault::NotPortraitSize, 0, size);
        }
        at += kChunkOverhead + length;
        if (type == "IEND") return size;
    }
}

}  // namespace pelloran::bitmap
