// orvik-cli list / telemetry: the recording list of a card folder and the telemetry of one
// recording, in the formats the README documents (scripts depend on them).
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "recordings/catalogue.h"
#include "recordings/telemetry.h"

namespace orvik::cli {
namespace {

using namespace orvik::recordings;
using Json = nlohmann::ordered_json;

// Byte-safe JSON text: names on a card are not always valid UTF-8.
std::string dumpJson(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string number(double v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc{} ? std::string(buf, end) : std::string("0");
}

std::string degrees(DecimalDegrees d) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d.value(), std::chars_format::fixed, 7);
    return ec == std::errc{} ? std::string(buf, end) : std::string("0");
}

// Text for XML content and attributes: escaped, control characters and broken UTF-8 replaced.
std::string xmlText(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
        bool valid = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        if (len > 1) {
            out.append(s.substr(i, len));
            i += len;
            continue;
        }
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
        ++i;
    }
    return out;
}

std::string hemisphere(char c) {
    return std::string(1, c);
}

// ---- list ------------------------------------------------------------------------------------

Json rowJson(const RecordingFile& row) {
    Json j;
    j["kind"] = static_cast<int>(row.kind);
    j["kindName"] = std::string(kindName(row.kind));
    j["date"] = row.dateText();
    j["time"] = row.timeText();
    j["channel"] = row.channelText();
    j["key"] = row.key;
    j["name"] = row.name;
    j["path"] = row.fullPath;
    return j;
}

void appendPadded(std::string& line, std::string_view text, std::size_t width) {
    line.append(text);
    if (text.size() < width)
        line.append(width - text.size(), ' ');
    line.append("  ");
}

void printListTable(std::ostream& out, const std::vector<RecordingFile>& rows) {
    std::size_t nameWidth = 8;
    for (const auto& row : rows)
        nameWidth = std::max(nameWidth, row.name.size());
    std::string line;
    const auto emit = [&](std::string_view kind, std::string_view date, std::string_view time,
                          std::string_view channel, std::string_view name, std::string_view path) {
        line.clear();
        appendPadded(line, kind, 8);
        appendPadded(line, date, 10);
        appendPadded(line, time, 8);
        appendPadded(line, channel, 7);
        appendPadded(line, name, nameWidth);
        line.append(path);
        line += '\n';
        out << line;
    };
    emit("Type", "Date", "Time", "Channel", "FileName", "Path");
    for (const auto& row : rows) {
        emit(kindName(row.kind), row.dateText(), row.timeText(), row.channelText(), row.name,
             row.fullPath);
    }
}

int runList(const std::string& dir, bool json) {
    auto rows = catalogueFolder(dir);
    if (!rows) {
        printError(rows.error());
        return kExitFailed;
    }
    if (json) {
        std::cout << '[';
        bool first = true;
        for (const auto& row : *rows) {
            std::cout << (first ? "\n" : ",\n") << dumpJson(rowJson(row));
            first = false;
        }
        std::cout << (first ? "]\n" : "\n]\n");
    } else {
        printListTable(std::cout, *rows);
    }
    std::cout.flush();
    if (!std::cout) {
        printError("cannot write the output");
        return kExitFailed;
    }
    return kExitOk;
}

// ---- telemetry -------------------------------------------------------------------------------

// The writers fill one reused object per list: the keys stay in place and only the values
// change, which makes an hour of telemetry several times faster to write.
void fillTime(Json& j, const GpsTime& t) {
    j["year"] = t.year;
    j["month"] = t.month;
    j["dayOfWeek"] = t.dayOfWeek;
    j["day"] = t.day;
    j["hour"] = t.hour;
    j["minute"] = t.minute;
    j["second"] = t.second;
    j["millisecond"] = t.millisecond;
}

