#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/media/TestPattern.h"

namespace {

namespace fs = std::filesystem;
using namespace zembra::testmedia;

// Lossy codecs move a flat bar's colour by a few steps; a wrong bar is off by 255 somewhere.
constexpr int kLossyTolerance = 24;

const TStreamFacts* FindStream(const TClipFacts& Facts, AVMediaType Type, int N = 0) {
    for (const TStreamFacts& Stream : Facts.Streams)
        if (Stream.Type == Type && N-- == 0) return &Stream;
    return nullptr;
}

int CountStreams(const TClipFacts& Facts, AVMediaType Type) {
    return static_cast<int>(std::count_if(Facts.Streams.begin(), Facts.Streams.end(),
                                          [&](const auto& S) { return S.Type == Type; }));
}

// Rising passes through the tone's middle, with hysteresis so codec noise around silence does
// not count; the rate between the first and the last pass.
double EstimateFrequency(const std::vector<float>& Samples, int SampleRate) {
    const float Threshold = kToneAmplitude * 0.4f;
    bool Low = false;
    std::vector<size_t> Rises;
    for (size_t I = 0; I < Samples.size(); ++I) {
        if (Samples[I] < -Threshold) Low = true;
        if (Low && Samples[I] > Threshold) {
            Rises.push_back(I);
            Low = false;
        }
    }
    if (Rises.size() < 2) return 0.0;
    return static_cast<double>(Rises.size() - 1) * SampleRate /
           static_cast<double>(Rises.back() - Rises.front());
}

float Peak(const std::vector<float>& Samples) {
    float Result = 0.0f;
    for (const float S : Samples) Result = std::max(Result, std::fabs(S));
    return Result;
}

void ExpectBars(const TRgbPicture& Picture, int Tolerance) {
    const int Y = CounterTop(Picture.Height) / 2;
    for (size_t Bar = 0; Bar < kBarColours.size(); ++Bar) {
        // The middle of each bar, away from the edges chroma subsampling smears.
        const int X = static_cast<int>((2 * Bar + 1) * Picture.Width / (2 * kBarColours.size()));
        const TRgb Expected = ExpectedBarColour(X, Picture.Width);
        const TRgb Got = Picture.At(X, Y);
        EXPECT_NEAR(Got.R, Expected.R, Tolerance) << "bar " << Bar;
        EXPECT_NEAR(Got.G, Expected.G, Tolerance) << "bar " << Bar;
        EXPECT_NEAR(Got.B, Expected.B, Tolerance) << "bar " << Bar;
    }
}

// Containers may move a whole clip later (to keep priming timestamps positive), so times are
// measured from the first picture, or from 0 in a clip without pictures.
double ClipOrigin(const TClipFacts& Facts) {
    const TStreamFacts* Video = FindStream(Facts, AVMEDIA_TYPE_VIDEO);
    return Video ? Video->FirstTime : 0.0;
}

void ExpectVideoStream(const TStreamFacts* Stream, const TVideoSpec& Spec, AVCodecID Codec) {
    ASSERT_NE(Stream, nullptr);
    EXPECT_EQ(Stream->CodecId, Codec);
    EXPECT_EQ(Stream->Width, Spec.Width);
    EXPECT_EQ(Stream->Height, Spec.Height);
    EXPECT_EQ(Stream->PacketCount, Spec.FrameCount);
    const double FrameTime = av_q2d(av_inv_q(Spec.FrameRate));
    EXPECT_NEAR(Stream->EndTime - Stream->FirstTime, Spec.FrameCount * FrameTime, FrameTime / 2);
}

// Codec priming and padding may stretch a lossy stream by up to an encoder frame at each end.
void ExpectAudioStream(const TStreamFacts* Stream, const TAudioSpec& Spec, AVCodecID Codec, int EncoderFrame,
                       double Origin) {
    ASSERT_NE(Stream, nullptr);
    EXPECT_EQ(Stream->CodecId, Codec);
    EXPECT_EQ(Stream->SampleRate, Spec.SampleRate);
    EXPECT_EQ(Stream->Channels, Spec.Channels);
    const double Slack = static_cast<double>(EncoderFrame) / Spec.SampleRate + 0.001;
    EXPECT_NEAR(Stream->FirstTime - Origin, Spec.StartOffset, Slack);
    EXPECT_NEAR(Stream->EndTime - Origin, Spec.StartOffset + Spec.Duration, 2 * Slack);
}

// The suite is named in lower case so that "ctest -R testmedia" selects it.
class testmedia : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        zembra::FFLoader().SetLibraryPath(zembra::DefaultLibraryFolder());
        if (!zembra::FFLoader().LoadLibrarySet(zembra::kDefaultLibrarySet)) {
            FLoadError = zembra::FFLoader().LastError();
            return;
        }
        zembra::lavu.av_log_set_level(AV_LOG_ERROR);
    }

    void SetUp() override {
        ASSERT_EQ(FLoadError, "") << "the FFmpeg libraries did not load";
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        FFolder = fs::temp_directory_path() /
                  ("zembra-testmedia-" + std::to_string(::getpid()) + "-" + std::string(Info->name()));
        fs::remove_all(FFolder);
        ASSERT_TRUE(fs::create_directories(FFolder));
    }

    void TearDown() override {
        std::error_code Ignored;
        fs::remove_all(FFolder, Ignored);
    }

    std::string PathFor(const std::string& Name) const { return (FFolder / Name).string(); }

    // Writes the sample clip of Kind into the test's folder and reads it back.
    TClipSpec WriteSample(TSampleKind Kind, TClipFacts& Facts) {
        const TClipSpec Spec = SampleClip(Kind, PathFor(SampleFileName(Kind)));
        const std::string Error = WriteClip(Spec);
        EXPECT_EQ(Error, "") << SampleKindName(Kind);
        if (Error.empty()) {
            EXPECT_EQ(InspectClip(Spec.Path, Facts), "");
        }
        return Spec;
    }

    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> Names;
        for (const auto& Entry : fs::directory_iterator(FFolder))
            Names.push_back(Entry.path().filename().string());
        return Names;
    }

    static inline std::string FLoadError;
    fs::path FFolder;
};

