#include "recordings/track_formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvik::recordings {

namespace {

constexpr double kMetresPerSecondPerKmh = 1.0 / 3.6;
constexpr double kMetresPerSecondPerMph = 0.44704;

std::string number(double v) {
    if (!std::isfinite(v))
        return "0";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc{} ? std::string(buf, end) : std::string("0");
}

std::string fixed(double v, int decimals) {
    if (!std::isfinite(v))
        return "0";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return ec == std::errc{} ? std::string(buf, end) : std::string("0");
}

std::string degrees(DecimalDegrees d) {
    return fixed(d.value(), 7);
}

// The length of the valid UTF-8 sequence that starts at s[i], or 0 when none does.
std::size_t utf8SequenceAt(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80           ? 1
                            : (c >> 5) == 0x6  ? 2
                            : (c >> 4) == 0xE  ? 3
                            : (c >> 3) == 0x1E ? 4
                                               : 0;
    if (len == 0 || i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    }
    return len;
}

// Text for a file format: bytes that are not valid UTF-8 become "?", other characters beyond
// ASCII stay, and each ASCII character is written by `ascii`.
template <typename Ascii>
std::string escapedUtf8(std::string_view s, Ascii ascii) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = utf8SequenceAt(s, i);
        if (len == 0)
            out += '?';
        else if (len > 1)
            out.append(s.substr(i, len));
        else
            ascii(out, static_cast<unsigned char>(s[i]));
        i += std::max<std::size_t>(len, 1);
    }
    return out;
}

// A JSON string literal.
std::string jsonString(std::string_view s) {
    return "\"" +
           escapedUtf8(s,
                       [](std::string& out, unsigned char c) {
                           if (c == '"' || c == '\\') {
                               out += '\\';
                               out += static_cast<char>(c);
                           } else if (c < 0x20) {
                               char buf[8];
                               std::snprintf(buf, sizeof buf, "\\u%04x", c);
                               out += buf;
                           } else {
                               out += static_cast<char>(c);
                           }
                       }) +
           "\"";
}

// CSV field: quoted when it holds a separator, a quote or a line end.
std::string csvField(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(s);
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

struct Segment {
    const RecordingTelemetry* recording;
    std::vector<TrackPoint> points;
};

std::vector<Segment> segmentsOf(std::span<const RecordingTelemetry> recordings) {
    std::vector<Segment> segments;
    segments.reserve(recordings.size());
    for (const RecordingTelemetry& r : recordings) {
        std::vector<TrackPoint> points = trackPointsOf(r.track);
        std::erase_if(points, [&r](const TrackPoint& p) {
            return p.record < r.firstRecord || p.record >= r.endRecord;
        });
        segments.push_back({&r, std::move(points)});
    }
    return segments;
}

// gpsbabel's universal CSV matches column names by parts: only the m/s column may say "speed".
const char* const kCsvColumns[] = {
    "time",        "latitude",         "longitude",  "altitude", "speed",
    "as_recorded", "recorded_unit",    "satellites", "hdop",     "file",
    "record",      "camera_timestamp", "gx",         "gy",       "gz",
    "WKT",
};

}  // namespace

bool isTrackPoint(const TelemetryTrack& track, std::size_t index) {
    if (index >= track.fixes().size() || !positionOf(track.fixes()[index]))
        return false;
    return index >= track.receiverStates().size() ||
           track.receiverStates()[index].status.positionValid();
}

