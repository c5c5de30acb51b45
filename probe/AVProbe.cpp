#include "probe/AVProbe.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegLoader.h"
#include "logging/FFmpegLogger.h"
#include "protocol/UnicodeProtocol.h"
#include "util/Formatting.h"
#include "util/SpecialFiles.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

constexpr int kLogError = AV_LOG_ERROR;
constexpr int kLogWarning = AV_LOG_WARNING;
constexpr int kNotLoaded = -1;  // the value of every counter while nothing is open

const char kFileNotLoaded[] = "file not loaded.";

// Whether any demuxer recognises the data at URL. Today's library reports an unrecognised file
// and a recognised one with a broken header with the same code; the old one told them apart.
bool ContainerRecognised(const std::string& URL) {
    int Error = 0;
    AVIOContext* Pb = nullptr;
    TUnicodeIOPtr UnicodePb;
    if (IsUnicodeURL(URL)) {
        UnicodePb.reset(OpenUnicodeIO(URL, 0, Error));
        Pb = UnicodePb.get();
    } else if (lavf.avio_open2(&Pb, URL.c_str(), AVIO_FLAG_READ, nullptr, nullptr) < 0) {
        Pb = nullptr;
    }
    if (!Pb) return false;
    const AVInputFormat* Found = nullptr;
    const int Score = lavf.av_probe_input_buffer2(Pb, &Found, URL.c_str(), nullptr, 0, 0);
    if (!UnicodePb) lavf.avio_closep(&Pb);
    return Score >= 0 && Found;
}

int64_t ToMicroseconds(int64_t Value, AVRational TimeBase) {
    return lavu.av_rescale_q(Value, TimeBase, AVRational{1, AV_TIME_BASE});
}

// The number a tag starts with ("2009-05-01" gives 2009, "3/12" gives 3); 0 when none.
int32_t LeadingNumber(const std::string& Text) {
    const char* P = Text.c_str();
    while (*P == ' ') ++P;
    char* End = nullptr;
    errno = 0;
    const long Value = std::strtol(P, &End, 10);
    if (End == P || errno == ERANGE || Value < INT32_MIN || Value > INT32_MAX) return 0;
    return static_cast<int32_t>(Value);
}

// The container's tags, and those of its first sound stream: Ogg files and some Matroska files
// keep a song's tags there.
struct TTagSources {
    // One dictionary alone (a stream's, a program's) converts implicitly.
    TTagSources(const AVDictionary* Own, const AVDictionary* AudioStream = nullptr)
        : Container(Own), Audio(AudioStream) {}
    const AVDictionary* Container;
    const AVDictionary* Audio;
};

TTagSources TagSources(const AVFormatContext* Context) {
    TTagSources Sources{Context->metadata, nullptr};
    for (unsigned I = 0; I < Context->nb_streams; ++I)
        if (Context->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            Sources.Audio = Context->streams[I]->metadata;
            break;
        }
    return Sources;
}

std::string Tag(const TTagSources& Metadata, const char* Key) {
    const std::string Value = GetTagValue(Metadata.Container, Key, "");
    return Value.empty() ? GetTagValue(Metadata.Audio, Key, "") : Value;
}

// Tags whose generic names changed since: the first key that is present.
std::string Tag(const TTagSources& Metadata, const char* Key, const char* NewerKey) {
    std::string Value = Tag(Metadata, Key);
    return Value.empty() ? Tag(Metadata, NewerKey) : Value;
}

int32_t ClampToInt32(int64_t Value) {
    if (Value > INT32_MAX) return INT32_MAX;
    if (Value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(Value);
}

std::string JoinLines(const std::vector<std::string>& Lines) {
    std::string Text;
    for (size_t I = 0; I < Lines.size(); ++I) {
        if (I) Text += "\r\n";
        Text += Lines[I];
    }
    return Text;
}

}  // namespace

std::string ProbeRateText(double Rate, const char* Unit) {
    const long long V = std::llround(Rate * 100);
    if (V % 100) return Format(", %3.2f %s", Rate, Unit);
    if (V % (100 * 1000)) return Format(", %1.0f %s", Rate, Unit);
    return Format(", %1.0fk %s", Rate / 1000, Unit);
}

