#include <gtest/gtest.h>
#include <unistd.h>

#include <QFileInfo>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"

namespace zembra {
namespace {

// Drives the real program on a real X server: the settings dialog is answered with Return (its
// OK is the default button), the run started with Ctrl+Return and the window left with Ctrl+Q,
// each key typed through the X test extension into the window that has the focus.
constexpr const char* kDriver = R"(#!/bin/bash
set -u
ZEMBRA=$1 CLIP=$2 OUT=$3 PRELOAD=${4:-}
export QT_QPA_PLATFORM=xcb
# In a sanitizer build the program keeps its checks but not the leak check at exit: on a real X
# server Qt's D-Bus thread leaves libdbus's read buffers behind. The window's own code is
# leak-checked by the in-process tests.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
start() { LD_PRELOAD=$PRELOAD "$ZEMBRA" "$CLIP" > "$OUT.log" 2>&1 & PID=$!; }
find_window() {
  for _ in $(seq 1 600); do
    W=$(xdotool search --name "$1" 2>/dev/null | head -1)
    [ -n "$W" ] && { echo "$W"; return 0; }
    kill -0 $PID 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
press() { xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key "$2"; }
for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
start
# On a busy machine the test server has refused the program's first connection now and then;
# that is the server's affair, so the program gets a second try.
if ! DIALOG=$(find_window "^Output Options") && grep -q "could not connect to display" "$OUT.log"; then
  echo "first start could not connect to the display; starting again"
  cat "$OUT.log"
  sleep 1
  start
fi
[ -n "${DIALOG:-}" ] || DIALOG=$(find_window "^Output Options") || { kill $PID; echo "no dialog"; exit 2; }
sleep 0.5
press "$DIALOG" Return
MAIN=$(find_window "^Zembra version 2015 6.5.7$") || { kill $PID; echo "no window"; exit 3; }
sleep 0.5
press "$MAIN" ctrl+Return
# The run is over when the output has stopped growing for a second (quitting mid-run would ask).
LAST=-1
for _ in $(seq 1 120); do
  SIZE=$(stat -c %s "$OUT" 2>/dev/null || echo -1)
  [ "$SIZE" -gt 0 ] && [ "$SIZE" = "$LAST" ] && break
  LAST=$SIZE
  sleep 1
done
press "$MAIN" ctrl+q
for _ in $(seq 1 300); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
if kill -0 $PID 2>/dev/null; then kill $PID; echo "did not quit"; exit 4; fi
wait $PID
)";

bool OnPath(const char* Program) {
    return std::system((std::string("command -v ") + Program + " >/dev/null 2>&1").c_str()) == 0;
}

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Zembra = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/zembra";
        if (!QFileInfo(QString::fromStdString(Zembra)).isExecutable()) GTEST_SKIP() << "zembra is not built";
        if (!OnPath("xvfb-run") || !OnPath("xdotool")) GTEST_SKIP() << "xvfb-run or xdotool missing";
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        char Pattern[] = "/tmp/zembra-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
    }
    void TearDown() override {
        std::error_code Ec;
        if (!Dir.empty()) std::filesystem::remove_all(Dir, Ec);
    }

    // Runs the driver on a server of its own; the program's preferences live in Dir.
    void Drive(const std::string& Clip, const std::string& Output) {
        const std::string Driver = Dir + "/drive.sh";
        std::ofstream(Driver) << kDriver;
        // A sanitizer build's preload is for the program under test only, not for the X server
        // and the tools around it.
        const char* Preload = std::getenv("LD_PRELOAD");
        // xvfb-run -a takes the first display without a lock file from its start number on, and
        // two runs at once (another build's tests) can both pick it: one server then fails to
        // start. A start number of this process's own makes that unlikely.
        const std::string Display = std::to_string(100 + ::getpid() % 5000);
        const std::string Command = "env -u LD_PRELOAD XDG_CONFIG_HOME='" + Dir + "/config' xvfb-run -a -n " +
                                    Display + " -e '" + Dir + "/xvfb.log' bash '" + Driver + "' '" + Zembra +
                                    "' '" + Clip + "' '" + Output + "' '" + (Preload ? Preload : "") +
                                    "' > '" + Dir + "/driver.log' 2>&1";
        const int Status = std::system(Command.c_str());
        std::string ServerLog;
        std::getline(std::ifstream(Dir + "/driver.log"), DriverLog, '\0');
        std::getline(std::ifstream(Output + ".log"), ProgramLog, '\0');
        std::getline(std::ifstream(Dir + "/xvfb.log"), ServerLog, '\0');
        EXPECT_EQ(Status, 0) << DriverLog << ProgramLog << ServerLog;
    }

    std::string Zembra, Dir, DriverLog, ProgramLog;
};

TEST_F(EndToEndTest, ZembraConvertsAClipOnARealXServer) {
    const testmedia::TClipSpec Spec = testmedia::SampleClip(testmedia::TSampleKind::Avi, Dir + "/clip.avi");
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const std::string Output = Dir + "/clip_(new).mp3";
    Drive(Spec.Path, Output);
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Output, Facts), "") << DriverLog << ProgramLog;
    ASSERT_EQ(Facts.Streams.size(), 1u);
    EXPECT_EQ(Facts.Streams[0].CodecId, AV_CODEC_ID_MP3);
    EXPECT_GT(Facts.Duration, 0.5);
}

// With "Realtime Preview" on, a song's cover goes along as it is: never decoded, previewed or
// hooked, so the song converts with its cover.
TEST_F(EndToEndTest, ASongWithACoverConvertsWithThePreviewOn) {
    std::filesystem::create_directories(Dir + "/config/Zembra");
    std::ofstream(Dir + "/config/Zembra/Zembra.conf") << "[run]\npreview=true\n";
    testmedia::TClipSpec Spec{.Path = Dir + "/song.flac",
                              .Videos = {{.Encoder = "mjpeg", .FrameCount = 1, .AttachedPicture = true}},
                              .Audios = {{.Encoder = "flac", .Duration = 2.0}}};
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const std::string Output = Dir + "/song_(new).mp3";
    Drive(Spec.Path, Output);
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Output, Facts), "") << DriverLog << ProgramLog;
    int Sound = 0, Covers = 0;
    for (const auto& St : Facts.Streams) {
        Sound += St.CodecId == AV_CODEC_ID_MP3;
        Covers += St.Type == AVMEDIA_TYPE_VIDEO && St.CodecId == AV_CODEC_ID_MJPEG;
    }
    EXPECT_EQ(Sound, 1);
    EXPECT_EQ(Covers, 1);
    EXPECT_GT(Facts.Duration, 1.5);
}

}  // namespace
}  // namespace zembra
