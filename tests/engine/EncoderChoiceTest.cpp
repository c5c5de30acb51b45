// Sources whose channel layout or rate the output's encoder does not take convert with the
// nearest values it does take, unless the user asked for the refused value.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

#include "binding/EntryPoints.h"
#include "engine/EncoderParameters.h"
#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

class EncoderChoice : public TranscodeTest {
  protected:
    std::string Source(const std::string& Name, int Rate, int Channels, const std::string& Encoder) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        testmedia::TAudioSpec Audio;
        Audio.Encoder = Encoder;
        Audio.SampleRate = Rate;
        Audio.Channels = Channels;
        Audio.Duration = 1.0;
        Spec.Audios.push_back(Audio);
        EXPECT_EQ(testmedia::WriteClip(Spec), "") << Name;
        return Spec.Path;
    }
};

TEST_F(EncoderChoice, EverySourceConvertsIntoEveryFormat) {
    struct TSource {
        const char* Name;
        int Rate;
        int Channels;
        const char* Encoder;
    };
    const TSource Sources[] = {
        {"s51_48k.flac", 48000, 6, "flac"},     {"s51_96k.flac", 96000, 6, "flac"},
        {"s51_192k.flac", 192000, 6, "flac"},   {"s71_48k.flac", 48000, 8, "flac"},
        {"s71_96k.wav", 96000, 8, "pcm_s16le"}, {"s71_192k.flac", 192000, 8, "flac"},
        {"mono_8k.wav", 8000, 1, "pcm_u8"},
    };
    // Expected channels for 5.1, 7.1 and mono sources; expected rate for 48, 96, 192 and 8 kHz
    // sources (0: the source's own).
    struct TFormat {
        const char* Extension;
        int Channels[3];
        int Rates[4];
    };
    const TFormat Formats[] = {
        {"mp3", {2, 2, 1}, {48000, 48000, 48000, 8000}},
        {"mp2", {2, 2, 1}, {48000, 48000, 48000, 16000}},
        {"wma", {2, 2, 1}, {48000, 48000, 48000, 8000}},
        {"ogg", {6, 8, 1}, {0, 0, 0, 0}},
        {"aac", {6, 8, 1}, {48000, 96000, 96000, 8000}},
        {"m4a", {6, 8, 1}, {48000, 96000, 96000, 8000}},
        {"flac", {6, 8, 1}, {0, 0, 0, 0}},
        {"ac3", {6, 2, 1}, {48000, 48000, 48000, 32000}},
        {"wav", {6, 8, 1}, {0, 0, 0, 0}},
        {"au", {6, 8, 1}, {0, 0, 0, 0}},
        {"ra", {6, 2, 1}, {48000, 48000, 48000, 32000}},
    };
    for (const TSource& Src : Sources) {
        const std::string In = Source(Src.Name, Src.Rate, Src.Channels, Src.Encoder);
        const int Layout = Src.Channels == 6 ? 0 : Src.Channels == 8 ? 1 : 2;
        const int RateColumn = Src.Rate == 48000 ? 0 : Src.Rate == 96000 ? 1 : Src.Rate == 192000 ? 2 : 3;
        for (const TFormat& F : Formats) {
            const std::string Out = Path(std::string(Src.Name) + "." + F.Extension);
            SCOPED_TRACE(Out);
            LogLines.clear();
            ASSERT_EQ(Convert({In}, Out), "");
            const testmedia::TClipFacts Facts = this->Facts(Out);
            ASSERT_EQ(Facts.Streams.size(), 1u);
            EXPECT_EQ(Facts.Streams[0].Channels, F.Channels[Layout]);
            const int Rate = F.Rates[RateColumn] ? F.Rates[RateColumn] : Src.Rate;
            EXPECT_EQ(Facts.Streams[0].SampleRate, Rate);
            const double Length = Facts.Streams[0].EndTime - Facts.Streams[0].FirstTime;
            // 1%, plus the padding of the last encoder frame and the encoder's priming.
            EXPECT_GE(Length, 0.99);
            EXPECT_LE(Length, 1.01 + 2304.0 / Rate);
            const bool Changed = F.Channels[Layout] != Src.Channels || Rate != Src.Rate;
            EXPECT_EQ(Logged(" Hz -> "), Changed);
        }
    }
}

