#pragma once
// The viewer's one top-level window: borderless, fixed 1020 x 645, skinned, holding the video
// panes, the recording list, the transport strip, the G-sensor graph, the information panel and
// the map. MainWindow owns the players, panes, displays and all playback state for its life.
//
// The playback state itself (players, telemetry track, modes, zoom, full-screen panes) is owned by
// one playback::PlaybackController; the window wires its controls and timers to it.
//
// Its methods are split over files so that each area has one owner:
//   main_window.cpp           construction, painting, dragging, routing, panels, shutdown;
//   main_window_list.cpp      the recording list: Open, list fill, context menu, Copy;
//   main_window_playback.cpp  panes, opening rows, transport commands, timers, full screen;
//   main_window_displays.cpp  the telemetry displays: G-sensor graph, readouts, map;
//   main_window_dialogs.cpp   the Configuration and Clock dialogs;
//   main_window_cards.cpp     cards inserted and removed while the viewer runs;
//   main_window_export.cpp    the panes' context menu, clips, snapshots, in and out marks.
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "displays/info_panel.h"
#include "shell/skin.h"

class QLabel;
class QMenu;

namespace orvik::playback {
class PlaybackController;
class VideoPane;
}  // namespace orvik::playback
namespace orvik::displays {
class GSensorGraph;
class MapHost;
class MapView;
}  // namespace orvik::displays
namespace orvik::trips::ui {
class TripNavigator;
}
class QMenu;

namespace orvik::shell {

class CardNotice;
class CardWatcher;
struct CardInfo;
class SkinButton;
class SkinSlider;
class RecordingListModel;
class RecordingListView;

enum class PanelView { Recordings, Information };

// What a key-down does in the main window; every other key is dropped.
enum class KeyAction {
    None,
    PlayPause,
    Maximize,
    PreviousRecording,
    NextRecording,
    StepBack,
    StepForward
};
KeyAction keyActionFor(int qtKey);

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 1020;
    static constexpr int kHeight = 645;
    // Window timers (ids kept for logs; both are QTimers of the window).
    static constexpr int kPositionTimerId = 257;
    static constexpr int kPositionTimerMs = 200;
    static constexpr int kDisplayTimerId = 258;
    static constexpr int kDisplayTimerMs = 500;
    // Exit code of the event loop after the Close button.
    static constexpr int kCloseExitCode = 1;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // A control by id (its objectName), null when there is none.
    QWidget* control(int id) const;
    SkinButton* button(int id) const;

    // Scans `folder` and shows its recordings (what Open does after the folder is chosen).
    // Returns false when the folder could not be scanned; the list then keeps its rows.
    bool listFolder(const QString& folder);

    // Rows of the recording list, as opening a recording reads them.
    int rowCount() const;
    QString rowFullPath(int row) const;  // "" outside the list
    QChar rowChannel(int row) const;     // '\0' when unknown
    QString rowFileName(int row) const;
    int currentRow() const { return currentRow_; }
    void setCurrentRow(int row);  // repaints the row colours

    PanelView panelView() const { return panelView_; }
    bool isFullScreenMode() const;
    // The owner of the playing recording: players, telemetry track, modes, zoom and pan.
    playback::PlaybackController& playback() const { return *playback_; }
    const QString& versionText() const { return versionText_; }
    RecordingListView* recordingList() const { return recordingList_; }

    // Runs the commands and keys as the buttons and the keyboard would (also used by tests).
    void runCommand(int id);
    // The map page file written at start, removed at shutdown; "" when none was written.
    const QString& mapPagePath() const { return mapPagePath_; }

    // The notice line over the recording list (inserted card, removed card).
    CardNotice* cardNotice() const { return cardNotice_; }
    CardWatcher* cardWatcher() const { return cardWatcher_; }

    // Called once after --demo has listed the demo card: plays its first front/rear pair.
    void demoCardListed();

    // The trips of the listed card and the playing recording's place in them.
    trips::ui::TripNavigator* tripNavigator() const { return tripNavigator_.get(); }
    // The unit the speed readout shows (a click on it switches; kept in the viewer ini).
    displays::SpeedDisplay speedDisplay() const { return speedDisplay_; }

    // The in and out marks of the next clip on the seek bar (media time), if set.
    std::optional<std::int64_t> clipIn() const { return clipIn_; }
    std::optional<std::int64_t> clipOut() const { return clipOut_; }
    // Marks other areas show on the seek bar (events, impacts); drawn with the in/out marks.
    void setExtraSeekBarMarks(std::vector<SliderMark> marks);

  signals:
    // After a key-down was consumed, with what it did (None for a dropped key).
    void keyRouted(orvik::shell::KeyAction action);
    // A pane's context menu is about to pop up: other areas add their entries to `menu`.
    void paneMenuRequested(QMenu* menu, orvik::playback::VideoPane* pane);
    // The start-up relabel (run in the background) has ended.
    void startupRelabelDone();

  protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    friend class MainWindowTestAccess;

    // ---- main_window.cpp ----
    void createControls();
    void showRecordingsPanel();
    void showInformationPanel();
    void setTabs(PanelView view);
    bool handleKey(int key);  // true: consumed
    void closeCommand();
    void shutdown();
    void startupChecks();

