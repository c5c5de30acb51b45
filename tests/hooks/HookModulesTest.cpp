#include <cmath>
#include <numbers>

#include <gif_lib.h>

#include <cstdio>

#include "hooks/kit/Expression.h"
#include "hooks/kit/Files.h"
#include "hooks/kit/Overlay.h"
#include "tests/hooks/HookTestSupport.h"

namespace zembra::testing {
namespace {

const std::string kHookFolder = ZEMBRA_VHOOK_DIR;
const std::string kOverlayModule = kHookFolder + "/imlib2.so";
const std::string kWatermarkModule = kHookFolder + "/watermark.so";
const std::string kDemoModule = kHookFolder + "/QuarnHook.so";
const std::string kOverlayPicture = kHookFolder + "/imlib2.jpg";
const std::string kWatermarkPicture = kHookFolder + "/watermark.gif";
const std::string kDemoPicture = kHookFolder + "/QuarnHook.bmp";

// The overlay picture is 96 x 72 with a light frame three pixels wide round a blue field and an
// orange disc in the middle; the demo picture is 64 x 64, an emblem on pure white; the
// watermark is 128 x 64, a light "Z" with a dark shadow on a transparent field.
constexpr int kOverlayW = 96, kOverlayH = 72;

class HookModules : public HookTest {
  protected:
    void TearDown() override {
        ReleaseFrameHooks(Chain);
        HookTest::TearDown();
    }
    int Add(std::vector<std::string> Arguments) { return AddFrameHook(Chain, Arguments); }

