// The output end: bitstream filters and the interleaving writer, subtitles, progress and the
// two-pass log files.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "binding/EntryPoints.h"
#include "engine/Transcoder.h"
#include "logging/FFmpegLogger.h"
#include "util/Formatting.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

constexpr int kSubtitleBufferSize = 1024 * 1024;

// Whether a packet of copied sound stays out of the output. CutInput: its input was opened at a
// cut's start, with an offset that puts the start at zero. The seek there lands some packets
// early: the copy starts with the packet that holds the start, not with whole packets before it.
bool SkipCopiedSound(const AVPacket& Packet, bool CutInput) {
    return CutInput && Packet.pts != AV_NOPTS_VALUE && Packet.duration > 0 &&
           SaturatingAdd(Packet.pts, Packet.duration) <= 0;
}

}  // namespace

void TTranscoder::WritePacket(TOutputStreamState& Ost, AVPacket* Packet, AVRational TimeBase) {
    TEncoderState& Enc = *Ost.Enc;
    if (!Ost.EncodingNeeded && Ost.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
        SkipCopiedSound(*Packet, FJob.FInputFilesCut[FInputs[Ost.SourceIndex].FileIndex])) {
        lavc.av_packet_unref(Packet);
        return;
    }
    if (Enc.Filters.empty()) {
        lavc.av_packet_rescale_ts(Packet, TimeBase, Ost.St->time_base);
        Mux(Ost, Packet);
        return;
    }
    // The chain expects the time base it was set up with.
    const AVRational ChainIn = Enc.Filters.front()->time_base_in;
    if (av_cmp_q(TimeBase, ChainIn) != 0) lavc.av_packet_rescale_ts(Packet, TimeBase, ChainIn);
    FilterAndWrite(Ost, Packet, 0);
}

void TTranscoder::FilterAndWrite(TOutputStreamState& Ost, AVPacket* Packet, size_t Index) {
    TEncoderState& Enc = *Ost.Enc;
    if (Index == Enc.Filters.size()) {
        lavc.av_packet_rescale_ts(Packet, Enc.PacketTimeBase, Ost.St->time_base);
        Mux(Ost, Packet);
        return;
    }
    AVBSFContext* Filter = Enc.Filters[Index].get();
    auto Failed = [&](int Code) {
        const std::string Subject =
            Format("%s failed for stream %d, codec %s", Enc.FilterNames[Index].c_str(), Ost.Index,
                   Enc.Codec && Enc.Codec->codec ? Enc.Codec->codec->name : "copy");
        const std::string Error = OpenErrorText(Utf8ToUtf16(Subject), LegacyOpenError(Code));
        if (S.ExitOnError) throw FFmpegException(Error);
        GetLogger().Log(&FJob, llError, Error);
    };
    TPacketPtr Copy(lavc.av_packet_clone(Packet));
    if (!Copy) throw FFmpegException("av_mallocz fail");
    int Result = lavc.av_bsf_send_packet(Filter, Copy.get());
    if (Result < 0) {
        Failed(Result);
        // The packet goes on unfiltered.
        lavc.av_packet_rescale_ts(Packet, Filter->time_base_in, Ost.St->time_base);
        Mux(Ost, Packet);
        return;
    }
    bool Given = false;
    for (;;) {
        TPacketPtr Out = MakePacket();
        if (!Out) throw FFmpegException("av_mallocz fail");
        Result = lavc.av_bsf_receive_packet(Filter, Out.get());
        if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF) break;
        if (Result < 0) {
            Failed(Result);
            // As when the filter refuses the packet: nothing of it came out, so it goes on
            // unfiltered instead of being lost.
            if (!Given) {
                lavc.av_packet_rescale_ts(Packet, Filter->time_base_in, Ost.St->time_base);
                Mux(Ost, Packet);
            }
            break;
        }
        Given = true;
        FilterAndWrite(Ost, Out.get(), Index + 1);
    }
    lavc.av_packet_unref(Packet);
}

