#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace orvik::platform {
namespace {
namespace fs = std::filesystem;
using Status = SingleInstance::Status;

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
    test::TempDir dir;
    const auto lock = dir.path() / "ORVIK_INSTANCE";
    auto first = SingleInstance::acquire(lock);
    ASSERT_EQ(first.status, Status::Acquired) << first.error;
    ASSERT_TRUE(first.lock);
    // Another process (the lock is per open file, so test across a fork).
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(SingleInstance::acquire(lock).status == Status::HeldByAnother ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "second instance got the lock";

    first.lock.reset();
    child = ::fork();
    if (child == 0)
        ::_exit(SingleInstance::acquire(lock).status == Status::Acquired ? 0 : 1);
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "lock not released";
}

TEST(SingleInstance, ALockThatCannotBeTakenIsAFailureNotAnotherInstance) {
    auto missing = SingleInstance::acquire("/nonexistent-folder/ORVIK_INSTANCE");
    EXPECT_EQ(missing.status, Status::Failed);
    EXPECT_NE(missing.error.find("/nonexistent-folder/ORVIK_INSTANCE"), std::string::npos)
        << missing.error;

    // A planted link is neither followed nor created through.
    test::TempDir dir, victim;
    const fs::path target = victim.path() / "bashrc";
    fs::create_symlink(target, dir.path() / "ORVIK_INSTANCE");
    auto link = SingleInstance::acquire(dir.path() / "ORVIK_INSTANCE");
    EXPECT_EQ(link.status, Status::Failed);
    EXPECT_NE(link.error.find("link"), std::string::npos) << link.error;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "ORVIK_INSTANCE"));

    fs::create_directory(dir.path() / "folder");
    EXPECT_EQ(SingleInstance::acquire(dir.path() / "folder").status, Status::Failed);
}

TEST(SingleInstance, ALockFileOfAnotherUserIsAFailure) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    test::TempDir dir;
    const fs::path lock = dir.touch("ORVIK_INSTANCE");
    ::chmod(dir.str().c_str(), 0755);
    ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
    auto attempt = SingleInstance::acquire(lock);
    EXPECT_EQ(attempt.status, Status::Failed);
    EXPECT_NE(attempt.error.find("another user"), std::string::npos) << attempt.error;
}

TEST(SingleInstance, LockLivesInThePrivateSessionFolderElseTheDataFolder) {
    test::TempDir runtime, home;
    ::setenv("XDG_RUNTIME_DIR", runtime.str().c_str(), 1);
    auto file = SingleInstance::defaultLockFile();
    ASSERT_TRUE(file) << file.error();
    EXPECT_EQ(*file, runtime.path() / "orvik" / "ORVIK_INSTANCE");

    // Never a shared folder such as /tmp, where another user could take the name first.
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", home.str().c_str(), 1);
    file = SingleInstance::defaultLockFile();
    ASSERT_TRUE(file) << file.error();
    EXPECT_EQ(*file, home.path() / ".local" / "share" / "Orvik" / "ORVIK_INSTANCE");
    auto attempt = SingleInstance::acquire();
    EXPECT_EQ(attempt.status, Status::Acquired) << attempt.error;
}

}  // namespace
}  // namespace orvik::platform