std::string ProbeStartTimeText(int64_t Microseconds) {
    // Both parts printed with their own sign would read "-1.-400000".
    const bool Negative = Microseconds < 0;
    const uint64_t Magnitude =
        Negative ? 0 - static_cast<uint64_t>(Microseconds) : static_cast<uint64_t>(Microseconds);
    return Format("%s%llu.%.6llu", Negative ? "-" : "",
                  static_cast<unsigned long long>(Magnitude / AV_TIME_BASE),
                  static_cast<unsigned long long>(Magnitude % AV_TIME_BASE));
}

TCustomAVProbe::~TCustomAVProbe() {
    TCustomAVProbe::Close();
}

void TCustomAVProbe::CheckLibraries() {
    static const struct {
        TLibraryID Id;
        const char* Message;
    } kNeeded[] = {
        {libAVCodec, "LibAVCodec not loaded."},
        {libAVFormat, "LibAVFormat not loaded."},
        {libAVUtil, "LibAVUtil not loaded."},
        {libSwScale, "LibSwScale not loaded."},
    };
    for (const auto& Library : kNeeded)
        if (!FFLoader().IsLoaded(Library.Id)) throw AVProbeException(Library.Message);
}

void TCustomAVProbe::Log(int Level, const std::string& Text) {
    if (lavu.av_log)
        lavu.av_log(nullptr, Level, "%s\n", Text.c_str());
    else
        GetLogger().Log(this, NumericToLogLevel(Level), Text);
}

void TCustomAVProbe::Fail(int Level, const std::string& Text) {
    Log(Level, Text);
    FLastError = Text;
}

bool TCustomAVProbe::CheckLoaded() {
    if (FContext) return true;
    Fail(kLogWarning, kFileNotLoaded);
    return false;
}

AVRational TCustomAVProbe::PatchedTimeBase(AVStream* Stream) {
    // Every rescaling divides by it; a stream without one counts in whole ticks.
    if (Stream->time_base.den == 0) Stream->time_base.den = Stream->time_base.num ? Stream->time_base.num : 1;
    return Stream->time_base;
}

bool TCustomAVProbe::IsImage2() const {
    return FContext && FContext->iformat && SameText(FContext->iformat->name, "image2");
}

void TCustomAVProbe::ResetCounters() {
    FStreamCount = kNotLoaded;
    FProgramCount = kNotLoaded;
    FAudioStreamCount = kNotLoaded;
    FVideoStreamCount = kNotLoaded;
    FSubtitleStreamCount = kNotLoaded;
    FFirstAudioStream = kNotLoaded;
    FFirstVideoStream = kNotLoaded;
    FFirstSubtitleStream = kNotLoaded;
}

void TCustomAVProbe::CountStreams() {
    ResetCounters();
    FStreamCount = static_cast<int32_t>(FContext->nb_streams);
    FProgramCount = static_cast<int32_t>(FContext->nb_programs);
    FAudioStreamCount = 0;
    FVideoStreamCount = 0;
    FSubtitleStreamCount = 0;
    for (int I = 0; I < FStreamCount; ++I) {
        switch (FContext->streams[I]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                if (FVideoStreamCount++ == 0) FFirstVideoStream = I;
                break;
            case AVMEDIA_TYPE_AUDIO:
                if (FAudioStreamCount++ == 0) FFirstAudioStream = I;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                if (FSubtitleStreamCount++ == 0) FFirstSubtitleStream = I;
                break;
            default:
                break;
        }
    }
}

void TCustomAVProbe::Close() {
    FForcedFormat.clear();
    FOwnedContext.reset();
    FUnicodeIO.reset();
    FContext = nullptr;
    FOwnsContext = false;
    ResetCounters();
}

bool TCustomAVProbe::AttachContext(AVFormatContext* Context) {
    CheckLibraries();
    Close();
    if (!Context) return false;
    FContext = Context;
    FOwnsContext = false;
    CountStreams();
    return true;
}

std::string TCustomAVProbe::OpenFailureText(const std::u16string& FileName, const std::string& URL, int Code,
                                            bool Forced) const {
    int Legacy;
    if (Code == AVERROR(ENOENT))
        Legacy = -2;
    else if (Code == AVERROR(EIO) || Code == AVERROR_EOF)
        Legacy = -5;
    else if (Code == AVERROR(ENOMEM))
        Legacy = -12;
    else if (Code == AVERROR(EINVAL))
        Legacy = -22;
    else if (Code == AVERROR(EDOM))
        Legacy = -33;
    else if (Code == AVERROR(EILSEQ) || Code == AVERROR_DEMUXER_NOT_FOUND)
        Legacy = -42;
    else if (Code == AVERROR_INVALIDDATA)
        Legacy = !Forced && !ContainerRecognised(URL) ? -42 : -22;
    else
        Legacy = 0;
    return OpenErrorText(FileName, Legacy);
}

