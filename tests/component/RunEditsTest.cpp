// What the window may do to the list while it runs: remove a running task, add a task, clear
// the list, pause, resume and stop in any order; at 0 (sequential), 1 and 2 tasks at once.
// In sequential mode the window's thread is inside StartTasks, so the edits come from a
// progress handler there.

#include <memory>
#include <random>
#include <set>
#include <stdexcept>

#include "tests/component/ComponentTestSupport.h"

namespace zembra::testing {
namespace {

constexpr int32_t kThreadCounts[] = {0, 1, 2};

class RunEdits : public ComponentTest {
  protected:
    // Builds Count tasks and records the events in the order they are raised.
    void Build(TTestComponent& C, TEventRecorder& Events, int Count) {
        for (int I = 0; I < Count; ++I) ASSERT_EQ(AddTask(C), I);
        Events.Attach(C);
    }
    // In sequential mode: Action runs once, inside the progress handler of task Index at Frame.
    static void AtProgress(TTestComponent& C, int32_t Index, int32_t Frame, std::function<void()> Action) {
        auto Done = std::make_shared<bool>(false);
        C.SetOnProgress([Index, Frame, Action, Done](int32_t AIndex, int32_t AFrame, int32_t, int32_t, float,
                                                     float, int64_t, int32_t) {
            if (*Done || AIndex != Index || AFrame < Frame) return;
            *Done = true;
            Action();
        });
    }
    static bool Within(std::function<bool()> Done) { return WaitInMainThread(std::move(Done), 10s); }
    // Waits for the final event and for every terminate-event thread; then checks the final
    // event came exactly once, after every other one in sequential mode.
    static void ExpectOneFinal(TTestComponent& C, TEventRecorder& Events, int32_t Threads) {
        ASSERT_TRUE(Within([&] { return Events.FinalSeen(); })) << Threads << ": the run never ended";
        ASSERT_TRUE(C.WaitForEventThreads(10s));
        const auto T = Events.Terminates();
        EXPECT_EQ(std::count_if(T.begin(), T.end(), [](const auto& R) { return R.Index == -1; }), 1)
            << Threads;
        // Terminate handlers of a threaded run run on threads of their own, in no fixed order.
        if (Threads == 0) {
            EXPECT_EQ(T.back().Index, -1);
        }
        EXPECT_FALSE(C.RunActive()) << Threads;
    }
    static std::multiset<int32_t> TaskEnds(const std::vector<TTerminateRecord>& T) {
        std::multiset<int32_t> S;
        for (const auto& R : T)
            if (R.Index >= 0) S.insert(R.Index);
        return S;
    }