    TFrameHookChain Chain;
};

// ---- pictures -------------------------------------------------------------------------------

// An interlaced GIF stores its rows in four passes (0, 4, 2, 6, 1, 3, 5, 7 of eight); the
// picture must come out with every row in its place.
TEST(HookPictures, AnInterlacedGifKeepsItsRowsInPlace) {
    const std::string File = ::testing::TempDir() + "zembra-interlaced.gif";
    int Error = 0;
    GifFileType* Gif = EGifOpenFileName(File.c_str(), false, &Error);
    ASSERT_TRUE(Gif) << GifErrorString(Error);
    ColorMapObject* Map = GifMakeMapObject(16, nullptr);
    ASSERT_TRUE(Map);
    for (int I = 0; I < 16; ++I) Map->Colors[I] = {static_cast<GifByteType>(I * 16), 0, 0};
    bool Written = EGifPutScreenDesc(Gif, 2, 8, 4, 0, Map) == GIF_OK &&
                   EGifPutImageDesc(Gif, 0, 0, 2, 8, true, nullptr) == GIF_OK;
    for (const int Row : {0, 4, 2, 6, 1, 3, 5, 7}) {
        GifPixelType Line[2] = {static_cast<GifPixelType>(Row), static_cast<GifPixelType>(Row)};
        Written = Written && EGifPutLine(Gif, Line, 2) == GIF_OK;
    }
    Written = EGifCloseFile(Gif, &Error) == GIF_OK && Written;
    GifFreeMapObject(Map);
    ASSERT_TRUE(Written) << GifErrorString(Error);

    hooks::TOverlay Picture;
    std::string Why;
    ASSERT_TRUE(hooks::LoadPicture(File, Picture, Why)) << Why;
    std::remove(File.c_str());
    ASSERT_EQ(Picture.Height, 8);
    for (int Y = 0; Y < 8; ++Y) EXPECT_EQ(Picture.At(1, Y), hooks::Argb(255, Y * 16, 0, 0)) << "row " << Y;
}

// ---- the overlay module: pictures --------------------------------------------------------

TEST_F(HookModules, OverlayPictureAtTheBottomRightOfAYuvFrame) {
    ASSERT_EQ(Add({kOverlayModule, "-i", kOverlayPicture, "-x", "W-w", "-y", "H-h"}), 0) << AllLogLines();
    TTestFrame F(AV_PIX_FMT_YUV420P, 320, 240, 16, 128, 128);
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    const int X0 = 320 - kOverlayW, Y0 = 240 - kOverlayH;
    // Outside the picture nothing changes, right up to its edge.
    EXPECT_EQ(F.Luma(0, 0), 16);
    EXPECT_EQ(F.Luma(X0 - 1, Y0 - 1), 16);
    EXPECT_EQ(F.Luma(X0 - 1, 239), 16);
    EXPECT_EQ(F.Luma(319, Y0 - 1), 16);
    EXPECT_EQ(F.ChromaU(X0 - 2, Y0 - 2), 128);
    // Its light frame and its orange middle.
    EXPECT_GT(F.Luma(X0, Y0), 150);
    EXPECT_GT(F.Luma(319, 239), 150);
    const int CX = X0 + kOverlayW / 2, CY = Y0 + kOverlayH / 2;
    EXPECT_GT(F.Luma(CX, CY), 140);
    EXPECT_LT(F.Luma(CX, CY), 220);
    EXPECT_LT(F.ChromaU(CX, CY), 100);  // little blue
    EXPECT_GT(F.ChromaV(CX, CY), 145);  // much red
}

TEST_F(HookModules, OverlayPictureOnPackedFramesKeepsTheByteOrder) {
    ASSERT_EQ(Add({kOverlayModule, "-i", kOverlayPicture, "-x", "W-w", "-y", "H-h"}), 0) << AllLogLines();
    const int CX = 320 - kOverlayW / 2, CY = 240 - kOverlayH / 2;

    TTestFrame Bgr(AV_PIX_FMT_BGR24, 320, 240, 0, 0, 0);
    Bgr.Run(Chain);
    ASSERT_TRUE(Bgr.Intact());
    EXPECT_LT(Bgr.Byte(CX, CY, 0), 100);  // blue
    EXPECT_GT(Bgr.Byte(CX, CY, 1), 120);  // green
    EXPECT_GT(Bgr.Byte(CX, CY, 2), 200);  // red
    EXPECT_EQ(Bgr.Byte(320 - kOverlayW - 1, CY, 2), 0);
    EXPECT_EQ(Bgr.Byte(CX, 240 - kOverlayH - 1, 2), 0);

    TTestFrame Rgb(AV_PIX_FMT_RGB24, 320, 240, 0, 0, 0);
    Rgb.Run(Chain);
    ASSERT_TRUE(Rgb.Intact());
    EXPECT_GT(Rgb.Byte(CX, CY, 0), 200);  // red
    EXPECT_LT(Rgb.Byte(CX, CY, 2), 100);  // blue
}

TEST_F(HookModules, OverlayPositionFollowsTheFrameNumber) {
    const std::string X = "(W-w)*(0.5+0.5*sin(N/47*PI))";
    const std::string Y = "(H-h)*(0.5+0.5*cos(N/97*PI))";
    ASSERT_EQ(Add({kOverlayModule, "-i", kOverlayPicture, "-x", X, "-y", Y}), 0) << AllLogLines();
    for (int N = 0; N < 3; ++N) {
        TTestFrame F(AV_PIX_FMT_YUV420P, 320, 240, 16, 128, 128);
        F.Run(Chain, N * 40000);
        ASSERT_TRUE(F.Intact());
        const int Left =
            int(std::floor((320 - kOverlayW) * (0.5 + 0.5 * std::sin(N / 47.0 * std::numbers::pi))));
        const int Top =
            int(std::floor((240 - kOverlayH) * (0.5 + 0.5 * std::cos(N / 97.0 * std::numbers::pi))));
        const int Row = std::min(Top + 30, 239);
        EXPECT_GT(F.Luma(Left, Row), 150) << "frame " << N << " left " << Left;
        EXPECT_EQ(F.Luma(Left - 1, Row), 16) << "frame " << N << " left " << Left;
        EXPECT_EQ(F.Luma(Left + 30, Top - 1), 16) << "frame " << N << " top " << Top;
    }
}

TEST_F(HookModules, OverlayPictureFoundBesideTheModuleByItsName) {
    ASSERT_EQ(Add({kOverlayModule, "-i", "imlib2.jpg"}), 0) << AllLogLines();
    TTestFrame F(AV_PIX_FMT_BGR24, 100, 80, 0, 0, 0);
    F.Run(Chain);
    EXPECT_GT(F.Byte(48, 36, 2), 200);
}

// ---- the overlay module: text ------------------------------------------------------------

// The bounding box and count of the pixels that differ from black in a packed frame.
struct TChanged {
    int Count = 0, MinX = INT32_MAX, MinY = INT32_MAX, MaxX = -1, MaxY = -1;
    bool OnlyRed = true;
};
TChanged ChangedPixels(TTestFrame& F) {
    TChanged C;
    for (int Y = 0; Y < F.Height; ++Y)
        for (int X = 0; X < F.Width; ++X) {
            const int B = F.Byte(X, Y, 0), G = F.Byte(X, Y, 1), R = F.Byte(X, Y, 2);
            if (!B && !G && !R) continue;
            ++C.Count;
            C.MinX = std::min(C.MinX, X), C.MaxX = std::max(C.MaxX, X);
            C.MinY = std::min(C.MinY, Y), C.MaxY = std::max(C.MaxY, Y);
            if (B || G) C.OnlyRed = false;
        }
    return C;
}

TEST_F(HookModules, OverlayTextInItsColourAtItsPlace) {
    ASSERT_EQ(Add({kOverlayModule, "-R", "255", "-G", "0", "-B", "0", "-F", "Tahoma.ttf/16", "-t", "ZIVOZ",
                   "-x", "10", "-y", "10"}),
              0)
        << AllLogLines();
    TTestFrame F(AV_PIX_FMT_BGR24, 200, 60, 0, 0, 0);
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    const TChanged C = ChangedPixels(F);
    EXPECT_GT(C.Count, 50);
    EXPECT_TRUE(C.OnlyRed);
    EXPECT_GE(C.MinX, 9);
    EXPECT_LE(C.MinX, 14);
    EXPECT_GE(C.MinY, 10);
    EXPECT_LE(C.MinY, 16);  // the capitals start a little below the top of the line
    EXPECT_LE(C.MaxY, 10 + 20);
    EXPECT_GT(C.MaxX, 10 + 40);
    EXPECT_LT(C.MaxX, 10 + 90);
}

TEST_F(HookModules, OverlayTextScrollingLineOfTheDialog) {
    ASSERT_EQ(Add({kOverlayModule, "-R", "255", "-G", "255", "-B", "255", "-F", "Tahoma.ttf/16", "-t",
                   "ZIVOZ", "-x", "10", "-y", "(H-25)*(0.5+0.50*cos(N/97*PI))"}),
              0)
        << AllLogLines();
    TTestFrame F(AV_PIX_FMT_YUV420P, 160, 120, 16, 128, 128);
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    // Frame 0: the line starts at H-25 = 95.
    int Top = -1;
    for (int Y = 0; Y < 120 && Top < 0; ++Y)
        for (int X = 0; X < 160; ++X)
            if (F.Luma(X, Y) != 16) {
                Top = Y;
                break;
            }
    EXPECT_GE(Top, 95);
    EXPECT_LE(Top, 101);
}

TEST_F(HookModules, TextSplitAtItsBlanksIsJoinedAgain) {
    // A hook line separated by blanks splits a text with blanks into words.
    for (const std::string& Module : {kOverlayModule, kDemoModule}) {
        const bool Overlay = Module == kOverlayModule;
        const std::string X = Overlay ? "-x" : "-tx", Y = Overlay ? "-y" : "-ty";
        TFrameHookChain Whole, Words;
        ASSERT_EQ(
            AddFrameHook(Whole, std::vector<std::string>{Module, "-t", "Hello big world", X, "4", Y, "4"}),
            0);
        ASSERT_EQ(
            AddFrameHook(Words, SplitHookOptionText(Module + " -t Hello big world " + X + " 4 " + Y + " 4")),
            0)
            << AllLogLines();
        TTestFrame A(AV_PIX_FMT_BGR24, 240, 40, 0, 0, 0), B = A;
        A.Run(Whole);
        B.Run(Words);
        EXPECT_EQ(A.Differences(B), 0u) << Module;
        EXPECT_GT(ChangedPixels(A).MaxX, 100) << Module;  // all three words are there
    }
}

// ---- the overlay module: frames it must not harm ----------------------------------------

TEST_F(HookModules, PositionsOutsideTheFrameChangeNothing) {
    for (const auto& [X, Y] : std::vector<std::pair<std::string, std::string>>{{"W", "0"},
                                                                               {"-w", "0"},
                                                                               {"0", "H"},
                                                                               {"0", "-h"},
                                                                               {"1/0", "0"},
                                                                               {"0", "0/0"},
                                                                               {"-1e15", "5"},
                                                                               {"W*1e12", "H"}}) {
        TFrameHookChain Own;
        ASSERT_EQ(AddFrameHook(Own, std::vector<std::string>{kOverlayModule, "-i", kOverlayPicture, "-t",
                                                             "ZIVOZ", "-x", X, "-y", Y}),
                  0)
            << AllLogLines();
        TTestFrame F(AV_PIX_FMT_YUV420P, 64, 48, 16, 128, 128);
        const TTestFrame Before = F;
        F.Run(Own);
        EXPECT_EQ(F.Differences(Before), 0u) << X << ", " << Y;
    }
}

TEST_F(HookModules, TinyAndOddFramesStayInsideTheirPlanes) {
    ASSERT_EQ(Add({kOverlayModule, "-i", kOverlayPicture, "-t", "ZIVOZ", "-x", "W/2-w/2", "-y", "H/2-h/2"}),
              0);
    ASSERT_EQ(Add({kWatermarkModule, "-f", kWatermarkPicture, "-m", "1"}), 0) << AllLogLines();
    ASSERT_EQ(
        Add({kDemoModule, "-i", kDemoPicture, "-ix", "-3", "-iy", "-3", "-t", "Q", "-tx", "0", "-ty", "0"}),
        0);
    for (int Format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, AV_PIX_FMT_RGB24})
        for (const auto& [W, H] :
             std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {1, 2}, {3, 3}, {5, 3}, {7, 9}}) {
            TTestFrame F(Format, W, H, 40, 90, 200);
            F.Run(Chain);
            EXPECT_TRUE(F.Intact()) << "format " << Format << " " << W << "x" << H;
        }
}

