// Decoded audio to encoded packets: volume, drift correction, conversion with the resampler,
// whole encoder frames out of the sample FIFO.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "binding/EntryPoints.h"
#include "engine/SampleLevels.h"
#include "engine/Transcoder.h"
#include "logging/FFmpegLogger.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

template <typename T, typename Wide>
void ScaleIntegers(uint8_t* Data, size_t Count, int Volume) {
    auto* P = reinterpret_cast<T*>(Data);
    for (size_t I = 0; I < Count; ++I) {
        const Wide V = (static_cast<Wide>(P[I]) * Volume + 128) >> 8;
        P[I] =
            static_cast<T>(std::clamp<Wide>(V, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
    }
}

template <typename T>
void ScaleFloats(uint8_t* Data, size_t Count, int Volume) {
    auto* P = reinterpret_cast<T*>(Data);
    const T Factor = static_cast<T>(Volume) / static_cast<T>(256);
    for (size_t I = 0; I < Count; ++I) P[I] = std::clamp<T>(P[I] * Factor, T(-1), T(1));
}

// Float samples reach float encoders unclipped. A damaged stream can decode to amplitudes in
// the hundreds of thousands, on which LAME fails an assertion and aborts the whole process, or
// to NaN. Eight times full scale (+18 dB) is past any real signal and well inside what the
// encoders survive; NaN becomes silence.
constexpr double kFloatSampleLimit = 8.0;

// Whether any of Count floats lies past Limit or is NaN. Every sound frame is checked, so this
// compares magnitudes as integers, where NaN and infinity order above every finite value, in
// eight lanes the compiler turns into vector code.
template <typename T, typename TBits>
bool AnyPast(const uint8_t* Data, size_t Count, T Limit) {
    static_assert(sizeof(T) == sizeof(TBits));
    constexpr TBits Magnitude = std::numeric_limits<TBits>::max() >> 1;
    TBits LimitBits = 0;
    std::memcpy(&LimitBits, &Limit, sizeof Limit);
    TBits Lanes[8] = {};
    size_t I = 0;
    for (; I + 8 <= Count; I += 8)
        for (size_t K = 0; K < 8; ++K) {
            TBits V = 0;
            std::memcpy(&V, Data + (I + K) * sizeof(T), sizeof V);
            Lanes[K] = std::max<TBits>(Lanes[K], V & Magnitude);
        }
    TBits Max = 0;
    for (; I < Count; ++I) {
        TBits V = 0;
        std::memcpy(&V, Data + I * sizeof(T), sizeof V);
        Max = std::max<TBits>(Max, V & Magnitude);
    }
    for (TBits Lane : Lanes) Max = std::max(Max, Lane);
    return Max > LimitBits;
}

template <typename T, typename TBits>
void LimitFloats(uint8_t* Data, size_t Count) {
    const T Limit = static_cast<T>(kFloatSampleLimit);
    if (!AnyPast<T, TBits>(Data, Count, Limit)) return;
    auto* P = reinterpret_cast<T*>(Data);
    for (size_t I = 0; I < Count; ++I)
        if (!(P[I] >= -Limit && P[I] <= Limit)) P[I] = std::isnan(P[I]) ? T(0) : std::copysign(Limit, P[I]);
}

bool SameLayout(const AVChannelLayout& A, const AVChannelLayout& B) {
    return lavu.av_channel_layout_compare(&A, &B) == 0;
}

}  // namespace

void LimitFloatSamples(AVFrame* F, int Channels) {
    const auto Format = static_cast<AVSampleFormat>(F->format);
    const auto Packed = lavu.av_get_packed_sample_fmt(Format);
    if (Packed != AV_SAMPLE_FMT_FLT && Packed != AV_SAMPLE_FMT_DBL) return;
    const bool Planar = lavu.av_sample_fmt_is_planar(Format);
    const int Planes = Planar ? Channels : 1;
    const size_t Count = static_cast<size_t>(F->nb_samples) * (Planar ? 1 : Channels);
    for (int P = 0; P < Planes; ++P) {
        if (Packed == AV_SAMPLE_FMT_FLT)
            LimitFloats<float, uint32_t>(F->extended_data[P], Count);
        else
            LimitFloats<double, uint64_t>(F->extended_data[P], Count);
    }
}

// Every sample becomes (s x vol + 128) >> 8 on the 16-bit scale, clipped; other sample
// formats scale the same way on their own scale.
void ScaleSoundVolume(AVFrame* Frame, int Volume) {
    if (lavu.av_frame_make_writable(Frame) < 0) return;
    const auto Format = static_cast<AVSampleFormat>(Frame->format);
    const bool Planar = lavu.av_sample_fmt_is_planar(Format);
    const int Channels = Frame->ch_layout.nb_channels;
    const int Planes = Planar ? Channels : 1;
    const size_t Count = static_cast<size_t>(Frame->nb_samples) * (Planar ? 1 : Channels);
    for (int P = 0; P < Planes; ++P) {
        uint8_t* Data = Frame->extended_data[P];
        switch (lavu.av_get_packed_sample_fmt(Format)) {
            case AV_SAMPLE_FMT_S16:
                // 64 bits: a volume past 65536 times a loud sample overflows 32.
                ScaleIntegers<int16_t, int64_t>(Data, Count, Volume);
                break;
            case AV_SAMPLE_FMT_S32:
                ScaleIntegers<int32_t, int64_t>(Data, Count, Volume);
                break;
            case AV_SAMPLE_FMT_S64:
                ScaleIntegers<int64_t, __int128>(Data, Count, Volume);
                break;
            case AV_SAMPLE_FMT_FLT:
                ScaleFloats<float>(Data, Count, Volume);
                break;
            case AV_SAMPLE_FMT_DBL:
                ScaleFloats<double>(Data, Count, Volume);
                break;
            case AV_SAMPLE_FMT_U8:
                for (size_t I = 0; I < Count; ++I) {
                    const int64_t V = ((static_cast<int64_t>(Data[I] - 128) * Volume + 128) >> 8) + 128;
                    Data[I] = static_cast<uint8_t>(std::clamp<int64_t>(V, 0, 255));
                }
                break;
            default:
                break;
        }
    }
}

int SetChannelConversionFilter(SwrContext* Swr) {
    int Result = lavu.av_opt_set_int(Swr, "filter_size", 16, 0);
    if (Result >= 0) Result = lavu.av_opt_set_int(Swr, "phase_shift", 10, 0);
    if (Result >= 0) Result = lavu.av_opt_set_int(Swr, "linear_interp", 0, 0);
    if (Result >= 0) Result = lavu.av_opt_set_double(Swr, "cutoff", 0.8, 0);
    return Result;
}

void TTranscoder::ScaleVolume(AVFrame* Frame) const {
    ScaleSoundVolume(Frame, S.AudioVolume);
}

void TTranscoder::EnsureResampler(TOutputStreamState& Ost, const AVFrame* Frame) {
    AVChannelLayout InLayout{};
    if (Frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        lavu.av_channel_layout_default(&InLayout, Frame->ch_layout.nb_channels);
    else if (lavu.av_channel_layout_copy(&InLayout, &Frame->ch_layout) < 0)
        throw FFmpegException("av_malloc failed");
    std::unique_ptr<AVChannelLayout, void (*)(AVChannelLayout*)> LayoutGuard(
        &InLayout, [](AVChannelLayout* L) { lavu.av_channel_layout_uninit(L); });
    const auto InFormat = static_cast<AVSampleFormat>(Frame->format);
    if (Ost.Swr && Ost.SwrInFormat == InFormat && Ost.SwrInRate == Frame->sample_rate &&
        SameLayout(Ost.SwrInLayout, InLayout))
        return;
    // The decoder changed its output: what the old converter still holds goes first.
    if (Ost.Swr) FlushResampler(Ost);
    AVCodecContext* C = Ost.Enc->Codec;
    SwrContext* Raw = nullptr;
    int Result = AllocResampler(&Raw, C, InLayout, InFormat, Frame->sample_rate);
    TSwrPtr Swr(Raw);
    if (Result >= 0 && Ost.ResampleFlag) Result = SetChannelConversionFilter(Swr.get());
    if (Result >= 0) Result = lswr.swr_init(Swr.get());
    if (Result < 0)
        throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     InLayout.nb_channels, Frame->sample_rate, C->ch_layout.nb_channels,
                                     C->sample_rate));
    lavu.av_channel_layout_uninit(&Ost.SwrInLayout);
    if (lavu.av_channel_layout_copy(&Ost.SwrInLayout, &InLayout) < 0)
        throw FFmpegException("av_malloc failed");
    Ost.Swr = std::move(Swr);
    Ost.SwrInFormat = InFormat;
    Ost.SwrInRate = Frame->sample_rate;
}

