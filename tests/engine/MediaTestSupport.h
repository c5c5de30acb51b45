#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/engine/EngineTestSupport.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra::testing {

// An engine test with a temporary folder and generated clips.
class MediaEngineTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        char Pattern[] = "/tmp/zembra-engine-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
    }
    void TearDown() override {
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
        EngineTest::TearDown();
    }
    std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
    static std::u16string W(const std::string& Utf8) { return Utf8ToUtf16(Utf8); }

    std::string Sample(testmedia::TSampleKind Kind) {
        const std::string Out = Path(testmedia::SampleFileName(Kind));
        const std::string Error = testmedia::WriteClip(testmedia::SampleClip(Kind, Out));
        EXPECT_EQ(Error, "");
        return Out;
    }
    std::string Wav(const std::string& Name, double Seconds, int Rate = 44100, int Channels = 2) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "pcm_s16le";
        Audio.SampleRate = Rate;
        Audio.Channels = Channels;
        Audio.Duration = Seconds;
        Spec.Audios.push_back(Audio);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }
    std::string RandomFile(const std::string& Name, size_t Bytes) {
        std::mt19937 Rng(12345);
        std::string Data(Bytes, '\0');
        for (char& C : Data) C = static_cast<char>(Rng() & 0xFF);
        std::ofstream(Path(Name), std::ios::binary) << Data;
        return Path(Name);
    }
    bool Open(const std::string& File) { return Job.OpenInputFile(W(File)); }

    std::string Dir;
};

}  // namespace zembra::testing
