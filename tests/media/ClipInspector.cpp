#include "tests/media/ClipInspector.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"
#include "engine/CodecThreads.h"
#include "util/StringUtils.h"

namespace zembra::testmedia {

namespace {

// Returns "" to go on; Stop ends decoding early.
using TFrameHandler = std::function<std::string(const AVFrame* Frame, bool& Stop)>;

class TInputClip {
  public:
    std::string Open(const std::string& Path);
    AVFormatContext* Context() const { return FInput.get(); }
    std::string CheckStream(int Index, AVMediaType Type) const;
    std::string OpenDecoder(int Index, TCodecContextPtr& Decoder) const;
    // Feeds every packet of stream Index to its decoder, then drains it.
    std::string DecodeFrames(int Index, const TFrameHandler& OnFrame);

  private:
    std::string FPath;
    TFormatInputPtr FInput;
};

std::string TInputClip::Open(const std::string& Path) {
    FPath = Path;
    AVFormatContext* Input = nullptr;
    int Ret = lavf.avformat_open_input(&Input, Path.c_str(), nullptr, nullptr);
    if (Ret < 0) return zembra::Format("Cannot open \"%s\": %s", Path.c_str(), ErrorText(Ret).c_str());
    FInput.reset(Input);
    {
        std::lock_guard<TCriticalSection> Lock(CodecLock());
        Ret = lavf.avformat_find_stream_info(Input, nullptr);
    }
    if (Ret < 0)
        return zembra::Format("Cannot read the streams of \"%s\": %s", Path.c_str(), ErrorText(Ret).c_str());
    return {};
}

std::string TInputClip::CheckStream(int Index, AVMediaType Type) const {
    if (Index < 0 || Index >= static_cast<int>(FInput->nb_streams))
        return zembra::Format("\"%s\" has no stream %d", FPath.c_str(), Index);
    if (FInput->streams[Index]->codecpar->codec_type != Type)
        return zembra::Format("Stream %d of \"%s\" is not %s", Index, FPath.c_str(),
                              lavu.av_get_media_type_string(Type));
    return {};
}

std::string TInputClip::OpenDecoder(int Index, TCodecContextPtr& Decoder) const {
    const AVStream* Stream = FInput->streams[Index];
    const AVCodec* Codec = lavc.avcodec_find_decoder(Stream->codecpar->codec_id);
    if (!Codec) return zembra::Format("No decoder for stream %d", Index);
    Decoder.reset(lavc.avcodec_alloc_context3(Codec));
    if (!Decoder) return "Out of memory for a decoder";
    int Ret = lavc.avcodec_parameters_to_context(Decoder.get(), Stream->codecpar);
    if (Ret < 0) return zembra::Format("Cannot set up the decoder: %s", ErrorText(Ret).c_str());
    Decoder->pkt_timebase = Stream->time_base;
    // The ThreadSanitizer run keeps library threads out of the tests' own decoding too.
    Decoder->thread_count = LimitedThreadCount(Decoder->thread_count);
    {
        std::lock_guard<TCriticalSection> Lock(CodecLock());
        Ret = lavc.avcodec_open2(Decoder.get(), Codec, nullptr);
    }
    if (Ret < 0) return zembra::Format("Cannot open decoder %s: %s", Codec->name, ErrorText(Ret).c_str());
    return {};
}

std::string TInputClip::DecodeFrames(int Index, const TFrameHandler& OnFrame) {
    TCodecContextPtr Decoder;
    std::string Error = OpenDecoder(Index, Decoder);
    TPacketPtr Packet = MakePacket();
    TFramePtr Frame = MakeFrame();
    if (Error.empty() && (!Packet || !Frame)) Error = "Out of memory for decoding";
    bool Stop = false;
    auto Receive = [&]() -> std::string {
        for (;;) {
            const int Ret = lavc.avcodec_receive_frame(Decoder.get(), Frame.get());
            if (Ret == AVERROR(EAGAIN) || Ret == AVERROR_EOF) return {};
            if (Ret < 0)
                return zembra::Format("Decoding stream %d failed: %s", Index, ErrorText(Ret).c_str());
            std::string HandlerError = OnFrame(Frame.get(), Stop);
            if (!HandlerError.empty() || Stop) return HandlerError;
        }
    };
    while (Error.empty() && !Stop) {
        int Ret = lavf.av_read_frame(FInput.get(), Packet.get());
        if (Ret == AVERROR_EOF) break;
        if (Ret < 0) {
            Error = zembra::Format("Reading \"%s\" failed: %s", FPath.c_str(), ErrorText(Ret).c_str());
            break;
        }
        if (Packet->stream_index == Index) {
            Ret = lavc.avcodec_send_packet(Decoder.get(), Packet.get());
            if (Ret < 0)
                Error = zembra::Format("Decoder refused a packet of stream %d: %s", Index,
                                       ErrorText(Ret).c_str());
            else
                Error = Receive();
        }
        lavc.av_packet_unref(Packet.get());
    }
    if (Error.empty() && !Stop) {
        const int Ret = lavc.avcodec_send_packet(Decoder.get(), nullptr);
        Error =
            Ret < 0 ? zembra::Format("Cannot drain stream %d: %s", Index, ErrorText(Ret).c_str()) : Receive();
    }
    std::lock_guard<TCriticalSection> Lock(CodecLock());
    Decoder.reset();
    return Error;
}

void CollectPacketTimes(AVFormatContext* Input, TClipFacts& Facts, std::string& Error) {
    TPacketPtr Packet = MakePacket();
    if (!Packet) {
        Error = "Out of memory for a packet";
        return;
    }
    std::vector<bool> Timed(Facts.Streams.size(), false);
    for (;;) {
        const int Ret = lavf.av_read_frame(Input, Packet.get());
        if (Ret == AVERROR_EOF) return;
        if (Ret < 0) {
            Error = zembra::Format("Reading packets failed: %s", ErrorText(Ret).c_str());
            return;
        }
        const size_t Index = static_cast<size_t>(Packet->stream_index);
        // Some demuxers (MPEG-TS) find more streams while reading; the facts cover those seen first.
        if (Index >= Facts.Streams.size()) {
            lavc.av_packet_unref(Packet.get());
            continue;
        }
        TStreamFacts& Stream = Facts.Streams[Index];
        ++Stream.PacketCount;
        const int64_t Time = Packet->pts != AV_NOPTS_VALUE ? Packet->pts : Packet->dts;
        if (Time != AV_NOPTS_VALUE) {
            const double Base = av_q2d(Input->streams[Index]->time_base);
            const double Start = static_cast<double>(Time) * Base;
            const double End = static_cast<double>(Time + Packet->duration) * Base;
            Stream.FirstTime = Timed[Index] ? std::min(Stream.FirstTime, Start) : Start;
            Stream.EndTime = Timed[Index] ? std::max(Stream.EndTime, End) : End;
            Timed[Index] = true;
        }
        lavc.av_packet_unref(Packet.get());
    }
}

// A decoded dialogue line is "ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text".
std::string DialogueText(const char* Ass) {
    std::string Line = Ass ? Ass : "";
    size_t Position = 0;
    for (int Field = 0; Field < 8 && Position != std::string::npos; ++Field) {
        Position = Line.find(',', Position);
        if (Position != std::string::npos) ++Position;
    }
    std::string Text = Position == std::string::npos ? Line : Line.substr(Position);
    while (!Text.empty() && (Text.back() == '\r' || Text.back() == '\n')) Text.pop_back();
    return Text;
}

}  // namespace

std::string TClipFacts::Tag(const std::string& Key) const {
    for (const auto& [Name, Value] : Metadata)
        if (Name == Key) return Value;
    return {};
}

TRgb TRgbPicture::At(int X, int Y) const {
    const size_t Offset = static_cast<size_t>(Y) * Stride() + static_cast<size_t>(X) * 3;
    return {Pixels[Offset], Pixels[Offset + 1], Pixels[Offset + 2]};
}

std::string InspectClip(const std::string& Path, TClipFacts& Facts) {
    Facts = {};
    TInputClip Clip;
    std::string Error = Clip.Open(Path);
    if (!Error.empty()) return Error;
    AVFormatContext* Input = Clip.Context();
    Facts.FormatName = Input->iformat->name;
    Facts.Duration =
        Input->duration == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(Input->duration) / AV_TIME_BASE;
    const AVDictionaryEntry* Entry = nullptr;
    while ((Entry = lavu.av_dict_get(Input->metadata, "", Entry, AV_DICT_IGNORE_SUFFIX)))
        Facts.Metadata.emplace_back(Entry->key, Entry->value);

    for (unsigned I = 0; I < Input->nb_streams; ++I) {
        const AVStream* Stream = Input->streams[I];
        const AVCodecParameters* Par = Stream->codecpar;
        TStreamFacts S;
        S.Index = Stream->index;
        S.Id = Stream->id;
        S.Type = Par->codec_type;
        S.CodecId = Par->codec_id;
        S.CodecTag = Par->codec_tag;
        S.Width = Par->width;
        S.Height = Par->height;
        S.SampleRate = Par->sample_rate;
        S.Channels = Par->ch_layout.nb_channels;
        S.ExtradataSize = Par->extradata_size;
        S.Language = GetMetadataValue(Stream->metadata, "language", "");
        Facts.Streams.push_back(S);
    }
    for (unsigned I = 0; I < Input->nb_programs; ++I) {
        const AVProgram* Program = Input->programs[I];
        TProgramFacts P;
        P.Id = Program->id;
        P.ServiceName = GetMetadataValue(Program->metadata, "service_name", "");
        for (unsigned K = 0; K < Program->nb_stream_indexes; ++K)
            P.StreamIndexes.push_back(static_cast<int>(Program->stream_index[K]));
        Facts.Programs.push_back(P);
    }
    CollectPacketTimes(Input, Facts, Error);
    return Error;
}

std::string DecodeVideo(const std::string& Path, int StreamIndex, int MaxFrames,
                        std::vector<TRgbPicture>& Pictures) {
    Pictures.clear();
    TInputClip Clip;
    std::string Error = Clip.Open(Path);
    if (Error.empty()) Error = Clip.CheckStream(StreamIndex, AVMEDIA_TYPE_VIDEO);
    if (!Error.empty()) return Error;
    TSwsPtr Scaler;
    return Clip.DecodeFrames(StreamIndex, [&](const AVFrame* Frame, bool& Stop) -> std::string {
        const auto Format = static_cast<AVPixelFormat>(Frame->format);
        // The cached call frees the old context itself whenever it makes a new one.
        Scaler.reset(lsws.sws_getCachedContext(Scaler.release(), Frame->width, Frame->height, Format,
                                               Frame->width, Frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC,
                                               nullptr, nullptr, nullptr));
        if (!Scaler) return "No conversion of the decoded pictures to rgb24";
        TRgbPicture Picture;
        Picture.Width = Frame->width;
        Picture.Height = Frame->height;
        Picture.Pixels.resize(static_cast<size_t>(Picture.Stride()) * Picture.Height);
        uint8_t* const Target[1] = {Picture.Pixels.data()};
        const int TargetStride[1] = {Picture.Stride()};
        const int Rows = lsws.sws_scale(Scaler.get(), Frame->data, Frame->linesize, 0, Frame->height, Target,
                                        TargetStride);
        if (Rows != Frame->height) return zembra::Format("Converting a picture gave %d rows", Rows);
        Pictures.push_back(std::move(Picture));
        Stop = MaxFrames > 0 && static_cast<int>(Pictures.size()) >= MaxFrames;
        return {};
    });
}

std::string DecodeAudio(const std::string& Path, int StreamIndex, TDecodedAudio& Audio) {
    Audio = {};
    TInputClip Clip;
    std::string Error = Clip.Open(Path);
    if (Error.empty()) Error = Clip.CheckStream(StreamIndex, AVMEDIA_TYPE_AUDIO);
    if (!Error.empty()) return Error;
    const AVRational Base = Clip.Context()->streams[StreamIndex]->time_base;
    TSwrPtr Converter;
    return Clip.DecodeFrames(StreamIndex, [&](const AVFrame* Frame, bool& /*Stop*/) -> std::string {
        const int Channels = Frame->ch_layout.nb_channels;
        if (!Converter) {
            // The resampler takes non-const layouts, so it gets a copy rather than the frame's.
            AVChannelLayout Layout{};
            int Ret = lavu.av_channel_layout_copy(&Layout, &Frame->ch_layout);
            SwrContext* Raw = nullptr;
            if (Ret >= 0)
                Ret = lswr.swr_alloc_set_opts2(&Raw, &Layout, AV_SAMPLE_FMT_FLTP, Frame->sample_rate, &Layout,
                                               static_cast<AVSampleFormat>(Frame->format), Frame->sample_rate,
                                               0, nullptr);
            lavu.av_channel_layout_uninit(&Layout);
            Converter.reset(Raw);
            if (Ret >= 0) Ret = lswr.swr_init(Converter.get());
            if (Ret < 0)
                return zembra::Format("No conversion of the decoded audio: %s", ErrorText(Ret).c_str());
            Audio.SampleRate = Frame->sample_rate;
            Audio.Channels.resize(static_cast<size_t>(Channels));
            if (Frame->best_effort_timestamp != AV_NOPTS_VALUE)
                Audio.FirstTime = static_cast<double>(Frame->best_effort_timestamp) * av_q2d(Base);
        }
        if (Channels != static_cast<int>(Audio.Channels.size()) || Frame->sample_rate != Audio.SampleRate)
            return "The audio changed its layout or rate midway";
        std::vector<uint8_t*> Target(Audio.Channels.size());
        for (size_t C = 0; C < Audio.Channels.size(); ++C) {
            std::vector<float>& Samples = Audio.Channels[C];
            Samples.resize(Samples.size() + static_cast<size_t>(Frame->nb_samples));
            Target[C] = reinterpret_cast<uint8_t*>(Samples.data() + Samples.size() - Frame->nb_samples);
        }
        const int Converted =
            lswr.swr_convert(Converter.get(), Target.data(), Frame->nb_samples,
                             const_cast<const uint8_t**>(Frame->extended_data), Frame->nb_samples);
        if (Converted != Frame->nb_samples)
            return zembra::Format("Converting %d samples gave %d", Frame->nb_samples, Converted);
        return {};
    });
}

std::string DecodeSubtitles(const std::string& Path, int StreamIndex, std::vector<TSubtitleCue>& Cues) {
    Cues.clear();
    TInputClip Clip;
    std::string Error = Clip.Open(Path);
    if (Error.empty()) Error = Clip.CheckStream(StreamIndex, AVMEDIA_TYPE_SUBTITLE);
    TCodecContextPtr Decoder;
    if (Error.empty()) Error = Clip.OpenDecoder(StreamIndex, Decoder);
    TPacketPtr Packet = MakePacket();
    if (Error.empty() && !Packet) Error = "Out of memory for a packet";
    while (Error.empty()) {
        int Ret = lavf.av_read_frame(Clip.Context(), Packet.get());
        if (Ret == AVERROR_EOF) break;
        if (Ret < 0) {
            Error = zembra::Format("Reading \"%s\" failed: %s", Path.c_str(), ErrorText(Ret).c_str());
            break;
        }
        if (Packet->stream_index == StreamIndex) {
            TSubtitlePtr Subtitle(new AVSubtitle{});
            int Got = 0;
            Ret = lavc.avcodec_decode_subtitle2(Decoder.get(), Subtitle.get(), &Got, Packet.get());
            if (Ret < 0) Error = zembra::Format("Decoding a subtitle failed: %s", ErrorText(Ret).c_str());
            const double Base = static_cast<double>(Subtitle->pts) / AV_TIME_BASE;
            for (unsigned R = 0; Error.empty() && Got && R < Subtitle->num_rects; ++R) {
                const AVSubtitleRect* Rect = Subtitle->rects[R];
                Cues.push_back({Base + Subtitle->start_display_time / 1000.0,
                                Base + Subtitle->end_display_time / 1000.0, DialogueText(Rect->ass)});
            }
        }
        lavc.av_packet_unref(Packet.get());
    }
    std::lock_guard<TCriticalSection> Lock(CodecLock());
    Decoder.reset();
    return Error;
}

}  // namespace zembra::testmedia
