#pragma once
// One channel's player: a libmpv core of its own, drawn into a VideoPane.
//
// The interface keeps the operations, states, result codes and units the rest of the viewer is
// written against: positions and durations are media time in 100-ns units, volume is an
// attenuation in hundredths of a decibel, every operation returns an HResult. Everything here
// runs on the GUI thread; the core's own threads only post WM_GRAPH_EVENT.
#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/hresult.h"
#include "playback/media_time.h"
#include "playback/video_rect.h"

struct mpv_handle;
struct mpv_event;

namespace orvik::playback {

class VideoPane;
class VideoRenderer;

enum class PlaybackState : std::int32_t { Running = 0, Paused = 1, Stopped = 2, NoGraph = 3 };

// Seeking capability flags, as GetSeekingCapabilities() reports them.
inline constexpr std::uint32_t AM_SEEKING_CanSeekAbsolute = 0x1;
inline constexpr std::uint32_t AM_SEEKING_CanSeekForwards = 0x2;
inline constexpr std::uint32_t AM_SEEKING_CanSeekBackwards = 0x4;
inline constexpr std::uint32_t AM_SEEKING_CanGetCurrentPos = 0x8;
inline constexpr std::uint32_t AM_SEEKING_CanGetStopPos = 0x10;
inline constexpr std::uint32_t AM_SEEKING_CanGetDuration = 0x20;

// Failure codes of OpenFile besides E_POINTER (no graph) and VFW_E_NOT_FOUND (no video stream).
inline constexpr HResult E_FILE_NOT_FOUND = static_cast<HResult>(0x80070002u);
inline constexpr HResult E_ACCESSDENIED = static_cast<HResult>(0x80070005u);
inline constexpr HResult VFW_E_INVALID_FILE_FORMAT = static_cast<HResult>(0x8004022Fu);
inline constexpr HResult VFW_E_TIMEOUT = static_cast<HResult>(0x8004022Eu);

// Attenuation bounds of SetVolume.
inline constexpr std::int32_t kVolumeSilence = -10000;
inline constexpr std::int32_t kVolumeFull = 0;

// The system's text for a result code this layer returns ("" when it has none), for the
// "Error 0x%08x: %s" message the main window shows.
std::string resultText(HResult hr);

// mpv's volume percent for an attenuation: mpv's amplitude is (p/100)^3, so p = 100 * 10^(v/6000)
// makes the amplitude follow the decibel value; -10000 (and below) is silence.
double volumePercentForAttenuation(std::int32_t attenuation);

struct MediaPlayerOptions {
    // "" = render through the render API into the pane (or "null" when the player has no pane);
    // "null" decodes without drawing (tests, benchmarks).
    std::string videoOutput;
    // "" = mpv's choice of sound output; "null" where there is no sound device.
    std::string audioOutput;
    // Longest time OpenFile waits for the core to load a file.
    int openTimeoutMs = 15000;
    // The core's own log on stderr (ORVIK_DEBUG set); otherwise its probing stays out of the
    // user's terminal.
    bool coreLog = false;

    // Defaults, overridden by ORVIK_MPV_VO and ORVIK_MPV_AO when set.
    static MediaPlayerOptions fromEnvironment();
};

// The hardware decoders the players try, in the core's terms, and the GPU interop the render
// context loads for them.
struct HardwareDecoding {
    std::string decoders = "no";  // "vaapi", "vdpau-copy" or "no" (software)
    std::string interop = "no";   // "vaapi" or "no"
};
// VA-API where a render node is in `driFolder`, else VDPAU (copied back: this core has no VDPAU
// interop for the render API) where one of `vdpauFolders` holds a driver, else software. Never
// the core's "auto", nor a back end without its driver: their probing writes to stderr at every
// file open ("Cannot load libcuda.so.1", "Failed to open VDPAU backend").
HardwareDecoding chooseHardwareDecoding(const std::string& driFolder = "/dev/dri",
                                        const std::vector<std::string>& vdpauFolders = {
                                            "/usr/lib/x86_64-linux-gnu/vdpau",
                                            "/usr/lib/aarch64-linux-gnu/vdpau", "/usr/lib64/vdpau",
                                            "/usr/lib/vdpau"});

class MediaPlayer {
  public:
    // videoWindow may be null: the player then decodes without drawing.
    explicit MediaPlayer(VideoPane* videoWindow,
                         MediaPlayerOptions options = MediaPlayerOptions::fromEnvironment());
    // CloseFile, then TearDownGraph.
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Where WM_GRAPH_EVENT (the `message`) is posted; only the front player sets it. A player
    // without an event window drains its own events and never signals completion. The window
    // must outlive the player, or be replaced (SetEventWindow(nullptr, 0)) before it goes.
    void SetEventWindow(QObject* window, int message);

    HResult InitializeGraph();
    HResult OpenFile(const std::string& path);
    // Starts opening `path` and returns at once; the core's events finish the open (and decode
    // the first frame, paused) while the GUI thread goes on. Fails at once only for what is
    // known before the core reads the file. `decoderThreads` > 0 caps the video decoder's threads
    // for this file (0: the core's choice): each thread holds frames of its own, which a player
    // that only waits its turn need not pay for. The count holds until the next open.
    HResult OpenFileInBackground(const std::string& path, int decoderThreads = 0);
    // The background open succeeded and the first frame is decoded: Play() shows it at once.
    bool readyInBackground() const;
    // The background open is still under way.
    bool openingInBackground() const { return background_.opening; }
    HResult CloseFile();
    HResult TearDownGraph();

