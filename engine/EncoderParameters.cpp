#include "engine/EncoderParameters.h"

#include <cstdlib>
#include <cstring>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpegException.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

bool Lists(const AVChannelLayout* Layouts, const AVChannelLayout& Layout) {
    for (const AVChannelLayout* L = Layouts; L->nb_channels; ++L)
        if (lavu.av_channel_layout_compare(L, &Layout) == 0) return true;
    return false;
}

bool TakesLayout(const TAudioEncoderLimits& Limits, const AVChannelLayout& Layout) {
    if (Limits.MaxChannels && Layout.nb_channels > Limits.MaxChannels) return false;
    return !Limits.Layouts || Lists(Limits.Layouts, Layout);
}

bool TakesRate(const TAudioEncoderLimits& Limits, int Rate) {
    if (Limits.MaxSampleRate && Rate > Limits.MaxSampleRate) return false;
    if (!Limits.SampleRates) return true;
    for (const int* R = Limits.SampleRates; *R; ++R)
        if (*R == Rate) return true;
    return false;
}

bool SetLayout(AVChannelLayout* Out, const AVChannelLayout& From) {
    lavu.av_channel_layout_uninit(Out);
    return lavu.av_channel_layout_copy(Out, &From) >= 0;
}

}  // namespace

TAudioEncoderLimits AudioEncoderLimits(const AVCodec* Codec) {
    TAudioEncoderLimits Limits;
    if (!Codec) return Limits;
    Limits.Layouts = Codec->ch_layouts;
    Limits.SampleRates = Codec->supported_samplerates;
    // The WMA encoders list nothing and refuse at open time.
    if (Codec->id == AV_CODEC_ID_WMAV1 || Codec->id == AV_CODEC_ID_WMAV2) {
        Limits.MaxChannels = 2;
        Limits.MaxSampleRate = 48000;
    }
    return Limits;
}

void NearestChannelLayout(const TAudioEncoderLimits& Limits, const AVChannelLayout& Source,
                          AVChannelLayout* Out) {
    *Out = AVChannelLayout{};
    // A layout known only by its channel count stands for the usual one of that count.
    AVChannelLayout Own{};
    if (Source.order == AV_CHANNEL_ORDER_UNSPEC || Source.order == AV_CHANNEL_ORDER_CUSTOM)
        lavu.av_channel_layout_default(&Own, Source.nb_channels);
    else if (lavu.av_channel_layout_copy(&Own, &Source) < 0)
        lavu.av_channel_layout_default(&Own, Source.nb_channels);
    if (TakesLayout(Limits, Own)) {
        *Out = Own;
        return;
    }
    const int Count = Own.nb_channels;
    lavu.av_channel_layout_uninit(&Own);
    if (Limits.Layouts)
        for (const AVChannelLayout* L = Limits.Layouts; L->nb_channels; ++L)
            if (L->nb_channels == Count && TakesLayout(Limits, *L)) {
                if (SetLayout(Out, *L)) return;
            }
    const AVChannelLayout Stereo = AV_CHANNEL_LAYOUT_STEREO;
    const AVChannelLayout Mono = AV_CHANNEL_LAYOUT_MONO;
    if (Count >= 2 && TakesLayout(Limits, Stereo) && SetLayout(Out, Stereo)) return;
    if (TakesLayout(Limits, Mono) && SetLayout(Out, Mono)) return;
    if (Limits.Layouts && Limits.Layouts->nb_channels && SetLayout(Out, *Limits.Layouts)) return;
    lavu.av_channel_layout_default(Out, Count > 0 ? Count : 2);
}

int NearestSampleRate(const TAudioEncoderLimits& Limits, int Source) {
    if (TakesRate(Limits, Source)) return Source;
    int Best = 0;
    if (Limits.SampleRates) {
        for (const int* R = Limits.SampleRates; *R; ++R) {
            if (!TakesRate(Limits, *R)) continue;
            const long long D = std::llabs(static_cast<long long>(*R) - Source);
            const long long BestD = std::llabs(static_cast<long long>(Best) - Source);
            if (!Best || D < BestD || (D == BestD && *R > Best)) Best = *R;
        }
    } else if (Limits.MaxSampleRate && Source > Limits.MaxSampleRate) {
        Best = Limits.MaxSampleRate;
    }
    return Best ? Best : Source;
}

