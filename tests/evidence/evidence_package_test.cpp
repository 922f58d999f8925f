// Building packages from a generated card through the core: what a package holds, that it is
// complete or absent (a changed source, a cancel), what --force may replace, and stretches
// named by the camera's clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "evidence/package.h"
#include "evidence/stretch.h"
#include "evidence/verify.h"
#include "platform/sha256.h"
#include "recordings/recording_file.h"
#include "samplecard/sample_card.h"
#include "support/test_support.h"

namespace orvik::evidence {
namespace {

namespace fs = std::filesystem;
using orvik::test::TempDir;

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

class EvidencePackage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        card_ = new TempDir;
        tools::SampleCardOptions o;
        o.durationSeconds = 5;
        o.alwaysPairs = 1;
        auto made = tools::writeSampleCard(card_->str(), o);
        ASSERT_TRUE(made) << made.error();
        for (const auto& e : fs::recursive_directory_iterator(card_->path())) {
            const std::string name = e.path().filename().string();
            if (e.path().parent_path().filename() != "Event")
                continue;
            if (name.rfind("event_", 0) == 0 && name.ends_with("_F.mp4"))
                eventFront_ = new std::string(e.path().string());
            if (name.rfind("evtF_", 0) == 0)
                frontOnly_ = new std::string(e.path().string());
        }
        ASSERT_TRUE(eventFront_ && frontOnly_);
    }
    static void TearDownTestSuite() {
        delete card_;
        delete eventFront_;
        delete frontOnly_;
    }

    // A private copy of the event pair, for tests that change a source.
    std::string copyOfEventPair() {
        std::string rear = *eventFront_;
        rear[rear.size() - 5] = 'R';
        const fs::path dir = scratch_.mkdir("card");
        fs::copy_file(*eventFront_, dir / fs::path(*eventFront_).filename());
        fs::copy_file(rear, dir / fs::path(rear).filename());
        return (dir / fs::path(*eventFront_).filename()).string();
    }

    PackageRequest request(const std::string& source, const std::string& folder) const {
        PackageRequest rq;
        rq.source = source;
        rq.from = "1";
        rq.to = "4";
        rq.folder = folder;
        rq.programVersion = "test";
        rq.command = {"orvik-cli", "evidence"};
        return rq;
    }

    static inline TempDir* card_ = nullptr;
    static inline std::string* eventFront_ = nullptr;
    static inline std::string* frontOnly_ = nullptr;
    TempDir scratch_;
};

TEST_F(EvidencePackage, HoldsClipsStillsTrackReportAndListsThatVerify) {
    const fs::path out = scratch_.path() / "incident";
    auto made = buildPackage(request(*eventFront_, out.string()));
    ASSERT_TRUE(made) << made.error();
    EXPECT_EQ(made->folder, out.string());
    // Side by side (the recording has its partner), each channel alone beside it, and the
    // stills of the start, the impact inside the stretch and the end for both channels.
    EXPECT_EQ(namesIn(out),
              (std::vector<std::string>{"SHA256SUMS", "clip-front.mp4", "clip-rear.mp4", "clip.mp4",
                                        "manifest.json", "report.pdf", "still-end-front.jpg",
                                        "still-end-rear.jpg", "still-impact-front.jpg",
                                        "still-impact-rear.jpg", "still-start-front.jpg",
                                        "still-start-rear.jpg", "track.gpx", "track.kml"}));
    EXPECT_EQ(made->manifest.layout, "side-by-side");
    EXPECT_EQ(made->manifest.outputs.size(), 12u);
    ASSERT_EQ(made->manifest.sources.size(), 2u);
    for (const SourceEntry& s : made->manifest.sources) {
        auto hashed = platform::hashFile(s.path);
        ASSERT_TRUE(hashed);
        EXPECT_EQ(s.sha256, platform::toHex(hashed->digest)) << s.path;
        EXPECT_EQ(s.size, hashed->stamp.size);
    }
    EXPECT_EQ(made->manifest.sources[0].channel, "front");
    EXPECT_EQ(made->manifest.sources[1].channel, "rear");
    ASSERT_TRUE(made->manifest.cameraSettings);  // the card's config_K7x7.bin, two levels up
    EXPECT_GE(made->reportPages, 3);
    EXPECT_EQ(made->reportBytes, fs::file_size(out / "report.pdf"));
    // Nothing of the assembly is left beside it.
    EXPECT_EQ(namesIn(scratch_.path()), std::vector<std::string>{"incident"});

    auto checked = verifyPackage(out.string());
    ASSERT_TRUE(checked);
    EXPECT_TRUE(checked->packageIntact());
    EXPECT_TRUE(checked->extraFiles.empty());
    EXPECT_EQ(checked->sourcesIn(SourceState::Intact), 2u);
}

