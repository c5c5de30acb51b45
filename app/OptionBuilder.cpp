#include "app/OptionBuilder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>

#include "engine/OptionValues.h"
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

// The text of an item up to its first blank, or the whole text when the blank comes first or
// there is none.
std::string UpToFirstBlank(const std::string& Item) {
    const size_t Blank = Item.find(' ');
    if (Blank == std::string::npos || Blank == 0) return Item;
    return Item.substr(0, Blank);
}

// The dialog trims a hook text edit, writes it back, and fills an empty one.
std::string HookText(std::string& Edit) {
    Edit = Trim(Edit);
    if (Edit.empty()) Edit = kDefaultHookText;
    return Edit;
}

std::string HookLines(TOptionChoices& C, const TSourceInfo& Source, const TBuildContext& Context,
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
                           HookText(C.Imlib2TextEdit), "-x", "10", "-y", Y},
                          HasBlank(Module));
    }
    if (C.WaterMark && Enabled.WaterMark) {
        const std::u16string Module = Folder + kWaterMarkModule;
        const std::u16string Picture = Folder + kWaterMarkPicture;
        Lines += HookLine({U8(Module), "-f", U8(Picture), "-m", Number(C.WaterMarkMode ? 1 : 0)},
                          HasBlank(Module) || HasBlank(Picture));
    }
    if (C.DemoHookImage && Enabled.DemoHookImage) {
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
    if (C.DemoHookText && Enabled.DemoHookText) {
        const std::u16string Module = Folder + kDemoHookModule;
        Lines += HookLine({U8(Module), "-t", HookText(C.DemoHookTextEdit), "-tx", "10", "-ty", "10", "-fc",
                           "FFFFFF", "-fn", "Tahoma", "-fs", "16", "-fst", "BU"},
                          HasBlank(Module));
    }
    return Lines;
}

// The encoder the "audio codec" choice names; empty for "Auto" and anything unknown.
std::string AudioEncoderOf(const TOptionChoices& C) {
    const std::string Codec = LowerCase(C.AudioCodec);
    if (Codec == "aac") return "libfaac";
    if (Codec == "ac3") return "ac3";
    if (Codec == "flac") return "flac";
    if (Codec == "mp3") return "libmp3lame";
    return "";
}

std::string VideoFilters(const TOptionChoices& C) {
    std::string Filters;
    auto Add = [&](const std::string& Item) { Filters += (Filters.empty() ? "" : ",") + Item; };
    if (C.VertFlip) Add("vflip");
    if (C.HoriFlip) Add("hflip");
    if (C.Negate) Add("negate");
    if (C.Scale && !Trim(C.ScaleText).empty()) Add("scale=" + Trim(C.ScaleText));
    if (C.Rotate) Add("rotate=" + Number(StrToIntDef(Trim(C.RotateText), 45)));
    if (C.SetPTS && !Trim(C.SetPTSText).empty()) Add("setpts=" + Trim(C.SetPTSText));
    return Filters;
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
    Source.Sound = SourceSoundOf(Probe);
    return Source;
}

bool IsDialogFormat(const std::string& Format) {
    for (const char* Item : kOutputFormats)
        if (SameText(Item, Format)) return true;
    return false;
}

std::string FormatSuffix(const std::string& Format) {
    return "." + LowerCase(Format);
}

THookAvailability HookAvailability(const TOptionChoices& C, const TBuildContext& Context) {
    const std::u16string Folder = HookFolderOf(Context);
    THookAvailability A;
    A.Imlib2Image = C.ExternalHook && Exists(Context, Folder + kImlib2Module);
    A.Imlib2Text = A.Imlib2Image;
    A.WaterMark = C.ExternalHook && Exists(Context, Folder + kWaterMarkModule);
    A.DemoHookImage = A.DemoHookText = Exists(Context, Folder + kDemoHookModule);
    A.Dancing = A.Imlib2Image && C.Imlib2Image;
    A.Imlib2TextEdit = A.Scrolling = A.Imlib2Text && C.Imlib2Text;
    A.WaterMarkMode = A.WaterMark && C.WaterMark;
    A.DemoHookTextEdit = A.DemoHookText && C.DemoHookText;
    A.Behaviour = (A.Imlib2Image && C.Imlib2Image) || (A.Imlib2Text && C.Imlib2Text) ||
                  (A.WaterMark && C.WaterMark) || (A.DemoHookImage && C.DemoHookImage) ||
                  (A.DemoHookText && C.DemoHookText);
    A.PTSPeriodsEdit = A.Behaviour && C.HookBehaviour == hbPTSPeriods;
    return A;
}

