// The recordings core reads back exactly what the generator wrote: every record of every
// recording on a sample card, and the card's tree as the catalogue lists it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "recordings/catalogue.h"
#include "recordings/telemetry.h"
#include "samplecard/sample_card.h"
#include "test_support.h"

namespace orvik::tools {
namespace {

namespace fs = std::filesystem;

std::size_t countGSentences(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t p = text.find("$G"); p != std::string::npos; p = text.find("$G", p + 1))
        ++n;
    return n;
}

class RoundTrip : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<test::TempDir>();
        SampleCardOptions o;
        o.width = 160;
        o.height = 96;
        o.fps = 10;
        o.durationSeconds = 3.0;
        o.alwaysPairs = 2;
        o.videoOnlyRecording = o.corruptSlotsRecording = o.truncatedRecording = true;
        auto r = writeSampleCard(dir_->path().string(), o);
        ASSERT_TRUE(r.ok()) << r.error();
        card_ = std::make_unique<SampleCardSummary>(std::move(r.value()));
    }
    static void TearDownTestSuite() {
        card_.reset();
        dir_.reset();
    }
    static std::unique_ptr<test::TempDir> dir_;
    static std::unique_ptr<SampleCardSummary> card_;
};
std::unique_ptr<test::TempDir> RoundTrip::dir_;
std::unique_ptr<SampleCardSummary> RoundTrip::card_;

TEST_F(RoundTrip, ReaderReturnsExactlyTheRecordsWritten) {
    std::size_t total = 0;
    for (const auto& rec : card_->recordings) {
        SCOPED_TRACE(rec.relativePath);
        recordings::TelemetryTrack track;
        recordings::ReadReport report;
        ASSERT_EQ(S_OK, track.readRecording(rec.path, &report)) << report.error;
        const auto& want = rec.expectedRecords;
        ASSERT_EQ(want.size(), track.size());
        ASSERT_EQ(want.size(), track.timestamps().size());
        EXPECT_EQ(rec.slots.size() - want.size() - (rec.truncated ? 11 : 0), report.skippedSlots);
        std::size_t sentences = 0;
        for (std::size_t i = 0; i < want.size(); ++i) {
            const auto& w = want[i];
            const auto& fix = track.fixes()[i];
            ASSERT_EQ(w.timestamp, track.timestamps()[i]) << i;
            EXPECT_EQ((recordings::RawAccel{w.accelX, w.accelY, w.accelZ, w.accelAux}),
                      track.rawAccel()[i]);
            EXPECT_FLOAT_EQ(w.accelX / 256.0f, track.accelSamples()[i].x);
            EXPECT_FLOAT_EQ(w.accelZ / 256.0f, track.accelSamples()[i].z);
            EXPECT_EQ(w.latitude, fix.latitude.value());
            EXPECT_EQ(w.longitude, fix.longitude.value());
            EXPECT_EQ(w.hdop, fix.hdop);
            EXPECT_EQ(w.satellitesUsed, fix.satellitesUsed);
            EXPECT_EQ(static_cast<double>(w.speed), fix.speed);
            EXPECT_EQ(w.speedUnitCode, fix.speedUnitCode);
            EXPECT_EQ('N', fix.latHemisphere);
            EXPECT_EQ('E', fix.lonHemisphere);
            sentences += countGSentences(w.nmeaText);
        }
        EXPECT_EQ(sentences, track.nmeaSnapshots().size());
        total += want.size();
    }
    EXPECT_GT(total, 300u);
}

TEST_F(RoundTrip, DecodedSentencesAgreeWithTheSimulatedDrive) {
    for (const char* rel :
         {"Event/evtA_20260314_081509_F.mp4", "Always/alwa_20260314_081503_F.mp4"}) {
        SCOPED_TRACE(rel);
        const RecordingSummary* rec = card_->find(rel);
        ASSERT_NE(nullptr, rec);
        recordings::TelemetryTrack track;
        ASSERT_EQ(S_OK, track.readRecording(rec->path));
        std::size_t snap = 0;
        for (const auto& w : rec->expectedRecords) {
            std::size_t p = 0;
            while ((p = w.nmeaText.find("$G", p)) != std::string::npos) {
                ASSERT_LT(snap, track.nmeaSnapshots().size());
                const auto& s = track.nmeaSnapshots()[snap++];
                const std::string address = w.nmeaText.substr(p, 6);
                if (address.ends_with("RMC")) {
                    EXPECT_TRUE(s.fixValid);
                    EXPECT_EQ(2026, s.time.year);
                    EXPECT_EQ(14, s.time.day);
                    // Knots with one decimal against whole km/h.
                    EXPECT_NEAR(w.speed, s.speed * 1.852, 0.7);
                } else if (address == "$GNGNS") {
                    EXPECT_EQ(w.satellitesUsed, s.satellitesUsed);
                    EXPECT_EQ(w.hdop, s.hdop);
                } else if (address.ends_with("GGA")) {
                    EXPECT_EQ(w.latitude, s.latitude.value());
                }
                ++p;
            }
        }
        EXPECT_EQ(snap, track.nmeaSnapshots().size());
        if (std::string(rel).find("alwa_") != std::string::npos) {
            // One GSA per system: the sum of both is in use.
            EXPECT_EQ(rec->expectedRecords.back().satellitesUsed,
                      track.runningFix().satellitesUsed);
        }
    }
}

