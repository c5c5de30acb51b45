// The packet loop: choose an input, read, correct timestamps, decode and hand the result to
// every output stream it feeds; then flush and write the trailers.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/DecodeAhead.h"
#include "engine/Transcoder.h"
#include "logging/FFmpegLogger.h"
#include "util/Formatting.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

// How far the streams of one file may lie apart in it: files are written with their streams
// interleaved by time, within a second or two, a few seconds at the very worst.
constexpr int64_t kInterleaveSlackUs = 5000000;

int LimitIndex(AVMediaType Type) {
    switch (Type) {
        case AVMEDIA_TYPE_VIDEO:
            return 0;
        case AVMEDIA_TYPE_AUDIO:
            return 1;
        case AVMEDIA_TYPE_SUBTITLE:
            return 3;
        default:
            return 2;
    }
}

}  // namespace

double TTranscoder::OutputPosition(const TOutputStreamState& Ost) const {
    const TEncoderState& Enc = *Ost.Enc;
    if (Ost.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && Ost.EncodingNeeded && Enc.Codec)
        return static_cast<double>(Ost.SyncOpts) * av_q2d(Enc.Codec->time_base);
    return Enc.EndSeconds;
}

// The input file whose outputs are furthest behind (or, with "isync", whose input is); -1 when
// none can be read or a frame limit was reached.
int TTranscoder::SelectInputFile() {
    double MinInput = 1e100, MinOutput = 1e100;
    int File = -1;
    int First = 0, Last = OutputStreamCount();
    if (FJob.FJoined) {
        First = FCurrentJoinFile * FStreamsPerFile;
        Last = First + FStreamsPerFile;
        File = FCurrentJoinFile;
    }
    for (int N = First; N < Last; ++N) {
        TOutputStreamState& Ost = FOutputs[N];
        // A cover has no place in time: after its one picture its position would stay at the
        // start and hold back the end of a cut (an attachment has none at all).
        if (Ost.Enc->Setup->Cover) continue;
        const TInputStreamState& Ist = FInputs[Ost.SourceIndex];
        // A stream whose source has nothing more near the end (its sound ended before, a
        // subtitle with no more lines) is done once its file has been read well past the point
        // where another of its streams had all it takes.
        TInputFileState& Source = FInputFiles[Ist.FileIndex];
        if (Ost.Done && Source.EndSeenAt == INT64_MAX && Source.ReadUpTo != INT64_MIN)
            Source.EndSeenAt = Source.ReadUpTo;
        if (!Ost.Done && !FJob.FJoined && Source.EndSeenAt != INT64_MAX &&
            Source.ReadUpTo > SaturatingAdd(Source.EndSeenAt, kInterleaveSlackUs))
            Ost.Done = true;
        // Nor does a stream that has all it takes: with every one of them done the loop ends,
        // and no packet after the end of a cut is read.
        if (Ost.Done) continue;
        if (!FJob.FJoined) {
            if (NoPacket[Ist.FileIndex]) continue;
            if (!FInputFiles[Ist.FileIndex].Ended) {
                const double InPos = static_cast<double>(Ist.Clock.Pts);
                const double OutPos = OutputPosition(Ost);
                if (InPos < MinInput) {
                    MinInput = InPos;
                    if (S.InputSync) File = Ist.FileIndex;
                }
                if (OutPos < MinOutput) {
                    MinOutput = OutPos;
                    if (!S.InputSync) File = Ist.FileIndex;
                }
            }
        } else {
            MinOutput = std::min(MinOutput, OutputPosition(Ost));
        }
        if (Ost.FrameNumber >= S.MaxFrames[LimitIndex(Ost.St->codecpar->codec_type)]) return -1;
    }
    FMinOutputPosition = MinOutput;
    return File;
}