    // ---- main_window_list.cpp ----
    void openCommand();
    void showListContextMenu(const QPoint& globalPos);
    void copySelectedRecordings();

    // ---- main_window_playback.cpp ----
    // The panes and the playback owner, with its reports wired to the controls.
    void createPlayback();
    void openRecording(int row);   // list double click
    void openNextRecording();      // end of a recording, Page Down
    void openPreviousRecording();  // Page Up
    void openRow(int row);         // shared step: the row's file with its partner
    void selectAndFocusRow(int row);
    void toggleFullScreen(int pane);  // 0 none enlarged, 1 front, 2 rear
    void enterFullScreen(int pane);
    void leaveFullScreen();
    void moveStripControls(bool fullScreen, QSize monitor);
    void paneDoubleClick(int channel);
    void positionTimerTick();

    // ---- main_window_displays.cpp (telemetry displays) ----
    // Creates the G-sensor graph 1013, the readouts 1020/1023/1024 and the map host 32783 at
    // their places and their hidden/shown state.
    void createDisplays();
    // Writes the map page and loads it into the hidden host (sets mapPagePath_).
    void loadMapPage();
    void telemetryCleared();
    void telemetryRead();
    void displayTimerTick();
    void syncMapShown();
    // The Information tab was chosen; firstTime is true once per process (navigate the map).
    void informationPanelShown(bool firstTime);

    // ---- main_window_trips.cpp (trips: map route, event marks and jumps, unit, mirror) ----
    void createTripControls();
    void cardListed(const QString& folder);
    void playingRecordingChanged(const QString& path);
    void updateTripControls();
    void jumpToEvent(int direction);
    // Opens `path` through its list row (unless it plays already) and seeks to the moment.
    void openTripTarget(const QString& path, double offsetSeconds);
    void addTripPaneMenuEntries(QMenu* menu, playback::VideoPane* pane);
    void setRearMirrored(bool mirrored);
    void toggleSpeedUnit();
    void placeEventButtons();
    // The speed readout for the moment on screen, in the chosen unit (main_window_displays.cpp).
    void refreshSpeedReadout();

    // ---- main_window_export.cpp (clips, snapshots, in and out marks) ----
    void showPaneMenu(playback::VideoPane* pane, const QPoint& globalPos);
    // The file a pane shows, "" when none.
    QString paneFile(const playback::VideoPane* pane) const;
    void snapshotCommand(const QString& file);
    void exportClipCommand(const QString& file);
    void markClipIn();
    void markClipOut();
    void clearClipMarks();
    void refreshSeekBarMarks();

    // ---- main_window_cards.cpp (cards inserted and removed while the viewer runs) ----
    void watchCards();
    void cardInserted(const CardInfo& card);
    void cardRemoved(const CardInfo& card);
    // Stops the playing recording whose card is gone; false when nothing was playing.
    bool stopPlaybackOfRemovedCard();

    // ---- main_window_dialogs.cpp (settings and time dialogs) ----
    void configurationCommand();
    void clockCommand();

    std::unique_ptr<playback::PlaybackController> playback_;

    // Controls.
    RecordingListView* recordingList_ = nullptr;
    RecordingListModel* recordingModel_ = nullptr;
    SkinSlider* seekBar_ = nullptr;
    SkinSlider* volumeSlider_ = nullptr;
    QLabel* rateLabel_ = nullptr;  // 1034
    QLabel* zoomLabel_ = nullptr;  // 1033
    // Created by createDisplays().
    displays::GSensorGraph* gsensorGraph_ = nullptr;
    QLabel* speedReadout_ = nullptr;
    QLabel* precisionReadout_ = nullptr;
    QLabel* satellitesReadout_ = nullptr;
    displays::MapHost* mapHost_ = nullptr;
    std::unique_ptr<displays::MapView> mapView_;

    // The video panes (created by createPlayback(); their players belong to playback_).
    playback::VideoPane* frontPane_ = nullptr;
    playback::VideoPane* rearPane_ = nullptr;

    std::unique_ptr<trips::ui::TripNavigator> tripNavigator_;
    displays::SpeedDisplay speedDisplay_ = displays::SpeedDisplay::AsRecorded;
    QString playingPath_;

    CardWatcher* cardWatcher_ = nullptr;
    CardNotice* cardNotice_ = nullptr;

    QTimer positionTimer_;
    QTimer displayTimer_;

    int screenWidth_ = 0;
    int screenHeight_ = 0;
    // What leaving full screen restores.
    QRect savedWindowRect_;
    PanelView panelView_ = PanelView::Recordings;
    bool informationShownBefore_ = false;
    int currentRow_ = -1;
    std::optional<std::int64_t> clipIn_;
    std::optional<std::int64_t> clipOut_;
    std::vector<SliderMark> extraSeekBarMarks_;
    QString versionText_;
    QString mapPagePath_;

    // Open / Copy folders remembered for the next browser.
    QString lastOpenedFolder_;
    QString lastCopyFolder_;
    bool openDialogShowing_ = false;

    // Dragging the window by its background.
    std::optional<QPoint> dragOffset_;
    QPoint dragStart_;
    bool systemMoveTried_ = false;
    bool startupChecksDone_ = false;
    bool closing_ = false;
    bool shutDown_ = false;
};

}  // namespace orvik::shell
