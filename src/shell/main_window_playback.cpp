// The window's side of playback: the panes, the transport strip showing what the playback owner
// reports (and handing it the user's drags), the rear picture's mirror, and the window's part of
// full screen.
#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>

#include "platform/store.h"
#include "playback/playback_controller.h"
#include "playback/transport.h"
#include "playback/video_pane.h"
#include "shell/card_monitor.h"
#include "shell/card_notice.h"
#include "shell/control_ids.h"
#include "shell/displays_panel.h"
#include "shell/main_window.h"
#include "shell/recording_list.h"
#include "shell/skin.h"
#include "shell/time_display.h"
#include "shell/trip_controls.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using playback::ChannelMode;
using playback::MediaTime;
using playback::PlaybackController;
using playback::VideoPane;

namespace {

// The viewer ini's key for the rear picture's mirror.
constexpr std::string_view kRearMirrorKey = "rearMirror";

QImage picture(int imageId) {
    const SkinImage* img = SkinRegistry::instance().image(imageId);
    return img && !img->isNull() ? img->slice(-1).toImage() : QImage();
}

QRect placementRect(const playback::Placement& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

// The transport strip and the caption buttons: the controls that move in full screen.
constexpr int kStripControls[] = {
    ctl::kFullScreen, ctl::kRewind,    ctl::kPlay,    ctl::kPause,  ctl::kFastForward,
    ctl::kSpeedUp,    ctl::kSpeedDown, ctl::kZoomOut, ctl::kZoomIn, ctl::kSwap,
    ctl::kRateLabel,  ctl::kZoomLabel, ctl::kSeekBar, ctl::kVolume, ctl::kMinimize,
    ctl::kMaximize,   ctl::kClose};

}  // namespace

// ---- panes and the playback owner --------------------------------------------------------------

void MainWindow::createPlayback() {
    frontPane_ = new VideoPane(this, VideoPane::kFrontChannel);
    rearPane_ = new VideoPane(this, VideoPane::kRearChannel);
    frontPane_->setObjectName(QStringLiteral("frontPane"));
    rearPane_->setObjectName(QStringLiteral("rearPane"));
    frontPane_->setBackground(picture(skin::kFrontPicture));
    rearPane_->setBackground(picture(skin::kRearPicture));
    for (VideoPane* pane : {frontPane_, rearPane_}) {
        pane->setMessageWindow(this);
        pane->setMouseTracking(true);
    }
    rearPane_->setMirrored(platform::viewerSetting(kRearMirrorKey) == "1");
    playback_ = std::make_unique<PlaybackController>(frontPane_, rearPane_, this);
}

// The strip shows the moment the controller reports and hands it what the user does.
void MainWindow::wireTransport() {
    PlaybackController* p = playback_.get();
    connect(p, &PlaybackController::handedOff, this, &MainWindow::followPlayingRecording);
    connect(p, &PlaybackController::lengthChanged, this, [this](bool seekable, MediaTime length) {
        seekBar_->setRange(0, length.units());
        seekBar_->setPosition(0);
        seekBar_->setEnabled(seekable);
        if (seekable)
            positionTimer_.start(playback::kPositionTimerMs);
        else
            positionTimer_.stop();
    });
    connect(p, &PlaybackController::positionChanged, this,
            [this](MediaTime t) { seekBar_->setPosition(t.units()); });
    connect(p, &PlaybackController::recordingOpened, timeDisplay_, &TimeDisplay::setRecording);
    connect(p, &PlaybackController::lengthChanged, timeDisplay_, &TimeDisplay::setLength);
    connect(p, &PlaybackController::positionChanged, timeDisplay_, &TimeDisplay::setPosition);
    connect(trips_, &TripControls::drivePlaceChanged, this,
            [this](bool inDrive, MediaTime start, MediaTime length) {
                timeDisplay_->setDrive(inDrive ? std::optional<MediaTime>(start) : std::nullopt,
                                       length);
            });
    connect(seekBar_, &SkinSlider::tracking, this,
            [this](std::int64_t t) { playback_->seekDragged(MediaTime::fromUnits(t)); });
    connect(seekBar_, &SkinSlider::notify, this, [this](int, int code) {
        if (code == SkinSlider::kReleasedCode)
            playback_->seekReleased(MediaTime::fromUnits(seekBar_->position()));
    });
    connect(volumeSlider_, &SkinSlider::notify, this, [this](int, int code) {
        if (code == SkinSlider::kReleasedCode)
            playback_->setVolumeFromSlider(static_cast<int>(volumeSlider_->position()));
    });
    playback_->setVolumeFromSlider(static_cast<int>(volumeSlider_->position()));
    connect(p, &PlaybackController::rateTextChanged, this,
            [this](const QString& text) { rateLabel_->setText(text); });
    connect(p, &PlaybackController::zoomTextChanged, this,
            [this](const QString& text) { zoomLabel_->setText(text); });
    connect(p, &PlaybackController::runningChanged, this, &MainWindow::showRunning);
    connect(p, &PlaybackController::recordingOpened, this, [this](const QString& path) {
        if (path.isEmpty())
            showRunning(false);
        else
            tellIfWithoutTelemetry(path);
    });
    connect(p, &PlaybackController::marksChanged, this, [this] { refreshSeekBarMarks(); });
    connect(trips_, &TripControls::eventMarksChanged, this,
            [this](const std::vector<SliderMark>& marks) {
                eventMarks_ = marks;
                refreshSeekBarMarks();
            });
    positionTimer_.setInterval(playback::kPositionTimerMs);
    connect(&positionTimer_, &QTimer::timeout, this, [this] { playback_->positionTick(); });

    // The rear pane's menu offers the mirror.
    connect(this, &MainWindow::paneMenuRequested, this, [this](QMenu* menu, VideoPane* pane) {
        if (pane != rearPane_)
            return;
        menu->addSeparator();
        QAction* mirror = menu->addAction(ui_common::uiText(strings::trips::kMirror));
        mirror->setCheckable(true);
        mirror->setChecked(rearPane_->mirrored());
        connect(mirror, &QAction::toggled, this, [this](bool on) { setRearMirrored(on); });
    });
}

void MainWindow::showRunning(bool running) {
    button(ctl::kPause)->setVisible(running);
    button(ctl::kPlay)->setVisible(!running);
}

void MainWindow::tellIfWithoutTelemetry(const QString& path) {
    const auto& track = playback_->track();
    if (track.fixes().empty() && track.rawAccel().empty())
        cards_->notice()->showMessage(
            ui_common::uiText(strings::shell::kNoTelemetry).arg(QFileInfo(path).fileName()));
}

void MainWindow::tellIfEndedEarly() {
    const auto at = playback_->earlyEnd();
    if (!at)
        return;
    cards_->notice()->showMessage(ui_common::uiText(strings::shell::kEndedEarly)
                                      .arg(QFileInfo(playback_->openedPath()).fileName(),
                                           clockDuration(*at), clockDuration(playback_->length())));
}

void MainWindow::refreshSeekBarMarks() {
    std::vector<SliderMark> marks = eventMarks_;
    if (const auto in = playback_->markedIn())
        marks.push_back({in->units(), SliderMarkKind::In});
    if (const auto out = playback_->markedOut())
        marks.push_back({out->units(), SliderMarkKind::Out});
    seekBar_->setMarks(std::move(marks));
}

void MainWindow::setRearMirrored(bool mirrored) {
    rearPane_->setMirrored(mirrored);
    platform::storeViewerSetting(kRearMirrorKey, mirrored ? "1" : "0");
}

void MainWindow::paneDoubleClick(int channel) {
    if (playback_->channelMode() == ChannelMode::Both || channel == VideoPane::kFrontChannel)
        toggleFullScreen(channel);
}

// ---- full screen -------------------------------------------------------------------------------

void MainWindow::toggleFullScreen(int pane) {
    if (!playback_->isPlaying())
        return;
    if (playback_->fullScreen())
        leaveFullScreen();
    else
        enterFullScreen(pane);
    update();
}

void MainWindow::moveStripControls(bool fullScreen, QSize monitor) {
    for (int id : kStripControls) {
        if (QWidget* c = control(id)) {
            const auto place =
                fullScreen ? playback::fullScreenPlacement(id, monitor.width(), monitor.height())
                           : playback::normalPlacement(id);
            if (place)
                c->setGeometry(placementRect(*place));
        }
    }
    trips_->placeControls(control(ctl::kRewind)->geometry(), seekBar_->geometry());
    placeTimeDisplay(fullScreen ? monitor.width() / 2 : kTitleLeft + kTitleHalfWidth);
}

void MainWindow::enterFullScreen(int pane) {
    // The monitor the window is on; its work area only when it cannot be told.
    const QScreen* monitor = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect monitorRect =
        monitor ? monitor->geometry() : QRect(0, 0, screenWidth_, screenHeight_);
    savedWindowRect_ = geometry();

    recordingList_->hide();
    displays_->showInformation(false);
    displays_->showGraph(false);
    button(ctl::kRecordTab)->hide();
    button(ctl::kInformationTab)->hide();
    moveStripControls(true, monitorRect.size());
    // The fixed size is lifted, or the window could not grow over the monitor.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setGeometry(monitorRect);
    playback_->enterFullScreen(pane, monitorRect.size());
    syncMapShown();
}

void MainWindow::leaveFullScreen() {
    setFixedSize(kWidth, kHeight);
    setGeometry(savedWindowRect_);
    moveStripControls(false, {});
    button(ctl::kRecordTab)->show();
    button(ctl::kInformationTab)->show();
    if (panelView_ == PanelView::Recordings)
        recordingList_->show();
    else
        displays_->showInformation(true);
    displays_->showGraph(true);
    playback_->leaveFullScreen();
    syncMapShown();
}

}  // namespace orvik::shell