// The music-like signal of the benchmarks: the same samples however it is cut into frames,
// within the tone's amplitude, the same chord on both channels under noise of their own.
TEST(FillMusic, IsRepeatableBoundedAndSharedByTheChannels) {
    constexpr int Rate = 48000, Channels = 2, Frames = Rate * 2;
    std::vector<float> Whole(static_cast<size_t>(Frames) * Channels);
    FillMusic(Whole.data(), Channels, 0, Frames, Rate);
    std::vector<float> Pieces(Whole.size());
    for (int First = 0, Step = 1; First < Frames; First += Step, Step = Step * 3 % 4093 + 1) {
        const int Count = std::min(Step, Frames - First);
        FillMusic(Pieces.data() + static_cast<size_t>(First) * Channels, Channels, First, Count, Rate);
    }
    EXPECT_EQ(Whole, Pieces);
    EXPECT_LE(Peak(Whole), kToneAmplitude);
    EXPECT_GT(Peak(Whole), kToneAmplitude / 4);
    double Product = 0, LeftEnergy = 0, RightEnergy = 0;
    int Different = 0;
    for (int I = 0; I < Frames; ++I) {
        const float L = Whole[static_cast<size_t>(I) * 2], R = Whole[static_cast<size_t>(I) * 2 + 1];
        Product += L * R;
        LeftEnergy += L * L;
        RightEnergy += R * R;
        Different += L != R;
    }
    EXPECT_GT(Different, Frames * 9 / 10);                          // noise of their own
    EXPECT_GT(Product / std::sqrt(LeftEnergy * RightEnergy), 0.9);  // one chord
}

TEST_F(testmedia, AviCarriesXvidTaggedMpeg4AndMp3) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Avi, Facts);
    EXPECT_EQ(Facts.FormatName, "avi");
    ASSERT_EQ(Facts.Streams.size(), 2u);
    ExpectVideoStream(FindStream(Facts, AVMEDIA_TYPE_VIDEO), Spec.Videos[0], AV_CODEC_ID_MPEG4);
    EXPECT_EQ(FindStream(Facts, AVMEDIA_TYPE_VIDEO)->CodecTag, MKTAG('X', 'V', 'I', 'D'));
    ExpectAudioStream(FindStream(Facts, AVMEDIA_TYPE_AUDIO), Spec.Audios[0], AV_CODEC_ID_MP3, 1152,
                      ClipOrigin(Facts));
}

