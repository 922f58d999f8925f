#include "trips/ui/trip_navigator.h"

#include <algorithm>

#include "platform/store.h"
#include "trips/summary_cache.h"
#include "trips/trip_route.h"
#include "ui_common/background.h"

namespace orvik::trips::ui {

TripNavigator::TripNavigator(QObject* parent) : QObject(parent) {}

TripNavigator::~TripNavigator() {
    if (cardStop_)
        *cardStop_ = true;
    if (routeStop_)
        *routeStop_ = true;
}

TripNavigator::StopFlag TripNavigator::restart(StopFlag& flag) {
    if (flag)
        *flag = true;
    flag = std::make_shared<std::atomic<bool>>(false);
    return flag;
}

void TripNavigator::setCard(const QString& root) {
    root_ = root;
    ready_ = false;
    trips_.clear();
    trip_.reset();
    recording_.reset();
    routedTrip_.reset();
    const unsigned generation = ++cardGeneration_;
    const StopFlag stop = restart(cardStop_);
    if (root.isEmpty()) {
        emit tripsFound();
        emit tripChanged();
        emit routeChanged(QStringLiteral("[]"));
        return;
    }
    TripOptions options;
    options.cacheFolder = cacheFolder_.isEmpty()
                              ? platform::userCacheFolder()
                              : std::filesystem::path(cacheFolder_.toStdString());
    options.cancelled = [stop] { return stop->load(); };
    const std::string folder = root.toStdString();
    ui_common::runDetached(
        this,
        [folder, options]() -> std::vector<Trip> {
            auto found = findTrips(folder, options);
            return found ? std::move(*found) : std::vector<Trip>{};
        },
        [this, generation](std::vector<Trip> found) {
            if (generation != cardGeneration_)
                return;  // another card was opened meanwhile
            trips_ = std::move(found);
            ready_ = true;
            emit tripsFound();
            locatePlaying();
        },
        ui_common::Priority::Low);
}

void TripNavigator::setPlaying(const QString& path) {
    playing_ = path;
    locatePlaying();
}

void TripNavigator::locatePlaying() {
    const auto found =
        playing_.isEmpty() ? std::nullopt : findRecording(trips_, playing_.toStdString());
    const std::optional<std::size_t> trip =
        found ? std::optional<std::size_t>(found->first) : std::nullopt;
    trip_ = trip;
    recording_ = found ? std::optional<std::size_t>(found->second) : std::nullopt;
    emit tripChanged();
    if (trip != routedTrip_) {
        routedTrip_ = trip;
        startRoute();
    }
}

void TripNavigator::startRoute() {
    const unsigned generation = ++routeGeneration_;
    const StopFlag stop = restart(routeStop_);
    if (!trip_) {
        emit routeChanged(QStringLiteral("[]"));
        return;
    }
    // The trip is copied: the list may be replaced while the route is read.
    ui_common::runDetached(
        this,
        [trip = trips_[*trip_], stop]() {
            return routeJson(tripRoute(trip, 120, [stop] { return stop->load(); }));
        },
        [this, generation](const std::string& json) {
            if (generation == routeGeneration_)
                emit routeChanged(QString::fromStdString(json));
        },
        ui_common::Priority::Low);
}

const Trip* TripNavigator::currentTrip() const {
    return trip_ ? &trips_[*trip_] : nullptr;
}

std::optional<std::size_t> TripNavigator::currentRecording() const {
    return recording_;
}

QString TripNavigator::followingRecording() const {
    const Trip* t = currentTrip();
    if (!t || *recording_ + 1 >= t->recordings.size())
        return {};
    return QString::fromStdString(t->recordings[*recording_ + 1].path);
}

std::vector<PlayingEvent> TripNavigator::playingEvents() const {
    std::vector<PlayingEvent> events;
    if (const Trip* t = currentTrip()) {
        for (const TripEvent& e : t->events) {
            if (e.recording == *recording_)
                events.push_back({e.kind, e.offsetSeconds});
        }
    }
    return events;
}

std::optional<TripTarget> TripNavigator::adjacentEvent(int direction,
                                                       double positionSeconds) const {
    const Trip* t = currentTrip();
    if (!t)
        return std::nullopt;
    const auto event = trips::adjacentEvent(*t, {*recording_, positionSeconds}, direction);
    if (!event)
        return std::nullopt;
    const TripEvent& e = t->events[*event];
    return TripTarget{QString::fromStdString(t->recordings[e.recording].path), e.offsetSeconds};
}

std::optional<TripTarget> TripNavigator::routeTarget(int recording, double offsetSeconds) const {
    const Trip* t = currentTrip();
    if (!t || recording < 0 || static_cast<std::size_t>(recording) >= t->recordings.size())
        return std::nullopt;
    const TripRecording& r = t->recordings[static_cast<std::size_t>(recording)];
    return TripTarget{QString::fromStdString(r.path),
                      std::clamp(offsetSeconds, 0.0, std::max(0.0, r.stats.durationSeconds))};
}

}  // namespace orvik::trips::ui
