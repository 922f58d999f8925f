#pragma once
// The real main window on a generated card, for tests that drive it as a user does: the card made
// once per program, the window started and listed, rows played by double clicks, what the user
// sees (panes, players, controls, labels), keys through the X server, the screen itself, and a
// screenshot of every case in ORVIK_SCREENSHOT_DIR (default: journeys/ in the build folder).
//
// The generator comes first: its field named "slots" must not meet Qt's keyword macro.
#include "samplecard/sample_card.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>
#include <QString>
#include <QVariant>
#include <initializer_list>
#include <memory>
#include <string>

#include "playback/media_player.h"
#include "playback/media_time.h"
#include "playback/video_pane.h"
#include "shell/gui_test_support.h"
#include "shell/main_window.h"
#include "shell/recording_list.h"
#include "shell/skin.h"

namespace orvik::displays {
class MapHost;
}

namespace orvik::shell::testing {

// One second on the seek bar, whose positions count 100-ns units.
inline constexpr std::int64_t kSecond = playback::MediaTime::kUnitsPerSecond;

// Control ids as the window names them.
enum Control : int {
    kMinimize = 1001,
    kClose = 1002,
    kInformationTab = 1003,
    kRecordTab = 1004,
    kList = 1011,
    kSeekBar = 1012,
    kGraph = 1013,
    kZoomIn = 1015,
    kZoomOut = 1016,
    kVolume = 1018,
    kSpeedReadout = 1020,
    kFullScreen = 1025,
    kRewind = 1026,
    kPlay = 1027,
    kPause = 1028,
    kFastForward = 1030,
    kSpeedUp = 1031,
    kSpeedDown = 1032,
    kZoomLabel = 1033,
    kRateLabel = 1034,
    kMaximize = 1035,
    kSwap = 1036,
    kPreviousEvent = 1050,
    kNextEvent = 1051,
    kMap = 32783
};

// A card written by the sample generator, a copy of the program's own made once per test program
// (the first caller's options hold) from the build folder's card cache (test-cards/), which
// writes each card once for every program and run; "" and a test failure when it cannot be had.
const QString& generatedCard(const tools::SampleCardOptions& options);

// Folder for screenshots, made when missing.
QString screenshotFolder();

// Mean colour of `r` in `image`; invalid when `r` does not lie wholly on it.
QColor meanColour(const QImage& image, QRect r);

// The main window on a generated card. Subclasses call startWindow() in SetUp().
class WindowJourney : public ::testing::Test {
  protected:
    // Starts the window (no sound device, a temporary folder of the program's own) and lists
    // `cardFolder` in it.
    void startWindow(const QString& cardFolder);
    // Saves a screenshot named after the case (unless shotEachCase_ is false), then closes the
    // window.
    void TearDown() override;

    // ---- what the user does ----
    void click(int id);
    void key(Qt::Key k);
    void doubleClickRow(int row);
    // Double-clicks the row and waits until the front picture runs.
    void playRow(int row);

    // ---- rows ----
    // The first front row (its name starting with `prefix`) whose rear partner stands right
    // below it; -1 when there is none.
    int firstPairRow(const QString& prefix = {}) const;
    int rowOf(const QString& fileName) const;

    // ---- what the user sees ----
    playback::VideoPane* pane(const char* name) const;
    playback::VideoPane* front() const { return pane("frontPane"); }
    playback::VideoPane* rear() const { return pane("rearPane"); }
    playback::MediaPlayer* frontPlayer() const { return front()->player(); }
    playback::MediaPlayer* rearPlayer() const { return rear()->player(); }
    static bool running(const playback::MediaPlayer* p);
    // Where a player is, in the seek bar's units (100 ns); 0 when it cannot say.
    static std::int64_t positionOf(const playback::MediaPlayer* p) {
        playback::MediaTime t;
        (void)p->GetCurrentPosition(&t);
        return t.units();
    }
    bool running() const { return running(frontPlayer()); }
    bool bothRunning() const { return running(frontPlayer()) && running(rearPlayer()); }
    SkinSlider* slider(int id) const;
    SkinSlider* seekBar() const { return slider(kSeekBar); }
    QString text(int id) const;
    bool shows(int id) const;
    QRect monitor() const;
    // Runs `script` in the map page and returns its result (waits up to 10 s).
    static QVariant evaluate(displays::MapHost* host, const QString& script);

    // ---- the X server ----
    // A key pressed on the X server's keyboard; it reaches whatever window X gives the focus.
    static void xKey(const char* name);
    // Whether the screen itself (not the window's idea of its layout) shows these controls as
    // the window draws them, with the window's top-left at `origin`.
    bool screenShowsControls(QPoint origin, std::initializer_list<int> ids) const;

    // ---- screenshots, named <name>-<screen width>x<height>.png (or <name>.png) ----
    // The window as it lays itself out.
    void shot(const std::string& name, bool screenSizeInName = true) const;
    // The whole screen as X shows it.
    void screenShot(const std::string& name) const;

    std::unique_ptr<MainWindow> window_;
    bool shotEachCase_ = true;  // TearDown's screenshot
};

}  // namespace orvik::shell::testing
