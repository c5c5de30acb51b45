#include "probe/SourceSound.h"

#include <cstring>

#include "binding/EntryPoints.h"
#include "binding/FFmpegHolders.h"
#include "probe/AVProbe.h"

namespace zembra {

namespace {

// MPEG-TS names every MPEG audio stream MP3 and MPEG-PS names it MP2 until a parser has read
// enough of its frames, which the stream information does not always do: an MP2 stream
// labelled MP3 would be copied into an mp3 file. The layer bits of the stream's first frame
// tell; NONE when they cannot be read. The file is put back at its start afterwards.
AVCodecID MpegAudioLayer(AVFormatContext* Context, int Index) {
    constexpr int kMaxPackets = 1000;  // a film's pictures may come long before its sound
    TPacketPtr Packet(lavc.av_packet_alloc());
    if (!Packet) return AV_CODEC_ID_NONE;
    AVCodecID Layer = AV_CODEC_ID_NONE;
    for (int Read = 0; Read < kMaxPackets && Layer == AV_CODEC_ID_NONE; ++Read) {
        if (lavf.av_read_frame(Context, Packet.get()) < 0) break;
        const uint8_t* Data = Packet->data;
        if (Packet->stream_index == Index && Packet->size >= 4 && Data[0] == 0xFF &&
            (Data[1] & 0xE0) == 0xE0) {
            const int Bits = (Data[1] >> 1) & 3;
            Layer = Bits == 3   ? AV_CODEC_ID_MP1
                    : Bits == 2 ? AV_CODEC_ID_MP2
                    : Bits == 1 ? AV_CODEC_ID_MP3
                                : Layer;
        }
        lavc.av_packet_unref(Packet.get());
    }
    const int64_t Start = Context->start_time != AV_NOPTS_VALUE ? Context->start_time : 0;
    // A file that cannot go back is left unknown: what the probe reads next would be wrong.
    if (lavf.av_seek_frame(Context, -1, Start, AVSEEK_FLAG_BACKWARD) < 0) return AV_CODEC_ID_NONE;
    return Layer;
}

bool IsMpegAudio(AVCodecID Codec) {
    return Codec == AV_CODEC_ID_MP1 || Codec == AV_CODEC_ID_MP2 || Codec == AV_CODEC_ID_MP3;
}

}  // namespace

TSourceSound SourceSoundOf(TCustomAVProbe& Probe) {
    TSourceSound Sound;
    const int Index = Probe.FirstAudioStreamIndex();
    AVFormatContext* Context = Probe.Context();
    if (!Context || Index < 0 || static_cast<unsigned>(Index) >= Context->nb_streams) return Sound;
    const AVCodecParameters* Par = Context->streams[Index]->codecpar;
    Sound.Present = true;
    Sound.CodecId = Par->codec_id;
    if (const char* Name = lavc.avcodec_get_name ? lavc.avcodec_get_name(Par->codec_id) : nullptr)
        Sound.CodecName = Name;
    Sound.SampleRate = Par->sample_rate > 0 ? Par->sample_rate : -1;
    Sound.Channels = Par->ch_layout.nb_channels > 0 ? Par->ch_layout.nb_channels : -1;
    const char* Demuxer = Context->iformat ? Context->iformat->name : "";
    if (IsMpegAudio(Sound.CodecId) &&
        (std::strcmp(Demuxer, "mpegts") == 0 || std::strcmp(Demuxer, "mpeg") == 0))
        // A borrowed input is never read by the probe: its layer stays unknown.
        Sound.CodecId = Probe.OwnsContext() ? MpegAudioLayer(Context, Index) : AV_CODEC_ID_NONE;
    return Sound;
}

}  // namespace zembra
