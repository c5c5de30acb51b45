// zembra-bench-floor: the least a conversion can cost on the same libraries, for bench/run to
// hold the engine against, and the clips both convert.
//
//   zembra-bench-floor clips FOLDER         writes sound.avi (six minutes of 48 kHz stereo AAC
//                                           beside small pictures), video.avi (1500 pictures
//                                           of 640x480 MPEG-4, no sound) and clip.mp4 (three
//                                           seconds of small H.264 pictures and AAC: one item
//                                           of a library batch) and film.mp4 (five minutes
//                                           of 1280x720 H.264 at 2.5 Mbit/s with 48 kHz stereo
//                                           AAC of music-like sound: the usual film whose sound
//                                           users extract) and music.mp4 (ten minutes of that
//                                           sound alone)
//   zembra-bench-floor audio IN OUT RATE    decode -> resample to RATE -> MP3 at 128 kbit/s
//   zembra-bench-floor video IN OUT WxH     decode -> scale (bicubic) -> MPEG-4 at 200 kbit/s in AVI
//   zembra-bench-floor film IN OUT SECONDS  the first SECONDS of a film's pictures and sound
//                                           decoded -> H.264 (libx264 defaults) and AAC at
//                                           128 kbit/s in MP4, as a film is converted whole
//
// The loops keep nothing but what the task needs: one stream, no options, no progress, no
// checks beyond the libraries' return codes. They print the work done ("frames N").

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "binding/EntryPoints.h"
#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/TestMedia.h"

