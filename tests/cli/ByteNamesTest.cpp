// zembra-cli on files whose names are bytes that are not UTF-8, as a user runs it: they convert
// like any other file, their outputs keep those bytes, and what it tells people can be read.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/support/RunProgram.h"
#include "tests/support/ScratchFolder.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kStray = "\xff\xfe";          // no UTF-8 text holds these bytes
const std::string kLatin1Folder = "\xe9t\xe9";  // "été" in Latin-1

class CliByteNames : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        ASSERT_FALSE(Dir.Path().empty());
    }
    std::string Path(const std::string& Name) const { return Dir.Path() + "/" + Name; }
    std::string Clip(const std::string& Name) {
        const std::string Out = Path(Name);
        EXPECT_EQ(testmedia::WriteClip(testmedia::SampleClip(testmedia::TSampleKind::Avi, Out)), "");
        return Out;
    }
    // The names below Folder, relative to it, as their bytes.
    static std::set<std::string> Tree(const std::string& Folder) {
        std::set<std::string> Names;
        // The outputs' record aside: it lists the names, bytes as they are.
        for (const auto& Entry : fs::recursive_directory_iterator(Folder))
            if (Entry.path().filename() != ".zembra-outputs")
                Names.insert(fs::relative(Entry.path(), Folder).string());
        return Names;
    }
    // An mp3 file whose sound decodes.
    static void ExpectSound(const std::string& File) {
        testmedia::TClipFacts Facts;
        ASSERT_EQ(testmedia::InspectClip(File, Facts), "") << ReadableText(File);
        ASSERT_EQ(Facts.Streams.size(), 1u) << ReadableText(File);
        EXPECT_EQ(Facts.Streams[0].CodecId, AV_CODEC_ID_MP3);
        testmedia::TDecodedAudio Audio;
        ASSERT_EQ(testmedia::DecodeAudio(File, 0, Audio), "") << ReadableText(File);
        ASSERT_FALSE(Audio.Channels.empty());
        EXPECT_GT(Audio.Channels[0].size(), 22050u) << ReadableText(File);  // of one second
    }
    // Printed for people: well-formed UTF-8.
    static void ExpectReadable(const std::string& Text) { EXPECT_EQ(ReadableText(Text), Text) << Text; }

    TScratchFolder Dir{"zembra-bytes"};
};

TEST_F(CliByteNames, AFileGivenByNameConvertsBesideItselfUnderItsBytes) {
    const std::string Input = Clip(kStray + ".avi");
    const std::string Missing = Path("\xfe missing.avi");
    // In the C locale every name beyond ASCII is foreign to the libraries' 8-bit text.
    const TProgramResult R = RunProgram(ZEMBRA_CLI, {Input, Missing}, 40s, {true, {}});
    EXPECT_EQ(R.Status, 1) << R.Err;  // for the missing file alone
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path(kStray + "_(new).mp3")});
    EXPECT_EQ(Tree(Dir.Path()), (std::set<std::string>{kStray + ".avi", kStray + "_(new).mp3"}));
    ExpectSound(Path(kStray + "_(new).mp3"));
    EXPECT_NE(R.Err.find("/\\xFE missing.avi: no such file or directory"), std::string::npos) << R.Err;
    ExpectReadable(R.Err);

    const TProgramResult Info = RunProgram(ZEMBRA_CLI, {"--info", Input}, 40s);
    EXPECT_EQ(Info.Status, 0) << Info.Err;
    EXPECT_NE(Info.Out.find("/\\xFF\\xFE.avi"), std::string::npos) << Info.Out;
    ExpectReadable(Info.Out);
}

TEST_F(CliByteNames, AFileFoundByAFolderWalkConvertsIntoTheMirrorUnderItsBytes) {
    fs::create_directories(Path("lib/" + kLatin1Folder));
    fs::create_directories(Path("out"));
    Clip("lib/" + kLatin1Folder + "/" + kStray + ".avi");
    const TProgramResult R = RunProgram(ZEMBRA_CLI, {"--reencode", "-o", Path("out"), Path("lib")}, 40s);
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::string Output = kLatin1Folder + "/" + kStray + "_(new).mp3";
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("out/" + Output)});
    EXPECT_EQ(Tree(Path("out")), (std::set<std::string>{kLatin1Folder, Output}));
    ExpectSound(Path("out/" + Output));
    ExpectReadable(R.Err);
}

}  // namespace
}  // namespace zembra::testing
