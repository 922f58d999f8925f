#include "export/caption.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "recordings/track_formats.h"

namespace orvik::exporting {

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

std::string fixed(double v, int decimals) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return ec == std::errc{} ? std::string(buf, end) : std::string("0");
}

}  // namespace

std::optional<recordings::RecordingTimestamp> momentOf(const recordings::RecordingTimestamp& start,
                                                       double offsetSeconds) {
    if (!start.validDate() || !start.validTime() || !std::isfinite(offsetSeconds))
        return std::nullopt;
    const std::int64_t seconds = daysFromCivil(start.year, static_cast<unsigned>(start.month),
                                               static_cast<unsigned>(start.day)) *
                                     86400 +
                                 start.hour * 3600 + start.minute * 60 + start.second +
                                 static_cast<std::int64_t>(std::floor(offsetSeconds));
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    recordings::RecordingTimestamp t;
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

std::string timestampText(const recordings::RecordingTimestamp& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string captionText(const recordings::RecordingTimestamp& start, double offsetSeconds,
                        const recordings::GpsFix* fix, bool positionValid,
                        std::optional<recordings::SpeedUnit> unit) {
    std::string text;
    const auto append = [&text](const std::string& part) {
        if (!text.empty())
            text += "  ";
        text += part;
    };
    if (auto moment = momentOf(start, offsetSeconds))
        append(timestampText(*moment));
    if (fix) {
        const double speed = std::isfinite(fix->speed) ? fix->speed : 0.0;
        // Whole units, as the viewer's readout shows them.
        const recordings::SpeedUnit shown =
            unit.value_or(recordings::speedUnitOf(fix->speedUnitCode));
        append(fixed(std::round(recordings::speedIn(speed, fix->speedUnitCode, shown)), 0) + " " +
               std::string(recordings::speedUnitName(shown)));
        if (positionValid) {
            if (auto pos = recordings::positionOf(*fix))
                append(fixed(pos->latitude.value(), 5) + ", " + fixed(pos->longitude.value(), 5));
        }
    }
    return text;
}

std::optional<std::size_t> entryForMoment(const recordings::TelemetryTrack& track,
                                          double offsetSeconds, double durationSeconds) {
    if (track.empty())
        return std::nullopt;
    const auto units = [](double s) {
        return static_cast<std::int64_t>(std::llround(std::max(0.0, s) * 1e7));
    };
    return recordings::entryIndex(track.size(), units(offsetSeconds), units(durationSeconds));
}

}  // namespace orvik::exporting
