// A process that ends while self-freeing workers are still finishing: their last act, telling
// the main thread they are done, must not meet the process's static objects half torn down.

#include <gtest/gtest.h>

#include <cstdlib>

#include "util/Thread.h"

namespace zembra::testing {
namespace {

class TQuickThread : public TThread {
  protected:
    void Execute() override {}
};

// The main thread's queue used to be a static object: a worker notifying it during exit used
// its condition variable while the exit handlers destroyed it (found by ThreadSanitizer).
TEST(ProcessExit, SelfFreeingWorkersMayEndWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            for (int I = 0; I < 64; ++I) {
                auto* Worker = new TQuickThread;
                Worker->SetFreeOnTerminate(true);
                Worker->Resume();
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zembra::testing
