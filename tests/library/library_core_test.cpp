// Import from a generated card into a library, verify and rebuilds of the index, through the
// core: the same bytes land, nothing is copied twice, other bytes under a known name are kept
// beside, an interrupted or failing import leaves nothing half written under a real name and a
// rerun completes it, a damaged index is rebuilt from the folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "library/check.h"
#include "library/import.h"
#include "library/index.h"
#include "library/sqlite.h"
#include "platform/commit_writer.h"
#include "platform/sha256.h"
#include "recordings/recording_file.h"
#include "samplecard/sample_card.h"
#include "support/test_support.h"
#include "trips/trips.h"

namespace orvik::library {
namespace {

namespace fs = std::filesystem;
using orvik::test::TempDir;

std::string digestOf(const fs::path& file) {
    auto h = platform::hashFile(file.string());
    return h ? platform::toHex(h->digest) : std::string("unreadable: ") + h.error();
}

// Every visible file under `root`, relative, with its SHA-256.
std::map<std::string, std::string> filesUnder(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(".") || name.starts_with(kIndexFileName)) {
            if (it->is_directory())
                it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file())
            files[fs::relative(it->path(), root).string()] = digestOf(it->path());
    }
    return files;
}

class LibraryImport : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        card_ = new TempDir;
        tools::SampleCardOptions o;
        o.durationSeconds = 3;
        o.alwaysPairs = 2;
        auto made = tools::writeSampleCard(card_->str(), o);
        ASSERT_TRUE(made) << made.error();
    }
    static void TearDownTestSuite() {
        delete card_;
        card_ = nullptr;
    }
    void TearDown() override { platform::setWriteFunctionForTesting({}); }

    ImportOptions options() const {
        ImportOptions o;
        o.card = card_->str();
        o.library = library_.str();
        return o;
    }
    // The card's recordings that an import takes, by file name, with their SHA-256.
    static std::map<std::string, std::string> cardRecordings() {
        std::map<std::string, std::string> out;
        for (const auto& [rel, digest] : filesUnder(card_->path())) {
            const std::string name = fs::path(rel).filename().string();
            const auto row = recordings::parseRecordingName(name);
            if (row.kind != recordings::RecordingKind::Unknown && trips::startOf(row.timestamp))
                out[name] = digest;
        }
        return out;
    }
    // The library's first recording whose name starts with `prefix`.
    fs::path libraryFile(const std::string& prefix) const {
        for (const auto& [rel, digest] : filesUnder(library_.path()))
            if (fs::path(rel).filename().string().starts_with(prefix))
                return library_.path() / rel;
        ADD_FAILURE() << "no " << prefix << " in the library";
        return library_.path() / "none";
    }
    std::map<std::string, std::string> libraryRecordings() const {
        std::map<std::string, std::string> out;
        for (const auto& [rel, digest] : filesUnder(library_.path()))
            if (fs::path(rel).extension() == ".mp4")
                out[fs::path(rel).filename().string()] = digest;
        return out;
    }

    static inline TempDir* card_ = nullptr;
    TempDir library_;
};

