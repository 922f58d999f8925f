// orvik-cli list / telemetry as scripts see them: run as a subprocess, output parsed back with
// real parsers (nlohmann for JSON and GeoJSON, xmllint for GPX and KML), exit codes and errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/test_support.h"
#include "synthetic_recording.h"

namespace orvik::recordings {
namespace {

using nlohmann::json;
using orvik::test::TempDir;
using testing::RecordingImage;

using CliRun = orvik::test::RunResult;
using orvik::test::quote;

using orvik::test::readFile;
using orvik::test::runCommand;

class Cli : public ::testing::Test {
  protected:
    // orvik-cli with `args` (a minute at most); its output goes to `redirectOut` (a quoted path)
    // when given.
    CliRun run(const std::string& args, const std::string& redirectOut = {}) {
        return orvik::test::runCommand("timeout 60 " + quote(ORVIK_CLI) + " " + args +
                                       (redirectOut.empty() ? "" : " >" + redirectOut));
    }
    static bool haveXmllint() { return orvik::test::haveProgram("xmllint"); }
    std::string xpath(const std::string& file, const std::string& expr) {
        std::string text = runCommand("xmllint --xpath " + quote(expr) + " " + quote(file)).out;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }

    // A recording with a bit of everything: mph records, southern/western hemispheres from the
    // text, GSA per system, a GNS taking over, RMC times and one broken slot.
    std::string craftedRecording() {
        TelemetryRecord a = RecordingImage::record(1000);
        TelemetryRecord b =
            RecordingImage::record(1001,
                                   "$GNRMC,120000.250,A,,,,,31.5,90.0,010124,,,A*47\n$GNGSA,A,3,03,"
                                   "07,19,,,,,,,,,,1.8,0.9,1.5*24\n"
                                   "$GNGSA,A,3,66,75*2C\n");
        b.speedUnitCode = kSpeedUnitCodeMph;
        b.speed = 37;
        b.accelX = -384;
        TelemetryRecord c =
            RecordingImage::record(1002, "$GNGGA,120001,3333.0000,S,07030.0000,W,1,05,1.4*65\n");
        c.latitude = NmeaAngle(3333.0);
        c.longitude = NmeaAngle(7030.0);
        TelemetryRecord d =
            RecordingImage::record(1003, "$GNGNS,120002,,,,,AA,14,0.7*7E\n$GPTXT,hello*01\n");
        d.latitude = NmeaAngle(0.0);
        d.longitude = NmeaAngle(0.0);  // no position: left out of the track formats
        RecordingImage image;
        image.ftyp()
            .moov()
            .fragment({a, b, std::nullopt, c})
            .fragment({d, RecordingImage::record(1004)});
        const auto path = scratch_.path() / "event_20240101_120000_F.mp4";
        EXPECT_TRUE(image.writeTo(path.string()));
        return path.string();
    }

    TempDir scratch_;
};

TEST_F(Cli, ListJsonRowsAreSortedWithTheDocumentedKeys) {
    TempDir card;
    RecordingImage image;
    image.ftyp().moov().fullFragment(1);
    image.writeTo((card.path() / "event_20190305_142233_R.mp4").string());
    card.touch("DCIM/event_20190305_142233_F.mp4");
    card.touch("DCIM/.hidden/alwa_20190305_142233_F.mp4");
    card.touch("motion_20191301_000000_F.mp4");  // invalid date
    card.touch("clip.mp4.bak");
    const CliRun r = run("list " + quote(card.str()) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = nlohmann::ordered_json::parse(r.out);
    ASSERT_TRUE(rows.is_array());
    ASSERT_EQ(rows.size(), 3u);
    const auto& first = rows[0];
    std::vector<std::string> keys;
    for (auto it = first.begin(); it != first.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"kind", "kindName", "date", "time", "channel", "key",
                                              "name", "path"}));
    EXPECT_EQ(first["kind"], 2);
    EXPECT_EQ(first["kindName"], "Event");
    EXPECT_EQ(first["date"], "2019-03-05");
    EXPECT_EQ(first["time"], "14:22:33");
    EXPECT_EQ(first["channel"], "F");
    EXPECT_EQ(first["key"], "20190305_142233_F");
    EXPECT_EQ(first["path"], card.str() + "/DCIM/event_20190305_142233_F.mp4");
    EXPECT_EQ(rows[1]["channel"], "R");
    EXPECT_EQ(rows[2]["kind"], 4);
    EXPECT_EQ(rows[2]["date"], "");
    EXPECT_EQ(rows[2]["time"], "");
}

TEST_F(Cli, ListTableAndEmptyFolders) {
    TempDir card;
    card.touch("user_20190305_142233_F.mp4");
    CliRun r = run("list " + quote(card.str()));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Type", 0), 0u);
    EXPECT_NE(r.out.find("User      2019-03-05  14:22:33  F"), std::string::npos) << r.out;
    TempDir empty;
    r = run("list " + quote(empty.str()) + " --json");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out), json::array());
}