    HResult Play();   // Paused or Stopped -> Running, else VFW_E_WRONG_STATE
    HResult Pause();  // Running -> Paused, else VFW_E_WRONG_STATE
    HResult Stop();   // Running or Paused -> Stopped, else VFW_E_WRONG_STATE
    // The same steps without waiting for the core to take them (it takes them in order): the
    // switch to a standby pair must not wait on four cores in turn. Play starts at `rate`.
    HResult PlayWithoutWaiting(double rate);
    HResult PauseWithoutWaiting();
    PlaybackState GetState() const { return state_; }

    bool CanSeek() const;
    // True while the player is still finding the moment it was sent to (its position then is
    // the target, or the old one when the core takes longer than a second).
    bool IsSeeking() const;
    HResult SetPosition(MediaTime t);
    HResult GetDuration(MediaTime* t) const;
    HResult GetCurrentPosition(MediaTime* t) const;
    HResult SetRate(double rate);
    // The rate the player runs at now (1.0 normal).
    HResult GetRate(double* rate) const;
    // How long one frame of the open file stands at 1x (its container's frame rate; 1/30 s when
    // the container gives none).
    MediaTime frameInterval() const { return frameInterval_; }

    HResult SetMute(bool muted);
    HResult SetVolume(std::int32_t attenuation);

    // Waits until the opened file's first frame is decoded and ready to show, so that cores
    // started together also start playing together. VFW_E_TIMEOUT when it takes longer.
    HResult WaitForFirstFrame(int timeoutMs);
    bool firstFrameReady() const { return firstFrameReady_; }

    HResult GetNativeVideoSize(std::int32_t* width, std::int32_t* height) const;
    // Shows `source` (native picture pixels; null = the whole picture) letter-boxed into
    // `destination` (pane pixels; null = the pane's client rectangle).
    HResult UpdateVideoWindow(const VideoRect* source, const VideoRect* destination);
    HResult Repaint();

    // Drains the core's events; the front player posts WM_PLAYBACK_COMPLETE once per end of
    // stream reached while running.
    HResult HandleGraphEvent();

    // Beyond the operations above: read-only views used by the pane, tests and benchmarks.
    VideoPane* videoWindow() const;
    bool hasAudio() const { return hasAudio_; }
    bool hasFile() const { return fileLoaded_; }
    bool atEndOfStream() const { return eofReached_; }
    std::int32_t volume() const { return volume_; }
    bool muted() const { return muted_; }
    std::uint32_t seekingCapabilities() const { return seekingCaps_; }
    // True while the pane should show the picture rather than its background: Running, Paused,
    // or Stopped after SetPosition asked for the frame at the new position.
    bool showsPicture() const;
    mpv_handle* mpvHandle() const { return mpv_; }

  private:
    class EventSink;
    static void wakeup(void* self);
    void processEvent(const mpv_event& event);
    HResult applyVolume();
    // The player's own record of an open file, cleared (the core is not told).
    void forgetFile();
    HResult pause(bool wait);
    // The reply tag under which the core reports "eof-reached".
    static constexpr std::uint64_t kObserveEof = 1;
    // A seek was sent and its restart not yet taken in (for at most a second): the position
    // reported is its target.
    bool seekTargetHeld() const;
    HResult beginOpen(const std::string& path, std::uint64_t* entryId, int decoderThreads = 0);
    HResult waitForLoad(std::uint64_t entryId);
    HResult finishOpen();
    bool processBackgroundOpen(const mpv_event& event);
    void signalCompletion();
    void updateEndOfStream(bool reached);

    PlaybackState state_ = PlaybackState::NoGraph;
    QPointer<VideoPane> videoWindow_;
    MediaPlayerOptions options_;
    std::atomic<QObject*> eventWindow_{nullptr};
    std::atomic<int> eventMessage_{0};
    std::unique_ptr<EventSink> sink_;
    std::uint32_t seekingCaps_ = 0;
    bool hasAudio_ = false;
    bool fileLoaded_ = false;
    std::int32_t volume_ = 0;
    bool muted_ = false;
    bool stoppedFrame_ = false;
    bool eofReached_ = false;
    bool completionSignalled_ = false;
    bool firstFrameReady_ = false;
    // A seek the core has queued but not carried out: until then the core still reports the old
    // position. Cleared when the core restarts playback, or after a while in case that is missed.
    mutable bool seekPending_ = false;
    MediaTime seekTarget_;
    MediaTime frameInterval_ = MediaTime::fromSeconds(1.0 / 30.0);
    std::int64_t seekIssuedMs_ = 0;
    struct BackgroundOpen {
        bool opening = false;
        bool started = false;  // the core began the entry asked for
        bool loaded = false;   // ...and loaded it
        std::uint64_t entryId = 0;
        HResult result = E_UNEXPECTED;
    };
    BackgroundOpen background_;
    mpv_handle* mpv_ = nullptr;
    std::unique_ptr<VideoRenderer> renderer_;
};

}  // namespace orvik::playback