void TTranscoder::Mux(TOutputStreamState& Ost, AVPacket* Packet) {
    TEncoderState& Enc = *Ost.Enc;
    AVFormatContext* Oc = FJob.FOutputFiles[Ost.FileIndex];
    Packet->stream_index = Ost.Index;
    if (Packet->dts == AV_NOPTS_VALUE) Packet->dts = Packet->pts;
    // A muxer refuses decode times that go back; a joined input or a copied stream with an odd
    // start must not end the run for that.
    if (Packet->dts != AV_NOPTS_VALUE && Enc.LastDts != AV_NOPTS_VALUE && Packet->dts <= Enc.LastDts &&
        !(Oc->oformat->flags & AVFMT_TS_NONSTRICT)) {
        const int64_t Fixed = SaturatingAdd(Enc.LastDts, 1);
        if (Packet->pts != AV_NOPTS_VALUE && Packet->pts < Fixed) Packet->pts = Fixed;
        Packet->dts = Fixed;
    }
    if (Packet->dts != AV_NOPTS_VALUE) Enc.LastDts = Packet->dts;
    const int64_t Start = Packet->pts != AV_NOPTS_VALUE ? Packet->pts : Packet->dts;
    if (Start != AV_NOPTS_VALUE)
        Enc.EndSeconds = std::max(
            Enc.EndSeconds,
            (static_cast<double>(Start) + static_cast<double>(std::max<int64_t>(Packet->duration, 0))) *
                av_q2d(Ost.St->time_base));
    const int Result = lavf.av_interleaved_write_frame(Oc, Packet);
    if (Result < 0) throw FFmpegException(WriteErrorWithReason("av_interleaved_write_frame()", Result));
    ++FPacketsMuxed;
    ++FJob.FOutputPacketCounts[Ost.FileIndex];
}

void TTranscoder::EncodeSubtitle(TOutputStreamState& Ost, TInputStreamState& Ist, int64_t Pts,
                                 AVSubtitle& Sub) {
    if (Pts == AV_NOPTS_VALUE) {
        if (S.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
        GetLogger().Log(&FJob, llError, "Subtitle packets must have a pts");
        return;
    }
    AVCodecContext* C = Ost.Enc->Codec;
    if (!C) return;
    if (FSubtitleBuffer.empty()) FSubtitleBuffer.resize(kSubtitleBufferSize);
    const bool Dvb = C->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const unsigned Rects = Sub.num_rects;
    for (int I = 0; I < (Dvb ? 2 : 1); ++I) {
        int64_t SubPts = lavu.av_rescale_q(Pts, Ist.St->time_base, AV_TIME_BASE_Q) +
                         static_cast<int64_t>(Sub.start_display_time) * 1000;
        Sub.end_display_time -= Sub.start_display_time;
        Sub.start_display_time = 0;
        Sub.pts = SubPts;
        // A DVB subtitle is shown by one packet and cleared by a second, empty one.
        if (Dvb && I == 1) Sub.num_rects = 0;
        const int Size = lavc.avcodec_encode_subtitle(C, FSubtitleBuffer.data(), kSubtitleBufferSize, &Sub);
        Sub.num_rects = Rects;
        if (Size < 0) throw FFmpegException("Subtitle encoding failed");
        AVPacket* Pkt = FOutPacket.get();
        if (lavc.av_new_packet(Pkt, Size) < 0) throw FFmpegException("av_mallocz fail");
        std::memcpy(Pkt->data, FSubtitleBuffer.data(), static_cast<size_t>(Size));
        if (Dvb)
            SubPts += static_cast<int64_t>(I == 0 ? Sub.start_display_time : Sub.end_display_time) * 1000;
        Pkt->pts = Pkt->dts = SubPts;
        Pkt->duration = static_cast<int64_t>(Sub.end_display_time) * 1000;
        Pkt->stream_index = Ost.Index;
        WritePacket(Ost, Pkt, AV_TIME_BASE_Q);
        lavc.av_packet_unref(Pkt);
    }
    Ost.FrameNumber += 1;
}

void TTranscoder::ReportProgress(bool Last) {
    AVFormatContext* Oc = FJob.FOutputFiles[0];
    int64_t TotalSize = 0;
    if (Oc && Oc->pb) {
        // The write position also counts what still sits in the I/O buffer.
        TotalSize = std::max<int64_t>(lavf.avio_size(Oc->pb), lavf.avio_seek(Oc->pb, 0, SEEK_CUR));
        TotalSize = std::max<int64_t>(TotalSize, 0);
    }
    std::string Line;
    int32_t FrameNumber = -1, Fps = -1;
    float Quality = -1.0f;
    bool SeenVideo = false;
    double T1 = 1e10;
    for (const TOutputStreamState& Ost : FOutputs) {
        const TEncoderState& Enc = *Ost.Enc;
        const bool Copy = !Ost.EncodingNeeded;
        if (Ost.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            const float Q = Copy ? -1.0f : Enc.Quality / static_cast<float>(FF_QP2LAMBDA);
            if (SeenVideo) {
                Line += Format("q=%2.1f ", Q);
            } else {
                SeenVideo = true;
                const double Elapsed =
                    static_cast<double>(lavu.av_gettime_relative() - FRunStart) / 1000000.0;
                FrameNumber = static_cast<int32_t>(Ost.FrameNumber);
                if (FrameNumber < 1) return;
                Fps = Elapsed > 1 ? static_cast<int32_t>(FrameNumber / Elapsed + 0.5) : 0;
                Quality = Q;
                Line += Format("frame=%5d fps=%3d q=%3.1f ", FrameNumber, Fps, Quality);
                if (Last) Line += "L";
            }
        }
        const double T = Enc.EndSeconds;
        if (T > 0 && T < T1) T1 = T;
    }
    // No stream has reached a time yet: the time reached is nought, not the search's start value
    // (which overflows the callback's milliseconds).
    if (T1 >= 1e10) T1 = 0.0;
    if (FSegmentsPosition >= 0.0) T1 = FSegmentsPosition;
    T1 = std::max(T1, 0.01);
    if (FJob.FOnProgress || S.Verbose > 0 || Last) {
        const double Bitrate = static_cast<double>(TotalSize) * 8.0 / T1 / 1000.0;
        Line += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                       static_cast<double>(TotalSize) / 1024.0, T1, Bitrate);
        if (S.Verbose > 1)
            Line += Format(" dup=%lld drop=%lld", static_cast<long long>(FDupFrames),
                           static_cast<long long>(FDropFrames));
        if (FJob.FOnProgress)
            FJob.FOnProgress(FJob, FrameNumber, Fps, SaturatingCast<int32_t>(T1 * 1000.0), Quality,
                             static_cast<float>(Bitrate), TotalSize, FJob.FTotalDuration);
        else if (S.Verbose >= 0)
            GetLogger().Log(&FJob, llVerbose, Line);
    }
    if (Last && S.Verbose >= 0) {
        const double Raw = static_cast<double>(FVideoBytes + FAudioBytes + FHeaderBytes);
        // Nothing encoded: no overhead to speak of rather than a division by zero.
        const double Overhead = Raw > 0 ? (static_cast<double>(TotalSize) - Raw) * 100.0 / Raw : 0.0;
        GetLogger().Log(
            &FJob, llVerbose,
            Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                   static_cast<double>(FVideoBytes) / 1024.0, static_cast<double>(FAudioBytes) / 1024.0,
                   static_cast<double>(FHeaderBytes) / 1024.0, Overhead));
    }
}