TEST_F(EncoderChoice, ValuesTheUserSetAreKeptOrRefusedWithTheReason) {
    const std::string In = Source("s51.flac", 48000, 6, "flac");
    struct TCase {
        const char* Output;
        const char* Lines;
        const char* Error;  // "" when it converts
        int Channels;
        int Rate;
    };
    const std::string Refused =
        "Error while opening encoder for output stream #0.0 (Audio) - maybe incorrect parameters such as "
        "bit_rate, rate, width or height: ";
    const std::string Layout = Refused + "Specified channel layout '5.1' is not supported";
    const std::string Rate = Refused + "Specified sample rate 22050 is not supported";
    const std::string Many = Refused + "too many channels";
    const std::string Opus = Refused + "Specified sample rate 44100 is not supported";
    const TCase Cases[] = {
        {"six.mp3", "ac=6", Layout.c_str(), 0, 0},
        {"low.ac3", "ar=22050", Rate.c_str(), 0, 0},
        {"six.wma", "ac=6", Many.c_str(), 0, 0},
        // A value the encoder takes is used as given; the other is still chosen.
        {"mono.mp3", "ac=1", "", 1, 48000},
        {"low.mp3", "ar=22050", "", 2, 22050},
        {"opus.ogg", "acodec=libopus\nar=44100", Opus.c_str(), 0, 0},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Output);
        const std::string Out = Path(C.Output);
        const std::string Error = Convert({In}, Out, "", C.Lines);
        EXPECT_EQ(Error, C.Error);
        if (*C.Error) {
            EXPECT_FALSE(FileExistsW(W(Out)));
            continue;
        }
        const testmedia::TClipFacts Facts = this->Facts(Out);
        ASSERT_EQ(Facts.Streams.size(), 1u);
        EXPECT_EQ(Facts.Streams[0].Channels, C.Channels);
        EXPECT_EQ(Facts.Streams[0].SampleRate, C.Rate);
    }
    // Opus at a rate it does not take, chosen by no one: the encoder's nearest.
    ASSERT_EQ(Convert({Source("cd.wav", 44100, 2, "pcm_s16le")}, Path("cd.opus")), "");
    EXPECT_EQ(Facts(Path("cd.opus")).Streams[0].SampleRate, 48000);
}

TEST_F(EncoderChoice, RealVideoGetsWholeMacroblocksUnlessTheSizeWasAsked) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path("wide.avi");
    testmedia::TVideoSpec Video;
    Video.Width = 640;
    Video.Height = 360;
    Video.FrameCount = 5;
    Spec.Videos = {Video};
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    struct TCase {
        const char* Output;
        const char* Lines;
        bool Converts;
        int Width, Height;
    };
    const TCase Cases[] = {
        {"wide.ra", "", true, 640, 352},
        {"asked.ra", "s=640x360", false, 0, 0},
        {"small.ra", "s=640x480", true, 640, 480},
        {"wide.mp4", "", true, 640, 360},  // other encoders keep the source's size
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Output);
        LogLines.clear();
        const std::string Error = Convert({Spec.Path}, Path(C.Output), "", C.Lines);
        if (!C.Converts) {
            EXPECT_EQ(
                Error,
                "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters "
                "such as bit_rate, rate, width or height");
            continue;
        }
        ASSERT_EQ(Error, "");
        const testmedia::TClipFacts F = Facts(Path(C.Output));
        ASSERT_FALSE(F.Streams.empty());
        EXPECT_EQ(F.Streams[0].Width, C.Width);
        EXPECT_EQ(F.Streams[0].Height, C.Height);
        EXPECT_EQ(Logged("640x360 -> 640x352 for rv10"), C.Height == 352);
    }
}

// A PCM wave file written byte by byte, so that its header can say what no encoder would write.
std::string WriteWave(const std::string& File, uint16_t Channels, uint32_t Rate, uint32_t Bytes) {
    std::vector<uint8_t> D;
    auto Put = [&](uint32_t V, int Size) {
        for (int I = 0; I < Size; ++I) D.push_back(static_cast<uint8_t>(V >> (8 * I)));
    };
    auto Tag = [&](const char* T) { D.insert(D.end(), T, T + 4); };
    const uint16_t Align = static_cast<uint16_t>(Channels * 2);
    Tag("RIFF");
    Put(36 + Bytes, 4);
    Tag("WAVE");
    Tag("fmt ");
    Put(16, 4);
    Put(1, 2);  // PCM
    Put(Channels, 2);
    Put(Rate, 4);
    Put(Rate * Align, 4);
    Put(Align, 2);
    Put(16, 2);
    Tag("data");
    Put(Bytes, 4);
    for (uint32_t I = 0; I < Bytes; ++I) D.push_back(static_cast<uint8_t>((I * 37) & 0xFF));
    std::ofstream(File, std::ios::binary)
        .write(reinterpret_cast<const char*>(D.data()), std::streamsize(D.size()));
    return File;
}

