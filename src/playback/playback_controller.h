#pragma once
// The one owner of playback: the opened recording and the moment being played (position, length,
// the in and out marks of the next clip, running or not), both channels' players, the telemetry
// track, the channel mode, swap, double speed, each channel's zoom and pan, and the full-screen
// pane layout.
//
// It is handed the two panes and the object that receives WM_GRAPH_EVENT, and never reaches into
// the window. What the controls must show (seek bar, labels, Play/Pause, timers, the telemetry
// displays) is reported through the signals below; what the user does with them (a drag of the
// seek bar's thumb, its release, the volume slider) is handed in. Nobody else holds the moment: a
// window or dialog that needs it asks position(), length() or markedIn().
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/hresult.h"
#include "playback/media_player.h"
#include "playback/media_time.h"
#include "playback/transport.h"
#include "recordings/telemetry.h"

namespace orvik::playback {

class VideoPane;

// An in or out mark of the next clip: a moment of a recording (the path open() was given). The
// two marks may lie in different recordings of one drive.
struct ClipMark {
    QString path;
    MediaTime offset;
    friend bool operator==(const ClipMark&, const ClipMark&) = default;
};

class PlaybackController : public QObject {
    Q_OBJECT
  public:
    // Creates both players on the panes (the front one reporting to eventWindow).
    PlaybackController(VideoPane* frontPane, VideoPane* rearPane, QObject* eventWindow,
                       MediaPlayerOptions options = MediaPlayerOptions::fromEnvironment());
    // Stops and deletes both players.
    ~PlaybackController() override;
    PlaybackController(const PlaybackController&) = delete;
    PlaybackController& operator=(const PlaybackController&) = delete;

    // ---- the opened recording and its moment ----
    // The recording open() was given and played, "" when none plays.
    const QString& openedPath() const { return openedPath_; }
    // The files the front and the rear player play (the rear one "" without a partner; the front
    // player plays the rear file of a recording without its front partner).
    const QString& frontPath() const { return frontPath_; }
    const QString& rearPath() const { return rearPath_; }
    // The moment the seek bar shows: where the front player is, or where the user drags the
    // thumb to. 0 when nothing plays.
    MediaTime position() const { return position_; }
    // The recording's length (the seek bar's range); 0 unless a seekable recording plays.
    MediaTime length() const { return length_; }
    bool seekable() const { return seekable_; }
    // The front player runs (Pause is shown), or is at least loaded (full screen may be toggled).
    bool running() const;
    bool isPlaying() const;
    // The in and out marks of the next clip, wherever they lie. An open or a hand-off keeps them
    // while the new recording and the marks' recordings lie on the mark timeline (one drive),
    // and clears them otherwise.
    const std::optional<ClipMark>& inMark() const { return inMark_; }
    const std::optional<ClipMark>& outMark() const { return outMark_; }
    // The marks that lie in the opened recording (the seek bar's).
    std::optional<MediaTime> markedIn() const { return markHere(inMark_); }
    std::optional<MediaTime> markedOut() const { return markHere(outMark_); }
    // A mark at the current position; a mark on the wrong side of the other one drops that one.
    void markIn();
    void markOut();
    void clearMarks();
    // Where a recording (any of its channels' files) starts on the timeline marks in different
    // recordings are ordered on, in seconds; nothing when it is not on it. Without one, marks
    // live in one recording.
    using MarkTimeline = std::function<std::optional<double>(const QString& path)>;
    void setMarkTimeline(MarkTimeline timeline) { markTimeline_ = std::move(timeline); }
    // Seconds of a mark on that timeline, or nothing.
    std::optional<double> timelineSeconds(const ClipMark& mark) const;

    // ---- what plays, for the window's routing ----
    VideoPane* frontPane() const { return frontPane_; }
    VideoPane* rearPane() const { return rearPane_; }
    const recordings::TelemetryTrack& track() const { return track_; }
    ChannelMode channelMode() const { return mode_; }
    bool swapped() const { return swapped_; }
    bool doubleSpeed() const { return doubleSpeed_; }
    bool fullScreen() const { return fullScreen_; }
    const ChannelView& view(Channel c) const {
        return c == Channel::Front ? frontView_ : rearView_;
    }
    // Pane selector of the FullScreen and Maximize commands: 1 front, 2 rear.
    int fullScreenPane() const { return fullScreenPaneSelector(mode_, swapped_); }

