#pragma once
// The panes' context menu and what it exports: a snapshot of the moment shown, a clip or an
// evidence package of the stretch between the in and out marks (set from the same menu, drawn on
// the seek bar), each through its dialog. The
// moment and the marks are the playback owner's; other areas add their entries to the menu as it
// opens (through `extend`). No key, button or position of the window changes.
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <optional>
#include <utility>

#include "displays/info_panel.h"
#include "trips/drive_range.h"

class QMenu;
class QWidget;

namespace orvik::playback {
class PlaybackController;
class VideoPane;
}  // namespace orvik::playback

namespace orvik::shell {

class ExportMenu : public QObject {
    Q_OBJECT
  public:
    // Adds the entries of other areas to a menu about to pop up over a pane.
    using Extend = std::function<void(QMenu* menu, playback::VideoPane* pane)>;
    // The unit the viewer shows speeds in, which captions take.
    using SpeedDisplay = std::function<displays::SpeedDisplay()>;

    // The stretch between the marks when they lie in different recordings of a drive: each
    // recording's share, and the seconds from the in mark to the out mark on the camera's clock.
    struct DriveStretch {
        trips::DriveRange range;
        double seconds = 0;
    };
    using FindDriveStretch = std::function<std::optional<DriveStretch>()>;
    // `window` parents the menu and the dialogs.
    ExportMenu(QWidget* window, playback::PlaybackController& playback, SpeedDisplay speedDisplay,
               Extend extend);

    void setDriveStretch(FindDriveStretch find) { driveStretch_ = std::move(find); }
    // Pops the menu of `pane` up at `globalPos`.
    void showPaneMenu(playback::VideoPane* pane, const QPoint& globalPos);
    // The file a pane shows, "" when none.
    QString paneFile(const playback::VideoPane* pane) const;
    void snapshot(const QString& file);
    void exportClip(const QString& file);
    // The evidence package of the same stretch as exportClip.
    void evidencePackage(const QString& file);

  private:
    // The stretch between the marks in seconds; a missing mark is the start or the end of the
    // recording.
    std::pair<double, double> markedStretch() const;
    // Whether `file` is the rear channel of the pair playing.
    bool showsRear(const QString& file) const;

    QWidget* window_;
    playback::PlaybackController& playback_;
    SpeedDisplay speedDisplay_;
    Extend extend_;
    FindDriveStretch driveStretch_;
};

}  // namespace orvik::shell
