#pragma once
// The viewer's one top-level window: borderless, fixed 1020 x 645, skinned, holding the video
// panes, the recording list, the transport strip, the G-sensor graph, the information panel and
// the map. MainWindow owns the players, panes, displays and all playback state for its life.
//
// Its methods are split over three files so that each area has one owner:
//   main_window.cpp           construction, painting, dragging, routing, panels, shutdown;
//   main_window_list.cpp      the recording list: Open, list fill, context menu, Copy;
//   main_window_playback.cpp  everything that plays a recording or shows its telemetry;
//   main_window_dialogs.cpp   the Configuration and Clock dialogs;
//   main_window_cards.cpp     cards inserted and removed while the viewer runs.
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QLabel;

namespace orvik::playback {
class MediaPlayer;
class VideoPane;
}  // namespace orvik::playback

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
    bool isFullScreenMode() const { return fullScreen_; }
    const QString& versionText() const { return versionText_; }
    RecordingListView* recordingList() const { return recordingList_; }

    // Runs the commands and keys as the buttons and the keyboard would (also used by tests).
    void runCommand(int id);
    // The map page file written at start, removed at shutdown; "" when none was written.
    const QString& mapPagePath() const { return mapPagePath_; }

    // The notice line over the recording list (inserted card, removed card).
    CardNotice* cardNotice() const { return cardNotice_; }
    CardWatcher* cardWatcher() const { return cardWatcher_; }

    // Called once after --demo has listed the demo card.
    void demoCardListed() { onDemoCardListed(); }

  signals:
    // After a key-down was consumed, with what it did (None for a dropped key).
    void keyRouted(orvik::shell::KeyAction action);

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
    void showEvent(QShowEvent* e) override;

  private:
    friend class MainWindowTestAccess;

    // ---- main_window.cpp ----
    void createControls();
    void createVideoPanes();   // main_window_panes.cpp
    void destroyVideoPanes();  // main_window_panes.cpp
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

    // ---- main_window_playback.cpp (playback and telemetry displays) ----
    // Creates the G-sensor graph 1013, the readouts 1020/1023/1024 and the map host 32783 at
    // their places (assigning the members below) and their hidden/shown state.
    void createDisplays();
    // After panes, players and sliders exist: volume from the slider, map page written and
    // loaded into the hidden host (sets mapPagePath_).
    void initPlayback();
    // Destroy: stop and delete both players, release the browser. The map page file is removed
    // by shutdown() afterwards.
    void shutdownPlayback();
    void openRecording(int row);   // list double click
    void openNextRecording();      // end of a recording, Page Down
    void openPreviousRecording();  // Page Up
    void onDemoCardListed();
    void playCommand();
    void pauseCommand();
    void rewindCommand();
    void fastForwardCommand();
    void speedUpCommand();
    void speedDownCommand();
    void zoomInCommand();
    void zoomOutCommand();
    void swapCommand();
    void fullScreenCommand();         // FullScreen button
    void maximizeCommand();           // Maximize button and Enter
    void toggleFullScreen(int pane);  // 0 none enlarged, 1 front, 2 rear
    void seekBarReleased();
    void volumeSliderReleased();
    void positionTimerTick();
    void displayTimerTick();
    void graphEvent();
    void panePan(int dx, int dy);
    void paneDoubleClick(int channel);
    void mouseWheelZoom(int delta);
    void spaceKey();
    void stepPosition(int direction);  // arrow keys, -1 or +1
    // The Information tab was chosen; firstTime is true once per process (navigate the map).
    void informationPanelShown(bool firstTime);
    // Opens one recording with its partner (false when the front file cannot be opened), and the
    // steps it is made of.
    bool openRecordingFile(const QString& path, bool isFront);
    void startOfPlayback();
    void disableSeekBar();
    void selectAndFocusRow(int row);

    // ---- main_window_cards.cpp (cards inserted and removed while the viewer runs) ----
    void watchCards();
    void cardInserted(const CardInfo& card);
    void cardRemoved(const CardInfo& card);
    // Stops the playing recording whose card is gone; false when nothing was playing.
    bool stopPlaybackOfRemovedCard();

    // ---- main_window_dialogs.cpp (settings and time dialogs) ----
    void configurationCommand();
    void clockCommand();

  public:
    // State the playback file keeps for itself (players' scales, modes, telemetry track ...).
    struct PlaybackState;
    struct PlaybackStateDeleter {
        void operator()(PlaybackState* p) const;
    };

  private:
    std::unique_ptr<PlaybackState, PlaybackStateDeleter> playback_;

    // Controls.
    RecordingListView* recordingList_ = nullptr;
    RecordingListModel* recordingModel_ = nullptr;
    SkinSlider* seekBar_ = nullptr;
    SkinSlider* volumeSlider_ = nullptr;
    QLabel* rateLabel_ = nullptr;  // 1034
    QLabel* zoomLabel_ = nullptr;  // 1033
    // Created by createDisplays().
    QWidget* gsensorGraph_ = nullptr;
    QWidget* speedReadout_ = nullptr;
    QWidget* precisionReadout_ = nullptr;
    QWidget* satellitesReadout_ = nullptr;
    QWidget* mapHost_ = nullptr;

    // Video panes and players (created by createVideoPanes()). The pane widgets are always
    // there; the typed pointers are set once the media pipeline is built in.
    QWidget* frontPaneWidget_ = nullptr;
    QWidget* rearPaneWidget_ = nullptr;
    playback::VideoPane* frontPane_ = nullptr;
    playback::VideoPane* rearPane_ = nullptr;
    playback::MediaPlayer* frontPlayer_ = nullptr;
    playback::MediaPlayer* rearPlayer_ = nullptr;

    CardWatcher* cardWatcher_ = nullptr;
    CardNotice* cardNotice_ = nullptr;

    QTimer positionTimer_;
    QTimer displayTimer_;

    int screenWidth_ = 0;
    int screenHeight_ = 0;
    static constexpr QRect kFrontPaneRect{15, 56, 646, 363};
    static constexpr QRect kRearPaneRect{678, 384, 326, 246};
    bool fullScreen_ = false;
    PanelView panelView_ = PanelView::Recordings;
    bool informationShownBefore_ = false;
    int currentRow_ = -1;
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