std::string ChannelLayoutName(const AVChannelLayout& Layout) {
    char Buf[128] = {0};
    if (Layout.order != AV_CHANNEL_ORDER_UNSPEC &&
        lavu.av_channel_layout_describe(&Layout, Buf, sizeof(Buf)) > 0)
        return Buf;
    return Format("%d channels", Layout.nb_channels);
}

std::string AudioEncoderRefusal(const AVCodec* Codec, const AVCodecContext* Context) {
    if (!Codec || !Context || Context->codec_type != AVMEDIA_TYPE_AUDIO) return "";
    const TAudioEncoderLimits Limits = AudioEncoderLimits(Codec);
    if (Codec->sample_fmts) {
        bool Found = false;
        for (const AVSampleFormat* F = Codec->sample_fmts; *F != AV_SAMPLE_FMT_NONE; ++F)
            Found = Found || *F == Context->sample_fmt;
        if (!Found) {
            const char* Name = lavu.av_get_sample_fmt_name(Context->sample_fmt);
            return Format("Specified sample format %s is invalid or not supported", Name ? Name : "none");
        }
    }
    if (Limits.MaxSampleRate && Context->sample_rate > Limits.MaxSampleRate) return "sample rate is too high";
    if (!TakesRate(Limits, Context->sample_rate))
        return Format("Specified sample rate %d is not supported", Context->sample_rate);
    if (Limits.MaxChannels && Context->ch_layout.nb_channels > Limits.MaxChannels) return "too many channels";
    if (!TakesLayout(Limits, Context->ch_layout))
        return "Specified channel layout '" + ChannelLayoutName(Context->ch_layout) + "' is not supported";
    return "";
}

// The settings as the user's options left them, before the encoder opened: an open encoder
// has changed some to what it made of them, and a copy of those encodes differently.
TCodecContextPtr CopyEncoderSettings(const AVCodecContext* Settings, const AVCodec* Codec) {
    TCodecContextPtr C(lavc.avcodec_alloc_context3(Codec));
    if (!C) throw FFmpegException("Out of memory for a copy of the sound encoder's settings");
    // Only an encoder with options of its own keeps them where the copy can find them.
    if (lavu.av_opt_copy(C.get(), Settings) < 0 ||
        (Codec->priv_class && Settings->priv_data && C->priv_data &&
         lavu.av_opt_copy(C->priv_data, Settings->priv_data) < 0))
        throw FFmpegException("The sound encoder's options could not be copied");
    C->codec_id = Settings->codec_id;
    C->sample_rate = Settings->sample_rate;
    C->sample_fmt = Settings->sample_fmt;
    lavu.av_channel_layout_uninit(&C->ch_layout);
    if (lavu.av_channel_layout_copy(&C->ch_layout, &Settings->ch_layout) < 0)
        throw FFmpegException("The sound encoder's channel layout could not be copied");
    C->time_base = Settings->time_base;
    C->bit_rate = Settings->bit_rate;
    C->flags = Settings->flags;
    C->global_quality = Settings->global_quality;
    C->compression_level = Settings->compression_level;
    C->cutoff = Settings->cutoff;
    C->profile = Settings->profile;
    C->strict_std_compliance = Settings->strict_std_compliance;
    C->thread_count = 1;
    return C;
}

TCodecContextPtr OpenEncoderCopy(const AVCodecContext* Settings, const AVDictionary* PrivateOptions) {
    TCodecContextPtr C = CopyEncoderSettings(Settings, Settings->codec);
    TDictionary Options;
    if (Options.CopyFrom(PrivateOptions) < 0)
        throw FFmpegException("Out of memory for the options of a segment's encoder");
    int Result;
    {
        TCodecLockGuard G;
        Result = lavc.avcodec_open2(C.get(), Settings->codec, Options.Slot());
    }
    if (Result < 0) throw FFmpegException("Error while opening an encoder for a segment of the sound");
    return C;
}

}  // namespace zembra
