#include "app/OptionBuilder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>

#include "binding/EntryPoints.h"
#include "component/OutputFieldTable.h"
#include "engine/ReplayGainTags.h"
#include "probe/SourceTags.h"
#include "util/NumericCasts.h"
#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

// Plug-ins and pictures of the hook folder. The plug-ins are shared objects here.
constexpr const char16_t* kImlib2Module = u"imlib2.so";
constexpr const char16_t* kWaterMarkModule = u"watermark.so";
constexpr const char16_t* kDemoHookModule = u"QuarnHook.so";
constexpr const char16_t* kImlib2Picture = u"imlib2.jpg";
constexpr const char16_t* kWaterMarkPicture = u"watermark.gif";
constexpr const char16_t* kDemoHookPicture = u"QuarnHook.bmp";
constexpr int32_t kDefaultPictureSize = 64;
// What a name from tags leaves free of the 255 bytes for a collision's " (99999)".
constexpr size_t kNumberRoom = 8;

std::u16string HookFolderOf(const TBuildContext& Context) {
    return Context.HookFolder.empty() ? DefaultHookFolder() : Context.HookFolder;
}

bool Exists(const TBuildContext& Context, const std::u16string& Name) {
    return Context.FileExists ? Context.FileExists(Name) : FileExistsW(Name);
}

bool HasBlank(const std::u16string& Text) {
    return Text.find(u' ') != std::u16string::npos;
}

std::string U8(const std::u16string& Text) {
    return Utf16ToUtf8(Text);
}

std::string Number(int64_t Value) {
    return std::to_string(Value);
}

// "vhook=" + the arguments joined by " ", or by "|" when Pipe is set, + CR LF.
std::string HookLine(const std::vector<std::string>& Arguments, bool Pipe) {
    std::string Line = "vhook=";
    for (size_t I = 0; I < Arguments.size(); ++I) {
        if (I > 0) Line += Pipe ? "|" : " ";
        Line += Arguments[I];
    }
    return Line + "\r\n";
}

// Width and height of a BMP file; false when it cannot be read.
bool ReadBitmapSize(const std::u16string& FileName, int32_t& Width, int32_t& Height) {
    std::ifstream File(FileSystemName(FileName), std::ios::binary);
    unsigned char Header[26] = {};
    if (!File.read(reinterpret_cast<char*>(Header), sizeof(Header)) || Header[0] != 'B' || Header[1] != 'M')
        return false;
    auto Int32At = [&](int Offset) {
        return static_cast<int32_t>(uint32_t(Header[Offset]) | uint32_t(Header[Offset + 1]) << 8 |
                                    uint32_t(Header[Offset + 2]) << 16 | uint32_t(Header[Offset + 3]) << 24);
    };
    Width = Int32At(18);
    const int32_t H = Int32At(22);
    Height = H < 0 ? -H : H;  // a negative height marks rows stored top-down
    return Width > 0 && Height > 0;
}

std::string HookLines(const THookRequest& C, const TSourceInfo& Source, const TBuildContext& Context,
                      const THookAvailability& Enabled) {
    const std::u16string Folder = HookFolderOf(Context);
    std::string Lines;
    if (C.Imlib2Image && Enabled.Imlib2Image) {
        const std::u16string Module = Folder + kImlib2Module;
        const std::u16string Picture = Folder + kImlib2Picture;
        const std::string X = C.Dancing ? "(W-w)*(0.5+0.5*sin(N/47*PI))" : "W-w";
        const std::string Y = C.Dancing ? "(H-h)*(0.5+0.5*cos(N/97*PI))" : "H-h";
        Lines += HookLine({U8(Module), "-i", U8(Picture), "-x", X, "-y", Y},
                          HasBlank(Module) || HasBlank(Picture));
    }
    if (C.Imlib2Text && Enabled.Imlib2Text) {
        const std::u16string Module = Folder + kImlib2Module;
        const std::string Y = C.Scrolling ? "(H-25)*(0.5+0.50*cos(N/97*PI))" : "10";
        Lines += HookLine({U8(Module), "-R", "255", "-G", "255", "-B", "255", "-F", "Tahoma.ttf/16", "-t",
                           C.Imlib2TextEdit, "-x", "10", "-y", Y},
                          HasBlank(Module));
    }
    if (C.WaterMark && Enabled.WaterMark) {
        const std::u16string Module = Folder + kWaterMarkModule;
        const std::u16string Picture = Folder + kWaterMarkPicture;
        Lines += HookLine({U8(Module), "-f", U8(Picture), "-m", Number(C.WaterMarkMode ? 1 : 0)},
                          HasBlank(Module) || HasBlank(Picture));
    }
    if (C.DemoImage && Enabled.DemoHookImage) {
        const std::u16string Module = Folder + kDemoHookModule;
        const std::u16string Picture = Folder + kDemoHookPicture;
        int32_t PictureWidth = kDefaultPictureSize, PictureHeight = kDefaultPictureSize;
        if (Exists(Context, Picture) && !ReadBitmapSize(Picture, PictureWidth, PictureHeight))
            PictureWidth = PictureHeight = kDefaultPictureSize;
        Lines += HookLine({U8(Module), "-i", U8(Picture), "-mc", "FFFFFF", "-ix",
                           Number(int64_t(Source.VideoWidth) - PictureWidth - 10), "-iy",
                           Number(int64_t(Source.VideoHeight) - PictureHeight - 10)},
                          HasBlank(Module) || HasBlank(Picture));
    }
    if (C.DemoText && Enabled.DemoHookText) {
        const std::u16string Module = Folder + kDemoHookModule;
        Lines += HookLine({U8(Module), "-t", C.DemoTextEdit, "-tx", "10", "-ty", "10", "-fc", "FFFFFF", "-fn",
                           "Tahoma", "-fs", "16", "-fst", "BU"},
                          HasBlank(Module));
    }
    return Lines;
}

}  // namespace

