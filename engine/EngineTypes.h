#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "binding/FFmpegHeaders.h"

namespace zembra {

constexpr int kMaxFiles = 20;
constexpr int kMaxStreams = 20;
constexpr int kMaxStreamMaps = kMaxFiles * kMaxStreams;
// Threads of a video codec: 0 lets the codec use what the machine has.
constexpr int kVideoCodecThreads = 0;

struct TStreamMapEntry {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

struct TMetaDataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

// One bitstream filter of a chain: its name and the options given after "=".
struct TBitstreamFilterSpec {
    std::string Name;
    std::string Arguments;
};
using TBitstreamFilterChain = std::vector<TBitstreamFilterSpec>;

// A hook time range: presentation times in microseconds.
struct TPTSPeriod {
    int64_t Start = 0;
    int64_t End = 0;
};

// The media kinds of the option contexts, in the order the generic setter tries them.
enum TOptionMediaType { omtVideo = 0, omtAudio = 1, omtData = 2, omtSubtitle = 3, omtAttachment = 4 };
constexpr int kOptionMediaTypes = 5;

// Every setting an option line can change, named after its option, with its default.
struct TJobSettings {
    // Flags.
    bool DoPktDump = false;        // dump
    bool DoHexDump = false;        // hex
    bool RateEmu = false;          // re
    bool LoopInput = false;        // loop_input
    bool Shortest = false;         // shortest
    bool IntraOnly = false;        // intra
    bool VideoDisable = false;     // vn
    bool SameQuality = false;      // sameq
    bool DoDeinterlace = false;    // deinterlace
    bool DoPSNR = false;           // psnr
    bool QpHist = false;           // qphist
    bool ForceFps = false;         // force_fps
    bool AudioDisable = false;     // an
    bool SubtitleDisable = false;  // sn
    bool InputSync = false;        // isync
    bool CopyTs = false;           // copyts
    bool ExitOnError = false;      // xerror
    bool PgmYuv = false;           // set by f=pgmyuv

    // Integers.
    std::array<int32_t, 4> MaxFrames{INT_MAX, INT_MAX, INT_MAX,
                                     INT_MAX};  // vframes, aframes, dframes, subtitles
    int32_t LoopOutput = -1;                    // loop_output
    int32_t Verbose = 1;                        // v
    int32_t VideoSyncMethod = -1;               // vsync
    int32_t AudioSyncMethod = 0;                // async
    int32_t VideoGlobalHeader = 0;              // vglobal
    int32_t ProgramId = 0;                      // programid
    int32_t CopyInitialNonKeyFrames = 0;        // copyinkf
    int32_t VideoDiscard = 0;                   // vdt
    int32_t MeThreshold = 0;                    // me_threshold
    int32_t TopFieldFirst = -1;                 // top
    int32_t IntraDcPrecision = 8;               // dc
    int32_t AudioVolume = 256;                  // vol
    int32_t VideoChannel = 0;                   // vc
    int32_t CopyCover = 0;                      // copy_cover: the source's attached picture goes along
    int32_t DecodeAhead = 1;                    // decode_ahead: 0 keeps the job on one thread
    // segments: -1 as many as processors are free, 0 or 1 one thread, N that many.
    int32_t Segments = -1;
    int32_t SegmentMs = 20000;        // segment_ms: the shortest segment worth its own thread
    int32_t ReplayGain = 0;           // replaygain: measure the sound, tag the output
    int32_t AudioSampleRate = 44100;  // ar
    int32_t AudioChannels = 2;        // ac
    // Whether "ar" / "ac" were given since the last input was opened; values adopted from an
    // input leave the encoder free to pick what it supports.
    bool AudioSampleRateGiven = false;
    bool AudioChannelsGiven = false;
    int32_t DoPass = 0;  // pass
    int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int64_t LimitFileSize = 0;  // fs
    int32_t ScalerFlags = 4;    // bicubic; no option of its own
    int32_t ThreadCount = 1;    // no option of its own

    // Floats.
    float AudioDriftThreshold = 0.1f;  // adrift_threshold
    float DtsDeltaThreshold = 10.0f;   // dts_delta_threshold
    float AudioQScale = -99999.0f;     // aq
    float MuxMaxDelay = 0.7f;          // muxdelay
    float MuxPreload = 0.5f;           // muxpreload
    float VideoQScale = 0.0f;          // qscale

    // Times, microseconds.
    int64_t RecordingTime = INT64_MAX;  // t
    int64_t StartTime = 0;              // ss
    int64_t InputTsOffset = 0;          // itsoffset
    int64_t RecordingTimestamp = 0;     // timestamp, in seconds

    // Texts.
    std::string PassLogFileName;   // passlogfile
    std::string AudioLanguage;     // alang
    std::string SubtitleLanguage;  // slang
    std::string VideoStandard;     // tvstd
    std::string VStatsFileName;    // vstats_file, vstats
    std::string RcOverride;        // rc_override
    std::string VideoFilters;      // vfilters

    // Parsed.
    std::string InputFormatName;   // f (input side)
    std::string OutputFormatName;  // f (output side)
    AVRational FrameRate{0, 0};    // r
    int32_t FrameWidth = 0;        // s, and the last opened input
    int32_t FrameHeight = 0;
    bool FrameSizeGiven = false;      // "s" given since the last input was opened
    float FrameAspectRatio = 0.0f;    // aspect
    int32_t FramePixFmt = -1;         // pix_fmt
    int32_t AudioSampleFmt = -1;      // sample_fmt
    uint64_t AudioChannelLayout = 0;  // adopted from the last opened input (0: unknown)
    int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    std::array<int32_t, 3> PadColor{16, 128, 128};                  // Y, U, V
    std::string VideoCodecName, AudioCodecName, SubtitleCodecName;  // vcodec, acodec, scodec
    bool VideoStreamCopy = false, AudioStreamCopy = false, SubtitleStreamCopy = false;
    uint32_t VideoCodecTag = 0, AudioCodecTag = 0, SubtitleCodecTag = 0;  // vtag, atag, stag
    std::vector<uint16_t> IntraMatrix, InterMatrix;                       // 64 entries once given
    std::vector<std::pair<std::string, std::string>> Metadata;            // metadata
    std::vector<std::string> VideoHooks;                                  // vhook, in order
    TBitstreamFilterChain AudioBitstreamFilters, VideoBitstreamFilters, SubtitleBitstreamFilters;
};

}  // namespace zembra
