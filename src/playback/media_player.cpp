#include "playback/media_player.h"

#include <mpv/client.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "playback/mpv_properties.h"
#include "playback/video_pane.h"
#include "playback/video_renderer.h"
#include "playback/window_messages.h"

namespace orvik::playback {

using mpv::readDouble;
using mpv::readFlag;
using mpv::readInt;
using mpv::readString;

namespace {

constexpr std::int64_t kSeekPendingLimitMs = 1000;

std::int64_t nowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// The sound outputs tried in turn; "null" plays without sound. Not JACK: where no JACK server
// runs, the front and rear cores trying its client library at once can deadlock inside it and
// freeze the window at the first Play (ORVIK_MPV_AO=jack still names it).
constexpr const char* kSoundOutputs = "pipewire,pulse,alsa,null";

void setOption(mpv_handle* core, const char* name, const char* value) {
    // An option this mpv build lacks is not worth failing the player for.
    mpv_set_option_string(core, name, value);
}

// What the file system says about a path before the core sees it.
HResult checkReadableFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status))
        return E_FILE_NOT_FOUND;
    // A folder would be played as a playlist of everything inside it.
    if (!std::filesystem::is_regular_file(status))
        return VFW_E_INVALID_FILE_FORMAT;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return S_OK;
    }
    return errno == EACCES ? E_ACCESSDENIED : E_FAIL;
}

}  // namespace

// Receives the wakeups of a player that has no event window, so its queue never fills.
class MediaPlayer::EventSink final : public QObject {
  public:
    explicit EventSink(MediaPlayer* player) : player_(player) {}
    bool event(QEvent* event) override {
        if (event->type() == windowMessageType(WM_GRAPH_EVENT)) {
            (void)player_->HandleGraphEvent();  // its outcome is already reported through the
                                                // player's notifications
            return true;
        }
        return QObject::event(event);
    }

  private:
    MediaPlayer* player_;
};

MediaPlayer::MediaPlayer(VideoPane* videoWindow, MediaPlayerOptions options)
    : videoWindow_(videoWindow), options_(std::move(options)), sink_(new EventSink(this)) {}

MediaPlayer::~MediaPlayer() {
    (void)CloseFile();
    (void)TearDownGraph();
    if (videoWindow_ && videoWindow_->player() == this)
        videoWindow_->setPlayer(nullptr);
}

VideoPane* MediaPlayer::videoWindow() const {
    return videoWindow_.data();
}

void MediaPlayer::SetEventWindow(QObject* window, int message) {
    eventMessage_.store(message);
    eventWindow_.store(window);
    // Setting the callback again waits for a wakeup in flight, so once this returns the old
    // window receives nothing more and may be destroyed.
    if (mpv_)
        mpv_set_wakeup_callback(mpv_, &MediaPlayer::wakeup, this);
}

void MediaPlayer::wakeup(void* self) {
    // Runs on one of the core's threads: only post, never touch the player or a widget.
    auto* player = static_cast<MediaPlayer*>(self);
    if (QObject* window = player->eventWindow_.load()) {
        postWindowMessage(window, player->eventMessage_.load());
    } else {
        postWindowMessage(player->sink_.get(), WM_GRAPH_EVENT);
    }
}

