// Timings of the media pipeline, one measurement per invocation, results as "key value" lines:
//   playback_bench first-frame FILE [runs]      open to first frame: MediaPlayer vs bare libmpv
//   playback_bench seek FILE [count]            paused seek until the pane shows the new frame
//   playback_bench seek-decode FILE [count]     the same without drawing (decoder share)
//   playback_bench two-channels FRONT [s]       a front/rear pair (FRONT names the ..F.mp4 file)
//                                               at 1x in the window's panes: drift, drops, CPU
//   playback_bench two-channels-2x FRONT [s]    the same at 2x
//   playback_bench handoff[-2x] F1 F2 ...       a drive of front/rear pairs (front files in
//                                               order) played through: the front pane's still
//                                               at each hand-off, the rear's drift after it, and
//                                               what the standby pair costs in memory
#include <mpv/client.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "playback/media_player.h"
#include "playback/playback_controller.h"
#include "playback/transport.h"
#include "playback/video_pane.h"
#include "playback/window_messages.h"

using namespace orvik;
using namespace orvik::playback;

namespace {

double nowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

bool pumpUntil(const std::function<bool()>& pred, double limitMs) {
    const double end = nowMs() + limitMs;
    while (!pred()) {
        if (nowMs() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return true;
}

// Waits on the core's queue for the first frame after a load or a seek.
bool waitForRestart(mpv_handle* core, double limitMs) {
    const double end = nowMs() + limitMs;
    for (;;) {
        const double left = (end - nowMs()) / 1000.0;
        if (left <= 0)
            return false;
        mpv_event* e = mpv_wait_event(core, left);
        if (e->event_id == MPV_EVENT_PLAYBACK_RESTART)
            return true;
        if (e->event_id == MPV_EVENT_END_FILE || e->event_id == MPV_EVENT_SHUTDOWN)
            return false;
    }
}

class RestartWatch : public QObject {
  public:
    explicit RestartWatch(MediaPlayer*& player) : player_(player) {}
    int restarts = 0;
    bool event(QEvent* e) override {
        if (e->type() != windowMessageType(WM_GRAPH_EVENT))
            return QObject::event(e);
        while (player_ && player_->mpvHandle()) {
            mpv_event* ev = mpv_wait_event(player_->mpvHandle(), 0);
            if (ev->event_id == MPV_EVENT_NONE)
                break;
            if (ev->event_id == MPV_EVENT_PLAYBACK_RESTART)
                ++restarts;
        }
        return true;
    }

  private:
    MediaPlayer*& player_;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

MediaPlayerOptions nullOptions() {
    MediaPlayerOptions o;
    o.videoOutput = "null";
    o.audioOutput = "null";
    return o;
}

// The same core set-up outside our code, the way a plain libmpv client opens a file.
double bareLibmpvFirstFrame(const std::string& file, bool lean) {
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* core = mpv_create();
    if (lean) {
        // What the player turns off: the script hooks every load waits for.
        mpv_set_option_string(core, "load-scripts", "no");
        mpv_set_option_string(core, "ytdl", "no");
    }
    mpv_set_option_string(core, "vo", "null");
    mpv_set_option_string(core, "ao", "null");
    mpv_set_option_string(core, "pause", "yes");
    mpv_set_option_string(core, "idle", "yes");
    mpv_set_option_string(core, "keep-open", "yes");
    mpv_set_option_string(core, "hr-seek", "yes");
    mpv_initialize(core);
    const double t0 = nowMs();
    const char* cmd[] = {"loadfile", file.c_str(), nullptr};
    mpv_command(core, cmd);
    const bool ok = waitForRestart(core, 10000);
    const double t = nowMs() - t0;
    mpv_terminate_destroy(core);
    return ok ? t : -1;
}

double playerFirstFrame(const std::string& file) {
    MediaPlayer player(nullptr, nullOptions());
    if (failed(player.InitializeGraph()))
        return -1;
    const double t0 = nowMs();
    if (failed(player.OpenFile(file)))
        return -1;
    (void)player.Play();
    const bool ok = waitForRestart(player.mpvHandle(), 10000);
    return ok ? nowMs() - t0 : -1;
}

// With the real renderer: until the pane has drawn the first picture.
double paneFirstFrame(const std::string& file, VideoPane* pane) {
    MediaPlayerOptions o;
    o.audioOutput = "null";
    MediaPlayer player(pane, o);
    if (failed(player.InitializeGraph()))
        return -1;
    pane->setPlayer(&player);
    const double t0 = nowMs();
    if (failed(player.OpenFile(file)))
        return -1;
    (void)player.Play();
    const bool ok = pumpUntil([&] { return pane->framesRendered() > 0; }, 10000);
    const double t = nowMs() - t0;
    pane->setPlayer(nullptr);
    return ok ? t : -1;
}

int firstFrame(const std::string& file, int runs) {
    QWidget window;
    window.resize(680, 400);
    auto* pane = new VideoPane(&window);
    pane->setGeometry(15, 15, 646, 363);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    std::vector<double> ours, bare, bareDefault, pane_;
    bareLibmpvFirstFrame(file, true);  // warm the file cache and the libraries
    playerFirstFrame(file);
    for (int i = 0; i < runs; ++i) {
        // Interleaved so all see the same machine load.
        bare.push_back(bareLibmpvFirstFrame(file, true));
        bareDefault.push_back(bareLibmpvFirstFrame(file, false));
        ours.push_back(playerFirstFrame(file));
        pane_.push_back(paneFirstFrame(file, pane));
    }
    for (double v : ours)
        if (v < 0)
            return 1;
    std::printf("first_frame_player_ms %.1f\n", median(ours));
    std::printf("first_frame_libmpv_ms %.1f\n", median(bare));
    std::printf("first_frame_libmpv_defaults_ms %.1f\n", median(bareDefault));
    std::printf("first_frame_pane_ms %.1f\n", median(pane_));
    std::printf("first_frame_ratio %.2f\n", median(ours) / median(bare));
    return 0;
}

int seek(const std::string& file, int count, bool draw) {
    QWidget window;
    window.resize(680, 400);
    auto* pane = new VideoPane(&window);
    pane->setGeometry(15, 15, 646, 363);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    MediaPlayerOptions o = draw ? MediaPlayerOptions{} : nullOptions();
    o.audioOutput = "null";
    // Receives the core's events the way the main window does, noting each restart; the event
    // loop keeps running meanwhile, as the core's video output needs the GUI thread to draw.
    // It outlives the player, as an event window must.
    MediaPlayer* watched = nullptr;
    RestartWatch watch(watched);
    MediaPlayer player(pane, o);
    watched = &player;
    pane->setPlayer(&player);
    player.SetEventWindow(&watch, WM_GRAPH_EVENT);
    if (failed(player.InitializeGraph()) || failed(player.OpenFile(file)))
        return 1;
    MediaTime duration;
    (void)player.GetDuration(&duration);
    (void)player.Play();
    (void)player.Pause();
    pumpUntil([&] { return pane->framesRendered() > 0; }, 5000);
    pumpUntil([] { return false; }, 200);
    std::mt19937_64 rng(42);
    std::vector<double> latency;
    int lost = 0;
    for (int i = 0; i < count; ++i) {
        const MediaTime target = MediaTime::fromUnits(
            static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(duration.units())));
        const std::uint64_t before = pane->framesRendered();
        const double t0 = nowMs();
        (void)player.SetPosition(target);
        // Shown = the core restarted at the target and the pane drew a frame after that.
        const int restartsBefore = watch.restarts;
        const bool shown = pumpUntil(
            [&] {
                return watch.restarts > restartsBefore &&
                       (!draw || pane->framesRendered() > before);
            },
            3000);
        if (!shown) {
            ++lost;
            continue;
        }
        latency.push_back(nowMs() - t0);
    }
    const char* k = draw ? "seek" : "seek_decode";
    std::printf("%s_count %zu\n", k, latency.size());
    std::printf("%s_failed %d\n", k, lost);
    std::printf("%s_median_ms %.1f\n", k, median(latency));
    std::printf("%s_p95_ms %.1f\n", k, percentile(latency, 0.95));
    std::printf("%s_max_ms %.1f\n", k, percentile(latency, 1.0));
    return lost ? 1 : 0;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::int64_t readCount(const MediaPlayer& p, const char* name) {
    std::int64_t v = -1;
    mpv_get_property(p.mpvHandle(), name, MPV_FORMAT_INT64, &v);
    return v;
}

// Both channels of a pair played by the playback owner as the main window does, in the window's
// pane sizes, at 1x or 2x. At every PositionTimer tick (200 ms) the front - rear position
// difference is recorded before the tick's own correction runs.
// A window of the main window's size with a front and a rear pane, shown.
struct PaneWindow {
    QWidget window;
    VideoPane* front = new VideoPane(&window, VideoPane::kFrontChannel);
    VideoPane* rear = new VideoPane(&window, VideoPane::kRearChannel);
    bool shown() {
        window.resize(1020, 645);
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    static MediaPlayerOptions options() {
        MediaPlayerOptions o;
        o.audioOutput = "null";
        return o;
    }
};

int twoChannels(const std::string& frontFile, int seconds, bool doubleSpeed) {
    PaneWindow panes;
    if (!panes.shown())
        return 1;
    VideoPane* front = panes.front;
    VideoPane* rear = panes.rear;
    PlaybackController controller(front, rear, &panes.window, PaneWindow::options());
    if (failed(controller.open(QString::fromStdString(frontFile))) ||
        controller.channelMode() != ChannelMode::Both) {
        std::fprintf(stderr, "%s does not open as a front/rear pair\n", frontFile.c_str());
        return 1;
    }
    MediaPlayer& frontPlayer = *front->player();
    MediaPlayer& rearPlayer = *rear->player();
    if (doubleSpeed)
        controller.speedUp();
    const char* k = doubleSpeed ? "two_2x" : "two";
    std::vector<double> drift;
    std::vector<double> steady;  // after the first two seconds, when both cores run at speed
    int reseeks = 0;
    const double cpu0 = cpuSeconds();
    const double t0 = nowMs();
    double nextTick = t0 + kPositionTimerMs;
    const MediaTime duration = controller.length();
    while (nowMs() - t0 < seconds * 1000.0 && frontPlayer.GetState() == PlaybackState::Running) {
        pumpUntil([&] { return nowMs() >= nextTick; }, kPositionTimerMs * 2.0);
        // Like a timer, missed ticks are not made up.
        nextTick = std::max(nextTick + kPositionTimerMs, nowMs());
        MediaTime fp, rp;
        if (succeeded(frontPlayer.GetCurrentPosition(&fp)) &&
            succeeded(rearPlayer.GetCurrentPosition(&rp)) &&
            fp < duration - MediaTime::fromSeconds(1)) {
            drift.push_back(std::abs((fp - rp).milliseconds()));
            if (nowMs() - t0 > 2000.0)
                steady.push_back(drift.back());
            if (std::getenv("ORVIK_BENCH_TRACE"))
                std::fprintf(stderr, "tick %.0f front %.3f rear %.3f drift %.1f ms\n", nowMs() - t0,
                             fp.seconds(), rp.seconds(), (fp - rp).milliseconds());
            reseeks += rearNeedsReseek(fp, rp, duration) ? 1 : 0;
        }
        controller.positionTick();
    }
    const double wall = (nowMs() - t0) / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    std::printf("%s_wall_s %.1f\n", k, wall);
    std::printf("%s_ticks %zu\n", k, drift.size());
    std::printf("%s_median_drift_ms %.1f\n", k, median(drift));
    std::printf("%s_max_drift_ms %.1f\n", k, percentile(drift, 1.0));
    std::printf("%s_steady_median_drift_ms %.1f\n", k, median(steady));
    std::printf("%s_steady_max_drift_ms %.1f\n", k, percentile(steady, 1.0));
    std::printf("%s_reseeks %d\n", k, reseeks);
    std::printf("%s_front_frames_drawn %llu\n", k,
                static_cast<unsigned long long>(front->framesRendered()));
    std::printf("%s_rear_frames_drawn %llu\n", k,
                static_cast<unsigned long long>(rear->framesRendered()));
    std::printf("%s_front_decoder_drops %lld\n", k,
                static_cast<long long>(readCount(frontPlayer, "decoder-frame-drop-count")));
    std::printf("%s_rear_decoder_drops %lld\n", k,
                static_cast<long long>(readCount(rearPlayer, "decoder-frame-drop-count")));
    std::printf("%s_front_vo_drops %lld\n", k,
                static_cast<long long>(readCount(frontPlayer, "frame-drop-count")));
    std::printf("%s_rear_vo_drops %lld\n", k,
                static_cast<long long>(readCount(rearPlayer, "frame-drop-count")));
    std::printf("%s_cpu_cores %.2f\n", k, cpu / wall);
    return 0;
}

double residentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// What the main window does with the front player's messages.
class EndOfRecording : public QObject {
  public:
    PlaybackController* controller = nullptr;
    int missed = 0;  // ends with a recording to follow but no standby pair ready for it
    bool event(QEvent* e) override {
        if (e->type() == windowMessageType(WM_GRAPH_EVENT)) {
            controller->handleGraphEvent();
            return true;
        }
        if (e->type() == windowMessageType(WM_PLAYBACK_COMPLETE)) {
            if (!controller->recordingEnded() && !controller->following().isEmpty())
                ++missed;
            return true;
        }
        return QObject::event(e);
    }
};

int handOffs(const std::vector<std::string>& drive, bool doubleSpeed) {
    PaneWindow panes;
    if (!panes.shown())
        return 1;
    VideoPane* front = panes.front;
    VideoPane* rear = panes.rear;
    EndOfRecording ends;
    PlaybackController controller(front, rear, &ends, PaneWindow::options());
    ends.controller = &controller;
    std::size_t playing = 0;
    std::vector<double> handOffAt;
    QObject::connect(&controller, &PlaybackController::handedOff, [&] {
        handOffAt.push_back(nowMs());
        ++playing;
        if (playing + 1 < drive.size())
            controller.setFollowing(QString::fromStdString(drive[playing + 1]));
    });
    if (failed(controller.open(QString::fromStdString(drive[0]))) ||
        controller.channelMode() != ChannelMode::Both) {
        std::fprintf(stderr, "%s does not open as a front/rear pair\n", drive[0].c_str());
        return 1;
    }
    if (doubleSpeed)
        controller.speedUp();
    // The playing pair's first moments of play (its decoder threads starting, ~30 MB) belong to
    // it, not to the standby pair.
    pumpUntil([&] { return front->framesRendered() >= 10; }, 10000);
    const double before = residentMb();
    controller.setFollowing(QString::fromStdString(drive[1]));
    pumpUntil([&] { return controller.standbyReady(); }, 10000);
    const double standbyMb = residentMb() - before;

    // Every new front frame drawn, and the rear's distance at every tick of the first second
    // after a hand-off.
    std::vector<double> frames;
    std::vector<double> drift;
    std::uint64_t drawn = front->framesRendered();
    double nextTick = nowMs() + kPositionTimerMs;
    const double limit = nowMs() + 120000.0 * static_cast<double>(drive.size());
    while (!(playing + 1 == drive.size() && front->player()->atEndOfStream()) && nowMs() < limit) {
        pumpUntil([&] { return front->framesRendered() != drawn || nowMs() >= nextTick; },
                  kPositionTimerMs * 2.0);
        if (front->framesRendered() != drawn) {
            drawn = front->framesRendered();
            frames.push_back(nowMs());
        }
        if (nowMs() >= nextTick) {
            nextTick = std::max(nextTick + kPositionTimerMs, nowMs());
            MediaTime fp, rp;
            if (!handOffAt.empty() && nowMs() - handOffAt.back() < 1000 &&
                succeeded(front->player()->GetCurrentPosition(&fp)) &&
                succeeded(rear->player()->GetCurrentPosition(&rp)))
                drift.push_back(std::abs((fp - rp).milliseconds()));
            controller.positionTick();
        }
    }
    std::vector<double> gaps;
    std::vector<std::size_t> boundaryFrames;
    for (double h : handOffAt) {
        const auto after = std::upper_bound(frames.begin(), frames.end(), h);
        if (after != frames.begin() && after != frames.end()) {
            gaps.push_back(*after - *(after - 1));
            boundaryFrames.push_back(static_cast<std::size_t>(after - frames.begin()));
        }
    }
    // The same gap between frames of one recording, to hold the boundaries against.
    std::vector<double> frameGaps;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        if (std::find(boundaryFrames.begin(), boundaryFrames.end(), i) == boundaryFrames.end())
            frameGaps.push_back(frames[i] - frames[i - 1]);
    }
    const char* k = doubleSpeed ? "handoff_2x" : "handoff";
    std::printf("%s_count %zu\n", k, handOffAt.size());
    std::printf("%s_missed %d\n", k, ends.missed);
    std::printf("%s_gap_ms %.1f\n", k, median(gaps));
    std::printf("%s_gap_max_ms %.1f\n", k, percentile(gaps, 1.0));
    std::printf("%s_frame_interval_ms %.1f\n", k, (doubleSpeed ? 0.5 : 1.0) * 1000.0 / 30.0);
    std::printf("%s_frame_gap_ms %.1f\n", k, median(frameGaps));
    std::printf("%s_frame_gap_max_ms %.1f\n", k, percentile(frameGaps, 1.0));
    std::printf("%s_rear_drift_ms %.1f\n", k, median(drift));
    std::printf("%s_rear_drift_max_ms %.1f\n", k, percentile(drift, 1.0));
    std::printf("%s_standby_mb %.1f\n", k, standbyMb);
    // The last pair was opened as a standby pair, with its fewer decoding threads.
    std::printf("%s_last_front_drops %lld+%lld\n", k,
                static_cast<long long>(readCount(*front->player(), "decoder-frame-drop-count")),
                static_cast<long long>(readCount(*front->player(), "frame-drop-count")));
    return handOffAt.size() + 1 == drive.size() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    const std::vector<std::string> args(argv + 1, argv + argc);
    QApplication app(argc, argv);
    if (args.size() >= 2 && args[0] == "first-frame") {
        return firstFrame(args[1], args.size() > 2 ? std::atoi(args[2].c_str()) : 15);
    }
    if (args.size() >= 2 && (args[0] == "seek" || args[0] == "seek-decode")) {
        return seek(args[1], args.size() > 2 ? std::atoi(args[2].c_str()) : 100, args[0] == "seek");
    }
    if (args.size() >= 2 && (args[0] == "two-channels" || args[0] == "two-channels-2x")) {
        return twoChannels(args[1], args.size() > 2 ? std::atoi(args[2].c_str()) : 30,
                           args[0] == "two-channels-2x");
    }
    if (args.size() >= 3 && (args[0] == "handoff" || args[0] == "handoff-2x")) {
        return handOffs({args.begin() + 1, args.end()}, args[0] == "handoff-2x");
    }
    std::fprintf(stderr,
                 "usage: playback_bench first-frame FILE [runs] | seek[-decode] FILE [count] |"
                 " two-channels[-2x] FRONT_F.mp4 [seconds] | handoff[-2x] F1 F2...\n");
    return 2;
}
