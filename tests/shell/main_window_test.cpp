#include "shell/main_window.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "gui_test_support.h"
#include "playback/transport.h"
#include "shell/control_ids.h"
#include "shell/displays_panel.h"
#include "shell/private_messages.h"
#include "shell/recording_list.h"
#include "shell/skin.h"

namespace orvik::shell {

// Reaches the window's private state the way only a test may.
class MainWindowTestAccess {
  public:
    static QTimer& positionTimer(MainWindow& w) { return w.positionTimer_; }
    static QTimer& displayTimer(MainWindow& w) { return w.displays_->displayTimer(); }
};

namespace {

struct Expected {
    int id;
    QRect geometry;
    bool visible;
    bool enabled;
};

// The control table: place, and whether the control shows and works at start (nothing is loaded,
// so Play shows and Pause does not).
const Expected kControls[] = {
    {1005, {7, 5, 56, 47}, true, true},       {1007, {63, 5, 54, 47}, true, true},
    {1008, {171, 5, 54, 47}, false, false},   {1001, {906, 5, 31, 33}, true, true},
    {1035, {936, 5, 32, 33}, true, true},     {1002, {969, 5, 35, 33}, true, true},
    {1004, {674, 54, 167, 29}, true, true},   {1003, {841, 54, 167, 29}, true, true},
    {1011, {680, 85, 322, 298}, true, true},  {1025, {519, 594, 39, 33}, true, true},
    {1036, {481, 594, 39, 33}, true, true},   {1026, {61, 603, 23, 26}, true, true},
    {1027, {84, 603, 23, 26}, true, true},    {1028, {84, 603, 23, 26}, false, true},
    {1030, {107, 603, 23, 26}, true, true},   {1032, {141, 605, 16, 20}, true, true},
    {1031, {186, 605, 16, 20}, true, true},   {1016, {224, 605, 16, 20}, true, true},
    {1015, {275, 605, 16, 20}, true, true},   {1034, {157, 606, 29, 18}, true, true},
    {1033, {242, 606, 30, 18}, true, true},   {1012, {42, 570, 595, 13}, true, false},
    {1018, {594, 598, 59, 13}, true, true},   {1013, {15, 425, 646, 130}, true, true},
    {1020, {700, 338, 100, 30}, false, true}, {1023, {912, 329, 70, 22}, false, true},
    {1024, {912, 356, 70, 22}, false, true},  {32783, {680, 85, 326, 236}, false, true},
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::app();
        window_ = std::make_unique<MainWindow>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, IsABorderlessFixedSizeWindow) {
    EXPECT_EQ(window_->size(), QSize(1020, 645));
    EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
    EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window_->windowTitle(), "ORVIK");
}

TEST_F(MainWindowTest, EveryControlAtItsPlaceWithItsStartState) {
    for (const auto& c : kControls) {
        QWidget* w = window_->control(c.id);
        ASSERT_NE(w, nullptr) << "control " << c.id << " missing";
        EXPECT_EQ(w->geometry(), c.geometry) << "control " << c.id;
        EXPECT_EQ(w->isVisible(), c.visible) << "control " << c.id;
        EXPECT_EQ(w->isEnabled(), c.enabled) << "control " << c.id;
    }
    // Template buttons that are never offered.
    for (int id : {1006, 1009, 1029, 1037}) {
        QWidget* w = window_->control(id);
        ASSERT_NE(w, nullptr) << id;
        EXPECT_FALSE(w->isVisible()) << id;
        EXPECT_FALSE(w->isEnabled()) << id;
    }
    auto* volume = qobject_cast<SkinSlider*>(window_->control(ctl::kVolume));
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->minimum(), 0);
    EXPECT_EQ(volume->maximum(), 99);
    EXPECT_EQ(volume->position(), 50);
    EXPECT_EQ(qobject_cast<QLabel*>(window_->control(ctl::kRateLabel))->text(), "1x");
    EXPECT_EQ(qobject_cast<QLabel*>(window_->control(ctl::kZoomLabel))->text(), "1.0x");
    EXPECT_EQ(window_->versionText(), "[Ver " ORVIK_TEST_VERSION "]");
}

TEST_F(MainWindowTest, ZoomTextsFitTheirLabel) {
    auto* zoom = qobject_cast<QLabel*>(window_->control(ctl::kZoomLabel));
    ASSERT_NE(zoom, nullptr);
    const QFontMetrics fm(zoom->font());
    for (double scale = 0.5; scale <= 2.0; scale += 0.05) {
        const QString text = QString::fromStdString(playback::zoomLabel(scale));
        EXPECT_LE(fm.horizontalAdvance(text), zoom->contentsRect().width()) << text.toStdString();
    }
    EXPECT_LE(fm.horizontalAdvance(QStringLiteral("1.01x")), zoom->contentsRect().width());
}

