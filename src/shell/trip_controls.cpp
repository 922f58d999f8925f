#include "shell/trip_controls.h"

#include <QAction>
#include <QMenu>
#include <algorithm>

#include "displays/map_host.h"
#include "displays/map_view.h"
#include "playback/playback_controller.h"
#include "shell/control_ids.h"
#include "shell/drive_strip.h"
#include "strings/string_ids.h"
#include "trips/ui/trip_navigator.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using playback::MediaTime;
using playback::PlaybackController;
using ui_common::uiText;

namespace {

// Places of the event buttons in the strip, after the zoom group, and of the rewind button they
// keep beside.
const QRect kPreviousEventRect(318, 603, 23, 26);
const QRect kNextEventRect(343, 603, 23, 26);
const QPoint kRewindAt(61, 603);
// The drive strip fills the free band between the seek bar and the buttons under it.
constexpr int kStripGap = 1, kStripHeight = 10;

}  // namespace

TripControls::TripControls(QWidget* window, PlaybackController& playback,
                           displays::MapHost& mapHost, displays::MapView& mapView,
                           OpenRecording open)
    : QObject(window),
      playback_(playback),
      open_(std::move(open)),
      navigator_(std::make_unique<trips::ui::TripNavigator>()) {
    connect(navigator_.get(), &trips::ui::TripNavigator::tripChanged, this, [this] {
        update();
        playback_.setFollowing(navigator_->followingRecording());
    });
    connect(navigator_.get(), &trips::ui::TripNavigator::routeChanged, this,
            [&mapView](const QString& json) { mapView.setTrip(json.toStdString()); });
    connect(&mapHost, &displays::MapHost::routeClicked, this, [this](int recording, double offset) {
        if (auto target = navigator_->routeTarget(recording, offset))
            openTarget(target->path, target->offsetSeconds);
    });
    connect(&playback_, &PlaybackController::recordingOpened, this,
            [this](const QString& path) { navigator_->setPlaying(path); });
    // The marks are placed on the moment's range, which a new recording resets.
    connect(&playback_, &PlaybackController::lengthChanged, this, [this] { update(); });
    connect(&playback_, &PlaybackController::positionChanged, this,
            [this](MediaTime t) { strip_->setMoment(driveSecondsOf(t)); });
    connect(&playback_, &PlaybackController::marksChanged, this, [this] { showClipMarks(); });

    auto makeButton = [&](int id, int image, int tip, const QRect& rect, int direction) {
        auto* b = new SkinButton(id, window);
        b->setImageId(image);
        b->setGeometry(rect);
        b->setToolTip(uiText(tip));
        b->setEnabled(false);
        b->show();
        connect(b, &QAbstractButton::clicked, this, [this, direction] { jumpToEvent(direction); });
        return b;
    };
    previous_ = makeButton(ctl::kPreviousEvent, skin::kPreviousEventButton,
                           strings::trips::kPreviousEvent, kPreviousEventRect, -1);
    next_ = makeButton(ctl::kNextEvent, skin::kNextEventButton, strings::trips::kNextEvent,
                       kNextEventRect, +1);
    playback_.setMarkTimeline([this](const QString& path) { return startInDrive(path); });
    strip_ = new DriveStrip(window);
    connect(strip_, &DriveStrip::released, this, &TripControls::goToDriveMoment);
}

TripControls::~TripControls() = default;

void TripControls::setCard(const QString& folder) {
    navigator_->setCard(folder);
}

void TripControls::addPaneMenuEntries(QMenu* menu) {
    menu->addSeparator();
    QAction* previous = menu->addAction(uiText(strings::trips::kPreviousEvent));
    QAction* next = menu->addAction(uiText(strings::trips::kNextEvent));
    previous->setEnabled(previous_->isEnabled());
    next->setEnabled(next_->isEnabled());
    connect(previous, &QAction::triggered, this, [this] { jumpToEvent(-1); });
    connect(next, &QAction::triggered, this, [this] { jumpToEvent(+1); });
}