std::u16string DefaultHookFolder() {
    char Buf[PATH_MAX + 1];
    const ssize_t N = ::readlink("/proc/self/exe", Buf, PATH_MAX);
    if (N <= 0) return u"vhook/";
    return ExtractFilePathW(Utf8ToUtf16(std::string(Buf, static_cast<size_t>(N)))) + u"vhook/";
}

TSourceInfo SourceInfoOf(TCustomAVProbe& Probe) {
    TSourceInfo Source;
    if (!Probe.Loaded()) return Source;
    Source.FileName = Probe.GetFileName();
    Source.ForcedFormat = Probe.ForcedFormatName();
    TFileStreamInfo File;
    if (Probe.GetFileStreamInfo(File)) Source.Duration = File.Duration;
    TVideoStreamInfo Video;
    if (Probe.VideoStreamCount() > 0 && Probe.GetVideoStreamInfo(-1, Video)) {
        Source.VideoWidth = Video.Width;
        Source.VideoHeight = Video.Height;
    }
    if (const AVFormatContext* Context = Probe.Context())
        for (unsigned I = 0; I < Context->nb_streams; ++I)
            if (Context->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(Context->streams[I]->disposition & AV_DISPOSITION_ATTACHED_PIC))
                Source.HasVideo = true;
    Source.Tags = SourceTagsOf(Probe);
    Source.Sound = SourceSoundOf(Probe);
    return Source;
}

const TSoundFormat* FindSoundFormat(const std::string& Format) {
    for (const TSoundFormat& F : kSoundFormats)
        if (SameText(F.Name, Format)) return &F;
    return nullptr;
}

std::string FormatSuffix(const std::string& Format) {
    return "." + LowerCase(Format);
}

THookAvailability HookAvailability(const THookRequest& C, const TBuildContext& Context) {
    const std::u16string Folder = HookFolderOf(Context);
    THookAvailability A;
    A.Imlib2Image = C.External && Exists(Context, Folder + kImlib2Module);
    A.Imlib2Text = A.Imlib2Image;
    A.WaterMark = C.External && Exists(Context, Folder + kWaterMarkModule);
    A.DemoHookImage = A.DemoHookText = Exists(Context, Folder + kDemoHookModule);
    A.Dancing = A.Imlib2Image && C.Imlib2Image;
    A.Imlib2TextEdit = A.Scrolling = A.Imlib2Text && C.Imlib2Text;
    A.WaterMarkMode = A.WaterMark && C.WaterMark;
    A.DemoHookTextEdit = A.DemoHookText && C.DemoText;
    A.Behaviour = (A.Imlib2Image && C.Imlib2Image) || (A.Imlib2Text && C.Imlib2Text) ||
                  (A.WaterMark && C.WaterMark) || (A.DemoHookImage && C.DemoImage) ||
                  (A.DemoHookText && C.DemoText);
    A.PTSPeriodsEdit = A.Behaviour && C.Behaviour == hbPTSPeriods;
    return A;
}

