#pragma once
// The arithmetic behind the transport strip: seeking, skipping, stepping, the volume curve, zoom
// and pan of a channel's source rectangle, the labels, the full-screen layout and the rule that
// keeps the rear picture in step with the front one. Pure C++, so every number here is unit-tested
// without a window or a player.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "playback/media_time.h"
#include "playback/video_rect.h"

namespace orvik::playback {

// Rewind and FastForward skip ten seconds, as their tooltips promise.
inline constexpr MediaTime kSkipStep = MediaTime::fromMilliseconds(10'000);
// The arrow keys step three seconds.
inline constexpr MediaTime kArrowStep = MediaTime::fromMilliseconds(3'000);
// Beyond 100 ms between the two players the rear one is moved to the front's position. Below that
// its rate is nudged instead, from the drift averaged over a few ticks: the positions a core
// reports move in whole frames (33 ms at 30 fps, more when frames are dropped), so a single
// reading is too coarse to steer by.
inline constexpr MediaTime kMaxChannelDrift = MediaTime::fromMilliseconds(100);
inline constexpr MediaTime kDriftDeadBand = MediaTime::fromMilliseconds(10);  // left alone
// The gap is closed over this long.
inline constexpr MediaTime kDriftCorrectionWindow = MediaTime::fromMilliseconds(1'500);
inline constexpr double kMaxRateNudge = 0.05;   // at most 5 % faster or slower
inline constexpr double kDriftSmoothing = 0.3;  // weight of the newest reading

// A recording whose player ends further than this before its promised length was cut short: a
// normal end stops within a frame or two of it.
inline constexpr MediaTime kEarlyEndTolerance = MediaTime::fromMilliseconds(500);

inline constexpr int kPositionTimerId = 257;
inline constexpr int kPositionTimerMs = 200;
inline constexpr int kDisplayTimerId = 258;
inline constexpr int kDisplayTimerMs = 500;

enum class ChannelMode : std::int32_t { Both = 0, FrontOnly = 1, RearOnly = 2 };

// Which channel a zoom, pan or full-screen command acts on.
enum class Channel { Front, Rear };

// left/top inclusive, right/bottom exclusive, as the player takes its source rectangle.
using Rect = VideoRect;

// A control's place as x, y, width, height.
struct Placement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Placement&) const = default;
};

// ---- Seek bar and telemetry cursor -------------------------------------------------------------

// The telemetry entry of a playback moment: (count - 1) x position / maximum, rounded down.
// Empty lists, a zero range and positions outside [0, maximum] are answered without overflow or
// division by zero: 0 for an empty list or zero range, the last entry beyond the end.
std::size_t cursorForPosition(std::size_t sampleCount, MediaTime position, MediaTime rangeMaximum);

// The cursor after the seek bar was released: c x t / duration with c = count - 1 for two or more
// samples and 1 otherwise. nullopt when the duration is 0 (the release does nothing then).
std::optional<std::size_t> cursorForSeekRelease(std::size_t sampleCount, MediaTime position,
                                                MediaTime duration);

// Rewind: ten seconds back from the seek-bar position, not below 0.
MediaTime rewindTarget(MediaTime seekBarPosition);
// FastForward: ten seconds on from the seek-bar position, not beyond the duration.
MediaTime fastForwardTarget(MediaTime seekBarPosition, MediaTime duration);
// Arrow-key step (direction -1 or +1) from the front player's position. A step back that would
// reach 0 or below lands on 0; a step forward past the end does nothing (nullopt).
std::optional<MediaTime> arrowStepTarget(MediaTime current, MediaTime duration, int direction);

// What a PositionTimer tick does with the seek bar and the cursor.
struct PositionTickInput {
    MediaTime position;               // front position read first
    MediaTime duration;               // front duration
    bool canSeek = false;             // front player can seek
    std::optional<MediaTime> reread;  // front position read once more (nullopt: could not)
    bool seekBarPressed = false;
    MediaTime seekBarMaximum;
    std::size_t sampleCount = 0;
};
struct PositionTickResult {
    std::optional<MediaTime> seekBar;   // new seek-bar position
    std::optional<std::size_t> cursor;  // new G-sensor cursor
};
// The seek bar is never moved while the user holds its thumb, so a drag is not pulled back.
PositionTickResult positionTick(const PositionTickInput& in);

// True when the rear player is so far from the front one that it must be re-seeked to the front
// position (not at the very end, where the front one has nothing left to show).
bool rearNeedsReseek(MediaTime frontPosition, MediaTime rearPosition, MediaTime frontDuration);
// The rear player's rate, as a factor of the common rate, for an averaged drift (front - rear):
// faster while it is behind, slower while ahead, 1 when in step.
double rearRateFactor(MediaTime averagedDrift);
// The running average of the drift after a new reading.
MediaTime averagedDrift(MediaTime previousAverage, MediaTime drift);
// A seek takes time while the front plays on (longer at 2x and on a busy machine), so a rear sent
// to where the front is lands behind it, beyond the re-seek limit again: re-seeked every tick.
// The rear is therefore sent that far ahead of the front, learnt from where the last one landed
// (`driftAfterArrival`, front - rear once it arrived); never more than a second.
inline constexpr MediaTime kMaxReseekLead = MediaTime::fromMilliseconds(1'000);
MediaTime nextReseekLead(MediaTime previousLead, MediaTime driftAfterArrival);

// ---- Volume ------------------------------------------------------------------------------------

// Player volume in hundredths of a dB for a volume-slider position 0..99:
// -(10000 - 5000 x log10(position + 1)), truncated; 0 -> -10000, 50 -> -1462, 99 -> 0.
std::int32_t volumeForSliderPosition(int position);

// ---- Zoom and pan ------------------------------------------------------------------------------

inline constexpr double kMaxScale = 2.0;
// The zoom step is the single-precision 0.05, widened.
inline constexpr double kZoomStep = static_cast<double>(0.05f);

// Fit scale: pane extent / native extent in single precision, widened to double. A missing native
// size (0) gives 1.0 instead of infinity.
double fitScale(int paneExtent, int nativeExtent);
// Fit scale in full screen, from the height left for the picture (monitor height - 146).
double fullScreenFitScale(int paneOrMonitorHeight, int nativeHeight);

// ZoomIn (+1) or ZoomOut (-1): at most 2.0 (or minScale when that is larger), at least minScale.
double zoomedScale(double scale, double minScale, int direction);

struct ChannelView {
    int nativeWidth = 0;
    int nativeHeight = 0;
    double scale = 1.0;
    double minScale = 1.0;
    int panX = 0;
    int panY = 0;
};

// The part of the picture shown in a pane of paneWidth x paneHeight at the channel's scale: the
// centre crop shifted by the pan offsets, never beyond the picture. The pan offsets are clamped in
// place so a later drag starts from what is seen.
Rect sourceRectangle(ChannelView& view, int paneWidth, int paneHeight);

// ---- Labels ------------------------------------------------------------------------------------

std::string rateLabel(bool doubleSpeed);  // "1x" / "2x"
std::string zoomLabel(double scale);      // "%1.2fx"
inline constexpr const char* kInitialZoomLabel = "1.0x";

// ---- Layout ------------------------------------------------------------------------------------

// Pane rectangles outside full screen.
inline constexpr Rect kLargePaneRect{15, 56, 661, 419};
inline constexpr Rect kSmallPaneRect{678, 384, 1004, 630};

// Control ids of the transport strip and the caption buttons.
namespace control {
inline constexpr int kMinimize = 1001;
inline constexpr int kClose = 1002;
inline constexpr int kMaximize = 1035;
inline constexpr int kFullScreen = 1025;
inline constexpr int kRewind = 1026;
inline constexpr int kPlay = 1027;
inline constexpr int kPause = 1028;
inline constexpr int kStop = 1029;
inline constexpr int kFastForward = 1030;
inline constexpr int kSpeedUp = 1031;
inline constexpr int kSpeedDown = 1032;
inline constexpr int kZoomOut = 1016;
inline constexpr int kZoomIn = 1015;
inline constexpr int kSwap = 1036;
inline constexpr int kRateLabel = 1034;
inline constexpr int kZoomLabel = 1033;
inline constexpr int kSeekBar = 1012;
inline constexpr int kVolumeSlider = 1018;
}  // namespace control

// Where a transport or caption control sits outside full screen; nullopt for other ids.
std::optional<Placement> normalPlacement(int controlId);
// Where it sits in full screen on a monitor of monitorWidth x monitorHeight
// (c = half the monitor width, b = its height); nullopt for other ids.
std::optional<Placement> fullScreenPlacement(int controlId, int monitorWidth, int monitorHeight);
// The enlarged pane in full screen.
Rect fullScreenPaneRect(int monitorWidth, int monitorHeight);

// ---- Pairing -----------------------------------------------------------------------------------

// The channel whose picture a zoom or pan acts on.
Channel zoomTarget(bool fullScreen, bool frontPaneVisible, ChannelMode mode, bool swapped);
Channel panTarget(ChannelMode mode, bool swapped);
// Pane selector of the FullScreen and Maximize commands: 1 front, 2 rear.
int fullScreenPaneSelector(ChannelMode mode, bool swapped);

}  // namespace orvik::playback
