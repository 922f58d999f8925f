// Export from the real main window, as a user does it: right-click on a playing pane, mark in
// and out on the seek bar, open the clip dialog from the menu, export with the mouse, see the
// marks on the bar and the result in the file manager. Input through the window system only.
#include "support/gui_journey.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <vector>

#include "export/ui/export_dialog.h"
#include "playback/playback_controller.h"
#include "recordings/telemetry.h"
#include "shell/displays_panel.h"

namespace orvik::shell {
namespace {

using namespace testing;
using exporting::ui::ExportDialog;
using playback::VideoPane;

// One front/rear pair of six seconds.
tools::SampleCardOptions exportCard() {
    tools::SampleCardOptions options;
    options.durationSeconds = 6.0;
    options.alwaysPairs = 1;
    options.deviceFiles = false;
    return options;
}
const QString& cardFolder() {
    return generatedCard(exportCard());
}

class PaneExport : public WindowJourney {
  protected:
    void SetUp() override {
        ExportDialog::setRevealHandler([this](const QString& f) { revealed_ = f; });
        startWindow(cardFolder());
        // Play the first front/rear pair as a user starts it.
        const int row = firstPairRow(QStringLiteral("alwa_"));
        ASSERT_GE(row, 0);
        doubleClickRow(row);
        ASSERT_TRUE(QTest::qWaitFor([&] { return seekBar()->isEnabled(); }, 20000));
    }
    void TearDown() override {
        WindowJourney::TearDown();
        ExportDialog::setRevealHandler({});
    }

    // A right click as the window system delivers it, so the context menu event is made too.
    QMenu* rightClick(QWidget* w) {
        const QPoint at = w->mapTo(window_.get(), w->rect().center());
        QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {}, at);
        QMenu* menu = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                return menu != nullptr;
            },
            5000));
        return menu;
    }
    void choose(QMenu* menu, const char* action) {
        QAction* a = menu->findChild<QAction*>(QString::fromLatin1(action));
        ASSERT_NE(a, nullptr) << action;
        ASSERT_TRUE(a->isEnabled()) << action;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
    }
    ExportDialog* dialog() const { return window_->findChild<ExportDialog*>(); }
    // Waits until the recording has played to `seconds`.
    void playUntil(double seconds) {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return seekBar()->position() >= static_cast<std::int64_t>(seconds * kSecond); },
            20000));
    }

    QString revealed_;
};

TEST_F(PaneExport, MarksInAndOutOnTheSeekBarThenExportsThatClipFromThePaneMenu) {
    QMenu* menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().at(0)->text(), QStringLiteral("Snapshot…"));
    EXPECT_EQ(menu->actions().at(1)->text(), QStringLiteral("Export clip…"));
    choose(menu, "markInAction");
    ASSERT_TRUE(window_->playback().markedIn().has_value());
    const std::int64_t in = window_->playback().markedIn()->units();
    playUntil(static_cast<double>(in) / kSecond + 2.0);
    menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    choose(menu, "markOutAction");
    ASSERT_TRUE(window_->playback().markedOut().has_value());
    const std::int64_t out = window_->playback().markedOut()->units();
    EXPECT_GT(out, in);
    // Both marks are drawn on the bar.
    // The trip's event marks share the bar; only the clip's own marks count here.
    std::vector<SliderMark> marks;
    for (const SliderMark& m : seekBar()->marks())
        if (m.kind == SliderMarkKind::In || m.kind == SliderMarkKind::Out)
            marks.push_back(m);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].kind, SliderMarkKind::In);
    EXPECT_EQ(marks[0].position, in);
    EXPECT_EQ(marks[1].kind, SliderMarkKind::Out);
    const QImage bar = seekBar()->grab().toImage();
    const QColor inColour = SkinSlider::markColour(SliderMarkKind::In);
    bool drawn = false;
    const int x = seekBar()->centreX(in);
    for (int y = 0; y < bar.height() && !drawn; ++y)
        drawn = bar.pixelColor(x, y) == inColour;
    EXPECT_TRUE(drawn) << "no in mark at x " << x;

    menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    choose(menu, "exportClipAction");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog() && dialog()->isVisible(); }, 5000));
    ExportDialog* d = dialog();
    const QString target =
        QDir(cardFolder()).filePath(QStringLiteral("exported-%1.mp4").arg(::getpid()));
    auto* edit = d->findChild<QLineEdit*>("output");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, target);
    QSignalSpy done(d, &ExportDialog::exportFinished);
    auto* exportButton = d->findChild<QPushButton*>("export");
    QTest::mouseClick(exportButton, Qt::LeftButton, {}, exportButton->rect().center());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 120000);
    EXPECT_TRUE(done.at(0).at(0).toBool()) << done.at(0).at(1).toString().toStdString();
    EXPECT_EQ(revealed_, target);
    EXPECT_EQ(d->findChild<QProgressBar*>("progress")->value(), 1000);

    // The clip holds the marked stretch and its telemetry.
    recordings::TelemetryTrack track;
    ASSERT_EQ(track.readRecording(target.toStdString()), S_OK);
    EXPECT_GE(track.size(), 11u);
    std::filesystem::remove(target.toStdString());
    auto* close = d->findChild<QPushButton*>("cancel");
    QTest::mouseClick(close, Qt::LeftButton, {}, close->rect().center());
    QTRY_VERIFY(dialog() == nullptr || !dialog()->isVisible());

    // Clearing takes the marks off the bar.
    menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    choose(menu, "clearMarksAction");
    for (const SliderMark& m : seekBar()->marks())
        EXPECT_TRUE(m.kind != SliderMarkKind::In && m.kind != SliderMarkKind::Out);
}

TEST_F(PaneExport, TheSnapshotDialogOpensAtTheMomentShownAndOtherAreasCanAddEntries) {
    bool asked = false;
    QObject::connect(window_.get(), &MainWindow::paneMenuRequested, window_.get(),
                     [&](QMenu* menu, VideoPane* pane) {
                         asked = pane == front();
                         menu->addAction(QStringLiteral("Extra"));
                     });
    // Captions follow the viewer's speed unit, switched with a click on the speed readout.
    for (int id : {1003, 1020}) {
        QWidget* c = window_->control(id);
        ASSERT_TRUE(c && c->isVisible()) << "control " << id;
        QTest::mouseClick(c, Qt::LeftButton, {}, c->rect().center());
    }
    const displays::SpeedDisplay shown = window_->displays().speedDisplay();
    ASSERT_NE(shown, displays::SpeedDisplay::AsRecorded);
    QMenu* menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(asked);
    EXPECT_EQ(menu->actions().last()->text(), QStringLiteral("Extra"));
    choose(menu, "snapshotAction");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog() && dialog()->isVisible(); }, 5000));
    EXPECT_EQ(dialog()->windowTitle(), QStringLiteral("Snapshot"));
    EXPECT_EQ(dialog()->speedUnit(), shown == displays::SpeedDisplay::MilesPerHour
                                         ? recordings::SpeedUnit::MilesPerHour
                                         : recordings::SpeedUnit::KilometresPerHour);
    // The pair offers all four layouts.
    EXPECT_EQ(dialog()->findChild<QComboBox*>("layout")->count(), 4);
    auto* preview = dialog()->findChild<QLabel*>("preview");
    QTRY_VERIFY_WITH_TIMEOUT(!preview->pixmap().isNull(), 20000);
}

}  // namespace
}  // namespace orvik::shell
