// The window's albums over a real run of the component, in the calling thread: an album whose
// files all finished gets one gain in every file, a file taken off the list leaves its album,
// and an album with a file that could not be measured gets none and is reported.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/AlbumGain.h"
#include "app/TaskAdding.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "probe/SourceTags.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using TTags = std::map<std::string, std::string>;

TTags TagsOf(const std::u16string& File) {
    TAVProbe Probe;
    EXPECT_TRUE(Probe.LoadFile(File)) << Utf16ToUtf8(File);
    return SourceTagsOf(Probe);
}

TEST(AlbumGainTest, TheWindowsAlbumsAreTheFilesAddedTogether) {
    char Pattern[] = "/tmp/zembra-albums-XXXXXX";
    ASSERT_NE(::mkdtemp(Pattern), nullptr);
    const std::string Dir = Pattern;
    TRUvivoVOV Component;
    ASSERT_TRUE(Component.LoadLibraries(DefaultLibraryFolder())) << Component.LastError();

    TConversionRequest Request;
    Request.ReplayGain = TReplayGainMode::Album;
    Request.OutputFolder = Utf8ToUtf16(Dir + "/");
    TTaskAlbums Albums;
    std::map<std::string, std::u16string> Outputs;
    std::map<std::string, TTaskId> Ids;
    // A second of music at Level, all of one album by its tags: only the adding groups them.
    auto Add = [&](const std::string& Name, float Level) {
        testmedia::TClipSpec Spec;
        Spec.Path = Dir + "/" + Name + ".flac";
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "flac";
        Audio.Duration = 1.0;
        Audio.Music = true;
        Audio.Level = Level;
        Spec.Audios.push_back(Audio);
        Spec.Metadata = {{"album", "Same"}};
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        TAVProbe& Probe = Component.Probe();
        ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Spec.Path)));
        const TSourceInfo Source = SourceInfoOf(Probe);
        Probe.Close();
        const TAddedTask Added = AddConversionTask(Component, Request, Source, {});
        ASSERT_EQ(Added.Failure, TAddFailure::None) << Added.Error;
        Albums.Join(Added.Id, Added.Records.Out.FileName, Source.Tags);
        Outputs[Name] = Added.Records.Out.FileName;
        Ids[Name] = Added.Id;
    };
    Albums.BeginAlbum();
    Add("loud", 1.0f);
    Add("soft", 0.25f);
    Albums.BeginAlbum();
    Add("alone", 0.5f);
    Add("removed", 1.0f);
    Albums.BeginAlbum();
    Add("music", 1.0f);
    Add("silence", 0.0f);
    Component.DeleteTask(Component.IndexOfTask(Ids["removed"]));
    Component.StartTasks(0);  // in this thread, until all have ended

    std::vector<std::string> Reports;
    Albums.RunEnded(Component, [&](const std::string& Name, const std::string& Problem) {
        Reports.push_back(Name + ": " + Problem);
    });
    EXPECT_EQ(
        Reports,
        (std::vector<std::string>{"album 'Same': no album gain: 1 of its 2 files converted and measured"}));
    EXPECT_TRUE(Albums.Empty());

    std::map<std::string, TTags> Tags;
    for (const char* Name : {"loud", "soft", "alone", "music", "silence"}) Tags[Name] = TagsOf(Outputs[Name]);
    // One gain over both files, between their own and nearer the louder's.
    ASSERT_EQ(Tags["loud"].count("replaygain_album_gain"), 1u);
    EXPECT_EQ(Tags["soft"]["replaygain_album_gain"], Tags["loud"]["replaygain_album_gain"]);
    EXPECT_EQ(Tags["soft"]["replaygain_album_peak"], Tags["loud"]["replaygain_track_peak"]);
    EXPECT_NE(Tags["loud"]["replaygain_album_gain"], Tags["loud"]["replaygain_track_gain"]);
    // Left alone by the removal, a file is its album.
    EXPECT_EQ(Tags["alone"]["replaygain_album_gain"], Tags["alone"]["replaygain_track_gain"]);
    EXPECT_EQ(Tags["music"].count("replaygain_album_gain"), 0u);
    EXPECT_EQ(Tags["music"].count("replaygain_track_gain"), 1u);

    // The next run's albums are its own: nothing of this one is reported again.
    Reports.clear();
    Albums.RunEnded(Component, [&](const std::string& Name, const std::string& Problem) {
        Reports.push_back(Name + ": " + Problem);
    });
    EXPECT_TRUE(Reports.empty());
    Component.ClearTasks();
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);
}

}  // namespace
}  // namespace zembra