TEST_F(EvidencePackage, OneChannelRecordingMakesOneClipAndItsOwnStills) {
    const fs::path out = scratch_.path() / "front-only";
    auto made = buildPackage(request(*frontOnly_, out.string()));
    ASSERT_TRUE(made) << made.error();
    const auto names = namesIn(out);
    EXPECT_TRUE(std::count(names.begin(), names.end(), "clip.mp4"));
    EXPECT_FALSE(std::count(names.begin(), names.end(), "clip-front.mp4"));
    EXPECT_TRUE(std::count(names.begin(), names.end(), "still-start-front.jpg"));
    EXPECT_FALSE(std::count(names.begin(), names.end(), "still-start-rear.jpg"));
    EXPECT_EQ(made->manifest.sources.size(), 1u);
    EXPECT_EQ(made->manifest.layout, "front");
}

TEST_F(EvidencePackage, ALongNoteIsPrintedWholeOverAsManyPagesAsItTakes) {
    if (!orvik::test::haveProgram("pdftotext"))
        GTEST_SKIP() << "pdftotext not installed";
    std::string note;
    for (int i = 0; i < 150; ++i)
        note += "Statement " + std::to_string(i) + ": the other car came from the left. ";
    const fs::path out = scratch_.path() / "statement";
    PackageRequest rq = request(*frontOnly_, out.string());
    rq.note = note;
    auto made = buildPackage(rq);
    ASSERT_TRUE(made) << made.error();
    EXPECT_GE(made->reportPages, 4);
    const std::string text =
        orvik::test::runCommand("pdftotext " + orvik::test::quote((out / "report.pdf").string()) +
                                " -")
            .out;
    // Every sentence, the last one too: the note and the command line that repeats it.
    for (int i : {0, 75, 149})
        EXPECT_NE(text.find("Statement " + std::to_string(i) + ":"), std::string::npos) << i;
}

TEST_F(EvidencePackage, ASourceChangedWhileItIsHashedFailsAndLeavesNothing) {
    const std::string source = copyOfEventPair();
    const fs::path out = scratch_.path() / "incident";
    PackageRequest rq = request(source, out.string());
    bool changed = false;
    rq.progress = [&](PackageStage stage, double done) {
        if (!changed && stage == PackageStage::HashingSources && done > 0) {
            std::ofstream(source, std::ios::app) << "x";  // the camera still writing
            changed = true;
        }
        return true;
    };
    auto made = buildPackage(rq);
    ASSERT_TRUE(changed);
    ASSERT_FALSE(made);
    EXPECT_NE(made.error().find("changed while it was read"), std::string::npos) << made.error();
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(namesIn(scratch_.path()), std::vector<std::string>{"card"});
}

TEST_F(EvidencePackage, ASourceChangedAfterItWasHashedFailsToo) {
    const std::string source = copyOfEventPair();
    const fs::path out = scratch_.path() / "incident";
    PackageRequest rq = request(source, out.string());
    bool touched = false;
    rq.progress = [&](PackageStage stage, double) {
        if (!touched && stage == PackageStage::MakingClips) {
            // Same bytes, a new time: the clip may no longer come from what was hashed.
            struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
            ::utimensat(AT_FDCWD, source.c_str(), times, 0);
            touched = true;
        }
        return true;
    };
    auto made = buildPackage(rq);
    ASSERT_FALSE(made);
    EXPECT_NE(made.error().find("changed while the package was made"), std::string::npos)
        << made.error();
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(namesIn(scratch_.path()), std::vector<std::string>{"card"});
}

TEST_F(EvidencePackage, ACancelledPackageLeavesNoFolderBehind) {
    for (const PackageStage when :
         {PackageStage::HashingSources, PackageStage::MakingClips, PackageStage::TakingStills,
          PackageStage::WritingReport, PackageStage::Finishing}) {
        const fs::path out = scratch_.path() / "incident";
        PackageRequest rq = request(*eventFront_, out.string());
        rq.progress = [&](PackageStage stage, double) { return stage != when; };
        auto made = buildPackage(rq);
        ASSERT_FALSE(made) << stageName(when);
        EXPECT_EQ(made.error(), "cancelled") << stageName(when);
        EXPECT_TRUE(namesIn(scratch_.path()).empty()) << stageName(when);
        // An empty folder the user made for it stays, empty.
        fs::create_directory(out);
        EXPECT_FALSE(buildPackage(rq));
        EXPECT_TRUE(fs::is_empty(out)) << stageName(when);
        fs::remove(out);
    }
}

