#include "shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "device_config/device_config.h"
#include "displays/gsensor_graph.h"
#include "displays/map_host.h"
#include "displays/map_view.h"
#include "platform/strings.h"
#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "shell/control_ids.h"
#include "shell/private_messages.h"
#include "shell/recording_list.h"
#include "shell/skin.h"
#include "shell/startup.h"
#include "trips/ui/trip_navigator.h"
#include "ui_common/background.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

KeyAction keyActionFor(int key) {
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
            return KeyAction::StepBack;
        case Qt::Key_Right:
            return KeyAction::StepForward;
        default:
            return KeyAction::None;
    }
}

namespace {

struct ButtonSpec {
    int id;
    int image;
    int tooltip;  // 0: none
    QRect geometry;
    bool shown;
};

// The window's push buttons with their skin image, tooltip and place.
const ButtonSpec kButtons[] = {
    {ctl::kOpen, skin::kOpenButton, 258, {7, 5, 56, 47}, true},
    {ctl::kConfiguration, skin::kConfigurationButton, 261, {63, 5, 54, 47}, true},
    {ctl::kClock, skin::kClockButton, 262, {171, 5, 54, 47}, false},
    {ctl::kMinimize, skin::kMinimize, 0, {906, 5, 31, 33}, true},
    {ctl::kMaximize, skin::kMaximize, 0, {936, 5, 32, 33}, true},
    {ctl::kClose, skin::kClose, 0, {969, 5, 35, 33}, true},
    {ctl::kRecordTab, skin::kRecordTab, 0, {674, 54, 167, 29}, true},
    {ctl::kInformationTab, skin::kInformationTab, 0, {841, 54, 167, 29}, true},
    {ctl::kFullScreen, skin::kFullScreenButton, 278, {519, 594, 39, 33}, true},
    {ctl::kSwap, skin::kSwapButton, 286, {481, 594, 39, 33}, true},
    {ctl::kRewind, skin::kRewindButton, 279, {61, 603, 23, 26}, true},
    {ctl::kPlay, skin::kPlayButton, 277, {84, 603, 23, 26}, false},
    {ctl::kPause, skin::kPauseButton, 280, {84, 603, 23, 26}, true},
    {ctl::kFastForward, skin::kFastForwardButton, 282, {107, 603, 23, 26}, true},
    {ctl::kSpeedDown, skin::kSpeedMinusButton, 284, {141, 605, 16, 20}, true},
    {ctl::kSpeedUp, skin::kSpeedPlusButton, 283, {186, 605, 16, 20}, true},
    {ctl::kZoomOut, skin::kZoomOutButton, 288, {224, 605, 16, 20}, true},
    {ctl::kZoomIn, skin::kZoomInButton, 287, {275, 605, 16, 20}, true},
};

// Template buttons that exist but are never offered: hidden and disabled, no command.
const int kDormantButtons[] = {ctl::kSnapshot, ctl::kPrint, ctl::kStop, ctl::kZoom};

constexpr int kStrRecordTab = 60040;
constexpr int kStrInformationTab = 60041;

}  // namespace

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
    move(0, 0);

    // 3. The skin.
    SkinRegistry::instance().fill();

    // 4. Centre on the screen; the window icon.
    move(screenRect.center() - QPoint(kWidth / 2, kHeight / 2));
    setWindowIcon(QIcon(QStringLiteral(":/skin/orvik.png")));

    // 5. Key pre-translation for the whole application.
    qApp->installEventFilter(this);

    // 6.-7. Panes and players (the rear pane on top), no current row.
    createPlayback();
    currentRow_ = -1;

    createControls();
    createTripControls();

    positionTimer_.setInterval(kPositionTimerMs);
    displayTimer_.setInterval(kDisplayTimerMs);
    connect(&positionTimer_, &QTimer::timeout, this, [this] { positionTimerTick(); });
    connect(&displayTimer_, &QTimer::timeout, this, [this] { displayTimerTick(); });

    // 8. The volume slider's level for the front player.
    playback_->setVolumeFromSlider(static_cast<int>(volumeSlider_->position()));

    // 13.-14. Browser emulation values, then the map page.
    auto store = platform::KeyValueStore::user();
    ensureBrowserEmulation(store, programFileName());
    loadMapPage();

    watchCards();

    // 15. Version text for the settings dialog.
    versionText_ = makeVersionText();
}

MainWindow::~MainWindow() {
    shutdown();
}

bool MainWindow::isFullScreenMode() const {
    return playback_ && playback_->fullScreen();
}

