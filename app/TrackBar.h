#pragma once

// The settings dialog's preview track bar without the widget: how a source's duration maps onto
// slider positions, the times shown for them, the cut marks, and where a picture is drawn in the
// preview area.

#include <cstdint>
#include <string>

namespace zembra {

// Width of the dialog's track bar in pixels; the tick spacing is derived from it.
inline constexpr int32_t kPreviewTrackBarWidth = 220;

struct TTrackBarSetup {
    int64_t Step = 1;           // microseconds per position
    int32_t Positions = 0;      // the maximum; positions run 0 .. Positions
    int32_t TickFrequency = 0;  // positions between ticks
    int32_t LineSize = 1;       // arrow keys
    int32_t PageSize = 5;       // page keys
};

// The step is the smallest power of ten that leaves at most 32767 positions for the duration
// (microseconds); an unknown (negative) duration gives no positions.
TTrackBarSetup TrackBarSetup(int64_t DurationUs, int32_t TrackBarWidth = kPreviewTrackBarWidth);

// "%d.%.3d": whole seconds and milliseconds of a time in microseconds (5025678000 gives
// "5025.678").
std::string FormatSecondsMs(int64_t TimeUs);
// "PTS: " + FormatSecondsMs of the position's time.
std::string PTSText(int32_t Position, int64_t Step);

// Where the preview seeks for a position: the duration itself at the maximum (so the last
// picture can be reached), else position x step.
int64_t PreviewSeekTime(int32_t Position, int32_t Maximum, int64_t Step, int64_t DurationUs);

// "Cut Clip" is usable exactly when the end mark is at least 1 and after the start mark.
bool CutClipUsable(int32_t SelStart, int32_t SelEnd);
// A mark in milliseconds (truncating).
int64_t MarkMs(int32_t Position, int64_t Step);

struct TFitRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    bool operator==(const TFitRect&) const = default;
};

// The largest rectangle of the picture's aspect ratio that fits the area, centred; the lost
// margins are rounded half to even. Empty for an empty picture or area.
TFitRect AspectFit(int32_t PictureWidth, int32_t PictureHeight, int32_t AreaWidth, int32_t AreaHeight);

}  // namespace zembra
