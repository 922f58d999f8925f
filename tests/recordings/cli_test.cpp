// orvik-cli list / telemetry as scripts see them: run as a subprocess, output parsed back with
// real parsers (nlohmann for JSON and GeoJSON, xmllint for GPX and KML), exit codes and errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

class Cli : public ::testing::Test {
  protected:
    // orvik-cli with `args`; its output goes to `redirectOut` (a quoted path) when given.
    CliRun run(const std::string& args, const std::string& redirectOut = {}) {
        return orvik::test::runCommand(quote(ORVIK_CLI) + " " + args +
                                       (redirectOut.empty() ? "" : " >" + redirectOut));
    }
    static bool haveXmllint() { return orvik::test::haveProgram("xmllint"); }
    std::string xpath(const std::string& file, const std::string& expr) {
        std::string text =
            orvik::test::runCommand("xmllint --xpath " + quote(expr) + " " + quote(file) + " 2>&1")
                .out;
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
                                   "$GNRMC,120000.250,A,,,,,31.5,90.0,010124,,,A*00\n$GNGSA,A,3,03,"
                                   "07,19,,,,,,,,,,1.8,0.9,1.5*00\n"
                                   "$GNGSA,A,3,66,75*00\n");
        b.speedUnitCode = kSpeedUnitCodeMph;
        b.speed = 37;
        b.accelX = -384;
        TelemetryRecord c =
            RecordingImage::record(1002, "$GNGGA,120001,3333.0000,S,07030.0000,W,1,05,1.4*00\n");
        c.latitude = NmeaAngle(3333.0);
        c.longitude = NmeaAngle(7030.0);
        TelemetryRecord d =
            RecordingImage::record(1003, "$GNGNS,120002,,,,,AA,14,0.7*00\n$GPTXT,hello*00\n");
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

    r = run("telemetry " + quote(file) + " --csv");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 6);
    EXPECT_NE(r.out.find("\n3,1003,"), std::string::npos);
    EXPECT_NE(r.out.find(",7,,,3,km/h,"), std::string::npos);  // the record without position

    if (!haveXmllint())
        GTEST_SKIP() << "xmllint not installed";
    for (const char* format : {"--gpx", "--kml"}) {
        SCOPED_TRACE(format);
        const auto path = scratch_.path() / "track.xml";
        r = run("telemetry " + quote(file) + " " + format, quote(path.string()));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(orvik::test::runCommand("xmllint --noout " + quote(path.string())).status, 0);
        if (std::string(format) == "--gpx") {
            EXPECT_EQ(xpath(path.string(), "count(//*[local-name()='trkpt'])"), "4");
            EXPECT_EQ(xpath(path.string(), "string((//*[local-name()='trkpt'])[3]/@lat)"),
                      "-33.5500000");
        } else {
            EXPECT_EQ(xpath(path.string(), "count(//*[local-name()='Point'])"), "4");
            EXPECT_EQ(xpath(path.string(), "namespace-uri(/*)"), "http://www.opengis.net/kml/2.2");
        }
    }
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
        EXPECT_EQ(orvik::test::runCommand("xmllint --noout " + quote(path.string())).status, 0)
            << format;
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

TEST_F(Cli, BadUsageExitsWithTwo) {
    EXPECT_EQ(run("list").status, 2);
    EXPECT_EQ(run("telemetry").status, 2);
    EXPECT_EQ(run("telemetry x.mp4 --json --gpx").status, 2);
    EXPECT_EQ(run("telemetry x.mp4 --yaml").status, 2);
}

}  // namespace
}  // namespace orvik::recordings
