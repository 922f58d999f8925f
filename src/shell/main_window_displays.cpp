// The telemetry displays of the main window: the G-sensor graph, the readouts of the information
// panel and the map. They read the playback owner's track; they never change it.
#include <QLabel>

#include "displays/gsensor_graph.h"
#include "displays/info_panel.h"
#include "displays/map_host.h"
#include "displays/map_view.h"
#include "playback/playback_controller.h"
#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "shell/skin.h"

namespace orvik::shell {

void MainWindow::createDisplays() {
    const auto& track = playback_->track();
    gsensorGraph_ = new displays::GSensorGraph(this);
    gsensorGraph_->setObjectName(QString::number(ctl::kGSensorGraph));
    gsensorGraph_->setReadoutFont(SkinRegistry::instance().font(skin::kFontLarge));
    gsensorGraph_->setSamples(&track.accelSamples());
    gsensorGraph_->show();

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

    mapHost_ = new displays::MapHost(this);
    mapHost_->setObjectName(QString::number(ctl::kMapHost));
    mapHost_->setGeometry(displays::MapHost::kMainX, displays::MapHost::kMainY,
                          displays::MapHost::kMainWidth, displays::MapHost::kMainHeight);
    mapHost_->hide();
    mapView_ = std::make_unique<displays::MapView>(*mapHost_);
}

void MainWindow::loadMapPage() {
    if (!mapHost_) {
        return;
    }
    if (mapHost_->loadPage()) {
        mapPagePath_ = mapHost_->writtenPagePath();
    }
    mapHost_->hide();
}

void MainWindow::telemetryCleared() {
    seekBar_->setRange(0, 0);
    seekBar_->setPosition(0);
    gsensorGraph_->reset();
    precisionReadout_->setText(QString::fromLatin1(displays::kInitialPrecisionText));
    satellitesReadout_->setText(QString::fromLatin1(displays::kInitialSatellitesText));
}

void MainWindow::telemetryRead() {
    // The graph lays itself out for the new sample count, its cursor back on the first one.
    gsensorGraph_->reset();
    syncMapShown();
    mapView_->setRoute(displays::routeJson(playback_->track().fixes()));
}

void MainWindow::syncMapShown() {
    if (mapView_) {
        mapView_->setShown(panelView_ == PanelView::Information && !isFullScreenMode());
    }
}

namespace {

void showInformation(const displays::InformationUpdate& update, QLabel* speed, QLabel* precision,
                     QLabel* satellites, displays::MapView* map) {
    auto set = [](QLabel* label, const std::optional<std::string>& text) {
        if (label && text) {
            label->setText(QString::fromStdString(*text));
            label->update();
        }
    };
    set(speed, update.speed);
    set(precision, update.precision);
    set(satellites, update.satellites);
    if (update.map && map) {
        map->update(update.map->longitude, update.map->latitude);
    }
}

}  // namespace

void MainWindow::displayTimerTick() {
    const auto* front = playback_->frontPlayer();
    if (!front) {
        return;
    }
    syncMapShown();
    displays::PlaybackMoment moment;
    moment.frontRunning = front->GetState() == playback::PlaybackState::Running;
    moment.seekPosition = seekBar_->position();
    moment.seekMaximum = seekBar_->maximum();
    moment.graphCursor = gsensorGraph_ ? gsensorGraph_->cursor() : 0;
    const auto& track = playback_->track();
    showInformation(
        displays::refreshInformation(track.fixes(), track.nmeaSnapshots(), moment, speedDisplay_),
        speedReadout_, precisionReadout_, satellitesReadout_, mapView_.get());
}

void MainWindow::informationPanelShown(bool firstTime) {
    if (firstTime && mapHost_) {
        mapHost_->navigateAgain();
    }
    syncMapShown();
    const auto& track = playback_->track();
    showInformation(
        displays::sampleInformation(track.fixes(), track.nmeaSnapshots(), seekBar_->position(),
                                    playback_->frontDuration(), speedDisplay_),
        speedReadout_, precisionReadout_, satellitesReadout_, mapView_.get());
}

void MainWindow::refreshSpeedReadout() {
    if (!speedReadout_) {
        return;
    }
    const auto& track = playback_->track();
    const auto update =
        displays::sampleInformation(track.fixes(), track.nmeaSnapshots(), seekBar_->position(),
                                    playback_->frontDuration(), speedDisplay_);
    // Without telemetry the readout still shows the chosen unit.
    const std::string text =
        update.speed ? *update.speed : displays::speedText(0, 0, speedDisplay_);
    speedReadout_->setText(QString::fromStdString(text));
    speedReadout_->update();
}

}  // namespace orvik::shell