    // ---- opening ----
    // Opens the recording at `path` with its partner file of the other channel (the rule of
    // recordings/partner.h) and starts it. An empty path only resets the players. Returns the
    // front player's failure code when the front file cannot be opened (the caller tells the
    // user), else S_OK.
    HResult open(const QString& path);
    // Stops and deletes both players (the window is closing).
    void shutdown();

    // ---- the drive ----
    // The recording that follows the playing one in its drive ("" for none). Shortly after, it
    // is opened in a standby pair of players, paused on its first frame, so that the end of the
    // playing recording hands over without a still picture.
    void setFollowing(const QString& path);
    const QString& following() const { return following_; }
    // At the end of the playing recording: both panes switch to the standby pair in one step and
    // it plays on at the same rate. False (nothing changed) when no standby pair is ready; the
    // caller then opens the next recording as before.
    bool handOff();
    // The front player reported the end of its recording: hands off to the standby pair when it
    // is ready (true), ignores a report the playing pair no longer stands by (true), or leaves
    // it to the caller (false: open the next recording as before).
    bool recordingEnded();
    // Where the front player's data ran out, when it reached the end more than
    // kEarlyEndTolerance before the length its container promises (a recording cut short by a
    // power loss); nothing after a normal end or while it plays.
    std::optional<MediaTime> earlyEnd() const;
    // The standby pair is open and on its first frame (tests, benchmarks).
    bool standbyReady() const;

    // ---- transport ----
    void play();
    void pause();
    void togglePlayPause();  // Space
    // Ten seconds back or on from the moment shown.
    void rewind();
    void fastForward();
    void step(int direction);  // arrow keys, -1 or +1
    void speedUp();
    void speedDown();
    void zoom(int direction);  // +1 in, -1 out
    void swap();
    void pan(int dx, int dy);
    // The user holds the seek bar's thumb at `t`: the moment follows it and the players' ticks
    // leave it alone until the release, which seeks there.
    void seekDragged(MediaTime t);
    void seekReleased(MediaTime t);
    // Goes to `t` as a released seek bar does, and says so (a jump to a trip's event).
    void seek(MediaTime t);
    void setVolumeFromSlider(int sliderPosition);
    void handleGraphEvent();
    // PositionTimer: moves the moment and the cursor with the front position and keeps the rear
    // channel in step with the front one.
    void positionTick();
    // Keeps the rear channel at the front one's moment (also used on its own by benchmarks).
    void keepRearInStep();

    // ---- full screen: the window covers a monitor of `monitor` size ----
    // pane: 0 = no pane enlarged, 1 = front, 2 = rear.
    void enterFullScreen(int pane, QSize monitor);
    void leaveFullScreen();
    // The enlarged pane's rectangle in full screen (empty before the first full screen).
    QRect fullScreenPaneRect() const { return fullScreenPaneRect_; }

  signals:
    // A recording was opened and plays (its path), or nothing plays any more ("").
    void recordingOpened(const QString& path);
    // The moment starts again at 0 of a new length; seekable while a seekable recording plays
    // (PositionTimer runs exactly then).
    void lengthChanged(bool seekable, orvik::playback::MediaTime length);
    // The moment moved by itself or by a command (not by the user's drag, which the seek bar
    // shows already).
    void positionChanged(orvik::playback::MediaTime position);
    // The in or out mark was set or cleared.
    void marksChanged();
    // The G-sensor cursor (index into the track's samples).
    void cursorMoved(std::size_t cursor);
    void rateTextChanged(const QString& text);
    void zoomTextChanged(const QString& text);
    // Pause shows while the front player runs, Play while it is paused.
    void runningChanged(bool running);
    // The track was emptied before a new recording is read (displays back to their first look).
    void telemetryCleared();
    // The new recording's telemetry was read.
    void telemetryRead();
    // DisplayTimer runs while a recording with positions plays.
    void displayTimerWanted(bool run);
    // The rear player was moved to the front's position: it had drifted too far.
    void rearRealigned();
    // The players went on to the next recording of the drive by themselves (openedPath() tells
    // which).
    void handedOff();

  private:
    MediaPlayer* player(Channel c) const {
        return c == Channel::Front ? front_.get() : rear_.get();
    }
    VideoPane* pane(Channel c) const { return c == Channel::Front ? frontPane_ : rearPane_; }
    ChannelView& view(Channel c) { return c == Channel::Front ? frontView_ : rearView_; }
    bool frontIsLarge() const { return mode_ != ChannelMode::Both || !swapped_; }
    // The front player, and the rear one while both channels play.
    template <typename F>
    void forPlayers(F&& f) {
        if (front_)
            f(*front_);
        if (rear_ && mode_ == ChannelMode::Both)
            f(*rear_);
    }