HResult MediaPlayer::InitializeGraph() {
    (void)TearDownGraph();  // starting afresh; nothing to tear down is fine
    // The core refuses to start under a locale that writes numbers with a decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* core = mpv_create();
    if (!core)
        return E_OUTOFMEMORY;

    const bool drawIntoPane = options_.videoOutput.empty() && videoWindow_;
    const std::string vo = drawIntoPane                   ? "libmpv"
                           : options_.videoOutput.empty() ? "null"
                                                          : options_.videoOutput;
    setOption(core, "vo", vo.c_str());
    // Without a sound server the core's own list goes on to SDL's audio, and two players starting
    // it at once crash or hang in it; a machine without sound plays silently instead.
    setOption(core, "ao",
              options_.audioOutput.empty() ? kSoundOutputs : options_.audioOutput.c_str());
    // A finished recording stays on its last frame and reports end of stream.
    setOption(core, "keep-open", "yes");
    // ...without pausing there on its own: the player's state alone says whether it runs.
    setOption(core, "keep-open-pause", "no");
    // The core hands each frame over when it is due, not up to 50 ms before: the pane draws
    // what it is given at once, so an early frame would be drawn early, and the frame after a
    // start of play, handed over with the one that follows it, was never drawn at all.
    setOption(core, "video-timing-offset", "0");
    setOption(core, "hr-seek", "yes");
    setOption(core, "idle", "yes");
    setOption(core, "pause", "yes");
    // Chosen once per process: the probe looks at the machine, which does not change.
    static const HardwareDecoding hw = chooseHardwareDecoding();
    setOption(core, "hwdec", hw.decoders.c_str());
    setOption(core, "gpu-hwdec-interop", hw.interop.c_str());
    // Only files, only containers: no playlists, folders, scripts, network helpers or side files.
    setOption(core, "demuxer", "lavf");
    setOption(core, "load-unsafe-playlists", "no");
    setOption(core, "access-references", "no");
    setOption(core, "ytdl", "no");
    setOption(core, "load-scripts", "no");
    setOption(core, "osc", "no");
    setOption(core, "load-stats-overlay", "no");
    setOption(core, "load-osd-console", "no");
    setOption(core, "config", "no");
    setOption(core, "input-default-bindings", "no");
    setOption(core, "input-vo-keyboard", "no");
    setOption(core, "osd-level", "0");
    setOption(core, "sub-auto", "no");
    setOption(core, "audio-file-auto", "no");
    setOption(core, "cover-art-auto", "no");
    setOption(core, "audio-display", "no");
    setOption(core, "resume-playback", "no");
    setOption(core, "save-position-on-quit", "no");
    setOption(core, "terminal", options_.coreLog ? "yes" : "no");
    if (options_.coreLog)
        setOption(core, "msg-level", "all=v");

    if (mpv_initialize(core) < 0) {
        mpv_terminate_destroy(core);
        return E_FAIL;
    }
    mpv_observe_property(core, kObserveEof, "eof-reached", MPV_FORMAT_FLAG);
    mpv_ = core;
    mpv_set_wakeup_callback(mpv_, &MediaPlayer::wakeup, this);
    return S_OK;
}

HResult MediaPlayer::TearDownGraph() {
    // The render context must go before the core.
    renderer_.reset();
    if (mpv_) {
        mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
        mpv_terminate_destroy(mpv_);
        mpv_ = nullptr;
    }
    state_ = PlaybackState::NoGraph;
    seekingCaps_ = 0;
    hasAudio_ = false;
    fileLoaded_ = false;
    stoppedFrame_ = false;
    eofReached_ = false;
    completionSignalled_ = false;
    if (videoWindow_)
        videoWindow_->update();
    return S_OK;
}

HResult MediaPlayer::CloseFile() {
    (void)Stop();  // closing also works from Stopped
    if (mpv_ && fileLoaded_) {
        const char* cmd[] = {"stop", nullptr};
        mpv_command(mpv_, cmd);
    }
    forgetFile();
    return S_OK;
}

void MediaPlayer::forgetFile() {
    (void)Stop();
    fileLoaded_ = false;
    stoppedFrame_ = false;
    eofReached_ = false;
    completionSignalled_ = false;
    seekPending_ = false;
    seekingCaps_ = 0;
    hasAudio_ = false;
    background_ = {};
    if (videoWindow_)
        videoWindow_->update();
}

HResult MediaPlayer::waitForLoad(std::uint64_t entryId) {
    QElapsedTimer clock;
    clock.start();
    bool started = false;
    for (;;) {
        const double remaining = (options_.openTimeoutMs - clock.elapsed()) / 1000.0;
        if (remaining <= 0)
            return VFW_E_TIMEOUT;
        mpv_event* event = mpv_wait_event(mpv_, remaining);
        switch (event->event_id) {
            case MPV_EVENT_START_FILE: {
                auto* info = static_cast<mpv_event_start_file*>(event->data);
                if (static_cast<std::uint64_t>(info->playlist_entry_id) == entryId)
                    started = true;
                break;
            }
            case MPV_EVENT_FILE_LOADED:
                if (started)
                    return S_OK;
                break;
            case MPV_EVENT_END_FILE: {
                auto* info = static_cast<mpv_event_end_file*>(event->data);
                if (static_cast<std::uint64_t>(info->playlist_entry_id) == entryId) {
                    return VFW_E_INVALID_FILE_FORMAT;
                }
                break;
            }
            case MPV_EVENT_SHUTDOWN:
                return E_UNEXPECTED;
            default:
                processEvent(*event);
                break;
        }
    }
}

