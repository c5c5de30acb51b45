#include <gtest/gtest.h>
#include <unistd.h>

#include <QFileInfo>
#include <QRect>
#include <QSize>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "preview/Previewer.h"
#include "tests/support/RunProgram.h"
#include "tests/ui/AlbumTracks.h"
#include "tests/ui/DesktopSession.h"

namespace zembra {
namespace {

// Converts one file: the settings dialog is answered with Return (its OK is the default button),
// the run started with Ctrl+Return and the window left with Ctrl+Q once the output has stopped
// growing (quitting mid-run would ask).
constexpr const char* kConvertOne = R"(
CLIP=$1 OUT=$2
start_zembra "$CLIP" || { echo "did not start"; exit 1; }
DIALOG=$(find_window "^Output Options") || { echo "no dialog"; exit 2; }
press "$DIALOG" Return
MAIN=$(find_window "^Zembra version 2015 6.5.7$") || { echo "no window"; exit 3; }
press "$MAIN" ctrl+Return
LAST=-1
for _ in $(seq 1 120); do
  SIZE=$(stat -c %s "$OUT" 2>/dev/null || echo -1)
  [ "$SIZE" -gt 0 ] && [ "$SIZE" = "$LAST" ] && break
  LAST=$SIZE
  sleep 1
done
quit_zembra "$MAIN" || exit 4
)";

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Zembra = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/zembra";
        if (!QFileInfo(QString::fromStdString(Zembra)).isExecutable()) GTEST_SKIP() << "zembra is not built";
        if (const std::string Missing = e2e::TDesktopSession::Missing({.WindowManager = false});
            !Missing.empty())
            GTEST_SKIP() << "missing on this machine: " << Missing;
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        char Pattern[] = "/tmp/zembra-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        Session = std::make_unique<e2e::TDesktopSession>(Dir, Zembra);
    }
    void TearDown() override {
        std::error_code Ec;
        // A failed scenario leaves its folder (logs, pictures) to look at.
        if (!Dir.empty() && !HasFailure() && !std::getenv("ZEMBRA_E2E_KEEP"))
            std::filesystem::remove_all(Dir, Ec);
        if (HasFailure()) std::cerr << "scenario folder kept: " << Dir << "\n";
    }

    // Runs Script on a desktop of its own; false (with the logs as a failure) when it failed.
    bool Drive(const std::string& Script, const std::vector<std::string>& Args,
               const e2e::TDesktopOptions& Options) {
        const int Status = Session->Run(Script, Args, Options);
        EXPECT_EQ(Status, 0) << Session->Logs();
        return Status == 0;
    }

    std::string Zembra, Dir;
    std::unique_ptr<e2e::TDesktopSession> Session;
};

TEST_F(EndToEndTest, ZembraConvertsAClipOnARealXServer) {
    const testmedia::TClipSpec Spec = testmedia::SampleClip(testmedia::TSampleKind::Avi, Dir + "/clip.avi");
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const std::string Output = Dir + "/clip_(new).mp3";
    Drive(kConvertOne, {Spec.Path, Output}, {.WindowManager = false});
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Output, Facts), "") << Session->Logs();
    ASSERT_EQ(Facts.Streams.size(), 1u);
    EXPECT_EQ(Facts.Streams[0].CodecId, AV_CODEC_ID_MP3);
    EXPECT_GT(Facts.Duration, 0.5);
}

// With "Realtime Preview" on, a song's cover goes along as it is: never decoded, previewed or
// hooked, so the song converts with its cover.
TEST_F(EndToEndTest, ASongWithACoverConvertsWithThePreviewOn) {
    testmedia::TClipSpec Spec{.Path = Dir + "/song.flac",
                              .Videos = {{.Encoder = "mjpeg", .FrameCount = 1, .AttachedPicture = true}},
                              .Audios = {{.Encoder = "flac", .Duration = 2.0}}};
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const std::string Output = Dir + "/song_(new).mp3";
    Drive(kConvertOne, {Spec.Path, Output}, {.WindowManager = false, .Preferences = "[run]\npreview=true\n"});
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Output, Facts), "") << Session->Logs();
    int Sound = 0, Covers = 0;
    for (const auto& St : Facts.Streams) {
        Sound += St.CodecId == AV_CODEC_ID_MP3;
        Covers += St.Type == AVMEDIA_TYPE_VIDEO && St.CodecId == AV_CODEC_ID_MJPEG;
    }
    EXPECT_EQ(Sound, 1);
    EXPECT_EQ(Covers, 1);
    EXPECT_GT(Facts.Duration, 1.5);
}

