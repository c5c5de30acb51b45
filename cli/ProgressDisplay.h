#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace zembra::cli {

struct TTaskProgress {
    int32_t FPS = -1;
    int32_t CurrentDuration = 0;  // ms
    int64_t CurrentSize = 0;
    int32_t TotalDuration = -1;  // ms
};

// The progress of the running tasks on standard error: on a terminal one line per task,
// redrawn in place; otherwise one plain line per report. Messages printed through it appear
// above the live lines. A task's shown progress never goes back: a stopped or split task's last
// report may count less than an earlier one. Safe to use from any thread.
class TProgressDisplay {
  public:
    // Progress goes to Stream (standard error but in tests).
    TProgressDisplay(bool Enabled, bool Live, FILE* Stream = stderr);

    // Task: the task's id; the live lines go in its order, which is the order tasks were added.
    void Update(uint64_t Task, const std::string& Name, const TTaskProgress& Progress);
    // The task ended.
    void Remove(uint64_t Task);
    // A whole line (without its line end) on Stream, above the live block. Standard output gets
    // the line's bytes as they are (scripts find output files by them); any other stream is read
    // by people and shows bytes that are not UTF-8 as "\xFF". Once a line could not be written
    // to standard output (a reader that went away), nothing more is.
    void Print(FILE* Stream, const std::string& Line);
    // The errno of the first failed write to standard output, 0 while none failed.
    int OutputError();

    // "NAME  45% [#########           ] 25 fps 00:00:12.345 1.23 MB" (no bar without Bar,
    // no fps without video), cut to Width columns when Width is above 0.
    static std::string ProgressText(const std::string& Name, const TTaskProgress& Progress, int Width,
                                    bool Bar);

  private:
    void EraseBlock();
    void DrawBlock();

    std::mutex FLock;
    const bool FEnabled;
    const bool FLive;
    FILE* const FStream;
    int FOutputError = 0;
    struct TLine {
        std::string Name;
        TTaskProgress Progress;
    };
    std::map<uint64_t, TLine> FLines;  // the running tasks, as last shown
    int FDrawn = 0;                    // live lines on the screen
};

}  // namespace zembra::cli
