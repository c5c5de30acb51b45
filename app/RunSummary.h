#pragma once

// The status bar's view of a run as a whole: how the tasks ended (finished, stopped, failed),
// the share of the work behind us, and the time-left text.

#include <cstdint>
#include <string>

#include "app/TaskRows.h"

namespace zembra {

struct TRunSummary {
    int Total = 0;
    int Finished = 0;
    int Stopped = 0;
    int Failed = 0;
    int KeptPartials = 0;  // stopped tasks whose partial output was kept
    // 0 ... 1000 (per mille) of the run's media time, as the time left is reckoned: each task
    // weighs its length (its output's, else its source's; one of unknown length the mean of
    // the known ones); a finished or failed task counts whole, a stopped one with the share it
    // reached.
    int PerMille = 0;

    int Ended() const { return Finished + Stopped + Failed; }
};

TRunSummary SummariseRun(const TTaskRows& Rows);

// "k of n finished, f failed", with ", s stopped" before the failures when any stopped, and
// what became of their outputs: "(partial output kept)", "(no output kept)" or, when only some
// kept one, "(p partial outputs kept)".
std::string SummaryText(const TRunSummary& S);
// "About m:ss left", or empty without an estimate (SecondsLeft < 0); while paused "Paused",
// with the estimate as it stood.
std::string TimeLeftText(int64_t SecondsLeft, bool Paused = false);

}  // namespace zembra
