// Playing a recording and showing its telemetry: opening a recording with its partner, the
// transport strip, the timers' work, full screen, and the displays (graph, readouts, map).
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScreen>
#include <memory>

#include "displays/gsensor_graph.h"
#include "displays/info_panel.h"
#include "displays/map_host.h"
#include "displays/map_view.h"
#include "platform/strings.h"
#include "playback/media_player.h"
#include "playback/transport.h"
#include "playback/video_pane.h"
#include "playback/window_messages.h"
#include "recordings/telemetry.h"
#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "shell/recording_list.h"
#include "shell/skin.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

using playback::Channel;
using playback::ChannelMode;
using playback::ChannelView;
using playback::MediaPlayer;
using playback::MediaTime;
using PlayerState = playback::PlaybackState;
using playback::VideoPane;
using playback::VideoRect;

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

QRect toQRect(const VideoRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}
VideoRect wholePicture(int width, int height) {
    return VideoRect{0, 0, width, height};
}
VideoRect clientRect(const QWidget* w) {
    return VideoRect{0, 0, w->width(), w->height()};
}

QRect placementRect(const playback::Placement& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

// The partner of a recording: the character at length - 5 (the channel letter before ".mp4")
// becomes 'R' for a front row and 'F' otherwise.
QString partnerPath(const QString& path, bool isFront) {
    QString partner = path;
    if (partner.size() >= 5) {
        partner[partner.size() - 5] = isFront ? QLatin1Char('R') : QLatin1Char('F');
    }
    return partner;
}

}  // namespace

// ---- state -------------------------------------------------------------------------------------

// Everything playback keeps for the window's life, with the steps that act on several of its
// parts at once. Nested in MainWindow, so it reaches the window's panes, sliders and labels.
// The results of control calls (stop, seek, rate, volume, repaint) are dropped with `(void)`:
// they fail only without an open file, and the window already shows that state.
struct MainWindow::PlaybackState {
    explicit PlaybackState(MainWindow& window) : w(window) {}

    MainWindow& w;
    recordings::TelemetryTrack track;
    // The players are the window's (frontPlayer_, rearPlayer_); rebuilt for every recording.
    MediaPlayer* front() const { return w.frontPlayer_; }
    MediaPlayer* rear() const { return w.rearPlayer_; }
    ChannelMode mode = ChannelMode::Both;
    bool swapped = false;
    bool fullScreenSinglePane = false;
    bool doubleSpeed = false;
    ChannelView frontView;
    ChannelView rearView;
    QRect savedWindowRect;
    QRect savedFrontPaneRect;
    QRect savedRearPaneRect;
    QRect fullScreenPaneRect;
    QRect monitorRect;
    bool frontPaneShown = false;
    bool volumeSetOnce = false;

    displays::GSensorGraph* graph = nullptr;
    displays::MapHost* mapHost = nullptr;
    std::unique_ptr<displays::MapView> mapView;

    // -- panes and players --

    void destroyPlayers() {
        if (w.frontPane_) {
            w.frontPane_->setPlayer(nullptr);
        }
        if (w.rearPane_) {
            w.rearPane_->setPlayer(nullptr);
        }
        for (MediaPlayer** player : {&w.frontPlayer_, &w.rearPlayer_}) {
            if (*player) {
                (void)(*player)->CloseFile();
                (void)(*player)->TearDownGraph();
                delete *player;
                *player = nullptr;
            }
        }
    }

    void createPlayers() {
        destroyPlayers();
        w.frontPlayer_ = new MediaPlayer(w.frontPane_);
        w.frontPlayer_->SetEventWindow(&w, playback::WM_GRAPH_EVENT);
        (void)w.frontPlayer_->InitializeGraph();
        w.rearPlayer_ = new MediaPlayer(w.rearPane_);
        (void)w.rearPlayer_->InitializeGraph();
        if (w.frontPane_) {
            w.frontPane_->setChannel(VideoPane::kFrontChannel);
            w.frontPane_->setPlayer(w.frontPlayer_);
        }
        if (w.rearPane_) {
            w.rearPane_->setChannel(VideoPane::kRearChannel);
            w.rearPane_->setPlayer(w.rearPlayer_);
        }
    }

