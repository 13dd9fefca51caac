// What each fuzz target does with one input. The libFuzzer programs and the
// regression test of the normal build call the same functions, so an input
// that once broke a target is replayed exactly as the fuzzer ran it.
//
// Each function returns on every input; a broken property prints what broke
// and aborts, which the fuzzer and the test both report as a failure.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelloran::fuzz {

// Any file through the import of every BMP variant. A taken picture has its
// slot's size and indices below its palette; its record shows every pixel in
// the picture's colour, keeps the entries an indexed picture in the record's
// palette leaves undefined, is given back unchanged by a picture drawn in its
// own colours (true colour, or a rebuilt palette), and comes back unchanged
// when exported and imported again; a file in the export format gives
// exactly the rule's record. A refusal names where a
// truncated file ends.
void importBitmapInput(std::span<const std::uint8_t> data);

// A record loaded from an archive of arbitrary length and content, served
// from memory. The first five bytes choose the slot, the number, how the
// archive fails and where it ends; the rest is the archive from there on.
void readRecordInput(std::span<const std::uint8_t> data);

// Any bytes as a pair's journal: reading its history and recovering from it
// never crash and never allocate from a length the file cannot hold; a
// recovery changes only bytes that a whole, valid entry in the file rolls back.
void journalInput(std::span<const std::uint8_t> data);

struct Target {
    const char* name;  // also the folder of its corpus and regression inputs
    void (*run)(std::span<const std::uint8_t>);
};
inline constexpr Target kTargets[] = {
    {"read_record", readRecordInput},
    {"import_bitmap", importBitmapInput},
    {"journal", journalInput},
};

struct Seed {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// Starting inputs for a target: our own exported bitmaps and malformed
// variants of them for the import target, archive slices of the demo
// archives for the record reader, journals of real operations for the journal.
std::vector<Seed> seedsFor(const std::string& target);

}  // namespace pelloran::fuzz
