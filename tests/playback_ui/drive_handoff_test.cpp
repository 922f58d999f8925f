// A drive played across the boundaries of its recordings, judged by what the X server shows:
// the front pane is captured from the screen while the player goes on from recording to
// recording, and no picture may stand still for longer than a blink.
#include "support/gui_journey.h"
#include "support/test_support.h"

#include <mpv/client.h>

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sstream>
#include <string>
#include <vector>

#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "shell/trip_controls.h"
#include "trips/ui/trip_navigator.h"

namespace orvik::shell {
namespace {

using namespace testing;

constexpr double kRecordingSeconds = 4.0;
constexpr int kCaptureFps = 30;
// Longest still picture allowed while playing.
constexpr double kLongestStillMs = 100.0;

// Four continuous pairs of four seconds: three boundaries within the first drive.
tools::SampleCardOptions driveCard() {
    tools::SampleCardOptions options;
    options.width = 640;
    options.height = 360;
    options.durationSeconds = kRecordingSeconds;
    options.alwaysPairs = 4;
    options.deviceFiles = false;
    return options;
}

// Each captured frame: when X showed it (seconds since the epoch: x11grab stamps frames with
// the wall clock) and its luma difference from the frame before (signalstats' YDIF).
struct CapturedFrame {
    double at = 0;
    double difference = 0;
};

std::vector<CapturedFrame> capturedFrames(const QString& video) {
    const orvik::test::RunResult r = orvik::test::runCommand(
        "ffmpeg -v error -nostdin -copyts -i " + orvik::test::quote(video.toStdString()) +
        " -vf signalstats,metadata=print:key=lavfi.signalstats.YDIF:file=- -f null -");
    std::vector<CapturedFrame> frames;
    std::istringstream lines(r.out);
    // "pts:" in Matroska's millisecond units ("pts_time:" is printed with six digits only).
    const std::string time = " pts:", key = "lavfi.signalstats.YDIF=";
    double at = 0;
    for (std::string line; std::getline(lines, line);) {
        if (const auto t = line.find(time); t != std::string::npos)
            at = std::stod(line.substr(t + time.size())) / 1000;
        if (const auto k = line.find(key); k != std::string::npos)
            frames.push_back({at, std::stod(line.substr(k + key.size()))});
    }
    return frames;
}

// A picture that stayed on the screen: from the first capture showing it to the first capture
// showing another.
struct Still {
    double from = 0;
    double ms = 0;
};

std::vector<Still> stillsOf(const std::vector<CapturedFrame>& frames) {
    std::vector<Still> stills;
    std::size_t first = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].difference >= 0.05) {
            if (i - first > 1)
                stills.push_back({frames[first].at, (frames[i].at - frames[first].at) * 1000});
            first = i;
        }
    }
    return stills;
}

class DriveHandOffTest : public WindowJourney {
  protected:
    void SetUp() override {
        if (!orvik::test::haveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh installs it)";
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "the screen capture needs an X server";
        startWindow(generatedCard(driveCard()));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return window_->trips().navigator()->tripsReady(); }, 60000));
    }
    playback::PlaybackController& playback() const { return window_->playback(); }
};

