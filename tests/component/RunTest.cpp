// Running the list: thread and sequential mode, stop, pause, the events and their threads.

#include <random>
#include <set>
#include <new>
#include <system_error>

#include "tests/component/ComponentTestSupport.h"

namespace zembra::testing {
namespace {

class Run : public ComponentTest {
  protected:
    void Build(TTestComponent& C, int Count) {
        for (int I = 0; I < Count; ++I) ASSERT_EQ(AddTask(C), I);
        Events.Attach(C);
    }
    // Waits until N simulated runs are under way at the same time.
    bool WaitRunning(TTestComponent& C, int N) {
        return WaitInMainThread([&] { return C.Control.Running.load() >= N; }, 20s);
    }
    static std::set<int32_t> Indexes(const std::vector<TTerminateRecord>& T) {
        std::set<int32_t> S;
        for (const auto& R : T) S.insert(R.Index);
        return S;
    }

    TEventRecorder Events;
    TWatchdog Watchdog{std::chrono::seconds(45)};
};

TEST_F(Run, ThreeThreadsAndTwoTasksStartBothAtOnce) {
    TTestComponent C;
    Build(C, 2);
    C.StartTasks(3);  // returns at once: the tasks run until stopped
    ASSERT_TRUE(WaitRunning(C, 2));
    EXPECT_TRUE(C.RunActive());
    EXPECT_EQ(Events.TerminateCount(), 0u);
    const std::thread::id W0 = C.Control.Worker(C.Task(0)), W1 = C.Control.Worker(C.Task(1));
    EXPECT_NE(W0, W1);
    EXPECT_NE(W0, std::this_thread::get_id());
    C.StopTasks(true);
    ASSERT_TRUE(Events.WaitForTerminates(3));
    const auto T = Events.Terminates();
    EXPECT_EQ(Indexes(T), (std::set<int32_t>{-1, 0, 1}));
    for (const auto& R : T) {
        EXPECT_FALSE(R.OnMain) << R.Index;
        EXPECT_FALSE(R.OnWorker) << R.Index;
        if (R.Index >= 0) {
            EXPECT_FALSE(R.Finished) << "stopped";
        }
    }
    EXPECT_FALSE(C.RunActive());
    EXPECT_TRUE(C.WaitForEventThreads(20s));
}

TEST_F(Run, OneThreadRunsThreeTasksOneAfterAnotherEachOnItsOwnWorker) {
    TTestComponent C;
    C.Control.Limit = 5;
    Build(C, 3);
    C.StartTasks(1);
    ASSERT_TRUE(Events.WaitForTerminates(4));
    EXPECT_EQ(C.Control.MaxRunning.load(), 1);
    EXPECT_EQ(C.Control.Started.load(), 3);
    std::set<int> Workers;
    for (int I = 0; I < 3; ++I) {
        EXPECT_NE(C.Control.Worker(C.Task(I)), std::this_thread::get_id());
        std::lock_guard<std::mutex> G(C.Control.Lock);
        Workers.insert(C.Control.WorkerSerialOf[C.Task(I)]);
    }
    EXPECT_EQ(Workers.size(), 3u);
    const auto T = Events.Terminates();
    for (const auto& R : T) {
        if (R.Index < 0) continue;
        EXPECT_TRUE(R.Finished);
        EXPECT_FALSE(R.Exception);
        EXPECT_EQ(R.Message, "");
        EXPECT_FALSE(R.OnMain);
        EXPECT_FALSE(R.OnWorker) << "terminate handlers run on threads of their own";
    }
    // Progress comes on the worker of the task it belongs to.
    for (const auto& P : Events.Progress()) EXPECT_EQ(P.Thread, C.Control.Worker(C.Task(P.Index)));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
}

TEST_F(Run, SequentialModeReturnsAfterTheFinalEventWithEverythingOnTheCallersThread) {
    for (const int32_t Count : {0, -2}) {
        TTestComponent C;
        C.Control.Limit = 4;
        TEventRecorder Local;
        for (int I = 0; I < 3; ++I) ASSERT_EQ(AddTask(C), I);
        Local.Attach(C);
        C.StartTasks(Count);
        const auto T = Local.Terminates();
        ASSERT_EQ(T.size(), 4u) << Count;
        for (int I = 0; I < 3; ++I) {
            EXPECT_EQ(T[I].Index, I);
            EXPECT_TRUE(T[I].OnMain);
            EXPECT_TRUE(T[I].Finished);
        }
        EXPECT_EQ(T[3].Index, -1);
        EXPECT_TRUE(T[3].Finished);
        EXPECT_FALSE(T[3].Exception);
        EXPECT_TRUE(T[3].OnMain);
        EXPECT_FALSE(C.ThreadMode());
        EXPECT_FALSE(C.RunActive());
        // In order: all of task 0's progress before task 1's.
        int Last = 0;
        for (const auto& P : Local.Progress()) {
            EXPECT_GE(P.Index, Last);
            Last = P.Index;
            EXPECT_EQ(P.Thread, std::this_thread::get_id());
        }
        EXPECT_EQ(Local.Progress().size(), 12u);
    }
}

TEST_F(Run, AnEmptyListRaisesNothing) {
    TTestComponent C;
    Events.Attach(C);
    C.StartTasks(2);
    C.StartTasks(0);
    C.StopTasks(true);
    EXPECT_FALSE(C.RunActive());
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    EXPECT_EQ(Events.TerminateCount(), 0u);
}

TEST_F(Run, StopWhileTwoOfFiveRunGivesFiveEndsThenTheFinalOne) {
    TTestComponent C;
    Build(C, 5);
    C.StartTasks(2);
    ASSERT_TRUE(WaitRunning(C, 2));
    C.StopTasks(true);
    // A waiting stop returns after the running ones ended.
    EXPECT_EQ(C.Control.Running.load(), 0);
    ASSERT_TRUE(Events.WaitForTerminates(6));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    const auto T = Events.Terminates();
    ASSERT_EQ(T.size(), 6u);
    EXPECT_EQ(Indexes(T), (std::set<int32_t>{-1, 0, 1, 2, 3, 4}));
    for (const auto& R : T) {
        if (R.Index >= 0) {
            EXPECT_FALSE(R.Finished);
        }
        EXPECT_FALSE(R.Exception);
        EXPECT_FALSE(R.OnMain);
    }
    EXPECT_EQ(C.Control.Started.load(), 2);  // no further task started
    for (int I = 0; I < 5; ++I) EXPECT_TRUE(C.Task(I)->Terminated());
}

TEST_F(Run, StoppingANeverStartedListReportsEachTaskThenTheFinalOne) {
    TTestComponent C;
    Build(C, 3);
    C.StopTasks(true);
    const auto T = Events.Terminates();  // each notification was waited for
    ASSERT_EQ(T.size(), 4u);
    for (int I = 0; I < 3; ++I) {
        EXPECT_EQ(T[I].Index, I);
        EXPECT_FALSE(T[I].Finished);
        EXPECT_FALSE(T[I].OnMain);  // on the engine's notification thread
    }
    EXPECT_EQ(T[3].Index, -1);
    C.StopTasks(true);  // all ended: nothing more
    EXPECT_EQ(Events.TerminateCount(), 4u);
}

TEST_F(Run, ANewListAfterAClearedRunEndsOnlyWhenAllItsTasksEnded) {
    TTestComponent C;
    C.Control.Limit = 2;
    Build(C, 3);
    C.StartTasks(0);
    ASSERT_EQ(Events.TerminateCount(), 4u);
    C.ClearTasks();
    TEventRecorder Second;
    for (int I = 0; I < 2; ++I) AddTask(C);
    Second.Attach(C);
    C.StopTasks(true);
    const auto T = Second.Terminates();
    ASSERT_EQ(T.size(), 3u);  // a count left from the first run would end this one early
    EXPECT_EQ(T[2].Index, -1);
}

TEST_F(Run, ATaskWithoutOutputFailsItsStartAndTheRunGoesOn) {
    TTestComponent C;
    C.Control.Limit = 3;
    ASSERT_EQ(AddTask(C, false), 0);
    ASSERT_EQ(AddTask(C), 1);
    ASSERT_EQ(AddTask(C), 2);
    Events.Attach(C);
    C.StartTasks(1);
    ASSERT_TRUE(Events.WaitForTerminates(4));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    for (const auto& R : Events.Terminates()) {
        if (R.Index == 0) {
            EXPECT_TRUE(R.Exception);
            EXPECT_EQ(R.Message, "At least one output file must be specified");
        } else if (R.Index > 0) {
            EXPECT_TRUE(R.Finished);
        }
    }
    EXPECT_EQ(C.Control.MaxRunning.load(), 1);
    EXPECT_EQ(C.Control.Started.load(), 2);
}

TEST_F(Run, StartingAListThatRanAlreadyStillEnds) {
    TTestComponent C;
    C.Control.Limit = 2;
    Build(C, 2);
    C.StartTasks(0);
    ASSERT_EQ(Events.TerminateCount(), 3u);
    C.StartTasks(2);  // engines run once: they report their earlier end
    ASSERT_TRUE(Events.WaitForTerminates(6));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    EXPECT_EQ(C.Control.Started.load(), 2);
    EXPECT_FALSE(C.RunActive());
}

TEST_F(Run, ASecondStartDuringARunIsIgnored) {
    TTestComponent C;
    Build(C, 2);
    C.StartTasks(1);
    ASSERT_TRUE(WaitRunning(C, 1));
    C.StartTasks(1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(C.Control.Started.load(), 1);
    C.StopTasks(true);
    ASSERT_TRUE(Events.WaitForTerminates(3));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    EXPECT_EQ(Events.TerminateCount(), 3u);
}

TEST_F(Run, ProgressHandlersNeverOverlap) {
    TTestComponent C;
    C.Control.Limit = 15;
    C.Control.Rendezvous = 3;
    Events.ProgressDelay = 1ms;
    Build(C, 3);
    C.StartTasks(3);
    ASSERT_TRUE(Events.WaitForTerminates(4));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    EXPECT_EQ(Events.Progress().size(), 45u);
    EXPECT_EQ(Events.MaxInsideProgress(), 1);
    EXPECT_EQ(C.Control.MaxRunning.load(), 3);  // they did run at the same time
}

TEST_F(Run, WithoutAProgressHandlerTheRunStillCompletes) {
    TTestComponent C;
    C.Control.Limit = 5;
    Build(C, 2);
    C.SetOnProgress(nullptr);
    C.StartTasks(2);
    ASSERT_TRUE(Events.WaitForTerminates(3));
    EXPECT_TRUE(Events.Progress().empty());
    EXPECT_TRUE(C.WaitForEventThreads(20s));
}

// Tasks running at once deliver their pictures at the same time: each event carries its own
// task's index, picture and time.
TEST_F(Run, PreviewBitmapsArriveOnTheMainThread) {
    for (const int32_t Threads : {2, 0}) {
        TTestComponent C;
        C.Control.Limit = 3;
        C.Control.EmitPreview = true;
        for (int I = 0; I < 2; ++I) AddTask(C);
        std::mutex Lock;
        std::vector<std::pair<int32_t, bool>> Seen;
        C.SetOnPreviewBitmap([&](int32_t AIndex, TBitmap& ABitmap, int32_t AFrame, int64_t APTS) {
            EXPECT_EQ(APTS, int64_t(AFrame) * 40000);
            EXPECT_EQ(ABitmap.Width(), 8 + AIndex);
            EXPECT_EQ(TRUvivoVOV::EventTaskId(), C.TaskId(AIndex));
            std::lock_guard<std::mutex> G(Lock);
            Seen.push_back({AIndex, IsMainThread()});
        });
        TEventRecorder Local;
        Local.Attach(C);
        C.StartTasks(Threads);
        ASSERT_TRUE(WaitInMainThread([&] { return Local.FinalSeen(); }, 20s));
        C.WaitForEventThreads(20s);
        std::lock_guard<std::mutex> G(Lock);
        EXPECT_EQ(Seen.size(), 6u) << Threads;
        for (const auto& [Index, OnMain] : Seen) {
            EXPECT_TRUE(OnMain);
            EXPECT_TRUE(Index == 0 || Index == 1);
        }
    }
}

TEST_F(Run, PauseHoldsTheWorkersAndResumeLetsThemFinish) {
    TTestComponent C;
    C.Control.Limit = 60;
    Build(C, 2);
    C.StartTasks(2);
    ASSERT_TRUE(WaitInMainThread([&] { return C.Control.Iterations(C.Task(0)) > 2; }, 20s));
    C.PauseTasks();
    std::this_thread::sleep_for(30ms);
    const int Held = C.Control.Iterations(C.Task(0));
    std::this_thread::sleep_for(60ms);
    EXPECT_LE(C.Control.Iterations(C.Task(0)), Held + 1);
    EXPECT_EQ(Events.TerminateCount(), 0u);
    C.ResumeTasks();
    ASSERT_TRUE(Events.WaitForTerminates(3));
    EXPECT_EQ(C.Control.Iterations(C.Task(0)), 60);
    EXPECT_TRUE(C.WaitForEventThreads(20s));
}

TEST_F(Run, AWaitingStopOfPausedTasksReturns) {
    TTestComponent C;
    Build(C, 3);
    C.StartTasks(2);
    ASSERT_TRUE(WaitRunning(C, 2));
    C.PauseTasks();
    C.StopTasks(true);
    EXPECT_EQ(C.Control.Running.load(), 0);
    ASSERT_TRUE(Events.WaitForTerminates(4));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
}

// The end of a task that has decided to start the next one, holding the event lock, while a
// waiting stop begins on the main thread: neither may wait for the other.
TEST_F(Run, ATaskEndingAsAWaitingStopBeginsDoesNotDeadlock) {
    TTestComponent C;
    C.Control.Limit = 3;
    Build(C, 4);
    std::atomic<bool> Armed{true};
    std::atomic<bool> InsideEnd{false};
    std::atomic<bool> Stopping{false};
    C.BeforeTerminate = [&](TCustomFFmpeg& Sender) {
        if (!Armed.exchange(false)) return;
        std::lock_guard<TEventLock> G(C.Lock());
        InsideEnd = true;
        NotifyMainThread();
        // The stop begins meanwhile: waited for, not guessed, since a busy machine may keep
        // the main thread from it for longer than any fixed pause.
        while (!Stopping.load()) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(100ms);
        C.ReportEnd(Sender);  // starts the next task, under the same lock
        InsideEnd = false;
    };
    C.StartTasks(1);
    ASSERT_TRUE(WaitInMainThread([&] { return InsideEnd.load(); }, 20s));
    Stopping = true;
    C.StopTasks(true);
    ASSERT_TRUE(Events.WaitForTerminates(5));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    const auto T = Events.Terminates();
    EXPECT_EQ(Indexes(T), (std::set<int32_t>{-1, 0, 1, 2, 3}));
    // Whatever was started at that moment was stopped with the rest; no later one started.
    EXPECT_LE(C.Control.Started.load(), 2);
    EXPECT_EQ(C.Control.Running.load(), 0);
}

// The same race left to chance: short tasks ending all the time while waiting stops come.
TEST_F(Run, WaitingStopsAmidEndingTasks) {
    std::mt19937 Rng(42);
    for (int Round = 0; Round < 40; ++Round) {
        TTestComponent C;
        C.Control.Limit = 1 + Round % 3;
        TEventRecorder Local;
        for (int I = 0; I < 6; ++I) AddTask(C);
        Local.Attach(C);
        C.StartTasks(2);
        std::this_thread::sleep_for(std::chrono::microseconds(Rng() % 8000));
        C.StopTasks(true);
        EXPECT_EQ(C.Control.Running.load(), 0) << Round;
        ASSERT_TRUE(Local.WaitForTerminates(7)) << Round;
        EXPECT_TRUE(C.WaitForEventThreads(20s));
        EXPECT_EQ(Indexes(Local.Terminates()), (std::set<int32_t>{-1, 0, 1, 2, 3, 4, 5})) << Round;
    }
}

TEST_F(Run, StopFromInsideASequentialProgressHandler) {
    TTestComponent C;
    C.Control.Limit = 5;
    Build(C, 3);
    C.SetOnProgress([&](int32_t AIndex, int32_t AFrame, int32_t, int32_t, float, float, int64_t, int32_t) {
        if (AIndex == 1 && AFrame == 3) C.StopTasks(true);  // cannot wait for itself
    });
    C.StartTasks(0);  // returns after the final event, also for the task that never started
    const auto T = Events.Terminates();
    ASSERT_EQ(T.size(), 4u);
    EXPECT_EQ(T.back().Index, -1);
    EXPECT_EQ(C.Control.Started.load(), 2);
    for (const auto& R : T) {
        if (R.Index == 0) {
            EXPECT_TRUE(R.Finished);
        }
        if (R.Index > 0) {
            EXPECT_FALSE(R.Finished) << R.Index;
        }
    }
}

TEST_F(Run, DeletingARunningTaskLetsTheRunEnd) {
    TTestComponent C;
    Build(C, 2);
    C.StartTasks(2);
    ASSERT_TRUE(WaitRunning(C, 2));
    C.DeleteTask(1);  // stops it and waits; it reports to nobody
    EXPECT_EQ(C.TaskCount(), 1);
    C.StopTasks(true);
    ASSERT_TRUE(WaitInMainThread([&] { return Events.FinalSeen(); }, 20s));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    EXPECT_EQ(Indexes(Events.Terminates()), (std::set<int32_t>{-1, 0}));
}

TEST_F(Run, FreeingTheComponentDuringARunStopsTheTasks) {
    auto C = std::make_unique<TTestComponent>();
    for (int I = 0; I < 3; ++I) AddTask(*C);
    Events.Attach(*C);
    C->StartTasks(2);
    ASSERT_TRUE(WaitRunning(*C, 2));
    C.reset();  // waits for the workers; the tasks left with it report to nobody
    EXPECT_EQ(Events.TerminateCount(), 0u);
}

TEST_F(Run, ALoggingWorkerDoesNotBlockAWaitingStop) {
    TTestComponent C;
    Build(C, 2);
    std::atomic<int> Lines{0};
    GetLogger().SetOnLog([&](void*, uint32_t, TLogLevel, const std::string&) { ++Lines; });
    // The handler logs: each line waits for the main thread, which is inside StopTasks.
    C.SetOnProgress([&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
        GetLogger().Log(nullptr, llError, "progress");
    });
    C.StartTasks(2);
    ASSERT_TRUE(WaitInMainThread([&] { return Lines.load() > 4; }, 20s));
    C.StopTasks(true);
    ASSERT_TRUE(Events.WaitForTerminates(3));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
}

// A terminate report that fails on the worker must still count the worker off its task, so
// that stopping and freeing the task do not wait forever; a clear then still ends the run.
TEST_F(Run, AnEndReportThatThrowsLeavesNoWorkerCounted) {
    TTestComponent C;
    C.Control.Limit = 3;
    Build(C, 2);
    std::atomic<int> Reports{0};
    C.BeforeTerminate = [&Reports](TCustomFFmpeg&) {
        if (Reports++ == 0)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "no thread left");
    };
    auto* First = static_cast<TLoopTask*>(C.Task(0));
    C.StartTasks(1);
    ASSERT_TRUE(WaitInMainThread([&] { return First->Terminated() && First->ActiveThreads() == 0; }, 10s))
        << "the failed worker is still counted";
    First->Stop(true);
    C.ClearTasks();
    EXPECT_EQ(C.TaskCount(), 0);
    ASSERT_TRUE(WaitInMainThread([&] { return Events.FinalSeen(); }, 10s));
    EXPECT_FALSE(C.RunActive());
    EXPECT_TRUE(C.WaitForEventThreads(10s));
}

// A terminate handler that cannot be handed to a thread of its own (no memory, no thread left)
// is called on the reporting worker instead; the run goes on and ends.
TEST_F(Run, ATerminateEventWithoutAThreadIsRaisedOnTheWorker) {
    struct TRecords {
        std::mutex Lock;
        std::vector<std::pair<int32_t, std::thread::id>> Ends;
        std::atomic<int> FailingCopy{0};  // when above 0, that copy of the handler throws
    };
    // Copying it fails when armed, as allocating the event's thread can.
    struct THandler {
        std::shared_ptr<TRecords> R;
        explicit THandler(std::shared_ptr<TRecords> Records) : R(std::move(Records)) {}
        THandler(THandler&&) noexcept = default;
        THandler(const THandler& Other) : R(Other.R) {
            if (R->FailingCopy.load() > 0 && R->FailingCopy.fetch_sub(1) == 1) throw std::bad_alloc();
        }
        void operator()(int32_t AIndex, bool, bool, const std::string&) const {
            std::lock_guard<std::mutex> G(R->Lock);
            R->Ends.emplace_back(AIndex, std::this_thread::get_id());
        }
    };
    TTestComponent C;
    C.Control.Limit = 3;
    for (int I = 0; I < 2; ++I) ASSERT_EQ(AddTask(C), I);
    auto Records = std::make_shared<TRecords>();
    C.SetOnTerminate(TTerminateEvent(THandler(Records)));
    const void* First = C.Task(0);
    // Armed as the first task reports its end: the component's own copy of the handler is
    // made, the one for the event's thread fails.
    C.BeforeTerminate = [&](TCustomFFmpeg& Sender) {
        if (&Sender == First) Records->FailingCopy = 2;
    };
    C.StartTasks(1);
    ASSERT_TRUE(WaitInMainThread(
        [&] {
            std::lock_guard<std::mutex> G(Records->Lock);
            return std::any_of(Records->Ends.begin(), Records->Ends.end(),
                               [](const auto& E) { return E.first == -1; });
        },
        10s))
        << "the run never ended";
    EXPECT_TRUE(C.WaitForEventThreads(10s));
    EXPECT_FALSE(C.RunActive());
    std::lock_guard<std::mutex> G(Records->Lock);
    std::multiset<int32_t> Indexes;
    for (const auto& [Index, Thread] : Records->Ends) {
        Indexes.insert(Index);
        if (Index == 0) {
            EXPECT_EQ(Thread, C.Control.Worker(First)) << "raised on the reporting worker";
        }
    }
    EXPECT_EQ(Indexes, (std::multiset<int32_t>{-1, 0, 1}));
}

}  // namespace
}  // namespace zembra::testing
