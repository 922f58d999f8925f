// The card-format workflow: which card, the configuration copy and its restore, the label, the
// outcome the dialog shows; and orvik-cli format as a subprocess.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "card_format/card_format.h"
#include "fake_system.h"
#include "test_support.h"

namespace orvik::card_format {
namespace {
using namespace testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint64_t GiB = 1ull << 30;

std::string sampleConfig() {
    std::string c(624, '\0');
    c[0] = 0x08;
    c[1] = 0x15;
    for (std::size_t i = 4; i < c.size(); ++i)
        c[i] = static_cast<char>(i % 251);
    return c;
}

std::string mtoolsRead(const std::string& img, const std::string& name, const TempDir& dir) {
    const std::string back = (dir / "read-back.bin");
    std::filesystem::remove(back);
    RunResult r = run("MTOOLS_SKIP_CHECK=1 mcopy -n -i " + quote(img) + " " + quote("::/" + name) +
                      " " + quote(back));
    return r.status == 0 ? readFile(back) : "<mcopy failed: " + r.out + ">";
}

struct WorkflowRun {
    std::ostringstream out, err;
    std::vector<CardFormatStep> steps;
    CardFormatRequest request;
    WorkflowRun(const TempDir& dir) {
        request.format.out = &out;
        request.format.err = &err;
        request.format.volumeId = 0x0A0B0C0D;
        request.tempDir = (dir / "tmp");
        std::filesystem::create_directories(request.tempDir);
        request.onStep = [this](CardFormatStep s) { steps.push_back(s); };
    }
};

class Workflow : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"fsck.fat", "mcopy", "mdir"})
            if (!haveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
    }
};

TEST_F(Workflow, ImageGetsLabelAndItsConfigurationBack) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    const std::string config = (dir / "config_K7x7.bin");
    std::ofstream(config, std::ios::binary) << sampleConfig();
    CardTarget t;
    t.sourcePath = config;
    t.sourceIsConfigFile = true;
    t.device = img;
    WorkflowRun r(dir);
    CardFormatOutcome o = runCardFormat(t, r.request);
    ASSERT_TRUE(o.succeeded()) << o.reason << r.err.str();
    EXPECT_EQ(o.textId, kTextFormatComplete);
    EXPECT_EQ(o.detailTextId, 0);
    EXPECT_THAT(r.steps, ElementsAre(CardFormatStep::SaveConfig, CardFormatStep::Unmount,
                                     CardFormatStep::Format, CardFormatStep::Label,
                                     CardFormatStep::RestoreConfig, CardFormatStep::Done));
    // The copy was taken into a folder of this run's own, and removed once the card was read
    // back holding the same bytes.
    EXPECT_EQ(std::filesystem::path(o.savedConfigPath).filename(), "config_K7x7.bin");
    EXPECT_EQ(std::filesystem::path(o.savedConfigPath).parent_path().parent_path(), dir / "tmp");
    EXPECT_TRUE(o.labelled) << o.labelError;
    ASSERT_TRUE(o.configRestored) << o.restoreError;
    EXPECT_TRUE(o.complete());
    EXPECT_FALSE(o.copyKept);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "the verified copy is removed";
    EXPECT_EQ(mtoolsRead(img, "config_K7x7.bin", dir), sampleConfig());
    RunResult ls = run("MTOOLS_SKIP_CHECK=1 mdir -i " + quote(img) + " ::");
    EXPECT_THAT(ls.out, HasSubstr("config_K7x7.bin"));
    EXPECT_THAT(ls.out, HasSubstr("Volume in drive : is ORVIK"));
    RunResult fsck = run("fsck.fat -n " + quote(img));
    EXPECT_EQ(fsck.status, 0) << fsck.out;
    EXPECT_THAT(fsck.out, HasSubstr("2 files"));  // the label entry and the file
}

