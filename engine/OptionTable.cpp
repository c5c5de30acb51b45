// Option lines and the option table: what each option name does to the job.

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "engine/OptionDefs.h"
#include "engine/OptionValues.h"
#include "logging/FFmpegLogger.h"
#include "util/Formatting.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

constexpr int64_t kMaxDurationUs = 1000000000000000;  // 10^9 seconds
// Time-stamp scales: a thousand-fold stretch is far past any real use and keeps scaled times
// inside 64 bits.
constexpr double kMaxTsScale = 1000.0;

std::string ProgramDirectory() {
    const std::u16string Folder = DefaultLibraryFolder();  // <program dir>/LibAV
    return Utf16ToUtf8(ExtractFilePathW(Folder));
}

// A number of a map's text and the one separator of any kind after it.
int32_t ReadIndex(const std::string& Value, size_t& P) {
    const auto Index = static_cast<int32_t>(ReadLong(Value, P));
    if (P < Value.size()) ++P;
    return Index;
}

// A new entry at the end of a table whose size the run's arrays bound.
template <typename T>
T& AppendBounded(std::vector<T>& Table, int Max, const char* What) {
    if (Table.size() >= static_cast<size_t>(Max))
        throw FFmpegException(Format("Too many %s (at most %d)", What, Max));
    return Table.emplace_back();
}

// Whether a typed row's value is kept: outside its range it is passed over or refused.
bool InRange(const TOptionDef& Def, double Value) {
    const TOptionRange& R = Def.Range;
    const bool Below = Value < R.Min;
    if (!Below && !(Value > R.Max)) return true;
    if ((Below ? R.Below : R.Above) == TOutOfRange::Fail) throw FFmpegException(R.Message);
    return false;
}

// Durations are added to one another and to the files' own times, and scaled to stream time
// bases; beyond about thirty years that arithmetic would leave 64 bits.
int64_t ParseTime(const std::string& Name, const std::string& Value, bool IsDate) {
    int64_t Us = 0;
    if (lavu.av_parse_time(&Us, Value.c_str(), IsDate ? 0 : 1) < 0 ||
        (!IsDate && (Us > kMaxDurationUs || Us < -kMaxDurationUs)))
        throw FFmpegException(Format("Invalid %s specification for %s: %s", IsDate ? "date" : "duration",
                                     Name.c_str(), Value.c_str()));
    return Us;
}

}  // namespace

bool TCustomFFmpeg::IsTableOption(const std::string& Name) {
    return FindOptionDef(Name) != nullptr;
}

void TCustomFFmpeg::ApplyOptionLines(const std::string& Text, int Phase) {
    std::string Rest = NormaliseLineEnds(Trim(Text));
    while (!Rest.empty()) {
        std::string Value = SplitFirst(Rest, "\n", true);
        const std::string Name = SplitFirst(Value, "=", true);
        if (Name.empty()) continue;
        const TOptionDef* Def = FindOptionDef(Name);
        if ((Def ? Def->Phase : kPhaseOrdinary) != Phase) continue;
        ApplyOption(Name, Value);
    }
}

template <typename T>
void TCustomFFmpeg::StoreOption(const TOptionDef& Def, T Value) {
    if (const auto* Field = std::get_if<T TJobSettings::*>(&Def.Target))
        FSettings.** Field = std::move(Value);
    else if (const auto* Setter = std::get_if<TTimeSetter>(&Def.Target);
             Setter && std::is_same_v<T, int64_t>) {
        if constexpr (std::is_same_v<T, int64_t>) (this->**Setter)(Value);
    } else
        throw std::logic_error(std::string("option row without a place for its value: ") + Def.Name);
    if (Def.Given) FSettings.*Def.Given = true;
}

void TCustomFFmpeg::ApplyOption(const std::string& Name, const std::string& Value) {
    const TOptionDef* Def = FindOptionDef(Name);
    if (!Def) {
        SetGenericOption(Name, Value);
        return;
    }
    switch (Def->Kind) {
        case TOptionKind::LogOnly:
            Log(llInfo, "Do nothing: option - " + Name);
            return;
        case TOptionKind::Fails:
            throw FFmpegException("TODO: option - " + Name);
        case TOptionKind::Flag:
            return StoreOption(*Def, FlagValue(Value));
        case TOptionKind::SetFlag:
            return StoreOption(*Def, true);
        case TOptionKind::Integer:
            if (const int32_t V = StrToInt(Value); InRange(*Def, V)) StoreOption(*Def, V);
            return;
        case TOptionKind::Integer64:
            if (const int64_t V = StrToInt64(Value); InRange(*Def, static_cast<double>(V)))
                StoreOption(*Def, V);
            return;
        case TOptionKind::Float:
            if (const double V = StrToFloat(Value); InRange(*Def, V))
                StoreOption(*Def, SaturatingCast<float>(V));
            return;
        case TOptionKind::Duration:
            if (const int64_t Us = ParseTime(Name, Value, false); InRange(*Def, static_cast<double>(Us)))
                StoreOption(*Def, Us);
            return;
        case TOptionKind::Date: {
            const double Seconds = static_cast<double>(ParseTime(Name, Value, true)) / 1000000.0;
            return StoreOption(*Def, static_cast<int64_t>(std::llround(Seconds)));
        }
        case TOptionKind::Text:
            if (InRange(*Def, static_cast<double>(Value.size()))) StoreOption(*Def, Value);
            return;
        case TOptionKind::Custom:
            return std::get<TOptionSetter>(Def->Target)(*this, Name, Value);
    }
}

