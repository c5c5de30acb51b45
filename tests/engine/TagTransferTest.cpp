// The source's tags reach the output when the front end maps them, wherever the source keeps
// them (container or sound stream), in either case of their names; with copy_cover its cover
// goes along in the form the output's container keeps one.

#include <gtest/gtest.h>

#include "binding/EntryPoints.h"
#include "binding/FFmpegHolders.h"
#include "engine/CoverArt.h"
#include "probe/AVProbe.h"
#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

class TagTransfer : public TranscodeTest {
  protected:
    struct TCover {
        std::string Bytes;  // "" when the file has none
        std::string FileName, MimeType;
    };

    // The file's attached picture as the libraries read it back (a Matroska attachment named
    // cover.* counts too: the demuxer gives it as one).
    static TCover CoverOf(const std::string& File) {
        TCover Cover;
        AVFormatContext* Raw = nullptr;
        if (lavf.avformat_open_input(&Raw, File.c_str(), nullptr, nullptr) < 0) {
            Cover.Bytes = "unreadable";
            return Cover;
        }
        TFormatInputPtr Ic(Raw);
        for (unsigned I = 0; I < Ic->nb_streams; ++I) {
            const AVStream* St = Ic->streams[I];
            if (!(St->disposition & AV_DISPOSITION_ATTACHED_PIC) || !St->attached_pic.data) continue;
            Cover.Bytes.assign(reinterpret_cast<const char*>(St->attached_pic.data),
                               static_cast<size_t>(St->attached_pic.size));
            if (const AVDictionaryEntry* E = lavu.av_dict_get(St->metadata, "filename", nullptr, 0))
                Cover.FileName = E->value;
            if (const AVDictionaryEntry* E = lavu.av_dict_get(St->metadata, "mimetype", nullptr, 0))
                Cover.MimeType = E->value;
        }
        return Cover;
    }

    // A short song of the given coding, nothing else yet.
    testmedia::TClipSpec Song(const char* Name, const char* Container, const char* Encoder) const {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        Spec.Container = Container;
        testmedia::TAudioSpec Audio;
        Audio.Encoder = Encoder;
        Audio.Duration = kSongSeconds;
        Spec.Audios = {Audio};
        return Spec;
    }

    static constexpr double kSongSeconds = 0.3;

    // The video streams the probe counts that a player would play: every one but a picture.
    static int FilmStreams(const std::string& File) {
        TAVProbe Probe;
        if (!Probe.LoadFile(W(File))) return -1;
        int Films = Probe.VideoStreamCount();
        for (int I = 0; I < Probe.StreamCount(); ++I) {
            const AVStream* St = Probe.Context()->streams[I];
            if (St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                (St->disposition & AV_DISPOSITION_ATTACHED_PIC))
                --Films;
        }
        return Films;
    }
};

TEST_F(TagTransfer, TaggedSourcesIntoMp3KeepTheirTags) {
    struct TCase {
        const char* Source;
        const char* Container;
        const char* Encoder;
        const char* Lines;
        bool Kept;
    };
    const TCase Cases[] = {
        {"song.flac", "flac", "flac", "map_meta_data=0:0", true},
        {"song.ogg", "ogg", "libvorbis", "map_meta_data=0:0", true},
        {"song.mka", "matroska", "flac", "map_meta_data=0:0", true},
        // Without the map the engine adds nothing of the source's.
        {"plain.ogg", "ogg", "libvorbis", "", false},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Source);
        testmedia::TClipSpec Spec = Song(C.Source, C.Container, C.Encoder);
        Spec.Metadata = {{"TITLE", "A title"},
                         {"Artist", "Someone"},
                         {"album", "An album"},
                         {"DATE", "2009"},
                         {"TRACKNUMBER", "7"}};
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        const std::string Out = Path(std::string(C.Source) + ".mp3");
        ASSERT_EQ(Convert({Spec.Path}, Out, "", C.Lines), "");
        const testmedia::TClipFacts F = Facts(Out);
        EXPECT_EQ(F.Tag("title"), C.Kept ? "A title" : "");
        EXPECT_EQ(F.Tag("artist"), C.Kept ? "Someone" : "");
        EXPECT_EQ(F.Tag("album"), C.Kept ? "An album" : "");
        EXPECT_EQ(F.Tag("date"), C.Kept ? "2009" : "");
        EXPECT_EQ(F.Tag("track"), C.Kept ? "7" : "");
        // What describes the source's stream is no tag of the song.
        EXPECT_EQ(F.Tag("language"), "");
    }
}

