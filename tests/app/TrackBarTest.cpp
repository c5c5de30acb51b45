#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/FormatSummary.h"
#include "app/OptionBuilder.h"
#include "app/OutputFolder.h"
#include "app/TrackBar.h"

namespace zembra::testing {
namespace {

struct TSetupCase {
    int64_t DurationUs;
    int64_t Step;
    int32_t Positions;
    int32_t Tick;
    int32_t Line;
    int32_t Page;
};

TEST(appTrackBar, SetupArithmeticFollowsTheDuration) {
    const TSetupCase Cases[] = {
        {60'000'000, 10'000, 6000, 300, 100, 500},                // a minute
        {7'200'000'000, 1'000'000, 7200, 360, 100, 500},          // two hours
        {327'670, 10, 32767, 1638, 1000, 5000},                   // exactly the most positions
        {327'680, 100, 3276, 163, 100, 500},                      // one more microsecond-step
        {1'000'000, 100, 10000, 500, 100, 500},                   // 10000 positions: not above
        {1'000'100, 100, 10001, 500, 1000, 5000},                 // above 10000
        {1'000, 1, 1000, 50, 10, 50},                             // 1000 positions: not above
        {100, 1, 100, 5, 1, 5},                                   // 100 positions: not above
        {19, 1, 19, 0, 1, 5},                                     // fewer positions than tick slots
        {0, 1, 0, 0, 1, 5},                                       // empty
        {-1, 1, 0, 0, 1, 5},                                      // unknown duration
        {INT64_MAX, 1'000'000'000'000'000, 9223, 461, 100, 500},  // no overflow at the far end
    };
    for (const TSetupCase& C : Cases) {
        const TTrackBarSetup S = TrackBarSetup(C.DurationUs);
        EXPECT_EQ(S.Step, C.Step) << C.DurationUs;
        EXPECT_EQ(S.Positions, C.Positions) << C.DurationUs;
        EXPECT_EQ(S.TickFrequency, C.Tick) << C.DurationUs;
        EXPECT_EQ(S.LineSize, C.Line) << C.DurationUs;
        EXPECT_EQ(S.PageSize, C.Page) << C.DurationUs;
        // Every position stands for a time inside the source.
        if (C.DurationUs >= 0) {
            EXPECT_LE(S.Positions * S.Step, C.DurationUs);
        }
    }
    // A narrower bar spaces the ticks wider: (100 - 12) / 10 = 8 slots.
    EXPECT_EQ(TrackBarSetup(60'000'000, 100).TickFrequency, 750);
    EXPECT_EQ(TrackBarSetup(60'000'000, 10).TickFrequency, 0);
}

TEST(appTrackBar, TimesAndMarksAsTheDialogShowsThem) {
    EXPECT_EQ(FormatSecondsMs(5025678000), "5025.678");
    EXPECT_EQ(FormatSecondsMs(0), "0.000");
    EXPECT_EQ(FormatSecondsMs(999), "0.000");
    EXPECT_EQ(FormatSecondsMs(1'001'000), "1.001");
    EXPECT_EQ(FormatSecondsMs(59'990'000), "59.990");
    EXPECT_EQ(FormatSecondsMs(7'200'000'000), "7200.000");
    EXPECT_EQ(PTSText(0, 10'000), "PTS: 0.000");
    EXPECT_EQ(PTSText(3000, 10'000), "PTS: 30.000");
    EXPECT_EQ(PTSText(5999, 10'000), "PTS: 59.990");

    // The maximum seeks to the duration itself, so the last picture can be reached.
    EXPECT_EQ(PreviewSeekTime(6000, 6000, 10'000, 60'004'000), 60'004'000);
    EXPECT_EQ(PreviewSeekTime(5999, 6000, 10'000, 60'004'000), 59'990'000);
    EXPECT_EQ(PreviewSeekTime(0, 0, 1, 0), 0);

    EXPECT_EQ(MarkMs(1234, 10'000), 12'340);
    EXPECT_EQ(MarkMs(7, 100), 0);  // truncates
    EXPECT_EQ(MarkMs(32767, 1'000'000), 32'767'000);

    EXPECT_TRUE(CutClipUsable(0, 1));
    EXPECT_TRUE(CutClipUsable(100, 200));
    EXPECT_FALSE(CutClipUsable(0, 0));
    EXPECT_FALSE(CutClipUsable(200, 100));  // end before start
    EXPECT_FALSE(CutClipUsable(100, 100));
    EXPECT_FALSE(CutClipUsable(-5, 0));
}

TEST(appTrackBar, CutRangeClampsTheMarksToTheSource) {
    struct TCase {
        bool Cut;
        int64_t StartMs, EndMs, DurationUs;
        bool Applies;
        int64_t WantStart, WantLength;
    };
    const TCase Cases[] = {
        {true, 10'000, 20'000, 60'000'000, true, 10'000, 10'000},
        {true, 0, 60'000, 60'000'000, true, 0, 60'000},
        {true, 10'000, 90'000, 60'000'000, true, 10'000, 50'000},  // end past the source
        {true, 60'000, 70'000, 60'000'000, true, 0, 60'000},       // start at the end counts as 0
        {true, 65'000, 70'000, 60'000'000, true, 0, 60'000},       // and beyond it too
        {true, 20'000, 10'000, 60'000'000, false, 0, 0},           // end before start
        {true, 0, 0, 60'000'000, false, 0, 0},
        {false, 10'000, 20'000, 60'000'000, false, 0, 0},  // "Cut Clip" not checked
    };
    for (const TCase& C : Cases) {
        std::optional<TCutRequest> Cut;
        if (C.Cut) Cut = TCutRequest{C.StartMs, C.EndMs};
        int64_t Start = 0, Length = 0;
        EXPECT_EQ(CutRange(Cut, C.DurationUs, Start, Length), C.Applies) << C.StartMs << "-" << C.EndMs;
        if (!C.Applies) continue;
        EXPECT_EQ(Start, C.WantStart) << C.StartMs << "-" << C.EndMs;
        EXPECT_EQ(Length, C.WantLength) << C.StartMs << "-" << C.EndMs;
    }
}

TEST(appTrackBar, AspectFitCentresThePictureWithBlackMargins) {
    struct TCase {
        int32_t W, H, AreaW, AreaH;
        TFitRect Want;
    };
    // a = W / area width, b = H / area height; the lost margin is rounded half to even.
    const TCase Cases[] = {
        {160, 120, 220, 145, {13, 0, 194, 145}},    // a < b: left = round(13.33)
        {320, 120, 220, 145, {0, 31, 220, 83}},     // a >= b: top = round(31.25)
        {1920, 1080, 220, 145, {0, 11, 220, 123}},  // top = round(10.625)
        {100, 400, 220, 145, {92, 0, 36, 145}},     // left = round(91.875)
        {220, 145, 220, 145, {0, 0, 220, 145}},     // exact fit
        {220, 144, 220, 145, {0, 0, 220, 145}},     // top = 0.5 rounds to 0
        {220, 142, 220, 145, {0, 2, 220, 141}},     // top = 1.5 rounds to 2
        {0, 120, 220, 145, {}},                     // empty picture: nothing drawn
        {160, 0, 220, 145, {}},
        {160, 120, 0, 145, {}},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(AspectFit(C.W, C.H, C.AreaW, C.AreaH), C.Want) << C.W << "x" << C.H;
}

TEST(appTrackBar, FormatSummariesAndOutputFolderRules) {
    EXPECT_EQ(FormatSummary("Mp3"), "MP3 audio (LAME), video dropped");
    EXPECT_EQ(FormatSummary("Ogg"), "Ogg: Theora video + FLAC audio");
    EXPECT_EQ(FormatSummary("M4a"), "MPEG-4: H.264 video + AAC audio");
    EXPECT_EQ(FormatSummary("mp3"), FormatSummary("MP3"));
    EXPECT_EQ(FormatSummary("mkv"), "");
    // Every format of the list has a line, and the ones whose video the input record drops say so.
    for (const char* Format : kOutputFormats) {
        const std::string Line = FormatSummary(Format);
        EXPECT_FALSE(Line.empty()) << Format;
        const bool Dropped =
            BuildInputOptions(TConversionRequest{.Format = Format, .KeepVideo = true}, TSourceInfo{})
                .OptionLines == "vn=1";
        EXPECT_EQ(Line.find("video dropped") != std::string::npos, Dropped) << Format;
    }

    EXPECT_TRUE(IsCdRomFileSystem("iso9660"));
    EXPECT_TRUE(IsCdRomFileSystem("udf"));
    EXPECT_TRUE(IsCdRomFileSystem("UDF"));
    EXPECT_FALSE(IsCdRomFileSystem("ext4"));
    EXPECT_FALSE(IsCdRomFileSystem(""));

    EXPECT_EQ(OutputFolderToCheck(u"<same as input>", u"/media/cd/v/clip.avi"), u"/media/cd/v/");
    EXPECT_EQ(OutputFolderToCheck(u"/tmp/out/", u"/media/cd/v/clip.avi"), u"/tmp/out/");
    auto Exists = [](const std::u16string& Folder) { return Folder == u"/v/"; };
    EXPECT_EQ(BrowseStartFolder(u"<same as input>", u"/v/clip.avi", Exists), u"/v/");
    EXPECT_EQ(BrowseStartFolder(u"/gone/", u"/v/clip.avi", Exists), u"");
    EXPECT_EQ(BrowseStartFolder(u"<same as input>", u"", Exists), u"");
    EXPECT_EQ(WithTrailingDelimiter(u"/tmp/out"), u"/tmp/out/");
    EXPECT_EQ(WithTrailingDelimiter(u"/tmp/out/"), u"/tmp/out/");
    EXPECT_EQ(WithTrailingDelimiter(u"/"), u"/");
}

}  // namespace
}  // namespace zembra::testing
