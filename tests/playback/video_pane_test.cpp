// VideoPane and the renderer under a real X server (Xvfb + Mesa): pixels read back from the
// pane for the whole picture and for source rectangles, the background while stopped, and the
// messages a pane sends to the main window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "playback_support.h"
#include "support/test_support.h"

namespace orvik::playback::test {
namespace {

using namespace std::chrono_literals;

// The pattern clip: 320x180 grey, with 80x45 blocks red (top left), green (top right), blue
// (bottom left) and white (bottom right).
constexpr int kW = 320, kH = 180;

enum class Colour { Red, Green, Blue, White, Grey, Black, Magenta };

const char* name(Colour c) {
    switch (c) {
        case Colour::Red:
            return "red";
        case Colour::Green:
            return "green";
        case Colour::Blue:
            return "blue";
        case Colour::White:
            return "white";
        case Colour::Grey:
            return "grey";
        case Colour::Black:
            return "black";
        case Colour::Magenta:
            return "magenta";
    }
    return "?";
}

// Loose classes: the picture went through 4:2:0 video and a scaler.
bool looksLike(QRgb px, Colour c) {
    const int r = qRed(px), g = qGreen(px), b = qBlue(px);
    auto hi = [](int v) { return v > 170; };
    auto lo = [](int v) { return v < 85; };
    auto mid = [](int v) { return v >= 70 && v <= 190; };
    switch (c) {
        case Colour::Red:
            return hi(r) && lo(g) && lo(b);
        case Colour::Green:
            return lo(r) && hi(g) && lo(b);
        case Colour::Blue:
            return lo(r) && lo(g) && hi(b);
        case Colour::White:
            return hi(r) && hi(g) && hi(b);
        case Colour::Grey:
            return mid(r) && mid(g) && mid(b) && std::abs(r - g) < 30 && std::abs(g - b) < 30;
        case Colour::Black:
            return r < 20 && g < 20 && b < 20;
        case Colour::Magenta:
            return hi(r) && lo(g) && hi(b);
    }
    return false;
}

struct Probe {
    int x, y;
    Colour expected;
};

::testing::AssertionResult showsColours(VideoPane& pane, const std::vector<Probe>& probes) {
    QImage image;
    auto matches = [&] {
        image = pane.grabFramebuffer();
        for (const auto& p : probes) {
            if (!looksLike(image.pixel(p.x, p.y), p.expected))
                return false;
        }
        return true;
    };
    // Property changes reach the renderer asynchronously: give it a few frames (generously: on a
    // loaded two-core machine a frame may take seconds).
    if (waitFor(matches, 20s))
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (const auto& p : probes) {
        const QRgb px = image.pixel(p.x, p.y);
        if (!looksLike(px, p.expected)) {
            failure << "(" << p.x << "," << p.y << ") is " << qRed(px) << "," << qGreen(px) << ","
                    << qBlue(px) << ", not " << name(p.expected) << "; ";
        }
    }
    return failure;
}

// What the X server shows of the pane: the picture the user sees, without a paint forced by
// reading the pane back.
::testing::AssertionResult screenShows(VideoPane& pane, const std::vector<Probe>& probes) {
    QImage image;
    auto matches = [&] {
        const QPoint origin = pane.mapToGlobal(QPoint(0, 0));
        image = pane.screen()
                    ->grabWindow(0, origin.x(), origin.y(), pane.width(), pane.height())
                    .toImage();
        for (const auto& p : probes) {
            if (image.isNull() || !looksLike(image.pixel(p.x, p.y), p.expected))
                return false;
        }
        return true;
    };
    if (waitFor(matches, 20s))
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "the screen shows ";
    for (const auto& p : probes) {
        const QRgb px = image.isNull() ? 0 : image.pixel(p.x, p.y);
        failure << "(" << p.x << "," << p.y << ") " << qRed(px) << "," << qGreen(px) << ","
                << qBlue(px) << " for " << name(p.expected) << "; ";
    }
    return failure;
}

// Keeps the GUI thread busy (no event handled) until `pred` holds, as a loaded machine may.
bool busyUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limit.count())
            return false;
        QThread::msleep(5);
    }
    return true;
}

class PaneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->resize(720, 420);
        pane_ = new VideoPane(window_.get(), VideoPane::kFrontChannel);
        pane_->setGeometry(10, 10, kW, kH);
        QImage background(16, 16, QImage::Format_RGB32);
        background.fill(qRgb(255, 0, 255));
        pane_->setBackground(background);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        player_ = std::make_unique<MediaPlayer>(pane_, headlessOptions());
        pane_->setPlayer(player_.get());
        ASSERT_EQ(player_->InitializeGraph(), S_OK);
    }
    void TearDown() override {
        player_.reset();
        window_.reset();
    }
    void openPaused(const std::string& path) {
        ASSERT_EQ(player_->OpenFile(path), S_OK);
        ASSERT_EQ(player_->Play(), S_OK);
        ASSERT_EQ(player_->Pause(), S_OK);
        ASSERT_TRUE(waitFor([&] { return pane_->framesRendered() > 0; }, 60s))
            << "frames the core gave up waiting for: " << mpvDouble(*player_, "frame-drop-count");
    }

    std::unique_ptr<QWidget> window_;
    VideoPane* pane_ = nullptr;
    std::unique_ptr<MediaPlayer> player_;
};

TEST_F(PaneTest, WholePictureFillsThePaneTheRightWayUp) {
    openPaused(clips().pattern);
    std::int32_t w = 0, h = 0;
    ASSERT_EQ(player_->GetNativeVideoSize(&w, &h), S_OK);
    EXPECT_EQ(w, kW);
    EXPECT_EQ(h, kH);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Red},
                                      {kW - 4, 3, Colour::Green},
                                      {3, kH - 4, Colour::Blue},
                                      {kW - 4, kH - 4, Colour::White},
                                      {kW / 2, kH / 2, Colour::Grey},
                                      {76, 41, Colour::Red},
                                      {84, 49, Colour::Grey}}));
}

// Opening a file probes no hardware back end the machine does not have: nothing of the core's
// probing reaches the user's terminal (it used to print "Cannot load libcuda.so.1" every time).
TEST_F(PaneTest, OpeningAFileLeavesTheTerminalQuiet) {
    std::fflush(stderr);
    const std::string captured =
        (std::filesystem::temp_directory_path() / ("orvik-stderr-" + std::to_string(::getpid())))
            .string();
    const int saved = ::dup(2);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, 2);
    ::close(file);
    // Opening is where the render context loads its hardware interops.
    EXPECT_EQ(player_->OpenFile(clips().pattern), S_OK);
    EXPECT_EQ(player_->OpenFile(clips().pattern), S_OK);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::ifstream in(captured);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(captured);
    EXPECT_EQ(said, "") << "the core's probing reached the terminal";
}

TEST(HardwareDecoding, VaapiWhereARenderNodeIsElseVdpauWithItsDriverElseSoftware) {
    orvik::test::TempDir dri, vdpau;
    const std::string none = dri.str() + "/missing";
    HardwareDecoding hw = chooseHardwareDecoding(dri.str(), {none, vdpau.str()});
    EXPECT_EQ(hw.decoders, "no");
    EXPECT_EQ(hw.interop, "no");
    // The library's tracing layer is no driver: probing without one prints to the terminal.
    vdpau.touch("libvdpau_trace.so.1");
    EXPECT_EQ(chooseHardwareDecoding(dri.str(), {vdpau.str()}).decoders, "no");
    vdpau.touch("libvdpau_va_gl.so.1");
    hw = chooseHardwareDecoding(dri.str(), {none, vdpau.str()});
    EXPECT_EQ(hw.decoders, "vdpau-copy");
    EXPECT_EQ(hw.interop, "no");
    dri.touch("card0");
    EXPECT_EQ(chooseHardwareDecoding(dri.str(), {}).decoders, "no")
        << "a card node is no render node";
    dri.touch("renderD128");
    hw = chooseHardwareDecoding(dri.str(), {vdpau.str()});
    EXPECT_EQ(hw.decoders, "vaapi");
    EXPECT_EQ(hw.interop, "vaapi");
}

