// Clips made in-process from a generated recording, for what the command line cannot set up: a
// run of packets before the range longer than the export will hold, and a telemetry area that
// cannot be read while the clip is written.
// The generator comes first: its field named "slots" must not meet Qt's keyword macro.
#include "samplecard/sample_card.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "export/export.h"
#include "export/media.h"
#include "recordings/telemetry.h"
#include "support/test_support.h"

namespace orvik::exporting {
namespace {

namespace fs = std::filesystem;

// The front recording of a generated card: five seconds, a keyframe every second.
const std::string& recording() {
    static orvik::test::TempDir* dir = new orvik::test::TempDir;
    static std::string path = [] {
        tools::SampleCardOptions options;
        options.width = 320;
        options.height = 180;
        options.durationSeconds = 5.0;
        options.alwaysPairs = 1;
        options.deviceFiles = false;
        auto card = tools::writeSampleCard(dir->str(), options);
        EXPECT_TRUE(card.ok()) << (card.ok() ? "" : card.error());
        for (const auto& e : fs::recursive_directory_iterator(dir->path())) {
            const std::string name = e.path().filename().string();
            if (name.rfind("alwa_", 0) == 0 && name.size() > 6 &&
                name.substr(name.size() - 6) == "_F.mp4")
                return e.path().string();
        }
        return std::string();
    }();
    return path;
}

TEST(ClipHead, ALongRunBeforeTheRangeIsDecodedAfreshInsteadOfHeld) {
    orvik::test::TempDir out;
    ClipRequest rq;
    rq.input = recording();
    rq.fromSeconds = 1.5;  // half a second past a keyframe
    rq.toSeconds = 3.0;
    rq.output = (out.path() / "held.mp4").string();
    auto held = exportClip(rq);
    ASSERT_TRUE(held) << held.error();
    EXPECT_EQ(held->method, ClipMethod::SmartCut);

    // A file whose keyframes lie further apart than the export holds: the same frames, by
    // decoding from the keyframe afresh.
    rq.leadLimitBytes = 1;
    rq.output = (out.path() / "decoded.mp4").string();
    auto decoded = exportClip(rq);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(decoded->method, ClipMethod::Reencode);
    EXPECT_EQ(decoded->frames, held->frames);
    EXPECT_EQ(decoded->telemetryRecords, held->telemetryRecords);
}

TEST(ClipTelemetry, AnAreaThatCannotBeReadFailsTheClipInsteadOfDroppingItsRecords) {
    orvik::test::TempDir work;
    const fs::path source = work.path() / "alwa_20260314_081500_F.mp4";
    fs::copy_file(recording(), source);
    const auto size = fs::file_size(source);
    ClipRequest rq;
    rq.input = source.string();
    rq.fromSeconds = 0;
    rq.toSeconds = 5.0;
    rq.output = (work.path() / "clip.mp4").string();
    // The last telemetry area goes away while the clip is written (a card pulled, a bad
    // sector): the pictures before it are still there.
    bool cut = false;
    rq.progress = [&](double) {
        if (!cut) {
            cut = true;
            fs::resize_file(source, size - 100);
        }
        return true;
    };
    auto clip = exportClip(rq);
    ASSERT_FALSE(clip) << "a clip without its telemetry was reported as made";
    EXPECT_NE(clip.error().find("cannot read the telemetry"), std::string::npos) << clip.error();
    EXPECT_FALSE(fs::exists(rq.output));
    int left = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(work.path()))
        ++left;
    EXPECT_EQ(left, 1) << "nothing but the source is left";
}

// A fragment whose track run claims fifty million samples in a box of a few dozen bytes: FFmpeg's
// reader would make an index entry for each (gigabytes, minutes) before noticing. The export
// refuses it at once.
TEST(DamagedRecording, ATrackRunClaimingMoreSamplesThanItHoldsIsRefusedAtOnce) {
    orvik::test::TempDir work;
    const fs::path crafted = work.path() / "alwa_20260314_081500_F.mp4";
    std::string bytes = orvik::test::readFile(recording());
    const std::size_t trun = bytes.find("trun");
    ASSERT_NE(trun, std::string::npos);
    const std::uint32_t claimed = 50'000'000;
    for (int i = 0; i < 4; ++i)
        bytes[trun + 8 + i] = static_cast<char>(claimed >> (24 - 8 * i));  // sample_count
    ASSERT_TRUE(orvik::test::writeFile(crafted, bytes));
    SnapshotRequest rq;
    rq.input = crafted.string();
    rq.atSeconds = 1.0;
    rq.output = (work.path() / "shot.png").string();
    const auto start = std::chrono::steady_clock::now();
    auto shot = exportSnapshot(rq);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_FALSE(shot);
    EXPECT_NE(shot.error().find("claims 50000000 samples it cannot hold"), std::string::npos)
        << shot.error();
    EXPECT_FALSE(fs::exists(rq.output));
}

// The caption changes with every second of a clip (the text is read afresh for each frame),
// and the same text draws the same pixels.
TEST(Caption, EachFrameShowsTheTextSetForIt) {
    const FramePipeline::Input in{320, 180, AV_PIX_FMT_YUV420P, {1, 30}, {1, 1}};
    auto pipeline =
        FramePipeline::create(in, std::nullopt, Layout::Given, true, AV_PIX_FMT_YUV420P);
    ASSERT_TRUE(pipeline) << pipeline.error();
    const auto band = [&](const std::string& text, std::int64_t pts) {
        FramePtr frame = makeFrame();
        frame->width = 320;
        frame->height = 180;
        frame->format = AV_PIX_FMT_YUV420P;
        EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
        for (int plane = 0; plane < 3; ++plane)
            std::memset(frame->data[plane], 128,
                        static_cast<std::size_t>(frame->linesize[plane]) * (plane ? 90 : 180));
        frame->pts = pts;
        EXPECT_TRUE((*pipeline)->setCaption(text));
        EXPECT_TRUE((*pipeline)->pushMain(frame.get()));
        auto out = (*pipeline)->pull();
        EXPECT_TRUE(out && *out);
        std::string rows;
        if (out && *out) {
            // The bottom 20 rows of the picture: the caption's band.
            for (int y = 160; y < 180; ++y)
                rows.append(
                    reinterpret_cast<const char*>((*out)->data[0] + y * (*out)->linesize[0]), 320);
        }
        return rows;
    };
    const std::string first = band("2026-03-14 08:15:00  42 km/h", 0);
    const std::string same = band("2026-03-14 08:15:00  42 km/h", 1);
    const std::string next = band("2026-03-14 08:15:01  57 km/h", 2);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, same);
    EXPECT_NE(first, next) << "the new second's text was not drawn";
}

}  // namespace
}  // namespace orvik::exporting