    MediaTime frontDuration() const;
    std::optional<MediaTime> markHere(const std::optional<ClipMark>& mark) const;
    // Whether `a` comes before `b` (marks that cannot be compared do not).
    bool markBefore(const ClipMark& a, const ClipMark& b) const;
    // Clears the marks unless they and the recording at `path` share the timeline.
    void keepMarksFor(const QString& path);
    void createPlayers();
    void destroyPlayers();
    void prepareStandby();
    void dropStandby();
    // A new frame of the front pane reached the screen: once the front has reported its end,
    // its last frame's time aims the switch.
    void frontFrameShown();
    // Starts the switch so that the next recording's first frame reaches the screen one frame
    // interval after the last frame of this one, as the frames of one recording follow: that
    // frame was due at `lastFrameDue`, and the switch itself takes switchMs_.
    void aimHandOff(std::chrono::steady_clock::time_point lastFrameDue);
    void handOffWhenDue();
    // Starts the standby pair playing, hidden, at the playing rate (once; a no-op when it runs).
    void startStandby();
    void startOfPlayback();
    void disableSeekBar();
    void seekTo(MediaTime t);
    void moveTo(MediaTime t);  // the moment, reported
    void reportRunning();
    void setRateText(bool twice);
    // Places and shows the panes for the current mode, swap and full-screen state, fits the
    // scales, shows the whole pictures, applies both source rectangles and sets the zoom label.
    void relayout();
    void placePanes();
    void fitScales();
    void applySourceRect(Channel c);
    void resetPans();

    VideoPane* frontPane_;
    VideoPane* rearPane_;
    QObject* eventWindow_;
    MediaPlayerOptions options_;
    std::unique_ptr<MediaPlayer> front_;
    std::unique_ptr<MediaPlayer> rear_;
    // The next recording of the drive, ready to take over (rear only while both channels play).
    std::unique_ptr<MediaPlayer> standbyFront_;
    std::unique_ptr<MediaPlayer> standbyRear_;
    recordings::TelemetryTrack standbyTrack_;
    QString following_;
    QString standbyPath_;
    QString standbyFrontPath_;
    QString standbyRearPath_;
    QTimer* standbyTimer_ = nullptr;
    QTimer* handOffTimer_ = nullptr;  // fires when the front's last frame has had its time
    // The front reported its end with a standby pair ready; the switch waits for the timer.
    bool endReported_ = false;
    // When the timed switch began, until the next recording's first frame reaches the screen,
    // and how much longer than an ordinary frame switches took to get it there (milliseconds,
    // averaged).
    std::optional<std::chrono::steady_clock::time_point> switchStartedAt_;
    double switchMs_ = 5.0;  // a guess before the first
    // What the switch needs of the standby pair, read before it starts.
    struct StandbyFacts {
        std::int32_t sizes[2][2] = {};  // front, rear: width, height
        MediaTime length;
    } standbyFacts_;
    // The pair handed over from, kept to become the next standby pair: a new core and its render
    // context would cost the GUI thread a quarter of a second in the middle of playing.
    std::unique_ptr<MediaPlayer> spareFront_;
    std::unique_ptr<MediaPlayer> spareRear_;
    recordings::TelemetryTrack track_;
    QString openedPath_;
    QString frontPath_;
    QString rearPath_;
    MediaTime position_;
    MediaTime length_;
    bool seekable_ = false;
    bool dragging_ = false;
    std::optional<ClipMark> inMark_;
    std::optional<ClipMark> outMark_;
    MarkTimeline markTimeline_;

    ChannelMode mode_ = ChannelMode::Both;
    bool swapped_ = false;
    bool doubleSpeed_ = false;
    ChannelView frontView_;
    ChannelView rearView_;
    bool volumeSetOnce_ = false;
    int sliderVolume_ = 50;
    MediaTime averagedDrift_;
    MediaTime reseekLead_;        // how far ahead of the front a re-seeked rear is sent
    bool reseekLanding_ = false;  // a re-seek was sent; where it lands is still to be seen

    bool fullScreen_ = false;
    int fullScreenShown_ = 0;  // the enlarged pane: 0 none, 1 front, 2 rear
    QSize monitor_;
    QRect fullScreenPaneRect_;
};

}  // namespace orvik::playback
