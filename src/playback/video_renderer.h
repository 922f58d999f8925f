#pragma once
// The renderer behind a MediaPlayer: binds the core's video output to a VideoPane and turns a
// source/destination rectangle pair into the core's zoom and pan.
#include <QPointer>
#include <cstdint>

#include "platform/hresult.h"
#include "playback/video_rect.h"

struct mpv_handle;

namespace orvik::playback {

class VideoPane;

class VideoRenderer {
  public:
    virtual ~VideoRenderer() = default;
    virtual bool HasVideo() const = 0;
    virtual HResult GetNativeVideoSize(std::int32_t* width, std::int32_t* height) const = 0;
    // Binds the core's video output to the pane (pane may be null: decode without drawing).
    virtual HResult AddToGraph(mpv_handle* core, VideoPane* videoWindow) = 0;
    // Called once the file is loaded: reads the picture size.
    virtual HResult FinalizeGraph(mpv_handle* core) = 0;
    virtual HResult UpdateVideoWindow(VideoPane* videoWindow, const VideoRect* source,
                                      const VideoRect* destination) = 0;
    virtual HResult Repaint(VideoPane* videoWindow) = 0;
};

// Where the core must draw the whole picture so that `source` lands letter-boxed in
// `destination`: mpv's video-zoom / video-pan-x / video-pan-y for a render target of
// targetWidth x targetHeight, and the part of the target the source occupies (everything outside
// it is cleared, so only the source rectangle is ever visible).
struct VideoLayout {
    double zoom = 0.0;  // log2 of the scale relative to mpv's own fit of the whole picture
    double panX = 0.0;  // fractions of the scaled picture's width / height
    double panY = 0.0;
    VideoRect visible;  // target pixels showing the source rectangle
    bool valid = false;
};

// source: native pixels, clipped to the picture; destination: target pixels. An empty or
// missing source means the whole picture, an empty destination the whole target.
VideoLayout computeVideoLayout(std::int32_t nativeWidth, std::int32_t nativeHeight,
                               const VideoRect* source, const VideoRect* destination,
                               std::int32_t targetWidth, std::int32_t targetHeight);

// The renderer on libmpv's render API (OpenGL, vo=libmpv).
class MpvRenderer final : public VideoRenderer {
  public:
    MpvRenderer() = default;
    ~MpvRenderer() override;

    bool HasVideo() const override;
    HResult GetNativeVideoSize(std::int32_t* width, std::int32_t* height) const override;
    HResult AddToGraph(mpv_handle* core, VideoPane* videoWindow) override;
    HResult FinalizeGraph(mpv_handle* core) override;
    HResult UpdateVideoWindow(VideoPane* videoWindow, const VideoRect* source,
                              const VideoRect* destination) override;
    HResult Repaint(VideoPane* videoWindow) override;

    // Called by the pane when its size changes: the zoom depends on the target size.
    void relayout();
    const VideoLayout& layout() const { return layout_; }

  private:
    mpv_handle* core_ = nullptr;
    QPointer<VideoPane> pane_;
    bool attached_ = false;
    std::int32_t nativeWidth_ = 0;
    std::int32_t nativeHeight_ = 0;
    bool hasSource_ = false;
    VideoRect source_;
    bool hasDestination_ = false;
    VideoRect destination_;
    VideoLayout layout_;
};

}  // namespace orvik::playback
