// The window's side of playback: the panes, the playback owner's reports wired to the controls,
// opening list rows, the timers and the window's part of full screen.
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScreen>

#include "displays/gsensor_graph.h"
#include "displays/map_host.h"
#include "platform/strings.h"
#include "playback/playback_controller.h"
#include "playback/transport.h"
#include "playback/video_pane.h"
#include "recordings/partner.h"
#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "shell/recording_list.h"
#include "shell/skin.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

using playback::ChannelMode;
using playback::MediaTime;
using playback::PlaybackController;
using playback::VideoPane;

namespace {

constexpr int kStrOpenError = 61000;
constexpr int kStrDispatchError = 61001;
constexpr int kStrUnknownError = 61002;

// "Error 0x%08x: %s" with the system's text for the code, or the fallback texts.
QString openFailureText(HResult hr) {
    const auto code = static_cast<std::uint32_t>(hr);
    QString reason = QString::fromStdString(playback::resultText(hr)).trimmed();
    if (reason.isEmpty()) {
        if (code >= 0x80040200u && code <= 0x8004FFFFu) {
            reason = uiText(kStrDispatchError).arg(static_cast<int>(code - 0x80040200u));
        } else {
            reason = uiText(kStrUnknownError).arg(code, 0, 16).toUpper();
        }
    }
    return uiText(kStrOpenError).arg(code, 8, 16, QLatin1Char('0')).arg(reason);
}

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
    playback_ = std::make_unique<PlaybackController>(frontPane_, rearPane_, this);

    PlaybackController* p = playback_.get();
    connect(p, &PlaybackController::seekBarReset, this, [this](bool enabled, MediaTime maximum) {
        seekBar_->setRange(0, maximum);
        seekBar_->setPosition(0);
        seekBar_->setEnabled(enabled);
        if (enabled) {
            positionTimer_.start(kPositionTimerMs);
        } else {
            positionTimer_.stop();
        }
    });
    connect(p, &PlaybackController::seekBarMoved, this,
            [this](MediaTime t) { seekBar_->setPosition(t); });
    connect(p, &PlaybackController::cursorMoved, this, [this](std::size_t cursor) {
        if (gsensorGraph_) {
            gsensorGraph_->setCursor(
                static_cast<std::int32_t>(std::min<std::size_t>(cursor, INT32_MAX)));
        }
    });
    connect(p, &PlaybackController::rateTextChanged, this,
            [this](const QString& text) { rateLabel_->setText(text); });
    connect(p, &PlaybackController::zoomTextChanged, this,
            [this](const QString& text) { zoomLabel_->setText(text); });
    connect(p, &PlaybackController::runningChanged, this, [this](bool running) {
        button(ctl::kPause)->setVisible(running);
        button(ctl::kPlay)->setVisible(!running);
    });
    connect(p, &PlaybackController::telemetryCleared, this, [this] {
        clearClipMarks();  // the marks belonged to the recording before
        telemetryCleared();
    });
    connect(p, &PlaybackController::telemetryRead, this, [this] { telemetryRead(); });
    connect(p, &PlaybackController::displayTimerWanted, this, [this](bool run) {
        if (run) {
            displayTimer_.start(kDisplayTimerMs);
        } else {
            displayTimer_.stop();
        }
    });
}

// ---- opening list rows -------------------------------------------------------------------------

void MainWindow::openRow(int row) {
    // The whole path: Linux paths may be far longer than other systems' 260 characters.
    const QString path = rowFullPath(row);
    if (const HResult hr = playback_->open(path); failed(hr)) {
        playingRecordingChanged({});
        ui_common::showMessage(this, ui_common::MessageIcon::Warning, windowTitle(),
                               openFailureText(hr));
        return;
    }
    playingRecordingChanged(path);
}

void MainWindow::openRecording(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    setCurrentRow(row);
    if (!rowFullPath(row).isEmpty()) {
        openRow(row);
        if (playback_->channelMode() == ChannelMode::Both) {
            setCurrentRow(row + 1);
        }
    }
    recordingList_->viewport()->update();
}

