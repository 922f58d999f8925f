#include "displays/map_view.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace orvik::displays {

std::string formatCoordinate(double degrees) {
    if (!std::isfinite(degrees)) {
        return "0.000000";
    }
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed, 6);
    if (ec != std::errc()) {
        return "0.000000";
    }
    return std::string(text, end);
}

std::string nmeaCoordinate(double nmeaValue) {
    // The sign of the value is the hemisphere here; 'N' leaves it alone.
    return formatCoordinate(
        recordings::toDecimalDegrees(recordings::NmeaAngle(nmeaValue), 'N').value());
}

std::vector<std::string> setLatLagArguments(double nmeaLongitude, double nmeaLatitude) {
    return {nmeaCoordinate(nmeaLongitude), nmeaCoordinate(nmeaLatitude)};
}

namespace {

bool hasPosition(const recordings::GpsFix& fix) {
    const double lat = fix.latitude.value();
    const double lon = fix.longitude.value();
    return lat != 0.0 && lon != 0.0 && std::isfinite(lat) && std::isfinite(lon) &&
           std::fabs(lat) <= 9000.0 && std::fabs(lon) <= 18000.0;
}

double signedMagnitude(double value, bool negative) {
    return negative ? -std::fabs(value) : std::fabs(value);
}

}  // namespace

bool anyPosition(std::span<const recordings::GpsFix> fixes) {
    return std::any_of(fixes.begin(), fixes.end(), hasPosition);
}

std::string routeJson(std::span<const recordings::GpsFix> fixes, std::size_t maxPoints) {
    std::vector<std::size_t> withPosition;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        if (hasPosition(fixes[i])) {
            withPosition.push_back(i);
        }
    }
    std::vector<std::size_t> chosen;
    if (maxPoints < 2 || withPosition.size() <= maxPoints) {
        chosen = withPosition;
    } else {
        const std::size_t last = withPosition.size() - 1;
        for (std::size_t k = 0; k < maxPoints; ++k) {
            chosen.push_back(withPosition[k * last / (maxPoints - 1)]);
        }
    }
    std::string json = "[";
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        const auto& fix = fixes[chosen[k]];
        // The hemisphere is in the sign here; 'N' leaves it as it is.
        const double lat =
            recordings::toDecimalDegrees(recordings::NmeaAngle(signedMagnitude(
                                             fix.latitude.value(), fix.latHemisphere == 'S')),
                                         'N')
                .value();
        const double lon =
            recordings::toDecimalDegrees(recordings::NmeaAngle(signedMagnitude(
                                             fix.longitude.value(), fix.lonHemisphere == 'W')),
                                         'N')
                .value();
        if (k > 0) {
            json += ',';
        }
        json += '[' + formatCoordinate(lat) + ',' + formatCoordinate(lon) + ']';
    }
    json += ']';
    return json;
}

void MapView::setShown(bool shown) {
    shown_ = shown;
    sendRouteIfPending();
}

void MapView::update(double nmeaLongitude, double nmeaLatitude) {
    if (!shown_ || nmeaLongitude == 0.0 || nmeaLatitude == 0.0) {
        return;
    }
    std::vector<std::string> arguments = setLatLagArguments(nmeaLongitude, nmeaLatitude);
    arguments.push_back(std::to_string(firstCall_));
    firstCall_ = 0;
    clearPending_ = false;
    point_ =
        MapPoint{recordings::toDecimalDegrees(recordings::NmeaAngle(nmeaLatitude), 'N').value(),
                 recordings::toDecimalDegrees(recordings::NmeaAngle(nmeaLongitude), 'N').value()};
    target_.callPageFunction("setLatLag", arguments);
}

void MapView::clearMarker() {
    point_.reset();
    clearPending_ = true;
    sendRouteIfPending();
}

void MapView::setRoute(std::string json) {
    route_ = std::move(json);
    routePending_ = true;
    sendRouteIfPending();
}

void MapView::setTrip(std::string json) {
    trip_ = std::move(json);
    tripPending_ = true;
    sendRouteIfPending();
}

void MapView::sendRouteIfPending() {
    if (shown_ && clearPending_) {
        clearPending_ = false;
        target_.callPageFunction("deleteOverlays", {});
    }
    if (shown_ && routePending_) {
        routePending_ = false;
        target_.callPageFunction("showRoute", {route_});
    }
    if (shown_ && tripPending_) {
        tripPending_ = false;
        target_.callPageFunction("showTrip", {trip_});
    }
}

}  // namespace orvik::displays
