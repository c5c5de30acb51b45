// Cover art with copy_cover: where each container keeps a picture, and which of the source's
// pictures is its cover.

#include <cerrno>
#include <cstring>
#include <string>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"
#include "engine/CoverArt.h"
#include "engine/FFmpeg.h"
#include "logging/FFmpegLogger.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

enum class TCoverPlace { None, Picture, Attachment };

// mp3 (ID3 APIC), flac (a PICTURE block) and the mp4 family (the iTunes covr item, "ipod" being
// our m4a) write an attached-picture stream as the file's cover and make no track of it. The
// Matroska muxer of this library generation would make such a stream a one-frame film, so a
// Matroska file gets the picture as a file attachment. WebM holds no attachments.
TCoverPlace CoverPlace(const AVOutputFormat* Format) {
    static const char* const kPictureHolders[] = {"mp3", "flac", "mp4", "ipod"};
    const std::string Name = Format->name;
    for (const char* Holder : kPictureHolders)
        if (Name == Holder) return TCoverPlace::Picture;
    return Name == "matroska" ? TCoverPlace::Attachment : TCoverPlace::None;
}

bool IsJpegOrPng(AVCodecID Id) {
    return Id == AV_CODEC_ID_MJPEG || Id == AV_CODEC_ID_PNG;
}

std::string TagValue(const AVDictionary* Tags, const char* Key) {
    const AVDictionaryEntry* E = lavu.av_dict_get(Tags, Key, nullptr, 0);
    return E && E->value ? E->value : "";
}

// A Matroska file may carry several pictures (the cover, its small copy, a back cover, a
// booklet page): by the format's convention the cover is the JPEG or PNG named cover.*.
bool IsCover(const AVFormatContext* Ic, const AVStream* St) {
    if (!(St->disposition & AV_DISPOSITION_ATTACHED_PIC) || !St->attached_pic.data ||
        St->attached_pic.size <= 0)
        return false;
    if (std::string(Ic->iformat->name).rfind("matroska", 0) != 0) return true;
    const std::string Mime = LowerCase(TagValue(St->metadata, "mimetype"));
    return LowerCase(TagValue(St->metadata, "filename")).rfind("cover", 0) == 0 &&
           (Mime == "image/jpeg" || Mime == "image/png");
}