    TWatchdog Watchdog{std::chrono::seconds(100)};
};

TEST_F(RunEdits, RemovingTheRunningTaskStopsItAndTheRunGoesOnWithTheNext) {
    for (const int32_t Threads : kThreadCounts) {
        SCOPED_TRACE(Threads);
        TEventRecorder Events;
        TTestComponent C;
        C.Control.Limit = 40;
        Build(C, Events, 3);
        const void* Removed = C.Task(0);
        if (Threads == 0) {
            AtProgress(C, 0, 3, [&] { C.DeleteTask(0); });
            C.StartTasks(0);
        } else {
            C.StartTasks(Threads);
            ASSERT_TRUE(Within([&] { return C.Control.Iterations(Removed) >= 2; }));
            C.DeleteTask(0);  // waits for its end, pumping
            EXPECT_TRUE(C.Task(0) && C.Task(1));
        }
        ExpectOneFinal(C, Events, Threads);
        EXPECT_EQ(C.TaskCount(), 2);
        // Stopped at its next packet, long before its end.
        EXPECT_LE(C.Control.Iterations(Removed), Threads == 0 ? 4 : 39);
        EXPECT_EQ(C.Control.Started.load(), 3);
        EXPECT_LE(C.Control.MaxRunning.load(), std::max(Threads, 1));
        // The removed task reports to nobody; the others end under their new indexes.
        const auto T = Events.Terminates();
        EXPECT_EQ(TaskEnds(T), (std::multiset<int32_t>{0, 1}));
        for (const auto& R : T) {
            EXPECT_TRUE(R.Finished) << R.Index;
            EXPECT_FALSE(R.Exception) << R.Index;
        }
        for (int I = 0; I < 2; ++I) EXPECT_EQ(C.Control.Iterations(C.Task(I)), 40) << I;
    }
}

// A report that was raised before a removal names the task by its old index; its id names the
// same task wherever it is and once it is gone, which lets a front end that delivers reports
// later find their rows. Two workers run at once, so the second task reports both before and
// after the first one leaves.
TEST_F(RunEdits, EventsCarryTheirTasksIdWhileTheIndexMoves) {
    TEventRecorder Events;
    TTestComponent C;
    C.Control.Limit = 40;
    Build(C, Events, 3);
    const TTaskId Ids[] = {C.TaskId(0), C.TaskId(1), C.TaskId(2)};
    EXPECT_EQ((std::set<TTaskId>(std::begin(Ids), std::end(Ids))).size(), 3u);
    EXPECT_EQ(std::count(std::begin(Ids), std::end(Ids), TTaskId{0}), 0);
    EXPECT_EQ(C.TaskId(3), 0u);
    const void* Removed = C.Task(0);
    C.StartTasks(2);
    auto SecondReported = [&] {
        for (const TProgressRecord& P : Events.Progress())
            if (P.Index == 1) return true;
        return false;
    };
    ASSERT_TRUE(Within([&] { return C.Control.Iterations(Removed) >= 2 && SecondReported(); }));
    C.DeleteTask(0);
    EXPECT_EQ(C.IndexOfTask(Ids[0]), -1);
    EXPECT_EQ(C.IndexOfTask(Ids[1]), 0);
    EXPECT_EQ(C.IndexOfTask(Ids[2]), 1);
    ExpectOneFinal(C, Events, 2);
    std::set<std::pair<TTaskId, int32_t>> Seen;
    for (const TProgressRecord& P : Events.Progress()) Seen.insert({P.Id, P.Index});
    EXPECT_EQ(Seen,
              (std::set<std::pair<TTaskId, int32_t>>{{Ids[0], 0}, {Ids[1], 1}, {Ids[1], 0}, {Ids[2], 1}}));
    // The removed task's end reaches nobody; the others end under their ids.
    std::set<std::pair<TTaskId, int32_t>> Ends;
    for (const TTerminateRecord& T : Events.Terminates()) Ends.insert({T.Id, T.Index});
    EXPECT_EQ(Ends, (std::set<std::pair<TTaskId, int32_t>>{{Ids[1], 0}, {Ids[2], 1}, {0, -1}}));
    C.ClearTasks();
    EXPECT_EQ(C.IndexOfTask(Ids[1]), -1);
    EXPECT_EQ(C.TaskId(0), 0u);
    // An id is never given again, not even by another component.
    ASSERT_EQ(AddTask(C), 0);
    TTestComponent Other;
    ASSERT_EQ(AddTask(Other), 0);
    const TTaskId Later[] = {C.TaskId(0), Other.TaskId(0)};
    EXPECT_NE(Later[0], Later[1]);
    for (const TTaskId Id : Later) {
        EXPECT_NE(Id, 0u);
        EXPECT_EQ(std::count(std::begin(Ids), std::end(Ids), Id), 0) << Id;
    }
}

// The window adds a task as NewTask, then SetTaskOutput: with two workers one is free in
// between, and a task must not start before it has its output. Two tasks added with their
// outputs given in the other order still run in list order.
TEST_F(RunEdits, TasksAddedDuringARunJoinItAndTheFinalEventComesAfterThem) {
    for (const int32_t Threads : kThreadCounts) {
        SCOPED_TRACE(Threads);
        TEventRecorder Events;
        TTestComponent C;
        C.Control.Limit = 15;
        Build(C, Events, 1);
        std::vector<int32_t> Added;
        auto AddTwo = [&] {
            for (int I = 0; I < 2; ++I) Added.push_back(C.NewTask(W(Input)));
            for (int I = 1; I >= 0; --I)
                EXPECT_TRUE(
                    C.SetTaskOutput(Added[static_cast<size_t>(I)], W(Path(Format("added%d.mp3", I)))));
        };
        if (Threads == 0) {
            AtProgress(C, 0, 2, AddTwo);
            C.StartTasks(0);
        } else {
            C.StartTasks(Threads);
            ASSERT_TRUE(Within([&] { return C.Control.Running.load() >= 1; }));
            AddTwo();
        }
        EXPECT_EQ(Added, (std::vector<int32_t>{1, 2}));
        ExpectOneFinal(C, Events, Threads);
        EXPECT_EQ(C.Control.Started.load(), 3);
        EXPECT_LE(C.Control.MaxRunning.load(), std::max(Threads, 1));
        for (int32_t I = 1; I < 3; ++I) EXPECT_EQ(C.Control.Iterations(C.Task(I)), 15) << I;
        const auto T = Events.Terminates();
        ASSERT_EQ(T.size(), 4u);
        EXPECT_EQ(TaskEnds(T), (std::multiset<int32_t>{0, 1, 2}));
        for (const auto& R : T) {
            EXPECT_TRUE(R.Finished) << R.Index;
            EXPECT_EQ(R.Message, "") << R.Index;
        }
        if (Threads == 0) {
            for (int32_t I = 0; I < 3; ++I) EXPECT_EQ(T[static_cast<size_t>(I)].Index, I);
        }
    }
}

TEST_F(RunEdits, ClearingDuringARunStopsAndReportsTheRunningTasksThenEndsTheRun) {
    for (const int32_t Threads : kThreadCounts) {
        SCOPED_TRACE(Threads);
        TEventRecorder Events;
        TTestComponent C;
        Build(C, Events, 3);  // the tasks run until stopped
        const int Running = std::max(Threads, 1);
        if (Threads == 0) {
            AtProgress(C, 0, 3, [&] { C.ClearTasks(); });
            C.StartTasks(0);
        } else {
            C.StartTasks(Threads);
            ASSERT_TRUE(Within([&] { return C.Control.Running.load() >= Running; }));
            C.ClearTasks();
            EXPECT_EQ(C.Control.Running.load(), 0) << "the clear waited for the running tasks";
        }
        EXPECT_EQ(C.TaskCount(), 0);
        ExpectOneFinal(C, Events, Threads);
        EXPECT_EQ(C.Control.Started.load(), Running);
        const auto T = Events.Terminates();
        ASSERT_EQ(T.size(), static_cast<size_t>(Running + 1));
        std::multiset<int32_t> Expected;
        for (int32_t I = 0; I < Running; ++I) Expected.insert(I);
        EXPECT_EQ(TaskEnds(T), Expected);
        for (const auto& R : T) {
            if (R.Index >= 0) {
                EXPECT_FALSE(R.Finished) << R.Index;
            }
        }
        EXPECT_FALSE(C.ThreadMode());
        // The list is ready for the next one: a new task runs as a run of its own.
        TEventRecorder Next;
        ASSERT_EQ(AddTask(C), 0);
        Next.Attach(C);
        C.Control.Limit = 2;
        C.StartTasks(Threads);
        ExpectOneFinal(C, Next, Threads);
        EXPECT_EQ(Next.TerminateCount(), 2u);
    }
}

// A task stopped by a removal still reports its last progress on its way out, as the packet
// loop does; that report must neither reach the task that moved into its place nor come after
// the run's final event. In sequential mode and for the clear the edit comes from a progress
// handler (for the clear on a worker while another task runs); a threaded removal comes from
// the window's thread.
TEST_F(RunEdits, ATaskThatLeftTheListReportsNoMoreProgress) {
    constexpr int32_t kLastReport = 9999;
    struct TCase {
        int32_t Threads;
        bool Clear;
    };
    const TCase Cases[] = {{0, false}, {1, false}, {2, false}, {0, true}, {1, true}, {2, true}};
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(std::to_string(Case.Threads) + (Case.Clear ? " clear" : " delete"));
        TEventRecorder Events;
        TTestComponent C;
        C.Control.Limit = 30;
        C.Control.Rendezvous = Case.Threads == 2 ? 2 : 0;
        C.Control.AfterLoop = [](TTaskFFmpeg& Task) {
            auto& Loop = static_cast<TLoopTask&>(Task);
            if (!Loop.StopRequested()) return;
            if (Loop.FOnProgress) Loop.FOnProgress(Loop, kLastReport, 25, 0, 2.0f, 128.0f, 0, 4000);
            // It fails on its way out, writing its error while the clear reports it.
            throw std::runtime_error("failed while stopping");
        };
        Build(C, Events, 3);
        const void* First = C.Task(0);
        std::mutex Lock;
        std::vector<std::pair<int32_t, int32_t>> Progress;  // index, frame
        bool Done = false;
        const bool FromHandler = Case.Threads == 0 || Case.Clear;
        C.SetOnProgress(
            [&](int32_t AIndex, int32_t AFrame, int32_t, int32_t, float, float, int64_t, int32_t) {
                bool Act = false;
                {
                    std::lock_guard<std::mutex> G(Lock);
                    Progress.emplace_back(AIndex, AFrame);
                    if (FromHandler && !Done && AIndex == 0 && AFrame >= 3 &&
                        (Case.Threads < 2 || C.Control.Running.load() == 2))
                        Act = Done = true;
                }
                if (!Act) return;
                if (Case.Clear)
                    C.ClearTasks();
                else
                    C.DeleteTask(0);
            });
        C.StartTasks(Case.Threads);
        if (!FromHandler) {
            ASSERT_TRUE(Within([&] { return C.Control.Iterations(First) >= 3; }));
            C.DeleteTask(0);
        }
        ExpectOneFinal(C, Events, Case.Threads);
        EXPECT_EQ(C.TaskCount(), Case.Clear ? 0 : 2);
        if (Case.Clear) {
            EXPECT_EQ(TaskEnds(Events.Terminates()).size(), static_cast<size_t>(std::max(Case.Threads, 1)));
            // The clear reported them as stopped before their failure was known.
            for (const auto& R : Events.Terminates()) {
                EXPECT_FALSE(R.Exception) << R.Index;
                EXPECT_EQ(R.Message, "") << R.Index;
            }
        } else {
            EXPECT_EQ(TaskEnds(Events.Terminates()), (std::multiset<int32_t>{0, 1}));
        }
        std::lock_guard<std::mutex> G(Lock);
        EXPECT_FALSE(Progress.empty());
        for (const auto& [Index, Frame] : Progress) {
            EXPECT_NE(Frame, kLastReport) << "the stopped task reported as task " << Index;
            EXPECT_GE(Index, 0);
            EXPECT_LT(Index, 3);
        }
    }
}

// A task removed while its worker reports its end (after the worker let go of the task's
// thread) goes only once the report is over: the report still reads the task.
TEST_F(RunEdits, ATaskRemovedWhileItReportsItsEndGoesAfterTheReport) {
    TEventRecorder Events;
    TTestComponent C;
    C.Control.Limit = 3;
    Build(C, Events, 2);
    std::atomic<bool> Reporting{false};
    std::atomic<bool> Removing{false};
    std::atomic<bool> GoneDuringReport{false};
    const void* First = C.Task(0);
    C.BeforeTerminate = [&](TCustomFFmpeg& Sender) {
        if (&Sender != First) return;
        Reporting = true;
        for (int Waited = 0; !Removing.load() && Waited < 2000; ++Waited) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(100ms);
        if (C.Control.Destroyed.load() > 0) GoneDuringReport = true;
    };
    C.StartTasks(1);
    ASSERT_TRUE(Within([&] { return Reporting.load(); }));
    Removing = true;
    C.DeleteTask(0);
    EXPECT_FALSE(GoneDuringReport.load()) << "the task went while its worker still reported";
    EXPECT_EQ(C.Control.Destroyed.load(), 1);
    ExpectOneFinal(C, Events, 1);
    EXPECT_EQ(TaskEnds(Events.Terminates()), (std::multiset<int32_t>{0}));
    EXPECT_EQ(C.TaskCount(), 1);
}

// Pause, resume and stop in a fixed pseudo-random order while tasks start and end; one task
// in two is paused after its loop's last checkpoint, as a pause arriving at that moment does.
TEST_F(RunEdits, PauseResumeAndStopInAnyOrderNeverLoseTheFinalEvent) {
    std::mt19937 Random(15);
    for (int Round = 0; Round < 6; ++Round) {
        for (const int32_t Threads : kThreadCounts) {
            SCOPED_TRACE(std::to_string(Round) + "/" + std::to_string(Threads));
            TEventRecorder Events;
            TTestComponent C;
            C.Control.Limit = 6;
            std::atomic<int> Ended{0};
            C.Control.AfterLoop = [&Ended](TTaskFFmpeg& Task) {
                if (Ended++ % 2 == 0) Task.Pause();
            };
            Build(C, Events, 4);
            std::vector<int> Steps(8);
            for (int& Step : Steps) Step = static_cast<int>(Random() % 5);
            auto Play = [&C, Steps] {
                for (const int Step : Steps) {
                    switch (Step) {
                        case 0:
                            C.PauseTasks();
                            break;
                        case 1:
                            C.ResumeTasks();
                            break;
                        case 2:
                            C.StopTasks(false);
                            break;
                        case 3:
                            C.StopTasks(true);
                            break;
                        default:
                            std::this_thread::sleep_for(3ms);
                    }
                }
                C.ResumeTasks();
            };
            if (Threads == 0) {
                AtProgress(C, 1, 2, Play);
                C.StartTasks(0);
            } else {
                C.StartTasks(Threads);
                Play();
            }
            ExpectOneFinal(C, Events, Threads);
            // Every task ended exactly once, whether it finished, was stopped or never started.
            EXPECT_EQ(TaskEnds(Events.Terminates()), (std::multiset<int32_t>{0, 1, 2, 3}));
            for (int32_t I = 0; I < 4; ++I) {
                TTaskFFmpeg* Task = C.Task(I);
                EXPECT_TRUE(Task->Terminated()) << I;
                EXPECT_FALSE(Task->Paused()) << I << ": an ended job stays paused";
                Task->ResetJob();
                EXPECT_FALSE(Task->Paused()) << I;
            }
            EXPECT_LE(C.Control.MaxRunning.load(), std::max(Threads, 1));
        }
    }
}

}  // namespace
}  // namespace zembra::testing
