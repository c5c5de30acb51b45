#pragma once

// The media probe: opens a file (or borrows an engine's opened input) to describe it, and decodes
// single pictures of it into 24-bit bitmaps.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "binding/FFmpegHolders.h"
#include "protocol/UnicodeProtocol.h"
#include "util/Bitmap.h"

namespace zembra {

// Raised when the libraries are missing, and when a borrowed (read-only) input is asked to seek
// or to give a picture.
class AVProbeException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// -1 (or empty) marks what is unknown or not loaded.
struct TFileStreamInfo {
    int64_t StartTime = -1;  // microseconds
    int64_t Duration = -1;   // microseconds
    int32_t BitRate = -1;    // bits per second
    int64_t TimeStamp = -1;  // seconds since 1970-01-01
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTimeRaw = -1;  // in the stream's time base
    int64_t StartTime = -1;     // microseconds
    int64_t DurationRaw = -1;   // in the stream's time base
    int64_t Duration = -1;      // microseconds
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float DisplayAspectRatio = -1.0f;
    int32_t PixelFormat = -1;
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
};

class TCustomAVProbe {
  public:
    TCustomAVProbe() = default;
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Describes an input opened elsewhere (an engine's). The probe never closes, seeks or reads
    // it; its owner must keep it open until the probe is closed or attached to something else.
    // False (and closed) for nullptr.
    virtual bool AttachContext(AVFormatContext* Context);
    virtual void Close();

    // FormatName forces a container ("image2", say); empty lets the library detect it.
    bool LoadFile(const std::u16string& FileName, const std::string& FormatName = {});

    bool GetFileStreamInfo(TFileStreamInfo& Info);
    // A negative index means the first video stream.
    bool GetVideoStreamInfo(int StreamIndex, TVideoStreamInfo& Info);
    std::u16string GetFileName();
    std::string GetFormatName();
    int64_t GetFileSize();
    // Lines joined with CR LF, in UTF-8.
    std::string GetFileInfoText();

    const std::string& LastError() const { return FLastError; }
    const std::string& ForcedFormatName() const { return FForcedFormat; }
    AVFormatContext* Context() const { return FContext; }
    bool Loaded() const { return FContext != nullptr; }
    bool OwnsContext() const { return FContext && FOwnsContext; }

    // -1 while nothing is open; the first-stream indexes also when there is no such stream.
    int32_t StreamCount() const { return FStreamCount; }
    int32_t ProgramCount() const { return FProgramCount; }
    int32_t AudioStreamCount() const { return FAudioStreamCount; }
    int32_t VideoStreamCount() const { return FVideoStreamCount; }
    int32_t SubtitleStreamCount() const { return FSubtitleStreamCount; }
    int32_t FirstAudioStreamIndex() const { return FFirstAudioStream; }
    int32_t FirstVideoStreamIndex() const { return FFirstVideoStream; }
    int32_t FirstSubtitleStreamIndex() const { return FFirstSubtitleStream; }

  protected:
    // Raises AVProbeException naming the first of avcodec, avformat, avutil, swscale not loaded.
    static void CheckLibraries();
    // False, with "file not loaded." logged and kept, when nothing is open.
    bool CheckLoaded();
    // Writes Text plus a line feed through the libraries' log (the logger when avutil is absent).
    void Log(int Level, const std::string& Text);
    // Logs Text at Level and keeps it as the last error.
    void Fail(int Level, const std::string& Text);
    void SetLastError(const std::string& Text) { FLastError = Text; }
    // The stream's time base, its zero denominator patched first.
    static AVRational PatchedTimeBase(AVStream* Stream);
    bool IsImage2() const;

    AVFormatContext* FContext = nullptr;
    bool FOwnsContext = false;

  private:
    void CountStreams();
    void ResetCounters();
    int64_t LibraryFileSize() const;
    std::string StreamLine(int Index);
    std::string OpenFailureText(const std::u16string& FileName, const std::string& URL, int Code,
                                bool Forced) const;

    // Closed in this order: the library never frees a custom I/O context.
    TFormatInputPtr FOwnedContext;
    TUnicodeIOPtr FUnicodeIO;
    std::string FLastError;
    std::string FForcedFormat;
    int32_t FStreamCount = -1;
    int32_t FProgramCount = -1;
    int32_t FAudioStreamCount = -1;
    int32_t FVideoStreamCount = -1;
    int32_t FSubtitleStreamCount = -1;
    int32_t FFirstAudioStream = -1;
    int32_t FFirstVideoStream = -1;
    int32_t FFirstSubtitleStream = -1;
};

// The probe with a frame reader. Used by one thread at a time.
class TAVProbe : public TCustomAVProbe {
  public:
    TAVProbe() = default;
    ~TAVProbe() override;