TEST_F(HookModules, FramesOfOtherFormatsOrWithoutPlanesAreLeftAlone) {
    ASSERT_EQ(Add({kOverlayModule, "-i", kOverlayPicture}), 0);
    ASSERT_EQ(Add({kWatermarkModule, "-f", kWatermarkPicture}), 0);
    ASSERT_EQ(Add({kDemoModule, "-i", kDemoPicture, "-ix", "0", "-iy", "0"}), 0);
    for (int Format : {AV_PIX_FMT_NV12, AV_PIX_FMT_GRAY8, AV_PIX_FMT_YUYV422, AV_PIX_FMT_RGBA}) {
        TTestFrame F(AV_PIX_FMT_YUV420P, 64, 48, 16, 128, 128);
        F.Format = Format;
        const TTestFrame Before = F;
        F.Run(Chain);
        EXPECT_EQ(F.Differences(Before), 0u) << "format " << Format;
    }
    // Missing chroma planes or line sizes shorter than a row.
    TTestFrame F(AV_PIX_FMT_YUV420P, 64, 48, 16, 128, 128);
    const TTestFrame Before = F;
    uint8_t* Data[4] = {F.Data[0], nullptr, F.Data[2], nullptr};
    ProcessFrameHooks(Chain, Data, F.Linesize, AV_PIX_FMT_YUV420P, 64, 48, 0);
    int Short[4] = {32, F.Linesize[1], F.Linesize[2], 0};
    ProcessFrameHooks(Chain, F.Data, Short, AV_PIX_FMT_YUV420P, 64, 48, 0);
    EXPECT_EQ(F.Differences(Before), 0u);
}

