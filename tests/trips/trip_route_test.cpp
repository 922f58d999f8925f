// The trip as the viewer uses it: route points with their recording and moment, finding the
// trip of a file, and moving from event to event across recordings.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "trip_card.h"
#include "trips/trip_route.h"

namespace orvik::trips {
namespace {

using namespace testing;
using orvik::test::TempDir;
using recordings::RecordingKind;

TEST(TripRoute, PointsCarryRecordingMomentAndSpeedInKmh) {
    TempDir card;
    // Two recordings of 2 s (22 records each); the first in mph, the second with no position
    // in its first fragment.
    ASSERT_TRUE(writeRecording(card.path() / "alwa_20260314_081500_F.mp4", 2,
                               [](std::size_t f, std::size_t s) {
                                   auto r = quietRecord(f, s);
                                   r->speedUnitCode = recordings::kSpeedUnitCodeMph;
                                   r->speed = 10;
                                   r->latitude = recordings::NmeaAngle(3700.0 + f * 11 + s);
                                   return r;
                               }));
    ASSERT_TRUE(writeRecording(card.path() / "alwa_20260314_081502_F.mp4", 2,
                               [](std::size_t f, std::size_t s) {
                                   auto r = quietRecord(f, s);
                                   if (f == 0) {
                                       r->latitude = recordings::NmeaAngle(0);
                                       r->longitude = recordings::NmeaAngle(0);
                                   }
                                   return r;
                               }));
    TripOptions o;
    auto trips = findTrips(card.str(), o);
    ASSERT_TRUE(trips.ok());
    ASSERT_EQ(trips->size(), 1u);
    const auto route = tripRoute((*trips)[0], 1000);
    ASSERT_EQ(route.size(), 22u + 11u);
    EXPECT_EQ(route[0].recording, 0u);
    EXPECT_DOUBLE_EQ(route[0].offsetSeconds, 0.0);
    EXPECT_NEAR(route[0].speedKmh, 16.09344, 1e-9);
    EXPECT_NEAR(route[0].latitude, 37.0, 1e-9);
    EXPECT_DOUBLE_EQ(route[21].offsetSeconds, 2.0);
    EXPECT_EQ(route[22].recording, 1u);
    EXPECT_DOUBLE_EQ(route[22].offsetSeconds, recordMoment(11, 22, 2));
    EXPECT_DOUBLE_EQ(route[22].speedKmh, 40.0);

    // Thinned evenly, keeping both ends.
    const auto thin = tripRoute((*trips)[0], 5);
    ASSERT_EQ(thin.size(), 10u);
    EXPECT_DOUBLE_EQ(thin[0].offsetSeconds, 0.0);
    EXPECT_DOUBLE_EQ(thin[4].offsetSeconds, 2.0);

    EXPECT_EQ(routeJson({route[0]}), "[[37.000000,126.864493,16,0,0.000]]");
    EXPECT_EQ(routeJson({}), "[]");
}

TripRecording at(int minute, std::string path, RecordingKind kind = RecordingKind::Always) {
    TripRecording m;
    m.kind = kind;
    m.path = std::move(path);
    m.partnerPath = m.path + ".rear";
    m.start = *startOf({2026, 3, 14, 8, minute, 0});
    m.stats.durationSeconds = 60;
    return m;
}

TEST(TripRoute, FindsTheTripOfAFrontOrRearFile) {
    auto trips = groupTrips({at(0, "a"), at(1, "b"), at(10, "c")}, 120);
    ASSERT_EQ(trips.size(), 2u);
    EXPECT_EQ(findRecording(trips, "b"), std::make_pair(std::size_t{0}, std::size_t{1}));
    EXPECT_EQ(findRecording(trips, "c.rear"), std::make_pair(std::size_t{1}, std::size_t{0}));
    EXPECT_FALSE(findRecording(trips, "zzz"));
    EXPECT_FALSE(findRecording(trips, ""));
}

TEST(TripRoute, NextAndPreviousEventAcrossRecordings) {
    auto a = at(0, "a");
    a.stats.impacts = {10, 50};
    auto b = at(1, "b", RecordingKind::Event);  // event at 08:01:00
    auto c = at(2, "c");
    c.stats.impacts = {30};
    auto trips = groupTrips({a, b, c}, 120);
    ASSERT_EQ(trips.size(), 1u);
    const Trip& t = trips[0];
    ASSERT_EQ(t.events.size(), 4u);  // a+10, a+50, b+0, c+30
    // From the start forward, one after another.
    EXPECT_EQ(adjacentEvent(t, {0, 0}, +1), 0u);
    EXPECT_EQ(adjacentEvent(t, {0, 10}, +1), 1u);  // standing on an event moves on
    EXPECT_EQ(adjacentEvent(t, {0, 50}, +1), 2u);
    EXPECT_EQ(adjacentEvent(t, {1, 0}, +1), 3u);
    EXPECT_FALSE(adjacentEvent(t, {2, 30}, +1));
    // Backward, across the recording boundary.
    EXPECT_EQ(adjacentEvent(t, {2, 0}, -1), 2u);
    EXPECT_EQ(adjacentEvent(t, {1, 0}, -1), 1u);
    EXPECT_EQ(adjacentEvent(t, {1, 0.5}, -1), 1u);  // within the tolerance of b's event
    EXPECT_FALSE(adjacentEvent(t, {0, 10.5}, -1));
    EXPECT_FALSE(adjacentEvent(t, {7, 0}, +1));
}

}  // namespace
}  // namespace orvik::trips
