// The parts of an evidence package that need no footage: the manifest and SHA256SUMS as files,
// verify against packages that were tampered with, moments as users type them, and what the
// telemetry of a stretch says.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "evidence/manifest.h"
#include "evidence/report_pdf.h"
#include "evidence/stretch.h"
#include "evidence/stretch_facts.h"
#include "evidence/verify.h"
#include "platform/sha256.h"
#include "recordings/track_formats.h"
#include "support/test_support.h"

namespace orvik::evidence {
namespace {

namespace fs = std::filesystem;
using orvik::test::readFile;
using orvik::test::TempDir;
using orvik::test::writeFile;

std::string hexOf(const std::string& bytes) {
    return platform::toHex(platform::sha256Of(bytes));
}

Manifest sampleManifest() {
    Manifest m;
    m.programName = "orvik-cli";
    m.programVersion = "1.2.3";
    m.command = {"orvik-cli", "evidence", "a b.mp4", "--note", "Ünïcode 메모"};
    m.created = "2026-03-14T09:00:00Z";
    m.range.source = "/card/event_20260314_081500_F.mp4";
    m.range.from = "1.5";
    m.range.to = "2026-03-14T08:15:04";
    m.range.start = "2026-03-14T08:15:01.500";
    m.range.end = "2026-03-14T08:15:04.000";
    m.range.startUtc = "2026-03-13T23:15:01.500Z";
    m.range.durationSeconds = 2.5;
    m.range.segments = {{"/card/event_20260314_081500_F.mp4", 1.5, 4.0}};
    m.layout = "side-by-side";
    m.language = "ko";
    m.caption = true;
    m.speedUnit = "mph";
    m.note = "line one\nline \"two\"";
    m.sources = {{"/card/event_20260314_081500_F.mp4", "front", 12345, "2026-03-14T08:16:00.000Z",
                  hexOf("front")}};
    m.cameraSettings = CameraSettingsEntry{
        "/card/config_K7x7.bin", hexOf("config"), {{"speedUnit", "1"}, {"timeZoneIndex", "28"}}};
    m.facts.startPosition = LatLon{37.5576733, 126.8662283};
    m.facts.distanceKm = 0.196;
    m.facts.topSpeed = 49;
    m.facts.speedUnit = "km/h";
    m.facts.impacts = {{"2026-03-14T08:15:02.500", "/card/event_20260314_081500_F.mp4", 2.5, -2.52,
                        1.62, -0.59, 4.94}};
    m.outputs = {{"clip.mp4", 5, hexOf("clip!")}, {"report.pdf", 3, hexOf("pdf")}};
    return m;
}

TEST(Manifest, RoundTripsEveryField) {
    const Manifest m = sampleManifest();
    const std::string json = toJson(m);
    EXPECT_EQ(json.back(), '\n');
    auto back = parseManifest(json);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->command, m.command);
    EXPECT_EQ(back->range.to, m.range.to);
    EXPECT_EQ(back->range.endUtc, "");
    ASSERT_EQ(back->range.segments.size(), 1u);
    EXPECT_DOUBLE_EQ(back->range.segments[0].fromSeconds, 1.5);
    EXPECT_EQ(back->note, m.note);
    EXPECT_TRUE(back->caption);
    ASSERT_EQ(back->sources.size(), 1u);
    EXPECT_EQ(back->sources[0].sha256, m.sources[0].sha256);
    EXPECT_EQ(back->sources[0].name(), "event_20260314_081500_F.mp4");
    ASSERT_TRUE(back->cameraSettings);
    EXPECT_EQ(back->cameraSettings->values, m.cameraSettings->values);
    ASSERT_EQ(back->outputs.size(), 2u);
    EXPECT_EQ(back->outputs[1].name, "report.pdf");
    EXPECT_EQ(back->outputs[1].size, 3u);
    ASSERT_TRUE(back->facts.startPosition);
    EXPECT_DOUBLE_EQ(back->facts.startPosition->longitude, 126.8662283);
    EXPECT_FALSE(back->facts.endPosition);
    EXPECT_EQ(back->facts.topSpeed, 49.0);
    ASSERT_EQ(back->facts.impacts.size(), 1u);
    EXPECT_DOUBLE_EQ(back->facts.impacts[0].changeY, 1.62);
    // Written again, the same bytes: the manifest is the one source of the package's lists.
    EXPECT_EQ(toJson(*back), json);
}

TEST(Manifest, RefusesWhatIsNotAManifestSayingWhere) {
    EXPECT_FALSE(parseManifest(""));
    EXPECT_FALSE(parseManifest("[1,2]"));
    EXPECT_FALSE(parseManifest("{\"format\":\"something else\"}"));
    std::string json = toJson(sampleManifest());
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string s = json;
        const auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    auto r = parseManifest(with("\"clip.mp4\"", "\"../../etc/passwd\""));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("outputs[].name"), std::string::npos) << r.error();
    r = parseManifest(with("\"size\": 5", "\"size\": -5"));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("outputs[].size"), std::string::npos) << r.error();
    r = parseManifest(with(hexOf("clip!"), "not a hash"));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("sha256"), std::string::npos) << r.error();
    r = parseManifest(with("\"sources\": [", "\"sources\": [7, "));
    EXPECT_FALSE(r);
    r = parseManifest(with("\"changeG\": [", "\"changeG\": [\"x\", "));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("changeG"), std::string::npos) << r.error();
    // A truncated file is not JSON.
    EXPECT_FALSE(parseManifest(json.substr(0, json.size() / 2)));
}

