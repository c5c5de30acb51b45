// Option lines and the option table: what each option name does to the job.

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "engine/OptionValues.h"
#include "logging/FFmpegLogger.h"
#include "util/Formatting.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

int PhaseOf(const std::string& Name) {
    if (Name == "newvideo" || Name == "newaudio" || Name == "newsubtitle") return kPhaseExtraStreams;
    if (Name == "apre" || Name == "vpre" || Name == "spre") return kPhasePresets;
    return kPhaseOrdinary;
}

using TFlagMember = bool TJobSettings::*;
using TIntMember = int32_t TJobSettings::*;
using TFloatMember = float TJobSettings::*;
using TTextMember = std::string TJobSettings::*;

const std::unordered_map<std::string, TFlagMember> kFlags = {
    {"dump", &TJobSettings::DoPktDump},
    {"hex", &TJobSettings::DoHexDump},
    {"re", &TJobSettings::RateEmu},
    {"loop_input", &TJobSettings::LoopInput},
    {"shortest", &TJobSettings::Shortest},
    {"intra", &TJobSettings::IntraOnly},
    {"vn", &TJobSettings::VideoDisable},
    {"sameq", &TJobSettings::SameQuality},
    {"deinterlace", &TJobSettings::DoDeinterlace},
    {"psnr", &TJobSettings::DoPSNR},
    {"qphist", &TJobSettings::QpHist},
    {"force_fps", &TJobSettings::ForceFps},
    {"an", &TJobSettings::AudioDisable},
    {"sn", &TJobSettings::SubtitleDisable},
    {"isync", &TJobSettings::InputSync},
};

const std::unordered_map<std::string, TFlagMember> kSetFlags = {
    {"copyts", &TJobSettings::CopyTs},
    {"xerror", &TJobSettings::ExitOnError},
};

const std::unordered_map<std::string, TIntMember> kIntegers = {
    {"loop_output", &TJobSettings::LoopOutput},
    {"v", &TJobSettings::Verbose},
    {"vsync", &TJobSettings::VideoSyncMethod},
    {"async", &TJobSettings::AudioSyncMethod},
    {"vglobal", &TJobSettings::VideoGlobalHeader},
    {"programid", &TJobSettings::ProgramId},
    {"copyinkf", &TJobSettings::CopyInitialNonKeyFrames},
    {"vdt", &TJobSettings::VideoDiscard},
    {"me_threshold", &TJobSettings::MeThreshold},
    {"top", &TJobSettings::TopFieldFirst},
    {"dc", &TJobSettings::IntraDcPrecision},
    {"vol", &TJobSettings::AudioVolume},
    {"vc", &TJobSettings::VideoChannel},
    {"copy_cover", &TJobSettings::CopyCover},
    {"decode_ahead", &TJobSettings::DecodeAhead},
};

const std::unordered_map<std::string, TIntMember> kPositiveIntegers = {
    {"ar", &TJobSettings::AudioSampleRate},
    {"ac", &TJobSettings::AudioChannels},
};

const std::unordered_map<std::string, TIntMember> kPads = {
    {"padtop", &TJobSettings::PadTop},
    {"padbottom", &TJobSettings::PadBottom},
    {"padleft", &TJobSettings::PadLeft},
    {"padright", &TJobSettings::PadRight},
};

const std::unordered_map<std::string, TFloatMember> kFloats = {
    {"adrift_threshold", &TJobSettings::AudioDriftThreshold},
    {"dts_delta_threshold", &TJobSettings::DtsDeltaThreshold},
    {"aq", &TJobSettings::AudioQScale},
    {"muxdelay", &TJobSettings::MuxMaxDelay},
    {"muxpreload", &TJobSettings::MuxPreload},
};

const std::unordered_map<std::string, TTextMember> kTexts = {
    {"passlogfile", &TJobSettings::PassLogFileName}, {"alang", &TJobSettings::AudioLanguage},
    {"slang", &TJobSettings::SubtitleLanguage},      {"tvstd", &TJobSettings::VideoStandard},
    {"vstats_file", &TJobSettings::VStatsFileName},  {"rc_override", &TJobSettings::RcOverride},
};