TEST_F(EncoderChoice, OddHeadersConvertByCountOrFailCleanly) {
    // Three channels of raw samples: a layout known only by its count.
    const std::string Raw = WriteWave(Path("three.wav"), 3, 48000, 48000 * 6 / 2);
    struct TCase {
        std::string Source;
        const char* InputLines;
        const char* Output;
        std::string Error;  // "" when it converts
        int Channels;
    };
    const std::string Still = Path("still.wav");
    const TCase Cases[] = {
        {Raw, "f=s16le\nac=3\nar=48000", "three.mp3", "", 2},
        {Raw, "f=s16le\nac=3\nar=48000", "three.flac", "", 3},
        {WriteWave(Path("none.wav"), 0, 48000, 4800), "", "none.mp3",
         "Error while opening decoder for input stream #0.0 (Audio)", 0},
        {WriteWave(Still, 2, 0, 4800), "", "still.mp3", Still + ": Error while parsing header", 0},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Output);
        const std::string Out = Path(C.Output);
        const std::string Error = Convert({C.Source}, Out, C.InputLines);
        EXPECT_EQ(Error, C.Error);
        if (!C.Error.empty()) {
            EXPECT_FALSE(FileExistsW(W(Out)));
            continue;
        }
        const testmedia::TClipFacts F = Facts(Out);
        ASSERT_EQ(F.Streams.size(), 1u);
        EXPECT_EQ(F.Streams[0].Channels, C.Channels);
        EXPECT_EQ(F.Streams[0].SampleRate, 48000);
    }
}

// The choice itself, on lists of our own.
TEST_F(EncoderChoice, NearestValuesOnListsOfOurOwn) {
    const int Rates[] = {8000, 16000, 32000, 0};
    const AVChannelLayout Layouts[] = {AV_CHANNEL_LAYOUT_MONO, AV_CHANNEL_LAYOUT_STEREO,
                                       AV_CHANNEL_LAYOUT_5POINT1_BACK, AVChannelLayout{}};
    const AVChannelLayout MonoOnly[] = {AV_CHANNEL_LAYOUT_MONO, AVChannelLayout{}};
    const AVChannelLayout QuadOnly[] = {AV_CHANNEL_LAYOUT_QUAD, AVChannelLayout{}};
    TAudioEncoderLimits L;
    L.SampleRates = Rates;
    L.Layouts = Layouts;
    struct TRateCase {
        int Source, Expected;
    };
    for (const TRateCase& C :
         {TRateCase{16000, 16000}, {12000, 16000}, {11000, 8000}, {96000, 32000}, {1, 8000}})
        EXPECT_EQ(NearestSampleRate(L, C.Source), C.Expected) << C.Source;
    TAudioEncoderLimits Capped;
    Capped.MaxSampleRate = 48000;
    Capped.MaxChannels = 2;
    EXPECT_EQ(NearestSampleRate(Capped, 96000), 48000);
    EXPECT_EQ(NearestSampleRate(Capped, 22050), 22050);

    struct TLayoutCase {
        const TAudioEncoderLimits* Limits;
        AVChannelLayout Source;
        const char* Expected;
    };
    TAudioEncoderLimits Mono;
    Mono.Layouts = MonoOnly;
    TAudioEncoderLimits Quad;
    Quad.Layouts = QuadOnly;
    AVChannelLayout Unknown6{};
    Unknown6.order = AV_CHANNEL_ORDER_UNSPEC;
    Unknown6.nb_channels = 6;
    const TLayoutCase Cases[] = {
        {&L, AV_CHANNEL_LAYOUT_STEREO, "stereo"},
        {&L, AV_CHANNEL_LAYOUT_5POINT1, "5.1"},  // same count
        {&L, AV_CHANNEL_LAYOUT_7POINT1, "stereo"},
        {&L, Unknown6, "5.1"},
        {&Mono, AV_CHANNEL_LAYOUT_5POINT1, "mono"},
        {&Quad, AV_CHANNEL_LAYOUT_STEREO, "quad"},  // the first listed
        {&Capped, AV_CHANNEL_LAYOUT_7POINT1, "stereo"},
        {&Capped, AV_CHANNEL_LAYOUT_MONO, "mono"},
    };
    for (const TLayoutCase& C : Cases) {
        AVChannelLayout Out{};
        NearestChannelLayout(*C.Limits, C.Source, &Out);
        EXPECT_EQ(ChannelLayoutName(Out), C.Expected) << ChannelLayoutName(C.Source);
        lavu.av_channel_layout_uninit(&Out);
    }
}

}  // namespace
}  // namespace zembra::testing
