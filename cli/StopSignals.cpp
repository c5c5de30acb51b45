#include "cli/StopSignals.h"

#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>

namespace zembra::cli {

namespace {

constexpr int64_t kSameRequestNs = 1'000'000'000;

static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler uses these atomics");

std::atomic<int> gReason{static_cast<int>(TStopReason::None)};
// When the first signal came (monotonic nanoseconds), 0 before it.
std::atomic<int64_t> gFirstSignal{0};
// Posted by the handler for a late signal: the handler itself can do nothing that is not
// async-signal-safe, such as removing the outputs.
sem_t gEndNow;
std::function<void()> gEndAtOnce;

int64_t MonotonicNs() {
    timespec T{};
    ::clock_gettime(CLOCK_MONOTONIC, &T);
    return static_cast<int64_t>(T.tv_sec) * 1'000'000'000 + T.tv_nsec;
}

void SetReason(TStopReason Reason) {
    int None = static_cast<int>(TStopReason::None);
    gReason.compare_exchange_strong(None, static_cast<int>(Reason));
}

extern "C" void OnStopSignal(int) {
    const int SavedErrno = errno;
    const int64_t Now = MonotonicNs() | 1;  // never 0, which means "none yet"
    int64_t First = 0;
    if (gFirstSignal.compare_exchange_strong(First, Now))
        SetReason(TStopReason::Signal);
    else if (Now - First > kSameRequestNs)
        ::sem_post(&gEndNow);
    errno = SavedErrno;
}

void Catch(int Signal) {
    struct sigaction Old {};
    // Started under nohup, the batch goes on when the terminal goes.
    if (Signal == SIGHUP && ::sigaction(Signal, nullptr, &Old) == 0 && Old.sa_handler == SIG_IGN) return;
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    ::sigemptyset(&Action.sa_mask);
    // Reads of the name list on standard input go on instead of ending early.
    Action.sa_flags = SA_RESTART;
    ::sigaction(Signal, &Action, nullptr);
}

}  // namespace

void InstallStopSignals(std::function<void()> EndAtOnce) {
    gEndAtOnce = std::move(EndAtOnce);
    ::sem_init(&gEndNow, 0, 0);
    std::thread([] {
        while (::sem_wait(&gEndNow) != 0) {
        }
        gEndAtOnce();
    }).detach();
    struct sigaction Ignore {};
    Ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&Ignore.sa_mask);
    ::sigaction(SIGPIPE, &Ignore, nullptr);
    for (const int Signal : {SIGINT, SIGTERM, SIGHUP}) Catch(Signal);
}

TStopReason StopReason() {
    return static_cast<TStopReason>(gReason.load());
}

bool StopRequested() {
    return StopReason() != TStopReason::None;
}

void RequestStop(TStopReason Reason) {
    SetReason(Reason);
}

}  // namespace zembra::cli