TEST_F(HookModules, ArgumentsTheModulesCannotUseAreRefused) {
    const std::vector<std::vector<std::string>> Bad = {
        {kOverlayModule},
        {kOverlayModule, "-x", "W-"},
        {kOverlayModule, "-i", kOverlayPicture, "-x", "foo(1)"},
        {kOverlayModule, "-i", kHookFolder + "/no-such-picture.jpg"},
        {kOverlayModule, "-q", "1", "-t", "a"},
        {kOverlayModule, "-R", "300", "-t", "a"},
        {kOverlayModule, "-t"},
        {kOverlayModule, "-t", "a", "-F", "Tahoma.ttf/0"},
        {kWatermarkModule},
        {kWatermarkModule, "-f", kWatermarkPicture, "-m", "2"},
        {kDemoModule, "-t", "a", "-fst", "X"},
        {kDemoModule, "-i", kDemoPicture, "-ix"},
        {kDemoModule, "-i", kDemoPicture, "-mc", "GGGGGG"},
        {kDemoModule, "-t", "a", "-fs", "big"},
    };
    for (const std::vector<std::string>& Args : Bad) {
        LogLines.clear();
        EXPECT_EQ(Add(Args), -22) << Args.back();
        EXPECT_TRUE(Logged("Failed to Configure " + Args[0])) << AllLogLines();
    }
    EXPECT_TRUE(Chain.Empty());
}

