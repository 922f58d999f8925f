// Trips in the real main window, acted out through input only: a click on the trip's route on
// the map opens that recording at that moment, event marks sit on the seek bar where the events
// are and the event buttons and pane menu jump between them, a click on the speed readout
// switches the unit, and the rear pane's menu mirrors the rear picture; both choices are kept.
// The drive strip under the seek bar shows the whole trip and goes where it is clicked or dragged.
#include "support/gui_journey.h"

#include "shell/trip_controls.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "displays/map_host.h"
#include "export/ui/export_dialog.h"
#include "platform/store.h"
#include "playback/playback_controller.h"
#include "recordings/telemetry.h"
#include "shell/displays_panel.h"
#include "shell/drive_preview.h"
#include "shell/drive_strip.h"
#include "shell/time_display.h"
#include "shell/trip_controls.h"
#include "support/map_page.h"
#include "thumbnails/thumbnail.h"
#include "trips/ui/trip_navigator.h"

namespace orvik::shell {
namespace {

using namespace testing;
using playback::PlaybackState;
using playback::VideoPane;

// One trip of nine moments (continuous, five events with an impact in the middle of each, a user
// recording) of four seconds each.
tools::SampleCardOptions tripCard() {
    tools::SampleCardOptions options;
    options.width = 320;
    options.height = 180;
    options.durationSeconds = 4.0;
    options.alwaysPairs = 3;
    options.deviceFiles = false;
    return options;
}

class TripJourney : public WindowJourney {
  protected:
    void SetUp() override {
        shotEachCase_ = false;  // the cases save the README's pictures themselves
        openWindow();
    }
    // Starts the window afresh, as a user starts the viewer again.
    void openWindow() {
        window_.reset();
        startWindow(generatedCard(tripCard()));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return window_->trips().navigator()->tripsReady(); }, 30000));
    }

    int frontRowStartingWith(const QString& namePrefix) const {
        for (int r = 0; r < window_->rowCount(); ++r) {
            if (window_->rowFileName(r).startsWith(namePrefix) && window_->rowChannel(r) == 'F')
                return r;
        }
        return -1;
    }
    void play(const QString& namePrefix) {
        const int row = frontRowStartingWith(namePrefix);
        ASSERT_GE(row, 0) << namePrefix.toStdString();
        playRow(row);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return window_->trips().navigator()->currentTrip(); }, 20000));
    }
    void pause() {
        QTest::keyClick(window_.get(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !running(); }, 5000));
    }
    double seconds() const { return static_cast<double>(seekBar()->position()) / kSecond; }
    std::optional<std::size_t> playingRecording() const {
        return window_->trips().navigator()->currentRecording();
    }
    // Right-clicks the pane and picks the entry with `text` (or that name) from the menu that
    // opens.
    void choosePaneMenuEntry(VideoPane* p, const QString& text) {
        bool picked = false;
        QTimer::singleShot(0, [&] {
            // No menu is caught below: nothing gets picked and the wait for `picked` fails.
            (void)QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; },
                                  5000);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* a : menu->actions()) {
                if ((a->text() == text || a->objectName() == text) && a->isEnabled()) {
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
                    picked = true;
                    return;
                }
            }
            menu->close();
        });
        // Through the window, as the window system delivers it: that is where a right click
        // becomes a context-menu request.
        QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {},
                          p->mapTo(window_.get(), p->rect().center()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return picked; }, 5000)) << text.toStdString();
    }
    std::string iniValue(const char* key) {
        std::string value;
        auto ini = platform::viewerIni();
        ini.read(platform::kViewerIniSection, key, value);
        return value;
    }
};

