// orvik-cli evidence and verify on a generated card, checked with the tools the people who
// receive a package use: sha256sum, pdftotext and pdfinfo, xmllint with the GPX schema,
// exiftool; verify against every file with a byte flipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "support/test_support.h"

namespace orvik::evidence {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using orvik::test::quote;
using orvik::test::readFile;
using orvik::test::runCommand;
using orvik::test::RunResult;

bool have(const char* tool) {
    return orvik::test::haveProgram(tool);
}

RunResult cli(const std::string& args) {
    // A hang fails the test instead of the whole run.
    return runCommand("timeout 300 " + quote(ORVIK_CLI) + " " + args);
}

std::string firstLine(std::string s) {
    s = s.substr(0, s.find('\n'));
    return s;
}

class EvidenceCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new orvik::test::TempDir;
        const fs::path card = dir_->path() / "card";
        ASSERT_EQ(runCommand(quote(ORVIK_SAMPLECARD) + " --out " + quote(card.string()) +
                             " --count 1 --duration 5 -q")
                      .status,
                  0);
        for (const auto& e : fs::recursive_directory_iterator(card)) {
            const std::string name = e.path().filename().string();
            if (e.path().parent_path().filename() != "Event")
                continue;
            if (name.rfind("event_", 0) == 0 && name.ends_with("_F.mp4"))
                front_ = new std::string(e.path().string());
        }
        ASSERT_NE(front_, nullptr);
        package_ = new fs::path(dir_->path() / "incident");
        const RunResult r = cli("evidence " + quote(*front_) + " --from 1 --to 4 --out " +
                                quote(package_->string()) + " --lang en --note " +
                                quote("Rear-ended at the junction; driver's name on file."));
        ASSERT_EQ(r.status, 0) << r.err;
        out_ = new std::string(r.out);
        ASSERT_TRUE(have("pdftotext"));
        report_ = new std::string(
            runCommand("pdftotext -layout " + quote((*package_ / "report.pdf").string()) + " -")
                .out);
    }
    static void TearDownTestSuite() {
        delete dir_;
        delete front_;
        delete package_;
        delete out_;
        delete report_;
    }
    static std::string rear() {
        std::string r = *front_;
        r[r.size() - 5] = 'R';
        return r;
    }
    static json manifest() { return json::parse(readFile(*package_ / "manifest.json")); }
    static std::string xpath(const fs::path& file, const std::string& expr) {
        std::string s =
            runCommand("xmllint --xpath " + quote(expr) + " " + quote(file.string())).out;
        while (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    }

    static inline orvik::test::TempDir* dir_ = nullptr;
    static inline std::string* front_ = nullptr;
    static inline fs::path* package_ = nullptr;
    static inline std::string* out_ = nullptr;
    static inline std::string* report_ = nullptr;
    orvik::test::TempDir scratch_;
};

TEST_F(EvidenceCli, Sha256sumChecksThePackageAndTheManifestHoldsTheRecordingsHashes) {
    ASSERT_TRUE(have("sha256sum"));
    const RunResult check =
        runCommand("cd " + quote(package_->string()) + " && sha256sum --strict -c SHA256SUMS");
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    // Every file but SHA256SUMS itself is in it.
    const std::string sums = readFile(*package_ / "SHA256SUMS");
    for (const auto& e : fs::directory_iterator(*package_)) {
        const std::string name = e.path().filename().string();
        if (name != "SHA256SUMS") {
            EXPECT_NE(sums.find("  " + name + "\n"), std::string::npos) << name;
        }
    }
    const json m = manifest();
    ASSERT_EQ(m["sources"].size(), 2u);
    for (const json& s : m["sources"]) {
        const std::string path = s["path"];
        const std::string expected =
            firstLine(runCommand("sha256sum " + quote(path)).out).substr(0, 64);
        EXPECT_EQ(s["sha256"], expected) << path;
    }
    EXPECT_EQ(m["sources"][0]["path"], fs::canonical(*front_).string());
    EXPECT_EQ(m["sources"][1]["path"], fs::canonical(rear()).string());
    EXPECT_EQ(m["program"]["name"], "orvik-cli");
    EXPECT_EQ(m["program"]["command"][1], "evidence");
    EXPECT_EQ(m["range"]["segments"][0]["fromSeconds"], 1.0);
    // The command says where the package is and how big its report came out.
    EXPECT_EQ(firstLine(*out_), package_->string());
    EXPECT_TRUE(std::regex_search(*out_, std::regex("report: [0-9]+ pages, [0-9]+ bytes")))
        << *out_;
}

