#include "playback/transport.h"

#include <gtest/gtest.h>

namespace orvik::playback {
namespace {

// Media time in 100-ns units, written as the tests' numbers.
constexpr MediaTime operator""_mt(unsigned long long units) {
    return MediaTime::fromUnits(static_cast<std::int64_t>(units));
}

TEST(MediaTime, SecondsAndUnitsAreNamedConversions) {
    EXPECT_EQ(MediaTime::fromSeconds(1.5).units(), 15'000'000);
    EXPECT_EQ(MediaTime::fromSeconds(2.00000004).units(), 20'000'000);  // nearest unit
    EXPECT_DOUBLE_EQ(MediaTime::fromUnits(25'000'000).seconds(), 2.5);
    EXPECT_EQ(MediaTime::fromMilliseconds(3'000), kArrowStep);
    EXPECT_EQ(MediaTime{}, 0_mt);
    EXPECT_LT(-(1_mt), MediaTime{});
    EXPECT_EQ(3_mt - 5_mt + 2_mt, MediaTime{});
}

TEST(SeekArithmetic, CursorFollowsTheIndexRule) {
    // 100 samples: start, end and the middle of the recording.
    EXPECT_EQ(cursorForPosition(100, 0_mt, 1'000'000_mt), 0u);
    EXPECT_EQ(cursorForPosition(100, 1'000'000_mt, 1'000'000_mt), 99u);
    EXPECT_EQ(cursorForPosition(100, 500'000_mt, 1'000'000_mt), 49u);
    // Rounds down.
    EXPECT_EQ(cursorForPosition(3, 999'999_mt, 1'000'000_mt), 1u);
}

TEST(SeekArithmetic, CursorSurvivesDegenerateInput) {
    EXPECT_EQ(cursorForPosition(0, 5_mt, 10_mt), 0u);      // no samples
    EXPECT_EQ(cursorForPosition(50, 5_mt, 0_mt), 0u);      // seek bar without range
    EXPECT_EQ(cursorForPosition(50, -(5_mt), 10_mt), 0u);  // negative position
    EXPECT_EQ(cursorForPosition(50, 20_mt, 10_mt), 49u);   // beyond the end
    // A product beyond 64 bits does not wrap.
    const MediaTime hours = MediaTime::fromUnits(1000LL * 3600 * 10'000'000);
    EXPECT_EQ(cursorForPosition(10'000'000'000ull, MediaTime::fromUnits(hours.units() / 2), hours),
              4'999'999'999ull);
}

TEST(SeekArithmetic, SeekReleaseCursor) {
    EXPECT_EQ(cursorForSeekRelease(59, 1000_mt, 0_mt), std::nullopt);  // zero duration: no-op
    EXPECT_EQ(cursorForSeekRelease(59, 1000_mt, 1000_mt), 58u);  // end selects the last sample
    EXPECT_EQ(cursorForSeekRelease(59, 500_mt, 1000_mt), 29u);
    // Fewer than two samples: c = 1.
    EXPECT_EQ(cursorForSeekRelease(1, 999_mt, 1000_mt), 0u);
    EXPECT_EQ(cursorForSeekRelease(1, 1000_mt, 1000_mt), 1u);
    EXPECT_EQ(cursorForSeekRelease(0, 1000_mt, 1000_mt), 1u);
}

TEST(Skip, RewindAndFastForwardMoveTenSecondsWithClamping) {
    EXPECT_EQ(kSkipStep, 100'000'000_mt);
    EXPECT_EQ(rewindTarget(250'000'000_mt), 150'000'000_mt);
    EXPECT_EQ(rewindTarget(99'999'999_mt), 0_mt);
    EXPECT_EQ(rewindTarget(0_mt), 0_mt);
    const MediaTime duration = 300'000'000_mt;
    EXPECT_EQ(fastForwardTarget(100'000'000_mt, duration), 200'000'000_mt);
    EXPECT_EQ(fastForwardTarget(250'000'000_mt, duration), duration);  // exactly the end
    EXPECT_EQ(fastForwardTarget(duration, duration), duration);
}

TEST(Skip, ArrowStepsThreeSeconds) {
    const MediaTime d = 100'000'000_mt;
    EXPECT_EQ(arrowStepTarget(50'000'000_mt, d, +1), 80'000'000_mt);
    EXPECT_EQ(arrowStepTarget(50'000'000_mt, d, -1), 20'000'000_mt);
    EXPECT_EQ(arrowStepTarget(70'000'000_mt, d, +1), d);  // landing on the end is allowed
    EXPECT_EQ(arrowStepTarget(80'000'000_mt, d, +1), std::nullopt);  // past the end: nothing
    EXPECT_EQ(arrowStepTarget(20'000'000_mt, d, -1), 0_mt);          // below 3 s: to the start
    EXPECT_EQ(arrowStepTarget(30'000'000_mt, d, -1), 0_mt);
    EXPECT_EQ(arrowStepTarget(0_mt, 0_mt, +1), std::nullopt);  // nothing open
}

TEST(PositionTimer, MovesSeekBarAndCursorWhilePlaying) {
    PositionTickInput in;
    in.position = 50_mt;
    in.duration = 100_mt;
    in.canSeek = true;
    in.reread = 60_mt;
    in.seekBarMaximum = 100_mt;
    in.sampleCount = 11;
    auto out = positionTick(in);
    EXPECT_EQ(out.seekBar, 60_mt);
    EXPECT_EQ(out.cursor, 6u);

    in.reread = 0_mt;  // a position of 0 read back is not trusted
    out = positionTick(in);
    EXPECT_FALSE(out.seekBar);
    EXPECT_FALSE(out.cursor);

    in.reread = std::nullopt;
    EXPECT_FALSE(positionTick(in).seekBar);

    in.reread = 60_mt;
    in.canSeek = false;
    EXPECT_FALSE(positionTick(in).seekBar);
}

TEST(PositionTimer, AtTheEndTheBarGoesToThePosition) {
    PositionTickInput in;
    in.position = 100_mt;
    in.duration = 100_mt;
    in.seekBarMaximum = 100_mt;
    auto out = positionTick(in);
    EXPECT_EQ(out.seekBar, 100_mt);
    EXPECT_FALSE(out.cursor);
}

TEST(PositionTimer, NeverPullsAHeldThumb) {
    PositionTickInput in;
    in.position = 50_mt;
    in.duration = 100_mt;
    in.canSeek = true;
    in.reread = 50_mt;
    in.seekBarMaximum = 100_mt;
    in.sampleCount = 11;
    in.seekBarPressed = true;
    auto out = positionTick(in);
    EXPECT_FALSE(out.seekBar);
    EXPECT_EQ(out.cursor, 5u);
    in.position = 100_mt;
    EXPECT_FALSE(positionTick(in).seekBar);
}

TEST(PositionTimer, RearFollowsTheFrontBySeekingWhenFarAndByRateWhenNear) {
    const MediaTime d = 100'000'000_mt;
    // Far apart: a re-seek, but not at the very end, where the front one has nothing to show.
    EXPECT_FALSE(rearNeedsReseek(50'000'000_mt, 51'000'000_mt, d));
    EXPECT_TRUE(rearNeedsReseek(50'000'000_mt, 51'000'001_mt, d));
    EXPECT_TRUE(rearNeedsReseek(50'000'000_mt, 48'000'000_mt, d));
    EXPECT_FALSE(rearNeedsReseek(d, 0_mt, d));
    // In step: left alone.
    EXPECT_EQ(rearRateFactor(0_mt), 1.0);
    EXPECT_EQ(rearRateFactor(kDriftDeadBand), 1.0);
    EXPECT_EQ(rearRateFactor(-kDriftDeadBand), 1.0);
    // A rear channel behind runs faster, one ahead slower, in proportion to the gap...
    EXPECT_DOUBLE_EQ(rearRateFactor(300'000_mt), 1.02);  // 30 ms behind
    EXPECT_DOUBLE_EQ(rearRateFactor(-(300'000_mt)), 0.98);
    // ...but never by more than the largest nudge.
    EXPECT_DOUBLE_EQ(rearRateFactor(kMaxChannelDrift), 1.0 + kMaxRateNudge);
    EXPECT_DOUBLE_EQ(rearRateFactor(-kMaxChannelDrift), 1.0 - kMaxRateNudge);
}

// A rear that landed 300 ms behind the front (its seek took that long at this rate) is sent
// 300 ms ahead the next time; one that then lands ahead is sent less far; never beyond a second
// or behind the front, and a landing within the dead band changes nothing.
TEST(PositionTimer, AReseekAimsAsFarAheadAsTheLastOneLandedBehind) {
    EXPECT_EQ(nextReseekLead(0_mt, 3'000'000_mt), 3'000'000_mt);
    EXPECT_EQ(nextReseekLead(3'000'000_mt, -(1'000'000_mt)), 2'000'000_mt);
    EXPECT_EQ(nextReseekLead(3'000'000_mt, kDriftDeadBand), 3'000'000_mt);
    EXPECT_EQ(nextReseekLead(3'000'000_mt, -kDriftDeadBand), 3'000'000_mt);
    EXPECT_EQ(nextReseekLead(9'000'000_mt, 5'000'000_mt), kMaxReseekLead);
    EXPECT_EQ(nextReseekLead(1'000'000_mt, -(5'000'000_mt)), 0_mt);
}

TEST(PositionTimer, DriftIsAveragedOverTicks) {
    // One frame of difference read once moves the average only part of the way.
    EXPECT_EQ(averagedDrift(0_mt, 333'333_mt), 99'999_mt);
    MediaTime average;
    for (int tick = 0; tick < 30; ++tick) {
        average = averagedDrift(average, 500'000_mt);
    }
    EXPECT_NEAR(static_cast<double>(average.units()), 500'000.0, 100.0);
    EXPECT_EQ(averagedDrift(200'000_mt, -(200'000_mt)), 80'000_mt);
}

TEST(Volume, SliderCurve) {
    EXPECT_EQ(volumeForSliderPosition(0), -10000);
    EXPECT_EQ(volumeForSliderPosition(50), -1462);
    EXPECT_EQ(volumeForSliderPosition(99), 0);
    EXPECT_EQ(volumeForSliderPosition(9), -5000);
    // Outside the slider's range the ends hold.
    EXPECT_EQ(volumeForSliderPosition(-3), -10000);
    EXPECT_EQ(volumeForSliderPosition(500), 0);
    for (int p = 1; p <= 99; ++p) {
        EXPECT_GT(volumeForSliderPosition(p), volumeForSliderPosition(p - 1)) << p;
    }
}

TEST(Zoom, StepsAndLimits) {
    const double fit = fitScale(646, 1280);
    EXPECT_EQ(fit, static_cast<double>(646.0f / 1280.0f));
    EXPECT_EQ(zoomedScale(fit, fit, -1), fit);  // ZoomOut at the fit scale
    EXPECT_EQ(zoomLabel(zoomedScale(1.96, 1.0, +1)), "2.00x");
    EXPECT_EQ(zoomedScale(1.99, 1.0, +1), 2.0);
    EXPECT_DOUBLE_EQ(zoomedScale(1.0, 0.5, +1), 1.0 + static_cast<double>(0.05f));
    // A small picture in full screen fits beyond the limit: ZoomIn must not shrink it.
    EXPECT_EQ(zoomedScale(2.59, 2.59, +1), 2.59);
    EXPECT_EQ(zoomedScale(2.59, 2.59, -1), 2.59);
    EXPECT_EQ(fitScale(646, 0), 1.0);  // unknown picture size
    EXPECT_EQ(fullScreenFitScale(1080, 1080), static_cast<double>(934.0f / 1080.0f));
}

TEST(Zoom, Labels) {
    EXPECT_STREQ(kInitialZoomLabel, "1.0x");
    EXPECT_EQ(zoomLabel(0.5046875), "0.50x");
    EXPECT_EQ(zoomLabel(1.25), "1.25x");
    EXPECT_EQ(rateLabel(false), "1x");
    EXPECT_EQ(rateLabel(true), "2x");
}

TEST(SourceRectangle, FitScaleShowsTheWholeWidth) {
    // 1280x720 into the 646x363 pane at its fit scale.
    ChannelView v{1280, 720, fitScale(646, 1280), fitScale(646, 1280), 0, 0};
    Rect r = sourceRectangle(v, 646, 363);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 1280);
    // 363 / 0.5047 = 719.26: the crop's height is truncated, half a line each side.
    EXPECT_EQ(r.top, 1);
    EXPECT_EQ(r.bottom, 719);
    // A horizontal pan at the fit scale is clamped back to nothing.
    v.panX = 40;
    r = sourceRectangle(v, 646, 363);
    EXPECT_EQ(v.panX, 0);
    EXPECT_EQ(r.left, 0);
    v.panX = -40;
    r = sourceRectangle(v, 646, 363);
    EXPECT_EQ(v.panX, 0);
}

TEST(SourceRectangle, ZoomCropsTheCentreAndPanStopsAtTheEdges) {
    ChannelView v{1280, 720, 1.0, 0.5, 0, 0};
    Rect r = sourceRectangle(v, 640, 360);
    EXPECT_EQ(r, (Rect{320, 180, 960, 540}));
    v.panX = 100;
    v.panY = -50;
    r = sourceRectangle(v, 640, 360);
    EXPECT_EQ(r, (Rect{420, 130, 1060, 490}));
    v.panX = 10'000;
    v.panY = -10'000;
    r = sourceRectangle(v, 640, 360);
    EXPECT_EQ(v.panX, 320);
    EXPECT_EQ(v.panY, -180);
    EXPECT_EQ(r, (Rect{640, 0, 1280, 360}));
}

TEST(SourceRectangle, TallPictureCanStillPanVertically) {
    // A 4:3 picture in the 16:9 pane at width fit: the crop is shorter than the picture.
    ChannelView v{640, 480, fitScale(646, 640), fitScale(646, 640), 0, 30};
    Rect r = sourceRectangle(v, 646, 363);
    EXPECT_EQ(v.panY, 30);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 640);
    EXPECT_GT(r.top, 30);
}

TEST(SourceRectangle, UnknownPictureOrScale) {
    ChannelView none{};
    EXPECT_EQ(sourceRectangle(none, 646, 363), Rect{});
    ChannelView zero{640, 480, 0.0, 0.0, 0, 0};
    EXPECT_EQ(sourceRectangle(zero, 646, 363), (Rect{0, 0, 640, 480}));
}

TEST(Layout, NormalAndFullScreenPositions) {
    EXPECT_EQ(normalPlacement(control::kSeekBar), (Placement{42, 570, 595, 13}));
    EXPECT_EQ(normalPlacement(control::kClose), (Placement{969, 5, 35, 33}));
    EXPECT_EQ(normalPlacement(control::kMinimize), (Placement{906, 5, 31, 33}));
    EXPECT_EQ(normalPlacement(4242), std::nullopt);
    // 1920x1080: c = 960, b = 1080.
    EXPECT_EQ(fullScreenPlacement(control::kFullScreen, 1920, 1080),
              (Placement{1141, 1029, 39, 33}));
    EXPECT_EQ(fullScreenPlacement(control::kRewind, 1920, 1080), (Placement{683, 1038, 23, 26}));
    EXPECT_EQ(fullScreenPlacement(control::kSeekBar, 1920, 1080), (Placement{664, 1005, 595, 13}));
    EXPECT_EQ(fullScreenPlacement(control::kVolumeSlider, 1920, 1080),
              (Placement{1216, 1033, 59, 13}));
    EXPECT_EQ(fullScreenPlacement(control::kZoomLabel, 1920, 1080), (Placement{864, 1041, 30, 18}));
    EXPECT_EQ(fullScreenPlacement(control::kClose, 1920, 1080), (Placement{1869, 5, 35, 33}));
    EXPECT_EQ(fullScreenPlacement(control::kMaximize, 1920, 1080), (Placement{1836, 5, 32, 33}));
    EXPECT_EQ(fullScreenPlacement(control::kMinimize, 1920, 1080), (Placement{1806, 5, 31, 33}));
    // Play and Pause share one place in both layouts.
    EXPECT_EQ(fullScreenPlacement(control::kPlay, 1366, 768),
              fullScreenPlacement(control::kPause, 1366, 768));
    EXPECT_EQ(fullScreenPaneRect(1920, 1080), (Rect{2, 54, 1920, 990}));
}

TEST(Targets, ZoomPanAndFullScreenFollowSwapAndMode) {
    EXPECT_EQ(zoomTarget(false, true, ChannelMode::Both, false), Channel::Front);
    EXPECT_EQ(zoomTarget(false, true, ChannelMode::Both, true), Channel::Rear);
    EXPECT_EQ(zoomTarget(false, true, ChannelMode::RearOnly, true), Channel::Front);
    EXPECT_EQ(zoomTarget(true, false, ChannelMode::Both, false), Channel::Rear);
    EXPECT_EQ(panTarget(ChannelMode::Both, true), Channel::Rear);
    EXPECT_EQ(panTarget(ChannelMode::RearOnly, true), Channel::Front);
    EXPECT_EQ(fullScreenPaneSelector(ChannelMode::Both, true), 2);
    EXPECT_EQ(fullScreenPaneSelector(ChannelMode::RearOnly, true), 1);
    EXPECT_EQ(fullScreenPaneSelector(ChannelMode::Both, false), 1);
}

}  // namespace
}  // namespace orvik::playback
