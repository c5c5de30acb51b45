// Decoded pictures to encoded packets: hooks and deinterlacing right after decoding, the video
// filter graph, frame-rate conversion, crop, scale and pad, encoding, previews and statistics.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegLoader.h"
#include "engine/CodecThreads.h"
#include "engine/Transcoder.h"
#include "logging/FFmpegLogger.h"
#include "util/Formatting.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

const char* ScalerFlagName(int Flags) {
    if (Flags & SWS_FAST_BILINEAR) return "fast_bilinear";
    if (Flags & SWS_BILINEAR) return "bilinear";
    if (Flags & SWS_POINT) return "neighbor";
    if (Flags & SWS_AREA) return "area";
    if (Flags & SWS_BICUBLIN) return "bicublin";
    if (Flags & SWS_GAUSS) return "gauss";
    if (Flags & SWS_SINC) return "sinc";
    if (Flags & SWS_LANCZOS) return "lanczos";
    if (Flags & SWS_SPLINE) return "spline";
    return "bicubic";
}

// Byte offset of the pixel (X, Y) of the luma grid inside plane P.
ptrdiff_t PlaneOffset(const AVPixFmtDescriptor* D, const AVFrame* F, int P, int X, int Y) {
    const bool Chroma = (P == 1 || P == 2) && !(D->flags & AV_PIX_FMT_FLAG_RGB);
    const int Px = Chroma ? (X >> D->log2_chroma_w) : X;
    const int Py = Chroma ? (Y >> D->log2_chroma_h) : Y;
    // The step of the plane's first component: in packed 4:2:2 (YUYV) a pixel is luma's two
    // bytes, while the chroma components step over the four bytes of a pixel pair.
    int Step = 1;
    for (int C = 0; C < D->nb_components; ++C)
        if (D->comp[C].plane == P) {
            Step = D->comp[C].step;
            break;
        }
    return static_cast<ptrdiff_t>(Py) * F->linesize[P] + static_cast<ptrdiff_t>(Px) * Step;
}

// Each of Y, U and V alone on its own plane, a byte a sample (not NV12's shared chroma plane).
bool IsPlanarYuv8(const AVPixFmtDescriptor* D) {
    if (!D ||
        (D->flags &
         (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)) ||
        !(D->flags & AV_PIX_FMT_FLAG_PLANAR))
        return false;
    for (int C = 0; C < std::min<int>(D->nb_components, 3); ++C)
        if (D->comp[C].plane != C || D->comp[C].step != 1 || D->comp[C].depth != 8) return false;
    return true;
}

// The pad colour over the whole picture (black for formats that are not 8-bit planar YUV).
void FillPadColour(AVFrame* F, const std::array<int32_t, 3>& YUV) {
    const AVPixFmtDescriptor* D = lavu.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(F->format));
    if (!IsPlanarYuv8(D) || D->nb_components < 3) {
        ptrdiff_t Lines[4] = {F->linesize[0], F->linesize[1], F->linesize[2], F->linesize[3]};
        lavu.av_image_fill_black(F->data, Lines, static_cast<AVPixelFormat>(F->format), AVCOL_RANGE_MPEG,
                                 F->width, F->height);
        return;
    }
    for (int P = 0; P < 3; ++P) {
        const int H = P == 0 ? F->height : -((-F->height) >> D->log2_chroma_h);
        const int W = P == 0 ? F->width : -((-F->width) >> D->log2_chroma_w);
        for (int Y = 0; Y < H; ++Y)
            std::memset(F->data[P] + static_cast<ptrdiff_t>(Y) * F->linesize[P], YUV[P],
                        static_cast<size_t>(W));
    }
}