void fillFix(Json& j, const GpsFix& f) {
    j["latitude"] = f.latitude.value();
    j["longitude"] = f.longitude.value();
    j["latHemisphere"] = hemisphere(f.latHemisphere);
    j["lonHemisphere"] = hemisphere(f.lonHemisphere);
    j["speed"] = f.speed;
    j["speedUnitCode"] = f.speedUnitCode;
    j["hdop"] = f.hdop;
    j["satellitesUsed"] = f.satellitesUsed;
    j["course"] = f.course;
    j["fixValid"] = f.fixValid;
    j["gnsSeen"] = f.gnsSeen;
    j["gsaSeen"] = f.gsaSeen;
    j["constellation"] = f.constellation;
    j["gpsSatellites"] = f.gpsSatellites;
    j["glonassSatellites"] = f.glonassSatellites;
    Json& prns = j["prns"];
    if (!prns.is_array() || prns.size() != f.prns.size())
        prns = Json(f.prns.size(), 0);
    for (std::size_t i = 0; i < f.prns.size(); ++i)
        prns[i] = f.prns[i];
    fillTime(j["time"], f.time);
}

template <typename Values>
void fillArray(Json& j, const Values& values) {
    if (!j.is_array() || j.size() != values.size())
        j = Json(values.size(), 0);
    for (std::size_t i = 0; i < values.size(); ++i)
        j[i] = values[i];
}

// The track is written element by element: an hour of telemetry as one JSON tree would take
// several times the memory of the track itself. One element a line, so that files diff well.
template <typename List, typename Fill>
void writeJsonList(std::ostream& out, const char* name, const List& list, Fill fill, bool last) {
    out << '"' << name << "\":[";
    Json j;
    for (std::size_t i = 0; i < list.size(); ++i) {
        fill(j, list[i]);
        out << (i ? ",\n" : "\n") << dumpJson(j);
    }
    out << (list.empty() ? "]" : "\n]") << (last ? "\n" : ",\n");
}

void writeTelemetryJson(std::ostream& out, const TelemetryTrack& t) {
    out << "{\n";
    writeJsonList(out, "fixes", t.fixes(), fillFix, false);
    writeJsonList(
        out, "accelSamples", t.accelSamples(),
        [](Json& j, const AccelSample& a) {
            fillArray(j, std::array<float, 3>{a.x, a.y, a.z});
        },
        false);
    writeJsonList(
        out, "rawAccel", t.rawAccel(),
        [](Json& j, const RawAccel& a) {
            fillArray(j, std::array<std::int32_t, 4>{a.x, a.y, a.z, a.aux});
        },
        false);
    writeJsonList(
        out, "timestamps", t.timestamps(), [](Json& j, std::uint32_t v) { j = v; }, false);
    writeJsonList(out, "nmeaSnapshots", t.nmeaSnapshots(), fillFix, true);
    out << "}\n";
}

void writeTelemetryCsv(std::ostream& out, const TelemetryTrack& t) {
    out << "index,timestamp,gX,gY,gZ,rawX,rawY,rawZ,rawAux,latitude,longitude,speed,speedUnit,hdop,"
           "satellitesUsed\n";
    for (std::size_t i = 0; i < t.size(); ++i) {
        const GpsFix& f = t.fixes()[i];
        const AccelSample& g = t.accelSamples()[i];
        const RawAccel& r = t.rawAccel()[i];
        const auto pos = positionOf(f);
        out << i << ',' << t.timestamps()[i] << ',' << number(g.x) << ',' << number(g.y) << ','
            << number(g.z) << ',' << r.x << ',' << r.y << ',' << r.z << ',' << r.aux << ','
            << (pos ? degrees(pos->latitude) : "") << ',' << (pos ? degrees(pos->longitude) : "")
            << ',' << number(f.speed) << ',' << speedUnitName(speedUnitOf(f.speedUnitCode)) << ','
            << (std::isfinite(f.hdop) ? number(f.hdop) : "") << ',' << f.satellitesUsed << '\n';
    }
}

std::string speedText(const GpsFix& f) {
    return number(f.speed) + " " + std::string(speedUnitName(speedUnitOf(f.speedUnitCode)));
}