HResult MediaPlayer::beginOpen(const std::string& path, std::uint64_t* entryId,
                               int decoderThreads) {
    // No "stop" first: "loadfile replace" ends the file in the core and keeps its video output.
    // A stop ends the output too, which waits for the GUI thread that draws for the core while
    // that thread waits for the command: every pane stood still for a quarter of a second.
    forgetFile();
    if (!mpv_)
        return E_POINTER;

    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec || path.empty())
        return E_FILE_NOT_FOUND;
    if (HResult hr = checkReadableFile(absolute); failed(hr))
        return hr;

    // One renderer for the core's life: a render context is costly to make (its shaders are
    // built on the GUI thread), and a player reused for the next recording keeps it.
    if (!renderer_) {
        renderer_ = std::make_unique<MpvRenderer>();
        if (HResult hr = renderer_->AddToGraph(mpv_, videoWindow_); failed(hr)) {
            renderer_.reset();
            return hr;
        }
    }

    mpv_set_property_string(mpv_, "pause", "yes");
    // The absolute path keeps names like "http:..." or "-x" from being read as anything but a file.
    const std::string target = absolute.string();
    // A per-file option: the next open starts from the core's own choice again.
    const std::string perFile = "vd-lavc-threads=" + std::to_string(std::max(0, decoderThreads));
    const char* cmd[] = {"loadfile", target.c_str(), "replace", perFile.c_str(), nullptr};
    mpv_node result{};
    if (mpv_command_ret(mpv_, cmd, &result) < 0)
        return E_FAIL;
    *entryId = 0;
    if (result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i) {
            if (std::string(result.u.list->keys[i]) == "playlist_entry_id" &&
                result.u.list->values[i].format == MPV_FORMAT_INT64) {
                *entryId = static_cast<std::uint64_t>(result.u.list->values[i].u.int64);
            }
        }
    }
    mpv_free_node_contents(&result);
    firstFrameReady_ = false;
    return S_OK;
}

HResult MediaPlayer::OpenFile(const std::string& path) {
    std::uint64_t entryId = 0;
    if (const HResult hr = beginOpen(path, &entryId); failed(hr))
        return hr;
    if (const HResult hr = waitForLoad(entryId); failed(hr)) {
        const char* stop[] = {"stop", nullptr};
        mpv_command(mpv_, stop);
        return hr;
    }
    return finishOpen();
}

HResult MediaPlayer::OpenFileInBackground(const std::string& path, int decoderThreads) {
    std::uint64_t entryId = 0;
    const HResult hr = beginOpen(path, &entryId, decoderThreads);
    background_ = {};
    background_.opening = succeeded(hr);
    background_.entryId = entryId;
    background_.result = hr;
    return hr;
}