std::u16string OutputBaseName(const std::u16string& OutputFolder, const std::u16string& SourceFileName) {
    std::u16string Name = ExtractFileNameW(SourceFileName);
    const size_t Dot = Name.rfind(u'.');
    if (Dot != std::u16string::npos) Name.erase(Dot);
    return (OutputFolder.empty() ? ExtractFilePathW(SourceFileName) : OutputFolder) + Name;
}

namespace {

// The first of NameAt(0), NameAt(1)... that no other output of the batch holds and that is free
// (or, overwriting, a file), claimed when the context claims names.
std::u16string FirstFreeName(const std::function<std::u16string(int)>& NameAt, bool Overwrite,
                             const TBuildContext& Context) {
    auto Taken = [&](const std::u16string& Name) {
        if (Context.Reserved && Context.Reserved(Name)) return true;
        if (!Context.Claim) return (!Overwrite && Exists(Context, Name)) || DirectoryExistsW(Name);
        const int Error = Context.Claim(Name);
        // A file being overwritten is the one name that may be taken already; a folder never is.
        if (Error == EEXIST) return !Overwrite || DirectoryExistsW(Name) || !FileExistsW(Name);
        return false;
    };
    std::u16string Name = NameAt(0);
    for (int N = 1; Taken(Name); ++N) Name = NameAt(N);
    return Name;
}

// base + "_(new)" + suffix, or the first free base + "_(new_" n ")" + suffix.
std::u16string NumberedOutputName(const std::u16string& Base, const std::string& Suffix, bool Overwrite,
                                  const TBuildContext& Context) {
    const std::u16string Ext = Utf8ToUtf16(Suffix);
    return FirstFreeName(
        [&](int N) {
            return N == 0 ? Base + u"_(new)" + Ext
                          : Base + u"_(new_" + Utf8ToUtf16(std::to_string(N)) + u")" + Ext;
        },
        Overwrite, Context);
}

// base + suffix, or the first free base + " (" n ")" + suffix: for a name the user chose.
std::u16string ChosenOutputName(const std::u16string& Base, const std::string& Suffix, bool Overwrite,
                                const TBuildContext& Context) {
    const std::u16string Ext = Utf8ToUtf16(Suffix);
    return FirstFreeName(
        [&](int N) {
            return N == 0 ? Base + Ext : Base + u" (" + Utf8ToUtf16(std::to_string(N)) + u")" + Ext;
        },
        Overwrite, Context);
}

}  // namespace

std::string RelativeNameFromTags(const TConversionRequest& R, const TSourceInfo& Source) {
    if (!R.Name) return "";
    std::string BaseName = Utf16ToUtf8(ExtractFileNameW(Source.FileName));
    if (const size_t Dot = BaseName.rfind('.'); Dot != std::string::npos) BaseName.erase(Dot);
    return RenderName(*R.Name, Source.Tags, BaseName, R.NameCharset,
                      FormatSuffix(R.Format).size() + kNumberRoom);
}

std::u16string NameFromTags(const TConversionRequest& R, const TSourceInfo& Source,
                            const std::u16string& OutputFolder) {
    if (!R.Name) return u"";
    return (OutputFolder.empty() ? ExtractFilePathW(Source.FileName) : OutputFolder) +
           Utf8ToUtf16(RelativeNameFromTags(R, Source));
}

bool KeepsReplayGain(const std::string& Format) {
    if (!lavf.av_guess_format) return false;  // nothing is known before the libraries load
    const AVOutputFormat* Muxer = lavf.av_guess_format(nullptr, ("x." + LowerCase(Format)).c_str(), nullptr);
    return Muxer && ReplayGainStyleOf(Muxer->name) != TReplayGainStyle::None;
}

int64_t OutputDuration(const TConversionRequest& R, const TSourceInfo& Source) {
    int64_t StartMs = 0, LengthMs = 0;
    if (!CutRange(R.Cut, Source.Duration, StartMs, LengthMs)) return Source.Duration;
    if (LengthMs >= 0) return LengthMs * 1000;
    return Source.Duration < 0 ? -1 : std::max<int64_t>(Source.Duration - StartMs * 1000, 0);
}

int ClaimOutputFile(const std::u16string& Name) {
    return ClaimOutputName(FileSystemName(Name));
}

