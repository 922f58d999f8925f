// Opening a recording as the viewer does it (telemetry read, both players rebuilt, both files
// opened, both playing until each pane has drawn its first frame) against one player's OpenFile.
//   bench_playback_open FRONT.mp4 [REAR.mp4] [benchmark options]
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/media_player.h"
#include "playback/video_pane.h"
#include "recordings/telemetry.h"

using orvik::playback::MediaPlayer;
using orvik::playback::VideoPane;

namespace {

std::string gFront;
std::string gRear;
QWidget* gWindow = nullptr;
VideoPane* gFrontPane = nullptr;
VideoPane* gRearPane = nullptr;
std::vector<double> gOpenMs;
std::vector<double> gPlayersMs;
std::vector<double> gOpenFileMs;
std::vector<double> gTelemetryMs;

bool waitFor(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// withTelemetry false: the same without reading the telemetry (the players' share alone).
void openToFirstFrames(benchmark::State& state, bool withTelemetry, std::vector<double>& times) {
    orvik::recordings::TelemetryTrack track;
    std::unique_ptr<MediaPlayer> front, rear;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        front.reset();
        rear.reset();
        front = std::make_unique<MediaPlayer>(gFrontPane);
        (void)front->InitializeGraph();
        rear = std::make_unique<MediaPlayer>(gRearPane);
        (void)rear->InitializeGraph();
        gFrontPane->setPlayer(front.get());
        gRearPane->setPlayer(rear.get());
        if (withTelemetry) {
            track.reset();
            (void)track.readRecording(gFront);
        }
        const auto frontFrames = gFrontPane->framesRendered();
        const auto rearFrames = gRearPane->framesRendered();
        if (orvik::failed(front->OpenFile(gFront)) || orvik::failed(rear->OpenFile(gRear))) {
            state.SkipWithError("a recording could not be opened");
            break;
        }
        (void)rear->SetMute(true);
        (void)front->Play();
        (void)rear->Play();
        if (!waitFor(
                [&] {
                    return gFrontPane->framesRendered() > frontFrames &&
                           gRearPane->framesRendered() > rearFrames;
                },
                20000)) {
            state.SkipWithError("no first frame");
            break;
        }
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        times.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        state.counters["records"] = static_cast<double>(track.size());
    }
    gFrontPane->setPlayer(nullptr);
    gRearPane->setPlayer(nullptr);
}

void BM_OpenRecordingToFirstFrames(benchmark::State& state) {
    openToFirstFrames(state, true, gOpenMs);
}

void BM_PlayersToFirstFrames(benchmark::State& state) {
    openToFirstFrames(state, false, gPlayersMs);
}

void BM_TelemetryRead(benchmark::State& state) {
    orvik::recordings::TelemetryTrack track;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        track.reset();
        (void)track.readRecording(gFront);
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        gTelemetryMs.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
}

void BM_OpenFileAlone(benchmark::State& state) {
    std::unique_ptr<MediaPlayer> player;
    for (auto _ : state) {
        player.reset();
        player = std::make_unique<MediaPlayer>(gFrontPane);
        (void)player->InitializeGraph();
        gFrontPane->setPlayer(player.get());
        QElapsedTimer timer;
        timer.start();
        if (orvik::failed(player->OpenFile(gFront))) {
            state.SkipWithError("the recording could not be opened");
            break;
        }
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        gOpenFileMs.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    gFrontPane->setPlayer(nullptr);
}

BENCHMARK(BM_OpenRecordingToFirstFrames)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_PlayersToFirstFrames)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_OpenFileAlone)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_TelemetryRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FRONT.mp4 [REAR.mp4] [benchmark options]\n", argv[0]);
        return 2;
    }
    gFront = argv[1];
    gRear = argc > 2 ? argv[2] : argv[1];

    // The main window's two panes at their places.
    QWidget window;
    window.resize(1020, 645);
    gFrontPane = new VideoPane(&window, VideoPane::kFrontChannel);
    gFrontPane->setGeometry(15, 56, 646, 363);
    gRearPane = new VideoPane(&window, VideoPane::kRearChannel);
    gRearPane->setGeometry(678, 384, 326, 246);
    window.show();
    gWindow = &window;
    waitFor([] { return false; }, 300);  // let the panes get their GL contexts

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double open = median(gOpenMs);
    const double players = median(gPlayersMs);
    const double alone = median(gOpenFileMs);
    std::printf("open recording (telemetry + both panes to first frame): median %7.1f ms\n", open);
    std::printf("both players to first frame, no telemetry:              median %7.1f ms\n",
                players);
    std::printf("MediaPlayer OpenFile alone (front):                     median %7.1f ms\n", alone);
    std::printf("telemetry read alone:                                   median %7.1f ms\n",
                median(gTelemetryMs));
    if (players > 0 && alone > 0) {
        std::printf("ratio open recording / players alone: %.2f\n", open / players);
        std::printf("ratio open recording / OpenFile alone: %.2f\n", open / alone);
    }
    return 0;
}