// A vertical low-pass over every line of 8-bit planar YUV (-1 4 2 4 -1)/8; picture sizes must
// be multiples of 4. False for other pictures.
bool Deinterlace(const AVFrame* In, AVFrame* Out) {
    const AVPixFmtDescriptor* D = lavu.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(In->format));
    if (!IsPlanarYuv8(D) || (In->width & 3) || (In->height & 3)) return false;
    const int Planes = D->nb_components >= 3 ? 3 : 1;
    for (int P = 0; P < Planes; ++P) {
        const int W = P == 0 ? In->width : In->width >> D->log2_chroma_w;
        const int H = P == 0 ? In->height : In->height >> D->log2_chroma_h;
        for (int Y = 0; Y < H; ++Y) {
            auto Row = [&](int R) {
                return In->data[P] + static_cast<ptrdiff_t>(std::clamp(R, 0, H - 1)) * In->linesize[P];
            };
            const uint8_t *A = Row(Y - 2), *B = Row(Y - 1), *C = Row(Y), *E = Row(Y + 1), *G = Row(Y + 2);
            uint8_t* Dst = Out->data[P] + static_cast<ptrdiff_t>(Y) * Out->linesize[P];
            for (int X = 0; X < W; ++X) {
                const int V = (-A[X] + 4 * B[X] + 2 * C[X] + 4 * E[X] - G[X] + 4) >> 3;
                Dst[X] = static_cast<uint8_t>(std::clamp(V, 0, 255));
            }
        }
    }
    return true;
}

}  // namespace

void TTranscoder::PrepareVideoEncoding(TOutputStreamState& Ost, TInputStreamState& Ist) {
    AVCodecContext* Enc = Ost.Enc->Setup->Codec.get();
    const AVCodecParameters* In = Ist.St->codecpar;
    if (In->format == AV_PIX_FMT_NONE) Fail("Video pixel format is unknown, stream cannot be decoded");
    if (Enc->pix_fmt == AV_PIX_FMT_NONE) Enc->pix_fmt = static_cast<AVPixelFormat>(In->format);
    if (Enc->width <= 0 || Enc->height <= 0) {
        Enc->width = In->width - S.CropLeft - S.CropRight + S.PadLeft + S.PadRight;
        Enc->height = In->height - S.CropTop - S.CropBottom + S.PadTop + S.PadBottom;
    }
    Ost.CropFlag = S.CropTop || S.CropBottom || S.CropLeft || S.CropRight;
    Ost.PadFlag = S.PadTop || S.PadBottom || S.PadLeft || S.PadRight;
    Ost.FirstCropTop = Ost.CropTop = S.CropTop;
    Ost.FirstCropBottom = Ost.CropBottom = S.CropBottom;
    Ost.FirstCropLeft = Ost.CropLeft = S.CropLeft;
    Ost.FirstCropRight = Ost.CropRight = S.CropRight;
    Ost.PadTop = S.PadTop;
    Ost.PadBottom = S.PadBottom;
    Ost.PadLeft = S.PadLeft;
    Ost.PadRight = S.PadRight;
    Ost.FirstWidth = Ost.BandsWidth = In->width;
    Ost.FirstHeight = Ost.BandsHeight = In->height;
    Ost.ScaledWidth = In->width - S.CropLeft - S.CropRight;
    Ost.ScaledHeight = In->height - S.CropTop - S.CropBottom;
    Ost.ScaledFormat = static_cast<AVPixelFormat>(In->format);
    int64_t Flags = SWS_BICUBIC;
    if (FJob.ScalerOptions()) lavu.av_opt_get_int(FJob.ScalerOptions(), "sws_flags", 0, &Flags);
    Ost.ScalerFlags = static_cast<int>(Flags);
    Ost.EncodingNeeded = Ist.DecodingNeeded = true;
    FFilterError.clear();
    if (FJob.FFiltersEnabled) {
        if (!ConfigureFilters(Ost, Ist))
            Fail(FFilterError.empty() ? "Error opening filters!" : "Error opening filters: " + FFilterError);
        Ost.ResampleFlag = false;
        return;
    }
    Ost.ResampleFlag =
        !(Ost.ScaledWidth + S.PadLeft + S.PadRight == Enc->width &&
          Ost.ScaledHeight + S.PadTop + S.PadBottom == Enc->height && In->format == Enc->pix_fmt);
}

