// Grouping recordings into trips: the gap rule at its boundary, which recordings take part,
// front/rear moments, events, and the cache that spares a second reading.
#include <gtest/gtest.h>

#include <fstream>
#include <numbers>

#include "device_config/device_config.h"
#include "support/test_support.h"
#include "trip_card.h"
#include "trips/summary_cache.h"
#include "trips/trips.h"

namespace orvik::trips {
namespace {

using namespace testing;
using orvik::test::TempDir;
using recordings::RecordingKind;

std::vector<std::string> names(const Trip& trip) {
    std::vector<std::string> out;
    for (const auto& r : trip.recordings)
        out.push_back(std::filesystem::path(r.path).filename().string());
    return out;
}

TEST(IsoLocalTime, FormatsAndRounds) {
    const auto start = startOf({2026, 3, 14, 8, 15, 0});
    ASSERT_TRUE(start);
    EXPECT_EQ(isoLocalTime(*start), "2026-03-14T08:15:00");
    EXPECT_EQ(isoLocalTime(*start + std::chrono::milliseconds(59'600)), "2026-03-14T08:16:00");
    // Across midnight and a leap day.
    EXPECT_EQ(isoLocalTime(*startOf({2028, 2, 28, 23, 59, 30}) + std::chrono::seconds(90)),
              "2028-02-29T00:01:00");
    EXPECT_FALSE(startOf({2026, 2, 30, 8, 0, 0}));
    EXPECT_FALSE(startOf({2026, 3, 14, 24, 0, 0}));
    EXPECT_FALSE(startOf({}));
}

// A card folder of recordings named as the camera names them.
class TripCard : public ::testing::Test {
  protected:
    std::filesystem::path add(const std::string& name, double seconds) {
        const auto p = card_.path() / name;
        EXPECT_TRUE(writePlainRecording(p, seconds));
        return p;
    }
    std::vector<Trip> trips(double gap = kDefaultGapSeconds) {
        TripOptions o;
        o.gapSeconds = gap;
        o.cacheFolder = cache_.path();
        auto r = findTrips(card_.str(), o, &report_);
        EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error());
        return r.ok() ? std::move(*r) : std::vector<Trip>{};
    }
    TempDir card_;
    TempDir cache_;
    TripScanReport report_;
};

TEST_F(TripCard, GapOfExactlyTheLimitJoinsOneSecondMoreSplits) {
    add("alwa_20260314_081500_F.mp4", 60);  // ends 08:16:00
    add("alwa_20260314_081800_F.mp4", 60);  // 120 s later: same trip; ends 08:19:00
    add("alwa_20260314_082101_F.mp4", 60);  // 121 s later: a new trip
    auto t = trips();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(names(t[0]), (std::vector<std::string>{"alwa_20260314_081500_F.mp4",
                                                     "alwa_20260314_081800_F.mp4"}));
    EXPECT_EQ(isoLocalTime(t[0].start), "2026-03-14T08:15:00");
    EXPECT_EQ(isoLocalTime(t[0].end), "2026-03-14T08:19:00");
    EXPECT_DOUBLE_EQ(t[0].durationSeconds(), 240.0);
    EXPECT_EQ(names(t[1]), std::vector<std::string>{"alwa_20260314_082101_F.mp4"});
    // The gap is the caller's: with 121 s it is one trip, with 0 three.
    EXPECT_EQ(trips(121).size(), 1u);
    EXPECT_EQ(trips(0).size(), 3u);
}

TEST_F(TripCard, ParkRecordingsBelongToNoTripAndBridgeNothing) {
    add("alwa_20260314_081500_F.mp4", 60);
    add("motion_20260314_081700_F.mp4", 60);  // parked in between
    add("motion_20260314_081900_F.mp4", 60);
    add("alwa_20260314_082000_F.mp4", 60);    // 240 s after the first ends
    add("motion_20260314_090000_F.mp4", 60);  // alone: no trip at all
    auto t = trips();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(names(t[0]), std::vector<std::string>{"alwa_20260314_081500_F.mp4"});
    EXPECT_EQ(names(t[1]), std::vector<std::string>{"alwa_20260314_082000_F.mp4"});
}

TEST_F(TripCard, FrontAndRearOfOneMomentCountOnce) {
    add("alwa_20260314_081500_F.mp4", 60);
    add("alwa_20260314_081500_R.mp4", 60);
    add("alwa_20260314_081600_R.mp4", 60);      // rear only: it stands for its moment
    add("alwa_20260314_081700_F.mp4", 60);      // front only
    add("sub/alwa_20260314_081800_R.mp4", 60);  // the same moment, but not the playing partner
    add("alwa_20260314_081800_F.mp4", 60);
    auto t = trips();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(names(t[0]), (std::vector<std::string>{
                               "alwa_20260314_081500_F.mp4", "alwa_20260314_081600_R.mp4",
                               "alwa_20260314_081700_F.mp4", "alwa_20260314_081800_F.mp4"}));
    EXPECT_EQ(std::filesystem::path(t[0].recordings[0].partnerPath).filename(),
              "alwa_20260314_081500_R.mp4");
    EXPECT_EQ(t[0].recordings[1].partnerPath, "");
    // The viewer plays the rear file of the front's own folder beside it, and so do trips.
    EXPECT_EQ(t[0].recordings[3].partnerPath, "");
    EXPECT_EQ(report_.moments, 4u);
    EXPECT_EQ(report_.read, 4u);  // rear partners are never read
}

TEST_F(TripCard, EventsUserRecordingsAndOddNames) {
    add("alwa_20260314_081500_F.mp4", 60);
    add("event_20260314_081530_F.mp4", 20);  // inside the continuous recording
    add("evtLR_20260314_081600_R.mp4", 30);
    add("user_20260314_081700_F.mp4", 60);
    add("alwa_20260314_251500_F.mp4", 60);  // no valid time: not placed in any trip
    add("clip.mp4", 60);                    // unknown kind
    auto t = trips();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(names(t[0]), (std::vector<std::string>{
                               "alwa_20260314_081500_F.mp4", "event_20260314_081530_F.mp4",
                               "evtLR_20260314_081600_R.mp4", "user_20260314_081700_F.mp4"}));
    ASSERT_EQ(t[0].events.size(), 2u);
    EXPECT_EQ(t[0].events[0].kind, EventKind::Event);
    EXPECT_EQ(t[0].events[0].recording, 1u);
    EXPECT_DOUBLE_EQ(t[0].events[0].offsetSeconds, 0.0);
    EXPECT_EQ(t[0].events[1].recording, 2u);
}

TEST_F(TripCard, LongRecordingSpansAShortOneInsideIt) {
    // An event recording inside a ten-minute continuous one: the next continuous recording
    // follows the long one closely, so it is one drive although it starts long after the event
    // ended.
    add("alwa_20260314_080000_F.mp4", 600);
    add("event_20260314_080100_F.mp4", 10);
    add("alwa_20260314_081000_F.mp4", 60);
    EXPECT_EQ(trips().size(), 1u);
}

TEST_F(TripCard, RecordingWithoutTelemetryTakesTheMediaHeaderDuration) {
    // 300 s by the movie header only: the next recording 100 s after its end joins it.
    ASSERT_TRUE(writeBytes(card_.path() / "alwa_20260314_080000_F.mp4",
                           recordingBytes(moovWithDuration(300), 0, [](std::size_t, std::size_t) {
                               return std::optional<TelemetryRecord>();
                           })));
    add("alwa_20260314_080640_F.mp4", 60);
    auto t = trips();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].recordings[0].stats.records, 0u);
    EXPECT_EQ(t[0].recordings[0].stats.durationSource, DurationSource::MediaHeader);
    EXPECT_EQ(isoLocalTime(t[0].end), "2026-03-14T08:07:40");
}

TEST_F(TripCard, ImpactsDistanceAndSpeedAddUpOverTheTrip) {
    // Two recordings, each moving 0.01' of latitude per record, each with one spike.
    for (const char* name : {"alwa_20260314_081500_F.mp4", "alwa_20260314_081600_F.mp4"}) {
        ASSERT_TRUE(writeRecording(card_.path() / name, 60, [](std::size_t f, std::size_t s) {
            auto r = quietRecord(f, s);
            const std::size_t i = f * 11 + s;
            r->latitude = recordings::NmeaAngle(3700.0 + 0.01 * static_cast<double>(i));
            r->speed = i == 300 ? 97 : 50;
            if (i == 330)
                r->accelY = 200;
            return r;
        }));
    }
    auto t = trips();
    ASSERT_EQ(t.size(), 1u);
    const double perRecording = 659 * 0.01 / 60 * kEarthRadiusKm * std::numbers::pi / 180;
    EXPECT_NEAR(t[0].distanceKm, 2 * perRecording, 1e-6);
    EXPECT_DOUBLE_EQ(t[0].maxSpeedKmh, 97);
    EXPECT_EQ(t[0].recordedUnit(), recordings::SpeedUnit::KilometresPerHour);
    ASSERT_EQ(t[0].events.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(t[0].events[i].kind, EventKind::Impact);
        EXPECT_EQ(t[0].events[i].recording, i);
        EXPECT_NEAR(t[0].events[i].offsetSeconds, recordMoment(330, 660, 60), 1e-9);
    }
}

TEST_F(TripCard, ImpactThresholdsComeFromTheCardConfiguration) {
    ASSERT_TRUE(writeRecording(card_.path() / "alwa_20260314_081500_F.mp4", 10,
                               [](std::size_t f, std::size_t s) {
                                   auto r = quietRecord(f, s);
                                   if (f == 5 && s == 0)
                                       r->accelX = 180;  // 0.70 g
                                   return r;
                               }));
    EXPECT_EQ(trips()[0].events.size(), 1u);
    // A card set to 0.80 g on X: no impact; the cache made with 0.5 g does not answer.
    device_config::DeviceConfig config;
    config.setDriveImpactX(80);
    ASSERT_TRUE(device_config::writeConfigFile(card_.str() + "/config_K7x7.bin", config).saved());
    EXPECT_TRUE(trips()[0].events.empty());
    EXPECT_EQ(report_.read, 1u);
}

TEST_F(TripCard, SecondRunReadsNothingAndAChangedFileIsReadAgain) {
    add("alwa_20260314_081500_F.mp4", 60);
    const auto second = add("alwa_20260314_081600_F.mp4", 60);
    add("alwa_20260314_081600_R.mp4", 60);
    trips();
    EXPECT_EQ(report_.read, 2u);
    EXPECT_EQ(report_.cached, 0u);
    EXPECT_TRUE(report_.cacheError.empty()) << report_.cacheError;

    auto again = trips();
    EXPECT_EQ(report_.read, 0u);
    EXPECT_EQ(report_.cached, 2u);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(isoLocalTime(again[0].end), "2026-03-14T08:17:00");

    // The second recording is replaced by a longer one: read again, the trip grows.
    writePlainRecording(second, 90);
    auto changed = trips();
    EXPECT_EQ(report_.read, 1u);
    EXPECT_EQ(report_.cached, 1u);
    EXPECT_EQ(isoLocalTime(changed[0].end), "2026-03-14T08:17:30");

    // Same size, new modification time: read again too.
    std::filesystem::last_write_time(
        second, std::filesystem::last_write_time(second) + std::chrono::seconds(5));
    trips();
    EXPECT_EQ(report_.read, 1u);

    // A removed file leaves the cache; a damaged cache file is rebuilt, not trusted.
    std::filesystem::remove(second);
    std::filesystem::remove(card_.path() / "alwa_20260314_081600_R.mp4");
    trips();
    const auto file = summaryCacheFile(cache_.path(), card_.str());
    auto loaded = SummaryCache::load(file, {});
    EXPECT_EQ(loaded.size(), 1u);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "ORVTRIP1 garbage";
    trips();
    EXPECT_EQ(report_.read, 1u);
    trips();
    EXPECT_EQ(report_.read, 0u);
}

TEST_F(TripCard, WithoutACacheFolderEveryRunReads) {
    add("alwa_20260314_081500_F.mp4", 60);
    TripOptions o;
    ASSERT_TRUE(findTrips(card_.str(), o, &report_).ok());
    ASSERT_TRUE(findTrips(card_.str(), o, &report_).ok());
    EXPECT_EQ(report_.read, 1u);
}

// Closing the viewer during a big card's first scan must not wait for the whole card: the scan
// stops between recordings, and what it read is kept for the next run.
TEST_F(TripCard, ACancelledScanStopsBetweenRecordingsAndKeepsWhatItRead) {
    for (int minute = 0; minute < 6; ++minute)
        add("alwa_20260314_08" + std::to_string(10 + minute) + "00_F.mp4", 60);
    TripOptions o;
    o.cacheFolder = cache_.path();
    std::size_t asked = 0;
    o.cancelled = [&] { return ++asked > 2; };
    auto cancelled = findTrips(card_.str(), o, &report_);
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error(), "cancelled");
    EXPECT_EQ(report_.read, 2u) << "stopped at the next recording";
    EXPECT_TRUE(report_.cacheError.empty()) << report_.cacheError;

