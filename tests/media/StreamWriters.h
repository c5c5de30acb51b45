#pragma once

// One encoder per output stream, stepped by the clip writer in timestamp order so the muxer
// receives the streams already roughly interleaved.

#include <memory>
#include <string>

#include "binding/FFmpegHolders.h"
#include "tests/media/TestMedia.h"

namespace zembra::testmedia {

class TStreamWriter {
  public:
    TStreamWriter() = default;
    virtual ~TStreamWriter();
    TStreamWriter(const TStreamWriter&) = delete;
    TStreamWriter& operator=(const TStreamWriter&) = delete;

    // Seconds of the next frame or cue to encode; meaningless once Done().
    virtual double NextTime() const = 0;
    // Encodes the next frame or cue, or drains the encoder once the content is used up, and
    // writes every packet that comes out. "" or the error.
    virtual std::string Step(AVFormatContext* Output) = 0;
    bool Done() const { return FDone; }

  protected:
    // Finds the encoder and checks it makes Type; allocates the context.
    std::string PrepareEncoder(const std::string& Name, AVMediaType Type);
    // Opens the encoder with Options, which must all be used, then adds the stream and gives
    // it the encoder's parameters.
    std::string OpenAndAddStream(AVFormatContext* Output, const TOptions& Options);
    // Sends Frame (nullptr drains) and writes the packets that are ready.
    std::string SendFrame(AVFormatContext* Output, const AVFrame* Frame);
    // Hands a packet in encoder time to the muxer.
    std::string WritePacket(AVFormatContext* Output);

    const AVCodec* FCodec = nullptr;
    TCodecContextPtr FContext;
    TPacketPtr FPacket;
    AVStream* FStream = nullptr;
    bool FDone = false;
    // Bytes that every packet carries in place of the encoder's (a damaged or oversized
    // picture); empty: the encoder's own.
    std::string FPayload;
};

// Each adds its stream to Output (before the header is written) or returns why it could not.
std::string CreateVideoWriter(const TVideoSpec& Spec, AVFormatContext* Output,
                              std::unique_ptr<TStreamWriter>& Writer);
std::string CreateAudioWriter(const TAudioSpec& Spec, AVFormatContext* Output,
                              std::unique_ptr<TStreamWriter>& Writer);
std::string CreateSubtitleWriter(const TSubtitleSpec& Spec, AVFormatContext* Output,
                                 std::unique_ptr<TStreamWriter>& Writer);

}  // namespace zembra::testmedia