bool TTranscoder::ConfigureFilters(TOutputStreamState& Ost, TInputStreamState& Ist) {
    AVCodecContext* Enc = Ost.Enc->Setup->Codec.get();
    if (Ist.Graph) {
        // Another output of this input set the graph up: this one gets the same pictures, so its
        // encoder takes their size, and it must take their pixel format.
        if (lavfi.av_buffersink_get_format(Ist.FilterSink) != Enc->pix_fmt) {
            FFilterError = "the outputs of one filtered input must use the same pixel format";
            return false;
        }
        Enc->width = lavfi.av_buffersink_get_w(Ist.FilterSink) + S.PadLeft + S.PadRight;
        Enc->height = lavfi.av_buffersink_get_h(Ist.FilterSink) + S.PadTop + S.PadBottom;
        return true;
    }
    const AVCodecParameters* In = Ist.St->codecpar;
    auto Error = [&](const char* Where, int Code) {
        FFilterError = Format("%s: %s", Where, ErrorText(Code).c_str());
        Ist.Graph.reset();
        return false;
    };
    Ist.Graph.reset(lavfi.avfilter_graph_alloc());
    if (!Ist.Graph) return Error("avfilter_graph_alloc", AVERROR(ENOMEM));
    AVFilterGraph* G = Ist.Graph.get();
    G->nb_threads = LimitedThreadCount(G->nb_threads);
    const AVRational Sar = In->sample_aspect_ratio.num ? In->sample_aspect_ratio : AVRational{1, 1};
    const std::string SourceArgs =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", In->width, In->height,
               In->format, Ist.St->time_base.num, Ist.St->time_base.den, Sar.num, Sar.den);
    int R = lavfi.avfilter_graph_create_filter(&Ist.FilterSource, lavfi.avfilter_get_by_name("buffer"), "src",
                                               SourceArgs.c_str(), nullptr, G);
    if (R < 0) return Error("buffer", R);
    Ist.FilterSink = lavfi.avfilter_graph_alloc_filter(G, lavfi.avfilter_get_by_name("buffersink"), "out");
    if (!Ist.FilterSink) return Error("buffersink", AVERROR(ENOMEM));
    // The sink takes the encoder's pixel format only; the graph converts to it.
    const AVPixelFormat Formats[] = {Enc->pix_fmt};
    R = lavu.av_opt_set_bin(Ist.FilterSink, "pix_fmts", reinterpret_cast<const uint8_t*>(Formats),
                            sizeof(Formats), AV_OPT_SEARCH_CHILDREN);
    if (R >= 0) R = lavfi.avfilter_init_str(Ist.FilterSink, nullptr);
    if (R < 0) return Error("buffersink", R);
    AVFilterContext* Last = Ist.FilterSource;
    const int Width = Enc->width - S.PadLeft - S.PadRight;
    const int Height = Enc->height - S.PadTop - S.PadBottom;
    if (Width != In->width || Height != In->height) {
        AVFilterContext* Scale = nullptr;
        const std::string Args = Format("w=%d:h=%d:flags=%s", Width, Height, ScalerFlagName(Ost.ScalerFlags));
        R = lavfi.avfilter_graph_create_filter(&Scale, lavfi.avfilter_get_by_name("scale"), "scale",
                                               Args.c_str(), nullptr, G);
        if (R >= 0) R = lavfi.avfilter_link(Last, 0, Scale, 0);
        if (R < 0) return Error("scale", R);
        Last = Scale;
    }
    TFilterInOutPtr Outputs(lavfi.avfilter_inout_alloc());
    TFilterInOutPtr Inputs(lavfi.avfilter_inout_alloc());
    if (!Outputs || !Inputs) return Error("avfilter_inout_alloc", AVERROR(ENOMEM));
    Outputs->name = lavu.av_strdup("in");
    Outputs->filter_ctx = Last;
    Outputs->pad_idx = 0;
    Inputs->name = lavu.av_strdup("out");
    Inputs->filter_ctx = Ist.FilterSink;
    Inputs->pad_idx = 0;
    AVFilterInOut* InputsRaw = Inputs.release();
    AVFilterInOut* OutputsRaw = Outputs.release();
    R = lavfi.avfilter_graph_parse_ptr(G, S.VideoFilters.c_str(), &InputsRaw, &OutputsRaw, nullptr);
    Inputs.reset(InputsRaw);
    Outputs.reset(OutputsRaw);
    if (R < 0) return Error(S.VideoFilters.c_str(), R);
    G->scale_sws_opts = lavu.av_strdup(Format("flags=%s", ScalerFlagName(Ost.ScalerFlags)).c_str());
    R = lavfi.avfilter_graph_config(G, nullptr);
    if (R < 0) return Error("avfilter_graph_config", R);
    const int OutW = lavfi.av_buffersink_get_w(Ist.FilterSink);
    const int OutH = lavfi.av_buffersink_get_h(Ist.FilterSink);
    if (Ost.PadFlag && (OutW != S.FrameWidth || OutH != S.FrameHeight)) {
        FFilterError.clear();
        Ist.Graph.reset();
        Fail(
            "Cannot enable pad options and the filters which resize frame at the same time. "
            "(crop, rotate, scale, transpose, etc.)");
    }
    Enc->width = OutW + S.PadLeft + S.PadRight;
    Enc->height = OutH + S.PadTop + S.PadBottom;
    Ist.Filtered = MakeFrame();
    return Ist.Filtered != nullptr;
}

