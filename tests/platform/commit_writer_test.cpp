#include "platform/commit_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/volumes.h"
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

TEST(CommitWriter, ReplacesContentAndKeepsTheMode) {
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

TEST(CommitWriter, InterruptedAndPartialWritesStillComplete) {
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

TEST(CommitWriter, FailuresKeepTheOldFileAndLeaveNoTemporary) {
    TempDir d;
    std::string f = d.str() + "/file";
    ASSERT_TRUE(writeFileAtomic(f, std::string_view("old")).ok());
    setWriteFunctionForTesting([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    auto r = writeFileAtomic(f, std::string_view("new content"));
    setWriteFunctionForTesting({});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.errorNumber(), ENOSPC);
    EXPECT_EQ(r.error(), "cannot write " + f + ": No space left on device");
    EXPECT_EQ(readFile(f), "old");
    EXPECT_EQ(entries(d.str()), 1u);

    fs::create_directory(d.str() + "/sub");
    EXPECT_FALSE(writeFileAtomic(d.str() + "/sub", std::string_view("x")).ok());
    EXPECT_FALSE(writeFileAtomic("", std::string_view("x")).ok());
    EXPECT_FALSE(writeFileAtomic(d.str() + "/missing/file", std::string_view("x")).ok());
}

namespace {
mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Sets the process umask for one scope.
struct UmaskScope {
    explicit UmaskScope(mode_t mask) : old(::umask(mask)) {}
    ~UmaskScope() { ::umask(old); }
    mode_t old;
};
}  // namespace

TEST(CommitWriter, ANewFileFollowsTheUmaskAndAReplacedOneKeepsItsMode) {
    TempDir d;
    {
        UmaskScope mask(027);
        ASSERT_TRUE(writeFileAtomic(d / "new", std::string_view("x")).ok());
        EXPECT_EQ(modeOf(d / "new"), 0640u) << "0666 minus the umask, not a fixed mode";
    }
    {
        UmaskScope mask(0);
        ASSERT_TRUE(writeFileAtomic(d / "open", std::string_view("x")).ok());
        EXPECT_EQ(modeOf(d / "open"), 0666u);
        // A private file stays private and an executable one executable, whatever the umask.
        ::chmod((d / "new").c_str(), 0600);
        ASSERT_TRUE(writeFileAtomic(d / "new", std::string_view("yy")).ok());
        EXPECT_EQ(modeOf(d / "new"), 0600u);
        ::chmod((d / "open").c_str(), 0751);
        ASSERT_TRUE(writeFileAtomic(d / "open", std::string_view("yy")).ok());
        EXPECT_EQ(modeOf(d / "open"), 0751u);
    }
}

TEST(CommitWriter, NothingAppearsBeforeCommitAndAbandoningLeavesNothing) {
    TempDir d;
    const std::string f = d / "clip.mp4";
    {
        auto w = CommitWriter::create(f);
        ASSERT_TRUE(w) << w.error();
        ASSERT_TRUE(w->write(std::string_view("part")));
        EXPECT_FALSE(fs::exists(f));
        EXPECT_EQ(entries(d.str()), 1u);
        const std::string temp = fs::path(w->temporaryPath()).filename().string();
        EXPECT_EQ(temp.front(), '.') << "hidden";
        EXPECT_TRUE(temp.ends_with(".part")) << "never taken for a recording: " << temp;
    }
    EXPECT_EQ(entries(d.str()), 0u) << "an uncommitted writer removes its temporary file";

    auto w = CommitWriter::create(f);
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->write(std::string_view("whole")));
    w->abandon();
    EXPECT_FALSE(w->commit());
    EXPECT_EQ(entries(d.str()), 0u);
}

TEST(CommitWriter, RefusingNeverReplacesAFileThatIsOrAppearsThere) {
    TempDir d;
    const std::string f = d / "copy.mp4";
    d.touch("copy.mp4", "evidence");
    auto refused = CommitWriter::create(f, {IfExists::Refuse, Durability::Always});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.errorNumber(), EEXIST);
    EXPECT_EQ(readFile(f), "evidence");

    const std::string late = d / "late.mp4";
    auto racing = CommitWriter::create(late, {IfExists::Refuse, Durability::Always});
    ASSERT_TRUE(racing);
    ASSERT_TRUE(racing->write(std::string_view("mine")));
    d.touch("late.mp4", "theirs");
    auto committed = racing->commit();
    ASSERT_FALSE(committed);
    EXPECT_EQ(committed.errorNumber(), EEXIST);
    EXPECT_EQ(readFile(late), "theirs");
    EXPECT_EQ(entries(d.str()), 2u) << "no temporary file left";
}

TEST(CommitWriter, AFailedWriteIsStickyAndRemovesTheTemporaryAtOnce) {
    TempDir d;
    const std::string f = d / "out";
    d.touch("out", "old");
    auto w = CommitWriter::create(f);
    ASSERT_TRUE(w);
    setWriteFunctionForTesting([](int, const void*, std::size_t) -> ssize_t { return 0; });
    EXPECT_FALSE(w->write(std::string_view("data")));
    setWriteFunctionForTesting({});
    EXPECT_EQ(w->errorNumber(), ENOSPC) << "a write that makes no progress: medium full";
    EXPECT_EQ(entries(d.str()), 1u);
    EXPECT_FALSE(w->write(std::string_view("more")));
    auto r = w->commit();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.errorNumber(), ENOSPC);
    EXPECT_EQ(readFile(f), "old");
}