TEST_F(Workflow, MountedCardIsRemountedAndTheFileWrittenThere) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    std::filesystem::create_directories((dir / "card"));
    std::filesystem::create_directories((dir / "card-again"));
    std::ofstream((dir / "card/config_K7x7.bin"), std::ios::binary) << sampleConfig();
    CardTarget t;
    t.sourcePath = (dir / "card");  // chosen as the drive, not the file
    t.mountPoint = (dir / "card");
    t.device = img;
    WorkflowRun r(dir);
    std::string remounted;
    r.request.remounter = [&](const std::string& device) -> Result<std::string> {
        remounted = device;
        return (dir / "card-again");
    };
    CardFormatOutcome o = runCardFormat(t, r.request);
    ASSERT_TRUE(o.succeeded()) << o.reason;
    EXPECT_EQ(remounted, img);
    EXPECT_EQ(o.mountPoint, (dir / "card-again"));
    ASSERT_TRUE(o.configRestored) << o.restoreError;
    EXPECT_EQ(o.restoredConfigPath, (dir / "card-again/config_K7x7.bin"));
    EXPECT_EQ(readFile(o.restoredConfigPath), sampleConfig());
    // Nothing but the file itself is left in the card's root.
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator((dir / "card-again")))
        ++entries;
    EXPECT_EQ(entries, 1);
    EXPECT_THAT(r.steps, ::testing::Contains(CardFormatStep::Remount));
}

TEST_F(Workflow, AnEarlierCopyIsNeverRestoredOnAnotherCard) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    WorkflowRun r(dir);
    std::ofstream((dir / "tmp/config_K7x7.bin")) << "left from another card";
    CardTarget t;
    t.sourcePath = img;
    t.device = img;
    CardFormatOutcome o = runCardFormat(t, r.request);
    ASSERT_TRUE(o.succeeded()) << o.reason;
    EXPECT_EQ(o.savedConfigPath, "");
    EXPECT_FALSE(o.configRestored);
    EXPECT_EQ(readFile((dir / "tmp/config_K7x7.bin")), "left from another card");
    EXPECT_THAT(mtoolsRead(img, "config_K7x7.bin", dir), HasSubstr("mcopy failed"));
}

TEST_F(Workflow, FormatFailureGivesTheDialogItsPieces) {
    TempDir dir;
    const std::string img = (dir / "card4gb.img");
    ASSERT_TRUE(makeSparseImage(img, 4000000000ull));
    const std::string config = (dir / "config_K7x7.bin");
    std::ofstream(config, std::ios::binary) << sampleConfig();
    CardTarget t;
    t.sourcePath = config;
    t.sourceIsConfigFile = true;
    t.device = img;
    WorkflowRun r(dir);
    CardFormatOutcome o = runCardFormat(t, r.request);
    EXPECT_FALSE(o.succeeded());
    EXPECT_EQ(o.code, kFormatTooFewClusters);
    EXPECT_EQ(o.failedStep, CardFormatStep::Format);
    EXPECT_EQ(o.textId, kTextFormatFailed);
    EXPECT_EQ(o.detailTextId, kTextQuitPrograms);
    EXPECT_THAT(r.err.str(), HasSubstr("FAT32 must have at least 65536 clusters"));
    EXPECT_EQ(failureText("Cannot format this drive.", o.code, "Quit any disk utilities"),
              "Cannot format this drive. (" + std::to_string(kFormatTooFewClusters) +
                  ")\r\n\r\nQuit any disk utilities");
    // The copy was taken; the card was not touched.
    EXPECT_EQ(readFile(o.savedConfigPath), sampleConfig());
    EXPECT_FALSE(o.configRestored);
    EXPECT_EQ(allocatedBytes(img), 0u);
}

