// What the batch tool does with Qt: PNG files, colour reduction and the
// contact sheet. It is a module of its own, loaded the first time a command
// needs it, so that the commands on BMP files start without Qt's forty
// libraries, whose loading alone takes longer than exporting a whole pack.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "session/pictures.h"

namespace pelloran::batch {

struct QtParts {
    const session::Pictures* pictures;

    // A PNG file with every portrait in a grid, its number written under it;
    // empty when Qt could not encode it. portraits[i] is the record of
    // numbers[i] in the slot's layout.
    std::vector<std::uint8_t> (*contactSheet)(
        std::span<const std::span<const std::uint8_t>> portraits, std::span<const int> numbers,
        archive::Slot slot);
};

// The module's one entry point.
extern "C" const QtParts* pelloranBatchQtParts();
using QtPartsEntry = const QtParts* (*)();
inline constexpr const char* kQtPartsEntry = "pelloranBatchQtParts";

// Loads the module once; later calls give the same parts, or the same
// reason it could not be loaded: the module's file and what the system said.
std::expected<const QtParts*, std::string> qtParts();

// The picture port over the module, loaded on the first PNG file read or
// reduction; PNG files are written without it. Until then nothing of Qt is loaded; if loading
// fails, every call fails as an unreadable picture would, and failure() says why.
class LazyPictures final : public session::Pictures {
public:
    std::optional<bitmap::Picture> readPng(std::span<const std::uint8_t> file) const override;
    std::vector<std::uint8_t> writePng(const bitmap::Picture& picture) const override;
    bitmap::Picture reduceColours(const bitmap::Picture& picture) const override;
    std::optional<std::string> failure() const;

private:
    const session::Pictures* loaded() const;
    mutable bool attempted_ = false;
};

}  // namespace pelloran::batch