void TTranscoder::OpenPassLog(int Number, TOutputStreamState& Ost) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Setup->Codec.get();
    std::string Name = (S.PassLogFileName.empty() ? std::string("ffmpeg2pass") : S.PassLogFileName) + "-" +
                       std::to_string(Number) + ".log";
    if (Name.size() > 1023) Name.resize(1023);
    if (C->flags & AV_CODEC_FLAG_PASS1) {
        Enc.PassLog = myutil.my_fopen(Name.c_str(), "wb");
        if (!Enc.PassLog)
            throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", Name.c_str()));
        return;
    }
    std::FILE* F = myutil.my_fopen(Name.c_str(), "rb");
    if (!F) throw FFmpegException(Format("Cannot read log file %s for pass-2 encoding", Name.c_str()));
    myutil.my_fseek(F, 0, SEEK_END);
    const long Size = myutil.my_ftell(F);
    myutil.my_fseek(F, 0, SEEK_SET);
    auto* Buffer = static_cast<char*>(Size >= 0 ? lavu.av_malloc(static_cast<size_t>(Size) + 1) : nullptr);
    if (!Buffer) {
        myutil.my_fclose(F);
        throw FFmpegException("Could not allocate log buffer");
    }
    const size_t Read = myutil.my_fread(Buffer, 1, static_cast<size_t>(Size), F);
    myutil.my_fclose(F);
    Buffer[Read] = 0;
    C->stats_in = Buffer;
    Enc.StatsIn.reset(Buffer);
}

}  // namespace zembra
