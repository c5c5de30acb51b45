#include <cmath>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using testmedia::TSampleKind;
using Transcode = TranscodeTest;

struct TFormatCase {
    const char* Suffix;
    const char* InputLines;
    const char* OutputLines;
    AVCodecID Codec;
};

// Each format of the settings dialog, with the lines the dialog would give for a video source.
const TFormatCase kDialogFormats[] = {
    {"mp3", "vn=1", "sn=1", AV_CODEC_ID_MP3},
    {"mp2", "vn=1", "sn=1", AV_CODEC_ID_MP2},
    {"wma", "vn=1", "vn=1\nacodec=wmav2\nsn=1", AV_CODEC_ID_WMAV2},
    {"aac", "vn=1", "sn=1", AV_CODEC_ID_AAC},
    {"ac3", "vn=1", "sn=1", AV_CODEC_ID_AC3},
    {"wav", "vn=1", "sn=1", AV_CODEC_ID_PCM_S16LE},
    {"au", "", "sn=1", AV_CODEC_ID_PCM_S16BE},
    {"flac", "", "sn=1", AV_CODEC_ID_FLAC},
};

TEST_F(Transcode, EveryDialogFormatFromAVideo) {
    const std::string Source = Sample(TSampleKind::Avi);
    const testmedia::TClipFacts In = Facts(Source);
    for (const TFormatCase& Case : kDialogFormats) {
        const std::string Out = Path(std::string("out.") + Case.Suffix);
        ASSERT_EQ(Convert({Source}, Out, Case.InputLines, Case.OutputLines), "") << Case.Suffix;
        ASSERT_TRUE(Result.Finished) << Case.Suffix;
        const testmedia::TClipFacts F = Facts(Out);
        ASSERT_EQ(F.Streams.size(), 1u) << Case.Suffix;
        const testmedia::TStreamFacts& A = F.Streams[0];
        EXPECT_EQ(A.Type, AVMEDIA_TYPE_AUDIO) << Case.Suffix;
        EXPECT_EQ(A.CodecId, Case.Codec) << Case.Suffix;
        EXPECT_EQ(A.SampleRate, 44100) << Case.Suffix;
        EXPECT_EQ(A.Channels, 2) << Case.Suffix;
        // Within one encoder frame (and the encoder's priming) of the source.
        EXPECT_NEAR(A.EndTime - A.FirstTime, In.Streams[1].EndTime - In.Streams[1].FirstTime, 0.08)
            << Case.Suffix;
        EXPECT_TRUE(Result.Finished);
    }
}

// Ogg, M4a and Ra get no "vn=1": a video source keeps its picture, re-encoded.
TEST_F(Transcode, FormatsThatKeepTheVideo) {
    testmedia::TClipSpec Spec = testmedia::SampleClip(TSampleKind::Avi, Path("source.avi"));
    Spec.Videos[0].Width = 176;  // the RealVideo encoder takes multiples of 16 only
    Spec.Videos[0].Height = 144;
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    struct TCase {
        const char* Suffix;
        const char* Lines;
        AVCodecID Video, Audio;
    } Cases[] = {{"ra", "sn=1", AV_CODEC_ID_RV10, AV_CODEC_ID_AC3},
                 {"m4a", "sn=1", AV_CODEC_ID_H264, AV_CODEC_ID_AAC},
                 {"ogg", "vcodec=libtheora\nacodec=flac\nsn=1", AV_CODEC_ID_THEORA, AV_CODEC_ID_FLAC}};
    for (const TCase& Case : Cases) {
        const std::string Out = Path(std::string("out.") + Case.Suffix);
        ASSERT_EQ(Convert({Spec.Path}, Out, "", Case.Lines), "") << Case.Suffix;
        const testmedia::TClipFacts F = Facts(Out);
        ASSERT_EQ(F.Streams.size(), 2u) << Case.Suffix;
        EXPECT_EQ(F.Streams[0].CodecId, Case.Video) << Case.Suffix;
        EXPECT_EQ(F.Streams[0].Width, 176) << Case.Suffix;
        EXPECT_EQ(F.Streams[0].PacketCount, 25) << Case.Suffix;
        EXPECT_EQ(F.Streams[1].CodecId, Case.Audio) << Case.Suffix;
        EXPECT_EQ(F.Streams[1].SampleRate, 44100) << Case.Suffix;
    }
}