void writeTelemetryGpx(std::ostream& out, const TelemetryTrack& t, const std::string& name) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"orvik-cli\" "
           "xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
           "  <trk>\n    <name>"
        << xmlText(name) << "</name>\n    <trkseg>\n";
    for (const GpsFix& f : t.fixes()) {
        const auto pos = positionOf(f);
        if (!pos)
            continue;
        out << "      <trkpt lat=\"" << degrees(pos->latitude) << "\" lon=\""
            << degrees(pos->longitude) << "\"><desc>" << speedText(f) << "</desc>";
        if (f.satellitesUsed >= 0)
            out << "<sat>" << f.satellitesUsed << "</sat>";
        if (std::isfinite(f.hdop))
            out << "<hdop>" << number(f.hdop) << "</hdop>";
        out << "</trkpt>\n";
    }
    out << "    </trkseg>\n  </trk>\n</gpx>\n";
}

void writeTelemetryKml(std::ostream& out, const TelemetryTrack& t, const std::string& name) {
    std::vector<std::pair<GeoPosition, const GpsFix*>> points;
    for (const GpsFix& f : t.fixes()) {
        if (auto pos = positionOf(f))
            points.emplace_back(*pos, &f);
    }
    const auto coordinates = [](const GeoPosition& p) {
        return degrees(p.longitude) + "," + degrees(p.latitude) + ",0";
    };
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n  <Document>\n    <name>"
        << xmlText(name) << "</name>\n";
    if (points.size() >= 2) {
        out << "    <Placemark>\n      <name>Track</name>\n      <LineString>\n        "
               "<tessellate>1</tessellate>\n        <coordinates>";
        for (std::size_t i = 0; i < points.size(); ++i)
            out << (i ? " " : "") << coordinates(points[i].first);
        out << "</coordinates>\n      </LineString>\n    </Placemark>\n";
    }
    out << "    <Folder>\n      <name>Points</name>\n";
    for (std::size_t i = 0; i < points.size(); ++i) {
        out << "      <Placemark><name>" << i << "</name><description>"
            << speedText(*points[i].second) << "</description><Point><coordinates>"
            << coordinates(points[i].first) << "</coordinates></Point></Placemark>\n";
    }
    out << "    </Folder>\n  </Document>\n</kml>\n";
}

void writeTelemetryGeoJson(std::ostream& out, const TelemetryTrack& t, const std::string& name) {
    std::vector<std::size_t> withPosition;
    std::vector<GeoPosition> positions;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (auto pos = positionOf(t.fixes()[i])) {
            withPosition.push_back(i);
            positions.push_back(*pos);
        }
    }
    const auto coordinates = [](const GeoPosition& p) {
        return "[" + degrees(p.longitude) + "," + degrees(p.latitude) + "]";
    };
    out << "{\"type\":\"FeatureCollection\",\"features\":[";
    bool first = true;
    if (positions.size() >= 2) {  // a LineString needs two positions
        out << "\n{\"type\":\"Feature\",\"properties\":" << dumpJson(Json{{"name", name}})
            << ",\"geometry\":{\"type\":\"LineString\",\"coordinates\":[";
        for (std::size_t k = 0; k < positions.size(); ++k)
            out << (k ? "," : "") << coordinates(positions[k]);
        out << "]}}";
        first = false;
    }
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const std::size_t i = withPosition[k];
        const GpsFix& f = t.fixes()[i];
        Json props;
        props["index"] = i;
        props["timestamp"] = t.timestamps()[i];
        props["speed"] = f.speed;
        props["speedUnit"] = std::string(speedUnitName(speedUnitOf(f.speedUnitCode)));
        out << (first ? "\n" : ",\n") << "{\"type\":\"Feature\",\"properties\":" << dumpJson(props)
            << ",\"geometry\":{\"type\":\"Point\",\"coordinates\":" << coordinates(positions[k])
            << "}}";
        first = false;
    }
    out << "\n]}\n";
}