TEST_F(LibraryImport, SameBytesLandByDateAndASecondImportCopiesNothing) {
    // Progress comes from whichever file is being copied, never two calls at once, and only
    // grows until it reaches the whole.
    std::vector<ImportProgress> told;
    std::atomic<int> inside = 0;
    ImportOptions o = options();
    o.progress = [&](const ImportProgress& p) {
        EXPECT_EQ(++inside, 1);
        told.push_back(p);
        --inside;
    };
    auto first = importCard(o);
    ASSERT_TRUE(first) << first.error();
    ASSERT_FALSE(told.empty());
    for (std::size_t i = 1; i < told.size(); ++i) {
        EXPECT_GE(told[i].bytesDone, told[i - 1].bytesDone);
        EXPECT_GE(told[i].filesDone, told[i - 1].filesDone);
    }
    EXPECT_EQ(told.back().filesDone, told.back().files);
    EXPECT_EQ(told.back().bytesDone, told.back().bytes);
    EXPECT_EQ(told.back().files, first->files.size());
    EXPECT_EQ(first->count(FileOutcome::Failed), 0u);
    EXPECT_FALSE(first->cancelled);
    const auto expected = cardRecordings();
    // The generated card also holds an Always pair of the day before under Archive/.
    EXPECT_EQ(libraryRecordings(), expected);
    EXPECT_TRUE(fs::exists(library_.path() / "2026/2026-03-14/alwa_20260314_081500_F.mp4"));
    EXPECT_TRUE(fs::exists(library_.path() / "2026/2026-03-13/alwa_20260313_181500_R.mp4"));
    // Unknown names, bad dates and the hidden trash stay on the card.
    EXPECT_FALSE(fs::exists(library_.path() / "2026/2026-03-14/.alwa_20260314_081500_F.mp4"));
    EXPECT_EQ(first->count(FileOutcome::Imported), expected.size() + 2);  // + config, route
    EXPECT_GT(first->readBackSeconds, 0.0);

    // The card's own files, per card and day.
    std::size_t cardFiles = 0;
    for (const auto& [rel, digest] : filesUnder(library_.path() / kCardsFolder)) {
        ++cardFiles;
        const std::string name = fs::path(rel).filename().string();
        EXPECT_TRUE(name == "config_K7x7.bin" || name == "orvik_000.drv") << rel;
    }
    EXPECT_EQ(cardFiles, 2u);

    const auto stampsBefore = filesUnder(library_.path());
    auto second = importCard(options());
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ(second->count(FileOutcome::Skipped), first->files.size());
    EXPECT_EQ(second->bytesCopied, 0u);
    EXPECT_EQ(filesUnder(library_.path()), stampsBefore);

    // Every recording is indexed with the hash of its bytes.
    auto index = LibraryIndex::open(library_.str(), LibraryIndex::Check::Thorough);
    ASSERT_TRUE(index) << index.error();
    EXPECT_EQ(index->count(), expected.size());
    for (const IndexedRecording& r : index->all())
        EXPECT_EQ(r.sha256, expected.at(r.name)) << r.path;
    EXPECT_GT(index->database().queryInteger("SELECT count(*) FROM positions"), 0);
    EXPECT_GT(index->database().queryInteger("SELECT count(*) FROM trips"), 0);
    EXPECT_EQ(index->database().queryInteger(
                  "SELECT count(*) FROM positions p JOIN position_boxes b ON b.id = p.id"),
              index->database().queryInteger("SELECT count(*) FROM positions"));
}

TEST_F(LibraryImport, OtherBytesUnderAKnownNameAreKeptBesideAndNamed) {
    ASSERT_TRUE(importCard(options()));
    const fs::path mine = libraryFile("user_20260314_0815");
    const std::string name = mine.filename().string();
    const std::string beside = name.substr(0, name.size() - 4) + "~2.mp4";
    std::vector<std::uint8_t> bytes = orvik::test::readBytes(mine);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] ^= 0x01;
    ASSERT_TRUE(orvik::test::writeBytes(mine, bytes));

    auto again = importCard(options());
    ASSERT_TRUE(again) << again.error();
    ASSERT_EQ(again->count(FileOutcome::KeptBeside), 1u);
    for (const ImportedFile& f : again->files) {
        if (f.outcome == FileOutcome::KeptBeside) {
            EXPECT_EQ(f.target, "2026/2026-03-14/" + beside);
        }
    }
    EXPECT_EQ(orvik::test::readBytes(mine), bytes);  // the library's own file is left alone
    EXPECT_EQ(digestOf(mine.parent_path() / beside), cardRecordings().at(name));
    // A third import finds the card's bytes beside and copies nothing.
    auto third = importCard(options());
    ASSERT_TRUE(third);
    EXPECT_EQ(third->bytesCopied, 0u);
}

