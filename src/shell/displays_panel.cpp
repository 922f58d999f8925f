#include "shell/displays_panel.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>
#include <functional>

#include "displays/gsensor_graph.h"
#include "displays/map_host.h"
#include "displays/map_view.h"
#include "platform/store.h"
#include "playback/playback_controller.h"
#include "shell/control_ids.h"
#include "shell/skin.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

namespace {

// The viewer ini's key for the chosen speed unit.
constexpr std::string_view kSpeedUnitKey = "speedUnit";

// Calls `click` when the left button is released over the watched widget.
class ClickFilter : public QObject {
  public:
    ClickFilter(QObject* parent, std::function<void()> click)
        : QObject(parent), click_(std::move(click)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
            return true;  // not a window drag
        }
        if (e->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->rect().contains(static_cast<QMouseEvent*>(e)->position().toPoint()))
                click_();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    std::function<void()> click_;
};

}  // namespace

DisplaysPanel::DisplaysPanel(QWidget* window, playback::PlaybackController& playback)
    : QObject(window), playback_(playback) {
    graph_ = new displays::GSensorGraph(window);
    graph_->setObjectName(QString::number(ctl::kGSensorGraph));
    graph_->setReadoutFont(SkinRegistry::instance().font(skin::kFontLarge));
    graph_->setSamples(&playback_.track().accelSamples());
    graph_->show();

    speed_ =
        makeReadout(window, ctl::kSpeedReadout, displays::kInitialSpeedText, {700, 338, 100, 30});
    precision_ = makeReadout(window, ctl::kPrecisionReadout, displays::kInitialPrecisionText,
                             {912, 329, 70, 22});
    satellites_ = makeReadout(window, ctl::kSatellitesReadout, displays::kInitialSatellitesText,
                              {912, 356, 70, 22});

    mapHost_ = new displays::MapHost(window);
    mapHost_->setObjectName(QString::number(ctl::kMapHost));
    mapHost_->setGeometry(displays::MapHost::kMainX, displays::MapHost::kMainY,
                          displays::MapHost::kMainWidth, displays::MapHost::kMainHeight);
    mapHost_->hide();
    mapView_ = std::make_unique<displays::MapView>(*mapHost_);
    mapHost_->callPageFunction(QStringLiteral("setOfflineText"),
                               {ui_common::uiText(strings::shell::kMapOffline)});

    speedDisplay_ = displays::speedDisplayFromName(platform::viewerSetting(kSpeedUnitKey));
    speed_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    speed_->setCursor(Qt::PointingHandCursor);
    speed_->setToolTip(ui_common::uiText(strings::trips::kSpeedUnitTip));
    speed_->installEventFilter(new ClickFilter(this, [this] { toggleSpeedUnit(); }));

    displayTimer_.setInterval(playback::kDisplayTimerMs);
    connect(&displayTimer_, &QTimer::timeout, this, [this] { tick(); });
    using playback::PlaybackController;
    connect(&playback_, &PlaybackController::displayTimerWanted, this, [this](bool run) {
        if (run)
            displayTimer_.start();
        else
            displayTimer_.stop();
    });
    connect(&playback_, &PlaybackController::cursorMoved, this, [this](std::size_t cursor) {
        graph_->setCursor(static_cast<std::int32_t>(std::min<std::size_t>(cursor, INT32_MAX)));
    });
    connect(&playback_, &PlaybackController::telemetryCleared, this,
            [this] { telemetryCleared(); });
    connect(&playback_, &PlaybackController::telemetryRead, this, [this] { telemetryRead(); });
}

DisplaysPanel::~DisplaysPanel() = default;

QLabel* DisplaysPanel::makeReadout(QWidget* window, int id, const char* text,
                                   const QRect& geometry) {
    auto* l = new QLabel(QString::fromLatin1(text), window);
    l->setObjectName(QString::number(id));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(QStringLiteral("color: #e8eef5; background: transparent;"));
    l->setFont(SkinRegistry::instance().font(skin::kFontLarge));
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    l->hide();
    return l;
}

void DisplaysPanel::loadMapPage() {
    if (mapHost_->loadPage())
        mapPagePath_ = mapHost_->writtenPagePath();
    mapHost_->hide();
}