TEST_F(RoundTrip, CatalogueListsTheVisibleRecordings) {
    auto rows = recordings::catalogueFolder(dir_->path().string());
    ASSERT_TRUE(rows.ok()) << rows.error();
    std::set<std::string> listed;
    for (const auto& r : *rows)
        listed.insert(fs::relative(r.fullPath, dir_->path()).string());
    std::set<std::string> expected;
    for (const auto& f : card_->files) {
        const bool mp4 = f.ends_with(".mp4") || f.ends_with(".MP4");
        if (mp4 && !f.starts_with(".trash/"))
            expected.insert(f);
    }
    EXPECT_EQ(expected, listed);
    // Front before rear of one moment, next to each other.
    for (std::size_t i = 0; i + 1 < rows->size(); ++i) {
        const auto& a = (*rows)[i];
        if (a.name == "alwa_20260314_081500_F.mp4") {
            EXPECT_EQ("alwa_20260314_081500_R.mp4", (*rows)[i + 1].name);
        }
    }
}

}  // namespace
}  // namespace orvik::tools

#include "device_config/device_config.h"
#include "device_config/drive_route.h"
#include "device_config/time_file.h"

namespace orvik::tools {
namespace {

TEST_F(RoundTrip, CameraFilesReadBackThroughTheDeviceCore) {
    const fs::path root = dir_->path();
    auto config = device_config::readConfigFile((root / "config_K7x7.bin").string());
    ASSERT_TRUE(config.ok()) << config.error();
    EXPECT_TRUE(config->checksumValid());
    device_config::DeviceConfig defaults;
    defaults.finalize();
    EXPECT_EQ(defaults, *config);

    const auto timeFile = test::readBytes((root / "timeset.cfg").string());
    EXPECT_EQ("2026/03/14 08:00:00", std::string(timeFile.begin(), timeFile.end()));

    auto drv = device_config::readDriveRouteFile((root / "DrvInfo/orvik_000.drv").string());
    ASSERT_TRUE(drv.ok()) << drv.error();
    ASSERT_FALSE(drv->truncated());
    EXPECT_EQ(card_->route, drv->records);
    for (const char* f : {"config_K7x7.bin", "timeset.cfg", "DrvInfo/orvik_000.drv"})
        EXPECT_EQ(1, std::count(card_->files.begin(), card_->files.end(), f)) << f;
}

TEST_F(RoundTrip, RouteFollowsTheRecordedDrive) {
    const auto& route = card_->route;
    // One record per second of every recording moment of the main drive (3 s each here):
    // 2 + 1 + 2 + 2 + 1 + 1 (user, video-only) + 1 (damaged) + 1 (truncated) + 1 (parked).
    ASSERT_EQ(12u * 3, route.size());
    int withoutFix = 0;
    for (std::size_t i = 0; i < route.size(); ++i) {
        const auto& r = route[i];
        EXPECT_EQ(i + 1, r.order);
        EXPECT_EQ(126, r.year);
        EXPECT_EQ(6, r.dayOfWeek) << "14 March 2026 is a Saturday";
        if (r.kind == 1) {
            // ddmm.mmmm, within about a kilometre of the start.
            EXPECT_NEAR(3733.4217, r.latitudeInt + r.latitudeFrac / 10000.0, 0.6);
            EXPECT_NEAR(12651.8696, r.longitudeInt + r.longitudeFrac / 10000.0, 0.6);
        } else {
            ++withoutFix;
        }
        if (i > 0) {
            const auto& p = route[i - 1];
            EXPECT_LT(p.hour * 3600 + p.minute * 60 + p.second,
                      r.hour * 3600 + r.minute * 60 + r.second);
            EXPECT_LE(p.mileage, r.mileage);
        }
    }
    EXPECT_EQ(1, withoutFix) << "only the first second, before the receiver found satellites";
    EXPECT_GT(route.back().mileage, 0u);
}

}  // namespace
}  // namespace orvik::tools