    // The front player, and the rear one while both channels play.
    template <typename F>
    void forPlayers(F&& f) {
        if (front()) {
            f(*front());
        }
        if (rear() && mode == ChannelMode::Both) {
            f(*rear());
        }
    }

    MediaTime frontDuration() const {
        MediaTime d = 0;
        if (!front() || failed(front()->GetDuration(&d))) {
            return 0;
        }
        return d;
    }

    std::size_t sampleCount() const { return track.rawAccel().size(); }

    void setCursor(std::size_t cursor) {
        if (graph) {
            graph->setCursor(static_cast<std::int32_t>(std::min<std::size_t>(cursor, INT32_MAX)));
        }
    }

    // Seeks the front player, and the rear one while both play, and moves the bar and cursor.
    void seekTo(MediaTime t) {
        forPlayers([t](MediaPlayer& p) { (void)p.SetPosition(t); });
        w.seekBar_->setPosition(t);
        setCursor(playback::cursorForPosition(sampleCount(), t, w.seekBar_->maximum()));
    }

    // -- panes and pictures --

    QWidget* paneWidget(Channel c) const {
        return c == Channel::Front ? w.frontPaneWidget_ : w.rearPaneWidget_;
    }
    MediaPlayer* player(Channel c) const { return c == Channel::Front ? front() : rear(); }
    ChannelView& view(Channel c) { return c == Channel::Front ? frontView : rearView; }

    void showWholePicture(Channel c) {
        MediaPlayer* p = player(c);
        QWidget* pane = paneWidget(c);
        if (!p || !pane) {
            return;
        }
        const ChannelView& v = view(c);
        const VideoRect source = wholePicture(v.nativeWidth, v.nativeHeight);
        const VideoRect destination = clientRect(pane);
        (void)p->UpdateVideoWindow(v.nativeWidth > 0 ? &source : nullptr, &destination);
    }

    void applySourceRect(Channel c) {
        MediaPlayer* p = player(c);
        QWidget* pane = paneWidget(c);
        if (!p || !pane) {
            return;
        }
        const VideoRect source = playback::sourceRectangle(view(c), pane->width(), pane->height());
        const VideoRect destination = clientRect(pane);
        (void)p->UpdateVideoWindow(source.isEmpty() ? nullptr : &source, &destination);
        pane->update();
    }

    void fitScalesToWidth() {
        for (Channel c : {Channel::Front, Channel::Rear}) {
            ChannelView& v = view(c);
            const QWidget* pane = paneWidget(c);
            v.scale = v.minScale = playback::fitScale(pane ? pane->width() : 0, v.nativeWidth);
        }
    }

    void fitScalesToHeight(int height) {
        for (Channel c : {Channel::Front, Channel::Rear}) {
            ChannelView& v = view(c);
            v.scale = v.minScale = playback::fullScreenFitScale(height, v.nativeHeight);
        }
    }

    void resetPans() { frontView.panX = frontView.panY = rearView.panX = rearView.panY = 0; }

    bool frontIsLarge() const { return mode != ChannelMode::Both || !swapped; }

    void setZoomLabel(double scale) {
        w.zoomLabel_->setText(QString::fromStdString(playback::zoomLabel(scale)));
    }

    void setRate(bool twice) {
        w.rateLabel_->setText(QString::fromStdString(playback::rateLabel(twice)));
    }

