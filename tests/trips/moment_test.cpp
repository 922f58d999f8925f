// Moments named by the camera's clock, and the recording that holds one.
#include "trips/moment.h"

#include <gtest/gtest.h>

#include "support/camera_time.h"

namespace orvik::trips {
namespace {

using namespace std::chrono;

TEST(CameraTime, ReadsTheFileNamesClockWithAnOptionalFraction) {
    EXPECT_EQ(parseLocalTime("2026-03-14T08:15:02"), at(8, 15, 2));
    EXPECT_EQ(parseLocalTime("2026-03-14T08:15:02.5"), at(8, 15, 2, 500));
    EXPECT_EQ(parseLocalTime("2026-03-14T08:15:02.25"), at(8, 15, 2, 250));
    EXPECT_EQ(parseLocalTime("2026-03-14T23:59:59.999"), at(23, 59, 59, 999));
    EXPECT_EQ(parseLocalTime("2024-02-29T00:00:00"), LocalTime{sys_days{2024y / February / 29}});
    EXPECT_EQ(parseLocalTime("2026-03-14 08:15:02"), at(8, 15, 2));
    for (const char* bad : {"", "2026-03-14", "2026-03-14_08:15:02", "2026-03-14T08:15:02Z",
                            "2026-03-14T08:15", "2026-03-14T08:15:02.", "2026-03-14T08:15:02.1234",
                            "2026-03-14T24:00:00", "2026-03-14T08:60:00", "2026-03-14T08:15:60",
                            "2026-02-29T08:15:02", "2026-13-01T00:00:00", "2026-00-10T00:00:00",
                            "+026-03-14T08:15:02", "2026-03-14T08:15:0x", "２026-03-14T08:15:02"})
        EXPECT_FALSE(parseLocalTime(bad)) << bad;
}

TripRecording moment(const std::string& path, LocalTime start, double seconds) {
    TripRecording r;
    r.path = path;
    r.start = start;
    r.stats.durationSeconds = seconds;
    return r;
}

TEST(CameraTime, TheRecordingThatRunsAtTheMomentAndHowFarIntoIt) {
    // Two continuous minutes, an event written over the second, a gap, one more.
    const std::vector<TripRecording> card = {
        moment("b", at(8, 16, 0), 60), moment("a", at(8, 15, 0), 60),
        moment("event", at(8, 16, 10), 30), moment("c", at(8, 30, 0), 60)};
    auto found = findMoment(card, at(8, 15, 2, 500));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, "a");
    EXPECT_DOUBLE_EQ(found->offsetSeconds, 2.5);
    // A recording's end belongs to the next one.
    found = findMoment(card, at(8, 16, 0));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, "b");
    EXPECT_DOUBLE_EQ(found->offsetSeconds, 0);
    // Where two run, the one that started last.
    found = findMoment(card, at(8, 16, 20));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, "event");
    EXPECT_DOUBLE_EQ(found->offsetSeconds, 10);
    found = findMoment(card, at(8, 16, 45));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, "b");
    // Before the first, in the gap, after the last, and a recording of no length: none.
    EXPECT_FALSE(findMoment(card, at(8, 14, 59, 999)));
    EXPECT_FALSE(findMoment(card, at(8, 20, 0)));
    EXPECT_FALSE(findMoment(card, at(8, 31, 0)));
    EXPECT_FALSE(findMoment({moment("empty", at(8, 0, 0), 0)}, at(8, 0, 0)));
    EXPECT_FALSE(findMoment({}, at(8, 0, 0)));
}

}  // namespace
}  // namespace orvik::trips