TEST_F(TripJourney, ClickOnTheRouteOpensThatRecordingAtThatMoment) {
    play("alwa_20260314");
    const auto* trip = window_->trips().navigator()->currentTrip();
    ASSERT_GE(trip->recordings.size(), 8u);
    click(kInformationTab);
    auto* map = qobject_cast<displays::MapHost*>(window_->control(kMap));
    ASSERT_TRUE(map && map->isVisible());
    ASSERT_TRUE(orvik::test::mapPageLoaded(map));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return evaluate(map, "tripPoints.length").toInt() > 50; }, 30000))
        << "the trip's route did not reach the loaded map page";
    pause();  // the marker stops moving the map
    // A point on screen in the middle of another recording of the trip (the fifth, a pair).
    const QString findPoint =
        "var w = map.getSize(); var hit = null;"
        "for (var i = 0; i < tripPoints.length && !hit; i++) {"
        "  var p = tripPoints[i]; if (p[3] !== 4 || p[4] < 1.2 || p[4] > 2.8) continue;"
        "  var c = map.latLngToContainerPoint(L.latLng(p[0], p[1]));"
        "  if (c.x > 30 && c.y > 30 && c.x < w.x - 30 && c.y < w.y - 30)"
        "    hit = [Math.round(c.x), Math.round(c.y), p[3], p[4]]; }"
        "hit";
    QVariantList target = evaluate(map, findPoint).toList();
    ASSERT_EQ(target.size(), 4) << "no point of the fifth recording on screen";
    shot("trips-map", false);  // the README's picture
    QWidget* surface = map->focusProxy() ? map->focusProxy() : map;
    // The browser may drop the very first input after its page settled; a user clicks again.
    for (int attempt = 0; attempt < 3 && playingRecording() != 4u; ++attempt) {
        target = evaluate(map, findPoint).toList();
        ASSERT_EQ(target.size(), 4);
        const QPoint at(target[0].toInt(), target[1].toInt());
        QTest::mouseMove(surface, at);
        QTest::mouseClick(surface, Qt::LeftButton, {}, at);
        (void)QTest::qWaitFor([&] { return playingRecording() == 4u; }, 8000);  // checked below
    }
    ASSERT_EQ(playingRecording(), 4u);
    const double offset = target[3].toDouble();
    EXPECT_NEAR(seconds(), offset, 0.6);
    // Both channels of that moment play.
    EXPECT_EQ(frontPlayer()->GetState(), PlaybackState::Running);
    ASSERT_TRUE(rearPlayer());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return rearPlayer()->GetState() == PlaybackState::Running; }, 10000));
    const QString playing = window_->rowFullPath(window_->currentRow() - 1);
    EXPECT_EQ(playing.toStdString(), trip->recordings[4].path);
}

TEST_F(TripJourney, EventMarksAndJumpsAcrossTheTrip) {
    play("event_20260314");
    pause();
    const std::size_t here = *playingRecording();
    // Two marks: the event recording's start and its impact.
    const auto marks = seekBar()->marks();
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].kind, SliderMarkKind::Event);
    EXPECT_EQ(marks[0].position, 0);
    EXPECT_EQ(marks[1].kind, SliderMarkKind::Impact);
    const double impact = static_cast<double>(marks[1].position) / kSecond;
    EXPECT_GT(impact, 1.0);
    EXPECT_LT(impact, 3.5);
    const QImage bar = seekBar()->grab().toImage();
    EXPECT_EQ(QColor(bar.pixel(seekBar()->centreX(marks[1].position), 6)),
              SkinSlider::markColour(SliderMarkKind::Impact));
    shot("trips-events", false);  // the README's picture

    // Next event: this recording's impact; then the next event recording's start.
    click(kNextEvent);
    EXPECT_NEAR(seconds(), impact, 0.05);
    EXPECT_EQ(playingRecording(), here);
    click(kNextEvent);
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == here + 1; }, 20000));
    EXPECT_LT(seconds(), 1.5);
    // Back through the pane's menu: the impact of the recording before.
    choosePaneMenuEntry(pane("frontPane"), QStringLiteral("Previous event"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == here; }, 20000));
    EXPECT_NEAR(seconds(), impact, 0.6);

    // The keyboard: Ctrl+Right and Ctrl+Left jump the same way, Right alone steps 3 s.
    QTest::keyClick(pane("frontPane"), Qt::Key_Right, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == here + 1; }, 20000));
    EXPECT_LT(seconds(), 1.5);
    QTest::keyClick(pane("frontPane"), Qt::Key_Left, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == here; }, 20000));
    EXPECT_NEAR(seconds(), impact, 0.6);
    QTest::keyClick(pane("frontPane"), Qt::Key_Left);
    EXPECT_EQ(playingRecording(), here);
    EXPECT_NEAR(seconds(), std::max(0.0, impact - 3), 0.6);
}