int TTranscoder::AllocResampler(SwrContext** Swr, const AVCodecContext* C, const AVChannelLayout& InLayout,
                                AVSampleFormat InFormat, int InRate) {
    // The 5.1 signature takes non-const layouts that it only reads.
    return lswr.swr_alloc_set_opts2(Swr, const_cast<AVChannelLayout*>(&C->ch_layout), C->sample_fmt,
                                    C->sample_rate, const_cast<AVChannelLayout*>(&InLayout), InFormat, InRate,
                                    0, nullptr);
}

void TTranscoder::ConvertIntoFifo(TOutputStreamState& Ost, const uint8_t* const* Data, int Samples) {
    AVCodecContext* C = Ost.Enc->Codec;
    const int Capacity = lswr.swr_get_out_samples(Ost.Swr.get(), Samples) + 32;
    if (Capacity > Ost.ConvertCapacity) {
        const int Channels = C->ch_layout.nb_channels;
        const int Planes = lavu.av_sample_fmt_is_planar(C->sample_fmt) ? Channels : 1;
        Ost.ConvertPlanes.assign(static_cast<size_t>(Planes), nullptr);
        Ost.ConvertData.reset();
        if (lavu.av_samples_alloc(Ost.ConvertPlanes.data(), nullptr, Channels, Capacity, C->sample_fmt, 0) <
            0)
            throw FFmpegException("av_malloc failed");
        Ost.ConvertData.reset(Ost.ConvertPlanes[0]);
        Ost.ConvertCapacity = Capacity;
    }
    const int Out = lswr.swr_convert(Ost.Swr.get(), Ost.ConvertPlanes.data(), Ost.ConvertCapacity,
                                     const_cast<const uint8_t**>(Data), Samples);
    if (Out < 0) {
        if (S.ExitOnError) throw FFmpegException("av_audio_convert() failed");
        GetLogger().Log(&FJob, llError, "av_audio_convert() failed");
        return;
    }
    if (Out > 0 && lavu.av_audio_fifo_write(Ost.Enc->Fifo.get(),
                                            reinterpret_cast<void**>(Ost.ConvertPlanes.data()), Out) < Out)
        throw FFmpegException("av_fifo_realloc2() failed");
}

