// orvik-cli library on a generated card, checked with the tools users would check it with:
// sha256sum for the copies, sqlite3 for the index; JSON for scripts, exit statuses, verify after
// a flipped byte, and an index deleted or overwritten with junk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "support/test_support.h"

namespace orvik::library {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using orvik::test::quote;
using orvik::test::runCommand;
using orvik::test::RunResult;

RunResult cli(const std::string& args) {
    return runCommand("timeout 300 " + quote(ORVIK_CLI) + " library " + args);
}

// sha256sum's digest of every .mp4 under `root`, by file name.
std::map<std::string, std::string> sha256sums(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().filename().string();
        // The names an import takes: a kind, a real date and time, a channel; no hidden trash.
        static const std::regex recording(
            "(alwa|event|evt[A-Z]+|user|motion)_20[0-9]{2}(0[1-9]|1[0-2])[0-3][0-9]_[0-9]{6}_[FR]"
            "\\.mp4");
        if (!std::regex_match(name, recording) ||
            e.path().string().find("/.trash/") != std::string::npos)
            continue;
        const std::string line = runCommand("sha256sum " + quote(e.path().string())).out;
        out[name] = line.substr(0, 64);
    }
    return out;
}

class LibraryCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new orvik::test::TempDir;
        ASSERT_EQ(runCommand(quote(ORVIK_SAMPLECARD) + " --out " + quote(card()) +
                             " --count 2 --duration 3 -q")
                      .status,
                  0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string card() { return (dir_->path() / "card").string(); }
    std::string library() const { return (scratch_.path() / "library").string(); }
    std::string lib() const { return " --library " + quote(library()); }
    json importJson() {
        const RunResult r = cli("import " + quote(card()) + lib() + " --json");
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out);
    }

    static inline orvik::test::TempDir* dir_ = nullptr;
    orvik::test::TempDir scratch_;
};

TEST_F(LibraryCli, TheLibraryHoldsTheCardsBytesAndASecondImportCopiesNothing) {
    const json first = importJson();
    const auto onCard = sha256sums(card());
    ASSERT_FALSE(onCard.empty());
    EXPECT_EQ(sha256sums(library()), onCard);
    EXPECT_EQ(first["imported"], onCard.size() + 2);  // and the configuration and route files
    EXPECT_EQ(first["failed"], 0);
    EXPECT_FALSE(first["cancelled"].get<bool>());

    const json second = importJson();
    EXPECT_EQ(second["imported"], 0);
    EXPECT_EQ(second["skipped"], onCard.size() + 2);
    EXPECT_EQ(second["bytesCopied"], 0);

    if (!orvik::test::haveProgram("sqlite3"))
        GTEST_SKIP() << "sqlite3 is not installed";
    const std::string db = quote(library() + "/library.sqlite");
    EXPECT_EQ(runCommand("sqlite3 " + db + " 'PRAGMA integrity_check'").out, "ok\n");
    EXPECT_EQ(runCommand("sqlite3 " + db + " 'PRAGMA journal_mode'").out, "wal\n");
    EXPECT_EQ(runCommand("sqlite3 " + db + " 'SELECT count(*) FROM recordings'").out,
              std::to_string(onCard.size()) + "\n");

    // The summary line for people.
    const RunResult plain = cli("import " + quote(card()) + lib());
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("imported 0, skipped " + std::to_string(onCard.size() + 2) +
                             ", kept beside 0, failed 0"),
              std::string::npos)
        << plain.out;
    EXPECT_EQ(plain.err, "");  // no progress lines when stderr is not a terminal
}