TEST_F(TripJourney, TheDriveStripShowsTheDriveAndGoesWhereItIsClickedOrDragged) {
    play("alwa_20260314");
    pause();
    const auto* trip = window_->trips().navigator()->currentTrip();
    DriveStrip* strip = window_->trips().strip();
    ASSERT_TRUE(strip->isVisible());
    const trips::Drive& drive = strip->drive();
    ASSERT_EQ(drive.blocks().size(), trip->recordings.size());
    EXPECT_EQ(drive.marks().size(), trip->events.size());
    // In the free band under the seek bar: it covers no control of the strip.
    const QRect band = strip->geometry();
    EXPECT_EQ(band.left(), seekBar()->geometry().left());
    EXPECT_EQ(band.width(), seekBar()->geometry().width());
    EXPECT_GT(band.top(), seekBar()->geometry().bottom());
    for (int id : {kFullScreen, kSwap, kRewind, kPause, kPlay, kFastForward, kVolume,
                   kPreviousEvent, kNextEvent})
        EXPECT_FALSE(window_->control(id)->geometry().intersects(band)) << id;
    // The caption's moment counts through the drive.
    const QString driveLength =
        clockDuration(playback::MediaTime::fromSeconds(drive.lengthSeconds()));
    EXPECT_TRUE(window_->timeDisplay()->momentText().endsWith(" / " + driveLength))
        << window_->timeDisplay()->momentText().toStdString();

    // A click in the middle of the fifth recording's block plays it there, both channels.
    const auto middle = [&](std::size_t i) {
        const trips::DriveBlock& b = drive.blocks()[i];
        return QPoint(strip->xOf(b.startSeconds + b.durationSeconds / 2), strip->height() / 2);
    };
    QTest::mouseClick(strip, Qt::LeftButton, {}, middle(4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == 4u; }, 20000));
    const double half = drive.blocks()[4].durationSeconds / 2;
    EXPECT_NEAR(seconds(), half, 0.3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 10000));
    EXPECT_NEAR(strip->moment(), drive.blocks()[4].startSeconds + half, 0.5);
    pause();

    // A drag from the sixth recording into the seventh: nothing opens until the release, then
    // the seventh plays at the moment let go.
    QTest::mousePress(strip, Qt::LeftButton, {}, middle(5));
    QTest::mouseMove(strip, middle(5) + QPoint(5, 0));
    QTest::mouseMove(strip, middle(6));
    EXPECT_NEAR(strip->moment(), strip->secondsAt(middle(6).x()), 1e-9);
    EXPECT_EQ(playingRecording(), 4u);
    QTest::mouseRelease(strip, Qt::LeftButton, {}, middle(6));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == 6u; }, 20000));
    EXPECT_NEAR(seconds(), drive.blocks()[6].durationSeconds / 2, 0.3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bothRunning(); }, 10000));

    // Played on into the next recording, the strip's moment goes on from there, never back.
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == 7u; }, 20000));
    EXPECT_GE(strip->moment(), drive.blocks()[7].startSeconds - 0.01);
    EXPECT_EQ(strip->startText(), "08:15:00");
    EXPECT_EQ(strip->endText(),
              QString::fromStdString(trips::isoLocalTime(drive.localTimeAt(drive.lengthSeconds())))
                  .mid(11));
    shot("drive-strip", false);  // the README's picture

    // Full screen: the strip stays under the moved seek bar.
    QTest::mouseDClick(front(), Qt::LeftButton, {}, front()->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->isFullScreenMode(); }, 5000));
    EXPECT_EQ(strip->geometry().top(), seekBar()->geometry().bottom() + 2);
    EXPECT_EQ(strip->geometry().left(), seekBar()->geometry().left());
    shot("drive-strip-fullscreen");
}

