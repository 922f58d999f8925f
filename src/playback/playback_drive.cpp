// The drive: the recording that follows the playing one is opened ahead in a standby pair, and
// the panes switch to it at the end without reopening.
#include <algorithm>
#include <memory>

#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "playback/window_messages.h"
#include "recordings/partner.h"

namespace orvik::playback {

namespace {

// Waiting for the core to report its end would keep the last frame up for a few frames more.
constexpr double kHandOffWithinMs = 2.0 * kPositionTimerMs;
// One decoding thread per standby core: the frames a thread of its own would keep are most of
// what the pair costs while it waits (a 1080p + 540p pair: about 40 MB instead of 58 MB), and
// one thread decodes a camera's 1080p at 2x with time to spare. The core keeps the count for the
// recording once the pair is live: it takes a new count only when it opens the next file.
constexpr int kStandbyDecoderThreads = 1;

}  // namespace

void PlaybackController::setFollowing(const QString& path) {
    if (path == following_)
        return;
    following_ = path;
    dropStandby();
    if (!following_.isEmpty())
        standbyTimer_->start();
}

void PlaybackController::dropStandby() {
    if (standbyTimer_)
        standbyTimer_->stop();
    if (handOffTimer_)
        handOffTimer_->stop();
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

void PlaybackController::armHandOff(MediaTime position) {
    double rate = 1.0;
    if (handOffTimer_->isActive() || !standbyReady() || failed(front_->GetRate(&rate)) || rate <= 0)
        return;
    const double msLeft = (length_ - position).seconds() * 1000 / rate;
    if (msLeft < kHandOffWithinMs)
        handOffTimer_->start(static_cast<int>(std::max(0.0, msLeft)));
}

bool PlaybackController::recordingEnded() {
    if (!front_ || !front_->atEndOfStream())
        return true;  // sent by a pair handed off from
    return handOff();
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
    double rate = 1.0;
    (void)front_->GetRate(&rate);
    // One step: the panes draw the standby cores' first frames from their next paint on.
    for (auto* old : {front_.get(), rear_.get()}) {
        old->SetEventWindow(nullptr, 0);
        (void)old->Pause();
    }
    spareFront_ = std::move(front_);
    spareRear_ = std::move(rear_);
    front_ = std::move(standbyFront_);
    rear_ =
        standbyRear_ ? std::move(standbyRear_) : std::make_unique<MediaPlayer>(rearPane_, options_);
    front_->SetEventWindow(eventWindow_, WM_GRAPH_EVENT);
    frontPane_->setPlayer(front_.get());
    rearPane_->setPlayer(rear_.get());
    resetPans();
    relayout();
    forPlayers([rate](MediaPlayer& p) {
        (void)p.SetRate(rate);
        (void)p.Play();
    });

    openedPath_ = standbyPath_;
    frontPath_ = standbyFrontPath_;
    rearPath_ = mode_ == ChannelMode::Both ? standbyRearPath_ : QString();
    standbyPath_.clear();
    following_.clear();
    for (Channel c : {Channel::Front, Channel::Rear}) {
        std::int32_t width = 0, height = 0;
        if (player(c) && succeeded(player(c)->GetNativeVideoSize(&width, &height))) {
            view(c).nativeWidth = width;
            view(c).nativeHeight = height;
        }
    }
    averagedDrift_ = MediaTime{};
    reseekLanding_ = false;
    keepMarksFor(openedPath_);
    (void)front_->SetVolume(volumeForSliderPosition(sliderVolume_));
    if (mode_ != ChannelMode::RearOnly)
        (void)rear_->SetMute(true);

    track_ = standbyTrack_;
    emit telemetryCleared();
    emit telemetryRead();
    position_ = MediaTime{};
    length_ = frontDuration();
    seekable_ = front_->CanSeek();
    emit lengthChanged(seekable_, length_);
    reportRunning();
    emit displayTimerWanted(!track_.fixes().empty());
    emit recordingOpened(openedPath_);
    emit handedOff();
    return true;
}

}  // namespace orvik::playback