TEST(Sums, WrittenAsSha256sumWritesThemAndReadBack) {
    const std::vector<SumLine> lines{{hexOf("a"), "clip.mp4"}, {hexOf("b"), "report.pdf"}};
    const std::string text = formatSums(lines);
    EXPECT_EQ(text, hexOf("a") + "  clip.mp4\n" + hexOf("b") + "  report.pdf\n");
    auto back = parseSums(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[1].name, "report.pdf");
    // Binary mode ("*"), upper-case digits and CR LF line ends are read too.
    std::string upper = hexOf("a");
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    back = parseSums(upper + " *clip.mp4\r\n");
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)[0].sha256, hexOf("a"));
    // Names that reach outside the folder and lines that are not sums are refused by number.
    auto bad = parseSums(text + hexOf("c") + "  ../x\n");
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().find("line 3"), std::string::npos);
    EXPECT_FALSE(parseSums(hexOf("c") + " clip.mp4\n"));
    EXPECT_FALSE(parseSums(hexOf("c").substr(2) + "  clip.mp4\n"));
    EXPECT_FALSE(parseSums(hexOf("c") + "  a/b\n"));
    EXPECT_TRUE(isPackageFileName("still-start-front.jpg"));
    EXPECT_FALSE(isPackageFileName(".."));
    EXPECT_FALSE(isPackageFileName("a\nb"));
}

// A package as the builder leaves it: files, the manifest listing them and a source, and
// SHA256SUMS covering both.
class Package : public ::testing::Test {
  protected:
    void SetUp() override {
        files_ = {{"clip.mp4", "the clip's bytes"},
                  {"still-start-front.jpg", "a still"},
                  {"report.pdf", "%PDF-1.5 report"}};
        source_ = sources_.touch("event_20260314_081500_F.mp4", "the recording");
        Manifest m = sampleManifest();
        m.sources = {{source_.string(), "front", 13, "", hexOf("the recording")}};
        m.outputs.clear();
        for (const auto& [name, content] : files_) {
            writeFile(dir_.path() / name, content);
            m.outputs.push_back({name, content.size(), hexOf(content)});
        }
        const std::string json = toJson(m);
        writeFile(dir_.path() / "manifest.json", json);
        std::vector<SumLine> lines;
        for (const auto& o : m.outputs)
            lines.push_back({o.sha256, o.name});
        lines.push_back({hexOf(json), "manifest.json"});
        writeFile(dir_.path() / "SHA256SUMS", formatSums(lines));
    }
    VerifyReport verify() {
        auto r = verifyPackage(dir_.str());
        EXPECT_TRUE(r) << r.error();
        return r ? *r : VerifyReport{};
    }
    static std::string names(const VerifyReport& r) {
        std::string s;
        for (const auto& p : r.problems)
            s += describe(p) + ";";
        return s;
    }

    TempDir dir_, sources_;
    fs::path source_;
    std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(Package, IntactWithEveryFileCheckedAndTheSourceFound) {
    const VerifyReport r = verify();
    EXPECT_TRUE(r.packageIntact()) << names(r);
    EXPECT_EQ(r.filesChecked, 4u);  // three files and the manifest
    ASSERT_EQ(r.sources.size(), 1u);
    EXPECT_EQ(r.sources[0].state, SourceState::Intact);
    EXPECT_TRUE(r.sourcesConsistent());
}

TEST_F(Package, AFlippedByteInAnyFileIsNamedAndRestoringItMendsThePackage) {
    for (const char* name :
         {"clip.mp4", "still-start-front.jpg", "report.pdf", "manifest.json", "SHA256SUMS"}) {
        const fs::path path = dir_.path() / name;
        const std::string original = readFile(path);
        // Every byte: the hashes, names, line ends and white space of the lists all count.
        for (std::size_t at = 0; at < original.size(); at += (original.size() > 40 ? 37 : 1)) {
            std::string flipped = original;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x01);
            ASSERT_TRUE(writeFile(path, flipped));
            const VerifyReport r = verify();
            EXPECT_FALSE(r.packageIntact()) << name << " byte " << at;
            EXPECT_NE(names(r).find(std::string(name) + ": "), std::string::npos)
                << name << " byte " << at << ": " << names(r);
        }
        ASSERT_TRUE(writeFile(path, original));
        EXPECT_TRUE(verify().packageIntact()) << name;
    }
}