TEST_F(TripJourney, HoveringOverTheStripShowsThatMomentsPictureWithoutHoldingPlaybackUp) {
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    play("alwa_20260314");
    DriveStrip* strip = window_->trips().strip();
    DrivePreview* preview = window_->drivePreview();
    PreviewCard* card = preview->card();
    const trips::Drive& drive = strip->drive();
    // The X server's own pointer: its moves, and entering and leaving a control, come as a
    // user's do.
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    ASSERT_FALSE(xdotool.isEmpty()) << "xdotool is needed (scripts/install-deps.sh)";
    const auto hover = [&](QWidget* w, QPoint at) {
        const QPoint global = w->mapToGlobal(at);
        ASSERT_EQ(
            QProcess::execute(xdotool, {QStringLiteral("mousemove"), QString::number(global.x()),
                                        QString::number(global.y())}),
            0);
    };
    const auto middle = [&](std::size_t i) {
        const trips::DriveBlock& b = drive.blocks()[i];
        return QPoint(strip->xOf(b.startSeconds + b.durationSeconds / 2), strip->height() / 2);
    };
    // While it plays, the pointer sweeps over the strip: playback runs on, and the picture of
    // the moment where the pointer rests comes up above it.
    const std::int64_t before = positionOf(frontPlayer());
    for (std::size_t i = 0; i < drive.blocks().size(); ++i)
        hover(strip, middle(i));
    hover(strip, middle(2));
    const double hovered = strip->secondsAt(middle(2).x());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return card->isVisible() &&
                   card->line().startsWith(clockOf(drive.localTimeAt(hovered)));
        },
        10000))
        << card->line().toStdString() << " visible " << card->isVisible() << " decodes "
        << preview->decodes();
    EXPECT_TRUE(running());
    EXPECT_TRUE(QTest::qWaitFor([&] { return positionOf(frontPlayer()) > before; }, 5000));
    EXPECT_TRUE(card->line().endsWith("Km/h")) << card->line().toStdString();
    EXPECT_EQ(card->picture().width(), thumbnails::kDefaultWidth);
    const QRect shown = card->geometry();
    EXPECT_LT(shown.bottom(), seekBar()->geometry().top());  // the seek bar stays in sight
    EXPECT_TRUE(window_->rect().contains(shown));
    shot("drive-strip-hover", false);  // the README's picture
    // Kept in the user's cache folder, one folder per recording.
    const QString folder = cacheHome.path() + "/Orvik/thumbnails";
    EXPECT_FALSE(QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    // Another recording's moment shows another picture; back again, it comes from memory at
    // once, with nothing decoded.
    // (The generated recordings draw the same picture at the same offset: another offset.)
    const QImage first = card->picture();
    const QPoint other(strip->xOf(drive.blocks()[5].startSeconds + 0.5), strip->height() / 2);
    hover(strip, other);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return card->line().startsWith(clockOf(drive.localTimeAt(strip->secondsAt(other.x()))));
        },
        10000));
    EXPECT_NE(card->picture(), first);
    const int decodes = preview->decodes();
    hover(strip, middle(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return card->picture() == first; }, 5000));
    EXPECT_EQ(preview->decodes(), decodes);
    // Leaving the strip takes the picture away.
    hover(seekBar(), seekBar()->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !card->isVisible(); }, 5000));
    qunsetenv("XDG_CACHE_HOME");
}

TEST_F(TripJourney, MarksInTwoRecordingsOfTheDriveMakeOneClipAcrossThem) {
    play("alwa_20260314");
    pause();
    DriveStrip* strip = window_->trips().strip();
    const trips::Drive& drive = strip->drive();
    const auto* trip = window_->trips().navigator()->currentTrip();
    const auto at = [&](std::size_t i, double offset) {
        return QPoint(strip->xOf(drive.blocks()[i].startSeconds + offset), strip->height() / 2);
    };
    // In: 2.5 s into the second recording; out: 1.5 s into the third, chosen on the strip.
    QTest::mouseClick(strip, Qt::LeftButton, {}, at(1, 2.5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == 1u; }, 20000));
    pause();
    choosePaneMenuEntry(front(), QStringLiteral("markInAction"));
    QTest::mouseClick(strip, Qt::LeftButton, {}, at(2, 1.5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == 2u; }, 20000));
    pause();
    choosePaneMenuEntry(front(), QStringLiteral("markOutAction"));
    const auto& playback = window_->playback();
    ASSERT_TRUE(playback.inMark() && playback.outMark());
    EXPECT_EQ(playback.inMark()->path.toStdString(), trip->recordings[1].path);
    EXPECT_EQ(playback.outMark()->path.toStdString(), trip->recordings[2].path);
    // The strip shows both; the seek bar the one in the recording shown.
    ASSERT_TRUE(strip->clipIn() && strip->clipOut());
    EXPECT_NEAR(*strip->clipIn(), drive.blocks()[1].startSeconds + 2.5, 0.3);
    EXPECT_NEAR(*strip->clipOut(), drive.blocks()[2].startSeconds + 1.5, 0.3);
    EXPECT_FALSE(playback.markedIn());
    EXPECT_TRUE(playback.markedOut());

    // Export clip… makes one clip over both recordings, with the telemetry of both shares.
    choosePaneMenuEntry(front(), QStringLiteral("exportClipAction"));
    exporting::ui::ExportDialog* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            dialog = window_->findChild<exporting::ui::ExportDialog*>();
            return dialog && dialog->isVisible();
        },
        5000));
    ASSERT_EQ(dialog->pieces().size(), 2u);
    EXPECT_EQ(dialog->pieces()[0].input, trip->recordings[1].path);
    EXPECT_NEAR(dialog->pieces()[0].fromSeconds, 2.5, 0.3);
    EXPECT_NEAR(dialog->pieces()[1].toSeconds, 1.5, 0.3);
    QTemporaryDir out;
    const QString target = out.filePath(QStringLiteral("across.mp4"));
    auto* edit = dialog->findChild<QLineEdit*>("output");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, target);
    QSignalSpy done(dialog, &exporting::ui::ExportDialog::exportFinished);
    auto* exportButton = dialog->findChild<QPushButton*>("export");
    QTest::mouseClick(exportButton, Qt::LeftButton, {}, exportButton->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.count() == 1; }, 120000));
    EXPECT_TRUE(done.at(0).at(0).toBool()) << done.at(0).at(1).toString().toStdString();
    recordings::TelemetryTrack track;
    ASSERT_EQ(track.readRecording(target.toStdString()), S_OK);
    EXPECT_GE(track.size(), 22u);  // about eleven records a second, two and a half seconds
    dialog->close();

    // Going on to another recording of the drive keeps the marks; a recording outside it
    // clears them.
    QTest::mouseClick(strip, Qt::LeftButton, {}, at(4, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playingRecording() == 4u; }, 20000));
    EXPECT_TRUE(playback.inMark() && playback.outMark());
    playRow(rowOf(QStringLiteral("alwa_20260313_181500_F.mp4")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !playback.inMark() && !playback.outMark(); }, 20000));
    EXPECT_FALSE(strip->clipIn());
}

