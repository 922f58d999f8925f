// orvik-cli clip and snapshot on a generated card, as a user and the tools they hand the results
// to see them: the clip's telemetry read back, frame counts from ffprobe, the caption through
// OCR, the snapshot's position through exiftool, and errors that leave nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace orvik::exporting {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using orvik::test::quote;
using orvik::test::readFile;
using CliRun = orvik::test::RunResult;

bool have(const char* tool) {
    return orvik::test::haveProgram(tool);
}

class ExportCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        cardDir_ = new orvik::test::TempDir;
        card_ = new fs::path(cardDir_->path());
        const std::string cmd = quote(ORVIK_SAMPLECARD) + " --out " + quote(card_->string()) +
                                " --count 1 --duration 5 -q";
        ASSERT_EQ(orvik::test::runCommand(cmd).status, 0);
        for (const auto& e : fs::recursive_directory_iterator(*card_)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("alwa_", 0) == 0 && name.size() > 6 &&
                name.substr(name.size() - 6) == "_F.mp4")
                front_ = new std::string(e.path().string());
        }
        ASSERT_NE(front_, nullptr);
    }
    static void TearDownTestSuite() {
        delete cardDir_;
        delete card_;
        delete front_;
    }

    CliRun run(const std::string& args) {
        // A hang (a FIFO read for ever) fails the test instead of the whole run.
        return orvik::test::runCommand("timeout 120 " + quote(ORVIK_CLI) + " " + args);
    }
    std::string shell(const std::string& cmd) {
        std::string text = orvik::test::runCommand(cmd + " 2>/dev/null").out;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    double audioSeconds(const fs::path& file) {
        return std::atof(shell("ffprobe -v error -select_streams a -show_entries stream=duration "
                               "-of csv=p=0 " +
                               quote(file.string()))
                             .c_str());
    }
    int frames(const fs::path& file) {
        return std::atoi(shell("ffprobe -v error -count_frames -select_streams v "
                               "-show_entries stream=nb_read_frames -of csv=p=0 " +
                               quote(file.string()))
                             .c_str());
    }
    json telemetry(const std::string& file) {
        const CliRun r = run("telemetry " + quote(file) + " --json");
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    }
    std::vector<std::string> outNames() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string front() { return *front_; }
    static std::string rear() {
        std::string r = *front_;
        r[r.size() - 5] = 'R';
        return r;
    }

    static inline orvik::test::TempDir* cardDir_ = nullptr;
    static inline fs::path* card_ = nullptr;
    static inline std::string* front_ = nullptr;
    orvik::test::TempDir outDir_;
    fs::path out_ = outDir_.path();
};

