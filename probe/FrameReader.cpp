#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

constexpr int kLogError = AV_LOG_ERROR;
constexpr int kLogWarning = AV_LOG_WARNING;
constexpr int kLogInfo = AV_LOG_INFO;
constexpr int kLogDebug = AV_LOG_DEBUG;

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// Row alignment of the conversion buffer; the scaler works slower (and says so) on rows that
// are not aligned.
constexpr int kBufferAlign = 32;

const char kFileNotLoaded[] = "file not loaded.";
const char kSeekReadOnly[] = "file cannot be seeked, handle is readonly.";
const char kReadReadOnly[] = "frame cannot be read, handle is readonly.";
const char kEndOfStream[] = "stream eof reached.";
// How far past the last picture read a target is still reached by decoding on (microseconds).
constexpr int64_t kDecodeOnLimit = 1000000;
// The first step back when a seek landed after the picture wanted (microseconds).
constexpr int64_t kSeekBackoff = 1000000;

int64_t FrameTimestamp(const AVFrame* Frame) {
    return Frame->best_effort_timestamp != AV_NOPTS_VALUE ? Frame->best_effort_timestamp : Frame->pts;
}

bool IsAttachedPicture(const AVStream* St) {
    return (St->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

}  // namespace

TAVProbe::~TAVProbe() {
    TAVProbe::Close();
}

void TAVProbe::Close() {
    FIsImageSequence = false;
    FLastReadOK = false;
    FConverted = false;
    FPictureTime = -1;
    FLastPictureTime = -1;
    FSeekBackward = false;
    FLastTarget = -1;
    FLastStream = -1;
    FEndOfStream = false;
    FFrameBitmap.SetSize(0, 0);
    FLastFrame.SetSize(0, 0);
    FScaler.reset();
    CloseDecoder();
    FBuffer.reset();
    FBufferSize = 0;
    FPacket.reset();
    FFrame.reset();
    FHeldFrame.reset();
    FSeekTarget = -1;
    FSeekStream = -1;
    TCustomAVProbe::Close();
}

void TAVProbe::CloseDecoder() {
    if (FDecoder) {
        TCodecLockGuard Guard;
        FDecoder.reset();
    }
    FDecoderStream = -1;
    FDecoderDrained = false;
}

bool TAVProbe::Seek(int StreamIndex, int64_t Time) {
    if (!CheckLoaded()) return false;
    if (!FOwnsContext) {
        Fail(kLogWarning, kSeekReadOnly);
        throw AVProbeException(kSeekReadOnly);
    }
    return DoSeek(StreamIndex, Time, false);
}

bool TAVProbe::DoSeek(int StreamIndex, int64_t Time, bool SecondAttempt) {
    FSeekBackward = false;
    FSeekTarget = -1;
    FSeekStream = -1;
    if (IsImage2()) {
        Log(kLogInfo, "\"image2\" format cannot to be seeked.");
        return true;
    }
    const int64_t Requested = Time;
    if (Time < 0) Time = 0;

    if (StreamIndex < 0) {
        if (FirstVideoStreamIndex() >= 0)
            StreamIndex = FirstVideoStreamIndex();
        else if (FirstAudioStreamIndex() >= 0)
            StreamIndex = FirstAudioStreamIndex();
        else
            StreamIndex = FirstSubtitleStreamIndex();
    } else if (StreamIndex >= StreamCount()) {
        Fail(kLogError, Format("stream index #%d is invalid.", StreamIndex));
        return false;
    }

    // A cover picture is one picture kept in the header: there is nowhere to seek to.
    if (StreamIndex >= 0 && IsAttachedPicture(FContext->streams[StreamIndex])) return true;

    int64_t Base;
    if (StreamIndex >= 0) {
        AVStream* St = FContext->streams[StreamIndex];
        Time = lavu.av_rescale_q(Time, kMicroseconds, PatchedTimeBase(St));
        Base = St->start_time;
    } else {
        Base = FContext->start_time;
    }
    if (Base != AV_NOPTS_VALUE) Time += Base;

    if (FDecoder) {
        lavc.avcodec_flush_buffers(FDecoder.get());
        FDecoderDrained = false;
    }
    FLastTarget = -1;
    // The reader no longer stands just after the last picture read: a later read must not
    // decode on from wherever this seek leaves the file.
    FLastPictureTime = -1;
    FEndOfStream = false;

    int Result;
    if (Requested > 0) {
        Result = lavf.av_seek_frame(FContext, StreamIndex, Time, FSeekFlags);
        if (Result < 0 && SecondAttempt) {
            // A source without a key-picture index may still land on some picture before the
            // time; decoding on from there is the best it allows.
            FSeekBackward = true;
            Result = lavf.av_seek_frame(FContext, StreamIndex, Time,
                                        FSeekFlags | AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        }
        if (Result >= 0) {
            FSeekTarget = Requested;
            FSeekStream = StreamIndex;
        }
    } else {
        Result = lavf.av_seek_frame(FContext, StreamIndex, 0, FSeekFlags | AVSEEK_FLAG_BACKWARD);
        if (Result < 0) Result = lavf.av_seek_frame(FContext, StreamIndex, Time, FSeekFlags);
    }
    if (Result < 0) {
        Fail(kLogError,
             Format("could not seek to position %0.3f", static_cast<double>(Requested) / AV_TIME_BASE));
        return false;
    }
    return true;
}

const TBitmap& TAVProbe::Emptied(const std::string& Text) {
    Fail(kLogError, Text);
    FFrameBitmap.SetSize(0, 0);
    return FFrameBitmap;
}

const TBitmap& TAVProbe::EndOfStream(int StreamIndex, int64_t Target) {
    Log(kLogDebug, kEndOfStream);
    SetLastError(kEndOfStream);
    const AVCodecParameters* Par = FContext->streams[StreamIndex]->codecpar;
    if (FFrameBitmap.Width() != Par->width || FFrameBitmap.Height() != Par->height)
        FFrameBitmap.SetSize(Par->width, Par->height);
    else
        FFrameBitmap.Fill(0, 0, 0);
    FLastTarget = Target;
    FLastStream = StreamIndex;
    FEndOfStream = true;
    return FFrameBitmap;
}

bool TAVProbe::OpenDecoder(int StreamIndex) {
    if (FDecoder && FDecoderStream == StreamIndex) return true;
    CloseDecoder();
    const AVStream* St = FContext->streams[StreamIndex];
    const AVCodec* Codec = lavc.avcodec_find_decoder(St->codecpar->codec_id);
    if (!Codec) {
        Emptied(Format("Unsupported codec (id=%d) for input file stream #%d",
                       static_cast<int>(St->codecpar->codec_id), StreamIndex));
        return false;
    }
    TCodecContextPtr Context(lavc.avcodec_alloc_context3(Codec));
    int Result = -1;
    if (Context && lavc.avcodec_parameters_to_context(Context.get(), St->codecpar) >= 0) {
        Context->pkt_timebase = St->time_base;
        // One picture at a time: frame threads would only hold pictures back.
        Context->thread_count = 1;
        TCodecLockGuard Guard;
        Result = lavc.avcodec_open2(Context.get(), Codec, nullptr);
        if (Result < 0) Context.reset();
    }
    if (Result < 0) {
        Emptied(Format("Error while opening codec for input file stream #%d", StreamIndex));
        return false;
    }
    FDecoder = std::move(Context);
    FDecoderStream = StreamIndex;
    FDecoderDrained = false;
    return true;
}

bool TAVProbe::StorePicture(const AVFrame* Frame) {
    // The decoder's picture may differ from the stream's announced size; the bitmap follows the
    // picture so that no row is written beyond it.
    const int Width = Frame->width;
    const int Height = Frame->height;
    if (FFrameBitmap.Width() != Width || FFrameBitmap.Height() != Height) FFrameBitmap.SetSize(Width, Height);
    const AVPixelFormat Source = static_cast<AVPixelFormat>(Frame->format);

    if (Source == AV_PIX_FMT_BGR24 && Width % 2 == 0 && Height % 2 == 0 &&
        Frame->linesize[0] == FFrameBitmap.Stride()) {
        std::memcpy(FFrameBitmap.Bits(), Frame->data[0], FFrameBitmap.ByteSize());
        FConverted = false;
        return true;
    }

    const int Size = lavu.av_image_get_buffer_size(AV_PIX_FMT_BGR24, Width, Height, kBufferAlign);
    if (Size > 0 && static_cast<size_t>(Size) > FBufferSize) {
        FBuffer.reset(lavu.av_malloc(static_cast<size_t>(Size)));
        FBufferSize = FBuffer ? static_cast<size_t>(Size) : 0;
    }
    uint8_t* Planes[4] = {nullptr};
    int Lines[4] = {0};
    if (Size <= 0 || !FBuffer ||
        lavu.av_image_fill_arrays(Planes, Lines, static_cast<uint8_t*>(FBuffer.get()), AV_PIX_FMT_BGR24,
                                  Width, Height, kBufferAlign) < 0) {
        Fail(kLogError, ErrorText(AVERROR(ENOMEM)));
        FFrameBitmap.Fill(0, 0, 0);
        return false;
    }

    // A failed call has already freed the context it was given.
    FScaler.reset(lsws.sws_getCachedContext(FScaler.release(), Width, Height, Source, Width, Height,
                                            AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FScaler) {
        Fail(kLogError, "Cannot initialize the toRGB conversion context");
        FFrameBitmap.Fill(0, 0, 0);
        return false;
    }
    if (lsws.sws_scale(FScaler.get(), Frame->data, Frame->linesize, 0, Height, Planes, Lines) < 0) {
        Fail(kLogError, "Cannot convert the picture to RGB");
        FFrameBitmap.Fill(0, 0, 0);
        return false;
    }
    const size_t RowBytes = static_cast<size_t>(Width) * 3;
    for (int Y = 0; Y < Height; ++Y)
        std::memcpy(FFrameBitmap.ScanLine(Y), Planes[0] + static_cast<ptrdiff_t>(Y) * Lines[0], RowBytes);
    FConverted = true;
    return true;
}

const TBitmap& TAVProbe::ReadAttachedPicture(int StreamIndex, int64_t Target) {
    const AVStream* St = FContext->streams[StreamIndex];
    if (!St->attached_pic.data || St->attached_pic.size <= 0)
        return Emptied(Format("stream #%d holds no picture.", StreamIndex));
    if (!OpenDecoder(StreamIndex)) return FFrameBitmap;
    if (!FFrame) FFrame = MakeFrame();
    if (!FFrame) return Emptied(ErrorText(AVERROR(ENOMEM)));
    // The picture is the decoder's only packet; it is flushed for the next read.
    lavc.avcodec_flush_buffers(FDecoder.get());
    int Result = lavc.avcodec_send_packet(FDecoder.get(), &St->attached_pic);
    if (Result >= 0) {
        (void)lavc.avcodec_send_packet(FDecoder.get(), nullptr);
        Result = lavc.avcodec_receive_frame(FDecoder.get(), FFrame.get());
    }
    lavc.avcodec_flush_buffers(FDecoder.get());
    FDecoderDrained = false;
    if (Result < 0) return Emptied(Format("cannot decode the picture of stream #%d.", StreamIndex));
    const bool Stored = StorePicture(FFrame.get());
    lavu.av_frame_unref(FFrame.get());
    if (!Stored) return FFrameBitmap;
    FPictureTime = 0;
    FLastFrame = FFrameBitmap;
    FLastPictureTime = FPictureTime;
    FLastReadOK = true;
    FLastTarget = Target;
    FLastStream = StreamIndex;
    FEndOfStream = false;
    return FFrameBitmap;
}

const TBitmap& TAVProbe::ReadFrame(int StreamIndex, int64_t Target) {
    const bool WasOK = FLastReadOK;
    FLastReadOK = false;
    FPictureTime = -1;
    if (FContext && !FOwnsContext) {
        Fail(kLogWarning, kReadReadOnly);
        throw AVProbeException(kReadReadOnly);
    }

    if (!FContext) return Emptied(kFileNotLoaded);
    if (StreamIndex < 0) {
        if (FirstVideoStreamIndex() < 0) return Emptied("no video stream.");
        StreamIndex = FirstVideoStreamIndex();
    } else if (StreamIndex >= StreamCount()) {
        return Emptied(Format("stream index #%d is invalid.", StreamIndex));
    }
    AVStream* St = FContext->streams[StreamIndex];
    if (St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return Emptied(Format("stream #%d is not video stream.", StreamIndex));

    const auto ReuseLastPicture = [this]() -> const TBitmap& {
        FFrameBitmap = FLastFrame;
        FPictureTime = FLastPictureTime;
        FLastReadOK = true;
        return FFrameBitmap;
    };
    // A picture sequence always shows the first picture read.
    if (FIsImageSequence && IsImage2()) return ReuseLastPicture();
    // A cover is the same picture at every time.
    if (IsAttachedPicture(St)) {
        if (WasOK && StreamIndex == FLastStream) return ReuseLastPicture();
        return ReadAttachedPicture(StreamIndex, Target);
    }

    const AVRational TimeBase = PatchedTimeBase(St);
    // The time to decode on to: the target, or that of a Seek of this stream just before.
    int64_t Until = -1;
    bool Sought = false;  // the reader stands where a seek for Until left it
    if (Target >= 0) {
        if (WasOK && Target == FLastTarget && StreamIndex == FLastStream) return ReuseLastPicture();
        if (FEndOfStream && Target == FLastTarget && StreamIndex == FLastStream)
            return EndOfStream(StreamIndex, Target);
        // Shortly after the last picture read, decoding on is quicker than seeking back to the
        // key picture before the target.
        const bool DecodeOn = WasOK && !FDecoderDrained && FDecoder && FDecoderStream == StreamIndex &&
                              FLastStream == StreamIndex && FLastPictureTime >= 0 &&
                              Target > FLastPictureTime && Target - FLastPictureTime <= kDecodeOnLimit;
        if (!DecodeOn && !DoSeek(StreamIndex, Target, true)) {
            FFrameBitmap.SetSize(0, 0);
            return FFrameBitmap;
        }
        Until = Target;
        Sought = !DecodeOn;
    } else if (FSeekTarget >= 0 && FSeekStream == StreamIndex) {
        Until = FSeekTarget;
        Sought = true;
    }
    FSeekTarget = -1;
    FSeekStream = -1;
    // Compared in microseconds: a target between two ticks of a coarse time base must not round
    // down to the picture before it.
    const auto Microseconds = [&](int64_t Pts) {
        const int64_t FromStart = St->start_time != AV_NOPTS_VALUE ? Pts - St->start_time : Pts;
        return lavu.av_rescale_q(FromStart, TimeBase, kMicroseconds);
    };
    const auto Before = [&](int64_t Pts) {
        return Until >= 0 && Pts != AV_NOPTS_VALUE && Microseconds(Pts) < Until;
    };
    const auto After = [&](int64_t Pts) {
        return Until >= 0 && Pts != AV_NOPTS_VALUE && Microseconds(Pts) > Until;
    };

    const int Width = St->codecpar->width;
    const int Height = St->codecpar->height;
    // Sizes the library could not hold a picture of never reach the bitmap.
    if (Width <= 0 || Height <= 0 || lavu.av_image_check_size(Width, Height, 0, nullptr) < 0) {
        Log(kLogError, "frame size of codec is invalid.");
        SetLastError("frame size of codec is invalid");
        FFrameBitmap.SetSize(0, 0);
        return FFrameBitmap;
    }
    if (!OpenDecoder(StreamIndex)) return FFrameBitmap;
    if (FFrameBitmap.Width() != Width || FFrameBitmap.Height() != Height) FFrameBitmap.SetSize(Width, Height);

    if (!FPacket) FPacket = MakePacket();
    if (!FFrame) FFrame = MakeFrame();
    if (!FHeldFrame) FHeldFrame = MakeFrame();
    if (!FPacket || !FFrame || !FHeldFrame) return Emptied(ErrorText(AVERROR(ENOMEM)));

    // Pictures before the target are passed over; the latest of them stands in for the target
    // when the stream ends first.
    bool Held = false;
    const auto EndOrHeld = [&]() {
        if (!Held) return false;
        lavu.av_frame_move_ref(FFrame.get(), FHeldFrame.get());
        Held = false;
        return true;
    };
    // A container without a key-picture index (a transport stream, say) lands at the time
    // itself: the decoder then gives nothing before the next key picture, or nothing at all.
    // The seek goes back further, doubling the distance, down to the start.
    bool Seen = false;  // a picture came since the last seek
    int64_t From = Until;
    int64_t Backoff = kSeekBackoff;
    const auto SeekEarlier = [&]() {
        if (!Sought || Seen || From <= 0) return false;
        From = std::max<int64_t>(0, Until - Backoff);
        Backoff = Backoff > INT64_MAX / 2 ? INT64_MAX : Backoff * 2;
        if (!DoSeek(StreamIndex, From, true)) return false;
        FSeekTarget = -1;
        FSeekStream = -1;
        return true;
    };
    // Receive first: the decoder may still hold pictures from packets sent before.
    for (;;) {
        int Result = lavc.avcodec_receive_frame(FDecoder.get(), FFrame.get());
        if (Result == 0) {
            const int64_t Pts = FrameTimestamp(FFrame.get());
            if (After(Pts) && SeekEarlier()) {
                lavu.av_frame_unref(FFrame.get());
                continue;
            }
            Seen = true;
            if (Before(Pts)) {
                lavu.av_frame_unref(FHeldFrame.get());
                lavu.av_frame_move_ref(FHeldFrame.get(), FFrame.get());
                Held = true;
                continue;
            }
            break;
        }
        if (Result == AVERROR_EOF) {
            if (EndOrHeld()) break;
            if (SeekEarlier()) continue;
            return EndOfStream(StreamIndex, Target);
        }
        // Otherwise the decoder wants more input, or the last packet would not decode.
        Result = lavf.av_read_frame(FContext, FPacket.get());
        if (Result < 0) {
            if (FDecoderDrained) {
                if (EndOrHeld()) break;
                if (SeekEarlier()) continue;
                return EndOfStream(StreamIndex, Target);
            }
            // The pictures the decoder still holds come out once it knows nothing follows. A
            // decoder that refuses the end has nothing more to give: the next turn ends the stream.
            (void)lavc.avcodec_send_packet(FDecoder.get(), nullptr);
            FDecoderDrained = true;
            continue;
        }
        ++FPacketsRead;
        if (FPacket->stream_index == StreamIndex && !FDecoderDrained)
            (void)lavc.avcodec_send_packet(FDecoder.get(), FPacket.get());
        lavc.av_packet_unref(FPacket.get());
    }

    lavu.av_frame_unref(FHeldFrame.get());
    const bool Stored = StorePicture(FFrame.get());
    const int64_t Pts = FrameTimestamp(FFrame.get());
    lavu.av_frame_unref(FFrame.get());
    if (!Stored) return FFrameBitmap;
    if (Pts != AV_NOPTS_VALUE) {
        const int64_t FromStart = St->start_time != AV_NOPTS_VALUE ? Pts - St->start_time : Pts;
        FPictureTime = lavu.av_rescale_q(FromStart, TimeBase, kMicroseconds);
    }

    FLastFrame = FFrameBitmap;
    FLastPictureTime = FPictureTime;
    FIsImageSequence = IsImage2();
    FLastReadOK = true;
    FLastTarget = Target;
    FLastStream = StreamIndex;
    FEndOfStream = false;
    return FFrameBitmap;
}

}  // namespace zembra
