// zembra-cli as a user runs it: the built program on generated clips in a temporary folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/support/RunProgram.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using TResult = TProgramResult;

// Runs zembra-cli with a time limit. While it runs, Watch is called with what it printed so
// far and may act on the process (send it a signal, say).
TResult RunCli(const std::vector<std::string>& Arguments, std::chrono::seconds Limit = 40s,
               const std::function<void(pid_t, const TResult&)>& Watch = {}) {
    return RunProgram(ZEMBRA_CLI, Arguments, Limit, {false, Watch});
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        char Pattern[] = "/tmp/zembra-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
    }
    void TearDown() override {
        std::error_code Ec;
        fs::remove_all(Dir, Ec);
    }
    std::string Path(const std::string& Name) const { return Dir + "/" + Name; }

    std::string Sample(testmedia::TSampleKind Kind, const std::string& Name) {
        const std::string Out = Path(Name);
        EXPECT_EQ(testmedia::WriteClip(testmedia::SampleClip(Kind, Out)), "");
        return Out;
    }
    std::string Wav(const std::string& Name, double Seconds) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "pcm_s16le";
        Audio.SampleRate = 22050;
        Audio.Channels = 2;
        Audio.Duration = Seconds;
        Spec.Audios.push_back(Audio);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }
    static testmedia::TClipFacts Inspect(const std::string& File) {
        testmedia::TClipFacts Facts;
        const std::string Error = testmedia::InspectClip(File, Facts);
        EXPECT_EQ(Error, "") << File;
        return Facts;
    }
    // An mp3 file with one audio stream.
    static void ExpectMp3(const std::string& File) {
        const testmedia::TClipFacts F = Inspect(File);
        ASSERT_EQ(F.Streams.size(), 1u) << File;
        EXPECT_EQ(F.Streams[0].CodecId, AV_CODEC_ID_MP3) << File;
        EXPECT_GT(F.Streams[0].PacketCount, 0) << File;
    }

    std::string Dir;
};

TEST_F(Cli, ABatchOfSeveralFormatsWithTwoTasksAtOnce) {
    using testmedia::TSampleKind;
    const std::vector<std::string> Inputs = {
        Sample(TSampleKind::Avi, "a.avi"), Sample(TSampleKind::Mp4, "b.mp4"),
        Sample(TSampleKind::Mkv, "c.mkv"), Sample(TSampleKind::Ogg, "d.ogg"),
        Sample(TSampleKind::Wav, "e.wav"), Sample(TSampleKind::Flac, "f.flac"),
    };
    std::vector<std::string> Args = {"-j", "2"};
    Args.insert(Args.end(), Inputs.begin(), Inputs.end());
    const TResult R = RunCli(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::vector<std::string> Printed = Lines(R.Out);
    ASSERT_EQ(Printed.size(), Inputs.size()) << R.Out;
    for (const std::string& In : Inputs) {
        const std::string Expected = fs::path(In).replace_extension().string() + "_(new).mp3";
        EXPECT_NE(std::find(Printed.begin(), Printed.end(), Expected), Printed.end()) << Expected;
        ExpectMp3(Expected);
    }
}

TEST_F(Cli, SequentialRunInTheMainThread) {
    const std::string A = Wav("one.wav", 0.5), B = Wav("two.wav", 0.5);
    const TResult R = RunCli({"-j", "0", "--rate", "8000", "--channels", "1", A, B});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), (std::vector<std::string>{Path("one_(new).mp3"), Path("two_(new).mp3")}));
    const testmedia::TClipFacts F = Inspect(Path("two_(new).mp3"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].SampleRate, 8000);
    EXPECT_EQ(F.Streams[0].Channels, 1);
}

TEST_F(Cli, AnExistingOutputGetsANumberedNameAndOverwriteReplacesIt) {
    const std::string In = Wav("clip.wav", 0.4);
    std::ofstream(Path("clip_(new).mp3")) << "keep me";
    TResult R = RunCli({In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("clip_(new_1).mp3")});
    ExpectMp3(Path("clip_(new_1).mp3"));
    EXPECT_EQ(fs::file_size(Path("clip_(new).mp3")), 7u);

    R = RunCli({"--overwrite", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("clip_(new).mp3")});
    ExpectMp3(Path("clip_(new).mp3"));
    EXPECT_FALSE(fs::exists(Path("clip_(new_2).mp3")));
}

