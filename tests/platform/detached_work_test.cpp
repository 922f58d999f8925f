// A program's end with work still running on threads nobody joins.
#include "platform/detached_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace orvik::platform {
namespace {

using namespace std::chrono_literals;

TEST(DetachedWork, TheEndWaitsForWorkThatFinishesWithinTheGrace) {
    std::atomic<bool> release{false};
    std::thread([&release, running = DetachedWork{}] {
        while (!release.load())
            std::this_thread::yield();
    }).detach();
    std::thread([&release] { release = true; }).detach();
    EXPECT_EQ(finishDetachedWork(4, 30s), 4);  // returns, so destructors run as usual
}

TEST(DetachedWork, AMovedTokenCountsOnce) {
    {
        DetachedWork first;
        DetachedWork second(std::move(first));
    }
    EXPECT_EQ(finishDetachedWork(0, 0ms), 0);
}

TEST(DetachedWorkDeathTest, WorkStillRunningEndsWithTheProcessAndItsExitCode) {
    // The worker never ends: the program must still end, promptly and with the code it chose,
    // instead of destroying globals under the worker.
    EXPECT_EXIT(
        {
            std::thread([running = DetachedWork{}] {
                for (;;)
                    std::this_thread::sleep_for(1h);
            }).detach();
            finishDetachedWork(3, 20ms);
            std::abort();  // never reached
        },
        ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace orvik::platform
