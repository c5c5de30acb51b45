#include "util/Thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include "util/MainThread.h"

namespace zembra {

namespace {
thread_local bool tOwnThread = false;
// Set when a thread object is destroyed by its own Execute: the thread may not touch it again.
thread_local bool tObjectGone = false;
}  // namespace

bool IsOwnThread() {
    return tOwnThread;
}

TThread::TThread(bool CreateSuspended) {
    // A thread created running would start Execute before the derived object exists; only the
    // suspended form is safe in C++, so the flag only records intent.
    (void)CreateSuspended;
}

TThread::~TThread() {
    if (IsCurrentThread()) tObjectGone = true;
    if (FHandle.joinable()) {
        if (FHandle.get_id() == std::this_thread::get_id())
            FHandle.detach();
        else
            FHandle.join();
    }
}

void TThread::Resume() {
    bool Expected = false;
    if (!FStarted.compare_exchange_strong(Expected, true)) return;
    // With FreeOnTerminate the object may be gone as soon as the thread starts: nothing of it
    // is touched here afterwards.
    const bool Free = FFreeOnTerminate;
    std::thread Handle([this, Free] { ThreadMain(Free); });
    if (Free)
        Handle.detach();
    else
        FHandle = std::move(Handle);
}

void TThread::ThreadMain(bool Free) {
    tOwnThread = true;
    FRunningOn.store(std::this_thread::get_id());
    ApplyThreadPriority(FPriority);
    try {
        Execute();
    } catch (const std::exception&) {
        // An escaping exception must not take the process down; Execute reports its own
        // failures through its owner.
    }
    if (tObjectGone) {
        NotifyMainThread();
        return;
    }
    if (Free) {
        // Woken first: after the delete nothing of this thread may touch shared state, which a
        // process at its end may already be tearing down.
        NotifyMainThread();
        delete this;
        return;
    }
    FFinished.store(true);
    NotifyMainThread();
}

void TThread::WaitFor() {
    if (!FStarted.load() || IsCurrentThread()) return;
    WaitInMainThread([this] { return FFinished.load(); });
    if (FHandle.joinable()) FHandle.join();
}

void ApplyThreadPriority(TThreadPriority Priority) {
    const pid_t Tid = static_cast<pid_t>(::syscall(SYS_gettid));
    switch (Priority) {
        case TThreadPriority::tpIdle: {
            sched_param Param{};
            Param.sched_priority = 0;
            (void)pthread_setschedparam(pthread_self(), SCHED_IDLE, &Param);
            break;
        }
        case TThreadPriority::tpLowest:
            (void)setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), 15);
            break;
        case TThreadPriority::tpLower:
            (void)setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), 10);
            break;
        case TThreadPriority::tpNormal:
            break;
    }
}

void TPauseGate::Close() {
    std::lock_guard<std::mutex> G(FLock);
    FClosed = true;
}

void TPauseGate::Open() {
    {
        std::lock_guard<std::mutex> G(FLock);
        FClosed = false;
    }
    FOpened.notify_all();
}

bool TPauseGate::IsClosed() const {
    std::lock_guard<std::mutex> G(FLock);
    return FClosed;
}

void TPauseGate::Wait() {
    std::unique_lock<std::mutex> L(FLock);
    FOpened.wait(L, [this] { return !FClosed; });
}

void TPauseGate::Wake() {
    // Taken so that a waiter between its test of Leave and its sleep still gets the call.
    { std::lock_guard<std::mutex> G(FLock); }
    FOpened.notify_all();
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

}  // namespace zembra
