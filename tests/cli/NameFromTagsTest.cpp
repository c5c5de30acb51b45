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

// Tags as old taggers wrote them: Latin-1 (as ID3v2.3 allows), Shift-JIS bytes, line feeds.
// Whatever the charset, a name is UTF-8 without a control character: standard output lists
// one output a line.
TEST_F(CliNames, OddTagsGiveReadableNamesOneALine) {
    fs::create_directories(Path("album"));
    Flac("latin1.flac", {{"title", "Caf\xe9"}});
    Flac("sjis.flac", {{"title", "\x93\xfa\x96\x7b"}});  // two letters of Shift-JIS
    Flac("lines.flac", {{"title", "Line\nTwo\r"}, {"album", "A\tB"}});
    for (const char* Charset : {"portable", "posix"}) {
        SCOPED_TRACE(Charset);
        fs::remove_all(Path("out"));
        fs::create_directories(Path("out"));
        const TResult R = RunCli({"-j", "1", "--name", "{album}/{title}", "--name-charset", Charset, "-o",
                                  Path("out"), Path("album")});
        ASSERT_EQ(R.Status, 0) << R.Err;
        std::vector<std::string> Names;
        for (const auto& [Name, Size] : Tree()) Names.push_back(Name);
        // The Shift-JIS bytes read as Latin-1 hold two C1 control characters.
        EXPECT_EQ(Names, (std::vector<std::string>{"A_B/Line_Two_.mp3", "Unknown Album/Caf\xc3\xa9.mp3",
                                                   "Unknown Album/_\xc3\xba_{.mp3"}));
        std::vector<std::string> Printed = Lines(R.Out);
        std::sort(Printed.begin(), Printed.end());
        ASSERT_EQ(Printed.size(), 3u) << R.Out;
        for (size_t I = 0; I < Printed.size(); ++I) EXPECT_EQ(Printed[I], Path("out/" + Names[I]));
    }
}

}  // namespace
}  // namespace zembra::testing