TEST_F(Cli, TelemetryJsonMatchesTheGoldenFile) {
    const std::string file = craftedRecording();
    const CliRun r = run("telemetry " + quote(file) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = json::parse(r.out);  // valid JSON whatever the golden file says
    EXPECT_EQ(doc["fixes"].size(), 5u);
    EXPECT_EQ(doc["fixes"][0]["prns"].size(), 12u);
    EXPECT_TRUE(doc["fixes"][0]["time"].is_object());

    orvik::test::expectGolden("recordings/golden/telemetry_crafted.json", r.out);
}

TEST_F(Cli, TrackFormatsParseAsTheirFormats) {
    const std::string file = craftedRecording();
    // GeoJSON: a LineString of the four positions, then one Point with speed for each.
    CliRun r = run("telemetry " + quote(file) + " --geojson");
    ASSERT_EQ(r.status, 0);
    const json geo = json::parse(r.out);
    EXPECT_EQ(geo["type"], "FeatureCollection");
    ASSERT_EQ(geo["features"].size(), 5u);
    EXPECT_EQ(geo["features"][0]["geometry"]["type"], "LineString");
    EXPECT_EQ(geo["features"][0]["geometry"]["coordinates"].size(), 4u);
    const json& south = geo["features"][3];
    EXPECT_EQ(south["geometry"]["type"], "Point");
    EXPECT_NEAR(south["geometry"]["coordinates"][0].get<double>(), -70.5, 1e-9);  // lon first
    EXPECT_NEAR(south["geometry"]["coordinates"][1].get<double>(), -33.55, 1e-9);
    EXPECT_EQ(geo["features"][2]["properties"]["speed"], 37.0);
    EXPECT_EQ(geo["features"][2]["properties"]["speedUnit"], "mph");

    // CSV: a header and one row per record with a position; --all-records keeps the others.
    r = run("telemetry " + quote(file) + " --csv");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "time,latitude,longitude,altitude,speed,as_recorded,recorded_unit,satellites,"
              "hdop,file,record,camera_timestamp,gx,gy,gz,WKT");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
    EXPECT_NE(r.out.find(",-33.5500000,-70.5000000,,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("POINT (-70.5000000 -33.5500000)"), std::string::npos);
    r = run("telemetry " + quote(file) + " --csv --all-records");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 6);
    EXPECT_NE(r.out.find(",,,,0.833,3,km/h,"), std::string::npos) << r.out;  // no position

    if (!haveXmllint())
        GTEST_SKIP() << "xmllint not installed";
    for (const char* format : {"--gpx", "--kml"}) {
        SCOPED_TRACE(format);
        const auto path = scratch_.path() / "track.xml";
        r = run("telemetry " + quote(file) + " " + format, quote(path.string()));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(runCommand("xmllint --noout " + quote(path.string())).status, 0);
        if (std::string(format) == "--gpx") {
            EXPECT_EQ(xpath(path.string(), "count(//*[local-name()='trkpt'])"), "4");
            EXPECT_EQ(xpath(path.string(), "string((//*[local-name()='trkpt'])[3]/@lat)"),
                      "-33.5500000");
            EXPECT_EQ(xpath(path.string(),
                            "string((//*[local-name()='trkpt'])[2]/*[local-name()='time'])"),
                      "2024-01-01T12:00:00.250Z");
        } else {
            EXPECT_EQ(xpath(path.string(), "count(//*[local-name()='Point'])"), "4");
            EXPECT_EQ(xpath(path.string(), "namespace-uri(/*)"), "http://www.opengis.net/kml/2.2");
        }
    }
}

TEST_F(Cli, TrackFormatsConvertSpeedsToTheChosenUnit) {
    const std::string file = craftedRecording();
    // The third point was recorded as 37 mph, the others in km/h.
    CliRun r = run("telemetry " + quote(file) + " --geojson --unit km/h");
    ASSERT_EQ(r.status, 0) << r.err;
    json geo = json::parse(r.out);
    EXPECT_EQ(geo["features"][2]["properties"]["speed"], 59.5);
    EXPECT_EQ(geo["features"][2]["properties"]["speedUnit"], "km/h");
    const double kmh = geo["features"][1]["properties"]["speed"].get<double>();
    r = run("telemetry " + quote(file) + " --geojson --unit mph");
    ASSERT_EQ(r.status, 0) << r.err;
    geo = json::parse(r.out);
    EXPECT_EQ(geo["features"][2]["properties"]["speed"], 37.0);
    EXPECT_EQ(geo["features"][1]["properties"]["speedUnit"], "mph");
    EXPECT_NEAR(geo["features"][1]["properties"]["speed"].get<double>(), kmh / 1.609344, 0.051);
    // CSV: the as-recorded columns follow; the m/s column does not change.
    r = run("telemetry " + quote(file) + " --csv --unit km/h");
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(",59.5,km/h,"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(",mph,"), std::string::npos);
    for (const char* format : {"--gpx", "--kml"}) {
        r = run("telemetry " + quote(file) + " " + format + " --unit km/h");
        ASSERT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("59.5 km/h"), std::string::npos) << format;
        EXPECT_EQ(r.out.find(" mph"), std::string::npos) << format;
    }
    EXPECT_EQ(run("telemetry " + quote(file) + " --csv --unit knots").status, 2);
}

