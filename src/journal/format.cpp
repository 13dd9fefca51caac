#include "journal/format.h"

#include <algorithm>
#include <array>

#include "journal/checksum.h"

namespace pelloran::journal::format {

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'P', 'L', 'R', 'N', 'J', 'R', 'N', 'L'};
constexpr std::array<std::uint8_t, 4> kBlockTag = {'J', 'B', 'L', 'K'};
constexpr std::size_t kOperationFixedSize = 32;
constexpr std::size_t kRecordHeadSize = 32;

std::uint64_t get(std::span<const std::uint8_t> bytes, std::size_t at, int size)
{
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}

// Appends value as size little-endian bytes.
void put(std::vector<std::uint8_t>& out, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The tail of a block: the body length again and the checksum of everything
// before it.
std::vector<std::uint8_t> tail(std::uint64_t bodyLength, Checksum64 checksum)
{
    std::vector<std::uint8_t> out;
    put(out, bodyLength, 8);
    checksum.add(out);
    put(out, checksum.value(), 8);
    return out;
}

std::vector<std::uint8_t> blockHead(Kind kind, std::uint64_t bodyLength)
{
    std::vector<std::uint8_t> out(kBlockTag.begin(), kBlockTag.end());
    put(out, static_cast<std::uint8_t>(kind), 4);
    put(out, bodyLength, 8);
    return out;
}

}  // namespace

std::vector<std::uint8_t> encodeHeader(std::uint64_t baseId)
{
    std::vector<std::uint8_t> out(kMagic.begin(), kMagic.end());
    put(out, kVersion, 4);
    put(out, 0, 4);
    put(out, baseId, 8);
    put(out, checksum64(out), 8);
    return out;
}

std::expected<std::uint64_t, Fault> decodeHeader(std::span<const std::uint8_t> header)
{
    if (header.size() != kHeaderSize || !std::ranges::equal(header.first(8), kMagic))
        return std::unexpected(Fault::NotAJournal);
    // A newer version may lay out its blocks differently: refused, never
    // guessed at, and never overwritten.
    if (get(header, 8, 4) > kVersion) return std::unexpected(Fault::NewerVersion);
    if (get(header, 24, 8) != checksum64(header.first(24)))
        return std::unexpected(Fault::NotAJournal);
    return get(header, 16, 8);
}

std::vector<std::span<const std::uint8_t>> Pieces::all() const
{
    std::vector<std::span<const std::uint8_t>> pieces{head};
    pieces.insert(pieces.end(), records.begin(), records.end());
    pieces.push_back(tail);
    return pieces;
}

std::uint64_t Pieces::size() const
{
    std::uint64_t size = head.size() + tail.size();
    for (const auto& piece : records) size += piece.size();
    return size;
}

Pieces encodeOperation(const OperationHead& head, std::span<const RecordChange> records)
{
    std::uint64_t bodyLength = kOperationFixedSize + kRecordHeadSize * records.size();
    for (const RecordChange& record : records) bodyLength += 2 * record.oldBytes.size();
    Pieces pieces{blockHead(Kind::Operation, bodyLength), {}, {}};
    auto& out = pieces.head;
    put(out, head.id, 8);
    put(out, static_cast<std::uint64_t>(head.time.time_since_epoch().count()), 8);
    put(out, head.undoes, 8);
    put(out, static_cast<std::uint8_t>(head.origin), 4);
    put(out, records.size(), 4);
    for (const RecordChange& record : records) {
        put(out, record.archive == archive::Slot::Large ? 0 : 1, 4);
        put(out, record.oldBytes.size(), 4);
        put(out, record.offset, 8);
        put(out, checksum64(record.oldBytes), 8);
        put(out, checksum64(record.newBytes), 8);
    }
    Checksum64 checksum;
    checksum.add(out);
    for (const RecordChange& record : records) {
        for (auto bytes : {record.oldBytes, record.newBytes}) {
            pieces.records.push_back(bytes);
            checksum.add(bytes);
        }
    }
    pieces.tail = tail(bodyLength, checksum);
    return pieces;
}

std::vector<std::uint8_t> encodeMark(Kind kind, std::uint64_t id)
{
    auto out = blockHead(kind, 8);
    put(out, id, 8);
    Checksum64 checksum;
    checksum.add(out);
    const auto end = tail(8, checksum);
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

std::optional<std::uint64_t> headBodyLength(std::span<const std::uint8_t> head)
{
    if (head.size() < kBlockHeadSize || !std::ranges::equal(head.first(4), kBlockTag))
        return std::nullopt;
    return get(head, 8, 8);
}

std::uint64_t tailBodyLength(std::span<const std::uint8_t> tail)
{
    return get(tail, 0, 8);
}

std::optional<BlockView> decodeBlock(std::span<const std::uint8_t> block)
{
    if (block.size() < kBlockOverhead) return std::nullopt;
    const std::uint64_t bodyLength = block.size() - kBlockOverhead;
    const std::size_t tail = block.size() - kBlockTailSize;
    if (headBodyLength(block) != bodyLength || get(block, tail, 8) != bodyLength ||
        get(block, tail + 8, 8) != checksum64(block.first(tail + 8)))
        return std::nullopt;
    const auto kind = static_cast<Kind>(block[4]);
    if (kind != Kind::Operation && kind != Kind::Committed && kind != Kind::RolledBack)
        return std::nullopt;
    return BlockView{kind, block.subspan(kBlockHeadSize, bodyLength)};
}

std::optional<OperationView> decodeOperation(std::span<const std::uint8_t> body)
{
    if (body.size() < kOperationFixedSize) return std::nullopt;
    const auto origin = static_cast<Origin>(body[24]);
    if (origin != Origin::WriteBack && origin != Origin::BatchImport && origin != Origin::Undo)
        return std::nullopt;
    OperationView view{{get(body, 0, 8), Time(std::chrono::milliseconds(get(body, 8, 8))),
                        get(body, 16, 8), origin},
                       {},
                       {},
                       {}};
    const std::uint64_t count = get(body, 28, 4);
    // The count is checked against the bytes present before anything is
    // allocated from it.
    if (count > (body.size() - kOperationFixedSize) / kRecordHeadSize) return std::nullopt;
    std::uint64_t bytesLength = 0;
    for (std::size_t at = kOperationFixedSize; view.records.size() < count; at += kRecordHeadSize) {
        if (body[at] > 1) return std::nullopt;
        const RecordHead record{body[at] == 0 ? archive::Slot::Large : archive::Slot::Small,
                                static_cast<std::uint32_t>(get(body, at + 4, 4)),
                                get(body, at + 8, 8), get(body, at + 16, 8), get(body, at + 24, 8)};
        view.starts.push_back(bytesLength);
        bytesLength += 2 * std::uint64_t{record.length};
        view.records.push_back(record);
    }
    const std::size_t bytesStart = kOperationFixedSize + kRecordHeadSize * count;
    if (bytesLength != body.size() - bytesStart) return std::nullopt;
    view.bytes = body.subspan(bytesStart);
    return view;
}

std::optional<std::uint64_t> decodeMark(std::span<const std::uint8_t> body)
{
    if (body.size() != 8) return std::nullopt;
    return get(body, 0, 8);
}

}  // namespace pelloran::journal::format
