#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "samplecard/sample_card.h"
#include "test_support.h"

namespace orvik::tools {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::readSlots;
using test::TempDir;

SampleCardOptions tinyCard() {
    SampleCardOptions o;
    o.width = 160;
    o.height = 96;
    o.fps = 10;
    o.durationSeconds = 2.0;
    o.alwaysPairs = 2;
    return o;
}

// One card with every optional recording, written once for the suite.
class SampleCard : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        SampleCardOptions o = tinyCard();
        o.videoOnlyRecording = o.corruptSlotsRecording = o.truncatedRecording = true;
        o.progress = [](const std::string&, int i, int total) {
            progressCalls_++;
            lastTotal_ = total;
            lastIndex_ = i;
        };
        auto r = writeSampleCard(dir_->path().string(), o);
        ASSERT_TRUE(r.ok()) << r.error();
        card_ = std::make_unique<SampleCardSummary>(std::move(r.value()));
    }
    static void TearDownTestSuite() {
        card_.reset();
        dir_.reset();
    }
    static bool hasFile(const std::string& rel) {
        return std::count(card_->files.begin(), card_->files.end(), rel) == 1 &&
               fs::is_regular_file(dir_->path() / rel);
    }

    static std::unique_ptr<TempDir> dir_;
    static std::unique_ptr<SampleCardSummary> card_;
    static int progressCalls_, lastTotal_, lastIndex_;
};
std::unique_ptr<TempDir> SampleCard::dir_;
std::unique_ptr<SampleCardSummary> SampleCard::card_;
int SampleCard::progressCalls_ = 0;
int SampleCard::lastTotal_ = 0;
int SampleCard::lastIndex_ = 0;

TEST_F(SampleCard, HoldsEveryKindWithFrontAndRearPartners) {
    std::set<std::string> prefixes;
    for (const auto& f : card_->files) {
        const auto name = fs::path(f).filename().string();
        for (const char* p :
             {"alwa_", "event_", "evtA_", "evtF_", "evtLL_", "evtLR_", "user_", "motion_"})
            if (name.starts_with(p) && name.size() == std::strlen(p) + 21)
                prefixes.insert(p);
    }
    EXPECT_EQ(8u, prefixes.size());
    EXPECT_TRUE(hasFile("Always/alwa_20260314_081500_F.mp4"));
    EXPECT_TRUE(hasFile("Always/alwa_20260314_081500_R.mp4"));
    EXPECT_TRUE(hasFile("Always/alwa_20260314_081502_F.mp4"));
    // Partners carry the same telemetry; the rear picture is half the size.
    for (const auto& r : card_->recordings) {
        if (!r.relativePath.ends_with("_R.mp4"))
            continue;
        std::string front = r.relativePath;
        front[front.size() - 5] = 'F';
        const RecordingSummary* f = card_->find(front);
        if (r.relativePath.find("evtLR_") != std::string::npos) {
            EXPECT_EQ(nullptr, f) << "evtLR_ stands alone as a rear recording";
            continue;
        }
        ASSERT_NE(nullptr, f) << r.relativePath;
        EXPECT_EQ(f->slots, r.slots) << r.relativePath;
        EXPECT_EQ(f->width / 2, r.width);
    }
    EXPECT_EQ(nullptr, card_->find("Event/evtF_20260314_081508_R.mp4"));
}

TEST_F(SampleCard, HasOddNamesOtherFilesNestedAndHiddenFolders) {
    for (const char* f :
         {"Misc/clip.mp4", "Misc/a.mp4", "Misc/EVENT_20260314_081500_F.MP4",
          "Misc/event_20261399_081500_F.mp4", "Misc/.alwa_20260314_081500_F.mp4",
          "Misc/x.mp4/user_20260314_091500_F.mp4", "Misc/clip.mp4.bak", "Misc/notes.txt",
          "Always/thumbs.db", "Archive/2026/03-13/alwa_20260313_181500_F.mp4",
          ".trash/alwa_20260313_181502_F.mp4"})
        EXPECT_TRUE(hasFile(f)) << f;
    EXPECT_TRUE(fs::is_directory(dir_->path() / "Misc/x.mp4"));
    EXPECT_NE(nullptr, card_->find(".trash/alwa_20260313_181502_F.mp4"));
    EXPECT_EQ(nullptr, card_->find("Misc/clip.mp4.bak")) << "not a recording";
}

TEST_F(SampleCard, EveryRecordingOnDiskMatchesItsSummary) {
    std::size_t slotsSeen = 0;
    for (const auto& r : card_->recordings) {
        SCOPED_TRACE(r.relativePath);
        const auto file = readBytes(r.path);
        ASSERT_EQ(r.fileSize, file.size());
        const auto slots = readSlots(file);
        std::vector<TelemetrySample> valid;
        for (const auto& s : slots) {
            if (!test::recordIsValid(s.bytes.data() + 2))
                continue;
            auto d = test::decodeRecord(s.bytes.data() + 2);
            d.slotPrefix = static_cast<std::uint16_t>(s.bytes[0] | s.bytes[1] << 8);
            valid.push_back(d);
        }
        EXPECT_EQ(r.expectedRecords, valid);
        EXPECT_EQ(r.truncated ? (r.fragments - 1) * 11 : r.fragments * 11, slots.size());
        slotsSeen += slots.size();
    }
    EXPECT_GT(slotsSeen, 200u);
}

