// Distance, top speed, duration and impacts of one recording.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "device_config/device_config.h"
#include "support/test_support.h"
#include "trip_card.h"
#include "trips/recording_stats.h"
#include "trips/trips.h"

namespace orvik::trips {
namespace {

using namespace testing;
using recordings::DecimalDegrees;
using recordings::GeoPosition;
using recordings::GpsFix;
using recordings::NmeaAngle;
using recordings::RawAccel;

GpsFix fixAt(double ddmmLat, double dddmmLon, char ns = 'N', char ew = 'E') {
    GpsFix f;
    f.latitude = NmeaAngle(ddmmLat);
    f.longitude = NmeaAngle(dddmmLon);
    f.latHemisphere = ns;
    f.lonHemisphere = ew;
    return f;
}

TEST(Distance, GreatCircleOnTheMeanRadiusSphere) {
    const GeoPosition a{DecimalDegrees(0), DecimalDegrees(0)};
    const GeoPosition b{DecimalDegrees(1), DecimalDegrees(0)};
    EXPECT_NEAR(greatCircleKm(a, b), kEarthRadiusKm * std::numbers::pi / 180, 1e-9);
    // A quarter of the equator, and antipodes (half the circumference, no NaN from rounding).
    EXPECT_NEAR(greatCircleKm(a, {DecimalDegrees(0), DecimalDegrees(90)}),
                kEarthRadiusKm * std::numbers::pi / 2, 1e-6);
    EXPECT_NEAR(greatCircleKm(a, {DecimalDegrees(0), DecimalDegrees(180)}),
                kEarthRadiusKm * std::numbers::pi, 1e-6);
    EXPECT_DOUBLE_EQ(greatCircleKm(b, b), 0.0);
}

TEST(Distance, SumsConsecutiveValidPositionsOnly) {
    // 37°00' → 37°30' → 38°00' north along one meridian: one degree in all. Records without a
    // position (0/0) between them are passed over, not taken as a trip to the Gulf of Guinea.
    const std::vector<GpsFix> fixes{fixAt(3700.0, 12700.0), fixAt(0, 0), fixAt(3730.0, 12700.0),
                                    fixAt(0, 0), fixAt(3800.0, 12700.0)};
    EXPECT_NEAR(trackDistanceKm(fixes), kEarthRadiusKm * std::numbers::pi / 180, 1e-6);
    // Hemispheres sign the position: 0°30'S → 0°30'N is one degree too.
    EXPECT_NEAR(trackDistanceKm({fixAt(30.0, 1000.0, 'S'), fixAt(30.0, 1000.0, 'N')}),
                kEarthRadiusKm * std::numbers::pi / 180, 1e-6);
    EXPECT_DOUBLE_EQ(trackDistanceKm({}), 0.0);
    EXPECT_DOUBLE_EQ(trackDistanceKm({fixAt(3700.0, 12700.0)}), 0.0);
}

TEST(Moments, RecordMomentsInvertTheIndexRule) {
    EXPECT_DOUBLE_EQ(recordMoment(0, 661, 60), 0.0);
    EXPECT_DOUBLE_EQ(recordMoment(660, 661, 60), 60.0);
    EXPECT_DOUBLE_EQ(recordMoment(330, 661, 60), 30.0);
    // The playback rule maps the moment back to the same record.
    const std::int64_t max = 600'000'000;  // 60 s in 100-ns units
    for (std::size_t i : {0u, 1u, 11u, 329u, 659u, 660u}) {
        const auto pos = static_cast<std::int64_t>(std::ceil(recordMoment(i, 661, 60) * 1e7));
        EXPECT_EQ(recordings::entryIndex(661, pos, max), i);
    }
    EXPECT_DOUBLE_EQ(recordMoment(0, 1, 60), 0.0);
    EXPECT_DOUBLE_EQ(recordMoment(5, 10, 0), 0.0);
}

// 60 s at 11 records a second, at rest on a tilted mount (gravity partly on X).
std::vector<RawAccel> restingAccel(std::size_t n = 661) {
    return std::vector<RawAccel>(n, RawAccel{40, -10, 250, 0});
}
constexpr double kSeconds = 60;
double at(std::size_t i) {
    return recordMoment(i, 661, kSeconds);
}

TEST(Impacts, SpikesAboveTheThresholdFromTheMedian) {
    auto accel = restingAccel();
    // 0.5 g is 128 steps. X at 40 + 129 departs by 129: an impact; Y at -10 - 128 by exactly
    // 128: not one ("more than" the threshold).
    accel[100].x = 40 + 129;
    accel[400].y = -10 - 128;
    EXPECT_EQ(findImpacts(accel, kSeconds, {}), std::vector<double>{at(100)});
    // A negative departure counts as much as a positive one.
    accel[400].y = -10 - 200;
    EXPECT_EQ(findImpacts(accel, kSeconds, {}), (std::vector<double>{at(100), at(400)}));
    // A per-axis threshold: Y needs 1.0 g now.
    EXPECT_EQ(findImpacts(accel, kSeconds, {0.5, 1.0, 0.5}), std::vector<double>{at(100)});
    // Nothing happened: no impacts; no records: none either.
    EXPECT_TRUE(findImpacts(restingAccel(), kSeconds, {}).empty());
    EXPECT_TRUE(findImpacts({}, kSeconds, {}).empty());
}

TEST(Impacts, PeaksWithinTwoSecondsAreOneImpactAtTheStrongest) {
    auto accel = restingAccel();
    // A crash: a jolt, the hardest hit 0.5 s later, a rebound 1.5 s after that: one impact at
    // the hardest record.
    accel[220].z = 250 + 200;
    accel[225].x = 40 - 400;
    accel[242].z = 250 - 150;
    // 2.5 s after the rebound: a second impact.
    accel[270].y = 300;
    const auto impacts = findImpacts(accel, kSeconds, {});
    ASSERT_EQ(impacts.size(), 2u);
    EXPECT_DOUBLE_EQ(impacts[0], at(225));
    EXPECT_DOUBLE_EQ(impacts[1], at(270));
    // A rough road of spikes every second chains into one impact.
    auto rough = restingAccel();
    for (std::size_t i = 100; i <= 200; i += 11)
        rough[i].z = 250 + 140 + static_cast<std::int32_t>(i == 150 ? 100 : 0);
    EXPECT_EQ(findImpacts(rough, kSeconds, {}).size(), 1u);
}

TEST(Impacts, PeakCarriesItsRecordAndTheDepartureOfEveryAxisInG) {
    auto accel = restingAccel();
    accel[225] = RawAccel{40 - 384, -10 + 64, 250 + 32, 0};  // X -1.5 g, Y +0.25 g, Z +0.125 g
    accel[226].x = 40 - 200;                                 // weaker, same impact
    const auto peaks = findImpactPeaks(accel, kSeconds, {});
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].record, 225u);
    EXPECT_DOUBLE_EQ(peaks[0].seconds, at(225));
    EXPECT_DOUBLE_EQ(peaks[0].departureG[0], -1.5);
    EXPECT_DOUBLE_EQ(peaks[0].departureG[1], 0.25);
    EXPECT_DOUBLE_EQ(peaks[0].departureG[2], 0.125);
    EXPECT_DOUBLE_EQ(peaks[0].strength, 3.0);  // 1.5 g against 0.5 g
}

