#include "playback/playback_controller.h"

#include <QApplication>
#include <algorithm>
#include <cmath>

#include "playback/video_pane.h"
#include "playback/window_messages.h"
#include "recordings/partner.h"

namespace orvik::playback {

namespace {

// Longest wait for a pair's first frames before playing starts anyway (a rear file that decodes
// nothing must not hold the front back).
constexpr int kStartTogetherMs = 1500;
// The standby pair is made some time after a recording starts, so that its opening never
// competes with the first frames of the recording that just began.
constexpr int kStandbyDelayMs = 700;

QRect toQRect(const VideoRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

VideoRect clientRect(const QWidget* w) {
    return VideoRect{0, 0, w->width(), w->height()};
}

}  // namespace

PlaybackController::PlaybackController(VideoPane* frontPane, VideoPane* rearPane,
                                       QObject* eventWindow, MediaPlayerOptions options)
    : frontPane_(frontPane),
      rearPane_(rearPane),
      eventWindow_(eventWindow),
      options_(std::move(options)) {
    standbyTimer_ = new QTimer(this);
    standbyTimer_->setSingleShot(true);
    standbyTimer_->setInterval(kStandbyDelayMs);
    connect(standbyTimer_, &QTimer::timeout, this, [this] { prepareStandby(); });
    handOffTimer_ = new QTimer(this);
    handOffTimer_->setSingleShot(true);
    handOffTimer_->setTimerType(Qt::PreciseTimer);
    connect(handOffTimer_, &QTimer::timeout, this, &PlaybackController::handOffWhenDue);
    connect(frontPane_, &VideoPane::newFrameShown, this, &PlaybackController::frontFrameShown);
    createPlayers();
    placePanes();
}

PlaybackController::~PlaybackController() {
    destroyPlayers();
}

void PlaybackController::shutdown() {
    destroyPlayers();
}

// ---- players -----------------------------------------------------------------------------------

// The only place players come into being: at start and for every opened recording.
void PlaybackController::createPlayers() {
    destroyPlayers();
    front_ = std::make_unique<MediaPlayer>(frontPane_, options_);
    front_->SetEventWindow(eventWindow_, WM_GRAPH_EVENT);
    (void)front_->InitializeGraph();
    rear_ = std::make_unique<MediaPlayer>(rearPane_, options_);
    (void)rear_->InitializeGraph();
    if (frontPane_) {
        frontPane_->setChannel(VideoPane::kFrontChannel);
        frontPane_->setPlayer(front_.get());
    }
    if (rearPane_) {
        rearPane_->setChannel(VideoPane::kRearChannel);
        rearPane_->setPlayer(rear_.get());
    }
    averagedDrift_ = MediaTime{};
    reseekLanding_ = false;
}

void PlaybackController::destroyPlayers() {
    dropStandby();
    spareFront_.reset();
    spareRear_.reset();
    // The panes stop asking for pictures before the players go.
    if (frontPane_) {
        frontPane_->setPlayer(nullptr);
    }
    if (rearPane_) {
        rearPane_->setPlayer(nullptr);
    }
    for (auto* player : {&front_, &rear_}) {
        if (*player) {
            (void)(*player)->CloseFile();
            (void)(*player)->TearDownGraph();
            player->reset();
        }
    }
}

MediaTime PlaybackController::frontDuration() const {
    MediaTime d;
    if (!front_ || failed(front_->GetDuration(&d))) {
        return MediaTime{};
    }
    return d;
}

bool PlaybackController::running() const {
    return front_ && front_->GetState() == PlaybackState::Running;
}

bool PlaybackController::isPlaying() const {
    if (!front_) {
        return false;
    }
    const auto s = front_->GetState();
    return s == PlaybackState::Running || s == PlaybackState::Paused;
}

// ---- opening -----------------------------------------------------------------------------------

HResult PlaybackController::open(const QString& path) {
    emit displayTimerWanted(false);

    createPlayers();
    for (MediaPlayer* p : {front_.get(), rear_.get()}) {
        (void)p->SetRate(1.0);
    }
    doubleSpeed_ = false;
    setRateText(false);
    for (MediaPlayer* p : {front_.get(), rear_.get()}) {
        (void)p->Stop();
        if (p->CanSeek()) {
            (void)p->SetPosition(MediaTime{});
        }
        (void)p->SetMute(false);
    }

    // In full screen a new recording shows in the enlarged front pane.
    if (fullScreen_) {
        fullScreenShown_ = 1;
    }
    placePanes();
    disableSeekBar();
    openedPath_.clear();
    frontPath_.clear();
    rearPath_.clear();
    following_.clear();
    keepMarksFor(path);
    if (path.isEmpty()) {
        emit recordingOpened({});
        return S_OK;
    }

    const recordings::RecordingPair pair = recordings::pairRecording(path.toStdString());
    if (pair.paired()) {
        swapped_ = false;
        mode_ = ChannelMode::Both;
    } else {
        mode_ = pair.givenIsFront ? ChannelMode::FrontOnly : ChannelMode::RearOnly;
    }
    const QString frontPath = QString::fromStdString(pair.front);
    const QString rearPath = QString::fromStdString(pair.rear);
    frontPath_ = frontPath;
    rearPath_ = rearPath;

    track_.reset();
    emit telemetryCleared();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A recording without readable telemetry plays with empty displays.
    (void)track_.readRecording(frontPath.toStdString());
    QApplication::restoreOverrideCursor();
    emit telemetryRead();

    if (const HResult hr = front_->OpenFile(frontPath.toStdString()); failed(hr)) {
        emit recordingOpened({});
        return hr;
    }
    openedPath_ = path;
    std::int32_t width = 0, height = 0;
    if (failed(front_->GetNativeVideoSize(&width, &height))) {
        emit recordingOpened(openedPath_);
        return S_OK;  // nothing to show: nothing is started
    }
    frontView_.nativeWidth = width;
    frontView_.nativeHeight = height;
    if (mode_ == ChannelMode::Both) {
        // A rear file that cannot be opened leaves the rear pane on its background.
        if (succeeded(rear_->OpenFile(rearPath.toStdString())) &&
            succeeded(rear_->GetNativeVideoSize(&width, &height))) {
            rearView_.nativeWidth = width;
            rearView_.nativeHeight = height;
            // Both cores start from a decoded first frame, or the later one starts behind.
            (void)front_->WaitForFirstFrame(kStartTogetherMs);
            (void)rear_->WaitForFirstFrame(kStartTogetherMs);
        }
        (void)rear_->SetMute(true);
    } else {
        // The single file plays in the front pane, whichever camera it came from.
        if (mode_ == ChannelMode::RearOnly) {
            (void)rear_->Stop();
            swapped_ = true;
        }
        rearPane_->setHasVideo(false);
    }
    startOfPlayback();
    emit recordingOpened(openedPath_);
    return S_OK;
}

void PlaybackController::disableSeekBar() {
    position_ = length_ = MediaTime{};
    seekable_ = false;
    emit lengthChanged(false, MediaTime{});
}

void PlaybackController::startOfPlayback() {
    resetPans();
    relayout();
    forPlayers([](MediaPlayer& p) { (void)p.Play(); });

    if (front_->CanSeek()) {
        position_ = MediaTime{};
        length_ = frontDuration();
        seekable_ = true;
        emit lengthChanged(true, length_);
    } else {
        disableSeekBar();
    }
    reportRunning();

    if (!volumeSetOnce_) {
        sliderVolume_ = 50;
        volumeSetOnce_ = true;
    }
    (void)front_->SetVolume(volumeForSliderPosition(sliderVolume_));
    if (mode_ != ChannelMode::RearOnly) {
        (void)rear_->SetMute(true);
    }
    if (!track_.fixes().empty()) {
        emit displayTimerWanted(true);
    }
}

// ---- layout ------------------------------------------------------------------------------------

void PlaybackController::placePanes() {
    if (!frontPane_ || !rearPane_) {
        return;
    }
    if (fullScreen_ && fullScreenShown_ != 0) {
        VideoPane* big = fullScreenShown_ == 1 ? frontPane_ : rearPane_;
        VideoPane* other = fullScreenShown_ == 1 ? rearPane_ : frontPane_;
        other->hide();
        big->setGeometry(fullScreenPaneRect_);
        big->show();
        return;
    }
    const bool frontLarge = frontIsLarge();
    frontPane_->setGeometry(toQRect(frontLarge ? kLargePaneRect : kSmallPaneRect));
    rearPane_->setGeometry(toQRect(frontLarge ? kSmallPaneRect : kLargePaneRect));
    frontPane_->show();
    rearPane_->show();
    // The small pane lies on top of its neighbours.
    (frontLarge ? rearPane_ : frontPane_)->raise();
}

void PlaybackController::fitScales() {
    for (Channel c : {Channel::Front, Channel::Rear}) {
        ChannelView& v = view(c);
        if (fullScreen_) {
            v.scale = v.minScale = fullScreenFitScale(monitor_.height(), v.nativeHeight);
        } else {
            const VideoPane* p = pane(c);
            v.scale = v.minScale = fitScale(p ? p->width() : 0, v.nativeWidth);
        }
    }
}

void PlaybackController::applySourceRect(Channel c) {
    MediaPlayer* p = player(c);
    VideoPane* w = pane(c);
    if (!p || !w) {
        return;
    }
    const VideoRect source = sourceRectangle(view(c), w->width(), w->height());
    const VideoRect destination = clientRect(w);
    (void)p->UpdateVideoWindow(source.isEmpty() ? nullptr : &source, &destination);
    w->update();
}

void PlaybackController::resetPans() {
    frontView_.panX = frontView_.panY = rearView_.panX = rearView_.panY = 0;
}

void PlaybackController::relayout() {
    placePanes();
    fitScales();
    for (Channel c : {Channel::Front, Channel::Rear}) {
        MediaPlayer* p = player(c);
        VideoPane* w = pane(c);
        if (!p || !w) {
            continue;
        }
        const ChannelView& v = view(c);
        const VideoRect whole{0, 0, v.nativeWidth, v.nativeHeight};
        const VideoRect destination = clientRect(w);
        (void)p->UpdateVideoWindow(v.nativeWidth > 0 ? &whole : nullptr, &destination);
    }
    applySourceRect(Channel::Front);
    applySourceRect(Channel::Rear);
    emit zoomTextChanged(
        QString::fromStdString(zoomLabel(frontIsLarge() ? frontView_.scale : rearView_.scale)));
}

// ---- transport ---------------------------------------------------------------------------------

void PlaybackController::reportRunning() {
    if (!front_) {
        return;
    }
    const auto s = front_->GetState();
    if (s == PlaybackState::Running || s == PlaybackState::Paused) {
        emit runningChanged(s == PlaybackState::Running);
    }
}

void PlaybackController::setRateText(bool twice) {
    emit rateTextChanged(QString::fromStdString(rateLabel(twice)));
}

void PlaybackController::moveTo(MediaTime t) {
    position_ = t;
    emit positionChanged(t);
}

void PlaybackController::seekTo(MediaTime t) {
    forPlayers([t](MediaPlayer& p) { (void)p.SetPosition(t); });
    reseekLanding_ = false;  // both moved: where the rear lands says nothing of its own seek
    moveTo(t);
    emit cursorMoved(cursorForPosition(track_.rawAccel().size(), t, length_));
}

// ---- the moment --------------------------------------------------------------------------------

void PlaybackController::markIn() {
    inMark_ = ClipMark{openedPath_, position_};
    if (outMark_ && !markBefore(*inMark_, *outMark_))
        outMark_.reset();
    emit marksChanged();
}

void PlaybackController::markOut() {
    outMark_ = ClipMark{openedPath_, position_};
    if (inMark_ && !markBefore(*inMark_, *outMark_))
        inMark_.reset();
    emit marksChanged();
}

void PlaybackController::clearMarks() {
    inMark_.reset();
    outMark_.reset();
    emit marksChanged();
}

std::optional<MediaTime> PlaybackController::markHere(const std::optional<ClipMark>& mark) const {
    if (!mark || openedPath_.isEmpty() || mark->path != openedPath_)
        return std::nullopt;
    return mark->offset;
}

std::optional<double> PlaybackController::timelineSeconds(const ClipMark& mark) const {
    if (!markTimeline_)
        return std::nullopt;
    const auto start = markTimeline_(mark.path);
    return start ? std::optional<double>(*start + mark.offset.seconds()) : std::nullopt;
}

bool PlaybackController::markBefore(const ClipMark& a, const ClipMark& b) const {
    if (a.path == b.path)
        return a.offset < b.offset;
    const auto sa = timelineSeconds(a), sb = timelineSeconds(b);
    return sa && sb && *sa < *sb;
}

void PlaybackController::keepMarksFor(const QString& path) {
    if (!inMark_ && !outMark_)
        return;
    const auto onTimeline = [this](const QString& p) {
        return markTimeline_ && markTimeline_(p).has_value();
    };
    const bool keep = !path.isEmpty() && onTimeline(path) &&
                      (!inMark_ || onTimeline(inMark_->path)) &&
                      (!outMark_ || onTimeline(outMark_->path));
    if (!keep)
        clearMarks();
}

void PlaybackController::seekDragged(MediaTime t) {
    dragging_ = true;
    position_ = t;
}

void PlaybackController::seek(MediaTime t) {
    seekReleased(t);
    moveTo(t);
}

void PlaybackController::play() {
    if (!front_) {
        return;
    }
    forPlayers([](MediaPlayer& p) { (void)p.Play(); });
    emit runningChanged(true);
}

void PlaybackController::pause() {
    if (!front_) {
        return;
    }
    forPlayers([](MediaPlayer& p) { (void)p.Pause(); });
    emit runningChanged(false);
    doubleSpeed_ = false;
}

void PlaybackController::togglePlayPause() {
    if (!front_) {
        return;
    }
    const auto s = front_->GetState();
    if (s == PlaybackState::Paused) {
        forPlayers([](MediaPlayer& p) { (void)p.Play(); });
    } else if (s == PlaybackState::Running) {
        forPlayers([](MediaPlayer& p) { (void)p.Pause(); });
    }
    // In full screen too: the two buttons are on the strip there as well.
    reportRunning();
}

void PlaybackController::rewind() {
    if (!front_) {
        return;
    }
    seekTo(rewindTarget(position_));
    doubleSpeed_ = false;
}

void PlaybackController::fastForward() {
    if (!front_) {
        return;
    }
    seekTo(fastForwardTarget(position_, frontDuration()));
    doubleSpeed_ = false;
}

void PlaybackController::step(int direction) {
    if (!front_) {
        return;
    }
    MediaTime current;
    (void)front_->GetCurrentPosition(&current);
    if (const auto t = arrowStepTarget(current, frontDuration(), direction)) {
        seekTo(*t);
    }
}

void PlaybackController::speedUp() {
    if (!front_) {
        return;
    }
    if (!doubleSpeed_) {
        forPlayers([](MediaPlayer& p) { (void)p.SetRate(2.0); });
        doubleSpeed_ = true;
    }
    setRateText(true);
}

void PlaybackController::speedDown() {
    if (!front_) {
        return;
    }
    if (doubleSpeed_) {
        forPlayers([](MediaPlayer& p) { (void)p.SetRate(1.0); });
        doubleSpeed_ = false;
    }
    setRateText(false);
}

void PlaybackController::zoom(int direction) {
    if (!front_) {
        return;
    }
    const bool frontVisible = frontPane_ && !frontPane_->isHidden();
    const Channel c = zoomTarget(fullScreen_, frontVisible, mode_, swapped_);
    ChannelView& v = view(c);
    v.scale = zoomedScale(v.scale, v.minScale, direction);
    applySourceRect(c);
    emit zoomTextChanged(QString::fromStdString(zoomLabel(v.scale)));
}

void PlaybackController::swap() {
    if (!front_ || mode_ != ChannelMode::Both) {
        return;
    }
    swapped_ = !swapped_;
    if (fullScreen_) {
        // The other pane takes the whole picture area; swapped tells which one shows.
        fullScreenShown_ = swapped_ ? 2 : 1;
    }
    resetPans();
    relayout();
}

void PlaybackController::pan(int dx, int dy) {
    if (!front_) {
        return;
    }
    const Channel c = panTarget(mode_, swapped_);
    ChannelView& v = view(c);
    v.panX -= dx;
    v.panY -= dy;
    applySourceRect(c);
}

void PlaybackController::seekReleased(MediaTime t) {
    dragging_ = false;
    position_ = t;
    if (!front_) {
        return;
    }
    const auto cursor = cursorForSeekRelease(track_.rawAccel().size(), t, frontDuration());
    if (!cursor) {
        return;
    }
    emit cursorMoved(*cursor);
    forPlayers([t](MediaPlayer& p) { (void)p.SetPosition(t); });
}

void PlaybackController::setVolumeFromSlider(int sliderPosition) {
    sliderVolume_ = sliderPosition;
    if (front_) {
        (void)front_->SetVolume(volumeForSliderPosition(sliderPosition));
    }
}

void PlaybackController::handleGraphEvent() {
    if (front_) {
        (void)front_->HandleGraphEvent();
    }
}

void PlaybackController::positionTick() {
    if (!front_ || front_->GetState() != PlaybackState::Running) {
        return;
    }
    PositionTickInput in;
    (void)front_->GetCurrentPosition(&in.position);
    in.duration = frontDuration();
    in.canSeek = front_->CanSeek();
    if (MediaTime again; succeeded(front_->GetCurrentPosition(&again))) {
        in.reread = again;
    }
    in.seekBarPressed = dragging_;
    in.seekBarMaximum = length_;
    in.sampleCount = track_.rawAccel().size();
    const auto out = playback::positionTick(in);
    if (out.seekBar) {
        moveTo(*out.seekBar);
    }
    if (out.cursor) {
        emit cursorMoved(*out.cursor);
    }
    keepRearInStep();
}

void PlaybackController::keepRearInStep() {
    if (mode_ != ChannelMode::Both || !front_ || !rear_ ||
        front_->GetState() != PlaybackState::Running ||
        rear_->GetState() != PlaybackState::Running) {
        return;
    }
    // A player still seeking reports the moment it left: judging the drift then would send the
    // rear after the front again and again while it is on its way (seen on a loaded machine).
    if (front_->IsSeeking() || rear_->IsSeeking()) {
        averagedDrift_ = MediaTime{};
        return;
    }
    MediaTime front, rear;
    if (failed(front_->GetCurrentPosition(&front)) || failed(rear_->GetCurrentPosition(&rear))) {
        return;
    }
    if (std::exchange(reseekLanding_, false))
        reseekLead_ = nextReseekLead(reseekLead_, front - rear);
    double factor = 1.0;
    if (rearNeedsReseek(front, rear, frontDuration())) {
        (void)rear_->SetPosition(std::min(front + reseekLead_, frontDuration()));
        reseekLanding_ = true;
        averagedDrift_ = MediaTime{};
        emit rearRealigned();
    } else {
        averagedDrift_ = averagedDrift(averagedDrift_, front - rear);
        factor = rearRateFactor(averagedDrift_);
    }
    // The front's own rate, not the 2x flag: Pause, Rewind and FastForward clear the flag while
    // the players go on at double speed.
    double frontRate = 1.0, rearRate = 0.0;
    if (failed(front_->GetRate(&frontRate)) || failed(rear_->GetRate(&rearRate)))
        return;
    if (std::abs(rearRate - frontRate * factor) > 1e-6)
        (void)rear_->SetRate(frontRate * factor);
}

// ---- full screen -------------------------------------------------------------------------------

void PlaybackController::enterFullScreen(int pane, QSize monitor) {
    fullScreen_ = true;
    monitor_ = monitor;
    fullScreenPaneRect_ = toQRect(playback::fullScreenPaneRect(monitor.width(), monitor.height()));
    fullScreenShown_ = pane;
    relayout();
}

void PlaybackController::leaveFullScreen() {
    fullScreen_ = false;
    fullScreenShown_ = 0;
    // The pan offsets stay as they were.
    relayout();
    reportRunning();
}

}  // namespace orvik::playback
