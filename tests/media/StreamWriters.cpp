#include "tests/media/StreamWriters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegLoader.h"
#include "engine/CodecThreads.h"
#include "tests/media/OptionDictionary.h"
#include "tests/media/TestPattern.h"
#include "util/StringUtils.h"

namespace zembra::testmedia {

namespace {

// The text encoders parse their style sheet from the context's header when they open, and the
// ass encoders also hand it to the muxer as extradata; without one they refuse to open.
constexpr char kAssHeader[] =
    "[Script Info]\r\n"
    "ScriptType: v4.00+\r\n"
    "PlayResX: 384\r\n"
    "PlayResY: 288\r\n"
    "ScaledBorderAndShadow: yes\r\n"
    "\r\n"
    "[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
    "Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\r\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,1\r\n"
    "\r\n"
    "[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

// Large enough for any cue a test writes; the encoders fail rather than overrun.
constexpr int kSubtitleBufferSize = 64 * 1024;

std::string PixelFormatName(AVPixelFormat Value) {
    const char* Name = lavu.av_get_pix_fmt_name(Value);
    return Name ? Name : Format("#%d", static_cast<int>(Value));
}

std::string SampleFormatName(AVSampleFormat Value) {
    const char* Name = lavu.av_get_sample_fmt_name(Value);
    return Name ? Name : Format("#%d", static_cast<int>(Value));
}

std::string MediaTypeText(AVMediaType Type) {
    const char* Name = lavu.av_get_media_type_string(Type);
    return Name ? Name : "unknown";
}

class TVideoWriter final : public TStreamWriter {
  public:
    std::string Create(const TVideoSpec& Spec, AVFormatContext* Output);
    double NextTime() const override { return FNext * av_q2d(av_inv_q(FSpec.FrameRate)); }
    std::string Step(AVFormatContext* Output) override;

  private:
    std::string ChoosePixelFormat(AVPixelFormat& Chosen) const;
    // The next picture of the pattern in the encoder's format.
    std::string NextPicture(TFramePtr& Frame);
    // Codes the one picture at once and turns the stream into a file attachment holding it.
    std::string MakeAttachment();

