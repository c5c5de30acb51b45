#include "tests/probe/ProbeTestSupport.h"

namespace zembra::probetest {
namespace {

// Lossy codecs move a flat bar's colour by a few steps; a wrong bar is off by 255 somewhere.
constexpr int kLossyTolerance = 24;
// Lossless pictures converted between RGB orders keep their values.
constexpr int kExact = 0;

TClipSpec OneVideo(const char* Container, TVideoSpec Video) {
    TClipSpec Spec;
    Spec.Container = Container;
    Spec.Videos = {std::move(Video)};
    return Spec;
}

TClipSpec Mpeg4Avi(int FrameCount = 25) {
    TClipSpec Spec = OneVideo("avi", VideoClip("mpeg4", 160, 120, FrameCount));
    Spec.Audios = {AudioClip("mp2", 44100, 2)};
    return Spec;
}

class probeFrames : public ProbeTest {
  protected:
    void Load(TAVProbe& Probe, const std::string& Path) {
        ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    }
};

struct TCodecCase {
    const char* Container;
    const char* Encoder;
    const char* File;
    testmedia::TOptions Options;
};

void PrintTo(const TCodecCase& Case, std::ostream* Out) {
    *Out << Case.Encoder << " in " << Case.Container;
}

class probeFramesByCodec : public probeFrames, public ::testing::WithParamInterface<TCodecCase> {};

TEST_P(probeFramesByCodec, FirstPictureAfterSeekToZeroThenTheFollowingOnes) {
    const TCodecCase& Case = GetParam();
    if (!lavc.avcodec_find_encoder_by_name(Case.Encoder)) GTEST_SKIP() << "no encoder " << Case.Encoder;
    TVideoSpec Video = VideoClip(Case.Encoder, 160, 120, 12);
    Video.Options = Case.Options;
    const std::string Path = Write(OneVideo(Case.Container, Video), Case.File);
    TAVProbe Probe;
    Load(Probe, Path);

    ASSERT_TRUE(Probe.Seek(-1, 0)) << Probe.LastError();
    const TBitmap& First = Probe.GetFrame(-1);
    ASSERT_EQ(First.Width(), 160);
    ASSERT_EQ(First.Height(), 120);
    EXPECT_TRUE(Probe.LastReadSucceeded());
    ExpectBars(First, kLossyTolerance);
    EXPECT_EQ(FrameCounterOf(First), 0);
    EXPECT_EQ(Probe.PictureTime(), 0);
    EXPECT_TRUE(Probe.LastFrameConverted());
    EXPECT_EQ(FrameCounterOf(Probe.GetLastFrame()), 0);

    for (int N = 1; N < 12; ++N) {
        EXPECT_EQ(FrameCounterOf(Probe.GetFrame(-1)), N) << Probe.LastError();
        EXPECT_EQ(Probe.PictureTime(), N * 40000);
    }
    // The decoder gives up the pictures it held back, then the stream ends.
    EXPECT_TRUE(AllBlack(Probe.GetFrame(-1)));
    EXPECT_EQ(Probe.LastError(), "stream eof reached.");
    EXPECT_FALSE(Probe.LastReadSucceeded());
    EXPECT_EQ(FrameCounterOf(Probe.GetLastFrame()), 11);

    // Seeking back starts over, also after the decoder was drained.
    ASSERT_TRUE(Probe.Seek(-1, 0)) << Probe.LastError();
    EXPECT_EQ(FrameCounterOf(Probe.GetFrame(-1)), 0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, probeFramesByCodec,
                         ::testing::Values(TCodecCase{"avi", "mpeg4", "clip.avi", {}},
                                           TCodecCase{"mpegts", "mpeg2video", "clip.ts", {}},
                                           TCodecCase{
                                               "mp4", "libx264", "clip.mp4", {{"preset", "ultrafast"}}},
                                           TCodecCase{"ogg", "libtheora", "clip.ogg", {}}),
                         [](const auto& Info) { return std::string(Info.param.Container); });

TEST_F(probeFrames, ATargetPastTheEndGivesTheLastPictureAndReadingOnGivesBlack) {
    GetLogger().SetLogLevel(llDebug);
    TAVProbe Probe;
    Load(Probe, Write(Mpeg4Avi(), "clip.avi"));
    ASSERT_EQ(FrameCounterOf(Probe.GetFrame(-1)), 0);

    // The stream ends before the target: its last picture is what is shown then.
    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 5000000)), 24) << Probe.LastError();
    EXPECT_TRUE(Probe.LastReadSucceeded());
    EXPECT_EQ(Probe.PictureTime(), 960000);
    const int64_t Packets = Probe.PacketsRead();
    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 5000000)), 24);
    EXPECT_EQ(Probe.PacketsRead(), Packets);

    for (int Read = 1; Read <= 2; ++Read) {
        const TBitmap& Black = Probe.GetFrame(-1);
        EXPECT_EQ(Black.Width(), 160);
        EXPECT_EQ(Black.Height(), 120);
        EXPECT_TRUE(AllBlack(Black));
        EXPECT_EQ(Probe.LastError(), "stream eof reached.");
        EXPECT_EQ(CountLogged("stream eof reached.", llDebug), Read);
        EXPECT_FALSE(Probe.LastReadSucceeded());
        EXPECT_EQ(Probe.PictureTime(), -1);
    }
    // The last good picture is kept for the actual-size view.
    EXPECT_EQ(FrameCounterOf(Probe.GetLastFrame()), 24);
}