void TTranscoder::PacketLoop() {
    const TRunningLoop Counted;
    // Free processors encode one long sound in segments, each on a thread of its own.
    if (const int Wanted = SoundSegmentsWanted(); Wanted > 1 && RunSoundSegments(Wanted)) return;
    // A free processor reads and decodes ahead on a helper thread until the input ends, or
    // until the others are all busy and this thread goes on alone.
    if (DecodeAheadPossible() && Counted.FreeProcessor() && RunDecodeAhead()) return;
    int64_t LastReport = FRunStart;
    while (!FJob.StopRequested()) {
        FJob.PauseCheckpoint();
        if (FJob.StopRequested()) break;
        const int File = SelectInputFile();
        if (File < 0) {
            if (FJob.FJoined || NoPacketCount == 0) break;
            NoPacket.fill(false);
            NoPacketCount = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (S.RecordingTime != INT64_MAX &&
            static_cast<double>(S.RecordingTime) / 1000000.0 <= FMinOutputPosition)
            break;
        if (S.LimitFileSize != 0) {
            AVIOContext* Pb = FJob.FOutputFiles[0]->pb;
            if (Pb && lavf.avio_seek(Pb, 0, SEEK_CUR) > S.LimitFileSize) break;
        }
        AVFormatContext* Ic = FJob.FInputFiles[File];
        AVPacket* Pkt = FPacket.get();
        const int ReadResult = lavf.av_read_frame(Ic, Pkt);
        if (ReadResult == AVERROR(EAGAIN)) {
            NoPacket[File] = true;
            ++NoPacketCount;
            continue;
        }
        if (ReadResult < 0) {
            FInputFiles[File].Ended = true;
            if (FJob.FJoined) {
                if (FinishJoinedFile(File)) break;
                continue;
            }
            if (S.Shortest) break;
            continue;
        }
        NoPacket.fill(false);
        NoPacketCount = 0;
        if (S.DoPktDump)
            lavf.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, Pkt, S.DoHexDump ? 1 : 0,
                                  Ic->streams[Pkt->stream_index]);

        const TInputFileState& FileState = FInputFiles[File];
        if (Pkt->stream_index < FileState.StreamCount &&
            !FInputs[FileState.FirstIndex + Pkt->stream_index].Discard) {
            TInputStreamState& Ist = FInputs[FileState.FirstIndex + Pkt->stream_index];
            CorrectPacketTimes(File, Ist, Ist.Clock, Pkt);
            if (Pkt->dts != AV_NOPTS_VALUE)
                FInputFiles[File].ReadUpTo =
                    std::max(FInputFiles[File].ReadUpTo,
                             lavu.av_rescale_q(Pkt->dts, Ist.St->time_base, AV_TIME_BASE_Q));
            if (ProcessInputPacket(Ist, Pkt, Ist.Clock, nullptr) < 0) {
                lavc.av_packet_unref(Pkt);
                ReportDecodeError(DecodeErrorText(Ist));
                continue;
            }
        }
        lavc.av_packet_unref(Pkt);
        const int64_t Now = lavu.av_gettime_relative();
        if (Now - LastReport > FJob.FProgressInterval) {
            LastReport = Now;
            ReportProgress(false);
        }
    }
}

void TTranscoder::CorrectPacketTimes(int File, const TInputStreamState& Ist, const TStreamClock& Clock,
                                     AVPacket* Pkt) {
    AVFormatContext* Ic = FJob.FInputFiles[File];
    const AVRational Tb = Ist.St->time_base;
    int64_t& Offset = FJob.FInputFilesTsOffset[File];
    const int64_t OffsetTicks = lavu.av_rescale_q(Offset, AV_TIME_BASE_Q, Tb);
    if (Pkt->dts != AV_NOPTS_VALUE) Pkt->dts = SaturatingAdd(Pkt->dts, OffsetTicks);
    if (Pkt->pts != AV_NOPTS_VALUE) Pkt->pts = SaturatingAdd(Pkt->pts, OffsetTicks);
    const double Scale = Pkt->stream_index < kMaxStreams ? FJob.FInputTsScale[File][Pkt->stream_index] : 0.0;
    if (Scale != 0.0) {
        if (Pkt->dts != AV_NOPTS_VALUE)
            Pkt->dts = SaturatingTime(std::round(static_cast<double>(Pkt->dts) * Scale));
        if (Pkt->pts != AV_NOPTS_VALUE)
            Pkt->pts = SaturatingTime(std::round(static_cast<double>(Pkt->pts) * Scale));
    }
    if (Pkt->dts == AV_NOPTS_VALUE || Clock.NextPts == AV_NOPTS_VALUE ||
        !(Ic->iformat->flags & AVFMT_TS_DISCONT))
        return;
    const int64_t PktTime = lavu.av_rescale_q(Pkt->dts, Tb, AV_TIME_BASE_Q);
    const int64_t Delta = SaturatingSub(PktTime, Clock.NextPts);
    if ((std::llabs(Delta) > SaturatingCast<int64_t>(S.DtsDeltaThreshold * 1000000.0) ||
         SaturatingAdd(PktTime, 1) < Clock.Pts) &&
        !S.CopyTs) {
        Offset = SaturatingSub(Offset, Delta);
        if (S.Verbose >= 3)
            GetLogger().Log(&FJob, llVerbose,
                            Format("timestamp discontinuity %lld, new offset= %lld",
                                   static_cast<long long>(Delta), static_cast<long long>(Offset)));
        const int64_t DeltaTicks = lavu.av_rescale_q(Delta, AV_TIME_BASE_Q, Tb);
        Pkt->dts = SaturatingSub(Pkt->dts, DeltaTicks);
        if (Pkt->pts != AV_NOPTS_VALUE) Pkt->pts = SaturatingSub(Pkt->pts, DeltaTicks);
    }
}

