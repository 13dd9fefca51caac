// Pixel and palette edits on a portrait record, and the bounded history of
// them. Standard library only: the closer look turns mouse and keys into
// these, and scripts and tests call them without a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "archive/layout.h"
#include "bitmap/decode.h"

namespace pelloran::session {

using archive::Slot;

// A portrait record: the pixel block, top row first, then the palette block.
using Record = std::vector<std::uint8_t>;

// A pixel of a portrait, 0-based from the top left.
struct Point {
    int x, y;
    bool operator==(const Point&) const = default;
};

bool contains(Slot slot, Point point);
// The index of a pixel inside the portrait, and the colour of a palette entry.
std::uint8_t indexAt(Slot slot, std::span<const std::uint8_t> record, Point point);
bitmap::Colour colourOf(Slot slot, std::span<const std::uint8_t> record, std::uint8_t entry);

// The pixels of a straight stroke from one point to another, both included,
// each next to the one before (sides or corners): a dragged pencil leaves no
// gap however fast it moves.
std::vector<Point> lineBetween(Point from, Point to);

// The edits. Each changes record (a whole record of slot) in place and only
// where it says; points outside the portrait are left out, never wrapped.
// Whether anything changed.
bool setPixels(Slot slot, Record& record, std::span<const Point> points, std::uint8_t index);
// The region of at's index that at touches through sides (not corners) takes index.
bool fill(Slot slot, Record& record, Point at, std::uint8_t index);
// Every pixel of index from takes index to.
bool replaceIndex(Slot slot, Record& record, std::uint8_t from, std::uint8_t to);
// The portrait turned to face the other way: each row read right to left.
bool mirror(Slot slot, Record& record);
// Palette entry takes colour; its reserved byte and every pixel stay, so
// every pixel of that index shows the new colour.
bool setPaletteEntry(Slot slot, Record& record, std::uint8_t entry, bitmap::Colour colour);

// The small portrait's record made from a large one: each 2 x 2 block of the
// large picture becomes the index found most often in it; a tie goes to the
// block's top-left pixel if it is among the most frequent, else to the
// lowest index. No new colour is made, so pixel art stays crisp and the
// large record's palette serves unchanged.
Record smallFromLarge(std::span<const std::uint8_t> largeRecord);

// Edits that can be taken back and done again, newest last, at most
// kSteps of them: the oldest is forgotten when one more is made. A step is
// whatever the owner keeps to go back and forth (two states, say).
template <class Step>
class EditHistory {
public:
    static constexpr std::size_t kSteps = 256;

    // A new step: what was undone before it can no longer be redone.
    void push(Step step)
    {
        redo_.clear();
        undo_.push_back(std::move(step));
        if (undo_.size() > kSteps) undo_.pop_front();
    }
    // The step undo() and redo() would take, if any; the newest can be
    // extended (the rest of a pencil stroke).
    Step* nextUndo() { return undo_.empty() ? nullptr : &undo_.back(); }
    const Step* nextRedo() const { return redo_.empty() ? nullptr : &redo_.back(); }
    // Moves the newest step to the redo side and gives it; nothing when none.
    const Step* undo() { return move(undo_, redo_); }
    const Step* redo() { return move(redo_, undo_); }
    void clear()
    {
        undo_.clear();
        redo_.clear();
    }
    std::size_t undoable() const { return undo_.size(); }
    std::size_t redoable() const { return redo_.size(); }

private:
    static const Step* move(std::deque<Step>& from, std::deque<Step>& to)
    {
        if (from.empty()) return nullptr;
        to.push_back(std::move(from.back()));
        from.pop_back();
        return &to.back();
    }

    std::deque<Step> undo_, redo_;
};

}  // namespace pelloran::session
