#include "displays/map_view.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvik::displays {
namespace {

using Call = RecordingMapTarget::Call;

TEST(MapConversion, NmeaFormToDecimalDegrees) {
    EXPECT_EQ(nmeaCoordinate(3733.4217), "37.557028");
    EXPECT_EQ(nmeaCoordinate(12651.8696), "126.864493");
    EXPECT_EQ(nmeaCoordinate(-3733.4217), "-37.557028");
    EXPECT_EQ(nmeaCoordinate(-7037.45678), "-70.624280");  // west
    EXPECT_EQ(nmeaCoordinate(0.0), "0.000000");
    EXPECT_EQ(formatCoordinate(1.0 / 0.0), "0.000000");
    EXPECT_EQ(setLatLagArguments(12651.8696, 3733.4217),
              (std::vector<std::string>{"126.864493", "37.557028"}));
}

TEST(MapView, CallsThePageOnlyWhileShown) {
    RecordingMapTarget page;
    MapView map(page);
    map.update(12651.8696, 3733.4217);
    EXPECT_TRUE(page.calls.empty());
    EXPECT_EQ(map.firstCallFlag(), 1);  // a hidden map does not use up the first call

    map.setShown(true);
    map.update(12651.8696, 3733.4217);
    map.update(-12651.8696, -3733.4217);
    ASSERT_EQ(page.calls.size(), 2u);
    EXPECT_EQ(page.calls[0], (Call{"setLatLag", {"126.864493", "37.557028", "1"}}));
    EXPECT_EQ(page.calls[1], (Call{"setLatLag", {"-126.864493", "-37.557028", "0"}}));

    map.setShown(false);
    map.update(12651.8696, 3733.4217);
    EXPECT_EQ(page.calls.size(), 2u);
    // The point a search near here starts from is the marker's, not the hidden update's.
    ASSERT_TRUE(map.point());
    EXPECT_NEAR(map.point()->latitude, -37.557028, 1e-6);
    EXPECT_NEAR(map.point()->longitude, -126.864493, 1e-6);
}

TEST(MapView, ZeroCoordinateDoesNotMoveTheMarker) {
    RecordingMapTarget page;
    MapView map(page);
    map.setShown(true);
    map.update(0.0, 3733.4217);
    map.update(12651.8696, 0.0);
    EXPECT_TRUE(page.calls.empty());
    EXPECT_EQ(map.firstCallFlag(), 1);
    EXPECT_FALSE(map.point());
}

TEST(MapView, RouteWaitsForTheMapToShow) {
    RecordingMapTarget page;
    MapView map(page);
    map.setRoute("[[1.000000,2.000000]]");
    EXPECT_TRUE(page.calls.empty());
    map.setShown(true);
    ASSERT_EQ(page.calls.size(), 1u);
    EXPECT_EQ(page.calls[0], (Call{"showRoute", {"[[1.000000,2.000000]]"}}));
    map.setShown(false);
    map.setShown(true);  // sent once only
    EXPECT_EQ(page.calls.size(), 1u);
    map.setRoute("[]");
    EXPECT_EQ(page.calls.size(), 2u);
}

TEST(MapView, TripWaitsForTheMapToShowAfterTheRoute) {
    RecordingMapTarget page;
    MapView map(page);
    map.setTrip("[[1.0,2.0,30,0,0.0]]");
    map.setRoute("[[1.000000,2.000000]]");
    EXPECT_TRUE(page.calls.empty());
    map.setShown(true);
    ASSERT_EQ(page.calls.size(), 2u);
    EXPECT_EQ(page.calls[0].name, "showRoute");
    EXPECT_EQ(page.calls[1], (Call{"showTrip", {"[[1.0,2.0,30,0,0.0]]"}}));
    map.setTrip("[]");  // shown: sent at once
    ASSERT_EQ(page.calls.size(), 3u);
    EXPECT_EQ(page.calls[2], (Call{"showTrip", {"[]"}}));
}

TEST(MapView, MarkerTakenOffNowOrWhenTheMapShowsAndPutBackByTheNextUpdate) {
    RecordingMapTarget page;
    MapView map(page);
    map.setShown(true);
    map.update(12651.8696, 3733.4217);
    map.clearMarker();
    ASSERT_EQ(page.calls.size(), 2u);
    EXPECT_EQ(page.calls[1], (Call{"deleteOverlays", {}}));
    EXPECT_FALSE(map.point());
    // Hidden: held until the map shows, and dropped when an update came meanwhile.
    map.setShown(false);
    map.clearMarker();
    EXPECT_EQ(page.calls.size(), 2u);
    map.setShown(true);
    ASSERT_EQ(page.calls.size(), 3u);
    EXPECT_EQ(page.calls[2].name, "deleteOverlays");
    map.setShown(false);
    map.clearMarker();
    map.setShown(true);
    map.update(12651.8696, 3733.4217);
    map.clearMarker();
    map.setShown(false);
    map.setShown(true);  // nothing more once sent
    EXPECT_EQ(page.calls.size(), 6u);
    EXPECT_EQ(page.calls[5].name, "deleteOverlays");
}

TEST(Route, AnyPositionIgnoresEmptyAndOutOfRangeFixes) {
    std::vector<recordings::GpsFix> fixes(2);
    EXPECT_FALSE(anyPosition(fixes));
    EXPECT_FALSE(anyPosition({}));
    fixes[0].latitude = recordings::NmeaAngle(9500.0);  // beyond the pole
    fixes[0].longitude = recordings::NmeaAngle(12651.8696);
    EXPECT_FALSE(anyPosition(fixes));
    fixes[1].latitude = recordings::NmeaAngle(3733.4217);
    fixes[1].longitude = recordings::NmeaAngle(12651.8696);
    EXPECT_TRUE(anyPosition(fixes));
}

TEST(Route, PointsWithPositionSignedAndThinned) {
    std::vector<recordings::GpsFix> fixes(3);
    fixes[0].latitude = recordings::NmeaAngle(3733.4217);
    fixes[0].longitude = recordings::NmeaAngle(12651.8696);
    fixes[2].latitude = recordings::NmeaAngle(3352.0);
    fixes[2].longitude = recordings::NmeaAngle(15112.0);
    fixes[2].latHemisphere = 'S';
    fixes[2].lonHemisphere = 'W';
    EXPECT_EQ(routeJson(fixes),
              "[[37.557028,126.864493],[-33.866667,-151.200000]]");  // entry 1 has no position
    EXPECT_EQ(routeJson({}), "[]");

    std::vector<recordings::GpsFix> many(1001, fixes[0]);
    many.back() = fixes[2];
    const std::string thinned = routeJson(many, 10);
    EXPECT_EQ(std::count(thinned.begin(), thinned.end(), '['), 11);           // outer + 10 points
    EXPECT_NE(thinned.find("[-33.866667,-151.200000]]"), std::string::npos);  // last kept
}

}  // namespace
}  // namespace orvik::displays
