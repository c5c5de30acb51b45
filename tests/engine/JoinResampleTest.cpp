// Joined inputs that are resampled: the samples the converter still holds at the end of one
// input come before the next input's samples.

#include <cmath>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using JoinResample = TranscodeTest;

TEST_F(JoinResample, EachInputsTailComesBeforeTheNextInput) {
    // A tone, then silence, both at 22050 Hz, joined into 44100 Hz.
    std::vector<std::string> Inputs;
    for (const double Frequency : {440.0, 0.0}) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Format("part%d.wav", static_cast<int>(Inputs.size())));
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "pcm_s16le";
        Audio.SampleRate = 22050;
        Audio.Channels = 1;
        Audio.Duration = 0.5;
        Audio.Frequency = Frequency;
        Spec.Audios.push_back(Audio);
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        Inputs.push_back(Spec.Path);
    }
    ASSERT_EQ(Convert(Inputs, Path("joined.wav"), "", "ar=44100", true), "");
    testmedia::TDecodedAudio Audio;
    ASSERT_EQ(testmedia::DecodeAudio(Path("joined.wav"), 0, Audio), "");
    ASSERT_EQ(Audio.SampleRate, 44100);
    ASSERT_EQ(Audio.Channels.size(), 1u);
    const std::vector<float>& Samples = Audio.Channels[0];
    EXPECT_NEAR(static_cast<double>(Samples.size()), 44100.0, 64.0);
    // The tone reaches the middle; from a little after it, the silence is silent to the end.
    double ToneEnergy = 0.0;
    for (size_t I = 20000; I < 22000; ++I) ToneEnergy += std::fabs(Samples[I]);
    EXPECT_GT(ToneEnergy / 2000.0, 0.1);
    float Loudest = 0.0f;
    size_t Where = 0;
    for (size_t I = 22050 + 256; I < Samples.size(); ++I)
        if (std::fabs(Samples[I]) > Loudest) {
            Loudest = std::fabs(Samples[I]);
            Where = I;
        }
    EXPECT_LT(Loudest, 0.01f) << "a sample of the tone at " << Where << " of " << Samples.size();
}

}  // namespace
}  // namespace zembra::testing
