#include "playback/transport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvik::playback {

std::size_t cursorForPosition(std::size_t sampleCount, MediaTime position, MediaTime rangeMaximum) {
    if (sampleCount == 0 || rangeMaximum <= MediaTime{} || position <= MediaTime{}) {
        return 0;
    }
    if (position >= rangeMaximum) {
        return sampleCount - 1;
    }
    // 128-bit product: a long recording with many samples must not wrap around.
    const unsigned __int128 product = static_cast<unsigned __int128>(sampleCount - 1) *
                                      static_cast<std::uint64_t>(position.units());
    return static_cast<std::size_t>(product / static_cast<std::uint64_t>(rangeMaximum.units()));
}

std::optional<std::size_t> cursorForSeekRelease(std::size_t sampleCount, MediaTime position,
                                                MediaTime duration) {
    if (duration == MediaTime{}) {
        return std::nullopt;
    }
    const std::int64_t c = sampleCount >= 2 ? static_cast<std::int64_t>(sampleCount - 1) : 1;
    const __int128 value = static_cast<__int128>(c) * position.units() / duration.units();
    return value <= 0 ? 0 : static_cast<std::size_t>(value);
}

MediaTime rewindTarget(MediaTime seekBarPosition) {
    return std::max(seekBarPosition - kSkipStep, MediaTime{});
}

MediaTime fastForwardTarget(MediaTime seekBarPosition, MediaTime duration) {
    return std::min(seekBarPosition + kSkipStep, duration);
}

std::optional<MediaTime> arrowStepTarget(MediaTime current, MediaTime duration, int direction) {
    const MediaTime t = direction < 0 ? current - kArrowStep : current + kArrowStep;
    if (t > MediaTime{} && t <= duration) {
        return t;
    }
    if (direction < 0 && t <= MediaTime{}) {
        return MediaTime{};
    }
    return std::nullopt;
}

PositionTickResult positionTick(const PositionTickInput& in) {
    PositionTickResult out;
    if (in.position >= MediaTime{} && in.position < in.duration) {
        if (in.canSeek && in.reread && *in.reread != MediaTime{}) {
            if (!in.seekBarPressed) {
                out.seekBar = *in.reread;
            }
            out.cursor = cursorForPosition(in.sampleCount, *in.reread, in.seekBarMaximum);
        }
    } else if (!in.seekBarPressed) {
        out.seekBar = in.position;
    }
    return out;
}

bool rearNeedsReseek(MediaTime frontPosition, MediaTime rearPosition, MediaTime frontDuration) {
    const MediaTime drift = frontPosition - rearPosition;
    return (drift > kMaxChannelDrift || drift < -kMaxChannelDrift) && frontPosition < frontDuration;
}

double rearRateFactor(MediaTime averagedDrift) {
    if (averagedDrift >= -kDriftDeadBand && averagedDrift <= kDriftDeadBand) {
        return 1.0;
    }
    const double nudge = static_cast<double>(averagedDrift.units()) /
                         static_cast<double>(kDriftCorrectionWindow.units());
    return 1.0 + std::clamp(nudge, -kMaxRateNudge, kMaxRateNudge);
}

MediaTime nextReseekLead(MediaTime previousLead, MediaTime driftAfterArrival) {
    if (driftAfterArrival >= -kDriftDeadBand && driftAfterArrival <= kDriftDeadBand)
        return previousLead;
    return std::clamp(previousLead + driftAfterArrival, MediaTime{}, kMaxReseekLead);
}

MediaTime averagedDrift(MediaTime previousAverage, MediaTime drift) {
    return previousAverage +
           MediaTime::fromUnits(static_cast<std::int64_t>(
               kDriftSmoothing * static_cast<double>((drift - previousAverage).units())));
}

std::int32_t volumeForSliderPosition(int position) {
    position = std::clamp(position, 0, 99);
    const double attenuation = 10000.0 - 5000.0 * std::log10(static_cast<double>(position) + 1.0);
    return -static_cast<std::int32_t>(std::trunc(attenuation));
}

double fitScale(int paneExtent, int nativeExtent) {
    if (nativeExtent <= 0 || paneExtent <= 0) {
        return 1.0;
    }
    return static_cast<double>(static_cast<float>(paneExtent) / static_cast<float>(nativeExtent));
}

double fullScreenFitScale(int paneOrMonitorHeight, int nativeHeight) {
    return fitScale(paneOrMonitorHeight - 146, nativeHeight);
}

double zoomedScale(double scale, double minScale, int direction) {
    if (direction > 0) {
        // A picture whose fit scale is already beyond the limit (a small picture in full screen)
        // stays at its fit: zooming in never makes it smaller.
        return std::min(scale + kZoomStep, std::max(kMaxScale, minScale));
    }
    return std::max(scale - kZoomStep, minScale);
}