HResult MediaPlayer::finishOpen() {
    fileLoaded_ = true;

    // Streams: any order; a recording needs a moving picture, sound is optional.
    std::int64_t count = 0;
    readInt(mpv_, "track-list/count", &count);
    bool video = false;
    bool audio = false;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::string base = "track-list/" + std::to_string(i) + "/";
        const std::string type = readString(mpv_, base + "type");
        if (type == "video" && readString(mpv_, base + "albumart") != "yes" &&
            readString(mpv_, base + "image") != "yes") {
            video = true;
        }
        if (type == "audio")
            audio = true;
    }
    if (!video) {
        (void)CloseFile();
        return VFW_E_NOT_FOUND;
    }
    // A file cut before its first media data has streams but nothing to show.
    double length = 0;
    if (!readDouble(mpv_, "duration", &length) || !(length > 0)) {
        (void)CloseFile();
        return VFW_E_INVALID_FILE_FORMAT;
    }
    hasAudio_ = audio;
    double fps = 0;
    frameInterval_ = MediaTime::fromSeconds(
        readDouble(mpv_, "container-fps", &fps) && fps >= 1.0 && fps <= 1000.0 ? 1.0 / fps
                                                                               : 1.0 / 30.0);
    (void)renderer_->FinalizeGraph(mpv_);  // only fails without a core, which was checked above

    seekingCaps_ = 0;
    double duration = 0;
    if (readFlag(mpv_, "seekable")) {
        seekingCaps_ |=
            AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards;
    }
    seekingCaps_ |= AM_SEEKING_CanGetCurrentPos;
    if (readDouble(mpv_, "duration", &duration) && duration > 0) {
        seekingCaps_ |= AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
    }

    (void)applyVolume();  // a refused volume leaves the default level; the file still plays
    if (videoWindow_ && !videoWindow_->player())
        videoWindow_->setPlayer(this);
    state_ = PlaybackState::Stopped;
    eofReached_ = false;
    completionSignalled_ = false;
    if (videoWindow_)
        videoWindow_->update();
    return S_OK;
}

HResult MediaPlayer::Play() {
    if (state_ != PlaybackState::Paused && state_ != PlaybackState::Stopped) {
        return VFW_E_WRONG_STATE;
    }
    if (mpv_ && mpv_set_property_string(mpv_, "pause", "no") < 0)
        return E_FAIL;
    state_ = PlaybackState::Running;
    stoppedFrame_ = false;
    // Started again while sitting at the end: the end is reached at once.
    if (fileLoaded_)
        updateEndOfStream(readFlag(mpv_, "eof-reached"));
    if (eofReached_)
        signalCompletion();
    if (videoWindow_)
        videoWindow_->update();
    return S_OK;
}

HResult MediaPlayer::Pause() {
    return pause(true);
}

HResult MediaPlayer::PlayWithoutWaiting(double rate) {
    if (state_ != PlaybackState::Paused && state_ != PlaybackState::Stopped)
        return VFW_E_WRONG_STATE;
    if (!mpv_)
        return E_FAIL;
    if (std::isfinite(rate) && rate >= 0.01 && rate <= 100.0)
        mpv_set_property_async(mpv_, 0, "speed", MPV_FORMAT_DOUBLE, &rate);
    const char* no = "no";
    if (mpv_set_property_async(mpv_, 0, "pause", MPV_FORMAT_STRING, &no) < 0)
        return E_FAIL;
    state_ = PlaybackState::Running;
    stoppedFrame_ = false;
    if (videoWindow_)
        videoWindow_->update();
    return S_OK;
}

HResult MediaPlayer::PauseWithoutWaiting() {
    return pause(false);
}

HResult MediaPlayer::pause(bool wait) {
    if (state_ != PlaybackState::Running)
        return VFW_E_WRONG_STATE;
    const char* yes = "yes";
    if (mpv_ && (wait ? mpv_set_property_string(mpv_, "pause", yes)
                      : mpv_set_property_async(mpv_, 0, "pause", MPV_FORMAT_STRING, &yes)) < 0)
        return E_FAIL;
    state_ = PlaybackState::Paused;
    return S_OK;
}

HResult MediaPlayer::Stop() {
    if (state_ != PlaybackState::Running && state_ != PlaybackState::Paused) {
        return VFW_E_WRONG_STATE;
    }
    if (mpv_ && mpv_set_property_string(mpv_, "pause", "yes") < 0)
        return E_FAIL;
    state_ = PlaybackState::Stopped;
    stoppedFrame_ = false;
    if (videoWindow_)
        videoWindow_->update();
    return S_OK;
}

bool MediaPlayer::seekTargetHeld() const {
    return seekPending_ && nowMs() - seekIssuedMs_ < kSeekPendingLimitMs;
}

bool MediaPlayer::IsSeeking() const {
    // Until the core's restart has been taken in, the position reported is the seek's target:
    // a judge of the position (the rear kept in step) must wait as for the core's own seeking.
    return seekTargetHeld() || readFlag(mpv_, "seeking");
}