    // Exactly one of Play and Pause shows: Pause while the front player runs.
    void syncPlayPause() {
        auto* play = w.button(ctl::kPlay);
        auto* pause = w.button(ctl::kPause);
        if (!play || !pause || !front()) {
            return;
        }
        const auto s = front()->GetState();
        if (s == PlayerState::Running) {
            pause->show();
            play->hide();
        } else if (s == PlayerState::Paused) {
            play->show();
            pause->hide();
        }
    }

    void placePanesNormally() {
        const bool frontLarge = frontIsLarge();
        if (w.frontPaneWidget_) {
            w.frontPaneWidget_->setGeometry(frontLarge ? kLargePane : kSmallPane);
        }
        if (w.rearPaneWidget_) {
            w.rearPaneWidget_->setGeometry(frontLarge ? kSmallPane : kLargePane);
        }
    }

    void zoom(int direction) {
        if (!front()) {
            return;
        }
        const bool frontVisible = w.frontPaneWidget_ && w.frontPaneWidget_->isVisible();
        const Channel c = playback::zoomTarget(w.fullScreen_, frontVisible, mode, swapped);
        ChannelView& v = view(c);
        v.scale = playback::zoomedScale(v.scale, v.minScale, direction);
        applySourceRect(c);
        setZoomLabel(v.scale);
    }

    // -- the map --

    void syncMapShown() {
        if (mapView) {
            mapView->setShown(w.panelView_ == PanelView::Information && !w.fullScreen_);
        }
    }

    void showInformation(const displays::InformationUpdate& update) {
        auto set = [](QWidget* label, const std::optional<std::string>& text) {
            if (auto* l = qobject_cast<QLabel*>(label); l && text) {
                l->setText(QString::fromStdString(*text));
                l->update();
            }
        };
        set(w.speedReadout_, update.speed);
        set(w.precisionReadout_, update.precision);
        set(w.satellitesReadout_, update.satellites);
        if (update.map && mapView) {
            mapView->update(update.map->longitude, update.map->latitude);
        }
    }

    static constexpr QRect kLargePane{15, 56, 646, 363};
    static constexpr QRect kSmallPane{678, 384, 326, 246};
};

void MainWindow::PlaybackStateDeleter::operator()(PlaybackState* p) const {
    delete p;
}

// ---- displays ----------------------------------------------------------------------------------

void MainWindow::createDisplays() {
    if (!playback_) {
        playback_.reset(new PlaybackState(*this));
    }
    auto& state = *playback_;

    auto* graph = new displays::GSensorGraph(this);
    graph->setObjectName(QString::number(ctl::kGSensorGraph));
    graph->setReadoutFont(SkinRegistry::instance().font(skin::kFontLarge));
    graph->setSamples(&state.track.accelSamples());
    graph->show();
    state.graph = graph;
    gsensorGraph_ = graph;

    auto readout = [this](int id, const char* text, const QRect& geometry) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(QString::number(id));
        l->setGeometry(geometry);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QStringLiteral("color: #e8eef5; background: transparent;"));
        l->setFont(SkinRegistry::instance().font(skin::kFontLarge));
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->hide();
        return l;
    };
    speedReadout_ = readout(ctl::kSpeedReadout, displays::kInitialSpeedText, {700, 338, 100, 30});
    precisionReadout_ =
        readout(ctl::kPrecisionReadout, displays::kInitialPrecisionText, {912, 329, 70, 22});
    satellitesReadout_ =
        readout(ctl::kSatellitesReadout, displays::kInitialSatellitesText, {912, 356, 70, 22});

    auto* host = new displays::MapHost(this);
    host->setObjectName(QString::number(ctl::kMapHost));
    host->setGeometry(displays::MapHost::kMainX, displays::MapHost::kMainY,
                      displays::MapHost::kMainWidth, displays::MapHost::kMainHeight);
    host->hide();
    state.mapHost = host;
    state.mapView = std::make_unique<displays::MapView>(*host);
    mapHost_ = host;
}