TEST_F(MainWindowTest, PanesSitAtTheirRectanglesRearOnTop) {
    QWidget* front = window_->findChild<QWidget*>("frontPane");
    QWidget* rear = window_->findChild<QWidget*>("rearPane");
    ASSERT_TRUE(front && rear);
    EXPECT_EQ(front->geometry(), QRect(15, 56, 646, 363));
    EXPECT_EQ(rear->geometry(), QRect(678, 384, 326, 246));
    EXPECT_EQ(window_->childAt(700, 400), rear) << "the rear pane is on top of the list";
}

TEST_F(MainWindowTest, TooltipsComeFromTheStringTable) {
    EXPECT_EQ(window_->button(ctl::kOpen)->toolTip(), "Open");
    EXPECT_EQ(window_->button(ctl::kRewind)->toolTip(), "Skip backward 10 seconds");
    EXPECT_EQ(window_->button(ctl::kSpeedUp)->toolTip(), "2x");
    EXPECT_EQ(window_->button(ctl::kSwap)->toolTip(), "Swap");
    EXPECT_TRUE(window_->button(ctl::kClose)->toolTip().isEmpty());
}

TEST_F(MainWindowTest, TabsSwitchThePanel) {
    auto* record = window_->button(ctl::kRecordTab);
    auto* info = window_->button(ctl::kInformationTab);
    EXPECT_EQ(window_->panelView(), PanelView::Recordings);
    EXPECT_EQ(record->normalSlice(), 1);
    EXPECT_EQ(record->pressedSlice(), 0);
    EXPECT_EQ(info->normalSlice(), 0);
    EXPECT_EQ(info->pressedSlice(), 1);

    QTest::mouseClick(info, Qt::LeftButton);
    EXPECT_EQ(window_->panelView(), PanelView::Information);
    EXPECT_FALSE(window_->control(ctl::kRecordingList)->isVisible());
    for (int id :
         {ctl::kMapHost, ctl::kSpeedReadout, ctl::kPrecisionReadout, ctl::kSatellitesReadout})
        EXPECT_TRUE(window_->control(id)->isVisible()) << id;
    EXPECT_EQ(record->normalSlice(), 0);
    EXPECT_EQ(info->normalSlice(), 1);

    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(window_->panelView(), PanelView::Recordings);
    EXPECT_TRUE(window_->control(ctl::kRecordingList)->isVisible());
    EXPECT_EQ(window_->control(ctl::kRecordingList)->geometry(), QRect(680, 85, 322, 298));
    for (int id :
         {ctl::kMapHost, ctl::kSpeedReadout, ctl::kPrecisionReadout, ctl::kSatellitesReadout})
        EXPECT_FALSE(window_->control(id)->isVisible()) << id;
}

TEST(KeyActions, SixKeysActCtrlArrowsJumpToEventsAndTheRestAreDropped) {
    EXPECT_EQ(keyActionFor(Qt::Key_Space), KeyAction::PlayPause);
    EXPECT_EQ(keyActionFor(Qt::Key_Return), KeyAction::Maximize);
    EXPECT_EQ(keyActionFor(Qt::Key_Enter), KeyAction::Maximize);
    EXPECT_EQ(keyActionFor(Qt::Key_PageUp), KeyAction::PreviousRecording);
    EXPECT_EQ(keyActionFor(Qt::Key_PageDown), KeyAction::NextRecording);
    EXPECT_EQ(keyActionFor(Qt::Key_Left), KeyAction::StepBack);
    EXPECT_EQ(keyActionFor(Qt::Key_Right), KeyAction::StepForward);
    for (int k : {Qt::Key_Escape, Qt::Key_Up, Qt::Key_Down, Qt::Key_A, Qt::Key_F4, Qt::Key_Tab})
        EXPECT_EQ(keyActionFor(k), KeyAction::None) << k;
    EXPECT_EQ(keyActionFor(Qt::Key_Left, true), KeyAction::PreviousEvent);
    EXPECT_EQ(keyActionFor(Qt::Key_Right, true), KeyAction::NextEvent);
    // Ctrl changes nothing else.
    EXPECT_EQ(keyActionFor(Qt::Key_Space, true), KeyAction::PlayPause);
    EXPECT_EQ(keyActionFor(Qt::Key_PageDown, true), KeyAction::NextRecording);
    EXPECT_EQ(keyActionFor(Qt::Key_Up, true), KeyAction::None);
}

