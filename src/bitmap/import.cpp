#include "bitmap/import.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>

namespace pelloran::bitmap {

namespace {

using archive::Slot;
using archive::SlotLayout;

constexpr std::size_t kEntries = archive::kPaletteEntries;
constexpr std::size_t kEntrySize = 4;  // blue, green, red, reserved

std::uint32_t keyOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return std::uint32_t{red} << 16 | std::uint32_t{green} << 8 | blue;
}

std::uint32_t keyOf(Colour colour)
{
    return keyOf(colour.red, colour.green, colour.blue);
}

void putColour(std::span<std::uint8_t> entry, std::uint32_t key)
{
    entry[0] = static_cast<std::uint8_t>(key);
    entry[1] = static_cast<std::uint8_t>(key >> 8);
    entry[2] = static_cast<std::uint8_t>(key >> 16);
}

// The colours of the record being replaced, by entry and by colour.
class RecordPalette {
public:
    explicit RecordPalette(std::span<const std::uint8_t> block)
    {
        for (std::size_t e = 0; e < kEntries; ++e) {
            const auto entry = block.subspan(kEntrySize * e, 3);
            colourOf_[e] = keyOf(entry[2], entry[1], entry[0]);
            byColour_[e] = {colourOf_[e], static_cast<std::uint8_t>(e)};
        }
        // Sorted by colour, then entry: the first of equal colours is the lowest entry.
        std::ranges::sort(byColour_);
    }

    std::uint32_t colourOf(std::uint8_t entry) const { return colourOf_[entry]; }

    std::optional<std::uint8_t> lowestEntryOf(std::uint32_t colour) const
    {
        const auto found = std::ranges::lower_bound(byColour_, std::pair{colour, std::uint8_t{0}});
        if (found == byColour_.end() || found->first != colour) return std::nullopt;
        return found->second;
    }

private:
    std::array<std::uint32_t, kEntries> colourOf_{};
    std::array<std::pair<std::uint32_t, std::uint8_t>, kEntries> byColour_{};
};

// Which entry each pixel of a true-colour picture takes: an existing entry,
// or (as -1 - k) the k-th colour the palette lacks.
struct Assignment {
    std::vector<int> entryOf;
    std::vector<std::uint32_t> newColours;  // in the order they first appear
    std::array<bool, kEntries> used{};

    std::size_t distinctColours() const
    {
        return static_cast<std::size_t>(std::ranges::count(used, true)) + newColours.size();
    }
};

enum class Keep { CurrentIndex, LowestEntryOnly };

Assignment assign(std::span<const Colour> colours, std::span<const std::uint8_t> currentPixels,
                  const RecordPalette& palette, Keep keep)
{
    Assignment result;
    result.entryOf.resize(colours.size());
    std::unordered_map<std::uint32_t, int> newIndex;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const std::uint32_t colour = keyOf(colours[i]);
        std::optional<std::uint8_t> entry;
        if (keep == Keep::CurrentIndex && palette.colourOf(currentPixels[i]) == colour)
            entry = currentPixels[i];
        else
            entry = palette.lowestEntryOf(colour);
        if (entry) {
            result.entryOf[i] = *entry;
            result.used[*entry] = true;
            continue;
        }
        const auto [found, added] =
            newIndex.try_emplace(colour, static_cast<int>(result.newColours.size()));
        if (added) result.newColours.push_back(colour);
        result.entryOf[i] = -1 - found->second;
    }
    return result;
}

std::expected<void, TooManyColours> mapByColour(std::span<const Colour> colours,
                                                std::span<std::uint8_t> pixels,
                                                std::span<std::uint8_t> block)
{
    const RecordPalette palette(block);
    // Keeping every pixel's current index may hold entries with repeated
    // colours that the new colours need; then each colour keeps only its
    // lowest entry, which always fits 256 colours.
    Assignment assignment = assign(colours, pixels, palette, Keep::CurrentIndex);
    std::vector<std::uint8_t> freeEntries;
    const auto collectFree = [&] {
        freeEntries.clear();
        for (std::size_t e = 0; e < kEntries; ++e)
            if (!assignment.used[e]) freeEntries.push_back(static_cast<std::uint8_t>(e));
        return assignment.newColours.size() <= freeEntries.size();
    };
    if (!collectFree()) {
        assignment = assign(colours, pixels, palette, Keep::LowestEntryOnly);
        if (!collectFree())
            return std::unexpected(TooManyColours{static_cast<int>(assignment.distinctColours())});
    }
    for (std::size_t k = 0; k < assignment.newColours.size(); ++k)
        putColour(block.subspan(kEntrySize * freeEntries[k], 3), assignment.newColours[k]);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int entry = assignment.entryOf[i];
        pixels[i] = entry >= 0 ? static_cast<std::uint8_t>(entry) : freeEntries[-1 - entry];
    }
    return {};
}