void MainWindow::initPlayback() {
    if (!playback_) {
        playback_.reset(new PlaybackState(*this));
    }
    auto& state = *playback_;
    state.createPlayers();
    (void)state.front()->SetVolume(playback::volumeForSliderPosition(
        static_cast<int>(volumeSlider_ ? volumeSlider_->position() : 50)));
    if (state.mapHost) {
        if (state.mapHost->loadPage()) {
            mapPagePath_ = state.mapHost->writtenPagePath();
        }
        state.mapHost->hide();
    }
}

void MainWindow::shutdownPlayback() {
    if (!playback_) {
        return;
    }
    positionTimer_.stop();
    displayTimer_.stop();
    playback_->destroyPlayers();
}

// ---- opening a recording -----------------------------------------------------------------------

bool MainWindow::openRecordingFile(const QString& path, bool isFront) {
    auto& s = *playback_;
    displayTimer_.stop();

    s.createPlayers();
    for (MediaPlayer* p : {s.front(), s.rear()}) {
        (void)p->SetRate(1.0);
    }
    s.doubleSpeed = false;
    s.setRate(false);
    for (MediaPlayer* p : {s.front(), s.rear()}) {
        (void)p->Stop();
        if (p->CanSeek()) {
            (void)p->SetPosition(0);
        }
        (void)p->SetMute(false);
    }

    if (fullScreen_) {
        frontPaneWidget_->show();
        rearPaneWidget_->hide();
        frontPaneWidget_->setGeometry(s.fullScreenPaneRect);
    } else {
        frontPaneWidget_->setGeometry(PlaybackState::kLargePane);
        rearPaneWidget_->setGeometry(PlaybackState::kSmallPane);
        s.savedFrontPaneRect = PlaybackState::kLargePane;
        s.savedRearPaneRect = PlaybackState::kSmallPane;
    }

    disableSeekBar();
    if (path.isEmpty()) {
        return true;
    }

    QString frontPath = path;
    QString rearPath = partnerPath(path, isFront);
    if (!QFileInfo::exists(rearPath)) {
        rearPath.clear();
        s.mode = isFront ? ChannelMode::FrontOnly : ChannelMode::RearOnly;
    } else {
        if (!isFront) {
            std::swap(frontPath, rearPath);
        }
        s.swapped = false;
        s.mode = ChannelMode::Both;
    }

    s.track.reset();
    seekBar_->setRange(0, 0);
    seekBar_->setPosition(0);
    s.graph->reset();
    if (auto* l = qobject_cast<QLabel*>(precisionReadout_)) {
        l->setText(QString::fromLatin1(displays::kInitialPrecisionText));
    }
    if (auto* l = qobject_cast<QLabel*>(satellitesReadout_)) {
        l->setText(QString::fromLatin1(displays::kInitialSatellitesText));
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A recording without readable telemetry still plays: the track stays empty and the
    // displays show no data.
    (void)s.track.readRecording(frontPath.toStdString());
    QApplication::restoreOverrideCursor();
    s.syncMapShown();
    s.mapView->setRoute(displays::routeJson(s.track.fixes()));

    auto fail = [this](HResult hr) {
        ui_common::showMessage(this, ui_common::MessageIcon::Warning, windowTitle(),
                               openFailureText(hr));
        return false;
    };
    std::int32_t width = 0, height = 0;
    if (s.mode == ChannelMode::RearOnly) {
        (void)s.rear()->Stop();
        if (const HResult hr = s.front()->OpenFile(frontPath.toStdString()); failed(hr)) {
            return fail(hr);
        }
        if (succeeded(s.front()->GetNativeVideoSize(&width, &height))) {
            s.frontView.nativeWidth = width;
            s.frontView.nativeHeight = height;
            s.swapped = true;
            if (rearPane_) {
                rearPane_->setHasVideo(false);
            }
            rearPaneWidget_->update();
            startOfPlayback();
        }
    } else {
        if (const HResult hr = s.front()->OpenFile(frontPath.toStdString()); failed(hr)) {
            return fail(hr);
        }
        if (succeeded(s.front()->GetNativeVideoSize(&width, &height))) {
            s.frontView.nativeWidth = width;
            s.frontView.nativeHeight = height;
            if (s.mode == ChannelMode::FrontOnly) {
                if (rearPane_) {
                    rearPane_->setHasVideo(false);
                }
                rearPaneWidget_->update();
            } else {
                if (failed(s.rear()->OpenFile(rearPath.toStdString()))) {
                    // A damaged rear partner does not keep the front from playing: the rear
                    // pane stays empty, as for a recording without one.
                    if (rearPane_) {
                        rearPane_->setHasVideo(false);
                    }
                    rearPaneWidget_->update();
                } else {
                    if (succeeded(s.rear()->GetNativeVideoSize(&width, &height))) {
                        s.rearView.nativeWidth = width;
                        s.rearView.nativeHeight = height;
                    }
                    (void)s.rear()->SetMute(true);  // the rear sound is never heard
                }
            }
            startOfPlayback();
        }
    }
    s.graph->reset();
    return true;
}

void MainWindow::disableSeekBar() {
    seekBar_->setPosition(0);
    seekBar_->setEnabled(false);
    positionTimer_.stop();
}

void MainWindow::startOfPlayback() {
    auto& s = *playback_;
    if (fullScreen_) {
        s.fitScalesToHeight(s.fullScreenPaneRect.height());
    } else {
        s.fitScalesToWidth();
    }
    s.resetPans();
    s.setZoomLabel(s.frontIsLarge() ? s.frontView.scale : s.rearView.scale);

    s.showWholePicture(Channel::Front);
    s.showWholePicture(Channel::Rear);
    s.applySourceRect(Channel::Front);
    s.applySourceRect(Channel::Rear);

    if (!s.frontPaneShown) {
        frontPaneWidget_->show();
        s.frontPaneShown = true;
    }
    s.forPlayers([](MediaPlayer& p) { (void)p.Play(); });

    if (s.front()->CanSeek()) {
        seekBar_->setEnabled(true);
        seekBar_->setRange(0, s.frontDuration());
        seekBar_->setPosition(0);
        positionTimer_.start(kPositionTimerMs);
    } else {
        disableSeekBar();
    }
    s.syncPlayPause();

    if (!s.volumeSetOnce) {
        volumeSlider_->setPosition(50);
        s.volumeSetOnce = true;
    }
    (void)s.front()->SetVolume(
        playback::volumeForSliderPosition(static_cast<int>(volumeSlider_->position())));
    if (s.mode != ChannelMode::RearOnly) {
        (void)s.rear()->SetMute(true);
    }
    if (!s.track.fixes().empty()) {
        displayTimer_.start(kDisplayTimerMs);
    }
}

void MainWindow::openRecording(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    setCurrentRow(row);
    const QString path = rowFullPath(row).left(260);
    if (!path.isEmpty()) {
        openRecordingFile(path, rowChannel(row) == QLatin1Char('F'));
        if (playback_->mode == ChannelMode::Both) {
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
    const QString path = rowFullPath(row).left(260);
    if (path.isEmpty()) {
        return;
    }
    selectAndFocusRow(row);
    openRecordingFile(path, rowChannel(row) == QLatin1Char('F'));
    recordingList_->viewport()->update();
    if (playback_->mode == ChannelMode::Both) {
        setCurrentRow(currentRow_ + 1);
    }
}

void MainWindow::openPreviousRecording() {
    if (currentRow_ <= 0) {
        return;
    }
    const int row = currentRow_ - 1;
    setCurrentRow(row);
    const QString path = rowFullPath(row).left(260);
    if (path.isEmpty()) {
        return;
    }
    selectAndFocusRow(row);
    openRecordingFile(path, rowChannel(row) == QLatin1Char('F'));
    recordingList_->viewport()->update();
}

void MainWindow::onDemoCardListed() {
    if (rowCount() > 0) {
        openRecording(0);
    }
}

// ---- transport commands ------------------------------------------------------------------------

void MainWindow::playCommand() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    s.forPlayers([](MediaPlayer& p) { (void)p.Play(); });
    button(ctl::kPause)->show();
    button(ctl::kPlay)->hide();
}

void MainWindow::pauseCommand() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    s.forPlayers([](MediaPlayer& p) { (void)p.Pause(); });
    button(ctl::kPlay)->show();
    button(ctl::kPause)->hide();
    s.doubleSpeed = false;
}

void MainWindow::rewindCommand() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    s.seekTo(playback::rewindTarget(seekBar_->position()));
    s.doubleSpeed = false;
}

