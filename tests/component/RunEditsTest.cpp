// What the window may do to the list while it runs: remove a running task, add a task, clear
// the list, pause, resume and stop in any order; at 0 (sequential), 1 and 2 tasks at once.
// In sequential mode the window's thread is inside StartTasks, so the edits come from a
// progress handler there.

#include <memory>
#include <random>
#include <set>

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