std::string TTranscoder::DecodeErrorText(const TInputStreamState& Ist) const {
    return Format("Error while decoding stream #%d.%d (%s)", Ist.FileIndex, Ist.StreamIndex,
                  MediaTypeName(Ist.St->codecpar->codec_type).c_str());
}

void TTranscoder::ReportDecodeError(const std::string& Error) {
    if (S.ExitOnError) throw FFmpegException(Error);
    if (S.Verbose >= 0) GetLogger().Log(&FJob, llVerbose, Error);
}

// Join mode: file G has ended. Its decoders give up what they hold, the next file's timestamps
// continue where this one's output ended, and the encoders simply go on (a present-day encoder
// cannot be reopened, and going on keeps every delayed sample). True when it was the last file.
bool TTranscoder::FinishJoinedFile(int G) {
    const TInputFileState& File = FInputFiles[G];
    for (int I = File.FirstIndex; I < File.FirstIndex + File.StreamCount; ++I) {
        TInputStreamState& Ist = FInputs[I];
        if (!Ist.DecodingNeeded || Ist.Flushed) continue;
        DrainDecoder(Ist);
        Ist.Flushed = true;
    }
    const int K = FStreamsPerFile;
    for (int N = (G + 1) * K; N < OutputStreamCount(); ++N) {
        FOutputs[N].SyncOpts = FOutputs[N - K].SyncOpts;
        FOutputs[N].FrameNumber = FOutputs[N - K].FrameNumber;
    }
    // Each finished input's converters give up the samples they still hold now, so that they
    // come before the next input's samples instead of after the last input's.
    for (int N = G * K; N < G * K + K && N < OutputStreamCount(); ++N)
        if (FOutputs[N].Swr) FlushResampler(FOutputs[N]);
    double Position = 0.0;
    for (int N = G * K; N < G * K + K; ++N) Position = std::max(Position, OutputPosition(FOutputs[N]));
    if (G + 1 >= FJob.FInputFileCount) return true;
    FJob.FInputFilesTsOffset[G + 1] =
        SaturatingAdd(FJob.FInputFilesTsOffset[G + 1], SaturatingTime(std::round(Position * 1000000.0)));
    FCurrentJoinFile = G + 1;
    return false;
}

int TTranscoder::ProcessInputPacket(TInputStreamState& Ist, const AVPacket* Packet, TStreamClock& Clock,
                                    TDecodeAhead* Ahead) {
    if (Clock.NextPts == AV_NOPTS_VALUE) Clock.NextPts = Clock.Pts;
    if (Packet && Packet->dts != AV_NOPTS_VALUE)
        Clock.NextPts = Clock.Pts = lavu.av_rescale_q(Packet->dts, Ist.St->time_base, AV_TIME_BASE_Q);
    const AVMediaType Type = Ist.St->codecpar->codec_type;
    if (Ist.DecodingNeeded) {
        // Subtitles are never decoded ahead (DecodeAheadPossible).
        const int Result = Type == AVMEDIA_TYPE_SUBTITLE ? DecodeSubtitle(Ist, Packet)
                                                         : DecodeAudioOrVideo(Ist, Packet, Clock, Ahead);
        if (Result < 0) return Result;
    } else if (Packet) {
        Clock.Pts = Clock.NextPts;
        if (Packet->duration > 0)
            Clock.NextPts = SaturatingAdd(
                Clock.NextPts, lavu.av_rescale_q(Packet->duration, Ist.St->time_base, AV_TIME_BASE_Q));
        else if (Type == AVMEDIA_TYPE_AUDIO && Ist.St->codecpar->frame_size > 0 &&
                 Ist.St->codecpar->sample_rate > 0)
            Clock.NextPts = SaturatingAdd(
                Clock.NextPts, 1000000LL * Ist.St->codecpar->frame_size / Ist.St->codecpar->sample_rate);
    }
    if (Packet && (S.StartTime == 0 || Clock.Pts >= S.StartTime)) {
        if (Ahead)
            Ahead->PassPacket(Ist, Packet);
        else
            CopyToOutputs(Ist, Packet);
    }
    return 0;
}