// ---- the watermark module ---------------------------------------------------------------

// The watermark stretched over a 256 x 128 frame is twice its size: the "Z"'s top bar runs
// through frame row 24, its bottom bar's shadow through row 116, and the field round it is
// transparent.
TEST_F(HookModules, WatermarkModeZeroShadesTheBrightnessOnly) {
    ASSERT_EQ(Add({kWatermarkModule, "-f", kWatermarkPicture, "-m", "0"}), 0) << AllLogLines();
    TTestFrame F(AV_PIX_FMT_YUV420P, 256, 128, 128, 100, 150);
    const TTestFrame Before = F;
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    EXPECT_GT(F.Luma(128, 24), 190);  // lightened by the light bar
    EXPECT_LT(F.Luma(128, 116), 80);  // darkened by the shadow
    EXPECT_EQ(F.Luma(10, 10), 128);   // the transparent field
    EXPECT_EQ(F.Luma(250, 120), 128);
    EXPECT_EQ(F.Buffer[1], Before.Buffer[1]);  // colours stay
    EXPECT_EQ(F.Buffer[2], Before.Buffer[2]);

    TTestFrame P(AV_PIX_FMT_BGR24, 256, 128, 100, 100, 100);
    P.Run(Chain);
    for (int C = 0; C < 3; ++C) {
        EXPECT_NEAR(P.Byte(128, 24, C), 100 + 102, 2);
        EXPECT_NEAR(P.Byte(128, 116, C), 100 - 88, 2);
        EXPECT_EQ(P.Byte(10, 10, C), 100);
    }
}

TEST_F(HookModules, WatermarkModeOneTintsAtHalfStrength) {
    ASSERT_EQ(Add({kWatermarkModule, "-f", kWatermarkPicture, "-m", "1"}), 0) << AllLogLines();
    TTestFrame P(AV_PIX_FMT_BGR24, 256, 128, 100, 100, 100);
    P.Run(Chain);
    ASSERT_TRUE(P.Intact());
    for (int C = 0; C < 3; ++C) {
        EXPECT_NEAR(P.Byte(128, 24, C), (100 + 230) / 2, 2);
        EXPECT_NEAR(P.Byte(128, 116, C), (100 + 40) / 2, 2);
        EXPECT_EQ(P.Byte(10, 10, C), 100);
    }
    // A grey mark on a coloured frame pulls its colour towards grey.
    TTestFrame F(AV_PIX_FMT_YUV420P, 256, 128, 128, 60, 200);
    F.Run(Chain);
    EXPECT_GT(F.ChromaU(128, 24), 60);
    EXPECT_LT(F.ChromaV(128, 24), 200);
    EXPECT_EQ(F.ChromaU(10, 10), 60);
}

TEST_F(HookModules, WatermarkFollowsFrameSizeChanges) {
    ASSERT_EQ(Add({kWatermarkModule, "-f", kWatermarkPicture, "-m", "1"}), 0);
    TTestFrame First(AV_PIX_FMT_BGR24, 256, 128, 100, 100, 100);
    First.Run(Chain);
    TTestFrame Small(AV_PIX_FMT_BGR24, 128, 64, 100, 100, 100);
    Small.Run(Chain);
    EXPECT_TRUE(Small.Intact());
    EXPECT_NEAR(Small.Byte(64, 12, 1), (100 + 230) / 2, 2);
    TTestFrame Again(AV_PIX_FMT_BGR24, 256, 128, 100, 100, 100);
    Again.Run(Chain);
    EXPECT_EQ(Again.Differences(First), 0u);
}