TEST_F(probeFrames, ATargetIsReachedAndTheSameTargetIsNotReadTwice) {
    // Every picture of a PNG stream is a key picture, so a seek lands exactly.
    const std::string Path = Write(OneVideo("matroska", VideoClip("png", 160, 120, 25)), "intra.mkv");
    TAVProbe Probe;
    Load(Probe, Path);
    const TBitmap& At = Probe.ReadFrame(-1, 400000);
    EXPECT_EQ(FrameCounterOf(At), 10) << Probe.LastError();
    EXPECT_EQ(Probe.PictureTime(), 400000);
    ExpectBars(At, kExact);

    const int64_t Packets = Probe.PacketsRead();
    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 400000)), 10);
    EXPECT_TRUE(Probe.LastReadSucceeded());
    EXPECT_EQ(Probe.PictureTime(), 400000);
    EXPECT_EQ(Probe.PacketsRead(), Packets);

    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 600000)), 15);
    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 0)), 0);
}

TEST_F(probeFrames, AStillPictureSequenceAlwaysGivesItsFirstPicture) {
    Write(OneVideo("image2", VideoClip("png", 160, 120, 5)), "img%03d.png");
    TAVProbe Probe;
    Load(Probe, PathFor("img%03d.png"));
    ASSERT_EQ(Probe.GetFormatName(), "image2");

    const TBitmap& First = Probe.GetFrame(-1);
    EXPECT_EQ(FrameCounterOf(First), 0) << Probe.LastError();
    ExpectBars(First, kExact);
    EXPECT_TRUE(Probe.IsImageSequence());
    const int64_t Packets = Probe.PacketsRead();

    EXPECT_EQ(FrameCounterOf(Probe.GetFrame(-1)), 0);
    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 120000)), 0);
    EXPECT_TRUE(Probe.Seek(-1, 100000));
    EXPECT_EQ(CountLogged("\"image2\" format cannot to be seeked.", llInfo), 1);
    EXPECT_EQ(FrameCounterOf(Probe.GetFrame(-1)), 0);
    EXPECT_TRUE(Probe.LastReadSucceeded());
    EXPECT_EQ(Probe.PacketsRead(), Packets);
}