void MainWindow::fastForwardCommand() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    s.seekTo(playback::fastForwardTarget(seekBar_->position(), s.frontDuration()));
    s.doubleSpeed = false;
}

void MainWindow::speedUpCommand() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    if (!s.doubleSpeed) {
        s.forPlayers([](MediaPlayer& p) { (void)p.SetRate(2.0); });
        s.doubleSpeed = true;
    }
    s.setRate(true);
}

void MainWindow::speedDownCommand() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    if (s.doubleSpeed) {
        s.forPlayers([](MediaPlayer& p) { (void)p.SetRate(1.0); });
        s.doubleSpeed = false;
    }
    s.setRate(false);
}

void MainWindow::zoomInCommand() {
    playback_->zoom(+1);
}
void MainWindow::zoomOutCommand() {
    playback_->zoom(-1);
}
void MainWindow::mouseWheelZoom(int delta) {
    playback_->zoom(delta > 0 ? +1 : -1);
}

void MainWindow::swapCommand() {
    auto& s = *playback_;
    if (!s.front() || s.mode != ChannelMode::Both) {
        return;
    }
    if (!fullScreen_) {
        s.swapped = !s.swapped;
        s.placePanesNormally();
        s.showWholePicture(Channel::Front);
        s.showWholePicture(Channel::Rear);
        s.fitScalesToWidth();
    } else {
        QWidget* shown = s.swapped ? rearPaneWidget_ : frontPaneWidget_;
        QWidget* other = s.swapped ? frontPaneWidget_ : rearPaneWidget_;
        shown->hide();
        other->setGeometry(s.fullScreenPaneRect);
        other->show();
        s.swapped = !s.swapped;
        s.showWholePicture(s.swapped ? Channel::Rear : Channel::Front);
        s.fitScalesToHeight(s.fullScreenPaneRect.height());
    }
    s.resetPans();
    s.setZoomLabel(s.swapped ? s.rearView.minScale : s.frontView.scale);
    frontPaneWidget_->update();
    rearPaneWidget_->update();
    s.applySourceRect(Channel::Front);
    s.applySourceRect(Channel::Rear);
}