// A failure box and a realtime preview at once, under a window manager: two tasks run
// together, one of a file deleted after it was added (its box opens at once), the other of a
// 720p film converted to Ogg (Theora video) with the preview on.
constexpr const char* kBoxAndPreview = R"(
MISSING=$1 FILM=$2
start_zembra "$MISSING" "$FILM" || { echo "did not start"; exit 1; }
DIALOG=$(find_window "^Output Options$") || { echo "no dialog"; exit 2; }
# The format list has the focus, on Mp3; Ogg (Theora video) is below it, one column on.
press "$DIALOG" Down Right
snap 1-dialog
# The dialog keeps its choice for the next file.
DIALOG=$(shown_again "$DIALOG" press "$DIALOG" Return) || { echo "no dialog for the second file"; exit 3; }
press "$DIALOG" Return
MAIN=$(find_window "^Zembra version 2015 6.5.7$") || { echo "no window"; exit 4; }
wait_gone "$DIALOG"
rm -f "$MISSING"
press "$MAIN" ctrl+Return
BOX_TITLE="^Zembra$" PREVIEW_TITLE="^([0-9][0-9]:[0-9][0-9]:[0-9][0-9][.][0-9]+|N/A)$"
shown() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
either() { shown "$BOX_TITLE" || shown "$PREVIEW_TITLE"; }
wait_for 120 either || { echo "neither box nor preview"; exit 5; }
if shown "$BOX_TITLE"; then fact first box; else fact first preview; fi
BOX=$(find_window "$BOX_TITLE") || { echo "no failure box"; exit 5; }
PREVIEW=$(find_window "$PREVIEW_TITLE") || { echo "no preview"; exit 6; }
fact screen 0 0 $(xdotool getdisplaygeometry)
fact main $(frame "$MAIN")
fact box $(frame "$BOX")
fact preview $(frame "$PREVIEW")
fact preview_area $(client "$PREVIEW")
fact main_stack $(stack_position "$MAIN")
fact box_stack $(stack_position "$BOX")
fact preview_stack $(stack_position "$PREVIEW")
fact preview_state $(xprop -id "$PREVIEW" _NET_WM_STATE)
snap 2-box-and-preview
# The preview's close button works while the box is open (and the film is still converting:
# its output is still the hidden partial file).
click_close "$PREVIEW"
wait_gone "$PREVIEW" && fact preview_closed yes
is_mapped "$BOX" && fact box_open yes
ls -A "$SCRATCH" | grep -q '^[.]film_(new)[.]ogg.*part' && fact still_converting yes
snap 3-preview-closed
press "$BOX" Return
wait_gone "$BOX" || { echo "the box did not close"; exit 7; }
quit_zembra "$MAIN" || exit 8
)";

// Tasks that end before they are done, under a window manager: each file's dialog answered with
// Return, the run started and paused once every task has written some sound, then $ACTION: "remove-stop"
// removes the first row with the Delete key and then stops the others from the File menu;
// "clear" clears the list from the File menu and answers its question with Yes. The log is
// read back through the clipboard.
constexpr const char* kEndedEarly = R"SH(
ACTION=$1 COUNT=$2
shift 2
start_zembra "$@" || { echo "did not start"; exit 1; }
DIALOG=$(find_window "^Output Options$") || { echo "no dialog"; exit 2; }
for _ in $(seq 2 "$COUNT"); do
  DIALOG=$(shown_again "$DIALOG" press "$DIALOG" Return) || { echo "no dialog for the next file"; exit 3; }
done
press "$DIALOG" Return
MAIN=$(find_window "^Zembra version 2015 6.5.7$") || { echo "no window"; exit 4; }
wait_gone "$DIALOG"
press "$MAIN" ctrl+Return
converting() {
  local N
  N=$(find "$SCRATCH" -maxdepth 1 -name '.*part.mp3' -size +64k | wc -l)
  [ "$N" -ge "$COUNT" ]
}
wait_for 120 converting || { echo "the tasks did not get going"; exit 5; }
# Paused from the File menu, so that every task is still running when it goes. "&Add Task"
# and "P&ause" share their letter: the first press moves to "P&ause", Return takes it.
press "$MAIN" alt+f a Return
snap "$ACTION-1-paused"
if [ "$ACTION" = remove-stop ]; then
  # The list has the focus and a current row, but none is selected until the cursor moves.
  press "$MAIN" Down Up Delete
  wait_for 60 test -e "$SCRATCH/a_(new).partial.mp3" && fact removed_kept yes
  press "$MAIN" alt+f p
