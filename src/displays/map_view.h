#pragma once
// What the viewer asks of its map page, without the browser: the NMEA-form conversion, the
// argument texts of the page functions and the main window's map state (shown flag, first-call
// flag, the route of the opened recording). A MapHost carries the calls to a real page; tests
// record them with RecordingMapTarget.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recordings/gps_fix.h"

namespace orvik::displays {

// Something that can call a named function of the map page with string arguments.
class MapScriptTarget {
  public:
    virtual ~MapScriptTarget() = default;
    virtual void callPageFunction(const std::string& name,
                                  const std::vector<std::string>& arguments) = 0;
};

// A value as "%lf" writes it (six decimals), independent of the process locale.
std::string formatCoordinate(double degrees);

// A signed ddmm.mmmm (dddmm.mmmm) value in decimal degrees of the same sign, six decimals: the
// form the map is given.
std::string nmeaCoordinate(double nmeaValue);

// The (longitude, latitude) texts of setLatLag for NMEA-form signed magnitudes, longitude first.
std::vector<std::string> setLatLagArguments(double nmeaLongitude, double nmeaLatitude);

// The route of a recording for the page's showRoute: a JSON array of [latitude, longitude] in
// decimal degrees, from the fixes that have a position (hemisphere applied). Long recordings are
// thinned evenly to at most maxPoints, always keeping the first and the last point.
std::string routeJson(std::span<const recordings::GpsFix> fixes, std::size_t maxPoints = 2000);

// Whether any fix carries a position (both values set, finite and in range).
bool anyPosition(std::span<const recordings::GpsFix> fixes);

// A place in decimal degrees, north and east positive.
struct MapPoint {
    double latitude = 0;
    double longitude = 0;
};

// The main window's map: calls reach the page only while the Information view shows it.
class MapView {
  public:
    explicit MapView(MapScriptTarget& target) : target_(target) {}

    void setShown(bool shown);
    bool shown() const { return shown_; }
    // 1 until the first setLatLag call, 0 afterwards.
    int firstCallFlag() const { return firstCall_; }

    // Moves the marker to NMEA-form magnitudes signed by hemisphere. Nothing happens while the map
    // is hidden or when either value is 0.
    void update(double nmeaLongitude, double nmeaLatitude);
    // Where the marker was last put; nothing before the first update that reached the page.
    const std::optional<MapPoint>& point() const { return point_; }
    // Takes the marker off the map (a recording without positions has no place to show); sent
    // now when shown, else the next time the map shows. The next update puts it back.
    void clearMarker();

    // The route of the opened recording; sent now when shown, else the next time the map shows.
    void setRoute(std::string json);
    // The whole trip of the opened recording for the page's showTrip ([[lat, lng, km/h,
    // recording, offset], ...]; "[]" for none); sent like the route.
    void setTrip(std::string json);

  private:
    void sendRouteIfPending();

    MapScriptTarget& target_;
    bool shown_ = false;
    int firstCall_ = 1;
    std::optional<MapPoint> point_;
    bool clearPending_ = false;
    std::string route_ = "[]";
    bool routePending_ = false;
    std::string trip_ = "[]";
    bool tripPending_ = false;
};

// A page stand-in that keeps every call, for tests.
class RecordingMapTarget final : public MapScriptTarget {
  public:
    struct Call {
        std::string name;
        std::vector<std::string> arguments;
        bool operator==(const Call&) const = default;
    };
    void callPageFunction(const std::string& name,
                          const std::vector<std::string>& arguments) override {
        calls.push_back({name, arguments});
    }
    std::vector<Call> calls;
};

}  // namespace orvik::displays
