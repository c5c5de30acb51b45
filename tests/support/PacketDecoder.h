#pragma once

// Decodes a sequence of encoded packets one at a time, as a demuxer would hand them over, for
// the tests that join encoders' outputs by hand and check what a decoder makes of the result.

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"

namespace zembra::testing {

// Opens the decoder Name with the "err_detect" flags ErrDetect (none when empty) and the
// stream header Extradata (none when empty), then feeds it every packet and a flush, calling
// OnFrame for each frame. A packet the decoder refuses is counted in Refused and the rest go on.
// "" or the error.
inline std::string DecodePackets(const char* Name, const std::string& ErrDetect,
                                 const std::vector<uint8_t>& Extradata,
                                 const std::vector<std::vector<uint8_t>>& Packets,
                                 const std::function<void(AVCodecContext*)>& Configure,
                                 const std::function<std::string(const AVFrame*)>& OnFrame, int& Refused) {
    const AVCodec* Codec = lavc.avcodec_find_decoder_by_name(Name);
    if (!Codec) return std::string("no decoder ") + Name;
    TCodecContextPtr Ctx(lavc.avcodec_alloc_context3(Codec));
    TFramePtr Frame = MakeFrame();
    TPacketPtr Packet = MakePacket();
    if (!Ctx || !Frame || !Packet) return "out of memory";
    if (!ErrDetect.empty() && lavu.av_opt_set(Ctx.get(), "err_detect", ErrDetect.c_str(), 0) < 0)
        return "no err_detect";
    if (Configure) Configure(Ctx.get());
    if (!Extradata.empty()) {
        const std::vector<uint8_t>& Header = Extradata;
        Ctx->extradata = static_cast<uint8_t*>(lavu.av_mallocz(Header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!Ctx->extradata) return "out of memory";
        std::memcpy(Ctx->extradata, Header.data(), Header.size());
        Ctx->extradata_size = static_cast<int>(Header.size());
    }
    int Ret;
    {
        TCodecLockGuard Lock;
        Ret = lavc.avcodec_open2(Ctx.get(), Codec, nullptr);
    }
    if (Ret < 0) return std::string("cannot open ") + Name;
    auto Receive = [&]() -> std::string {
        for (;;) {
            const int R = lavc.avcodec_receive_frame(Ctx.get(), Frame.get());
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return {};
            if (R < 0) return "decoding failed: " + std::to_string(R);
            std::string Error = OnFrame(Frame.get());
            lavu.av_frame_unref(Frame.get());
            if (!Error.empty()) return Error;
        }
    };
    for (const std::vector<uint8_t>& P : Packets) {
        if (lavc.av_new_packet(Packet.get(), static_cast<int>(P.size())) < 0) return "no packet";
        std::memcpy(Packet->data, P.data(), P.size());
        Ret = lavc.avcodec_send_packet(Ctx.get(), Packet.get());
        lavc.av_packet_unref(Packet.get());
        if (Ret < 0) {
            ++Refused;
            continue;
        }
        if (std::string E = Receive(); !E.empty()) return E;
    }
    if (lavc.avcodec_send_packet(Ctx.get(), nullptr) < 0) return "flush refused";
    return Receive();
}

}  // namespace zembra::testing
