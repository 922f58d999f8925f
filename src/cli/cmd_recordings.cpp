// orvik-cli list / telemetry: the recording list of a card folder and the telemetry of one
// recording, in the formats the README documents (scripts depend on them).
#include <algorithm>
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
#include "recordings/partner.h"
#include "recordings/telemetry.h"
#include "recordings/track_formats.h"

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

std::string speedText(const GpsFix& f) {
    return number(f.speed) + " " + std::string(speedUnitName(speedUnitOf(f.speedUnitCode)));
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

// The recordings of a folder whose telemetry makes a track: front files, and rear files whose
// front partner is missing (a pair carries the same drive twice).
Result<std::vector<std::string>> trackFilesOfFolder(const std::string& dir) {
    auto rows = catalogueFolder(dir);
    if (!rows)
        return makeError(rows.error());
    std::vector<std::string> all;
    for (const RecordingFile& row : *rows)
        all.push_back(row.fullPath);
    std::sort(all.begin(), all.end());
    std::vector<std::string> files;
    for (const RecordingFile& row : *rows) {
        const auto channel = recordings::channelOfRecording(row);
        if (!channel.front && channel.partnerPath &&
            std::binary_search(all.begin(), all.end(), *channel.partnerPath))
            continue;
        files.push_back(row.fullPath);
    }
    return files;
}

int runTelemetry(const std::vector<std::string>& inputs, TelemetryFormat format, bool allRecords,
                 std::optional<SpeedUnit> unit) {
    const bool single = format == TelemetryFormat::Summary || format == TelemetryFormat::Json;
    if (single && inputs.size() != 1) {
        printError("the summary and --json read one recording; give one FILE");
        return kExitUsage;
    }
    std::vector<RecordingTelemetry> recordings;
    ReadReport report;
    std::size_t skippedFiles = 0;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!single && std::filesystem::is_directory(input, ec)) {
            auto files = trackFilesOfFolder(input);
            if (!files) {
                printError(files.error());
                return kExitFailed;
            }
            for (const std::string& file : *files) {
                RecordingTelemetry r{std::filesystem::path(file).filename().string(), {}};
                ReadReport skipped;
                // One broken file of a folder does not lose the others' track: say so, go on.
                if (failed(r.track.readRecording(file, &skipped))) {
                    printError("skipped: " + skipped.error);
                    ++skippedFiles;
                    continue;
                }
                recordings.push_back(std::move(r));
            }
            continue;
        }
        RecordingTelemetry r{std::filesystem::path(input).filename().string(), {}};
        if (failed(r.track.readRecording(input, &report))) {
            printError(report.error);
            return kExitFailed;
        }
        recordings.push_back(std::move(r));
    }
    // Every recording skipped: an empty track would look like a drive without positions.
    if (recordings.empty() && skippedFiles > 0) {
        printError("no recording could be read (" + std::to_string(skippedFiles) + " skipped)");
        return kExitFailed;
    }
    if (!single)
        sortByTime(recordings);
    const std::string name = inputs.size() == 1
                                 ? std::filesystem::path(inputs.front()).filename().string()
                                 : std::string("orvik track");
    std::ostream& out = std::cout;
    switch (format) {
        case TelemetryFormat::Summary:
            writeTelemetrySummary(out, recordings.front().track, report, inputs.front());
            break;
        case TelemetryFormat::Json:
            writeTelemetryJson(out, recordings.front().track);
            break;
        case TelemetryFormat::Csv:
            writeCsv(out, recordings, CsvOptions{allRecords, unit});
            break;
        case TelemetryFormat::Gpx:
            writeGpx(out, recordings, name, unit);
            break;
        case TelemetryFormat::Kml:
            writeKml(out, recordings, name, unit);
            break;
        case TelemetryFormat::GeoJson:
            writeGeoJson(out, recordings, name, unit);
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
    auto* sub = app.add_subcommand("telemetry", "read the telemetry embedded in recordings");
    auto files = std::make_shared<std::vector<std::string>>();
    auto format = std::make_shared<TelemetryFormat>(TelemetryFormat::Summary);
    auto allRecords = std::make_shared<bool>(false);
    sub->add_option("FILE", *files,
                    "recording (.mp4); the track formats take several recordings or folders and "
                    "merge them in time order, one segment per recording")
        ->required();
    sub->add_flag("--all-records", *allRecords,
                  "--csv: also the records without a valid position (position left empty)");
    auto unit = std::make_shared<std::string>();
    sub->add_option("--unit", *unit,
                    "track formats: speeds converted to km/h or mph (default: as recorded)")
        ->check(CLI::IsMember({"km/h", "mph"}));
    struct Choice {
        const char* flag;
        const char* help;
        TelemetryFormat format;
    };
    static const Choice kChoices[] = {
        {"--json", "the whole track as JSON", TelemetryFormat::Json},
        {"--csv", "one CSV row per record with a valid position", TelemetryFormat::Csv},
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
    return [files, format, allRecords, unit] {
        return runTelemetry(*files, *format, *allRecords, recordings::speedUnitFromName(*unit));
    };
});

}  // namespace
}  // namespace orvik::cli
