#include "platform/private_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <set>

#include "support/test_support.h"

namespace orvik::platform {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777u : 0xFFFFu;
}

TEST(PrivateFolder, SessionFolderIsMadeClosedToOthers) {
    TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.str().c_str());
    auto folder = sessionRuntimeFolder();
    ASSERT_TRUE(folder) << folder.error();
    EXPECT_EQ(*folder, runtime.path() / "orvik");
    EXPECT_EQ(modeOf(*folder), 0700u);
    auto again = privateRuntimeFolder();
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *folder) << "every process of the session shares one folder";
}

TEST(PrivateFolder, AnUnsafeSessionFolderIsNeverUsed) {
    TempDir runtime, tmp, elsewhere;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.str().c_str());
    ScopedEnv tmpdir("TMPDIR", tmp.str().c_str());

    // A link planted where our folder goes: refused, left as it is, and a folder of our own
    // under TMPDIR is used instead.
    fs::create_directory_symlink(elsewhere.path(), runtime.path() / "orvik");
    auto session = sessionRuntimeFolder();
    ASSERT_FALSE(session);
    EXPECT_NE(session.error().find("link"), std::string::npos) << session.error();
    auto fallback = privateRuntimeFolder();
    ASSERT_TRUE(fallback) << fallback.error();
    EXPECT_EQ(fallback->parent_path(), tmp.path());
    EXPECT_EQ(modeOf(*fallback), 0700u);
    EXPECT_TRUE(fs::is_symlink(runtime.path() / "orvik"));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));

    // A folder others may enter.
    fs::remove(runtime.path() / "orvik");
    fs::create_directory(runtime.path() / "orvik");
    ::chmod((runtime.path() / "orvik").c_str(), 0755);
    session = sessionRuntimeFolder();
    ASSERT_FALSE(session);
    EXPECT_NE(session.error().find("open to other users"), std::string::npos) << session.error();

    // A session folder that is itself open to others.
    ::chmod((runtime.path() / "orvik").c_str(), 0700);
    ::chmod(runtime.path().c_str(), 0777);
    EXPECT_FALSE(sessionRuntimeFolder());
    ::chmod(runtime.path().c_str(), 0700);
    EXPECT_TRUE(sessionRuntimeFolder());
}

TEST(PrivateFolder, AFolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.str().c_str());
    fs::create_directory(runtime.path() / "orvik");
    ::chmod((runtime.path() / "orvik").c_str(), 0700);
    ASSERT_EQ(::chown((runtime.path() / "orvik").c_str(), 65534, 65534), 0);
    auto session = sessionRuntimeFolder();
    ASSERT_FALSE(session);
    EXPECT_NE(session.error().find("another user"), std::string::npos) << session.error();
}

TEST(PrivateFolder, WithoutASessionEachProcessHasItsOwnFolder) {
    TempDir tmp;
    ScopedEnv xdg("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv tmpdir("TMPDIR", tmp.str().c_str());
    auto first = privateRuntimeFolder();
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ(first->parent_path(), tmp.path());
    EXPECT_EQ(first->filename().string().rfind("orvik-", 0), 0u) << *first;
    EXPECT_EQ(modeOf(*first), 0700u);
    auto second = privateRuntimeFolder();
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *first) << "made once per process";

    // Removed behind our back: made again rather than written to blindly.
    fs::remove(*first);
    auto third = privateRuntimeFolder();
    ASSERT_TRUE(third);
    EXPECT_TRUE(fs::is_directory(*third));
}

TEST(PrivateFolder, NewFilesAreExclusiveAndClosedToOthers) {
    TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.str().c_str());
    std::set<fs::path> names;
    for (int i = 0; i < 20; ++i) {
        auto f = createPrivateFile("preview-", ".png");
        ASSERT_TRUE(f) << f.error();
        EXPECT_EQ(f->path.parent_path(), runtime.path() / "orvik");
        EXPECT_EQ(f->path.extension(), ".png");
        EXPECT_EQ(modeOf(f->path), 0600u);
        ::close(f->fd);
        names.insert(f->path);
    }
    EXPECT_EQ(names.size(), 20u);

    auto sub = createPrivateSubfolder("format-");
    ASSERT_TRUE(sub) << sub.error();
    EXPECT_EQ(modeOf(*sub), 0700u);
    EXPECT_EQ(sub->parent_path(), runtime.path() / "orvik");
}

TEST(PrivateFolder, AFileWrittenByNameReplacesALinkInsteadOfWritingThroughIt) {
    TempDir runtime, victim;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.str().c_str());
    const fs::path target = victim.touch("bashrc", "keep me\n");
    ASSERT_TRUE(sessionRuntimeFolder());
    fs::create_symlink(target, runtime.path() / "orvik" / "MAP.HTM");

    auto written = writePrivateFile("MAP.HTM", "<html></html>");
    ASSERT_TRUE(written) << written.error();
    EXPECT_EQ(*written, runtime.path() / "orvik" / "MAP.HTM");
    EXPECT_FALSE(fs::is_symlink(*written));
    EXPECT_EQ(test::readFile(*written), "<html></html>");
    EXPECT_EQ(modeOf(written->parent_path()), 0700u) << "closed to others by its folder";
    EXPECT_EQ(test::readFile(target), "keep me\n");

    // Written again: replaced whole, no temporary file left beside it.
    ASSERT_TRUE(writePrivateFile("MAP.HTM", "second"));
    EXPECT_EQ(test::readFile(*written), "second");
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(runtime.path() / "orvik"))
        ++entries;
    EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace orvik::platform
