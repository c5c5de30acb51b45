#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace zembra {

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

// True on a thread a TThread started (not on the main thread, nor on a library's own threads).
bool IsOwnThread();

// A thread object created suspended: Resume starts Execute on a new thread. With
// FreeOnTerminate set the object deletes itself once Execute has returned (it must then be
// created with new, and nobody may touch it after Resume). Execute may also destroy the object
// itself, once Resume has returned.
class TThread {
  public:
    explicit TThread(bool CreateSuspended = true);
    virtual ~TThread();

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread the first time; later calls do nothing.
    void Resume();
    bool Started() const { return FStarted.load(); }
    bool Finished() const { return FFinished.load(); }
    // True when called from this object's own thread.
    bool IsCurrentThread() const { return FRunningOn.load() == std::this_thread::get_id(); }

    // Asks Execute to finish; Execute polls Terminated().
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }

    // Waits until Execute has returned. On the main thread the run-on-main-thread queue is
    // pumped while waiting. Not allowed with FreeOnTerminate.
    void WaitFor();

    void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
    bool FreeOnTerminate() const { return FFreeOnTerminate; }

    // Takes effect when the thread starts.
    void SetPriority(TThreadPriority Value) { FPriority = Value; }
    TThreadPriority Priority() const { return FPriority; }

  protected:
    virtual void Execute() = 0;

  private:
    void ThreadMain(bool Free);

    std::thread FHandle;
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<std::thread::id> FRunningOn{};
    bool FFreeOnTerminate = false;
    TThreadPriority FPriority = TThreadPriority::tpNormal;
};

// Applies a priority to the calling thread (SCHED_IDLE, or a nice value for the thread).
void ApplyThreadPriority(TThreadPriority Priority);

// The cooperative pause: a worker passes Wait() once per iteration and stays there while the
// gate is closed.
class TPauseGate {
  public:
    void Close();
    void Open();
    bool IsClosed() const;
    // Returns at once while open; blocks while closed.
    void Wait();
    // The same, but also returns once Leave() is true; whoever makes it true calls Wake.
    template <class TLeave>
    void WaitUnless(TLeave Leave) {
        std::unique_lock<std::mutex> L(FLock);
        FOpened.wait(L, [&] { return !FClosed || Leave(); });
    }
    void Wake();

  private:
    mutable std::mutex FLock;
    std::condition_variable FOpened;
    bool FClosed = false;
};

// Id of the calling thread as the kernel knows it (what the log shows).
uint32_t CurrentThreadId();

}  // namespace zembra
