#include <gtest/gtest.h>
#include <sys/resource.h>

#include "util/OpenFileLimit.h"

namespace zembra {
namespace {

// Raising only ever widens what the rest of the suite may open.
TEST(OpenFileLimit, TheSoftLimitRisesToTheHardOne) {
    rlimit Before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &Before), 0);
    if (Before.rlim_max == RLIM_INFINITY || Before.rlim_max < 128)
        GTEST_SKIP() << "no finite hard limit to rise to";
    for (const rlim_t Soft : {rlim_t(64), Before.rlim_max}) {
        rlimit Lowered = Before;
        Lowered.rlim_cur = Soft;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &Lowered), 0);
        EXPECT_EQ(RaiseOpenFileLimit(), static_cast<long>(Before.rlim_max)) << Soft;
        rlimit After{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &After), 0);
        EXPECT_EQ(After.rlim_cur, Before.rlim_max) << Soft;
        EXPECT_EQ(After.rlim_max, Before.rlim_max) << Soft;
    }
}

}  // namespace
}  // namespace zembra