TEST_F(PaneTest, MirroredPictureSwapsLeftAndRightAndStaysForTheNextPlayer) {
    pane_->setMirrored(true);
    openPaused(clips().pattern);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Green},
                                      {kW - 4, 3, Colour::Red},
                                      {3, kH - 4, Colour::White},
                                      {kW - 4, kH - 4, Colour::Blue}}));
    // A zoomed source rectangle is taken from the mirrored picture: its top-left quarter now
    // holds the green block.
    const VideoRect quarter{0, 0, kW / 2, kH / 2};
    ASSERT_EQ(player_->UpdateVideoWindow(&quarter, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{2, 2, Colour::Green}, {kW - 3, kH - 3, Colour::Grey}}));

    // Back to normal while playing.
    pane_->setMirrored(false);
    const VideoRect whole{0, 0, kW, kH};
    ASSERT_EQ(player_->UpdateVideoWindow(&whole, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Red}, {kW - 4, 3, Colour::Green}}));

    // A new player on the mirrored pane shows its picture mirrored from the first frame.
    pane_->setMirrored(true);
    player_.reset();
    player_ = std::make_unique<MediaPlayer>(pane_, headlessOptions());
    pane_->setPlayer(player_.get());
    ASSERT_EQ(player_->InitializeGraph(), S_OK);
    openPaused(clips().pattern);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Green}, {kW - 4, 3, Colour::Red}}));
}

TEST_F(PaneTest, SourceRectangleIsShownExactly) {
    openPaused(clips().pattern);
    // Top-left quarter: the red block fills the pane's top-left quarter.
    const VideoRect quarter{0, 0, kW / 2, kH / 2};
    ASSERT_EQ(player_->UpdateVideoWindow(&quarter, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{2, 2, Colour::Red},
                                      {kW / 2 - 6, kH / 2 - 6, Colour::Red},
                                      {kW / 2 + 6, kH / 2 + 6, Colour::Grey},
                                      {kW - 3, 2, Colour::Grey},
                                      {2, kH - 3, Colour::Grey},
                                      {kW - 3, kH - 3, Colour::Grey}}));

    // Shifted crop: native x 40..200, y 22..112; red ends at native (80, 45), i.e. a quarter of
    // the pane in, green and the others stay outside.
    const VideoRect shifted{40, 22, 200, 112};
    ASSERT_EQ(player_->UpdateVideoWindow(&shifted, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{2, 2, Colour::Red},
                                      {kW / 4 - 5, kH / 4 - 5, Colour::Red},
                                      {kW / 4 + 5, kH / 4 + 5, Colour::Grey},
                                      {kW - 3, 2, Colour::Grey},
                                      {kW / 2, kH / 2, Colour::Grey},
                                      {kW - 3, kH - 3, Colour::Grey}}));

    // Bottom-right corner crop: white at the pane's bottom-right.
    const VideoRect corner{kW / 2, kH / 2, kW, kH};
    ASSERT_EQ(player_->UpdateVideoWindow(&corner, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{kW - 3, kH - 3, Colour::White},
                                      {kW / 2 + 6, kH / 2 + 6, Colour::White},
                                      {kW / 2 - 6, kH / 2 - 6, Colour::Grey},
                                      {2, 2, Colour::Grey}}));

    // And back to the whole picture.
    ASSERT_EQ(player_->UpdateVideoWindow(nullptr, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Red}, {kW - 4, kH - 4, Colour::White}}));
}

TEST_F(PaneTest, SourceOfAnotherShapeIsLetterboxedWithNothingElseVisible) {
    openPaused(clips().pattern);
    // 80x90 of native picture (half as wide as the pane's shape): shown 160x180 in the middle.
    const VideoRect tall{0, 0, 80, 90};
    ASSERT_EQ(player_->UpdateVideoWindow(&tall, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{40, 90, Colour::Black},
                                      {kW - 40, 90, Colour::Black},
                                      {85, 20, Colour::Red},
                                      {kW - 85, 60, Colour::Red},
                                      {kW / 2, 140, Colour::Grey}}));
}

