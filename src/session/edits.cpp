#include "session/edits.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ranges>

namespace pelloran::session {

namespace {

constexpr std::size_t kEntrySize = 4;  // blue, green, red, reserved

std::size_t offsetOf(Slot slot, Point point)
{
    return static_cast<std::size_t>(point.y) * archive::layoutOf(slot).width +
           static_cast<std::size_t>(point.x);
}

std::span<std::uint8_t> pixelsOf(Slot slot, Record& record)
{
    return std::span(record).first(archive::layoutOf(slot).pixelBlockSize());
}

}  // namespace

bool contains(Slot slot, Point point)
{
    const archive::SlotLayout& layout = archive::layoutOf(slot);
    return point.x >= 0 && point.y >= 0 && point.x < layout.width && point.y < layout.height();
}

std::uint8_t indexAt(Slot slot, std::span<const std::uint8_t> record, Point point)
{
    return record[offsetOf(slot, point)];
}

bitmap::Colour colourOf(Slot slot, std::span<const std::uint8_t> record, std::uint8_t entry)
{
    const std::size_t at = archive::layoutOf(slot).pixelBlockSize() + entry * kEntrySize;
    return {record[at + 2], record[at + 1], record[at]};
}

std::vector<Point> lineBetween(Point from, Point to)
{
    // Bresenham's walk: one pixel per step along the longer axis, so that
    // consecutive pixels always touch.
    std::vector<Point> line;
    const int dx = std::abs(to.x - from.x), dy = -std::abs(to.y - from.y);
    const int stepX = from.x < to.x ? 1 : -1, stepY = from.y < to.y ? 1 : -1;
    int error = dx + dy;
    for (Point at = from;;) {
        line.push_back(at);
        if (at == to) break;
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            at.x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            at.y += stepY;
        }
    }
    return line;
}

bool setPixels(Slot slot, Record& record, std::span<const Point> points, std::uint8_t index)
{
    bool changed = false;
    for (Point point : points) {
        if (!contains(slot, point)) continue;
        std::uint8_t& pixel = record[offsetOf(slot, point)];
        changed |= pixel != index;
        pixel = index;
    }
    return changed;
}

bool fill(Slot slot, Record& record, Point at, std::uint8_t index)
{
    if (!contains(slot, at)) return false;
    const std::uint8_t from = indexAt(slot, record, at);
    if (from == index) return false;
    // An explicit stack: a whole portrait of one index would be thousands of
    // calls deep by recursion.
    std::vector<Point> stack{at};
    while (!stack.empty()) {
        const Point point = stack.back();
        stack.pop_back();
        if (!contains(slot, point) || indexAt(slot, record, point) != from) continue;
        record[offsetOf(slot, point)] = index;
        for (Point next : {Point{point.x + 1, point.y}, Point{point.x - 1, point.y},
                           Point{point.x, point.y + 1}, Point{point.x, point.y - 1}})
            stack.push_back(next);
    }
    return true;
}

bool replaceIndex(Slot slot, Record& record, std::uint8_t from, std::uint8_t to)
{
    if (from == to) return false;
    bool changed = false;
    for (std::uint8_t& pixel : pixelsOf(slot, record))
        if (pixel == from) {
            pixel = to;
            changed = true;
        }
    return changed;
}

bool mirror(Slot slot, Record& record)
{
    const auto pixels = pixelsOf(slot, record);
    const std::size_t width = archive::layoutOf(slot).width;
    bool changed = false;
    for (std::size_t row = 0; row < pixels.size(); row += width) {
        const auto line = pixels.subspan(row, width);
        changed |= !std::ranges::equal(line, std::views::reverse(line));
        std::ranges::reverse(line);
    }
    return changed;
}

bool setPaletteEntry(Slot slot, Record& record, std::uint8_t entry, bitmap::Colour colour)
{
    if (colourOf(slot, record, entry) == colour) return false;
    const std::size_t at = archive::layoutOf(slot).pixelBlockSize() + entry * kEntrySize;
    record[at] = colour.blue;
    record[at + 1] = colour.green;
    record[at + 2] = colour.red;
    return true;
}

Record smallFromLarge(std::span<const std::uint8_t> largeRecord)
{
    const archive::SlotLayout& large = archive::kLargeLayout;
    const archive::SlotLayout& small = archive::kSmallLayout;
    Record record(small.recordSize);
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width; ++x) {
            const auto at = [&](int dx, int dy) {
                return indexAt(Slot::Large, largeRecord, {2 * x + dx, 2 * y + dy});
            };
            const std::array<std::uint8_t, 4> block = {at(0, 0), at(1, 0), at(0, 1), at(1, 1)};
            const auto count = [&](std::uint8_t index) { return std::ranges::count(block, index); };
            // The top-left pixel when it is among the most frequent, else
            // the lowest of those.
            const std::uint8_t most = std::ranges::max(block, {}, count);
            std::uint8_t best = block[0];
            if (count(best) != count(most)) {
                best = most;
                for (std::uint8_t index : block)
                    if (count(index) == count(most)) best = std::min(best, index);
            }
            record[offsetOf(Slot::Small, {x, y})] = best;
        }
    // The palette block as it stands.
    std::ranges::copy(
        largeRecord.subspan(large.pixelBlockSize(), archive::SlotLayout::kPaletteBlockSize),
        record.begin() + small.pixelBlockSize());
    return record;
}

}  // namespace pelloran::session