TEST_F(SampleCard, SpecialRecordingsAndTelemetryVariety) {
    int truncated = 0, damaged = 0, silent = 0, mph = 0, gns = 0, noFix = 0;
    for (const auto& r : card_->recordings) {
        truncated += r.truncated;
        silent += !r.audio;
        damaged += r.slots.size() != r.expectedRecords.size() && !r.truncated;
        for (const auto& s : r.slots) {
            mph += s.speedUnitCode == kSpeedUnitMph;
            gns += s.nmeaText.starts_with("$GNGNS");
            noFix += s.latitude == 0.0;
        }
    }
    EXPECT_EQ(2, truncated);  // front and rear of one moment
    EXPECT_EQ(2, damaged);
    EXPECT_EQ(1, silent);
    EXPECT_GT(mph, 0);
    EXPECT_GT(gns, 0);
    EXPECT_GT(noFix, 0) << "the drive starts before the receiver has a fix";
    // The drive goes on from one recording to the next: no jump in position.
    const auto* a = card_->find("Always/alwa_20260314_081500_F.mp4");
    const auto* b = card_->find("Always/alwa_20260314_081502_F.mp4");
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(a->slots.back().latitude, b->slots.front().latitude, 0.01);
    EXPECT_EQ(6, b->slots.front().nmeaText.find(",081502.000,")) << b->slots.front().nmeaText;
}

TEST_F(SampleCard, ReportsProgressForEveryFile) {
    EXPECT_EQ(static_cast<int>(card_->files.size()), progressCalls_);
    EXPECT_EQ(lastTotal_, lastIndex_ + 1);
}

TEST(SampleCardOptions, DefaultCardHasNoDamagedFilesAndRejectsBadOptions) {
    TempDir dir;
    SampleCardOptions o = tinyCard();
    o.alwaysPairs = 0;
    o.durationSeconds = 1.0;
    EXPECT_FALSE(sampleCardUpToDate(dir.path().string(), o));
    auto r = writeSampleCard(dir.path().string(), o);
    ASSERT_TRUE(r.ok()) << r.error();
    // The stamp says the card is complete for exactly these options.
    EXPECT_TRUE(sampleCardUpToDate(dir.path().string(), o));
    SampleCardOptions other = o;
    other.seed = 2;
    EXPECT_FALSE(sampleCardUpToDate(dir.path().string(), other));
    other = o;
    other.deviceFiles = false;
    EXPECT_FALSE(sampleCardUpToDate(dir.path().string(), other));
    for (const auto& rec : r->recordings) {
        EXPECT_FALSE(rec.truncated);
        EXPECT_EQ(rec.slots.size(), rec.expectedRecords.size()) << rec.relativePath;
        EXPECT_TRUE(rec.audio);
    }
    o.alwaysPairs = -1;
    EXPECT_FALSE(writeSampleCard(dir.path().string(), o).ok());
    o.alwaysPairs = 0;
    EXPECT_TRUE(sampleCardUpToDate(dir.path().string(), o)) << "a refused write keeps the card";
    o.alwaysPairs = 1;
    o.durationSeconds = 0;
    EXPECT_FALSE(writeSampleCard(dir.path().string(), o).ok());
}

TEST(SampleCardProgram, WritesACardAndReportsBadUsage) {
    TempDir dir;
    const std::string exe = ORVIK_SAMPLECARD_EXE;
    auto r = test::runCommand(exe + " -q --out '" + (dir / "card") +
                              "' --width 160 --height 96 --fps 10 --duration 1 --count 1");
    ASSERT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.out.find("Always/alwa_20260314_081500_F.mp4\n"));
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "card/Parking/motion_20260314_081707_R.mp4"))
        << r.out;

    // Written again with the same options: nothing to do.
    const auto before = fs::last_write_time(dir.path() / "card/Misc/a.mp4");
    r = test::runCommand(exe + " -q --if-changed --out '" + (dir / "card") +
                         "' --width 160 --height 96 --fps 10 --duration 1 --count 1");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(before, fs::last_write_time(dir.path() / "card/Misc/a.mp4"));

    r = test::runCommand(exe + " -q --single '" + (dir / "one.mp4") +
                         "' --width 160 --height 96 --duration 1 --pattern --video-only");
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "one.mp4"));

    EXPECT_EQ(2, test::runCommand(exe + " 2>/dev/null").status) << "no mode";
    EXPECT_EQ(2, test::runCommand(exe + " --out x --single y 2>/dev/null").status);
    EXPECT_EQ(2, test::runCommand(exe + " --out x --duration -3 2>/dev/null").status);
    EXPECT_EQ(2, test::runCommand(exe + " --single y --width 161 2>/dev/null").status);
    r = test::runCommand(exe + " -q --single /proc/nope/x.mp4 --duration 1 2>&1");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.out.find("orvik-samplecard: ")) << r.out;
}

}  // namespace
}  // namespace orvik::tools

namespace orvik::tools {
namespace {

TEST(SampleCardFailures, AFileInTheWayIsReportedNotOverwritten) {
    test::TempDir dir;
    const std::string blocker = dir / "card";
    std::FILE* f = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(nullptr, f);
    std::fclose(f);
    SampleCardOptions o = tinyCard();
    o.durationSeconds = 1.0;
    o.alwaysPairs = 0;
    auto r = writeSampleCard(blocker, o);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(std::string::npos, r.error().find(blocker)) << r.error();
    EXPECT_TRUE(std::filesystem::is_regular_file(blocker));
}

}  // namespace
}  // namespace orvik::tools