    TVideoSpec FSpec;
    TSwsPtr FScaler;
    std::vector<uint8_t> FRgb;
    int FNext = 0;
};

std::string TVideoWriter::ChoosePixelFormat(AVPixelFormat& Chosen) const {
    const AVPixelFormat* Supported = FCodec->pix_fmts;
    if (!Supported) {
        Chosen = FSpec.PixelFormat == AV_PIX_FMT_NONE ? AV_PIX_FMT_YUV420P : FSpec.PixelFormat;
        return {};
    }
    if (FSpec.PixelFormat == AV_PIX_FMT_NONE) {
        Chosen = Supported[0];
        return {};
    }
    for (const AVPixelFormat* P = Supported; *P != AV_PIX_FMT_NONE; ++P) {
        if (*P == FSpec.PixelFormat) {
            Chosen = *P;
            return {};
        }
    }
    return Format("Encoder \"%s\" does not take pixel format %s", FCodec->name,
                  PixelFormatName(FSpec.PixelFormat).c_str());
}

std::string TVideoWriter::Create(const TVideoSpec& Spec, AVFormatContext* Output) {
    FSpec = Spec;
    if (Spec.Width <= 0 || Spec.Height <= 0) return Format("Bad video size %dx%d", Spec.Width, Spec.Height);
    if (Spec.FrameRate.num <= 0 || Spec.FrameRate.den <= 0)
        return Format("Bad frame rate %d/%d", Spec.FrameRate.num, Spec.FrameRate.den);
    if (Spec.FrameCount <= 0) return Format("Bad frame count %d", Spec.FrameCount);
    if (!Spec.CodecTag.empty() && Spec.CodecTag.size() != 4)
        return Format("A codec tag has four characters, not \"%s\"", Spec.CodecTag.c_str());

    std::string Error = PrepareEncoder(Spec.Encoder, AVMEDIA_TYPE_VIDEO);
    if (!Error.empty()) return Error;
    AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
    Error = ChoosePixelFormat(PixelFormat);
    if (!Error.empty()) return Error;

    FContext->width = Spec.Width;
    FContext->height = Spec.Height;
    FContext->pix_fmt = PixelFormat;
    FContext->time_base = av_inv_q(Spec.FrameRate);
    FContext->framerate = Spec.FrameRate;
    FContext->sample_aspect_ratio = AVRational{1, 1};
    Error = OpenAndAddStream(Output, Spec.Options);
    if (!Error.empty()) return Error;
    FStream->avg_frame_rate = Spec.FrameRate;
    if (Spec.AttachedPicture) {
        if (Spec.FrameCount != 1) return "An attached picture is one frame";
        FStream->disposition |= AV_DISPOSITION_ATTACHED_PIC;
        FPayload = Spec.PictureBytes;
    }
    if (!Spec.CodecTag.empty()) {
        const auto* T = reinterpret_cast<const unsigned char*>(Spec.CodecTag.data());
        FStream->codecpar->codec_tag = MKTAG(T[0], T[1], T[2], T[3]);
    }

    FScaler.reset(lsws.sws_getContext(Spec.Width, Spec.Height, AV_PIX_FMT_RGB24, Spec.Width, Spec.Height,
                                      PixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FScaler) return Format("No conversion from rgb24 to %s", PixelFormatName(PixelFormat).c_str());
    // The scaler's vector code reads a little past the last row of its source: the padding keeps
    // those reads inside the buffer (a 32x32 picture ended at the end of a page and crashed).
    FRgb.assign(static_cast<size_t>(Spec.Width) * Spec.Height * 3 + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    // Matroska keeps a picture as a file attachment, which goes out with the header.
    if (Spec.AttachedPicture && std::strcmp(Output->oformat->name, "matroska") == 0) return MakeAttachment();
    return {};
}

std::string TVideoWriter::MakeAttachment() {
    const AVCodecID Id = FContext->codec_id;
    if (Id != AV_CODEC_ID_MJPEG && Id != AV_CODEC_ID_PNG) return "A Matroska picture is JPEG or PNG";
    TFramePtr Frame;
    std::string Error = NextPicture(Frame);
    if (!Error.empty()) return Error;
    int Ret = lavc.avcodec_send_frame(FContext.get(), Frame.get());
    if (Ret >= 0) Ret = lavc.avcodec_send_frame(FContext.get(), nullptr);
    if (Ret >= 0) Ret = lavc.avcodec_receive_packet(FContext.get(), FPacket.get());
    if (Ret < 0) return Format("Encoder \"%s\" made no picture: %s", FCodec->name, ErrorText(Ret).c_str());

    AVCodecParameters* Par = FStream->codecpar;
    Par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    lavu.av_freep(&Par->extradata);
    Par->extradata_size = 0;
    const size_t Size = static_cast<size_t>(FPacket->size);
    Par->extradata = static_cast<uint8_t*>(lavu.av_mallocz(Size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!Par->extradata) return "Out of memory for an attachment";
    std::memcpy(Par->extradata, FPacket->data, Size);
    Par->extradata_size = FPacket->size;
    const bool Png = Id == AV_CODEC_ID_PNG;
    const std::string Name = !FSpec.AttachmentName.empty() ? FSpec.AttachmentName
                             : Png                         ? "cover.png"
                                                           : "cover.jpg";
    Ret = lavu.av_dict_set(&FStream->metadata, "filename", Name.c_str(), 0);
    if (Ret >= 0) Ret = lavu.av_dict_set(&FStream->metadata, "mimetype", Png ? "image/png" : "image/jpeg", 0);
    if (Ret < 0) return Format("Cannot name the attachment: %s", ErrorText(Ret).c_str());
    FDone = true;
    return {};
}

std::string TVideoWriter::Step(AVFormatContext* Output) {
    if (FNext >= FSpec.FrameCount) {
        FDone = true;
        return SendFrame(Output, nullptr);
    }
    TFramePtr Frame;
    std::string Error = NextPicture(Frame);
    if (!Error.empty()) return Error;
    return SendFrame(Output, Frame.get());
}

std::string TVideoWriter::NextPicture(TFramePtr& Frame) {
    const int Stride = FSpec.Width * 3;
    PaintFrame(FRgb.data(), Stride, FSpec.Width, FSpec.Height, FNext);

    // A fresh frame each time: the encoder may still hold a reference to the previous one.
    Frame = MakeFrame();
    if (!Frame) return "Out of memory for a video frame";
    Frame->format = FContext->pix_fmt;
    Frame->width = FSpec.Width;
    Frame->height = FSpec.Height;
    int Ret = lavu.av_frame_get_buffer(Frame.get(), 0);
    if (Ret < 0) return Format("Cannot allocate a video frame: %s", ErrorText(Ret).c_str());
    const uint8_t* const Source[1] = {FRgb.data()};
    const int SourceStride[1] = {Stride};
    Ret = lsws.sws_scale(FScaler.get(), Source, SourceStride, 0, FSpec.Height, Frame->data, Frame->linesize);
    if (Ret != FSpec.Height)
        return Format("Converting frame %d gave %d rows of %d", FNext, Ret, FSpec.Height);
    Frame->pts = FNext++;
    return {};
}

class TAudioWriter final : public TStreamWriter {
  public:
    std::string Create(const TAudioSpec& Spec, AVFormatContext* Output);
    double NextTime() const override { return static_cast<double>(FStartSample + FSent) / FSpec.SampleRate; }
    std::string Step(AVFormatContext* Output) override;

  private:
    std::string ChooseSampleFormat(AVSampleFormat& Chosen) const;
    std::string ChooseLayout(AVChannelLayout& Chosen) const;

    TAudioSpec FSpec;
    TSwrPtr FConverter;
    std::vector<float> FTone;
    int64_t FStartSample = 0;
    int64_t FTotal = 0;
    int64_t FSent = 0;
    int FChunk = 0;
};

std::string TAudioWriter::ChooseSampleFormat(AVSampleFormat& Chosen) const {
    const AVSampleFormat* Supported = FCodec->sample_fmts;
    if (!Supported) {
        if (FSpec.SampleFormat == AV_SAMPLE_FMT_NONE)
            return Format("Encoder \"%s\" lists no sample format; name one", FCodec->name);
        Chosen = FSpec.SampleFormat;
        return {};
    }
    if (FSpec.SampleFormat == AV_SAMPLE_FMT_NONE) {
        Chosen = Supported[0];
        return {};
    }
    for (const AVSampleFormat* S = Supported; *S != AV_SAMPLE_FMT_NONE; ++S) {
        if (*S == FSpec.SampleFormat) {
            Chosen = *S;
            return {};
        }
    }
    return Format("Encoder \"%s\" does not take sample format %s", FCodec->name,
                  SampleFormatName(FSpec.SampleFormat).c_str());
}

std::string TAudioWriter::ChooseLayout(AVChannelLayout& Chosen) const {
    AVChannelLayout Default{};
    lavu.av_channel_layout_default(&Default, FSpec.Channels);
    const AVChannelLayout* Pick = &Default;
    if (const AVChannelLayout* Supported = FCodec->ch_layouts) {
        Pick = nullptr;
        for (const AVChannelLayout* L = Supported; L->nb_channels != 0; ++L) {
            if (lavu.av_channel_layout_compare(L, &Default) == 0) {
                Pick = L;
                break;
            }
            if (!Pick && L->nb_channels == FSpec.Channels) Pick = L;
        }
    }
    int Ret = Pick ? lavu.av_channel_layout_copy(&Chosen, Pick) : AVERROR(EINVAL);
    lavu.av_channel_layout_uninit(&Default);
    if (!Pick) return Format("Encoder \"%s\" has no layout with %d channels", FCodec->name, FSpec.Channels);
    if (Ret < 0) return Format("Cannot copy a channel layout: %s", ErrorText(Ret).c_str());
    return {};
}

std::string TAudioWriter::Create(const TAudioSpec& Spec, AVFormatContext* Output) {
    FSpec = Spec;
    if (Spec.SampleRate <= 0) return Format("Bad sample rate %d", Spec.SampleRate);
    if (Spec.Channels <= 0) return Format("Bad channel count %d", Spec.Channels);
    FStartSample = std::llround(Spec.StartOffset * Spec.SampleRate);
    FTotal = std::llround(Spec.Duration * Spec.SampleRate);
    if (FStartSample < 0) return Format("Bad start offset %g s", Spec.StartOffset);
    if (FTotal <= 0) return Format("Bad audio duration %g s", Spec.Duration);

    std::string Error = PrepareEncoder(Spec.Encoder, AVMEDIA_TYPE_AUDIO);
    if (!Error.empty()) return Error;
    if (const int* Rates = FCodec->supported_samplerates) {
        bool Found = false;
        for (const int* R = Rates; *R != 0 && !Found; ++R) Found = *R == Spec.SampleRate;
        if (!Found) return Format("Encoder \"%s\" does not take %d Hz", FCodec->name, Spec.SampleRate);
    }
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
    Error = ChooseSampleFormat(SampleFormat);
    if (!Error.empty()) return Error;
    Error = ChooseLayout(FContext->ch_layout);
    if (!Error.empty()) return Error;

    FContext->sample_rate = Spec.SampleRate;
    FContext->sample_fmt = SampleFormat;
    FContext->time_base = AVRational{1, Spec.SampleRate};
    Error = OpenAndAddStream(Output, Spec.Options);
    if (!Error.empty()) return Error;
    if (!Spec.Language.empty()) {
        const int Ret = lavu.av_dict_set(&FStream->metadata, "language", Spec.Language.c_str(), 0);
        if (Ret < 0) return Format("Cannot set the language: %s", ErrorText(Ret).c_str());
    }
    // Encoders with a variable frame size report 0 and take any count.
    FChunk = FContext->frame_size > 0 ? FContext->frame_size : 1024;

    SwrContext* Converter = nullptr;
    int Ret = lswr.swr_alloc_set_opts2(&Converter, &FContext->ch_layout, SampleFormat, Spec.SampleRate,
                                       &FContext->ch_layout, AV_SAMPLE_FMT_FLT, Spec.SampleRate, 0, nullptr);
    FConverter.reset(Converter);
    if (Ret >= 0) Ret = lswr.swr_init(FConverter.get());
    if (Ret < 0)
        return Format("No conversion from flt to %s: %s", SampleFormatName(SampleFormat).c_str(),
                      ErrorText(Ret).c_str());
    return {};
}

std::string TAudioWriter::Step(AVFormatContext* Output) {
    if (FSent >= FTotal) {
        FDone = true;
        return SendFrame(Output, nullptr);
    }
    const int Count = static_cast<int>(std::min<int64_t>(FChunk, FTotal - FSent));
    FTone.resize(static_cast<size_t>(Count) * FSpec.Channels);
    if (FSpec.Music)
        FillMusic(FTone.data(), FSpec.Channels, FSent, Count, FSpec.SampleRate);
    else
        FillTone(FTone.data(), FSpec.Channels, FSent, Count, FSpec.SampleRate, FSpec.Frequency);
    if (FSpec.Level != 1.0f)
        for (float& Sample : FTone) Sample *= FSpec.Level;

    TFramePtr Frame = MakeFrame();
    if (!Frame) return "Out of memory for an audio frame";
    Frame->nb_samples = Count;
    Frame->format = FContext->sample_fmt;
    Frame->sample_rate = FSpec.SampleRate;
    int Ret = lavu.av_channel_layout_copy(&Frame->ch_layout, &FContext->ch_layout);
    if (Ret >= 0) Ret = lavu.av_frame_get_buffer(Frame.get(), 0);
    if (Ret < 0) return Format("Cannot allocate an audio frame: %s", ErrorText(Ret).c_str());
    const uint8_t* Source[1] = {reinterpret_cast<const uint8_t*>(FTone.data())};
    Ret = lswr.swr_convert(FConverter.get(), Frame->extended_data, Count, Source, Count);
    // Only the sample format changes, so nothing may stay behind in the converter.
    if (Ret != Count) return Format("Converting %d samples gave %d", Count, Ret);
    Frame->pts = FStartSample + FSent;
    if (FSpec.Jump != 0.0 && FSent >= std::llround(FSpec.JumpAfter * FSpec.SampleRate))
        Frame->pts += std::llround(FSpec.Jump * FSpec.SampleRate);
    FSent += Count;
    return SendFrame(Output, Frame.get());
}

class TSubtitleWriter final : public TStreamWriter {
  public:
    std::string Create(const TSubtitleSpec& Spec, AVFormatContext* Output);
    double NextTime() const override { return FSpec.Cues[FNext].Start; }
    std::string Step(AVFormatContext* Output) override;

  private:
    TSubtitleSpec FSpec;
    std::vector<uint8_t> FBuffer;
    size_t FNext = 0;
};

std::string TSubtitleWriter::Create(const TSubtitleSpec& Spec, AVFormatContext* Output) {
    FSpec = Spec;
    double Previous = 0.0;
    for (const TSubtitleCue& Cue : Spec.Cues) {
        if (Cue.Start < Previous || Cue.End <= Cue.Start)
            return Format("Subtitle cues must be in order and last a while (%g..%g s)", Cue.Start, Cue.End);
        Previous = Cue.Start;
    }
    FDone = Spec.Cues.empty();

    std::string Error = PrepareEncoder(Spec.Encoder, AVMEDIA_TYPE_SUBTITLE);
    if (!Error.empty()) return Error;
    FContext->time_base = AVRational{1, 1000};
    // The context frees the header with av_free, so it has to come from av_malloc.
    const size_t HeaderSize = sizeof(kAssHeader) - 1;
    FContext->subtitle_header = static_cast<uint8_t*>(lavu.av_malloc(HeaderSize + 1));
    if (!FContext->subtitle_header) return "Out of memory for the subtitle header";
    std::memcpy(FContext->subtitle_header, kAssHeader, HeaderSize + 1);
    FContext->subtitle_header_size = static_cast<int>(HeaderSize);
    Error = OpenAndAddStream(Output, {});
    if (!Error.empty()) return Error;
    if (!Spec.Language.empty()) {
        const int Ret = lavu.av_dict_set(&FStream->metadata, "language", Spec.Language.c_str(), 0);
        if (Ret < 0) return Format("Cannot set the language: %s", ErrorText(Ret).c_str());
    }
    FBuffer.resize(kSubtitleBufferSize);
    return {};
}

std::string TSubtitleWriter::Step(AVFormatContext* Output) {
    const TSubtitleCue& Cue = FSpec.Cues[FNext];
    const int64_t StartMs = std::llround(Cue.Start * 1000.0);
    const int64_t DurationMs = std::llround((Cue.End - Cue.Start) * 1000.0);

    TSubtitlePtr Subtitle(new AVSubtitle{});
    Subtitle->format = 1;  // text
    Subtitle->pts = StartMs * (AV_TIME_BASE / 1000);
    Subtitle->start_display_time = 0;
    Subtitle->end_display_time = static_cast<uint32_t>(DurationMs);
    Subtitle->rects = static_cast<AVSubtitleRect**>(lavu.av_mallocz(sizeof(AVSubtitleRect*)));
    if (!Subtitle->rects) return "Out of memory for a subtitle";
    Subtitle->rects[0] = static_cast<AVSubtitleRect*>(lavu.av_mallocz(sizeof(AVSubtitleRect)));
    if (!Subtitle->rects[0]) return "Out of memory for a subtitle";
    Subtitle->num_rects = 1;
    AVSubtitleRect* Rect = Subtitle->rects[0];
    Rect->type = SUBTITLE_ASS;
    // The text encoders take dialogue lines without the timing fields.
    const std::string Dialogue = Format("%zu,0,Default,,0,0,0,,%s", FNext, Cue.Text.c_str());
    Rect->ass = lavu.av_strdup(Dialogue.c_str());
    if (!Rect->ass) return "Out of memory for a subtitle";

    const int Size = lavc.avcodec_encode_subtitle(FContext.get(), FBuffer.data(),
                                                  static_cast<int>(FBuffer.size()), Subtitle.get());
    if (Size < 0) return Format("Encoding subtitle %zu failed: %s", FNext, ErrorText(Size).c_str());
    if (Size == 0) return Format("Encoder \"%s\" made nothing of subtitle %zu", FCodec->name, FNext);
    const int Ret = lavc.av_new_packet(FPacket.get(), Size);
    if (Ret < 0) return Format("Cannot allocate a subtitle packet: %s", ErrorText(Ret).c_str());
    std::memcpy(FPacket->data, FBuffer.data(), static_cast<size_t>(Size));
    FPacket->pts = StartMs;
    FPacket->dts = StartMs;
    FPacket->duration = DurationMs;
    FPacket->flags |= AV_PKT_FLAG_KEY;
    if (++FNext == FSpec.Cues.size()) FDone = true;
    return WritePacket(Output);
}

}  // namespace

TStreamWriter::~TStreamWriter() {
    std::lock_guard<TCriticalSection> Lock(CodecLock());
    FContext.reset();
}

std::string TStreamWriter::PrepareEncoder(const std::string& Name, AVMediaType Type) {
    FCodec = lavc.avcodec_find_encoder_by_name(Name.c_str());
    if (!FCodec) return Format("Encoder \"%s\" is not available in this FFmpeg build", Name.c_str());
    if (FCodec->type != Type)
        return Format("Encoder \"%s\" makes %s, not %s", Name.c_str(), MediaTypeText(FCodec->type).c_str(),
                      MediaTypeText(Type).c_str());
    FContext.reset(lavc.avcodec_alloc_context3(FCodec));
    FPacket = MakePacket();
    if (!FContext || !FPacket) return Format("Out of memory for encoder \"%s\"", Name.c_str());
    return {};
}

std::string TStreamWriter::OpenAndAddStream(AVFormatContext* Output, const TOptions& Options) {
    // The muxer takes codec headers from the parameters only, so they must exist at open time.
    if (Output->oformat->flags & AVFMT_GLOBALHEADER) FContext->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (FCodec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
        FContext->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;

    // The ThreadSanitizer run keeps library threads out of the clips the tests write too.
    FContext->thread_count = LimitedThreadCount(FContext->thread_count);
    TDictionary Settings;
    std::string Error = FillDictionary(Options, Settings);
    if (!Error.empty()) return Error;
    int Ret;
    {
        std::lock_guard<TCriticalSection> Lock(CodecLock());
        Ret = lavc.avcodec_open2(FContext.get(), FCodec, Settings.Slot());
    }
    if (Ret < 0) return Format("Cannot open encoder \"%s\": %s", FCodec->name, ErrorText(Ret).c_str());
    const std::string Unused = LeftoverNames(Settings);
    if (!Unused.empty())
        return Format("Encoder \"%s\" does not know the option(s) %s", FCodec->name, Unused.c_str());

    FStream = lavf.avformat_new_stream(Output, nullptr);
    if (!FStream) return "Cannot add a stream";
    Ret = lavc.avcodec_parameters_from_context(FStream->codecpar, FContext.get());
    if (Ret < 0) return Format("Cannot copy the encoder parameters: %s", ErrorText(Ret).c_str());
    FStream->time_base = FContext->time_base;
    return {};
}

std::string TStreamWriter::SendFrame(AVFormatContext* Output, const AVFrame* Frame) {
    int Ret = lavc.avcodec_send_frame(FContext.get(), Frame);
    if (Ret < 0) return Format("Encoder \"%s\" refused a frame: %s", FCodec->name, ErrorText(Ret).c_str());
    for (;;) {
        Ret = lavc.avcodec_receive_packet(FContext.get(), FPacket.get());
        if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) return {};
        if (Ret < 0) return Format("Encoder \"%s\" failed: %s", FCodec->name, ErrorText(Ret).c_str());
        std::string Error = WritePacket(Output);
        if (!Error.empty()) return Error;
    }
}

std::string TStreamWriter::WritePacket(AVFormatContext* Output) {
    // The stream's time base is only known once the header has been written.
    lavc.av_packet_rescale_ts(FPacket.get(), FContext->time_base, FStream->time_base);
    if (!FPayload.empty()) {
        TPacketPtr Replaced = MakePacket();
        if (!Replaced || lavc.av_new_packet(Replaced.get(), static_cast<int>(FPayload.size())) < 0)
            return "Out of memory for a picture";
        std::memcpy(Replaced->data, FPayload.data(), FPayload.size());
        if (lavc.av_packet_copy_props(Replaced.get(), FPacket.get()) < 0)
            return "Out of memory for a picture";
        FPacket = std::move(Replaced);
    }
    FPacket->stream_index = FStream->index;
    const int Ret = lavf.av_interleaved_write_frame(Output, FPacket.get());
    if (Ret < 0)
        return Format("Writing a packet of stream %d failed: %s", FStream->index, ErrorText(Ret).c_str());
    return {};
}

std::string CreateVideoWriter(const TVideoSpec& Spec, AVFormatContext* Output,
                              std::unique_ptr<TStreamWriter>& Writer) {
    auto Video = std::make_unique<TVideoWriter>();
    std::string Error = Video->Create(Spec, Output);
    Writer = std::move(Video);
    return Error;
}

std::string CreateAudioWriter(const TAudioSpec& Spec, AVFormatContext* Output,
                              std::unique_ptr<TStreamWriter>& Writer) {
    auto Audio = std::make_unique<TAudioWriter>();
    std::string Error = Audio->Create(Spec, Output);
    Writer = std::move(Audio);
    return Error;
}

std::string CreateSubtitleWriter(const TSubtitleSpec& Spec, AVFormatContext* Output,
                                 std::unique_ptr<TStreamWriter>& Writer) {
    auto Subtitle = std::make_unique<TSubtitleWriter>();
    std::string Error = Subtitle->Create(Spec, Output);
    Writer = std::move(Subtitle);
    return Error;
}

}  // namespace zembra::testmedia