TEST(Impacts, MedianIgnoresTheSpikesThemselves) {
    // Half the records minus one are spikes: the median is still the resting value.
    auto accel = restingAccel(11);
    for (std::size_t i = 0; i < 5; ++i)
        accel[i * 2].z = 1000;
    EXPECT_EQ(findImpacts(accel, 10, {}).size(), 1u);  // all within 2 s: one impact
}

TEST(Thresholds, FromTheConfigurationInHundredthsClamped) {
    device_config::DeviceConfig config;
    config.setDriveImpactX(120);
    config.setDriveImpactY(0);     // not a value the camera accepts: 0.03 g
    config.setDriveImpactZ(9000);  // likewise: 1.5 g
    const auto t = impactThresholdsOf(config);
    EXPECT_DOUBLE_EQ(t.x, 1.2);
    EXPECT_DOUBLE_EQ(t.y, 0.03);
    EXPECT_DOUBLE_EQ(t.z, 1.5);

    orvik::test::TempDir card;
    EXPECT_EQ(readImpactThresholds(card.str()), ImpactThresholds{});  // no file: 0.5 g
    card.touch("config_K7x7.bin", "not a configuration");
    EXPECT_EQ(readImpactThresholds(card.str()), ImpactThresholds{});
    ASSERT_TRUE(device_config::writeConfigFile(card.str() + "/config_K7x7.bin", config).saved());
    EXPECT_EQ(readImpactThresholds(card.str()), t);
}