void TCustomFFmpeg::SetFrameLimit(const std::string& Value, size_t Kind) {
    FSettings.MaxFrames.at(Kind) = StrToInt(Value);
}

void TCustomFFmpeg::SetLogLevelOption(const std::string& Value) {
    GetLogger().SetLogLevelByName(Value);
}

void TCustomFFmpeg::SetFrameRate(const std::string& Value) {
    if (Value.empty()) return;
    AVRational Rate{0, 0};
    if (lavu.av_parse_video_rate(&Rate, Value.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
    FSettings.FrameRate = Rate;
}

void TCustomFFmpeg::SetPadColorOption(const std::string& Value) {
    SetPadColor(StrToInt(Value));
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
    TStreamMapEntry& M = AppendBounded(FStreamMaps, kMaxStreamMaps, "stream maps");
    size_t P = 0;
    M.FileIndex = ReadIndex(Value, P);
    M.StreamIndex = static_cast<int32_t>(ReadLong(Value, P));
    if (P < Value.size()) {
        ++P;
        M.SyncFileIndex = ReadIndex(Value, P);
        M.SyncStreamIndex = static_cast<int32_t>(ReadLong(Value, P));
    } else {
        M.SyncFileIndex = M.FileIndex;
        M.SyncStreamIndex = M.StreamIndex;
    }
}

void TCustomFFmpeg::AddMetaDataMap(const std::string& Value) {
    TMetaDataMap& M = AppendBounded(FMetaDataMaps, kMaxFiles, "metadata maps");
    size_t P = 0;
    M.OutFile = ReadIndex(Value, P);
    M.InFile = ReadIndex(Value, P);
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

void TCustomFFmpeg::SetCrop(const std::string& Value, int32_t TJobSettings::*Side, bool Vertical) {
    const int32_t V = StrToInt(Value);
    if (V < 0) return;
    TJobSettings& S = FSettings;
    int32_t& Size = Vertical ? S.FrameHeight : S.FrameWidth;
    if (V >= Size)
        throw FFmpegException(std::string(Vertical ? "Vertical" : "Horizontal") +
                              " crop dimensions are outside the range of the original image.\n"
                              "Remember to crop first and scale second.");
    S.*Side = V;
    Size -= V;
}

void TCustomFFmpeg::SetPadColor(int32_t RGB) {
    const TYUV C = RGBToYUV(RGB);
    FSettings.PadColor = {C.Y, C.U, C.V};
}

void TCustomFFmpeg::SetCodecName(const std::string& Value, std::string TJobSettings::*Codec,
                                 bool TJobSettings::*Copy) {
    (FSettings.*Codec).clear();
    if (Value == "copy")
        FSettings.*Copy = true;
    else
        FSettings.*Codec = Value;
}

void TCustomFFmpeg::SetCodecTag(const std::string& Value, uint32_t TJobSettings::*Tag, const char* Kind) {
    if (Value.size() != 4) throw FFmpegException(Format("%s tag parameter must be 4 chars", Kind));
    FSettings.*Tag = MKTAG(Value[0], Value[1], Value[2], Value[3]);
}

void TCustomFFmpeg::SetMatrix(const std::string& Value, std::vector<uint16_t> TJobSettings::*Target) {
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
    FSettings.*Target = std::move(Matrix);
}

void TCustomFFmpeg::SetBitrate(const std::string& Name, const std::string& Value, TOptionMediaType Kind) {
    if (!SetGenericOption(Name, Value)) return;
    AVCodecContext* Ctx = FCodecOpts[Kind].get();
    int64_t Bitrate = 0;
    if (Ctx && lavu.av_opt_get_int(Ctx, "b", 0, &Bitrate) >= 0 && Bitrate < 1000)
        Log(llWarning,
            "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::SetBitstreamFilter(const std::string& Value, TBitstreamFilterChain TJobSettings::*Chain) {
    if (Value.empty() || Value[0] == '=') return;
    TBitstreamFilterSpec Spec;
    const size_t Eq = Value.find('=');
    Spec.Name = Eq == std::string::npos ? Value : Value.substr(0, Eq);
    Spec.Arguments = Eq == std::string::npos ? "" : Value.substr(Eq + 1);
    if (!lavc.av_bsf_get_by_name(Spec.Name.c_str()))
        throw FFmpegException("Unknown bitstream filter " + Trim(Value));
    (FSettings.*Chain).push_back(Spec);
}

void TCustomFFmpeg::SetVStats(const std::string&) {
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

void TCustomFFmpeg::AddExtraStream(void (TCustomFFmpeg::*Add)(AVFormatContext* Container, int FileIndex)) {
    if (FOutputFileCount < 1) throw FFmpegException("At least one output file must be specified");
    // A joined output is one file, in the first slot, whatever the table's count says.
    const int File = FJoined ? 0 : FOutputFileCount - 1;
    AVFormatContext* Container = FOutputFiles[File];
    (this->*Add)(Container, File);
}

void TCustomFFmpeg::AddFrameHook(const std::string& Value) {
    const std::vector<std::string> Arguments = SplitHookOptionText(Value);
    if (zembra::AddFrameHook(FFrameHooks, Arguments) != kFrameHookOk)
        throw FFmpegException("Failed to add video hook function: " + Value);
    FSettings.VideoHooks.push_back(Value);
}

}  // namespace zembra
