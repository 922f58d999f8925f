// The drive: the recording that follows the playing one is opened ahead in a standby pair, and
// the panes switch to it at the end without reopening.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <utility>

#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "playback/window_messages.h"
#include "recordings/partner.h"

namespace orvik::playback {

namespace {

// How long the switch and the paint that shows the next recording's first frame take is measured
// at every switch (switchMs_); the switch starts that much before the last frame's time is up,
// but never more than this share of a frame interval at the playing rate.
constexpr double kMostSwitchShare = 0.75;
// One decoding thread per standby core: the frames a thread of its own would keep are most of
// what the pair costs while it waits (a 1080p + 540p pair: about 40 MB instead of 58 MB), and
// one thread decodes a camera's 1080p at 2x with time to spare. The core keeps the count for the
// recording once the pair is live: it takes a new count only when it opens the next file.
constexpr int kStandbyDecoderThreads = 1;

double playingRate(const MediaPlayer& player) {
    double rate = 1.0;
    return succeeded(player.GetRate(&rate)) && rate > 0 ? rate : 1.0;
}

}  // namespace

void PlaybackController::setFollowing(const QString& path) {
    if (path == following_)
        return;
    // The drive changed while the switch to its old next recording was due: the caller opens
    // what follows now, as at any end without a standby pair.
    const bool endWaiting = endReported_;
    following_ = path;
    dropStandby();
    if (endWaiting && front_ && front_->atEndOfStream())
        postWindowMessage(eventWindow_, WM_PLAYBACK_COMPLETE);
    if (!following_.isEmpty())
        standbyTimer_->start();
}

void PlaybackController::dropStandby() {
    if (standbyTimer_)
        standbyTimer_->stop();
    if (handOffTimer_)
        handOffTimer_->stop();
    endReported_ = false;
    standbyFront_.reset();
    standbyRear_.reset();
    standbyPath_.clear();
}

void PlaybackController::prepareStandby() {
    dropStandby();
    if (following_.isEmpty() || openedPath_.isEmpty() || !front_ || !seekable_)
        return;
    const recordings::RecordingPair pair = recordings::pairRecording(following_.toStdString());
    const ChannelMode mode = pair.paired()       ? ChannelMode::Both
                             : pair.givenIsFront ? ChannelMode::FrontOnly
                                                 : ChannelMode::RearOnly;
    // Another layout of the panes is an ordinary open.
    if (mode != mode_)
        return;
    auto makePlayer = [this](std::unique_ptr<MediaPlayer>& spare, VideoPane* pane,
                             const std::string& file) {
        std::unique_ptr<MediaPlayer> player =
            spare ? std::move(spare) : std::make_unique<MediaPlayer>(pane, options_);
        if ((!player->mpvHandle() && failed(player->InitializeGraph())) ||
            failed(player->OpenFileInBackground(file, kStandbyDecoderThreads)))
            return std::unique_ptr<MediaPlayer>();
        return player;
    };
    standbyFront_ = makePlayer(spareFront_, frontPane_, pair.front);
    if (mode == ChannelMode::Both)
        standbyRear_ = makePlayer(spareRear_, rearPane_, pair.rear);
    if (!standbyFront_ || (mode == ChannelMode::Both && !standbyRear_)) {
        dropStandby();
        return;
    }
    standbyTrack_.reset();
    (void)standbyTrack_.readRecording(pair.front);
    standbyPath_ = following_;
    standbyFrontPath_ = QString::fromStdString(pair.front);
    standbyRearPath_ = QString::fromStdString(pair.rear);
}

bool PlaybackController::standbyReady() const {
    return standbyFront_ && standbyFront_->readyInBackground() &&
           (mode_ != ChannelMode::Both || (standbyRear_ && standbyRear_->readyInBackground()));
}

void PlaybackController::frontFrameShown() {
    if (switchStartedAt_) {
        // The next recording's first frame is up: what the switch took aims the next one.
        const double took = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - *switchStartedAt_)
                                .count();
        // Beyond what any frame takes to reach the screen. A pane that was not drawn for a while
        // (the window hidden) says nothing about it.
        const double beyond = std::clamp(took - frontPane_->frameLatencyMs(), 0.0,
                                         front_->frameInterval().milliseconds());
        switchMs_ = 0.75 * switchMs_ + 0.25 * beyond;
        switchStartedAt_.reset();
        return;
    }
    if (endReported_)
        aimHandOff(frontPane_->lastFrameDueAt());
}

void PlaybackController::aimHandOff(std::chrono::steady_clock::time_point lastFrameDue) {
    const double frame = front_->frameInterval().milliseconds() / playingRate(*front_);
    const double since =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lastFrameDue)
            .count();
    const double ms = frame - std::clamp(switchMs_, 0.0, kMostSwitchShare * frame) - since;
    if (ms < 1.0)
        handOffWhenDue();
    else
        handOffTimer_->start(static_cast<int>(std::lround(ms)));
}

