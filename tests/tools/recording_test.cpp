#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "samplecard/fragmented_mp4.h"
#include "samplecard/recording_writer.h"
#include "test_support.h"

namespace orvik::tools {
namespace {

using test::readBytes;
using test::readSlots;
using test::runCommand;
using test::TempDir;

RecordingSpec tiny() {
    RecordingSpec spec;
    spec.width = 160;
    spec.height = 96;
    spec.fps = 10;
    spec.durationSeconds = 3.0;
    return spec;
}

std::string probe(const std::string& path, const std::string& entries) {
    return runCommand("ffprobe -v error -of default=nw=1 -show_entries " + entries + " '" + path +
                      "' 2>&1")
        .out;
}

TEST(Recording, CameraLayoutWithTelemetryClosingEveryMediaBox) {
    TempDir dir;
    const std::string path = dir / "alwa_20260314_081500_F.mp4";
    auto written = writeRecording(path, tiny());
    ASSERT_TRUE(written.ok()) << written.error();
    const auto& summary = written.value();
    const auto file = readBytes(path);
    EXPECT_EQ(summary.fileSize, file.size());

    auto boxes = listTopLevelBoxes(file);
    ASSERT_TRUE(boxes.ok()) << boxes.error();
    ASSERT_GE(boxes->size(), 4u);
    EXPECT_EQ("ftyp", (*boxes)[0].type);
    EXPECT_EQ(0, std::memcmp(&file[8], "iso4", 4)) << "major brand";
    EXPECT_EQ("moov", (*boxes)[1].type);
    EXPECT_EQ(0u, (boxes->size() - 2) % 2);
    for (std::size_t i = 2; i < boxes->size(); i += 2) {
        EXPECT_EQ("moof", (*boxes)[i].type);
        EXPECT_EQ("mdat", (*boxes)[i + 1].type);
    }
    // One fragment per one-second keyframe interval.
    EXPECT_EQ(3u, summary.fragments);
    EXPECT_EQ(summary.fragments, countFragments(*boxes));

    const auto slots = readSlots(file);
    ASSERT_EQ(summary.fragments * 11, slots.size());
    ASSERT_EQ(slots.size(), summary.slots.size());
    ASSERT_EQ(slots.size(), summary.expectedRecords.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const auto expected = encodeTelemetrySlot(summary.slots[i]);
        ASSERT_EQ(0, std::memcmp(expected.data(), slots[i].bytes.data(), expected.size())) << i;
        auto decoded = test::decodeRecord(slots[i].bytes.data() + 2);
        decoded.slotPrefix = summary.slots[i].slotPrefix;
        EXPECT_EQ(summary.slots[i], decoded);
    }
    // The drive's time runs on through the recording.
    EXPECT_LT(summary.slots.front().timestamp, summary.slots.back().timestamp);
    EXPECT_EQ(0, summary.slots.front().nmeaText.find("$GNRMC,081500.000,A,"));
    const auto elapsed = summary.driveEnd.utc - tiny().drive.utc;
    EXPECT_NEAR(3.0, std::chrono::duration<double>(elapsed).count(), 0.001);
}

TEST(Recording, PlaysInFfprobeWithBothStreams) {
    if (!test::haveProgram("ffprobe"))
        GTEST_SKIP() << "ffprobe not installed";
    TempDir dir;
    const std::string path = dir / "a.mp4";
    ASSERT_TRUE(writeRecording(path, tiny()).ok());
    const std::string streams = probe(path, "stream=codec_name,width,height");
    EXPECT_NE(std::string::npos, streams.find("codec_name=h264\nwidth=160\nheight=96")) << streams;
    EXPECT_NE(std::string::npos, streams.find("codec_name=aac")) << streams;
    const std::string duration = probe(path, "format=duration");
    ASSERT_EQ(0u, duration.find("duration=")) << duration;
    EXPECT_NEAR(3.0, std::stod(duration.substr(9)), 0.1);
    // Every frame decodes without a complaint: the telemetry does not disturb the media.
    const auto decode = runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1");
    EXPECT_EQ(0, decode.status);
    EXPECT_EQ("", decode.out);
    const std::string frames = runCommand(
                                   "ffprobe -v error -count_frames -select_streams v -of csv=p=0 "
                                   "-show_entries stream=nb_read_frames '" +
                                   path + "'")
                                   .out;
    EXPECT_EQ("30\n", frames);
}

TEST(Recording, VideoOnlyHasOneStream) {
    if (!test::haveProgram("ffprobe"))
        GTEST_SKIP() << "ffprobe not installed";
    TempDir dir;
    RecordingSpec spec = tiny();
    spec.audio = false;
    ASSERT_TRUE(writeRecording(dir / "v.mp4", spec).ok());
    EXPECT_EQ("codec_type=video\n", probe(dir / "v.mp4", "stream=codec_type"));
}

TEST(Recording, PatternFramesShowTheCornerColours) {
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    RecordingSpec spec = tiny();
    spec.pattern = true;
    ASSERT_TRUE(writeRecording(dir / "p.mp4", spec).ok());
    ASSERT_EQ(0, runCommand("ffmpeg -v error -i '" + (dir / "p.mp4") +
                            "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + (dir / "f.rgb") + "'")
                     .status);
    const auto rgb = readBytes(dir / "f.rgb");
    ASSERT_EQ(160u * 96 * 3, rgb.size());
    auto pixel = [&](int x, int y) {
        const auto* p = &rgb[(static_cast<std::size_t>(y) * 160 + x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    auto near = [](std::array<int, 3> got, std::array<int, 3> want) {
        for (int i = 0; i < 3; ++i)
            if (std::abs(got[i] - want[i]) > 12)
                return false;
        return true;
    };
    // Sample well inside each block (blocks are 40x24 here).
    EXPECT_TRUE(near(pixel(15, 10), {255, 0, 0}));
    EXPECT_TRUE(near(pixel(145, 10), {0, 255, 0}));
    EXPECT_TRUE(near(pixel(15, 85), {0, 0, 255}));
    EXPECT_TRUE(near(pixel(145, 85), {255, 255, 255}));
    EXPECT_TRUE(near(pixel(80, 48), {128, 128, 128}));
}

TEST(Recording, DamagedSlotsAreLeftOutOfTheExpectedRecords) {
    TempDir dir;
    RecordingSpec spec = tiny();
    spec.corruptSlots = true;
    auto written = writeRecording(dir / "c.mp4", spec);
    ASSERT_TRUE(written.ok());
    const auto slots = readSlots(readBytes(dir / "c.mp4"));
    ASSERT_EQ(33u, slots.size());
    std::size_t valid = 0;
    for (const auto& s : slots)
        valid += test::recordIsValid(s.bytes.data() + 2);
    // Fragment 1 loses slots 2 and 6, fragment 2 slot 9.
    EXPECT_EQ(30u, valid);
    EXPECT_EQ(valid, written->expectedRecords.size());
    EXPECT_FALSE(test::recordIsValid(slots[11 + 2].bytes.data() + 2));
    EXPECT_FALSE(test::recordIsValid(slots[11 + 6].bytes.data() + 2));
    EXPECT_FALSE(test::recordIsValid(slots[22 + 9].bytes.data() + 2));
}

TEST(Recording, TruncatedFileEndsInsideItsLastMediaBox) {
    TempDir dir;
    RecordingSpec spec = tiny();
    spec.truncated = true;
    auto written = writeRecording(dir / "t.mp4", spec);
    ASSERT_TRUE(written.ok());
    const auto file = readBytes(dir / "t.mp4");
    EXPECT_FALSE(listTopLevelBoxes(file).ok()) << "the last box runs past the end";
    EXPECT_EQ(22u, readSlots(file).size());
    EXPECT_EQ(22u, written->expectedRecords.size());
    EXPECT_EQ(33u, written->slots.size());
}

TEST(Recording, SameSpecGivesTheSameBytes) {
    TempDir dir;
    RecordingSpec spec = tiny();
    spec.durationSeconds = 1.0;
    ASSERT_TRUE(writeRecording(dir / "1.mp4", spec).ok());
    ASSERT_TRUE(writeRecording(dir / "2.mp4", spec).ok());
    EXPECT_EQ(readBytes(dir / "1.mp4"), readBytes(dir / "2.mp4"));
}

TEST(Recording, BadSpecsFailCleanlyAndLeaveNoFile) {
    TempDir dir;
    RecordingSpec spec = tiny();
    spec.width = 161;
    auto r = writeRecording(dir / "odd.mp4", spec);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(std::string::npos, r.error().find("even"));
    spec = tiny();
    spec.durationSeconds = 0;
    EXPECT_FALSE(writeRecording(dir / "zero.mp4", spec).ok());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // A folder that cannot be created.
    ASSERT_TRUE(writeRecording(dir / "file", tiny()).ok());
    r = writeRecording(dir / "file/below.mp4", tiny());
    ASSERT_FALSE(r.ok());
    EXPECT_NE(std::string::npos, r.error().find("cannot create folder")) << r.error();
}

}  // namespace
}  // namespace orvik::tools