TEST_F(testmedia, Mp4CarriesH264AacWithHeadersAndTags) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Mp4, Facts);
    EXPECT_NE(Facts.FormatName.find("mp4"), std::string::npos) << Facts.FormatName;
    ASSERT_EQ(Facts.Streams.size(), 2u);
    const TStreamFacts* Video = FindStream(Facts, AVMEDIA_TYPE_VIDEO);
    const TStreamFacts* Audio = FindStream(Facts, AVMEDIA_TYPE_AUDIO);
    ExpectVideoStream(Video, Spec.Videos[0], AV_CODEC_ID_H264);
    ExpectAudioStream(Audio, Spec.Audios[0], AV_CODEC_ID_AAC, 1024, ClipOrigin(Facts));
    // MP4 keeps the codec set-up only in the stream headers, never in the packets.
    EXPECT_GT(Video->ExtradataSize, 0);
    EXPECT_GT(Audio->ExtradataSize, 0);
    EXPECT_EQ(Facts.Tag("title"), "Zembra test clip");
    EXPECT_EQ(Facts.Tag("artist"), "Zembra");
    EXPECT_NEAR(Facts.Duration, 1.0, 0.05);
}

TEST_F(testmedia, Mp4PicturesShowTheBarsAndCountFramesInOrder) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Mp4, Facts);
    std::vector<TRgbPicture> Pictures;
    ASSERT_EQ(DecodeVideo(Spec.Path, 0, 5, Pictures), "");
    ASSERT_EQ(Pictures.size(), 5u);
    EXPECT_EQ(Pictures[0].Width, Spec.Videos[0].Width);
    EXPECT_EQ(Pictures[0].Height, Spec.Videos[0].Height);
    ExpectBars(Pictures[0], kLossyTolerance);
    for (size_t I = 0; I < Pictures.size(); ++I)
        EXPECT_EQ(ReadFrameCounter(Pictures[I].Pixels.data(), Pictures[I].Stride(), Pictures[I].Width,
                                   Pictures[I].Height),
                  static_cast<int>(I));
}

TEST_F(testmedia, MkvCarriesVideoTwoAudioTracksAndSubtitles) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Mkv, Facts);
    EXPECT_NE(Facts.FormatName.find("matroska"), std::string::npos) << Facts.FormatName;
    ASSERT_EQ(Facts.Streams.size(), 4u);
    EXPECT_EQ(CountStreams(Facts, AVMEDIA_TYPE_VIDEO), 1);
    EXPECT_EQ(CountStreams(Facts, AVMEDIA_TYPE_AUDIO), 2);
    EXPECT_EQ(CountStreams(Facts, AVMEDIA_TYPE_SUBTITLE), 1);
    ExpectVideoStream(FindStream(Facts, AVMEDIA_TYPE_VIDEO), Spec.Videos[0], AV_CODEC_ID_H264);
    ExpectAudioStream(FindStream(Facts, AVMEDIA_TYPE_AUDIO, 0), Spec.Audios[0], AV_CODEC_ID_AAC, 1024,
                      ClipOrigin(Facts));
    EXPECT_EQ(FindStream(Facts, AVMEDIA_TYPE_AUDIO, 0)->Language, "eng");
    EXPECT_EQ(Facts.Tag("title"), "Zembra test clip");

    const TStreamFacts* Subtitle = FindStream(Facts, AVMEDIA_TYPE_SUBTITLE);
    ASSERT_NE(Subtitle, nullptr);
    EXPECT_EQ(Subtitle->CodecId, AV_CODEC_ID_SUBRIP);
    EXPECT_EQ(Subtitle->Language, "eng");
    EXPECT_EQ(Subtitle->PacketCount, static_cast<int64_t>(Spec.Subtitle->Cues.size()));
}

TEST_F(testmedia, MkvSecondAudioIsALateMonoTone) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Mkv, Facts);
    const TAudioSpec& Late = Spec.Audios[1];
    ASSERT_GT(Late.StartOffset, 0.0);
    const TStreamFacts* Stream = FindStream(Facts, AVMEDIA_TYPE_AUDIO, 1);
    ExpectAudioStream(Stream, Late, AV_CODEC_ID_AC3, 1536, ClipOrigin(Facts));
    EXPECT_EQ(Stream->Language, "ger");

    TDecodedAudio Audio;
    ASSERT_EQ(DecodeAudio(Spec.Path, Stream->Index, Audio), "");
    EXPECT_EQ(Audio.SampleRate, Late.SampleRate);
    ASSERT_EQ(Audio.Channels.size(), 1u);
    EXPECT_NEAR(Audio.FirstTime - ClipOrigin(Facts), Late.StartOffset, 1536.0 / Late.SampleRate);
    EXPECT_NEAR(EstimateFrequency(Audio.Channels[0], Audio.SampleRate), Late.Frequency,
                Late.Frequency * 0.01);
}

