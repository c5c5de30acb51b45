#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "util/Bitmap.h"
#include "util/MainThread.h"
#include "util/Thread.h"

namespace zembra {
namespace {

using namespace std::chrono_literals;

class TLambdaThread : public TThread {
  public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> Body, std::atomic<bool>* Destroyed = nullptr)
        : FBody(std::move(Body)), FDestroyed(Destroyed) {}
    ~TLambdaThread() override {
        if (FDestroyed) FDestroyed->store(true);
    }

  protected:
    void Execute() override { FBody(*this); }

  private:
    std::function<void(TLambdaThread&)> FBody;
    std::atomic<bool>* FDestroyed;
};

TEST(RunInMainThread, CallsAtOnceOnTheMainThread) {
    ASSERT_TRUE(IsMainThread());
    bool Ran = false;
    RunInMainThread([&] { Ran = true; });
    EXPECT_TRUE(Ran);
}

TEST(RunInMainThread, WorkerWaitsWhileMainPumps) {
    std::atomic<int> WakeUps{0};
    SetMainThreadWakeUp([&] { ++WakeUps; });
    std::thread::id RanOn;
    std::atomic<bool> WorkerDone{false};
    std::thread Worker([&] {
        RunInMainThread([&] { RanOn = std::this_thread::get_id(); });
        WorkerDone = true;
    });
    // The main thread waits for the worker, which itself waits for the main thread.
    EXPECT_TRUE(WaitInMainThread([&] { return WorkerDone.load(); }, 20s));
    Worker.join();
    SetMainThreadWakeUp(nullptr);
    EXPECT_EQ(RanOn, std::this_thread::get_id());
    EXPECT_GE(WakeUps.load(), 1);
}

TEST(RunInMainThread, ExceptionReachesTheCaller) {
    std::string Caught;
    std::atomic<bool> Done{false};
    std::thread Worker([&] {
        try {
            RunInMainThread([] { throw std::runtime_error("boom"); });
        } catch (const std::exception& E) {
            Caught = E.what();
        }
        Done = true;
    });
    EXPECT_TRUE(WaitInMainThread([&] { return Done.load(); }, 20s));
    Worker.join();
    EXPECT_EQ(Caught, "boom");
}

TEST(RunInMainThread, PumpDoesNothingOffTheMainThread) {
    int Ran = -1;
    std::thread Other([&] { Ran = PumpMainThreadQueue(); });
    Other.join();
    EXPECT_EQ(Ran, 0);
}

// A posted call never holds its poster: the main thread may be waiting for that very thread.
TEST(PostToMainThread, ThePosterGoesOnAndTheMainThreadRunsTheCallsInOrder) {
    std::vector<int> Order;
    std::atomic<bool> Posted{false};
    std::thread Poster([&] {
        EXPECT_TRUE(PostToMainThread([&] { Order.push_back(1); }));
        EXPECT_TRUE(PostToMainThread([] { throw std::runtime_error("dropped"); }));
        EXPECT_TRUE(PostToMainThread([&] { Order.push_back(2); }));
        Posted = true;
    });
    Poster.join();  // the main thread does not pump meanwhile: the poster must not wait for it
    EXPECT_TRUE(Posted.load());
    EXPECT_TRUE(Order.empty());
    std::thread Caller([&] { RunInMainThread([&] { Order.push_back(3); }); });
    ASSERT_TRUE(WaitInMainThread([&] { return Order.size() == 3; }, 20s));
    Caller.join();
    EXPECT_EQ(Order, (std::vector<int>{1, 2, 3}));
    // On the main thread a posted call runs at once.
    EXPECT_TRUE(PostToMainThread([&] { Order.push_back(4); }));
    EXPECT_EQ(Order.back(), 4);
}

TEST(PostToMainThread, AFloodIsBoundedNotHeldInMemory) {
    std::atomic<int> Ran{0};
    size_t Accepted = 0;
    bool KeptWhenFull = false;
    std::thread Poster([&] {
        for (size_t I = 0; I < kMaxPostedCalls + 50; ++I)
            Accepted += PostToMainThread([&] { ++Ran; }) ? 1 : 0;
        // A final event still gets in, and runs after the flood.
        KeptWhenFull = PostToMainThread([&] { Ran += 1000000; }, pmKeep);
    });
    Poster.join();
    EXPECT_EQ(Accepted, kMaxPostedCalls);
    EXPECT_TRUE(KeptWhenFull);
    PumpMainThreadQueue();
    EXPECT_EQ(Ran.load(), static_cast<int>(kMaxPostedCalls) + 1000000);
    Ran -= 1000000;
    std::thread Again([&] { EXPECT_TRUE(PostToMainThread([&] { ++Ran; })); });
    Again.join();
    PumpMainThreadQueue();
    EXPECT_EQ(Ran.load(), static_cast<int>(kMaxPostedCalls) + 1);
}

TEST(WaitInMainThread, TimesOut) {
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitInMainThread([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - Start, 50ms);
}

TEST(Thread, StartsOnlyWhenResumed) {
    std::atomic<bool> Ran{false};
    TLambdaThread T([&](TLambdaThread&) { Ran = true; });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(Ran.load());
    EXPECT_FALSE(T.Started());
    T.Resume();
    T.Resume();  // a second resume does nothing
    T.WaitFor();
    EXPECT_TRUE(Ran.load());
    EXPECT_TRUE(T.Finished());
}

TEST(Thread, WaitForPumpsSoTheWorkerCanReachTheMainThread) {
    int Value = 0;
    TLambdaThread T([&](TLambdaThread&) { RunInMainThread([&] { Value = 7; }); });
    T.Resume();
    T.WaitFor();  // would deadlock without pumping
    EXPECT_EQ(Value, 7);
}

TEST(Thread, TerminateIsSeenByExecute) {
    std::atomic<int> Loops{0};
    TLambdaThread T([&](TLambdaThread& Self) {
        while (!Self.Terminated()) {
            ++Loops;
            std::this_thread::sleep_for(1ms);
        }
    });
    T.Resume();
    std::this_thread::sleep_for(10ms);
    T.Terminate();
    T.WaitFor();
    EXPECT_GT(Loops.load(), 0);
}

TEST(Thread, FreeOnTerminateDeletesItself) {
    std::atomic<bool> Destroyed{false};
    auto* T = new TLambdaThread([](TLambdaThread&) {}, &Destroyed);
    T->SetFreeOnTerminate(true);
    T->Resume();
    EXPECT_TRUE(WaitInMainThread([&] { return Destroyed.load(); }, 20s));
}

// A thread object its own Execute destroys is not touched again by its thread.
TEST(Thread, DestroyedByItsOwnExecute) {
    std::atomic<bool> Destroyed{false}, Ran{false}, Resumed{false};
    std::unique_ptr<TLambdaThread> Owner;
    Owner = std::make_unique<TLambdaThread>(
        [&](TLambdaThread&) {
            while (!Resumed.load()) std::this_thread::sleep_for(1ms);
            Ran = true;
            Owner.reset();
        },
        &Destroyed);
    TLambdaThread* Thread = Owner.get();
    Thread->Resume();
    Resumed = true;
    ASSERT_TRUE(WaitInMainThread([&] { return Destroyed.load(); }, 20s));
    EXPECT_TRUE(Ran.load());
    std::this_thread::sleep_for(20ms);  // the thread's last steps, which must not touch the object
}

TEST(Thread, PrioritiesApplyToTheWorker) {
    // The suite may itself run niced (nice ./test): the caller keeps whatever it started with.
    const int CallerNice = getpriority(PRIO_PROCESS, CurrentThreadId());
    int Policy = -1;
    TLambdaThread Idle([&](TLambdaThread&) { Policy = sched_getscheduler(0); });
    Idle.SetPriority(TThreadPriority::tpIdle);
    Idle.Resume();
    Idle.WaitFor();
    EXPECT_EQ(Policy, SCHED_IDLE);

    int Nice = -100;
    TLambdaThread Lowest([&](TLambdaThread&) { Nice = getpriority(PRIO_PROCESS, CurrentThreadId()); });
    Lowest.SetPriority(TThreadPriority::tpLowest);
    Lowest.Resume();
    Lowest.WaitFor();
    EXPECT_EQ(Nice, 15);
    EXPECT_EQ(getpriority(PRIO_PROCESS, CurrentThreadId()), CallerNice);  // the caller is untouched
}

TEST(PauseGate, HoldsTheWorkerUntilOpened) {
    TPauseGate Gate;
    std::atomic<int> Passed{0};
    Gate.Close();
    EXPECT_TRUE(Gate.IsClosed());
    std::thread Worker([&] {
        Gate.Wait();
        ++Passed;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(Passed.load(), 0);
    Gate.Open();
    Worker.join();
    EXPECT_EQ(Passed.load(), 1);
    Gate.Wait();  // open: returns at once
}

TEST(Bitmap, RowsArePaddedToFourBytes) {
    TBitmap B(5, 3);
    EXPECT_EQ(B.Stride(), 16);  // 15 bytes rounded up
    EXPECT_EQ(B.ByteSize(), 48u);
    B.Fill(1, 2, 3);
    EXPECT_EQ(B.ScanLine(2)[12], 1);
    EXPECT_EQ(B.ScanLine(2)[13], 2);
    EXPECT_EQ(B.ScanLine(2)[14], 3);
    EXPECT_EQ(B.ScanLine(2)[15], 0);  // padding stays clear
    B.SetSize(-1, 4);
    EXPECT_TRUE(B.Empty());
    EXPECT_EQ(B.ByteSize(), 0u);
    TBitmap Four(4, 1);
    EXPECT_EQ(Four.Stride(), 12);
}

// Sizes come from files: one whose row would overflow the stride is refused, and the bitmap
// keeps its size (3 x 1431655766 wraps to a 4-byte stride in 32 bits).
TEST(Bitmap, SizesPastAnIntRowAreRefused) {
    TBitmap B(2, 2);
    EXPECT_THROW(B.SetSize(1431655766, 2), std::length_error);
    EXPECT_THROW(B.SetSize(715827883, 1), std::length_error);
    EXPECT_EQ(B.Width(), 2);
    EXPECT_EQ(B.Stride(), 8);
    EXPECT_EQ(B.ByteSize(), 16u);
    B.Fill(9, 9, 9);
    EXPECT_EQ(B.ScanLine(1)[5], 9);
}

}  // namespace
}  // namespace zembra
