// Opening input files: probing, stream information, the start position, and the settings the
// job adopts from the input.

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/CodecThreads.h"
#include "engine/FFmpeg.h"
#include "logging/FFmpegLogger.h"
#include "protocol/UnicodeProtocol.h"
#include "util/NumericCasts.h"
#include "util/SpecialFiles.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

// An input's I/O: ours for unicode names, the library's file protocol otherwise.
AVIOContext* OpenInputIO(const std::string& URL, int& Error) {
    if (IsUnicodeURL(URL)) return OpenUnicodeIO(URL, 0, Error);
    AVIOContext* Pb = nullptr;
    Error = lavf.avio_open2(&Pb, URL.c_str(), AVIO_FLAG_READ, nullptr, nullptr);
    return Error < 0 ? nullptr : Pb;
}

void CloseInputIO(AVIOContext*& Pb) {
    if (!Pb) return;
    if (IsUnicodeIO(Pb))
        CloseUnicodeIO(Pb);
    else
        lavf.avio_closep(&Pb);
}

}  // namespace

void CloseInputContext(AVFormatContext*& Ic) {
    if (!Ic) return;
    // The library never closes an I/O context it did not open itself.
    AVIOContext* Pb = (Ic->flags & AVFMT_FLAG_CUSTOM_IO) ? Ic->pb : nullptr;
    lavf.avformat_close_input(&Ic);
    CloseInputIO(Pb);
}