TEST_F(Package, MissingFilesAndListsAreNamedExtraFilesAreNoFault) {
    fs::remove(dir_.path() / "report.pdf");
    VerifyReport r = verify();
    EXPECT_EQ(names(r), "report.pdf: missing;");
    writeFile(dir_.path() / "report.pdf", "%PDF-1.5 report");
    writeFile(dir_.path() / ".directory", "[Desktop Entry]\n");
    r = verify();
    EXPECT_TRUE(r.packageIntact()) << names(r);
    EXPECT_EQ(r.extraFiles, std::vector<std::string>{".directory"});

    // Without SHA256SUMS the manifest still checks the files, but the package is not intact.
    const std::string sums = readFile(dir_.path() / "SHA256SUMS");
    fs::remove(dir_.path() / "SHA256SUMS");
    r = verify();
    EXPECT_EQ(names(r), "SHA256SUMS: missing;");
    writeFile(dir_.path() / "SHA256SUMS", sums);
    // Without the manifest SHA256SUMS still checks the files.
    const std::string manifest = readFile(dir_.path() / "manifest.json");
    fs::remove(dir_.path() / "manifest.json");
    writeFile(dir_.path() / "clip.mp4", "changed");
    r = verify();
    EXPECT_NE(names(r).find("manifest.json: missing;"), std::string::npos) << names(r);
    EXPECT_NE(names(r).find("clip.mp4: changed;"), std::string::npos) << names(r);
    EXPECT_TRUE(r.sources.empty());  // nothing says where they were
}

TEST_F(Package, SourcesAreCheckedWhereTheyStillAreAndMissingOnesAreNoFault) {
    writeFile(source_, "the recordinG");
    VerifyReport r = verify();
    EXPECT_TRUE(r.packageIntact());
    ASSERT_EQ(r.sources.size(), 1u);
    EXPECT_EQ(r.sources[0].state, SourceState::Changed);
    EXPECT_FALSE(r.sourcesConsistent());
    fs::remove(source_);
    r = verify();
    EXPECT_EQ(r.sources[0].state, SourceState::NotFound);
    EXPECT_TRUE(r.sourcesConsistent());
    EXPECT_EQ(r.sourcesIn(SourceState::NotFound), 1u);
    VerifyOptions options;
    options.checkSources = false;
    EXPECT_TRUE(verifyPackage(dir_.str(), options)->sources.empty());
}

TEST_F(Package, HostileListsNeverReachOutsideTheFolderOrBlock) {
    // A manifest that names a FIFO: refused as unreadable, without waiting for a writer.
    const std::string fifo = dir_ / "clip.mp4";
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    VerifyReport r = verify();
    EXPECT_NE(names(r).find("clip.mp4: cannot be read"), std::string::npos) << names(r);
    // A huge "manifest" is not read into memory.
    fs::resize_file(dir_.path() / "manifest.json", 64u << 20);
    r = verify();
    EXPECT_NE(names(r).find("manifest.json: cannot be read"), std::string::npos) << names(r);
    EXPECT_FALSE(verifyPackage(dir_ / "no-such-folder"));
}

TEST(Moments, SecondsOrTheCameraLocalTime) {
    EXPECT_EQ(std::get<double>(*parseMoment("12.5")), 12.5);
    EXPECT_EQ(std::get<double>(*parseMoment("0")), 0.0);
    const auto t = parseLocalTime("2026-03-14T08:15:02.5");
    ASSERT_TRUE(t);
    EXPECT_EQ(isoLocalTimeMs(*t), "2026-03-14T08:15:02.500");
    EXPECT_EQ(isoLocalTimeMs(*parseLocalTime("2026-03-14 08:15:02")), "2026-03-14T08:15:02.000");
    EXPECT_EQ(std::get<LocalTime>(*parseMoment("2024-02-29T23:59:59.999")),
              *parseLocalTime("2024-02-29T23:59:59.999"));
    for (const char* bad :
         {"", "abc", "12s", "2026-02-30T08:00:00", "2026-03-14T24:00:00", "2026-03-14T08:15",
          "2026-03-14T08:15:02.", "2026-03-14T08:15:02.1234", "2026-3-14T08:15:02", "nan", "inf"}) {
        EXPECT_FALSE(parseMoment(bad)) << bad;
    }
}