TEST_F(EvidenceCli, TheReportShowsDatePositionTopSpeedAndEveryHashOnA4) {
    ASSERT_TRUE(have("pdfinfo") && have("xmllint"));
    const std::string info =
        runCommand("pdfinfo " + quote((*package_ / "report.pdf").string())).out;
    EXPECT_NE(info.find("(A4)"), std::string::npos) << info;
    const std::string& text = *report_;
    // The date of the recording's name.
    const std::string name = fs::path(*front_).filename().string();
    const std::string date =
        name.substr(6, 4) + "-" + name.substr(10, 2) + "-" + name.substr(12, 2);
    EXPECT_NE(text.find(date), std::string::npos) << text;
    // The start position as the track writes it.
    const fs::path gpx = *package_ / "track.gpx";
    const std::string lat = xpath(gpx, "string((//*[local-name()='trkpt'])[1]/@lat)");
    const std::string lon = xpath(gpx, "string((//*[local-name()='trkpt'])[1]/@lon)");
    ASSERT_FALSE(lat.empty());
    EXPECT_NE(text.find(lat + ", " + lon), std::string::npos) << lat << ", " << lon << "\n" << text;
    // The top speed of the stretch's records (all of them have a fix on this drive).
    double top = 0;
    const int points = std::atoi(xpath(gpx, "count(//*[local-name()='trkpt'])").c_str());
    ASSERT_GT(points, 20);
    for (int i = 1; i <= points; ++i) {
        const std::string desc = xpath(gpx, "string((//*[local-name()='trkpt'])[" +
                                                std::to_string(i) + "]/*[local-name()='desc'])");
        top = std::max(top, std::atof(desc.c_str()));
    }
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f km/h", top);
    EXPECT_NE(text.find(speed), std::string::npos) << speed << "\n" << text;
    // The same facts for programs.
    const json facts = manifest()["facts"];
    EXPECT_DOUBLE_EQ(facts["topSpeed"].get<double>(), top);
    EXPECT_EQ(facts["speedUnit"], "km/h");
    EXPECT_NEAR(facts["startPosition"][0].get<double>(), std::atof(lat.c_str()), 1e-7);
    ASSERT_EQ(facts["impacts"].size(), 1u);  // the event recording's impact is in 1..4 s
    for (const json& s : manifest()["sources"])
        EXPECT_NE(text.find(s["sha256"].get<std::string>()), std::string::npos) << s["path"];
    for (const json& o : manifest()["outputs"]) {
        if (o["name"] != "report.pdf") {
            EXPECT_NE(text.find(o["sha256"].get<std::string>()), std::string::npos) << o["name"];
        }
    }
    EXPECT_NE(text.find("Rear-ended at the junction"), std::string::npos);
    EXPECT_NE(text.find("Impacts"), std::string::npos);
    EXPECT_NE(text.find("config_K7x7.bin"), std::string::npos);
}

TEST_F(EvidenceCli, TrackIsValidGpx11AndStillsCarryTheirPosition) {
    ASSERT_TRUE(have("xmllint") && have("exiftool"));
    const std::string schema = std::string(ORVIK_SOURCE_DIR) + "/tests/recordings/data/gpx11.xsd";
    const fs::path gpx = *package_ / "track.gpx";
    const RunResult valid =
        runCommand("xmllint --noout --schema " + quote(schema) + " " + quote(gpx.string()));
    EXPECT_EQ(valid.status, 0) << valid.err;
    EXPECT_EQ(runCommand("xmllint --noout " + quote((*package_ / "track.kml").string())).status, 0);
    // 3 s of 11 records a second: the records the viewer shows in the stretch, not the whole
    // recording's 55.
    const int points = std::atoi(xpath(gpx, "count(//*[local-name()='trkpt'])").c_str());
    EXPECT_NEAR(points, 33, 1);
    const double lat = std::atof(xpath(gpx, "string((//*[local-name()='trkpt'])[1]/@lat)").c_str());
    for (const char* still : {"still-start-front.jpg", "still-start-rear.jpg",
                              "still-impact-front.jpg", "still-end-rear.jpg"}) {
        const std::string tag = firstLine(
            runCommand("exiftool -s3 -n -GPSLatitude " + quote((*package_ / still).string())).out);
        ASSERT_FALSE(tag.empty()) << still;
        EXPECT_NEAR(std::atof(tag.c_str()), lat, 0.001) << still;
    }
}