bool CutRange(const std::optional<TCutRequest>& Cut, int64_t DurationUs, int64_t& StartMs,
              int64_t& LengthMs) {
    if (!Cut) return false;
    // A source of unknown length cut to its end: only the start is known.
    if (!Cut->EndMs) {
        StartMs = Cut->StartMs;
        LengthMs = -1;
        return true;
    }
    if (*Cut->EndMs <= 0 || *Cut->EndMs <= Cut->StartMs) return false;
    int64_t Start = Cut->StartMs, End = *Cut->EndMs;
    if (DurationUs >= 0) {
        const int64_t D = DurationUs / 1000;
        if (Start < 0 || Start >= D) Start = 0;
        if (End <= Start || End > D) End = D;
    }
    StartMs = Start;
    LengthMs = End - Start;
    return true;
}

namespace {

// Rounds toward zero to an even number (7 gives 6, -3 gives -2).
int32_t EvenTowardZero(int32_t Value) {
    return Value - Value % 2;
}

// Lines of the input record are joined; those of the output record each end with CR LF, as
// the hook lines do.
void AddInputLine(std::string& Lines, const std::string& Line) {
    Lines += (Lines.empty() ? "" : "\r\n") + Line;
}

int32_t BitsPerSecond(int32_t Kbits) {
    // Kbit/s past two billion bit/s stop there rather than wrap to a negative rate.
    return SaturatingCast<int32_t>(Kbits * 1000.0);
}

// The sound alone is written unless the request keeps the dialog's rules.
bool SoundOnly(const TConversionRequest& R) {
    return !R.KeepVideo && FindSoundFormat(R.Format);
}

void SetHooks(const TConversionRequest& R, const TSourceInfo& Source, const TBuildContext& Context,
              TOutputOptions& O) {
    const THookRequest& H = R.Hooks;
    O.CustomHook = !H.External;
    if (!H.External) return;
    const THookAvailability Enabled = HookAvailability(H, Context);
    O.OptionLines += HookLines(H, Source, Context, Enabled);
    const bool AnyChecked = H.Imlib2Image || H.Imlib2Text || H.WaterMark || H.DemoImage || H.DemoText;
    O.BeforeHook = Enabled.Behaviour && H.Behaviour == hbBeforeHook && AnyChecked;
    if (Enabled.Behaviour && H.Behaviour == hbPTSPeriods && AnyChecked) O.HookPTSPeriods = H.PTSPeriods;
}

void SetPictures(const TConversionRequest& R, TOutputOptions& O) {
    O.FrameSize = R.FrameSize;
    O.FrameRate = R.FrameRate;
    O.FrameAspectRatio = R.AspectRatio;
    if (R.VideoBitrate) O.VideoBitrate = BitsPerSecond(*R.VideoBitrate);
    O.VideoCodec = R.VideoCodec;
    O.VideoTag = R.VideoTag;
    O.CopyTimestamp = R.CopyTimestamp;
    for (const std::string& Filter : R.VideoFilters)
        O.VideoFilters += (O.VideoFilters.empty() ? "" : ",") + Filter;
    auto Sides = [](const std::array<int32_t, 4>& From, std::array<int32_t*, 4> To) {
        for (size_t I = 0; I < To.size(); ++I) *To[I] = EvenTowardZero(From[I]);
    };
    if (R.Crop) Sides(*R.Crop, {&O.CropTop, &O.CropBottom, &O.CropLeft, &O.CropRight});
    if (R.Pad) Sides(*R.Pad, {&O.PadTop, &O.PadBottom, &O.PadLeft, &O.PadRight});
    if (R.Pad) O.PadColor = clBlack;
}

// The format's own rules: the dialog's codecs, or the sound alone with the picked encoder.
void SetFormatRules(const TConversionRequest& R, TOutputOptions& O) {
    const TSoundFormat* Format = FindSoundFormat(R.Format);
    if (!Format) return;
    if (SoundOnly(R)) {
        O.DisableVideo = true;
        O.VideoCodec.clear();
        if (Format->Encoder) O.AudioCodec = Format->Encoder;
        return;
    }
    if (Format->VideoCodec) O.VideoCodec = Format->VideoCodec;
    if (Format->AudioCodec) O.AudioCodec = Format->AudioCodec;
    if (Format->DropsVideo) O.DisableVideo = true;
}

// Every option line the request writes, by the engine's names.
void AddOptionLines(const TConversionRequest& R, TOutputOptions& O) {
    auto Add = [&O](const std::string& Line) { O.OptionLines += Line + "\r\n"; };
    if (!R.NoTags) Add("map_meta_data=0:0");
    if (!R.NoCover) Add("copy_cover=1");
    for (const std::string& Tag : R.Tags) Add("metadata=" + Tag);
    if (R.ReplayGain) Add("replaygain=1");
    if (R.Quality) Add(Format("aq=%g", *R.Quality));
    if (R.NoSplit) Add("segments=0");
    // The record's own fields are applied after the option lines and would undo a line that
    // sets the same thing: such lines go into the fields, by the rows that write them.
    for (const std::string& Line : R.OutputOptions) {
        std::string Value = Line;
        const std::string Name = SplitFirst(Value, "=", true);
        if (!ReadOutputFieldLine(Name, Value, O)) Add(Line);
    }
}

}  // namespace

