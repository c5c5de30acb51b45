#pragma once

// Reads the coded packets of a file's first audio stream without decoding them, so that a test
// can tell whether a conversion carried the sound over byte for byte.

#include <cstdint>
#include <string>
#include <vector>

#include "binding/FFmpegHeaders.h"

namespace zembra::testmedia {

struct TCodedPacket {
    double Time = 0.0;             // seconds, of the packet's first sample
    double Duration = 0.0;         // seconds
    std::vector<uint8_t> Payload;  // an ADTS frame's header left out: it is the container's
};

struct TCodedSound {
    AVCodecID CodecId = AV_CODEC_ID_NONE;
    int SampleRate = 0;
    int Channels = 0;
    double Duration = 0.0;  // the container's, seconds; 0 when unknown
    std::vector<TCodedPacket> Packets;

    // Every payload one after the other: PCM containers cut the same samples into packets of
    // their own sizes, so only the whole stream compares.
    std::vector<uint8_t> Joined() const;
};

// "" or what went wrong.
std::string ReadCodedSound(const std::string& Path, TCodedSound& Sound);

}  // namespace zembra::testmedia
