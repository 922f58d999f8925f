// A user's journeys through the real main window: real players, the real map page, a generated
// card. The tests act only through input events on the widgets a user sees (clicks, double
// clicks, keys, wheel turns, drags) and check what a user would see: where the panes and controls
// are, the label texts, the picture moving on, the next recording opening. They run on whatever
// screen the X server offers (ctest runs them on 1920 x 1080, 1280 x 800 and 1600 x 900, and some
// under the openbox window manager). Every journey leaves a screenshot (see
// support/gui_journey.h).
#include "support/gui_journey.h"

#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <mpv/client.h>

namespace orvik::shell {
namespace {

using namespace testing;
using playback::MediaPlayer;
using playback::PlaybackState;

const QRect kLargePane{15, 56, 646, 363};
const QRect kSmallPane{678, 384, 326, 246};

struct Place {
    int id;
    QRect normal;
    int dx;  // full screen: x = monitor width / 2 + dx
    int dy;  // full screen: y = monitor height - dy
};
// The transport strip in both layouts.
const Place kStrip[] = {
    {kFullScreen, {519, 594, 39, 33}, 181, 51},   {kRewind, {61, 603, 23, 26}, -277, 42},
    {kPlay, {84, 603, 23, 26}, -254, 42},         {kPause, {84, 603, 23, 26}, -254, 42},
    {kFastForward, {107, 603, 23, 26}, -231, 42}, {kSpeedUp, {186, 605, 16, 20}, -152, 40},
    {kSpeedDown, {141, 605, 16, 20}, -197, 40},   {kZoomOut, {224, 605, 16, 20}, -114, 40},
    {kZoomIn, {275, 605, 16, 20}, -63, 40},       {kSwap, {481, 594, 39, 33}, 143, 51},
    {kRateLabel, {157, 606, 29, 18}, -181, 39},   {kZoomLabel, {242, 606, 30, 18}, -96, 39},
    {kSeekBar, {42, 570, 595, 13}, -296, 75},     {kVolume, {594, 598, 59, 13}, 256, 47},
};
// The caption buttons keep their distance from the right edge.
struct Caption {
    int id;
    int fromRight;
    QSize size;
};
const Caption kCaption[] = {
    {kMinimize, 114, {31, 33}}, {kMaximize, 84, {32, 33}}, {kClose, 51, {35, 33}}};

// Pairs of six seconds, the rear camera at half size.
tools::SampleCardOptions journeyCard() {
    tools::SampleCardOptions options;
    options.width = 960;
    options.height = 540;
    options.durationSeconds = 6.0;
    options.alwaysPairs = 3;
    options.deviceFiles = false;
    return options;
}

class UserJourney : public WindowJourney {
  protected:
    void SetUp() override {
        startWindow(generatedCard(journeyCard()));
        ASSERT_GT(window_->rowCount(), 5);
    }