TEST_F(LibraryCli, ALibraryOnAReadOnlyMediumIsSearchedAsItIs) {
    importJson();
    // The library seen through a read-only mount, as on a disk mounted read-only.
    const fs::path view = scratch_.path() / "read-only";
    fs::create_directories(view);
    if (runCommand("mount --bind " + quote(library()) + " " + quote(view.string()) +
                   " 2>/dev/null && mount -o remount,bind,ro " + quote(view.string()) +
                   " 2>/dev/null")
            .status != 0) {
        runCommand("umount " + quote(view.string()) + " 2>/dev/null");
        GTEST_SKIP() << "cannot mount here (needs root)";
    }
    const RunResult r = cli("search --library " + quote(view.string()) + " --kind event --json");
    runCommand("umount " + quote(view.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(json::parse(r.out).empty());
}

TEST_F(LibraryCli, SearchesCombineAndAnswerInTimeOrder) {
    importJson();
    RunResult r = cli("search" + lib() + " --from 2026-03-14 --to 2026-03-14 --kind event --json");
    ASSERT_EQ(r.status, 0) << r.err;
    json hits = json::parse(r.out);
    ASSERT_FALSE(hits.empty());
    std::string last;
    for (const json& h : hits) {
        EXPECT_EQ(h["kind"], "event");
        EXPECT_EQ(h["start"].get<std::string>().substr(0, 10), "2026-03-14");
        EXPECT_TRUE(fs::exists(h["path"].get<std::string>()));
        EXPECT_GT(h["durationSeconds"].get<double>(), 0);
        EXPECT_FALSE(h.contains("offsetSeconds"));
        EXPECT_LE(last, h["start"].get<std::string>());
        last = h["start"];
    }
    r = cli("search" + lib() + " --to 2026-03-13 --json");
    hits = json::parse(r.out);
    ASSERT_EQ(hits.size(), 2u);  // the day before: the archived Always pair
    EXPECT_EQ(hits[0]["name"], "alwa_20260313_181500_F.mp4");

    // A place the drive passed, and one it did not.
    const std::string db = quote(library() + "/library.sqlite");
    const std::string at =
        runCommand("sqlite3 -separator , " + db +
                   " \"SELECT latitude, longitude FROM positions p JOIN recordings r ON "
                   "r.id = p.recording WHERE r.name LIKE 'user_%' LIMIT 1\"")
            .out;
    ASSERT_FALSE(at.empty());
    r = cli("search" + lib() + " --near " + at.substr(0, at.size() - 1) + " --radius 20 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    hits = json::parse(r.out);
    ASSERT_FALSE(hits.empty());
    bool sawUser = false;
    for (const json& h : hits) {
        ASSERT_TRUE(h["offsetSeconds"].is_number()) << h.dump();
        sawUser = sawUser || h["name"].get<std::string>().starts_with("user_");
    }
    EXPECT_TRUE(sawUser);
    r = cli("search" + lib() + " --bbox -1,-1,1,1 --min-speed 5 --unit mph");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0 recordings\n");

    for (const char* wrong :
         {"--near 91,0 --radius 5", "--near 37,127", "--radius 5", "--bbox 2,0,1,1",
          "--from 2026-13-01", "--kind parked", "--min-speed -3"}) {
        r = cli(std::string("search") + lib() + " " + wrong);
        EXPECT_EQ(r.status, 2) << wrong << ": " << r.err;
        EXPECT_EQ(r.out, "") << wrong;
    }
}

TEST_F(LibraryCli, VerifyNamesAFlippedByteAndPassesOnceItIsRestored) {
    importJson();
    RunResult r = cli("verify" + lib());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string victim;
    for (const auto& e : fs::recursive_directory_iterator(library()))
        if (e.path().filename().string().starts_with("event_"))
            victim = e.path().string();
    ASSERT_FALSE(victim.empty());
    std::vector<std::uint8_t> bytes = orvik::test::readBytes(victim);
    const std::vector<std::uint8_t> original = bytes;
    bytes[bytes.size() - 10] ^= 0x01;
    ASSERT_TRUE(orvik::test::writeBytes(victim, bytes));
    r = cli("verify" + lib());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("changed: " + fs::relative(victim, library()).string()), std::string::npos)
        << r.out;
    ASSERT_TRUE(orvik::test::writeBytes(victim, original));
    r = cli("verify" + lib());
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(LibraryCli, ADeletedOrJunkIndexIsRebuiltFromTheFolder) {
    importJson();
    const std::string before = cli("search" + lib() + " --json").out;
    const fs::path db = fs::path(library()) / "library.sqlite";
    fs::remove(db);
    RunResult r = cli("search" + lib() + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, before);

    ASSERT_TRUE(orvik::test::writeFile(db, std::string(10000, '\x7f')));
    r = cli("verify" + lib());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("rebuilt"), std::string::npos) << r.err;
    EXPECT_EQ(cli("search" + lib() + " --json").out, before);
    if (orvik::test::haveProgram("sqlite3")) {
        EXPECT_EQ(runCommand("sqlite3 " + quote(db.string()) + " 'PRAGMA integrity_check'").out,
                  "ok\n");
    }

    r = cli("reindex" + lib());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("indexed "), std::string::npos);
    EXPECT_EQ(cli("search" + lib() + " --json").out, before);
}

TEST_F(LibraryCli, CtrlCLeavesNoHalfFileAndTheSameCommandCompletesTheImport) {
    // Big recordings (random bytes: nothing an import could skip), interrupted a moment in.
    const fs::path big = scratch_.path() / "big-card" / "Always";
    fs::create_directories(big);
    std::string block(1 << 20, '\0');
    std::uint64_t x = 88172645463325252ull;
    for (int f = 0; f < 4; ++f) {
        std::ofstream out(big / ("alwa_20250503_0800" + std::to_string(10 + f) + "_F.mp4"),
                          std::ios::binary);
        for (int mb = 0; mb < 48; ++mb) {
            for (char& c : block) {
                x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                c = static_cast<char>(x);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    const std::string command = "import " + quote(big.parent_path().string()) + lib();
    // Ctrl+C while a recording is being copied (its .part file is there), however long the start
    // takes on a loaded machine. `timeout` passes the signal on: a job the shell starts in the
    // background ignores SIGINT.
    const RunResult cut = runCommand(
        "timeout --preserve-status -s INT 600 " + quote(ORVIK_CLI) + " library " + command +
        " & pid=$!; while kill -0 $pid 2>/dev/null && [ -z \"$(find " + quote(library()) +
        " -name '*.part' 2>/dev/null)\" ]; do sleep 0.01; done; kill -INT $pid; wait $pid");
    const auto source = sha256sums(big.parent_path());
    for (const auto& [name, digest] : sha256sums(library()))
        EXPECT_EQ(digest, source.at(name)) << name << " is under its real name but not whole";
    EXPECT_TRUE(cut.status == 130 || cut.status == 0) << cut.status << cut.err;
    if (cut.status == 130) {
        EXPECT_NE(cut.err.find("run the same command again"), std::string::npos) << cut.err;
    }
    const RunResult rerun = cli(command);
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_EQ(sha256sums(library()), source);
    for (const auto& e : fs::recursive_directory_iterator(library()))
        EXPECT_FALSE(e.path().filename().string().ends_with(".part")) << e.path();
}

TEST_F(LibraryCli, MistakesAreRefusedWithTheReason) {
    RunResult r = cli("import " + quote(card() + "/nothing-here") + lib());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no card folder"), std::string::npos) << r.err;
    r = cli("search --library " + quote(library() + "/none"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no library folder"), std::string::npos) << r.err;
    r = cli("import " + quote(card()) + lib() + " --only always");
    EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace orvik::library
