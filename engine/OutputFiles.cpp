// Creating output files: format choice, the kinds of stream wanted, metadata, opening the file
// for writing, muxing parameters and joining.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "engine/ReplayGainTags.h"
#include "logging/FFmpegLogger.h"
#include "protocol/UnicodeProtocol.h"
#include "util/NumericCasts.h"
#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

bool IsResizingFilter(const std::string& Filters) {
    std::string Rest = LowerCase(Filters);
    while (!Rest.empty()) {
        std::string Element = SplitFirst(Rest, ",", true);
        const std::string Name = Trim(SplitFirst(Element, "=", true));
        if (Name == "crop" || Name == "rotate" || Name == "scale" || Name == "transpose") return true;
    }
    return false;
}

// Audio muxers whose default video codec only carries cover art (mp3, flac: png) do not make
// video wanted, just as they did not when they had no default video codec.
bool DefaultVideoIsCoverArt(const AVOutputFormat* Format) {
    return Format->mime_type && std::string(Format->mime_type).rfind("audio/", 0) == 0;
}

// Whether two names are the same file on disk.
bool SameFile(const std::u16string& A, const std::u16string& B) {
    struct stat SA {
    }, SB{};
    if (::stat(FileSystemName(A).c_str(), &SA) != 0 || ::stat(FileSystemName(B).c_str(), &SB) != 0)
        return false;
    return SA.st_dev == SB.st_dev && SA.st_ino == SB.st_ino;
}

std::u16string InputName(AVFormatContext* Ic) {
    return Ic && Ic->url ? URLToFileName(Ic->url) : u"";
}

}  // namespace

int CloseOutputIO(AVFormatContext* Oc) {
    if (!Oc || !Oc->pb) return 0;
    if (IsUnicodeIO(Oc->pb)) return CloseUnicodeIO(Oc->pb);
    if (!(Oc->flags & AVFMT_FLAG_CUSTOM_IO) && Oc->oformat && !(Oc->oformat->flags & AVFMT_NOFILE))
        return lavf.avio_closep(&Oc->pb);
    return 0;
}