// ---- the demo module --------------------------------------------------------------------

TEST_F(HookModules, DemoPictureKeyColourLeavesTheFrameShowing) {
    ASSERT_EQ(Add({kDemoModule, "-i", kDemoPicture, "-mc", "FFFFFF", "-ix", "10", "-iy", "10"}), 0)
        << AllLogLines();
    TTestFrame F(AV_PIX_FMT_BGR24, 128, 96, 10, 20, 30);
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    // The picture's white corners are its key: the frame shows through.
    for (const auto& [X, Y] : std::vector<std::pair<int, int>>{{10, 10}, {73, 10}, {10, 73}, {12, 14}}) {
        EXPECT_EQ(F.Byte(X, Y, 0), 10) << X << "," << Y;
        EXPECT_EQ(F.Byte(X, Y, 1), 20) << X << "," << Y;
        EXPECT_EQ(F.Byte(X, Y, 2), 30) << X << "," << Y;
    }
    // Its dark blue middle and yellow ring are drawn as they are.
    EXPECT_EQ(F.Byte(42, 42, 0), 140);
    EXPECT_EQ(F.Byte(42, 42, 1), 40);
    EXPECT_EQ(F.Byte(42, 42, 2), 0);
    EXPECT_EQ(F.Byte(57, 42, 0), 0);
    EXPECT_EQ(F.Byte(57, 42, 1), 210);
    EXPECT_EQ(F.Byte(57, 42, 2), 250);
}

TEST_F(HookModules, DemoPictureWithoutKeyCoversTheFrame) {
    ASSERT_EQ(Add({kDemoModule, "-i", kDemoPicture, "-ix", "10", "-iy", "10"}), 0) << AllLogLines();
    TTestFrame F(AV_PIX_FMT_BGR24, 128, 96, 10, 20, 30);
    F.Run(Chain);
    EXPECT_EQ(F.Byte(10, 10, 0), 255);
    EXPECT_EQ(F.Byte(10, 10, 2), 255);
    EXPECT_EQ(F.Byte(9, 10, 0), 10);
}

TEST_F(HookModules, DemoPictureKeyColourOnAYuvFrame) {
    ASSERT_EQ(Add({kDemoModule, "-i", kDemoPicture, "-mc", "FFFFFF", "-ix", "10", "-iy", "10"}), 0);
    TTestFrame F(AV_PIX_FMT_YUV420P, 128, 96, 100, 90, 160);
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    for (int Y = 10; Y < 14; ++Y)
        for (int X = 10; X < 14; ++X) {
            EXPECT_EQ(F.Luma(X, Y), 100);
            EXPECT_EQ(F.ChromaU(X, Y), 90);
            EXPECT_EQ(F.ChromaV(X, Y), 160);
        }
    EXPECT_LT(F.Luma(42, 42), 60);
    EXPECT_GT(F.ChromaU(42, 42), 150);  // dark blue
}

TEST_F(HookModules, DemoPicturePlacedByTheDialogsNumbersNearTheCorner) {
    // The dialog puts the picture 10 pixels from the right and bottom edges.
    ASSERT_EQ(Add({kDemoModule, "-i", kDemoPicture, "-mc", "FFFFFF", "-ix", std::to_string(320 - 64 - 10),
                   "-iy", std::to_string(240 - 64 - 10)}),
              0);
    TTestFrame F(AV_PIX_FMT_BGR24, 320, 240, 0, 0, 0);
    F.Run(Chain);
    EXPECT_EQ(F.Byte(320 - 64 - 10 + 32, 240 - 64 - 10 + 32, 0), 140);
    EXPECT_EQ(F.Byte(315, 235, 0), 0);
}

// The row with the longest run of changed pixels, as a share of the text's width.
double LongestRunShare(TTestFrame& F) {
    const TChanged C = ChangedPixels(F);
    if (C.Count == 0) return 0;
    int Best = 0;
    for (int Y = C.MinY; Y <= C.MaxY; ++Y) {
        int Run = 0;
        for (int X = C.MinX; X <= C.MaxX; ++X) {
            Run = F.Byte(X, Y, 2) > 200 ? Run + 1 : 0;
            Best = std::max(Best, Run);
        }
    }
    return double(Best) / (C.MaxX - C.MinX + 1);
}