    void Close() override;

    // Time in microseconds from the start of the file; a negative stream picks the first video,
    // else audio, else subtitle stream. Raises AVProbeException on a borrowed input. The seek
    // lands on the key picture at or before the time; the next GetFrame of that stream decodes
    // on to the picture shown at the time.
    bool Seek(int StreamIndex, int64_t Time);
    // The next picture of the stream (a negative index: the first video stream), or with a
    // Target (microseconds, not negative) the picture shown then: the first one whose time is
    // at or after it, or the last one when the stream ends before. Failures give an empty or black
    // bitmap and set LastError; a borrowed input raises AVProbeException.
    const TBitmap& ReadFrame(int StreamIndex, int64_t Target);
    const TBitmap& GetFrame(int StreamIndex) { return ReadFrame(StreamIndex, -1); }
    // The last picture read successfully.
    const TBitmap& GetLastFrame() const { return FLastFrame; }

    // Microseconds from the stream's start of the picture just read; -1 when none or unknown.
    int64_t PictureTime() const { return FPictureTime; }
    bool LastReadSucceeded() const { return FLastReadOK; }
    bool IsImageSequence() const { return FIsImageSequence; }
    bool SeekLandedBackward() const { return FSeekBackward; }
    // Whether the last picture went through the scaler rather than being copied as it was.
    bool LastFrameConverted() const { return FConverted; }
    // Packets taken from the demuxer since the probe was created, for diagnostics.
    int64_t PacketsRead() const { return FPacketsRead; }

  private:
    bool DoSeek(int StreamIndex, int64_t Time, bool SecondAttempt);
    const TBitmap& Emptied(const std::string& Text);
    const TBitmap& EndOfStream(int StreamIndex, int64_t Target);
    // A cover picture: the stream's one picture, kept with the header.
    const TBitmap& ReadAttachedPicture(int StreamIndex, int64_t Target);
    bool OpenDecoder(int StreamIndex);
    void CloseDecoder();
    // False (bitmap black, error set) when no scaler can be had.
    bool StorePicture(const AVFrame* Frame);

    TCodecContextPtr FDecoder;
    int FDecoderStream = -1;
    bool FDecoderDrained = false;
    TSwsPtr FScaler;
    TAvBufferPtr FBuffer;
    size_t FBufferSize = 0;
    TPacketPtr FPacket;
    TFramePtr FFrame;
    // The latest picture before the target while decoding towards it.
    TFramePtr FHeldFrame;
    TBitmap FFrameBitmap;
    TBitmap FLastFrame;
    bool FIsImageSequence = false;
    bool FLastReadOK = false;
    bool FConverted = false;
    int64_t FPictureTime = -1;
    int64_t FLastPictureTime = -1;
    bool FSeekBackward = false;
    int64_t FLastTarget = -1;
    int FLastStream = -1;
    bool FEndOfStream = false;
    // Key pictures only: decoding from any other picture gives garbage on inter-coded video.
    int FSeekFlags = AVSEEK_FLAG_BACKWARD;
    // The time (microseconds) and stream of the last Seek, which the next read without a
    // target of that stream decodes on to; -1 when none.
    int64_t FSeekTarget = -1;
    int FSeekStream = -1;
    int64_t FPacketsRead = 0;
};

// ", 29.97 tbr", ", 25 tbr", ", 90k tbn": two decimals unless whole, thousands as "k".
std::string ProbeRateText(double Rate, const char* Unit);
// Seconds and microseconds, "1.400000"; a negative time keeps its sign.
std::string ProbeStartTimeText(int64_t Microseconds);

}  // namespace zembra
