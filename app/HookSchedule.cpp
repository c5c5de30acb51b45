#include "app/HookSchedule.h"

#include <algorithm>
#include <cinttypes>

#include "util/StringUtils.h"

namespace zembra {

THookAction BeforeHookAction(int64_t PTS) {
    if (PTS < 5000000) return haContinue;
    if (PTS < 10000000) return haIgnore;
    if (PTS < 15000000) return haContinue;
    return haStop;
}

THookFont CustomHookFont(int32_t FrameNumber) {
    THookFont Font;  // set on frame 1: white, 12, bold and underlined
    if (FrameNumber >= 250) {
        Font.Colour = 0xFF0000;
        Font.Size = 16;
    }
    if (FrameNumber >= 350) {
        Font.Colour = 0xFFFFFF;
        Font.Underline = false;  // the style becomes bold alone
    }
    if (FrameNumber >= 450) Font.Bold = false;
    return Font;
}

TCustomHookStep CustomHookStep(int32_t FrameNumber, int64_t PTS) {
    TCustomHookStep Step;
    Step.Font = CustomHookFont(FrameNumber);
    if (FrameNumber < 100) {
        Step.Text = Format("ZIVOZ - Frame Number: %d", FrameNumber);
    } else if (FrameNumber < 150) {
        Step.Update = false;
    } else if (FrameNumber < 250) {
        Step.Text = Format("ZIVOZ - Time Stamp: %" PRId64, PTS);
    } else if (FrameNumber < 350) {
        Step.Text = "ZIVOZ";
        Step.DrawIcon = true;
    } else if (FrameNumber < 450) {
        Step.Text = "Reverse Picture Vertically";
        Step.Flip = TFlip::Vertical;
    } else if (FrameNumber < 550) {
        Step.Text = "Reverse Picture Horizontally";
        Step.Flip = TFlip::Horizontal;
    } else {
        Step.StopHook = true;
    }
    return Step;
}

void FlipVertically(TBitmap& Bitmap) {
    const size_t RowBytes = static_cast<size_t>(Bitmap.Width()) * 3;
    const int H = Bitmap.Height();
    for (int R = 0; R < H / 2; ++R)
        std::swap_ranges(Bitmap.ScanLine(R), Bitmap.ScanLine(R) + RowBytes, Bitmap.ScanLine(H - 1 - R));
}

void FlipHorizontally(TBitmap& Bitmap) {
    const int W = Bitmap.Width();
    for (int R = 0; R < Bitmap.Height(); ++R) {
        uint8_t* Line = Bitmap.ScanLine(R);
        for (int I = 0; I < W / 2; ++I)
            std::swap_ranges(Line + I * 3, Line + I * 3 + 3, Line + static_cast<size_t>(W - 1 - I) * 3);
    }
}

}  // namespace zembra
