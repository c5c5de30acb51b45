// The loudness meter on the audio path: which output is measured, and its samples in the
// meter's floats.

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Samples of T, planar or not, into Out as interleaved floats.
template <typename T>
void Interleave(const uint8_t* const* Data, bool Planar, int Channels, int Samples, std::vector<float>& Out) {
    Out.resize(static_cast<size_t>(Channels) * static_cast<size_t>(Samples));
    for (int C = 0; C < Channels; ++C) {
        for (int I = 0; I < Samples; ++I) {
            T V;
            const uint8_t* P = Planar ? Data[C] + static_cast<size_t>(I) * sizeof(T)
                                      : Data[0] + (static_cast<size_t>(I) * Channels + C) * sizeof(T);
            std::memcpy(&V, P, sizeof V);
            Out[static_cast<size_t>(I) * Channels + C] = ToFloat(V);
        }
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
    switch (lavu.av_get_packed_sample_fmt(Format)) {
        case AV_SAMPLE_FMT_FLT:
            // The encoders' own format for most codecs: read where it lies.
            if (Planar)
                FMeter->AddPlanar(reinterpret_cast<const float* const*>(Data), Count);
            else
                FMeter->AddInterleaved(reinterpret_cast<const float*>(Data[0]), Count);
            return;
        case AV_SAMPLE_FMT_S16:
            Interleave<int16_t>(Data, Planar, Channels, Samples, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_S32:
            Interleave<int32_t>(Data, Planar, Channels, Samples, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_S64:
            Interleave<int64_t>(Data, Planar, Channels, Samples, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_DBL:
            Interleave<double>(Data, Planar, Channels, Samples, FMeterSamples);
            break;
        case AV_SAMPLE_FMT_U8:
            Interleave<uint8_t>(Data, Planar, Channels, Samples, FMeterSamples);
            break;
        default:
            return;
    }
    FMeter->AddInterleaved(FMeterSamples.data(), Count);
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
