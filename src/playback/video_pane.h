#pragma once
// One channel's picture: an OpenGL child widget the player's core renders into. Shows its
// background image while its player has nothing to show, and reports drags and double clicks to
// the main window as WM_PANE_PAN / WM_PANE_DBLCLK.
#include <QImage>
#include <QOpenGLWidget>
#include <QPoint>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "playback/video_renderer.h"

struct mpv_handle;
struct mpv_render_context;

namespace orvik::playback {

class MediaPlayer;

class VideoPane : public QOpenGLWidget {
    Q_OBJECT
  public:
    inline static constexpr int kFrontChannel = 1;
    inline static constexpr int kRearChannel = 2;

    explicit VideoPane(QWidget* parent = nullptr, int channel = kFrontChannel);
    ~VideoPane() override;

    void setBackground(const QImage& image);
    const QImage& background() const { return background_; }
    void setChannel(int channel) { channel_ = channel; }
    int channel() const { return channel_; }
    // The player whose state decides between picture and background (not owned).
    void setPlayer(MediaPlayer* player);
    MediaPlayer* player() const { return player_; }
    void setHasVideo(bool hasVideo);
    bool hasVideo() const { return hasVideo_; }
    // Shows the picture mirrored left to right (many rear cameras record mirrored). Kept for
    // every player the pane shows until changed.
    void setMirrored(bool mirrored);
    bool mirrored() const { return mirrored_; }
    // Receiver of the pane's messages; by default the pane's top-level window.
    void setMessageWindow(QObject* window) { messageWindow_ = window; }
    QObject* messageWindow() const;

    // New frames of the core drawn into this pane since the last attach (tests, benchmarks).
    std::uint64_t framesRendered() const { return framesRendered_; }
    // When the last new frame of player() that reached the screen was due (its core handed it
    // over), how long frames take from there to the screen (their window composed; averaged,
    // milliseconds), and whether a frame of player() is on its way.
    std::chrono::steady_clock::time_point lastFrameDueAt() const { return lastFrameDueAt_; }
    double frameLatencyMs() const { return latencyMs_; }
    bool framePending() const;

    // Used by MpvRenderer: binds the core's render context to this pane's GL context (making it
    // on first use), or releases it. A pane may hold several cores (the playing one and the one
    // standing by for the next recording of a drive); it draws the core of player() and only
    // acknowledges the frames of the others, so a standby core keeps its first frame ready.
    bool attachCore(mpv_handle* core, MpvRenderer* renderer);
    void detachCore(MpvRenderer* renderer);
    bool hasCore() const { return !attachments_.empty(); }
    // Called by the player when its core has come to rest on a new picture (after an open or a
    // seek): the pane draws it even if it never took it as a new frame (see paintGL).
    void pictureSettled(mpv_handle* core);

  signals:
    // A new frame of player() has reached the screen.
    void newFrameShown();

  protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeGL(int w, int h) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    struct Attachment {
        VideoPane* pane = nullptr;
        mpv_handle* core = nullptr;
        mpv_render_context* context = nullptr;
        MpvRenderer* renderer = nullptr;
        bool frameReady = false;
        bool settled = false;    // the core rests on a picture that is to be drawn
        bool drewFrame = false;  // a new frame was drawn since the core last came to rest
    };
    static void onRenderUpdate(void* attachment);
    // The attachment of the player shown (or the only one), else nullptr.
    Attachment* shown() const;
    void renderFrame(Attachment& a, bool skip);
    void paintBackground();

    int channel_;
    QImage background_;
    QPointer<QObject> messageWindow_;
    MediaPlayer* player_ = nullptr;
    bool hasVideo_ = false;
    bool dragging_ = false;
    QPoint lastPoint_;
    void applyMirror();

    bool mirrored_ = false;
    std::vector<std::unique_ptr<Attachment>> attachments_;
    std::atomic<bool> updatePending_{false};
    std::uint64_t framesRendered_ = 0;
    void frameSwapped();
    bool frameUnshown_ = false;  // a new frame drawn, its window not yet composed
    std::optional<std::chrono::steady_clock::time_point> dueAt_;  // of the frame on its way
    bool takenOver_ = false;  // that frame is the first of a core the pane newly shows
    std::chrono::steady_clock::time_point lastFrameDueAt_;
    double latencyMs_ = 0;
};

}  // namespace orvik::playback
