// The bash completion of zembra-cli: options (every one the built program's --help names),
// formats after -f, levels after --log-level, folders after -o, nothing after options that take
// a number, files everywhere else and after "--".

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/install/CliHelpOptions.h"
#include "tests/install/InstalledTree.h"

namespace zembra::testing {
namespace {

// COMPREPLY for the command line Words, the last one being the word under the cursor.
std::set<std::string> Complete(const std::vector<std::string>& Words) {
    std::vector<std::string> Command = {
        "bash",
        "--noprofile",
        "--norc",
        "-c",
        "source \"$0\" && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)) && { _zembra_cli; true; } && "
        "printf '%s\\n' \"${COMPREPLY[@]}\"",
        ZEMBRA_SOURCE_DIR "/data/completion/zembra-cli"};
    Command.insert(Command.end(), Words.begin(), Words.end());
    const TProgramResult R = RunTool(Command);
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Err, "");
    const std::vector<std::string> Reply = Lines(R.Out);
    return {Reply.begin(), Reply.end()};
}

struct TCase {
    std::vector<std::string> Words;  // after the program; "@" stands for the test's folder
    std::set<std::string> Expected;  // the whole reply, with "@" as above
};

TEST(Completion, OffersOptionsValuesAndFilesWhereEachBelongs) {
    TTempFolder Folder("zembra-completion");
    ASSERT_FALSE(Folder.Path().empty());
    std::ofstream(Folder.Path() / "song.mp3") << "x";
    std::ofstream(Folder.Path() / "sound.wav") << "x";
    std::filesystem::create_directory(Folder.Path() / "sub");
    const std::string At = Folder.Path().string();
    auto Expand = [&](std::string Text) {
        for (size_t P = Text.find('@'); P != std::string::npos; P = Text.find('@', P + At.size()))
            Text.replace(P, 1, At);
        return Text;
    };

    const TCase kCases[] = {
        {{"-f", "fl"}, {"flac", "flv"}},
        {{"--format", "=", "a"}, {"aac", "ac3", "au", "avi"}},
        {{"--log-level", "w"}, {"warning"}},
        {{"-o", "@/s"}, {"@/sub"}},
        {{"@/so"}, {"@/song.mp3", "@/sound.wav"}},
        {{"@/s"}, {"@/song.mp3", "@/sound.wav", "@/sub"}},
        {{"--overwrite", "@/song"}, {"@/song.mp3"}},
        {{"-q", "--rate", ""}, {}},
        {{"-j", "@/s"}, {}},
        {{"--", "--"}, {}},
        {{"--qui"}, {"--quiet"}},
        {{"--output-option", "vfil"}, {"vfilters="}},
        {{"--input-option", "=", "itsof"}, {"itsoffset="}},
        {{"--name", "{albumartist}/{al"}, {"{albumartist}/{album}", "{albumartist}/{albumartist}"}},
        {{"--name", "{d"}, {"{date}", "{disc}"}},
        {{"--name-charset", "p"}, {"portable", "posix"}},
        {{"--replaygain", ""}, {"track", "album"}},
    };
    for (const TCase& C : kCases) {
        std::vector<std::string> Words = {ZEMBRA_CLI};
        std::string Shown;
        for (const std::string& W : C.Words) {
            Words.push_back(Expand(W));
            Shown += " " + W;
        }
        std::set<std::string> Expected;
        for (const std::string& E : C.Expected) Expected.insert(Expand(E));
        EXPECT_EQ(Complete(Words), Expected) << "zembra-cli" << Shown;
    }

    const TProgramResult Help = RunProgram(ZEMBRA_CLI, {"--help"}, std::chrono::seconds(20));
    ASSERT_EQ(Help.Status, 0) << Help.Err;
    std::set<std::string> Options = CliHelpOptions(Help.Out);
    ASSERT_GE(Options.size(), 10u) << Help.Out;
    Options.insert("--");
    EXPECT_EQ(Complete({ZEMBRA_CLI, "-"}), Options);
}

}  // namespace
}  // namespace zembra::testing