void TTranscoder::CopyToOutputs(TInputStreamState& Ist, const AVPacket* Packet) {
    for (TOutputStreamState& Ost : FOutputs)
        if (&FInputs[Ost.SourceIndex] == &Ist && !Ost.EncodingNeeded && !IsAttachment(Ost))
            CopyPacket(Ost, Ist, Packet);
}

void TTranscoder::DrainDecoder(TInputStreamState& Ist) {
    if (Ist.St->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        DecodeSubtitle(Ist, nullptr);
        return;
    }
    DecodeAudioOrVideo(Ist, nullptr, Ist.Clock, nullptr);
    // The filter graph gives up the pictures it still holds.
    if (Ist.Graph && lavfi.av_buffersrc_add_frame_flags(Ist.FilterSource, nullptr, 0) >= 0) {
        const AVRational SinkTb = lavfi.av_buffersink_get_time_base(Ist.FilterSink);
        for (;;) {
            AVFrame* Out = Ist.Filtered.get();
            if (lavfi.av_buffersink_get_frame(Ist.FilterSink, Out) < 0) break;
            const int64_t Pts = Out->pts != AV_NOPTS_VALUE
                                    ? lavu.av_rescale_q(Out->pts, SinkTb, AV_TIME_BASE_Q)
                                    : Ist.Clock.Pts;
            for (TOutputStreamState& Ost : FOutputs)
                if (&FInputs[Ost.SourceIndex] == &Ist && Ost.EncodingNeeded) EncodeVideo(Ost, Ist, Out, Pts);
            lavu.av_frame_unref(Out);
        }
    }
}

int TTranscoder::DecodeAudioOrVideo(TInputStreamState& Ist, const AVPacket* Packet, TStreamClock& Clock,
                                    TDecodeAhead* Ahead) {
    AVCodecContext* Dec = Ist.Decoder;
    if (!Dec) return -1;
    int Sent = lavc.avcodec_send_packet(Dec, Packet);
    if (Sent < 0 && Sent != AVERROR_EOF && Sent != AVERROR(EAGAIN)) return -1;
    for (;;) {
        AVFrame* Frame = Ist.Frame.get();
        const int Result = lavc.avcodec_receive_frame(Dec, Frame);
        if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF) break;
        if (Result < 0) return -1;
        const int64_t Ts = Frame->best_effort_timestamp;
        if (Ts != AV_NOPTS_VALUE)
            Clock.Pts = lavu.av_rescale_q(Ts, Ist.St->time_base, AV_TIME_BASE_Q);
        else
            Clock.Pts = Clock.NextPts;
        if (Dec->codec_type == AVMEDIA_TYPE_AUDIO && Frame->sample_rate > 0)
            Clock.NextPts = SaturatingAdd(Clock.Pts, 1000000LL * Frame->nb_samples / Frame->sample_rate);
        else if (Frame->pkt_duration > 0)
            Clock.NextPts = SaturatingAdd(
                Clock.Pts, lavu.av_rescale_q(Frame->pkt_duration, Ist.St->time_base, AV_TIME_BASE_Q));
        if (Ahead)
            Ahead->PassFrame(Ist, Frame);
        else
            HandleDecodedFrame(Ist, Frame);
        lavu.av_frame_unref(Frame);
        // The decoder had no room for the packet while it held frames: offer it again.
        if (Sent == AVERROR(EAGAIN)) {
            Sent = lavc.avcodec_send_packet(Dec, Packet);
            if (Sent < 0 && Sent != AVERROR_EOF && Sent != AVERROR(EAGAIN)) return -1;
        }
    }
    return 0;
}

