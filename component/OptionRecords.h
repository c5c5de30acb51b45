#pragma once

// The settings records that create and configure a task. A field at its reset value means
// "not set": -1 for numbers, -1.0 for reals, empty texts and false flags, so that the component
// leaves the engine's own default in place.

#include <cstdint>
#include <string>

namespace zembra {

// A colour with red in bits 0-7, green in 8-15 and blue in 16-23. A negative value names a
// system colour, resolved when the record is applied.
using TColor = int32_t;
constexpr TColor clBlack = 0;

struct TStreamInfo {
    // Days since 1899-12-30 (fraction = time of day, local time). 0 stamps the output with the
    // moment it is configured, below 0 leaves it unstamped.
    double TimeStamp = -1.0;
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

struct TInputOptions {
    std::u16string FileName;
    std::string ForceFormat;
    int32_t StartTimeMs = -1;
    int64_t StartTime = -1;  // microseconds; wins over StartTimeMs
    int32_t ProgramId = -1;
    std::string OptionLines;
    int32_t Reserved1 = 0;
    int32_t Reserved2 = 0;
};

struct TOutputOptions {
    std::u16string FileName;
    std::string FileExt;
    std::string ForceFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;    // seconds
    float MuxPreload = -1.0f;  // seconds
    std::string AudioCodec;
    std::string AudioPreset;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;  // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;
    int32_t AudioBitrate = -1;  // bits per second
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int32_t CropTop = -1;
    int32_t CropBottom = -1;
    int32_t CropLeft = -1;
    int32_t CropRight = -1;
    int32_t PadTop = -1;
    int32_t PadBottom = -1;
    int32_t PadLeft = -1;
    int32_t PadRight = -1;
    TColor PadColor = clBlack;
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1;  // bits per second
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufferSize = -1;
    int32_t VideoSync = -1;  // written as it stands: -1 is the engine's "automatic"
    std::string VideoTag;
    std::string VideoFilters;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamp = false;
    int32_t StartTimeMs = -1;
    int64_t StartTime = -1;  // microseconds; wins over StartTimeMs
    int32_t RecordingTimeMs = -1;
    int64_t RecordingTime = -1;  // microseconds
    TStreamInfo Metadata;
    int32_t Target = 0;             // 1 vcd, 2 svcd, 3 dvd, else none
    int32_t TargetNorm = 0;         // 1 pal, 2 ntsc, else auto
    int32_t TargetDefaultNorm = 1;  // 1 pal, else ntsc: used when auto cannot decide
    bool CustomHook = false;
    bool BeforeHook = false;
    std::string HookPTSPeriods;  // "start-end,start-end" in milliseconds
    bool JoinFlag = false;
    std::string OptionLines;
    int32_t Reserved1 = 0;
    int32_t Reserved2 = 0;
};

}  // namespace zembra