TFileIdentity IdentityOfInput(const std::string& URL) {
    TFileIdentity Id;
    if (URL.empty()) return Id;
    const std::string Name = IsUnicodeURL(URL) ? FileSystemName(URLToFileName(URL)) : URL;
    struct stat St {};
    if (::stat(Name.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return Id;
    Id.Known = true;
    Id.Device = static_cast<uint64_t>(St.st_dev);
    Id.Inode = static_cast<uint64_t>(St.st_ino);
    Id.Size = static_cast<int64_t>(St.st_size);
    Id.ModifiedNs = static_cast<int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
    return Id;
}

TReopenedInputPtr ReopenInput(const AVFormatContext* Open, const TFileIdentity& Opened, int& Error,
                              bool& Replaced) {
    Error = 0;
    Replaced = false;
    const std::string URL = Open->url ? Open->url : "";
    AVIOContext* Pb = OpenInputIO(URL, Error);
    if (!Pb) return nullptr;
    // Looked at once the new opening holds the file: a file put at the name after that is not
    // the one read, and one put there before shows here.
    if (Opened.Known && !(IdentityOfInput(URL) == Opened)) {
        CloseInputIO(Pb);
        Replaced = true;
        return nullptr;
    }
    AVFormatContext* Ic = lavf.avformat_alloc_context();
    if (!Ic) {
        CloseInputIO(Pb);
        Error = AVERROR(ENOMEM);
        return nullptr;
    }
    Ic->pb = Pb;
    Ic->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_NONBLOCK;
    // A failed open frees the context but not our I/O context.
    Error = lavf.avformat_open_input(&Ic, Open->url, Open->iformat, nullptr);
    if (Error < 0) {
        CloseInputIO(Pb);
        return nullptr;
    }
    {
        TCodecLockGuard G;
        Error = lavf.avformat_find_stream_info(Ic, nullptr);
    }
    TReopenedInputPtr Opening(Ic);
    if (Error < 0) return nullptr;
    return Opening;
}

bool TCustomFFmpeg::FindCodecByName(const std::string& Name, AVMediaType Type, bool Encoder,
                                    const AVCodec*& Codec) {
    Codec = nullptr;
    if (Name.empty()) return true;
    const AVCodec* C = Encoder ? lavc.avcodec_find_encoder_by_name(Name.c_str())
                               : lavc.avcodec_find_decoder_by_name(Name.c_str());
    const char* Kind = Encoder ? "encoder" : "decoder";
    if (!C) {
        FLastError = Format("Unknown %s '%s'", Kind, Name.c_str());
        return false;
    }
    if (C->type != Type) {
        FLastError = Format("Invalid %s type '%s'", Kind, Name.c_str());
        return false;
    }
    Codec = C;
    return true;
}

AVCodecContext* TCustomFFmpeg::InputCodec(int File, int Stream) const {
    if (File < 0 || File >= FInputFileCount || Stream < 0 ||
        Stream >= static_cast<int>(FInputCodecs[File].size()))
        return nullptr;
    return FInputCodecs[File][Stream].get();
}

void TCustomFFmpeg::ClearForcedFormats() {
    FSettings.InputFormatName.clear();
    FSettings.OutputFormatName.clear();
}

bool TCustomFFmpeg::OpenInputFile(const std::u16string& FileName) {
    TJobSettings& S = FSettings;
    AVFormatContext* Ic = nullptr;
    AVIOContext* Pb = nullptr;
    std::vector<TCodecContextPtr> Codecs;
    auto Fail = [&](const std::string& Error) {
        FLastError = Error;
        S.VideoCodecName.clear();
        S.AudioCodecName.clear();
        S.SubtitleCodecName.clear();
        ClearForcedFormats();
        S.VideoChannel = 0;
        if (Ic) lavf.avformat_close_input(&Ic);
        CloseInputIO(Pb);
        return false;
    };
    if (FInputFileCount >= kMaxFiles) return Fail(Format("Too many input files (at most %d)", kMaxFiles));
    if (!FCodecOpts[omtVideo]) return Fail("The job was not reset before opening an input");

    // Forced decoders, checked before anything is opened.
    const AVCodec* VideoDecoder = nullptr;
    const AVCodec* AudioDecoder = nullptr;
    const AVCodec* SubtitleDecoder = nullptr;
    if (!FindCodecByName(S.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, VideoDecoder) ||
        !FindCodecByName(S.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, AudioDecoder) ||
        !FindCodecByName(S.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, SubtitleDecoder))
        return Fail(FLastError);

    const std::string URL = FileNameToURL(FileName);
    if (IsSpecialFile(FileName)) return Fail(SpecialFileText(FileName));
    if (DirectoryExistsW(FileName)) return Fail(OpenErrorWithReason(FileName, AVERROR(EISDIR)));
    int Error = 0;
    Pb = OpenInputIO(URL, Error);
    if (!Pb) return Fail(OpenErrorWithReason(FileName, Error));
    const TFileIdentity Identity = IdentityOfInput(URL);

    const AVInputFormat* InputFormat = nullptr;
    if (!S.InputFormatName.empty()) InputFormat = lavf.av_find_input_format(S.InputFormatName.c_str());
    if (!InputFormat) {
        // Probing apart from opening tells an unknown container from a broken known one.
        // A score of 1 means only the file name's suffix matched: the content is no known
        // container, whatever the name says.
        const int Score = lavf.av_probe_input_buffer2(Pb, &InputFormat, URL.c_str(), nullptr, 0, 0);
        if (Score < 0 || !InputFormat || Score <= 1)
            return Fail(OpenErrorText(FileName, Score == AVERROR(EIO) ? -5 : kErrorUnknownFormat));
    }

    Ic = lavf.avformat_alloc_context();
    if (!Ic) {
        CloseInputIO(Pb);
        throw FFmpegException("avformat_alloc_context failed");
    }
    // Pb stays ours until the input is in the table: the library never frees it.
    Ic->pb = Pb;
    Ic->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_NONBLOCK;
    ApplyStoredOptions(Ic, FFormatOpts.get(), AV_OPT_FLAG_DECODING_PARAM);
    Ic->video_codec_id = S.PgmYuv ? AV_CODEC_ID_PGMYUV : (VideoDecoder ? VideoDecoder->id : AV_CODEC_ID_NONE);
    Ic->audio_codec_id = AudioDecoder ? AudioDecoder->id : AV_CODEC_ID_NONE;
    Ic->subtitle_codec_id = SubtitleDecoder ? SubtitleDecoder->id : AV_CODEC_ID_NONE;
    Ic->video_codec = VideoDecoder;
    Ic->audio_codec = AudioDecoder;
    Ic->subtitle_codec = SubtitleDecoder;

    // The old open parameters are demuxer options today; a demuxer takes those it knows.
    TDictionary Options;
    int Filled = Options.CopyFrom(FPrivateFormatOpts.Get());
    auto Put = [&](const char* Key, const std::string& Value) {
        if (Filled >= 0) Filled = Options.Set(Key, Value.c_str());
    };
    Put("sample_rate", std::to_string(S.AudioSampleRate));
    Put("channels", std::to_string(S.AudioChannels));
    // The frame size may be an earlier input's header value, which nothing has checked.
    const int64_t Width = int64_t(S.FrameWidth) + S.PadLeft + S.PadRight;
    const int64_t Height = int64_t(S.FrameHeight) + S.PadTop + S.PadBottom;
    if (Width > 0 && Height > 0 && Width <= INT_MAX && Height <= INT_MAX)
        Put("video_size", Format("%lldx%lld", static_cast<long long>(Width), static_cast<long long>(Height)));
    if (S.FrameRate.num > 0 && S.FrameRate.den > 0)
        Put("framerate", Format("%d/%d", S.FrameRate.num, S.FrameRate.den));
    if (S.FramePixFmt >= 0)
        if (const char* Name = lavu.av_get_pix_fmt_name(static_cast<AVPixelFormat>(S.FramePixFmt)))
            Put("pixel_format", Name);
    if (S.VideoChannel != 0) Put("channel", std::to_string(S.VideoChannel));
    if (!S.VideoStandard.empty()) Put("standard", S.VideoStandard);
    if (S.LoopInput) Put("loop", "1");
    if (Filled < 0) return Fail(OpenErrorText(FileName, -12));

    const int OpenResult = lavf.avformat_open_input(&Ic, URL.c_str(), InputFormat, Options.Slot());
    if (OpenResult < 0) return Fail(OpenErrorWithReason(FileName, OpenResult));

    if (S.ProgramId != 0)
        for (unsigned I = 0; I < Ic->nb_programs; ++I)
            if (Ic->programs[I]->id != S.ProgramId) Ic->programs[I]->discard = AVDISCARD_ALL;

    int InfoResult;
    {
        TCodecLockGuard G;
        InfoResult = lavf.avformat_find_stream_info(Ic, nullptr);
    }
    if (InfoResult < 0 && S.Verbose >= 0) {
        const std::string Error =
            Format("%s: could not find codec parameters", Utf16ToUtf8(FileName).c_str());
        Log(llVerbose, Error);
        return Fail(Error);
    }

    int64_t Timestamp = S.StartTime;
    if (Ic->start_time != AV_NOPTS_VALUE) Timestamp = SaturatingAdd(Timestamp, Ic->start_time);
    const bool Cut = S.StartTime != 0 && !S.CopyTs;
    if (S.StartTime != 0) {
        // A failed seek leaves the file where the library left it.
        (void)lavf.av_seek_frame(Ic, -1, Timestamp, AVSEEK_FLAG_BACKWARD);
        S.StartTime = 0;
    }

    std::vector<const AVCodec*> Decoders;
    for (unsigned I = 0; I < Ic->nb_streams; ++I) {
        AVStream* St = Ic->streams[I];
        TCodecContextPtr Ctx(lavc.avcodec_alloc_context3(nullptr));
        if (!Ctx || lavc.avcodec_parameters_to_context(Ctx.get(), St->codecpar) < 0)
            return Fail(OpenErrorText(FileName, -12));
        Ctx->pkt_timebase = St->time_base;
        // Large pictures are decoded on as many threads as the codec can use; small ones and
        // sound on one.
        Ctx->thread_count = St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
                                ? VideoDecoderThreadCount(St->codecpar->width, St->codecpar->height)
                                : 1;
        switch (St->codecpar->codec_type) {
            case AVMEDIA_TYPE_AUDIO:
                ApplyStoredOptions(Ctx.get(), FCodecOpts[omtAudio].get(),
                                   AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
                S.AudioChannelLayout =
                    Ctx->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? Ctx->ch_layout.u.mask : 0;
                S.AudioChannels = Ctx->ch_layout.nb_channels;
                S.AudioSampleRate = Ctx->sample_rate;
                S.AudioSampleFmt = Ctx->sample_fmt;
                S.AudioChannelsGiven = S.AudioSampleRateGiven = false;
                Decoders.push_back(AudioDecoder);
                if (S.AudioDisable) St->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_VIDEO: {
                ApplyStoredOptions(Ctx.get(), FCodecOpts[omtVideo].get(),
                                   AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
                S.FrameWidth = Ctx->width;
                S.FrameHeight = Ctx->height;
                S.FrameSizeGiven = false;
                const AVRational Sar =
                    St->sample_aspect_ratio.num ? St->sample_aspect_ratio : Ctx->sample_aspect_ratio;
                const double Ratio = Sar.den ? av_q2d(Sar) : 0.0;
                if (Ctx->width != 0 && Ctx->height != 0)
                    S.FrameAspectRatio = static_cast<float>(Ratio == 0.0 ? double(Ctx->width) / Ctx->height
                                                                         : Ratio * Ctx->width / Ctx->height);
                else if (Ratio == 0.0)
                    S.FrameAspectRatio = 4.0f / 3.0f;
                if (Ctx->pix_fmt == AV_PIX_FMT_NONE) Ctx->pix_fmt = static_cast<AVPixelFormat>(0);
                S.FramePixFmt = Ctx->pix_fmt;
                const AVRational Real = St->r_frame_rate;
                const AVRational Average = St->avg_frame_rate;
                // The stream's average rate stands for what the codec itself declares.
                if (Average.num && Real.num && (Average.num != Real.num || Average.den != Real.den) &&
                    S.Verbose >= 0)
                    Log(llInfo, Format("Seems stream %d codec frame rate differs from container frame rate: "
                                       "%2.2f (%d/%d) -> %2.2f (%d/%d)",
                                       static_cast<int>(I), double(Average.num) / Average.den, Average.num,
                                       Average.den, double(Real.num) / Real.den, Real.num, Real.den));
                S.FrameRate = Real;
                Decoders.push_back(VideoDecoder);
                if (S.VideoDisable)
                    St->discard = AVDISCARD_ALL;
                else if (S.VideoDiscard)
                    St->discard = static_cast<AVDiscard>(
                        std::clamp<int>(S.VideoDiscard, AVDISCARD_NONE, AVDISCARD_ALL));
                break;
            }
            case AVMEDIA_TYPE_SUBTITLE:
                Decoders.push_back(SubtitleDecoder);
                if (S.SubtitleDisable) St->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_DATA:
                break;
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN:
                Decoders.push_back(nullptr);
                break;
            default:
                Fail("invalid codec_type");
                throw FFmpegException("invalid codec_type");
        }
        Codecs.push_back(std::move(Ctx));
    }

    Pb = nullptr;  // from here the input table owns it, through the context
    if (Ic->duration != AV_NOPTS_VALUE && Ic->duration / 1000 > FTotalDuration)
        FTotalDuration = static_cast<int32_t>(std::min<int64_t>(Ic->duration / 1000, INT32_MAX));
    const int Index = FInputFileCount;
    FInputFiles[Index] = Ic;
    FInputFilesTsOffset[Index] = SaturatingSub(S.InputTsOffset, S.CopyTs ? 0 : Timestamp);
    FInputFilesCut[Index] = Cut;
    FInputIdentity[Index] = Identity;
    FInputCodecs[Index] = std::move(Codecs);
    FInputDecoders.insert(FInputDecoders.end(), Decoders.begin(), Decoders.end());
    if (S.Verbose >= 0) lavf.av_dump_format(Ic, Index, URL.c_str(), 0);
    FInputFileCount += 1;
    ClearForcedFormats();
    S.VideoChannel = 0;
    S.VideoCodecName.clear();
    S.AudioCodecName.clear();
    S.SubtitleCodecName.clear();
    return true;
}

}  // namespace zembra
