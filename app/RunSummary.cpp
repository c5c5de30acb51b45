#include "app/RunSummary.h"

#include <algorithm>

#include "util/StringUtils.h"

namespace zembra {

namespace {

// The media time a task converts: its output's once reported (a cut's), else the source's;
// -1 unknown.
int64_t LengthMs(const TTaskRow& Row) {
    return Row.TotalMs > 0 ? Row.TotalMs : Row.SourceMs;
}

}  // namespace

TRunSummary SummariseRun(const TTaskRows& Rows) {
    TRunSummary S;
    S.Total = Rows.Count();
    if (S.Total == 0) return S;
    // A task of unknown length weighs the mean of the known ones; with none known, each task
    // weighs the same.
    double Known = 0;
    int KnownCount = 0;
    for (const TTaskRow& Row : Rows.Rows())
        if (LengthMs(Row) > 0) {
            Known += static_cast<double>(LengthMs(Row));
            ++KnownCount;
        }
    const double Unknown = KnownCount > 0 ? Known / KnownCount : 1.0;
    double Work = 0, Done = 0;
    for (const TTaskRow& Row : Rows.Rows()) {
        const int64_t Length = LengthMs(Row);
        const double Weight = KnownCount == 0 ? 1.0 : Length > 0 ? static_cast<double>(Length) : Unknown;
        // The share of a task converted; 0 while its length is unknown.
        const double Reached = Length > 0
                                   ? static_cast<double>(std::clamp<int64_t>(Row.CurrentMs, 0, Length)) /
                                         static_cast<double>(Length)
                                   : 0.0;
        Work += Weight;
        switch (Row.State) {
            case TTaskState::Finished:
                ++S.Finished;
                Done += Weight;
                break;
            case TTaskState::Failed:
                // Nothing more of the run goes into it.
                ++S.Failed;
                Done += Weight;
                break;
            case TTaskState::Stopped:
                ++S.Stopped;
                if (Row.Playable) ++S.KeptPartials;
                Done += Weight * Reached;
                break;
            case TTaskState::Running:
                Done += Weight * Reached;
                break;
            case TTaskState::Waiting:
                break;
        }
    }
    // A hair over, so that shares that are whole per mille are not lost to rounding.
    S.PerMille = static_cast<int>(std::clamp(Done * 1000 / Work + 1e-9, 0.0, 1000.0));
    return S;
}

std::string SummaryText(const TRunSummary& S) {
    std::string Text = Format("%d of %d finished", S.Finished, S.Total);
    if (S.Stopped > 0) {
        const char* Plural = S.KeptPartials == 1 ? "" : "s";
        Text += Format(", %d stopped", S.Stopped);
        if (S.KeptPartials == 0)
            Text += " (no output kept)";
        else if (S.KeptPartials == S.Stopped)
            Text += Format(" (partial output%s kept)", Plural);
        else
            Text += Format(" (%d partial output%s kept)", S.KeptPartials, Plural);
    }
    return Text + Format(", %d failed", S.Failed);
}

std::string TimeLeftText(int64_t SecondsLeft, bool Paused) {
    const std::string Left = SecondsLeft >= 0 ? "about " + ClockText(SecondsLeft) + " left" : "";
    if (Paused) return Left.empty() ? "Paused" : "Paused, " + Left;
    if (Left.empty()) return {};
    return "A" + Left.substr(1);
}

}  // namespace zembra
