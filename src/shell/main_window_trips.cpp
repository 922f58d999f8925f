// Trips in the main window: the whole trip of the playing recording on the map (a click on it
// opens that moment), event marks on the seek bar with previous/next event buttons and pane menu
// entries, the speed unit switched by a click on the readout, and the rear picture's mirror.
// The two choices are kept in the viewer's ini file.
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <cmath>
#include <string>

#include "displays/map_host.h"
#include "displays/map_view.h"
#include "platform/store.h"
#include "platform/strings.h"
#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "shell/skin.h"
#include "trips/ui/trip_navigator.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {

constexpr int kStrPreviousEvent = 66000;
constexpr int kStrNextEvent = 66001;
constexpr int kStrMirror = 66002;
constexpr int kStrSpeedUnitTip = 66003;

// Keys of the viewer ini (its one section) for the two remembered choices.
constexpr std::string_view kSpeedUnitKey = "speedUnit";
constexpr std::string_view kRearMirrorKey = "rearMirror";

// Places of the event buttons in the strip, after the zoom group.
const QRect kPreviousEventRect(318, 603, 23, 26);
const QRect kNextEventRect(343, 603, 23, 26);

std::string iniValue(std::string_view key) {
    std::string value;
    auto ini = platform::viewerIni();
    if (ini.read(platform::kViewerIniSection, key, value) != 0)
        return {};
    return value;
}

void storeIniValue(std::string_view key, const std::string& value) {
    auto ini = platform::viewerIni();
    (void)ini.write(platform::kViewerIniSection, key, value);
}

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

playback::MediaTime mediaTime(double seconds) {
    return static_cast<playback::MediaTime>(std::llround(seconds * 1e7));
}

}  // namespace

void MainWindow::createTripControls() {
    tripNavigator_ = std::make_unique<trips::ui::TripNavigator>();
    connect(tripNavigator_.get(), &trips::ui::TripNavigator::tripChanged, this,
            [this] { updateTripControls(); });
    connect(tripNavigator_.get(), &trips::ui::TripNavigator::routeChanged, this,
            [this](const QString& json) {
                if (mapView_)
                    mapView_->setTrip(json.toStdString());
            });
    if (mapHost_) {
        connect(mapHost_, &displays::MapHost::routeClicked, this,
                [this](int recording, double offset) {
                    if (auto target = tripNavigator_->routeTarget(recording, offset))
                        openTripTarget(target->path, target->offsetSeconds);
                });
    }
    // The marks are placed on the seek bar's range, which a new recording resets.
    connect(playback_.get(), &playback::PlaybackController::seekBarReset, this,
            [this] { updateTripControls(); });

    auto makeButton = [this](int id, int image, int tip, const QRect& rect) {
        auto* b = new SkinButton(id, this);
        b->setImageId(image);
        b->setGeometry(rect);
        b->setToolTip(uiText(tip));
        b->setEnabled(false);
        b->show();
        connect(b, &QAbstractButton::clicked, this, [this, id] { runCommand(id); });
        return b;
    };
    makeButton(ctl::kPreviousEvent, skin::kPreviousEventButton, kStrPreviousEvent,
               kPreviousEventRect);
    makeButton(ctl::kNextEvent, skin::kNextEventButton, kStrNextEvent, kNextEventRect);

    speedDisplay_ = displays::speedDisplayFromName(iniValue(kSpeedUnitKey));
    if (speedReadout_) {
        speedReadout_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        speedReadout_->setCursor(Qt::PointingHandCursor);
        speedReadout_->setToolTip(uiText(kStrSpeedUnitTip));
        speedReadout_->installEventFilter(new ClickFilter(this, [this] { toggleSpeedUnit(); }));
    }

    // The panes' context menu (opened by the window) gets the event jumps and, on the rear
    // pane, the mirror.
    connect(this, &MainWindow::paneMenuRequested, this,
            [this](QMenu* menu, playback::VideoPane* pane) { addTripPaneMenuEntries(menu, pane); });
    if (rearPane_)
        rearPane_->setMirrored(iniValue(kRearMirrorKey) == "1");
}

