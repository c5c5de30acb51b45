#pragma once

// A real X desktop for end-to-end scenarios: a virtual X server of the scenario's own (1600x1000),
// optionally with the openbox window manager, on which a bash script drives the real program
// with the X test extension. The script is written after a set of helpers (below) and reports
// what it found as facts ("fact NAME VALUE"), which the test then checks.
//
// Helpers a scenario script can call (all wait on conditions, with generous limits):
//   start_zembra FILE...      starts the program (with the test's preferences) on the files
//   find_window REGEX         the id of a visible window whose title matches, once there is one
//   wait_gone ID              until that window is no longer mapped
//   press ID KEY...           focuses the window and types the keys (xdotool key names)
//   shown_again ID CMD...     runs CMD (which hides the window), waits until a window of its
//                             title shows again (itself or a new one) and prints that one's id
//   activate ID               asks the window manager to give the window the focus
//   click_close ID            clicks the close button of the window's title bar
//   frame ID                  "x y w h" of the window with its decoration, on the screen
//   client ID                 "x y w h" of the window's own area
//   stack_position ID         its place in the window manager's stacking order (0 is lowest)
//   is_mapped ID              true while the window is shown
//   snap NAME                 a picture of the screen, NAME.png in the scratch folder
//   fact NAME VALUE...        records a fact for the test
//   wait_for SECONDS CMD...   runs CMD every tenth of a second until it succeeds
//   quit_zembra MAIN          Ctrl+Q (answering "Stop and quit" if asked), then waits for the end
// Variables: $ZEMBRA (the program), $SCRATCH (the scratch folder), $PID (the running program).

#include <map>
#include <string>
#include <vector>

namespace zembra::e2e {

struct TDesktopOptions {
    // Without one, windows have no decoration and no stacking rules (a bare server).
    bool WindowManager = true;
    // The program's preference file (QSettings ini text); empty: its defaults.
    std::string Preferences;
};

class TDesktopSession {
  public:
    // Dir: the scenario's scratch folder (exists). Zembra: the program to drive.
    TDesktopSession(std::string Dir, std::string Zembra);

    // What is missing on this machine for a session with these options; empty when nothing is.
    static std::string Missing(const TDesktopOptions& Options);

    // Runs the scenario Script with its arguments ($1…) on a server of its own; the script's
    // exit status.
    int Run(const std::string& Script, const std::vector<std::string>& Args, const TDesktopOptions& Options);

    // The facts the script recorded (the last value of each name).
    const std::map<std::string, std::string>& Facts() const { return FFacts; }
    std::string Fact(const std::string& Name) const;
    // A fact of four whole numbers ("x y w h"); false when it is not one.
    bool Rect(const std::string& Name, int& X, int& Y, int& W, int& H) const;

    // The driver's own output, the program's standard output and error, the server's log: for
    // failure messages.
    std::string Logs() const;
    const std::string& DriverLog() const { return FDriverLog; }
    const std::string& ProgramLog() const { return FProgramLog; }

  private:
    std::string FDir, FZembra;
    std::map<std::string, std::string> FFacts;
    std::string FDriverLog, FProgramLog, FServerLog;
};

}  // namespace zembra::e2e
