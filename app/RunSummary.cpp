#include "app/RunSummary.h"

#include <algorithm>

#include "util/StringUtils.h"

namespace zembra {

namespace {

int64_t ReachedPerMille(const TTaskRow& Row) {
    if (Row.TotalMs <= 0) return 0;
    return std::clamp<int64_t>(Row.CurrentMs * 1000 / Row.TotalMs, 0, 1000);
}

}  // namespace

TRunSummary SummariseRun(const TTaskRows& Rows) {
    TRunSummary S;
    S.Total = Rows.Count();
    if (S.Total == 0) return S;
    int64_t Sum = 0;  // per mille, summed over the rows
    for (const TTaskRow& Row : Rows.Rows()) {
        switch (Row.State) {
            case TTaskState::Finished:
                ++S.Finished;
                Sum += 1000;
                break;
            case TTaskState::Failed:
                // Nothing more of the run goes into it.
                ++S.Failed;
                Sum += 1000;
                break;
            case TTaskState::Stopped:
                ++S.Stopped;
                Sum += ReachedPerMille(Row);
                break;
            case TTaskState::Running:
                Sum += ReachedPerMille(Row);
                break;
            case TTaskState::Waiting:
                break;
        }
    }
    S.PerMille = static_cast<int>(Sum / S.Total);
    return S;
}

std::string SummaryText(const TRunSummary& S) {
    std::string Text = Format("%d of %d finished", S.Finished, S.Total);
    if (S.Stopped > 0) Text += Format(", %d stopped", S.Stopped);
    return Text + Format(", %d failed", S.Failed);
}

std::string TimeLeftText(int64_t SecondsLeft, bool Paused) {
    const std::string Left = SecondsLeft >= 0 ? "about " + ClockText(SecondsLeft) + " left" : "";
    if (Paused) return Left.empty() ? "Paused" : "Paused, " + Left;
    if (Left.empty()) return {};
    return "A" + Left.substr(1);
}

}  // namespace zembra
