// Folder scans on real temporary trees: which files are found, which folders are entered, and
// that broken trees (loops, unreadable folders) neither hang nor abort the scan.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "recordings/catalogue.h"
#include "support/test_support.h"

namespace orvik::recordings {
namespace {

namespace fs = std::filesystem;
using orvik::test::TempDir;

std::vector<std::string> relativePaths(const std::vector<FileEntry>& entries, const TempDir& dir) {
    std::vector<std::string> out;
    for (const auto& e : entries)
        out.push_back(fs::path(e.fullPath()).lexically_relative(dir.path()).string());
    return out;
}

std::vector<std::string> scan(const TempDir& dir) {
    auto r = scanFolder(dir.str(), ExtensionFilter("mp4"));
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error());
    return r.ok() ? relativePaths(*r, dir) : std::vector<std::string>{};
}

TEST(ExtensionFilter, MatchesTheLastExtensionIgnoringCase) {
    const ExtensionFilter mp4("mp4");
    EXPECT_TRUE(mp4.matches("a.mp4"));
    EXPECT_TRUE(mp4.matches("EVENT_20190305_142233_F.MP4"));
    EXPECT_TRUE(mp4.matches("x.avi.Mp4"));
    EXPECT_TRUE(mp4.matches(".mp4"));
    EXPECT_FALSE(mp4.matches("clip.mp4.bak"));
    EXPECT_FALSE(mp4.matches("mp4"));
    EXPECT_FALSE(mp4.matches("a.mp44"));
    EXPECT_FALSE(mp4.matches("a.mp"));
    EXPECT_FALSE(mp4.matches("a."));
}

TEST(FolderScan, FindsMatchesInVisibleSubfoldersInPathOrder) {
    TempDir dir;
    dir.touch("DCIM/front/alwa_20190305_142233_F.mp4");
    dir.touch("DCIM/rear/alwa_20190305_142233_R.MP4");
    dir.touch("b.mp4");
    dir.touch("a.mp4");
    dir.touch("clip.mp4.bak");
    dir.touch("notes.txt");
    dir.touch("x.mp4/inside.mp4");  // a folder named like a recording is entered, not listed
    dir.touch(".hidden.mp4");       // hidden files are listed
    dir.touch("DCIM/.thumbs/alwa_20190305_142233_F.mp4");  // hidden folders are not entered
    dir.mkdir("empty");
    EXPECT_EQ(scan(dir),
              (std::vector<std::string>{".hidden.mp4", "DCIM/front/alwa_20190305_142233_F.mp4",
                                        "DCIM/rear/alwa_20190305_142233_R.MP4", "a.mp4", "b.mp4",
                                        "x.mp4/inside.mp4"}));
}

TEST(FolderScan, EmptyFolderGivesEmptyList) {
    TempDir dir;
    dir.mkdir("sub/deeper");
    EXPECT_TRUE(scan(dir).empty());
}

TEST(FolderScan, LinkedFoldersAreNotFollowed) {
    TempDir dir;
    dir.touch("store/event_20190305_142233_F.mp4");
    dir.mkdir("card");
    fs::create_directory_symlink(dir.path() / "store", dir.path() / "card/store");
    auto r = scanFolder((dir.path() / "card").string(), ExtensionFilter("mp4"));
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->empty());
}

TEST(FolderScan, SymlinkLoopsEndTheScan) {
    TempDir dir;
    dir.touch("card/DCIM/a.mp4");
    fs::create_directory_symlink(dir.path() / "card", dir.path() / "card/DCIM/loop");
    fs::create_directory_symlink("..", dir.path() / "card/DCIM/up");
    fs::create_symlink(dir.path() / "card/missing.mp4", dir.path() / "card/broken.mp4");
    fs::create_symlink(dir.path() / "card/DCIM/a.mp4", dir.path() / "card/linked.mp4");
    auto r = scanFolder((dir.path() / "card").string(), ExtensionFilter("mp4"));
    ASSERT_TRUE(r.ok());
    std::vector<std::string> names;
    for (const auto& e : *r)
        names.push_back(e.name);
    // The broken link is dropped; the link to a file is a file.
    EXPECT_EQ(names, (std::vector<std::string>{"a.mp4", "linked.mp4"}));
}

