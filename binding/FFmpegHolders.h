#pragma once

// Owners of FFmpeg objects: each holder frees its object with the library's own free function,
// through the entry-point tables.

#include <memory>

#include "binding/FFmpegHeaders.h"

namespace zembra {

struct TFormatInputDeleter {
    void operator()(AVFormatContext* P) const;
};
// An output context: its file (when the muxer has one and it was opened) is closed too.
struct TFormatOutputDeleter {
    void operator()(AVFormatContext* P) const;
};
// A context that was never opened (an option context, say).
struct TFormatContextDeleter {
    void operator()(AVFormatContext* P) const;
};
struct TCodecContextDeleter {
    void operator()(AVCodecContext* P) const;
};
struct TCodecParametersDeleter {
    void operator()(AVCodecParameters* P) const;
};
struct TFrameDeleter {
    void operator()(AVFrame* P) const;
};
struct TPacketDeleter {
    void operator()(AVPacket* P) const;
};
struct TSwsDeleter {
    void operator()(SwsContext* P) const;
};
struct TSwrDeleter {
    void operator()(SwrContext* P) const;
};
struct TFilterGraphDeleter {
    void operator()(AVFilterGraph* P) const;
};
struct TFilterInOutDeleter {
    void operator()(AVFilterInOut* P) const;
};
struct TDictionaryDeleter {
    void operator()(AVDictionary* P) const;
};
struct TBsfDeleter {
    void operator()(AVBSFContext* P) const;
};
struct TAudioFifoDeleter {
    void operator()(AVAudioFifo* P) const;
};
struct TFifoDeleter {
    void operator()(AVFifo* P) const;
};
// A custom I/O context: its buffer (which the library may have replaced) goes with it.
struct TIOContextDeleter {
    void operator()(AVIOContext* P) const;
};
struct TAvFreeDeleter {
    void operator()(void* P) const;
};
struct TSubtitleDeleter {
    void operator()(AVSubtitle* P) const;
};
struct TMd5Deleter {
    void operator()(AVMD5* P) const;
};
// An object closed by a function of a layer above this one (an I/O context of our own, a
// container reading through one, which the library leaves open): the holder is still this
// header's, with the closing function named where the object's kind is declared.
template <typename T, auto Close>
struct TClosedByDeleter {
    void operator()(T* P) const {
        if (P) Close(P);
    }
};

using TFormatInputPtr = std::unique_ptr<AVFormatContext, TFormatInputDeleter>;
using TFormatOutputPtr = std::unique_ptr<AVFormatContext, TFormatOutputDeleter>;
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextDeleter>;
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;
using TCodecParametersPtr = std::unique_ptr<AVCodecParameters, TCodecParametersDeleter>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;
using TSwsPtr = std::unique_ptr<SwsContext, TSwsDeleter>;
using TSwrPtr = std::unique_ptr<SwrContext, TSwrDeleter>;
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphDeleter>;
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutDeleter>;
using TDictionaryPtr = std::unique_ptr<AVDictionary, TDictionaryDeleter>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfDeleter>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoDeleter>;
using TFifoPtr = std::unique_ptr<AVFifo, TFifoDeleter>;
using TIOContextPtr = std::unique_ptr<AVIOContext, TIOContextDeleter>;
using TAvBufferPtr = std::unique_ptr<void, TAvFreeDeleter>;
using TSubtitlePtr = std::unique_ptr<AVSubtitle, TSubtitleDeleter>;
using TMd5Ptr = std::unique_ptr<AVMD5, TMd5Deleter>;
template <typename T, auto Close>
using TClosedByPtr = std::unique_ptr<T, TClosedByDeleter<T, Close>>;

// Allocators that return owned objects (empty on failure).
TFramePtr MakeFrame();
TPacketPtr MakePacket();

// A dictionary that functions taking AVDictionary** can fill: Dict.Slot() hands the pointer's
// address over and the holder keeps ownership.
class TDictionary {
  public:
    TDictionary() = default;
    ~TDictionary();
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
    TDictionary(TDictionary&& Other) noexcept : FDict(Other.FDict) { Other.FDict = nullptr; }
    TDictionary& operator=(TDictionary&& Other) noexcept;

    AVDictionary** Slot() { return &FDict; }
    AVDictionary* Get() const { return FDict; }
    // 0 or a negative error code.
    int Set(const char* Key, const char* Value, int Flags = 0);
    // Adds Source's entries; 0 or a negative error code.
    int CopyFrom(const AVDictionary* Source);
    int Count() const;
    void Clear();

  private:
    AVDictionary* FDict = nullptr;
};

}  // namespace zembra