void TripControls::update() {
    std::vector<SliderMark> marks;
    const MediaTime length = playback_.length();
    if (length > MediaTime{}) {
        for (const auto& e : navigator_->playingEvents()) {
            marks.push_back({std::min(MediaTime::fromSeconds(e.offsetSeconds), length).units(),
                             e.kind == trips::EventKind::Impact ? SliderMarkKind::Impact
                                                                : SliderMarkKind::Event});
        }
    }
    emit eventMarksChanged(marks);
    const trips::Trip* trip = navigator_->currentTrip();
    const bool events = trip && !trip->events.empty();
    previous_->setEnabled(events);
    next_->setEnabled(events);
    updateDrive();
}

void TripControls::updateDrive() {
    const trips::Trip* trip = navigator_->currentTrip();
    trips::Drive drive = trip ? trips::Drive(*trip) : trips::Drive{};
    const auto index = navigator_->currentRecording();
    recordingStart_ = index ? drive.secondsOf({*index, 0}) : 0;
    const MediaTime length = MediaTime::fromSeconds(drive.lengthSeconds());
    const bool inDrive = !drive.empty();
    strip_->setDrive(std::move(drive));
    strip_->setMoment(driveSecondsOf(playback_.position()));
    showClipMarks();
    emit drivePlaceChanged(inDrive, MediaTime::fromSeconds(recordingStart_), length);
}

void TripControls::showClipMarks() {
    const auto inDrive = [this](const std::optional<playback::ClipMark>& m) {
        return m ? playback_.timelineSeconds(*m) : std::nullopt;
    };
    strip_->setClipMarks(inDrive(playback_.inMark()), inDrive(playback_.outMark()));
}

std::optional<double> TripControls::startInDrive(const QString& path) const {
    const trips::Trip* trip = navigator_->currentTrip();
    if (!trip || path.isEmpty())
        return std::nullopt;
    const std::string p = path.toStdString();
    for (std::size_t i = 0; i < trip->recordings.size(); ++i) {
        const trips::TripRecording& r = trip->recordings[i];
        if (r.path == p || r.partnerPath == p)
            return strip_->drive().secondsOf({i, 0});
    }
    return std::nullopt;
}

std::optional<trips::DriveRange> TripControls::markedRange() const {
    const auto& in = playback_.inMark();
    const auto& out = playback_.outMark();
    const trips::Trip* trip = navigator_->currentTrip();
    if (!in || !out || !trip || in->path == out->path)
        return std::nullopt;
    auto range = trips::rangeOf(trip->recordings, {in->path.toStdString(), in->offset.seconds()},
                                {out->path.toStdString(), out->offset.seconds()});
    return range ? std::optional<trips::DriveRange>(std::move(*range)) : std::nullopt;
}

void TripControls::goToDriveMoment(double seconds) {
    // The strip holds the drive of the current trip: what was clicked is what it drew.
    const auto at = strip_->drive().positionAt(seconds);
    if (!at)
        return;
    if (auto target = navigator_->routeTarget(static_cast<int>(at->recording), at->offsetSeconds))
        openTarget(target->path, target->offsetSeconds);
}

void TripControls::jumpToEvent(int direction) {
    if (auto target = navigator_->adjacentEvent(direction, playback_.position().seconds()))
        openTarget(target->path, target->offsetSeconds);
}

void TripControls::openTarget(const QString& path, double offsetSeconds) {
    if (path != playback_.openedPath() && !open_(path))
        return;  // the list changed since the trips were found, or it could not be opened
    playback_.seek(
        std::clamp(MediaTime::fromSeconds(offsetSeconds), MediaTime{}, playback_.length()));
    emit jumped();
}

void TripControls::placeControls(const QRect& rewindButton, const QRect& seekBar) {
    const QPoint shift = rewindButton.topLeft() - kRewindAt;
    previous_->setGeometry(kPreviousEventRect.translated(shift));
    next_->setGeometry(kNextEventRect.translated(shift));
    strip_->setGeometry(seekBar.x(), seekBar.y() + seekBar.height() + kStripGap, seekBar.width(),
                        kStripHeight);
}

}  // namespace orvik::shell