TEST_F(Workflow, TheSettingsCopyStaysUntilTheRestoreIsVerified) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    std::filesystem::create_directories((dir / "card"));
    std::ofstream((dir / "card/config_K7x7.bin"), std::ios::binary) << sampleConfig();
    CardTarget t;
    t.sourcePath = (dir / "card");
    t.mountPoint = (dir / "card");
    t.device = img;
    WorkflowRun r(dir);
    // The card comes back somewhere the file cannot be written.
    r.request.remounter = [&](const std::string&) -> Result<std::string> { return (dir / "gone"); };
    CardFormatOutcome first = runCardFormat(t, r.request);
    ASSERT_TRUE(first.succeeded()) << first.reason;
    EXPECT_FALSE(first.configRestored);
    EXPECT_FALSE(first.restoreError.empty());
    EXPECT_FALSE(first.complete()) << "formatted without its settings is no plain success";
    ASSERT_TRUE(first.copyKept);
    EXPECT_EQ(readFile(first.savedConfigPath), sampleConfig());

    // The next format keeps its own copy and never overwrites the one the first run kept.
    std::ofstream((dir / "card/config_K7x7.bin"), std::ios::binary) << "another card";
    CardFormatOutcome second = runCardFormat(t, r.request);
    ASSERT_TRUE(second.copyKept);
    EXPECT_NE(second.savedConfigPath, first.savedConfigPath);
    EXPECT_EQ(readFile(second.savedConfigPath), "another card");
    EXPECT_EQ(readFile(first.savedConfigPath), sampleConfig());
}

TEST_F(Workflow, AFailedLabelIsNoPlainSuccess) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    CardTarget t;
    t.sourcePath = img;
    t.device = img;
    WorkflowRun r(dir);
    r.request.labeller = [](const std::string&, std::string_view) -> Result<void> {
        return makeError("the label could not be written");
    };
    CardFormatOutcome o = runCardFormat(t, r.request);
    ASSERT_TRUE(o.succeeded()) << o.reason;
    EXPECT_FALSE(o.labelled);
    EXPECT_EQ(o.labelError, "the label could not be written");
    EXPECT_FALSE(o.complete());
}

// The copy used to go to a fixed name in the shared temporary folder: a link planted there by
// another user was written through, and a file put there first stopped the format.
TEST_F(Workflow, APlantedLinkAtTheSharedCopyNameIsLeftAlone) {
    TempDir dir, victim;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    const std::string config = (dir / "config_K7x7.bin");
    std::ofstream(config, std::ios::binary) << sampleConfig();
    std::filesystem::create_directories(dir / "tmp");
    const std::filesystem::path target = victim.touch(".profile", "keep me\n");
    std::filesystem::create_symlink(target, dir / "tmp/config_K7x7.bin");

    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp ? oldTmp : "";
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    CardTarget t;
    t.sourcePath = config;
    t.sourceIsConfigFile = true;
    t.device = img;
    WorkflowRun r(dir);
    r.request.tempDir.clear();  // the user's private folder, as the viewer and the CLI use
    CardFormatOutcome o = runCardFormat(t, r.request);
    if (oldRuntime)
        ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    if (oldTmp)
        ::setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");

    ASSERT_TRUE(o.succeeded()) << o.reason;
    ASSERT_TRUE(o.configRestored) << o.restoreError;
    EXPECT_EQ(mtoolsRead(img, "config_K7x7.bin", dir), sampleConfig());
    EXPECT_NE(o.savedConfigPath, (dir / "tmp/config_K7x7.bin"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "tmp/config_K7x7.bin"));
    EXPECT_EQ(readFile(target.string()), "keep me\n");
}

TEST(WorkflowTarget, UnmountFailureStopsBeforeTheFormat) {
    FakeSystem sys;
    sys.addDisk("sdb", 60, 16, true);
    sys.addPartition("sdb", "sdb1", 1, 60, 17, 8192, 62513152);
    if (!sys.nodesWork())
        GTEST_SKIP() << "cannot make safe fake device nodes here";
    std::filesystem::create_directories(sys.root() + "/card");
    sys.mount(60, 17, sys.root() + "/card", "/dev/sdb1");
    TempDir dir;
    WorkflowRun r(dir);
    r.request.format.view = sys.view();
    std::vector<std::string> asked;
    r.request.unmounter = [&](const platform::TargetMount& m) -> Result<void> {
        asked.push_back(m.mountPoint);
        return makeError("target is busy");
    };
    auto t = resolveCardTarget(sys.node("sdb1"), sys.view());
    ASSERT_TRUE(t.ok()) << t.error();
    EXPECT_EQ(t->mountPoint, sys.root() + "/card");
    CardFormatOutcome o = runCardFormat(*t, r.request);
    EXPECT_EQ(o.code, EBUSY);
    EXPECT_EQ(o.failedStep, CardFormatStep::Unmount);
    EXPECT_EQ(o.textId, kTextFormatFailed);
    EXPECT_EQ(o.detailTextId, kTextQuitPrograms);
    EXPECT_THAT(o.reason, HasSubstr("target is busy"));
    EXPECT_THAT(asked, ElementsAre(sys.root() + "/card"));
    EXPECT_THAT(r.steps, ::testing::Not(::testing::Contains(CardFormatStep::Format)));
}

