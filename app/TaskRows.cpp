#include "app/TaskRows.h"

#include <algorithm>

#include "util/Formatting.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

const std::array<TColumnSpec, kTaskColumnCount> kTaskColumns = {{
    {"Input", 100, false},
    {"Total Time", 65, true},
    {"File Size", 55, true, "Size of the input file"},
    {"Output", 150, false},
    {"Progress", 80, true},
    {"FPS", 0, false},
    {"Current Time", 80, true},
    {"File Size", 55, true, "Size of the output file so far"},
}};

std::string ClockText(int64_t Seconds) {
    if (Seconds < 0) Seconds = 0;
    const int64_t H = Seconds / 3600, M = Seconds / 60 % 60, S = Seconds % 60;
    if (H > 0)
        return Format("%lld:%02lld:%02lld", static_cast<long long>(H), static_cast<long long>(M),
                      static_cast<long long>(S));
    return Format("%lld:%02lld", static_cast<long long>(M), static_cast<long long>(S));
}

std::string ProgressText(int32_t CurrentDurationMs, int32_t TotalOutputDurationMs) {
    if (TotalOutputDurationMs <= 0) return ClockText(CurrentDurationMs / 1000);
    // In 64 bits: a long output's milliseconds times 100 leave an int.
    return std::to_string(static_cast<int64_t>(CurrentDurationMs) * 100 / TotalOutputDurationMs) + "%";
}

std::string ReachedText(const TTaskRow& Row) {
    // Only a task that reported has a share; a stopped row's cell already says more than that.
    return Row.State == TTaskState::Running || (Row.State == TTaskState::Stopped && Row.CurrentMs > 0)
               ? ProgressText(static_cast<int32_t>(Row.CurrentMs), static_cast<int32_t>(Row.TotalMs))
               : std::string();
}

std::string StoppedText(const std::string& Reached, bool Kept) {
    return (Reached.empty() ? "Stopped" : "Stopped " + Reached) +
           (Kept ? ": partial output kept" : ": no output kept");
}

std::string PartialOutputLine(TStopCause Cause, const std::string& Reached, const std::string& Input,
                              const std::u16string& Kept, const std::u16string& Output) {
    std::string Line;
    switch (Cause) {
        case TStopCause::Stopped:
            Line = Reached.empty() ? "Stopped" : "Stopped " + Reached;
            break;
        case TStopCause::Removed:
            Line = Reached.empty() ? "Removed" : "Removed at " + Reached;
            break;
        case TStopCause::Cleared:
            Line = Reached.empty() ? "Cleared" : "Cleared at " + Reached;
            break;
    }
    // The output's name keeps what it held before: nothing was written to it either way.
    if (!Kept.empty()) return Line + ": partial output kept: " + Input + " -> " + ReadableText(Kept);
    return Line + ": no output kept: " + Input + " (nothing written to " + ReadableText(Output) + ")";
}

namespace {

std::string Counted(int N, const char* One, const char* Many) {
    return std::to_string(N) + " " + (N == 1 ? One : Many);
}

}  // namespace

std::string ClearedStatus(int Stopped, int Kept) {
    const std::string What =
        "Cleared: " + Counted(Stopped, "unfinished task", "unfinished tasks") + " stopped, ";
    if (Kept == 0) return What + "no output kept";
    return What + Counted(Kept, "partial output", "partial outputs") + " kept (names in the log)";
}

std::string ClearQuestion(int Unfinished, bool KeepPartial) {
    const bool One = Unfinished == 1;
    const std::string Tasks =
        One ? "the unfinished task" : "the " + std::to_string(Unfinished) + " unfinished tasks";
    return "Clear the list and stop " + Tasks + "? What " + (One ? "it" : "they") + " converted so far " +
           (KeepPartial ? "is kept as partial files, named NAME.partial.EXT." : "is removed.");
}

