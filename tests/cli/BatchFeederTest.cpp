// The batch's window of tasks, without the program: how many tasks are set up ahead, how the
// window follows the ended ones, where a run stops taking tasks and how the next run begins.

#include <gtest/gtest.h>

#include <set>

#include "cli/BatchFeeder.h"

namespace zembra::cli {
namespace {

// Sets up the items' tasks as the program does, failing the items in Failing.
struct TSetUp {
    TBatchFeeder& Feeder;
    std::set<size_t> Failing;
    std::vector<size_t> Tried;
    void operator()(size_t Item) {
        Tried.push_back(Item);
        Feeder.List({"in" + std::to_string(Item), "", u"", ""});
        if (Failing.count(Item)) Feeder.Unlist();
    }
};

bool Never() {
    return false;
}

TEST(BatchFeeder, TasksGoAheadOfTheEndedOnesUpToTheRunsCap) {
    TBatchFeeder Feeder(1000, 2);
    ASSERT_EQ(Feeder.Ahead(), 20u);  // twice the tasks at once, and sixteen
    ASSERT_EQ(Feeder.Cap(), 160u);
    TSetUp SetUp{Feeder, {3, 4}, {}};
    auto Add = [&](size_t Limit) { Feeder.AddTasks(Limit, std::ref(SetUp), Never); };

    Add(Feeder.Ahead());
    EXPECT_EQ(Feeder.Count(), 20u);  // two failed items do not count
    EXPECT_EQ(Feeder.NextItem(), 22u);
    ASSERT_NE(Feeder.Entry(19), nullptr);
    EXPECT_EQ(Feeder.Entry(3)->Input, "in5");
    EXPECT_EQ(Feeder.Entry(20), nullptr);
    EXPECT_EQ(Feeder.Entry(-1), nullptr);

    Feeder.BeginRun();
    EXPECT_FALSE(Feeder.Room(false));  // a full window waits for tasks to end
    for (int I = 0; I < 5; ++I) Feeder.TaskEnded();
    EXPECT_TRUE(Feeder.Room(false));
    EXPECT_FALSE(Feeder.Room(true));  // nothing joins a run that is stopping
    Add(Feeder.EndedCount() + Feeder.Ahead());
    EXPECT_EQ(Feeder.Count(), 25u);
    EXPECT_FALSE(Feeder.Room(false));

    // However many end, one run takes no more than Cap tasks.
    while (Feeder.Room(false) || Feeder.EndedCount() < Feeder.Count()) {
        Feeder.TaskEnded();
        if (Feeder.Room(false)) Add(Feeder.EndedCount() + Feeder.Ahead());
    }
    EXPECT_EQ(Feeder.Count(), 160u);
    EXPECT_FALSE(Feeder.Room(false));

    // The run's tasks leave; one added as it ended waits for the next run, whose window is
    // filled up to Ahead again.
    Feeder.EndRun(159);
    EXPECT_EQ(Feeder.Count(), 1u);
    EXPECT_EQ(Feeder.Entry(0)->Input, "in161");
    EXPECT_EQ(Feeder.Entry(1), nullptr);
    Add(Feeder.Ahead());
    EXPECT_EQ(Feeder.Count(), 20u);
    Feeder.BeginRun();
    EXPECT_EQ(Feeder.EndedCount(), 0u);
}

TEST(BatchFeeder, ASequentialRunTakesItsWindowOnlyAndTheItemsEnd) {
    TBatchFeeder Feeder(30, 0);
    EXPECT_EQ(Feeder.Ahead(), 18u);
    TSetUp SetUp{Feeder, {}, {}};
    Feeder.AddTasks(Feeder.Ahead(), std::ref(SetUp), Never);
    Feeder.BeginRun();
    for (int I = 0; I < 18; ++I) Feeder.TaskEnded();
    EXPECT_FALSE(Feeder.Room(false));  // a sequential run returns only when it is over
    Feeder.EndRun(18);
    Feeder.AddTasks(Feeder.Ahead(), std::ref(SetUp), Never);
    EXPECT_EQ(Feeder.Count(), 12u);  // the rest of the items
    EXPECT_EQ(Feeder.NextItem(), 30u);
    Feeder.EndRun(12);
    Feeder.AddTasks(Feeder.Ahead(), std::ref(SetUp), Never);
    EXPECT_EQ(Feeder.Count(), 0u);  // the batch is over
    EXPECT_EQ(SetUp.Tried.size(), 30u);
}

TEST(BatchFeeder, AnInterruptStopsTheSetUpBeforeTheNextItem) {
    TBatchFeeder Feeder(100, 4);
    TSetUp SetUp{Feeder, {}, {}};
    Feeder.AddTasks(Feeder.Ahead(), std::ref(SetUp), [&] { return SetUp.Tried.size() == 3; });
    EXPECT_EQ(Feeder.Count(), 3u);
    EXPECT_EQ(Feeder.NextItem(), 3u);  // the item not set up is the next one still
}

}  // namespace
}  // namespace zembra::cli