constexpr int64_t kMaxDurationUs = 1000000000000000;  // 10^9 seconds
// Time-stamp scales: a thousand-fold stretch is far past any real use and keeps scaled times
// inside 64 bits.
constexpr double kMaxTsScale = 1000.0;
// Each pad stays small enough that a picture plus its pads cannot leave an int; the encoder
// still refuses a padded size it cannot code.
constexpr int32_t kMaxPad = 65536;

const std::unordered_set<std::string> kLogOnly = {"L", "h", "version", "formats", "i", "y", "benchmark"};

// The names ApplyOption tests one by one (keep in step with it); the maps above hold the rest.
const std::unordered_set<std::string> kNamedOptions = {
    "threads",    "vframes",  "aframes",     "dframes",       "pass",         "fs",
    "qscale",     "t",        "ss",          "itsoffset",     "timestamp",    "vfilters",
    "loglevel",   "f",        "map",         "map_meta_data", "itsscale",     "metadata",
    "r",          "s",        "aspect",      "pix_fmt",       "sample_fmt",   "croptop",
    "cropbottom", "cropleft", "cropright",   "padcolor",      "vcodec",       "acodec",
    "scodec",     "vtag",     "atag",        "stag",          "intra_matrix", "inter_matrix",
    "b",          "vb",       "ab",          "target",        "vstats",       "vhook",
    "absf",       "vbsf",     "sbsf",        "apre",          "vpre",         "spre",
    "newvideo",   "newaudio", "newsubtitle",
};

std::string ProgramDirectory() {
    const std::u16string Folder = DefaultLibraryFolder();  // <program dir>/LibAV
    return Utf16ToUtf8(ExtractFilePathW(Folder));
}

}  // namespace

bool TCustomFFmpeg::IsTableOption(const std::string& Name) {
    return kLogOnly.count(Name) || kNamedOptions.count(Name) || kFlags.count(Name) || kSetFlags.count(Name) ||
           kIntegers.count(Name) || kPositiveIntegers.count(Name) || kPads.count(Name) ||
           kFloats.count(Name) || kTexts.count(Name);
}

void TCustomFFmpeg::ApplyOptionLines(const std::string& Text, int Phase) {
    std::string Rest = NormaliseLineEnds(Trim(Text));
    while (!Rest.empty()) {
        std::string Value = SplitFirst(Rest, "\n", true);
        const std::string Name = SplitFirst(Value, "=", true);
        if (Name.empty() || PhaseOf(Name) != Phase) continue;
        ApplyOption(Name, Value);
    }
}