Rect sourceRectangle(ChannelView& view, int paneWidth, int paneHeight) {
    const int W = view.nativeWidth;
    const int H = view.nativeHeight;
    if (W <= 0 || H <= 0) {
        return Rect{};
    }
    auto cropExtent = [&](int paneExtent, int nativeExtent) {
        if (!(view.scale > 0.0) || !std::isfinite(view.scale)) {
            return nativeExtent;
        }
        const double extent = std::trunc(static_cast<double>(paneExtent) / view.scale);
        return static_cast<int>(std::clamp(extent, 0.0, 1e9));
    };
    const int sw = cropExtent(paneWidth, W);
    const int sh = cropExtent(paneHeight, H);

    Rect r;
    r.left = std::max(W / 2 - sw / 2, 0);
    r.top = std::max(H / 2 - sh / 2, 0);
    r.right = std::min(sw / 2 + W / 2, W);
    r.bottom = std::min(sh / 2 + H / 2, H);

    if (view.panX + r.left < 0) {
        view.panX = -r.left;
    }
    if (view.panX + r.right > W) {
        view.panX = W - r.right;
    }
    if (view.panY + r.top < 0) {
        view.panY = -r.top;
    }
    if (view.panY + r.bottom > H) {
        view.panY = H - r.bottom;
    }
    r.left += view.panX;
    r.right += view.panX;
    r.top += view.panY;
    r.bottom += view.panY;
    return r;
}

std::string rateLabel(bool doubleSpeed) {
    return doubleSpeed ? "2x" : "1x";
}

std::string zoomLabel(double scale) {
    char text[32];
    std::snprintf(text, sizeof text, "%1.2fx", scale);
    return text;
}

namespace {

struct LayoutRow {
    int id;
    Placement normal;
    int dxFromCentre;  // full screen: x = c + dx
    int dyFromBottom;  // full screen: y = b - dy
};

constexpr LayoutRow kLayout[] = {
    {control::kFullScreen, {519, 594, 39, 33}, 181, 51},
    {control::kRewind, {61, 603, 23, 26}, -277, 42},
    {control::kPlay, {84, 603, 23, 26}, -254, 42},
    {control::kPause, {84, 603, 23, 26}, -254, 42},
    {control::kFastForward, {107, 603, 23, 26}, -231, 42},
    {control::kSpeedUp, {186, 605, 16, 20}, -152, 40},
    {control::kSpeedDown, {141, 605, 16, 20}, -197, 40},
    {control::kZoomOut, {224, 605, 16, 20}, -114, 40},
    {control::kZoomIn, {275, 605, 16, 20}, -63, 40},
    {control::kSwap, {481, 594, 39, 33}, 143, 51},
    {control::kRateLabel, {157, 606, 29, 18}, -181, 39},
    {control::kZoomLabel, {242, 606, 30, 18}, -96, 39},
    {control::kSeekBar, {42, 570, 595, 13}, -296, 75},
    {control::kVolumeSlider, {594, 598, 59, 13}, 256, 47},
};

// The caption buttons keep their distance from the right edge: 1020 wide outside full screen.
struct CaptionRow {
    int id;
    int fromRight;
    int width;
    int height;
};
constexpr CaptionRow kCaption[] = {
    {control::kMinimize, 114, 31, 33},
    {control::kMaximize, 84, 32, 33},
    {control::kClose, 51, 35, 33},
};
constexpr int kWindowWidth = 1020;

}  // namespace

std::optional<Placement> normalPlacement(int controlId) {
    for (const auto& row : kLayout) {
        if (row.id == controlId) {
            return row.normal;
        }
    }
    for (const auto& row : kCaption) {
        if (row.id == controlId) {
            return Placement{kWindowWidth - row.fromRight, 5, row.width, row.height};
        }
    }
    return std::nullopt;
}

std::optional<Placement> fullScreenPlacement(int controlId, int monitorWidth, int monitorHeight) {
    const int c = monitorWidth / 2;
    const int b = monitorHeight;
    for (const auto& row : kLayout) {
        if (row.id == controlId) {
            return Placement{c + row.dxFromCentre, b - row.dyFromBottom, row.normal.width,
                             row.normal.height};
        }
    }
    for (const auto& row : kCaption) {
        if (row.id == controlId) {
            return Placement{monitorWidth - row.fromRight, 5, row.width, row.height};
        }
    }
    return std::nullopt;
}

Rect fullScreenPaneRect(int monitorWidth, int monitorHeight) {
    return Rect{2, 54, 2 + (monitorWidth - 2), 54 + (monitorHeight - 144)};
}

Channel zoomTarget(bool fullScreen, bool frontPaneVisible, ChannelMode mode, bool swapped) {
    if (fullScreen) {
        return frontPaneVisible ? Channel::Front : Channel::Rear;
    }
    return (mode != ChannelMode::Both || !swapped) ? Channel::Front : Channel::Rear;
}

Channel panTarget(ChannelMode mode, bool swapped) {
    return (mode == ChannelMode::Both && swapped) ? Channel::Rear : Channel::Front;
}

int fullScreenPaneSelector(ChannelMode mode, bool swapped) {
    return (mode != ChannelMode::Both || !swapped) ? 1 : 2;
}

}  // namespace orvik::playback
