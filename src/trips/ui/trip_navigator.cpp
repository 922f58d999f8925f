#include "trips/ui/trip_navigator.h"

#include <QThread>
#include <algorithm>

#include "trips/summary_cache.h"
#include "trips/trip_route.h"

namespace orvik::trips::ui {

TripNavigator::TripNavigator(QObject* parent) : QObject(parent) {}

TripNavigator::~TripNavigator() {
    for (QThread* worker : workers_) {
        worker->wait();
        delete worker;
    }
}

// Work runs on its own thread; done runs on this object's thread with the result, unless the
// navigator is gone by then (the destructor waits for the thread, so `this` outlives the work).
template <typename Work, typename Done>
void TripNavigator::runInBackground(Work work, Done done) {
    auto result = std::make_shared<decltype(work())>();
    QThread* worker =
        QThread::create([result, work = std::move(work)]() mutable { *result = work(); });
    workers_.push_back(worker);
    connect(worker, &QThread::finished, this,
            [this, worker, result, done = std::move(done)]() mutable {
                std::erase(workers_, worker);
                worker->deleteLater();
                done(std::move(*result));
            });
    worker->start(QThread::LowPriority);
}

void TripNavigator::setCard(const QString& root) {
    root_ = root;
    ready_ = false;
    trips_.clear();
    trip_.reset();
    recording_.reset();
    routedTrip_.reset();
    const unsigned generation = ++cardGeneration_;
    if (root.isEmpty()) {
        emit tripsFound();
        emit tripChanged();
        emit routeChanged(QStringLiteral("[]"));
        return;
    }
    TripOptions options;
    options.cacheFolder = cacheFolder_.isEmpty()
                              ? userCacheFolder()
                              : std::filesystem::path(cacheFolder_.toStdString());
    const std::string folder = root.toStdString();
    runInBackground(
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
        });
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
    if (!trip_) {
        emit routeChanged(QStringLiteral("[]"));
        return;
    }
    // The trip is copied: the list may be replaced while the route is read.
    runInBackground([trip = trips_[*trip_]]() { return routeJson(tripRoute(trip)); },
                    [this, generation](const std::string& json) {
                        if (generation == routeGeneration_)
                            emit routeChanged(QString::fromStdString(json));
                    });
}

const Trip* TripNavigator::currentTrip() const {
    return trip_ ? &trips_[*trip_] : nullptr;
}

std::optional<std::size_t> TripNavigator::currentRecording() const {
    return recording_;
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
