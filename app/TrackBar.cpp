#include "app/TrackBar.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace zembra {

namespace {

constexpr int64_t kMaxPositions = 32767;
// Pixels of the bar's ends that carry no ticks, and pixels wanted between two ticks.
constexpr int32_t kTrackBarEnds = 12;
constexpr int32_t kTickSpacing = 10;

}  // namespace

TTrackBarSetup TrackBarSetup(int64_t DurationUs, int32_t TrackBarWidth) {
    TTrackBarSetup S;
    if (DurationUs < 0) DurationUs = 0;
    while (DurationUs / S.Step > kMaxPositions) S.Step *= 10;
    S.Positions = static_cast<int32_t>(DurationUs / S.Step);
    const int32_t TickSlots = (TrackBarWidth - kTrackBarEnds) / kTickSpacing;
    S.TickFrequency = TickSlots > 0 ? S.Positions / TickSlots : 0;
    if (S.Positions > 10000)
        S.LineSize = 1000;
    else if (S.Positions > 1000)
        S.LineSize = 100;
    else if (S.Positions > 100)
        S.LineSize = 10;
    else
        S.LineSize = 1;
    S.PageSize = 5 * S.LineSize;
    return S;
}

std::string FormatSecondsMs(int64_t TimeUs) {
    char Text[48];
    std::snprintf(Text, sizeof(Text), "%" PRId64 ".%.3" PRId64, TimeUs / 1000000, (TimeUs / 1000) % 1000);
    return Text;
}

std::string PTSText(int32_t Position, int64_t Step) {
    return "PTS: " + FormatSecondsMs(Position * Step);
}

int64_t PreviewSeekTime(int32_t Position, int32_t Maximum, int64_t Step, int64_t DurationUs) {
    return Position == Maximum ? DurationUs : Position * Step;
}

bool CutClipUsable(int32_t SelStart, int32_t SelEnd) {
    return SelEnd >= 1 && SelEnd > SelStart;
}

int64_t MarkMs(int32_t Position, int64_t Step) {
    return Position * Step / 1000;
}

TFitRect AspectFit(int32_t PictureWidth, int32_t PictureHeight, int32_t AreaWidth, int32_t AreaHeight) {
    if (PictureWidth <= 0 || PictureHeight <= 0 || AreaWidth <= 0 || AreaHeight <= 0) return {};
    const double A = double(PictureWidth) / AreaWidth;
    const double B = double(PictureHeight) / AreaHeight;
    TFitRect R{0, 0, AreaWidth, AreaHeight};
    // nearbyint rounds half to even in the default rounding mode.
    if (A >= B) {
        R.Top = static_cast<int32_t>(std::nearbyint((AreaHeight - PictureHeight / A) / 2));
        R.Height = AreaHeight - 2 * R.Top;
    } else {
        R.Left = static_cast<int32_t>(std::nearbyint((AreaWidth - PictureWidth / B) / 2));
        R.Width = AreaWidth - 2 * R.Left;
    }
    return R;
}

}  // namespace zembra