TEST(WorkflowTarget, AFailedFormatMountsTheCardAgain) {
    FakeSystem sys;
    sys.addDisk("sdb", 60, 16, true);
    sys.addPartition("sdb", "sdb1", 1, 60, 17, 8192, 62513152);
    if (!sys.nodesWork())
        GTEST_SKIP() << "cannot make safe fake device nodes here";
    sys.mount(60, 17, sys.root() + "/card", "/dev/sdb1");
    TempDir dir;
    WorkflowRun r(dir);
    r.request.format.view = sys.view();
    r.request.unmounter = [](const platform::TargetMount&) -> Result<void> { return {}; };
    std::string remounted;
    r.request.remounter = [&](const std::string& device) -> Result<std::string> {
        remounted = device;
        return sys.root() + "/card";
    };
    // The mount table still lists the card, so the formatter refuses it: nothing is written,
    // and the card is given back.
    auto t = resolveCardTarget(sys.node("sdb1"), sys.view());
    ASSERT_TRUE(t.ok()) << t.error();
    CardFormatOutcome o = runCardFormat(*t, r.request);
    EXPECT_EQ(o.code, kFormatRefused);
    EXPECT_EQ(remounted, sys.node("sdb1"));
    EXPECT_EQ(o.mountPoint, sys.root() + "/card");
}

TEST(WorkflowTarget, FromTheRememberedFileOrTheChosenDrive) {
    FakeSystem sys;
    sys.addDisk("sdb", 60, 16, true);
    sys.addPartition("sdb", "sdb1", 1, 60, 17, 8192, 15523840);  // 7 948 206 080 bytes
    sys.addDisk("sda", 60, 0, false);
    if (!sys.nodesWork())
        GTEST_SKIP() << "cannot make safe fake device nodes here";
    const std::string card = sys.root() + "/card", home = sys.root() + "/docs";
    std::filesystem::create_directories(card + "/DCIM");
    std::filesystem::create_directories(home);
    std::ofstream(card + "/config_K7x7.bin") << sampleConfig();
    sys.mount(60, 17, card, "/dev/sdb1");
    sys.mount(60, 0, home, "/dev/sda");

    auto fromFile = resolveCardTarget(card + "/config_K7x7.bin", sys.view());
    ASSERT_TRUE(fromFile.ok()) << fromFile.error();
    EXPECT_EQ(fromFile->device, sys.node("sdb1"));
    EXPECT_EQ(fromFile->mountPoint, card);
    EXPECT_TRUE(fromFile->sourceIsConfigFile);
    EXPECT_EQ(fromFile->totalBytes, 7948206080ull);
    EXPECT_EQ(allocationUnitText(fromFile->totalBytes), "64K");

    auto chosen = chooseDrive(card, sys.view());
    ASSERT_TRUE(chosen.ok()) << chosen.error();
    EXPECT_FALSE(chosen->sourceIsConfigFile);
    // A folder on the card, or a drive that is not removable, is refused.
    auto inside = chooseDrive(card + "/DCIM", sys.view());
    ASSERT_FALSE(inside.ok());
    EXPECT_THAT(inside.error(), HasSubstr("is a folder on a drive, not the card itself"));
    auto fixed = chooseDrive(home, sys.view());
    ASSERT_FALSE(fixed.ok());
    EXPECT_THAT(fixed.error(), HasSubstr("not a removable device"));
}