TEST_F(DriveHandOffTest, TheFrontPaneNeverStandsStillAtTheBoundaries) {
    const int first = rowOf("alwa_20260314_081500_F.mp4");
    ASSERT_GE(first, 0);
    doubleClickRow(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playback().standbyReady(); }, 10000))
        << "the next recording of the drive was not made ready";

    // The middle of the front pane as X shows it, from now until shortly before the fourth
    // recording ends: three boundaries.
    const QRect pane(front()->mapToGlobal(QPoint(0, 0)), front()->size());
    const QRect area(pane.center() - QPoint(96, 54), QSize(192, 108));
    QTemporaryDir folder;
    const QString video = folder.filePath("front.mkv");
    playback::MediaTime at;
    (void)frontPlayer()->GetCurrentPosition(&at);
    const double seconds = 3 * kRecordingSeconds + (kRecordingSeconds - at.seconds()) - 0.8;
    QProcess capture;
    // Timestamps kept as x11grab gives them: the wall clock, comparable with the hand-offs.
    const QString display =
        QString("%1+%2,%3").arg(qEnvironmentVariable("DISPLAY")).arg(area.x()).arg(area.y());
    capture.start("ffmpeg",
                  {"-v", "error", "-nostdin", "-copyts", "-f", "x11grab", "-draw_mouse", "0",
                   "-framerate", QString::number(kCaptureFps), "-video_size",
                   QString("%1x%2").arg(area.width()).arg(area.height()), "-t",
                   QString::number(seconds, 'f', 2), "-i", display, "-c:v", "ffv1", video});
    ASSERT_TRUE(capture.waitForStarted());
    const QString opened = playback().openedPath();
    QStringList played{opened};
    std::vector<double> handOffs;  // seconds since the epoch
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (playback().openedPath() != played.back()) {
                played << playback().openedPath();
                handOffs.push_back(QDateTime::currentMSecsSinceEpoch() / 1000.0);
            }
            return capture.state() == QProcess::NotRunning;
        },
        static_cast<int>(seconds * 1000) + 30000));
    ASSERT_EQ(capture.exitCode(), 0) << capture.readAllStandardError().toStdString();

    // Three hand-offs, each to the next recording of the drive, with both channels playing.
    ASSERT_EQ(played.size(), 4) << played.join(", ").toStdString();
    EXPECT_TRUE(played[3].endsWith("alwa_20260314_081512_F.mp4"));
    EXPECT_TRUE(bothRunning());
    EXPECT_EQ(window_->currentRow(), rowOf("alwa_20260314_081512_R.mp4"));

    // The machine this runs on may be busy with other work, and then a picture stands still
    // now and then in the middle of a recording too. A hand-off may not stand out from that:
    // around each boundary no still may last longer than 100 ms or than the longest elsewhere.
    const std::vector<CapturedFrame> frames = capturedFrames(video);
    ASSERT_GT(frames.size(), static_cast<std::size_t>(seconds * kCaptureFps * 0.6));
    const auto nearBoundary = [&](const Still& s) {
        for (double at : handOffs) {
            if (s.from < at + 0.5 && s.from + s.ms / 1000 > at - 0.5)
                return true;
        }
        return false;
    };
    double longestAtBoundary = 0, longestElsewhere = 0;
    std::ostringstream seen;
    for (const Still& s : stillsOf(frames)) {
        (nearBoundary(s) ? longestAtBoundary : longestElsewhere) =
            std::max(nearBoundary(s) ? longestAtBoundary : longestElsewhere, s.ms);
        seen << " " << static_cast<int>(s.ms) << " ms at +"
             << static_cast<int>((s.from - frames.front().at) * 1000) << " ms"
             << (nearBoundary(s) ? " (boundary)" : "") << ";";
    }
    std::ostringstream boundaries;
    for (double at : handOffs)
        boundaries << " +" << static_cast<int>((at - frames.front().at) * 1000) << " ms";
    EXPECT_LE(longestAtBoundary, std::max(kLongestStillMs, longestElsewhere + 1000.0 / kCaptureFps))
        << "hand-offs at" << boundaries.str() << "; stills:" << seen.str();
    std::printf("longest still at a boundary %.0f ms, elsewhere %.0f ms\n", longestAtBoundary,
                longestElsewhere);
}

// Frames the core gave up on: the decoder's and the output's.
std::int64_t droppedFrames(playback::MediaPlayer* player) {
    std::int64_t total = 0;
    for (const char* name : {"decoder-frame-drop-count", "frame-drop-count"}) {
        std::int64_t n = 0;
        if (mpv_get_property(player->mpvHandle(), name, MPV_FORMAT_INT64, &n) >= 0)
            total += n;
    }
    return total;
}

TEST_F(DriveHandOffTest, EveryFrameOfARecordingIsShownBeforeTheNextRecordingTakesOver) {
    const int first = rowOf("alwa_20260314_081500_F.mp4");
    ASSERT_GE(first, 0);
    // Counted from the first frame on: the recording opens on it, paused, before it plays.
    std::uint64_t shownBefore = 0;
    std::vector<std::int64_t> shown, dropped;
    playback::MediaPlayer* playing = nullptr;
    QObject::connect(&playback(), &playback::PlaybackController::handedOff, [&] {
        shown.push_back(static_cast<std::int64_t>(front()->framesRendered() - shownBefore));
        dropped.push_back(droppedFrames(playing));
        shownBefore = front()->framesRendered();
        playing = frontPlayer();
    });
    doubleClickRow(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 15000));
    playing = frontPlayer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 3; }, 30000));

    // A recording of four seconds at 30 frames a second has 120 frames. Each reaches the screen,
    // the last one too, unless the core itself dropped it on a busy machine (its count may also
    // take in a frame that was drawn after all, so this is a floor).
    const auto frames = static_cast<std::int64_t>(kRecordingSeconds * 30);
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_GE(shown[i] + dropped[i], frames)
            << "recording " << i + 1 << ": " << shown[i] << " frames shown, " << dropped[i]
            << " dropped by the core";
}

}  // namespace
}  // namespace orvik::shell