else
  press "$MAIN" alt+f c
  QUESTION=$(find_window "^Zembra$") || { echo "no question"; exit 6; }
  snap "$ACTION-2-question"
  press "$QUESTION" alt+y
  wait_gone "$QUESTION"
fi
over() { ! find "$SCRATCH" -maxdepth 1 -name '.*part.mp3' | grep -q .; }
wait_for 60 over || { echo "the tasks did not end"; exit 7; }
# The log pane follows the list in the focus chain.
press "$MAIN" Tab ctrl+a ctrl+c
wait_for 10 xclip -o -selection clipboard
xclip -o -selection clipboard > "$SCRATCH/log.txt"
snap "$ACTION-3-over"
quit_zembra "$MAIN" || exit 8
)SH";

// A tagged album from the settings dialog, under a window manager: names from tags (the
// dialog's own template), album gain and "Apply to the remaining 2 files", each ticked with its
// Alt key; the run started, and the window left once the three outputs have stopped changing.
constexpr const char* kAlbum = R"SH(
ALBUM=$1
shift
start_zembra "$@" || { echo "did not start"; exit 1; }
DIALOG=$(find_window "^Output Options$") || { echo "no dialog"; exit 2; }
press "$DIALOG" alt+t alt+b alt+a
sleep 0.5
snap album-1-dialog
press "$DIALOG" Return
MAIN=$(find_window "^Zembra version 2015 6.5.7$") || { echo "no window"; exit 3; }
wait_gone "$DIALOG"
press "$MAIN" ctrl+Return
settled() {
  local N Now
  N=$(find "$ALBUM" -name '*.mp3' -not -name '.*' | wc -l)
  [ "$N" -eq 3 ] || return 1
  find "$ALBUM" -name '.*part*' | grep -q . && return 1
  Now=$(find "$ALBUM" -name '*.mp3' -printf '%T@ %s\n' | sort)
  [ "$Now" = "${LAST:-}" ] && return 0
  LAST=$Now
  return 1
}
LAST=
for _ in $(seq 1 120); do settled && break; sleep 1; done
snap album-2-over
quit_zembra "$MAIN" || exit 4
)SH";

QRect RectFact(const e2e::TDesktopSession& S, const std::string& Name) {
    int X = 0, Y = 0, W = 0, H = 0;
    EXPECT_TRUE(S.Rect(Name, X, Y, W, H)) << Name << " = '" << S.Fact(Name) << "'";
    return QRect(X, Y, W, H);
}

