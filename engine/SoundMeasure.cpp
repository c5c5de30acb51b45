// The loudness meter on the audio path: which output is measured, and its samples in the
// meter's floats.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "binding/EntryPoints.h"
#include "engine/Transcoder.h"
#include "util/NumericCasts.h"

namespace zembra {

namespace {

// BS.1770's channel weights: the surround channels count 1.41, the low-frequency channel not at all.
double WeightOf(AVChannel Channel) {
    switch (Channel) {
        case AV_CHAN_LOW_FREQUENCY:
        case AV_CHAN_LOW_FREQUENCY_2:
            return 0.0;
        case AV_CHAN_SIDE_LEFT:
        case AV_CHAN_SIDE_RIGHT:
        case AV_CHAN_BACK_LEFT:
        case AV_CHAN_BACK_RIGHT:
            return 1.41;
        default:
            return 1.0;
    }
}

std::vector<double> WeightsOf(const AVChannelLayout& Layout) {
    std::vector<double> Weights(static_cast<size_t>(std::max(Layout.nb_channels, 0)), 1.0);
    if (Layout.order == AV_CHANNEL_ORDER_NATIVE) {
        size_t I = 0;
        for (int Bit = 0; Bit < 64 && I < Weights.size(); ++Bit)
            if (Layout.u.mask & (1ULL << Bit)) Weights[I++] = WeightOf(static_cast<AVChannel>(Bit));
    } else if (Layout.order == AV_CHANNEL_ORDER_CUSTOM && Layout.u.map) {
        for (size_t I = 0; I < Weights.size(); ++I) Weights[I] = WeightOf(Layout.u.map[I].id);
    }
    return Weights;
}

template <typename T>
float ToFloat(T V) {
    if constexpr (std::is_same_v<T, uint8_t>)
        return (static_cast<float>(V) - 128.0f) / 128.0f;
    else if constexpr (std::is_floating_point_v<T>)
        return static_cast<float>(V);
    else
        return static_cast<float>(static_cast<double>(V) /
                                  -static_cast<double>(std::numeric_limits<T>::min()));
}

// Samples of T into Out as floats, plane by plane (one plane of interleaved samples): a loop the
// compiler turns into vector code.
template <typename T>
void Convert(const uint8_t* const* Data, int Planes, size_t PerPlane, std::vector<float>& Out) {
    Out.resize(static_cast<size_t>(Planes) * PerPlane);
    for (int P = 0; P < Planes; ++P) {
        const T* In = reinterpret_cast<const T*>(Data[P]);
        float* To = Out.data() + static_cast<size_t>(P) * PerPlane;
        for (size_t I = 0; I < PerPlane; ++I) To[I] = ToFloat(In[I]);
    }
}

}  // namespace

void TTranscoder::ChooseMeasuredStream() {
    if (!S.ReplayGain) return;
    for (size_t N = 0; N < FOutputs.size(); ++N) {
        TOutputStreamState& Ost = FOutputs[N];
        if (Ost.St->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || IsAttachment(Ost)) continue;
        FMeasured = static_cast<int>(N);
        // A copied sound is decoded for the meter alone.
        if (!Ost.EncodingNeeded) FInputs[Ost.SourceIndex].DecodingNeeded = true;
        return;
    }
}

void TTranscoder::Measure(const uint8_t* const* Data, AVSampleFormat Format, const AVChannelLayout& Layout,
                          int Rate, int Samples) {
    const int Channels = Layout.nb_channels;
    if (Samples <= 0 || Channels <= 0 || Rate <= 0) return;
    // The meter is made for the first samples' rate and channels; a change on the way (a new
    // part of a chained stream) starts it again, which keeps the sound measured last.
    if (!FMeter || FMeter->SampleRate() != Rate || FMeter->Channels() != Channels)
        FMeter = std::make_unique<TLoudnessMeter>(Rate, WeightsOf(Layout));
    const bool Planar = lavu.av_sample_fmt_is_planar(Format);
    const auto Count = static_cast<size_t>(Samples);
    const int Planes = Planar ? Channels : 1;
    const size_t PerPlane = Planar ? Count : Count * static_cast<size_t>(Channels);
    const float* const* Floats = reinterpret_cast<const float* const*>(Data);
    switch (lavu.av_get_packed_sample_fmt(Format)) {
        case AV_SAMPLE_FMT_FLT:
            break;  // most encoders' own format: read where it lies
        case AV_SAMPLE_FMT_S16:
            Convert<int16_t>(Data, Planes, PerPlane, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_S32:
            Convert<int32_t>(Data, Planes, PerPlane, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_S64:
            Convert<int64_t>(Data, Planes, PerPlane, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_DBL:
            Convert<double>(Data, Planes, PerPlane, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_U8:
            Convert<uint8_t>(Data, Planes, PerPlane, FMeterSamples);
            break;
        default:
            return;
    }
    if (lavu.av_get_packed_sample_fmt(Format) != AV_SAMPLE_FMT_FLT) {
        FMeterPlanes.resize(static_cast<size_t>(Planes));
        for (int P = 0; P < Planes; ++P)
            FMeterPlanes[static_cast<size_t>(P)] = FMeterSamples.data() + P * PerPlane;
        Floats = FMeterPlanes.data();
    }
    if (Planar)
        FMeter->AddPlanar(Floats, Count);
    else
        FMeter->AddInterleaved(Floats[0], Count);
}

void TTranscoder::MeasureCopiedSound(const TInputStreamState& Ist, const AVFrame* Frame) {
    const TOutputStreamState& Ost = FOutputs[static_cast<size_t>(FMeasured)];
    if (&FInputs[Ost.SourceIndex] != &Ist || Ost.Done || Frame->sample_rate <= 0) return;
    int Samples = Frame->nb_samples;
    // A cut ends at its recording time: what lies past it is not measured.
    if (S.RecordingTime != INT64_MAX) {
        const double Left = static_cast<double>(S.RecordingTime - (Ist.Clock.Pts - S.StartTime)) / 1000000.0;
        Samples = static_cast<int>(
            std::clamp<int64_t>(SaturatingCast<int64_t>(std::round(Left * Frame->sample_rate)), 0, Samples));
    }
    Measure(Frame->extended_data, static_cast<AVSampleFormat>(Frame->format), Frame->ch_layout,
            Frame->sample_rate, Samples);
}

}  // namespace zembra
