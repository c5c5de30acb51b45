// Output streams: each takes the job's current settings of its kind, which it then resets.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "engine/RcOverride.h"
#include "logging/FFmpegLogger.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

constexpr float kLambdaPerQuantiser = 118.0f;  // FF_QP2LAMBDA

template <typename T>
bool Lists(const T* List, T Terminator, T Value) {
    for (; List && *List != Terminator; ++List)
        if (*List == Value) return true;
    return false;
}

// A 64-entry quantiser matrix the codec context owns (the library frees it with the context).
uint16_t* CopyMatrix(const std::vector<uint16_t>& Matrix) {
    auto* Out = static_cast<uint16_t*>(lavu.av_malloc(64 * sizeof(uint16_t)));
    if (!Out) throw FFmpegException("Could not allocate a quantiser matrix");
    std::copy(Matrix.begin(), Matrix.begin() + 64, Out);
    return Out;
}

}  // namespace

AVRational TCustomFFmpeg::StreamAspect(int Width, int Height) const {
    const double Aspect = FSettings.FrameAspectRatio;
    if (Width == 0 || Height == 0) return DoubleToRational(Aspect * 3.0 / 4.0, 255);
    return DoubleToRational(Aspect * Height / Width, 255);
}

AVStream* TCustomFFmpeg::NewStream(AVFormatContext* Container, int FileIndex, AVMediaType Type,
                                   const AVCodec* Encoder, TOutputStreamSetup*& Setup) {
    if (FOutputStreams[FileIndex].size() >= static_cast<size_t>(kMaxStreams))
        throw FFmpegException(Format("Too many streams in one output (at most %d)", kMaxStreams));
    AVStream* St = lavf.avformat_new_stream(Container, nullptr);
    if (!St) throw FFmpegException("Could not alloc stream");
    St->id = static_cast<int>(Container->nb_streams) - 1;
    St->codecpar->codec_type = Type;
    TOutputStreamSetup NewSetup;
    NewSetup.Stream = St;
    // With the encoder known, its own defaults apply (x264 refuses the generic ones).
    NewSetup.Codec.reset(lavc.avcodec_alloc_context3(Encoder));
    if (!NewSetup.Codec) throw FFmpegException("Could not alloc stream");
    NewSetup.Codec->codec_type = Type;
    FOutputStreams[FileIndex].push_back(std::move(NewSetup));
    Setup = &FOutputStreams[FileIndex].back();
    return St;
}

void TCustomFFmpeg::FitPictureToEncoder(AVCodecContext* Codec) {
    // RealVideo 1.0 and 2.0 code whole macroblocks only; a size nobody asked for is rounded down
    // to them rather than refused.
    if (Codec->codec_id != AV_CODEC_ID_RV10 && Codec->codec_id != AV_CODEC_ID_RV20) return;
    constexpr int kBlock = 16;
    const int Width = std::max(kBlock, Codec->width / kBlock * kBlock);
    const int Height = std::max(kBlock, Codec->height / kBlock * kBlock);
    const TJobSettings& S = FSettings;
    if ((Width == Codec->width && Height == Codec->height) || Width - S.PadLeft - S.PadRight <= 0 ||
        Height - S.PadTop - S.PadBottom <= 0)
        return;
    Log(llInfo, Format("%dx%d -> %dx%d for %s", Codec->width, Codec->height, Width, Height,
                       lavc.avcodec_get_name(Codec->codec_id)));
    Codec->width = Width;
    Codec->height = Height;
}