void DisplaysPanel::removeMapPage() {
    if (!mapPagePath_.isEmpty()) {
        QFile::remove(mapPagePath_);
        mapPagePath_.clear();
    }
}

void DisplaysPanel::showInformation(bool shown) {
    for (QWidget* w : std::initializer_list<QWidget*>{mapHost_, speed_, precision_, satellites_})
        w->setVisible(shown);
}

void DisplaysPanel::showGraph(bool shown) {
    graph_->setVisible(shown);
}

void DisplaysPanel::setMapVisible(bool visible) {
    mapView_->setShown(visible);
}

void DisplaysPanel::stop() {
    displayTimer_.stop();
}

void DisplaysPanel::show(const displays::InformationUpdate& update) {
    if (withoutPositions_) {
        blankReadouts();
        return;
    }
    auto set = [](QLabel* label, const std::optional<std::string>& text) {
        if (text) {
            label->setText(QString::fromStdString(*text));
            label->update();
        }
    };
    set(speed_, update.speed);
    set(precision_, update.precision);
    set(satellites_, update.satellites);
    if (update.map)
        mapView_->update(update.map->longitude, update.map->latitude);
}

void DisplaysPanel::blankReadouts() {
    for (QLabel* l : {speed_, precision_, satellites_})
        l->clear();
}

void DisplaysPanel::telemetryCleared() {
    graph_->reset();
    speed_->setText(QString::fromStdString(displays::speedText(0, 0, speedDisplay_)));
    precision_->setText(QString::fromLatin1(displays::kInitialPrecisionText));
    satellites_->setText(QString::fromLatin1(displays::kInitialSatellitesText));
}

void DisplaysPanel::telemetryRead() {
    // The graph lays itself out for the new sample count, its cursor back on the first one.
    graph_->reset();
    const auto& fixes = playback_.track().fixes();
    mapView_->setRoute(displays::routeJson(fixes));
    withoutPositions_ = !displays::anyPosition(fixes);
    // Without a single position there is no place or speed to show: an empty readout and no
    // marker rather than a made-up "0 Km/h" at the map's last place.
    if (withoutPositions_) {
        blankReadouts();
        mapView_->clearMarker();
    }
}

void DisplaysPanel::tick() {
    displays::PlaybackMoment moment;
    moment.frontRunning = playback_.running();
    moment.seekPosition = playback_.position().units();
    moment.seekMaximum = playback_.length().units();
    moment.graphCursor = graph_->cursor();
    const auto& track = playback_.track();
    show(displays::refreshInformation(track.fixes(), track.nmeaSnapshots(), moment, speedDisplay_));
}

void DisplaysPanel::informationShown(bool firstTime, bool mapVisible) {
    if (firstTime)
        mapHost_->navigateAgain();
    setMapVisible(mapVisible);
    const auto& track = playback_.track();
    show(displays::sampleInformation(track.fixes(), track.nmeaSnapshots(),
                                     playback_.position().units(), playback_.length().units(),
                                     speedDisplay_));
}

void DisplaysPanel::refreshSpeedReadout() {
    if (withoutPositions_) {
        blankReadouts();
        return;
    }
    const auto& track = playback_.track();
    const auto update = displays::sampleInformation(track.fixes(), track.nmeaSnapshots(),
                                                    playback_.position().units(),
                                                    playback_.length().units(), speedDisplay_);
    const std::string text =
        update.speed ? *update.speed : displays::speedText(0, 0, speedDisplay_);
    speed_->setText(QString::fromStdString(text));
    speed_->update();
}

void DisplaysPanel::toggleSpeedUnit() {
    const auto& fixes = playback_.track().fixes();
    const std::int32_t recorded = fixes.empty() ? 0 : fixes.front().speedUnitCode;
    speedDisplay_ = displays::toggledSpeedDisplay(speedDisplay_, recorded);
    platform::storeViewerSetting(kSpeedUnitKey, displays::speedDisplayName(speedDisplay_));
    // Shown at once, for the moment on screen.
    refreshSpeedReadout();
}

}  // namespace orvik::shell