    trips();
    EXPECT_EQ(report_.cached, 2u) << "the recordings read before the cancel are not read again";
    EXPECT_EQ(report_.read, 4u);
}

TEST(FindTrips, FailsClearlyOnAMissingFolderAndSucceedsOnAnEmptyOne) {
    TempDir dir;
    TripOptions o;
    auto missing = findTrips(dir.str() + "/nope", o);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("nope"), std::string::npos);
    auto empty = findTrips(dir.str(), o);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());
}

TEST(GroupTrips, OverlapsAndUnreadableRecordings) {
    // Moments given out of order; one has no readable stats (length 0): it still joins the
    // trip it falls in, at its start.
    auto moment = [](int minute, double seconds, RecordingKind kind = RecordingKind::Always) {
        TripRecording m;
        m.kind = kind;
        m.path = "m" + std::to_string(minute);
        m.start = *startOf({2026, 3, 14, 8, minute, 0});
        m.stats.durationSeconds = seconds;
        return m;
    };
    auto t = groupTrips({moment(2, 60), moment(0, 90), moment(1, 0), moment(6, 60),
                         moment(3, 60, RecordingKind::Park)},
                        120);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].recordings.size(), 3u);
    EXPECT_EQ(t[0].recordings[1].path, "m1");
    EXPECT_EQ(isoLocalTime(t[0].end), "2026-03-14T08:03:00");
    EXPECT_EQ(t[1].recordings[0].path, "m6");
    EXPECT_TRUE(groupTrips({}, 120).empty());
}

TEST(GroupTrips, SpeedUnitAsRecorded) {
    Trip t;
    t.maxSpeedKmh = 37 * kKmPerMile;
    t.speedUnits = kUnitMph;
    EXPECT_EQ(t.recordedUnit(), recordings::SpeedUnit::MilesPerHour);
    EXPECT_NEAR(t.maxSpeedIn(recordings::SpeedUnit::MilesPerHour), 37.0, 1e-9);
    t.speedUnits = kUnitMph | kUnitKmh;  // mixed: km/h
    EXPECT_EQ(t.recordedUnit(), recordings::SpeedUnit::KilometresPerHour);
    t.speedUnits = 0;  // no speeds at all
    EXPECT_EQ(t.recordedUnit(), recordings::SpeedUnit::KilometresPerHour);
}

}  // namespace
}  // namespace orvik::trips