void MainWindow::fullScreenCommand() {
    toggleFullScreen(playback::fullScreenPaneSelector(playback_->mode, playback_->swapped));
}

void MainWindow::maximizeCommand() {
    fullScreenCommand();
}

void MainWindow::toggleFullScreen(int pane) {
    auto& s = *playback_;
    if (!s.front() || s.front()->GetState() == PlayerState::Stopped ||
        s.front()->GetState() == PlayerState::NoGraph) {
        return;
    }
    QScreen* monitor = screen() ? screen() : QGuiApplication::primaryScreen();
    // Ids of the strip and the caption buttons that move between the two layouts.
    static constexpr int kMoved[] = {
        ctl::kFullScreen, ctl::kRewind,    ctl::kPlay,    ctl::kPause,  ctl::kFastForward,
        ctl::kSpeedUp,    ctl::kSpeedDown, ctl::kZoomOut, ctl::kZoomIn, ctl::kSwap,
        ctl::kRateLabel,  ctl::kZoomLabel, ctl::kSeekBar, ctl::kVolume, ctl::kMinimize,
        ctl::kMaximize,   ctl::kClose};

    if (!fullScreen_) {
        s.monitorRect = monitor ? monitor->geometry() : QRect(0, 0, screenWidth_, screenHeight_);
        const int mw = s.monitorRect.width();
        const int mh = s.monitorRect.height();
        fullScreen_ = true;
        s.fullScreenSinglePane = true;
        s.savedWindowRect = geometry();
        s.savedFrontPaneRect = frontPaneWidget_->geometry();
        s.savedRearPaneRect = rearPaneWidget_->geometry();

        for (QWidget* hidden :
             {static_cast<QWidget*>(recordingList_), speedReadout_, precisionReadout_,
              satellitesReadout_, mapHost_, static_cast<QWidget*>(button(ctl::kRecordTab)),
              static_cast<QWidget*>(button(ctl::kInformationTab)),
              static_cast<QWidget*>(s.graph)}) {
            if (hidden) {
                hidden->hide();
            }
        }
        s.syncMapShown();
        for (int id : kMoved) {
            if (QWidget* c = control(id)) {
                if (auto p = playback::fullScreenPlacement(id, mw, mh)) {
                    c->setGeometry(placementRect(*p));
                }
            }
        }
        setGeometry(s.monitorRect);

        const QRect paneRect = toQRect(playback::fullScreenPaneRect(mw, mh));
        if (pane == 1 || pane == 2) {
            QWidget* big = pane == 1 ? frontPaneWidget_ : rearPaneWidget_;
            QWidget* hide = pane == 1 ? rearPaneWidget_ : frontPaneWidget_;
            hide->hide();
            big->setGeometry(paneRect);
            big->show();
            s.fullScreenPaneRect = paneRect;
            s.showWholePicture(pane == 1 ? Channel::Front : Channel::Rear);
        }
        s.fitScalesToHeight(mh);
        s.setZoomLabel(s.frontIsLarge() ? s.frontView.scale : s.rearView.scale);
        zoomInCommand();
        zoomOutCommand();
    } else {
        setGeometry(s.savedWindowRect);
        for (int id : kMoved) {
            if (QWidget* c = control(id)) {
                if (auto p = playback::normalPlacement(id)) {
                    c->setGeometry(placementRect(*p));
                }
            }
        }
        fullScreen_ = false;
        s.fullScreenSinglePane = false;
        button(ctl::kRecordTab)->show();
        button(ctl::kInformationTab)->show();
        if (panelView_ == PanelView::Recordings) {
            recordingList_->show();
        } else {
            for (QWidget* shown :
                 {mapHost_, speedReadout_, precisionReadout_, satellitesReadout_}) {
                if (shown) {
                    shown->show();
                }
            }
        }
        s.graph->show();
        s.syncMapShown();
        frontPaneWidget_->show();
        rearPaneWidget_->show();
        rearPaneWidget_->raise();
        s.placePanesNormally();
        s.fitScalesToWidth();
        s.setZoomLabel(s.frontIsLarge() ? s.frontView.scale : s.rearView.scale);
        s.showWholePicture(Channel::Front);
        s.showWholePicture(Channel::Rear);
        s.applySourceRect(Channel::Front);
        s.applySourceRect(Channel::Rear);
    }
    s.syncPlayPause();
    update();
}