void MainWindow::createControls() {
    auto& reg = SkinRegistry::instance();
    for (const auto& b : kButtons) {
        auto* button = new SkinButton(b.id, this);
        button->setImageId(b.image);
        button->setGeometry(b.geometry);
        if (b.tooltip)
            button->setTooltipTextId(b.tooltip);
        button->setVisible(b.shown);
        connect(button, &QAbstractButton::clicked, this, [this, id = b.id] { runCommand(id); });
    }
    button(ctl::kRecordTab)->setCaption(uiText(kStrRecordTab));
    button(ctl::kInformationTab)->setCaption(uiText(kStrInformationTab));
    // The Clock workflow is not offered.
    button(ctl::kClock)->setEnabled(false);
    for (int id : kDormantButtons) {
        auto* dormant = new SkinButton(id, this);
        dormant->setVisible(false);
        dormant->setEnabled(false);
    }

    // 8. Volume slider: 0..99 at 50.
    volumeSlider_ = new SkinSlider(ctl::kVolume, this);
    volumeSlider_->setRange(0, 99);
    volumeSlider_->setPosition(50);
    volumeSlider_->setGeometry(594, 598, 59, 13);

    // 9. Seek bar; the G-sensor graph comes with the displays.
    seekBar_ = new SkinSlider(ctl::kSeekBar, this);
    seekBar_->setGeometry(42, 570, 595, 13);
    seekBar_->setEnabled(false);  // until a seekable recording plays
    for (SkinSlider* s : {volumeSlider_, seekBar_})
        connect(s, &SkinSlider::notify, this, [this](int id, int code) {
            if (code != SkinSlider::kReleasedCode)
                return;
            if (id == ctl::kSeekBar)
                playback_->seekReleased(seekBar_->position());
            if (id == ctl::kVolume)
                playback_->setVolumeFromSlider(static_cast<int>(volumeSlider_->position()));
        });

    // 10. Recording list.
    recordingModel_ = new RecordingListModel(this);
    recordingList_ = new RecordingListView(this);
    recordingList_->setListModel(recordingModel_);
    recordingList_->setGeometry(680, 85, 322, 298);
    connect(recordingList_, &RecordingListView::rowDoubleClicked, this,
            [this](int row) { openRecording(row); });
    connect(recordingList_, &RecordingListView::contextMenuAt, this,
            [this](const QPoint& p) { showListContextMenu(p); });

    // 11. Rate and zoom labels; readouts, graph and map host come from the displays.
    auto makeLabel = [this](int id, const QString& text, const QRect& geometry) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::number(id));
        l->setGeometry(geometry);
        l->setAlignment(Qt::AlignCenter);
        l->setFont(SkinRegistry::instance().font(skin::kFontList));
        // Light text on the dark strip; the skin's label tone 0x3A3C44 is the strip itself.
        l->setStyleSheet(QStringLiteral("color: #d7dee6; background: transparent;"));
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->show();
        return l;
    };
    zoomLabel_ = makeLabel(ctl::kZoomLabel, QStringLiteral("1.0x"), {242, 606, 30, 18});
    {
        // The widest zoom text ("1.95x") fits the 30-pixel label in a slightly smaller font.
        QFont f = zoomLabel_->font();
        while (f.pixelSize() > 9 &&
               QFontMetrics(f).horizontalAdvance(QStringLiteral("1.95x")) > zoomLabel_->width())
            f.setPixelSize(f.pixelSize() - 1);
        zoomLabel_->setFont(f);
    }
    rateLabel_ = makeLabel(ctl::kRateLabel, QStringLiteral("1x"), {157, 606, 29, 18});
    createDisplays();

    // 12. Tabs in the Recordings state.
    setTabs(PanelView::Recordings);
    if (rearPane_)
        rearPane_->raise();
    (void)reg;
}

QWidget* MainWindow::control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