    // ---- what the user does ----
    // A wheel turn over `over`, delivered as the window system delivers it: to the window, which
    // hands it to the widget under the pointer and on to its parents.
    void wheel(QWidget* over, int delta) {
        const QPoint global = over->mapToGlobal(over->rect().center());
        const QPointF local = window_->mapFromGlobal(global);
        QWheelEvent e(local, global, QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        // sendEvent() would clear the spontaneous mark that makes a wheel turn propagate.
        QSpontaneKeyEvent::setSpontaneous(&e);
        qApp->notify(window_->windowHandle(), &e);
    }
    void drag(QWidget* w, QPoint from, QPoint to, bool release = true) {
        QTest::mousePress(w, Qt::LeftButton, {}, from);
        const int steps = 4;
        for (int i = 1; i <= steps; ++i) {
            QTest::mouseMove(w, from + (to - from) * i / steps);
        }
        if (release) {
            QTest::mouseRelease(w, Qt::LeftButton, {}, to);
        }
    }

    // ---- what the user sees ----
    std::int64_t seekPosition() const { return seekBar()->position(); }

    // Plays the first pair as a user starts it and waits for both pictures to move.
    void playFirstPair() {
        const int row = firstPairRow();
        ASSERT_GE(row, 0);
        doubleClickRow(row);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
        const auto frontDrawn = front()->framesRendered();
        const auto rearDrawn = rear()->framesRendered();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return front()->framesRendered() > frontDrawn + 2 &&
                       rear()->framesRendered() > rearDrawn + 2;
            },
            20000));
    }
    void waitForPosition(std::int64_t atLeast) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return seekPosition() >= atLeast; }, 20000))
            << "seek bar at " << seekPosition();
    }
    double mpvSpeed(const MediaPlayer* p) const {
        double speed = 0;
        mpv_get_property(p->mpvHandle(), "speed", MPV_FORMAT_DOUBLE, &speed);
        return speed;
    }

    void expectNormalLayout() {
        EXPECT_EQ(window_->size(), QSize(1020, 645));
        for (const auto& p : kStrip) {
            EXPECT_EQ(window_->control(p.id)->geometry(), p.normal) << "control " << p.id;
        }
        for (const auto& c : kCaption) {
            EXPECT_EQ(window_->control(c.id)->geometry(),
                      QRect(QPoint(1020 - c.fromRight, 5), c.size))
                << "caption " << c.id;
        }
    }
    void expectFullScreenLayout() {
        const QRect m = monitor();
        EXPECT_EQ(window_->geometry(), m);
        const int c = m.width() / 2;
        const int b = m.height();
        for (const auto& p : kStrip) {
            EXPECT_EQ(window_->control(p.id)->geometry(),
                      QRect(c + p.dx, b - p.dy, p.normal.width(), p.normal.height()))
                << "control " << p.id;
        }
        for (const auto& cap : kCaption) {
            EXPECT_EQ(window_->control(cap.id)->geometry(),
                      QRect(QPoint(m.width() - cap.fromRight, 5), cap.size))
                << "caption " << cap.id;
            EXPECT_TRUE(shows(cap.id));
        }
        for (int hidden : {kList, kRecordTab, kInformationTab, kMap, kSpeedReadout}) {
            EXPECT_FALSE(shows(hidden)) << "control " << hidden;
        }
        EXPECT_TRUE(shows(kSeekBar));
        EXPECT_TRUE(shows(kVolume));
    }
    QRect fullScreenPane() const {
        return QRect(2, 54, monitor().width() - 2, monitor().height() - 144);
    }
};

TEST_F(UserJourney, PlaysAPairSideBySideAndMovesOn) {
    const int row = firstPairRow();
    playFirstPair();
    // The pair is playing: the front picture large, its rear partner small, the list past both.
    EXPECT_EQ(front()->geometry(), kLargePane);
    EXPECT_EQ(rear()->geometry(), kSmallPane);
    EXPECT_TRUE(front()->isVisible());
    EXPECT_TRUE(rear()->isVisible());
    EXPECT_EQ(window_->currentRow(), row + 1);
    EXPECT_TRUE(shows(kPause));
    EXPECT_FALSE(shows(kPlay));
    EXPECT_EQ(text(kRateLabel), "1x");
    EXPECT_EQ(text(kZoomLabel), "0.67x");  // 646 pane pixels for 960 picture pixels
    expectNormalLayout();

    // The seek bar moves with the picture.
    const std::int64_t start = seekPosition();
    waitForPosition(start + kSecond);

    // At the end of the pair the next pair opens and plays.
    click(kFastForward);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->currentRow() == row + 3; }, 20000))
        << "current row " << window_->currentRow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
    EXPECT_LT(seekPosition(), 3 * kSecond);
}

TEST_F(UserJourney, PageKeysMoveThroughTheList) {
    const int row = firstPairRow();
    playFirstPair();
    key(Qt::Key_PageDown);  // the pair after this one
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
    EXPECT_EQ(window_->currentRow(), row + 3);
    key(Qt::Key_PageUp);  // the row above: the front row of that pair, which plays again
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
    EXPECT_EQ(window_->currentRow(), row + 2);
    EXPECT_EQ(window_->rowChannel(row + 2), 'F');
    key(Qt::Key_PageUp);  // the rear row of the first pair: the first pair plays
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
    EXPECT_EQ(window_->currentRow(), row + 1);
}