void TTranscoder::PrepareVideoFrame(TInputStreamState& Ist, AVFrame* Frame) {
    FHookFrame += 1;
    const int64_t Pts = Ist.Clock.Pts;
    if (!FCustomHookOn && FHooksActive) {
        if (FJob.FOnBeforeHook) {
            try {
                FJob.FOnBeforeHook(FJob, Pts, FHookAction);
            } catch (const std::exception& E) {
                GetLogger().Log(&FJob, llError, std::string("Error occurs OnBeforeHook: ") + E.what());
                FHookAction = haStop;
            }
            if (FHookAction == haStop) FHooksActive = false;
        } else if (!FJob.FPTSPeriods.empty()) {
            const std::vector<TPTSPeriod>& Periods = FJob.FPTSPeriods;
            FHookAction = haIgnore;
            for (size_t I = FPeriodIndex; I < Periods.size(); ++I) {
                if (Periods[I].Start <= Pts && Pts <= Periods[I].End) {
                    FPeriodIndex = I;
                    FHookAction = haContinue;
                    break;
                }
                if (I + 1 == Periods.size() && Pts > Periods[I].End) {
                    FHookAction = haStop;
                    FHooksActive = false;
                }
            }
        }
    }
    const bool RunChain = FHooksActive && FHookAction == haContinue;
    if (!S.DoDeinterlace && !FCustomHookOn && !RunChain) return;
    if (S.DoDeinterlace) {
        if (!Ist.Deinterlaced) Ist.Deinterlaced = MakeFrame();
        AVFrame* Out = Ist.Deinterlaced.get();
        if (!Out) {
            GetLogger().Log(&FJob, llError, "hook buf malloc error.");
            return;
        }
        lavu.av_frame_unref(Out);
        Out->format = Frame->format;
        Out->width = Frame->width;
        Out->height = Frame->height;
        if (lavu.av_frame_get_buffer(Out, 0) < 0) {
            GetLogger().Log(&FJob, llError, "hook buf malloc error.");
            return;
        }
        if (Deinterlace(Frame, Out) && lavu.av_frame_copy_props(Out, Frame) >= 0) {
            lavu.av_frame_unref(Frame);
            lavu.av_frame_move_ref(Frame, Out);
        } else {
            GetLogger().Log(&FJob, llError, "Deinterlacing failed.");
        }
    }
    if (!FCustomHookOn && !RunChain) return;
    // The hooks paint on the picture itself; a picture the decoder still shares is copied first.
    if (lavu.av_frame_make_writable(Frame) < 0) {
        GetLogger().Log(&FJob, llError, "hook buf malloc error.");
        return;
    }
    if (FCustomHookOn)
        RunCustomHook(Frame, Pts);
    else
        RunFrameHooks(Frame, Pts);
}

