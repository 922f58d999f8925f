#pragma once
// Trips in the main window: the whole trip of the playing recording on the map (a click on it
// opens that moment) and on the drive strip under the seek bar (a click or drag there too), the
// events of the playing recording as seek-bar marks, the previous/next event buttons and their
// pane-menu entries. It asks the trip navigator where a jump leads and
// the playback owner where the moment is; recordings are opened through the window's list, so
// that next and previous follow as after a double click.
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "playback/media_time.h"
#include "shell/skin.h"
#include "trips/drive_range.h"

class QMenu;
class QWidget;

namespace orvik::playback {
class PlaybackController;
class VideoPane;
}  // namespace orvik::playback
namespace orvik::displays {
class MapHost;
class MapView;
}  // namespace orvik::displays
namespace orvik::trips::ui {
class TripNavigator;
}

namespace orvik::shell {

class DriveStrip;

class TripControls : public QObject {
    Q_OBJECT
  public:
    // Opens a recording through the recording list; true when it plays then.
    using OpenRecording = std::function<bool(const QString& path)>;

    // The event buttons 1050/1051 are made on `window`, in the strip after the zoom group.
    TripControls(QWidget* window, playback::PlaybackController& playback,
                 displays::MapHost& mapHost, displays::MapView& mapView, OpenRecording open);
    ~TripControls() override;

    trips::ui::TripNavigator* navigator() const { return navigator_.get(); }
    // The card whose trips are wanted (what Open listed).
    void setCard(const QString& folder);
    // The next (+1) or previous (-1) event of the playing recording's trip.
    void jumpToEvent(int direction);
    // The event jumps, added to a pane's context menu.
    void addPaneMenuEntries(QMenu* menu);
    // The event buttons keep their place beside the rewind button and the drive strip its place
    // under the seek bar, also in full screen.
    void placeControls(const QRect& rewindButton, const QRect& seekBar);
    DriveStrip* strip() const { return strip_; }
    // Where a recording (either channel's file) starts in the playing recording's drive, seconds.
    std::optional<double> startInDrive(const QString& path) const;
    // The stretch between the clip's marks when they lie in different recordings of the drive:
    // each recording's share. Nothing when they lie in one recording (or not both are set).
    std::optional<trips::DriveRange> markedRange() const;
    // Goes to a moment of the playing recording's drive (seconds since its start), opening the
    // recording that holds it.
    void goToDriveMoment(double seconds);

  signals:
    // The marks of the playing recording's events on the seek bar's range.
    void eventMarksChanged(const std::vector<orvik::shell::SliderMark>& marks);
    // A jump went to a moment (the readouts may show it at once, also while paused).
    void jumped();
    // The playing recording's place in its drive (inDrive false: it belongs to none).
    void drivePlaceChanged(bool inDrive, orvik::playback::MediaTime recordingStart,
                           orvik::playback::MediaTime driveLength);

  private:
    void update();
    void updateDrive();
    // Seconds since the drive's start of a moment of the playing recording.
    double driveSecondsOf(playback::MediaTime t) const { return recordingStart_ + t.seconds(); }
    void showClipMarks();
    // Opens `path` (unless it plays already) and goes to the moment.
    void openTarget(const QString& path, double offsetSeconds);

    playback::PlaybackController& playback_;
    OpenRecording open_;
    std::unique_ptr<trips::ui::TripNavigator> navigator_;
    SkinButton* previous_ = nullptr;
    SkinButton* next_ = nullptr;
    DriveStrip* strip_ = nullptr;
    double recordingStart_ = 0;  // the playing recording's start in its drive, seconds
};

}  // namespace orvik::shell
