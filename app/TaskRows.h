#pragma once

// The task list's rows as text, kept parallel to the component's tasks: what each of the eight
// columns shows, the output files with their playable markers, and which row the pop-up's
// "Play Output" and "Open Folder" act on.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zembra {

enum TTaskColumn {
    colInput,
    colTotalTime,
    colFileSize,
    colOutput,
    colProgress,
    colFPS,
    colCurrentTime,
    colOutputSize,
    kTaskColumnCount
};

struct TColumnSpec {
    const char* Caption;
    int Width;  // the least width in pixels; 0: the view's default
    // Sized to the widest cell (sizes, times, what a stopped task left); otherwise the column keeps its
    // width, and the input and output columns share whatever width the window has left.
    bool FitContent;
    // The header's tooltip, for the columns whose captions alone do not tell them apart.
    const char* Tooltip = nullptr;
};
extern const std::array<TColumnSpec, kTaskColumnCount> kTaskColumns;

enum class TTaskState { Waiting, Running, Finished, Stopped, Failed };

struct TTaskRow {
    uint64_t TaskId = 0;                              // the component's id of the row's task; 0 for none
    std::array<std::string, kTaskColumnCount> Cells;  // UTF-8
    std::u16string OutputFile;
    std::u16string OutputFolder;  // ends with '/'
    bool Playable = false;
    TTaskState State = TTaskState::Waiting;
    // Why a task failed, or a warning about a finished one: the row's tooltip.
    std::string Note;
    int64_t SourceMs = -1;  // what the task converts (a cut's length); -1 unknown
    int64_t CurrentMs = 0;
    int64_t TotalMs = -1;  // of the output; -1 unknown
    // 0 ... 100 for the bar; -1 while no share is known.
    int Percent = -1;
};

class TTaskRows {
  public:
    // DurationUs: what the task converts (a cut's length, else the probe's duration), -1 when
    // unknown; Size in bytes.
    void Add(const std::u16string& InputFile, int64_t DurationUs, int64_t Size,
             const std::u16string& OutputFile, uint64_t TaskId = 0);
    // The row of a task by its id; -1 once that row is gone (its task's late reports find none).
    int RowOfTask(uint64_t TaskId) const;
    // Out-of-range indexes are ignored, as events of tasks already cleared are.
    void Remove(int Index);
    void Clear() { FRows.clear(); }

    // An engine's progress report; false when the index names no row.
    bool ApplyProgress(int Index, int32_t FPS, int32_t CurrentDurationMs, int64_t CurrentSize,
                       int32_t TotalOutputDurationMs);
    // A task's own end (index 0 or more). Message: the failure, or a finished task's warning.
    // KeptPartial: where a stopped task's output was kept (it never takes the output's name);
    // empty when it kept none, and the row then offers no file.
    bool ApplyTerminate(int Index, bool Finished, bool Exception, const std::string& Message = {},
                        const std::u16string& KeptPartial = {});

    int Count() const { return static_cast<int>(FRows.size()); }
    const TTaskRow& operator[](int Index) const { return FRows[static_cast<size_t>(Index)]; }
    const std::vector<TTaskRow>& Rows() const { return FRows; }

    // The selected row when it is within the list, otherwise the last; -1 for an empty list.
    int RowOfInterest(int Selected) const;
    // Whether "Play Output" is offered for that row.
    bool CanPlay(int Selected) const;
    // The output to play (empty when none is playable) and the folder to open (empty when none).
    std::u16string FileToPlay(int Selected) const;
    std::u16string FolderToOpen(int Selected) const;

  private:
    std::vector<TTaskRow> FRows;
};

// How a task that had not finished left the list: stopped in place, removed from it, or with
// the whole list cleared.
enum class TStopCause { Stopped, Removed, Cleared };

// The share a task had reached as its "Progress" cell showed it; empty before its first report.
std::string ReachedText(const TTaskRow& Row);
// A stopped task's "Progress" cell: "Stopped 15%: partial output kept" or "Stopped 15%: no
// output kept" ("Stopped: ..." before any report).
std::string StoppedText(const std::string& Reached, bool Kept);
// The log's line for an unfinished task that was stopped, removed or cleared, naming its input
// and the file it left (or the output name it did not write).
std::string PartialOutputLine(TStopCause Cause, const std::string& Reached, const std::string& Input,
                              const std::u16string& Kept, const std::u16string& Output);
// The status bar after a clear stopped unfinished tasks (Stopped of them, Kept with a partial).
std::string ClearedStatus(int Stopped, int Kept);
// What "Clear Task" asks during a run: Unfinished tasks stop, and their outputs are kept as
// partial files or removed, as the preference says.
std::string ClearQuestion(int Unfinished, bool KeepPartial);

// "Progress" while running: the integer share in percent; with no known total (0 or -1) the
// time reached, as "m:ss" or "h:mm:ss".
std::string ProgressText(int32_t CurrentDurationMs, int32_t TotalOutputDurationMs);
// "m:ss", or "h:mm:ss" from an hour on.
std::string ClockText(int64_t Seconds);

}  // namespace zembra