void TTaskRows::Add(const std::u16string& InputFile, int64_t DurationUs, int64_t Size,
                    const std::u16string& OutputFile, uint64_t TaskId) {
    TTaskRow Row;
    Row.TaskId = TaskId;
    Row.Cells[colInput] = ReadableText(ExtractFileNameW(InputFile));
    Row.Cells[colTotalTime] = std::to_string(DurationUs / 1000000);
    Row.Cells[colFileSize] = FormatFileSize(Size, 1);
    Row.Cells[colOutput] = ReadableText(ExtractFileNameW(OutputFile));
    Row.OutputFile = OutputFile;
    Row.OutputFolder = ExtractFilePathW(OutputFile);
    Row.SourceMs = DurationUs >= 0 ? DurationUs / 1000 : -1;
    FRows.push_back(std::move(Row));
}

int TTaskRows::RowOfTask(uint64_t TaskId) const {
    for (size_t I = 0; TaskId != 0 && I < FRows.size(); ++I)
        if (FRows[I].TaskId == TaskId) return static_cast<int>(I);
    return -1;
}

void TTaskRows::Remove(int Index) {
    if (Index >= 0 && Index < Count()) FRows.erase(FRows.begin() + Index);
}

bool TTaskRows::ApplyProgress(int Index, int32_t FPS, int32_t CurrentDurationMs, int64_t CurrentSize,
                              int32_t TotalOutputDurationMs) {
    if (Index < 0 || Index >= Count()) return false;
    TTaskRow& Row = FRows[static_cast<size_t>(Index)];
    Row.Cells[colProgress] = ProgressText(CurrentDurationMs, TotalOutputDurationMs);
    if (FPS > 0) Row.Cells[colFPS] = std::to_string(FPS);
    Row.Cells[colCurrentTime] = std::to_string(CurrentDurationMs / 1000);
    Row.Cells[colOutputSize] = FormatFileSize(CurrentSize, 1);
    Row.CurrentMs = CurrentDurationMs;
    Row.TotalMs = TotalOutputDurationMs;
    Row.Percent = TotalOutputDurationMs > 0
                      ? static_cast<int>(std::clamp<int64_t>(
                            static_cast<int64_t>(CurrentDurationMs) * 100 / TotalOutputDurationMs, 0, 100))
                      : -1;
    if (Row.State == TTaskState::Waiting) Row.State = TTaskState::Running;
    return true;
}

bool TTaskRows::ApplyTerminate(int Index, bool Finished, bool Exception, const std::string& Message,
                               const std::u16string& KeptPartial) {
    if (Index < 0 || Index >= Count()) return false;
    TTaskRow& Row = FRows[static_cast<size_t>(Index)];
    Row.Note = Message;
    if (Exception) {
        // The engine deletes what a failed task wrote: the row offers no file any more.
        Row.State = TTaskState::Failed;
        Row.Cells[colProgress] = "Failed";
        Row.Cells[colOutput].clear();
        Row.Playable = false;
        Row.Percent = -1;
    } else if (Finished) {
        Row.State = TTaskState::Finished;
        Row.Cells[colProgress] = "100%";
        Row.Percent = 100;
        Row.Playable = true;
    } else {
        // What a stopped task wrote is a valid file, kept (when the preference says so) under a
        // name that says it is partial; the bar keeps the share it reached.
        const std::string Reached = ReachedText(Row);
        Row.State = TTaskState::Stopped;
        Row.Cells[colProgress] = StoppedText(Reached, !KeptPartial.empty());
        Row.Playable = !KeptPartial.empty();
        if (Row.Playable) {
            Row.OutputFile = KeptPartial;
            Row.Cells[colOutput] = ReadableText(ExtractFileNameW(KeptPartial));
        } else {
            Row.Cells[colOutput].clear();
        }
    }
    return true;
}

int TTaskRows::RowOfInterest(int Selected) const {
    if (Selected >= 0 && Selected < Count()) return Selected;
    return Count() - 1;
}

bool TTaskRows::CanPlay(int Selected) const {
    const int Row = RowOfInterest(Selected);
    return Row >= 0 && FRows[static_cast<size_t>(Row)].Playable;
}

std::u16string TTaskRows::FileToPlay(int Selected) const {
    return CanPlay(Selected) ? FRows[static_cast<size_t>(RowOfInterest(Selected))].OutputFile
                             : std::u16string();
}

std::u16string TTaskRows::FolderToOpen(int Selected) const {
    const int Row = RowOfInterest(Selected);
    return Row >= 0 ? FRows[static_cast<size_t>(Row)].OutputFolder : std::u16string();
}

}  // namespace zembra
