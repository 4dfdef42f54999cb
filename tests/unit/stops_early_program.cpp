// A test program that can stop half-way: with WB_STOP_EARLY set, its first test ends the
// process with status 0, so that its second test never runs. The runner's report check
// must count that as a failure (tests/unit/stops_early_test.sh). With WB_CRASH_WITH_WINDOW
// set it crashes instead, with a window of its own shown first, as a test of the windows
// may: the runner must then fail at once, not wait on a crash dialog.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void crashWithWindowShown()
{
#ifdef _WIN32
    HWND window = CreateWindowA("BUTTON", "Crashing test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
    std::printf(window ? "crashing with a window shown\n" : "no window could be shown\n");
    std::fflush(stdout);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#endif
    std::fflush(stdout);
    std::abort();
}

}  // namespace

TEST(StopsEarly, First)
{
    if (std::getenv("WB_STOP_EARLY")) {
        std::fflush(stdout);
        std::_Exit(0);
    }
    if (std::getenv("WB_CRASH_WITH_WINDOW")) crashWithWindowShown();
    SUCCEED();
}

TEST(StopsEarly, Second)
{
    SUCCEED();
}