TEST_F(PaneTest, ZoomFollowsThePaneWhenItIsResized) {
    openPaused(clips().pattern);
    const VideoRect quarter{0, 0, kW / 2, kH / 2};
    ASSERT_EQ(player_->UpdateVideoWindow(&quarter, nullptr), S_OK);
    pane_->resize(kW * 2, kH * 2);
    EXPECT_TRUE(showsColours(*pane_, {{2, 2, Colour::Red},
                                      {kW - 8, kH - 8, Colour::Red},
                                      {kW + 8, kH + 8, Colour::Grey},
                                      {2 * kW - 3, 2 * kH - 3, Colour::Grey}}));
}

TEST_F(PaneTest, BackgroundWhileStoppedPictureOtherwise) {
    // Nothing open: the skin's background.
    EXPECT_TRUE(showsColours(*pane_, {{5, 5, Colour::Magenta}, {kW / 2, kH / 2, Colour::Magenta}}));
    ASSERT_EQ(player_->OpenFile(clips().pattern), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{5, 5, Colour::Magenta}}));
    ASSERT_EQ(player_->Play(), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Red}, {kW / 2, kH / 2, Colour::Grey}}));
    ASSERT_EQ(player_->Stop(), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{5, 5, Colour::Magenta}}));
    // A seek while stopped shows the frame there.
    ASSERT_EQ(player_->SetPosition(MediaTime::fromSeconds(1)), S_OK);
    EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Red}}));
    EXPECT_EQ(player_->GetState(), PlaybackState::Stopped);
    // A file that fails to open leaves the background.
    EXPECT_EQ(player_->OpenFile(clips().dir + "/missing.mp4"), E_FILE_NOT_FOUND);
    EXPECT_TRUE(showsColours(*pane_, {{5, 5, Colour::Magenta}}));
    // Torn down: background again, and the pane has no core left.
    ASSERT_EQ(player_->OpenFile(clips().pattern), S_OK);
    ASSERT_EQ(player_->Play(), S_OK);
    ASSERT_EQ(player_->TearDownGraph(), S_OK);
    EXPECT_FALSE(pane_->hasCore());
    EXPECT_TRUE(showsColours(*pane_, {{5, 5, Colour::Magenta}}));
}

TEST_F(PaneTest, PlayersCanBeReplacedOnTheSamePane) {
    // The main window recreates both players for every recording it opens.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        player_ = std::make_unique<MediaPlayer>(pane_, headlessOptions());
        pane_->setPlayer(player_.get());
        ASSERT_EQ(player_->InitializeGraph(), S_OK);
        openPaused(clips().pattern);
        EXPECT_TRUE(showsColours(*pane_, {{3, 3, Colour::Red}}));
    }
    player_.reset();
    EXPECT_EQ(pane_->player(), nullptr);
    EXPECT_FALSE(pane_->hasCore());
}

// A standby core decodes its first picture while the pane shows another core, which the pane
// acknowledges without drawing. When the pane turns to it, that picture is drawn as a new frame:
// it is the first of the next recording on the screen.
TEST_F(PaneTest, AStandbyCoresPictureIsANewFrameOnceThePaneTurnsToIt) {
    openPaused(clips().pattern);
    MediaPlayer standby(pane_, headlessOptions());
    ASSERT_EQ(standby.InitializeGraph(), S_OK);
    ASSERT_EQ(standby.OpenFileInBackground(clips().rear, 1), S_OK);
    ASSERT_TRUE(waitFor([&] { return standby.readyInBackground(); }, 60s));
    EXPECT_EQ(pane_->player(), player_.get());
    const std::uint64_t before = pane_->framesRendered();
    pane_->setPlayer(&standby);
    EXPECT_TRUE(waitFor([&] { return pane_->framesRendered() == before + 1; }, 20s))
        << pane_->framesRendered() - before << " new frames";
}