// Whether every entry the picture's pixels use has the record's colour at
// that entry: then the painter kept the record's palette and the indices
// mean what they meant.
bool usesRecordPalette(const Picture& picture, std::span<const std::uint8_t> block)
{
    std::array<bool, kEntries> used{};
    for (std::uint8_t index : picture.indices) used[index] = true;
    for (std::size_t e = 0; e < picture.palette.size(); ++e) {
        const PaletteEntry& entry = picture.palette[e];
        const auto stored = block.subspan(kEntrySize * e, 3);
        if (used[e] &&
            (stored[0] != entry.blue || stored[1] != entry.green || stored[2] != entry.red))
            return false;
    }
    return true;
}

void writeByIndex(const Picture& picture, std::span<std::uint8_t> pixels,
                  std::span<std::uint8_t> block)
{
    std::ranges::copy(picture.indices, pixels.begin());
    for (std::size_t e = 0; e < picture.palette.size(); ++e) {
        const PaletteEntry& entry = picture.palette[e];
        const std::array bytes{entry.blue, entry.green, entry.red, entry.reserved};
        std::ranges::copy(bytes, block.begin() + static_cast<std::ptrdiff_t>(kEntrySize * e));
    }
}

}  // namespace

std::expected<Slot, Check> portraitSlot(std::int64_t width, std::int64_t height)
{
    for (Slot slot : {Slot::Large, Slot::Small}) {
        const SlotLayout& layout = archive::layoutOf(slot);
        if (width == layout.width && height == layout.height()) return slot;
    }
    const auto either = [](std::int64_t value, const auto member) {
        return value == std::invoke(member, archive::kLargeLayout) ||
               value == std::invoke(member, archive::kSmallLayout);
    };
    if (!either(width, &SlotLayout::width)) return std::unexpected(Check::Width);
    if (!either(height, &SlotLayout::height)) return std::unexpected(Check::Height);
    return std::unexpected(Check::Format);
}

Check checkOf(const DecodeError& error)
{
    if (error.fault != DecodeFault::NotPortraitSize) return Check::Format;
    const auto slot = portraitSlot(error.width, error.height);
    return slot ? Check::Format : slot.error();
}

std::expected<Portrait, Refusal> readPortrait(std::span<const std::uint8_t> file)
{
    auto picture = decodeBmp(file);
    if (!picture) return std::unexpected(Refusal{checkOf(picture.error()), picture.error()});
    // decodeBmp takes portrait sizes only.
    const Slot slot = *portraitSlot(picture->width, picture->height);
    return Portrait{slot, std::move(*picture)};
}

std::expected<std::vector<std::uint8_t>, TooManyColours> mapToRecord(
    const Picture& picture, Slot slot, std::span<const std::uint8_t> current)
{
    const SlotLayout& layout = archive::layoutOf(slot);
    std::vector<std::uint8_t> record(current.begin(), current.end());
    const auto pixels = std::span(record).first(layout.pixelBlockSize());
    const auto block = std::span(record).subspan(layout.pixelBlockSize(), kEntries * kEntrySize);
    if (!picture.indexed()) {
        if (auto mapped = mapByColour(picture.colours, pixels, block); !mapped)
            return std::unexpected(mapped.error());
        return record;
    }
    if (usesRecordPalette(picture, block)) {
        writeByIndex(picture, pixels, block);
        return record;
    }
    // A palette the painter rebuilt or reordered: the indices no longer
    // mean the record's entries, the colours still do.
    std::vector<Colour> colours(picture.indices.size());
    std::ranges::transform(picture.indices, colours.begin(), [&](std::uint8_t index) {
        const PaletteEntry& entry = picture.palette[index];
        return Colour{entry.red, entry.green, entry.blue};
    });
    // At most 256 colours always fit once each keeps only its lowest entry,
    // so by index is only a guard that keeps this total.
    if (!mapByColour(colours, pixels, block)) writeByIndex(picture, pixels, block);
    return record;
}

std::expected<Import, std::variant<Refusal, TooManyColours>> importBitmap(
    std::span<const std::uint8_t> file, const CurrentRecords& current)
{
    auto portrait = readPortrait(file);
    if (!portrait) return std::unexpected(portrait.error());
    auto record = mapToRecord(portrait->picture, portrait->slot,
                              portrait->slot == Slot::Large ? current.large : current.small);
    if (!record) return std::unexpected(record.error());
    return Import{portrait->slot, std::move(*record)};
}

}  // namespace pelloran::bitmap
