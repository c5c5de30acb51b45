#pragma once

// Reads a clip back through the demuxers and decoders, so a test can compare what a file holds
// with what was asked for. Every function returns "" or the error.

#include <cstdint>
#include <string>
#include <vector>

#include "binding/FFmpegHeaders.h"
#include "tests/media/TestMedia.h"
#include "tests/media/TestPattern.h"

namespace zembra::testmedia {

struct TStreamFacts {
    int Index = 0;
    int Id = 0;  // the container's own number (the PID in MPEG-TS)
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID CodecId = AV_CODEC_ID_NONE;
    uint32_t CodecTag = 0;
    int Width = 0;
    int Height = 0;
    int SampleRate = 0;
    int Channels = 0;
    int ExtradataSize = 0;
    std::string Language;
    int64_t PacketCount = 0;
    // From the packets, in seconds: the earliest timestamp and the end of the last packet.
    double FirstTime = 0.0;
    double EndTime = 0.0;
};

struct TProgramFacts {
    int Id = 0;
    std::string ServiceName;
    std::vector<int> StreamIndexes;
};

struct TClipFacts {
    std::string FormatName;  // the demuxer's name, e.g. "avi" or "mov,mp4,m4a,3gp,3g2,mj2"
    double Duration = 0.0;   // as the demuxer reports it, in seconds; 0 when unknown
    std::vector<TStreamFacts> Streams;
    std::vector<TProgramFacts> Programs;
    TOptions Metadata;

    // The container tag Key, "" when absent.
    std::string Tag(const std::string& Key) const;
};

std::string InspectClip(const std::string& Path, TClipFacts& Facts);

// A decoded picture as packed RGB24.
struct TRgbPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;

    int Stride() const { return Width * 3; }
    TRgb At(int X, int Y) const;
};

// The first MaxFrames pictures (all when MaxFrames <= 0) of stream StreamIndex, in display order.
std::string DecodeVideo(const std::string& Path, int StreamIndex, int MaxFrames,
                        std::vector<TRgbPicture>& Pictures);

struct TDecodedAudio {
    int SampleRate = 0;
    double FirstTime = 0.0;  // seconds, of the first decoded frame
    std::vector<std::vector<float>> Channels;
};

// The whole of stream StreamIndex as float samples, one vector per channel.
std::string DecodeAudio(const std::string& Path, int StreamIndex, TDecodedAudio& Audio);

// The text cues of subtitle stream StreamIndex, with their times in seconds.
std::string DecodeSubtitles(const std::string& Path, int StreamIndex, std::vector<TSubtitleCue>& Cues);

}  // namespace zembra::testmedia
