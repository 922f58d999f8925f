#include "playback/video_pane.h"

#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "playback/media_player.h"
#include "playback/window_messages.h"

namespace orvik::playback {

namespace {

QEvent::Type renderEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void* getProcAddress(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

}  // namespace

VideoPane::VideoPane(QWidget* parent, int channel) : QOpenGLWidget(parent), channel_(channel) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    connect(this, &QOpenGLWidget::frameSwapped, this, &VideoPane::frameSwapped);
}

VideoPane::~VideoPane() {
    while (!attachments_.empty())
        detachCore(attachments_.back()->renderer);
}

void VideoPane::setBackground(const QImage& image) {
    background_ = image;
    update();
}

void VideoPane::setPlayer(MediaPlayer* player) {
    const Attachment* before = shown();
    player_ = player;
    // A core shown from now on (a standby core taking over) rests on a picture it took without
    // drawing; the next paint draws it, and that is a new frame on the screen.
    if (Attachment* now = shown(); now && now != before) {
        now->settled = true;
        now->drewFrame = false;
        dueAt_ = std::chrono::steady_clock::now();
        takenOver_ = true;
    }
    update();
}

void VideoPane::setHasVideo(bool hasVideo) {
    hasVideo_ = hasVideo;
    update();
}

void VideoPane::setMirrored(bool mirrored) {
    if (mirrored == mirrored_)
        return;
    mirrored_ = mirrored;
    applyMirror();
    update();
}

// The core flips the decoded picture, so zoom, pan and the source rectangle keep working on
// the picture as the user sees it.
void VideoPane::applyMirror() {
    for (const auto& a : attachments_)
        mpv_set_property_string(a->core, "vf", mirrored_ ? "hflip" : "");
}

QObject* VideoPane::messageWindow() const {
    if (messageWindow_)
        return messageWindow_.data();
    return window() != this ? window() : nullptr;
}

VideoPane::Attachment* VideoPane::shown() const {
    for (const auto& a : attachments_) {
        if (player_ && a->core == player_->mpvHandle())
            return a.get();
    }
    return attachments_.size() == 1 ? attachments_.front().get() : nullptr;
}

bool VideoPane::attachCore(mpv_handle* core, MpvRenderer* renderer) {
    if (!core || !renderer)
        return false;
    for (const auto& a : attachments_) {
        if (a->renderer == renderer)
            return true;
    }
    // A pane that was never shown has no GL context yet; grabbing the framebuffer creates it.
    if (!context())
        grabFramebuffer();
    if (!context())
        return false;
    makeCurrent();
    mpv_opengl_init_params gl{&getProcAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context* created = nullptr;
    const int rc = mpv_render_context_create(&created, core, params);
    doneCurrent();
    if (rc < 0 || !created)
        return false;
    if (attachments_.empty())
        framesRendered_ = 0;
    auto a = std::make_unique<Attachment>(Attachment{this, core, created, renderer, false});
    mpv_render_context_set_update_callback(created, &VideoPane::onRenderUpdate, a.get());
    attachments_.push_back(std::move(a));
    if (mirrored_)
        applyMirror();
    hasVideo_ = true;
    return true;
}

void VideoPane::detachCore(MpvRenderer* renderer) {
    const auto it = std::find_if(attachments_.begin(), attachments_.end(),
                                 [renderer](const auto& a) { return a->renderer == renderer; });
    if (it == attachments_.end())
        return;
    makeCurrent();
    mpv_render_context_set_update_callback((*it)->context, nullptr, nullptr);
    mpv_render_context_free((*it)->context);
    doneCurrent();
    attachments_.erase(it);
    update();
}

void VideoPane::pictureSettled(mpv_handle* core) {
    Attachment* a = shown();
    if (!a || a->core != core)
        return;
    a->settled = true;
    update();
}

void VideoPane::onRenderUpdate(void* attachment) {
    // Runs on a thread of the core: only post.
    VideoPane* pane = static_cast<Attachment*>(attachment)->pane;
    if (!pane->updatePending_.exchange(true)) {
        QCoreApplication::postEvent(pane, new QEvent(renderEventType()));
    }
}

bool VideoPane::event(QEvent* event) {
    if (event->type() == renderEventType()) {
        updatePending_.store(false);
        Attachment* drawn = isVisible() ? shown() : nullptr;
        for (const auto& a : attachments_) {
            if (!(mpv_render_context_update(a->context) & MPV_RENDER_UPDATE_FRAME))
                continue;
            a->frameReady = true;
            if (a.get() == drawn) {
                if (!dueAt_)
                    dueAt_ = std::chrono::steady_clock::now();
                update();
            } else if (context()) {
                // Frames not shown are acknowledged without drawing, so the core never waits;
                // the last one stays the core's current frame and is drawn once shown.
                makeCurrent();
                renderFrame(*a, true);
                doneCurrent();
            }
        }
        return true;
    }
    return QOpenGLWidget::event(event);
}

void VideoPane::initializeGL() {}

void VideoPane::resizeGL(int, int) {
    for (const auto& a : attachments_)
        a->renderer->relayout();
}

void VideoPane::renderFrame(Attachment& a, bool skip) {
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    int block = 0;
    int skipRendering = skip ? 1 : 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        // The GUI thread must not sleep until a frame's display time.
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skipRendering},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    // A paint may come before the update event: ask the core whether this render takes a frame.
    if (mpv_render_context_update(a.context) & MPV_RENDER_UPDATE_FRAME)
        a.frameReady = true;
    mpv_render_context_render(a.context, params);
    if (!skip) {
        // The core waits only a moment for a frame to be taken and then keeps it as its current
        // picture, which every render draws. When it came to rest on a picture while the GUI
        // thread was too busy to take it, drawing that picture now counts as its new frame.
        const bool newFrame = a.frameReady || (a.settled && !a.drewFrame);
        a.drewFrame = !a.settled && (a.drewFrame || a.frameReady);
        a.settled = false;
        a.frameReady = false;
        if (newFrame) {
            ++framesRendered_;
            frameUnshown_ = true;
            if (!dueAt_)
                dueAt_ = std::chrono::steady_clock::now();
        }
        return;
    }
    a.frameReady = false;
}

void VideoPane::frameSwapped() {
    if (!std::exchange(frameUnshown_, false))
        return;
    const auto now = std::chrono::steady_clock::now();
    lastFrameDueAt_ = dueAt_.value_or(now);
    dueAt_.reset();
    // The first frame of a core taken over was due when the pane turned to it, which says how
    // long a switch takes, not how long a frame does.
    if (!std::exchange(takenOver_, false)) {
        const double ms = std::chrono::duration<double, std::milli>(now - lastFrameDueAt_).count();
        latencyMs_ = latencyMs_ > 0 ? 0.9 * latencyMs_ + 0.1 * ms : ms;
    }
    emit newFrameShown();
}

bool VideoPane::framePending() const {
    const Attachment* a = shown();
    return a && isVisible() && (a->frameReady || frameUnshown_ || updatePending_.load());
}

void VideoPane::paintGL() {
    Attachment* a = shown();
    const bool picture = a && hasVideo_ && player_ && player_->showsPicture();
    if (a)
        renderFrame(*a, false);
    if (!picture) {
        paintBackground();
        return;
    }
    // Only the source rectangle may be seen: clear what the core drew around it.
    const VideoLayout& layout = a->renderer->layout();
    if (!layout.valid)
        return;
    const qreal ratio = devicePixelRatioF();
    const int fw = static_cast<int>(width() * ratio), fh = static_cast<int>(height() * ratio);
    const int l = static_cast<int>(layout.visible.left * ratio);
    const int t = static_cast<int>(layout.visible.top * ratio);
    const int r = static_cast<int>(layout.visible.right * ratio);
    const int b = static_cast<int>(layout.visible.bottom * ratio);
    QOpenGLFunctions* gl = context()->functions();
    // The core leaves its own framebuffer and masks bound.
    gl->glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl->glEnable(GL_SCISSOR_TEST);
    gl->glClearColor(0, 0, 0, 1);
    auto clear = [&](int x, int y, int w, int h) {
        if (w <= 0 || h <= 0)
            return;
        gl->glScissor(x, fh - (y + h), w, h);  // GL counts rows from the bottom
        gl->glClear(GL_COLOR_BUFFER_BIT);
    };
    clear(0, 0, fw, t);
    clear(0, b, fw, fh - b);
    clear(0, t, l, b - t);
    clear(r, t, fw - r, b - t);
    gl->glDisable(GL_SCISSOR_TEST);
}

void VideoPane::paintBackground() {
    QPainter painter(this);
    if (background_.isNull()) {
        painter.fillRect(rect(), Qt::black);
    } else {
        painter.drawImage(rect(), background_);
    }
}

void VideoPane::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QOpenGLWidget::mousePressEvent(event);
    grabMouse();
    dragging_ = true;
    lastPoint_ = event->position().toPoint();
}

void VideoPane::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return QOpenGLWidget::mouseMoveEvent(event);
    const QPoint point = event->position().toPoint();
    const QPoint delta = point - lastPoint_;
    if (!delta.isNull())
        postWindowMessage(messageWindow(), WM_PANE_PAN, delta.x(), delta.y());
    lastPoint_ = point;
}

void VideoPane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QOpenGLWidget::mouseReleaseEvent(event);
    releaseMouse();
    dragging_ = false;
    update();
}

void VideoPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QOpenGLWidget::mouseDoubleClickEvent(event);
    sendWindowMessage(messageWindow(), WM_PANE_DBLCLK, 0, channel_);
}

}  // namespace orvik::playback
