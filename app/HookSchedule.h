#pragma once

// The window's hook demonstrations as rules by time and frame number: what the before-hook
// answers, and what the custom hook draws on each frame. The drawing itself needs a canvas (the
// widgets' side); the flips work on the bitmap's bytes and live here.

#include <cstdint>
#include <string>

#include "engine/FFmpeg.h"
#include "util/Bitmap.h"

namespace zembra {

// By the frame's time in microseconds: continue below 5 s, ignore from 5 s, continue from 10 s,
// stop from 15 s.
THookAction BeforeHookAction(int64_t PTS);

struct THookFont {
    uint32_t Colour = 0xFFFFFF;  // 0xRRGGBB
    int Size = 12;               // points
    bool Bold = true;
    bool Underline = true;
    bool operator==(const THookFont&) const = default;
};

enum class TFlip { None, Vertical, Horizontal };

// What the custom hook does with one frame.
struct TCustomHookStep {
    THookFont Font;    // the canvas font the text is drawn with
    std::string Text;  // drawn at (10, 10); empty: none
    bool DrawIcon = false;
    TFlip Flip = TFlip::None;  // after the text, so the text turns with the picture
    bool Update = true;        // false: the engine keeps the picture as it was
    bool StopHook = false;     // no further calls for the task
};

// The font the canvas holds at a frame: it changes on frames 250, 350 and 450 and keeps its
// state in between, so a task's frames counted from 1 see the same font as this gives.
THookFont CustomHookFont(int32_t FrameNumber);
TCustomHookStep CustomHookStep(int32_t FrameNumber, int64_t PTS);

// Swaps row r with row height-1-r for r below height/2.
void FlipVertically(TBitmap& Bitmap);
// Mirrors each row: pixel i with pixel width-1-i for i below width/2.
void FlipHorizontally(TBitmap& Bitmap);

}  // namespace zembra
