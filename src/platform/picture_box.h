// A portrait preview: a sunken frame around a drawing area that shows one
// picture at one screen pixel per portrait pixel.
#pragma once

#include <QFrame>
#include <QImage>
#include <cstdint>
#include <span>

#include "archive/layout.h"

namespace pelloran::platform {

class PictureBox final : public QFrame {
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Shows picture with its top-left corner at the drawing area's.
    void setPicture(const QImage& picture);
    void clear();
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    // picture_ in a format the screen takes as it is, made at the first
    // paint after a change.
    QImage shown_;
};

// An 8-bit indexed picture: pixels are palette entry numbers, top row first,
// width per row; the palette is 256 entries of red, green, blue.
QImage indexedImage(std::span<const std::uint8_t> rgbPalette, std::span<const std::uint8_t> pixels,
                    int width);

// The picture of a portrait record of the slot (pixels, then the palette
// block), as the previews show it.
QImage recordPicture(archive::Slot slot, std::span<const std::uint8_t> record);

}  // namespace pelloran::platform