void TTranscoder::RunCustomHook(AVFrame* Frame, int64_t Pts) {
    bool Update = true, StopHook = false;
    if (!FHookConverter.Render(Frame)) {
        GetLogger().Log(&FJob, llError, "Cannot initialize the toRGB conversion context");
        StopHook = true;
    } else {
        try {
            FJob.FOnCustomHook(FJob, FHookConverter.Bitmap(), FHookFrame, Pts, Update, StopHook);
        } catch (const std::exception& E) {
            GetLogger().Log(&FJob, llError, std::string("Error occurs OnCustomHook: ") + E.what());
            Update = false;
        }
        if (Update && !FHookConverter.WriteBack(Frame)) {
            GetLogger().Log(&FJob, llError, "Cannot initialize the fromRGB conversion context");
            StopHook = true;
        }
    }
    if (StopHook) {
        FCustomHookOn = false;
        FHookAction = haStop;
        FHooksActive = false;
    }
}

void TTranscoder::RunFrameHooks(AVFrame* Frame, int64_t Pts) {
    ProcessFrameHooks(FJob.FFrameHooks, Frame->data, Frame->linesize, Frame->format, Frame->width,
                      Frame->height, Pts);
}

void TTranscoder::FilterAndEncode(TInputStreamState& Ist, AVFrame* Frame) {
    if (Ist.Graph) {
        if (lavfi.av_buffersrc_add_frame_flags(Ist.FilterSource, Frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
            throw FFmpegException("Error while feeding the video filters");
        const AVRational SinkTb = lavfi.av_buffersink_get_time_base(Ist.FilterSink);
        for (;;) {
            AVFrame* Out = Ist.Filtered.get();
            const int R = lavfi.av_buffersink_get_frame(Ist.FilterSink, Out);
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) break;
            if (R < 0) throw FFmpegException("Error while filtering the video");
            const int64_t Pts = Out->pts != AV_NOPTS_VALUE
                                    ? lavu.av_rescale_q(Out->pts, SinkTb, AV_TIME_BASE_Q)
                                    : Ist.Clock.Pts;
            for (TOutputStreamState& Ost : FOutputs) {
                if (&FInputs[Ost.SourceIndex] != &Ist || !Ost.EncodingNeeded) continue;
                if (Ost.Enc->Codec) Ost.Enc->Codec->sample_aspect_ratio = Out->sample_aspect_ratio;
                EncodeVideo(Ost, Ist, Out, Pts);
            }
            lavu.av_frame_unref(Out);
        }
        return;
    }
    for (TOutputStreamState& Ost : FOutputs)
        if (&FInputs[Ost.SourceIndex] == &Ist && Ost.EncodingNeeded)
            EncodeVideo(Ost, Ist, Frame, Ist.Clock.Pts);
}

void TTranscoder::RescaleCropBands(TOutputStreamState& Ost, const AVFrame* Picture) {
    // The bands cut the same share of the new picture as of the first one, on even lines.
    const auto Scaled = [](int Size, int FirstBand, int FirstSize) {
        if (FirstSize <= 0) return FirstBand;
        return static_cast<int>(static_cast<int64_t>(Size) * FirstBand / FirstSize) & ~1;
    };
    Ost.CropTop = Scaled(Picture->height, Ost.FirstCropTop, Ost.FirstHeight);
    Ost.CropBottom = Scaled(Picture->height, Ost.FirstCropBottom, Ost.FirstHeight);
    Ost.CropLeft = Scaled(Picture->width, Ost.FirstCropLeft, Ost.FirstWidth);
    Ost.CropRight = Scaled(Picture->width, Ost.FirstCropRight, Ost.FirstWidth);
    Ost.BandsWidth = Picture->width;
    Ost.BandsHeight = Picture->height;
}

const AVFrame* TTranscoder::CropScalePad(TOutputStreamState& Ost, TInputStreamState& Ist,
                                         const AVFrame* Picture) {
    AVCodecContext* C = Ost.Enc->Codec;
    const bool Filters = static_cast<bool>(Ist.Graph);
    if (!Filters && Ost.CropFlag) {
        if (Picture->width != Ost.BandsWidth || Picture->height != Ost.BandsHeight)
            RescaleCropBands(Ost, Picture);
        if (!Ost.Cropped) Ost.Cropped = MakeFrame();
        AVFrame* Cropped = Ost.Cropped.get();
        if (!Cropped) throw FFmpegException("error cropping picture");
        lavu.av_frame_unref(Cropped);
        if (lavu.av_frame_ref(Cropped, Picture) < 0) throw FFmpegException("error cropping picture");
        Cropped->crop_top = static_cast<size_t>(Ost.CropTop);
        Cropped->crop_bottom = static_cast<size_t>(Ost.CropBottom);
        Cropped->crop_left = static_cast<size_t>(Ost.CropLeft);
        Cropped->crop_right = static_cast<size_t>(Ost.CropRight);
        if (lavu.av_frame_apply_cropping(Cropped, AV_FRAME_CROP_UNALIGNED) < 0) {
            if (S.ExitOnError) throw FFmpegException("error cropping picture");
            GetLogger().Log(&FJob, llError, "error cropping picture");
            return nullptr;
        }
        Picture = Cropped;
    }
    // A picture that no longer fits the encoder (the decoder changed its size mid-stream) is
    // scaled from now on, so the output keeps its size.
    if (!Filters && !Ost.ResampleFlag &&
        (Picture->width != C->width - Ost.PadLeft - Ost.PadRight ||
         Picture->height != C->height - Ost.PadTop - Ost.PadBottom || Picture->format != C->pix_fmt))
        Ost.ResampleFlag = true;
    if (!Ost.ResampleFlag && !Ost.PadFlag) return Picture;

    if (!Ost.Scaled) Ost.Scaled = MakeFrame();
    AVFrame* Temp = Ost.Scaled.get();
    if (!Temp->data[0] || Temp->width != C->width || Temp->height != C->height ||
        Temp->format != C->pix_fmt) {
        lavu.av_frame_unref(Temp);
        Temp->width = C->width;
        Temp->height = C->height;
        Temp->format = C->pix_fmt;
        if (lavu.av_frame_get_buffer(Temp, 0) < 0)
            throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    } else if (lavu.av_frame_make_writable(Temp) < 0) {
        // The encoder still holds the last one: this frame gets a buffer of its own.
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    }
    if (Ost.PadFlag) FillPadColour(Temp, S.PadColor);
    const AVPixFmtDescriptor* D = lavu.av_pix_fmt_desc_get(C->pix_fmt);
    uint8_t* Target[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int P = 0; P < 4 && Temp->data[P]; ++P)
        Target[P] = Temp->data[P] + (Ost.PadFlag ? PlaneOffset(D, Temp, P, Ost.PadLeft, Ost.PadTop) : 0);

    if (!Filters && Ost.ResampleFlag) {
        const int InW = Picture->width, InH = Picture->height;
        if (InW != Ost.ScaledWidth || InH != Ost.ScaledHeight || Picture->format != Ost.ScaledFormat) {
            // The decoder's picture size changed: the bands follow it and the output keeps its size.
            const int FullW = Ost.CropFlag ? InW + Ost.CropLeft + Ost.CropRight : InW;
            const int FullH = Ost.CropFlag ? InH + Ost.CropTop + Ost.CropBottom : InH;
            GetLogger().Log(
                &FJob, llQuiet,
                Format("Input Stream #%d.%d frame size changed to %dx%d, %s", Ist.FileIndex, Ist.StreamIndex,
                       FullW, FullH, lavu.av_get_pix_fmt_name(static_cast<AVPixelFormat>(Picture->format))));
            Ost.ScaledWidth = InW;
            Ost.ScaledHeight = InH;
            Ost.ScaledFormat = static_cast<AVPixelFormat>(Picture->format);
            Ost.Scaler.reset();
        }
        const int OutW = C->width - Ost.PadLeft - Ost.PadRight;
        const int OutH = C->height - Ost.PadTop - Ost.PadBottom;
        Ost.Scaler.reset(lsws.sws_getCachedContext(Ost.Scaler.release(), InW, InH,
                                                   static_cast<AVPixelFormat>(Picture->format), OutW, OutH,
                                                   C->pix_fmt, Ost.ScalerFlags, nullptr, nullptr, nullptr));
        if (!Ost.Scaler) throw FFmpegException("Cannot get resampling context");
        if (lsws.sws_scale(Ost.Scaler.get(), Picture->data, Picture->linesize, 0, InH, Target,
                           Temp->linesize) < 0)
            throw FFmpegException("Cannot scale the picture");
    } else {
        // Same size and format: the picture goes into the middle of the padded one.
        const uint8_t* Source[4] = {Picture->data[0], Picture->data[1], Picture->data[2], Picture->data[3]};
        const int Width = std::min(Picture->width, C->width - Ost.PadLeft - Ost.PadRight);
        const int Height = std::min(Picture->height, C->height - Ost.PadTop - Ost.PadBottom);
        lavu.av_image_copy(Target, Temp->linesize, Source, Picture->linesize, C->pix_fmt, Width, Height);
    }
    if (lavu.av_frame_copy_props(Temp, Picture) < 0) throw FFmpegException("av_malloc failed");
    return Temp;
}

void TTranscoder::EncodeVideo(TOutputStreamState& Ost, TInputStreamState& Ist, const AVFrame* Picture,
                              int64_t Pts) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    if (!C) return;
    AVFormatContext* Oc = FJob.FOutputFiles[Ost.FileIndex];
    const double Tb = av_q2d(C->time_base);
    double SyncIpts =
        (static_cast<double>(Pts) - static_cast<double>(S.StartTime)) / 1000000.0 / Tb - Ost.SyncShift;
    int Frames = 1;
    const int Method = S.VideoSyncMethod;
    if (Method > 0 || (Method < 0 && Tb > 0.001)) {
        double Delta = SyncIpts - static_cast<double>(Ost.SyncOpts);
        if (Delta > static_cast<double>(std::numeric_limits<int>::max())) {
            // No gap a picture count can fill (nor an encoder's clock hold): a broken timestamp.
            // The pictures go on from it as if there were no gap.
            GetLogger().Log(
                &FJob, llWarning,
                Format("Picture timestamp jumps by %.0f frames; continuing without the gap", Delta));
            Ost.SyncShift += Delta;
            SyncIpts -= Delta;
            Delta = 0;
        }
        if (Delta < -1.1) {
            Frames = 0;
        } else if (Method == 2 || (Method < 0 && (Oc->oformat->flags & AVFMT_VARIABLE_FPS))) {
            if (Delta <= -0.6)
                Frames = 0;
            else if (Delta > 0.6)
                Ost.SyncOpts = SaturatingTime(std::nearbyint(SyncIpts));
        } else if (Delta > 1.1) {
            Frames = static_cast<int>(std::lrint(Delta));
        }
        if (Frames == 0) {
            ++FDropFrames;
            if (S.Verbose > 2) GetLogger().Log(&FJob, llVerbose, "*** drop!");
        } else if (Frames > 1) {
            FDupFrames += Frames - 1;
            if (S.Verbose > 2) GetLogger().Log(&FJob, llVerbose, Format("*** %d dup!", Frames - 1));
        }
    } else {
        Ost.SyncOpts = SaturatingTime(std::nearbyint(SyncIpts));
    }
    Frames = std::min<int64_t>(Frames, S.MaxFrames[0] - Ost.FrameNumber);
    if (S.RecordingTime != INT64_MAX) {
        // No frame starts at or after the recording time.
        const double Last = std::ceil(static_cast<double>(S.RecordingTime) / 1000000.0 / Tb);
        Frames = static_cast<int>(
            std::min<int64_t>(Frames, SaturatingCast<int64_t>(Last - static_cast<double>(Ost.SyncOpts))));
    }
    if (Frames <= 0) return;
    const AVFrame* Source = CropScalePad(Ost, Ist, Picture);
    if (!Source) return;

    const bool Interlaced = C->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME);
    for (int I = 0; I < Frames && !FJob.StopRequested(); ++I) {
        TFramePtr Frame(lavu.av_frame_clone(Source));
        if (!Frame) throw FFmpegException("Video encoding failed");
        Frame->pts = Ost.SyncOpts;
        Frame->interlaced_frame = Picture->interlaced_frame;
        if (Interlaced)
            Frame->top_field_first = S.TopFieldFirst == -1 ? Picture->top_field_first : S.TopFieldFirst;
        Frame->quality = S.SameQuality ? Picture->quality : SaturatingCast<int>(Enc.Setup->Quality);
        if (!S.MeThreshold) Frame->pict_type = AV_PICTURE_TYPE_NONE;
        Frame->sample_aspect_ratio = C->sample_aspect_ratio;
        if (lavc.avcodec_send_frame(C, Frame.get()) < 0) throw FFmpegException("Video encoding failed");
        if (FJob.PreviewFlags() & 3)
            DeliverPreview(Frame.get(), lavu.av_rescale_q(Ost.SyncOpts, C->time_base, AV_TIME_BASE_Q));
        ReceivePackets(Ost);
        Ost.SyncOpts += 1;
        Ost.FrameNumber += 1;
    }
}

