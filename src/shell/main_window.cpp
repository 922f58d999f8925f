#include "shell/main_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>

#include "device_config/device_config.h"
#include "platform/store.h"
#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "shell/card_monitor.h"
#include "shell/control_ids.h"
#include "shell/displays_panel.h"
#include "shell/drive_preview.h"
#include "shell/drive_strip.h"
#include "shell/export_menu.h"
#include "shell/private_messages.h"
#include "shell/recording_list.h"
#include "shell/startup.h"
#include "shell/trip_controls.h"
#include "trips/ui/trip_navigator.h"
#include "ui_common/background.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

KeyAction keyActionFor(int key, bool control) {
    switch (key) {
        case Qt::Key_Space:
            return KeyAction::PlayPause;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return KeyAction::Maximize;
        case Qt::Key_PageUp:
            return KeyAction::PreviousRecording;
        case Qt::Key_PageDown:
            return KeyAction::NextRecording;
        case Qt::Key_Left:
            return control ? KeyAction::PreviousEvent : KeyAction::StepBack;
        case Qt::Key_Right:
            return control ? KeyAction::NextEvent : KeyAction::StepForward;
        case Qt::Key_F:
            return control ? KeyAction::FindInLibrary : KeyAction::None;
        default:
            return KeyAction::None;
    }
}

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint) {
    // 1. Screen, pane rectangles and mode flags.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, kWidth, kHeight);
    screenWidth_ = screenRect.width();
    screenHeight_ = screenRect.height();

    // 2. Borderless, titled for the task bar, fixed size.
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("ORVIK"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(kWidth, kHeight);

    // 3. The skin.
    SkinRegistry::instance().fill();

    // 4. Centre on the screen; the window icon.
    move(screenRect.center() - QPoint(kWidth / 2, kHeight / 2));
    setWindowIcon(QIcon(QStringLiteral(":/skin/orvik.png")));

    // 5. Key pre-translation for the whole application.
    qApp->installEventFilter(this);

    // 6.-12. Panes and players, the controls, the list, the displays and the other areas.
    createAreas();

    // 13.-14. Browser emulation values, then the map page.
    auto store = platform::KeyValueStore::user();
    ensureBrowserEmulation(store, programFileName());
    displays_->loadMapPage();

    // 15. Version text for the settings dialog.
    versionText_ = makeVersionText();
}

MainWindow::~MainWindow() {
    shutdown();
}

// Created in stacking order: later widgets lie over earlier ones.
void MainWindow::createAreas() {
    createPlayback();
    createControls();
    createList();
    displays_ = new DisplaysPanel(this, *playback_);
    setTabs(PanelView::Recordings);
    rearPane_->raise();  // the small pane lies over its neighbours

    trips_ = new TripControls(this, *playback_, *displays_->mapHost(), *displays_->mapView(),
                              [this](const QString& path) { return openThroughList(path); });
    trips_->placeControls(control(ctl::kRewind)->geometry(), seekBar_->geometry());
    drivePreview_ = new DrivePreview(
        this, *trips_->strip(),
        [this](double seconds) -> std::optional<DrivePreview::Moment> {
            const trips::Trip* trip = trips_->navigator()->currentTrip();
            const auto at = trips_->strip()->drive().positionAt(seconds);
            if (!trip || !at || at->recording >= trip->recordings.size())
                return std::nullopt;
            const trips::TripRecording& r = trip->recordings[at->recording];
            return DrivePreview::Moment{r.path, at->offsetSeconds, r.stats.durationSeconds};
        },
        [this] { return displays_->speedDisplay(); });
    connect(trips_, &TripControls::jumped, displays_, &DisplaysPanel::refreshSpeedReadout);
    exportMenu_ = new ExportMenu(
        this, *playback_, [this] { return displays_->speedDisplay(); },
        [this](QMenu* menu, playback::VideoPane* pane) {
            trips_->addPaneMenuEntries(menu);
            emit paneMenuRequested(menu, pane);
        });
    exportMenu_->setDriveStretch([this]() -> std::optional<ExportMenu::DriveStretch> {
        auto range = trips_->markedRange();
        const auto in = playback_->inMark(), out = playback_->outMark();
        if (!range || range->pieces.empty() || !in || !out)
            return std::nullopt;
        const auto from = playback_->timelineSeconds(*in), to = playback_->timelineSeconds(*out);
        if (!from || !to || *to <= *from)
            return std::nullopt;
        return ExportMenu::DriveStretch{std::move(*range), *to - *from};
    });
    wireTransport();
    cards_ = new CardMonitor(recordingList_, this, *playback_, [this](const QString& root) {
        if (!listFolder(root))
            return false;
        lastOpenedFolder_ = root;
        return true;
    });
}

bool MainWindow::isFullScreenMode() const {
    return playback_ && playback_->fullScreen();
}

void MainWindow::showRecordingsPanel() {
    panelView_ = PanelView::Recordings;
    setTabs(PanelView::Recordings);
    recordingList_->setGeometry(680, 85, 322, 298);
    recordingList_->show();
    displays_->showInformation(false);
    syncMapShown();
}

void MainWindow::showInformationPanel() {
    panelView_ = PanelView::Information;
    setTabs(PanelView::Information);
    recordingList_->hide();
    displays_->showInformation(true);
    const bool first = !informationShownBefore_;
    informationShownBefore_ = true;
    displays_->informationShown(first, !isFullScreenMode());
}

void MainWindow::syncMapShown() {
    displays_->setMapVisible(panelView_ == PanelView::Information && !isFullScreenMode());
}

// ---- routing -----------------------------------------------------------------------------------

void MainWindow::runCommand(int id) {
    switch (id) {
        case ctl::kCommandOk:
        case ctl::kCommandCancel:
            return;  // the window never closes this way
        case ctl::kClose:
            closeCommand();
            return;
        case ctl::kMinimize:
            showMinimized();
            return;
        case ctl::kMaximize:
        case ctl::kFullScreen:
            toggleFullScreen(playback_->fullScreenPane());
            return;
        case ctl::kRecordTab:
            showRecordingsPanel();
            return;
        case ctl::kInformationTab:
            showInformationPanel();
            return;
        case ctl::kZoomIn:
            playback_->zoom(+1);
            return;
        case ctl::kZoomOut:
            playback_->zoom(-1);
            return;
        case ctl::kClock:
            clockCommand();
            return;
        case ctl::kOpen:
            openCommand();
            return;
        case ctl::kConfiguration:
            configurationCommand();
            return;
        case ctl::kRewind:
            playback_->rewind();
            return;
        case ctl::kPlay:
            playback_->play();
            return;
        case ctl::kPause:
            playback_->pause();
            return;
        case ctl::kFastForward:
            playback_->fastForward();
            return;
        case ctl::kSpeedUp:
            playback_->speedUp();
            return;
        case ctl::kSpeedDown:
            playback_->speedDown();
            return;
        case ctl::kSwap:
            playback_->swap();
            return;
        case ctl::kPreviousEvent:
            trips_->jumpToEvent(-1);
            return;
        case ctl::kNextEvent:
            trips_->jumpToEvent(+1);
            return;
        case ctl::kCopyCommand:
            copySelectedRecordings();
            return;
        case ctl::kFindInLibrary:
            findInLibraryCommand();
            return;
    }
}

bool MainWindow::handleKey(int key, bool control) {
    const KeyAction action = keyActionFor(key, control);
    switch (action) {
        case KeyAction::PlayPause:
            playback_->togglePlayPause();
            break;
        case KeyAction::Maximize:
            toggleFullScreen(playback_->fullScreenPane());
            break;
        case KeyAction::PreviousRecording:
            openPreviousRecording();
            break;
        case KeyAction::NextRecording:
            openNextRecording();
            break;
        case KeyAction::StepBack:
            playback_->step(-1);
            break;
        case KeyAction::StepForward:
            playback_->step(+1);
            break;
        case KeyAction::PreviousEvent:
            trips_->jumpToEvent(-1);
            break;
        case KeyAction::NextEvent:
            trips_->jumpToEvent(+1);
            break;
        case KeyAction::FindInLibrary:
            findInLibraryCommand();
            break;
        case KeyAction::None:
            break;
    }
    emit keyRouted(action);
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (shutDown_ || !watched->isWidgetType())
        return QObject::eventFilter(watched, e);
    auto* w = static_cast<QWidget*>(watched);
    switch (e->type()) {
        case QEvent::KeyPress:
            // Every key-down in this window ends here, whichever control has the focus. Dialogs
            // (settings, file choosers) keep their keys.
            if (w->window() == this)
                return handleKey(static_cast<QKeyEvent*>(e)->key(),
                                 static_cast<QKeyEvent*>(e)->modifiers() & Qt::ControlModifier);
            break;
        case QEvent::ShortcutOverride:
            if (w->window() == this) {
                e->accept();  // no shortcut fires either: the key-down comes to us
                return true;
            }
            break;
        case QEvent::MouseMove:
            if ((w == frontPane_ || frontPane_->isAncestorOf(w)) && !frontPane_->hasFocus())
                frontPane_->setFocus(Qt::MouseFocusReason);
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, e);
}

bool MainWindow::event(QEvent* e) {
    const auto type = e->type();
    if (type > QEvent::User && type <= QEvent::MaxUser) {
        auto* m = static_cast<WindowMessageEvent*>(e);
        if (type == windowMessageType(WM_PLAYBACK_COMPLETE)) {
            // The drive goes on without a stall when its next recording stands by; after the
            // list's last recording nothing plays any more.
            tellIfEndedEarly();
            if (!playback_->recordingEnded() && !openNextRecording())
                showRunning(false);
        } else if (type == windowMessageType(WM_GRAPH_EVENT)) {
            playback_->handleGraphEvent();
        } else if (type == windowMessageType(WM_PANE_PAN)) {
            playback_->pan(static_cast<int>(m->wParam()), static_cast<int>(m->lParam()));
        } else if (type == windowMessageType(WM_PANE_DBLCLK)) {
            paneDoubleClick(static_cast<int>(m->lParam()));
        } else if (type == windowMessageType(WM_STARTUP_CHECKS)) {
            startupChecks();
        } else {
            return QWidget::event(e);
        }
        e->accept();
        return true;
    }
    return QWidget::event(e);
}

// ---- start-up checks and shutdown --------------------------------------------------------------

void MainWindow::startupChecks() {
    if (startupChecksDone_)
        return;
    startupChecksDone_ = true;
    // A card whose root holds the camera's configuration file gets the camera's label; the
    // configuration itself is not read here. A failure is one line on standard output. The
    // disk service may be slow or stalled: the window never waits for it, and the viewer's own
    // relabel never brings up an authorisation prompt.
    ui_common::runDetached(
        this,
        [] {
            device_config::ConfigSession transient;
            return transient.locateOnCard(false, platform::removableVolumes(), {},
                                          platform::kQuietChange);
        },
        [this](bool) { emit startupRelabelDone(); });
    const DecoderCheck decoders = checkDecoders();
    if (!decoders.ok()) {
        QWidget* owner = QApplication::activeWindow() ? QApplication::activeWindow() : this;
        LavFiltersPrompt prompt(owner, decoders);
        prompt.exec();
    }
}

void MainWindow::closeCommand() {
    positionTimer_.stop();
    displays_->stop();
    closing_ = true;
    shutdown();
    hide();
    QCoreApplication::exit(kCloseExitCode);
}

void MainWindow::shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    positionTimer_.stop();
    displays_->stop();
    // Nothing queued for the window may reach the players once they are gone.
    QCoreApplication::removePostedEvents(this);
    playback_->shutdown();
    displays_->removeMapPage();
    qApp->removeEventFilter(this);
}

}  // namespace orvik::shell
