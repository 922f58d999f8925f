// The drive as one timeline: seconds since its start to a recording and back.
#include "trips/drive.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/camera_time.h"

namespace orvik::trips {
namespace {

using namespace std::chrono;
using recordings::RecordingKind;

TripRecording recording(RecordingKind kind, LocalTime start, double seconds) {
    TripRecording r;
    r.kind = kind;
    r.path = "r";
    r.start = start;
    r.stats.durationSeconds = seconds;
    return r;
}

// Two continuous minutes, a 30-s gap, an Event minute with an impact 12 s in.
Trip threeRecordings() {
    Trip t;
    t.recordings = {recording(RecordingKind::Always, at(8, 15, 0), 60),
                    recording(RecordingKind::Always, at(8, 16, 0), 60),
                    recording(RecordingKind::Event, at(8, 17, 30), 60)};
    t.events = {{EventKind::Event, 2, 0}, {EventKind::Impact, 2, 12}};
    t.start = t.recordings.front().start;
    t.end = t.recordings.back().end();
    return t;
}

TEST(Drive, BlocksGapsAndMarksOnOneTimeline) {
    const Drive d(threeRecordings());
    ASSERT_EQ(d.blocks().size(), 3U);
    EXPECT_DOUBLE_EQ(d.lengthSeconds(), 210);
    EXPECT_DOUBLE_EQ(d.blocks()[1].startSeconds, 60);
    EXPECT_DOUBLE_EQ(d.blocks()[2].startSeconds, 150);  // the gap stays visible
    EXPECT_EQ(d.blocks()[2].kind, RecordingKind::Event);
    ASSERT_EQ(d.marks().size(), 2U);
    EXPECT_DOUBLE_EQ(d.marks()[0].seconds, 150);
    EXPECT_EQ(d.marks()[1].kind, EventKind::Impact);
    EXPECT_DOUBLE_EQ(d.marks()[1].seconds, 162);
    EXPECT_EQ(d.localTimeAt(162), at(8, 17, 42));
    EXPECT_EQ(d.start(), at(8, 15, 0));
}

TEST(Drive, SecondsAndPositionsMapBothWays) {
    const Drive d(threeRecordings());
    for (const DrivePosition p : {DrivePosition{0, 0}, DrivePosition{0, 59.5}, DrivePosition{1, 0},
                                  DrivePosition{1, 30}, DrivePosition{2, 12}})
        EXPECT_EQ(d.positionAt(d.secondsOf(p)), p) << p.recording << " " << p.offsetSeconds;
    // The boundary belongs to the recording that starts there.
    EXPECT_EQ(d.positionAt(60), (DrivePosition{1, 0}));
    // A click into the gap starts the recording after it.
    EXPECT_EQ(d.positionAt(130), (DrivePosition{2, 0}));
}

TEST(Drive, OutOfRangeInputIsClampedNeverWrong) {
    const Drive d(threeRecordings());
    EXPECT_EQ(d.positionAt(-5), (DrivePosition{0, 0}));
    EXPECT_EQ(d.positionAt(1e9), (DrivePosition{2, 60}));
    EXPECT_EQ(d.positionAt(210), (DrivePosition{2, 60}));
    EXPECT_EQ(d.positionAt(std::numeric_limits<double>::quiet_NaN()), (DrivePosition{0, 0}));
    EXPECT_DOUBLE_EQ(d.secondsOf({1, 500}), 120);  // offset past the recording's end
    EXPECT_DOUBLE_EQ(d.secondsOf({1, -3}), 60);
    EXPECT_DOUBLE_EQ(d.secondsOf({7, 3}), 0);  // a recording the drive does not hold
    EXPECT_FALSE(Drive{}.positionAt(3));
    EXPECT_TRUE(Drive{}.empty());
}

TEST(Drive, OverlapsAndUnreadableLengths) {
    Trip t;
    // An Event recording written over the middle of a minute, then a file whose length is
    // unknown (NaN or absurd) and a recording that ends after it.
    t.recordings = {
        recording(RecordingKind::Always, at(8, 0, 0), 60),
        recording(RecordingKind::Event, at(8, 0, 20), 10),
        recording(RecordingKind::Always, at(8, 1, 0), std::numeric_limits<double>::quiet_NaN()),
        recording(RecordingKind::Always, at(8, 1, 0), 1e12)};
    const Drive d(t);
    EXPECT_EQ(d.positionAt(25), (DrivePosition{1, 5}));   // the one that started last
    EXPECT_EQ(d.positionAt(35), (DrivePosition{0, 35}));  // after the event ended
    EXPECT_DOUBLE_EQ(d.blocks()[2].durationSeconds, 0);
    EXPECT_DOUBLE_EQ(d.blocks()[3].durationSeconds, kLongestRecordingSeconds);
    EXPECT_EQ(d.positionAt(61), (DrivePosition{3, 1}));
}

}  // namespace
}  // namespace orvik::trips
