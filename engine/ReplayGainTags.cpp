#include "engine/ReplayGainTags.h"

#include <cstdio>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "engine/Transcoder.h"
#include "util/OutputClaims.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

// Numbers in tags are read by every player alike: a point, whatever the locale.
std::string Fixed(double Value, int Decimals) {
    char Text[64];
    const auto [End, Error] =
        std::to_chars(Text, Text + sizeof Text, Value, std::chars_format::fixed, Decimals);
    return Error == std::errc() ? std::string(Text, End) : "0";
}

std::string GainText(double Gain) {
    return (Gain >= 0 ? "+" : "") + Fixed(Gain, 2) + " dB";
}

// What the container holds, copied packet by packet into Target, with Tags added to its tags.
// PicturesOnly: the sound's packets are left out (for mp3, whose tag is all that is taken).
std::string Remux(const std::string& Source, const std::string& Target, const std::string& MuxerName,
                  const TTagList& Tags, bool PicturesOnly) {
    AVFormatContext* RawIn = nullptr;
    int Result = lavf.avformat_open_input(&RawIn, ("file:" + Source).c_str(), nullptr, nullptr);
    TFormatInputPtr In(RawIn);
    if (Result < 0) return "cannot read it again: " + ErrorText(Result);
    if ((Result = lavf.avformat_find_stream_info(In.get(), nullptr)) < 0)
        return "cannot read it again: " + ErrorText(Result);
    AVFormatContext* RawOut = nullptr;
    Result = lavf.avformat_alloc_output_context2(&RawOut, nullptr, MuxerName.c_str(), nullptr);
    TFormatOutputPtr Out(RawOut);
    if (Result < 0 || !Out) return "no muxer " + MuxerName;
    // The song's tags are the container's: the muxers that write tags take them from there.
    if (lavu.av_dict_copy(&Out->metadata, In->metadata, 0) < 0) return "out of memory";
    std::vector<int> Map(In->nb_streams, -1);
    int Pictures = 0;  // attached pictures not yet written
    for (unsigned I = 0; I < In->nb_streams; ++I) {
        const AVStream* From = In->streams[I];
        const AVMediaType Type = From->codecpar->codec_type;
        const bool Picture = From->disposition & AV_DISPOSITION_ATTACHED_PIC;
        if (Type != AVMEDIA_TYPE_AUDIO && !Picture) continue;
        AVStream* To = lavf.avformat_new_stream(Out.get(), nullptr);
        if (!To || lavc.avcodec_parameters_copy(To->codecpar, From->codecpar) < 0) return "out of memory";
        To->codecpar->codec_tag = 0;
        To->time_base = From->time_base;
        To->disposition = From->disposition;
        if (Picture) {
            if (lavu.av_dict_copy(&To->metadata, From->metadata, 0) < 0) return "out of memory";
        } else {
            const AVDictionaryEntry* E = nullptr;
            while ((E = lavu.av_dict_get(From->metadata, "", E, AV_DICT_IGNORE_SUFFIX)))
                if (!IsStreamOnlyTag(E->key) &&
                    lavu.av_dict_set(&Out->metadata, E->key, E->value, AV_DICT_DONT_OVERWRITE) < 0)
                    return "out of memory";
        }
        Map[I] = To->index;
        Pictures += Picture;
    }
    for (const auto& [Key, Value] : Tags)
        if (lavu.av_dict_set(&Out->metadata, Key.c_str(), Value.c_str(), 0) < 0) return "out of memory";
    if ((Result = lavf.avio_open2(&Out->pb, ("file:" + Target).c_str(), AVIO_FLAG_WRITE, nullptr, nullptr)) <
        0)
        return WithSystemReason("cannot write", Result);
    if ((Result = lavf.avformat_write_header(Out.get(), nullptr)) < 0)
        return WithSystemReason("cannot write the header", Result);
    TPacketPtr Packet = MakePacket();
    if (!Packet) return "out of memory";
    // A container's pictures come first: with PicturesOnly the reading ends after them.
    while ((!PicturesOnly || Pictures > 0) && (Result = lavf.av_read_frame(In.get(), Packet.get())) >= 0) {
        const int Index = Packet->stream_index;
        const bool Wanted = Index >= 0 && static_cast<size_t>(Index) < Map.size() && Map[Index] >= 0 &&
                            (!PicturesOnly || In->streams[Index]->disposition & AV_DISPOSITION_ATTACHED_PIC);
        if (!Wanted) {
            lavc.av_packet_unref(Packet.get());
            continue;
        }
        const AVRational From = In->streams[Index]->time_base, To = Out->streams[Map[Index]]->time_base;
        Packet->stream_index = Map[Index];
        if (Packet->pts != AV_NOPTS_VALUE) Packet->pts = lavu.av_rescale_q(Packet->pts, From, To);
        if (Packet->dts != AV_NOPTS_VALUE) Packet->dts = lavu.av_rescale_q(Packet->dts, From, To);
        Packet->duration = lavu.av_rescale_q(Packet->duration, From, To);
        Packet->pos = -1;
        if ((Result = lavf.av_interleaved_write_frame(Out.get(), Packet.get())) < 0)
            return WithSystemReason("cannot write", Result);
        if (PicturesOnly) --Pictures;
    }
    if (Result < 0 && Result != AVERROR_EOF) return "cannot read it again: " + ErrorText(Result);
    if ((Result = lavf.av_write_trailer(Out.get())) < 0) return WithSystemReason("cannot write", Result);
    if ((Result = lavf.avio_closep(&Out->pb)) < 0) return WithSystemReason("cannot write", Result);
    return "";
}

