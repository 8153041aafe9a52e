// A picture handed from the engine's play thread to the GUI thread, and its conversion to a
// QImage for the painter.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <vector>

#include "platform/display.h"

namespace kestrel::app {

struct VideoPicture {
    platform::PixelFormat format = platform::PixelFormat::Unspecified;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> bytes;  // rows without padding: width * bytes-per-pixel each
    // Where in the widget the picture goes; a null rect means the whole widget.
    QRect target;
    // No picture: the widget shows fillRgb (0xRRGGBB) instead.
    bool fill = true;
    uint32_t fillRgb = 0;

    uint32_t RowBytes() const { return width * (platform::BitsPerPixel(format) / 8); }
};

// The picture as an image for drawing: 32-bit pixels get 0xFF alpha (the engine writes 0 in the
// fourth byte), YUY2 goes through the BT.601 video-range matrix of the engine's own converter.
// Reuses `image` when its size and format already fit; false (and a null image) for a format it
// cannot show.
bool PictureToImage(const VideoPicture& picture, QImage& image);

// 0xRRGGBB of one YUY2 sample triple (Y, U = Cb, V = Cr), ITU-R BT.601 video range.
uint32_t Bt601ToRgb(int y, int u, int v);

}  // namespace kestrel::app
