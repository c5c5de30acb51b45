#include "app/RunSummary.h"

#include <algorithm>

#include "util/StringUtils.h"

namespace zembra {

TRunSummary SummariseRun(const TTaskRows& Rows, int64_t ElapsedMs, int64_t MinElapsedMs) {
    TRunSummary S;
    S.Total = Rows.Count();
    if (S.Total == 0) return S;
    int64_t Sum = 0;  // per mille, summed over the rows
    for (const TTaskRow& Row : Rows.Rows()) {
        switch (Row.State) {
            case TTaskState::Finished:
            case TTaskState::Stopped:
                ++S.Done;
                Sum += 1000;
                break;
            case TTaskState::Failed:
                ++S.Failed;
                Sum += 1000;
                break;
            case TTaskState::Running:
                if (Row.TotalMs > 0) Sum += std::clamp<int64_t>(Row.CurrentMs * 1000 / Row.TotalMs, 0, 1000);
                break;
            case TTaskState::Waiting:
                break;
        }
    }
    S.PerMille = static_cast<int>(Sum / S.Total);
    if (S.PerMille > 0 && S.PerMille < 1000 && ElapsedMs >= MinElapsedMs)
        S.SecondsLeft = ElapsedMs * (1000 - S.PerMille) / S.PerMille / 1000;
    return S;
}

std::string SummaryText(const TRunSummary& S) {
    return Format("%d of %d done, %d failed", S.Done + S.Failed, S.Total, S.Failed);
}

std::string TimeLeftText(const TRunSummary& S) {
    if (S.SecondsLeft < 0) return {};
    return "About " + ClockText(S.SecondsLeft) + " left";
}

}  // namespace zembra
