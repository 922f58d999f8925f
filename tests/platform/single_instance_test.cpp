#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvik::platform {
namespace {

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
    const auto lock = std::filesystem::temp_directory_path() /
                      ("orvik-instance-test-" + std::to_string(::getpid()));
    auto first = SingleInstance::acquire(lock);
    ASSERT_TRUE(first);
    // Another process (the lock is per open file, so test across a fork).
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(SingleInstance::acquire(lock) ? 1 : 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "second instance got the lock";

    first.reset();
    child = ::fork();
    if (child == 0)
        ::_exit(SingleInstance::acquire(lock) ? 0 : 1);
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "lock not released";
    std::filesystem::remove(lock);
}

TEST(SingleInstance, UnusableLockPlaceCountsAsRunning) {
    EXPECT_FALSE(SingleInstance::acquire("/nonexistent-folder/ORVIK_INSTANCE"));
}

TEST(SingleInstance, LockLivesInTheRuntimeFolder) {
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(SingleInstance::defaultLockFile(), "/run/user/4242/ORVIK_INSTANCE");
}

}  // namespace
}  // namespace orvik::platform
