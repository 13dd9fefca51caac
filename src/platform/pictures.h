// The session's picture port filled in with Qt's PNG reader, libpng's
// writer (png_file.h) and libimagequant's colour reduction. Needs Qt Gui
// only, so the batch tool uses it without a window.
#pragma once

#include "session/pictures.h"

class QImage;

namespace pelloran::platform {

// A picture as the session takes it: by index when image has a colour table
// and keepIndices is set, else by colour (red, green, blue; alpha ignored).
bitmap::Picture pictureOf(const QImage& image, bool keepIndices);

class QtPictures final : public session::Pictures {
public:
    std::optional<bitmap::Picture> readPng(std::span<const std::uint8_t> file) const override;
    std::vector<std::uint8_t> writePng(const bitmap::Picture& picture) const override;
    bitmap::Picture reduceColours(const bitmap::Picture& picture) const override;
};

}  // namespace pelloran::platform