void MainWindow::selectAndFocusRow(int row) {
    auto* selection = recordingList_->selectionModel();
    if (!selection || !recordingList_->model()) {
        return;
    }
    const QModelIndex index = recordingList_->model()->index(row, 0);
    selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    recordingList_->scrollTo(index);
}

void MainWindow::openNextRecording() {
    if (currentRow_ == -1 || currentRow_ + 1 >= rowCount()) {
        return;
    }
    const int row = currentRow_ + 1;
    setCurrentRow(row);
    if (rowFullPath(row).isEmpty()) {
        return;
    }
    selectAndFocusRow(row);
    openRow(row);
    recordingList_->viewport()->update();
    if (playback_->channelMode() == ChannelMode::Both) {
        setCurrentRow(currentRow_ + 1);
    }
}

void MainWindow::openPreviousRecording() {
    if (currentRow_ <= 0) {
        return;
    }
    const int row = currentRow_ - 1;
    setCurrentRow(row);
    if (rowFullPath(row).isEmpty()) {
        return;
    }
    selectAndFocusRow(row);
    openRow(row);
    recordingList_->viewport()->update();
}

void MainWindow::demoCardListed() {
    // The demo shows what the viewer is for: a front recording playing beside its rear partner.
    for (int row = 0; row < rowCount(); ++row) {
        if (rowChannel(row) == QLatin1Char('F') &&
            recordings::pairRecording(rowFullPath(row).toStdString()).paired()) {
            selectAndFocusRow(row);
            openRecording(row);
            return;
        }
    }
    if (rowCount() > 0) {
        openRecording(0);
    }
}

// ---- timers and pane messages ------------------------------------------------------------------

void MainWindow::positionTimerTick() {
    playback_->positionTick(seekBar_->isPressed());
}

void MainWindow::paneDoubleClick(int channel) {
    if (playback_->channelMode() == ChannelMode::Both || channel == VideoPane::kFrontChannel) {
        toggleFullScreen(channel);
    }
}

// ---- full screen -------------------------------------------------------------------------------

void MainWindow::toggleFullScreen(int pane) {
    if (!playback_->isPlaying()) {
        return;
    }
    if (playback_->fullScreen()) {
        leaveFullScreen();
    } else {
        enterFullScreen(pane);
    }
    update();
}

void MainWindow::moveStripControls(bool fullScreen, QSize monitor) {
    for (int id : kStripControls) {
        if (QWidget* c = control(id)) {
            const auto place =
                fullScreen ? playback::fullScreenPlacement(id, monitor.width(), monitor.height())
                           : playback::normalPlacement(id);
            if (place) {
                c->setGeometry(placementRect(*place));
            }
        }
    }
    placeEventButtons();
}

void MainWindow::enterFullScreen(int pane) {
    // The monitor the window is on; its work area only when it cannot be told.
    const QScreen* monitor = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect monitorRect =
        monitor ? monitor->geometry() : QRect(0, 0, screenWidth_, screenHeight_);
    savedWindowRect_ = geometry();

    for (QWidget* hidden : std::initializer_list<QWidget*>{
             recordingList_, speedReadout_, precisionReadout_, satellitesReadout_, mapHost_,
             button(ctl::kRecordTab), button(ctl::kInformationTab), gsensorGraph_}) {
        if (hidden) {
            hidden->hide();
        }
    }
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
    if (panelView_ == PanelView::Recordings) {
        recordingList_->show();
    } else {
        for (QWidget* shown : std::initializer_list<QWidget*>{
                 mapHost_, speedReadout_, precisionReadout_, satellitesReadout_}) {
            if (shown) {
                shown->show();
            }
        }
    }
    if (gsensorGraph_) {
        gsensorGraph_->show();
    }
    playback_->leaveFullScreen();
    syncMapShown();
}

}  // namespace orvik::shell