void TTranscoder::FlushResampler(TOutputStreamState& Ost) {
    if (!Ost.Swr || !Ost.Enc->Fifo) return;
    while (lswr.swr_get_delay(Ost.Swr.get(), Ost.Enc->Codec->sample_rate) > 0) {
        const int Before = lavu.av_audio_fifo_size(Ost.Enc->Fifo.get());
        ConvertIntoFifo(Ost, nullptr, 0);
        if (lavu.av_audio_fifo_size(Ost.Enc->Fifo.get()) == Before) break;
    }
}

void TTranscoder::EncodeAudio(TOutputStreamState& Ost, TInputStreamState& Ist, const AVFrame* Frame) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    if (!C || !Enc.Fifo || Frame->nb_samples <= 0) return;
    const int InChannels = Frame->ch_layout.nb_channels;
    if (C->ch_layout.nb_channels != InChannels) Ost.ResampleFlag = true;
    EnsureResampler(Ost, Frame);

    const auto InFormat = static_cast<AVSampleFormat>(Frame->format);
    const bool Planar = lavu.av_sample_fmt_is_planar(InFormat);
    const int BytesPerSample = lavu.av_get_bytes_per_sample(InFormat);
    const int Planes = Planar ? InChannels : 1;
    std::vector<const uint8_t*> Data(Frame->extended_data, Frame->extended_data + Planes);
    int Samples = Frame->nb_samples;

    const TInputStreamState& Sync = FInputs[Ost.SyncIndex];
    const double T = (static_cast<double>(Sync.Clock.Pts) - static_cast<double>(S.StartTime)) / 1000000.0;
    const int Rate = C->sample_rate;
    const int FifoSamples = lavu.av_audio_fifo_size(Enc.Fifo.get());
    if (S.AudioSyncMethod != 0) {
        const double Delta = T * Rate - static_cast<double>(Ost.SyncOpts) - FifoSamples;
        const double IDelta = Delta * Frame->sample_rate / Rate;
        int64_t SampleDelta = SaturatingCast<int64_t>(IDelta);
        if (std::fabs(Delta) > 50) {
            if (Ist.IsStart || std::fabs(Delta) > S.AudioDriftThreshold * Rate) {
                if (SampleDelta < 0) {
                    SampleDelta = std::max<int64_t>(SampleDelta, -Samples);
                    const int Drop = static_cast<int>(-SampleDelta);
                    for (int P = 0; P < Planes; ++P)
                        Data[P] += static_cast<size_t>(Drop) * BytesPerSample * (Planar ? 1 : InChannels);
                    Samples -= Drop;
                    if (S.Verbose > 2)
                        GetLogger().Log(&FJob, llVerbose,
                                        Format("discarding %.0f audio samples", std::trunc(-Delta)));
                    if (Samples <= 0) return;
                    Ist.IsStart = false;
                } else {
                    // At most 128 KiB of 16-bit samples are inserted at once.
                    const int64_t Limit = 131072 / (2 * std::max(InChannels, 1));
                    if (SampleDelta <= Limit - Samples)
                        Ist.IsStart = false;
                    else
                        SampleDelta = std::max<int64_t>(0, Limit - Samples);
                    if (!FSilenceFrame) FSilenceFrame = MakeFrame();
                    AVFrame* Silence = FSilenceFrame.get();
                    if (!Silence) throw FFmpegException("av_malloc failed");
                    lavu.av_frame_unref(Silence);
                    Silence->format = InFormat;
                    Silence->nb_samples = static_cast<int>(SampleDelta) + Samples;
                    if (lavu.av_channel_layout_copy(&Silence->ch_layout, &Frame->ch_layout) < 0 ||
                        lavu.av_frame_get_buffer(Silence, 0) < 0)
                        throw FFmpegException("av_malloc failed");
                    lavu.av_samples_set_silence(Silence->extended_data, 0, static_cast<int>(SampleDelta),
                                                InChannels, InFormat);
                    lavu.av_samples_copy(Silence->extended_data, const_cast<uint8_t* const*>(Data.data()),
                                         static_cast<int>(SampleDelta), 0, Samples, InChannels, InFormat);
                    Data.assign(Silence->extended_data, Silence->extended_data + Planes);
                    Samples = Silence->nb_samples;
                    if (S.Verbose > 2)
                        GetLogger().Log(&FJob, llVerbose,
                                        Format("adding %.0f audio samples of silence", std::trunc(Delta)));
                }
            } else if (S.AudioSyncMethod > 1) {
                const int Comp =
                    std::clamp(SaturatingCast<int>(Delta), -S.AudioSyncMethod, S.AudioSyncMethod);
                if (S.Verbose > 2)
                    GetLogger().Log(&FJob, llVerbose,
                                    Format("compensating audio timestamp drift:%f compensation:%d in:%d",
                                           Delta, Comp, Rate));
                if (lswr.swr_set_compensation(Ost.Swr.get(), Comp, Rate) < 0)
                    GetLogger().Log(&FJob, llWarning, "Could not compensate the audio timestamp drift");
            }
        }
    } else {
        Ost.SyncOpts = SaturatingSub(SaturatingTime(std::round(T * Rate)), FifoSamples);
    }
    // Samples beyond the recording time are not encoded, so a cut ends where it was asked to
    // rather than a few encoder frames later.
    if (S.RecordingTime != INT64_MAX) {
        const double Left = static_cast<double>(S.RecordingTime) / 1000000.0 - T;
        const int64_t Allowed = SaturatingCast<int64_t>(std::round(Left * Frame->sample_rate)) +
                                (Samples - Frame->nb_samples);  // inserted silence counts before T
        if (Allowed <= Samples) Ost.Done = true;
        if (Allowed <= 0) return;
        Samples = static_cast<int>(std::min<int64_t>(Samples, Allowed));
    }
    ConvertIntoFifo(Ost, Data.data(), Samples);
    EncodeFifo(Ost, false);
}

