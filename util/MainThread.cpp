#include "util/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace zembra {

namespace {

struct TQueuedCall {
    const std::function<void()>* Proc;
    bool Done = false;
    std::exception_ptr Error;
    // A posted call owns its function, and the queue owns the call: nobody waits for it.
    std::function<void()> Owned;
    bool Posted = false;
};

struct TMainQueue {
    std::mutex Lock;
    std::condition_variable Changed;  // a call was queued or a waiter should re-check
    std::condition_variable CallDone;
    std::deque<TQueuedCall*> Calls;
    std::function<void()> WakeUp;
    std::thread::id MainId = std::this_thread::get_id();
    unsigned long Generation = 0;  // bumped by NotifyMainThread
    size_t PostedCount = 0;        // posted calls in Calls
};

// Never destroyed: a self-freeing worker's last act is to notify the main thread, and the
// process may be running its exit handlers by then.
TMainQueue& Queue() {
    static TMainQueue& Q = *new TMainQueue;
    return Q;
}

// Fixes the main thread at program load.
const bool kMainThreadFixed = [] {
    Queue();
    return true;
}();

}  // namespace

void SetMainThread(std::thread::id Id) {
    std::lock_guard<std::mutex> G(Queue().Lock);
    Queue().MainId = Id;
}

bool IsMainThread() {
    std::lock_guard<std::mutex> G(Queue().Lock);
    return Queue().MainId == std::this_thread::get_id();
}

void SetMainThreadWakeUp(std::function<void()> WakeUp) {
    std::lock_guard<std::mutex> G(Queue().Lock);
    Queue().WakeUp = std::move(WakeUp);
}

void RunInMainThread(const std::function<void()>& Proc) {
    if (!Proc) return;
    if (IsMainThread()) {
        Proc();
        return;
    }
    TMainQueue& Q = Queue();
    TQueuedCall Call{&Proc};
    std::function<void()> WakeUp;
    {
        std::lock_guard<std::mutex> G(Q.Lock);
        Q.Calls.push_back(&Call);
        WakeUp = Q.WakeUp;
    }
    Q.Changed.notify_all();
    if (WakeUp) WakeUp();
    std::unique_lock<std::mutex> L(Q.Lock);
    Q.CallDone.wait(L, [&] { return Call.Done; });
    if (Call.Error) std::rethrow_exception(Call.Error);
}

bool PostToMainThread(std::function<void()> Proc, TPostMode Mode) {
    if (!Proc) return true;
    if (IsMainThread()) {
        try {
            Proc();
        } catch (...) {
        }
        return true;
    }
    TMainQueue& Q = Queue();
    std::function<void()> WakeUp;
    {
        std::lock_guard<std::mutex> G(Q.Lock);
        if (Mode == pmDropWhenFull && Q.PostedCount >= kMaxPostedCalls) return false;
        auto* Call = new TQueuedCall{nullptr};
        Call->Owned = std::move(Proc);
        Call->Proc = &Call->Owned;
        Call->Posted = true;
        Q.Calls.push_back(Call);
        ++Q.PostedCount;
        WakeUp = Q.WakeUp;
    }
    Q.Changed.notify_all();
    if (WakeUp) WakeUp();
    return true;
}

bool MainThreadCallsWaiting() {
    TMainQueue& Q = Queue();
    std::lock_guard<std::mutex> G(Q.Lock);
    return !Q.Calls.empty();
}

int PumpMainThreadQueue(int Limit) {
    TMainQueue& Q = Queue();
    int Count = 0;
    for (;;) {
        if (Limit >= 0 && Count >= Limit) return Count;
        TQueuedCall* Call = nullptr;
        {
            std::lock_guard<std::mutex> G(Q.Lock);
            if (Q.MainId != std::this_thread::get_id() || Q.Calls.empty()) return Count;
            Call = Q.Calls.front();
            Q.Calls.pop_front();
            if (Call->Posted) --Q.PostedCount;
        }
        if (Call->Posted) {
            const std::unique_ptr<TQueuedCall> Owner(Call);
            try {
                (*Call->Proc)();
            } catch (...) {
            }
            ++Count;
            continue;
        }
        try {
            (*Call->Proc)();
        } catch (...) {
            Call->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> G(Q.Lock);
            Call->Done = true;
        }
        Q.CallDone.notify_all();
        ++Count;
    }
}

void NotifyMainThread() {
    TMainQueue& Q = Queue();
    {
        std::lock_guard<std::mutex> G(Q.Lock);
        ++Q.Generation;
    }
    Q.Changed.notify_all();
}

bool WaitInMainThread(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
    using Clock = std::chrono::steady_clock;
    const bool Bounded = Timeout != std::chrono::milliseconds::max();
    const Clock::time_point Deadline = Bounded ? Clock::now() + Timeout : Clock::time_point::max();
    TMainQueue& Q = Queue();
    const bool OnMain = IsMainThread();
    for (;;) {
        if (OnMain) PumpMainThreadQueue();
        if (Done()) return true;
        if (Bounded && Clock::now() >= Deadline) return false;
        std::unique_lock<std::mutex> L(Q.Lock);
        const unsigned long Seen = Q.Generation;
        // The short slice covers conditions that change without a notification.
        auto Until = Clock::now() + std::chrono::milliseconds(10);
        if (Until > Deadline) Until = Deadline;
        Q.Changed.wait_until(L, Until, [&] { return Q.Generation != Seen || (OnMain && !Q.Calls.empty()); });
    }
}

}  // namespace zembra
