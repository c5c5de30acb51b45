#pragma once

// Sample-level work on decoded sound that every encoding thread of a job does the same way.

extern "C" {
struct AVFrame;
struct SwrContext;
}

namespace zembra {

// Every sample becomes (s x Volume + 128) >> 8 on the 16-bit scale (256: unchanged), clipped.
void ScaleSoundVolume(AVFrame* Frame, int Volume);
// Float samples far past full scale, and NaN, are brought back into what encoders survive.
void LimitFloatSamples(AVFrame* Frame, int Channels);
// The converter's filter for a change of the channel count, the same on every thread of a job;
// the library's result code.
int SetChannelConversionFilter(SwrContext* Swr);

}  // namespace zembra
