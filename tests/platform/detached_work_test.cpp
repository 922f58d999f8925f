// A program's end with work still running on threads nobody joins.
#include "platform/detached_work.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace orvik::platform {
namespace {

using namespace std::chrono_literals;

TEST(DetachedWork, TheEndWaitsForWorkThatFinishesWithinTheGrace) {
    std::promise<void> release;
    std::thread([done = release.get_future(), running = DetachedWork{}] { done.wait(); }).detach();
    release.set_value();
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
            // Waits on a promise nobody keeps.
            auto never = std::make_shared<std::promise<void>>();
            std::thread([never, running = DetachedWork{}] { never->get_future().wait(); }).detach();
            finishDetachedWork(3, 20ms);
            std::abort();  // never reached
        },
        ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace orvik::platform
