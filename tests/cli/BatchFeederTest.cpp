// The batch's window of tasks, without the program: how many tasks are set up ahead, how the
// window follows the ended ones, where a run stops taking tasks and how the next run begins.

#include <gtest/gtest.h>

#include <set>

#include "cli/BatchFeeder.h"

namespace zembra::cli {
namespace {

// The id the component would give an item's task (ids grow as tasks are added).
uint64_t IdOf(size_t Item) {
    return 1000 + Item;
}

// Sets up the items' tasks as the program does, failing the items in Failing.
struct TSetUp {
    TBatchFeeder& Feeder;
    std::set<size_t> Failing;
    std::vector<size_t> Tried;
    std::vector<uint64_t> Listed;  // the tasks in the component, in list order
    void operator()(size_t Item) {
        Tried.push_back(Item);
        Feeder.List(IdOf(Item), {"in" + std::to_string(Item), "", u"", ""});
        if (Failing.count(Item))
            Feeder.Unlist(IdOf(Item));
        else
            Listed.push_back(IdOf(Item));
    }
    // After a run its first Ran tasks leave the component.
    void EndRun(size_t Ran) {
        for (size_t I = 0; I < Ran; ++I) Feeder.Unlist(Listed[I]);
        Listed.erase(Listed.begin(), Listed.begin() + static_cast<std::ptrdiff_t>(Ran));
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
    ASSERT_NE(Feeder.Entry(IdOf(21)), nullptr);
    EXPECT_EQ(Feeder.Entry(IdOf(21))->Input, "in21");
    EXPECT_EQ(Feeder.Entry(IdOf(3)), nullptr);  // a failed task's entry went with it
    EXPECT_EQ(Feeder.Entry(IdOf(22)), nullptr);
    EXPECT_EQ(Feeder.Entry(0), nullptr);
    // Progress marks a task as started, and only that task.
    Feeder.MarkStarted(IdOf(5));
    Feeder.MarkStarted(IdOf(3));
    EXPECT_TRUE(Feeder.Started(IdOf(5)));
    EXPECT_FALSE(Feeder.Started(IdOf(6)));
    EXPECT_FALSE(Feeder.Started(IdOf(3)));

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
    SetUp.EndRun(159);
    EXPECT_EQ(Feeder.Count(), 1u);
    ASSERT_EQ(SetUp.Listed, std::vector<uint64_t>{IdOf(161)});
    EXPECT_EQ(Feeder.Entry(IdOf(161))->Input, "in161");
    EXPECT_EQ(Feeder.Entry(IdOf(160)), nullptr);
    EXPECT_FALSE(Feeder.Started(IdOf(5)));
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
    SetUp.EndRun(18);
    Feeder.AddTasks(Feeder.Ahead(), std::ref(SetUp), Never);
    EXPECT_EQ(Feeder.Count(), 12u);  // the rest of the items
    EXPECT_EQ(Feeder.NextItem(), 30u);
    SetUp.EndRun(12);
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
