#include "app/RunEstimate.h"

#include <algorithm>
#include <cmath>

namespace zembra {

void TRunEstimate::Start(int64_t NowMs) {
    *this = TRunEstimate();
    FStartMs = NowMs;
}

void TRunEstimate::Pause(int64_t NowMs) {
    if (FStartMs >= 0 && FPausedAt < 0) FPausedAt = NowMs;
}

void TRunEstimate::Resume(int64_t NowMs) {
    if (FPausedAt < 0) return;
    FPausedMs += std::max<int64_t>(0, NowMs - FPausedAt);
    FPausedAt = -1;
}

int64_t TRunEstimate::RunMs(int64_t NowMs) const {
    if (FStartMs < 0) return 0;
    const int64_t Until = FPausedAt >= 0 ? std::min(NowMs, FPausedAt) : NowMs;
    return std::max<int64_t>(0, Until - FStartMs - FPausedMs);
}

double TRunEstimate::TPace::Speed() const {
    const int64_t Span = LastRunMs - FirstRunMs;
    if (FirstRunMs < 0 || Span < kSteadyMs || LastMediaMs <= FirstMediaMs) return 0;
    return static_cast<double>(LastMediaMs - FirstMediaMs) / static_cast<double>(Span);
}

void TRunEstimate::Progress(int Index, int64_t CurrentMs, int64_t NowMs) {
    if (Index < 0 || FStartMs < 0) return;
    if (static_cast<size_t>(Index) >= FPaces.size()) FPaces.resize(static_cast<size_t>(Index) + 1);
    TPace& P = FPaces[static_cast<size_t>(Index)];
    const int64_t Now = RunMs(NowMs);
    if (P.FirstRunMs < 0) {
        P.FirstRunMs = Now;
        P.FirstMediaMs = CurrentMs;
    }
    P.LastRunMs = Now;
    P.LastMediaMs = CurrentMs;
}

void TRunEstimate::Removed(int Index) {
    if (Index >= 0 && static_cast<size_t>(Index) < FPaces.size()) FPaces.erase(FPaces.begin() + Index);
}

int64_t TRunEstimate::SecondsLeft(const TTaskRows& Rows, int64_t NowMs) const {
    if (FStartMs < 0 || RunMs(NowMs) < kSteadyMs) return -1;
    const auto SpeedOf = [this](int Index) {
        return static_cast<size_t>(Index) < FPaces.size() ? FPaces[static_cast<size_t>(Index)].Speed() : 0.0;
    };
    // A task that has only just started runs, until measured, at the others' mean speed.
    double Known = 0;
    int KnownCount = 0;
    for (int I = 0; I < Rows.Count(); ++I)
        if (Rows[I].State == TTaskState::Running && SpeedOf(I) > 0) {
            Known += SpeedOf(I);
            ++KnownCount;
        }
    if (KnownCount == 0) return -1;
    const double Mean = Known / KnownCount;

    double Work = 0;        // media milliseconds left over all unfinished tasks
    double Throughput = 0;  // media milliseconds per millisecond of the running tasks together
    double Longest = 0;     // the slowest running task's own time left
    for (int I = 0; I < Rows.Count(); ++I) {
        const TTaskRow& Row = Rows[I];
        if (Row.State == TTaskState::Waiting) {
            const int64_t Length = Row.TotalMs > 0 ? Row.TotalMs : Row.SourceMs;
            if (Length < 0) return -1;
            Work += static_cast<double>(Length);
        } else if (Row.State == TTaskState::Running) {
            if (Row.TotalMs <= 0) return -1;
            const double Left = static_cast<double>(std::max<int64_t>(0, Row.TotalMs - Row.CurrentMs));
            const double Speed = SpeedOf(I) > 0 ? SpeedOf(I) : Mean;
            Work += Left;
            Throughput += Speed;
            Longest = std::max(Longest, Left / Speed);
        }
    }
    if (Throughput <= 0) return -1;
    const double Ms = std::max(Work / Throughput, Longest);
    return static_cast<int64_t>(std::ceil(Ms / 1000.0));
}

}  // namespace zembra