bool MediaPlayer::CanSeek() const {
    constexpr std::uint32_t needed = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration;
    return (seekingCaps_ & needed) == needed;
}

HResult MediaPlayer::SetPosition(MediaTime t) {
    if (!mpv_ || !fileLoaded_)
        return E_UNEXPECTED;
    if (t < MediaTime{})
        t = MediaTime{};
    // Locale-free number text: the command parser reads a dot.
    char seconds[32] = {};
    std::to_chars(seconds, seconds + sizeof seconds - 1, t.seconds(), std::chars_format::fixed, 7);
    const char* cmd[] = {"seek", seconds, "absolute+exact", nullptr};
    if (mpv_command(mpv_, cmd) < 0)
        return E_FAIL;
    seekPending_ = true;
    seekTarget_ = t;
    seekIssuedMs_ = nowMs();
    if (state_ == PlaybackState::Stopped) {
        stoppedFrame_ = true;
        if (videoWindow_)
            videoWindow_->update();
    }
    return S_OK;
}

HResult MediaPlayer::GetDuration(MediaTime* t) const {
    if (!t)
        return E_POINTER;
    double seconds = 0;
    if (!fileLoaded_ || !readDouble(mpv_, "duration", &seconds))
        return E_UNEXPECTED;
    *t = MediaTime::fromSeconds(seconds);
    return S_OK;
}

HResult MediaPlayer::GetCurrentPosition(MediaTime* t) const {
    if (!t)
        return E_POINTER;
    double seconds = 0;
    if (!fileLoaded_)
        return E_UNEXPECTED;
    if (seekTargetHeld()) {
        *t = seekTarget_;
        return S_OK;
    }
    seekPending_ = false;
    if (!readDouble(mpv_, "time-pos", &seconds))
        return E_UNEXPECTED;
    *t = MediaTime::fromSeconds(std::max(0.0, seconds));
    return S_OK;
}

HResult MediaPlayer::SetRate(double rate) {
    if (!mpv_)
        return E_FAIL;
    if (!std::isfinite(rate) || rate < 0.01 || rate > 100.0)
        return E_INVALIDARG;
    return mpv_set_property(mpv_, "speed", MPV_FORMAT_DOUBLE, &rate) < 0 ? E_FAIL : S_OK;
}

HResult MediaPlayer::GetRate(double* rate) const {
    if (!rate)
        return E_POINTER;
    if (!mpv_ || !readDouble(mpv_, "speed", rate))
        return E_FAIL;
    return S_OK;
}

HResult MediaPlayer::SetMute(bool muted) {
    muted_ = muted;
    return applyVolume();
}

HResult MediaPlayer::SetVolume(std::int32_t attenuation) {
    if (attenuation < kVolumeSilence || attenuation > kVolumeFull)
        return E_INVALIDARG;
    volume_ = attenuation;
    return applyVolume();
}

HResult MediaPlayer::applyVolume() {
    // A recording without sound takes the setting and stays silent.
    if (!mpv_ || !hasAudio_)
        return S_OK;
    double percent = volumePercentForAttenuation(muted_ ? kVolumeSilence : volume_);
    return mpv_set_property(mpv_, "volume", MPV_FORMAT_DOUBLE, &percent) < 0 ? E_FAIL : S_OK;
}

HResult MediaPlayer::GetNativeVideoSize(std::int32_t* width, std::int32_t* height) const {
    if (!renderer_)
        return S_OK;
    return renderer_->GetNativeVideoSize(width, height);
}

HResult MediaPlayer::UpdateVideoWindow(const VideoRect* source, const VideoRect* destination) {
    if (!renderer_)
        return S_OK;
    return renderer_->UpdateVideoWindow(videoWindow_, source, destination);
}

HResult MediaPlayer::Repaint() {
    if (!renderer_)
        return S_OK;
    return renderer_->Repaint(videoWindow_);
}

bool MediaPlayer::showsPicture() const {
    if (!fileLoaded_)
        return false;
    return state_ == PlaybackState::Running || state_ == PlaybackState::Paused ||
           (state_ == PlaybackState::Stopped && stoppedFrame_);
}

}  // namespace orvik::playback