TEST_F(LibraryImport, AnInterruptedImportLeavesNoHalfFileAndARerunCompletesIt) {
    ImportOptions o = options();
    int chunks = 0;
    o.cancelled = [&chunks] { return ++chunks > 7; };
    auto cut = importCard(o);
    ASSERT_TRUE(cut) << cut.error();
    EXPECT_TRUE(cut->cancelled);
    EXPECT_EQ(cut->count(FileOutcome::Failed), 0u);  // the file being copied is not a failure
    const auto expected = cardRecordings();
    const auto landed = libraryRecordings();
    EXPECT_LT(landed.size(), expected.size());
    for (const auto& [name, digest] : landed)
        EXPECT_EQ(digest, expected.at(name)) << name << " is under its real name but not whole";

    // A process killed in the middle leaves its hidden temporary file; a power cut after the
    // rename leaves a whole file the index does not know yet.
    const fs::path day = library_.path() / "2026/2026-03-14";
    fs::create_directories(day);
    const fs::path leftover = day / ".user_20260314_081535_R.mp4.Ab12Cd.part";
    ASSERT_TRUE(orvik::test::writeFile(leftover, "half"));
    {
        auto index = LibraryIndex::open(library_.str(), LibraryIndex::Check::Quick);
        ASSERT_TRUE(index);
        // As if their rows never made it: the R*Tree (no foreign keys) loses their boxes too.
        index->database().exec("DELETE FROM recordings WHERE name LIKE 'alwa_%'");
        index->database().exec(
            "DELETE FROM position_boxes WHERE id NOT IN (SELECT id FROM "
            "positions)");
    }

    auto rerun = importCard(options());
    ASSERT_TRUE(rerun) << rerun.error();
    EXPECT_FALSE(rerun->cancelled);
    EXPECT_EQ(rerun->count(FileOutcome::Failed), 0u);
    for (const ImportedFile& f : rerun->files)
        EXPECT_EQ(f.error, "") << f.source;
    EXPECT_EQ(libraryRecordings(), expected);
    EXPECT_FALSE(fs::exists(leftover));
    auto index = LibraryIndex::open(library_.str(), LibraryIndex::Check::Thorough);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->count(), expected.size());
}

TEST_F(LibraryImport, AFullDiskOrABadCopyFailsThatFileOnlyAndLeavesNothingUnderItsName) {
    // The fourth file written finds the disk full; the sixth is written with one byte changed,
    // as a failing disk or card reader would return it. (Two files are copied at once: the
    // count is shared.)
    std::atomic<int> written = 0;
    platform::setWriteFunctionForTesting([&written](int fd, const void* data, std::size_t size) {
        const int n = ++written;
        if (n == 4) {
            errno = ENOSPC;
            return ssize_t(-1);
        }
        if (n == 6 && size > 0) {
            std::vector<std::uint8_t> copy(static_cast<const std::uint8_t*>(data),
                                           static_cast<const std::uint8_t*>(data) + size);
            copy[size / 2] ^= 0x10;
            return ::write(fd, copy.data(), size);
        }
        return ::write(fd, data, size);
    });
    auto report = importCard(options());
    platform::setWriteFunctionForTesting({});
    ASSERT_TRUE(report) << report.error();
    ASSERT_EQ(report->count(FileOutcome::Failed), 2u);
    std::vector<std::string> errors;
    for (const ImportedFile& f : report->files) {
        if (f.outcome == FileOutcome::Failed) {
            errors.push_back(f.error);
            EXPECT_FALSE(fs::exists(library_.path() / f.target)) << f.target;
        }
    }
    std::sort(errors.begin(), errors.end(), [](const std::string& a, const std::string&) {
        return a.find("No space left") != std::string::npos;
    });
    EXPECT_NE(errors[0].find("No space left"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("read back differs"), std::string::npos) << errors[1];
    const auto expected = cardRecordings();
    for (const auto& [name, digest] : libraryRecordings())
        EXPECT_EQ(digest, expected.at(name)) << name;
    // Nothing of the failed files is indexed; a rerun brings them.
    auto rerun = importCard(options());
    ASSERT_TRUE(rerun);
    EXPECT_EQ(rerun->count(FileOutcome::Imported), 2u);
    EXPECT_EQ(libraryRecordings(), expected);
}

TEST_F(LibraryImport, OnlyEventsTakesEventsUsersAndImpactsWithTheirPartners) {
    ImportOptions o = options();
    o.onlyEvents = true;
    auto report = importCard(o);
    ASSERT_TRUE(report) << report.error();
    std::set<std::string> kinds;
    for (const auto& [name, digest] : libraryRecordings())
        kinds.insert(name.substr(0, name.find('_')));
    EXPECT_TRUE(kinds.contains("event") && kinds.contains("user")) << testing::PrintToString(kinds);
    // The generated drive's first Always pair has no impact; its second one has.
    EXPECT_FALSE(libraryRecordings().contains("alwa_20260314_081500_F.mp4"));
    EXPECT_TRUE(libraryRecordings().contains("alwa_20260314_081503_R.mp4"));
    // Always recordings come only with an impact, and then with both channels.
    for (const auto& [name, digest] : libraryRecordings()) {
        if (!name.starts_with("alwa_"))
            continue;
        std::string partner = name;
        partner[partner.size() - 5] = partner[partner.size() - 5] == 'F' ? 'R' : 'F';
        EXPECT_TRUE(libraryRecordings().contains(partner)) << name;
    }
}

TEST_F(LibraryImport, RefusesWhatCannotBeImported) {
    ImportOptions o = options();
    o.card = card_->str() + "/no-such-card";
    auto missing = importCard(o);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("no card folder"), std::string::npos);
    o = options();
    o.library = card_->str();
    EXPECT_FALSE(importCard(o));
}