std::vector<TrackPoint> trackPointsOf(const TelemetryTrack& track) {
    std::vector<TrackPoint> points;
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (!isTrackPoint(track, i))
            continue;
        const GpsFix& f = track.fixes()[i];
        TrackPoint p;
        p.record = i;
        p.position = *positionOf(f);
        if (i < track.receiverStates().size()) {
            const RecordReceiverState& r = track.receiverStates()[i];
            if (isoTime(r.time))
                p.utc = r.time;
            if (r.status.altitudeMetres && std::isfinite(*r.status.altitudeMetres))
                p.altitudeMetres = r.status.altitudeMetres;
        }
        p.speed = f.speed;
        p.speedUnitCode = f.speedUnitCode;
        p.hdop = f.hdop;
        p.satellitesUsed = f.satellitesUsed;
        p.timestamp = i < track.timestamps().size() ? track.timestamps()[i] : 0;
        points.push_back(p);
    }
    return points;
}

std::optional<std::string> isoTime(const GpsTime& t) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year == 0 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > kDays[t.month - 1] ||
        t.hour > 23 || t.minute > 59 || t.second > 59 || t.millisecond > 999) {
        return std::nullopt;
    }
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    if (t.month == 2 && t.day == 29 && !leap)
        return std::nullopt;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", unsigned{t.year},
                  unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                  unsigned{t.second}, unsigned{t.millisecond});
    return std::string(buf);
}

double speedIn(double speed, std::int32_t speedUnitCode, SpeedUnit unit) {
    const SpeedUnit recorded = speedUnitOf(speedUnitCode);
    if (unit == recorded)
        return speed;
    constexpr double kKmPerMile = 1.609344;
    return recorded == SpeedUnit::MilesPerHour ? speed * kKmPerMile : speed / kKmPerMile;
}

ShownSpeed shownSpeed(double speed, std::int32_t speedUnitCode, std::optional<SpeedUnit> unit) {
    const SpeedUnit recorded = speedUnitOf(speedUnitCode);
    if (!unit || *unit == recorded)
        return {speed, speedUnitName(recorded)};
    return {std::round(speedIn(speed, speedUnitCode, *unit) * 10) / 10, speedUnitName(*unit)};
}

std::optional<SpeedUnit> speedUnitFromName(std::string_view name) {
    if (name == "km/h")
        return SpeedUnit::KilometresPerHour;
    if (name == "mph")
        return SpeedUnit::MilesPerHour;
    return std::nullopt;
}

double metresPerSecond(double speed, std::int32_t speedUnitCode) {
    return speed * (speedUnitOf(speedUnitCode) == SpeedUnit::MilesPerHour ? kMetresPerSecondPerMph
                                                                          : kMetresPerSecondPerKmh);
}

void sortByTime(std::vector<RecordingTelemetry>& recordings) {
    const auto firstTime = [](const RecordingTelemetry& r) -> std::optional<std::string> {
        for (const RecordReceiverState& s : r.track.receiverStates()) {
            if (auto iso = isoTime(s.time))
                return iso;
        }
        return std::nullopt;
    };
    std::vector<std::pair<std::optional<std::string>, std::size_t>> keys;
    for (std::size_t i = 0; i < recordings.size(); ++i)
        keys.emplace_back(firstTime(recordings[i]), i);
    // ISO texts of one format compare as the times do; untimed recordings go last.
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        if (a.first.has_value() != b.first.has_value())
            return a.first.has_value();
        return a.first && *a.first < *b.first;
    });
    std::vector<RecordingTelemetry> sorted;
    sorted.reserve(recordings.size());
    for (const auto& k : keys)
        sorted.push_back(std::move(recordings[k.second]));
    recordings = std::move(sorted);
}

std::span<const char* const> csvColumns() {
    return kCsvColumns;
}