TEST_F(Cli, NamesThatAreNotUtf8OrNeedEscapingStillGiveValidDocuments) {
    TempDir card;
    RecordingImage image;
    image.ftyp().moov().fullFragment(1);
    const std::string name = "event_20190305_142233_F \xff&<\"'.mp4";
    ASSERT_TRUE(image.writeTo((card.path() / name).string()));
    CliRun r = run("list " + quote(card.str()) + " --json");
    ASSERT_EQ(r.status, 0);
    const json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["kind"], 2);
    const std::string file = (card.path() / name).string();
    r = run("telemetry " + quote(file) + " --geojson");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(json::accept(r.out));
    if (!haveXmllint())
        GTEST_SKIP() << "xmllint not installed";
    for (const char* format : {"--gpx", "--kml"}) {
        const auto path = scratch_.path() / "named.xml";
        r = run("telemetry " + quote(file) + " " + format, quote(path.string()));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(runCommand("xmllint --noout " + quote(path.string())).status, 0) << format;
    }
}

TEST_F(Cli, TelemetryWithoutRecordsIsAnEmptyTrack) {
    RecordingImage image;
    image.ftyp().moov();
    const auto path = scratch_.path() / "plain.mp4";
    image.writeTo(path.string());
    CliRun r = run("telemetry " + quote(path.string()) + " --json");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out)["fixes"], json::array());
    r = run("telemetry " + quote(path.string()) + " --geojson");
    EXPECT_EQ(json::parse(r.out)["features"], json::array());
    r = run("telemetry " + quote(path.string()));
    EXPECT_NE(r.out.find("records:        0"), std::string::npos) << r.out;
}

TEST_F(Cli, ErrorsAreOneLineAndExitStatusOne) {
    const auto notRecording = scratch_.path() / "text.mp4";
    std::ofstream(notRecording) << "hello";
    const auto hidden = scratch_.path() / ".hidden";
    std::filesystem::create_directory(hidden);
    const std::string cases[] = {
        "telemetry " + quote((scratch_.path() / "missing.mp4").string()),
        "telemetry " + quote(notRecording.string()) + " --json",
        "telemetry " + quote(scratch_.str()),
        "list " + quote((scratch_.path() / "missing").string()),
        "list " + quote(notRecording.string()),
        "list " + quote(hidden.string()),
    };
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("orvik-cli: ", 0), 0u) << r.err;
    }
    // Output that cannot be written is a failure, not a silent success.
    const CliRun full = run("telemetry " + quote(craftedRecording()) + " --json", "/dev/full");
    EXPECT_EQ(full.status, 1);
}

// "$" + body + "*" + its checksum + LF.
std::string sentence(std::string_view body) {
    unsigned sum = 0;
    for (char c : body)
        sum ^= static_cast<unsigned char>(c);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + std::string(body) + "*" + hex + "\n";
}