void writeTelemetrySummary(std::ostream& out, const TelemetryTrack& t, const ReadReport& r,
                           const std::string& file) {
    out << "file:           " << file << '\n'
        << "records:        " << r.records << " in " << r.fragments << " fragments";
    if (r.skippedSlots)
        out << " (" << r.skippedSlots << " slots without a valid record)";
    out << '\n' << "nmea snapshots: " << t.nmeaSnapshots().size() << '\n';
    std::size_t positions = 0;
    const GpsFix* firstFix = nullptr;
    const GpsFix* lastFix = nullptr;
    for (const GpsFix& f : t.fixes()) {
        if (!positionOf(f))
            continue;
        ++positions;
        if (!firstFix)
            firstFix = &f;
        lastFix = &f;
    }
    out << "positions:      " << positions << '\n';
    if (firstFix) {
        const auto a = *positionOf(*firstFix);
        const auto b = *positionOf(*lastFix);
        out << "first position: " << degrees(a.latitude) << ", " << degrees(a.longitude) << '\n'
            << "last position:  " << degrees(b.latitude) << ", " << degrees(b.longitude) << '\n';
    }
    if (!t.fixes().empty()) {
        const GpsFix* fastest = &t.fixes().front();
        for (const GpsFix& f : t.fixes()) {
            if (f.speed > fastest->speed)
                fastest = &f;
        }
        out << "top speed:      " << speedText(*fastest) << '\n';
    }
    out << "walk ended:     " << walkEndName(r.end) << " at offset " << r.endOffset << '\n';
}

enum class TelemetryFormat { Summary, Json, Csv, Gpx, Kml, GeoJson };

int runTelemetry(const std::string& file, TelemetryFormat format) {
    TelemetryTrack track;
    ReadReport report;
    if (failed(track.readRecording(file, &report))) {
        printError(report.error);
        return kExitFailed;
    }
    const std::string name = std::filesystem::path(file).filename().string();
    std::ostream& out = std::cout;
    switch (format) {
        case TelemetryFormat::Summary:
            writeTelemetrySummary(out, track, report, file);
            break;
        case TelemetryFormat::Json:
            writeTelemetryJson(out, track);
            break;
        case TelemetryFormat::Csv:
            writeTelemetryCsv(out, track);
            break;
        case TelemetryFormat::Gpx:
            writeTelemetryGpx(out, track, name);
            break;
        case TelemetryFormat::Kml:
            writeTelemetryKml(out, track, name);
            break;
        case TelemetryFormat::GeoJson:
            writeTelemetryGeoJson(out, track, name);
            break;
    }
    out.flush();
    if (!out) {
        printError("cannot write the output");
        return kExitFailed;
    }
    return kExitOk;
}

const RegisterCommand kList([](CLI::App& app) -> std::function<int()> {
    auto* sub =
        app.add_subcommand("list", "list the recordings of a card folder, sorted by recording key");
    auto dir = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    sub->add_option("DIR", *dir,
                    "card or folder to scan (subfolders included, hidden ones skipped)")
        ->required();
    sub->add_flag("--json", *json, "one JSON array of rows instead of the table");
    return [dir, json] { return runList(*dir, *json); };
});

const RegisterCommand kTelemetry([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("telemetry", "read the telemetry embedded in a recording");
    auto file = std::make_shared<std::string>();
    auto format = std::make_shared<TelemetryFormat>(TelemetryFormat::Summary);
    sub->add_option("FILE", *file, "recording (.mp4)")->required();
    struct Choice {
        const char* flag;
        const char* help;
        TelemetryFormat format;
    };
    static const Choice kChoices[] = {
        {"--json", "the whole track as JSON", TelemetryFormat::Json},
        {"--csv", "one CSV row per record", TelemetryFormat::Csv},
        {"--gpx", "positions as a GPX 1.1 track", TelemetryFormat::Gpx},
        {"--kml", "positions as a KML 2.2 document", TelemetryFormat::Kml},
        {"--geojson", "positions as a GeoJSON feature collection", TelemetryFormat::GeoJson},
    };
    std::vector<CLI::Option*> flags;
    for (const Choice& c : kChoices) {
        const TelemetryFormat f = c.format;
        flags.push_back(sub->add_flag_callback(
            c.flag, [format, f] { *format = f; }, c.help));
    }
    for (auto* a : flags) {
        for (auto* b : flags) {
            if (a != b)
                a->excludes(b);
        }
    }
    return [file, format] { return runTelemetry(*file, *format); };
});

}  // namespace
}  // namespace orvik::cli