TInputOptions BuildInputOptions(const TConversionRequest& R, const TSourceInfo& Source) {
    TInputOptions I;
    I.FileName = Source.FileName;
    I.ForceFormat = Source.ForcedFormat;
    int64_t CutStart = 0, CutLength = 0;
    if (CutRange(R.Cut, Source.Duration, CutStart, CutLength))
        I.StartTimeMs = static_cast<int32_t>(std::min<int64_t>(CutStart, INT32_MAX));
    // Not decoding the pictures at all is what makes a film's sound quick to extract.
    const TSoundFormat* Format = FindSoundFormat(R.Format);
    if (Format && (SoundOnly(R) || Format->SkipsVideo)) AddInputLine(I.OptionLines, "vn=1");
    for (const std::string& Line : R.InputOptions) AddInputLine(I.OptionLines, Line);
    return I;
}

TSoundCopyDecision SoundCopyFor(const TConversionRequest& R, const TSourceInfo& Source) {
    TSoundRequest Q;
    Q.Format = FormatSuffix(R.Format).substr(1);
    Q.Encoder = R.Codec;
    // A codec the format's rules write is no choice of the user's (FLAC in the dialog's Ogg).
    if (const TSoundFormat* Format = FindSoundFormat(R.Format); Format && !SoundOnly(R) && Format->AudioCodec)
        Q.FormatCodec = Format->AudioCodec;
    Q.SampleRate = R.Rate.has_value();
    Q.Channels = R.Channels.has_value();
    Q.Volume = R.Volume && *R.Volume != 256;
    Q.BitRate = R.Bitrate.has_value();
    Q.Quality = R.Quality.has_value();
    for (const std::string& Line : R.OutputOptions)
        if (const std::string Name = Line.substr(0, Line.find('=')); IsSoundOptionName(Name)) {
            Q.SoundOption = Name;
            break;
        }
    int64_t CutStart = 0, CutLength = 0;
    Q.Cut = CutRange(R.Cut, Source.Duration, CutStart, CutLength);
    return DecideSoundCopy(Source.Sound, Q);
}

TTaskRecords BuildTaskRecords(const TConversionRequest& R, const TSourceInfo& Source,
                              const TBuildContext& Context) {
    TTaskRecords T;
    T.In = BuildInputOptions(R, Source);
    TOutputOptions& O = T.Out;
    if (R.Channels) O.AudioChannels = *R.Channels;
    if (R.Rate) O.AudioSampleRate = *R.Rate;
    if (R.Volume) O.AudioVolume = *R.Volume;
    if (R.Bitrate) O.AudioBitrate = BitsPerSecond(*R.Bitrate);
    SetPictures(R, O);
    int64_t CutStart = 0, CutLength = 0;
    if (CutRange(R.Cut, Source.Duration, CutStart, CutLength) && CutLength >= 0)
        O.RecordingTimeMs = static_cast<int32_t>(std::min<int64_t>(CutLength, INT32_MAX));
    SetHooks(R, Source, Context, O);
    SetFormatRules(R, O);
    if (!R.Codec.empty()) O.AudioCodec = R.Codec;
    O.Metadata.TimeStamp = 0;
    O.DisableSubtitle = true;
    const std::string Suffix = FormatSuffix(R.Format);
    O.FileExt = Suffix;
    const std::u16string Chosen =
        R.OutputName.empty() ? NameFromTags(R, Source, R.OutputFolder) : R.OutputName;
    O.FileName = Chosen.empty() ? NumberedOutputName(OutputBaseName(R.OutputFolder, Source.FileName), Suffix,
                                                     R.Overwrite, Context)
                                : ChosenOutputName(Chosen, Suffix, R.Overwrite, Context);
    AddOptionLines(R, O);
    T.Sound = R.Reencode ? TSoundCopyDecision{false, R.ReencodeReason} : SoundCopyFor(R, Source);
    if (T.Sound.Copy) {
        // No codec field either: the engine would apply it after the line.
        O.AudioCodec.clear();
        O.OptionLines += "acodec=copy\r\n";
    }
    return T;
}

}  // namespace zembra
