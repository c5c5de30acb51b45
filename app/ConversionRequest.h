#pragma once

// What the user asked a conversion to make, as numbers and names: the settings dialog fills it
// from its controls, zembra-cli from its options, and BuildTaskRecords (app/OptionBuilder.h)
// turns it into a task's records in one place.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/NameTemplate.h"

namespace zembra {

// The piece of the source to convert, in milliseconds of the source.
struct TCutRequest {
    int64_t StartMs = 0;
    std::optional<int64_t> EndMs;  // none: to the end of the source
};

// Each output's own gain and peak, or those of its album besides.
enum class TReplayGainMode { Track, Album };

enum THookBehaviour { hbStandard, hbBeforeHook, hbPTSPeriods };

inline constexpr const char* kDefaultHookText = "ZIVOZ";

// The dialog's video hooks: the external plug-ins (each written only when the hook folder has
// it) or the window's own custom hook.
struct THookRequest {
    bool External = true;
    bool Imlib2Image = false;
    bool Dancing = false;
    bool Imlib2Text = false;
    std::string Imlib2TextEdit = kDefaultHookText;
    bool Scrolling = false;
    bool WaterMark = false;
    bool WaterMarkMode = false;
    bool DemoImage = false;
    bool DemoText = false;
    std::string DemoTextEdit = kDefaultHookText;
    THookBehaviour Behaviour = hbStandard;
    std::string PTSPeriods = "0-5000,10000-15000";
};

struct TConversionRequest {
    // The output's suffix without the dot, any case. The eleven formats of the dialog's list get
    // its rules.
    std::string Format = "mp3";
    // Those formats keep the dialog's rules (Ogg as Theora and FLAC, M4a with its pictures)
    // instead of writing the sound alone with the format's own encoder.
    bool KeepVideo = false;
    std::string Codec;  // the audio encoder; empty: the format's
    std::optional<int32_t> Rate;
    std::optional<int32_t> Channels;
    std::optional<int32_t> Volume;   // 256: unchanged
    std::optional<int32_t> Bitrate;  // kbit/s
    std::optional<double> Quality;   // the encoder's variable-bit-rate quality
    // The sound is encoded even where the format holds the source's as it is; the sound
    // decision gives the reason in the asking front end's words.
    bool Reencode = false;
    std::string ReencodeReason = "encoding asked for";
    std::optional<TCutRequest> Cut;
    bool NoTags = false;            // the source's tags stay out
    bool NoCover = false;           // the source's cover picture stays out
    std::vector<std::string> Tags;  // KEY=VALUE
    std::optional<TReplayGainMode> ReplayGain;
    bool NoSplit = false;  // a long sound is encoded on one thread, not in segments

    // Ends with '/'; empty: beside the source.
    std::u16string OutputFolder;
    // The output's whole name without its suffix (made from tags, say), folder included: taken
    // as it is, without "_(new)", and numbered "NAME (1)" when taken. Empty: the source's name
    // in the output folder.
    std::u16string OutputName;
    // Outputs named from the source's tags in the output folder (or beside the source), when
    // OutputName does not name it already.
    std::optional<TNameTemplate> Name;
    TNameCharset NameCharset = TNameCharset::Portable;
    bool Overwrite = false;     // an existing output is replaced once the new one is finished
    bool SkipExisting = false;  // a source whose output exists already is left alone
    bool KeepPartial = false;   // a stopped task's output is kept under its partial name

    // Option lines of the user's own (NAME=VALUE), applied last.
    std::vector<std::string> InputOptions;
    std::vector<std::string> OutputOptions;

    // The pictures (the dialog's "Video" page).
    bool CopyTimestamp = false;
    std::string FrameSize;                            // "352x288"; empty: the source's
    std::string FrameRate;                            // "25"; empty: the source's
    std::string AspectRatio;                          // "16:9"; empty: the source's
    std::string VideoCodec;                           // the encoder; empty: the format's
    std::string VideoTag;                             // the stream's fourcc, "DIVX"
    std::optional<int32_t> VideoBitrate;              // kbit/s
    std::optional<std::array<int32_t, 4>> Crop, Pad;  // top, bottom, left, right
    std::vector<std::string> VideoFilters;            // "vflip", "scale=320:240"...
    THookRequest Hooks;
};

}  // namespace zembra