TEST_F(HookModules, DemoTextInItsColourWithUnderline) {
    ASSERT_EQ(Add({kDemoModule, "-t", "ZIVOZ", "-tx", "10", "-ty", "10", "-fc", "FF0000", "-fn", "Tahoma",
                   "-fs", "16", "-fst", "BU"}),
              0)
        << AllLogLines();
    TTestFrame F(AV_PIX_FMT_BGR24, 300, 80, 0, 0, 0);
    F.Run(Chain);
    ASSERT_TRUE(F.Intact());
    const TChanged C = ChangedPixels(F);
    EXPECT_TRUE(C.OnlyRed);
    EXPECT_GE(C.MinX, 9);
    EXPECT_GE(C.MinY, 10);
    // 16 points are about 21 pixels: five bold capitals are well over 60 pixels wide.
    EXPECT_GT(C.MaxX - C.MinX, 60);
    EXPECT_GT(LongestRunShare(F), 0.9);

    TFrameHookChain Plain;
    ASSERT_EQ(
        AddFrameHook(Plain, std::vector<std::string>{kDemoModule, "-t", "ZIVOZ", "-tx", "10", "-ty", "10",
                                                     "-fc", "FF0000", "-fn", "Tahoma", "-fs", "16"}),
        0);
    TTestFrame G(AV_PIX_FMT_BGR24, 300, 80, 0, 0, 0);
    G.Run(Plain);
    EXPECT_LT(LongestRunShare(G), 0.5);
    EXPECT_LT(ChangedPixels(G).Count, C.Count);  // bold and underline add ink
}

// ---- position expressions ----------------------------------------------------------------

double Evaluate(const std::string& Text, hooks::TExpressionValues V = {}) {
    hooks::TExpression E;
    std::string Error;
    EXPECT_TRUE(E.Parse(Text, Error)) << Text << ": " << Error;
    return E.Evaluate(V);
}

bool Parses(const std::string& Text) {
    hooks::TExpression E;
    std::string Error;
    return E.Parse(Text, Error);
}

TEST(PositionExpression, ArithmeticAndNames) {
    EXPECT_DOUBLE_EQ(Evaluate("1+2*3"), 7);
    EXPECT_DOUBLE_EQ(Evaluate("(1+2)*3"), 9);
    EXPECT_DOUBLE_EQ(Evaluate("10-4-3"), 3);
    EXPECT_DOUBLE_EQ(Evaluate("12/4/3"), 1);
    EXPECT_DOUBLE_EQ(Evaluate("-2*-3"), 6);
    EXPECT_DOUBLE_EQ(Evaluate(" 0.5 + .25 "), 0.75);
    EXPECT_DOUBLE_EQ(Evaluate("2e2"), 200);
    EXPECT_DOUBLE_EQ(Evaluate("PI"), std::numbers::pi);
    EXPECT_NEAR(Evaluate("sin(PI/2)+cos(0)"), 2, 1e-12);
    const hooks::TExpressionValues V{320, 240, 96, 72, 47};
    EXPECT_DOUBLE_EQ(Evaluate("W-w", V), 224);
    EXPECT_DOUBLE_EQ(Evaluate("H-h", V), 168);
    EXPECT_NEAR(Evaluate("(W-w)*(0.5+0.5*sin(N/47*PI))", V), 112, 1e-9);
    EXPECT_NEAR(Evaluate("(H-25)*(0.5+0.50*cos(N/97*PI))", V),
                215 * (0.5 + 0.5 * std::cos(47.0 / 97 * std::numbers::pi)), 1e-9);
    EXPECT_TRUE(std::isinf(Evaluate("1/0")));
}

TEST(PositionExpression, MalformedTextIsRefused) {
    for (const char* Bad : {"", "W-", "(1", "1)", "sin 1", "foo", "w w", "1..2", "2*", "Pi", "sin()", "x"})
        EXPECT_FALSE(Parses(Bad)) << Bad;
    EXPECT_FALSE(Parses(std::string(5000, '(') + "1" + std::string(5000, ')')));
    EXPECT_FALSE(Parses(std::string(5000, '-') + "1"));
}

}  // namespace
}  // namespace zembra::testing
