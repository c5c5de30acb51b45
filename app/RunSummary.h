#pragma once

// The status bar's view of a run as a whole: how many tasks are done and failed, the share of
// the work behind us, and an estimate of the time left.

#include <cstdint>
#include <string>

#include "app/TaskRows.h"

namespace zembra {

struct TRunSummary {
    int Total = 0;
    int Done = 0;    // ended without failure (finished or stopped)
    int Failed = 0;  // ended with a failure
    // 0 ... 1000 (per mille), over every task, each weighing the same.
    int PerMille = 0;
    // Seconds left; -1 while no estimate is offered.
    int64_t SecondsLeft = -1;
};

// ElapsedMs: time since the run started; no estimate before MinElapsedMs or any progress.
TRunSummary SummariseRun(const TTaskRows& Rows, int64_t ElapsedMs, int64_t MinElapsedMs = 3000);

// "k of n done, f failed".
std::string SummaryText(const TRunSummary& S);
// "About m:ss left", or empty without an estimate.
std::string TimeLeftText(const TRunSummary& S);

}  // namespace zembra
