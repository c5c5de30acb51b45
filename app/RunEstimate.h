#pragma once

// The time a run has left, from the media time every unfinished task has still to convert and
// the speed each running task has shown since its first report. A task that ended at once, a
// slow start or the time spent paused therefore do not skew it, and it is never below what the
// slowest running task needs on its own.

#include <cstdint>
#include <vector>

#include "app/TaskRows.h"

namespace zembra {

class TRunEstimate {
  public:
    // Run time (and a task's own time since its first report) before an estimate is offered.
    static constexpr int64_t kSteadyMs = 3000;

    // NowMs: any monotonic clock in milliseconds, the same for every call.
    void Start(int64_t NowMs);
    void Pause(int64_t NowMs);
    void Resume(int64_t NowMs);
    bool Paused() const { return FPausedAt >= 0; }

    // The task of row Index reached CurrentMs of its output.
    void Progress(int Index, int64_t CurrentMs, int64_t NowMs);
    // Row Index left the list; the rows behind it move up.
    void Removed(int Index);

    // Seconds left (rounded up), -1 while no steady estimate can be had. While paused, the
    // estimate as it stood when the pause began.
    int64_t SecondsLeft(const TTaskRows& Rows, int64_t NowMs) const;

  private:
    // The run's time without its pauses.
    int64_t RunMs(int64_t NowMs) const;

    struct TPace {
        int64_t FirstRunMs = -1;
        int64_t FirstMediaMs = 0;
        int64_t LastRunMs = 0;
        int64_t LastMediaMs = 0;
        // Media milliseconds per run millisecond; 0 while not measured long enough.
        double Speed() const;
    };
    std::vector<TPace> FPaces;
    int64_t FStartMs = -1;
    int64_t FPausedMs = 0;
    int64_t FPausedAt = -1;
};

}  // namespace zembra