TEST_F(MainWindowTest, EveryKeyDownIsConsumedWhateverHasTheFocus) {
    auto* list = window_->recordingList();
    QSignalSpy routed(window_.get(), &MainWindow::keyRouted);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Right);
    QTest::keyClick(list, Qt::Key_Space);
    QTest::keyClick(list, Qt::Key_A);
    QTest::keyClick(window_->button(ctl::kOpen), Qt::Key_PageDown);
    QTest::keyClick(list, Qt::Key_Escape);
    ASSERT_EQ(routed.count(), 5);
    EXPECT_EQ(routed[0][0].value<KeyAction>(), KeyAction::StepForward);
    EXPECT_EQ(routed[1][0].value<KeyAction>(), KeyAction::PlayPause);
    EXPECT_EQ(routed[2][0].value<KeyAction>(), KeyAction::None);
    EXPECT_EQ(routed[3][0].value<KeyAction>(), KeyAction::NextRecording);
    EXPECT_EQ(routed[4][0].value<KeyAction>(), KeyAction::None);
    EXPECT_TRUE(window_->isVisible()) << "Escape never closes the window";
}

TEST_F(MainWindowTest, ArrowKeysDoNotMoveTheListSelection) {
    QTemporaryDir card;
    for (const char* n :
         {"alwa_20240611_101500_F.mp4", "alwa_20240611_101500_R.mp4", "alwa_20240611_101600_F.mp4"})
        QFile(card.filePath(n)).open(QIODevice::WriteOnly);
    ASSERT_TRUE(window_->listFolder(card.path()));
    auto* list = window_->recordingList();
    list->setFocus();
    list->selectRow(1);
    for (int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home})
        QTest::keyClick(list, static_cast<Qt::Key>(key));
    EXPECT_EQ(list->currentIndex().row(), 1);
}

TEST_F(MainWindowTest, KeysInOtherWindowsAreLeftAlone) {
    QWidget other;
    other.show();
    QSignalSpy routed(window_.get(), &MainWindow::keyRouted);
    QTest::keyClick(&other, Qt::Key_Space);
    EXPECT_EQ(routed.count(), 0);
}

TEST_F(MainWindowTest, SystemCloseRequestAndDefaultCommandsLeaveTheWindowOpen) {
    window_->close();
    EXPECT_TRUE(window_->isVisible());
    window_->runCommand(ctl::kCommandOk);
    window_->runCommand(ctl::kCommandCancel);
    EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWindowTest, CloseStopsTimersRemovesTheMapPageAndEndsTheLoopWithOne) {
    // The page the window wrote at start is removed at the end.
    const QString page = window_->displays().mapPagePath();
    ASSERT_FALSE(page.isEmpty());
    ASSERT_TRUE(QFile::exists(page));
    MainWindowTestAccess::positionTimer(*window_).start();
    MainWindowTestAccess::displayTimer(*window_).start();
    // A message still queued when Close comes must never be delivered afterwards.
    postWindowMessage(window_.get(), WM_PLAYBACK_COMPLETE);
    QTimer::singleShot(0, window_.get(), [this] { window_->runCommand(ctl::kClose); });
    const int code = QApplication::exec();
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(QFile::exists(page));
    EXPECT_FALSE(MainWindowTestAccess::positionTimer(*window_).isActive());
    EXPECT_FALSE(MainWindowTestAccess::displayTimer(*window_).isActive());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(window_->displays().mapPagePath().isEmpty());
}

// That full screen holds the window still is part of the full-screen journey of the playback tests.
TEST_F(MainWindowTest, DraggingTheBackgroundMovesTheWindow) {
    const QPoint start = window_->pos();
    // The title area is plain background.
    QTest::mousePress(window_.get(), Qt::LeftButton, {}, QPoint(560, 30));
    QTest::mouseMove(window_.get(), QPoint(600, 60));
    QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, QPoint(600, 60));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->pos() == start + QPoint(40, 30); }, 5000))
        << "the window stayed at " << window_->pos().x() << "," << window_->pos().y();
}

TEST_F(MainWindowTest, WindowPaintsItsSkin) {
    const QImage shot = window_->grab().toImage();
    // The background is dark, the top accent line is blue in the middle.
    const QColor body = shot.pixelColor(500, 520);
    EXPECT_LT(body.lightness(), 60);
    const QColor accent = shot.pixelColor(510, 0);
    EXPECT_GT(accent.blue(), accent.red());
}

}  // namespace
}  // namespace orvik::shell
