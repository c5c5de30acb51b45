#include <cmath>

#include "tests/engine/MediaTestSupport.h"

namespace zembra::testing {
namespace {

using testmedia::TSampleKind;
using InputFiles = MediaEngineTest;

TEST_F(InputFiles, OpenErrorTexts) {
    const std::string Missing = Path("missing.avi");
    EXPECT_FALSE(Open(Missing));
    EXPECT_EQ(Job.LastError(), Missing + ": no such file or directory");
    const std::string Random = RandomFile("noise.avi", 4096);
    EXPECT_FALSE(Open(Random));
    EXPECT_EQ(Job.LastError(), Random + ": Unknown format");
    EXPECT_FALSE(Open(Dir));
    EXPECT_EQ(Job.LastError(), Dir + ": Error while opening file: Is a directory");
    std::ofstream(Path("empty.mp3")).close();
    EXPECT_FALSE(Open(Path("empty.mp3")));
    EXPECT_EQ(Job.LastError().substr(0, Path("empty.mp3").size()), Path("empty.mp3"));
    EXPECT_EQ(Job.InputFileCount(), 0);
}

TEST_F(InputFiles, ErrorTextTable) {
    EXPECT_EQ(OpenErrorText(u"a.jpg", -33),
              "a.jpg: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
              "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
              "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.");
    EXPECT_EQ(OpenErrorText(u"f", -22), "f: Error while parsing header");
    EXPECT_EQ(OpenErrorText(u"f", -12), "f: memory allocation error occurred");
    EXPECT_EQ(OpenErrorText(u"f", -5),
              "f: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.");
    EXPECT_EQ(OpenErrorText(u"f", -1234), "f: Error while opening file");
    EXPECT_EQ(LegacyOpenError(AVERROR(ENOENT)), -2);
    EXPECT_EQ(LegacyOpenError(AVERROR_INVALIDDATA), -22);
    EXPECT_EQ(LegacyOpenError(AVERROR_EOF), -5);
}

TEST_F(InputFiles, TruncatedFileFailsWithAHeaderError) {
    const std::string Mp4 = Sample(TSampleKind::Mp4);
    // The index of this MP4 sits at its end; half the file has none.
    std::filesystem::resize_file(Mp4, std::filesystem::file_size(Mp4) / 2);
    EXPECT_FALSE(Open(Mp4));
    EXPECT_EQ(Job.LastError(), Mp4 + ": Error while parsing header");
}

TEST_F(InputFiles, ForcedDecodersAreChecked) {
    const std::string Avi = Sample(TSampleKind::Avi);
    ASSERT_EQ(ErrorOf("vcodec=mp3"), "");
    EXPECT_FALSE(Open(Avi));
    EXPECT_EQ(Job.LastError(), "Invalid decoder type 'mp3'");
    EXPECT_EQ(Job.Settings().VideoCodecName, "");  // consumed by the failed open
    ASSERT_EQ(ErrorOf("acodec=nosuch"), "");
    EXPECT_FALSE(Open(Avi));
    EXPECT_EQ(Job.LastError(), "Unknown decoder 'nosuch'");
    ASSERT_EQ(ErrorOf("acodec=mp3float"), "");
    ASSERT_TRUE(Open(Avi)) << Job.LastError();
    ASSERT_EQ(Job.InputDecoders().size(), 2u);
    EXPECT_EQ(Job.InputDecoders()[0], nullptr);
    ASSERT_NE(Job.InputDecoders()[1], nullptr);
    EXPECT_STREQ(Job.InputDecoders()[1]->name, "mp3float");
    EXPECT_EQ(Job.Settings().AudioCodecName, "");
}

TEST_F(InputFiles, SettingsAdoptedFromTheInput) {
    ASSERT_TRUE(Open(Sample(TSampleKind::Flac))) << Job.LastError();
    EXPECT_EQ(Job.Settings().AudioSampleRate, 22050);
    EXPECT_EQ(Job.Settings().AudioChannels, 1);
    ASSERT_TRUE(Open(Sample(TSampleKind::Avi))) << Job.LastError();
    EXPECT_EQ(Job.Settings().FrameWidth, 160);
    EXPECT_EQ(Job.Settings().FrameHeight, 120);
    EXPECT_NEAR(Job.Settings().FrameAspectRatio, 4.0 / 3.0, 1e-5);
    EXPECT_EQ(Job.Settings().FrameRate.num, 25);
    EXPECT_EQ(Job.Settings().FrameRate.den, 1);
    EXPECT_EQ(Job.Settings().FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(Job.Settings().AudioSampleRate, 44100);
    EXPECT_EQ(Job.InputFileCount(), 2);
    EXPECT_TRUE(Logged("Input #1"));  // the format dump went through the log
    ASSERT_NE(Job.InputCodec(1, 0), nullptr);
    EXPECT_EQ(Job.InputCodec(1, 0)->codec_type, AVMEDIA_TYPE_VIDEO);
}

TEST_F(InputFiles, AspectFromASampleAspectRatio) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path("sar.mkv");
    testmedia::TVideoSpec Video;
    Video.Width = 176;
    Video.Height = 144;
    Video.FrameCount = 5;
    Video.Options = {{"aspect", "16:15"}};
    Spec.Videos.push_back(Video);
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    ASSERT_TRUE(Open(Spec.Path)) << Job.LastError();
    EXPECT_NEAR(Job.Settings().FrameAspectRatio, 16.0 / 15.0 * 176.0 / 144.0, 1e-4);
}

TEST_F(InputFiles, StartPositionAndTimeOffset) {
    const std::string Ts = Sample(TSampleKind::Ts);
    ASSERT_EQ(ErrorOf("ss=0.5"), "");
    ASSERT_TRUE(Open(Ts)) << Job.LastError();
    const int64_t Start = Job.InputFile(0)->start_time;
    ASSERT_NE(Start, AV_NOPTS_VALUE);
    EXPECT_GT(Start, 0);  // MPEG-TS does not start at 0
    EXPECT_EQ(Job.InputFileTsOffset(0), -(500000 + Start));
    EXPECT_EQ(Job.Settings().StartTime, 0);  // used up

    // Without "ss" the offset still takes the file's start away; "copyts" keeps it.
    ASSERT_TRUE(Open(Ts));
    EXPECT_EQ(Job.InputFileTsOffset(1), -Start);
    ASSERT_EQ(ErrorOf("copyts\nitsoffset=2"), "");
    ASSERT_TRUE(Open(Ts));
    EXPECT_EQ(Job.InputFileTsOffset(2), 2000000);
}

TEST_F(InputFiles, TotalDurationIsTheLongestInput) {
    ASSERT_TRUE(Open(Wav("one.wav", 1.0)));
    ASSERT_TRUE(Open(Wav("three.wav", 3.0)));
    ASSERT_TRUE(Open(Wav("two.wav", 2.0)));
    EXPECT_NEAR(Job.TotalDuration(), 3000, 30);
}

TEST_F(InputFiles, DisabledKindsAreDiscardedButKeepTheirDecoderEntry) {
    ASSERT_EQ(ErrorOf("vn\nan"), "");
    ASSERT_TRUE(Open(Sample(TSampleKind::Avi))) << Job.LastError();
    EXPECT_EQ(Job.InputDecoders().size(), 2u);
    EXPECT_EQ(Job.InputFile(0)->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_EQ(Job.InputFile(0)->streams[1]->discard, AVDISCARD_ALL);
}

TEST_F(InputFiles, ProgramSelectionDiscardsTheOthers) {
    const std::string Ts = Sample(TSampleKind::Ts);
    ASSERT_TRUE(Open(Ts));
    AVFormatContext* First = Job.InputFile(0);
    ASSERT_EQ(First->nb_programs, 2u);
    const int Wanted = First->programs[1]->id;
    ASSERT_EQ(ErrorOf("programid=" + std::to_string(Wanted)), "");
    ASSERT_TRUE(Open(Ts));
    AVFormatContext* Second = Job.InputFile(1);
    for (unsigned I = 0; I < Second->nb_programs; ++I)
        EXPECT_EQ(Second->programs[I]->discard == AVDISCARD_ALL, Second->programs[I]->id != Wanted);
}

TEST_F(InputFiles, NamesOutsideTheLocaleOpenThroughTheProtocol) {
    const std::string Name = Wav("\xe9\x9f\xb3\xe6\xa5\xbd (1) 'x'.wav", 1.0);  // 音楽
    ASSERT_TRUE(Open(Name)) << Job.LastError();
    EXPECT_EQ(std::string(Job.InputFile(0)->url).rfind("unicode:utf8:", 0), 0u);
    EXPECT_EQ(Job.Settings().AudioSampleRate, 44100);
    Job.CleanUp();  // closes our I/O context too
    EXPECT_EQ(Job.InputFileCount(), 0);
    EXPECT_TRUE(FileExistsW(W(Name)));  // inputs are never touched
}

TEST_F(InputFiles, TheInputTableHasABound) {
    const std::string One = Wav("one.wav", 0.2);
    for (int I = 0; I < kMaxFiles; ++I) ASSERT_TRUE(Open(One)) << I << ": " << Job.LastError();
    EXPECT_FALSE(Open(One));
    EXPECT_EQ(Job.LastError(), "Too many input files (at most 20)");
    EXPECT_EQ(Job.InputFileCount(), kMaxFiles);
}

}  // namespace
}  // namespace zembra::testing