TEST_F(UserJourney, TransportStripKeysAndSliders) {
    playFirstPair();
    waitForPosition(kSecond);

    // Space pauses and plays, and the strip shows the button that fits.
    key(Qt::Key_Space);
    ASSERT_EQ(frontPlayer()->GetState(), PlaybackState::Paused);
    EXPECT_EQ(rearPlayer()->GetState(), PlaybackState::Paused);
    EXPECT_TRUE(shows(kPlay));
    EXPECT_FALSE(shows(kPause));

    // Arrows step three seconds from the picture shown, and the seek bar follows.
    const std::int64_t shown = positionOf(frontPlayer());
    key(Qt::Key_Right);
    const std::int64_t stepped = seekPosition();
    EXPECT_LE(std::llabs(stepped - (shown + 3 * kSecond)), kSecond / 100);
    key(Qt::Key_Left);
    EXPECT_LE(std::llabs(seekPosition() - shown), kSecond / 100);
    key(Qt::Key_Left);  // below zero: back to the start
    key(Qt::Key_Left);
    EXPECT_EQ(seekPosition(), 0);

    click(kPlay);
    EXPECT_TRUE(bothRunning());
    EXPECT_TRUE(shows(kPause));

    // Double speed and back.
    click(kSpeedUp);
    EXPECT_EQ(text(kRateLabel), "2x");
    EXPECT_NEAR(mpvSpeed(frontPlayer()), 2.0, 0.2);
    EXPECT_NEAR(mpvSpeed(rearPlayer()), 2.0, 0.2);
    click(kSpeedDown);
    EXPECT_EQ(text(kRateLabel), "1x");
    EXPECT_NEAR(mpvSpeed(frontPlayer()), 1.0, 0.1);

    // The seek bar: dragged, it stays where the user holds it; released, the picture goes there.
    SkinSlider* bar = slider(kSeekBar);
    const int y = bar->height() / 2;
    drag(bar, QPoint(10, y), QPoint(bar->width() * 3 / 4, y), false);
    const std::int64_t held = bar->position();
    const std::int64_t pressedAt = positionOf(frontPlayer());
    std::int64_t frontNow = 0;
    // Several ticks pass while the thumb is held.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            frontNow = positionOf(frontPlayer());
            return frontNow > pressedAt + kSecond / 2;
        },
        10000));
    EXPECT_EQ(bar->position(), held) << "a tick moved the thumb out of the user's hand";
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() * 3 / 4, y));
    const std::int64_t target = bar->position();
    EXPECT_GT(target, bar->maximum() / 2);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            frontNow = positionOf(frontPlayer());
            return frontNow >= target - kSecond / 4;
        },
        10000))
        << "front at " << frontNow << ", released at " << target;
    EXPECT_LT(frontNow, target + 2 * kSecond);

    // The volume slider: left end silent, right end full.
    SkinSlider* volume = slider(kVolume);
    QTest::mouseClick(volume, Qt::LeftButton, {}, QPoint(0, volume->height() / 2));
    EXPECT_EQ(volume->position(), 0);
    EXPECT_EQ(frontPlayer()->volume(), -10000);
    QTest::mouseClick(volume, Qt::LeftButton, {},
                      QPoint(volume->width() - 1, volume->height() / 2));
    EXPECT_EQ(volume->position(), 99);
    EXPECT_EQ(frontPlayer()->volume(), 0);
    EXPECT_TRUE(rearPlayer()->muted());
}

TEST_F(UserJourney, SwapZoomAndPan) {
    playFirstPair();
    key(Qt::Key_Space);  // a still picture, so what moves is the zoom and the pan
    ASSERT_EQ(frontPlayer()->GetState(), PlaybackState::Paused);

    // Swap: the rear picture large, the front one small; the zoom label follows the large one.
    click(kSwap);
    EXPECT_EQ(rear()->geometry(), kLargePane);
    EXPECT_EQ(front()->geometry(), kSmallPane);
    EXPECT_EQ(text(kZoomLabel), "1.35x");  // 646 pane pixels for the 480-pixel rear picture
    click(kSwap);
    EXPECT_EQ(front()->geometry(), kLargePane);
    EXPECT_EQ(rear()->geometry(), kSmallPane);
    EXPECT_EQ(text(kZoomLabel), "0.67x");

    // Zoom buttons and the wheel, never below the fit.
    click(kZoomOut);
    EXPECT_EQ(text(kZoomLabel), "0.67x");
    const QImage fit = front()->grabFramebuffer();
    click(kZoomIn);
    EXPECT_EQ(text(kZoomLabel), "0.72x");
    wheel(front(), 120);
    wheel(front(), 120);
    EXPECT_EQ(text(kZoomLabel), "0.82x");
    wheel(front(), -120);
    EXPECT_EQ(text(kZoomLabel), "0.77x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return front()->grabFramebuffer() != fit; }, 5000))
        << "the zoomed picture looks like the whole one";

    // Dragging the zoomed picture shows another part of it.
    const QImage zoomed = front()->grabFramebuffer();
    drag(front(), QPoint(300, 150), QPoint(200, 100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return front()->grabFramebuffer() != zoomed; }, 5000))
        << "the drag did not move the picture";
}

