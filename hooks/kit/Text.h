#pragma once

// One line of text rendered once into an overlay by FreeType.

#include <cstdint>
#include <string>

#include "hooks/kit/Overlay.h"

namespace zembra::hooks {

struct TTextStyle {
    std::string FontFile;
    int PixelSize = 16;
    uint32_t Colour = 0xFFFFFF;  // 0xRRGGBB
    bool Bold = false;           // drawn thicker unless the font file is a bold face already
    bool BoldFace = false;
    bool Italic = false;  // slanted
    bool Underline = false;
    bool StrikeOut = false;
};

// The text (UTF-8) as an overlay whose anchor is the top left corner of the line box: the
// position a caller gives is where the line starts, its ascent below that. False with a reason
// in Error when the font cannot be used.
bool RenderText(const std::string& Text, const TTextStyle& Style, TOverlay& Out, std::string& Error);

}  // namespace zembra::hooks