void TTranscoder::EncodeFifo(TOutputStreamState& Ost, bool Final) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    AVAudioFifo* Fifo = Enc.Fifo.get();
    const int FrameSize = C->frame_size;
    const bool Variable = (C->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || FrameSize <= 1;
    if (Variable) {
        // Sample-based encoders take what there is, in blocks the FIFO can hand over.
        int Available = lavu.av_audio_fifo_size(Fifo);
        while (Available > 0) {
            const int N = std::min(Available, 16384);
            SendAudioFrame(Ost, N, N);
            Ost.SyncOpts += N;
            Available -= N;
        }
        return;
    }
    while (lavu.av_audio_fifo_size(Fifo) >= FrameSize) {
        SendAudioFrame(Ost, FrameSize, FrameSize);
        Ost.SyncOpts += FrameSize;
    }
    const int Rest = lavu.av_audio_fifo_size(Fifo);
    if (Final && Rest > 0) {
        // The last frame is short where the encoder allows it, else padded with silence.
        const bool Short = C->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
        SendAudioFrame(Ost, Rest, Short ? Rest : FrameSize);
        Ost.SyncOpts += Rest;
    }
}

void TTranscoder::SendAudioFrame(TOutputStreamState& Ost, int Samples, int FrameSamples) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    AVFrame* F = Enc.EncodeFrame.get();
    lavu.av_frame_unref(F);
    F->nb_samples = FrameSamples;
    F->format = C->sample_fmt;
    F->sample_rate = C->sample_rate;
    if (lavu.av_channel_layout_copy(&F->ch_layout, &C->ch_layout) < 0 || lavu.av_frame_get_buffer(F, 0) < 0)
        throw FFmpegException("frame_bytes invalid.");
    if (lavu.av_audio_fifo_read(Enc.Fifo.get(), reinterpret_cast<void**>(F->extended_data), Samples) <
        Samples)
        throw FFmpegException("frame_bytes invalid.");
    if (FrameSamples > Samples)
        lavu.av_samples_set_silence(F->extended_data, Samples, FrameSamples - Samples,
                                    C->ch_layout.nb_channels, C->sample_fmt);
    LimitFloatSamples(F, C->ch_layout.nb_channels);
    // What the encoder gets, without the silence that pads its last frame.
    if (Measures(Ost)) Measure(F->extended_data, C->sample_fmt, C->ch_layout, C->sample_rate, Samples);
    F->pts = Enc.NextSamplePts;
    Enc.NextSamplePts += FrameSamples;
    if (lavc.avcodec_send_frame(C, F) < 0) throw FFmpegException("Audio encoding failed");
    ReceivePackets(Ost);
}

