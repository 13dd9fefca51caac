// The journal file's bytes. Bytes in, bytes out: no file is touched here.
//
//   header  "PLRNJRNL", version u32, 0 u32, base id u64, checksum u64    32 bytes
//   block   "JBLK", kind u8, 0 u8[3], body length u64                    16 bytes
//           body
//           body length u64, checksum u64 of every byte before it        16 bytes
//   block   ...
//
// Numbers are little-endian; checksums are checksum64. A block's length is
// written at both ends so that the last block can be found from the end of
// the file without reading the ones before it, and its checksum tells a whole
// block from one a crash cut short or left as zeros.
//
// Operation body: id u64, time u64 (milliseconds since 1970 UTC), undoes u64
// (0: none), origin u8, 0 u8[3], record count u32; per record: archive u8
// (0 large, 1 small), 0 u8[3], length u32, offset u64, checksum of the old
// bytes u64, of the new bytes u64; then per record, in the same order, its old
// bytes and its new bytes. The new bytes are kept, not only their checksum,
// because a record write that a crash cut short holds new bytes in some places
// and old ones elsewhere: only with both at hand can recovery tell that apart
// from a record someone else changed since.
// Committed and RolledBack bodies: the operation's id u64.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "journal/journal.h"

namespace pelloran::journal::format {

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kBlockHeadSize = 16;
inline constexpr std::size_t kBlockTailSize = 16;
inline constexpr std::size_t kBlockOverhead = kBlockHeadSize + kBlockTailSize;
inline constexpr std::uint32_t kVersion = 1;

enum class Kind : std::uint8_t { Operation = 1, Committed = 2, RolledBack = 3 };

struct RecordHead {
    archive::Slot archive;
    std::uint32_t length;
    std::uint64_t offset;
    std::uint64_t oldSum;
    std::uint64_t newSum;
};

struct OperationHead {
    std::uint64_t id;
    Time time;
    std::uint64_t undoes;
    Origin origin;
};

// What an operation changes in one record, for encoding.
struct RecordChange {
    archive::Slot archive;
    std::uint64_t offset;
    std::span<const std::uint8_t> oldBytes;
    std::span<const std::uint8_t> newBytes;  // as long as oldBytes
};

struct OperationView {
    OperationHead head;
    std::vector<RecordHead> records;
    std::span<const std::uint8_t> bytes;  // per record its old bytes, then its new ones
    std::vector<std::size_t> starts;      // where each record's old bytes start in bytes

    std::span<const std::uint8_t> oldBytes(std::size_t i) const
    {
        return bytes.subspan(starts[i], records[i].length);
    }
    std::span<const std::uint8_t> newBytes(std::size_t i) const
    {
        return bytes.subspan(starts[i] + records[i].length, records[i].length);
    }
};

struct BlockView {
    Kind kind;
    std::span<const std::uint8_t> body;
};

// Ids of a journal start at the base id; it carries the count on when
// compaction drops every older operation.
std::vector<std::uint8_t> encodeHeader(std::uint64_t baseId);
std::expected<std::uint64_t, Fault> decodeHeader(std::span<const std::uint8_t> header);

// An operation block as the pieces it is written in: block head, operation
// fields and record table; every record's old and new bytes, from where they
// already are; the tail. A batch's megabytes are so written without being
// copied together first.
struct Pieces {
    std::vector<std::uint8_t> head;
    std::vector<std::span<const std::uint8_t>> records;
    std::vector<std::uint8_t> tail;

    std::vector<std::span<const std::uint8_t>> all() const;
    std::uint64_t size() const;
};
Pieces encodeOperation(const OperationHead& head, std::span<const RecordChange> records);
std::vector<std::uint8_t> encodeMark(Kind kind, std::uint64_t id);

// The body length a block's first or last 16 bytes announce; a head that is
// not one gives nothing. The length is not checked against anything yet.
std::optional<std::uint64_t> headBodyLength(std::span<const std::uint8_t> head);
std::uint64_t tailBodyLength(std::span<const std::uint8_t> tail);

// A block, given exactly its bytes; nothing when any part is not as written.
std::optional<BlockView> decodeBlock(std::span<const std::uint8_t> block);
std::optional<OperationView> decodeOperation(std::span<const std::uint8_t> body);
std::optional<std::uint64_t> decodeMark(std::span<const std::uint8_t> body);

}  // namespace pelloran::journal::format