void TTranscoder::HandleDecodedFrame(TInputStreamState& Ist, AVFrame* Frame) {
    const AVMediaType Type = Ist.St->codecpar->codec_type;
    if (Type == AVMEDIA_TYPE_VIDEO) PrepareVideoFrame(Ist, Frame);
    if (Type == AVMEDIA_TYPE_AUDIO && S.AudioVolume != 256) ScaleVolume(Frame);
    if (S.RateEmu) {
        const int64_t Elapsed = lavu.av_gettime_relative() - Ist.StartWall;
        if (Ist.Clock.Pts > Elapsed + 1000)
            std::this_thread::sleep_for(std::chrono::milliseconds((Ist.Clock.Pts - Elapsed) / 1000));
    }
    if (S.StartTime != 0 && Ist.Clock.Pts < S.StartTime) return;
    // A cut input's timeline puts the start at zero, and the seek lands before it: the sound
    // before zero is no part of the piece, and the frame that holds the start gives its samples
    // from there on, so that the piece starts at its exact sample.
    if (Type == AVMEDIA_TYPE_AUDIO && FJob.FInputFilesCut[Ist.FileIndex] && Ist.Clock.Pts < 0 &&
        !TrimToStart(Ist, Frame))
        return;
    if (Type == AVMEDIA_TYPE_VIDEO) {
        FilterAndEncode(Ist, Frame);
        return;
    }
    if (FMeasured >= 0 && !FOutputs[static_cast<size_t>(FMeasured)].EncodingNeeded)
        MeasureCopiedSound(Ist, Frame);
    for (TOutputStreamState& Ost : FOutputs) {
        if (&FInputs[Ost.SourceIndex] != &Ist || !Ost.EncodingNeeded) continue;
        if (Ost.St->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) throw FFmpegException("invalid codec_type");
        EncodeAudio(Ost, Ist, Frame);
    }
}

bool TTranscoder::TrimToStart(TInputStreamState& Ist, AVFrame* Frame) {
    if (Frame->sample_rate <= 0 || Frame->nb_samples <= 0 || Ist.Clock.NextPts <= 0) return false;
    const int64_t Skip = lavu.av_rescale(-Ist.Clock.Pts, Frame->sample_rate, 1000000);
    if (Skip >= Frame->nb_samples) return false;
    const auto SampleFormat = static_cast<AVSampleFormat>(Frame->format);
    const bool Planar = lavu.av_sample_fmt_is_planar(SampleFormat);
    const int Planes = Planar ? Frame->ch_layout.nb_channels : 1;
    const size_t Step = static_cast<size_t>(Skip) * lavu.av_get_bytes_per_sample(SampleFormat) *
                        static_cast<size_t>(Planar ? 1 : Frame->ch_layout.nb_channels);
    // The decoder's frame is ours until it is unreferenced: only where its samples start moves.
    for (int P = 0; P < Planes; ++P) Frame->extended_data[P] += Step;
    for (int P = 0; P < AV_NUM_DATA_POINTERS && P < Planes; ++P) Frame->data[P] = Frame->extended_data[P];
    Frame->nb_samples -= static_cast<int>(Skip);
    Ist.Clock.Pts = 0;
    return true;
}

int TTranscoder::DecodeSubtitle(TInputStreamState& Ist, const AVPacket* Packet) {
    AVCodecContext* Dec = Ist.Decoder;
    if (!Dec) return -1;
    TPacketPtr Empty;
    if (!Packet) {
        Empty = MakePacket();
        if (!Empty) return -1;
        Packet = Empty.get();
    }
    for (;;) {
        AVSubtitle Subtitle{};
        int Got = 0;
        const int Result = lavc.avcodec_decode_subtitle2(Dec, &Subtitle, &Got, const_cast<AVPacket*>(Packet));
        if (Result < 0) return -1;
        if (!Got) break;
        std::unique_ptr<AVSubtitle, void (*)(AVSubtitle*)> Owned(
            &Subtitle, [](AVSubtitle* P) { lavc.avsubtitle_free(P); });
        const int64_t Pts = Packet->pts != AV_NOPTS_VALUE ? Packet->pts : AV_NOPTS_VALUE;
        if (S.StartTime == 0 || Ist.Clock.Pts >= S.StartTime)
            for (TOutputStreamState& Ost : FOutputs)
                if (&FInputs[Ost.SourceIndex] == &Ist && Ost.EncodingNeeded)
                    EncodeSubtitle(Ost, Ist, Pts, Subtitle);
        if (Packet->size > 0) break;  // a real packet decodes once; flushing repeats until empty
    }
    return 0;
}