TEST_F(UserJourney, FullScreenCoversTheMonitorAndComesBack) {
    playFirstPair();
    const QRect before = window_->geometry();

    // Enter: the front picture over the monitor, every control at its full-screen place.
    key(Qt::Key_Return);
    expectFullScreenLayout();
    EXPECT_EQ(front()->geometry(), fullScreenPane());
    EXPECT_TRUE(front()->isVisible());
    EXPECT_FALSE(rear()->isVisible());
    EXPECT_EQ(front()->size(), fullScreenPane().size());

    // The window does not move when its background is dragged.
    drag(window_.get(), QPoint(monitor().width() / 2, 20), QPoint(monitor().width() / 2 + 60, 80));
    EXPECT_EQ(window_->geometry(), monitor());

    // Space keeps the strip's Play/Pause button right here too.
    key(Qt::Key_Space);
    EXPECT_EQ(frontPlayer()->GetState(), PlaybackState::Paused);
    EXPECT_TRUE(shows(kPlay));
    EXPECT_FALSE(shows(kPause));
    key(Qt::Key_Space);
    EXPECT_TRUE(running(frontPlayer()));
    EXPECT_TRUE(shows(kPause));

    // Zoom acts on the picture shown; it never goes below the fit.
    const QString fit = text(kZoomLabel);
    click(kZoomOut);
    EXPECT_EQ(text(kZoomLabel), fit);
    click(kZoomIn);
    const double fitScale = fit.chopped(1).toDouble();
    if (fitScale < 1.95) {
        EXPECT_EQ(text(kZoomLabel), QString::asprintf("%1.2fx", fitScale + 0.05));
    } else {
        EXPECT_EQ(text(kZoomLabel), fit);
    }
    click(kZoomOut);
    EXPECT_EQ(text(kZoomLabel), fit);

    // Swap shows the rear picture in the same place, and back.
    click(kSwap);
    EXPECT_FALSE(front()->isVisible());
    EXPECT_TRUE(rear()->isVisible());
    EXPECT_EQ(rear()->geometry(), fullScreenPane());
    EXPECT_TRUE(running(rearPlayer()));
    click(kSwap);
    EXPECT_TRUE(front()->isVisible());
    EXPECT_FALSE(rear()->isVisible());
    EXPECT_EQ(text(kZoomLabel), fit);
    shot("FullScreen");

    // Leave with the strip's button: everything is back where it was.
    click(kFullScreen);
    EXPECT_EQ(window_->geometry(), before);
    expectNormalLayout();
    EXPECT_EQ(front()->geometry(), kLargePane);
    EXPECT_EQ(rear()->geometry(), kSmallPane);
    EXPECT_TRUE(rear()->isVisible());
    EXPECT_TRUE(shows(kList));
    EXPECT_TRUE(shows(kRecordTab));
    EXPECT_TRUE(shows(kInformationTab));
    EXPECT_TRUE(shows(kGraph));
    EXPECT_EQ(text(kZoomLabel), "0.67x");
    shot("Normal");
}

TEST_F(UserJourney, DoubleClicksToggleFullScreen) {
    playFirstPair();
    const QRect before = window_->geometry();
    // On the rear pane of a pair: the rear picture fills the monitor.
    QTest::mouseDClick(rear(), Qt::LeftButton, {}, rear()->rect().center());
    EXPECT_EQ(window_->geometry(), monitor());
    EXPECT_TRUE(rear()->isVisible());
    EXPECT_FALSE(front()->isVisible());
    EXPECT_EQ(rear()->geometry(), fullScreenPane());
    QTest::mouseDClick(rear(), Qt::LeftButton, {}, rear()->rect().center());
    EXPECT_EQ(window_->geometry(), before);
    EXPECT_EQ(rear()->geometry(), kSmallPane);

    // On the window's own background: full screen without enlarging a pane.
    QTest::mouseDClick(window_.get(), Qt::LeftButton, {}, QPoint(560, 30));
    EXPECT_EQ(window_->geometry(), monitor());
    expectFullScreenLayout();
    EXPECT_EQ(front()->geometry(), kLargePane);
    EXPECT_TRUE(rear()->isVisible());
    QTest::mouseDClick(window_.get(), Qt::LeftButton, {}, QPoint(monitor().width() / 2, 30));
    EXPECT_EQ(window_->geometry(), before);
    expectNormalLayout();
}

