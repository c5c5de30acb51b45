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

namespace {

uint64_t Mix64(uint64_t X) {
    X += 0x9e3779b97f4a7c15ull;
    X = (X ^ (X >> 30)) * 0xbf58476d1ce4e5b9ull;
    X = (X ^ (X >> 27)) * 0x94d049bb133111ebull;
    return X ^ (X >> 31);
}

}  // namespace

void FillMusic(float* Interleaved, int Channels, int64_t First, int Count, int SampleRate) {
    constexpr int kNotes = 4, kOvertones = 3;
    constexpr float kNoise = 0.04f;
    // Notes, overtones and noise add up to at most 1 before scaling.
    constexpr float kPartialGain = (1.0f - kNoise) / (kNotes * (1.0f + 0.5f + 0.25f));
    const int64_t Segment = SampleRate / 2 > 0 ? SampleRate / 2 : 1;
    for (int I = 0; I < Count; ++I) {
        const int64_t N = First + I;
        const uint64_t Chord = Mix64(static_cast<uint64_t>(N / Segment));
        const double Seconds = static_cast<double>(N) / SampleRate;
        float Tonal = 0.0f;
        for (int Note = 0; Note < kNotes; ++Note) {
            // Semitones above 110 Hz, up to four octaves.
            const int Semitone = static_cast<int>((Chord >> (Note * 8)) % 48);
            const double Frequency = 110.0 * std::exp2(Semitone / 12.0);
            float Gain = kPartialGain;
            for (int Overtone = 1; Overtone <= kOvertones; ++Overtone, Gain *= 0.5f)
                Tonal += Gain * static_cast<float>(
                                    std::sin(2.0 * std::numbers::pi * Frequency * Overtone * Seconds));
        }
        for (int C = 0; C < Channels; ++C) {
            const uint64_t Random = Mix64(static_cast<uint64_t>(N) * 64 + static_cast<uint64_t>(C));
            const float Noise =
                kNoise * (static_cast<float>(Random >> 40) / static_cast<float>(1 << 23) - 1.0f);
            Interleaved[static_cast<std::ptrdiff_t>(I) * Channels + C] = kToneAmplitude * (Tonal + Noise);
        }
    }
}

}  // namespace zembra::testmedia
