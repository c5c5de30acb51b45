#pragma once

// The pictures and sounds the generated clips carry, so that a test can tell from decoded
// output what the source held.

#include <array>
#include <cstdint>

namespace zembra::testmedia {

struct TRgb {
    uint8_t R = 0;
    uint8_t G = 0;
    uint8_t B = 0;
    bool operator==(const TRgb&) const = default;
};

// 100% colour bars, left to right.
inline constexpr std::array<TRgb, 8> kBarColours = {{
    {255, 255, 255},  // white
    {255, 255, 0},    // yellow
    {0, 255, 255},    // cyan
    {0, 255, 0},      // green
    {255, 0, 255},    // magenta
    {255, 0, 0},      // red
    {0, 0, 255},      // blue
    {0, 0, 0},        // black
}};

// The frame number is shown as this many black (0) or white (1) cells, most significant at the
// left, so the value wraps at 256.
inline constexpr int kCounterBits = 8;

// The bar at column X of a picture Width pixels wide.
int BarIndexAt(int X, int Width);
TRgb ExpectedBarColour(int X, int Width);
// The first row of the frame-counter band; the rows above it hold only the bars.
int CounterTop(int Height);

// Paints frame FrameNumber into a packed RGB24 picture with Stride bytes per row.
void PaintFrame(uint8_t* Rgb, int Stride, int Width, int Height, int FrameNumber);
// The counter of a painted picture, which may have gone through a lossy codec; -1 when a cell
// is neither clearly dark nor clearly light.
int ReadFrameCounter(const uint8_t* Rgb, int Stride, int Width, int Height);

// Peak amplitude of the tone, in the -1..1 range of float samples.
inline constexpr float kToneAmplitude = 0.5f;
// Count frames of the tone starting at frame First (counted from the start of the stream),
// the same sample on every channel, interleaved.
void FillTone(float* Interleaved, int Channels, int64_t First, int Count, int SampleRate, double Frequency);
// Count frames of a stand-in for real sound from frame First: chords of four notes with
// overtones that change every half second, over quiet noise that differs between channels.
// Coders spend on it about what they spend on music, unlike on a tone; the same frames always
// give the same samples, and no sample leaves -kToneAmplitude..kToneAmplitude.
void FillMusic(float* Interleaved, int Channels, int64_t First, int Count, int SampleRate);

}  // namespace zembra::testmedia
