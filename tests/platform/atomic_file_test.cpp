#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace orvik::platform;

namespace {
using orvik::test::readFile;
using orvik::test::TempDir;
std::size_t entries(const std::string& d) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(d), fs::directory_iterator()));
}
}  // namespace

TEST(AtomicFile, ReplacesContentAndKeepsTheMode) {
    TempDir d;
    std::string f = d.str() + "/file";
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("first, longer content")).ok());
    ::chmod(f.c_str(), 0640);
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("second")).ok());
    EXPECT_EQ(readFile(f), "second");
    struct stat st {};
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(d.str()), 1u);
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("")).ok());
    EXPECT_EQ(readFile(f), "");
}

TEST(AtomicFile, InterruptedAndPartialWritesStillComplete) {
    TempDir d;
    std::string f = d.str() + "/file";
    int calls = 0;
    setWriteFunctionForTesting([&](int fd, const void* p, std::size_t n) -> ssize_t {
        if (++calls % 2) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, p, std::min<std::size_t>(n, 3));
    });
    auto r = writeFileAtomic(f, std::string_view("0123456789"));
    setWriteFunctionForTesting({});
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(readFile(f), "0123456789");
}

TEST(AtomicFile, FailuresKeepTheOldFileAndLeaveNoTemporary) {
    TempDir d;
    std::string f = d.str() + "/file";
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("old")).ok());
    setWriteFunctionForTesting([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    AtomicWriteError e;
    auto r = writeFileAtomic(f, std::string_view("new content"), &e);
    setWriteFunctionForTesting({});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(e.errorNumber, ENOSPC);
    EXPECT_EQ(r.error(), "cannot write " + f + ": No space left on device");
    EXPECT_EQ(readFile(f), "old");
    EXPECT_EQ(entries(d.str()), 1u);

    fs::create_directory(d.str() + "/sub");
    EXPECT_FALSE(writeFileAtomic(d.str() + "/sub", std::string_view("x")).ok());
    EXPECT_FALSE(writeFileAtomic("", std::string_view("x")).ok());
    EXPECT_FALSE(writeFileAtomic(d.str() + "/missing/file", std::string_view("x")).ok());
}

TEST(AtomicFile, ReadIsLimited) {
    TempDir d;
    std::string f = d.str() + "/file";
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("12345")).ok());
    EXPECT_EQ(readFileLimited(f, 5).value(), "12345");
    EXPECT_FALSE(readFileLimited(f, 4).ok());
    EXPECT_FALSE(readFileLimited(d.str(), 100).ok());
    EXPECT_FALSE(readFileLimited(d.str() + "/none", 100).ok());
}

TEST(AtomicFile, AFifoInPlaceOfAFileIsRefusedWithoutWaiting) {
    TempDir d;
    std::string f = d.str() + "/fifo";
    ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0);
    auto r = readFileLimited(f, 100);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(writeFileAtomic(f, std::string_view("x")).ok());
}
