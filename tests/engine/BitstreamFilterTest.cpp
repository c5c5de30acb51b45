// A packet that a bitstream filter fails on is written as it came, with a log line, and the
// run goes on.

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using BitstreamFilters = TranscodeTest;

TEST_F(BitstreamFilters, APacketAFilterFailsOnIsWrittenUnfiltered) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi);
    // The noise filter damages the pictures' units (and passes on what it keeps); the metadata
    // filter behind it cannot parse some of them: its receive step fails for those packets.
    ASSERT_EQ(Convert({Avi}, Path("noise.mp4"), "", "an\nvbsf=noise"), "");
    const int Kept = Facts(Path("noise.mp4")).Streams[0].PacketCount;
    EXPECT_GT(Kept, 20);
    LogLines.clear();
    ASSERT_EQ(Convert({Avi}, Path("out.mp4"), "", "an\nvbsf=noise\nvbsf=h264_metadata"), "");
    const testmedia::TClipFacts F = Facts(Path("out.mp4"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].PacketCount, Kept) << "a packet the second filter failed on was lost";
    int Failures = 0;
    for (const std::string& Line : LogLines)
        if (Line.find("h264_metadata failed for stream 0") != std::string::npos) ++Failures;
    EXPECT_GT(Failures, 0);
}

}  // namespace
}  // namespace zembra::testing