TEST_F(TagTransfer, CopyCoverCarriesTheSourcePictureWhereTheContainerHoldsOne) {
    struct TSource {
        const char* Name;
        const char* Container;  // "" guessed from the name
        const char* Audio;
        const char* Picture;
        const char* AttachmentName;  // Matroska only; "" the generator's cover.*
        bool IsCover;
    };
    const TSource Sources[] = {
        {"id3.mp3", "", "libmp3lame", "mjpeg", "", true},
        {"block.flac", "", "flac", "mjpeg", "", true},
        {"covr.m4a", "", "aac", "png", "", true},
        {"attached.mkv", "matroska", "flac", "mjpeg", "", true},
        {"attached_png.mka", "matroska", "aac", "png", "", true},
        // Matroska names its cover: another picture is no cover.
        {"booklet.mkv", "matroska", "flac", "mjpeg", "back.jpg", false},
    };
    struct TOutput {
        const char* Suffix;
        const char* Lines;
        bool Holds;  // a container with a cover, asked to copy it
    };
    const TOutput Outputs[] = {
        {"mp3", "copy_cover=1", true},
        {"flac", "copy_cover=1", true},
        {"m4a", "copy_cover=1", true},
        {"mp4", "copy_cover=1", true},
        {"mkv", "copy_cover=1", true},
        {"mka", "copy_cover=1", true},
        // Off by default.
        {"m4a", "", false},
        {"mkv", "", false},
        // No place for a picture: the sound alone.
        {"wav", "copy_cover=1", false},
        {"ogg", "copy_cover=1", false},
        {"webm", "copy_cover=1", false},
    };
    for (const TSource& Source : Sources) {
        SCOPED_TRACE(Source.Name);
        testmedia::TClipSpec Spec = Song(Source.Name, Source.Container, Source.Audio);
        testmedia::TVideoSpec Picture;
        Picture.Encoder = Source.Picture;
        Picture.FrameCount = 1;
        Picture.AttachedPicture = true;
        Picture.AttachmentName = Source.AttachmentName;
        Spec.Videos = {Picture};
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        const TCover Original = CoverOf(Spec.Path);
        ASSERT_FALSE(Original.Bytes.empty());
        ASSERT_EQ(FilmStreams(Spec.Path), 0);

        for (size_t N = 0; N < std::size(Outputs); ++N) {
            const TOutput& C = Outputs[N];
            const std::string Out = Path(Format("%s.%zu.%s", Source.Name, N, C.Suffix));
            SCOPED_TRACE(Out);
            ASSERT_EQ(Convert({Spec.Path}, Out, "", C.Lines), "");
            const bool Kept = C.Holds && Source.IsCover;
            const TCover Copy = CoverOf(Out);
            EXPECT_EQ(Copy.Bytes, Kept ? Original.Bytes : "");
            EXPECT_EQ(FilmStreams(Out), 0);
            const std::string Suffix = C.Suffix;
            if (Kept && (Suffix == "mkv" || Suffix == "mka")) {
                // The attachment is named and typed after its coding, whatever the source called it.
                const bool Png = std::string(Source.Picture) == "png";
                EXPECT_EQ(Copy.FileName, Png ? "cover.png" : "cover.jpg");
                EXPECT_EQ(Copy.MimeType, Png ? "image/png" : "image/jpeg");
            }
            const testmedia::TClipFacts F = Facts(Out);
            int Sounds = 0;
            for (const testmedia::TStreamFacts& St : F.Streams) {
                if (St.Type != AVMEDIA_TYPE_AUDIO) continue;
                ++Sounds;
                EXPECT_NEAR(St.EndTime, kSongSeconds, 0.1);
            }
            EXPECT_EQ(Sounds, 1);
        }
    }
}