TEST(CommitWriter, NewFilesOnFixedDisksAreNotWaitedForButReplacementsAre) {
    TempDir d;
    auto fresh = CommitWriter::create(d / "a", {IfExists::Replace, Durability::WhereLossCounts});
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->flushesOnCommit(), onRemovableMedia(d.str()));
    // Larger than the write-behind step, so the writing started on the way is exercised.
    const std::vector<std::uint8_t> block(9u << 20, 0x5A);
    ASSERT_TRUE(fresh->write(block));
    ASSERT_TRUE(fresh->commit());
    EXPECT_EQ(fs::file_size(d / "a"), block.size());

    auto replacing =
        CommitWriter::create(d / "a", {IfExists::Replace, Durability::WhereLossCounts});
    ASSERT_TRUE(replacing);
    EXPECT_TRUE(replacing->flushesOnCommit()) << "the old file must survive a power cut";
    auto always = CommitWriter::create(d / "b");
    ASSERT_TRUE(always);
    EXPECT_TRUE(always->flushesOnCommit());
}

// A large copy's whole pages go past the cache; pieces off the page grid (an unaligned buffer, an
// odd length, everything after it) go the usual way, a file system that turns direct writes down
// gets them the usual way too, and a short direct write is finished. Every byte lands in order.
TEST(CommitWriter, DirectWritesKeepEveryByteWhateverTheAlignment) {
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    const std::size_t size = 1u << 20;
    std::unique_ptr<std::uint8_t, Free> block(
        static_cast<std::uint8_t*>(std::aligned_alloc(4096, size + 4096)));
    ASSERT_TRUE(block);
    for (std::size_t i = 0; i < size + 4096; ++i)
        block.get()[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
    const std::span<const std::uint8_t> aligned(block.get(), size);
    // Page-aligned pieces, an unaligned one, an odd one, then aligned memory off the grid.
    const std::vector<std::span<const std::uint8_t>> pieces = {
        aligned, aligned.first(4096), std::span(block.get() + 1, 4096), aligned.first(1000),
        aligned, aligned.first(8192)};
    std::string expected;
    for (auto p : pieces)
        expected.append(reinterpret_cast<const char*>(p.data()), p.size());

    int directWrites = 0;
    bool refuseOnce = false;
    bool shortOnce = false;
    setWriteFunctionForTesting([&](int fd, const void* p, std::size_t n) -> ssize_t {
        if ((::fcntl(fd, F_GETFL) & O_DIRECT) == 0)
            return ::write(fd, p, n);
        ++directWrites;
        if (refuseOnce) {
            refuseOnce = false;
            errno = EINVAL;
            return -1;
        }
        if (shortOnce && n > 4096) {
            shortOnce = false;
            return ::write(fd, p, 4096 + 512);  // the device took less, and off the grid
        }
        return ::write(fd, p, n);
    });
    TempDir d;
    for (int mode = 0; mode < 3; ++mode) {
        refuseOnce = mode == 1;
        shortOnce = mode == 2;
        const std::string f = d.str() + "/copy" + std::to_string(mode) + ".mp4";
        auto w = CommitWriter::create(f, {IfExists::Refuse, Durability::Always, true});
        ASSERT_TRUE(w) << w.error();
        for (auto p : pieces)
            ASSERT_TRUE(w->write(p)) << w->error();
        ASSERT_TRUE(w->commit()) << mode;
        EXPECT_EQ(readFile(f), expected) << "mode " << mode;
    }
    // On a memory file system direct writes may be refused outright: the bytes are the same.
    if (fs::is_directory("/dev/shm")) {
        const std::string f = "/dev/shm/orvik-direct-test-" + std::to_string(::getpid());
        auto w = CommitWriter::create(f, {IfExists::Replace, Durability::Always, true});
        ASSERT_TRUE(w) << w.error();
        for (auto p : pieces)
            ASSERT_TRUE(w->write(p));
        ASSERT_TRUE(w->commit());
        EXPECT_EQ(readFile(f), expected);
        fs::remove(f);
    }
    setWriteFunctionForTesting({});
    RecordProperty("directWrites", directWrites);
}
