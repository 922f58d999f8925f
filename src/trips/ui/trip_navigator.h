#pragma once
// The viewer's view of the card's trips: finds them in the background (with the summary cache)
// after a card is opened, knows the trip of the recording that plays, and answers where a click
// on the route or a jump to the next or previous event leads. The window wires it to the map, the
// seek bar and the event buttons; it never touches them itself.
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "trips/trips.h"

namespace orvik::trips::ui {

// A recording to open (front or single file) and the moment in it, in seconds.
struct TripTarget {
    QString path;
    double offsetSeconds = 0;
    bool operator==(const TripTarget&) const = default;
};

// An event of the playing recording, for its seek-bar mark.
struct PlayingEvent {
    EventKind kind = EventKind::Event;
    double offsetSeconds = 0;
    bool operator==(const PlayingEvent&) const = default;
};

class TripNavigator : public QObject {
    Q_OBJECT
  public:
    explicit TripNavigator(QObject* parent = nullptr);
    // Stops background work at its next recording without waiting for it: closing the window
    // during a big card's first scan is immediate.
    ~TripNavigator() override;

    // The card folder whose trips are wanted; found in the background. An empty root forgets
    // the trips.
    void setCard(const QString& root);
    // The recording that plays now (its front, rear or single file; empty for none).
    void setPlaying(const QString& path);

    bool tripsReady() const { return ready_; }
    const std::vector<Trip>& trips() const { return trips_; }
    // The playing recording's trip and its index in it, or nullptr / nothing.
    const Trip* currentTrip() const;
    std::optional<std::size_t> currentRecording() const;

    // The recording after the playing one in its trip (front or single file), "" at the trip's
    // end or outside trips.
    QString followingRecording() const;
    // The events of the playing recording, in time order.
    std::vector<PlayingEvent> playingEvents() const;
    // The next (direction +1) or previous (-1) event of the trip from `positionSeconds` into the
    // playing recording; nothing when there is none that way.
    std::optional<TripTarget> adjacentEvent(int direction, double positionSeconds) const;
    // What a click on the route's point (recording index in the trip, seconds into it) opens.
    std::optional<TripTarget> routeTarget(int recording, double offsetSeconds) const;

    // Test seam: where the summary cache lives (default: the user's cache folder).
    void setCacheFolder(const QString& folder) { cacheFolder_ = folder; }

  Q_SIGNALS:
    // The trips of the card were found (or the card was forgotten).
    void tripsFound();
    // The playing recording's trip or position in it changed: marks and event buttons may
    // differ.
    void tripChanged();
    // The route of the playing recording's trip for the map ("[]" when it belongs to none).
    void routeChanged(const QString& json);

  private:
    void locatePlaying();
    void startRoute();
    using StopFlag = std::shared_ptr<std::atomic<bool>>;
    // A fresh flag for new work, the earlier one (in `flag`) raised.
    static StopFlag restart(StopFlag& flag);

    QString root_;
    QString playing_;
    QString cacheFolder_;
    bool ready_ = false;
    std::vector<Trip> trips_;
    std::optional<std::size_t> trip_;
    std::optional<std::size_t> recording_;
    std::optional<std::size_t> routedTrip_;
    unsigned cardGeneration_ = 0;
    unsigned routeGeneration_ = 0;
    StopFlag cardStop_;   // the running scan's
    StopFlag routeStop_;  // the running route's
};

}  // namespace orvik::trips::ui