// A cover that cannot be read (a damaged PNG, random bytes labelled JPEG, larger than a FLAC
// picture block holds) costs the output its cover, never its sound.
TEST_F(TagTransfer, AnUnreadableCoverIsLeftOutAndTheSoundConverts) {
    std::string Random(17 << 20, '\0');
    uint32_t State = 12345;
    for (char& C : Random) C = static_cast<char>((State = State * 1664525u + 1013904223u) >> 24);
    const struct {
        const char* Name;
        const char* Picture;  // the encoder whose coding the picture is labelled with
        std::string Bytes;
    } Sources[] = {
        {"broken-png.mp3", "png", std::string("\x89PNG\r\n\x1a\n", 8) + "not a picture at all"},
        {"random-jpeg.mp3", "mjpeg", Random},
    };
    for (const auto& Source : Sources) {
        SCOPED_TRACE(Source.Name);
        testmedia::TClipSpec Spec = Song(Source.Name, "mp3", "libmp3lame");
        Spec.Videos = {{.Encoder = Source.Picture,
                        .FrameCount = 1,
                        .AttachedPicture = true,
                        .PictureBytes = Source.Bytes}};
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        for (const char* Suffix : {"m4a", "flac", "mp3"}) {
            const std::string Out = Path(std::string(Source.Name) + "." + Suffix);
            SCOPED_TRACE(Out);
            ASSERT_EQ(Convert({Spec.Path}, Out, "", "copy_cover=1"), "");
            EXPECT_TRUE(Result.Finished) << Result.Message;
            EXPECT_EQ(CoverOf(Out).Bytes, "");
            const testmedia::TClipFacts F = Facts(Out);
            ASSERT_EQ(F.Streams.size(), 1u);
            EXPECT_EQ(F.Streams[0].Type, AVMEDIA_TYPE_AUDIO);
            EXPECT_NEAR(F.Streams[0].EndTime, kSongSeconds, 0.1);
        }
    }
}

// A picture the mp3 muxer cannot write as an ID3 picture would fail the whole file at its
// header: it is found out on nothing first, and left out with the sound kept.
TEST_F(TagTransfer, APictureTheMp3MuxerRefusesIsFoundBeforeTheFile) {
    const TFormatContextPtr Source(lavf.avformat_alloc_context());
    ASSERT_TRUE(Source);
    AVStream* Picture = lavf.avformat_new_stream(Source.get(), nullptr);
    ASSERT_NE(Picture, nullptr);
    Picture->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    Picture->codecpar->width = Picture->codecpar->height = 16;
    Picture->disposition = AV_DISPOSITION_ATTACHED_PIC;
    ASSERT_EQ(lavc.av_new_packet(&Picture->attached_pic, 64), 0);
    const AVOutputFormat* Mp3 = lavf.av_guess_format("mp3", nullptr, nullptr);
    ASSERT_NE(Mp3, nullptr);
    const struct {
        AVCodecID Coding;
        bool Written;
    } Cases[] = {
        {AV_CODEC_ID_MJPEG, true},  {AV_CODEC_ID_PNG, true},   {AV_CODEC_ID_BMP, true},
        {AV_CODEC_ID_TARGA, false}, {AV_CODEC_ID_H264, false}, {AV_CODEC_ID_NONE, false},
    };
    for (const auto& C : Cases) {
        Picture->codecpar->codec_id = C.Coding;
        const std::string Refusal = CoverPictureRefusal(Mp3, Picture);
        EXPECT_EQ(Refusal.empty(), C.Written) << lavc.avcodec_get_name(C.Coding) << ": " << Refusal;
    }
}

}  // namespace
}  // namespace zembra::testing
