// Recordings as the media encoder writes them (empty movie header, one-second fragments): the
// duration comes from the fragments, with and without telemetry, to within one frame.
#include <gtest/gtest.h>

#include "samplecard/recording_writer.h"
#include "support/test_support.h"
#include "trips/media_duration.h"
#include "trips/recording_stats.h"

namespace orvik::trips {
namespace {

TEST(EncodedRecording, DurationFromTheFragments) {
    orvik::test::TempDir dir;
    for (const bool telemetry : {true, false}) {
        for (const bool audio : {true, false}) {
            SCOPED_TRACE(std::string(telemetry ? "telemetry" : "no telemetry") +
                         (audio ? ", audio" : ", video only"));
            tools::RecordingSpec spec;
            spec.width = 96;
            spec.height = 64;
            spec.fps = 10;
            spec.durationSeconds = 3.0;
            spec.audio = audio;
            spec.telemetry = telemetry;
            const std::string path = dir.str() + "/r.mp4";
            auto written = tools::writeRecording(path, spec);
            ASSERT_TRUE(written.ok()) << written.error();
            auto source = recordings::FileByteSource::open(path);
            ASSERT_TRUE(source);
            const auto d = mediaDurationSeconds(*source);
            ASSERT_TRUE(d);
            EXPECT_NEAR(*d, 3.0, 0.1 + 1e-9);  // one frame at 10 fps (audio may run a frame on)
            const RecordingStats stats = readRecordingStats(path, {});
            EXPECT_EQ(stats.durationSource, DurationSource::MediaHeader);
            EXPECT_EQ(stats.records, telemetry ? written->expectedRecords.size() : 0u);
        }
    }
}

}  // namespace
}  // namespace orvik::trips