TEST_F(PaneTest, PaneDestroyedBeforeItsPlayer) {
    openPaused(clips().pattern);
    delete pane_;
    pane_ = nullptr;
    // The player goes on without a picture and tears down cleanly.
    EXPECT_EQ(player_->Play(), S_OK);
    EXPECT_EQ(player_->UpdateVideoWindow(nullptr, nullptr), S_OK);
    EXPECT_EQ(player_->Repaint(), S_OK);
    EXPECT_EQ(player_->TearDownGraph(), S_OK);
}

// The core waits only 0.2 s for the pane to take a new frame, then keeps it as its current
// picture. A paused picture the GUI thread was too busy to take (a loaded machine, the first
// shaders being built) is drawn and counted all the same once the core has come to rest on it.
TEST_F(PaneTest, APausedPictureTheBusyGuiThreadMissedIsStillDrawn) {
    ASSERT_EQ(player_->OpenFile(clips().pattern), S_OK);
    ASSERT_EQ(player_->Play(), S_OK);
    ASSERT_EQ(player_->Pause(), S_OK);
    // Busy until the core has given frames up (it waits 0.2 s for each) and then rested for a
    // second: it gives up its first frame and every redraw asked for meanwhile.
    double drops = 0;
    QElapsedTimer unchanged;
    unchanged.start();
    ASSERT_TRUE(busyUntil(
        [&] {
            const double now = mpvDouble(*player_, "frame-drop-count");
            if (now != drops) {
                drops = now;
                unchanged.restart();
            }
            return drops >= 1 && unchanged.elapsed() > 1000;
        },
        30s))
        << "the core kept waiting for the busy GUI thread";
    EXPECT_TRUE(waitFor([&] { return pane_->framesRendered() > 0; }, 20s));
    EXPECT_TRUE(screenShows(*pane_, {{3, 3, Colour::Red}, {kW - 4, kH - 4, Colour::White}}));
}

TEST_F(PaneTest, HiddenPaneDoesNotHoldUpPlayback) {
    // In full screen the other pane is hidden while its player runs on.
    openPaused(clips().tenSeconds);
    pane_->hide();
    MediaTime start;
    ASSERT_EQ(player_->GetCurrentPosition(&start), S_OK);
    ASSERT_EQ(player_->Play(), S_OK);
    pumpEvents(1500ms);
    MediaTime now;
    ASSERT_EQ(player_->GetCurrentPosition(&now), S_OK);
    EXPECT_GT(now - start, MediaTime::fromSeconds(1));
    // Frames are taken as they come instead of each waiting for a draw that never happens.
    EXPECT_LT(mpvDouble(*player_, "frame-drop-count"), 10);
    pane_->show();
    const auto before = pane_->framesRendered();
    EXPECT_TRUE(waitFor([&] { return pane_->framesRendered() > before + 5; }, 20s));
}

TEST(PanePair, TwoPanesShowTheirOwnPictures) {
    QWidget window;
    window.resize(720, 420);
    auto* front = new VideoPane(&window, VideoPane::kFrontChannel);
    auto* rear = new VideoPane(&window, VideoPane::kRearChannel);
    front->setGeometry(10, 10, kW, kH);
    rear->setGeometry(360, 10, kW / 2, kH / 2);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    MediaPlayer frontPlayer(front, headlessOptions());
    MediaPlayer rearPlayer(rear, headlessOptions());
    ASSERT_EQ(frontPlayer.InitializeGraph(), S_OK);
    ASSERT_EQ(rearPlayer.InitializeGraph(), S_OK);
    ASSERT_EQ(frontPlayer.OpenFile(clips().pattern), S_OK);
    ASSERT_EQ(rearPlayer.OpenFile(clips().rear), S_OK);
    ASSERT_EQ(frontPlayer.Play(), S_OK);
    ASSERT_EQ(rearPlayer.Play(), S_OK);
    ASSERT_TRUE(
        waitFor([&] { return front->framesRendered() > 10 && rear->framesRendered() > 10; }, 20s));
    EXPECT_TRUE(showsColours(*front, {{3, 3, Colour::Red}, {kW - 4, kH - 4, Colour::White}}));
    // The rear clip has no corner blocks: its top-left is not the front's red.
    const QRgb rearCorner = rear->grabFramebuffer().pixel(3, 3);
    EXPECT_FALSE(looksLike(rearCorner, Colour::Red));
    // Zooming one leaves the other alone.
    const VideoRect quarter{0, 0, kW / 2, kH / 2};
    ASSERT_EQ(rearPlayer.UpdateVideoWindow(&quarter, nullptr), S_OK);
    EXPECT_TRUE(showsColours(*front, {{kW - 4, kH - 4, Colour::White}}));
    if (const char* dir = std::getenv("ORVIK_SCREENSHOT_DIR")) {
        pumpEvents(200ms);
        window.grab().save(QString::fromUtf8(dir) + "/playback_two_panes.png");
    }
}

