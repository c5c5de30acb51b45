// The source's tags reach the output when the front end maps them, wherever the source keeps
// them (container or sound stream), in either case of their names.

#include <gtest/gtest.h>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

class TagTransfer : public TranscodeTest {};

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

}  // namespace
}  // namespace zembra::testing
