#pragma once
// The telemetry displays of the main window: the G-sensor graph under the front pane, and on the
// Information tab the speed, precision and satellite readouts and the map. They read the playback
// owner's track and moment and never change them. The speed unit (a click on the speed readout
// switches it) is remembered in the viewer's ini file.
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "displays/info_panel.h"

class QLabel;
class QWidget;

namespace orvik::playback {
class PlaybackController;
}
namespace orvik::displays {
class GSensorGraph;
class MapHost;
class MapView;
}  // namespace orvik::displays

namespace orvik::shell {

class DisplaysPanel : public QObject {
    Q_OBJECT
  public:
    // Creates the graph 1013, the readouts 1020/1023/1024 and the map host 32783 on `window` at
    // their places (the Information tab's part hidden), and follows `playback`.
    DisplaysPanel(QWidget* window, playback::PlaybackController& playback);
    ~DisplaysPanel() override;

    // Writes the map page and loads it into the hidden map host.
    void loadMapPage();
    // The map page file written by loadMapPage(), "" when none; removeMapPage() deletes it.
    const QString& mapPagePath() const { return mapPagePath_; }
    void removeMapPage();

    // The Information tab's readouts and map: shown with the tab, hidden in full screen.
    void showInformation(bool shown);
    // The map draws only while it can be seen (the Information tab, not full screen).
    void setMapVisible(bool visible);
    // The Information tab was chosen; firstTime once per process (the map page is loaded again).
    // The readouts show the moment at once, also while paused.
    void informationShown(bool firstTime, bool mapVisible);
    // The graph is hidden in full screen.
    void showGraph(bool shown);

    displays::SpeedDisplay speedDisplay() const { return speedDisplay_; }
    // The speed readout for the moment on screen, in the chosen unit.
    void refreshSpeedReadout();
    // DisplayTimer (500 ms while a recording with positions plays).
    QTimer& displayTimer() { return displayTimer_; }
    void stop();

    displays::GSensorGraph* graph() const { return graph_; }
    displays::MapHost* mapHost() const { return mapHost_; }
    displays::MapView* mapView() const { return mapView_.get(); }

  private:
    void telemetryCleared();
    void telemetryRead();
    void tick();
    void toggleSpeedUnit();
    // Shows `update`; a recording without positions shows no readout and no marker.
    void show(const displays::InformationUpdate& update);
    void blankReadouts();
    QLabel* makeReadout(QWidget* window, int id, const char* text, const QRect& geometry);

    playback::PlaybackController& playback_;
    displays::GSensorGraph* graph_ = nullptr;
    QLabel* speed_ = nullptr;
    QLabel* precision_ = nullptr;
    QLabel* satellites_ = nullptr;
    displays::MapHost* mapHost_ = nullptr;
    std::unique_ptr<displays::MapView> mapView_;
    displays::SpeedDisplay speedDisplay_ = displays::SpeedDisplay::AsRecorded;
    QTimer displayTimer_;
    QString mapPagePath_;
    // The opened recording has not a single position (before any is opened the speed readout
    // shows the chosen unit).
    bool withoutPositions_ = false;
};

}  // namespace orvik::shell