TEST_F(Transcode, AudioOnlyToOggAndM4a) {
    const std::string Source = Wav("tone.wav", 1.0);
    ASSERT_EQ(Convert({Source}, Path("out.ogg"), "", "vcodec=libtheora\nacodec=flac\nsn=1"), "");
    testmedia::TClipFacts F = Facts(Path("out.ogg"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].CodecId, AV_CODEC_ID_FLAC);
    ASSERT_EQ(Convert({Source}, Path("out.m4a"), "", "sn=1"), "");
    F = Facts(Path("out.m4a"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].CodecId, AV_CODEC_ID_AAC);
    EXPECT_NEAR(F.Streams[0].EndTime - F.Streams[0].FirstTime, 1.0, 0.05);
}

TEST_F(Transcode, ResampleToMonoAtHalfTheRate) {
    const std::string Source = Wav("tone.wav", 1.0);
    ASSERT_EQ(Convert({Source}, Path("mono.mp3"), "", "ar=22050\nac=1"), "");
    const testmedia::TClipFacts F = Facts(Path("mono.mp3"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].SampleRate, 22050);
    EXPECT_EQ(F.Streams[0].Channels, 1);
    EXPECT_NEAR(F.Streams[0].EndTime - F.Streams[0].FirstTime, 1.0, 0.08);
}

TEST_F(Transcode, VolumeScalesTheSamples) {
    const std::string Source = Wav("tone.wav", 0.5);
    ASSERT_EQ(Convert({Source}, Path("loud.wav"), "", ""), "");
    ASSERT_EQ(Convert({Source}, Path("quiet.wav"), "", "vol=64"), "");
    testmedia::TDecodedAudio Loud, Quiet;
    ASSERT_EQ(testmedia::DecodeAudio(Path("loud.wav"), 0, Loud), "");
    ASSERT_EQ(testmedia::DecodeAudio(Path("quiet.wav"), 0, Quiet), "");
    ASSERT_FALSE(Loud.Channels.empty());
    ASSERT_EQ(Loud.Channels[0].size(), Quiet.Channels[0].size());
    double PeakLoud = 0, PeakQuiet = 0;
    for (size_t I = 0; I < Loud.Channels[0].size(); ++I) {
        PeakLoud = std::max(PeakLoud, std::fabs(double(Loud.Channels[0][I])));
        PeakQuiet = std::max(PeakQuiet, std::fabs(double(Quiet.Channels[0][I])));
    }
    EXPECT_NEAR(PeakQuiet, PeakLoud / 4, 0.01);

    // A volume far past any sample's headroom clips every sample to full scale, none wraps round.
    ASSERT_EQ(Convert({Source}, Path("clipped.wav"), "", "vol=2000000000"), "");
    testmedia::TDecodedAudio Clipped;
    ASSERT_EQ(testmedia::DecodeAudio(Path("clipped.wav"), 0, Clipped), "");
    ASSERT_EQ(Clipped.Channels[0].size(), Loud.Channels[0].size());
    int Compared = 0;
    for (size_t I = 0; I < Loud.Channels[0].size(); ++I) {
        const float L = Loud.Channels[0][I];
        if (std::fabs(L) < 0.01f) continue;
        EXPECT_NEAR(std::fabs(Clipped.Channels[0][I]), 1.0, 0.001) << I;
        EXPECT_EQ(Clipped.Channels[0][I] > 0, L > 0) << I;
        if (++Compared > 2000) break;
    }
    EXPECT_GT(Compared, 100);
}

}  // namespace
}  // namespace zembra::testing