TEST_F(testmedia, MkvSubtitlesDecodeToTheirTextAndTimes) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Mkv, Facts);
    std::vector<TSubtitleCue> Cues;
    ASSERT_EQ(DecodeSubtitles(Spec.Path, SubtitleStreamIndex(Spec), Cues), "");
    const std::vector<TSubtitleCue>& Expected = Spec.Subtitle->Cues;
    ASSERT_EQ(Cues.size(), Expected.size());
    // Lines must stay in step with the pictures, wherever the container put the start.
    const double Origin = ClipOrigin(Facts);
    for (size_t I = 0; I < Cues.size(); ++I) {
        EXPECT_EQ(Cues[I].Text, Expected[I].Text);
        EXPECT_NEAR(Cues[I].Start - Origin, Expected[I].Start, 0.002);
        EXPECT_NEAR(Cues[I].End - Origin, Expected[I].End, 0.002);
    }
}

TEST_F(testmedia, AssSubtitlesCarryTheirStyleHeader) {
    TClipSpec Spec;
    Spec.Path = PathFor("styled.mkv");
    Spec.Videos.push_back(TVideoSpec{});
    Spec.Videos[0].FrameCount = 10;
    Spec.Subtitle = TSubtitleSpec{"ass", {{0.0, 0.2, "Styled line"}, {0.2, 0.4, "Another one"}}, "fre"};
    ASSERT_EQ(WriteClip(Spec), "");

    TClipFacts Facts;
    ASSERT_EQ(InspectClip(Spec.Path, Facts), "");
    EXPECT_NE(Facts.FormatName.find("matroska"), std::string::npos) << Facts.FormatName;
    const TStreamFacts* Subtitle = FindStream(Facts, AVMEDIA_TYPE_SUBTITLE);
    ASSERT_NE(Subtitle, nullptr);
    EXPECT_EQ(Subtitle->CodecId, AV_CODEC_ID_ASS);
    EXPECT_EQ(Subtitle->Language, "fre");
    // Players need the style sheet before the first line, so it must travel in the header.
    EXPECT_GT(Subtitle->ExtradataSize, 0);

    std::vector<TSubtitleCue> Cues;
    ASSERT_EQ(DecodeSubtitles(Spec.Path, Subtitle->Index, Cues), "");
    ASSERT_EQ(Cues.size(), 2u);
    EXPECT_EQ(Cues[0].Text, "Styled line");
    EXPECT_EQ(Cues[1].Text, "Another one");
}

TEST_F(testmedia, OggCarriesTheoraAndVorbis) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Ogg, Facts);
    EXPECT_EQ(Facts.FormatName, "ogg");
    ASSERT_EQ(Facts.Streams.size(), 2u);
    ExpectVideoStream(FindStream(Facts, AVMEDIA_TYPE_VIDEO), Spec.Videos[0], AV_CODEC_ID_THEORA);
    // Vorbis blocks vary in length; 2048 samples is the longest the encoder uses by default.
    ExpectAudioStream(FindStream(Facts, AVMEDIA_TYPE_AUDIO), Spec.Audios[0], AV_CODEC_ID_VORBIS, 2048,
                      ClipOrigin(Facts));
}