// A song's cover is one picture in the header: every time shows it, and nothing seeks for it.
TEST_F(probeFrames, ACoverIsTheSamePictureAtEveryTimeWithoutSeeking) {
    TClipSpec Spec = OneVideo("flac", VideoClip("png", 160, 120, 1));
    Spec.Videos[0].AttachedPicture = true;
    Spec.Audios = {AudioClip("flac", 44100, 2, 3.0)};
    TAVProbe Probe;
    Load(Probe, Write(Spec, "song.flac"));
    ASSERT_GE(Probe.FirstVideoStreamIndex(), 0);
    for (const int64_t Time : {int64_t{0}, int64_t{2000000}, int64_t{0}}) {
        SCOPED_TRACE(Time);
        EXPECT_TRUE(Probe.Seek(-1, Time));
        const TBitmap& Cover = Probe.GetFrame(-1);
        ASSERT_EQ(Cover.Width(), 160) << Probe.LastError();
        ASSERT_EQ(Cover.Height(), 120);
        ExpectBars(Cover, kLossyTolerance);
        EXPECT_TRUE(Probe.LastReadSucceeded());
    }
    ExpectBars(Probe.ReadFrame(-1, 2500000), kLossyTolerance);
    for (const auto& [Level, Message] : Logged) EXPECT_GT(Level, llError) << Message;
}

TEST_F(probeFrames, AnOddWidthIsConvertedIntoPaddedRows) {
    const std::string Path = Write(
        OneVideo("matroska", VideoClip("png", 161, 121, 5, AVRational{25, 1}, AV_PIX_FMT_RGB24)), "odd.mkv");
    TAVProbe Probe;
    Load(Probe, Path);
    const TBitmap& Picture = Probe.GetFrame(-1);
    ASSERT_EQ(Picture.Width(), 161) << Probe.LastError();
    EXPECT_EQ(Picture.Height(), 121);
    EXPECT_EQ(Picture.Stride(), 484);
    EXPECT_TRUE(Probe.LastFrameConverted());
    ExpectBars(Picture, kExact);
    EXPECT_EQ(FrameCounterOf(Picture), 0);
    // The last column is a whole pixel, not padding.
    EXPECT_EQ(PixelAt(Picture, 160, 10), testmedia::ExpectedBarColour(160, 161));
}

TEST_F(probeFrames, BgrPicturesAreCopiedAndOthersConverted) {
    const struct {
        AVPixelFormat Format;
        int Width;
        bool Converted;
    } Cases[] = {
        {AV_PIX_FMT_BGR24, 160, false},  // rows of 480 bytes, as the bitmap's
        {AV_PIX_FMT_BGR24, 162, true},   // rows of 486 bytes against the bitmap's 488
        {AV_PIX_FMT_RGB24, 160, true},
    };
    for (const auto& Case : Cases) {
        const std::string Name = Format("raw%d-%d.nut", static_cast<int>(Case.Format), Case.Width);
        const std::string Path = Write(
            OneVideo("nut", VideoClip("rawvideo", Case.Width, 120, 3, AVRational{25, 1}, Case.Format)), Name);
        TAVProbe Probe;
        Load(Probe, Path);
        const TBitmap& Picture = Probe.GetFrame(-1);
        ASSERT_EQ(Picture.Width(), Case.Width) << Name << ": " << Probe.LastError();
        EXPECT_EQ(Probe.LastFrameConverted(), Case.Converted) << Name;
        ExpectBars(Picture, kExact);
        EXPECT_EQ(FrameCounterOf(Picture), 0) << Name;
        EXPECT_EQ(FrameCounterOf(Probe.GetFrame(-1)), 1) << Name;
    }
}