void TCustomFFmpeg::OpenOutputIO(AVFormatContext* Oc, const std::u16string& FileName,
                                 const std::string& URL) {
    auto Failed = [&](int Error) {
        return FFmpegException(
            WithSystemReason(Format("Could not open '%s'", Utf16ToUtf8(FileName).c_str()), Error));
    };
    if (IsUnicodeURL(URL)) {
        int Error = 0;
        Oc->pb = OpenUnicodeIO(URL, 1, Error);
        if (!Oc->pb) throw Failed(Error);
        Oc->flags |= AVFMT_FLAG_CUSTOM_IO;
        return;
    }
    const int Error = lavf.avio_open2(&Oc->pb, URL.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (Error < 0) throw Failed(Error);
}

void TCustomFFmpeg::OpenOutputTarget(AVFormatContext* Oc, int Index, const std::u16string& FileName) {
    const std::string URL = FileNameToURL(FileName);
    FOutputTemporaryNames[Index].clear();
    auto Failed = [&](int Error) {
        return FFmpegException(
            WithSystemReason(Format("Could not open '%s'", Utf16ToUtf8(FileName).c_str()), AVERROR(Error)));
    };
    // Names of other protocols, a pipe ("-") and devices are written to as they are.
    const std::string Name = FileSystemName(FileName);
    const bool OnDisk = !FileName.empty() && FileName[0] == u'/' &&
                        (IsUnicodeURL(URL) || URL == Name || URL.rfind("file:", 0) == 0);
    if (!OnDisk) return OpenOutputIO(Oc, FileName, URL);
    bool Claimed = false;
    for (int Tries = 0;; ++Tries) {
        struct stat St {};
        if (::lstat(Name.c_str(), &St) == 0) {
            if (S_ISDIR(St.st_mode)) throw Failed(EISDIR);
            if (S_ISLNK(St.st_mode)) {
                // A link is replaced, never written through: what it points to may be anyone's
                // file, outside the output folder. Only a link to a device or a pipe
                // (/dev/stdout) is a way to write somewhere else on purpose.
                struct stat Target {};
                const bool Special = ::stat(Name.c_str(), &Target) == 0 && !S_ISREG(Target.st_mode) &&
                                     !S_ISDIR(Target.st_mode);
                if (Special) return OpenOutputIO(Oc, FileName, URL);
                break;
            }
            if (!S_ISREG(St.st_mode)) return OpenOutputIO(Oc, FileName, URL);
            break;  // this process's reservation, or a file the output replaces once finished
        }
        if (errno != ENOENT) throw Failed(errno);
        const int Error = ClaimOutputName(Name);
        if (Error == 0) {
            Claimed = true;
            break;
        }
        // Taken meanwhile: look again at what is there now.
        if (Error != EEXIST || Tries == 3) throw Failed(Error);
    }
    const std::string TemporaryName = NewTemporaryOutputName(Name);
    const std::u16string Temporary = Utf8ToUtf16(TemporaryName);
    try {
        // Made here, only where nothing is, so that the file the commit finds can be known for
        // this job's own.
        const int Fd = ::open(TemporaryName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (Fd < 0) throw Failed(errno);
        struct stat Made {};
        const int Stat = ::fstat(Fd, &Made);
        const int StatError = errno;
        ::close(Fd);
        if (Stat != 0) {
            ::unlink(TemporaryName.c_str());
            throw Failed(StatError);
        }
        FOutputTemporaryIds[Index] = {static_cast<uint64_t>(Made.st_dev), static_cast<uint64_t>(Made.st_ino)};
        FOutputPacketCounts[Index] = 0;
        try {
            OpenOutputIO(Oc, FileName, FileNameToURL(Temporary));
        } catch (const std::exception&) {
            ::unlink(TemporaryName.c_str());
            throw;
        }
    } catch (const std::exception&) {
        ForgetTemporaryOutput(TemporaryName);
        if (Claimed) ReleaseOutputClaim(Name, true);
        throw;
    }
    FOutputTemporaryNames[Index] = Temporary;
    // Muxers that read their file back (mov's faststart) find it by the container's name.
    char* TemporaryURL = lavu.av_strdup(FileNameToURL(Temporary).c_str());
    if (TemporaryURL) {
        lavu.av_free(Oc->url);
        Oc->url = TemporaryURL;
    }
}

namespace {

// Why the temporary file at Name is not the one made with Id: "" when it is.
std::string TemporaryChange(const std::string& Name, const std::array<uint64_t, 2>& Id) {
    struct stat St {};
    if (::lstat(Name.c_str(), &St) != 0)
        return errno == ENOENT ? "was removed" : std::string("cannot be checked: ") + std::strerror(errno);
    if (!S_ISREG(St.st_mode) || static_cast<uint64_t>(St.st_dev) != Id[0] ||
        static_cast<uint64_t>(St.st_ino) != Id[1])
        return "was replaced";
    return "";
}

// "NAME.partial.EXT", then "NAME.partial_1.EXT"...: a partial output says what it is, and a
// later run does not take it for the finished output it would skip.
std::string PartialName(const std::string& Name, int Number) {
    const size_t Slash = Name.rfind('/');
    const size_t Start = Slash == std::string::npos ? 0 : Slash + 1;
    size_t Dot = Name.rfind('.');
    if (Dot == std::string::npos || Dot <= Start) Dot = Name.size();
    return Name.substr(0, Dot) + ".partial" + (Number > 0 ? "_" + std::to_string(Number) : "") +
           Name.substr(Dot);
}

}  // namespace

void TCustomFFmpeg::CommitOutputFiles() {
    for (int I = 0; I < FOutputFileCount; ++I) {
        AVFormatContext* Oc = FOutputFiles[I];
        if (!Oc || FOutputTemporaryNames[I].empty()) continue;
        const std::u16string Name = FOutputFileNames[I], Temporary = FOutputTemporaryNames[I];
        const std::string Display = Utf16ToUtf8(Name);
        const int Closed = CloseOutputIO(Oc);
        if (Closed < 0)
            throw FFmpegException(WithSystemReason(Format("Could not write '%s'", Display.c_str()), Closed));
        // Someone else's file at the temporary name (or none) is not this output: the task
        // fails, and that file is left alone.
        const std::string Change = TemporaryChange(FileSystemName(Temporary), FOutputTemporaryIds[I]);
        if (!Change.empty()) {
            ForgetTemporaryOutput(FileSystemName(Temporary));
            FOutputTemporaryNames[I].clear();
            ReleaseOutputClaim(FileSystemName(Name), true);
            FOutputFileNames[I].clear();
            throw FFmpegException(
                Format("Could not write '%s': its temporary file %s %s before it was finished "
                       "(another program in the folder)",
                       Display.c_str(), Utf16ToUtf8(Temporary).c_str(), Change.c_str()));
        }
        // An output that never got a byte is no output; the clean-up takes it.
        if (FileSizeW(Temporary) <= 0) continue;
        if (!FFinished.load()) {
            // Only a header: nothing was converted, so nothing is kept.
            if (FOutputPacketCounts[I] == 0) continue;
            KeepPartialOutput(I);
            if (FJoined) break;
            continue;
        }
        if (FSettings.ReplayGain && I == 0) TagLoudness(Temporary, Oc->oformat);
        if (::rename(FileSystemName(Temporary).c_str(), FileSystemName(Name).c_str()) != 0)
            throw FFmpegException(
                WithSystemReason(Format("Could not write '%s'", Display.c_str()), AVERROR(errno)));
        ForgetTemporaryOutput(FileSystemName(Temporary));
        ReleaseOutputClaim(FileSystemName(Name), false);
        FOutputTemporaryNames[I].clear();
        if (FJoined) break;
    }
}

void TCustomFFmpeg::KeepPartialOutput(int Index) {
    const std::string Name = FileSystemName(FOutputFileNames[Index]);
    const std::string Temporary = FileSystemName(FOutputTemporaryNames[Index]);
    // Never over an existing file, the finished output that --overwrite would replace included.
    std::string Partial;
    for (int Number = 0;; ++Number) {
        Partial = PartialName(Name, Number);
        const int Error = ClaimOutputName(Partial);
        if (Error == 0) break;
        if (Error != EEXIST || Number == 9999)
            throw FFmpegException(WithSystemReason(Format("Could not keep the partial output of '%s'",
                                                          Utf16ToUtf8(FOutputFileNames[Index]).c_str()),
                                                   AVERROR(Error)));
    }
    if (::rename(Temporary.c_str(), Partial.c_str()) != 0) {
        const int Error = errno;
        ReleaseOutputClaim(Partial, true);
        throw FFmpegException(
            WithSystemReason(Format("Could not write '%s'", Partial.c_str()), AVERROR(Error)));
    }
    ForgetTemporaryOutput(Temporary);
    ReleaseOutputClaim(Partial, false);
    // The output's own name keeps what it held before: nothing (the reservation goes) or the
    // file there was.
    ReleaseOutputClaim(Name, true);
    FOutputTemporaryNames[Index].clear();
    FOutputFileNames[Index].clear();
    if (FKeptPartialName.empty()) FKeptPartialName = Utf8ToUtf16(Partial);
}

void TCustomFFmpeg::TagLoudness(const std::u16string& Temporary, const AVOutputFormat* Muxer) {
    // A container without such tags gets none; the front end says so once for the batch.
    if (!Muxer || ReplayGainStyleOf(Muxer->name) == TReplayGainStyle::None) return;
    std::string Error;
    if (!FLoudness)
        Error = "no sound was measured";
    else if (FLoudness->BlockPowers().empty())
        // Loudness is gated over 400 ms blocks: a shorter sound has none, however loud it is.
        Error = "too short to measure (under 0.4 s)";
    else if (FLoudness->IntegratedLoudness() == kNoLoudness)
        Error = "the sound is silence";
    else
        Error =
            WriteReplayGainTags(FileSystemName(Temporary), Muxer->name,
                                {ReplayGainOf(FLoudness->IntegratedLoudness()), FLoudness->Peak(), {}, {}});
    if (!Error.empty())
        FErrorMessage += (FErrorMessage.empty() ? "" : "; ") + std::string("no ReplayGain tags: ") + Error;
}

int32_t TCustomFFmpeg::OpenOutputFile(const std::u16string& FileName, bool Join) {
    TJobSettings& S = FSettings;
    AVFormatContext* Oc = nullptr;
    bool InTable = false;
    // What opening the output made: its temporary file, and whether it took the name itself.
    std::u16string Temporary;
    bool Claimed = false;
    // Entries of streams that a failed output made must not shift the later streams' entries.
    const size_t EncodersBefore = FOutputEncoders.size();
    auto Fail = [&](const std::string& Error) -> int32_t {
        FLastError = Error;
        FOutputEncoders.resize(std::min(FOutputEncoders.size(), EncodersBefore));
        if (InTable) {
            FOutputFileCount -= 1;
            FOutputFiles[FOutputFileCount] = nullptr;
            FOutputStreams[FOutputFileCount].clear();
            FOutputFileNames[FOutputFileCount].clear();
            FOutputTemporaryNames[FOutputFileCount].clear();
        }
        if (Oc) {
            CloseOutputIO(Oc);
            lavf.avformat_free_context(Oc);
            // What this call made goes again: its temporary file, and the name it took.
            if (!Temporary.empty()) {
                ::unlink(FileSystemName(Temporary).c_str());
                ForgetTemporaryOutput(FileSystemName(Temporary));
            }
            if (Claimed) ReleaseOutputClaim(FileSystemName(FileName), true);
        }
        ClearForcedFormats();
        return -1;
    };
    if (FJoined) return Fail("Cannot join more than one output file.");
    if (FOutputFileCount >= kMaxFiles) return Fail(Format("Too many output files (at most %d)", kMaxFiles));
    if (!FCodecOpts[omtVideo]) return Fail("The job was not reset before opening an output");
    if (!S.VideoFilters.empty() && S.CropTop + S.CropBottom + S.CropLeft + S.CropRight != 0)
        return Fail("Cannot enable crop options and filters at the same time.");
    if (S.PadTop + S.PadBottom + S.PadLeft + S.PadRight != 0 && IsResizingFilter(S.VideoFilters))
        return Fail(
            "Cannot enable pad options and the filters which resize frame at the same time. "
            "(crop, rotate, scale, transpose, etc.)");
    FFiltersEnabled = !S.VideoFilters.empty();
    // Writing over an input would destroy it before it is read.
    for (int I = 0; I < FInputFileCount; ++I)
        if (SameFile(FileName, InputName(FInputFiles[I])))
            return Fail(
                Format("Output file '%s' is the same as an input file", Utf16ToUtf8(FileName).c_str()));

    const std::string URL = FileNameToURL(FileName);
    const AVOutputFormat* Fmt = nullptr;
    if (!S.OutputFormatName.empty()) Fmt = lavf.av_guess_format(S.OutputFormatName.c_str(), nullptr, nullptr);
    if (!Fmt) Fmt = lavf.av_guess_format(nullptr, URL.c_str(), nullptr);
    if (!Fmt)
        return Fail(
            Format("Unable to find a suitable output format for '%s'", Utf16ToUtf8(FileName).c_str()));
    if (lavf.avformat_alloc_output_context2(&Oc, Fmt, nullptr, URL.c_str()) < 0 || !Oc) {
        ClearForcedFormats();
        throw FFmpegException("avformat_alloc_context failed");
    }

    bool UseVideo = (Fmt->video_codec != AV_CODEC_ID_NONE && !DefaultVideoIsCoverArt(Fmt)) ||
                    S.VideoStreamCopy || !S.VideoCodecName.empty();
    bool UseAudio = Fmt->audio_codec != AV_CODEC_ID_NONE || S.AudioStreamCopy || !S.AudioCodecName.empty();
    bool UseSubtitle =
        Fmt->subtitle_codec != AV_CODEC_ID_NONE || S.SubtitleStreamCopy || !S.SubtitleCodecName.empty();
    if (FInputFileCount > 0) {
        bool HasVideo = false, HasAudio = false, HasSubtitle = false;
        const int Examined = Join ? 1 : FInputFileCount;
        for (int F = 0; F < Examined; ++F) {
            AVFormatContext* Ic = FInputFiles[F];
            for (unsigned I = 0; I < Ic->nb_streams; ++I) {
                switch (Ic->streams[I]->codecpar->codec_type) {
                    case AVMEDIA_TYPE_VIDEO:
                        // A song's cover is no film: it makes no video track of its own
                        // (copy_cover carries it as a picture where the container holds one).
                        if (!(Ic->streams[I]->disposition & AV_DISPOSITION_ATTACHED_PIC)) HasVideo = true;
                        break;
                    case AVMEDIA_TYPE_AUDIO:
                        HasAudio = true;
                        break;
                    case AVMEDIA_TYPE_SUBTITLE:
                        HasSubtitle = true;
                        break;
                    case AVMEDIA_TYPE_DATA:
                    case AVMEDIA_TYPE_ATTACHMENT:
                    case AVMEDIA_TYPE_UNKNOWN:
                        break;
                    default:
                        return Fail("check_audio_video_sub_inputs fail: invalid codec_type of input file");
                }
            }
        }
        UseVideo = UseVideo && HasVideo;
        UseAudio = UseAudio && HasAudio;
        UseSubtitle = UseSubtitle && HasSubtitle;
    }
    if (S.VideoDisable) UseVideo = false;
    if (S.AudioDisable) UseAudio = false;
    if (S.SubtitleDisable) UseSubtitle = false;

    // The container takes the next slot while its streams are made, so that the streams'
    // settings land beside it; a failure takes the slot back.
    const int Index = FOutputFileCount;
    FOutputFiles[Index] = Oc;
    FOutputFileNames[Index].clear();
    FOutputStreams[Index].clear();
    FOutputFileCount += 1;
    InTable = true;
    try {
        if (UseVideo) AddVideoStream(Oc, Index);
    } catch (const std::exception& E) {
        return Fail(Format("new_video_stream fail: %s", E.what()));
    }
    try {
        if (UseAudio) AddAudioStream(Oc, Index);
    } catch (const std::exception& E) {
        return Fail(Format("new_audio_stream fail: %s", E.what()));
    }
    try {
        if (UseSubtitle) AddSubtitleStream(Oc, Index);
    } catch (const std::exception& E) {
        return Fail(Format("new_subtitle_stream fail: %s", E.what()));
    }
    try {
        // An explicit stream map counts the streams itself, and a joined output has no room.
        if (S.CopyCover && !UseVideo && !Join && FStreamMaps.empty()) AddCoverStream(Oc, Index);
    } catch (const std::exception& E) {
        return Fail(Format("new_video_stream fail: %s", E.what()));
    }

    if (S.RecordingTimestamp != 0) {
        // The container's recording time is its creation time today.
        const std::time_t T = static_cast<std::time_t>(S.RecordingTimestamp);
        std::tm Utc{};
        gmtime_r(&T, &Utc);
        char Text[32];
        std::strftime(Text, sizeof(Text), "%Y-%m-%dT%H:%M:%S.000000Z", &Utc);
        if (lavu.av_dict_set(&Oc->metadata, "creation_time", Text, 0) < 0)
            return Fail(ErrorText(AVERROR(ENOMEM)));
    }
    for (auto It = S.Metadata.rbegin(); It != S.Metadata.rend(); ++It)
        if (lavu.av_dict_set(&Oc->metadata, It->first.c_str(), It->second.c_str(), 0) < 0)
            return Fail(ErrorText(AVERROR(ENOMEM)));
    S.Metadata.clear();

    // The image muxer no longer demands a number (it can rewrite one picture), but a sequence
    // written to a name without one would fail only at its second picture.
    const bool NeedsNumber = (Fmt->flags & AVFMT_NEEDNUMBER) || std::string(Fmt->name) == "image2";
    if (NeedsNumber && !lavf.av_filename_number_test(Oc->url))
        return Fail(OpenErrorText(URLToFileName(Oc->url), kErrorImageNumber));
    if (!(Fmt->flags & AVFMT_NOFILE)) {
        const bool OwnedBefore = IsOwnOutputClaim(FileSystemName(FileName));
        try {
            OpenOutputTarget(Oc, Index, FileName);
        } catch (const std::exception& E) {
            return Fail(E.what());
        }
        Temporary = FOutputTemporaryNames[Index];
        Claimed = !OwnedBefore && IsOwnOutputClaim(FileSystemName(FileName));
        FOutputFileNames[Index] = FileName;
    }

    Oc->max_delay = SaturatingCast<int>(S.MuxMaxDelay * 1000000.0);
    // Preload, loop count and the other muxer options belong to the muxers that have them; a
    // muxer without one goes on without it, a value its muxer refuses is said.
    auto Refused = [&](const char* Name, int Result) {
        if (Result < 0 && Result != AVERROR_OPTION_NOT_FOUND)
            GetLogger().Log(
                this, llWarning,
                Format("Option '%s' not applied to '%s': %s", Name, Fmt->name, ErrorText(Result).c_str()));
    };
    Refused("preload", lavu.av_opt_set_int(Oc, "preload", SaturatingCast<int64_t>(S.MuxPreload * 1000000.0),
                                           AV_OPT_SEARCH_CHILDREN));
    if (S.LoopOutput >= 0)
        Refused("loop", lavu.av_opt_set_int(Oc, "loop", S.LoopOutput, AV_OPT_SEARCH_CHILDREN));
    Oc->flags |= AVFMT_FLAG_NONBLOCK;
    ApplyStoredOptions(Oc, FFormatOpts.get(), AV_OPT_FLAG_ENCODING_PARAM);
    for (const AVDictionaryEntry* E = nullptr;
         (E = lavu.av_dict_get(FPrivateFormatOpts.Get(), "", E, AV_DICT_IGNORE_SUFFIX)) != nullptr;)
        Refused(E->key, lavu.av_opt_set(Oc, E->key, E->value, AV_OPT_SEARCH_CHILDREN));

    if (Join && FInputFileCount > 1) {
        FJoined = true;
        int64_t Total = 0;
        for (int I = 0; I < FInputFileCount; ++I)
            if (FInputFiles[I]->duration != AV_NOPTS_VALUE) Total += FInputFiles[I]->duration / 1000;
        FTotalDuration = Total == 0 ? -1 : static_cast<int32_t>(std::min<int64_t>(Total, INT32_MAX));
        for (int I = 1; I < FInputFileCount && FOutputFileCount < kMaxFiles; ++I) {
            FOutputFiles[FOutputFileCount] = Oc;
            FOutputFileCount += 1;
        }
    }
    ClearForcedFormats();
    return FOutputFileCount;
}

namespace {

enum class TTargetHow {
    Option,        // an option line of the job's own
    Library,       // an option of the libraries' option system
    Format,        // the output's container
    StereoIfMono,  // one channel becomes two, any other count stays
    AssumeAspect,  // the aspect ratio, unless one was given
};

// One value a target sets, by television norm: Ntsc and Film fall back on the norm before them
// (film on NTSC, NTSC on PAL) when not given.
struct TTargetRow {
    const char* Type;
    TTargetHow How;
    const char* Name;
    const char* Pal;
    const char* Ntsc = nullptr;
    const char* Film = nullptr;
};

using H = TTargetHow;
constexpr const char* kRatePal = "25";
constexpr const char* kRateNtsc = "30000/1001";
constexpr const char* kRateFilm = "24000/1001";

// The targets' settings, each target's rows in the order they are applied.
const TTargetRow kTargetRows[] = {
    {"vcd", H::Option, "vcodec", "mpeg1video"},
    {"vcd", H::Option, "acodec", "mp2"},
    {"vcd", H::Format, "", "vcd"},
    {"vcd", H::Option, "s", "352x288", "352x240"},
    {"vcd", H::Option, "r", kRatePal, kRateNtsc, kRateFilm},
    {"vcd", H::Library, "g", "15", "18"},
    {"vcd", H::Library, "b", "1150000"},
    {"vcd", H::Library, "maxrate", "1150000"},
    {"vcd", H::Library, "minrate", "1150000"},
    {"vcd", H::Library, "bufsize", "327680"},
    {"vcd", H::Library, "ab", "224000"},
    {"vcd", H::Option, "ar", "44100"},
    {"vcd", H::Option, "ac", "2"},
    {"vcd", H::Library, "packetsize", "2324"},
    {"vcd", H::Library, "muxrate", "1411200"},
    {"vcd", H::Option, "muxpreload", "0.44"},
    {"vcd", H::AssumeAspect, "", "4:3"},

    {"svcd", H::Option, "vcodec", "mpeg2video"},
    {"svcd", H::Option, "acodec", "mp2"},
    {"svcd", H::Format, "", "svcd"},
    {"svcd", H::Option, "s", "480x576", "480x480"},
    {"svcd", H::Option, "r", kRatePal, kRateNtsc, kRateFilm},
    {"svcd", H::Library, "g", "15", "18"},
    {"svcd", H::Library, "b", "2040000"},
    {"svcd", H::Library, "maxrate", "2516000"},
    {"svcd", H::Library, "minrate", "0"},
    {"svcd", H::Library, "bufsize", "1835008"},
    {"svcd", H::Library, "flags", "+scan_offset"},
    {"svcd", H::Library, "ab", "224000"},
    {"svcd", H::Option, "ar", "44100"},
    {"svcd", H::StereoIfMono, "", ""},
    {"svcd", H::Library, "packetsize", "2324"},
    {"svcd", H::AssumeAspect, "", "4:3"},

    {"dvd", H::Option, "vcodec", "mpeg2video"},
    {"dvd", H::Option, "acodec", "ac3"},
    {"dvd", H::Format, "", "dvd"},
    {"dvd", H::Option, "s", "720x576", "720x480"},
    {"dvd", H::Option, "r", kRatePal, kRateNtsc, kRateFilm},
    {"dvd", H::Library, "g", "15", "18"},
    {"dvd", H::Library, "b", "6000000"},
    {"dvd", H::Library, "maxrate", "9000000"},
    {"dvd", H::Library, "minrate", "0"},
    {"dvd", H::Library, "bufsize", "1835008"},
    {"dvd", H::Library, "ab", "448000"},
    {"dvd", H::Option, "ar", "48000"},
    {"dvd", H::StereoIfMono, "", ""},
    {"dvd", H::Library, "packetsize", "2048"},
    {"dvd", H::Library, "muxrate", "10080000"},
    {"dvd", H::AssumeAspect, "", "16:9"},

    {"dv", H::Format, "", "dv"},
    {"dv", H::Option, "s", "720x576", "720x480"},
    {"dv", H::Option, "pix_fmt", "yuv420p", "yuv411p"},
    {"dv", H::Option, "r", kRatePal, kRateNtsc, kRateFilm},
    {"dv", H::Option, "ar", "48000"},
    {"dv", H::Option, "ac", "2"},

    {"dv50", H::Format, "", "dv"},
    {"dv50", H::Option, "s", "720x576", "720x480"},
    {"dv50", H::Option, "pix_fmt", "yuv422p"},
    {"dv50", H::Option, "r", kRatePal, kRateNtsc, kRateFilm},
    {"dv50", H::Option, "ar", "48000"},
    {"dv50", H::Option, "ac", "2"},
};

}  // namespace

void TCustomFFmpeg::SetTargetOption(const std::string& Value) {
    std::string Type = Trim(Value);
    std::string Norm;
    for (const char* Prefix : {"pal-", "ntsc-", "film-"}) {
        if (Type.rfind(Prefix, 0) == 0) {
            Norm = std::string(Prefix, std::strlen(Prefix) - 1);
            Type = Type.substr(std::strlen(Prefix));
            break;
        }
    }
    SetTarget(Type, Norm, "ntsc");
}

void TCustomFFmpeg::SetTarget(const std::string& Type, const std::string& NormText,
                              const std::string& DefaultNorm) {
    enum { PAL, NTSC, FILM } Norm = PAL;
    if (NormText == "pal") {
        Norm = PAL;
    } else if (NormText == "ntsc") {
        Norm = NTSC;
    } else if (NormText == "film") {
        Norm = FILM;
    } else {
        const AVRational Rate = FSettings.FrameRate;
        if (Rate.den == 0) throw FFmpegException("frame_rate is invalid.");
        auto Classify = [](long R, int& Out) {
            if (R == 25000) return Out = PAL, true;
            if (R == 29970 || R == 23976) return Out = NTSC, true;
            return false;
        };
        int Found = -1;
        bool Decided = Classify(std::lround(double(Rate.num) * 1000.0 / Rate.den), Found);
        for (int F = 0; F < FInputFileCount && !Decided; ++F) {
            AVFormatContext* Ic = FInputFiles[F];
            for (unsigned I = 0; I < Ic->nb_streams && !Decided; ++I) {
                const AVStream* St = Ic->streams[I];
                if (St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
                const AVRational R = St->r_frame_rate.num ? St->r_frame_rate : St->avg_frame_rate;
                if (R.den) Decided = Classify(std::lround(double(R.num) * 1000.0 / R.den), Found);
            }
        }
        if (Decided)
            Norm = Found == NTSC ? NTSC : PAL;
        else
            Norm = DefaultNorm == "film" ? FILM : DefaultNorm == "ntsc" ? NTSC : PAL;
        if (FSettings.Verbose > 0)
            Log(llVerbose, Format("Assuming %s for target.", Norm == PAL ? "PAL" : "NTSC"));
    }
    bool Known = false;
    for (const TTargetRow& Row : kTargetRows) {
        if (Type != Row.Type) continue;
        Known = true;
        const char* const Ntsc = Row.Ntsc ? Row.Ntsc : Row.Pal;
        const char* const Film = Row.Film ? Row.Film : Ntsc;
        const char* const Value = Norm == PAL ? Row.Pal : Norm == NTSC ? Ntsc : Film;
        switch (Row.How) {
            case TTargetHow::Option:
                ApplyOption(Row.Name, Value);
                break;
            case TTargetHow::Library:
                SetGenericOption(Row.Name, Value);
                break;
            case TTargetHow::Format:
                SetOutputFormat(Value);
                break;
            case TTargetHow::StereoIfMono:
                if (FSettings.AudioChannels == 1) FSettings.AudioChannels = 2;
                break;
            case TTargetHow::AssumeAspect:
                if (FSettings.FrameAspectRatio != 0.0f) break;
                Log(llInfo, Format("Assuming %s for aspect ratio", Value));
                ApplyOption("aspect", Value);
                break;
        }
    }
    if (!Known) throw FFmpegException("Unknown target type");
}

}  // namespace zembra