// A record at a moment of a drive south-west of the equator: RMC (time, status) + GGA.
TelemetryRecord driveRecord(std::uint32_t timestamp, int second, bool valid, double altitude) {
    char clock[32], gga[160], rmc[160];
    std::snprintf(clock, sizeof clock, "1200%02d.50", second);
    // Both must fit the record's 128 bytes of text.
    std::snprintf(rmc, sizeof rmc, "GNRMC,%s,%c,3351.00,S,15112.00,W,10.0,90.0,020324", clock,
                  valid ? 'A' : 'V');
    std::snprintf(gga, sizeof gga, "GNGGA,%s,3351.00,S,15112.00,W,%d,08,0.9,%.1f,M", clock,
                  valid ? 1 : 0, altitude);
    TelemetryRecord r = RecordingImage::record(timestamp, sentence(rmc) + sentence(gga));
    r.latitude = NmeaAngle(3351.0 + second / 100.0);
    r.longitude = NmeaAngle(15112.0);
    r.speed = 36;
    return r;
}

std::string writeDrive(const std::filesystem::path& path, int firstSecond, int count,
                       int invalidAt = -1) {
    RecordingImage image;
    image.ftyp().moov();
    std::vector<std::optional<TelemetryRecord>> slots;
    for (int i = 0; i < count; ++i) {
        slots.push_back(driveRecord(static_cast<std::uint32_t>(firstSecond + i), firstSecond + i,
                                    i != invalidAt, 31.5 + i));
    }
    image.fragment(slots);
    EXPECT_TRUE(image.writeTo(path.string()));
    return path.string();
}