void TTranscoder::DeliverPreview(const AVFrame* Picture, int64_t Pts) {
    uint8_t Flags;
    uint8_t Failed = 0;  // the kinds of preview that could not be given
    {
        std::lock_guard<TCriticalSection> G(PreviewLock());
        Flags = FJob.PreviewFlags();
        const int64_t Now = lavu.av_gettime_relative();
        if (!(Flags & 3) || Now - FLastPreview <= FJob.FPreviewInterval) return;
        FLastPreview = Now;
    }
    // Handlers and the window run outside the lock: they wait for the main thread, which may
    // itself be waiting for the lock to change the flags.
    const bool Rendered = FPreviewConverter.Render(Picture);
    if (!Rendered) GetLogger().Log(&FJob, llError, "Cannot initialize the toRGB conversion context");
    if ((Flags & 2) && FJob.FOnPreviewBitmap) {
        if (Rendered)
            FJob.FOnPreviewBitmap(FJob, FPreviewConverter.Bitmap(), FHookFrame, Pts);
        else
            Failed = 2;
    } else if (Flags & 1) {
        std::shared_ptr<IPreviewWindow> Window;
        {
            std::lock_guard<TCriticalSection> G(PreviewLock());
            if (!FJob.FPreviewer) FJob.FPreviewer = CreatePreviewWindow();
            Window = FJob.FPreviewer;
        }
        if (!Rendered || !Window || !Window->ShowFrame(FPreviewConverter.Bitmap(), FHookFrame, Pts))
            Failed = 1;
    }
    // Only what failed goes off, read and written under the lock: the main thread may have
    // changed the flags while the picture was being delivered.
    if (Failed) FJob.ClearPreviewFlags(Failed);
}

