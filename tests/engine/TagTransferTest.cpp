// The source's tags reach the output when the front end maps them, wherever the source keeps
// them (container or sound stream), in either case of their names.

#include <gtest/gtest.h>

#include "binding/EntryPoints.h"
#include "binding/FFmpegHolders.h"
#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

class TagTransfer : public TranscodeTest {
  protected:
    // The bytes of the file's attached picture, "" when it has none; the number of its video
    // streams in VideoStreams.
    static std::string CoverBytes(const std::string& File, int& VideoStreams) {
        VideoStreams = 0;
        AVFormatContext* Raw = nullptr;
        if (lavf.avformat_open_input(&Raw, File.c_str(), nullptr, nullptr) < 0) return "unreadable";
        TFormatInputPtr Ic(Raw);
        std::string Bytes;
        for (unsigned I = 0; I < Ic->nb_streams; ++I) {
            const AVStream* St = Ic->streams[I];
            if (St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            ++VideoStreams;
            if ((St->disposition & AV_DISPOSITION_ATTACHED_PIC) && St->attached_pic.data)
                Bytes.assign(reinterpret_cast<const char*>(St->attached_pic.data),
                             static_cast<size_t>(St->attached_pic.size));
        }
        return Bytes;
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
        testmedia::TClipSpec Spec;
        Spec.Path = Path(C.Source);
        Spec.Container = C.Container;
        testmedia::TAudioSpec Audio;
        Audio.Encoder = C.Encoder;
        Audio.Duration = 0.3;
        Spec.Audios = {Audio};
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
    testmedia::TClipSpec Spec;
    Spec.Path = Path("covered.mp3");
    testmedia::TVideoSpec Picture;
    Picture.Encoder = "mjpeg";
    Picture.FrameCount = 1;
    Picture.AttachedPicture = true;
    Spec.Videos = {Picture};
    testmedia::TAudioSpec Audio;
    Audio.Encoder = "libmp3lame";
    Audio.Duration = 0.3;
    Spec.Audios = {Audio};
    Spec.Metadata = {{"title", "Covered"}};
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    int SourceVideos = 0;
    const std::string Cover = CoverBytes(Spec.Path, SourceVideos);
    ASSERT_FALSE(Cover.empty());

    struct TCase {
        const char* Output;
        const char* Lines;
        bool Kept;
    };
    const TCase Cases[] = {
        {"copy.mp3", "copy_cover=1", true},
        {"copy.flac", "copy_cover=1", true},
        {"copy.mkv", "copy_cover=1", false},  // this Matroska muxer would make it a film
        {"copy.m4a", "copy_cover=1", false},  // the iPod container takes no JPEG: the sound alone
        {"plain.m4a", "", false},
        {"none.mp3", "", false},
        // // off by default
        {"copy.wav", "copy_cover=1", false},  // no place for it: the sound alone
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Output);
        const std::string Out = Path(C.Output);
        ASSERT_EQ(Convert({Spec.Path}, Out, "", C.Lines), "");
        int Videos = 0;
        EXPECT_EQ(CoverBytes(Out, Videos), C.Kept ? Cover : "");
        EXPECT_EQ(Videos, C.Kept ? 1 : 0);
        const testmedia::TClipFacts F = Facts(Out);
        for (const testmedia::TStreamFacts& St : F.Streams) {
            if (St.Type == AVMEDIA_TYPE_AUDIO) {
                EXPECT_NEAR(St.EndTime, 0.3, 0.1);
            }
        }
    }
}

}  // namespace
}  // namespace zembra::testing
