// zembra-cli run as a user runs it: the built program on generated clips in a folder of the
// test's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/support/RunProgram.h"

namespace zembra::testing {

using TResult = TProgramResult;

// Runs zembra-cli with a time limit. While it runs, Watch is called with what it printed so
// far and may act on the process (send it a signal, say).
inline TResult RunCli(const std::vector<std::string>& Arguments,
                      std::chrono::seconds Limit = std::chrono::seconds(40),
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
        std::filesystem::remove_all(Dir, Ec);
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

}  // namespace zembra::testing
