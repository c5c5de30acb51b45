#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace zembra {

// The main thread is the thread that loaded the program (static initialisation), unless the
// program says otherwise before any worker starts.
void SetMainThread(std::thread::id Id = std::this_thread::get_id());
bool IsMainThread();

// Calls Proc at once on the main thread. From any other thread the call is queued, the main
// thread is woken through the wake-up hook, and the caller waits until Proc has run there.
// An exception thrown by Proc reaches the caller.
void RunInMainThread(const std::function<void()>& Proc);

// Queues Proc for the main thread and returns at once (on the main thread it runs at once).
// For threads that must never wait for the main thread: one the main thread may itself be
// waiting for, such as a codec's own worker. Calls run in the order they were queued, with
// those of RunInMainThread. False when the queue already holds kMaxPostedCalls posted calls
// and Proc was dropped; an exception thrown by Proc is dropped too. A call that must not be
// lost (a task's final event: its count is bounded by the tasks, not by a rate) is posted
// with pmKeep, which queues it whatever the queue holds.
constexpr size_t kMaxPostedCalls = 10000;
enum TPostMode { pmDropWhenFull, pmKeep };
bool PostToMainThread(std::function<void()> Proc, TPostMode Mode = pmDropWhenFull);

// Called (from the queuing thread) whenever a call is queued, so that an event loop can
// schedule a pump. Pass an empty function to remove it.
void SetMainThreadWakeUp(std::function<void()> WakeUp);

// Runs every queued call, or at most Limit of them when Limit >= 0; returns how many ran. Only
// the main thread pumps; elsewhere it does nothing and returns 0.
int PumpMainThreadQueue(int Limit = -1);
// True when calls wait for the main thread.
bool MainThreadCallsWaiting();

// Wakes a main thread blocked in WaitInMainThread so it re-checks its condition (a worker
// calls this when it finishes).
void NotifyMainThread();

// Waits until Done() holds. On the main thread it keeps pumping the queue while it waits, so a
// worker that needs the main thread cannot deadlock it; elsewhere it simply polls.
// With a timeout, returns false when the time ran out first.
bool WaitInMainThread(const std::function<bool()>& Done,
                      std::chrono::milliseconds Timeout = std::chrono::milliseconds::max());

}  // namespace zembra