void PlaybackController::startStandby() {
    if (!standbyReady() || standbyFront_->GetState() == PlaybackState::Running)
        return;
    // What the switch needs to know of the standby cores is asked while they rest: once they
    // play, every question waits for them.
    standbyFacts_ = {};
    for (MediaPlayer* p : {standbyFront_.get(), standbyRear_.get()}) {
        auto& size = standbyFacts_.sizes[p == standbyRear_.get()];
        if (p)
            (void)p->GetNativeVideoSize(&size[0], &size[1]);
    }
    (void)standbyFront_->GetDuration(&standbyFacts_.length);
    (void)standbyFront_->SetVolume(volumeForSliderPosition(sliderVolume_));
    if (standbyRear_ && mode_ != ChannelMode::RearOnly)
        (void)standbyRear_->SetMute(true);
    const double rate = playingRate(*front_);
    for (MediaPlayer* p : {standbyFront_.get(), standbyRear_.get()}) {
        if (p)
            (void)p->PlayWithoutWaiting(rate);
    }
}

void PlaybackController::handOffWhenDue() {
    handOffTimer_->stop();
    // Paused meanwhile: the pair rests on its last frame, as at any end while paused. Moved away
    // (a seek): the end is not here any more.
    if (!std::exchange(endReported_, false) || !front_ || !running() || !front_->atEndOfStream()) {
        // The standby pair started for a switch that is not coming: it is opened afresh.
        if (standbyFront_ && standbyFront_->GetState() == PlaybackState::Running) {
            dropStandby();
            if (!following_.isEmpty())
                standbyTimer_->start();
        }
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    if (handOff())
        switchStartedAt_ = started;
    else
        postWindowMessage(eventWindow_, WM_PLAYBACK_COMPLETE);
}

bool PlaybackController::recordingEnded() {
    if (!front_ || !front_->atEndOfStream())
        return true;  // sent by a pair handed off from
    if (endReported_)
        return true;
    if (!standbyReady())
        return false;
    endReported_ = true;
    // A core started from rest holds its first frame for about two frame intervals: started a
    // frame before the panes turn to it, the next recording goes on at the pace of this one.
    startStandby();
    // The core reports its end as its last frame falls due: that frame is still on its way to
    // the screen, and reaching it aims the switch. Should it never get there (the window hidden),
    // the switch goes ahead after two frames.
    if (frontPane_->framePending()) {
        handOffTimer_->start(
            static_cast<int>(2.0 * front_->frameInterval().milliseconds() / playingRate(*front_)));
        return true;
    }
    aimHandOff(frontPane_->lastFrameDueAt());
    return true;
}

std::optional<MediaTime> PlaybackController::earlyEnd() const {
    if (!front_ || !front_->atEndOfStream() || !seekable_)
        return std::nullopt;
    MediaTime at;
    if (failed(front_->GetCurrentPosition(&at)) || length_ - at <= kEarlyEndTolerance)
        return std::nullopt;
    return at;
}

bool PlaybackController::handOff() {
    if (!front_ || !standbyReady())
        return false;
    handOffTimer_->stop();
    endReported_ = false;
    startStandby();
    const StandbyFacts next = standbyFacts_;

    // One step, waiting on no core: the panes draw the standby cores' first frames from their
    // next paint on.
    for (auto* old : {front_.get(), rear_.get()}) {
        old->SetEventWindow(nullptr, 0);
        (void)old->PauseWithoutWaiting();
    }
    spareFront_ = std::move(front_);
    spareRear_ = std::move(rear_);
    front_ = std::move(standbyFront_);
    rear_ =
        standbyRear_ ? std::move(standbyRear_) : std::make_unique<MediaPlayer>(rearPane_, options_);
    front_->SetEventWindow(eventWindow_, WM_GRAPH_EVENT);
    frontPane_->setPlayer(front_.get());
    rearPane_->setPlayer(rear_.get());
    for (Channel c : {Channel::Front, Channel::Rear}) {
        const auto& size = next.sizes[c == Channel::Rear];
        if (player(c) && size[0] > 0 && size[1] > 0) {
            view(c).nativeWidth = size[0];
            view(c).nativeHeight = size[1];
        }
    }
    resetPans();
    relayout();

    openedPath_ = standbyPath_;
    frontPath_ = standbyFrontPath_;
    rearPath_ = mode_ == ChannelMode::Both ? standbyRearPath_ : QString();
    standbyPath_.clear();
    following_.clear();
    averagedDrift_ = MediaTime{};
    reseekLanding_ = false;
    keepMarksFor(openedPath_);

    track_ = standbyTrack_;
    standbyTrack_.reset();
    emit telemetryCleared();
    emit telemetryRead();
    position_ = MediaTime{};
    length_ = next.length;
    seekable_ = front_->CanSeek();
    emit lengthChanged(seekable_, length_);
    reportRunning();
    emit displayTimerWanted(!track_.fixes().empty());
    emit recordingOpened(openedPath_);
    emit handedOff();
    return true;
}

}  // namespace orvik::playback
