#include "playback/video_renderer.h"

#include <mpv/client.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "playback/mpv_properties.h"
#include "playback/video_pane.h"

namespace orvik::playback {

using mpv::readInt;
using mpv::readString;

namespace {}  // namespace

VideoLayout computeVideoLayout(std::int32_t nativeWidth, std::int32_t nativeHeight,
                               const VideoRect* source, const VideoRect* destination,
                               std::int32_t targetWidth, std::int32_t targetHeight) {
    VideoLayout layout;
    if (nativeWidth <= 0 || nativeHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) {
        return layout;
    }
    VideoRect src{0, 0, nativeWidth, nativeHeight};
    if (source) {
        VideoRect clipped{std::max(source->left, 0), std::max(source->top, 0),
                          std::min(source->right, nativeWidth),
                          std::min(source->bottom, nativeHeight)};
        if (!clipped.isEmpty())
            src = clipped;
    }
    VideoRect dst{0, 0, targetWidth, targetHeight};
    if (destination && !destination->isEmpty())
        dst = *destination;

    const double W = nativeWidth, H = nativeHeight;
    const double tw = targetWidth, th = targetHeight;
    // The source keeps its proportions inside the destination: one scale for both axes.
    const double k = std::min(dst.width() / static_cast<double>(src.width()),
                              dst.height() / static_cast<double>(src.height()));
    const double shownW = src.width() * k, shownH = src.height() * k;
    const double shownLeft = dst.left + (dst.width() - shownW) / 2.0;
    const double shownTop = dst.top + (dst.height() - shownH) / 2.0;

    // mpv first fits the whole picture into the target, centred, then scales it by 2^zoom and
    // moves it by pan times its scaled size.
    const double fit = std::min(tw / W, th / H);
    const double scaledW = W * k, scaledH = H * k;
    const double pictureLeft = shownLeft - src.left * k;
    const double pictureTop = shownTop - src.top * k;
    layout.zoom = std::log2(k / fit);
    layout.panX = (pictureLeft - (tw - scaledW) / 2.0) / scaledW;
    layout.panY = (pictureTop - (th - scaledH) / 2.0) / scaledH;

    auto clampTo = [](double v, std::int32_t hi) {
        return static_cast<std::int32_t>(std::clamp(std::lround(v), 0L, static_cast<long>(hi)));
    };
    layout.visible = {clampTo(shownLeft, targetWidth), clampTo(shownTop, targetHeight),
                      clampTo(shownLeft + shownW, targetWidth),
                      clampTo(shownTop + shownH, targetHeight)};
    layout.valid = true;
    return layout;
}

MpvRenderer::~MpvRenderer() {
    if (attached_ && pane_)
        pane_->detachCore(this);
}

bool MpvRenderer::HasVideo() const {
    return core_ != nullptr;
}

HResult MpvRenderer::AddToGraph(mpv_handle* core, VideoPane* videoWindow) {
    if (!core)
        return E_POINTER;
    core_ = core;
    pane_ = videoWindow;
    if (pane_ && readString(core, "options/vo") == "libmpv") {
        // The core draws through the pane's GL context; it has to exist before a file loads.
        if (!pane_->attachCore(core, this))
            return E_FAIL;
        attached_ = true;
    }
    return S_OK;
}

HResult MpvRenderer::FinalizeGraph(mpv_handle* core) {
    if (!core)
        return E_POINTER;
    std::int64_t w = 0, h = 0;
    if (readInt(core, "current-tracks/video/demux-w", &w) &&
        readInt(core, "current-tracks/video/demux-h", &h) && w > 0 && h > 0) {
        nativeWidth_ = static_cast<std::int32_t>(w);
        nativeHeight_ = static_cast<std::int32_t>(h);
    }
    relayout();
    return S_OK;
}

HResult MpvRenderer::GetNativeVideoSize(std::int32_t* width, std::int32_t* height) const {
    if (!width || !height)
        return E_POINTER;
    std::int32_t w = nativeWidth_, h = nativeHeight_;
    std::int64_t dw = 0, dh = 0;
    if ((w <= 0 || h <= 0) && readInt(core_, "video-params/w", &dw) &&
        readInt(core_, "video-params/h", &dh)) {
        w = static_cast<std::int32_t>(dw);
        h = static_cast<std::int32_t>(dh);
    }
    if (w <= 0 || h <= 0)
        return E_FAIL;
    *width = w;
    *height = h;
    return S_OK;
}

HResult MpvRenderer::UpdateVideoWindow(VideoPane*, const VideoRect* source,
                                       const VideoRect* destination) {
    hasSource_ = source != nullptr;
    if (source)
        source_ = *source;
    // A destination equal to the pane's client area follows the pane when it is resized.
    hasDestination_ = destination != nullptr &&
                      !(pane_ && *destination == VideoRect{0, 0, pane_->width(), pane_->height()});
    if (destination)
        destination_ = *destination;
    relayout();
    return S_OK;
}

void MpvRenderer::relayout() {
    if (!core_)
        return;
    const int targetW = pane_ ? pane_->width() : nativeWidth_;
    const int targetH = pane_ ? pane_->height() : nativeHeight_;
    layout_ = computeVideoLayout(nativeWidth_, nativeHeight_, hasSource_ ? &source_ : nullptr,
                                 hasDestination_ ? &destination_ : nullptr, targetW, targetH);
    if (!layout_.valid)
        return;
    // Asynchronous: the GUI thread never waits on the core while the core may wait on a render.
    double zoom = layout_.zoom, panX = layout_.panX, panY = layout_.panY;
    mpv_set_property_async(core_, 0, "video-zoom", MPV_FORMAT_DOUBLE, &zoom);
    mpv_set_property_async(core_, 0, "video-pan-x", MPV_FORMAT_DOUBLE, &panX);
    mpv_set_property_async(core_, 0, "video-pan-y", MPV_FORMAT_DOUBLE, &panY);
    if (pane_)
        pane_->update();
}

HResult MpvRenderer::Repaint(VideoPane* videoWindow) {
    if (VideoPane* pane = videoWindow ? videoWindow : pane_.data())
        pane->update();
    return S_OK;
}

}  // namespace orvik::playback