bool TCustomAVProbe::LoadFile(const std::u16string& FileName, const std::string& FormatName) {
    CheckLibraries();
    Close();

    const AVInputFormat* Forced = nullptr;
    if (!FormatName.empty()) {
        Forced = lavf.av_find_input_format(FormatName.c_str());
        if (!Forced) {
            FLastError = Format("Unknown input format: %s", FormatName.c_str());
            return false;
        }
    }

    if (IsSpecialFile(FileName)) {
        FLastError = SpecialFileText(FileName);
        return false;
    }
    const std::string URL = FileNameToURL(FileName);
    AVFormatContext* Ic = lavf.avformat_alloc_context();
    if (!Ic) {
        FLastError = OpenErrorText(FileName, -12);
        return false;
    }
    // A container that opens its own files (image sequences) cannot take an I/O context.
    if (IsUnicodeURL(URL) && !(Forced && (Forced->flags & AVFMT_NOFILE))) {
        int Error = 0;
        FUnicodeIO.reset(OpenUnicodeIO(URL, 0, Error));
        if (!FUnicodeIO) {
            lavf.avformat_free_context(Ic);
            FLastError = OpenFailureText(FileName, URL, Error, Forced != nullptr);
            return false;
        }
        Ic->pb = FUnicodeIO.get();
    }

    // On failure the library frees the context it was given.
    const int Opened = lavf.avformat_open_input(&Ic, URL.c_str(), Forced, nullptr);
    if (Opened < 0) {
        const std::string Error = OpenFailureText(FileName, URL, Opened, Forced != nullptr);
        Close();
        FLastError = Error;
        return false;
    }
    FOwnedContext.reset(Ic);
    FContext = Ic;
    FOwnsContext = true;

    int InfoResult;
    {
        TCodecLockGuard Guard;
        InfoResult = lavf.avformat_find_stream_info(Ic, nullptr);
    }
    if (InfoResult < 0) {
        Close();
        FLastError = Format("%s: could not find codec parameters", Utf16ToUtf8(FileName).c_str());
        return false;
    }

    CountStreams();
    FForcedFormat = FormatName;
    return true;
}

bool TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& Info) {
    Info = TFileStreamInfo{};
    if (!CheckLoaded()) return false;
    const TTagSources Metadata = TagSources(FContext);
    Info.StartTime = FContext->start_time == AV_NOPTS_VALUE ? -1 : FContext->start_time;
    Info.Duration = FContext->duration == AV_NOPTS_VALUE ? -1 : FContext->duration;
    Info.BitRate = ClampToInt32(FContext->bit_rate);
    // The context no longer carries time stamp, year and track: their tags do.
    Info.TimeStamp = 0;
    // A stream's own creation time is no file's time stamp.
    const std::string Created = Tag(Metadata.Container, "creation_time");
    int64_t Microseconds = 0;
    if (!Created.empty() && lavu.av_parse_time(&Microseconds, Created.c_str(), 0) >= 0)
        Info.TimeStamp = Microseconds / AV_TIME_BASE;
    Info.Year = LeadingNumber(Tag(Metadata, "year", "date"));
    Info.Track = LeadingNumber(Tag(Metadata, "track"));
    Info.Title = Tag(Metadata, "title");
    Info.Author = Tag(Metadata, "author", "artist");
    Info.Copyright = Tag(Metadata, "copyright");
    Info.Comment = Tag(Metadata, "comment");
    Info.Album = Tag(Metadata, "album");
    Info.Genre = Tag(Metadata, "genre");
    return true;
}