TEST_F(testmedia, TsProgramsEachListOnlyTheirOwnStreams) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Ts, Facts);
    EXPECT_EQ(Facts.FormatName, "mpegts");
    ASSERT_EQ(Facts.Streams.size(), 4u);
    ASSERT_EQ(Facts.Programs.size(), Spec.Programs.size());

    std::set<int> Seen;
    for (const TProgramSpec& Wanted : Spec.Programs) {
        SCOPED_TRACE("program " + std::to_string(Wanted.Id));
        const auto Program = std::find_if(Facts.Programs.begin(), Facts.Programs.end(),
                                          [&](const TProgramFacts& P) { return P.Id == Wanted.Id; });
        ASSERT_NE(Program, Facts.Programs.end());
        EXPECT_EQ(Program->ServiceName, Wanted.ServiceName);
        ASSERT_EQ(Program->StreamIndexes.size(), Wanted.StreamIndexes.size());
        // The demuxer numbers streams in its own order, so they are matched by what they hold.
        const TVideoSpec& Video = Spec.Videos[static_cast<size_t>(Wanted.StreamIndexes[0])];
        const TAudioSpec& Audio =
            Spec.Audios[static_cast<size_t>(Wanted.StreamIndexes[1] - AudioStreamIndex(Spec, 0))];
        int Videos = 0, Audios = 0;
        for (const int Index : Program->StreamIndexes) {
            EXPECT_TRUE(Seen.insert(Index).second) << "stream " << Index << " is in two programs";
            const TStreamFacts& Stream = Facts.Streams[static_cast<size_t>(Index)];
            if (Stream.Type == AVMEDIA_TYPE_VIDEO) {
                ++Videos;
                ExpectVideoStream(&Stream, Video, AV_CODEC_ID_MPEG2VIDEO);
            } else if (Stream.Type == AVMEDIA_TYPE_AUDIO) {
                ++Audios;
                ExpectAudioStream(&Stream, Audio, AV_CODEC_ID_MP2, 1152, ClipOrigin(Facts));
            }
        }
        EXPECT_EQ(Videos, 1);
        EXPECT_EQ(Audios, 1);
    }
}

// Lossless audio gives back exactly the samples that went in: the count, level and pitch.
void ExpectExactTone(const TClipSpec& Spec) {
    const TAudioSpec& Wanted = Spec.Audios[0];
    TDecodedAudio Audio;
    ASSERT_EQ(DecodeAudio(Spec.Path, 0, Audio), "");
    EXPECT_EQ(Audio.SampleRate, Wanted.SampleRate);
    ASSERT_EQ(Audio.Channels.size(), static_cast<size_t>(Wanted.Channels));
    for (const std::vector<float>& Channel : Audio.Channels) {
        EXPECT_EQ(Channel.size(), static_cast<size_t>(std::llround(Wanted.Duration * Wanted.SampleRate)));
        EXPECT_NEAR(Peak(Channel), kToneAmplitude, 0.002);
        EXPECT_NEAR(EstimateFrequency(Channel, Audio.SampleRate), Wanted.Frequency, 0.5);
        EXPECT_EQ(Channel, Audio.Channels[0]);
    }
}

TEST_F(testmedia, WavHoldsTheExactStereoTone) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Wav, Facts);
    EXPECT_EQ(Facts.FormatName, "wav");
    ASSERT_EQ(Facts.Streams.size(), 1u);
    ExpectAudioStream(FindStream(Facts, AVMEDIA_TYPE_AUDIO), Spec.Audios[0], AV_CODEC_ID_PCM_S16LE, 1,
                      ClipOrigin(Facts));
    ExpectExactTone(Spec);
}

TEST_F(testmedia, FlacHoldsTheExactMonoTone) {
    TClipFacts Facts;
    const TClipSpec Spec = WriteSample(TSampleKind::Flac, Facts);
    EXPECT_EQ(Facts.FormatName, "flac");
    ASSERT_EQ(Facts.Streams.size(), 1u);
    ExpectAudioStream(FindStream(Facts, AVMEDIA_TYPE_AUDIO), Spec.Audios[0], AV_CODEC_ID_FLAC, 4608,
                      ClipOrigin(Facts));
    ExpectExactTone(Spec);
}

TEST_F(testmedia, ImageSequenceIsNumberedPngFilesWithExactBars) {
    const TClipSpec Spec = SampleClip(TSampleKind::Images, FFolder.string());
    ASSERT_EQ(WriteClip(Spec), "");
    const int Frames = Spec.Videos[0].FrameCount;
    std::vector<std::string> Expected;
    for (int N = 1; N <= Frames; ++N) {
        char Name[32];
        std::snprintf(Name, sizeof(Name), "img%03d.png", N);
        Expected.push_back(Name);
    }
    std::vector<std::string> Names = FolderEntries();
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, Expected);

    TClipFacts Facts;
    ASSERT_EQ(InspectClip(Spec.Path, Facts), "");
    ASSERT_EQ(Facts.Streams.size(), 1u);
    EXPECT_EQ(Facts.Streams[0].CodecId, AV_CODEC_ID_PNG);
    EXPECT_EQ(Facts.Streams[0].Width, Spec.Videos[0].Width);
    EXPECT_EQ(Facts.Streams[0].Height, Spec.Videos[0].Height);
    EXPECT_EQ(Facts.Streams[0].PacketCount, Frames);

    std::vector<TRgbPicture> Pictures;
    ASSERT_EQ(DecodeVideo(Spec.Path, 0, Frames, Pictures), "");
    ASSERT_EQ(Pictures.size(), static_cast<size_t>(Frames));
    ExpectBars(Pictures[0], 0);
    for (int N = 0; N < Frames; ++N) {
        const TRgbPicture& P = Pictures[static_cast<size_t>(N)];
        EXPECT_EQ(ReadFrameCounter(P.Pixels.data(), P.Stride(), P.Width, P.Height), N);
    }
}