void TTranscoder::CopyPacket(TOutputStreamState& Ost, TInputStreamState& Ist, const AVPacket* Packet) {
    // Packets are whole: the one that reaches the recording time is the last one copied, even
    // while the loop still reads for a stream that has not got there.
    if (S.RecordingTime != INT64_MAX &&
        Ost.Enc->EndSeconds >= static_cast<double>(S.RecordingTime) / 1000000.0) {
        Ost.Done = true;
        return;
    }
    if (Ost.FrameNumber == 0 && !(Packet->flags & AV_PKT_FLAG_KEY) && !S.CopyInitialNonKeyFrames) return;
    const AVMediaType Type = Ost.St->codecpar->codec_type;
    if (Type == AVMEDIA_TYPE_AUDIO)
        FAudioBytes += Packet->size;
    else if (Type == AVMEDIA_TYPE_VIDEO) {
        FVideoBytes += Packet->size;
        Ost.SyncOpts += 1;
    }
    AVPacket* Out = FOutPacket.get();
    if (lavc.av_packet_ref(Out, Packet) < 0) throw FFmpegException("av_mallocz fail");
    const AVRational InTb = Ist.St->time_base;
    const AVRational OutTb = Ost.Enc->PacketTimeBase;
    Ost.CopyStartOffset = lavu.av_rescale_q(S.StartTime, AV_TIME_BASE_Q, OutTb);
    Out->stream_index = Ost.Index;
    Out->pts = Packet->pts != AV_NOPTS_VALUE
                   ? SaturatingSub(lavu.av_rescale_q(Packet->pts, InTb, OutTb), Ost.CopyStartOffset)
                   : AV_NOPTS_VALUE;
    Out->dts =
        SaturatingSub(Packet->dts != AV_NOPTS_VALUE ? lavu.av_rescale_q(Packet->dts, InTb, OutTb)
                                                    : lavu.av_rescale_q(Ist.Clock.Pts, AV_TIME_BASE_Q, OutTb),
                      Ost.CopyStartOffset);
    Out->duration = lavu.av_rescale_q(Packet->duration, InTb, OutTb);
    WritePacket(Ost, Out, OutTb);
    Ost.FrameNumber += 1;
}

void TTranscoder::Teardown() {
    // Nothing a decoder or an encoder still holds is lost, after a stop request too.
    for (TInputStreamState& Ist : FInputs) {
        if (!Ist.DecodingNeeded || Ist.Flushed) continue;
        Ist.Flushed = true;
        DrainDecoder(Ist);
    }
    for (TOutputStreamState& Ost : FOutputs)
        if (Ost.EncodingNeeded) DrainEncoder(Ost);
    for (int F = 0; F < FOutputFileCount; ++F) {
        const int Result = lavf.av_write_trailer(FJob.FOutputFiles[F]);
        if (Result < 0) throw FFmpegException(WriteErrorWithReason("av_write_trailer()", Result));
    }
    // Headers and a trailer around no data (a source whose streams hold nothing) would pass for
    // a finished file; a failed run's outputs are removed.
    if (FPacketsMuxed == 0 && !FJob.StopRequested())
        throw FFmpegException("Output file is empty, nothing was encoded");
    ReportProgress(true);
    FJob.FLoudness = std::move(FMeter);
    FJob.CloseRegisteredCodecs();
    FJob.FFinished = !FJob.StopRequested();
    if (FJob.FFinished) CheckShortResult();
}

void TTranscoder::CheckShortResult() {
    // Only where the whole source was asked for: a cut, a limit or a join ends earlier on purpose.
    const bool Limited =
        S.RecordingTime != INT64_MAX || S.StartTime != 0 || S.LimitFileSize != 0 ||
        std::any_of(S.MaxFrames.begin(), S.MaxFrames.end(), [](int32_t M) { return M != INT_MAX; });
    if (Limited || FJob.FInputFileCount != 1 || FJob.FJoined) return;
    const int64_t Claimed = FJob.FInputFiles[0]->duration;
    if (Claimed == AV_NOPTS_VALUE || Claimed <= 0) return;
    double Output = 0.0;
    // By what was written: the codecs are closed by now.
    for (const TOutputStreamState& Ost : FOutputs)
        if (!(Ost.St->disposition & AV_DISPOSITION_ATTACHED_PIC))
            Output = std::max(Output, Ost.Enc->EndSeconds);
    const double Source = static_cast<double>(Claimed) / AV_TIME_BASE;
    // A finished task's message is a warning about its result: the file is what the source held,
    // but less than its header promised (a download or a copy cut short).
    if (Output > 0.0 && Output < 0.9 * Source)
        FJob.FErrorMessage = Format("output is %.1f s of %.1f s: the source ends early", Output, Source);
}

}  // namespace zembra
