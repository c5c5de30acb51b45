#pragma once

// A picture to be put onto video frames, and the blending of it into the frame's own pixel
// layout. Modules never see the media library, so the colour conversion is done here.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hooks/HookApi.h"

namespace zembra::hooks {

// Straight (not premultiplied) ARGB pixels, 0xAARRGGBB, row after row.
struct TOverlay {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    // The overlay pixel that lands on the drawing position (text boxes start left of or above
    // the pen position when a glyph reaches out of the line box).
    int AnchorX = 0;
    int AnchorY = 0;

    bool Empty() const { return Width <= 0 || Height <= 0; }
    void SetSize(int W, int H);  // transparent pixels
    uint32_t At(int X, int Y) const { return Pixels[static_cast<size_t>(Y) * Width + X]; }
    uint32_t& At(int X, int Y) { return Pixels[static_cast<size_t>(Y) * Width + X]; }
};

constexpr uint32_t Argb(uint32_t A, uint32_t R, uint32_t G, uint32_t B) {
    return (A << 24) | (R << 16) | (G << 8) | B;
}
constexpr uint32_t AlphaOf(uint32_t P) {
    return P >> 24;
}
constexpr uint32_t RedOf(uint32_t P) {
    return (P >> 16) & 0xFF;
}
constexpr uint32_t GreenOf(uint32_t P) {
    return (P >> 8) & 0xFF;
}
constexpr uint32_t BlueOf(uint32_t P) {
    return P & 0xFF;
}

enum class TBlend {
    // The overlay's colour covers the frame in proportion to its alpha.
    Mix,
    // The overlay's brightness above or below mid-grey lightens or darkens the frame in
    // proportion to its alpha; the frame's colours stay (an embossed look).
    Shade,
};

// Whether pictures of this format can be drawn on.
bool IsSupportedFormat(int PixelFormat);

// Draws the overlay with its anchor at (X, Y) of the frame. Opacity scales the overlay's own
// alpha (256 = as it is). Only pixels inside the frame are touched; a picture whose format is
// not supported, or whose planes do not fit the size, is left unchanged (false).
bool DrawOverlay(const TOverlay& Overlay, TZembraHookPicture* Picture, int PixelFormat, int Width, int Height,
                 int64_t X, int64_t Y, TBlend Mode = TBlend::Mix, int Opacity = 256);

// The overlay resampled to a new size (bilinear on premultiplied colour, so transparent pixels
// do not bleed their colour into the edges).
TOverlay ScaleOverlay(const TOverlay& Source, int Width, int Height);

// Pixels of exactly this colour (0xRRGGBB) become fully transparent.
void ApplyKeyColour(TOverlay& Overlay, uint32_t Rgb);

}  // namespace zembra::hooks