TEST_F(testmedia, FailuresExplainThemselvesAndLeaveNothingBehind) {
    TClipSpec UnknownEncoder = SampleClip(TSampleKind::Avi, PathFor("unknown.avi"));
    UnknownEncoder.Videos[0].Encoder = "no-such-encoder";
    EXPECT_NE(WriteClip(UnknownEncoder).find("no-such-encoder"), std::string::npos);

    TClipSpec UnknownOption = SampleClip(TSampleKind::Avi, PathFor("option.avi"));
    UnknownOption.Videos[0].Options = {{"no_such_option", "1"}};
    EXPECT_NE(WriteClip(UnknownOption).find("no_such_option"), std::string::npos);

    const TClipSpec MissingFolder = SampleClip(TSampleKind::Wav, PathFor("missing/clip.wav"));
    EXPECT_NE(WriteClip(MissingFolder), "");

    // MP4 has no place for subrip: the file exists by the time the header is refused.
    TClipSpec Refused = SampleClip(TSampleKind::Mp4, PathFor("refused.mp4"));
    Refused.Subtitle = TSubtitleSpec{"subrip", {{0.0, 0.5, "text"}}, ""};
    EXPECT_NE(WriteClip(Refused), "");

    TClipSpec UnknownMuxerOption = SampleClip(TSampleKind::Wav, PathFor("muxer.wav"));
    UnknownMuxerOption.MuxerOptions = {{"no_such_muxer_option", "1"}};
    EXPECT_NE(WriteClip(UnknownMuxerOption).find("no_such_muxer_option"), std::string::npos);

    TClipSpec BadProgram = SampleClip(TSampleKind::Ts, PathFor("program.ts"));
    BadProgram.Programs[1].StreamIndexes.push_back(StreamCount(BadProgram));
    EXPECT_NE(WriteClip(BadProgram), "");

    EXPECT_EQ(FolderEntries(), std::vector<std::string>{});
}

TEST_F(testmedia, FailedImageSequenceRemovesItsPictures) {
    // Without a number in the name the first picture is written and the second one fails.
    TClipSpec Spec = SampleClip(TSampleKind::Images, FFolder.string());
    Spec.Path = PathFor("still.png");
    ASSERT_GT(Spec.Videos[0].FrameCount, 1);
    EXPECT_NE(WriteClip(Spec), "");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{});
}

#ifdef ZEMBRA_TESTMEDIA_TOOL
int RunTool(const std::string& Arguments) {
    const int Status =
        std::system((std::string(ZEMBRA_TESTMEDIA_TOOL) + " " + Arguments + " 2>/dev/null").c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TEST_F(testmedia, ToolWritesTheRequestedKindAndRejectsBadArguments) {
    const std::string Wav = PathFor("tool.wav");
    ASSERT_EQ(RunTool("wav '" + Wav + "'"), 0);
    TClipFacts Facts;
    ASSERT_EQ(InspectClip(Wav, Facts), "");
    EXPECT_EQ(Facts.FormatName, "wav");

    const fs::path Images = FFolder / "pictures";
    ASSERT_EQ(RunTool("images '" + Images.string() + "'"), 0);
    EXPECT_TRUE(fs::exists(Images / "img001.png"));

    EXPECT_EQ(RunTool("no-such-kind '" + PathFor("x.bin") + "'"), 1);
    EXPECT_EQ(RunTool("wav"), 1);
    EXPECT_EQ(RunTool("mp4 '" + PathFor("missing/x.mp4") + "'"), 1);
    EXPECT_FALSE(fs::exists(PathFor("x.bin")));
}
#endif

}  // namespace