TEST(Stretch, RefusesWhatCannotBeAStretchBeforeTouchingAnything) {
    TempDir dir;
    const auto file = dir.touch("notes.txt", "not a recording");
    auto r = resolveStretch(file.string(), "2026-03-14T08:00:00", "2026-03-14T08:00:05");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("in seconds"), std::string::npos) << r.error();
    r = resolveStretch(dir.str(), "1", "2");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("local time"), std::string::npos) << r.error();
    r = resolveStretch(dir.str(), "2026-03-14T08:00:05", "2026-03-14T08:00:01");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("after --from"), std::string::npos) << r.error();
    r = resolveStretch(dir.str(), "2026-03-14T08:00:00", "2026-03-14T08:00:05");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("no recording"), std::string::npos) << r.error();
    EXPECT_FALSE(resolveStretch(dir / "missing.mp4", "1", "2"));
    EXPECT_FALSE(resolveStretch(file.string(), "x", "2"));
    const std::string fifo = dir / "fifo_F.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    r = resolveStretch(fifo, "1", "2");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("not a regular file"), std::string::npos);
}

// "$" + body + "*" + checksum + LF.
std::string sentence(std::string_view body) {
    unsigned sum = 0;
    for (char c : body)
        sum ^= static_cast<unsigned char>(c);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + std::string(body) + "*" + hex + "\n";
}

// Ten seconds of a drive at 11 records a second going north at one 1/1000 minute per record,
// speeding up, with a jolt at record 55 (5 s) and another at 99 (9 s).
SegmentTelemetry tenSeconds() {
    SegmentTelemetry t;
    for (int i = 0; i < 110; ++i) {
        recordings::TelemetryRecord r;
        r.timestamp = static_cast<std::uint32_t>(i);
        r.accelX = 0;
        r.accelY = 0;
        r.accelZ = 256;
        if (i == 55)
            r.accelX = 256 * 2;  // +2 g
        if (i == 99)
            r.accelY = -256;  // -1 g
        char rmc[128];
        std::snprintf(rmc, sizeof rmc,
                      "GNRMC,0815%02d.%02d,A,3733.%04d,N,12651.0000,E,10.0,0,140326", i / 11,
                      (i % 11) * 9, i);
        r.setNmeaText(sentence(rmc));
        r.latitude = recordings::NmeaAngle(3733.0 + i / 10000.0);
        r.longitude = recordings::NmeaAngle(12651.0);
        r.speedUnitCode = recordings::kSpeedUnitCodeKmh;
        r.speed = 30 + i / 4;
        r.hdop = 0.9;
        r.satellitesUsed = 9;
        t.track.takeRecord(r);
    }
    return t;
}