TEST_F(Cli, OneSourceGivenTwiceGetsTwoOutputsEvenWhenOverwriting) {
    const std::string In = Wav("twice.wav", 0.3);
    const TResult R = RunCli({"--overwrite", "-j", "2", In, In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const auto Printed = Lines(R.Out);
    ASSERT_EQ(Printed.size(), 2u);
    EXPECT_NE(Printed[0], Printed[1]);
    ExpectMp3(Printed[0]);
    ExpectMp3(Printed[1]);
}

// The output one task would take is another task's input: overwriting may not empty it before
// that task has read it.
TEST_F(Cli, AnOutputNeverTakesTheNameOfAnotherInput) {
    const std::string In = Wav("song.wav", 0.4);
    ASSERT_EQ(RunCli({In}).Status, 0);
    const std::string Earlier = Path("song_(new).mp3");
    const auto Size = fs::file_size(Earlier);
    ASSERT_GT(Size, 1000u);
    const TResult R = RunCli({"--overwrite", Earlier, In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    std::vector<std::string> Printed = Lines(R.Out);
    std::sort(Printed.begin(), Printed.end());  // each task prints when it ends
    EXPECT_EQ(Printed, (std::vector<std::string>{Path("song_(new)_(new).mp3"), Path("song_(new_1).mp3")}));
    EXPECT_EQ(fs::file_size(Earlier), Size);
    ExpectMp3(Path("song_(new)_(new).mp3"));
    EXPECT_NEAR(static_cast<double>(fs::file_size(Path("song_(new)_(new).mp3"))), static_cast<double>(Size),
                Size * 0.2);
}

TEST_F(Cli, AnUnreadableFileFailsAloneWithExitStatus1) {
    const std::string Good = Wav("good.wav", 0.4);
    {
        std::mt19937 Rng(7);
        std::ofstream Bad(Path("bad.avi"), std::ios::binary);
        for (int I = 0; I < 20000; ++I) Bad.put(static_cast<char>(Rng() & 0xFF));
    }
    const TResult R = RunCli({"-j", "2", Path("bad.avi"), Good, Path("missing.wav")});
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("good_(new).mp3")});
    ExpectMp3(Path("good_(new).mp3"));
    EXPECT_NE(R.Err.find(Path("bad.avi") + ": "), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find(Path("missing.wav") + ": "), std::string::npos) << R.Err;
    EXPECT_FALSE(fs::exists(Path("bad_(new).mp3")));
    EXPECT_FALSE(fs::exists(Path("missing_(new).mp3")));
}

TEST_F(Cli, InfoPrintsEachFileAndConvertsNothing) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi, "a.avi");
    const std::string Wave = Wav("w.wav", 0.3);
    TResult R = RunCli({"--info", Avi, Wave});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("File Name: " + Avi + "\n"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("Format Name: avi\n"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("File Name: " + Wave + "\n"), std::string::npos) << R.Out;
    EXPECT_EQ(R.Out.find('\r'), std::string::npos);
    EXPECT_FALSE(fs::exists(Path("a_(new).mp3")));

    R = RunCli({"--info", Path("missing.avi")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_NE(R.Err.find("missing.avi"), std::string::npos);
}

TEST_F(Cli, CtrlCHalfWayStopsCleanly) {
    const std::string Short = Wav("short.wav", 0.4);
    const std::string Long = Wav("long.wav", 30.0);
    bool Sent = false;
    // Read at the pace of playback, so that the long file is still going when Ctrl+C comes.
    const TResult R =
        RunCli({"-j", "1", "--input-option", "re=1", Short, Long}, 40s, [&](pid_t Pid, const TResult& SoFar) {
            if (Sent || SoFar.Out.find("short_(new).mp3") == std::string::npos) return;
            std::this_thread::sleep_for(700ms);
            ::kill(Pid, SIGINT);
            Sent = true;
        });
    ASSERT_TRUE(Sent) << R.Err;
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("short_(new).mp3")});
    EXPECT_NE(R.Err.find("long.wav: stopped"), std::string::npos) << R.Err;
    ExpectMp3(Path("short_(new).mp3"));
    // What was written of the long one before the stop is a readable file.
    if (fs::exists(Path("long_(new).mp3"))) {
        const testmedia::TClipFacts F = Inspect(Path("long_(new).mp3"));
        EXPECT_LT(F.Duration, 20.0);
    }
}

TEST_F(Cli, OtherSuffixesAndOutputFolders) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi, "a.avi");
    fs::create_directories(Path("out"));
    const TResult R = RunCli({"-f", "mkv", "-o", Path("out"), Avi});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("out/a_(new).mkv")});
    const testmedia::TClipFacts F = Inspect(Path("out/a_(new).mkv"));
    bool Video = false, Audio = false;
    for (const auto& S : F.Streams) {
        Video = Video || S.Type == AVMEDIA_TYPE_VIDEO;
        Audio = Audio || S.Type == AVMEDIA_TYPE_AUDIO;
    }
    EXPECT_TRUE(Video);  // no "vn=1" outside the dialog's audio formats
    EXPECT_TRUE(Audio);
}

TEST_F(Cli, CutAndOptionLines) {
    const std::string In = Wav("piece.wav", 2.0);
    const TResult R = RunCli({"-f", "Wav", "--cut", "0.5-1.3", "--output-option", "ar=11025", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const testmedia::TClipFacts F = Inspect(Path("piece_(new).wav"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].SampleRate, 11025);
    EXPECT_NEAR(F.Duration, 0.8, 0.06);
}

TEST_F(Cli, UsageErrorsExitWith2) {
    const std::string In = Wav("u.wav", 0.2);
    EXPECT_EQ(RunCli({}).Status, 2);
    EXPECT_EQ(RunCli({"--bogus", In}).Status, 2);
    EXPECT_EQ(RunCli({"-j", "-1", In}).Status, 2);
    EXPECT_EQ(RunCli({"--cut", "5-2", In}).Status, 2);
    EXPECT_EQ(RunCli({"--input-option", "novalue", In}).Status, 2);
    EXPECT_EQ(RunCli({"-f", "nosuchformat", In}).Status, 2);
    EXPECT_EQ(RunCli({"--log-level", "loud", In}).Status, 2);
    EXPECT_FALSE(fs::exists(Path("u_(new).mp3")));
    const TResult Help = RunCli({"--help"});
    EXPECT_EQ(Help.Status, 0);
    EXPECT_EQ(Help.Out.rfind("usage: zembra-cli", 0), 0u);
}

TEST_F(Cli, QuietPrintsOnlyTheOutputs) {
    const std::string In = Wav("q.wav", 0.3);
    const TResult R = RunCli({"-q", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Err, "");
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("q_(new).mp3")});
}

}  // namespace
}  // namespace zembra::testing
