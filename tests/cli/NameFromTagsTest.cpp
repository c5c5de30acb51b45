// zembra-cli --name on a small tagged album, as a user converts a library.

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;

class CliNames : public Cli {
  protected:
    void Flac(const std::string& Name, const testmedia::TOptions& Tags) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path("album/" + Name);
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "flac";
        Audio.SampleRate = 22050;
        Audio.Duration = 0.3;
        Spec.Audios.push_back(Audio);
        Spec.Metadata = Tags;
        EXPECT_EQ(testmedia::WriteClip(Spec), "") << Name;
    }
    // The files below out/, relative, with their sizes; the program's hidden files left out.
    std::map<std::string, uintmax_t> Tree() const {
        std::map<std::string, uintmax_t> Files;
        for (const auto& E : fs::recursive_directory_iterator(Path("out")))
            if (E.is_regular_file() && E.path().filename().string()[0] != '.')
                Files[fs::relative(E.path(), Path("out")).string()] = E.file_size();
        return Files;
    }
};

TEST_F(CliNames, ATaggedAlbumBecomesItsTreeAndASecondRunSkipsIt) {
    fs::create_directories(Path("album"));
    fs::create_directories(Path("out"));
    Flac("01.flac", {{"album_artist", "Band"},
                     {"artist", "Band"},
                     {"album", "First"},
                     {"title", "Intro"},
                     {"track", "1/3"}});
    Flac("02.flac", {{"album_artist", "Band"},
                     {"artist", "Guest"},
                     {"album", "First"},
                     {"title", "AC/DC?"},
                     {"track", "2/3"}});
    Flac("03.flac", {{"album_artist", "Band"}, {"album", "First"}, {"track", "3"}});
    // Tagged as the first track: its name is taken, so it is numbered, never written over it.
    Flac("04.flac", {{"album_artist", "Band"}, {"album", "First"}, {"title", "Intro"}, {"track", "1"}});
    Flac("05.flac", {});
    const std::vector<std::string> Args = {
        "-j", "1", "--name", "{albumartist}/{album}/{track:02} {title}", "-o", Path("out"), Path("album")};

    TResult R = RunCli(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::map<std::string, uintmax_t> First = Tree();
    std::vector<std::string> Names;
    for (const auto& [Name, Size] : First) {
        Names.push_back(Name);
        EXPECT_GT(Size, 0u) << Name;
    }
    EXPECT_EQ(Names, (std::vector<std::string>{"Band/First/01 Intro (1).mp3", "Band/First/01 Intro.mp3",
                                               "Band/First/02 AC-DC_.mp3", "Band/First/03 03.mp3",
                                               "Unknown Artist/Unknown Album/05.mp3"}));
    std::vector<std::string> Printed = Lines(R.Out);
    std::sort(Printed.begin(), Printed.end());
    std::vector<std::string> Want;
    for (const std::string& Name : Names) Want.push_back(Path("out/" + Name));
    EXPECT_EQ(Printed, Want);
    // The first file's output is the first file's, not the fourth's that came later.
    const testmedia::TClipFacts Intro = Inspect(Path("out/Band/First/01 Intro.mp3"));
    EXPECT_EQ(Intro.Tag("artist"), "Band");
    ExpectMp3(Path("out/Band/First/02 AC-DC_.mp3"));

    R = RunCli([&] {
        std::vector<std::string> Again = Args;
        Again.insert(Again.begin(), "--skip-existing");
        return Again;
    }());
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "");
    EXPECT_NE(R.Err.find("\n0 finished, 0 failed, 5 skipped\n"), std::string::npos) << R.Err;
    EXPECT_EQ(Tree(), First);
}

}  // namespace
}  // namespace zembra::testing
