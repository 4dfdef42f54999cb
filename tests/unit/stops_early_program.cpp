// A test program that can stop half-way: with WB_STOP_EARLY set, its first test ends the
// process with status 0, so that its second test never runs. The runner's report check
// must count that as a failure (tests/unit/stops_early_test.sh).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

TEST(StopsEarly, First)
{
    if (std::getenv("WB_STOP_EARLY")) {
        std::fflush(stdout);
        std::_Exit(0);
    }
    SUCCEED();
}

TEST(StopsEarly, Second)
{
    SUCCEED();
}