TEST_F(EndToEndTest, AFailureBoxStaysAboveTheSmallPreviewBesideTheWindow) {
    if (const std::string Missing = e2e::TDesktopSession::Missing({}); !Missing.empty())
        GTEST_SKIP() << "missing on this machine: " << Missing;
    testmedia::TClipSpec Gone = testmedia::SampleClip(testmedia::TSampleKind::Avi, Dir + "/gone.avi");
    ASSERT_EQ(testmedia::WriteClip(Gone), "");
    // Long enough that the run is still going when the scenario has looked (it stops it then).
    const testmedia::TClipSpec Film{
        .Path = Dir + "/film.mkv",
        .Videos = {{.Width = 1280, .Height = 720, .FrameRate = {10, 1}, .FrameCount = 600}},
        .Audios = {{.Duration = 60.0}}};
    ASSERT_EQ(testmedia::WriteClip(Film), "");
    ASSERT_TRUE(Drive(kBoxAndPreview, {Gone.Path, Film.Path},
                      {.Preferences = "[run]\npreview=true\nthreadMode=true\nthreadCount=2\n"}));
    const e2e::TDesktopSession& S = *Session;
    const QRect Screen = RectFact(S, "screen"), Main = RectFact(S, "main"), Box = RectFact(S, "box"),
                Preview = RectFact(S, "preview"), Area = RectFact(S, "preview_area");
    std::cout << "first shown: " << S.Fact("first") << "; main " << S.Fact("main") << ", box "
              << S.Fact("box") << ", preview " << S.Fact("preview") << "\n";
    // Small: the film scaled to at most a third of the screen (less where the side of the
    // window has less room, but not below half of that), its shape kept.
    const QSize Third = PreviewClientSize(QSize(1280, 720), Screen.size());
    EXPECT_LE(Area.width(), Third.width());
    EXPECT_GE(Area.width(), Third.width() / 2);
    EXPECT_LE(std::abs(Area.width() * 720 - Area.height() * 1280), 1280) << S.Fact("preview_area");
    // Beside the window, on the screen, and not above every other program.
    EXPECT_FALSE(Preview.intersects(Main));
    EXPECT_TRUE(Screen.contains(Preview));
    EXPECT_EQ(S.Fact("preview_state").find("_NET_WM_STATE_ABOVE"), std::string::npos)
        << S.Fact("preview_state");
    // The box above the preview, whichever opened first, and above the window it belongs to.
    const int BoxAt = std::stoi(S.Fact("box_stack")), PreviewAt = std::stoi(S.Fact("preview_stack")),
              MainAt = std::stoi(S.Fact("main_stack"));
    EXPECT_GE(PreviewAt, 0);
    EXPECT_GT(BoxAt, PreviewAt);
    EXPECT_GT(BoxAt, MainAt);
    EXPECT_FALSE(Box.isEmpty());
    // The preview could be closed while the box was open, and the box stayed.
    EXPECT_EQ(S.Fact("preview_closed"), "yes");
    EXPECT_EQ(S.Fact("box_open"), "yes");
    EXPECT_EQ(S.Fact("still_converting"), "yes") << "the film ended before the scenario had looked";
    for (const char* Picture : {"1-dialog", "2-box-and-preview", "3-preview-closed"})
        EXPECT_TRUE(std::filesystem::exists(Dir + "/" + Picture + ".png")) << Picture;
}

// What became of each output is said in the log and found on disk, under both settings of
// "Keep what a stopped task converted": removed and stopped tasks keep their partial outputs
// when it is on, cleared tasks keep nothing when it is off.
TEST_F(EndToEndTest, RemovedStoppedAndClearedTasksSayWhatTheyLeft) {
    if (const std::string Missing = e2e::TDesktopSession::Missing({}); !Missing.empty())
        GTEST_SKIP() << "missing on this machine: " << Missing;
    if (std::system("command -v xclip >/dev/null") != 0) GTEST_SKIP() << "xclip missing";
    std::vector<std::string> Files;
    for (const char* Name : {"a", "b", "c"}) {
        testmedia::TClipSpec Spec{.Path = Dir + "/" + Name + ".wav",
                                  .Audios = {{.Encoder = "pcm_s16le", .Duration = 240.0}}};
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        Files.push_back(Spec.Path);
    }
    auto ReadLog = [this] {
        std::ifstream In(Dir + "/log.txt");
        return std::string(std::istreambuf_iterator<char>(In), {});
    };
    auto Listing = [this] {
        std::vector<std::string> Names;
        for (const auto& Entry : std::filesystem::directory_iterator(Dir))
            if (Entry.path().extension() == ".mp3" ||
                Entry.path().filename().string().find(".part") != std::string::npos)
                Names.push_back(Entry.path().filename().string());
        std::sort(Names.begin(), Names.end());
        return Names;
    };
    std::vector<std::string> Args = {"remove-stop", "3"};
    Args.insert(Args.end(), Files.begin(), Files.end());
    ASSERT_TRUE(Drive(kEndedEarly, Args, {.Preferences = "[run]\nthreadMode=true\nthreadCount=3\n"}));
    EXPECT_EQ(Session->Fact("removed_kept"), "yes");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a_(new).partial.mp3", "b_(new).partial.mp3",
                                                   "c_(new).partial.mp3"}));
    std::string Log = ReadLog();
    EXPECT_NE(Log.find("partial output kept: a.wav -> " + Dir + "/a_(new).partial.mp3"), std::string::npos)
        << Log;
    for (const char* Name : {"b", "c"})
        EXPECT_NE(Log.find(std::string("partial output kept: ") + Name + ".wav -> " + Dir + "/" + Name +
                           "_(new).partial.mp3"),
                  std::string::npos)
            << Log;
    for (const std::string& Kept : Listing()) {
        testmedia::TClipFacts Facts;
        ASSERT_EQ(testmedia::InspectClip(Dir + "/" + Kept, Facts), "") << Kept;
        EXPECT_GT(Facts.Duration, 0.5) << Kept;
        EXPECT_LT(Facts.Duration, 239.0) << Kept;
        std::filesystem::remove(Dir + "/" + Kept);
    }

    Args = {"clear", "2", Files[0], Files[1]};
    ASSERT_TRUE(Drive(kEndedEarly, Args,
                      {.Preferences = "[run]\nthreadMode=true\nthreadCount=2\nkeepPartial=false\n"}));
    EXPECT_EQ(Listing(), std::vector<std::string>{});
    Log = ReadLog();
    for (const char* Name : {"a", "b"})
        EXPECT_NE(Log.find(std::string("no output kept: ") + Name + ".wav"), std::string::npos) << Log;
    for (const char* Picture :
         {"remove-stop-1-paused", "remove-stop-3-over", "clear-2-question", "clear-3-over"})
        EXPECT_TRUE(std::filesystem::exists(Dir + "/" + Picture + ".png")) << Picture;
}