bool TCustomAVProbe::GetVideoStreamInfo(int StreamIndex, TVideoStreamInfo& Info) {
    Info = TVideoStreamInfo{};
    if (!CheckLoaded()) return false;
    if (StreamIndex < 0) {
        if (FFirstVideoStream < 0) {
            Fail(kLogError, "no video stream.");
            return false;
        }
        StreamIndex = FFirstVideoStream;
    }
    if (StreamIndex >= static_cast<int>(FContext->nb_streams)) {
        Fail(kLogError, Format("stream index #%d is invalid.", StreamIndex));
        return false;
    }
    AVStream* St = FContext->streams[StreamIndex];
    const AVCodecParameters* Par = St->codecpar;
    if (Par->codec_type != AVMEDIA_TYPE_VIDEO) {
        Fail(kLogError, Format("stream #%d is not video stream.", StreamIndex));
        return false;
    }
    const AVRational TimeBase = PatchedTimeBase(St);
    Info.Language = Tag(St->metadata, "language");
    Info.CodecName = CodecDescription(Par, false);
    Info.StartTimeRaw = St->start_time;
    if (St->start_time != AV_NOPTS_VALUE) Info.StartTime = ToMicroseconds(St->start_time, TimeBase);
    Info.DurationRaw = St->duration;
    if (St->duration != AV_NOPTS_VALUE) Info.Duration = ToMicroseconds(St->duration, TimeBase);
    Info.BitRate = ClampToInt32(Par->bit_rate);
    Info.Height = Par->height;
    Info.Width = Par->width;
    // An unset sample aspect means square pixels, not a display aspect of 0.
    AVRational Sar = St->sample_aspect_ratio.num ? St->sample_aspect_ratio : Par->sample_aspect_ratio;
    if (Sar.num == 0 || Sar.den == 0) Sar = AVRational{1, 1};
    Info.DisplayAspectRatio = Par->height ? static_cast<float>(av_q2d(Sar) * Par->width / Par->height) : 0.0f;
    Info.PixelFormat = Par->format;
    Info.FrameRateNum = St->r_frame_rate.num;
    Info.FrameRateDen = St->r_frame_rate.den;
    return true;
}

std::u16string TCustomAVProbe::GetFileName() {
    if (!CheckLoaded()) return {};
    return FContext->url ? URLToFileName(FContext->url) : std::u16string();
}

std::string TCustomAVProbe::GetFormatName() {
    if (!CheckLoaded()) return {};
    return FContext->iformat && FContext->iformat->name ? FContext->iformat->name : "";
}

int64_t TCustomAVProbe::LibraryFileSize() const {
    // As the library used to report it: 0 when the size cannot be had.
    if (!FContext->pb) return 0;
    const int64_t Size = lavf.avio_size(FContext->pb);
    return Size > 0 ? Size : 0;
}

int64_t TCustomAVProbe::GetFileSize() {
    if (!CheckLoaded()) return -1;
    const int64_t Size = LibraryFileSize();
    if (Size > 0) return Size;
    const std::u16string Name = GetFileName();
    if (FileExistsW(Name)) return FileSizeW(Name);
    return Size;
}

std::string TCustomAVProbe::StreamLine(int Index) {
    AVStream* St = FContext->streams[Index];
    const AVCodecParameters* Par = St->codecpar;
    std::string Line = Format("Stream #%d", Index);
    if (FContext->iformat && (FContext->iformat->flags & AVFMT_SHOW_IDS)) Line += Format("[0x%x]", St->id);
    const std::string Language = Tag(St->metadata, "language");
    if (!Language.empty()) Line += Format("(%s)", Language.c_str());

    const AVRational TimeBase = PatchedTimeBase(St);
    int64_t Divisor = lavu.av_gcd(TimeBase.num, TimeBase.den);
    if (Divisor == 0) Divisor = 1;
    Line +=
        Format(", %d/%d", static_cast<int>(TimeBase.num / Divisor), static_cast<int>(TimeBase.den / Divisor));

    // The one-line description takes a codec context; the stream carries only its parameters.
    char Description[256] = {0};
    TCodecContextPtr Codec(lavc.avcodec_alloc_context3(nullptr));
    if (Codec && lavc.avcodec_parameters_to_context(Codec.get(), Par) >= 0)
        lavc.avcodec_string(Description, sizeof(Description), Codec.get(), 0);
    Line += ": ";
    Line += Description;

    const AVRational Sar = St->sample_aspect_ratio;
    if (Sar.num && av_cmp_q(Sar, Par->sample_aspect_ratio) != 0) {
        int DarNum = 0, DarDen = 0;
        lavu.av_reduce(&DarNum, &DarDen, static_cast<int64_t>(Par->width) * Sar.num,
                       static_cast<int64_t>(Par->height) * Sar.den, 1024 * 1024);
        Line = Format("%s, PAR %d:%d DAR %d:%d", Line.c_str(), Sar.num, Sar.den, DarNum, DarDen);
    }

    if (Par->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (St->r_frame_rate.num && St->r_frame_rate.den)
            Line += ProbeRateText(av_q2d(St->r_frame_rate), "tbr");
        if (TimeBase.num && TimeBase.den) Line += ProbeRateText(1 / av_q2d(TimeBase), "tbn");
        // Today a stream's decoder time base exists only inside the library; a context made from
        // the stream's parameters leaves it unset, and then the rate is left out.
        if (Codec && Codec->time_base.num && Codec->time_base.den)
            Line += ProbeRateText(1 / av_q2d(Codec->time_base), "tbc");
    }

    if (St->start_time != AV_NOPTS_VALUE)
        Line += ", StartTime: " + ProbeStartTimeText(ToMicroseconds(St->start_time, TimeBase));
    if (St->duration != AV_NOPTS_VALUE)
        Line += ", Duration: " + FormatDuration(ToMicroseconds(St->duration, TimeBase));
    else
        Line += ", Duration: N/A";
    return Line;
}