class LibraryIndexFile : public LibraryImport {
  protected:
    void SetUp() override {
        ImportOptions o = options();
        auto report = importCard(o);
        ASSERT_TRUE(report) << report.error();
        count_ = cardRecordings().size();
    }
    std::string indexFile() const { return library_ / std::string(kIndexFileName); }
    std::size_t count_ = 0;
};

TEST_F(LibraryIndexFile, VerifyNamesMissingChangedAndUnindexedFiles) {
    auto sound = verifyLibrary(library_.str());
    ASSERT_TRUE(sound) << sound.error();
    EXPECT_TRUE(sound->sound());
    EXPECT_EQ(sound->intact, count_);

    const fs::path gone = libraryFile("evtF_");
    const fs::path changed = libraryFile("event_");
    const fs::path day = gone.parent_path();
    fs::remove(gone);
    std::vector<std::uint8_t> bytes = orvik::test::readBytes(changed);
    bytes[100] ^= 0x80;
    ASSERT_TRUE(orvik::test::writeBytes(changed, bytes));
    fs::copy_file(libraryFile("user_"), day / "user_20260314_120000_F.mp4");
    const auto rel = [this](const fs::path& p) {
        return fs::relative(p, library_.path()).string();
    };

    auto check = verifyLibrary(library_.str());
    ASSERT_TRUE(check) << check.error();
    EXPECT_FALSE(check->sound());
    EXPECT_EQ(check->missing, std::vector<std::string>{rel(gone)});
    EXPECT_EQ(check->changed, std::vector<std::string>{rel(changed)});
    EXPECT_EQ(check->unindexed, std::vector<std::string>{rel(day / "user_20260314_120000_F.mp4")});
    EXPECT_EQ(check->intact, count_ - 2);
}