TEST_F(Workflow, ImageTargetShowsItsFileSystem) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    auto fresh = resolveCardTarget(img);
    ASSERT_TRUE(fresh.ok()) << fresh.error();
    EXPECT_EQ(fresh->fileSystem, "");
    EXPECT_FALSE(fileSystemPreselected(*fresh));
    WorkflowRun r(dir);
    ASSERT_TRUE(runCardFormat(*fresh, r.request).succeeded());
    auto again = resolveCardTarget(img);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->fileSystem, "FAT32");
    EXPECT_TRUE(fileSystemPreselected(*again));
    EXPECT_EQ(again->label, "ORVIK");
    EXPECT_EQ(again->totalBytes, 8 * GiB);
}

TEST_F(Workflow, RootFileWriterHandlesLongAndShortNames) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    WorkflowRun r(dir);
    CardTarget t;
    t.device = img;
    ASSERT_TRUE(runCardFormat(t, r.request).succeeded());
    std::string big(200 * 1024 + 17, '\0');  // four clusters of 64 KiB
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 / 7);
    ASSERT_TRUE(writeRootFileOnFat32(img, "TIMESET.CFG", "2026-12-08 00:00:00\n"));
    ASSERT_TRUE(writeRootFileOnFat32(img, "a rather long recording name.mp4", big));
    ASSERT_TRUE(writeRootFileOnFat32(img, "empty.txt", ""));
    EXPECT_EQ(mtoolsRead(img, "TIMESET.CFG", dir), "2026-12-08 00:00:00\n");
    EXPECT_EQ(mtoolsRead(img, "a rather long recording name.mp4", dir), big);
    EXPECT_EQ(mtoolsRead(img, "empty.txt", dir), "");
    // The same short name twice would shadow a file.
    auto again = writeRootFileOnFat32(img, "TIMESET.CFG", "x");
    ASSERT_FALSE(again.ok());
    EXPECT_THAT(again.error(), HasSubstr("already exists"));
    EXPECT_FALSE(writeRootFileOnFat32(img, "a/b", "x").ok());
    RunResult fsck = run("fsck.fat -n -v " + quote(img));
    EXPECT_EQ(fsck.status, 0) << fsck.out;
    EXPECT_THAT(fsck.out, ::testing::Not(HasSubstr("Free cluster summary wrong")));
    // Not a FAT32 volume: refused, nothing written.
    const std::string blank = (dir / "blank.img");
    ASSERT_TRUE(makeSparseImage(blank, 64 << 20));
    EXPECT_FALSE(writeRootFileOnFat32(blank, "x.bin", "x").ok());
    EXPECT_EQ(allocatedBytes(blank), 0u);
}

std::string cli() {
    return std::string(ORVIK_BINARY_DIR) + "/src/cli/orvik-cli";
}

// ---- the configuration file of an unmounted card ----

std::string mtoolsWrite(const std::string& img, const std::string& name, const std::string& data,
                        const TempDir& dir) {
    const std::string src = (dir / "to-card.bin");
    std::ofstream(src, std::ios::binary | std::ios::trunc) << data;
    return run("MTOOLS_SKIP_CHECK=1 mcopy -o -i " + quote(img) + " " + quote(src) + " " +
               quote("::/" + name))
        .out;
}

// A formatted card image holding what a camera leaves in its root.
std::string cameraCard(const TempDir& dir, std::uint32_t sectorSize = 512) {
    const std::string img = dir / (sectorSize == 512 ? "card.img" : "card4k.img");
    // 512 KiB clusters need at least 32 GiB for FAT32's 65536 clusters.
    if (!makeSparseImage(img, (sectorSize == 512 ? 8 : 64) * GiB))
        return {};
    WorkflowRun r(dir);
    r.request.format.imageSectorSize = sectorSize;
    CardTarget t;
    t.device = img;
    if (!runCardFormat(t, r.request).succeeded())
        return {};
    mtoolsWrite(img, "TIMESET.CFG", "2026/12/08 06:00:00", dir);
    mtoolsWrite(img, "config_K7x7.bin", sampleConfig(), dir);
    return img;
}