// ---- sliders, keys, panes ----------------------------------------------------------------------

void MainWindow::seekBarReleased() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    const MediaTime duration = s.frontDuration();
    const MediaTime t = seekBar_->position();
    const auto cursor = playback::cursorForSeekRelease(s.sampleCount(), t, duration);
    if (!cursor) {
        return;
    }
    s.setCursor(*cursor);
    s.forPlayers([t](MediaPlayer& p) { (void)p.SetPosition(t); });
}

void MainWindow::volumeSliderReleased() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    (void)s.front()->SetVolume(
        playback::volumeForSliderPosition(static_cast<int>(volumeSlider_->position())));
}

void MainWindow::spaceKey() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    const auto state = s.front()->GetState();
    if (state == PlayerState::Paused) {
        s.forPlayers([](MediaPlayer& p) { (void)p.Play(); });
    } else if (state == PlayerState::Running) {
        s.forPlayers([](MediaPlayer& p) { (void)p.Pause(); });
    }
    // Also in full screen, where the two buttons are on the strip as well.
    s.syncPlayPause();
}

void MainWindow::stepPosition(int direction) {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    MediaTime current = 0;
    (void)s.front()->GetCurrentPosition(&current);
    if (const auto t = playback::arrowStepTarget(current, s.frontDuration(), direction)) {
        s.seekTo(*t);
        if (*t == 0) {
            s.setCursor(0);
        }
    }
}

