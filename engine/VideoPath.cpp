// Decoded pictures to encoded packets: frame-rate conversion by dropping or repeating,
// conversion to the encoder's size and pixel format, encoding.

#include <cmath>

#include "binding/EntryPoints.h"
#include "engine/Transcoder.h"
#include "logging/FFmpegLogger.h"
#include "util/StringUtils.h"

namespace zembra {

void TTranscoder::PrepareVideoEncoding(TOutputStreamState& Ost, TInputStreamState& Ist) {
    AVCodecContext* Enc = Ost.Enc->Setup->Codec.get();
    const AVCodecParameters* In = Ist.St->codecpar;
    if (In->format == AV_PIX_FMT_NONE) Fail("Video pixel format is unknown, stream cannot be decoded");
    if (S.CropTop || S.CropBottom || S.CropLeft || S.CropRight || S.PadTop || S.PadBottom || S.PadLeft ||
        S.PadRight || !S.VideoFilters.empty() || !S.VideoHooks.empty() || FJob.FOnCustomHook || FJob.FOnBeforeHook)
        Fail("Crop, pad, video filters and video hooks are not available in this build yet");
    if (Enc->pix_fmt == AV_PIX_FMT_NONE) Enc->pix_fmt = static_cast<AVPixelFormat>(In->format);
    if (Enc->width <= 0 || Enc->height <= 0) {
        Enc->width = In->width;
        Enc->height = In->height;
    }
    Ost.ResampleFlag = In->width != Enc->width || In->height != Enc->height || In->format != Enc->pix_fmt;
    int64_t Flags = SWS_BICUBIC;
    if (FJob.ScalerOptions()) lavu.av_opt_get_int(FJob.ScalerOptions(), "sws_flags", 0, &Flags);
    Ost.ScalerFlags = static_cast<int>(Flags);
    Ost.EncodingNeeded = Ist.DecodingNeeded = true;
}

void TTranscoder::EncodeVideo(TOutputStreamState& Ost, TInputStreamState& Ist, const AVFrame* Picture) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    if (!C) return;
    AVFormatContext* Oc = FJob.FOutputFiles[Ost.FileIndex];
    int Method = S.VideoSyncMethod;
    if (Method < 0)
        Method = (Oc->oformat->flags & AVFMT_VARIABLE_FPS) ? ((Oc->oformat->flags & AVFMT_NOTIMESTAMPS) ? 0 : 2) : 1;

    // Where this picture belongs on the output's frame grid.
    const double SyncIpts =
        static_cast<double>(Ist.Pts - S.StartTime) / 1000000.0 / av_q2d(C->time_base);
    int Frames = 1;
    if (Method != 0) {
        const double Delta = SyncIpts - static_cast<double>(Ost.SyncOpts);
        if (Method == 1) {
            if (Delta < -1.1) {
                Frames = 0;
            } else if (Delta > 1.1) {
                Frames = static_cast<int>(std::lrint(Delta));
            }
        } else {
            if (Delta <= -0.6)
                Frames = 0;
            else if (Delta > 0.6)
                Ost.SyncOpts = std::lrint(SyncIpts);
        }
        if (Frames == 0) {
            ++FDropFrames;
            if (S.Verbose > 2) GetLogger().Log(&FJob, llVerbose, "*** drop!");
        } else if (Frames > 1) {
            FDupFrames += Frames - 1;
            if (S.Verbose > 2) GetLogger().Log(&FJob, llVerbose, Format("*** %d dup!", Frames - 1));
        }
    }
    Frames = std::min(Frames, S.MaxFrames[0] - static_cast<int>(Ost.FrameNumber));
    if (S.RecordingTime != INT64_MAX) {
        // No frame starts at or after the recording time.
        const int64_t Last = static_cast<int64_t>(
            std::ceil(static_cast<double>(S.RecordingTime) / 1000000.0 / av_q2d(C->time_base)));
        Frames = static_cast<int>(std::min<int64_t>(Frames, Last - Ost.SyncOpts));
    }
    if (Frames <= 0) return;

    const AVFrame* Source = Picture;
    if (Ost.ResampleFlag) {
        Ost.Scaler.reset(lsws.sws_getCachedContext(Ost.Scaler.release(), Picture->width, Picture->height,
                                                   static_cast<AVPixelFormat>(Picture->format), C->width, C->height,
                                                   C->pix_fmt, Ost.ScalerFlags, nullptr, nullptr, nullptr));
        if (!Ost.Scaler) throw FFmpegException("Cannot get resampling context");
        if (!Ost.Scaled) Ost.Scaled = MakeFrame();
        AVFrame* Out = Ost.Scaled.get();
        if (!Out->data[0] || Out->width != C->width || Out->height != C->height || Out->format != C->pix_fmt) {
            lavu.av_frame_unref(Out);
            Out->width = C->width;
            Out->height = C->height;
            Out->format = C->pix_fmt;
            if (lavu.av_frame_get_buffer(Out, 0) < 0) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        } else if (lavu.av_frame_make_writable(Out) < 0) {
            throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        }
        lsws.sws_scale(Ost.Scaler.get(), Picture->data, Picture->linesize, 0, Picture->height, Out->data,
                       Out->linesize);
        Source = Out;
    }
    for (int I = 0; I < Frames && !FJob.StopRequested(); ++I) {
        TFramePtr Frame(lavu.av_frame_clone(Source));
        if (!Frame) throw FFmpegException("Video encoding failed");
        Frame->pts = Ost.SyncOpts;
        Frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (Enc.Setup && Enc.Quality > 0) Frame->quality = static_cast<int>(Enc.Quality);
        if (lavc.avcodec_send_frame(C, Frame.get()) < 0) throw FFmpegException("Video encoding failed");
        ReceivePackets(Ost);
        Ost.SyncOpts += 1;
        Ost.FrameNumber += 1;
    }
}

}  // namespace zembra