void TTranscoder::WriteVideoStats(TOutputStreamState& Ost, int FrameSize) {
    TEncoderState& Enc = *Ost.Enc;
    AVCodecContext* C = Enc.Codec;
    if (!C || C->codec_type != AVMEDIA_TYPE_VIDEO) return;
    if (!FVStats) {
        FVStats = myutil.my_fopen(S.VStatsFileName.c_str(), "w");
        if (!FVStats) throw FFmpegException("fopen fail: " + S.VStatsFileName);
    }
    std::string Line = Format("frame= %5d q= %2.1f ", static_cast<int>(Ost.FrameNumber),
                              Enc.Quality / static_cast<float>(FF_QP2LAMBDA));
    if (C->flags & AV_CODEC_FLAG_PSNR) {
        const double Scale = static_cast<double>(C->width) * C->height * 255.0 * 255.0;
        Line += Format("PSNR= %6.2f ", -10.0 * std::log10(std::max<double>(Enc.Errors[0], 1e-10) / Scale));
    }
    Line += Format("f_size= %6d ", FrameSize);
    const double T = std::max(static_cast<double>(Ost.SyncOpts) * av_q2d(C->time_base), 0.01);
    const double Bitrate = FrameSize * 8.0 / av_q2d(C->time_base) / 1000.0;
    const double Average = static_cast<double>(FVideoBytes) * 8.0 / T / 1000.0;
    Line += Format("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                   static_cast<double>(FVideoBytes) / 1024.0, T, Bitrate, Average);
    Line += Format("type= %c\n", lavu.av_get_picture_type_char(static_cast<AVPictureType>(Enc.PictureType)));
    myutil.my_fprintf(FVStats, "%s", Line.c_str());
}

}  // namespace zembra
