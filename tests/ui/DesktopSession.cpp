#include "tests/ui/DesktopSession.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace zembra::e2e {
namespace {

// Written before every scenario. Each wait is on a condition, with a limit far beyond what an
// idle machine needs: the tests share two cores with other builds.
constexpr const char* kHelpers = R"HELPERS(
set -u
export QT_QPA_PLATFORM=xcb
# In a sanitizer build the program keeps its checks but not the leak check at exit: on a real X
# server Qt's D-Bus thread leaves libdbus's read buffers behind. The window's own code is
# leak-checked by the in-process tests.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
PID=
WM=
fact() { local Name=$1; shift; echo "$Name $*" >> "$SCRATCH/facts"; }
wait_for() {
  local Limit=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$Limit"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
alive() { [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; }
launch() { LD_PRELOAD=$PRELOAD "$ZEMBRA" "$@" >> "$SCRATCH/zembra.log" 2>&1 & PID=$!; }
has_window() { xdotool search --onlyvisible --pid "$PID" >/dev/null 2>&1 || ! alive; }
start_zembra() {
  launch "$@"
  wait_for 60 has_window
  # On a busy machine the test server has refused the program's first connection now and
  # then; that is the server's affair, so the program gets a second try.
  if ! alive && grep -q "could not connect to display" "$SCRATCH/zembra.log"; then
    echo "first start could not connect to the display; starting again"
    launch "$@"
    wait_for 60 has_window
  fi
  alive
}
find_window() {
  local W
  for _ in $(seq 1 600); do
    W=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    if [ -n "$W" ]; then
      # A window just mapped may not take keys yet.
      sleep 0.5
      echo "$W"
      return 0
    fi
    alive || return 1
    sleep 0.1
  done
  return 1
}
is_mapped() { xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"; }
not_mapped() { ! is_mapped "$1"; }
wait_gone() { wait_for 60 not_mapped "$1"; }
press() { local W=$1; shift; xdotool windowfocus --sync "$W" 2>/dev/null; xdotool key "$@"; }
activate() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"; }
client() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
                           /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
frame() {
  local X Y W H L=0 R=0 T=0 B=0 Extents
  read -r X Y W H < <(client "$1")
  Extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ',')
  [ -n "$Extents" ] && read -r L R T B <<< "$Extents"
  echo $((X - L)) $((Y - T)) $((W + L + R)) $((H + T + B))
}
# Clicks the close button in the window's title bar, at its right end in openbox's own theme.
click_close() {
  local X Y W H T
  read -r X Y W H < <(frame "$1")
  T=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ',' | awk '{print $3}')
  xdotool mousemove $((X + W - 11)) $((Y + ${T:-20} / 2)) click 1
}
stack_position() {
  local I=0 W
  for W in $(xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null | sed -n 's/.*# //p' | tr -d ','); do
    [ $((W)) -eq "$1" ] && { echo $I; return 0; }
    I=$((I + 1))
  done
  echo -1
  return 1
}
# Runs the command after the window's id, which hides the window, and waits until the program
# shows a window of that title again (a dialog reused for the next file: the same window shown
# again, or one made anew); prints its id. The window manager's WM_STATE tells when the same
# window comes back, so this needs one.
shown_again() {
  local W=$1 Spy="$SCRATCH/spy.$1" SpyPid Title Other
  shift
  Title=$(xdotool getwindowname "$W")
  xprop -spy -id "$W" WM_STATE > "$Spy" 2>&1 & SpyPid=$!
  if ! wait_for 30 grep -q "window state" "$Spy"; then kill "$SpyPid"; return 1; fi
  "$@" >/dev/null
  for _ in $(seq 1 600); do
    if [ "$(grep -c 'window state: Normal' "$Spy")" -ge 2 ]; then Other=$W; break; fi
    Other=$(xdotool search --onlyvisible --name "^$Title\$" 2>/dev/null | grep -vx "$W" | head -1)
    [ -n "$Other" ] && break
    alive || break
    sleep 0.1
  done
  kill "$SpyPid" 2>/dev/null
  [ -n "$Other" ] || return 1
  # As find_window: a window just mapped may not take keys yet.
  sleep 0.5
  echo "$Other"
}
snap() { "$SNAP" "$SCRATCH/$1.png" || echo "no picture $1"; }
quit_zembra() {
  press "$1" ctrl+q
  local Asked
  for _ in $(seq 1 600); do
    alive || break
    # Quitting during a run asks first; its default answer stops the run.
    Asked=$(xdotool search --onlyvisible --name "^Zembra$" 2>/dev/null | head -1)
    [ -n "$Asked" ] && press "$Asked" Return
    sleep 0.1
  done
  if alive; then kill "$PID"; echo "did not quit"; return 1; fi
  wait "$PID"
}
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
wm_ready_or_gone() { wm_running || ! kill -0 "$WM" 2>/dev/null; }
start_window_manager() {
  # On a busy machine openbox has now and then found the new server refusing it; it gets three
  # tries, each after the server has answered a client.
  for _ in 1 2 3; do
    openbox --sm-disable >> "$SCRATCH/openbox.log" 2>&1 & WM=$!
    wait_for 60 wm_ready_or_gone
    wm_running && return 0
    sleep 1
  done
  echo "no window manager"
  exit 90
}
finish() {
  alive && kill "$PID"
  [ -n "$WM" ] && kill "$WM" 2>/dev/null
  return 0
}
trap finish EXIT
wait_for 30 xdotool getdisplaygeometry || { echo "the X server did not answer"; exit 91; }
[ "$WITH_WM" = 1 ] && start_window_manager
)HELPERS";

std::string Quoted(const std::string& Text) {
    std::string Out = "'";
    for (char C : Text) Out += C == '\'' ? std::string("'\\''") : std::string(1, C);
    return Out + "'";
}

bool OnPath(const char* Program) {
    return std::system((std::string("command -v ") + Program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadAll(const std::string& Path) {
    std::string Text;
    std::getline(std::ifstream(Path), Text, '\0');
    return Text;
}

std::string SnapshotProgram(const std::string& Zembra) {
    return (std::filesystem::path(Zembra).parent_path() / "zembra-screenshot").string();
}

}  // namespace

TDesktopSession::TDesktopSession(std::string Dir, std::string Zembra)
    : FDir(std::move(Dir)), FZembra(std::move(Zembra)) {}

std::string TDesktopSession::Missing(const TDesktopOptions& Options) {
    std::string Missing;
    for (const char* Tool : {"xvfb-run", "xdotool", "xwininfo", "xprop"})
        if (!OnPath(Tool)) Missing += std::string(Missing.empty() ? "" : ", ") + Tool;
    if (Options.WindowManager && !OnPath("openbox"))
        Missing += std::string(Missing.empty() ? "" : ", ") + "openbox";
    return Missing;
}

int TDesktopSession::Run(const std::string& Script, const std::vector<std::string>& Args,
                         const TDesktopOptions& Options) {
    FFacts.clear();
    std::error_code Ec;
    std::filesystem::remove(FDir + "/facts", Ec);
    if (!Options.Preferences.empty()) {
        std::filesystem::create_directories(FDir + "/config/Zembra");
        std::ofstream(FDir + "/config/Zembra/Zembra.conf") << Options.Preferences;
    }
    const std::string Driver = FDir + "/drive.sh";
    std::ofstream(Driver) << kHelpers << "\n" << Script << "\n";
    // A sanitizer build's preload is for the program under test only, not for the X server and
    // the tools around it.
    const char* Preload = std::getenv("LD_PRELOAD");
    // xvfb-run -a takes the first display without a lock file from its start number on, and two
    // runs at once (another build's tests) can both pick it: one server then fails to start. A
    // start number of this process's own makes that unlikely.
    const std::string Display = std::to_string(100 + ::getpid() % 5000);
    std::string Command =
        "env -u LD_PRELOAD XDG_CONFIG_HOME=" + Quoted(FDir + "/config") + " ZEMBRA=" + Quoted(FZembra) +
        " SCRATCH=" + Quoted(FDir) + " SNAP=" + Quoted(SnapshotProgram(FZembra)) +
        " PRELOAD=" + Quoted(Preload ? Preload : "") + " WITH_WM=" + (Options.WindowManager ? "1" : "0") +
        " xvfb-run -a -n " + Display + " -s '-screen 0 1600x1000x24' -e " + Quoted(FDir + "/xvfb.log") +
        " bash " + Quoted(Driver);
    for (const std::string& Arg : Args) Command += " " + Quoted(Arg);
    Command += " > " + Quoted(FDir + "/driver.log") + " 2>&1";
    const int Status = std::system(Command.c_str());
    FDriverLog = ReadAll(FDir + "/driver.log");
    FProgramLog = ReadAll(FDir + "/zembra.log");
    FServerLog = ReadAll(FDir + "/xvfb.log");
    std::istringstream Lines(ReadAll(FDir + "/facts"));
    for (std::string Line; std::getline(Lines, Line);) {
        const size_t Space = Line.find(' ');
        if (Space == std::string::npos)
            FFacts[Line] = "";
        else
            FFacts[Line.substr(0, Space)] = Line.substr(Space + 1);
    }
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

std::string TDesktopSession::Fact(const std::string& Name) const {
    const auto It = FFacts.find(Name);
    return It == FFacts.end() ? std::string() : It->second;
}

bool TDesktopSession::Rect(const std::string& Name, int& X, int& Y, int& W, int& H) const {
    std::istringstream In(Fact(Name));
    std::string Rest;
    return static_cast<bool>(In >> X >> Y >> W >> H) && !(In >> Rest);
}

std::string TDesktopSession::Logs() const {
    return "--- driver\n" + FDriverLog + "--- program\n" + FProgramLog + "--- server\n" + FServerLog;
}

}  // namespace zembra::e2e