std::string TCustomAVProbe::GetFileInfoText() {
    if (!CheckLoaded()) return {};
    TFileStreamInfo Info;
    GetFileStreamInfo(Info);
    std::vector<std::string> Lines;
    Lines.push_back("File Name: " + Utf16ToUtf8(GetFileName()));
    Lines.push_back("Format Name: " + GetFormatName());
    const char* LongName =
        FContext->iformat && FContext->iformat->long_name ? FContext->iformat->long_name : "";
    Lines.push_back(Format("Format Long Name: %s", LongName));
    Lines.push_back("File Size: " + FormatFileSize(GetFileSize()));
    if (FContext->start_time != AV_NOPTS_VALUE)
        Lines.push_back("StartTime: " + ProbeStartTimeText(FContext->start_time));
    if (FContext->duration != AV_NOPTS_VALUE)
        Lines.push_back("Duration: " + FormatDuration(FContext->duration));
    else
        Lines.push_back("Duration: N/A");
    if (Info.BitRate >= 1)
        Lines.push_back(Format("Bit Rate: %d Kbps", Info.BitRate / 1000));
    else
        Lines.push_back("Bit Rate: N/A");
    if (Info.TimeStamp > 0)
        Lines.push_back("Time Stamp: " +
                        FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocal(Info.TimeStamp)));
    const std::pair<const char*, const std::string*> Tags[] = {
        {"Title", &Info.Title},     {"Author", &Info.Author}, {"Copyright", &Info.Copyright},
        {"Comment", &Info.Comment}, {"Album", &Info.Album},   {"Genre", &Info.Genre},
    };
    for (const auto& [Label, Value] : Tags)
        if (!Value->empty()) Lines.push_back(Format("%s: %s", Label, Value->c_str()));
    if (Info.Year > 0) Lines.push_back(Format("Year: %d", Info.Year));
    if (Info.Track > 0) Lines.push_back(Format("Track: #%d", Info.Track));

    if (FContext->nb_programs == 0) {
        for (unsigned I = 0; I < FContext->nb_streams; ++I) Lines.push_back(StreamLine(static_cast<int>(I)));
    } else {
        for (unsigned P = 0; P < FContext->nb_programs; ++P) {
            const AVProgram* Program = FContext->programs[P];
            // Today's demuxers name the service with the "service_" keys.
            std::string Provider = Tag(Program->metadata, "provider_name", "service_provider");
            std::string Name = Tag(Program->metadata, "name", "service_name");
            if (Provider.empty()) Provider = "N/A";
            if (Name.empty()) Name = "N/A";
            Lines.push_back(Format("Program %d %s@%s", Program->id, Provider.c_str(), Name.c_str()));
            for (unsigned K = 0; K < Program->nb_stream_indexes; ++K) {
                const unsigned Index = Program->stream_index[K];
                // A program may name a stream the file never delivered.
                if (Index < FContext->nb_streams) Lines.push_back(StreamLine(static_cast<int>(Index)));
            }
        }
    }
    return JoinLines(Lines);
}

}  // namespace zembra
