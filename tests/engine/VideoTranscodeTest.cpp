#include <cmath>
#include <cstdlib>

#include "engine/CodecThreads.h"
#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using testmedia::TRgb;
using testmedia::TSampleKind;
using VideoTranscode = TranscodeTest;

bool Near(TRgb A, TRgb B, int Tolerance) {
    return std::abs(int(A.R) - B.R) <= Tolerance && std::abs(int(A.G) - B.G) <= Tolerance &&
           std::abs(int(A.B) - B.B) <= Tolerance;
}

std::string Show(TRgb C) {
    return Format("(%d,%d,%d)", C.R, C.G, C.B);
}

testmedia::TRgbPicture FirstPicture(const std::string& File, int Stream = 0) {
    std::vector<testmedia::TRgbPicture> Pictures;
    EXPECT_EQ(testmedia::DecodeVideo(File, Stream, 1, Pictures), "");
    return Pictures.empty() ? testmedia::TRgbPicture{} : Pictures[0];
}

constexpr TRgb kWhite{255, 255, 255}, kYellow{255, 255, 0}, kBlue{0, 0, 255}, kMagenta{255, 0, 255},
    kRed{255, 0, 0}, kBlack{0, 0, 0};

TEST_F(VideoTranscode, CommonContainers) {
    const std::string Avi = Sample(TSampleKind::Avi);
    ASSERT_EQ(Convert({Avi}, Path("out.mp4"), "", ""), "");
    testmedia::TClipFacts F = Facts(Path("out.mp4"));
    ASSERT_EQ(F.Streams.size(), 2u);
    EXPECT_EQ(F.Streams[0].CodecId, AV_CODEC_ID_H264);
    EXPECT_EQ(F.Streams[0].PacketCount, 25);
    EXPECT_EQ(F.Streams[1].CodecId, AV_CODEC_ID_AAC);

    ASSERT_EQ(Convert({Avi}, Path("divx.avi"), "", "vcodec=mpeg4\nvtag=DIVX"), "");
    F = Facts(Path("divx.avi"));
    ASSERT_EQ(F.Streams.size(), 2u);
    EXPECT_EQ(F.Streams[0].CodecTag, MKTAG('D', 'I', 'V', 'X'));
    EXPECT_EQ(F.Streams[1].CodecId, AV_CODEC_ID_MP3);

    ASSERT_EQ(Convert({Avi}, Path("dvd.mpg"), "", "target=pal-dvd"), "");
    F = Facts(Path("dvd.mpg"));
    const testmedia::TStreamFacts* V = nullptr;
    const testmedia::TStreamFacts* A = nullptr;
    for (const auto& St : F.Streams) {  // the DVD muxer adds its navigation stream
        if (St.Type == AVMEDIA_TYPE_VIDEO) V = &St;
        if (St.Type == AVMEDIA_TYPE_AUDIO) A = &St;
    }
    ASSERT_TRUE(V && A);
    EXPECT_EQ(V->CodecId, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(V->Width, 720);
    EXPECT_EQ(V->Height, 576);
    EXPECT_EQ(A->CodecId, AV_CODEC_ID_AC3);
    EXPECT_EQ(A->SampleRate, 48000);
}

TEST_F(VideoTranscode, DoubleFrameRateRepeatsEveryFrame) {
    ASSERT_EQ(Convert({Sample(TSampleKind::Avi)}, Path("fifty.avi"), "", "an\nr=50\nvsync=1\nv=3"), "");
    const testmedia::TClipFacts F = Facts(Path("fifty.avi"));
    ASSERT_EQ(F.Streams.size(), 1u);
    int Dups = 0;
    for (const std::string& L : LogLines) Dups += L == "*** 1 dup!";
    // Every frame after the first two is repeated once: each is two ticks ahead of the last.
    EXPECT_EQ(Dups, 23);
    EXPECT_EQ(F.Streams[0].PacketCount, 25 + Dups);
}

TEST_F(VideoTranscode, CropThenScale) {
    // 160 wide, 20 pixels a bar: cutting 20 from each side leaves bars 1 to 6.
    ASSERT_EQ(Convert({Sample(TSampleKind::Avi)}, Path("crop.avi"), "",
                      "an\ncropleft=20\ncropright=20\ns=240x120\nqscale=2"),
              "");
    const testmedia::TRgbPicture P = FirstPicture(Path("crop.avi"));
    ASSERT_EQ(P.Width, 240);
    ASSERT_EQ(P.Height, 120);
    EXPECT_TRUE(Near(P.At(4, 40), kYellow, 48)) << Show(P.At(4, 40));
    EXPECT_TRUE(Near(P.At(235, 40), kBlue, 48)) << Show(P.At(235, 40));
}

TEST_F(VideoTranscode, PadWithAColour) {
    ASSERT_EQ(Convert({Sample(TSampleKind::Avi)}, Path("pad.avi"), "",
                      "an\npadtop=16\npadbottom=16\npadcolor=255\nqscale=2"),
              "");
    const testmedia::TRgbPicture P = FirstPicture(Path("pad.avi"));
    ASSERT_EQ(P.Width, 160);
    ASSERT_EQ(P.Height, 152);
    EXPECT_TRUE(Near(P.At(80, 4), kRed, 48)) << Show(P.At(80, 4));
    EXPECT_TRUE(Near(P.At(80, 148), kRed, 48)) << Show(P.At(80, 148));
    EXPECT_TRUE(Near(P.At(90, 60), kMagenta, 48)) << Show(P.At(90, 60));
}

// Pad and deinterlace on pictures whose planes are not one a component: packed 4:2:2 puts a
// pixel in two bytes, NV12 shares one plane between both chroma components.
TEST_F(VideoTranscode, PackedAndSemiPlanarPictures) {
    const std::string Avi = Sample(TSampleKind::Avi);
    ASSERT_EQ(Convert({Avi}, Path("yuyv.avi"), "", "an\nvcodec=rawvideo\npix_fmt=yuyv422\npadleft=100"), "");
    testmedia::TRgbPicture P = FirstPicture(Path("yuyv.avi"));
    ASSERT_EQ(P.Width, 260);
    EXPECT_TRUE(Near(P.At(50, 60), kBlack, 48)) << Show(P.At(50, 60));
    EXPECT_TRUE(Near(P.At(105, 60), kWhite, 48)) << Show(P.At(105, 60));
    EXPECT_TRUE(Near(P.At(130, 60), kYellow, 48)) << Show(P.At(130, 60));

    // Scaled into the padded picture: every row stays inside its buffer.
    ASSERT_EQ(Convert({Avi}, Path("yuyv-scaled.avi"), "",
                      "an\nvcodec=rawvideo\npix_fmt=uyvy422\ns=80x60\npadleft=100"),
              "");
    P = FirstPicture(Path("yuyv-scaled.avi"));
    ASSERT_EQ(P.Width, 180);
    EXPECT_TRUE(Near(P.At(103, 30), kWhite, 48)) << Show(P.At(103, 30));
    EXPECT_TRUE(Near(P.At(115, 30), kYellow, 48)) << Show(P.At(115, 30));

    ASSERT_EQ(Convert({Avi}, Path("nv12.avi"), "", "an\nvcodec=rawvideo\npix_fmt=nv12\npadleft=16"), "");
    P = FirstPicture(Path("nv12.avi"));
    ASSERT_EQ(P.Width, 176);
    EXPECT_TRUE(Near(P.At(8, 60), kBlack, 48)) << Show(P.At(8, 60));
    EXPECT_TRUE(Near(P.At(20, 60), kWhite, 48)) << Show(P.At(20, 60));
    // An NV12 source cannot be deinterlaced by our filter: said, and the pictures go on as they are.
    ASSERT_EQ(Convert({Path("nv12.avi")}, Path("nv12-deint.avi"), "", "deinterlace=1\nqscale=2"), "");
    EXPECT_TRUE(Logged("Deinterlacing failed."));
    EXPECT_EQ(Facts(Path("nv12-deint.avi")).Streams[0].PacketCount, 25);
}

// A filtered input feeding two video outputs gives both the filtered pictures' size.
TEST_F(VideoTranscode, TwoOutputsOfAFilteredInput) {
    ASSERT_EQ(
        Convert({Sample(TSampleKind::Avi)}, Path("twice.avi"), "", "an\nvfilters=scale=80:60\nnewvideo=1"),
        "");
    const testmedia::TClipFacts F = Facts(Path("twice.avi"));
    ASSERT_EQ(F.Streams.size(), 2u);
    for (const auto& St : F.Streams) {
        EXPECT_EQ(St.Width, 80);
        EXPECT_EQ(St.Height, 60);
        EXPECT_EQ(St.PacketCount, 25);
    }
    EXPECT_EQ(FirstPicture(Path("twice.avi"), 1).Width, 80);
}

TEST_F(VideoTranscode, VideoFilters) {
    const std::string Avi = Sample(TSampleKind::Avi);
    ASSERT_EQ(Convert({Avi}, Path("hflip.avi"), "", "an\nvfilters=hflip\nqscale=2"), "");
    {
        const testmedia::TRgbPicture P = FirstPicture(Path("hflip.avi"));
        EXPECT_TRUE(Near(P.At(5, 40), kBlack, 48)) << Show(P.At(5, 40));
        EXPECT_TRUE(Near(P.At(154, 40), kWhite, 48)) << Show(P.At(154, 40));
    }
    ASSERT_EQ(Convert({Avi}, Path("negate.avi"), "", "an\nvfilters=negate\nqscale=2"), "");
    EXPECT_TRUE(Near(FirstPicture(Path("negate.avi")).At(5, 40), kBlack, 48));
    ASSERT_EQ(Convert({Avi}, Path("scale.avi"), "", "an\nvfilters=scale=320:240"), "");
    const testmedia::TClipFacts F = Facts(Path("scale.avi"));
    EXPECT_EQ(F.Streams[0].Width, 320);
    EXPECT_EQ(F.Streams[0].Height, 240);
    ASSERT_EQ(Convert({Avi}, Path("negpad.avi"), "", "an\nvfilters=negate\npadtop=8"), "");
    EXPECT_EQ(Facts(Path("negpad.avi")).Streams[0].Height, 128);
    const std::string Bad = Convert({Avi}, Path("bad.avi"), "", "an\nvfilters=nosuchfilter");
    EXPECT_EQ(Bad.substr(0, 37), "Error opening filters: nosuchfilter: ") << Bad;
    EXPECT_FALSE(FileExistsW(W(Path("bad.avi"))));
}

TEST_F(VideoTranscode, AMidStreamSizeChangeKeepsTheOutputSize) {
    std::string Joined;
    for (int Part = 0; Part < 2; ++Part) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Format("part%d.ts", Part));
        testmedia::TVideoSpec Video;
        Video.Encoder = "mpeg2video";
        Video.Width = Part == 0 ? 160 : 176;
        Video.Height = Part == 0 ? 120 : 144;
        Spec.Videos.push_back(Video);
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        std::ifstream In(Spec.Path, std::ios::binary);
        Joined += std::string((std::istreambuf_iterator<char>(In)), {});
    }
    std::ofstream(Path("both.ts"), std::ios::binary) << Joined;
    ASSERT_EQ(Convert({Path("both.ts")}, Path("kept.avi"), "", "s=160x120"), "");
    std::vector<testmedia::TRgbPicture> Pictures;
    ASSERT_EQ(testmedia::DecodeVideo(Path("kept.avi"), 0, 0, Pictures), "");
    ASSERT_GT(Pictures.size(), 30u);
    for (const auto& P : Pictures) {
        EXPECT_EQ(P.Width, 160);
        EXPECT_EQ(P.Height, 120);
    }
    EXPECT_TRUE(Logged("frame size changed to 176x144"));
}