TEST(PanePair, APairStartsFromBothFirstFrames) {
    QWidget window;
    window.resize(1020, 645);
    auto* front = new VideoPane(&window, VideoPane::kFrontChannel);
    auto* rear = new VideoPane(&window, VideoPane::kRearChannel);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Named as the camera names a pair: the files differ in the channel letter only.
    const std::filesystem::path folder = std::filesystem::path(clips().dir) / "pair";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(clips().tenSeconds, folder / "alwa_20240302_120000_F.mp4",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(clips().rear, folder / "alwa_20240302_120000_R.mp4",
                               std::filesystem::copy_options::overwrite_existing);
    PlaybackController controller(front, rear, &window, headlessOptions());
    ASSERT_EQ(
        controller.open(QString::fromStdString((folder / "alwa_20240302_120000_F.mp4").string())),
        S_OK);
    ASSERT_EQ(controller.channelMode(), ChannelMode::Both);
    // Neither core was started before both had a picture to start from, or the later one would
    // play behind the other from the first frame on.
    EXPECT_TRUE(front->player()->firstFrameReady());
    EXPECT_TRUE(rear->player()->firstFrameReady());
    EXPECT_EQ(front->player()->GetState(), PlaybackState::Running);
    EXPECT_EQ(rear->player()->GetState(), PlaybackState::Running);
}

// ---- messages to the main window -------------------------------------------------------------

TEST(PaneMessages, DragPostsPanAndDoubleClickSendsTheChannel) {
    QWidget window;
    window.resize(400, 300);
    auto* pane = new VideoPane(&window, VideoPane::kRearChannel);
    pane->setGeometry(10, 10, 200, 150);
    MessageRecorder mainWindow;
    pane->setMessageWindow(&mainWindow);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseMove(pane, QPoint(57, 45));
    QTest::mouseMove(pane, QPoint(60, 45));
    QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(60, 45));
    QTest::mouseMove(pane, QPoint(90, 90));  // not dragging any more
    pumpEvents(50ms);
    ASSERT_EQ(mainWindow.count(WM_PANE_PAN), 2);
    EXPECT_EQ(mainWindow.received[0].wParam, 7);
    EXPECT_EQ(mainWindow.received[0].lParam, -5);
    EXPECT_EQ(mainWindow.received[1].wParam, 3);
    EXPECT_EQ(mainWindow.received[1].lParam, 0);

    mainWindow.received.clear();
    QTest::mouseDClick(pane, Qt::LeftButton, {}, QPoint(20, 20));
    // Sent: handled before the click returns.
    ASSERT_EQ(mainWindow.count(WM_PANE_DBLCLK), 1);
    const auto& dbl = *std::find_if(mainWindow.received.begin(), mainWindow.received.end(),
                                    [](const auto& r) { return r.message == WM_PANE_DBLCLK; });
    EXPECT_EQ(dbl.lParam, VideoPane::kRearChannel);
    EXPECT_EQ(dbl.wParam, 0);
}

TEST(PaneMessages, DefaultReceiverIsTheTopLevelWindow) {
    auto window = std::make_unique<QWidget>();
    auto* pane = new VideoPane(window.get());
    EXPECT_EQ(pane->messageWindow(), window.get());
    VideoPane alone;
    EXPECT_EQ(alone.messageWindow(), nullptr);
}

}  // namespace
}  // namespace orvik::playback::test
