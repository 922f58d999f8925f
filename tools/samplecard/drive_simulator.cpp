#include "samplecard/drive_simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace orvik::tools {
namespace {

constexpr double kKmhPerKnot = 1.852;
constexpr double kKmhPerMph = 1.609344;
constexpr double kMetresPerDegree = 111'320.0;

// splitmix64: small, fast and identical on every platform.
std::uint64_t nextRandom(std::uint64_t& s) {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double uniform(std::uint64_t& s, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(nextRandom(s) >> 11) / 9007199254740992.0;
}

std::string format(const char* fmt, auto... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

struct Clock {
    std::string hhmmss;  // hhmmss.sss, exactly ten characters
    std::string ddmmyy;
};

Clock clockOf(UtcTime t) {
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss tod{floor<milliseconds>(t - day)};
    return {format("%02d%02d%02d.%03d", static_cast<int>(tod.hours().count()),
                   static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()),
                   static_cast<int>(tod.subseconds().count())),
            format("%02u%02u%02d", static_cast<unsigned>(ymd.day()),
                   static_cast<unsigned>(ymd.month()), static_cast<int>(ymd.year()) % 100)};
}

struct Position {
    std::string lat, latHemisphere, lon, lonHemisphere;
};

Position positionOf(double lat, double lon) {
    return {format("%09.4f", toNmeaMagnitude(std::fabs(lat))), lat >= 0 ? "N" : "S",
            format("%010.4f", toNmeaMagnitude(std::fabs(lon))), lon >= 0 ? "E" : "W"};
}

std::string prnList(const int* prns, int count) {
    std::string s;
    for (int i = 0; i < 12; ++i) {
        s += ',';
        if (i < count)
            s += format("%02d", prns[i]);
    }
    return s;
}

double metresBetween(double lat1, double lon1, double lat2, double lon2) {
    const double dy = (lat2 - lat1) * kMetresPerDegree;
    const double dx = (lon2 - lon1) * kMetresPerDegree * std::cos(lat1 * std::numbers::pi / 180.0);
    return std::hypot(dx, dy);
}

double bearing(double lat1, double lon1, double lat2, double lon2) {
    const double dy = (lat2 - lat1);
    const double dx = (lon2 - lon1) * std::cos(lat1 * std::numbers::pi / 180.0);
    return std::fmod(std::atan2(dx, dy) * 180.0 / std::numbers::pi + 360.0, 360.0);
}

double angleBetween(double from, double to) {  // -180 .. 180, positive clockwise
    return std::remainder(to - from, 360.0);
}

// Steers towards the route's next waypoint and slows down before a turn.
void steerAlong(DriveState& st, std::span<const std::array<double, 2>> route,
                double intervalSeconds) {
    while (st.routeLeg < route.size() &&
           metresBetween(st.latitude, st.longitude, route[st.routeLeg][0], route[st.routeLeg][1]) <
               12.0)
        ++st.routeLeg;
    if (uniform(st.rng, 0, 1) < intervalSeconds / 5.0)
        st.targetKmh = uniform(st.rng, 34.0, 52.0);
    if (st.routeLeg >= route.size()) {
        st.yawRate = 0.0;
        return;
    }
    const auto& next = route[st.routeLeg];
    const double toNext = bearing(st.latitude, st.longitude, next[0], next[1]);
    const double error = angleBetween(st.headingDegrees, toNext);
    st.yawRate = std::clamp(error * 1.5, -24.0, 24.0);
    if (std::fabs(error) > 25.0)
        st.targetKmh = std::min(st.targetKmh, 20.0);
    if (st.routeLeg + 1 < route.size()) {
        const auto& after = route[st.routeLeg + 1];
        const double turn = angleBetween(toNext, bearing(next[0], next[1], after[0], after[1]));
        if (std::fabs(turn) > 30.0 &&
            metresBetween(st.latitude, st.longitude, next[0], next[1]) < 45.0)
            st.targetKmh = std::min(st.targetKmh, 20.0);
    }
}

}  // namespace

double toNmeaMagnitude(double degrees) {
    const double whole = std::floor(degrees);
    const double minutes = (degrees - whole) * 60.0;
    return std::round((whole * 100.0 + minutes) * 10'000.0) / 10'000.0;
}

std::vector<TelemetrySample> simulateDrive(DriveState& st, std::size_t count,
                                           double intervalSeconds, const DriveOptions& opt) {
    static constexpr int kGpsPrns[] = {3, 7, 19, 22, 28, 30, 1, 11, 17};
    static constexpr int kGlonassPrns[] = {66, 75, 81, 67, 82};
    std::vector<TelemetrySample> out;
    out.reserve(count);
    const auto step = std::chrono::microseconds{std::llround(intervalSeconds * 1e6)};
    for (std::size_t i = 0; i < count; ++i) {
        const bool fix = static_cast<int>(i) >= opt.noFixRecords;
        // Vehicle dynamics: the target speed wanders, the car follows with bounded acceleration.
        const double before = st.speedKmh;
        if (opt.parked) {
            st.speedKmh = st.targetKmh = 0.0;
            st.yawRate = 0.0;
        } else {
            if (!opt.route.empty()) {
                steerAlong(st, opt.route, intervalSeconds);
            } else {
                if (uniform(st.rng, 0, 1) < intervalSeconds / 6.0)
                    st.targetKmh = uniform(st.rng, 15.0, 78.0);
                st.yawRate = std::clamp(st.yawRate + uniform(st.rng, -1.5, 1.5), -6.0, 6.0);
            }
            const double maxDelta = 9.0 * intervalSeconds;  // 2.5 m/s² in km/h
            st.speedKmh += std::clamp(st.targetKmh - st.speedKmh, -maxDelta, maxDelta);
            if (st.speedKmh < 5.0)
                st.yawRate = 0.0;
            st.headingDegrees =
                std::fmod(st.headingDegrees + st.yawRate * intervalSeconds + 360.0, 360.0);
        }
        const double metres = st.speedKmh / 3.6 * intervalSeconds;
        const double heading = st.headingDegrees * std::numbers::pi / 180.0;
        st.latitude += metres * std::cos(heading) / kMetresPerDegree;
        st.longitude += metres * std::sin(heading) /
                        (kMetresPerDegree * std::cos(st.latitude * std::numbers::pi / 180.0));

        TelemetrySample s;
        s.slotPrefix = static_cast<std::uint16_t>(0xA500 | (st.recordIndex % 11));
        s.timestamp = st.timestamp;
        // G-sensor in 1/256 g: longitudinal from the speed change, lateral from the turn.
        const double longitudinal = (st.speedKmh - before) / 3.6 / intervalSeconds / 9.81;
        const double lateral = st.speedKmh / 3.6 * (st.yawRate * std::numbers::pi / 180.0) / 9.81;
        s.accelX = static_cast<std::int32_t>(std::lround(lateral * 256 + uniform(st.rng, -5, 5)));
        s.accelY =
            static_cast<std::int32_t>(std::lround(longitudinal * 256 + uniform(st.rng, -5, 5)));
        s.accelZ = static_cast<std::int32_t>(std::lround(256 + uniform(st.rng, -6, 6)));
        if (static_cast<int>(i) == opt.impactAtRecord) {
            s.accelX += opt.parked ? -180 : -640;
            s.accelY += opt.parked ? 90 : 410;
            s.accelZ += opt.parked ? 60 : -150;
        }
        s.accelAux = static_cast<std::int32_t>(
            std::lround(std::sqrt(double(s.accelX) * s.accelX + double(s.accelY) * s.accelY +
                                  double(s.accelZ) * s.accelZ)));

        const int gps = fix ? 6 + static_cast<int>(st.recordIndex / 97 % 4) : 0;
        const int glonass = fix ? 3 + static_cast<int>(st.recordIndex / 131 % 3) : 0;
        const bool withGlonass = opt.receiver != GnssReceiver::GpsOnly;
        const int used = gps + (withGlonass ? glonass : 0);
        const double hdop = fix ? std::round((0.6 + 4.0 / (used + 1)) * 10.0) / 10.0 : 99.9;

        const Clock clk = clockOf(st.utc);
        const Position pos = positionOf(st.latitude, st.longitude);
        const std::string talker = withGlonass ? "GN" : "GP";
        const double knots = st.speedKmh / kKmhPerKnot;
        const std::string rmc =
            fix ? nmeaSentence(format(
                      "%sRMC,%s,A,%s,%s,%s,%s,%.1f,%.1f,%s,,,A", talker.c_str(), clk.hhmmss.c_str(),
                      pos.lat.c_str(), pos.latHemisphere.c_str(), pos.lon.c_str(),
                      pos.lonHemisphere.c_str(), knots, st.headingDegrees, clk.ddmmyy.c_str()))
                : nmeaSentence(format("%sRMC,%s,V,,,,,,,%s,,,N", talker.c_str(), clk.hhmmss.c_str(),
                                      clk.ddmmyy.c_str()));
        const std::string gga =
            fix ? nmeaSentence(format("%sGGA,%s,%s,%s,%s,%s,1,%02d,%.1f,%.1f,M,18.4,M,,",
                                      talker.c_str(), clk.hhmmss.c_str(), pos.lat.c_str(),
                                      pos.latHemisphere.c_str(), pos.lon.c_str(),
                                      pos.lonHemisphere.c_str(), used, hdop,
                                      32.0 + uniform(st.rng, -1, 1)))
                : nmeaSentence(
                      format("%sGGA,%s,,,,,0,00,99.9,,,,,,", talker.c_str(), clk.hhmmss.c_str()));
        const std::string gsaGps =
            nmeaSentence(format("GNGSA,A,%s%s,%.1f,%.1f,%.1f", fix ? "3" : "1",
                                prnList(kGpsPrns, gps).c_str(), hdop * 1.6, hdop, hdop * 1.3));
        const std::string gsaGlonass = nmeaSentence(
            format("GNGSA,A,%s%s,%.1f,%.1f,%.1f", fix ? "3" : "1",
                   prnList(kGlonassPrns, glonass).c_str(), hdop * 1.6, hdop, hdop * 1.3));
        const std::string gns =
            fix ? nmeaSentence(format("GNGNS,%s,%s,%s,%s,%s,AA,%02d,%.1f,32.0,18.4,,",
                                      clk.hhmmss.c_str(), pos.lat.c_str(),
                                      pos.latHemisphere.c_str(), pos.lon.c_str(),
                                      pos.lonHemisphere.c_str(), used, hdop))
                : nmeaSentence(format("GNGNS,%s,,,,,NN,00,99.9,,,,", clk.hhmmss.c_str()));

        // A record holds only 128 bytes of text: the receiver's sentences take turns.
        std::vector<const std::string*> parts;
        switch (opt.receiver) {
            case GnssReceiver::GpsOnly:
                parts.push_back(st.recordIndex % 2 == 0 ? &rmc : &gga);
                break;
            case GnssReceiver::GpsGlonass:
                switch (st.recordIndex % 3) {
                    case 0:
                        parts = {&rmc, &gsaGps};
                        break;
                    case 1:
                        parts = {&gga, &gsaGlonass};
                        break;
                    default:
                        parts = {&rmc};
                        break;
                }
                break;
            case GnssReceiver::GnssFix:
                parts.push_back(st.recordIndex % 2 == 0 ? &rmc : &gns);
                break;
        }
        for (const auto* p : parts) {
            if (s.nmeaText.size() + p->size() <= kNmeaTextSize)
                s.nmeaText += *p;
        }

        const double shownSpeed =
            opt.speedUnitCode == kSpeedUnitMph ? st.speedKmh / kKmhPerMph : st.speedKmh;
        s.speedUnitCode = opt.speedUnitCode;
        s.speed = fix ? static_cast<std::int32_t>(std::lround(shownSpeed)) : 0;
        s.latitude = fix ? toNmeaMagnitude(std::fabs(st.latitude)) : 0.0;
        s.longitude = fix ? toNmeaMagnitude(std::fabs(st.longitude)) : 0.0;
        s.hdop = hdop;
        s.satellitesUsed = used;
        out.push_back(std::move(s));

        st.utc += step;
        st.timestamp += static_cast<std::uint32_t>(std::lround(intervalSeconds * 1000.0));
        ++st.recordIndex;
    }
    return out;
}

}  // namespace orvik::tools
