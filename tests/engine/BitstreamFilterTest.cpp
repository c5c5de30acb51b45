// A packet that a bitstream filter fails on is written as it came, with a log line, and the
// run goes on.

#include <fstream>
#include <iterator>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using BitstreamFilters = TranscodeTest;

std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(In)), {});
}

TEST_F(BitstreamFilters, APacketAFilterFailsOnIsWrittenUnfiltered) {
    if (!lavc.avcodec_find_encoder_by_name("libx264")) GTEST_SKIP() << "no libx264";
    // A raw H.264 stream, then a unit that says it is a slice but holds bytes no parser takes:
    // the metadata filter fails in its receive step on the packet that carries it.
    testmedia::TClipSpec Spec;
    Spec.Path = Path("clip.h264");
    Spec.Container = "h264";
    testmedia::TVideoSpec Video;
    Video.Encoder = "libx264";
    Video.FrameCount = 5;
    Video.Options = {{"preset", "ultrafast"}};
    Spec.Videos.push_back(Video);
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const std::string Broken = std::string("\0\0\0\1\x65\xff\xff\xff\xffZEMBRA\xff\xff", 17);
    std::ofstream(Path("broken.h264"), std::ios::binary) << ReadAll(Spec.Path) << Broken;

    ASSERT_EQ(Convert({Path("broken.h264")}, Path("out.h264"), "f=h264", "vcodec=copy\nvbsf=h264_metadata"),
              "");
    int Failures = 0;
    for (const std::string& Line : LogLines)
        if (Line.find("h264_metadata failed for stream 0") != std::string::npos) ++Failures;
    EXPECT_GT(Failures, 0);
    EXPECT_NE(ReadAll(Path("out.h264")).find("ZEMBRA"), std::string::npos) << "the packet was lost";
}

}  // namespace
}  // namespace zembra::testing
