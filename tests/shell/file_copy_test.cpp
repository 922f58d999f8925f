#include "shell/file_copy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace orvik::shell {
namespace {
namespace fs = std::filesystem;

class FileCopyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orvik-copy-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const fs::path& p, const std::string& content) {
        std::ofstream(p, std::ios::binary) << content;
    }
    std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    size_t filesIn(const fs::path& p) {
        return std::distance(fs::directory_iterator(p), fs::directory_iterator());
    }
    fs::path dir_;
};

TEST_F(FileCopyTest, CopiesWholeFileWithProgress) {
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    write(dir_ / "a.mp4", big);
    std::uint64_t last = 0;
    int calls = 0;
    auto r = copyFileSafely(dir_ / "a.mp4", dir_ / "out" / "a.mp4", false, [&](std::uint64_t n) {
        EXPECT_GE(n, last);
        last = n;
        ++calls;
        return true;
    });
    EXPECT_EQ(r.status, CopyOutcome::Copied) << r.error;
    EXPECT_EQ(read(dir_ / "out" / "a.mp4"), big);
    EXPECT_EQ(last, big.size());
    EXPECT_GE(calls, 4);
    EXPECT_EQ(filesIn(dir_ / "out"), 1u) << "no temporary file left";
}

TEST_F(FileCopyTest, NeverReplacesUnlessAsked) {
    write(dir_ / "a.mp4", "new");
    write(dir_ / "out" / "a.mp4", "old");
    EXPECT_EQ(copyFileSafely(dir_ / "a.mp4", dir_ / "out" / "a.mp4", false).status,
              CopyOutcome::Exists);
    EXPECT_EQ(read(dir_ / "out" / "a.mp4"), "old");
    EXPECT_EQ(copyFileSafely(dir_ / "a.mp4", dir_ / "out" / "a.mp4", true).status,
              CopyOutcome::Copied);
    EXPECT_EQ(read(dir_ / "out" / "a.mp4"), "new");
}

TEST_F(FileCopyTest, CancelLeavesTheOldFileAndNoTemporary) {
    write(dir_ / "a.mp4", std::string(4 * 1024 * 1024, 'y'));
    write(dir_ / "out" / "a.mp4", "old");
    auto r = copyFileSafely(dir_ / "a.mp4", dir_ / "out" / "a.mp4", true,
                            [](std::uint64_t) { return false; });
    EXPECT_EQ(r.status, CopyOutcome::Cancelled);
    EXPECT_EQ(read(dir_ / "out" / "a.mp4"), "old");
    EXPECT_EQ(filesIn(dir_ / "out"), 1u);
}

TEST_F(FileCopyTest, FailuresAreReported) {
    auto missing = copyFileSafely(dir_ / "none.mp4", dir_ / "out" / "none.mp4", false);
    EXPECT_EQ(missing.status, CopyOutcome::Failed);
    EXPECT_NE(missing.error.find("none.mp4"), std::string::npos);
    write(dir_ / "a.mp4", "x");
    auto noFolder = copyFileSafely(dir_ / "a.mp4", dir_ / "nofolder" / "a.mp4", false);
    EXPECT_EQ(noFolder.status, CopyOutcome::Failed);
    auto self = copyFileSafely(dir_ / "a.mp4", dir_ / "a.mp4", true);
    EXPECT_EQ(self.status, CopyOutcome::Failed);
    EXPECT_EQ(read(dir_ / "a.mp4"), "x");
}

}  // namespace
}  // namespace orvik::shell