// Dragging the caption area with the X server's own pointer, as a user does: the window follows
// the pointer, with or without a window manager.
TEST_F(UserJourney, DraggingTheCaptionWithThePointerMovesTheWindow) {
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    ASSERT_FALSE(xdotool.isEmpty()) << "xdotool is needed (scripts/install-deps.sh)";
    // Each step runs beside the event loop: the window and a window manager see the pointer
    // move while it moves.
    const auto pointer = [&](const QStringList& args) {
        QProcess p;
        p.start(xdotool, args);
        ASSERT_TRUE(p.waitForStarted(5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 5000));
        ASSERT_EQ(p.exitCode(), 0) << args.join(' ').toStdString();
    };
    const auto at = [](QPoint g) {
        return QStringList{"mousemove", QString::number(g.x()), QString::number(g.y())};
    };
    const QPoint start = window_->frameGeometry().topLeft();
    const QPoint grab = window_->mapToGlobal(QPoint(560, 30));  // the caption's plain background
    pointer(at(grab));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == grab; }, 5000));
    pointer({"mousedown", "1"});
    ASSERT_TRUE(
        QTest::qWaitFor([] { return QGuiApplication::mouseButtons() & Qt::LeftButton; }, 5000));
    // Past the drag distance, then on in small steps as a hand moves.
    for (int step = 1; step <= 8; ++step)
        pointer(at(grab + QPoint(10 * step, 6 * step)));
    const QPoint moved(80, 48);
    const int slack = QApplication::startDragDistance();
    const auto followed = [&] {
        const QPoint d = window_->frameGeometry().topLeft() - start;
        return std::abs(d.x() - moved.x()) <= slack && std::abs(d.y() - moved.y()) <= slack;
    };
    EXPECT_TRUE(QTest::qWaitFor(followed, 5000))
        << "the window is at " << window_->frameGeometry().x() << ","
        << window_->frameGeometry().y() << ", it was at " << start.x() << "," << start.y();
    pointer({"mouseup", "1"});
    // It stays where the pointer left it.
    EXPECT_TRUE(QTest::qWaitFor(followed, 5000));
    EXPECT_EQ(window_->size(), QSize(1020, 645));
}

// The way a new user meets full screen: `orvik --demo` plays the first pair, the Enter key comes
// from the X server to whichever widget holds the focus (no window manager helps), and what
// counts is what the screen shows, not the window's own idea of its layout.
TEST_F(UserJourney, DemoStartThenEnterFromTheKeyboardCoversTheScreen) {
    window_->demoCardListed();
    const int row = firstPairRow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
    // The pair the demo opened is the highlighted row; its rear row is the current one.
    const auto* list = static_cast<QTableView*>(window_->recordingList());
    EXPECT_TRUE(list->selectionModel()->isRowSelected(row, {}));
    EXPECT_EQ(window_->currentRow(), row + 1);
    const QRect before = window_->geometry();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return screenShowsControls(before.topLeft(), {kRecordTab, kFullScreen, kClose});
        },
        10000))
        << "the window is not on the screen where it says it is";

    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    xKey("Return");
    const QPoint corner = monitor().topLeft();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return screenShowsControls(
                corner, {kClose, kMinimize, kPause, kSeekBar, kFullScreen, kVolume, kZoomLabel});
        },
        30000))
        << "the screen does not show the full-screen strip and caption buttons";
    expectFullScreenLayout();
    EXPECT_EQ(window_->windowHandle()->geometry(), monitor());
    EXPECT_EQ(front()->geometry(), fullScreenPane());
    screenShot("DemoFullScreen");

    xKey("Return");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return screenShowsControls(before.topLeft(),
                                       {kRecordTab, kInformationTab, kFullScreen, kClose, kList});
        },
        10000))
        << "the screen does not show the window back in its place";
    EXPECT_EQ(window_->geometry(), before);
    expectNormalLayout();
    screenShot("DemoNormal");
}

TEST_F(UserJourney, ARecordingInAVeryDeepFolderPlays) {
    // A path longer than 260 characters, which Linux allows, opens whole.
    QTemporaryDir deep;
    QString folder = deep.path();
    while (folder.size() < 300) {
        folder += QStringLiteral("/a-folder-with-a-rather-long-name-for-testing");
    }
    ASSERT_TRUE(QDir().mkpath(folder));
    const int row = firstPairRow();
    for (int r : {row, row + 1}) {
        ASSERT_TRUE(QFile::copy(window_->rowFullPath(r), folder + "/" + window_->rowFileName(r)));
    }
    ASSERT_TRUE(window_->listFolder(folder));
    ASSERT_EQ(window_->rowCount(), 2);
    ASSERT_GT(window_->rowFullPath(0).size(), 260);
    doubleClickRow(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 20000));
}

}  // namespace
}  // namespace orvik::shell