void writeCsv(std::ostream& out, std::span<const RecordingTelemetry> recordings,
              const CsvOptions& options) {
    for (std::size_t c = 0; c < std::size(kCsvColumns); ++c)
        out << (c ? "," : "") << kCsvColumns[c];
    out << '\n';
    std::string line;
    for (const RecordingTelemetry& r : recordings) {
        const TelemetryTrack& t = r.track;
        const std::string file = csvField(r.name);
        for (std::size_t i = r.firstRecord; i < std::min(t.size(), r.endRecord); ++i) {
            const bool point = isTrackPoint(t, i);
            if (!point && !options.allRecords)
                continue;
            const GpsFix& f = t.fixes()[i];
            const RecordReceiverState* state =
                i < t.receiverStates().size() ? &t.receiverStates()[i] : nullptr;
            const auto time = state ? isoTime(state->time) : std::nullopt;
            line.clear();
            line += time.value_or("");
            line += ',';
            // A point always has a position (isTrackPoint checked it).
            const GeoPosition pos = point ? positionOf(f).value_or(GeoPosition{}) : GeoPosition{};
            if (point)
                line += degrees(pos.latitude) + "," + degrees(pos.longitude);
            else
                line += ',';
            line += ',';
            if (point && state && state->status.altitudeMetres &&
                std::isfinite(*state->status.altitudeMetres))
                line += fixed(*state->status.altitudeMetres, 1);
            line += ',' + fixed(metresPerSecond(f.speed, f.speedUnitCode), 3);
            const ShownSpeed shown = shownSpeed(f.speed, f.speedUnitCode, options.unit);
            line += ',' + number(shown.value) + ',' + std::string(shown.unit);
            line += ',' + std::to_string(f.satellitesUsed);
            line += ',' + (std::isfinite(f.hdop) ? number(f.hdop) : std::string());
            line += ',' + file + ',' + std::to_string(i);
            line += ',' + std::to_string(i < t.timestamps().size() ? t.timestamps()[i] : 0);
            const AccelSample g = i < t.accelSamples().size() ? t.accelSamples()[i] : AccelSample{};
            line += ',' + number(g.x) + ',' + number(g.y) + ',' + number(g.z) + ',';
            if (point)
                line += "POINT (" + degrees(pos.longitude) + " " + degrees(pos.latitude) + ")";
            line += '\n';
            out << line;
        }
    }
}

void writeGpx(std::ostream& out, std::span<const RecordingTelemetry> recordings,
              const std::string& name, std::optional<SpeedUnit> unit) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"orvik-cli\" "
           "xmlns=\"http://www.topografix.com/GPX/1/1\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\" "
           "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
           "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
           "  <trk>\n    <name>"
        << xmlText(name) << "</name>\n";
    for (const Segment& s : segmentsOf(recordings)) {
        out << "    <trkseg>\n";
        for (const TrackPoint& p : s.points) {
            out << "      <trkpt lat=\"" << degrees(p.position.latitude) << "\" lon=\""
                << degrees(p.position.longitude) << "\">";
            if (p.altitudeMetres)
                out << "<ele>" << fixed(*p.altitudeMetres, 1) << "</ele>";
            if (p.utc)
                out << "<time>" << *isoTime(*p.utc) << "</time>";
            const ShownSpeed shown = shownSpeed(p.speed, p.speedUnitCode, unit);
            out << "<desc>" << number(shown.value) << ' ' << shown.unit << "</desc>";
            if (p.satellitesUsed >= 0)
                out << "<sat>" << p.satellitesUsed << "</sat>";
            if (std::isfinite(p.hdop) && p.hdop >= 0)
                out << "<hdop>" << number(p.hdop) << "</hdop>";
            out << "<extensions><gpxtpx:TrackPointExtension><gpxtpx:speed>"
                << fixed(metresPerSecond(p.speed, p.speedUnitCode), 3)
                << "</gpxtpx:speed></gpxtpx:TrackPointExtension></extensions></trkpt>\n";
        }
        out << "    </trkseg>\n";
    }
    out << "  </trk>\n</gpx>\n";
}