TEST_F(LibraryIndexFile, ADeletedOrDamagedIndexIsRebuiltAndKeepsWhatOnlyItKnew) {
    {
        auto index = LibraryIndex::open(library_.str(), LibraryIndex::Check::Quick);
        ASSERT_TRUE(index);
        index->database().exec("UPDATE recordings SET card_label = 'MYCARD'");
    }
    // Damage beyond the header: every page after the first overwritten.
    std::vector<std::uint8_t> bytes = orvik::test::readBytes(indexFile());
    ASSERT_GT(bytes.size(), 8192u);
    std::fill(bytes.begin() + 4096, bytes.end(), 0x5a);
    ASSERT_TRUE(orvik::test::writeBytes(indexFile(), bytes));
    OpenReport report;
    auto damaged = LibraryIndex::open(library_.str(), LibraryIndex::Check::Thorough, &report);
    ASSERT_TRUE(damaged) << damaged.error();
    EXPECT_TRUE(report.rebuilt);
    EXPECT_TRUE(fs::exists(report.keptAside));
    EXPECT_EQ(damaged->count(), count_);
    EXPECT_EQ(damaged->database().queryInteger("PRAGMA user_version"), kSchemaVersion);

    // A label kept by a readable old index survives a reindex.
    damaged->database().exec("UPDATE recordings SET card_label = 'MYCARD'");
    damaged = LibraryIndex::open(library_.str(), LibraryIndex::Check::Quick);  // closes the old
    auto reindexed = reindexLibrary(library_.str());
    ASSERT_TRUE(reindexed) << reindexed.error();
    EXPECT_EQ(reindexed->recordings, count_);
    auto index = LibraryIndex::open(library_.str(), LibraryIndex::Check::Thorough);
    ASSERT_TRUE(index);
    for (const IndexedRecording& r : index->all())
        EXPECT_EQ(r.cardLabel, "MYCARD") << r.path;

    index = LibraryIndex::open(library_.str(), LibraryIndex::Check::Quick);
    fs::remove(indexFile());
    OpenReport fresh;
    auto rebuilt = LibraryIndex::open(library_.str(), LibraryIndex::Check::Quick, &fresh);
    ASSERT_TRUE(rebuilt) << rebuilt.error();
    EXPECT_TRUE(fresh.created);
    EXPECT_EQ(rebuilt->count(), count_);
}

TEST_F(LibraryIndexFile, AnOlderSchemaIsMigratedAndANewerOneRefused) {
    // A database from before the first schema: no tables, user_version 0.
    fs::remove(indexFile());
    {
        sql::Database empty(indexFile());
        empty.exec("CREATE TABLE unrelated(x)");
    }
    auto migrated = LibraryIndex::open(library_.str(), LibraryIndex::Check::Thorough);
    ASSERT_TRUE(migrated) << migrated.error();
    EXPECT_EQ(migrated->database().queryInteger("PRAGMA user_version"), kSchemaVersion);

    migrated->database().exec("PRAGMA user_version = 99");
    auto newer = LibraryIndex::open(library_.str(), LibraryIndex::Check::Quick);
    ASSERT_FALSE(newer);
    EXPECT_NE(newer.error().find("newer version"), std::string::npos) << newer.error();
    EXPECT_TRUE(fs::exists(indexFile()));  // refused, not thrown away
}

TEST(Sqlite, ATransactionLeftByAnExceptionIsRolledBack) {
    TempDir dir;
    sql::Database db(dir / "t.sqlite");
    db.exec("CREATE TABLE t(x INTEGER NOT NULL)");
    try {
        sql::Transaction t(db);
        db.prepare("INSERT INTO t VALUES(?)").bindAll(1).run();
        db.prepare("INSERT INTO t VALUES(NULL)").run();  // throws
        t.commit();
        FAIL() << "the NOT NULL constraint was not enforced";
    } catch (const sql::SqlError& e) {
        EXPECT_FALSE(e.damaged());
    }
    EXPECT_EQ(db.queryInteger("SELECT count(*) FROM t"), 0);
    ASSERT_TRUE(orvik::test::writeFile(dir.path() / "junk.sqlite", std::string(4096, 'x')));
    sql::Database junk(dir / "junk.sqlite");
    try {
        junk.queryInteger("SELECT count(*) FROM sqlite_schema");
        FAIL() << "junk read as a database";
    } catch (const sql::SqlError& e) {
        EXPECT_TRUE(e.damaged()) << e.what();
    }
}

}  // namespace
}  // namespace orvik::library
