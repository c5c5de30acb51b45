#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "util/ProcessorLoad.h"

namespace zembra {
namespace {

// The kernel's text as it comes, old kernels' shorter lines, and what is not that text.
TEST(ProcessorLoad, ReadsTheKernelsCounts) {
    const struct {
        const char* Text;
        bool Ok;
        uint64_t Total, Idle;
        int Processors;
    } Cases[] = {
        {"cpu  100 5 50 800 20 3 2 0 40 0\ncpu0 50 2 25 400 10 1 1 0 20 0\n"
         "cpu1 50 3 25 400 10 2 1 0 20 0\nintr 1 2 3\n",
         true, 980, 820, 2},
        {"cpu  10 0 10 80\ncpu0 10 0 10 80\n", true, 100, 80, 1},  // no iowait column
        {"cpu  7 1 2 90 0 0 0 0\n", true, 100, 90, 1},             // no per-processor lines
        {"cpu  1 2\ncpu0 1 2\n", false, 0, 0, 0},
        {"cpu0 10 0 10 80\n", false, 0, 0, 0},
        {"intr 1 2 3\nctxt 5\n", false, 0, 0, 0},
        {"", false, 0, 0, 0},
        {"cpu  x y z w\n", false, 0, 0, 0},
    };
    for (const auto& Case : Cases) {
        TProcessorTimes Times;
        EXPECT_EQ(ParseProcessorTimes(Case.Text, Times), Case.Ok) << Case.Text;
        if (!Case.Ok) continue;
        EXPECT_EQ(Times.Total, Case.Total) << Case.Text;
        EXPECT_EQ(Times.Idle, Case.Idle) << Case.Text;
        EXPECT_EQ(Times.Processors, Case.Processors) << Case.Text;
    }
}

TEST(ProcessorLoad, IdleProcessorsBetweenTwoReadings) {
    const TProcessorTimes Start{1000, 600, 4};
    const struct {
        TProcessorTimes After;
        double Idle;
    } Cases[] = {
        {{1400, 700, 4}, 1.0},   // a quarter of the time idle: one processor of four
        {{1400, 1000, 4}, 4.0},  // all idle
        {{1400, 600, 4}, 0.0},   // all busy
        {{1000, 600, 4}, 4.0},   // no time passed: nothing known, nothing busy
        {{900, 500, 4}, 4.0},    // counts went back (a new boot, a broken reading)
        {{1100, 800, 4}, 4.0},   // more idle than time: taken as all idle
    };
    for (const auto& Case : Cases)
        EXPECT_DOUBLE_EQ(IdleProcessors(Start, Case.After), Case.Idle)
            << Case.After.Total << " " << Case.After.Idle;
}

// With a spinning thread on every processor the kernel shows (and whatever else runs), hardly
// any processor stands idle. Only this direction holds on a shared machine.
TEST(ProcessorLoad, SpinningOnEveryProcessorLeavesNoneIdle) {
    TProcessorTimes Before;
    ASSERT_TRUE(ReadProcessorTimes(Before));
    ASSERT_GE(Before.Processors, 1);
    const unsigned Hardware = std::thread::hardware_concurrency();
    if (Hardware != static_cast<unsigned>(Before.Processors))
        GTEST_SKIP() << "the kernel counts " << Before.Processors << " processors, this process may use "
                     << Hardware;
    std::atomic<bool> Stop{false};
    std::vector<std::thread> Spinners;
    for (int I = 0; I < Before.Processors; ++I)
        Spinners.emplace_back([&Stop] {
            while (!Stop.load(std::memory_order_relaxed)) {
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(ReadProcessorTimes(Before));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    TProcessorTimes After;
    const bool Read = ReadProcessorTimes(After);
    Stop.store(true);
    for (std::thread& T : Spinners) T.join();
    ASSERT_TRUE(Read);
    EXPECT_GT(After.Total, Before.Total);
    EXPECT_LT(IdleProcessors(Before, After), 0.5);
}

}  // namespace
}  // namespace zembra