// The byte offset of the short directory entry `shortName` (11 bytes) in the root cluster.
std::uint64_t rootEntryOffset(const std::string& img, const std::string& shortName) {
    const std::string boot = readBytes(img, 0, 512);
    const std::uint32_t bps = le16(boot, 11), spc = static_cast<unsigned char>(boot[13]);
    const std::uint64_t root = (std::uint64_t{le16(boot, 14)} + 2ull * le32(boot, 36)) * bps;
    const std::string dir = readBytes(img, root, std::size_t{bps} * spc);
    const auto at = dir.find(shortName);
    return at == std::string::npos || at % 32 != 0 ? 0 : root + at;
}

TEST_F(Workflow, RootFileReaderFindsLongAndShortNames) {
    TempDir dir;
    const std::string img = cameraCard(dir);
    ASSERT_FALSE(img.empty());
    std::string big(150 * 1024 + 3, '\0');  // three clusters
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 / 3);
    mtoolsWrite(img, "big.bin", big, dir);

    auto config = readRootFileOnFat32(img, "config_K7x7.bin", 1 << 20);
    ASSERT_TRUE(config.ok()) << config.error();
    EXPECT_EQ(config->status, RootFileRead::Status::Found);
    EXPECT_EQ(config->data, sampleConfig());
    // FAT names are compared without regard to case, long or 8.3.
    auto upper = readRootFileOnFat32(img, "CONFIG_K7X7.BIN", 1 << 20);
    ASSERT_TRUE(upper.ok());
    EXPECT_EQ(upper->data, sampleConfig());
    auto shortName = readRootFileOnFat32(img, "timeset.cfg", 1 << 20);
    ASSERT_TRUE(shortName.ok());
    EXPECT_EQ(shortName->data, "2026/12/08 06:00:00");
    auto chained = readRootFileOnFat32(img, "big.bin", 1 << 20);
    ASSERT_TRUE(chained.ok());
    EXPECT_EQ(chained->data, big);

    auto tooBig = readRootFileOnFat32(img, "big.bin", 100000);
    ASSERT_FALSE(tooBig.ok());
    EXPECT_THAT(tooBig.error(), HasSubstr("more than the 100000 expected"));
    run("MTOOLS_SKIP_CHECK=1 mdel -i " + quote(img) + " ::/big.bin");
    auto deleted = readRootFileOnFat32(img, "big.bin", 1 << 20);
    ASSERT_TRUE(deleted.ok());
    EXPECT_EQ(deleted->status, RootFileRead::Status::Absent);

    const std::string blank = (dir / "blank.img");
    ASSERT_TRUE(makeSparseImage(blank, 64 << 20));
    auto none = readRootFileOnFat32(blank, "config_K7x7.bin", 1 << 20);
    ASSERT_TRUE(none.ok());
    EXPECT_EQ(none->status, RootFileRead::Status::NotFat32);
}

TEST_F(Workflow, CliKeepsTheConfigurationOfAnUnmountedImage) {
    for (std::uint32_t sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        TempDir dir;
        const std::string img = cameraCard(dir, sectorSize);
        ASSERT_FALSE(img.empty());
        std::filesystem::create_directories((dir / "tmp"));
        RunResult r = run("env -u XDG_RUNTIME_DIR TMPDIR=" + quote((dir / "tmp")) + " " +
                          quote(cli()) + " format --yes --no-remount --sector-size " +
                          std::to_string(sectorSize) + " " + quote(img));
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string kib = sectorSize == 512 ? "64K" : "512K";
        EXPECT_THAT(r.out, HasSubstr("allocation unit " + kib + "\n"));
        EXPECT_THAT(r.out,
                    HasSubstr("Cluster size " + std::to_string(sectorSize * 128) + " bytes\n"));
        EXPECT_THAT(r.out, HasSubstr("Configuration file restored to " + img +
                                     "::/config_K7x7.bin (read back and compared)\n"));
        EXPECT_THAT(r.out, HasSubstr("Format complete.\n"));
        // The copy and the private folder it was kept in are gone once the restore is checked.
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
        EXPECT_EQ(mtoolsRead(img, "config_K7x7.bin", dir), sampleConfig());
        EXPECT_THAT(mtoolsRead(img, "TIMESET.CFG", dir), HasSubstr("mcopy failed"));
        auto back = readRootFileOnFat32(img, "config_K7x7.bin", 1 << 20, sectorSize);
        ASSERT_TRUE(back.ok()) << back.error();
        EXPECT_EQ(back->data, sampleConfig());
        EXPECT_EQ(readRootFileOnFat32(img, "TIMESET.CFG", 1 << 20, sectorSize)->status,
                  RootFileRead::Status::Absent);
        RunResult fsck = run("fsck.fat -n " + quote(img));
        EXPECT_EQ(fsck.status, 0) << fsck.out;
    }
}