TEST_F(VideoTranscode, CustomHookPaintsOrLeavesTheFrame) {
    const std::string Avi = Sample(TSampleKind::Avi);
    TFFmpeg Job1;
    int Calls = 0;
    Job1.ResetJob();
    Job1.SetOnCustomHook([&](TCustomFFmpeg&, TBitmap& B, int32_t, int64_t, bool& Update, bool&) {
        ++Calls;
        B.Fill(0, 0, 255);  // red in BGR, but not kept
        Update = false;
    });
    ASSERT_EQ(Convert({Avi}, Path("unchanged.avi"), "", "an\nqscale=2", false, &Job1), "");
    EXPECT_EQ(Calls, 25);
    EXPECT_TRUE(Near(FirstPicture(Path("unchanged.avi")).At(5, 40), kWhite, 48));

    TFFmpeg Job2;
    Job2.ResetJob();
    Job2.SetOnCustomHook(
        [&](TCustomFFmpeg&, TBitmap& B, int32_t, int64_t, bool&, bool&) { B.Fill(0, 0, 255); });
    ASSERT_EQ(Convert({Avi}, Path("painted.avi"), "", "an\nqscale=2", false, &Job2), "");
    EXPECT_TRUE(Near(FirstPicture(Path("painted.avi")).At(5, 40), kRed, 48));

    TFFmpeg Job3;
    Job3.ResetJob();
    int StopCalls = 0;
    Job3.SetOnCustomHook([&](TCustomFFmpeg&, TBitmap&, int32_t, int64_t, bool&, bool& Stop) {
        ++StopCalls;
        Stop = true;
    });
    ASSERT_EQ(Convert({Avi}, Path("stopped.avi"), "", "an", false, &Job3), "");
    EXPECT_EQ(StopCalls, 1);
    EXPECT_EQ(Convert({Avi}, Path("copy.avi"), "", "an\nvcodec=copy", false, &Job3),
              "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
}

TEST_F(VideoTranscode, PreviewBitmapsAndAMissingWindow) {
    const std::string Avi = Sample(TSampleKind::Avi);
    TFFmpeg Job1;
    Job1.ResetJob();
    int Previews = 0, Width = 0;
    Job1.SetPreviewFlags(2);
    Job1.SetOnPreviewBitmap([&](TCustomFFmpeg&, TBitmap& B, int32_t, int64_t) {
        ++Previews;
        Width = B.Width();
    });
    ASSERT_EQ(Convert({Avi}, Path("preview.avi"), "", "an", false, &Job1), "");
    EXPECT_GE(Previews, 1);
    EXPECT_EQ(Width, 160);

    // No window factory (no windowing here): the window flag goes off and the run goes on.
    TFFmpeg Job2;
    Job2.ResetJob();
    Job2.SetPreviewFlags(1);
    ASSERT_EQ(Convert({Avi}, Path("window.avi"), "", "an", false, &Job2), "");
    EXPECT_EQ(Job2.PreviewFlags(), 0);
    EXPECT_EQ(Facts(Path("window.avi")).Streams[0].PacketCount, 25);
}

// Slice threads and a decoder's frame threads are kept for pictures large enough to pay for
// them; frame- and self-threaded encoders always get every core.
TEST_F(VideoTranscode, CodecThreadsFollowThePictureSize) {
    const AVCodec* Mpeg4 = lavc.avcodec_find_encoder_by_name("mpeg4");
    ASSERT_TRUE(Mpeg4);
    ASSERT_FALSE(Mpeg4->capabilities & (AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_OTHER_THREADS));
    const struct {
        int Width, Height, Threads;
    } Sizes[] = {{0, 0, 1},      {480, 360, 1},   {640, 480, 1},    {1279, 720, 1},
                 {1280, 720, 0}, {1920, 1080, 0}, {65536, 65536, 0}};  // the last: no overflow
    for (const auto& Size : Sizes) {
        EXPECT_EQ(VideoEncoderThreadCount(Mpeg4, Size.Width, Size.Height), Size.Threads)
            << Size.Width << "x" << Size.Height;
        EXPECT_EQ(VideoDecoderThreadCount(Size.Width, Size.Height), Size.Threads)
            << Size.Width << "x" << Size.Height;
    }
    const AVCodec* X264 = lavc.avcodec_find_encoder_by_name("libx264");
    ASSERT_TRUE(X264);
    EXPECT_EQ(VideoEncoderThreadCount(X264, 320, 240), 0);
}

// Only a plain positive number limits the library threads; anything else leaves them alone.
TEST(CodecThreads, LimitComesFromAPlainNumber) {
    const struct {
        const char* Text;
        int Limit;
    } Cases[] = {{nullptr, 0},         {"", 0}, {"1", 1}, {"4", 4}, {"0", 0}, {"-1", 0}, {"1x", 0}, {" 2", 0},
                 {"99999999999999", 0}};
    for (const auto& C : Cases)
        EXPECT_EQ(ParseCodecThreadLimit(C.Text), C.Limit) << (C.Text ? C.Text : "(unset)");
}

}  // namespace
}  // namespace zembra::testing