TEST_F(EvidencePackage, ForceReplacesAnEarlierPackageAndTouchesNothingElse) {
    const fs::path out = scratch_.path() / "incident";
    ASSERT_TRUE(buildPackage(request(*eventFront_, out.string())));
    orvik::test::writeFile(out / "my notes.txt", "keep me");

    PackageRequest rq = request(*eventFront_, out.string());
    rq.layout = exporting::Layout::Front;
    auto refused = buildPackage(rq);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("--force"), std::string::npos);
    EXPECT_TRUE(fs::exists(out / "clip-rear.mp4"));

    rq.force = true;
    auto made = buildPackage(rq);
    ASSERT_TRUE(made) << made.error();
    // The single-channel files of the side-by-side package are gone: SHA256SUMS covers what
    // is there.
    EXPECT_FALSE(fs::exists(out / "clip-front.mp4"));
    EXPECT_FALSE(fs::exists(out / "clip-rear.mp4"));
    EXPECT_EQ(orvik::test::readFile(out / "my notes.txt"), "keep me");
    auto checked = verifyPackage(out.string());
    ASSERT_TRUE(checked);
    EXPECT_TRUE(checked->packageIntact());
    EXPECT_EQ(checked->extraFiles, std::vector<std::string>{"my notes.txt"});
    EXPECT_EQ(namesIn(scratch_.path()), std::vector<std::string>{"incident"});
}

TEST_F(EvidencePackage, ForceIntoAFolderThatHoldsNoPackageRemovesNothing) {
    const fs::path out = scratch_.mkdir("mine");
    orvik::test::writeFile(out / "clip-rear.mp4", "a clip of my own");
    PackageRequest rq = request(*frontOnly_, out.string());
    rq.force = true;
    ASSERT_TRUE(buildPackage(rq));
    // Not made by this package, not listed by an earlier one: the user's file stays.
    EXPECT_EQ(orvik::test::readFile(out / "clip-rear.mp4"), "a clip of my own");
    auto checked = verifyPackage(out.string());
    ASSERT_TRUE(checked);
    EXPECT_TRUE(checked->packageIntact());
    EXPECT_EQ(checked->extraFiles, std::vector<std::string>{"clip-rear.mp4"});
}

TEST_F(EvidencePackage, ForceNeverPutsAFileInThePlaceOfASourceRecording) {
    // A recording saved under a name a package uses, in the folder the package is to go into.
    const fs::path folder = scratch_.mkdir("exports");
    const fs::path source = folder / "clip.mp4";
    fs::copy_file(*frontOnly_, source);
    const std::string before = orvik::test::readFile(source);
    PackageRequest rq = request(source.string(), folder.string());
    rq.force = true;
    auto made = buildPackage(rq);
    ASSERT_FALSE(made);
    EXPECT_NE(made.error().find("is a recording the package is made from"), std::string::npos)
        << made.error();
    EXPECT_EQ(orvik::test::readFile(source), before);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"clip.mp4"});
    EXPECT_EQ(namesIn(scratch_.path()), std::vector<std::string>{"exports"});
}

TEST_F(EvidencePackage, RefusesTargetsItMustNotUse) {
    const auto file = scratch_.touch("a file");
    auto r = buildPackage(request(*eventFront_, file.string()));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("not a folder"), std::string::npos);
    r = buildPackage(request(*eventFront_, (scratch_.path() / "no" / "such").string()));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("does not exist"), std::string::npos);
    PackageRequest rq = request(*eventFront_, (scratch_.path() / "x").string());
    rq.to = "99";
    r = buildPackage(rq);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("after its drive does"), std::string::npos) << r.error();
    EXPECT_EQ(namesIn(scratch_.path()), std::vector<std::string>{"a file"});
}

TEST_F(EvidencePackage, TheCameraClockOnACardNamesTheSameStretchAsSeconds) {
    const auto name = recordings::parseRecordingName(fs::path(*eventFront_).filename().string());
    const auto start = trips::startOf(name.timestamp);
    ASSERT_TRUE(start);
    const auto at = [&](int ms) { return isoLocalTimeMs(*start + std::chrono::milliseconds(ms)); };
    const std::string from = at(1250), to = at(4000), past = at(7000);
    auto onCard = resolveStretch(card_->str(), from, to);
    ASSERT_TRUE(onCard) << onCard.error();
    ASSERT_EQ(onCard->segments.size(), 1u);
    EXPECT_EQ(onCard->segments[0].path, *eventFront_);
    EXPECT_NEAR(onCard->segments[0].fromSeconds, 1.25, 1e-9);
    EXPECT_NEAR(onCard->segments[0].toSeconds, 4.0, 1e-9);
    auto inFile = resolveStretch(*eventFront_, "1.25", to);
    ASSERT_TRUE(inFile) << inFile.error();
    EXPECT_NEAR(inFile->segments[0].toSeconds, 4.0, 1e-9);
    EXPECT_EQ(isoLocalTimeMs(*inFile->start()), isoLocalTimeMs(*onCard->start()));

    // Past the recording's end the stretch runs on into the next recording of the drive.
    auto runsOn = resolveStretch(card_->str(), from, past);
    ASSERT_TRUE(runsOn) << runsOn.error();
    ASSERT_EQ(runsOn->segments.size(), 2u);
    EXPECT_NE(runsOn->segments[1].path, *eventFront_);
    EXPECT_NEAR(runsOn->durationSeconds(), 5.75, 1e-3);
    EXPECT_EQ(isoLocalTimeMs(*runsOn->end()), past);
}

}  // namespace
}  // namespace orvik::evidence