TEST(StretchFacts, OnlyTheRecordsOfTheStretchCount) {
    Stretch s;
    StretchSegment seg;
    seg.path = "/card/alwa_20260314_081500_F.mp4";
    seg.recordingStart = parseLocalTime("2026-03-14T08:15:00");
    seg.durationSeconds = 109.0 / 11.0;  // record i at i / 11 s
    seg.fromSeconds = 2;
    seg.toSeconds = 8;
    s.segments = {seg};
    std::vector<SegmentTelemetry> tel{tenSeconds()};
    // Records 22 (2 s) to 88 (8 s).
    for (std::size_t i = 0; i < tel[0].track.size(); ++i) {
        const double at = trips::recordMoment(i, 110, seg.durationSeconds);
        if (at >= 2 - 1e-9 && at <= 8 + 1e-9) {
            tel[0].firstRecord = std::min(tel[0].firstRecord == 0 ? i : tel[0].firstRecord, i);
            tel[0].endRecord = i + 1;
        }
    }
    ASSERT_EQ(tel[0].firstRecord, 22u);
    ASSERT_EQ(tel[0].endRecord, 89u);

    const StretchFacts f = factsOf(s, tel, {}, std::nullopt);
    EXPECT_EQ(f.records, 67u);
    ASSERT_TRUE(f.startPosition && f.endPosition);
    EXPECT_NEAR(f.startPosition->latitude.value(), 37 + 33.0022 / 60, 1e-9);
    EXPECT_NEAR(f.endPosition->latitude.value(), 37 + 33.0088 / 60, 1e-9);
    EXPECT_NEAR(f.distanceKm, 0.0066 / 60 * 111.195, 1e-4);
    ASSERT_TRUE(f.topSpeed);
    EXPECT_EQ(*f.topSpeed, 30 + 88 / 4);
    EXPECT_EQ(f.unit, recordings::SpeedUnit::KilometresPerHour);
    ASSERT_TRUE(f.startUtc && f.endUtc);
    EXPECT_EQ(*recordings::isoTime(*f.startUtc), "2026-03-14T08:15:02.000Z");
    EXPECT_EQ(*recordings::isoTime(*f.endUtc), "2026-03-14T08:15:08.000Z");
    // The jolt at 5 s is in the stretch, the one at 9 s is not.
    ASSERT_EQ(f.impacts.size(), 1u);
    EXPECT_EQ(f.impacts[0].peak.record, 55u);
    EXPECT_NEAR(f.impacts[0].seconds, 3.0, 1e-9);
    EXPECT_NEAR(f.impacts[0].peak.departureG[0], 2.0, 1e-9);
    ASSERT_TRUE(f.impacts[0].local);
    EXPECT_EQ(isoLocalTimeMs(*f.impacts[0].local), "2026-03-14T08:15:05.000");
    ASSERT_TRUE(f.impacts[0].position);
    EXPECT_NEAR(f.impacts[0].position->latitude.value(), 37 + 33.0055 / 60, 1e-9);
    EXPECT_EQ(f.strongest, 0u);
    EXPECT_EQ(f.speed.size(), 67u);
    EXPECT_NEAR(f.speed.front().seconds, 0.0, 1e-9);
    EXPECT_NEAR(f.speed.back().seconds, 6.0, 1e-9);

    // Asked for mph, speeds are converted.
    const StretchFacts mph = factsOf(s, tel, {}, recordings::SpeedUnit::MilesPerHour);
    EXPECT_NEAR(*mph.topSpeed, 52 / 1.609344, 1e-9);
}

TEST(StretchFacts, AStretchWithoutTelemetryHasNoFactsButNoFault) {
    Stretch s;
    s.segments = {
        StretchSegment{"/x_F.mp4", recordings::RecordingKind::Always, std::nullopt, 5, 1, 2}};
    const StretchFacts f = factsOf(s, {SegmentTelemetry{}}, {}, std::nullopt);
    EXPECT_EQ(f.records, 0u);
    EXPECT_FALSE(f.topSpeed);
    EXPECT_FALSE(f.startPosition);
    EXPECT_TRUE(f.impacts.empty());
    EXPECT_FALSE(f.strongest);
}

TEST(Report, AnyTextAndAnyAmountOfFactsMakeAnA4Pdf) {
    Manifest m = sampleManifest();
    // Bytes that are not UTF-8, control characters, markup-like text and a very long word.
    m.note =
        std::string("\xff\xfe broken \x01\x02 <b>not bold</b> &amp; ") + std::string(3000, 'W');
    m.command.push_back(std::string("\xc3\x28"));
    Stretch s;
    s.segments = {StretchSegment{"/card/event_20260314_081500_F.mp4",
                                 recordings::RecordingKind::Event,
                                 parseLocalTime("2026-03-14T08:15:00"), 10, 2, 8}};
    std::vector<SegmentTelemetry> tel{tenSeconds()};
    tel[0].firstRecord = 0;
    tel[0].endRecord = 110;
    StretchFacts f = factsOf(s, tel, {}, std::nullopt);
    // A rough road: a hundred impacts to list.
    for (int i = 0; i < 100; ++i)
        f.impacts.push_back(f.impacts.front());
    for (const platform::Language lang :
         {platform::Language::English, platform::Language::Korean}) {
        ReportContent content;
        content.language = lang;
        content.manifest = &m;
        content.stretch = &s;
        content.facts = &f;
        content.stills = {
            ReportStill{"/no/such/still.jpg", "start", "front", 0, std::nullopt, 640, 360}};
        auto r = renderReport(content);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->pdf.substr(0, 5), "%PDF-");
        EXPECT_GE(r->pages, 3);
    }
    // Nothing at all to show still makes a report.
    const StretchFacts none;
    ReportContent empty;
    empty.manifest = &m;
    empty.stretch = &s;
    empty.facts = &none;
    auto r = renderReport(empty);
    ASSERT_TRUE(r) << r.error();
    EXPECT_FALSE(renderReport(ReportContent{}));
}

}  // namespace
}  // namespace orvik::evidence
