// The generator's card read back through the catalogue and the telemetry reader: every record
// it wrote intact comes back with the same values, damaged slots and cut fragments do not, and
// the card lists as the camera's names say.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "recordings/catalogue.h"
#include "recordings/telemetry.h"
#include "samplecard/sample_card.h"
#include "support/test_support.h"

namespace orvik::recordings {
namespace {

class SampleCardRoundTrip : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<orvik::test::TempDir>();
        tools::SampleCardOptions o;
        o.width = 160;
        o.height = 96;
        o.fps = 10;
        o.durationSeconds = 3.0;
        o.alwaysPairs = 2;
        o.corruptSlotsRecording = true;
        o.truncatedRecording = true;
        o.videoOnlyRecording = true;
        auto card = tools::writeSampleCard(dir_->str(), o);
        ASSERT_TRUE(card.ok()) << card.error();
        card_ = std::make_unique<tools::SampleCardSummary>(std::move(card.value()));
    }
    static void TearDownTestSuite() {
        card_.reset();
        dir_.reset();
    }
    static std::unique_ptr<orvik::test::TempDir> dir_;
    static std::unique_ptr<tools::SampleCardSummary> card_;
};
std::unique_ptr<orvik::test::TempDir> SampleCardRoundTrip::dir_;
std::unique_ptr<tools::SampleCardSummary> SampleCardRoundTrip::card_;

TEST_F(SampleCardRoundTrip, EveryIntactRecordReadsBackExactly) {
    ASSERT_FALSE(card_->recordings.empty());
    bool sawDamage = false, sawTruncation = false;
    for (const auto& rec : card_->recordings) {
        SCOPED_TRACE(rec.relativePath);
        TelemetryTrack track;
        ReadReport report;
        ASSERT_EQ(track.readRecording(rec.path, &report), S_OK) << report.error;
        const auto& expected = rec.expectedRecords;
        ASSERT_EQ(track.size(), expected.size());
        sawDamage |= expected.size() < rec.slots.size() && !rec.truncated;
        sawTruncation |= rec.truncated;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const auto& e = expected[i];
            const GpsFix& f = track.fixes()[i];
            ASSERT_EQ(track.timestamps()[i], e.timestamp) << i;
            EXPECT_EQ(track.rawAccel()[i], (RawAccel{e.accelX, e.accelY, e.accelZ, e.accelAux}));
            EXPECT_EQ(track.accelSamples()[i].x, static_cast<float>(e.accelX) / 256.0f);
            EXPECT_EQ(f.latitude, NmeaAngle(e.latitude));
            EXPECT_EQ(f.longitude, NmeaAngle(e.longitude));
            EXPECT_EQ(f.speed, static_cast<double>(e.speed));
            EXPECT_EQ(f.speedUnitCode, e.speedUnitCode);
            EXPECT_EQ(f.hdop, e.hdop);
            EXPECT_EQ(f.satellitesUsed, e.satellitesUsed);
        }
        if (!expected.empty()) {
            // A plausible drive near the start point, in the northern and eastern hemispheres.
            const auto pos = positionOf(track.fixes().back());
            ASSERT_TRUE(pos);
            EXPECT_NEAR(pos->latitude.value(), 37.557, 0.2);
            EXPECT_NEAR(pos->longitude.value(), 126.864, 0.2);
            EXPECT_FALSE(track.nmeaSnapshots().empty());
        }
    }
    EXPECT_TRUE(sawDamage);
    EXPECT_TRUE(sawTruncation);
}

TEST_F(SampleCardRoundTrip, TheCardListsAsItsNamesSay) {
    auto rows = catalogueFolder(dir_->str());
    ASSERT_TRUE(rows.ok()) << rows.error();
    std::size_t visible = 0;
    for (const auto& rec : card_->recordings) {
        // Files in hidden folders are not listed; hidden files in visible folders are.
        const std::string folder = std::filesystem::path(rec.relativePath).parent_path().string();
        const bool hidden = folder.starts_with('.') || folder.find("/.") != std::string::npos;
        visible += !hidden;
        const bool listed = std::any_of(rows->begin(), rows->end(), [&](const RecordingFile& r) {
            return r.fullPath == rec.path;
        });
        EXPECT_EQ(listed, !hidden) << rec.relativePath;
    }
    EXPECT_EQ(rows->size(), visible);
    EXPECT_TRUE(std::is_sorted(rows->begin(), rows->end(), recordingListLess));
    // Partners of one moment are neighbours, front first.
    for (std::size_t i = 0; i + 1 < rows->size(); ++i) {
        const auto& a = (*rows)[i];
        const auto& b = (*rows)[i + 1];
        if (a.kind != RecordingKind::Unknown && a.key.substr(0, 16) == b.key.substr(0, 16)) {
            EXPECT_EQ(a.channel, U'F') << a.name << " / " << b.name;
        }
    }
}

}  // namespace
}  // namespace orvik::recordings