// The album the dialog makes comes out as zembra-cli makes it: the same tree of names from tags
// and the same track and album gains in every file.
TEST_F(EndToEndTest, AnAlbumFromTheDialogMatchesZembraCli) {
    if (const std::string Missing = e2e::TDesktopSession::Missing({}); !Missing.empty())
        GTEST_SKIP() << "missing on this machine: " << Missing;
    const std::string Album = Dir + "/album", Cli = Dir + "/cli";
    std::filesystem::create_directories(Album);
    std::filesystem::create_directories(Cli);
    const std::vector<std::string> Tracks = {testing::WriteAlbumTrack(Album, 1, "Intro", 1.0f),
                                             testing::WriteAlbumTrack(Album, 2, "Middle", 0.5f),
                                             testing::WriteAlbumTrack(Album, 3, "End", 0.25f)};
    std::vector<std::string> Args = {Album};
    Args.insert(Args.end(), Tracks.begin(), Tracks.end());
    ASSERT_TRUE(Drive(kAlbum, Args, {}));
    std::vector<std::string> CliArgs = {"-f",           "mp3",   "--name", testing::kAlbumTemplate,
                                        "--replaygain", "album", "-o",     Cli};
    CliArgs.insert(CliArgs.end(), Tracks.begin(), Tracks.end());
    const testing::TProgramResult Made =
        testing::RunProgram(std::filesystem::path(Zembra).parent_path().string() + "/zembra-cli", CliArgs,
                            std::chrono::seconds(120));
    ASSERT_EQ(Made.Status, 0) << Made.Err;
    const auto FromWindow = testing::TaggedTree(Album), FromCli = testing::TaggedTree(Cli);
    std::vector<std::string> Names;
    for (const auto& [Name, Tags] : FromWindow) Names.push_back(Name);
    EXPECT_EQ(Names, (std::vector<std::string>{"Band/First/01 Intro.mp3", "Band/First/02 Middle.mp3",
                                               "Band/First/03 End.mp3"}));
    EXPECT_EQ(FromWindow, FromCli) << Session->Logs();
    // One album over the three: the same album gain in every file, the loudest track's peak as
    // the album's, and not merely each track's own gain.
    ASSERT_EQ(FromWindow.count("Band/First/01 Intro.mp3"), 1u);
    const testing::TTags& First = FromWindow.at("Band/First/01 Intro.mp3");
    ASSERT_EQ(First.count("replaygain_album_gain"), 1u) << Session->Logs();
    for (const auto& [Name, Tags] : FromWindow) {
        EXPECT_EQ(Tags.count("replaygain_album_gain") ? Tags.at("replaygain_album_gain") : "",
                  First.at("replaygain_album_gain"))
            << Name;
        EXPECT_EQ(Tags.count("replaygain_album_peak") ? Tags.at("replaygain_album_peak") : "",
                  First.at("replaygain_track_peak"))
            << Name;
    }
    ASSERT_EQ(FromWindow.count("Band/First/03 End.mp3"), 1u);
    EXPECT_NE(FromWindow.at("Band/First/03 End.mp3").at("replaygain_track_gain"),
              First.at("replaygain_album_gain"));
    EXPECT_TRUE(std::filesystem::exists(Dir + "/album-1-dialog.png"));
}

}  // namespace
}  // namespace zembra