void MainWindow::panePan(int dx, int dy) {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    const Channel c = playback::panTarget(s.mode, s.swapped);
    ChannelView& v = s.view(c);
    v.panX -= dx;
    v.panY -= dy;
    s.applySourceRect(c);
}

void MainWindow::paneDoubleClick(int channel) {
    if (playback_->mode == ChannelMode::Both || channel == VideoPane::kFrontChannel) {
        toggleFullScreen(channel);
    }
}

void MainWindow::graphEvent() {
    if (playback_->front()) {
        (void)playback_->front()->HandleGraphEvent();
    }
}

// ---- timers ------------------------------------------------------------------------------------

void MainWindow::positionTimerTick() {
    auto& s = *playback_;
    if (!s.front() || s.front()->GetState() != PlayerState::Running) {
        return;
    }
    playback::PositionTickInput in;
    (void)s.front()->GetCurrentPosition(&in.position);
    in.duration = s.frontDuration();
    in.canSeek = s.front()->CanSeek();
    if (MediaTime again = 0; succeeded(s.front()->GetCurrentPosition(&again))) {
        in.reread = again;
    }
    in.seekBarPressed = seekBar_->isPressed();
    in.seekBarMaximum = seekBar_->maximum();
    in.sampleCount = s.sampleCount();
    const auto out = playback::positionTick(in);
    if (out.seekBar) {
        seekBar_->setPosition(*out.seekBar);
    }
    if (out.cursor) {
        s.setCursor(*out.cursor);
    }

    // Keep the rear picture at the moment the front one shows.
    if (s.mode == ChannelMode::Both && s.rear() && s.rear()->GetState() == PlayerState::Running) {
        MediaTime front = 0, rear = 0;
        if (succeeded(s.front()->GetCurrentPosition(&front)) &&
            succeeded(s.rear()->GetCurrentPosition(&rear)) &&
            playback::rearNeedsResync(true, front, rear) && front < in.duration) {
            (void)s.rear()->SetPosition(front);
        }
    }
}

void MainWindow::displayTimerTick() {
    auto& s = *playback_;
    if (!s.front()) {
        return;
    }
    s.syncMapShown();
    displays::PlaybackMoment moment;
    moment.frontRunning = s.front()->GetState() == PlayerState::Running;
    moment.seekPosition = seekBar_->position();
    moment.seekMaximum = seekBar_->maximum();
    moment.graphCursor = s.graph ? s.graph->cursor() : 0;
    s.showInformation(
        displays::refreshInformation(s.track.fixes(), s.track.nmeaSnapshots(), moment));
}

void MainWindow::informationPanelShown(bool firstTime) {
    auto& s = *playback_;
    if (firstTime && s.mapHost) {
        s.mapHost->navigateAgain();
    }
    s.syncMapShown();
    s.showInformation(displays::sampleInformation(s.track.fixes(), s.track.nmeaSnapshots(),
                                                  seekBar_->position(), s.frontDuration()));
}

}  // namespace orvik::shell