void writeKml(std::ostream& out, std::span<const RecordingTelemetry> recordings,
              const std::string& name, std::optional<SpeedUnit> unit) {
    const auto coordinates = [](const TrackPoint& p) {
        return degrees(p.position.longitude) + "," + degrees(p.position.latitude) + "," +
               (p.altitudeMetres ? fixed(*p.altitudeMetres, 1) : std::string("0"));
    };
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n  <Document>\n    <name>"
        << xmlText(name) << "</name>\n";
    for (const Segment& s : segmentsOf(recordings)) {
        out << "    <Folder>\n      <name>" << xmlText(s.recording->name) << "</name>\n";
        if (s.points.size() >= 2) {
            out << "      <Placemark>\n        <name>Track</name>\n        <LineString>\n"
                   "          <tessellate>1</tessellate>\n          <coordinates>";
            for (std::size_t i = 0; i < s.points.size(); ++i)
                out << (i ? " " : "") << coordinates(s.points[i]);
            out << "</coordinates>\n        </LineString>\n      </Placemark>\n";
        }
        for (const TrackPoint& p : s.points) {
            const ShownSpeed shown = shownSpeed(p.speed, p.speedUnitCode, unit);
            out << "      <Placemark><name>" << p.record << "</name><description>"
                << number(shown.value) << ' ' << shown.unit << "</description>";
            if (p.utc)
                out << "<TimeStamp><when>" << *isoTime(*p.utc) << "</when></TimeStamp>";
            out << "<Point><coordinates>" << coordinates(p)
                << "</coordinates></Point></Placemark>\n";
        }
        out << "    </Folder>\n";
    }
    out << "  </Document>\n</kml>\n";
}

void writeGeoJson(std::ostream& out, std::span<const RecordingTelemetry> recordings,
                  const std::string& name, std::optional<SpeedUnit> unit) {
    const auto coordinates = [](const TrackPoint& p) {
        return "[" + degrees(p.position.longitude) + "," + degrees(p.position.latitude) +
               (p.altitudeMetres ? "," + fixed(*p.altitudeMetres, 1) : std::string()) + "]";
    };
    out << "{\"type\":\"FeatureCollection\",\"name\":" << jsonString(name) << ",\"features\":[";
    bool first = true;
    for (const Segment& s : segmentsOf(recordings)) {
        const std::string file = jsonString(s.recording->name);
        if (s.points.size() >= 2) {  // a LineString needs two positions
            out << (first ? "\n" : ",\n")
                << "{\"type\":\"Feature\",\"properties\":{\"file\":" << file;
            if (s.points.front().utc && s.points.back().utc) {
                out << ",\"start\":\"" << *isoTime(*s.points.front().utc) << "\",\"end\":\""
                    << *isoTime(*s.points.back().utc) << '"';
            }
            out << "},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[";
            for (std::size_t k = 0; k < s.points.size(); ++k)
                out << (k ? "," : "") << coordinates(s.points[k]);
            out << "]}}";
            first = false;
        }
        for (const TrackPoint& p : s.points) {
            out << (first ? "\n" : ",\n")
                << "{\"type\":\"Feature\",\"properties\":{\"file\":" << file
                << ",\"index\":" << p.record
                << ",\"time\":" << (p.utc ? "\"" + *isoTime(*p.utc) + "\"" : std::string("null"))
                << ",\"timestamp\":" << p.timestamp
                << ",\"speed\":" << number(shownSpeed(p.speed, p.speedUnitCode, unit).value)
                << ",\"speedUnit\":\"" << shownSpeed(p.speed, p.speedUnitCode, unit).unit << "\"";
            if (p.altitudeMetres)
                out << ",\"altitude\":" << fixed(*p.altitudeMetres, 1);
            out << "},\"geometry\":{\"type\":\"Point\",\"coordinates\":" << coordinates(p) << "}}";
            first = false;
        }
    }
    out << "\n]}\n";
}

std::string xmlText(std::string_view s) {
    return escapedUtf8(s, [](std::string& out, unsigned char c) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += (c < 0x20 && c != '\t' && c != '\n') ? '?' : static_cast<char>(c);
        }
    });
}

}  // namespace orvik::recordings