void TCustomFFmpeg::ApplyOption(const std::string& Name, const std::string& Value) {
    TJobSettings& S = FSettings;
    if (kLogOnly.count(Name)) {
        Log(llInfo, "Do nothing: option - " + Name);
        return;
    }
    if (Name == "threads") throw FFmpegException("TODO: option - " + Name);
    if (auto It = kFlags.find(Name); It != kFlags.end()) {
        S.*(It->second) = FlagValue(Value);
        return;
    }
    if (auto It = kSetFlags.find(Name); It != kSetFlags.end()) {
        S.*(It->second) = true;
        return;
    }
    if (Name == "vframes" || Name == "aframes" || Name == "dframes") {
        S.MaxFrames[Name == "vframes" ? 0 : Name == "aframes" ? 1 : 2] = StrToInt(Value);
        return;
    }
    if (auto It = kIntegers.find(Name); It != kIntegers.end()) {
        S.*(It->second) = StrToInt(Value);
        return;
    }
    if (auto It = kPositiveIntegers.find(Name); It != kPositiveIntegers.end()) {
        const int32_t V = StrToInt(Value);
        if (V > 0) {
            S.*(It->second) = V;
            (Name == "ar" ? S.AudioSampleRateGiven : S.AudioChannelsGiven) = true;
        }
        return;
    }
    if (auto It = kPads.find(Name); It != kPads.end()) {
        const int32_t V = StrToInt(Value);
        if (V > kMaxPad) throw FFmpegException(Format("Incorrect %s pad size", Name.c_str() + 3));
        if (V >= 0) S.*(It->second) = V;
        return;
    }
    if (Name == "pass") {
        const int32_t V = StrToInt(Value);
        if (V != 1 && V != 2) throw FFmpegException("pass number can be only 1 or 2");
        S.DoPass = V;
        return;
    }
    if (Name == "fs") {
        S.LimitFileSize = StrToInt64(Value);
        return;
    }
    if (auto It = kFloats.find(Name); It != kFloats.end()) {
        S.*(It->second) = SaturatingCast<float>(StrToFloat(Value));
        return;
    }
    if (Name == "qscale") {
        const double V = StrToFloat(Value);
        if (V <= 0.0 || V > 255.0) throw FFmpegException("qscale must be > 0.0 and <= 255");
        S.VideoQScale = static_cast<float>(V);
        return;
    }
    if (Name == "t" || Name == "ss" || Name == "itsoffset" || Name == "timestamp") {
        SetTimeOption(Name, Value);
        return;
    }
    if (auto It = kTexts.find(Name); It != kTexts.end()) {
        S.*(It->second) = Value;
        return;
    }
    if (Name == "vfilters") {
        if (!Value.empty()) S.VideoFilters = Value;
        return;
    }
    if (Name == "loglevel") {
        GetLogger().SetLogLevelByName(Value);
        return;
    }
    if (Name == "f") return SetFormat(Value);
    if (Name == "map") return AddStreamMap(Value);
    if (Name == "map_meta_data") return AddMetaDataMap(Value);
    if (Name == "itsscale") return SetITSScale(Value);
    if (Name == "metadata") return SetMetadataOption(Value);
    if (Name == "r") {
        if (Value.empty()) return;
        AVRational Rate{0, 0};
        if (lavu.av_parse_video_rate(&Rate, Value.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
        S.FrameRate = Rate;
        return;
    }
    if (Name == "s") return SetFrameSize(Value);
    if (Name == "aspect") return SetAspect(Value);
    if (Name == "pix_fmt") return SetPixelFormat(Value);
    if (Name == "sample_fmt") return SetSampleFormat(Value);
    if (Name == "croptop" || Name == "cropbottom" || Name == "cropleft" || Name == "cropright")
        return SetCrop(Name, Value);
    if (Name == "padcolor") return SetPadColor(StrToInt(Value));
    if (Name == "vcodec" || Name == "acodec" || Name == "scodec") return SetCodecName(Name, Value);
    if (Name == "vtag" || Name == "atag" || Name == "stag") return SetCodecTag(Name, Value);
    if (Name == "intra_matrix" || Name == "inter_matrix") return SetMatrix(Name, Value);
    if (Name == "b" || Name == "vb" || Name == "ab") return SetBitrate(Name, Value);
    if (Name == "target") return SetTargetOption(Value);
    if (Name == "vstats") return SetVStats();
    if (Name == "vhook") return AddFrameHook(Value);
    if (Name == "absf" || Name == "vbsf" || Name == "sbsf") return SetBitstreamFilter(Name, Value);
    if (Name == "apre" || Name == "vpre" || Name == "spre") return LoadPreset(Name, Value);
    if (Name == "newvideo" || Name == "newaudio" || Name == "newsubtitle") return AddExtraStream(Name);
    SetGenericOption(Name, Value);
}

void TCustomFFmpeg::SetTimeOption(const std::string& Name, const std::string& Value) {
    const bool IsDate = Name == "timestamp";
    int64_t Us = 0;
    // Durations are added to one another and to the files' own times, and scaled to stream
    // time bases; beyond about thirty years that arithmetic would leave 64 bits.
    if (lavu.av_parse_time(&Us, Value.c_str(), IsDate ? 0 : 1) < 0 ||
        (!IsDate && (Us > kMaxDurationUs || Us < -kMaxDurationUs)))
        throw FFmpegException(Format("Invalid %s specification for %s: %s", IsDate ? "date" : "duration",
                                     Name.c_str(), Value.c_str()));
    if (Name == "t") {
        if (Us > 0) SetRecordingTime(Us);
    } else if (Name == "ss") {
        FSettings.StartTime = Us;
    } else if (Name == "itsoffset") {
        FSettings.InputTsOffset = Us;
    } else {
        FSettings.RecordingTimestamp =
            static_cast<int64_t>(std::llround(static_cast<double>(Us) / 1000000.0));
    }
}

void TCustomFFmpeg::SetFormat(const std::string& Value) {
    if (Value.empty()) return;
    std::string Name = Value;
    if (Name == "pgmyuv") {
        Name = "image2";
        FSettings.PgmYuv = true;
        Log(llInfo, "pgmyuv format is deprecated, use image2");
    }
    const bool Input = lavf.av_find_input_format(Name.c_str()) != nullptr;
    const bool Output = lavf.av_guess_format(Name.c_str(), nullptr, nullptr) != nullptr;
    if (!Input && !Output) throw FFmpegException("Unknown input or output format: " + Name);
    FSettings.InputFormatName = Input ? Name : "";
    FSettings.OutputFormatName = Output ? Name : "";
}

void TCustomFFmpeg::SetInputFormat(const std::string& Name) {
    if (Name.empty()) return;
    if (!lavf.av_find_input_format(Name.c_str())) throw FFmpegException("Unknown input format: " + Name);
    FSettings.InputFormatName = Name;
}

void TCustomFFmpeg::SetOutputFormat(const std::string& Name) {
    if (Name.empty()) return;
    if (!lavf.av_guess_format(Name.c_str(), nullptr, nullptr))
        throw FFmpegException("Unknown output format: " + Name);
    FSettings.OutputFormatName = Name;
}

void TCustomFFmpeg::AddStreamMap(const std::string& Value) {
    if (FStreamMaps.size() >= static_cast<size_t>(kMaxStreamMaps))
        throw FFmpegException(Format("Too many stream maps (at most %d)", kMaxStreamMaps));
    TStreamMapEntry M;
    size_t P = 0;
    M.FileIndex = static_cast<int32_t>(ReadLong(Value, P));
    if (P < Value.size()) ++P;
    M.StreamIndex = static_cast<int32_t>(ReadLong(Value, P));
    if (P < Value.size()) {
        ++P;
        M.SyncFileIndex = static_cast<int32_t>(ReadLong(Value, P));
        if (P < Value.size()) ++P;
        M.SyncStreamIndex = static_cast<int32_t>(ReadLong(Value, P));
    } else {
        M.SyncFileIndex = M.FileIndex;
        M.SyncStreamIndex = M.StreamIndex;
    }
    FStreamMaps.push_back(M);
}

void TCustomFFmpeg::AddMetaDataMap(const std::string& Value) {
    if (FMetaDataMaps.size() >= static_cast<size_t>(kMaxFiles))
        throw FFmpegException(Format("Too many metadata maps (at most %d)", kMaxFiles));
    TMetaDataMap M;
    size_t P = 0;
    M.OutFile = static_cast<int32_t>(ReadLong(Value, P));
    if (P < Value.size()) ++P;
    M.InFile = static_cast<int32_t>(ReadLong(Value, P));
    FMetaDataMaps.push_back(M);
}

void TCustomFFmpeg::SetITSScale(const std::string& Value) {
    size_t P = 0;
    const long Stream = ReadLong(Value, P);
    if (P < Value.size()) ++P;
    const double Scale = ReadDouble(Value, P);
    if (!(Scale >= 0.0 && Scale <= kMaxTsScale))
        throw FFmpegException(
            Format("Invalid time-stamp scale %s (from 0 to %g)", Value.c_str(), kMaxTsScale));
    // A negative index would write before the table just as a large one writes past it.
    if (Stream >= kMaxStreams || Stream < 0)
        throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", kMaxStreams));
    if (FInputFileCount >= kMaxFiles)
        throw FFmpegException(Format("Too many input files (at most %d)", kMaxFiles));
    FInputTsScale[FInputFileCount][Stream] = Scale;
}

void TCustomFFmpeg::SetMetadataOption(const std::string& Value) {
    if (Value.find('=') == std::string::npos) throw FFmpegException("Missing =");
    std::string Rest = Value;
    const std::string Key = SplitFirst(Rest, "=", true);
    AddMetadata(Key, Rest);
}

void TCustomFFmpeg::AddMetadata(const std::string& Name, const std::string& Value) {
    FSettings.Metadata.emplace_back(Name, Value);
}

void TCustomFFmpeg::SetFrameSize(const std::string& Value) {
    if (Value.empty()) return;
    int W = 0, H = 0;
    if (lavu.av_parse_video_size(&W, &H, Value.c_str()) < 0 ||
        lavu.av_image_check_size(static_cast<unsigned>(W), static_cast<unsigned>(H), 0, nullptr) < 0)
        throw FFmpegException("Incorrect frame size");
    if ((W % 2) != 0 || (H % 2) != 0) throw FFmpegException("Frame size must be a multiple of 2");
    FSettings.FrameWidth = W;
    FSettings.FrameHeight = H;
    FSettings.FrameSizeGiven = true;
}

void TCustomFFmpeg::SetAspect(const std::string& Value) {
    double Ratio = 0.0;
    const size_t Colon = Value.find(':');
    if (Colon != std::string::npos) {
        const int32_t X = StrToIntDef(Value.substr(0, Colon), 0);
        const int32_t Y = StrToIntDef(Value.substr(Colon + 1), 0);
        Ratio = Y > 0 ? static_cast<double>(X) / Y : 0.0;
    } else {
        try {
            Ratio = StrToFloat(Value);
        } catch (const EConvertError&) {
            Ratio = 0.0;
        }
    }
    if (Ratio == 0.0) throw FFmpegException("Incorrect aspect ratio specification.");
    FSettings.FrameAspectRatio = SaturatingCast<float>(Ratio);
}

void TCustomFFmpeg::SetPixelFormat(const std::string& Value) {
    if (Value == "list") {
        char Buf[128];
        for (int Fmt = -1; Fmt < AV_PIX_FMT_NB; ++Fmt) {
            if (Fmt >= 0 && !lavu.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(Fmt))) continue;
            Buf[0] = 0;
            lavu.av_get_pix_fmt_string(Buf, sizeof(Buf), static_cast<AVPixelFormat>(Fmt));
            Log(llInfo, Trim(Buf));
        }
        return;
    }
    const AVPixelFormat Fmt = lavu.av_get_pix_fmt(Value.c_str());
    if (Fmt == AV_PIX_FMT_NONE) throw FFmpegException("Unknown pixel format requested: " + Value);
    FSettings.FramePixFmt = Fmt;
}

void TCustomFFmpeg::SetSampleFormat(const std::string& Value) {
    if (Value == "list") {
        char Buf[128];
        for (int Fmt = -1; Fmt < AV_SAMPLE_FMT_NB; ++Fmt) {
            Buf[0] = 0;
            lavu.av_get_sample_fmt_string(Buf, sizeof(Buf), static_cast<AVSampleFormat>(Fmt));
            Log(llInfo, Trim(Buf));
        }
        return;
    }
    FSettings.AudioSampleFmt = lavu.av_get_sample_fmt(Value.c_str());
}

void TCustomFFmpeg::SetCrop(const std::string& Name, const std::string& Value) {
    const int32_t V = StrToInt(Value);
    if (V < 0) return;
    TJobSettings& S = FSettings;
    if (Name == "croptop" || Name == "cropbottom") {
        if (V >= S.FrameHeight)
            throw FFmpegException(
                "Vertical crop dimensions are outside the range of the original image.\n"
                "Remember to crop first and scale second.");
        (Name == "croptop" ? S.CropTop : S.CropBottom) = V;
        S.FrameHeight -= V;
    } else {
        if (V >= S.FrameWidth)
            throw FFmpegException(
                "Horizontal crop dimensions are outside the range of the original image.\n"
                "Remember to crop first and scale second.");
        (Name == "cropleft" ? S.CropLeft : S.CropRight) = V;
        S.FrameWidth -= V;
    }
}

void TCustomFFmpeg::SetPadColor(int32_t RGB) {
    const TYUV C = RGBToYUV(RGB);
    FSettings.PadColor = {C.Y, C.U, C.V};
}

void TCustomFFmpeg::SetCodecName(const std::string& Name, const std::string& Value) {
    TJobSettings& S = FSettings;
    std::string& Codec = Name == "vcodec"   ? S.VideoCodecName
                         : Name == "acodec" ? S.AudioCodecName
                                            : S.SubtitleCodecName;
    bool& Copy = Name == "vcodec"   ? S.VideoStreamCopy
                 : Name == "acodec" ? S.AudioStreamCopy
                                    : S.SubtitleStreamCopy;
    Codec.clear();
    if (Value == "copy")
        Copy = true;
    else
        Codec = Value;
}

void TCustomFFmpeg::SetCodecTag(const std::string& Name, const std::string& Value) {
    if (Value.size() != 4) {
        const char* Kind = Name == "vtag" ? "video" : Name == "atag" ? "audio" : "subtitle";
        throw FFmpegException(Format("%s tag parameter must be 4 chars", Kind));
    }
    const uint32_t Tag = MKTAG(Value[0], Value[1], Value[2], Value[3]);
    (Name == "vtag"   ? FSettings.VideoCodecTag
     : Name == "atag" ? FSettings.AudioCodecTag
                      : FSettings.SubtitleCodecTag) = Tag;
}

void TCustomFFmpeg::SetMatrix(const std::string& Name, const std::string& Value) {
    // Filled aside: a refused text must not leave a half-read matrix for the encoder.
    std::vector<uint16_t> Matrix(64, 0);
    size_t P = 0;
    for (int I = 0; I < 64; ++I) {
        // The encoders divide by every coefficient and keep it in eight bits: a 0 (text that is
        // no number reads as 0) stopped the process with a division by zero.
        errno = 0;
        const long Coefficient = std::strtol(Value.c_str() + P, nullptr, 10);
        if (errno == ERANGE || Coefficient < 1 || Coefficient > 255)
            throw FFmpegException(
                Format("Invalid coefficient in matrix \"%s\" at coeff %d", Value.c_str(), I));
        Matrix[static_cast<size_t>(I)] = static_cast<uint16_t>(Coefficient);
        if (I == 63) break;  // the 64th value needs no comma after it
        const size_t Comma = Value.find(',', P);
        if (Comma == std::string::npos)
            throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", Value.c_str(), I));
        P = Comma + 1;
    }
    (Name == "intra_matrix" ? FSettings.IntraMatrix : FSettings.InterMatrix) = std::move(Matrix);
}

void TCustomFFmpeg::SetBitrate(const std::string& Name, const std::string& Value) {
    if (!SetGenericOption(Name, Value)) return;
    AVCodecContext* Ctx = FCodecOpts[Name[0] == 'a' ? omtAudio : omtVideo].get();
    int64_t Bitrate = 0;
    if (Ctx && lavu.av_opt_get_int(Ctx, "b", 0, &Bitrate) >= 0 && Bitrate < 1000)
        Log(llWarning,
            "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::SetBitstreamFilter(const std::string& Name, const std::string& Value) {
    if (Value.empty() || Value[0] == '=') return;
    TBitstreamFilterSpec Spec;
    const size_t Eq = Value.find('=');
    Spec.Name = Eq == std::string::npos ? Value : Value.substr(0, Eq);
    Spec.Arguments = Eq == std::string::npos ? "" : Value.substr(Eq + 1);
    if (!lavc.av_bsf_get_by_name(Spec.Name.c_str()))
        throw FFmpegException("Unknown bitstream filter " + Trim(Value));
    TBitstreamFilterChain& Chain = Name == "absf"   ? FSettings.AudioBitstreamFilters
                                   : Name == "vbsf" ? FSettings.VideoBitstreamFilters
                                                    : FSettings.SubtitleBitstreamFilters;
    Chain.push_back(Spec);
}

void TCustomFFmpeg::SetVStats() {
    const std::time_t Now = std::time(nullptr);
    std::tm Local{};
    localtime_r(&Now, &Local);
    char Stamp[16];
    std::strftime(Stamp, sizeof(Stamp), "%H%M%S", &Local);
    FSettings.VStatsFileName = Format("%svstats_%s.log", ProgramDirectory().c_str(), Stamp);
}

void TCustomFFmpeg::SetCodecOptionInt(const std::string& Name, int32_t Value) {
    SetGenericOption(Name, std::to_string(Value));
}

void TCustomFFmpeg::AddExtraStream(const std::string& Name) {
    if (FOutputFileCount < 1) throw FFmpegException("At least one output file must be specified");
    // A joined output is one file, in the first slot, whatever the table's count says.
    const int File = FJoined ? 0 : FOutputFileCount - 1;
    AVFormatContext* Container = FOutputFiles[File];
    if (Name == "newvideo")
        AddVideoStream(Container, File);
    else if (Name == "newaudio")
        AddAudioStream(Container, File);
    else
        AddSubtitleStream(Container, File);
}

void TCustomFFmpeg::AddFrameHook(const std::string& Value) {
    const std::vector<std::string> Arguments = SplitHookOptionText(Value);
    if (zembra::AddFrameHook(FFrameHooks, Arguments) != kFrameHookOk)
        throw FFmpegException("Failed to add video hook function: " + Value);
    FSettings.VideoHooks.push_back(Value);
}

}  // namespace zembra
