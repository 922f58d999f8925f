#include "recordings/nmea.h"

#include <array>
#include <cmath>

#include "recordings/detail/text_scan.h"

namespace orvik::recordings {

namespace {

using detail::fieldInt;
using detail::fieldReal;

// The fields of one sentence body. Only the first few are kept (no handled sentence reads past
// field 14), but all are counted, and a field beyond the last one reads as empty.
class Fields {
  public:
    explicit Fields(std::string_view body) {
        if (body.empty())
            return;
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = body.find(',', start);
            const std::string_view field = body.substr(
                start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
            if (count_ < kKept)
                kept_[count_] = field;
            ++count_;
            if (comma == std::string_view::npos)
                break;
            start = comma + 1;
        }
    }
    std::size_t size() const { return count_; }
    std::string_view operator[](std::size_t i) const {
        return i < count_ && i < kKept ? kept_[i] : std::string_view{};
    }

  private:
    static constexpr std::size_t kKept = 16;
    std::array<std::string_view, kKept> kept_{};
    std::size_t count_ = 0;
};

// Reads "hhmmss", "hhmmss.s", "hhmmss.ss" or "hhmmss.sss"; the fraction becomes thousandths.
// A component that cannot be read counts as 0. False for any other length.
bool readRmcClock(std::string_view field, int& hour, int& minute, int& second, int& millisecond) {
    const std::size_t n = field.size();
    if (n != 6 && (n < 8 || n > 10))
        return false;
    detail::FieldScanner t(field);
    // Like sscanf, reading stops at the first component that does not convert.
    if (!(t.readInt(2, hour) && t.readInt(2, minute) && t.readInt(2, second)) || n == 6)
        return true;
    if (field[6] != '.')
        return true;
    int fraction = 0, scale = 1000, digits = 0;
    for (std::size_t i = 7; i < n && detail::isDigit(field[i]); ++i, ++digits) {
        fraction = fraction * 10 + (field[i] - '0');
        scale /= 10;
    }
    if (digits > 0)
        millisecond = fraction * scale;
    return true;
}

// $GPRMC,081530.500,A,3733.1200,N,12658.4400,E,15.0,270.5,140621,,,A*00
//  1 081530.500  UTC time of fix, hhmmss with 0 to 3 decimals (receivers often send two)
//  2 A           status: A valid, V void
//  3, 5          position magnitudes: not used, GGA carries them
//  4 N, 6 E      hemispheres: kept, so a southern or western drive has its sign from the start
//  7 15.0        speed over ground, knots
//  8 270.5       course over ground, degrees
//  9 140621      date ddmmyy, the year always 20yy
bool handleRmc(const Fields& f, GpsFix& fix, ReceiverStatus* status) {
    if (f.size() < 3)
        return false;
    fix.speed = fieldReal(f[7]);
    fix.course = fieldReal(f[8]);
    fix.fixValid = f[2] == "A";
    if (!f[4].empty())
        fix.latHemisphere = f[4][0];
    if (!f[6].empty())
        fix.lonHemisphere = f[6][0];
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    if (f[9].size() == 6 && readRmcClock(f[1], hour, minute, second, millisecond)) {
        int day = 0, month = 0, yy = 0;
        detail::FieldScanner d(f[9]);
        d.readInt(2, day) && d.readInt(2, month) && d.readInt(2, yy);
        fix.time = GpsTime{static_cast<std::uint16_t>(2000 + yy),
                           static_cast<std::uint16_t>(month),
                           0,
                           static_cast<std::uint16_t>(day),
                           static_cast<std::uint16_t>(hour),
                           static_cast<std::uint16_t>(minute),
                           static_cast<std::uint16_t>(second),
                           static_cast<std::uint16_t>(millisecond)};
    }
    if (status)
        status->rmcStatus = f[2].empty() ? '\0' : f[2][0];
    fix.constellation = 0;
    return true;
}

// $GNGGA,081530.50,3733.1200,N,12658.4400,E,1,08,0.9,30.0,M,18.0,M,,*4F
//  2 3733.1200   latitude ddmm.mmmm     3 N  hemisphere
//  4 12658.4400  longitude dddmm.mmmm   5 E  hemisphere
//  6 1           fix quality
//  7 08          satellites in use (only the combined "$GN" talker counts them)
//  8 0.9         horizontal dilution of precision
//  9 30.0        altitude above mean sea level, metres (unit in field 10)
bool handleGga(const Fields& f, GpsFix& fix, ReceiverStatus* status) {
    if (!f[2].empty())
        fix.latitude = NmeaAngle(fieldReal(f[2]));
    if (!f[3].empty())
        fix.latHemisphere = f[3][0];
    if (!f[4].empty())
        fix.longitude = NmeaAngle(fieldReal(f[4]));
    if (!f[5].empty())
        fix.lonHemisphere = f[5][0];
    if (f[0] == "$GNGGA" && fix.gnsSeen == 0) {
        const std::int32_t used = fieldInt(f[7]);
        if (fix.gsaSeen == 0) {
            fix.satellitesUsed = used;
        } else if (used == fix.gpsSatellites) {
            // The receiver fixed with one system only: the other system's GSA count is stale.
            fix.glonassSatellites = 0;
        } else if (used == fix.glonassSatellites) {
            fix.gpsSatellites = 0;
        }
    }
    if (fix.gnsSeen == 0 && !f[8].empty())
        fix.hdop = fieldReal(f[8]);
    if (status) {
        status->ggaQuality = f[6].empty() ? -1 : fieldInt(f[6]);
        status->altitudeMetres.reset();
        if (status->ggaQuality != 0 && !f[9].empty() && (f[10].empty() || f[10] == "M"))
            status->altitudeMetres = fieldReal(f[9]);
    }
    fix.constellation = 0;
    return true;
}

// $GNGSA,A,3,03,07,19,,,,,,,,,,1.8,0.9,1.5*2C
//  1 A           selection mode
//  2 3           fix type
//  3-14          PRNs of the satellites in use; 1-64 GPS, 65 and up GLONASS
//  15-17         PDOP, HDOP, VDOP (not used)
// A combined receiver sends one GSA per system; the counts of both add up.
bool handleGsa(const Fields& f, GpsFix& fix, ReceiverStatus*) {
    fix.gsaSeen = 1;
    if (fix.gnsSeen == 1)
        return true;
    int count = 0;
    for (std::size_t i = 0; i < fix.prns.size(); ++i) {
        fix.prns[i] = static_cast<std::uint8_t>(fieldInt(f[i + 3]) & 0xFF);
        count += fix.prns[i] != 0;
    }
    const std::uint8_t first = fix.prns[0];
    fix.constellation = first == 0 ? -1 : first <= 64 ? 0 : 1;
    switch (fix.constellation) {
        case 0:
            fix.gpsSatellites = count;
            fix.satellitesUsed = fix.gpsSatellites + fix.glonassSatellites;
            break;
        case 1:
            fix.glonassSatellites = count;
            fix.satellitesUsed = fix.gpsSatellites + fix.glonassSatellites;
            break;
        default:
            if (!fix.fixValid) {
                fix.satellitesUsed = 0;
                fix.gpsSatellites = 0;
                fix.glonassSatellites = 0;
            }
            break;
    }
    return true;
}

// $GNGNS,081530.50,3733.1200,N,12658.4400,E,AA,14,0.8,30.0,18.0,,*55
//  3 N, 5 E      hemispheres, kept as GGA keeps them (the magnitudes are GGA's)
//  6 AA          mode per system
//  7 14          satellites in use, all systems
//  8 0.8         horizontal dilution of precision
// Once a GNS was seen it is the source of the count and the precision for the recording.
bool handleGns(const Fields& f, GpsFix& fix, ReceiverStatus*) {
    fix.gnsSeen = 1;
    if (!f[3].empty())
        fix.latHemisphere = f[3][0];
    if (!f[5].empty())
        fix.lonHemisphere = f[5][0];
    fix.satellitesUsed = fieldInt(f[7]);
    if (!f[8].empty())
        fix.hdop = fieldReal(f[8]);
    return true;
}

struct SentenceHandler {
    std::string_view address;
    bool (*decode)(const Fields&, GpsFix&, ReceiverStatus*);
};

// "$GP" is accepted only where a GPS-only receiver sends the sentence; GSA and GNS matter only
// from a combined receiver.
constexpr std::array<SentenceHandler, 6> kHandlers{{
    {"$GPRMC", handleRmc},
    {"$GNRMC", handleRmc},
    {"$GPGGA", handleGga},
    {"$GNGGA", handleGga},
    {"$GNGSA", handleGsa},
    {"$GNGNS", handleGns},
}};

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

bool nmeaChecksumMatches(std::string_view sentence) {
    const std::size_t star = sentence.find('*');
    if (star == std::string_view::npos || star + 2 >= sentence.size())
        return false;
    const int high = hexValue(sentence[star + 1]);
    const int low = hexValue(sentence[star + 2]);
    if (high < 0 || low < 0)
        return false;
    const std::size_t from = !sentence.empty() && sentence[0] == '$' ? 1 : 0;
    unsigned sum = 0;
    for (std::size_t i = from; i < star; ++i)
        sum ^= static_cast<unsigned char>(sentence[i]);
    return sum == static_cast<unsigned>(high * 16 + low);
}

bool decodeNmeaSentence(std::string_view sentence, GpsFix& state, ReceiverStatus* status,
                        ChecksumRule rule) {
    const std::size_t star = sentence.find('*');
    if (star == std::string_view::npos || sentence.find('*', star + 1) != std::string_view::npos) {
        return false;
    }
    // From a receiver that writes checksums, a damaged sentence must not move the position or
    // the clock: anything after a "*" that is not the XOR of the characters between "$" and "*"
    // rejects it.
    if (rule == ChecksumRule::Verify && !nmeaChecksumMatches(sentence))
        return false;
    const Fields fields(sentence.substr(0, star));
    for (const SentenceHandler& handler : kHandlers) {
        if (fields[0] == handler.address)
            return handler.decode(fields, state, status);
    }
    return false;
}

DecimalDegrees toDecimalDegrees(NmeaAngle angle, char hemisphere) {
    const double v = angle.value();
    const double magnitude = std::fabs(v);
    const double degrees = std::floor(magnitude / 100.0);
    double decimal = degrees + (magnitude - degrees * 100.0) / 60.0;
    if (v < 0)
        decimal = -decimal;
    if (hemisphere == 'S' || hemisphere == 'W')
        decimal = -decimal;
    return DecimalDegrees(decimal);
}

std::optional<GeoPosition> positionOf(const GpsFix& fix) {
    if (fix.latitude.value() == 0.0 && fix.longitude.value() == 0.0)
        return std::nullopt;
    const DecimalDegrees lat = toDecimalDegrees(fix.latitude, fix.latHemisphere);
    const DecimalDegrees lon = toDecimalDegrees(fix.longitude, fix.lonHemisphere);
    if (!std::isfinite(lat.value()) || !std::isfinite(lon.value()))
        return std::nullopt;
    if (std::fabs(lat.value()) > 90.0 || std::fabs(lon.value()) > 180.0)
        return std::nullopt;
    return GeoPosition{lat, lon};
}

}  // namespace orvik::recordings
