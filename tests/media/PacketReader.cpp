#include "tests/media/PacketReader.h"

#include <cstring>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "util/StringUtils.h"

namespace zembra::testmedia {

namespace {

// The length of the ADTS header a packet starts with, 0 when it has none: 7 bytes, 9 with the
// CRC (protection_absent clear).
size_t AdtsHeaderSize(const AVPacket& Packet) {
    if (Packet.size < 7 || Packet.data[0] != 0xFF || (Packet.data[1] & 0xF6) != 0xF0) return 0;
    const size_t Size = (Packet.data[1] & 0x01) ? 7 : 9;
    return Size <= static_cast<size_t>(Packet.size) ? Size : 0;
}

}  // namespace

std::vector<uint8_t> TCodedSound::Joined() const {
    std::vector<uint8_t> All;
    for (const TCodedPacket& P : Packets) All.insert(All.end(), P.Payload.begin(), P.Payload.end());
    return All;
}

std::string ReadCodedSound(const std::string& Path, TCodedSound& Sound) {
    Sound = {};
    AVFormatContext* Raw = nullptr;
    int Ret = lavf.avformat_open_input(&Raw, Path.c_str(), nullptr, nullptr);
    if (Ret < 0) return zembra::Format("Cannot open \"%s\": %s", Path.c_str(), ErrorText(Ret).c_str());
    TFormatInputPtr Input(Raw);
    Ret = lavf.avformat_find_stream_info(Input.get(), nullptr);
    if (Ret < 0)
        return zembra::Format("Cannot read the streams of \"%s\": %s", Path.c_str(), ErrorText(Ret).c_str());
    int Index = -1;
    for (unsigned I = 0; I < Input->nb_streams && Index < 0; ++I)
        if (Input->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) Index = static_cast<int>(I);
    if (Index < 0) return "\"" + Path + "\" has no audio stream";
    const AVStream* Stream = Input->streams[Index];
    Sound.CodecId = Stream->codecpar->codec_id;
    Sound.SampleRate = Stream->codecpar->sample_rate;
    Sound.Channels = Stream->codecpar->ch_layout.nb_channels;
    if (Input->duration > 0) Sound.Duration = static_cast<double>(Input->duration) / AV_TIME_BASE;
    const bool Adts = std::strcmp(Input->iformat->name, "aac") == 0;
    const double TimeBase = av_q2d(Stream->time_base);
    TPacketPtr Packet(lavc.av_packet_alloc());
    if (!Packet) return "Out of memory for a packet";
    while ((Ret = lavf.av_read_frame(Input.get(), Packet.get())) >= 0) {
        if (Packet->stream_index == Index) {
            const size_t Skip = Adts ? AdtsHeaderSize(*Packet) : 0;
            TCodedPacket P;
            P.Time = Packet->pts != AV_NOPTS_VALUE ? Packet->pts * TimeBase : 0.0;
            P.Duration = Packet->duration * TimeBase;
            P.Payload.assign(Packet->data + Skip, Packet->data + Packet->size);
            Sound.Packets.push_back(std::move(P));
        }
        lavc.av_packet_unref(Packet.get());
    }
    if (Ret != AVERROR_EOF)
        return zembra::Format("Cannot read \"%s\": %s", Path.c_str(), ErrorText(Ret).c_str());
    return {};
}

}  // namespace zembra::testmedia