int32_t EvenTowardZero(int32_t Value) {
    return Value - Value % 2;
}

std::string HookLine(const std::vector<std::string>& Arguments, bool Pipe) {
    std::string Line = "vhook=";
    for (size_t I = 0; I < Arguments.size(); ++I) {
        if (I > 0) Line += Pipe ? "|" : " ";
        Line += Arguments[I];
    }
    return Line + "\r\n";
}

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

std::u16string OutputBaseName(const std::u16string& OutPath, const std::u16string& SourceFileName) {
    std::u16string Name = ExtractFileNameW(SourceFileName);
    const size_t Dot = Name.rfind(u'.');
    if (Dot != std::u16string::npos) Name.erase(Dot);
    const std::u16string Folder =
        OutPath == Utf8ToUtf16(kSameAsInput) ? ExtractFilePathW(SourceFileName) : OutPath;
    return Folder + Name;
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

}  // namespace

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

std::u16string ChosenOutputName(const std::u16string& Base, const std::string& Suffix, bool Overwrite,
                                const TBuildContext& Context) {
    const std::u16string Ext = Utf8ToUtf16(Suffix);
    return FirstFreeName(
        [&](int N) {
            return N == 0 ? Base + Ext : Base + u" (" + Utf8ToUtf16(std::to_string(N)) + u")" + Ext;
        },
        Overwrite, Context);
}

int ClaimOutputFile(const std::u16string& Name) {
    return ClaimOutputName(FileSystemName(Name));
}

bool CutRange(const TOptionChoices& C, int64_t DurationUs, int64_t& StartMs, int64_t& LengthMs) {
    if (!C.CutClip || C.CutEndMs <= 0 || C.CutEndMs <= C.CutStartMs) return false;
    int64_t Start = C.CutStartMs, End = C.CutEndMs;
    if (DurationUs >= 0) {
        const int64_t D = DurationUs / 1000;
        if (Start < 0 || Start >= D) Start = 0;
        if (End <= Start || End > D) End = D;
    }
    StartMs = Start;
    LengthMs = End - Start;
    return true;
}