TEST_F(ExportCli, AClipAtWholeSecondsIsARecordingWithExactlyTheTelemetryOfThoseSeconds) {
    const fs::path clip = out_ / "clip.mp4";
    const CliRun r =
        run("clip " + quote(front()) + " --from 1 --to 4 --out " + quote(clip.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    // The recording's keyframes sit one frame after the whole seconds: the clip starts on the
    // keyframe, a frame late, rather than re-encoding the frame before it.
    EXPECT_NE(r.err.find("(stream copy)"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(clip).substr(4, 8), "ftypiso4");
    EXPECT_NEAR(frames(clip), 90, 2);
    // The audio of the range comes along to its end, not only as far as the video was read.
    EXPECT_NEAR(audioSeconds(clip), 3.0, 0.1);

    const json source = telemetry(front());
    const json copy = telemetry(clip.string());
    ASSERT_EQ(source["timestamps"].size(), 55u);  // 5 fragments of 11 records
    const json expected(source["timestamps"].begin() + 11, source["timestamps"].begin() + 44);
    EXPECT_EQ(copy["timestamps"], expected);
    EXPECT_EQ(copy["fixes"][0], source["fixes"][11]);
    EXPECT_EQ(outNames(), std::vector<std::string>{"clip.mp4"});
}

TEST_F(ExportCli, MomentsByTheCamerasClockOnACardGiveTheSameFramesAsSeconds) {
    // The recording starts at 08:15:00 by the camera's clock.
    const fs::path bySeconds = out_ / "seconds.mp4", byTime = out_ / "time.mp4";
    ASSERT_EQ(
        run("clip " + quote(front()) + " --from 1 --to 4 -q --out " + quote(bySeconds.string()))
            .status,
        0);
    const CliRun r = run("clip " + quote(card_->string()) +
                         " --from 2026-03-14T08:15:01 --to 2026-03-14T08:15:04.000 -q --out " +
                         quote(byTime.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(frames(byTime), frames(bySeconds));
    EXPECT_EQ(telemetry(byTime.string())["timestamps"],
              telemetry(bySeconds.string())["timestamps"]);

    const fs::path shotSeconds = out_ / "seconds.png", shotTime = out_ / "time.png";
    ASSERT_EQ(
        run("snapshot " + quote(front()) + " --at 2.5 --out " + quote(shotSeconds.string())).status,
        0);
    ASSERT_EQ(run("snapshot " + quote(card_->string()) + " --at 2026-03-14T08:15:02.5 --out " +
                  quote(shotTime.string()))
                  .status,
              0);
    EXPECT_EQ(readFile(shotTime), readFile(shotSeconds));

    // A moment no recording holds fails; text that is no moment is a usage error; a stretch over
    // two recordings is refused with both named, and nothing is written.
    const std::string target = quote((out_ / "x.mp4").string());
    CliRun bad = run("snapshot " + quote(card_->string()) + " --at 2026-03-15T08:15:02 --out " +
                     quote((out_ / "x.png").string()));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("no recording"), std::string::npos) << bad.err;
    for (const char* text : {"08:15:02", "2026-03-14T08:15:02Z", "2026-02-30T08:15:02",
                             "2026-03-14T24:00:00", "2026-03-14T08:15:02.1234"}) {
        bad = run("clip " + quote(card_->string()) + " --from " + text +
                  " --to 2026-03-14T08:15:04 --out " + target);
        EXPECT_EQ(bad.status, 2) << text << ": " << bad.err;
    }
    bad = run("clip " + quote(front()) + " --from 2026-03-14T08:15:01 --to 4 --out " + target);
    EXPECT_EQ(bad.status, 2) << bad.err;
    EXPECT_EQ(outNames(),
              (std::vector<std::string>{"seconds.mp4", "seconds.png", "time.mp4", "time.png"}));
}

// The card's drive goes on from the 5-s Always recording into an Event recording at 08:15:05.
TEST_F(ExportCli, AStretchOverARecordingsEndIsJoinedByCopyWithAllItsTelemetryAndSound) {
    const std::string event = card_->string() + "/Event/event_20260314_081505_F.mp4";
    const fs::path across = out_ / "across.mp4", byTime = out_ / "time.mp4";
    const fs::path head = out_ / "head.mp4", tail = out_ / "tail.mp4";
    const CliRun r =
        run("clip " + quote(front()) + " --from 3 --to 7 --out " + quote(across.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("over 2 recordings (stream copy)"), std::string::npos) << r.err;
    ASSERT_EQ(
        run("clip " + quote(front()) + " --from 3 --to 5 -q --out " + quote(head.string())).status,
        0);
    ASSERT_EQ(
        run("clip " + quote(event) + " --from 0 --to 2 -q --out " + quote(tail.string())).status,
        0);
    // Exactly the frames and records of the two parts, one after the other.
    EXPECT_EQ(frames(across), frames(head) + frames(tail));
    json expected = telemetry(head.string())["timestamps"];
    const json tailRecords = telemetry(tail.string());
    for (const auto& t : tailRecords["timestamps"])
        expected.push_back(t);
    EXPECT_EQ(expected.size(), 44u);
    EXPECT_EQ(telemetry(across.string())["timestamps"], expected);
    EXPECT_EQ(shell("ffmpeg -v error -i " + quote(across.string()) + " -f null - 2>&1"), "");
    // The sound runs on without a gap or an overlap at the boundary.
    EXPECT_NEAR(audioSeconds(across), 4.0, 0.1);
    const std::string steps = shell(
        "ffprobe -v error -select_streams a -show_entries packet=pts_time,duration_time "
        "-of csv=p=0 " +
        quote(across.string()) +
        " | awk -F, 'NR>2 && ($1-e > 0.001 || e-$1 > 0.001) {print $1} {e=$1+$2}'");
    EXPECT_EQ(steps, "");

    // The same stretch by the camera's clock is the same file.
    ASSERT_EQ(run("clip " + quote(card_->string()) +
                  " --from 2026-03-14T08:15:03 --to 2026-03-14T08:15:07 -q --out " +
                  quote(byTime.string()))
                  .status,
              0);
    EXPECT_EQ(readFile(byTime), readFile(across));
}

TEST_F(ExportCli, LayoutsCaptionsAndSnapshotsGoOnIntoTheNextRecording) {
    const std::string eventRear = card_->string() + "/Event/event_20260314_081505_R.mp4";
    const fs::path sbs = out_ / "sbs.mp4", rearClip = out_ / "rear.mp4";
    CliRun r = run("clip " + quote(rear()) + " --from 4 --to 6 --layout side-by-side --caption " +
                   "--out " + quote(sbs.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries stream=width,height -of "
                    "csv=p=0 " +
                    quote(sbs.string())),
              "1280,360");
    EXPECT_NEAR(frames(sbs), 60, 2);
    EXPECT_EQ(telemetry(sbs.string())["timestamps"].size(), 22u);
    // A rear recording's stretch stays on the rear channel.
    r = run("clip " + quote(rear()) + " --from 4 --to 6 --out " + quote(rearClip.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries stream=width,height -of "
                    "csv=p=0 " +
                    quote(rearClip.string())),
              "320,180");

    // A moment past the recording's end is in the next one, by seconds or by the clock.
    const fs::path past = out_ / "past.png", inNext = out_ / "next.png", byTime = out_ / "t.png";
    ASSERT_EQ(run("snapshot " + quote(front()) + " --at 6.5 --out " + quote(past.string())).status,
              0);
    ASSERT_EQ(run("snapshot " + quote(card_->string()) +
                  "/Event/event_20260314_081505_F.mp4 --at 1.5 --out " + quote(inNext.string()))
                  .status,
              0);
    ASSERT_EQ(run("snapshot " + quote(card_->string()) + " --at 2026-03-14T08:15:06.5 --out " +
                  quote(byTime.string()))
                  .status,
              0);
    EXPECT_EQ(readFile(past), readFile(inNext));
    EXPECT_EQ(readFile(byTime), readFile(inNext));

    // Before the drive starts: refused with the reason, nothing written.
    r = run("clip " + quote(front()) + " --from -2 --to 1 --out " + quote(out_ / "x.mp4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("before its drive does"), std::string::npos) << r.err;
    r = run("clip " + quote(eventRear) + " --from -1 --to 1 --out " + quote(out_ / "x.mp4"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(outNames(), (std::vector<std::string>{"next.png", "past.png", "rear.mp4", "sbs.mp4",
                                                    "t.png", "x.mp4"}));
}

TEST_F(ExportCli, ACutOffTheKeyframesIsExactToTheFrameAndDecodesCleanly) {
    const fs::path clip = out_ / "cut.mp4";
    const CliRun r =
        run("clip " + quote(front()) + " --from 1.5 --to 4.2 --out " + quote(clip.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("re-encoding up to the first keyframe"), std::string::npos) << r.err;
    EXPECT_NEAR(frames(clip), 81, 2);
    EXPECT_EQ(shell("ffmpeg -v error -i " + quote(clip.string()) + " -f null - 2>&1"), "");
    EXPECT_EQ(telemetry(clip.string())["timestamps"].size(), 33u);
}

TEST_F(ExportCli, SideBySideAndPictureInPictureAreLaidOutAtTheFrontsHeight) {
    const fs::path sbs = out_ / "sbs.mp4";
    CliRun r = run("clip " + quote(rear()) +
                   " --from 0 --to 2 --layout side-by-side --caption --out " + quote(sbs.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string frontSize = shell(
        "ffprobe -v error -select_streams v -show_entries "
        "stream=width,height -of csv=p=0 " +
        quote(front()));
    ASSERT_EQ(frontSize, "640,360");
    // The rear (320x180) scaled to 360 lines is 640 wide.
    EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries stream=width,height -of "
                    "csv=p=0 " +
                    quote(sbs.string())),
              "1280,360");
    EXPECT_NEAR(frames(sbs), 60, 2);
    EXPECT_NEAR(audioSeconds(sbs), 2.0, 0.1);
    EXPECT_EQ(telemetry(sbs.string())["timestamps"].size(), 22u);

    const fs::path pip = out_ / "pip.mp4";
    r = run("clip " + quote(front()) + " --from 0 --to 1 --layout picture-in-picture --out " +
            quote(pip.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries stream=width,height -of "
                    "csv=p=0 " +
                    quote(pip.string())),
              "640,360");
}

TEST_F(ExportCli, OcrReadsTheDateAndTheSpeedOfACaptionedFrame) {
    if (!have("tesseract") || !have("convert"))
        GTEST_SKIP() << "tesseract-ocr or imagemagick not installed";
    const fs::path png = out_ / "frame.png";
    const CliRun r = run("snapshot " + quote(front()) +
                         " --at 2 --layout side-by-side --caption --out " + quote(png.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    // The caption band, enlarged and inverted to dark text on light for the OCR engine.
    const fs::path band = out_ / "band.png";
    shell("convert " + quote(png.string()) + " -gravity South -crop 100%x10%+0+0 +repage " +
          "-resize 300% -colorspace Gray -negate " + quote(band.string()));
    const std::string text = shell("tesseract " + quote(band.string()) + " - --psm 7");
    // The date and time from the name plus 2 s, e.g. alwa_20260314_081500_F.mp4.
    const std::string name = fs::path(front()).filename().string();
    const std::string date = name.substr(5, 4) + "-" + name.substr(9, 2) + "-" + name.substr(11, 2);
    EXPECT_NE(text.find(date), std::string::npos) << text;
    EXPECT_NE(text.find("km/h"), std::string::npos) << text;
    const json fixes = telemetry(front())["fixes"];
    // The speed of the moment's entry (index rule, 2 s of about 5).
    bool speedFound = false;
    for (const json& f : fixes) {
        const std::string speed = std::to_string(f["speed"].get<int>()) + " km/h";
        speedFound = speedFound || text.find(speed) != std::string::npos;
    }
    EXPECT_TRUE(speedFound) << text;

    // --unit: the speed in the unit asked for, as the viewer shows it.
    const fs::path mph = out_ / "mph.png";
    ASSERT_EQ(run("snapshot " + quote(front()) + " --at 2 --caption --unit mph --out " +
                  quote(mph.string()))
                  .status,
              0);
    shell("convert " + quote(mph.string()) + " -gravity South -crop 100%x10%+0+0 +repage " +
          "-resize 300% -colorspace Gray -negate " + quote(band.string()));
    const std::string inMph = shell("tesseract " + quote(band.string()) + " - --psm 7");
    bool mphFound = false;
    for (const json& f : fixes) {
        const long converted = std::lround(f["speed"].get<double>() / 1.609344);
        mphFound = mphFound || inMph.find(std::to_string(converted) + " mph") != std::string::npos;
    }
    EXPECT_TRUE(mphFound) << inMph;
}

TEST_F(ExportCli, AJpegSnapshotCarriesThePositionAndTimeThatExiftoolReads) {
    if (!have("exiftool"))
        GTEST_SKIP() << "libimage-exiftool-perl not installed";
    const fs::path jpg = out_ / "frame.jpg";
    const CliRun r = run("snapshot " + quote(front()) + " --at 3 --out " + quote(jpg.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const json tags = json::parse(shell("exiftool -n -json -GPSLatitude -GPSLongitude "
                                        "-GPSLatitudeRef -GPSDateStamp -GPSTimeStamp "
                                        "-DateTimeOriginal -ImageWidth -ImageHeight " +
                                        quote(jpg.string())),
                                  nullptr, false);
    ASSERT_TRUE(tags.is_array()) << tags;
    const json& t = tags[0];
    EXPECT_EQ(t["ImageWidth"], 640);
    EXPECT_EQ(t["ImageHeight"], 360);
    // The sample drive starts near 37.5570 N, 126.8645 E and moves a few metres.
    EXPECT_NEAR(t["GPSLatitude"].get<double>(), 37.5570, 0.001) << t;
    EXPECT_NEAR(t["GPSLongitude"].get<double>(), 126.8645, 0.001) << t;
    EXPECT_EQ(t["GPSLatitudeRef"], "N");
    const std::string name = fs::path(front()).filename().string();
    EXPECT_EQ(t["GPSDateStamp"],
              name.substr(5, 4) + ":" + name.substr(9, 2) + ":" + name.substr(11, 2));
    EXPECT_TRUE(t.contains("GPSTimeStamp"));
    EXPECT_TRUE(t.contains("DateTimeOriginal"));
}

TEST_F(ExportCli, FailuresAreOneLineExitOneAndLeaveNothingBehind) {
    // A front recording alone in a folder: no partner for a two-channel layout.
    const fs::path lone = out_ / "alone";
    fs::create_directories(lone);
    fs::copy_file(front(), lone / fs::path(front()).filename());
    const std::string loneFront = (lone / fs::path(front()).filename()).string();
    const fs::path broken = out_ / "broken" / "alwa_20240101_000000_F.mp4";
    fs::create_directories(broken.parent_path());
    std::ofstream(broken) << std::string(5000, 'x');
    const fs::path fifo = out_ / "fifo" / "alwa_20240101_000000_F.mp4";
    fs::create_directories(fifo.parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path existing = out_ / "existing.mp4";
    std::ofstream(existing) << "keep me";
    const std::string target = quote((out_ / "result.mp4").string());

    const std::string cases[] = {
        "clip " + quote(front()) + " --from 1 --to 2 --out " + quote(existing.string()),
        "clip " + quote(loneFront) + " --from 1 --to 2 --layout side-by-side --out " + target,
        "clip " + quote(front()) + " --from 4 --to 3000 --out " + target,  // past the drive
        "clip " + quote(front()) + " --from 3 --to 2 --out " + target,
        "clip " + quote(broken.string()) + " --from 0 --to 1 --out " + target,
        "clip " + quote(fifo.string()) + " --from 0 --to 1 --out " + target,
        "clip " + quote(front()) + " --from 0 --to 1 --out " +
            quote((out_ / "no-such-folder" / "x.mp4").string()),
        "snapshot " + quote(front()) + " --at 3000 --out " + quote((out_ / "x.png").string()),
        "snapshot " + quote(front()) + " --at 1 --out " + quote((out_ / "x.gif").string()),
        "snapshot " + quote(fifo.string()) + " --at 0 --out " + quote((out_ / "x.png").string()),
    };
    const auto before = outNames();
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("orvik-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(outNames(), before);
        EXPECT_EQ(fs::directory_iterator(lone)->path().filename(), fs::path(front()).filename());
    }
    EXPECT_EQ(readFile(existing), "keep me");
    EXPECT_EQ(
        run("clip " + quote(front()) + " --from 0 --to 1 --layout mosaic --out " + target).status,
        2);

    // --force replaces.
    const CliRun forced = run("clip " + quote(front()) + " --from 1 --to 2 --force -q --out " +
                              quote(existing.string()));
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(readFile(existing).substr(4, 8), "ftypiso4");
}

// An export never replaces what it reads: not the recording, not its partner, whatever path
// leads there (another spelling, a symbolic link, a hard link), and --force does not change that.
TEST_F(ExportCli, AnExportNeverReplacesTheRecordingItReadsOrItsPartner) {
    // A copy of the pair of its own, so the shared card stays as it is whatever happens.
    const fs::path pair = out_ / "pair";
    fs::create_directories(pair);
    const fs::path f = pair / fs::path(front()).filename();
    const fs::path r = pair / fs::path(rear()).filename();
    fs::copy_file(front(), f);
    fs::copy_file(rear(), r);
    const std::string frontBytes = readFile(f), rearBytes = readFile(r);
    fs::create_symlink(f, out_ / "link.mp4");
    fs::create_hard_link(r, out_ / "hard.mp4");
    fs::create_symlink(f, out_ / "link.jpg");

    const std::string same[] = {
        "clip " + quote(f.string()) + " --from 0 --to 2 --force --out " + quote(f.string()),
        "clip " + quote(f.string()) + " --from 0 --to 2 --force --out " + quote(r.string()),
        "clip " + quote(r.string()) + " --from 0 --to 2 --force --out " + quote(f.string()),
        "clip " + quote(f.string()) + " --from 0 --to 2 --force --out " +
            quote((pair / "." / f.filename()).string()),
        "clip " + quote(f.string()) + " --from 0 --to 2 --force --out " +
            quote((out_ / "link.mp4").string()),
        "clip " + quote(f.string()) + " --from 0 --to 2 --force --layout side-by-side --out " +
            quote((out_ / "hard.mp4").string()),
        "snapshot " + quote(f.string()) + " --at 1 --force --out " +
            quote((out_ / "link.jpg").string()),
    };
    for (const std::string& args : same) {
        SCOPED_TRACE(args);
        const CliRun run1 = run(args);
        EXPECT_EQ(run1.status, 1);
        EXPECT_EQ(std::count(run1.err.begin(), run1.err.end(), '\n'), 1) << run1.err;
        EXPECT_NE(run1.err.find("the export reads"), std::string::npos) << run1.err;
    }
    EXPECT_EQ(readFile(f), frontBytes);
    EXPECT_EQ(readFile(r), rearBytes);
    EXPECT_TRUE(fs::is_symlink(out_ / "link.mp4"));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(pair))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left.size(), 2u) << "no temporary file is left beside the recordings";
}

// A card file named like a recording that is really a playlist (or anything else FFmpeg could
// follow to other files) is refused before FFmpeg sees it.
TEST_F(ExportCli, AFileThatIsNotTheCamerasRecordingIsNeverOpenedForExport) {
    const fs::path secret = out_ / "secret.mp4";
    fs::copy_file(front(), secret);
    const fs::path playlist = out_ / "evil" / "alwa_20240101_000000_F.mp4";
    fs::create_directories(playlist.parent_path());
    std::ofstream(playlist) << "#EXTM3U\n#EXT-X-TARGETDURATION:5\n#EXTINF:5.0,\n"
                            << secret.string() << "\n#EXT-X-ENDLIST\n";
    const fs::path concat = out_ / "evil2" / "alwa_20240101_000000_F.mp4";
    fs::create_directories(concat.parent_path());
    std::ofstream(concat) << "ffconcat version 1.0\nfile '" << secret.string() << "'\n";
    for (const fs::path& input : {playlist, concat}) {
        for (const std::string& args :
             {"clip " + quote(input.string()) + " --from 0 --to 2 --out " +
                  quote((out_ / "stolen.mp4").string()),
              "snapshot " + quote(input.string()) + " --at 1 --out " +
                  quote((out_ / "stolen.png").string())}) {
            SCOPED_TRACE(args);
            const CliRun r = run(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("is not a recording"), std::string::npos) << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(out_ / "stolen.mp4"));
    EXPECT_FALSE(fs::exists(out_ / "stolen.png"));
}

// New files get the usual 0666 less the umask; a replaced file keeps the mode it had.
TEST_F(ExportCli, NewFilesFollowTheUmaskAndAReplacedFileKeepsItsMode) {
    const fs::path clip = out_ / "clip.mp4";
    const fs::path shot = out_ / "shot.png";
    CliRun r =
        orvik::test::runCommand("umask 022 && " + quote(ORVIK_CLI) + " clip " + quote(front()) +
                                " --from 0 --to 1 -q --out " + quote(clip.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    r = orvik::test::runCommand("umask 002 && " + quote(ORVIK_CLI) + " snapshot " + quote(front()) +
                                " --at 1 --out " + quote(shot.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat(clip.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(::stat(shot.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u) << "a shared group's umask";

    ::chmod(clip.c_str(), 0600);
    r = orvik::test::runCommand("umask 000 && " + quote(ORVIK_CLI) + " clip " + quote(front()) +
                                " --from 1 --to 2 -q --force --out " + quote(clip.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(::stat(clip.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a private clip stays private";
}

}  // namespace
}  // namespace orvik::exporting
