#include "displays/info_panel.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvik::displays {
namespace {

using recordings::GpsFix;
using recordings::NmeaAngle;

GpsFix fix(double speed, int unit = 0x39, double lat = 3733.4217, double lon = 12651.8696) {
    GpsFix f;
    f.speed = speed;
    f.speedUnitCode = unit;
    f.latitude = NmeaAngle(lat);
    f.longitude = NmeaAngle(lon);
    return f;
}

GpsFix snapshot(double hdop, int satellites) {
    GpsFix f;
    f.hdop = hdop;
    f.satellitesUsed = satellites;
    return f;
}

PlaybackMoment playing(std::int64_t position, std::int64_t maximum, std::int32_t cursor) {
    return PlaybackMoment{true, position, maximum, cursor};
}

TEST(InformationRefresh, NothingWithoutPlaybackDataOrRange) {
    std::vector<GpsFix> fixes{fix(10), fix(20)};
    std::vector<GpsFix> snaps{snapshot(0.9, 7)};
    EXPECT_TRUE(refreshInformation(fixes, snaps, PlaybackMoment{false, 5, 10, 1}).empty());
    EXPECT_TRUE(refreshInformation({}, snaps, playing(5, 10, 1)).empty());
    EXPECT_TRUE(refreshInformation(fixes, snaps, playing(5, 0, 1)).empty());
}

TEST(InformationRefresh, CursorZeroOrBeyondTheListRefreshesNothing) {
    std::vector<GpsFix> fixes{fix(10), fix(20), fix(30)};
    std::vector<GpsFix> snaps{snapshot(0.9, 7)};
    EXPECT_TRUE(refreshInformation(fixes, snaps, playing(1, 10, 0)).empty());
    EXPECT_TRUE(refreshInformation(fixes, snaps, playing(1, 10, 4)).empty());
    EXPECT_TRUE(refreshInformation(fixes, snaps, playing(1, 10, -5)).empty());
    EXPECT_FALSE(refreshInformation(fixes, snaps, playing(1, 10, 3)).empty());
}

TEST(InformationRefresh, NumberFromThePositionUnitFromBeforeTheCursor) {
    // Entry 2 (at the position) says 37, entry 0 (cursor - 1) is in miles per hour.
    std::vector<GpsFix> fixes{fix(5, 0x31), fix(20, 0x39), fix(37.9, 0x39)};
    std::vector<GpsFix> snaps{snapshot(1.25, 9)};
    auto update = refreshInformation(fixes, snaps, playing(100, 100, 1));
    ASSERT_TRUE(update.speed);
    EXPECT_EQ(*update.speed, "37 Mi/h");
    update = refreshInformation(fixes, snaps, playing(100, 100, 2));
    EXPECT_EQ(*update.speed, "37 Km/h");
}

TEST(InformationRefresh, SpeedNotAboveZeroShowsZero) {
    EXPECT_EQ(speedText(-12.0, 0x39), "0 Km/h");
    EXPECT_EQ(speedText(0.0, 0x31), "0 Mi/h");
    EXPECT_EQ(speedText(0.0 / 0.0, 0), "0 Km/h");
    EXPECT_EQ(speedText(1e300, 0), "2147483647 Km/h");
    EXPECT_EQ(speedText(37, 0), "37 Km/h");  // unknown unit codes are km/h
}

TEST(InformationRefresh, PrecisionAndSatellitesFromTheSnapshotAtThePosition) {
    std::vector<GpsFix> fixes{fix(10), fix(20)};
    fixes[1].satellitesUsed = 30;  // out of range in the entry; the readout uses the snapshot
    std::vector<GpsFix> snaps{snapshot(0.8, 4), snapshot(1.0, 6), snapshot(2.46, 30)};
    auto update = refreshInformation(fixes, snaps, playing(50, 100, 1));
    EXPECT_EQ(update.precision, "1.0");
    EXPECT_EQ(update.satellites, "6");
    update = refreshInformation(fixes, snaps, playing(100, 100, 1));
    EXPECT_EQ(update.precision, "2.5");
    EXPECT_EQ(update.satellites, "30");
    // Without snapshots both readouts keep their text while the speed still changes.
    update = refreshInformation(fixes, {}, playing(100, 100, 1));
    EXPECT_TRUE(update.speed);
    EXPECT_FALSE(update.precision);
    EXPECT_FALSE(update.satellites);
}

TEST(InformationRefresh, HemisphereSignsTheMapPosition) {
    std::vector<GpsFix> fixes{fix(10, 0x39, 3352.1234, 15112.5678)};
    fixes[0].latHemisphere = 'S';
    fixes[0].lonHemisphere = 'E';
    auto update = refreshInformation(fixes, {}, playing(0, 100, 1));
    ASSERT_TRUE(update.map);
    EXPECT_EQ(*update.map, (MapPosition{15112.5678, -3352.1234}));
    // A second visit of the same entry gives the same position: the sign is not applied twice.
    EXPECT_EQ(*refreshInformation(fixes, {}, playing(0, 100, 1)).map, *update.map);
    fixes[0].lonHemisphere = 'W';
    EXPECT_EQ(*refreshInformation(fixes, {}, playing(0, 100, 1)).map,
              (MapPosition{-15112.5678, -3352.1234}));
}

TEST(InformationRefresh, NoPositionLeavesTheMap) {
    std::vector<GpsFix> fixes{fix(10, 0x39, 3733.4217, 0.0), fix(10, 0x39, 0.0, 12651.8696)};
    EXPECT_FALSE(refreshInformation(fixes, {}, playing(0, 100, 1)).map);
    EXPECT_FALSE(refreshInformation(fixes, {}, playing(100, 100, 1)).map);
}

TEST(InformationRefresh, PositionsOutsideTheRangeStayInTheList) {
    std::vector<GpsFix> fixes{fix(10), fix(20), fix(30)};
    EXPECT_EQ(*refreshInformation(fixes, {}, playing(-50, 100, 1)).speed, "10 Km/h");
    EXPECT_EQ(*refreshInformation(fixes, {}, playing(500, 100, 1)).speed, "30 Km/h");
}

TEST(SampleInformation, OpensOnTheSampleOfThePosition) {
    std::vector<GpsFix> fixes{fix(10, 0x31), fix(20), fix(30), fix(40)};
    std::vector<GpsFix> snaps{snapshot(0.7, 5), snapshot(1.3, 8)};
    auto update = sampleInformation(fixes, snaps, 50, 100);  // 4 x 50 / 100 = sample 2
    EXPECT_EQ(update.speed, "30 Km/h");
    EXPECT_EQ(update.precision, "0.7");
    EXPECT_EQ(sampleInformation(fixes, snaps, 0, 0).speed, "10 Mi/h");      // no duration
    EXPECT_EQ(sampleInformation(fixes, snaps, 100, 100).speed, "40 Km/h");  // end stays inside
    EXPECT_TRUE(sampleInformation({}, snaps, 10, 100).empty());
}

TEST(SpeedUnitChoice, ConvertedOnlyWhenTheUnitDiffers) {
    constexpr int kmh = 0x39, mph = 0x31;
    EXPECT_EQ(speedText(37, mph, SpeedDisplay::AsRecorded), "37 Mi/h");
    EXPECT_EQ(speedText(37, mph, SpeedDisplay::MilesPerHour), "37 Mi/h");
    EXPECT_EQ(speedText(37, mph, SpeedDisplay::KilometresPerHour), "60 Km/h");  // 59.5 rounded
    EXPECT_EQ(speedText(100, kmh, SpeedDisplay::MilesPerHour), "62 Mi/h");
    EXPECT_EQ(speedText(100, 0, SpeedDisplay::KilometresPerHour), "100 Km/h");
    EXPECT_EQ(speedText(-5, kmh, SpeedDisplay::MilesPerHour), "0 Mi/h");
    // As recorded keeps the stored number untouched (truncated, not rounded).
    EXPECT_EQ(speedText(59.9, kmh, SpeedDisplay::AsRecorded), "59 Km/h");
}

TEST(SpeedUnitChoice, AClickShowsTheOtherUnitAndTheChoiceIsStoredByName) {
    EXPECT_EQ(toggledSpeedDisplay(SpeedDisplay::AsRecorded, 0x39), SpeedDisplay::MilesPerHour);
    EXPECT_EQ(toggledSpeedDisplay(SpeedDisplay::AsRecorded, 0x31), SpeedDisplay::KilometresPerHour);
    EXPECT_EQ(toggledSpeedDisplay(SpeedDisplay::MilesPerHour, 0x31),
              SpeedDisplay::KilometresPerHour);
    EXPECT_EQ(toggledSpeedDisplay(SpeedDisplay::KilometresPerHour, 0x31),
              SpeedDisplay::MilesPerHour);
    for (auto d :
         {SpeedDisplay::AsRecorded, SpeedDisplay::KilometresPerHour, SpeedDisplay::MilesPerHour}) {
        EXPECT_EQ(speedDisplayFromName(speedDisplayName(d)), d);
    }
    EXPECT_EQ(speedDisplayFromName("error"), SpeedDisplay::AsRecorded);
    EXPECT_EQ(speedDisplayFromName(""), SpeedDisplay::AsRecorded);
}

TEST(SpeedUnitChoice, RefreshAndSampleFollowTheChoice) {
    std::vector<GpsFix> fixes{fix(50, 0x39), fix(80, 0x39)};
    std::vector<GpsFix> snaps{snapshot(0.9, 7)};
    auto u = refreshInformation(fixes, snaps, playing(10, 10, 1), SpeedDisplay::MilesPerHour);
    EXPECT_EQ(u.speed, "50 Mi/h");  // 80 km/h = 49.7 mph
    auto s = sampleInformation(fixes, snaps, 0, 10, SpeedDisplay::MilesPerHour);
    EXPECT_EQ(s.speed, "31 Mi/h");
}

}  // namespace
}  // namespace orvik::displays
