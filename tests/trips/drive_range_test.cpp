// Stretches of a drive over several recordings: the pieces of each recording, however the
// stretch is named.
#include "trips/drive_range.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "support/camera_time.h"
#include "support/test_support.h"

namespace orvik::trips {
namespace {

using namespace std::chrono;

TripRecording moment(const std::string& path, LocalTime start, double seconds) {
    TripRecording r;
    r.path = path + "_F.mp4";
    r.partnerPath = path + "_R.mp4";
    r.start = start;
    r.stats.durationSeconds = seconds;
    return r;
}

struct Piece {
    std::string path;
    double from, to;
    bool operator==(const Piece&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Piece& p) {
    return os << p.path << " " << p.from << "–" << p.to;
}

std::vector<Piece> piecesOf(const Result<DriveRange>& range) {
    std::vector<Piece> out;
    if (range) {
        for (const RangePiece& p : range->pieces)
            out.push_back({p.path, std::round(p.fromSeconds * 1000) / 1000,
                           std::round(p.toSeconds * 1000) / 1000});
    }
    return out;
}

// Three continuous minutes (the first a hair long), an event written over part of the second,
// then a gap of a minute and one more.
const std::vector<TripRecording> kDrive = {
    moment("b", at(8, 16, 0), 60), moment("a", at(8, 15, 0), 60.033),
    moment("ev", at(8, 16, 20), 20), moment("c", at(8, 17, 0), 60),
    moment("d", at(8, 19, 0), 59.5)};

TEST(DriveRange, AStretchOverABoundaryIsEachRecordingsShareTakenOnce) {
    auto range = rangeOf(kDrive, at(8, 15, 50), at(8, 16, 10));
    ASSERT_TRUE(range) << range.error();
    // "a" runs 33 ms into "b": the moment belongs to the recording that started last.
    EXPECT_EQ(piecesOf(range), (std::vector<Piece>{{"a_F.mp4", 50, 60}, {"b_F.mp4", 0, 10}}));
    EXPECT_EQ(range->from, at(8, 15, 50));
    EXPECT_DOUBLE_EQ(range->seconds(), 20);
    EXPECT_EQ(range->pieces[1].file(true), "b_R.mp4");

    // Within one recording: one piece, as a clip of that file alone.
    EXPECT_EQ(piecesOf(rangeOf(kDrive, at(8, 15, 1), at(8, 15, 4))),
              (std::vector<Piece>{{"a_F.mp4", 1, 4}}));
}

TEST(DriveRange, AnEventWrittenOverARecordingAndAGapAreHandledAsASnapshotSeesThem) {
    // The event takes over from "b" and "b" goes on after it: nothing is lost, nothing doubled.
    EXPECT_EQ(
        piecesOf(rangeOf(kDrive, at(8, 16, 10), at(8, 17, 5))),
        (std::vector<Piece>{
            {"b_F.mp4", 10, 20}, {"ev_F.mp4", 0, 20}, {"b_F.mp4", 40, 60}, {"c_F.mp4", 0, 5}}));
    // The gap between "c" and "d" is left out; a stretch starting in it starts at "d".
    auto over = rangeOf(kDrive, at(8, 17, 50), at(8, 19, 10));
    EXPECT_EQ(piecesOf(over), (std::vector<Piece>{{"c_F.mp4", 50, 60}, {"d_F.mp4", 0, 10}}));
    EXPECT_DOUBLE_EQ(over->seconds(), 20);
    auto inGap = rangeOf(kDrive, at(8, 18, 30), at(8, 19, 1));
    ASSERT_TRUE(inGap);
    EXPECT_EQ(inGap->from, at(8, 19, 0));
    EXPECT_EQ(piecesOf(inGap), (std::vector<Piece>{{"d_F.mp4", 0, 1}}));
}

TEST(DriveRange, StretchesOutsideTheDriveOrBackwardsAreRefusedWithTheReason) {
    const auto failsWith = [](const Result<DriveRange>& r, const std::string& text) {
        ASSERT_FALSE(r);
        EXPECT_NE(r.error().find(text), std::string::npos) << r.error();
    };
    failsWith(rangeOf(kDrive, at(8, 15, 10), at(8, 15, 10)), "must end after it starts");
    failsWith(rangeOf(kDrive, at(8, 15, 10), at(8, 15, 9)), "must end after it starts");
    failsWith(rangeOf(kDrive, at(8, 14, 59), at(8, 15, 10)), "before its drive does");
    failsWith(rangeOf(kDrive, at(8, 19, 50), at(8, 20, 0)), "after its drive does");
    failsWith(rangeOf(kDrive, at(8, 18, 10), at(8, 18, 50)), "no recording runs between");
    failsWith(rangeOf({}, at(8, 15, 0), at(8, 15, 1)), "no recording");
    // The last recording's end, a hair past what its length says, is still its end.
    EXPECT_EQ(piecesOf(rangeOf(kDrive, at(8, 19, 59), at(8, 19, 59, 520))),
              (std::vector<Piece>{{"d_F.mp4", 59, 59.5}}));
}

TEST(DriveRange, OffsetsFromOneRecordingRunIntoItsNeighboursAndMatchTheClockForm) {
    // Negative offsets reach back into the drive, offsets past the end into what follows; the
    // rear file names the same moment.
    const auto byOffsets = rangeOf(kDrive, DrivePoint{"b_R.mp4", -10}, DrivePoint{"b_R.mp4", 62.5});
    const auto byClock = rangeOf(kDrive, at(8, 15, 50), at(8, 17, 2, 500));
    ASSERT_TRUE(byOffsets) << byOffsets.error();
    EXPECT_EQ(piecesOf(byOffsets), piecesOf(byClock));
    EXPECT_EQ(piecesOf(byOffsets).back(), (Piece{"c_F.mp4", 0, 2.5}));

    EXPECT_FALSE(rangeOf(kDrive, DrivePoint{"zz_F.mp4", 0}, DrivePoint{"b_F.mp4", 1}));
    EXPECT_FALSE(timeOf(kDrive, DrivePoint{"b_F.mp4", std::nan("")}));
    EXPECT_EQ(timeOf(kDrive, DrivePoint{"a_F.mp4", 1.5}), at(8, 15, 1, 500));
}

TEST(DriveRange, TheCardOfAFileIsTheFolderWithTheCamerasFilesAboveIt) {
    orvik::test::TempDir dir;
    const std::filesystem::path card = dir.path() / "card";
    std::filesystem::create_directories(card / "Always");
    std::ofstream(card / "Always" / "alwa_20260314_081500_F.mp4") << "x";
    // Without the camera's files the file's own folder is all there is to go by.
    EXPECT_EQ(cardRootOf((card / "Always" / "alwa_20260314_081500_F.mp4").string()),
              (card / "Always").string());
    std::ofstream(card / "timeset.cfg") << "2026/03/14 08:00:00";
    EXPECT_EQ(cardRootOf((card / "Always" / "alwa_20260314_081500_F.mp4").string()), card.string());
}

}  // namespace
}  // namespace orvik::trips