namespace {

using namespace zembra;

int Fail(const std::string& Message) {
    std::fprintf(stderr, "zembra-bench-floor: %s\n", Message.c_str());
    return 1;
}

std::string ErrorText(int Code) {
    char Buf[128] = {0};
    lavu.av_strerror(Code, Buf, sizeof(Buf));
    return Buf;
}

#define CHECK(Expr)                                                                           \
    do {                                                                                      \
        const int CheckResult = (Expr);                                                       \
        if (CheckResult < 0) return Fail(std::string(#Expr) + ": " + ErrorText(CheckResult)); \
    } while (0)

int WriteClips(const std::string& Folder) {
    std::error_code Ec;
    std::filesystem::create_directories(Folder, Ec);
    if (Ec) return Fail("cannot create " + Folder + ": " + Ec.message());

    testmedia::TClipSpec Sound;
    Sound.Path = Folder + "/sound.avi";
    Sound.Container = "avi";
    testmedia::TVideoSpec Small;
    Small.Width = 96;
    Small.Height = 64;
    Small.FrameRate = AVRational{5, 1};
    Small.FrameCount = 1800;
    Sound.Videos.push_back(Small);
    testmedia::TAudioSpec Tone;
    Tone.Encoder = "aac";
    Tone.SampleRate = 48000;
    Tone.Channels = 2;
    Tone.Duration = 360.0;
    Sound.Audios.push_back(Tone);

    testmedia::TClipSpec Video;
    Video.Path = Folder + "/video.avi";
    Video.Container = "avi";
    testmedia::TVideoSpec Pictures;
    Pictures.Width = 640;
    Pictures.Height = 480;
    Pictures.FrameCount = 1500;
    Pictures.Options = {{"b", "2000000"}};
    Video.Videos.push_back(Pictures);

    testmedia::TClipSpec Clip;
    Clip.Path = Folder + "/clip.mp4";
    testmedia::TVideoSpec ClipPictures;
    ClipPictures.Encoder = "libx264";
    ClipPictures.FrameCount = 75;
    Clip.Videos.push_back(ClipPictures);
    testmedia::TAudioSpec ClipTone;
    ClipTone.Duration = 3.0;
    Clip.Audios.push_back(ClipTone);

    testmedia::TClipSpec Film;
    Film.Path = Folder + "/film.mp4";
    testmedia::TVideoSpec FilmPictures;
    FilmPictures.Encoder = "libx264";
    FilmPictures.Width = 1280;
    FilmPictures.Height = 720;
    FilmPictures.FrameCount = 300 * 25;
    FilmPictures.Options = {{"preset", "ultrafast"}, {"b", "2500000"}, {"g", "250"}};
    Film.Videos.push_back(FilmPictures);
    testmedia::TAudioSpec FilmSound = Tone;
    FilmSound.Duration = 300.0;
    FilmSound.Music = true;  // a tone costs the decoder and the encoder far less than real sound
    Film.Audios.push_back(FilmSound);

    testmedia::TClipSpec Music;
    Music.Path = Folder + "/music.mp4";
    testmedia::TAudioSpec MusicSound = FilmSound;
    MusicSound.Duration = 600.0;
    Music.Audios.push_back(MusicSound);

    for (const testmedia::TClipSpec* Spec : {&Sound, &Video, &Clip, &Film, &Music}) {
        const std::string Error = testmedia::WriteClip(*Spec);
        if (!Error.empty()) return Fail(Spec->Path + ": " + Error);
    }
    return 0;
}

struct TInput {
    TFormatInputPtr Container;
    TCodecContextPtr Decoder;
    int Stream = -1;
};

int OpenInput(const std::string& File, AVMediaType Type, TInput& In) {
    AVFormatContext* Ic = nullptr;
    CHECK(lavf.avformat_open_input(&Ic, File.c_str(), nullptr, nullptr));
    In.Container.reset(Ic);
    CHECK(lavf.avformat_find_stream_info(Ic, nullptr));
    for (unsigned I = 0; I < Ic->nb_streams; ++I)
        if (Ic->streams[I]->codecpar->codec_type == Type) {
            In.Stream = static_cast<int>(I);
            break;
        }
    if (In.Stream < 0) return Fail(File + ": no stream of the kind asked for");
    const AVCodecParameters* Par = Ic->streams[In.Stream]->codecpar;
    const AVCodec* Codec = lavc.avcodec_find_decoder(Par->codec_id);
    if (!Codec) return Fail(File + ": no decoder");
    In.Decoder.reset(lavc.avcodec_alloc_context3(Codec));
    CHECK(lavc.avcodec_parameters_to_context(In.Decoder.get(), Par));
    In.Decoder->pkt_timebase = Ic->streams[In.Stream]->time_base;
    CHECK(lavc.avcodec_open2(In.Decoder.get(), Codec, nullptr));
    return 0;
}

struct TOutput {
    TFormatOutputPtr Container;
    TCodecContextPtr Encoder;
    AVStream* Stream = nullptr;
};

int OpenOutput(const std::string& File, TOutput& Out, const std::function<int(AVCodecContext*)>& Setup,
               const char* EncoderName) {
    AVFormatContext* Oc = nullptr;
    CHECK(lavf.avformat_alloc_output_context2(&Oc, nullptr, nullptr, File.c_str()));
    Out.Container.reset(Oc);
    const AVCodec* Codec = lavc.avcodec_find_encoder_by_name(EncoderName);
    if (!Codec) return Fail(std::string("no encoder ") + EncoderName);
    Out.Encoder.reset(lavc.avcodec_alloc_context3(Codec));
    if (Setup(Out.Encoder.get()) != 0) return 1;
    if (Oc->oformat->flags & AVFMT_GLOBALHEADER) Out.Encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    CHECK(lavc.avcodec_open2(Out.Encoder.get(), Codec, nullptr));
    Out.Stream = lavf.avformat_new_stream(Oc, nullptr);
    if (!Out.Stream) return Fail("no stream");
    CHECK(lavc.avcodec_parameters_from_context(Out.Stream->codecpar, Out.Encoder.get()));
    Out.Stream->time_base = Out.Encoder->time_base;
    CHECK(lavf.avio_open2(&Oc->pb, File.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr));
    CHECK(lavf.avformat_write_header(Oc, nullptr));
    return 0;
}

// Sends Frame (nullptr: the end) to the encoder and writes what comes out.
int Encode(TOutput& Out, AVFrame* Frame, AVPacket* Packet) {
    CHECK(lavc.avcodec_send_frame(Out.Encoder.get(), Frame));
    for (;;) {
        const int R = lavc.avcodec_receive_packet(Out.Encoder.get(), Packet);
        if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return 0;
        CHECK(R);
        lavc.av_packet_rescale_ts(Packet, Out.Encoder->time_base, Out.Stream->time_base);
        Packet->stream_index = Out.Stream->index;
        CHECK(lavf.av_interleaved_write_frame(Out.Container.get(), Packet));
    }
}

// Reads the input stream's packets through its decoder, handing each frame (nullptr at the end)
// to Consume.
int DecodeAll(TInput& In, const std::function<int(AVFrame*)>& Consume) {
    TPacketPtr Packet(lavc.av_packet_alloc());
    TFramePtr Frame(lavu.av_frame_alloc());
    bool Draining = false;
    while (!Draining) {
        const int Read = lavf.av_read_frame(In.Container.get(), Packet.get());
        if (Read == AVERROR_EOF) {
            Draining = true;
            CHECK(lavc.avcodec_send_packet(In.Decoder.get(), nullptr));
        } else {
            CHECK(Read);
            if (Packet->stream_index != In.Stream) {
                lavc.av_packet_unref(Packet.get());
                continue;
            }
            CHECK(lavc.avcodec_send_packet(In.Decoder.get(), Packet.get()));
            lavc.av_packet_unref(Packet.get());
        }
        for (;;) {
            const int R = lavc.avcodec_receive_frame(In.Decoder.get(), Frame.get());
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) break;
            CHECK(R);
            if (Consume(Frame.get()) != 0) return 1;
            lavu.av_frame_unref(Frame.get());
        }
    }
    return Consume(nullptr);
}

int FloorAudio(const std::string& InFile, const std::string& OutFile, int Rate) {
    TInput In;
    if (OpenInput(InFile, AVMEDIA_TYPE_AUDIO, In) != 0) return 1;
    TOutput Out;
    const int Opened = OpenOutput(
        OutFile, Out,
        [&](AVCodecContext* C) {
            C->sample_rate = Rate;
            C->sample_fmt = AV_SAMPLE_FMT_FLTP;
            C->bit_rate = 128000;
            C->time_base = AVRational{1, Rate};
            return lavu.av_channel_layout_copy(&C->ch_layout, &In.Decoder->ch_layout) < 0 ? 1 : 0;
        },
        "libmp3lame");
    if (Opened != 0) return 1;
    AVCodecContext* Enc = Out.Encoder.get();
    SwrContext* Swr = nullptr;
    CHECK(lswr.swr_alloc_set_opts2(&Swr, &Enc->ch_layout, Enc->sample_fmt, Enc->sample_rate,
                                   &In.Decoder->ch_layout, In.Decoder->sample_fmt, In.Decoder->sample_rate, 0,
                                   nullptr));
    TSwrPtr Resampler(Swr);
    CHECK(lswr.swr_init(Swr));
    TAudioFifoPtr Fifo(
        lavu.av_audio_fifo_alloc(Enc->sample_fmt, Enc->ch_layout.nb_channels, Enc->frame_size * 4));
    TPacketPtr Packet(lavc.av_packet_alloc());
    TFramePtr Chunk(lavu.av_frame_alloc());
    int64_t NextPts = 0;
    int64_t Frames = 0;

    // Resampled sound goes through a queue, since the encoder takes fixed-size frames.
    auto Flush = [&](bool Final) -> int {
        while (lavu.av_audio_fifo_size(Fifo.get()) >= Enc->frame_size ||
               (Final && lavu.av_audio_fifo_size(Fifo.get()) > 0)) {
            const int Samples = std::min(Enc->frame_size, lavu.av_audio_fifo_size(Fifo.get()));
            lavu.av_frame_unref(Chunk.get());
            Chunk->nb_samples = Samples;
            Chunk->format = Enc->sample_fmt;
            Chunk->sample_rate = Enc->sample_rate;
            CHECK(lavu.av_channel_layout_copy(&Chunk->ch_layout, &Enc->ch_layout));
            CHECK(lavu.av_frame_get_buffer(Chunk.get(), 0));
            lavu.av_audio_fifo_read(Fifo.get(), reinterpret_cast<void**>(Chunk->extended_data), Samples);
            Chunk->pts = NextPts;
            NextPts += Samples;
            if (Encode(Out, Chunk.get(), Packet.get()) != 0) return 1;
            ++Frames;
        }
        return 0;
    };
    TFramePtr Converted(lavu.av_frame_alloc());
    const int Decoded = DecodeAll(In, [&](AVFrame* Frame) -> int {
        const int Wanted = lswr.swr_get_out_samples(Swr, Frame ? Frame->nb_samples : 0);
        if (Wanted > Converted->nb_samples) {
            lavu.av_frame_unref(Converted.get());
            Converted->nb_samples = Wanted;
            Converted->format = Enc->sample_fmt;
            CHECK(lavu.av_channel_layout_copy(&Converted->ch_layout, &Enc->ch_layout));
            CHECK(lavu.av_frame_get_buffer(Converted.get(), 0));
        }
        // At the end the resampler is drained of what it still holds.
        int Got = 0;
        do {
            Got = lswr.swr_convert(Swr, Converted->extended_data, Converted->nb_samples,
                                   Frame ? const_cast<const uint8_t**>(Frame->extended_data) : nullptr,
                                   Frame ? Frame->nb_samples : 0);
            CHECK(Got);
            if (Got > 0)
                lavu.av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(Converted->extended_data), Got);
        } while (!Frame && Got > 0);
        return Flush(Frame == nullptr);
    });
    if (Decoded != 0) return 1;
    if (Encode(Out, nullptr, Packet.get()) != 0) return 1;
    CHECK(lavf.av_write_trailer(Out.Container.get()));
    std::printf("frames %lld\n", static_cast<long long>(Frames));
    return 0;
}

int FloorVideo(const std::string& InFile, const std::string& OutFile, const std::string& Size) {
    int Width = 0, Height = 0;
    CHECK(lavu.av_parse_video_size(&Width, &Height, Size.c_str()));
    TInput In;
    if (OpenInput(InFile, AVMEDIA_TYPE_VIDEO, In) != 0) return 1;
    const AVRational Rate =
        lavf.av_guess_frame_rate(In.Container.get(), In.Container->streams[In.Stream], nullptr);
    TOutput Out;
    const int Opened = OpenOutput(
        OutFile, Out,
        [&](AVCodecContext* C) {
            C->width = Width;
            C->height = Height;
            C->pix_fmt = AV_PIX_FMT_YUV420P;
            C->time_base = AVRational{Rate.den, Rate.num};
            C->bit_rate = 200000;
            return 0;
        },
        "mpeg4");
    if (Opened != 0) return 1;
    TSwsPtr Scaler;
    TFramePtr Scaled(lavu.av_frame_alloc());
    Scaled->width = Width;
    Scaled->height = Height;
    Scaled->format = AV_PIX_FMT_YUV420P;
    CHECK(lavu.av_frame_get_buffer(Scaled.get(), 0));
    TPacketPtr Packet(lavc.av_packet_alloc());
    int64_t Frames = 0;
    const int Decoded = DecodeAll(In, [&](AVFrame* Frame) -> int {
        if (!Frame) return 0;
        if (!Scaler)
            Scaler.reset(lsws.sws_getContext(Frame->width, Frame->height,
                                             static_cast<AVPixelFormat>(Frame->format), Width, Height,
                                             AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!Scaler) return Fail("no scaler");
        CHECK(lavu.av_frame_make_writable(Scaled.get()));
        lsws.sws_scale(Scaler.get(), Frame->data, Frame->linesize, 0, Frame->height, Scaled->data,
                       Scaled->linesize);
        Scaled->pts = Frames++;
        return Encode(Out, Scaled.get(), Packet.get());
    });
    if (Decoded != 0) return 1;
    if (Encode(Out, nullptr, Packet.get()) != 0) return 1;
    CHECK(lavf.av_write_trailer(Out.Container.get()));
    std::printf("frames %lld\n", static_cast<long long>(Frames));
    return 0;
}

// One loop over both streams of a film: the pictures go to x264 as they come (no scaling when
// the size stays), the sound through a queue of the encoder's frame size.
int FloorFilm(const std::string& InFile, const std::string& OutFile, double Seconds) {
    AVFormatContext* Ic = nullptr;
    CHECK(lavf.avformat_open_input(&Ic, InFile.c_str(), nullptr, nullptr));
    TFormatInputPtr Input(Ic);
    CHECK(lavf.avformat_find_stream_info(Ic, nullptr));
    int VideoIn = -1, AudioIn = -1;
    for (unsigned I = 0; I < Ic->nb_streams; ++I) {
        const AVMediaType Type = Ic->streams[I]->codecpar->codec_type;
        if (Type == AVMEDIA_TYPE_VIDEO && VideoIn < 0) VideoIn = static_cast<int>(I);
        if (Type == AVMEDIA_TYPE_AUDIO && AudioIn < 0) AudioIn = static_cast<int>(I);
    }
    if (VideoIn < 0 || AudioIn < 0) return Fail(InFile + ": a film needs pictures and sound");
    TCodecContextPtr Dec[2];
    const int Streams[2] = {VideoIn, AudioIn};
    for (int K = 0; K < 2; ++K) {
        const AVCodecParameters* Par = Ic->streams[Streams[K]]->codecpar;
        const AVCodec* Codec = lavc.avcodec_find_decoder(Par->codec_id);
        if (!Codec) return Fail("no decoder");
        Dec[K].reset(lavc.avcodec_alloc_context3(Codec));
        CHECK(lavc.avcodec_parameters_to_context(Dec[K].get(), Par));
        Dec[K]->pkt_timebase = Ic->streams[Streams[K]]->time_base;
        Dec[K]->thread_count = 0;  // as many as the decoder likes, as a film player decodes
        CHECK(lavc.avcodec_open2(Dec[K].get(), Codec, nullptr));
    }
    AVFormatContext* Oc = nullptr;
    CHECK(lavf.avformat_alloc_output_context2(&Oc, nullptr, nullptr, OutFile.c_str()));
    TFormatOutputPtr Output(Oc);
    const AVRational Rate = lavf.av_guess_frame_rate(Ic, Ic->streams[VideoIn], nullptr);
    TCodecContextPtr Enc[2];
    AVStream* Out[2] = {nullptr, nullptr};
    const char* Names[2] = {"libx264", "aac"};
    for (int K = 0; K < 2; ++K) {
        const AVCodec* Codec = lavc.avcodec_find_encoder_by_name(Names[K]);
        if (!Codec) return Fail(std::string("no encoder ") + Names[K]);
        Enc[K].reset(lavc.avcodec_alloc_context3(Codec));
        AVCodecContext* C = Enc[K].get();
        if (K == 0) {
            C->width = Dec[0]->width;
            C->height = Dec[0]->height;
            C->pix_fmt = Dec[0]->pix_fmt;
            C->time_base = AVRational{Rate.den, Rate.num};
        } else {
            C->sample_rate = Dec[1]->sample_rate;
            C->sample_fmt = AV_SAMPLE_FMT_FLTP;
            C->bit_rate = 128000;
            C->time_base = AVRational{1, C->sample_rate};
            CHECK(lavu.av_channel_layout_copy(&C->ch_layout, &Dec[1]->ch_layout));
        }
        if (Oc->oformat->flags & AVFMT_GLOBALHEADER) C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        CHECK(lavc.avcodec_open2(C, Codec, nullptr));
        Out[K] = lavf.avformat_new_stream(Oc, nullptr);
        if (!Out[K]) return Fail("no stream");
        CHECK(lavc.avcodec_parameters_from_context(Out[K]->codecpar, C));
        Out[K]->time_base = C->time_base;
    }
    CHECK(lavf.avio_open2(&Oc->pb, OutFile.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr));
    CHECK(lavf.avformat_write_header(Oc, nullptr));
    TPacketPtr Packet(lavc.av_packet_alloc()), Written(lavc.av_packet_alloc());
    TFramePtr Frame(lavu.av_frame_alloc()), Chunk(lavu.av_frame_alloc());
    TAudioFifoPtr Fifo(lavu.av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, Enc[1]->ch_layout.nb_channels, 4096));
    const int64_t Pictures = std::llround(Seconds * av_q2d(Rate));
    const int64_t Samples = std::llround(Seconds * Enc[1]->sample_rate);
    int64_t PicturesIn = 0, SamplesIn = 0;
    auto Send = [&](int K, AVFrame* F) -> int {
        CHECK(lavc.avcodec_send_frame(Enc[K].get(), F));
        for (;;) {
            const int R = lavc.avcodec_receive_packet(Enc[K].get(), Written.get());
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return 0;
            CHECK(R);
            lavc.av_packet_rescale_ts(Written.get(), Enc[K]->time_base, Out[K]->time_base);
            Written->stream_index = K;
            CHECK(lavf.av_interleaved_write_frame(Oc, Written.get()));
        }
    };
    auto Drain = [&](bool Final) -> int {
        const int Size = Enc[1]->frame_size;
        while (lavu.av_audio_fifo_size(Fifo.get()) >= Size || (Final && lavu.av_audio_fifo_size(Fifo.get()) > 0)) {
            lavu.av_frame_unref(Chunk.get());
            Chunk->nb_samples = std::min(Size, lavu.av_audio_fifo_size(Fifo.get()));
            Chunk->format = AV_SAMPLE_FMT_FLTP;
            Chunk->sample_rate = Enc[1]->sample_rate;
            CHECK(lavu.av_channel_layout_copy(&Chunk->ch_layout, &Enc[1]->ch_layout));
            CHECK(lavu.av_frame_get_buffer(Chunk.get(), 0));
            lavu.av_audio_fifo_read(Fifo.get(), reinterpret_cast<void**>(Chunk->extended_data), Chunk->nb_samples);
            Chunk->pts = SamplesIn;
            SamplesIn += Chunk->nb_samples;
            if (Send(1, Chunk.get()) != 0) return 1;
        }
        return 0;
    };
    while ((PicturesIn < Pictures || SamplesIn < Samples) && lavf.av_read_frame(Ic, Packet.get()) >= 0) {
        const int K = Packet->stream_index == VideoIn ? 0 : Packet->stream_index == AudioIn ? 1 : -1;
        if (K >= 0) CHECK(lavc.avcodec_send_packet(Dec[K].get(), Packet.get()));
        lavc.av_packet_unref(Packet.get());
        while (K >= 0 && lavc.avcodec_receive_frame(Dec[K].get(), Frame.get()) >= 0) {
            if (K == 0 && PicturesIn < Pictures) {
                Frame->pts = PicturesIn++;
                Frame->pict_type = AV_PICTURE_TYPE_NONE;
                if (Send(0, Frame.get()) != 0) return 1;
            } else if (K == 1 && Frame->format == AV_SAMPLE_FMT_FLTP) {
                lavu.av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(Frame->extended_data),
                                         Frame->nb_samples);
                if (Drain(false) != 0) return 1;
            }
            lavu.av_frame_unref(Frame.get());
        }
    }
    if (Drain(true) != 0 || Send(0, nullptr) != 0 || Send(1, nullptr) != 0) return 1;
    CHECK(lavf.av_write_trailer(Oc));
    std::printf("frames %lld\n", static_cast<long long>(PicturesIn));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string Mode = argc > 1 ? argv[1] : "";
    if (!((Mode == "clips" && argc == 3) || ((Mode == "audio" || Mode == "video" || Mode == "film") && argc == 5))) {
        std::fprintf(stderr,
                     "usage: zembra-bench-floor clips FOLDER\n"
                     "       zembra-bench-floor audio IN OUT RATE\n"
                     "       zembra-bench-floor video IN OUT WxH\n"
                     "       zembra-bench-floor film IN OUT SECONDS\n");
        return 2;
    }
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) return Fail(FFLoader().LastError());
    lavu.av_log_set_level(AV_LOG_ERROR);
    if (Mode == "clips") return WriteClips(argv[2]);
    if (Mode == "audio") return FloorAudio(argv[2], argv[3], std::atoi(argv[4]));
    if (Mode == "film") return FloorFilm(argv[2], argv[3], std::atof(argv[4]));
    return FloorVideo(argv[2], argv[3], argv[4]);
}
