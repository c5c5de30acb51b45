// How the window tells a run's tasks apart (finished, stopped, failed), counts them, and
// estimates the time left: event sequences as the component raises them, against what the rows
// and the status bar say.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/RunEstimate.h"
#include "app/RunSummary.h"
#include "app/TaskRows.h"

namespace zembra {
namespace {

struct TRun {
    TTaskRows Rows;
    TRunEstimate Estimate;

    void Add(int Seconds) {
        const std::u16string N = std::u16string(1, static_cast<char16_t>(u'a' + Rows.Count()));
        Rows.Add(u"/in/" + N + u".avi", Seconds * int64_t{1000000}, 1, u"/out/" + N + u"_(new).mp3");
    }
    void Report(int Index, int CurrentMs, int TotalMs, int64_t NowMs) {
        Rows.ApplyProgress(Index, 0, CurrentMs, 1, TotalMs);
        Estimate.Progress(Index, CurrentMs, NowMs);
    }
    // A steady speed: media advances Speed times as fast as the run from FromMs to ToMs.
    void Steady(int Index, int StartMediaMs, double Speed, int TotalMs, int64_t FromMs, int64_t ToMs) {
        for (int64_t T = FromMs; T <= ToMs; T += 500)
            Report(Index, StartMediaMs + static_cast<int>(Speed * static_cast<double>(T - FromMs)), TotalMs,
                   T);
    }
};

char StateLetter(TTaskState S) {
    switch (S) {
        case TTaskState::Waiting:
            return 'W';
        case TTaskState::Running:
            return 'R';
        case TTaskState::Finished:
            return 'F';
        case TTaskState::Stopped:
            return 'S';
        case TTaskState::Failed:
            return 'X';
    }
    return '?';
}

TEST(RunOutcomeTest, RowsCountsAndTimeLeftFollowTheEvents) {
    struct TCase {
        const char* Name;
        std::function<void(TRun&)> Events;
        int64_t NowMs;       // when the status bar is read
        const char* States;  // W waiting, R running, F finished, S stopped, X failed
        std::vector<const char*> Progress;
        const char* Summary;
        int PerMille;
        const char* TimeLeft;
    };
    const std::vector<TCase> Cases = {
        {"both stopped part way, one keeping its partial output: not done, the bar short of its end",
         [](TRun& R) {
             R.Add(60), R.Add(60);
             R.Report(0, 26400, 60000, 1000), R.Report(1, 22800, 60000, 1000);
             R.Rows.ApplyTerminate(0, false, false, "", u"/out/a_(new).partial.mp3");
             R.Rows.ApplyTerminate(1, false, false);
         },
         2000,
         "SS",
         {"Stopped 44%: partial output kept", "Stopped 38%: no output kept"},
         "0 of 2 finished, 2 stopped (1 partial output kept), 0 failed",
         410,
         ""},
        {"one finished, one stopped before it began, one failed",
         [](TRun& R) {
             R.Add(10), R.Add(10), R.Add(10);
             R.Report(0, 4000, 10000, 500);
             R.Rows.ApplyTerminate(0, true, false);
             R.Rows.ApplyTerminate(
                 2, false, true,
                 "av_interleaved_write_frame(): Error while writing: No space left on device");
             R.Rows.ApplyTerminate(1, false, false);
         },
         5000,
         "FSX",
         {"100%", "Stopped: no output kept", "Failed"},
         "1 of 3 finished, 1 stopped (no output kept), 1 failed",
         666,
         ""},
        {"a finished task's warning leaves it finished",
         [](TRun& R) {
             R.Add(60);
             R.Rows.ApplyTerminate(0, true, false, "output is 29.4 s of 60.0 s: the source ends early");
         },
         5000,
         "F",
         {"100%"},
         "1 of 1 finished, 0 failed",
         1000,
         ""},
        {"no estimate in the run's first seconds",
         [](TRun& R) {
             R.Add(30);
             R.Steady(0, 0, 4.0, 30000, 0, 2500);
         },
         2500,
         "R",
         {"33%"},
         "0 of 1 finished, 0 failed",
         333,
         ""},
        {"a sound task that ended at once does not skew a video's estimate",
         [](TRun& R) {
             R.Add(5), R.Add(90);
             R.Report(0, 5000, 5000, 200);
             R.Rows.ApplyTerminate(0, true, false);
             // 85 frames a second of a 25-frame video: 3.4 times real time, from 2.2 s on.
             R.Steady(1, 2200, 3.4, 90000, 1000, 5000);
         },
         5000,
         "FR",
         {"100%", "17%"},
         "1 of 2 finished, 0 failed",
         218,
         "About 0:22 left"},
        {"a running task's own time left is the least",
         [](TRun& R) {
             R.Add(100), R.Add(100);
             R.Steady(0, 0, 10.0, 100000, 0, 4000);  // 40 s of 100 done, 6 s left on its own
             R.Steady(1, 0, 1.0, 100000, 0, 4000);   // 4 s of 100 done, 96 s left
         },
         4000,
         "RR",
         {"40%", "4%"},
         "0 of 2 finished, 0 failed",
         220,
         "About 1:36 left"},
        {"waiting tasks count with their length, at the running tasks' pace",
         [](TRun& R) {
             R.Add(30), R.Add(20);
             R.Steady(0, 0, 2.0, 30000, 0, 10000);  // 20 s of 30 done
         },
         10000,
         "RW",
         {"66%", ""},
         "0 of 2 finished, 0 failed",
         400,
         "About 0:15 left"},
        {"a task not measured long enough runs at the others' pace",
         [](TRun& R) {
             R.Add(60), R.Add(60);
             R.Steady(0, 0, 2.0, 60000, 0, 6000);  // 12 s of 60 done
             R.Report(1, 1000, 60000, 6000);
         },
         6000,
         "RR",
         {"20%", "1%"},
         "0 of 2 finished, 0 failed",
         108,
         "About 0:30 left"},
        {"a task measured less than the steady time gives no estimate alone",
         [](TRun& R) {
             R.Add(60);
             R.Report(0, 1000, 60000, 5000);
             R.Report(0, 3000, 60000, 6000);
         },
         6000,
         "R",
         {"5%"},
         "0 of 1 finished, 0 failed",
         50,
         ""},
        {"an output of unknown length gives no estimate",
         [](TRun& R) {
             R.Add(60), R.Add(60);
             R.Steady(0, 0, 2.0, 60000, 0, 6000);
             R.Steady(1, 0, 2.0, -1, 0, 6000);
         },
         6000,
         "RR",
         {"20%", "0:12"},
         "0 of 2 finished, 0 failed",
         200,
         ""},
        {"paused: the countdown stands still however long the pause",
         [](TRun& R) {
             R.Add(60);
             R.Steady(0, 0, 2.0, 60000, 0, 6000);  // 48 s of media left at twice real time
             R.Estimate.Pause(6000);
         },
         600000,
         "R",
         {"20%"},
         "0 of 1 finished, 0 failed",
         200,
         "Paused, about 0:24 left"},
        {"the time paused does not slow the measured speed down",
         [](TRun& R) {
             R.Add(60);
             R.Steady(0, 0, 2.0, 60000, 0, 6000);
             R.Estimate.Pause(6000);
             R.Estimate.Resume(66000);
             R.Steady(0, 12000, 2.0, 60000, 66000, 72000);  // 24 s of 60 done
         },
         72000,
         "R",
         {"40%"},
         "0 of 1 finished, 0 failed",
         400,
         "About 0:18 left"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TRun Run;
        Run.Estimate.Start(0);
        C.Events(Run);
        std::string States;
        for (const TTaskRow& Row : Run.Rows.Rows()) States += StateLetter(Row.State);
        EXPECT_EQ(States, C.States);
        ASSERT_EQ(Run.Rows.Count(), static_cast<int>(C.Progress.size()));
        for (int I = 0; I < Run.Rows.Count(); ++I)
            EXPECT_EQ(Run.Rows[I].Cells[colProgress], C.Progress[I]) << I;
        const TRunSummary S = SummariseRun(Run.Rows);
        EXPECT_EQ(SummaryText(S), C.Summary);
        EXPECT_EQ(S.PerMille, C.PerMille);
        EXPECT_EQ(TimeLeftText(Run.Estimate.SecondsLeft(Run.Rows, C.NowMs), Run.Estimate.Paused()),
                  C.TimeLeft);
    }
}

// The bar weighs each task by its media time, as the time left does: a long task at its start
// holds the bar near its start however many short ones are done.
TEST(RunOutcomeTest, TheBarIsWeightedByMediaTime) {
    struct TTask {
        int Seconds;           // the source's length; -1 unknown
        char State;            // W waiting, R running, F finished, S stopped, X failed
        int Percent;           // reached, for R and S
        bool Reported = true;  // whether the engine gave the output's length (a running task)
    };
    struct TCase {
        const char* Name;
        std::vector<TTask> Tasks;
        int PerMille;
    };
    const std::vector<TCase> Cases = {
        {"six files, the ten-minute one at 1% and the others waiting",
         {{600, 'R', 1}, {30, 'W', 0}, {30, 'W', 0}, {30, 'W', 0}, {30, 'W', 0}, {30, 'W', 0}},
         8},
        {"the five short ones done, the long one at 1%",
         {{30, 'F', 0}, {30, 'F', 0}, {30, 'F', 0}, {30, 'F', 0}, {30, 'F', 0}, {600, 'R', 1}},
         208},
        {"a failed task counts whole, a stopped one what it reached",
         {{100, 'X', 0}, {100, 'S', 50}, {200, 'W', 0}},
         375},
        {"a task of unknown length weighs the mean of the known ones",
         {{-1, 'F', 0}, {10, 'W', 0}, {30, 'W', 0}},
         333},
        {"a running task of unknown length has reached nothing yet",
         {{-1, 'R', 50, false}, {20, 'F', 0}},
         500},
        {"no length known: each task weighs the same",
         {{-1, 'F', 0}, {-1, 'W', 0}, {-1, 'W', 0}, {-1, 'W', 0}},
         250},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TTaskRows Rows;
        for (size_t I = 0; I < C.Tasks.size(); ++I) {
            const TTask& T = C.Tasks[I];
            const int Index = static_cast<int>(I);
            const int TotalMs = T.Seconds * 1000;
            Rows.Add(u"/in/x.avi", T.Seconds < 0 ? -1 : T.Seconds * int64_t{1000000}, 1, u"/out/x.mp3");
            if (T.State == 'R' || T.State == 'S')
                Rows.ApplyProgress(Index, 0, T.Seconds < 0 ? 1000 : TotalMs * T.Percent / 100, 1,
                                   T.Reported ? TotalMs : -1);
            if (T.State == 'F' || T.State == 'S' || T.State == 'X')
                Rows.ApplyTerminate(Index, T.State == 'F', T.State == 'X');
        }
        EXPECT_EQ(SummariseRun(Rows).PerMille, C.PerMille);
    }
}

TEST(RunOutcomeTest, AFailedRowOffersNoOutputAndKeepsTheWholeReason) {
    TTaskRows Rows;
    Rows.Add(u"/in/a.flac", 10'000'000, 1, u"/out/a_(new).mp3");
    Rows.Add(u"/in/b.flac", 10'000'000, 1, u"/out/b_(new).mp3");
    Rows.ApplyProgress(0, 0, 5000, 1, 10000);
    const std::string Reason =
        "Could not write header for output file #0 (incorrect codec parameters ?): "
        "Invalid argument";
    Rows.ApplyTerminate(0, false, true, Reason);
    Rows.ApplyTerminate(1, true, false, "output is 29.4 s of 60.0 s: the source ends early");
    EXPECT_EQ(Rows[0].Cells[colOutput], "");
    EXPECT_EQ(Rows[0].Note, Reason);
    EXPECT_EQ(Rows[0].Percent, -1);  // no bar: the text says it
    EXPECT_FALSE(Rows.CanPlay(0));
    EXPECT_EQ(Rows[1].Cells[colOutput], "b_(new).mp3");
    EXPECT_EQ(Rows[1].Note, "output is 29.4 s of 60.0 s: the source ends early");
    EXPECT_TRUE(Rows.CanPlay(1));
}

}  // namespace
}  // namespace zembra
