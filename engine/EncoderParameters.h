#pragma once

// What an audio encoder takes: the channel layouts, sample rates and sample formats it lists,
// and the limits of the encoders that check at open time without listing anything. The engine
// picks the value nearest the source from these when the user set none.

#include <string>

#include "binding/FFmpegHolders.h"

namespace zembra {

struct TAudioEncoderLimits {
    const AVChannelLayout* Layouts = nullptr;  // ends with a zero-channel entry; null: any
    const int* SampleRates = nullptr;          // ends with 0; null: any
    int MaxChannels = 0;                       // 0: no limit beyond the list
    int MaxSampleRate = 0;                     // 0: no limit beyond the list
};

TAudioEncoderLimits AudioEncoderLimits(const AVCodec* Codec);

// The layout to encode a source of layout Source with (see the order in the .cpp); Out is
// initialised by the call and owned by the caller.
void NearestChannelLayout(const TAudioEncoderLimits& Limits, const AVChannelLayout& Source,
                          AVChannelLayout* Out);
// The source's own rate when allowed, else the nearest allowed one (the higher on a tie).
int NearestSampleRate(const TAudioEncoderLimits& Limits, int Source);

// Why the encoder refuses the context's layout, rate or sample format, in the library's words;
// "" when none of them is the reason.
std::string AudioEncoderRefusal(const AVCodec* Codec, const AVCodecContext* Context);

// "5.1(side)", "stereo", "6 channels"...
std::string ChannelLayoutName(const AVChannelLayout& Layout);

// A context for Codec, not opened, with Settings' options (a context not opened either).
TCodecContextPtr CopyEncoderSettings(const AVCodecContext* Settings, const AVCodec* Codec);

// Another encoder like the one whose settings (before it opened) are Settings, opened with
// its private options, for a thread of its own (a segment of the sound). Throws FFmpegException.
TCodecContextPtr OpenEncoderCopy(const AVCodecContext* Settings, const AVDictionary* PrivateOptions);

}  // namespace zembra