TEST_F(EvidenceCli, VerifyNamesEveryFileWithAFlippedByteAndPassesOnceItIsRestored) {
    const fs::path copy = scratch_.path() / "copy";
    fs::copy(*package_, copy);
    RunResult r = cli("verify " + quote(copy.string()));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("package intact"), std::string::npos);
    EXPECT_NE(r.out.find("sources: 2 intact"), std::string::npos) << r.out;
    for (const auto& e : fs::directory_iterator(copy)) {
        const std::string name = e.path().filename().string();
        std::string bytes = readFile(e.path());
        const std::string original = bytes;
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
        ASSERT_TRUE(orvik::test::writeFile(e.path(), bytes));
        r = cli("verify " + quote(copy.string()));
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.out.find(name + ": "), std::string::npos) << name << "\n" << r.out;
        ASSERT_TRUE(orvik::test::writeFile(e.path(), original));
        r = cli("verify " + quote(copy.string()));
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
    }
    // Handed on without the card: the sources are not found, which is no fault of the package.
    const fs::path card = dir_->path() / "card";
    const fs::path away = dir_->path() / "card-away";
    fs::rename(card, away);
    r = cli("verify " + quote(copy.string()));
    fs::rename(away, card);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("2 not found"), std::string::npos) << r.out;
    r = cli("verify " + quote((scratch_.path() / "nothing").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a folder"), std::string::npos);
}

TEST_F(EvidenceCli, KoreanReportAndTheCameraClockOnTheCard) {
    const std::string name = fs::path(*front_).filename().string();
    const std::string local = name.substr(6, 4) + "-" + name.substr(10, 2) + "-" +
                              name.substr(12, 2) + "T" + name.substr(15, 2) + ":" +
                              name.substr(17, 2) + ":";
    const int second = std::atoi(name.substr(19, 2).c_str());
    ASSERT_LE(second, 50);
    char from[16], to[16];
    std::snprintf(from, sizeof from, "%02d", second + 1);
    std::snprintf(to, sizeof to, "%02d", second + 4);
    const fs::path out = scratch_.path() / "사고";
    const RunResult r =
        cli("evidence " + quote((dir_->path() / "card").string()) + " --from " + local + from +
            " --to " + local + to + " --layout front --out " + quote(out.string()) + " --lang ko");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text =
        runCommand("pdftotext " + quote((out / "report.pdf").string()) + " -").out;
    EXPECT_NE(text.find("증거 자료 보고서"), std::string::npos) << text;
    EXPECT_NE(text.find("최고 속도"), std::string::npos);
    const json m = json::parse(readFile(out / "manifest.json"));
    EXPECT_EQ(m["language"], "ko");
    EXPECT_EQ(m["range"]["segments"][0]["path"], fs::canonical(*front_).string());
    EXPECT_EQ(m["range"]["segments"][0]["fromSeconds"], 1.0);
    EXPECT_EQ(m["range"]["segments"][0]["toSeconds"], 4.0);
    // The same frames as the seconds form: the front clip is the same file.
    EXPECT_EQ(readFile(out / "clip.mp4"), readFile(*package_ / "clip-front.mp4"));
}

TEST_F(EvidenceCli, ASourceChangingWhileThePackageIsMadeFailsTheCommandAndLeavesNothing) {
    const fs::path card = scratch_.mkdir("card");
    fs::copy_file(*front_, card / fs::path(*front_).filename());
    fs::copy_file(rear(), card / fs::path(rear()).filename());
    const fs::path source = card / fs::path(*front_).filename();
    const fs::path out = scratch_.path() / "incident";
    // The recording keeps being written (touched) while the command runs.
    const std::string script = "touch " + quote(source.string()) + "; ( while true; do touch " +
                               quote(source.string()) + "; sleep 0.02; done ) & toucher=$!; " +
                               quote(ORVIK_CLI) + " evidence " + quote(source.string()) +
                               " --from 1 --to 4 --out " + quote(out.string()) +
                               "; status=$?; kill $toucher; exit $status";
    const RunResult r = runCommand("timeout 300 bash -c " + quote(script));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("changed while"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(scratch_.path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"card"});
}

// The drive goes on from the 5-s Event recording into the next one at 08:15:10.
TEST_F(EvidenceCli, AStretchOverARecordingsEndCoversBothWithTheirHashesAndRecords) {
    const fs::path out = scratch_.path() / "over";
    const RunResult r =
        cli("evidence " + quote(*front_) + " --from 3 --to 7 --out " + quote(out.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const json m = json::parse(readFile(out / "manifest.json"));
    ASSERT_EQ(m["range"]["segments"].size(), 2u);
    EXPECT_EQ(m["range"]["segments"][0]["fromSeconds"], 3.0);
    EXPECT_EQ(m["range"]["segments"][1]["toSeconds"], 2.0);
    EXPECT_EQ(m["range"]["end"], "2026-03-14T08:15:12.000");
    EXPECT_EQ(m["sources"].size(), 4u);  // both channels of both recordings
    const json records = json::parse(
        cli("telemetry " + quote((out / "clip.mp4").string()) + " --json").out, nullptr, false);
    EXPECT_EQ(records["timestamps"].size(), 44u);
    EXPECT_TRUE(fs::exists(out / "still-end-rear.jpg"));
    const RunResult verified = cli("verify " + quote(out.string()));
    EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
}

TEST_F(EvidenceCli, MistakesAreRefusedWithTheReasonAndNothingWritten) {
    const fs::path out = scratch_.path() / "incident";
    RunResult r =
        cli("evidence " + quote(*front_) + " --from 1 --to 4 --out " + quote(package_->string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not empty; add --force"), std::string::npos) << r.err;
    r = cli("evidence " + quote(*front_) + " --from 3 --to 2 --out " + quote(out.string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("after --from"), std::string::npos) << r.err;
    r = cli("evidence " + quote(*front_) + " --from 1 --to 4 --out " + quote(out.string()) +
            " --lang fr");
    EXPECT_EQ(r.status, 2);
    r = cli("evidence " + quote((dir_->path() / "card").string()) + " --from 1 --to 4 --out " +
            quote(out.string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("local time"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace orvik::evidence