TOutputOptions BuildOutputOptions(TOptionChoices& C, const TSourceInfo& Source,
                                  const TBuildContext& Context) {
    TOutputOptions O;
    const std::string Suffix = FormatSuffix(C.Format);

    if (C.AudioChannels > 0) O.AudioChannels = C.AudioChannels;
    if (C.AudioSampleRate != "Auto") O.AudioSampleRate = StrToIntDef(C.AudioSampleRate, 22050);
    if (C.AdjustVolume) O.AudioVolume = StrToIntDef(C.AudioVolume, -1);
    if (C.FrameSize != "Auto - Original") O.FrameSize = UpToFirstBlank(C.FrameSize);
    if (C.FrameRate != "Auto") O.FrameRate = C.FrameRate;
    if (C.AspectRatio != "Auto") O.FrameAspectRatio = C.AspectRatio;
    // Typed kbit/s past two billion bit/s stop there rather than wrap to a negative rate.
    if (C.VideoBitRateChecked)
        O.VideoBitrate = SaturatingCast<int32_t>(StrToIntDef(C.VideoBitRate, 200) * 1000.0);
    if (C.AudioBitRateChecked)
        O.AudioBitrate = SaturatingCast<int32_t>(StrToIntDef(C.AudioBitRate, 64) * 1000.0);

    if (C.VideoCodec != "Auto") {
        const std::string Codec = LowerCase(C.VideoCodec);
        if (Codec == "divx") {
            O.VideoCodec = "mpeg4";
            O.VideoTag = "DIVX";
        } else if (Codec == "xvid") {
            O.VideoCodec = "libxvid";
        } else if (Codec == "x264") {
            O.VideoCodec = "libx264";
        }
    }
    if (const std::string Encoder = AudioEncoderOf(C); !Encoder.empty()) O.AudioCodec = Encoder;

    int64_t CutStart = 0, CutLength = 0;
    if (CutRange(C, Source.Duration, CutStart, CutLength))
        O.RecordingTimeMs = static_cast<int32_t>(std::min<int64_t>(CutLength, INT32_MAX));

    const THookAvailability Enabled = HookAvailability(C, Context);
    if (C.ExternalHook) {
        O.OptionLines += HookLines(C, Source, Context, Enabled);
        const bool AnyChecked =
            C.Imlib2Image || C.Imlib2Text || C.WaterMark || C.DemoHookImage || C.DemoHookText;
        O.BeforeHook = Enabled.Behaviour && C.HookBehaviour == hbBeforeHook && AnyChecked;
        if (Enabled.Behaviour && C.HookBehaviour == hbPTSPeriods && AnyChecked)
            O.HookPTSPeriods = C.PTSPeriods;
    }
    O.CustomHook = !C.ExternalHook;
    O.CopyTimestamp = C.CopyTimestamp;
    if (C.KeepTags) O.OptionLines += "map_meta_data=0:0\r\ncopy_cover=1\r\n";
    O.VideoFilters = VideoFilters(C);

    if (IsDialogFormat(C.Format)) {
        if (Suffix == ".ogg") {
            O.VideoCodec = "libtheora";
            O.AudioCodec = "flac";
        } else if (Suffix == ".wma") {
            O.DisableVideo = true;
            O.AudioCodec = "wmav2";
        }
    }
    O.Metadata.TimeStamp = 0;

    if (C.Crop) {
        O.CropTop = EvenTowardZero(StrToIntDef(C.CropEdits[0], 0));
        O.CropBottom = EvenTowardZero(StrToIntDef(C.CropEdits[1], 0));
        O.CropLeft = EvenTowardZero(StrToIntDef(C.CropEdits[2], 0));
        O.CropRight = EvenTowardZero(StrToIntDef(C.CropEdits[3], 0));
    }
    if (C.Pad) {
        O.PadTop = EvenTowardZero(StrToIntDef(C.PadEdits[0], 0));
        O.PadBottom = EvenTowardZero(StrToIntDef(C.PadEdits[1], 0));
        O.PadLeft = EvenTowardZero(StrToIntDef(C.PadEdits[2], 0));
        O.PadRight = EvenTowardZero(StrToIntDef(C.PadEdits[3], 0));
        O.PadColor = clBlack;
    }

    O.FileExt = Suffix;
    O.FileName = C.OutputName.empty() ? NumberedOutputName(OutputBaseName(C.OutPath, Source.FileName), Suffix,
                                                           C.Overwrite, Context)
                                      : ChosenOutputName(C.OutputName, Suffix, C.Overwrite, Context);
    O.DisableSubtitle = true;
    if (C.CopySound && SoundCopyFor(C, Source).Copy) ApplySoundCopy(O);
    return O;
}

TSoundCopyDecision SoundCopyFor(const TOptionChoices& C, const TSourceInfo& Source) {
    TSoundRequest Request;
    Request.Format = FormatSuffix(C.Format).substr(1);
    // The format's own codec rules (FLAC in the dialog's ogg, say) are no choice of the user's.
    Request.Encoder = AudioEncoderOf(C);
    if (IsDialogFormat(C.Format) && Request.Format == "ogg") Request.FormatCodec = "flac";
    Request.SampleRate = C.AudioSampleRate != "Auto";
    Request.Channels = C.AudioChannels > 0;
    Request.Volume = C.AdjustVolume && StrToIntDef(C.AudioVolume, -1) != 256;
    Request.BitRate = C.AudioBitRateChecked;
    int64_t CutStart = 0, CutLength = 0;
    Request.Cut = CutRange(C, Source.Duration, CutStart, CutLength);
    return DecideSoundCopy(Source.Sound, Request);
}

TInputOptions BuildInputOptions(const TOptionChoices& C, const TSourceInfo& Source) {
    TInputOptions I;
    I.FileName = Source.FileName;
    I.ForceFormat = Source.ForcedFormat;
    int64_t CutStart = 0, CutLength = 0;
    if (CutRange(C, Source.Duration, CutStart, CutLength))
        I.StartTimeMs = static_cast<int32_t>(std::min<int64_t>(CutStart, INT32_MAX));
    const std::string Name = LowerCase(C.Format);
    if (IsDialogFormat(C.Format) && std::strstr("aac ac3 mp2 mp3 wav wma", Name.c_str()) != nullptr)
        I.OptionLines = "vn=1";
    return I;
}

}  // namespace zembra