TEST_F(TripJourney, ClickOnTheSpeedReadoutSwitchesTheUnitAndKeepsIt) {
    play("alwa_20260314");
    click(kInformationTab);
    auto* readout = qobject_cast<QLabel*>(window_->control(kSpeedReadout));
    ASSERT_TRUE(readout && readout->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return readout->text().endsWith("Km/h"); }, 10000));
    pause();
    const int kmh = readout->text().section(' ', 0, 0).toInt();
    QTest::mouseClick(readout, Qt::LeftButton, {}, readout->rect().center());
    ASSERT_TRUE(readout->text().endsWith("Mi/h")) << readout->text().toStdString();
    EXPECT_NEAR(readout->text().section(' ', 0, 0).toInt(), kmh / 1.609344, 1.01);
    EXPECT_EQ(iniValue("speedUnit"), "mph");
    // A new window shows mph from the start.
    openWindow();
    EXPECT_EQ(window_->displays().speedDisplay(), displays::SpeedDisplay::MilesPerHour);
    readout = qobject_cast<QLabel*>(window_->control(kSpeedReadout));
    click(kInformationTab);
    QTest::mouseClick(readout, Qt::LeftButton, {}, readout->rect().center());
    EXPECT_TRUE(readout->text().endsWith("Km/h"));
    EXPECT_EQ(iniValue("speedUnit"), "km/h");
}

TEST_F(TripJourney, RearPaneMenuMirrorsTheRearPictureAndKeepsIt) {
    play("alwa_20260314");
    pause();
    VideoPane* rear = pane("rearPane");
    ASSERT_TRUE(rear && rear->isVisible());
    EXPECT_FALSE(rear->mirrored());
    const QImage before = rear->grabFramebuffer();
    choosePaneMenuEntry(rear, QStringLiteral("Mirror"));
    EXPECT_TRUE(rear->mirrored());
    EXPECT_EQ(iniValue("rearMirror"), "1");
    // The picture is the old one flipped left to right (give the core a few frames).
    const QImage flipped = before.mirrored(true, false);
    const auto close = [&](const QImage& a) {
        long long diff = 0;
        for (int y = 10; y < a.height() - 10; y += 7)
            for (int x = 10; x < a.width() - 10; x += 7)
                diff += std::abs(qGray(a.pixel(x, y)) - qGray(flipped.pixel(x, y)));
        return diff < 8LL * (a.width() / 7) * (a.height() / 7);
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return close(rear->grabFramebuffer()); }, 5000));
    shot("trips-mirror", false);  // the README's picture
    // Kept for the next window; the front pane offers no mirror.
    openWindow();
    EXPECT_TRUE(pane("rearPane")->mirrored());
    play("alwa_20260314");
    choosePaneMenuEntry(pane("rearPane"), QStringLiteral("Mirror"));
    EXPECT_FALSE(pane("rearPane")->mirrored());
    EXPECT_EQ(iniValue("rearMirror"), "0");
}

}  // namespace
}  // namespace orvik::shell