TEST_F(Workflow, AnUnreadableConfigurationStopsTheFormatUnlessDiscarded) {
    TempDir dir;
    const std::string img = cameraCard(dir);
    ASSERT_FALSE(img.empty());
    // Point the file's entry at a cluster beyond the volume.
    const std::uint64_t entry = rootEntryOffset(img, "CONFIG~1BIN");
    ASSERT_NE(entry, 0u);
    writeBytes(img, entry + 20, std::string("\xFF\xFF", 2));
    writeBytes(img, entry + 26, std::string("\xFF\xFF", 2));
    const std::string before = readBytes(img, 0, 8 << 20);

    WorkflowRun r(dir);
    CardTarget t;
    t.sourcePath = img;
    t.device = img;
    CardFormatOutcome o = runCardFormat(t, r.request);
    EXPECT_EQ(o.code, kFormatSettingsUnreadable);
    EXPECT_EQ(o.failedStep, CardFormatStep::SaveConfig);
    EXPECT_THAT(o.reason, HasSubstr("the cluster chain of config_K7x7.bin is damaged"));
    EXPECT_THAT(r.steps, ElementsAre(CardFormatStep::SaveConfig));
    EXPECT_EQ(readBytes(img, 0, 8 << 20), before);

    RunResult refused = run(quote(cli()) + " format --yes --no-remount " + quote(img));
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr("orvik-cli: Not formatted: the camera settings "
                                       "(config_K7x7.bin) cannot be kept: "));
    EXPECT_THAT(refused.out, HasSubstr("--discard-settings"));
    EXPECT_EQ(readBytes(img, 0, 8 << 20), before);

    RunResult agreed =
        run(quote(cli()) + " format --yes --no-remount --discard-settings " + quote(img));
    EXPECT_EQ(agreed.status, 0) << agreed.out;
    EXPECT_THAT(agreed.out, HasSubstr("Configuration file lost (the cluster chain"));
    EXPECT_EQ(run("fsck.fat -n " + quote(img)).status, 0);
}

TEST_F(Workflow, AnotherFileSystemUnmountedCannotBeSearched) {
    if (!haveTool("mkfs.fat"))
        GTEST_SKIP() << "mkfs.fat is not installed";
    TempDir dir;
    const std::string img = (dir / "fat16.img");
    ASSERT_TRUE(makeSparseImage(img, 1 * GiB));
    ASSERT_EQ(run("mkfs.fat -F 16 " + quote(img)).status, 0);
    WorkflowRun r(dir);
    CardTarget t;
    t.device = img;
    CardFormatOutcome o = runCardFormat(t, r.request);
    EXPECT_EQ(o.code, kFormatSettingsUnreadable);
    EXPECT_THAT(o.reason, HasSubstr("FAT16 file system can only be searched"));
    // Agreed: the run goes on to the formatter (which finds 1 GiB too small for 64 KiB clusters).
    r.request.discardUnreadableSettings = true;
    o = runCardFormat(t, r.request);
    EXPECT_EQ(o.failedStep, CardFormatStep::Format);
    EXPECT_THAT(o.settingsProblem, HasSubstr("FAT16"));
}

