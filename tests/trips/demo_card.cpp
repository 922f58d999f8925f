// The viewer's demo card as a new user first sees it: one drive of consecutive front/rear
// recordings along the streets it names, an Event recording with an impact in it, road pictures
// with the camera's time stamped in, the camera's own files and nothing odd.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>

#include "samplecard/sample_card.h"
#include "support/test_support.h"
#include "trips/trips.h"

namespace orvik::trips {
namespace {

namespace fs = std::filesystem;

class DemoCard : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<orvik::test::TempDir>();
        const auto began = std::chrono::steady_clock::now();
        auto card = tools::writeSampleCard(dir_->str(), tools::demoCardOptions());
        ASSERT_TRUE(card.ok()) << card.error();
        std::cout << "demo card written in "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count()
                  << " s\n";
        card_ = std::make_unique<tools::SampleCardSummary>(std::move(card.value()));
    }
    static void TearDownTestSuite() {
        card_.reset();
        dir_.reset();
    }
    // The RGB24 pixels of the front recording's frame at `seconds`, decoded by ffmpeg.
    static std::vector<std::uint8_t> frame(const std::string& recording, double seconds, int& w,
                                           int& h) {
        const std::string out = (*dir_) / "frame.rgb";
        const auto r = orvik::test::runCommand("ffmpeg -v error -ss " + std::to_string(seconds) +
                                               " -i " + orvik::test::quote(recording) +
                                               " -frames:v 1 -f rawvideo -pix_fmt rgb24 -y " +
                                               orvik::test::quote(out));
        EXPECT_EQ(r.status, 0) << r.err;
        w = 640;
        h = 360;
        return orvik::test::readBytes(out);
    }
    static std::unique_ptr<orvik::test::TempDir> dir_;
    static std::unique_ptr<tools::SampleCardSummary> card_;
};
std::unique_ptr<orvik::test::TempDir> DemoCard::dir_;
std::unique_ptr<tools::SampleCardSummary> DemoCard::card_;

TEST_F(DemoCard, HoldsOnlyTheCamerasOwnFiles) {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir_->path()))
        if (e.is_regular_file())
            files.insert(fs::relative(e.path(), dir_->path()).string());
    std::set<std::string> expected{"config_K7x7.bin", "timeset.cfg", "DrvInfo/orvik_000.drv",
                                   std::string(tools::kSampleCardStampName)};
    for (const auto& r : card_->recordings)
        expected.insert(r.relativePath);
    EXPECT_EQ(files, expected);
    // Six moments of both channels: five continuous recordings and one Event recording.
    ASSERT_EQ(card_->recordings.size(), 12u);
    int events = 0;
    for (const auto& r : card_->recordings) {
        const bool event = r.relativePath.starts_with("Event/event_");
        events += event;
        EXPECT_TRUE(event || r.relativePath.starts_with("Always/alwa_")) << r.relativePath;
    }
    EXPECT_EQ(events, 2);
}

TEST_F(DemoCard, IsOneDriveAlongTheStreetsWithAnEventAndAnImpact) {
    auto trips = findTrips(dir_->str(), {});
    ASSERT_TRUE(trips.ok()) << trips.error();
    ASSERT_EQ(trips->size(), 1u);
    const Trip& trip = trips->front();
    EXPECT_EQ(trip.recordings.size(), 6u);
    EXPECT_NEAR(trip.durationSeconds(), 48.0, 1.0);
    EXPECT_GT(trip.distanceKm, 0.3);
    EXPECT_LT(trip.distanceKm, 0.8);
    bool event = false, impact = false;
    for (const auto& e : trip.events) {
        event |= e.kind == EventKind::Event;
        impact |= e.kind == EventKind::Impact;
    }
    EXPECT_TRUE(event);
    EXPECT_TRUE(impact);

    // North on Gangnam-daero first, then east along Teheran-ro: the car ends up well east of
    // where it started and a little north.
    const auto& first = card_->recordings.front().slots.front();
    const auto& last = card_->recordings.back().slots.back();
    auto degrees = [](double ddmm) { return std::floor(ddmm / 100) + std::fmod(ddmm, 100) / 60; };
    EXPECT_NEAR(degrees(first.latitude), 37.4962, 0.0005);
    EXPECT_NEAR(degrees(first.longitude), 127.0283, 0.0005);
    EXPECT_GT(degrees(last.longitude) - degrees(first.longitude), 0.002);
    EXPECT_GT(degrees(last.latitude), degrees(first.latitude) + 0.0015);
}

TEST_F(DemoCard, PicturesShowARoadUnderTheSkyAndTheCamerasTime) {
    const auto& front = card_->recordings.front();
    ASSERT_TRUE(front.relativePath.ends_with("_F.mp4")) << front.relativePath;
    int w = 0, h = 0;
    const auto rgb = frame(front.path, 1.0, w, h);
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(w) * h * 3);
    auto at = [&](int x, int y) {
        const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    const auto sky = at(w / 2, 5), road = at(w / 2 - w / 8, h - 40), verge = at(3, h - 60);
    EXPECT_GT(sky[2], sky[0] + 40) << "the sky is blue";
    EXPECT_LT(std::abs(road[0] - road[2]), 25) << "the road is grey";
    EXPECT_GT(verge[1], verge[0] + 20) << "the verge is green";
    // The stamp: white strokes in the lower left corner.
    int white = 0;
    for (int y = h - 24; y < h - 8; ++y)
        for (int x = 8; x < 200; ++x) {
            const auto c = at(x, y);
            white += c[0] > 220 && c[1] > 220 && c[2] > 220;
        }
    EXPECT_GT(white, 100);
    // The lane marks move while the car drives: two moments a third of a second apart differ
    // on the road.
    const auto later = frame(front.path, 1.33, w, h);
    ASSERT_EQ(later.size(), rgb.size());
    int changed = 0;
    for (int y = h / 2; y < h - 30; ++y)
        for (int x = w / 4; x < w * 3 / 4; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * w + x) * 3;
            changed += std::abs(rgb[i] - later[i]) > 60;
        }
    EXPECT_GT(changed, 50);
}

}  // namespace
}  // namespace orvik::trips