// The picture goes into the attachment as it is, named and typed after its coding.
void FillAttachment(AVStream* St, const AVStream* Picture) {
    const bool Png = Picture->codecpar->codec_id == AV_CODEC_ID_PNG;
    AVCodecParameters* Par = St->codecpar;
    Par->codec_id = Picture->codecpar->codec_id;
    const int Size = Picture->attached_pic.size;
    Par->extradata =
        static_cast<uint8_t*>(lavu.av_mallocz(static_cast<size_t>(Size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!Par->extradata) throw FFmpegException("Could not allocate the cover attachment");
    std::memcpy(Par->extradata, Picture->attached_pic.data, static_cast<size_t>(Size));
    Par->extradata_size = Size;
    if (lavu.av_dict_set(&St->metadata, "filename", Png ? "cover.png" : "cover.jpg", 0) < 0 ||
        lavu.av_dict_set(&St->metadata, "mimetype", Png ? "image/png" : "image/jpeg", 0) < 0)
        throw FFmpegException("Could not allocate the cover attachment");
}

// Why a picture stream cannot become the cover of a Muxer file at all, whatever its coding:
// the muxers want its size (a picture the demuxer could not decode has none: damaged, or not
// the coding its label says), and a FLAC picture block counts its length in 24 bits.
std::string UnstorablePicture(const std::string& Muxer, const AVStream* Picture) {
    if (Picture->codecpar->width <= 0 || Picture->codecpar->height <= 0)
        return "the picture cannot be read (damaged, or not the coding it is labelled with)";
    // The block also holds the picture's type, MIME type, description and measures.
    constexpr int64_t kFlacBlockBytes = (int64_t{1} << 24) - 1, kFlacPictureFields = 256;
    if (Muxer == "flac" && Picture->attached_pic.size > kFlacBlockBytes - kFlacPictureFields)
        return Format("a FLAC file holds a picture of at most 16 MB, this one has %.1f MB",
                      Picture->attached_pic.size / 1048576.0);
    return "";
}

int DiscardBytes(void*, uint8_t*, int Size) {
    return Size;
}

}  // namespace

// The muxers of ID3 tags check a picture's coding only once it arrives (mp3 keeps no list of
// them), so a file that would fail on it is tried on nothing first.
std::string CoverPictureRefusal(const AVOutputFormat* Format, const AVStream* Picture) {
    AVFormatContext* Made = nullptr;
    if (lavf.avformat_alloc_output_context2(&Made, Format, nullptr, nullptr) < 0 || !Made)
        return ErrorText(AVERROR(ENOMEM));
    const TFormatContextPtr Trial(Made);
    constexpr int kBufferSize = 4096;
    auto* Buffer = static_cast<unsigned char*>(lavu.av_malloc(kBufferSize));
    TIOContextPtr Sink(
        Buffer ? lavf.avio_alloc_context(Buffer, kBufferSize, 1, nullptr, nullptr, DiscardBytes, nullptr)
               : nullptr);
    if (!Sink) {
        lavu.av_free(Buffer);
        return ErrorText(AVERROR(ENOMEM));
    }
    Made->pb = Sink.get();
    Made->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream* Sound = lavf.avformat_new_stream(Made, nullptr);
    AVStream* Cover = lavf.avformat_new_stream(Made, nullptr);
    if (!Sound || !Cover) return ErrorText(AVERROR(ENOMEM));
    Sound->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    Sound->codecpar->codec_id = Format->audio_codec;
    Sound->codecpar->sample_rate = 44100;
    lavu.av_channel_layout_default(&Sound->codecpar->ch_layout, 2);
    Sound->time_base = {1, 44100};
    int Result = lavc.avcodec_parameters_copy(Cover->codecpar, Picture->codecpar);
    if (Result < 0) return ErrorText(Result);
    Cover->disposition = AV_DISPOSITION_ATTACHED_PIC;
    Cover->time_base = {1, 90000};
    if ((Result = lavf.avformat_write_header(Made, nullptr)) < 0) return ErrorText(Result);
    TPacketPtr Packet = MakePacket();
    if (!Packet || lavc.av_packet_ref(Packet.get(), &Picture->attached_pic) < 0)
        return ErrorText(AVERROR(ENOMEM));
    Packet->stream_index = Cover->index;
    Packet->pts = Packet->dts = 0;
    if ((Result = lavf.av_write_frame(Made, Packet.get())) < 0) return ErrorText(Result);
    if ((Result = lavf.av_write_trailer(Made)) < 0) return ErrorText(Result);
    return "";
}

void TCustomFFmpeg::AddCoverStream(AVFormatContext* Container, int FileIndex) {
    const TCoverPlace Place = CoverPlace(Container->oformat);
    // A picture never stands in for the sound: a file that gets none gets no cover either.
    if (Place == TCoverPlace::None || Container->nb_streams == 0) return;
    const AVStream* Picture = nullptr;
    for (int F = 0; F < FInputFileCount && !Picture; ++F)
        for (unsigned I = 0; I < FInputFiles[F]->nb_streams && !Picture; ++I)
            if (IsCover(FInputFiles[F], FInputFiles[F]->streams[I])) Picture = FInputFiles[F]->streams[I];
    if (!Picture) return;
    // A picture coding the container cannot store is left out rather than failing the header.
    const AVCodecID Coding = Picture->codecpar->codec_id;
    const std::string Muxer = Container->oformat->name;
    if (const std::string Why = UnstorablePicture(Muxer, Picture); !Why.empty()) {
        Log(llWarning, Format("Cover picture left out: %s", Why.c_str()));
        return;
    }
    if (Muxer == "mp3" || Muxer == "flac") {
        // A negative answer means the muxer keeps no list and takes any picture.
        if (lavf.avformat_query_codec(Container->oformat, Coding, FF_COMPLIANCE_NORMAL) == 0) return;
        // The sound is never lost for a picture. (The FLAC muxer checks its pictures when it
        // is opened, and its header cannot be tried without the sound's own stream information.)
        if (const std::string Why = Muxer == "mp3" ? CoverPictureRefusal(Container->oformat, Picture) : "";
            !Why.empty()) {
            Log(llWarning, Format("Cover picture left out: %s cannot hold a %s picture (%s)", Muxer.c_str(),
                                  lavc.avcodec_get_name(Coding), Why.c_str()));
            return;
        }
    } else if (!IsJpegOrPng(Coding)) {
        // The mp4 muxers' tag lists leave pictures out though their covers take both codings,
        // and a Matroska attachment needs a type the players know.
        return;
    }
    if (Place == TCoverPlace::Picture) {
        FSettings.VideoStreamCopy = true;  // AddVideoStream resets it
        AddVideoStream(Container, FileIndex);
        FOutputStreams[FileIndex].back().Cover = Picture;
        return;
    }
    TOutputStreamSetup* Setup = nullptr;
    AVStream* St = NewStream(Container, FileIndex, AVMEDIA_TYPE_ATTACHMENT, nullptr, Setup);
    FOutputEncoders.push_back(nullptr);
    Setup->StreamCopy = true;
    Setup->Cover = Picture;
    FillAttachment(St, Picture);
}

}  // namespace zembra
