// A picture read at a time after a seek is the picture a sequential decode shows at that time,
// on inter-coded video whose key pictures lie seconds apart.

#include <cstdlib>

#include "tests/probe/ProbeTestSupport.h"

namespace zembra::probetest {
namespace {

constexpr int kFrames = 100;           // 4 s at 25 pictures a second
constexpr int64_t kFrameTime = 40000;  // microseconds
constexpr double kMaxMeanDifference = 2.0;

struct TSeekCase {
    const char* Container;
    const char* Encoder;
    const char* File;
    testmedia::TOptions Options;
};

void PrintTo(const TSeekCase& Case, std::ostream* Out) {
    *Out << Case.Encoder << " in " << Case.Container;
}

double MeanDifference(const TBitmap& A, const TBitmap& B) {
    if (A.Width() != B.Width() || A.Height() != B.Height() || A.Empty()) return 255.0;
    const size_t Row = static_cast<size_t>(A.Width()) * 3;
    uint64_t Sum = 0;
    for (int Y = 0; Y < A.Height(); ++Y) {
        const uint8_t* P = A.ScanLine(Y);
        const uint8_t* Q = B.ScanLine(Y);
        for (size_t I = 0; I < Row; ++I) Sum += static_cast<uint64_t>(std::abs(P[I] - Q[I]));
    }
    return static_cast<double>(Sum) / static_cast<double>(Row * static_cast<size_t>(A.Height()));
}

class probeSeek : public ProbeTest, public ::testing::WithParamInterface<TSeekCase> {};

TEST_P(probeSeek, APictureAtATimeMatchesTheSequentialDecode) {
    const TSeekCase& Case = GetParam();
    if (!lavc.avcodec_find_encoder_by_name(Case.Encoder)) GTEST_SKIP() << "no encoder " << Case.Encoder;
    TVideoSpec Video = VideoClip(Case.Encoder, 320, 240, kFrames);
    Video.Options = Case.Options;
    TClipSpec Spec;
    Spec.Container = Case.Container;
    Spec.Videos = {Video};
    const std::string Path = Write(Spec, Case.File);

    // Every picture and its time, decoded one after another from the start.
    std::vector<TBitmap> Pictures;
    std::vector<int64_t> Times;
    {
        TAVProbe Probe;
        ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
        ASSERT_TRUE(Probe.Seek(-1, 0));
        for (;;) {
            const TBitmap& Picture = Probe.GetFrame(-1);
            if (!Probe.LastReadSucceeded()) break;
            Pictures.push_back(Picture);
            Times.push_back(Probe.PictureTime());
        }
    }
    ASSERT_EQ(static_cast<int>(Pictures.size()), kFrames);

    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    TFileStreamInfo Info;
    ASSERT_TRUE(Probe.GetFileStreamInfo(Info));
    const int64_t Duration = Info.Duration;
    ASSERT_GT(Duration, 0);
    // Backward and forward, each target read directly and through a seek, a target between two
    // pictures, one shortly after the last picture read (reached by decoding on), and one as
    // shortly after it but behind a seek far away that read nothing.
    const struct {
        int Percent;
        bool ThroughSeek;
        int64_t Offset;
        bool SeekOnly = false;
    } Reads[] = {{90, false, 0},      {25, false, 0},     {50, true, 0},      {25, true, 0},
                 {90, true, 0},       {50, false, 0},     {25, false, 13000}, {25, false, 500000},
                 {90, true, 0, true}, {25, false, 900000}};
    for (const auto& Read : Reads) {
        const int64_t Target = Duration * Read.Percent / 100 + Read.Offset;
        if (Read.SeekOnly) {
            ASSERT_TRUE(Probe.Seek(-1, Target)) << Probe.LastError();
            continue;
        }
        SCOPED_TRACE(std::to_string(Target) + (Read.ThroughSeek ? " through a seek" : " as a target"));
        const TBitmap* Picture = nullptr;
        if (Read.ThroughSeek) {
            ASSERT_TRUE(Probe.Seek(-1, Target)) << Probe.LastError();
            Picture = &Probe.GetFrame(-1);
        } else {
            Picture = &Probe.ReadFrame(-1, Target);
        }
        ASSERT_TRUE(Probe.LastReadSucceeded()) << Probe.LastError();
        const int64_t Time = Probe.PictureTime();
        EXPECT_GE(Time, Target);
        EXPECT_LT(Time - Target, kFrameTime);
        // The first picture of the sequential decode at or after the target.
        size_t Index = 0;
        while (Index + 1 < Times.size() && Times[Index] < Target) ++Index;
        EXPECT_EQ(Times[Index], Time);
        EXPECT_EQ(FrameCounterOf(*Picture), FrameCounterOf(Pictures[Index]));
        EXPECT_LT(MeanDifference(*Picture, Pictures[Index]), kMaxMeanDifference);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, probeSeek,
    ::testing::Values(TSeekCase{"mp4", "libx264", "clip.mp4", {{"preset", "ultrafast"}, {"g", "50"}}},
                      TSeekCase{"matroska", "libx264", "clip.mkv", {{"preset", "veryfast"}, {"g", "50"}}},
                      TSeekCase{"avi", "mpeg4", "clip.avi", {{"g", "50"}}},
                      TSeekCase{"mpegts", "mpeg2video", "clip.ts", {{"g", "50"}}},
                      TSeekCase{"ogg", "libtheora", "clip.ogg", {{"g", "50"}}}),
    [](const auto& Info) { return fs::path(Info.param.File).extension().string().substr(1); });

}  // namespace
}  // namespace zembra::probetest