// Bytes of the ID3v2 tag that starts the file, its header and footer included; 0 without one.
std::streamoff Id3v2Length(std::istream& In) {
    char H[10];
    if (!In.seekg(0) || !In.read(H, sizeof H) || std::memcmp(H, "ID3", 3) != 0) return 0;
    auto B = [&](int I) { return static_cast<std::streamoff>(static_cast<unsigned char>(H[I]) & 0x7f); };
    return 10 + (B(6) << 21 | B(7) << 14 | B(8) << 7 | B(9)) + ((H[5] & 0x10) ? 10 : 0);
}

// Target, the muxer's new ID3v2 tag for Source (with no sound after it), takes Source's frames
// after Source's own tag: they stay exactly as the encoder wrote them, and its first frame (its
// LAME header) keeps the encoder's delay and padding for gapless playback, which a muxer given
// copied frames cannot know.
std::string KeepMp3Frames(const std::string& Source, const std::string& Target) {
    std::string Tag;
    {
        std::ifstream New(Target, std::ios::binary);
        const std::streamoff Length = Id3v2Length(New);
        if (Length <= 0) return "the rewritten file has no ID3v2 tag";
        Tag.resize(static_cast<size_t>(Length));
        if (!New.seekg(0) || !New.read(Tag.data(), Length)) return "cannot read the rewritten tag";
    }
    std::ifstream Old(Source, std::ios::binary);
    const std::streamoff OldLength = Id3v2Length(Old);
    Old.clear();
    if (!Old.seekg(OldLength)) return "cannot read the file again";
    std::ofstream Out(Target, std::ios::binary | std::ios::trunc);
    if (!(Out << Tag) || !(Out << Old.rdbuf()) || !Out.flush()) return "cannot write the rewritten file";
    return "";
}

}  // namespace

TReplayGainStyle ReplayGainStyleOf(const std::string& MuxerName) {
    for (const char* Name : {"mp3", "ogg", "oga", "opus", "spx", "flac", "matroska"})
        if (MuxerName == Name) return TReplayGainStyle::Muxer;
    for (const char* Name : {"ipod", "mp4", "mov"})
        if (MuxerName == Name) return TReplayGainStyle::Mp4Freeform;
    return TReplayGainStyle::None;
}

double ReplayGainOf(double Loudness) {
    return kReplayGainReference - Loudness;
}

TTagList ReplayGainTagList(const TReplayGain& Gain) {
    TTagList Tags = {{"REPLAYGAIN_TRACK_GAIN", GainText(Gain.TrackGain)},
                     {"REPLAYGAIN_TRACK_PEAK", Fixed(Gain.TrackPeak, 6)}};
    if (Gain.AlbumGain) Tags.push_back({"REPLAYGAIN_ALBUM_GAIN", GainText(*Gain.AlbumGain)});
    if (Gain.AlbumPeak) Tags.push_back({"REPLAYGAIN_ALBUM_PEAK", Fixed(*Gain.AlbumPeak, 6)});
    return Tags;
}

std::string WriteReplayGainTags(const std::string& File, std::string MuxerName, const TReplayGain& Gain) {
    if (MuxerName.empty()) {
        const AVOutputFormat* Guessed = lavf.av_guess_format(nullptr, File.c_str(), nullptr);
        if (Guessed) MuxerName = Guessed->name;
    }
    const TReplayGainStyle Style = ReplayGainStyleOf(MuxerName);
    if (Style == TReplayGainStyle::None) return "its format keeps no such tags";
    const std::string Temporary = NewTemporaryOutputName(File);
    const bool Mp3 = MuxerName == "mp3";
    const TTagList Tags = ReplayGainTagList(Gain);
    std::string Error = Style == TReplayGainStyle::Mp4Freeform ? WriteMp4FreeformTags(File, Temporary, Tags)
                                                               : Remux(File, Temporary, MuxerName, Tags, Mp3);
    if (Error.empty() && Mp3) Error = KeepMp3Frames(File, Temporary);
    if (Error.empty() && ::rename(Temporary.c_str(), File.c_str()) != 0)
        Error = WithSystemReason("cannot rename", AVERROR(errno));
    if (!Error.empty()) ::unlink(Temporary.c_str());
    ForgetTemporaryOutput(Temporary);
    return Error;
}

}  // namespace zembra