SkinButton* MainWindow::button(int id) const {
    return findChild<SkinButton*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void MainWindow::setTabs(PanelView view) {
    // Record tab: the selected look is slice 1; Information tab the same.
    const bool records = view == PanelView::Recordings;
    if (auto* r = button(ctl::kRecordTab))
        r->setTabState(records ? 1 : 0, records ? 0 : 1);
    if (auto* i = button(ctl::kInformationTab))
        i->setTabState(records ? 0 : 1, records ? 1 : 0);
}

void MainWindow::showRecordingsPanel() {
    panelView_ = PanelView::Recordings;
    setTabs(PanelView::Recordings);
    recordingList_->setGeometry(680, 85, 322, 298);
    recordingList_->show();
    for (QWidget* w : std::initializer_list<QWidget*>{mapHost_, speedReadout_, precisionReadout_,
                                                      satellitesReadout_})
        if (w)
            w->hide();
}

void MainWindow::showInformationPanel() {
    panelView_ = PanelView::Information;
    setTabs(PanelView::Information);
    recordingList_->hide();
    if (mapHost_)
        mapHost_->show();
    for (QLabel* w : {speedReadout_, precisionReadout_, satellitesReadout_})
        if (w)
            w->show();
    const bool first = !informationShownBefore_;
    informationShownBefore_ = true;
    informationPanelShown(first);
}

void MainWindow::setCurrentRow(int row) {
    currentRow_ = row;
    recordingModel_->setCurrentRow(row);
}

int MainWindow::rowCount() const {
    return recordingModel_->rowCount();
}

QString MainWindow::rowFullPath(int row) const {
    const auto* f = recordingModel_->row(row);
    return f ? QString::fromStdString(f->fullPath) : QString();
}

QChar MainWindow::rowChannel(int row) const {
    const auto* f = recordingModel_->row(row);
    return f && f->channel ? QChar(static_cast<char16_t>(f->channel)) : QChar();
}

QString MainWindow::rowFileName(int row) const {
    const auto* f = recordingModel_->row(row);
    return f ? QString::fromStdString(f->name) : QString();
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
            playback_->rewind(seekBar_->position());
            return;
        case ctl::kPlay:
            playback_->play();
            return;
        case ctl::kPause:
            playback_->pause();
            return;
        case ctl::kFastForward:
            playback_->fastForward(seekBar_->position());
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
            jumpToEvent(-1);
            return;
        case ctl::kNextEvent:
            jumpToEvent(+1);
            return;
        case ctl::kCopyCommand:
            copySelectedRecordings();
            return;
    }
}

bool MainWindow::handleKey(int key) {
    const KeyAction action = keyActionFor(key);
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
                return handleKey(static_cast<QKeyEvent*>(e)->key());
            break;
        case QEvent::ShortcutOverride:
            if (w->window() == this) {
                e->accept();  // no shortcut fires either: the key-down comes to us
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (frontPane_ && (w == frontPane_ || frontPane_->isAncestorOf(w)) &&
                !frontPane_->hasFocus())
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
            openNextRecording();
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

// ---- painting and mouse ------------------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const auto& reg = SkinRegistry::instance();
    p.fillRect(rect(), QColor(0x11, 0x13, 0x17));
    if (!isFullScreenMode()) {
        if (auto* img = reg.image(skin::kBackground))
            img->draw(p, {0, 0});
        if (auto* img = reg.image(skin::kTitle))
            img->draw(p, {285, 0});
        if (auto* img = reg.image(skin::kPanel))
            img->draw(p, {678, 323});
    } else {
        // The window covers its monitor now: its own size is the monitor's.
        if (auto* img = reg.image(skin::kStretchBackground))
            img->drawStretched(p, rect());
        if (auto* img = reg.image(skin::kTitle))
            img->draw(p, {width() / 2 - 226, 0});
        if (auto* img = reg.image(skin::kControlPanel))
            img->draw(p, {width() / 2 - 328, height() - 90});
    }
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
    // The whole background drags the window, except in full screen. The drag starts only once the
    // pointer moves, so a double click on the background still reaches the window.
    if (e->button() == Qt::LeftButton && !isFullScreenMode()) {
        dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
        dragStart_ = e->globalPosition().toPoint();
        systemMoveTried_ = false;
        return;
    }
    QWidget::mousePressEvent(e);
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
    if (dragOffset_ && (e->buttons() & Qt::LeftButton) && !isFullScreenMode()) {
        const QPoint global = e->globalPosition().toPoint();
        if (!systemMoveTried_) {
            if ((global - dragStart_).manhattanLength() < QApplication::startDragDistance())
                return;
            systemMoveTried_ = true;
            // The window manager moves the window where it can (and must, on Wayland).
            if (windowHandle() && windowHandle()->startSystemMove()) {
                dragOffset_.reset();
                return;
            }
        }
        move(global - *dragOffset_);
        return;
    }
    QWidget::mouseMoveEvent(e);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        dragOffset_.reset();
    QWidget::mouseReleaseEvent(e);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        toggleFullScreen(0);
        return;
    }
    QWidget::mouseDoubleClickEvent(e);
}

void MainWindow::wheelEvent(QWheelEvent* e) {
    playback_->zoom(e->angleDelta().y() > 0 ? +1 : -1);
    e->accept();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    // Only the Close button ends the viewer; the window manager's close request is ignored.
    if (!closing_)
        e->ignore();
}

void MainWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
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
    displayTimer_.stop();
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
    displayTimer_.stop();
    // Nothing queued for the window may reach the players once they are gone.
    QCoreApplication::removePostedEvents(this);
    if (playback_)
        playback_->shutdown();
    if (!mapPagePath_.isEmpty()) {
        QFile::remove(mapPagePath_);
        mapPagePath_.clear();
    }
    qApp->removeEventFilter(this);
}

}  // namespace orvik::shell