void TCustomFFmpeg::AddVideoStream(AVFormatContext* Container, int FileIndex) {
    TJobSettings& S = FSettings;
    // Whatever happens, the next video stream starts from clean kind settings.
    struct TResetKind {
        TJobSettings& S;
        ~TResetKind() {
            S.VideoDisable = false;
            S.VideoCodecName.clear();
            S.VideoStreamCopy = false;
        }
    } Reset{S};

    const AVCodec* Encoder = nullptr;
    AVCodecID GuessedId = AV_CODEC_ID_NONE;
    if (!S.VideoStreamCopy) {
        if (!S.VideoCodecName.empty()) {
            if (!FindCodecByName(S.VideoCodecName, AVMEDIA_TYPE_VIDEO, true, Encoder))
                throw FFmpegException(FLastError);
        } else {
            GuessedId =
                lavf.av_guess_codec(Container->oformat, nullptr, Container->url, nullptr, AVMEDIA_TYPE_VIDEO);
            Encoder = lavc.avcodec_find_encoder(GuessedId);
        }
    }
    TOutputStreamSetup* Setup = nullptr;
    AVStream* St = NewStream(Container, FileIndex, AVMEDIA_TYPE_VIDEO, Encoder, Setup);
    AVCodecContext* Codec = Setup->Codec.get();
    Setup->Filters = std::move(S.VideoBitstreamFilters);
    S.VideoBitstreamFilters.clear();
    if (S.VideoCodecTag) Codec->codec_tag = S.VideoCodecTag;
    AVCodecContext* Options = FCodecOpts[omtVideo].get();
    if ((S.VideoGlobalHeader & 1) ||
        (S.VideoGlobalHeader == 0 && (Container->oformat->flags & AVFMT_GLOBALHEADER))) {
        Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        Options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (S.VideoGlobalHeader & 2) {
        Codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        Options->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (S.VideoStreamCopy) {
        Setup->StreamCopy = true;
        Codec->sample_aspect_ratio = St->sample_aspect_ratio = StreamAspect(S.FrameWidth, S.FrameHeight);
        FOutputEncoders.push_back(nullptr);
        return;
    }

    AVRational Rate = S.FrameRate.num ? S.FrameRate : AVRational{25, 1};
    Codec->codec_id = Encoder ? Encoder->id : GuessedId;
    Setup->Encoder = Encoder;
    FOutputEncoders.push_back(S.VideoCodecName.empty() ? nullptr : Encoder);
    ApplyStoredOptions(Codec, Options, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);

    if (Encoder && Encoder->supported_framerates && !S.ForceFps) {
        const int Nearest = lavu.av_find_nearest_q_idx(Rate, Encoder->supported_framerates);
        Rate = Encoder->supported_framerates[Nearest];
    }
    Codec->time_base = AVRational{Rate.den, Rate.num};
    Codec->framerate = Rate;
    St->avg_frame_rate = Rate;
    // The frame size may come from an input header nothing has checked; with the pads it must
    // still be a size.
    const int64_t Width = int64_t(S.FrameWidth) + S.PadRight + S.PadLeft;
    const int64_t Height = int64_t(S.FrameHeight) + S.PadTop + S.PadBottom;
    if (Width > INT_MAX || Height > INT_MAX)
        throw FFmpegException(Format("Frame size %lldx%lld is out of range", static_cast<long long>(Width),
                                     static_cast<long long>(Height)));
    Codec->width = static_cast<int>(Width);
    Codec->height = static_cast<int>(Height);
    if (!S.FrameSizeGiven) FitPictureToEncoder(Codec);
    Codec->sample_aspect_ratio = St->sample_aspect_ratio = StreamAspect(Codec->width, Codec->height);
    Codec->pix_fmt = static_cast<AVPixelFormat>(S.FramePixFmt);
    if (Encoder && Encoder->pix_fmts &&
        !Lists(Encoder->pix_fmts, AV_PIX_FMT_NONE, static_cast<AVPixelFormat>(S.FramePixFmt)))
        Codec->pix_fmt = Encoder->pix_fmts[0];
    if (S.IntraOnly) Codec->gop_size = 0;
    if (S.VideoQScale != 0.0f || S.SameQuality) {
        Codec->flags |= AV_CODEC_FLAG_QSCALE;
        Setup->Quality = kLambdaPerQuantiser * S.VideoQScale;
        Codec->global_quality = SaturatingCast<int>(Setup->Quality);
    }
    if (S.IntraMatrix.size() == 64) Codec->intra_matrix = CopyMatrix(S.IntraMatrix);
    if (S.InterMatrix.size() == 64) Codec->inter_matrix = CopyMatrix(S.InterMatrix);
    // Settled again when the encoder opens and its picture size is known (VideoEncoderThreadCount).
    Codec->thread_count = kVideoCodecThreads;

    if (!S.RcOverride.empty()) {
        const std::vector<RcOverride> Entries = ParseRcOverride(S.RcOverride);
        auto* Table = static_cast<RcOverride*>(lavu.av_mallocz(Entries.size() * sizeof(RcOverride)));
        if (!Table) throw FFmpegException("Could not allocate the rate-control override");
        std::copy(Entries.begin(), Entries.end(), Table);
        Codec->rc_override = Table;
        Codec->rc_override_count = static_cast<int>(Entries.size());
    }
    if (Codec->rc_initial_buffer_occupancy == 0 && Codec->rc_buffer_size > 0)
        Codec->rc_initial_buffer_occupancy = static_cast<int>(int64_t(Codec->rc_buffer_size) * 3 / 4);
    // The encoder refuses a precision it cannot code; the subtraction must not wrap before that.
    Codec->intra_dc_precision = SaturatingCast<int>(double(S.IntraDcPrecision) - 8.0);
    if (S.DoPSNR) Codec->flags |= AV_CODEC_FLAG_PSNR;
    if (S.DoPass == 1) Codec->flags |= AV_CODEC_FLAG_PASS1;
    if (S.DoPass == 2) Codec->flags |= AV_CODEC_FLAG_PASS2;
}

void TCustomFFmpeg::AddAudioStream(AVFormatContext* Container, int FileIndex) {
    TJobSettings& S = FSettings;
    struct TResetKind {
        TJobSettings& S;
        ~TResetKind() {
            S.AudioDisable = false;
            S.AudioCodecName.clear();
            S.AudioStreamCopy = false;
            S.AudioLanguage.clear();
        }
    } Reset{S};

    const AVCodec* Encoder = nullptr;
    AVCodecID GuessedId = AV_CODEC_ID_NONE;
    if (!S.AudioStreamCopy) {
        if (!S.AudioCodecName.empty()) {
            if (!FindCodecByName(S.AudioCodecName, AVMEDIA_TYPE_AUDIO, true, Encoder))
                throw FFmpegException(FLastError);
        } else {
            GuessedId =
                lavf.av_guess_codec(Container->oformat, nullptr, Container->url, nullptr, AVMEDIA_TYPE_AUDIO);
            Encoder = lavc.avcodec_find_encoder(GuessedId);
        }
    }
    TOutputStreamSetup* Setup = nullptr;
    AVStream* St = NewStream(Container, FileIndex, AVMEDIA_TYPE_AUDIO, Encoder, Setup);
    AVCodecContext* Codec = Setup->Codec.get();
    Setup->Filters = std::move(S.AudioBitstreamFilters);
    S.AudioBitstreamFilters.clear();
    if (S.AudioCodecTag) Codec->codec_tag = S.AudioCodecTag;
    if (Container->oformat->flags & AVFMT_GLOBALHEADER) {
        Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        FCodecOpts[omtAudio]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (S.AudioStreamCopy) {
        Setup->StreamCopy = true;
        lavu.av_channel_layout_uninit(&Codec->ch_layout);
        lavu.av_channel_layout_default(&Codec->ch_layout, S.AudioChannels);
        FOutputEncoders.push_back(nullptr);
    } else {
        ApplyStoredOptions(Codec, FCodecOpts[omtAudio].get(),
                           AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        Codec->codec_id = Encoder ? Encoder->id : GuessedId;
        Setup->Encoder = Encoder;
        FOutputEncoders.push_back(S.AudioCodecName.empty() ? nullptr : Encoder);
        if (S.AudioQScale > -99999.0f) {
            Codec->flags |= AV_CODEC_FLAG_QSCALE;
            Setup->Quality = kLambdaPerQuantiser * S.AudioQScale;
            Codec->global_quality = SaturatingCast<int>(Setup->Quality);
        }
        Codec->thread_count = S.ThreadCount;
        lavu.av_channel_layout_uninit(&Codec->ch_layout);
        // The input's layout, unless the channel count asked for differs from it.
        if (S.AudioChannelLayout && __builtin_popcountll(S.AudioChannelLayout) == S.AudioChannels)
            lavu.av_channel_layout_from_mask(&Codec->ch_layout, S.AudioChannelLayout);
        else
            lavu.av_channel_layout_default(&Codec->ch_layout, S.AudioChannels);
        Codec->sample_fmt = static_cast<AVSampleFormat>(S.AudioSampleFmt);
        if (Encoder && Encoder->sample_fmts &&
            !Lists(Encoder->sample_fmts, AV_SAMPLE_FMT_NONE, Codec->sample_fmt))
            Codec->sample_fmt = Encoder->sample_fmts[0];
    }
    Codec->sample_rate = S.AudioSampleRate;
    Codec->time_base = AVRational{1, S.AudioSampleRate};
    Setup->SampleRateGiven = S.AudioSampleRateGiven;
    Setup->ChannelsGiven = S.AudioChannelsGiven;
    if (!S.AudioLanguage.empty()) lavu.av_dict_set(&St->metadata, "language", S.AudioLanguage.c_str(), 0);
}

void TCustomFFmpeg::AddSubtitleStream(AVFormatContext* Container, int FileIndex) {
    TJobSettings& S = FSettings;
    struct TResetKind {
        TJobSettings& S;
        ~TResetKind() {
            S.SubtitleDisable = false;
            S.SubtitleCodecName.clear();
            S.SubtitleStreamCopy = false;
            S.SubtitleLanguage.clear();
        }
    } Reset{S};

    const AVCodec* Encoder = nullptr;
    if (!S.SubtitleStreamCopy && !FindCodecByName(S.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, Encoder))
        throw FFmpegException(FLastError);
    // Without a name the container's own subtitle codec serves, as for audio and video.
    if (!S.SubtitleStreamCopy && !Encoder)
        Encoder = lavc.avcodec_find_encoder(
            lavf.av_guess_codec(Container->oformat, nullptr, Container->url, nullptr, AVMEDIA_TYPE_SUBTITLE));
    TOutputStreamSetup* Setup = nullptr;
    AVStream* St = NewStream(Container, FileIndex, AVMEDIA_TYPE_SUBTITLE, Encoder, Setup);
    AVCodecContext* Codec = Setup->Codec.get();
    Setup->Filters = std::move(S.SubtitleBitstreamFilters);
    S.SubtitleBitstreamFilters.clear();
    if (S.SubtitleCodecTag) Codec->codec_tag = S.SubtitleCodecTag;
    if (S.SubtitleStreamCopy) {
        Setup->StreamCopy = true;
        FOutputEncoders.push_back(nullptr);
    } else {
        ApplyStoredOptions(Codec, FCodecOpts[omtSubtitle].get(),
                           AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (Encoder) Codec->codec_id = Encoder->id;
        Setup->Encoder = Encoder;
        FOutputEncoders.push_back(Encoder);
    }
    if (!S.SubtitleLanguage.empty())
        lavu.av_dict_set(&St->metadata, "language", S.SubtitleLanguage.c_str(), 0);
}

}  // namespace zembra
