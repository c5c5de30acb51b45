#pragma once

// What a source's sound is, as the sound-copy decision needs it: read from the probe's file,
// which for MPEG audio in MPEG-TS or MPEG-PS means reading packets and seeking back.

#include <cstdint>
#include <string>

#include "binding/FFmpegHeaders.h"

namespace zembra {

class TCustomAVProbe;

// What the probe knows of the audio stream a conversion takes (the first one). A codec, rate or
// channel count the probe could not tell leaves the stream unknown, and such a stream is encoded.
struct TSourceSound {
    bool Present = false;  // the source has an audio stream
    AVCodecID CodecId = AV_CODEC_ID_NONE;
    std::string CodecName;  // the libraries' short name, for the reason text
    int32_t SampleRate = -1;
    int32_t Channels = -1;

    bool Known() const { return Present && CodecId != AV_CODEC_ID_NONE && SampleRate > 0 && Channels > 0; }
};

// The first audio stream of the file the probe has loaded; an empty record when none is loaded.
// The MPEG audio of an MPEG-TS or MPEG-PS file is told by its first frame: the probe reads
// packets and seeks back to the start of the file.
TSourceSound SourceSoundOf(TCustomAVProbe& Probe);

}  // namespace zembra
