#include "binding/FFmpegHolders.h"

#include <new>

#include "binding/EntryPoints.h"

namespace zembra {

void TFormatInputDeleter::operator()(AVFormatContext* P) const {
    if (P) lavf.avformat_close_input(&P);
}

void TFormatOutputDeleter::operator()(AVFormatContext* P) const {
    if (!P) return;
    const bool CustomIO = (P->flags & AVFMT_FLAG_CUSTOM_IO) != 0;
    if (P->pb && !CustomIO && P->oformat && !(P->oformat->flags & AVFMT_NOFILE)) lavf.avio_closep(&P->pb);
    lavf.avformat_free_context(P);
}

void TFormatContextDeleter::operator()(AVFormatContext* P) const {
    if (P) lavf.avformat_free_context(P);
}

void TCodecContextDeleter::operator()(AVCodecContext* P) const {
    if (P) lavc.avcodec_free_context(&P);
}

void TCodecParametersDeleter::operator()(AVCodecParameters* P) const {
    if (P) lavc.avcodec_parameters_free(&P);
}

void TFrameDeleter::operator()(AVFrame* P) const {
    if (P) lavu.av_frame_free(&P);
}

void TPacketDeleter::operator()(AVPacket* P) const {
    if (P) lavc.av_packet_free(&P);
}

void TSwsDeleter::operator()(SwsContext* P) const {
    if (P) lsws.sws_freeContext(P);
}

void TSwrDeleter::operator()(SwrContext* P) const {
    if (P) lswr.swr_free(&P);
}

void TFilterGraphDeleter::operator()(AVFilterGraph* P) const {
    if (P) lavfi.avfilter_graph_free(&P);
}

void TFilterInOutDeleter::operator()(AVFilterInOut* P) const {
    if (P) lavfi.avfilter_inout_free(&P);
}

void TDictionaryDeleter::operator()(AVDictionary* P) const {
    if (P) lavu.av_dict_free(&P);
}

void TBsfDeleter::operator()(AVBSFContext* P) const {
    if (P) lavc.av_bsf_free(&P);
}

void TAudioFifoDeleter::operator()(AVAudioFifo* P) const {
    if (P) lavu.av_audio_fifo_free(P);
}

void TFifoDeleter::operator()(AVFifo* P) const {
    if (P) lavu.av_fifo_freep2(&P);
}

void TIOContextDeleter::operator()(AVIOContext* P) const {
    if (!P) return;
    if (P->write_flag) lavf.avio_flush(P);
    lavu.av_freep(&P->buffer);
    lavf.avio_context_free(&P);
}

void TMd5Deleter::operator()(AVMD5* P) const {
    if (P) lavu.av_free(P);
}

void TAvFreeDeleter::operator()(void* P) const {
    if (P) lavu.av_free(P);
}

void TSubtitleDeleter::operator()(AVSubtitle* P) const {
    if (!P) return;
    lavc.avsubtitle_free(P);
    delete P;
}

TFramePtr MakeFrame() {
    TFramePtr Frame(lavu.av_frame_alloc());
    if (!Frame) throw std::bad_alloc();
    return Frame;
}
TPacketPtr MakePacket() {
    TPacketPtr Packet(lavc.av_packet_alloc());
    if (!Packet) throw std::bad_alloc();
    return Packet;
}

TDictionary::~TDictionary() {
    Clear();
}

TDictionary& TDictionary::operator=(TDictionary&& Other) noexcept {
    if (this != &Other) {
        Clear();
        FDict = Other.FDict;
        Other.FDict = nullptr;
    }
    return *this;
}

int TDictionary::Set(const char* Key, const char* Value, int Flags) {
    return lavu.av_dict_set(&FDict, Key, Value, Flags);
}

int TDictionary::CopyFrom(const AVDictionary* Source) {
    return Source ? lavu.av_dict_copy(&FDict, Source, 0) : 0;
}

int TDictionary::Count() const {
    return FDict ? lavu.av_dict_count(FDict) : 0;
}

void TDictionary::Clear() {
    if (FDict) lavu.av_dict_free(&FDict);
}

}  // namespace zembra