void MainWindow::addTripPaneMenuEntries(QMenu* menu, playback::VideoPane* pane) {
    menu->addSeparator();
    QAction* previous = menu->addAction(uiText(kStrPreviousEvent));
    QAction* next = menu->addAction(uiText(kStrNextEvent));
    previous->setEnabled(button(ctl::kPreviousEvent)->isEnabled());
    next->setEnabled(button(ctl::kNextEvent)->isEnabled());
    connect(previous, &QAction::triggered, this, [this] { runCommand(ctl::kPreviousEvent); });
    connect(next, &QAction::triggered, this, [this] { runCommand(ctl::kNextEvent); });
    if (pane == rearPane_) {
        menu->addSeparator();
        QAction* mirror = menu->addAction(uiText(kStrMirror));
        mirror->setCheckable(true);
        mirror->setChecked(rearPane_->mirrored());
        connect(mirror, &QAction::toggled, this, [this](bool on) { setRearMirrored(on); });
    }
}

void MainWindow::setRearMirrored(bool mirrored) {
    if (!rearPane_)
        return;
    rearPane_->setMirrored(mirrored);
    storeIniValue(kRearMirrorKey, mirrored ? "1" : "0");
}

void MainWindow::toggleSpeedUnit() {
    const auto& fixes = playback_->track().fixes();
    const std::int32_t recorded = fixes.empty() ? 0 : fixes.front().speedUnitCode;
    speedDisplay_ = displays::toggledSpeedDisplay(speedDisplay_, recorded);
    storeIniValue(kSpeedUnitKey, displays::speedDisplayName(speedDisplay_));
    // Shown at once, for the moment on screen.
    refreshSpeedReadout();
}

void MainWindow::playingRecordingChanged(const QString& path) {
    playingPath_ = path;
    if (tripNavigator_)
        tripNavigator_->setPlaying(path);
}

void MainWindow::cardListed(const QString& folder) {
    if (tripNavigator_)
        tripNavigator_->setCard(folder);
}

void MainWindow::updateTripControls() {
    std::vector<SliderMark> marks;
    const std::int64_t maximum = seekBar_->maximum();
    if (tripNavigator_ && maximum > 0) {
        for (const auto& e : tripNavigator_->playingEvents()) {
            marks.push_back({std::min<std::int64_t>(mediaTime(e.offsetSeconds), maximum),
                             e.kind == trips::EventKind::Impact ? SliderMarkKind::Impact
                                                                : SliderMarkKind::Event});
        }
    }
    // Drawn together with the clip's in and out marks.
    setExtraSeekBarMarks(std::move(marks));
    const trips::Trip* trip = tripNavigator_ ? tripNavigator_->currentTrip() : nullptr;
    const bool events = trip && !trip->events.empty();
    button(ctl::kPreviousEvent)->setEnabled(events);
    button(ctl::kNextEvent)->setEnabled(events);
}

void MainWindow::jumpToEvent(int direction) {
    if (!tripNavigator_)
        return;
    const double now = static_cast<double>(seekBar_->position()) / 1e7;
    if (auto target = tripNavigator_->adjacentEvent(direction, now))
        openTripTarget(target->path, target->offsetSeconds);
}

void MainWindow::openTripTarget(const QString& path, double offsetSeconds) {
    if (path != playingPath_) {
        // Through the list, so the current row and next/previous follow as after a double click.
        int row = -1;
        for (int r = 0; r < rowCount(); ++r) {
            if (rowFullPath(r) == path) {
                row = r;
                break;
            }
        }
        if (row < 0)
            return;  // the list changed since the trips were found
        selectAndFocusRow(row);
        openRecording(row);
        if (path != playingPath_)
            return;  // it could not be opened
    }
    const playback::MediaTime t =
        std::clamp<playback::MediaTime>(mediaTime(offsetSeconds), 0, seekBar_->maximum());
    seekBar_->setPosition(t);
    playback_->seekReleased(t);
    refreshSpeedReadout();
}

void MainWindow::placeEventButtons() {
    // The event buttons keep their place next to the rewind button, also in full screen.
    const QWidget* rewind = control(ctl::kRewind);
    if (!rewind)
        return;
    const QPoint shift = rewind->geometry().topLeft() - QPoint(61, 603);
    if (QWidget* b = control(ctl::kPreviousEvent))
        b->setGeometry(kPreviousEventRect.translated(shift));
    if (QWidget* b = control(ctl::kNextEvent))
        b->setGeometry(kNextEventRect.translated(shift));
}

}  // namespace orvik::shell