TEST(FolderScan, RootErrorsNameThePath) {
    TempDir dir;
    dir.touch("file.mp4");
    dir.mkdir(".hidden");
    auto missing = scanFolder((dir.path() / "missing").string(), ExtensionFilter("mp4"));
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("missing"), std::string::npos);
    EXPECT_NE(missing.error().find("No such file"), std::string::npos);
    EXPECT_FALSE(scanFolder((dir.path() / "file.mp4").string(), ExtensionFilter("mp4")).ok());
    EXPECT_FALSE(scanFolder((dir.path() / ".hidden").string(), ExtensionFilter("mp4")).ok());
    EXPECT_FALSE(scanFolder("", ExtensionFilter("mp4")).ok());
    // A trailing slash or "." names the same visible folder.
    EXPECT_TRUE(scanFolder(dir.str() + "/", ExtensionFilter("mp4")).ok());
    EXPECT_TRUE(scanFolder((dir.path() / ".hidden" / "..").string(), ExtensionFilter("mp4")).ok());
}

TEST(FolderScan, UnreadableFoldersAreSkipped) {
    // Permission bits do not bind root, so the scan runs in a child without privileges.
    TempDir dir;
    dir.touch("card/a.mp4");
    dir.touch("card/locked/b.mp4");
    dir.touch("card/z/c.mp4");
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(dir.path() / "card", fs::perms::all);
    fs::permissions(dir.path() / "card/z", fs::perms::all);
    fs::permissions(dir.path() / "card/locked", fs::perms::none);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        ScanStats stats;
        ScanOptions options;
        options.stats = &stats;
        auto r = scanFolder((dir.path() / "card").string(), ExtensionFilter("mp4"), options);
        if (!r.ok() || r->size() != 2 || (*r)[0].name != "a.mp4" || (*r)[1].name != "c.mp4")
            ::_exit(1);
        if (stats.foldersSkipped != 1)
            ::_exit(2);
        auto locked = scanFolder((dir.path() / "card/locked").string(), ExtensionFilter("mp4"));
        if (locked.ok() || locked.error().find("cannot read") == std::string::npos)
            ::_exit(4);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: wrong matches, 2: skip not counted, 3: no setuid, 4: root error";
}

TEST(FolderScan, ProgressIsReportedAndEnds) {
    TempDir dir;
    for (int i = 0; i < 1500; ++i)
        dir.touch("many/f" + std::to_string(i) + ".mp4");
    std::vector<std::size_t> seen;
    ScanOptions options;
    options.progress = [&](std::size_t n) { seen.push_back(n); };
    auto r = scanFolder(dir.str(), ExtensionFilter("mp4"), options);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->size(), 1500u);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 1501u);  // 1500 files and the folder
}

TEST(Catalogue, ClassifiesAndSortsAFolder) {
    TempDir dir;
    dir.touch("rear/event_20190305_142233_R.mp4");
    dir.touch("front/event_20190305_142233_F.mp4");
    dir.touch("alwa_20190305_140000_R.mp4");
    dir.touch("a.mp4");
    auto rows = catalogueFolder(dir.str());
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows->size(), 4u);
    EXPECT_EQ((*rows)[0].name, "a.mp4");
    EXPECT_EQ((*rows)[0].fullPath, dir.str() + "/a.mp4");
    EXPECT_EQ((*rows)[1].name, "alwa_20190305_140000_R.mp4");
    EXPECT_EQ((*rows)[2].name, "event_20190305_142233_F.mp4");
    EXPECT_EQ((*rows)[2].fullPath, dir.str() + "/front/event_20190305_142233_F.mp4");
    EXPECT_EQ((*rows)[3].name, "event_20190305_142233_R.mp4");
    EXPECT_EQ((*rows)[3].kind, RecordingKind::Event);
}

}  // namespace
}  // namespace orvik::recordings