TEST_F(probeFrames, ReadsThatCannotBeDoneSayWhyAndGiveAnEmptyPicture) {
    TClipSpec Wav;
    Wav.Container = "wav";
    Wav.Audios = {AudioClip("pcm_s16le", 8000, 1)};
    TAVProbe Probe;
    Load(Probe, Write(Wav, "tone.wav"));
    EXPECT_TRUE(Probe.GetFrame(-1).Empty());
    EXPECT_EQ(Probe.LastError(), "no video stream.");
    EXPECT_EQ(CountLogged("no video stream.", llError), 1);

    Load(Probe, Write(Mpeg4Avi(), "clip.avi"));
    ASSERT_FALSE(Probe.GetFrame(-1).Empty());
    EXPECT_TRUE(Probe.ReadFrame(7, -1).Empty());
    EXPECT_EQ(Probe.LastError(), "stream index #7 is invalid.");
    EXPECT_EQ(CountLogged("stream index #7 is invalid.", llError), 1);
    EXPECT_TRUE(Probe.ReadFrame(1, 0).Empty());
    EXPECT_EQ(Probe.LastError(), "stream #1 is not video stream.");
    EXPECT_EQ(CountLogged("stream #1 is not video stream.", llError), 1);
    EXPECT_FALSE(Probe.LastReadSucceeded());
    EXPECT_EQ(FrameCounterOf(Probe.GetLastFrame()), 0);

    EXPECT_FALSE(Probe.Seek(7, 0));
    EXPECT_EQ(Probe.LastError(), "stream index #7 is invalid.");
    EXPECT_TRUE(Probe.Seek(1, 200000)) << Probe.LastError();
}

TEST_F(probeFrames, DecoderFailuresSayWhichStream) {
    TAVProbe Probe;
    Load(Probe, Write(Mpeg4Avi(), "clip.avi"));
    AVCodecParameters* Par = Probe.Context()->streams[0]->codecpar;

    Par->codec_id = AV_CODEC_ID_NONE;
    EXPECT_TRUE(Probe.GetFrame(0).Empty());
    EXPECT_EQ(Probe.LastError(), "Unsupported codec (id=0) for input file stream #0");

    // A sound decoder cannot open on a picture stream.
    Par->codec_id = AV_CODEC_ID_PCM_S16LE;
    EXPECT_TRUE(Probe.GetFrame(0).Empty());
    EXPECT_EQ(Probe.LastError(), "Error while opening codec for input file stream #0");
    EXPECT_EQ(CountLogged("Error while opening codec for input file stream #0", llError), 1);

    Par->codec_id = AV_CODEC_ID_MPEG4;
    Par->width = 0;
    EXPECT_TRUE(Probe.GetFrame(0).Empty());
    EXPECT_EQ(Probe.LastError(), "frame size of codec is invalid");
    EXPECT_EQ(CountLogged("frame size of codec is invalid.", llError), 1);

    Par->width = 160;
    ASSERT_TRUE(Probe.Seek(0, 0));
    EXPECT_EQ(FrameCounterOf(Probe.GetFrame(0)), 0) << Probe.LastError();
}

TEST_F(probeFrames, ClosingForgetsPicturesAndReaderState) {
    TAVProbe Probe;
    Load(Probe, Write(Mpeg4Avi(), "clip.avi"));
    ASSERT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 0)), 0);
    ASSERT_TRUE(Probe.LastReadSucceeded());
    Probe.Close();
    EXPECT_TRUE(Probe.GetLastFrame().Empty());
    EXPECT_FALSE(Probe.LastReadSucceeded());
    EXPECT_FALSE(Probe.IsImageSequence());
    EXPECT_EQ(Probe.PictureTime(), -1);
    EXPECT_TRUE(Probe.GetFrame(-1).Empty());
    EXPECT_EQ(Probe.LastError(), "file not loaded.");

    // A new file starts from a clean reader, even for the target read just before.
    Load(Probe, Write(Mpeg4Avi(3), "short.avi"));
    EXPECT_EQ(FrameCounterOf(Probe.ReadFrame(-1, 0)), 0);
}

}  // namespace
}  // namespace zembra::probetest
