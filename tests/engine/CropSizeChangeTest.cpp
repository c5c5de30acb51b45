// Crop bands follow a mid-stream change of the decoded picture size: the output shows the same
// part of the picture before and after it.

#include <fstream>
#include <iterator>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using CropSizeChange = TranscodeTest;

TEST_F(CropSizeChange, TheBandsCutTheSameShareOfTheNewSize) {
    // 160x120, then the same pattern at 320x240.
    std::string Joined;
    for (int Part = 0; Part < 2; ++Part) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Format("part%d.ts", Part));
        testmedia::TVideoSpec Video;
        Video.Encoder = "mpeg2video";
        Video.Width = 160 << Part;
        Video.Height = 120 << Part;
        Spec.Videos.push_back(Video);
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        std::ifstream In(Spec.Path, std::ios::binary);
        Joined += std::string((std::istreambuf_iterator<char>(In)), {});
    }
    std::ofstream(Path("both.ts"), std::ios::binary) << Joined;
    // A quarter off each side keeps the bars cyan to red (the third to the sixth of eight).
    ASSERT_EQ(Convert({Path("both.ts")}, Path("cropped.avi"), "", "cropleft=40\ncropright=40\nqscale=2"), "");
    EXPECT_TRUE(Logged("frame size changed to 320x240"));
    std::vector<testmedia::TRgbPicture> Pictures;
    ASSERT_EQ(testmedia::DecodeVideo(Path("cropped.avi"), 0, 0, Pictures), "");
    ASSERT_GT(Pictures.size(), 30u);
    const int Y = testmedia::CounterTop(120) / 2;
    const struct {
        int X;
        testmedia::TRgb Colour;
    } Probes[] = {{4, testmedia::kBarColours[2]},
                  {24, testmedia::kBarColours[3]},
                  {54, testmedia::kBarColours[4]},
                  {75, testmedia::kBarColours[5]}};
    for (size_t I = 0; I < Pictures.size(); ++I) {
        const testmedia::TRgbPicture& P = Pictures[I];
        ASSERT_EQ(P.Width, 80);
        ASSERT_EQ(P.Height, 120);
        for (const auto& Probe : Probes) {
            const testmedia::TRgb Got = P.At(Probe.X, Y);
            EXPECT_NEAR(Got.R, Probe.Colour.R, 48) << "picture " << I << " x " << Probe.X;
            EXPECT_NEAR(Got.G, Probe.Colour.G, 48) << "picture " << I << " x " << Probe.X;
            EXPECT_NEAR(Got.B, Probe.Colour.B, 48) << "picture " << I << " x " << Probe.X;
        }
    }
}

}  // namespace
}  // namespace zembra::testing
