#pragma once
// The viewer's one top-level window: borderless, fixed 1020 x 645, skinned. It lays out the
// controls, routes commands, keys and the players' messages, owns the recording list and the
// navigation through it, and wires the areas together; it holds no playback state of its own.
//
// What it holds, each with one owner:
//   playback::PlaybackController  the opened recording and its moment (position, length, the
//                                 clip's marks, running), both players, the telemetry track,
//                                 channel mode, zoom and pan, the full-screen panes;
//   DisplaysPanel                 the G-sensor graph, the readouts, the map and its page;
//   TripControls                  the trips of the card: map route, event marks and jumps,
//                                 the drive strip;
//   DrivePreview                  the drive strip's hover pictures;
//   ExportMenu                    the panes' context menu: snapshots, clips, in and out marks;
//   CardMonitor                   cards inserted and removed while the viewer runs.
// Its own files:
//   main_window.cpp           construction, routing of commands, keys and messages, panels,
//                             start-up checks, shutdown;
//   main_window_frame.cpp     the skinned frame: controls and their places, painting, dragging;
//   main_window_list.cpp      the recording list: Open, rows, navigation through them, Copy;
//   main_window_playback.cpp  panes, the transport strip wired to the controller, full screen;
//   main_window_dialogs.cpp   the Configuration and Clock dialogs.
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "shell/skin.h"

class QLabel;
class QMenu;

namespace orvik::recordings {
struct RecordingFile;
}
namespace orvik::library {
struct SearchHit;
}
namespace orvik::playback {
class PlaybackController;
class VideoPane;
}  // namespace orvik::playback

namespace orvik::shell {

class CardMonitor;
class DisplaysPanel;
class DrivePreview;
class ExportMenu;
class TripControls;
class SkinButton;
class SkinSlider;
class RecordingListModel;
class RecordingListView;
class TimeDisplay;

enum class PanelView { Recordings, Information };

// What a key-down does in the main window; every other key is dropped.
enum class KeyAction {
    None,
    PlayPause,
    Maximize,
    PreviousRecording,
    NextRecording,
    StepBack,
    StepForward,
    PreviousEvent,
    NextEvent,
    FindInLibrary
};
// With Ctrl, Left and Right go to the previous and next event of the drive and F finds recordings
// in the library; Ctrl leaves the other keys as they are.
KeyAction keyActionFor(int qtKey, bool control = false);

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 1020;
    static constexpr int kHeight = 645;
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
    const QString& versionText() const { return versionText_; }
    RecordingListView* recordingList() const { return recordingList_; }

    // The areas (see the opening comment).
    playback::PlaybackController& playback() const { return *playback_; }
    DisplaysPanel& displays() const { return *displays_; }
    TripControls& trips() const { return *trips_; }
    ExportMenu& exportMenu() const { return *exportMenu_; }
    CardMonitor& cards() const { return *cards_; }
    TimeDisplay* timeDisplay() const { return timeDisplay_; }
    DrivePreview* drivePreview() const { return drivePreview_; }

    // Runs a command as its button would (the window's message table).
    void runCommand(int id);

    // Called once after --demo has listed the demo card: plays its first front/rear pair.
    void demoCardListed();

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

  private:
    friend class MainWindowTestAccess;

    // ---- main_window.cpp ----
    void createAreas();
    void showRecordingsPanel();
    void showInformationPanel();
    void syncMapShown();
    bool handleKey(int key, bool control = false);  // true: consumed
    void closeCommand();
    void shutdown();
    void startupChecks();

    // ---- main_window_frame.cpp ----
    void createControls();
    void setTabs(PanelView view);

    // ---- main_window_list.cpp ----
    void createList();
    // The rows of `folder` (an opened card, or the library a search answered from).
    void showRows(std::vector<recordings::RecordingFile> rows, const QString& folder);
    void openCommand();
    void showListContextMenu(const QPoint& globalPos);
    void copySelectedRecordings();
    // Find in library: the dialog, and its hits listed as the recording list.
    void findInLibraryCommand();
    void listLibraryHits(const std::vector<library::SearchHit>& hits, const QString& folder);
    void openRecording(int row);  // list double click
    bool openNextRecording();     // end of a recording, Page Down; false at the list's end
    // The list's selection and current row follow a recording the player went on to by itself.
    void followPlayingRecording();
    // Play or Pause, as the recording is (or is not) running.
    void showRunning(bool running);
    // One line over the list when the recording just opened carries no telemetry.
    void tellIfWithoutTelemetry(const QString& path);
    // One line naming the recording when it ended before its promised length.
    void tellIfEndedEarly();
    void openPreviousRecording();  // Page Up
    void openRow(int row);         // shared step: the row's file with its partner
    void selectAndFocusRow(int row);
    // Opens `path` through its row (for trips); true when it plays then.
    bool openThroughList(const QString& path);

    // ---- main_window_playback.cpp ----
    // The panes and the playback owner, with its reports wired to the strip.
    void createPlayback();
    void wireTransport();
    void refreshSeekBarMarks();
    void setRearMirrored(bool mirrored);
    void toggleFullScreen(int pane);  // 0 none enlarged, 1 front, 2 rear
    void enterFullScreen(int pane);
    void leaveFullScreen();
    void moveStripControls(bool fullScreen, QSize monitor);
    // The title artwork's place in the normal layout (centred in full screen).
    static constexpr int kTitleLeft = 285, kTitleHalfWidth = 226;
    void placeTimeDisplay(int titleCenter);
    void paneDoubleClick(int channel);

    // ---- main_window_dialogs.cpp ----
    void configurationCommand();
    void clockCommand();

    std::unique_ptr<playback::PlaybackController> playback_;
    DisplaysPanel* displays_ = nullptr;
    TripControls* trips_ = nullptr;
    DrivePreview* drivePreview_ = nullptr;
    ExportMenu* exportMenu_ = nullptr;
    CardMonitor* cards_ = nullptr;

    // Controls.
    RecordingListView* recordingList_ = nullptr;
    RecordingListModel* recordingModel_ = nullptr;
    SkinSlider* seekBar_ = nullptr;
    SkinSlider* volumeSlider_ = nullptr;
    QLabel* rateLabel_ = nullptr;  // 1034
    QLabel* zoomLabel_ = nullptr;  // 1033
    TimeDisplay* timeDisplay_ = nullptr;
    // The video panes (their players belong to playback_).
    playback::VideoPane* frontPane_ = nullptr;
    playback::VideoPane* rearPane_ = nullptr;
    // The trips' event marks, drawn on the seek bar with the clip's in and out marks.
    std::vector<SliderMark> eventMarks_;

    QTimer positionTimer_;

    int screenWidth_ = 0;
    int screenHeight_ = 0;
    // What leaving full screen restores.
    QRect savedWindowRect_;
    PanelView panelView_ = PanelView::Recordings;
    bool informationShownBefore_ = false;
    int currentRow_ = -1;
    QString versionText_;

    // Open / Copy folders remembered for the next browser.
    QString lastOpenedFolder_;
    QString lastCopyFolder_;
    bool openDialogShowing_ = false;
    QPointer<QWidget> librarySearch_;  // the Find in library dialog while it is up

    // Dragging the window by its background.
    std::optional<QPoint> dragOffset_;
    QPoint dragStart_;
    bool systemMoveTried_ = false;
    bool startupChecksDone_ = false;
    bool closing_ = false;
    bool shutDown_ = false;
};

}  // namespace orvik::shell