TEST_F(Cli, GpxIsValidGpx11WithTimesElevationAndSpeed) {
    if (!haveXmllint())
        GTEST_SKIP() << "xmllint not installed";
    // The first fix of a southern, western drive has its sign from the first sentence.
    const std::string file = writeDrive(scratch_.path() / "alwa_20240302_120000_F.mp4", 0, 4);
    const auto gpx = scratch_.path() / "track.gpx";
    const CliRun r = run("telemetry " + quote(file) + " --gpx", quote(gpx.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string schema = std::string(ORVIK_SOURCE_DIR) + "/tests/recordings/data/gpx11.xsd";
    EXPECT_EQ(runCommand("xmllint --noout --schema " + quote(schema) + " " + quote(gpx.string()) +
                         " 2>/dev/null")
                  .status,
              0)
        << readFile(gpx);
    EXPECT_EQ(xpath(gpx.string(), "count(//*[local-name()='trkpt'])"), "4");
    EXPECT_EQ(xpath(gpx.string(), "count(//*[local-name()='trkpt'][*[local-name()='time']])"), "4");
    EXPECT_EQ(xpath(gpx.string(), "string((//*[local-name()='trkpt'])[1]/@lat)"), "-33.8500000");
    EXPECT_EQ(xpath(gpx.string(), "string((//*[local-name()='trkpt'])[1]/@lon)"), "-151.2000000");
    EXPECT_EQ(xpath(gpx.string(), "string((//*[local-name()='trkpt'])[2]/*[local-name()='time'])"),
              "2024-03-02T12:00:01.500Z");
    EXPECT_EQ(xpath(gpx.string(), "string((//*[local-name()='trkpt'])[2]/*[local-name()='ele'])"),
              "32.5");
    EXPECT_EQ(xpath(gpx.string(), "string((//*[local-name()='speed'])[1])"), "10.000");
}

TEST_F(Cli, PositionsTheReceiverMarkedInvalidAreLeftOutOfEveryTrack) {
    const std::string file = writeDrive(scratch_.path() / "alwa_20240302_120000_F.mp4", 0, 5, 2);
    CliRun r = run("telemetry " + quote(file) + " --geojson");
    ASSERT_EQ(r.status, 0);
    const json geo = json::parse(r.out);
    ASSERT_EQ(geo["features"].size(), 5u);  // the line and four points
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_NE(geo["features"][i]["properties"]["index"], 2) << i;
    EXPECT_EQ(geo["features"][1]["properties"]["time"], "2024-03-02T12:00:00.500Z");
    r = run("telemetry " + quote(file) + " --csv");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
    EXPECT_EQ(r.out.find("12:00:02.500Z"), std::string::npos);
    r = run("telemetry " + quote(file) + " --kml");
    EXPECT_EQ(r.out.find("12:00:02.500Z"), std::string::npos);
    EXPECT_NE(r.out.find("<TimeStamp><when>2024-03-02T12:00:03.500Z</when></TimeStamp>"),
              std::string::npos);
}

TEST_F(Cli, SeveralRecordingsAndFoldersMergeInTimeOrderOneSegmentEach) {
    TempDir card;
    const std::string later = writeDrive(card.path() / "alwa_20240302_120010_F.mp4", 10, 3);
    const std::string earlier = writeDrive(card.path() / "alwa_20240302_120000_F.mp4", 0, 2);
    // A rear partner carries the same drive: a folder export takes the front file only.
    writeDrive(card.path() / "alwa_20240302_120000_R.mp4", 0, 2);
    const auto gpx = scratch_.path() / "merged.gpx";
    CliRun r =
        run("telemetry " + quote(later) + " " + quote(earlier) + " --gpx", quote(gpx.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    if (haveXmllint()) {
        EXPECT_EQ(xpath(gpx.string(), "count(//*[local-name()='trkseg'])"), "2");
        EXPECT_EQ(xpath(gpx.string(), "count((//*[local-name()='trkseg'])[1]/*)"), "2");
        EXPECT_EQ(xpath(gpx.string(),
                        "string((//*[local-name()='trkseg'])[2]/*[1]/*[local-name()='time'])"),
                  "2024-03-02T12:00:10.500Z");
    }
    r = run("telemetry " + quote(card.str()) + " --geojson");
    ASSERT_EQ(r.status, 0) << r.err;
    const json geo = json::parse(r.out);
    std::vector<std::string> lines;
    for (const json& f : geo["features"]) {
        if (f["geometry"]["type"] == "LineString")
            lines.push_back(f["properties"]["file"]);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"alwa_20240302_120000_F.mp4",
                                               "alwa_20240302_120010_F.mp4"}));
    EXPECT_EQ(run("telemetry " + quote(later) + " " + quote(earlier) + " --json").status, 2);
}

TEST_F(Cli, GpsbabelAndGdalReadTheCsvWithTheSamePointsAsTheGpx) {
    if (!orvik::test::haveProgram("gpsbabel") || !orvik::test::haveProgram("ogr2ogr"))
        GTEST_SKIP() << "gpsbabel or ogr2ogr not installed (Debian gpsbabel, gdal-bin)";
    const std::string file = writeDrive(scratch_.path() / "alwa_20240302_120000_F.mp4", 0, 6, 3);
    const auto csv = scratch_.path() / "track.csv";
    const auto gpx = scratch_.path() / "track.gpx";
    ASSERT_EQ(run("telemetry " + quote(file) + " --csv", quote(csv.string())).status, 0);
    ASSERT_EQ(run("telemetry " + quote(file) + " --gpx", quote(gpx.string())).status, 0);
    // gpsbabel reads both; the points (position, date, time, speed) must be the same.
    const auto points = [&](const std::string& input) {
        const auto out = scratch_.path() / "babel.csv";
        EXPECT_EQ(runCommand("gpsbabel " + input + " -o unicsv -F " + quote(out.string()) + " 2>&1")
                      .status,
                  0);
        std::istringstream in(readFile(out));
        std::string line;
        const auto readLine = [&in](std::string& l) {
            if (!std::getline(in, l))
                return false;
            if (!l.empty() && l.back() == '\r')  // gpsbabel ends lines with CR LF
                l.pop_back();
            return true;
        };
        readLine(line);
        std::vector<std::string> header;
        std::stringstream hs(line);
        for (std::string h; std::getline(hs, h, ',');)
            header.push_back(h);
        std::vector<std::string> rows;
        while (readLine(line)) {
            std::stringstream ls(line);
            std::string row;
            std::size_t col = 0;
            for (std::string v; std::getline(ls, v, ','); ++col) {
                if (col < header.size() &&
                    (header[col] == "Latitude" || header[col] == "Longitude" ||
                     header[col] == "Date" || header[col] == "Time" || header[col] == "Altitude"))
                    row += v + " ";
            }
            rows.push_back(row);
        }
        return rows;
    };
    const auto fromCsv = points("-i unicsv -f " + quote(csv.string()));
    const auto fromGpx = points("-t -i gpx -f " + quote(gpx.string()));
    ASSERT_EQ(fromCsv.size(), 5u);
    EXPECT_EQ(fromCsv, fromGpx);
    EXPECT_EQ(fromCsv[0], "-33.850000 -151.200000 31.5 2024/03/02 12:00:00.500 ");
    // GDAL's CSV driver takes the WKT column as the geometry.
    const auto geo = scratch_.path() / "ogr.json";
    ASSERT_EQ(runCommand("ogr2ogr -f GeoJSON " + quote(geo.string()) + " " + quote(csv.string()) +
                         " 2>&1")
                  .status,
              0);
    const json doc = json::parse(readFile(geo));
    ASSERT_EQ(doc["features"].size(), 5u);
    EXPECT_EQ(doc["features"][0]["geometry"]["type"], "Point");
    EXPECT_NEAR(doc["features"][0]["geometry"]["coordinates"][0].get<double>(), -151.2, 1e-9);
    EXPECT_NEAR(doc["features"][0]["geometry"]["coordinates"][1].get<double>(), -33.85, 1e-9);
    EXPECT_EQ(doc["features"][4]["properties"]["time"], "2024-03-02T12:00:05.500Z");
}

TEST_F(Cli, AFifoNamedLikeARecordingIsRefusedAtOnce) {
    const auto fifo = scratch_.path() / "alwa_20240302_120000_F.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const char* args : {"", " --json", " --gpx"}) {
        const CliRun r = run("telemetry " + quote(fifo.string()) + args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    }
}

// A folder whose every recording had to be skipped gives no track at all, not an empty one
// that looks like a drive without positions.
TEST_F(Cli, AFolderWhoseEveryRecordingIsSkippedIsAFailure) {
    const auto card = scratch_.path() / "card";
    std::filesystem::create_directories(card);
    std::ofstream(card / "alwa_20240302_120000_F.mp4") << "not a recording";
    std::ofstream(card / "alwa_20240302_120100_F.mp4") << "nor this";
    for (const char* format : {" --gpx", " --csv", " --kml", " --geojson"}) {
        SCOPED_TRACE(format);
        const CliRun r = run("telemetry " + quote(card.string()) + format);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("orvik-cli: no recording could be read (2 skipped)"),
                  std::string::npos)
            << r.err;
    }
    // One readable recording beside them: its track, the others reported.
    writeDrive(card / "alwa_20240302_120200_F.mp4", 0, 2);
    const CliRun some = run("telemetry " + quote(card.string()) + " --geojson");
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_EQ(std::count(some.err.begin(), some.err.end(), '\n'), 2) << some.err;
    // An empty folder is an empty track, as before.
    std::filesystem::create_directories(scratch_.path() / "empty");
    EXPECT_EQ(run("telemetry " + quote((scratch_.path() / "empty").string()) + " --gpx").status, 0);
}

// Numbers out of range are refused in one short line, not written out in full.
TEST_F(Cli, OutOfRangeSecondsAreOneShortLine) {
    const std::string file = writeDrive(scratch_.path() / "alwa_20240302_120000_F.mp4", 0, 2);
    const std::string out = quote((scratch_.path() / "x.mp4").string());
    const std::pair<std::string, std::string> cases[] = {
        {"trips " + quote(scratch_.str()) + " --gap inf", "--gap: 0 to 86400 seconds"},
        {"trips " + quote(scratch_.str()) + " --gap 1e300", "--gap: 0 to 86400 seconds"},
        {"trips " + quote(scratch_.str()) + " --gap -1", "--gap: 0 to 86400 seconds"},
        {"trips " + quote(scratch_.str()) + " --gap nan", "--gap: 0 to 86400 seconds"},
        {"clip " + quote(file) + " --from 0 --to 1e300 --out " + out,
         "--to: seconds (-86400 to 86400)"},
        {"clip " + quote(file) + " --from -1e300 --to 1 --out " + out,
         "--from: seconds (-86400 to 86400)"},
        {"snapshot " + quote(file) + " --at 1e20 --out x.png", "--at: seconds (-86400 to 86400)"},
    };
    for (const auto& [args, said] : cases) {
        SCOPED_TRACE(args);
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        EXPECT_LT(r.err.size(), 200u) << r.err;
    }
}

TEST_F(Cli, BadUsageExitsWithTwo) {
    EXPECT_EQ(run("list").status, 2);
    EXPECT_EQ(run("telemetry").status, 2);
    EXPECT_EQ(run("telemetry x.mp4 --json --gpx").status, 2);
    EXPECT_EQ(run("telemetry x.mp4 --yaml").status, 2);
}

}  // namespace
}  // namespace orvik::recordings
