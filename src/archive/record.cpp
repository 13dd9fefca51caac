#include "archive/record.h"

#include <algorithm>
#include <cassert>

namespace pelloran::archive {

using fileio::Error;
using fileio::Operation;
using fileio::Result;

Result<void> readRecord(fileio::FileSystem& fs, const std::filesystem::path& archive,
                        std::uint64_t offset, std::span<std::uint8_t> record)
{
    auto count = fileio::readAtMost(fs, archive, offset, record);
    if (!count) return std::unexpected(count.error());
    std::fill(record.begin() + static_cast<std::ptrdiff_t>(*count), record.end(), 0);
    return {};
}

void decodePalette(std::span<const std::uint8_t> paletteBlock, RgbPalette& palette)
{
    for (int e = 0; e < kPaletteEntries; ++e) {
        const std::uint8_t* stored = &paletteBlock[4 * static_cast<std::size_t>(e)];
        palette[3 * e] = stored[2];
        palette[3 * e + 1] = stored[1];
        palette[3 * e + 2] = stored[0];
    }
}

namespace {

Result<void> writeAndVerify(fileio::File& file, const std::filesystem::path& archive,
                            std::uint64_t offset, std::span<const std::uint8_t> record)
{
    if (auto r = file.writeAt(offset, record); !r) return r;
    if (auto r = file.flush(); !r) return r;
    std::array<std::uint8_t, kMaxRecordSize> back{};
    const auto readBack = std::span(back).first(record.size());
    auto count = file.readAt(offset, readBack);
    if (!count) return std::unexpected(count.error());
    if (*count != record.size() || !std::ranges::equal(readBack, record))
        return std::unexpected(Error{archive, Operation::Write, Fault::VerifyMismatch});
    return {};
}

}  // namespace

Result<void> writeRecord(fileio::FileSystem& fs, const std::filesystem::path& archive,
                         std::uint64_t offset, std::span<const std::uint8_t> record)
{
    assert(record.size() <= kMaxRecordSize);
    auto opened = fs.openReadWrite(archive);
    if (!opened) return std::unexpected(opened.error());
    fileio::File& file = **opened;

    auto size = file.size();
    if (!size) return std::unexpected(size.error());
    if (*size < offset + record.size())
        return std::unexpected(Error{archive, Operation::Write, Fault::TooShort});

    std::array<std::uint8_t, kMaxRecordSize> old{};
    const auto oldRecord = std::span(old).first(record.size());
    auto count = file.readAt(offset, oldRecord);
    if (!count) return std::unexpected(count.error());
    if (*count != record.size())
        return std::unexpected(Error{archive, Operation::Write, Fault::TooShort});

    if (auto written = writeAndVerify(file, archive, offset, record); !written) {
        // Best effort: the first failure is the one worth reporting.
        if (file.writeAt(offset, oldRecord)) (void)file.flush();
        return written;
    }
    // The record is on disk and read back: a failing close cannot undo that,
    // and reporting it would call a finished write a failure.
    (void)file.close();
    return {};
}

}  // namespace pelloran::archive