TEST_F(Workflow, MountedCardKeepsAnyFileOfThatNameAndRefusesAnUnreadableOne) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    std::filesystem::create_directories((dir / "card"));
    std::filesystem::create_directories((dir / "again"));
    const std::string odd = sampleConfig().substr(0, 600);  // not the size the editor reads
    std::ofstream((dir / "card/config_K7x7.bin"), std::ios::binary) << odd;
    CardTarget t;
    t.sourcePath = (dir / "card");
    t.mountPoint = (dir / "card");
    t.device = img;
    WorkflowRun r(dir);
    r.request.remounter = [&](const std::string&) -> Result<std::string> {
        return (dir / "again");
    };
    CardFormatOutcome o = runCardFormat(t, r.request);
    ASSERT_TRUE(o.succeeded()) << o.reason;
    ASSERT_TRUE(o.configRestored) << o.restoreError;
    EXPECT_EQ(readFile((dir / "again/config_K7x7.bin")), odd);

    // A name that cannot be read as a file (here a folder) stops the run.
    std::filesystem::remove((dir / "card/config_K7x7.bin"));
    std::filesystem::create_directories((dir / "card/config_K7x7.bin"));
    const auto allocated = allocatedBytes(img);
    o = runCardFormat(t, r.request);
    EXPECT_EQ(o.code, kFormatSettingsUnreadable);
    EXPECT_EQ(allocatedBytes(img), allocated);
}

// ---- orvik-cli format ----

TEST_F(Workflow, CliAsksAndFormats) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    // "n" (or end of input) leaves the card alone.
    RunResult no = run("echo n | " + quote(cli()) + " format " + quote(img));
    EXPECT_EQ(no.status, 1) << no.out;
    EXPECT_THAT(no.out, HasSubstr("will be lost irretrievably, are you sure\n(y/n) :"));
    EXPECT_THAT(no.out, HasSubstr("Not formatted."));
    EXPECT_EQ(allocatedBytes(img), 0u);
    EXPECT_EQ(run(quote(cli()) + " format " + quote(img) + " </dev/null").status, 1);
    EXPECT_EQ(allocatedBytes(img), 0u);

    RunResult yes = run("echo y | " + quote(cli()) + " format " + quote(img) +
                        " --volume-id 1234abcd --no-remount");
    EXPECT_EQ(yes.status, 0) << yes.out;
    EXPECT_THAT(yes.out, HasSubstr("Card: " + img + ", 8589934592 bytes, allocation unit 64K\n"));
    EXPECT_THAT(yes.out, HasSubstr("Size : 8GB 16777216 sectors\n"));
    EXPECT_THAT(yes.out, HasSubstr("Volume ID is 1234:abcd\n"));
    EXPECT_THAT(yes.out, HasSubstr("Done\nLabel : ORVIK\nNo configuration file on the card\n"
                                   "Format complete.\n"));
    EXPECT_EQ(run("fsck.fat -n " + quote(img)).status, 0);

    RunResult again = run(quote(cli()) + " format --yes " + quote(img));
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_THAT(again.out, HasSubstr(", now FAT32, "));
}

TEST_F(Workflow, CliRefusesAndReportsFailures) {
    TempDir dir;
    RunResult null = run(quote(cli()) + " format --yes /dev/null");
    EXPECT_EQ(null.status, 1);
    EXPECT_THAT(null.out, HasSubstr("orvik-cli: cannot format: '/dev/null' is neither a block "
                                    "device nor a card image file"));
    RunResult folder = run(quote(cli()) + " format --yes " + quote(dir.str()));
    EXPECT_EQ(folder.status, 1);
    EXPECT_THAT(folder.out, HasSubstr("orvik-cli: cannot format: "));
    const std::string small = (dir / "small.img");
    ASSERT_TRUE(makeSparseImage(small, 4000000000ull));
    RunResult tooFew = run(quote(cli()) + " format --yes " + quote(small));
    EXPECT_EQ(tooFew.status, 1);
    EXPECT_THAT(tooFew.out, HasSubstr("FAT32 must have at least 65536 clusters"));
    EXPECT_THAT(tooFew.out,
                HasSubstr("orvik-cli: Cannot format this drive. (8198): formatting failed"));
    EXPECT_EQ(run(quote(cli()) + " format").status, 2);
    EXPECT_EQ(run(quote(cli()) + " format --yes --volume-id xyz " + quote(small)).status, 2);
    EXPECT_EQ(allocatedBytes(small), 0u);
}

}  // namespace
}  // namespace orvik::card_format
