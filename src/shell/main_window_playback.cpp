// Playing a recording and showing its telemetry: opening, transport, timers, displays, map.
#include <QLabel>

#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "shell/skin.h"

namespace orvik::shell {

struct MainWindow::PlaybackState {};

void MainWindow::PlaybackStateDeleter::operator()(PlaybackState* p) const {
    delete p;
}

void MainWindow::createDisplays() {
    auto place = [this](QWidget* w, int id, const QRect& geometry, bool shown) {
        w->setObjectName(QString::number(id));
        w->setGeometry(geometry);
        w->setVisible(shown);
        return w;
    };
    gsensorGraph_ = place(new QWidget(this), ctl::kGSensorGraph, {15, 425, 646, 130}, true);
    auto readout = [this, &place](int id, const QString& text, const QRect& geometry) {
        auto* l = new QLabel(text, this);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QStringLiteral("color: #e8eef5; background: transparent;"));
        l->setFont(SkinRegistry::instance().font(skin::kFontLarge));
        return place(l, id, geometry, false);
    };
    speedReadout_ = readout(ctl::kSpeedReadout, QStringLiteral("0 Km/h"), {700, 338, 100, 30});
    precisionReadout_ = readout(ctl::kPrecisionReadout, QStringLiteral("1.0"), {912, 329, 70, 22});
    satellitesReadout_ = readout(ctl::kSatellitesReadout, QStringLiteral("0"), {912, 356, 70, 22});
    mapHost_ = place(new QWidget(this), ctl::kMapHost, {680, 85, 326, 236}, false);
    mapHost_->setStyleSheet(QStringLiteral("background: #1b2027;"));
    mapHost_->setAttribute(Qt::WA_StyledBackground);
}

void MainWindow::initPlayback() {}
void MainWindow::shutdownPlayback() {}
void MainWindow::openRecording(int row) {
    setCurrentRow(row);
}
void MainWindow::openNextRecording() {}
void MainWindow::openPreviousRecording() {}
void MainWindow::onDemoCardListed() {}
void MainWindow::playCommand() {}
void MainWindow::pauseCommand() {}
void MainWindow::rewindCommand() {}
void MainWindow::fastForwardCommand() {}
void MainWindow::speedUpCommand() {}
void MainWindow::speedDownCommand() {}
void MainWindow::zoomInCommand() {}
void MainWindow::zoomOutCommand() {}
void MainWindow::swapCommand() {}
void MainWindow::fullScreenCommand() {}
void MainWindow::maximizeCommand() {}
void MainWindow::toggleFullScreen(int) {}
void MainWindow::seekBarReleased() {}
void MainWindow::volumeSliderReleased() {}
void MainWindow::positionTimerTick() {}
void MainWindow::displayTimerTick() {}
void MainWindow::graphEvent() {}
void MainWindow::panePan(int, int) {}
void MainWindow::paneDoubleClick(int) {}
void MainWindow::mouseWheelZoom(int) {}
void MainWindow::spaceKey() {}
void MainWindow::stepPosition(int) {}
void MainWindow::informationPanelShown(bool) {}

}  // namespace orvik::shell
