#include <gtest/gtest.h>

#include <vector>

#include "app/HookSchedule.h"

namespace zembra {
namespace {

TEST(HookScheduleTest, BeforeHookAnswersByTime) {
    const std::vector<std::pair<int64_t, THookAction>> Cases = {
        {-1, haContinue},         {0, haContinue},       {4'999'999, haContinue},
        {5'000'000, haIgnore},    {9'999'999, haIgnore}, {10'000'000, haContinue},
        {14'999'999, haContinue}, {15'000'000, haStop},  {INT64_MAX, haStop},
    };
    for (const auto& [PTS, Action] : Cases) EXPECT_EQ(BeforeHookAction(PTS), Action) << PTS;
}

TEST(HookScheduleTest, CustomHookStepsByFrameRange) {
    const THookFont Start{0xFFFFFF, 12, true, true};
    const THookFont Red{0xFF0000, 16, true, true};
    const THookFont WhiteBold{0xFFFFFF, 16, true, false};
    const THookFont Regular{0xFFFFFF, 16, false, false};
    struct TCase {
        int Frame;
        const char* Text;
        THookFont Font;
        bool Icon, Update, Stop;
        TFlip Flip;
    };
    const std::vector<TCase> Cases = {
        {1, "ZIVOZ - Frame Number: 1", Start, false, true, false, TFlip::None},
        {99, "ZIVOZ - Frame Number: 99", Start, false, true, false, TFlip::None},
        {100, "", Start, false, false, false, TFlip::None},
        {149, "", Start, false, false, false, TFlip::None},
        {150, "ZIVOZ - Time Stamp: 6000000000", Start, false, true, false, TFlip::None},
        {249, "ZIVOZ - Time Stamp: 6000000000", Start, false, true, false, TFlip::None},
        {250, "ZIVOZ", Red, true, true, false, TFlip::None},
        {349, "ZIVOZ", Red, true, true, false, TFlip::None},
        {350, "Reverse Picture Vertically", WhiteBold, false, true, false, TFlip::Vertical},
        {449, "Reverse Picture Vertically", WhiteBold, false, true, false, TFlip::Vertical},
        {450, "Reverse Picture Horizontally", Regular, false, true, false, TFlip::Horizontal},
        {549, "Reverse Picture Horizontally", Regular, false, true, false, TFlip::Horizontal},
        {550, "", Regular, false, true, true, TFlip::None},
    };
    for (const TCase& C : Cases) {
        const TCustomHookStep S = CustomHookStep(C.Frame, 6'000'000'000);
        EXPECT_EQ(S.Text, C.Text) << C.Frame;
        EXPECT_EQ(S.Font, C.Font) << C.Frame;
        EXPECT_EQ(S.DrawIcon, C.Icon) << C.Frame;
        EXPECT_EQ(S.Update, C.Update) << C.Frame;
        EXPECT_EQ(S.StopHook, C.Stop) << C.Frame;
        EXPECT_EQ(S.Flip, C.Flip) << C.Frame;
    }
}

// Pixel (x, y) gets the colour (x, y, 7) as B, G, R; odd sizes leave the middle in place.
TEST(HookScheduleTest, FlipsMoveEveryPixelToItsMirrorPlace) {
    for (const auto& [W, H] : std::vector<std::pair<int, int>>{{5, 3}, {4, 4}, {1, 2}, {7, 1}}) {
        TBitmap B(W, H);
        for (int Y = 0; Y < H; ++Y)
            for (int X = 0; X < W; ++X) {
                uint8_t* P = B.ScanLine(Y) + X * 3;
                P[0] = static_cast<uint8_t>(X);
                P[1] = static_cast<uint8_t>(Y);
                P[2] = 7;
            }
        const TBitmap Original = B;
        FlipVertically(B);
        for (int Y = 0; Y < H; ++Y)
            for (int X = 0; X < W; ++X) {
                const uint8_t* P = B.ScanLine(Y) + X * 3;
                EXPECT_EQ(P[0], X);
                EXPECT_EQ(P[1], H - 1 - Y);
                EXPECT_EQ(P[2], 7);
            }
        B = Original;
        FlipHorizontally(B);
        for (int Y = 0; Y < H; ++Y) {
            for (int X = 0; X < W; ++X) {
                const uint8_t* P = B.ScanLine(Y) + X * 3;
                EXPECT_EQ(P[0], W - 1 - X);
                EXPECT_EQ(P[1], Y);
                EXPECT_EQ(P[2], 7);
            }
            // The row's padding bytes are not pixels and stay as they were.
            for (int I = W * 3; I < B.Stride(); ++I) EXPECT_EQ(B.ScanLine(Y)[I], Original.ScanLine(Y)[I]);
        }
    }
}

}  // namespace
}  // namespace zembra
