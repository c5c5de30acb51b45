#include "tests/media/TestPattern.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace zembra::testmedia {

namespace {

int CellIndexAt(int X, int Width, int Cells) {
    return std::clamp(X * Cells / std::max(Width, 1), 0, Cells - 1);
}

// The middle column of cell Index, away from the edges a codec blurs.
int CellCentre(int Index, int Width, int Cells) {
    const int Left = Index * Width / Cells;
    const int Right = (Index + 1) * Width / Cells;
    return (Left + Right) / 2;
}

}  // namespace

int BarIndexAt(int X, int Width) {
    return CellIndexAt(X, Width, static_cast<int>(kBarColours.size()));
}

TRgb ExpectedBarColour(int X, int Width) {
    return kBarColours[static_cast<size_t>(BarIndexAt(X, Width))];
}

int CounterTop(int Height) {
    return Height - std::max(Height / 8, 2);
}

void PaintFrame(uint8_t* Rgb, int Stride, int Width, int Height, int FrameNumber) {
    const int Top = CounterTop(Height);
    for (int Y = 0; Y < Height; ++Y) {
        uint8_t* Row = Rgb + static_cast<std::ptrdiff_t>(Y) * Stride;
        for (int X = 0; X < Width; ++X) {
            TRgb Colour;
            if (Y < Top) {
                Colour = ExpectedBarColour(X, Width);
            } else {
                const int Bit = kCounterBits - 1 - CellIndexAt(X, Width, kCounterBits);
                const uint8_t Level = (FrameNumber >> Bit) & 1 ? 255 : 0;
                Colour = {Level, Level, Level};
            }
            Row[3 * X] = Colour.R;
            Row[3 * X + 1] = Colour.G;
            Row[3 * X + 2] = Colour.B;
        }
    }
}

int ReadFrameCounter(const uint8_t* Rgb, int Stride, int Width, int Height) {
    const int Top = CounterTop(Height);
    const int Y = (Top + Height) / 2;
    const uint8_t* Row = Rgb + static_cast<std::ptrdiff_t>(Y) * Stride;
    int Value = 0;
    for (int Cell = 0; Cell < kCounterBits; ++Cell) {
        const int X = CellCentre(Cell, Width, kCounterBits);
        const int Level = (Row[3 * X] + Row[3 * X + 1] + Row[3 * X + 2]) / 3;
        int Bit;
        if (Level >= 160)
            Bit = 1;
        else if (Level <= 96)
            Bit = 0;
        else
            return -1;
        Value = (Value << 1) | Bit;
    }
    return Value;
}

void FillTone(float* Interleaved, int Channels, int64_t First, int Count, int SampleRate, double Frequency) {
    const double Step = 2.0 * std::numbers::pi * Frequency / SampleRate;
    for (int I = 0; I < Count; ++I) {
        const float Value =
            kToneAmplitude * static_cast<float>(std::sin(Step * static_cast<double>(First + I)));
        for (int C = 0; C < Channels; ++C) Interleaved[static_cast<std::ptrdiff_t>(I) * Channels + C] = Value;
    }
}

}  // namespace zembra::testmedia