TEST(RecordingStatsFile, DurationDistanceSpeedAndImpacts) {
    orvik::test::TempDir dir;
    const auto path = dir.path() / "alwa_20260314_081500_F.mp4";
    // 10 s, moving north 0.0001' per record, 30..80 km/h with one mph record of 55 (88.5 km/h),
    // and one spike.
    ASSERT_TRUE(writeRecording(path, 10, [](std::size_t f, std::size_t s) {
        auto r = quietRecord(f, s);
        const std::size_t i = f * 11 + s;
        r->latitude = NmeaAngle(3733.0 + 0.001 * static_cast<double>(i));
        r->speed = 30 + static_cast<std::int32_t>(i % 51);
        if (i == 50) {
            r->speedUnitCode = recordings::kSpeedUnitCodeMph;
            r->speed = 55;
        }
        if (i == 77)
            r->accelZ = 256 + 300;
        return r;
    }));
    const RecordingStats stats = readRecordingStats(path.string(), {});
    EXPECT_TRUE(stats.readable);
    EXPECT_EQ(stats.durationSource, DurationSource::MediaHeader);
    EXPECT_DOUBLE_EQ(stats.durationSeconds, 10.0);
    EXPECT_EQ(stats.records, 110u);
    // 109 hops of 0.001 minutes of latitude.
    EXPECT_NEAR(stats.distanceKm, 109 * 0.001 / 60 * kEarthRadiusKm * std::numbers::pi / 180, 1e-9);
    EXPECT_NEAR(stats.maxSpeedKmh, 55 * kKmPerMile, 1e-9);
    EXPECT_EQ(stats.speedUnits, kUnitKmh | kUnitMph);
    ASSERT_EQ(stats.impacts.size(), 1u);
    EXPECT_DOUBLE_EQ(stats.impacts[0], recordMoment(77, 110, 10));
}

// A movie header may claim up to 2^64 - 1 ticks (about 1.8e19 s at one tick a second): more
// than a day is damage, never a length the trip arithmetic has to carry.
TEST(RecordingStatsFile, AHeaderClaimingMoreThanADayIsNotBelieved) {
    orvik::test::TempDir dir;
    const auto crafted = dir.path() / "alwa_20260314_081500_F.mp4";
    ASSERT_TRUE(writeBytes(crafted,
                           recordingBytes(box("moov", mvhd64(1, UINT64_MAX - 1)), 3, quietRecord)));
    const auto s = readRecordingStats(crafted.string(), {});
    EXPECT_EQ(s.durationSource, DurationSource::Telemetry);
    EXPECT_DOUBLE_EQ(s.durationSeconds, 3.0) << "one second per fragment instead";

    const auto dayAndASecond = dir.path() / "alwa_20260314_081600_F.mp4";
    ASSERT_TRUE(
        writeBytes(dayAndASecond, recordingBytes(box("moov", mvhd64(1, 86401)), 2, quietRecord)));
    EXPECT_DOUBLE_EQ(readRecordingStats(dayAndASecond.string(), {}).durationSeconds, 2.0);
    const auto day = dir.path() / "alwa_20260314_081700_F.mp4";
    ASSERT_TRUE(writeBytes(day, recordingBytes(box("moov", mvhd64(1, 86400)), 2, quietRecord)));
    EXPECT_DOUBLE_EQ(readRecordingStats(day.string(), {}).durationSeconds, 86400.0);

    // And the trips over them stay whole numbers of seconds, in order.
    TripOptions o;
    auto trips = findTrips(dir.str(), o);
    ASSERT_TRUE(trips.ok()) << trips.error();
    ASSERT_FALSE(trips->empty());
    for (const Trip& t : *trips) {
        EXPECT_TRUE(std::isfinite(t.durationSeconds()));
        EXPECT_GE(t.durationSeconds(), 0.0);
        EXPECT_LE(t.durationSeconds(), 2 * 86400.0);
    }
}

TEST(RecordingStatsFile, DurationFallsBackToTheTelemetry) {
    orvik::test::TempDir dir;
    // No movie header: five one-second fragments of telemetry are five seconds.
    const auto telemetryOnly = dir.path() / "a.mp4";
    ASSERT_TRUE(writeBytes(telemetryOnly, recordingBytes(box("moov", ""), 5, quietRecord)));
    const auto s = readRecordingStats(telemetryOnly.string(), {});
    EXPECT_EQ(s.durationSource, DurationSource::Telemetry);
    EXPECT_DOUBLE_EQ(s.durationSeconds, 5.0);

    // No telemetry: the movie header alone.
    const auto headerOnly = dir.path() / "b.mp4";
    ASSERT_TRUE(writeBytes(headerOnly,
                           recordingBytes(moovWithDuration(42.5), 3, [](std::size_t, std::size_t) {
                               return std::optional<TelemetryRecord>();
                           })));
    const auto h = readRecordingStats(headerOnly.string(), {});
    EXPECT_TRUE(h.readable);
    EXPECT_EQ(h.records, 0u);
    EXPECT_EQ(h.durationSource, DurationSource::MediaHeader);
    EXPECT_DOUBLE_EQ(h.durationSeconds, 42.5);
    EXPECT_DOUBLE_EQ(h.distanceKm, 0.0);

    // Neither, and not a file at all.
    const auto nothing = dir.touch("c.mp4", "just text");
    EXPECT_FALSE(readRecordingStats(nothing.string(), {}).readable);
    EXPECT_FALSE(readRecordingStats((dir.path() / "missing.mp4").string(), {}).readable);
}

}  // namespace
}  // namespace orvik::trips
