#include "platform/readable_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/commit_writer.h"
#include "support/test_support.h"

using namespace orvik::platform;
using orvik::test::TempDir;

TEST(ReadableFile, ReadIsLimited) {
    TempDir d;
    std::string f = d.str() + "/file";
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("12345")).ok());
    EXPECT_EQ(readFileLimited(f, 5).value(), "12345");
    EXPECT_FALSE(readFileLimited(f, 4).ok());
    EXPECT_FALSE(readFileLimited(d.str(), 100).ok());
    EXPECT_FALSE(readFileLimited(d.str() + "/none", 100).ok());
}

TEST(ReadableFile, AFifoInPlaceOfAFileIsRefusedWithoutWaiting) {
    TempDir d;
    std::string f = d.str() + "/fifo";
    ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0);
    auto r = readFileLimited(f, 100);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(writeFileAtomic(f, std::string_view("x")).ok());
}