void TTranscoder::ReceivePackets(TOutputStreamState& Ost) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    const bool Audio = C->codec_type == AVMEDIA_TYPE_AUDIO;
    AVPacket* Pkt = FOutPacket.get();
    for (;;) {
        const int Result = lavc.avcodec_receive_packet(C, Pkt);
        if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF) return;
        if (Result < 0) throw FFmpegException(Audio ? "Audio encoding failed" : "Video encoding failed");
        (Audio ? FAudioBytes : FVideoBytes) += Pkt->size;
        size_t StatsSize = 0;
        if (const uint8_t* Stats = lavc.av_packet_get_side_data(Pkt, AV_PKT_DATA_QUALITY_STATS, &StatsSize)) {
            // Quality (lambda), picture type, error count, then the squared errors per plane.
            if (StatsSize >= 4) Enc.Quality = static_cast<float>(AV_RL32(Stats));
            if (StatsSize >= 5) Enc.PictureType = Stats[4];
            const int Count = StatsSize >= 6 ? Stats[5] : 0;
            for (int I = 0; I < std::min(Count, 3) && StatsSize >= size_t(8 + 8 * (I + 1)); ++I)
                Enc.Errors[I] = AV_RL64(Stats + 8 + 8 * I);
        }
        if (Enc.PassLog && C->stats_out) myutil.my_fprintf(Enc.PassLog, "%s", C->stats_out);
        Pkt->stream_index = Ost.Index;
        const int Size = Pkt->size;
        WritePacket(Ost, Pkt, C->time_base);
        if (!Audio && !S.VStatsFileName.empty()) WriteVideoStats(Ost, Size);
    }
}

void TTranscoder::DrainEncoder(TOutputStreamState& Ost) {
    TEncoderState& Enc = *Ost.Enc;
    if (Enc.Drained || !Enc.Codec) return;
    Enc.Drained = true;
    if (Enc.Codec->codec_type == AVMEDIA_TYPE_SUBTITLE) return;
    if (Enc.Codec->codec_type == AVMEDIA_TYPE_AUDIO) {
        // Every output entry of a joined stream may hold converted samples of its own input.
        for (TOutputStreamState& Other : FOutputs)
            if (Other.Enc == &Enc) FlushResampler(Other);
        EncodeFifo(Ost, true);
    }
    if (lavc.avcodec_send_frame(Enc.Codec, nullptr) < 0) return;
    ReceivePackets(Ost);
}

}  // namespace zembra
