// What the window tells the user, acted out through real input on the real window: the folder
// the user opened counts as the card for the settings and the driving route, the playing moment
// and file are shown in normal and full screen, an empty folder says so, and a recording that
// would be its own partner plays alone. Every case leaves a screenshot (support/gui_journey.h).
#include "support/gui_journey.h"

#include "support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "device_config/device_config.h"
#include "device_config/ui/information_page.h"
#include "device_config/ui/settings_editor.h"
#include "displays/map_host.h"
#include "platform/strings.h"
#include "playback/playback_controller.h"
#include "shell/card_monitor.h"
#include "shell/card_notice.h"
#include "shell/time_display.h"
#include "support/map_page.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using device_config::ui::SettingsEditor;
using playback::MediaTime;

constexpr int kOpen = 1005;
constexpr int kConfiguration = 1007;

// Pairs of six seconds with the camera's own files.
tools::SampleCardOptions tellsCard() {
    tools::SampleCardOptions options;
    options.width = 640;
    options.height = 360;
    options.durationSeconds = 6.0;
    options.alwaysPairs = 2;
    options.deviceFiles = true;
    return options;
}

class WindowTells : public WindowJourney {
  protected:
    void SetUp() override {
        startWindow(generatedCard(tellsCard()));
        ASSERT_GT(window_->rowCount(), 3);
    }
    void TearDown() override {
        WindowJourney::TearDown();
        ui_common::setFileDialogHook({});
    }

    // Open, and the folder chosen in its dialog.
    void openFolder(const QString& folder) {
        ui_common::setFileDialogHook([folder](const ui_common::FileDialogRequest& r) {
            EXPECT_TRUE(r.directory);
            return folder;
        });
        click(kOpen);
        ui_common::setFileDialogHook({});
    }
    // Runs `act` on the modal dialog of type Dialog that `open` brings up; returns when the
    // dialog has closed again (it is rejected when `act` left it open).
    template <class Dialog>
    void onModal(const std::function<void()>& open, const std::function<void(Dialog&)>& act) {
        bool acted = false;
        QTimer::singleShot(0, window_.get(), [&] {
            Dialog* dialog = nullptr;
            EXPECT_TRUE(QTest::qWaitFor([&] {
                dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
                return dialog != nullptr;
            }));
            if (!dialog)
                return;
            act(*dialog);
            acted = true;
            if (dialog->isVisible())
                dialog->reject();
        });
        open();
        EXPECT_TRUE(acted);
    }
    void inSettings(const std::function<void(SettingsEditor&)>& act) {
        onModal<SettingsEditor>([this] { click(kConfiguration); }, act);
    }
    static QPushButton* editorButton(SettingsEditor& editor, int id) {
        return editor.findChild<QPushButton*>(QString::number(id));
    }
    // A picture and nothing else (no telemetry boxes at all) named as the camera names its
    // recordings, with its index first; "" and a failure when ffmpeg fails.
    static QString plainRecording(const QTemporaryDir& dir, int seconds) {
        const QString path = dir.filePath("alwa_20260314_081500_F.mp4");
        const auto made = orvik::test::runCommand(
            "ffmpeg -v error -f lavfi -i testsrc=size=160x90:rate=10:duration=" +
            std::to_string(seconds) +
            " -c:v libx264 -preset ultrafast -g 10 -pix_fmt yuv420p -movflags +faststart -y " +
            orvik::test::quote(path.toStdString()));
        EXPECT_EQ(made.status, 0) << made.err;
        return made.status == 0 ? path : QString();
    }
    QString notice() const { return window_->cards().notice()->text(); }
    bool noticeShown() const { return window_->cards().notice()->isVisible(); }

    // A folder of the user's own holding a copy of the first pair and the given card files.
    QString copyOfCard(const QTemporaryDir& dir, bool withDeviceFiles) {
        const int row = firstPairRow();
        EXPECT_GE(row, 0);
        const fs::path card = fs::path(window_->rowFullPath(row).toStdString()).parent_path();
        fs::path root = card;
        while (!root.empty() && !fs::exists(root / "config_K7x7.bin"))
            root = root.parent_path();
        const fs::path copy = fs::path(dir.path().toStdString()) / "my copy";
        fs::create_directories(copy / "Normal");
        for (int r : {row, row + 1}) {
            const fs::path rec = window_->rowFullPath(r).toStdString();
            fs::copy_file(rec, copy / "Normal" / rec.filename());
        }
        if (withDeviceFiles) {
            fs::copy(root / "DrvInfo", copy / "DrvInfo", fs::copy_options::recursive);
            device_config::DeviceConfig config;
            config.setFrontQuality(3);  // not the default, so the folder's own is told apart
            EXPECT_TRUE(device_config::writeConfigFile((copy / "config_K7x7.bin").string(), config)
                            .saved());
        }
        return QString::fromStdString(copy.string());
    }
};

TEST(MomentLine, ClockPositionAndLength) {
    recordings::RecordingTimestamp start{2026, 3, 14, 8, 15, 15};
    EXPECT_EQ(momentLine(start, MediaTime::fromSeconds(12.7), MediaTime::fromSeconds(60)),
              QString::fromUtf8("08:15:27 · 0:12 / 1:00"));
    // Past midnight the clock goes round.
    recordings::RecordingTimestamp late{2026, 3, 14, 23, 59, 50};
    EXPECT_EQ(momentLine(late, MediaTime::fromSeconds(15), MediaTime::fromSeconds(60)),
              QString::fromUtf8("00:00:05 · 0:15 / 1:00"));
    // A name without a valid moment, an unknown length, an hour or more, a moment before 0.
    recordings::RecordingTimestamp broken{2026, 13, 40, 8, 15, 15};
    EXPECT_EQ(momentLine(broken, MediaTime::fromSeconds(3), std::nullopt), "0:03");
    EXPECT_EQ(momentLine(std::nullopt, MediaTime::fromSeconds(3725), MediaTime::fromSeconds(7200)),
              "1:02:05 / 2:00:00");
    EXPECT_EQ(clockDuration(MediaTime::fromSeconds(-4)), "0:00");
    // Within a drive: the drive's position and length, the clock from the recording's own start.
    EXPECT_EQ(momentLine(start, MediaTime::fromSeconds(132.7), MediaTime::fromSeconds(360),
                         MediaTime::fromSeconds(12.7)),
              QString::fromUtf8("08:15:27 · 2:12 / 6:00"));
}

TEST_F(WindowTells, TheOpenedFolderIsTheCardOfTheSettingsAndTheDrivingRoute) {
    QTemporaryDir dir;
    const QString copy = copyOfCard(dir, true);
    openFolder(copy);
    ASSERT_EQ(window_->rowCount(), 2);
    const QString configPath = copy + "/config_K7x7.bin";

    inSettings([&](SettingsEditor& editor) {
        // The folder's own settings, named in the title.
        EXPECT_EQ(editor.rememberedPath(), configPath);
        EXPECT_TRUE(editor.windowTitle().endsWith(configPath))
            << editor.windowTitle().toStdString();
        EXPECT_EQ(editor.state().session.image().frontQuality(), 3u);
        // Its driving-route records on the Information tab.
        QTest::mouseClick(editor.tabs()->tabBar(), Qt::LeftButton, {},
                          editor.tabs()->tabBar()->tabRect(SettingsEditor::Information).center());
        EXPECT_EQ(editor.tabs()->currentIndex(), SettingsEditor::Information);
        EXPECT_GT(editor.informationPage()->model()->rowCount(), 0);
        EXPECT_EQ(editor.informationPage()->currentPath(), copy + "/DrvInfo/orvik_000.drv");
        editor.grab().save(screenshotFolder() + "/WindowTells.SettingsOfTheOpenedFolder.png");
        // Save writes there without asking, and the window says so.
        ui_common::setFileDialogHook([](const ui_common::FileDialogRequest&) {
            ADD_FAILURE() << "Save asked where to write";
            return QString();
        });
        QTest::mouseClick(editorButton(editor, 1), Qt::LeftButton);
        ui_common::setFileDialogHook({});
        EXPECT_FALSE(editor.isVisible());
    });
    EXPECT_TRUE(noticeShown());
    EXPECT_EQ(notice(), "The settings were saved to " + configPath);
    auto saved = device_config::readConfigFile(configPath.toStdString());
    ASSERT_TRUE(saved.ok()) << saved.error();
    EXPECT_EQ(saved->frontQuality(), 3u);
    // The folder is no drive: it gets no label.
    EXPECT_FALSE(QFile::exists(copy + "/.volume-label"));
}

TEST_F(WindowTells, SaveOffersTheOpenedFolderWhenItHasNoSettingsYet) {
    QTemporaryDir dir;
    const QString copy = copyOfCard(dir, false);
    openFolder(copy);
    ASSERT_EQ(window_->rowCount(), 2);
    QString offered;
    inSettings([&](SettingsEditor& editor) {
        EXPECT_TRUE(editor.rememberedPath().isEmpty());
        ui_common::setFileDialogHook([&](const ui_common::FileDialogRequest& r) {
            offered = r.startFolder;
            return r.startFolder + "/" + r.proposedName;
        });
        QTest::mouseClick(editorButton(editor, 1), Qt::LeftButton);
        ui_common::setFileDialogHook({});
    });
    EXPECT_EQ(offered, copy);
    EXPECT_TRUE(QFile::exists(copy + "/config_K7x7.bin"));
    EXPECT_EQ(notice(), "The settings were saved to " + copy + "/config_K7x7.bin");
}

TEST_F(WindowTells, TheMomentAndTheFileAreShownInNormalAndFullScreen) {
    TimeDisplay* display = window_->timeDisplay();
    ASSERT_TRUE(display);
    // Nothing plays yet: nothing is shown.
    EXPECT_TRUE(display->momentText().isEmpty());
    // In the caption bar, clear of the caption buttons.
    EXPECT_LT(display->geometry().bottom(), 54);
    EXPECT_LT(display->geometry().right(), window_->control(kMinimize)->geometry().left());

    const int row = firstPairRow();
    playRow(row);
    const QRegularExpression moment(QString::fromUtf8("^\\d\\d:\\d\\d:\\d\\d · 0:0(\\d) / 0:06$"));
    auto second = [&] {
        const auto m = moment.match(display->momentText());
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    EXPECT_EQ(display->fileText(), window_->rowFileName(row));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second() >= 1; }, 20000))
        << display->momentText().toStdString();
    EXPECT_TRUE(display->isVisible());
    shot("WindowTells.TheMomentInNormalScreen", false);

    click(kFullScreen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->isFullScreenMode(); }, 10000));
    const int before = second();
    ASSERT_TRUE(QTest::qWaitFor([&] { return second() > before; }, 20000))
        << display->momentText().toStdString();
    EXPECT_TRUE(display->isVisible());
    EXPECT_LT(display->geometry().bottom(), 54);
    EXPECT_LT(display->geometry().right(), window_->control(kMinimize)->geometry().left());
    EXPECT_GT(display->geometry().width(), 150);
    EXPECT_EQ(display->fileText(), window_->rowFileName(row));
    shot("WindowTells.TheMomentInFullScreen", false);
    click(kFullScreen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->isFullScreenMode(); }, 10000));
}

TEST_F(WindowTells, AnEmptyFolderSaysSo) {
    QTemporaryDir dir;
    openFolder(dir.path());
    EXPECT_EQ(window_->rowCount(), 0);
    EXPECT_EQ(window_->recordingList()->emptyText(), "No recordings found in " + dir.path());
    // A folder with recordings shows them and no such line.
    openFolder(generatedCard(tellsCard()));
    EXPECT_GT(window_->rowCount(), 0);
    EXPECT_TRUE(window_->recordingList()->emptyText().isEmpty());
    openFolder(dir.path());
}

TEST_F(WindowTells, ARecordingNamedOutsideTheCamerasGrammarIsNoPartnerOfItself) {
    QTemporaryDir dir;
    const int row = firstPairRow();
    ASSERT_TRUE(QFile::copy(window_->rowFullPath(row), dir.filePath("drive_F.mp4")));
    openFolder(dir.path());
    ASSERT_EQ(window_->rowCount(), 1);
    playRow(0);
    EXPECT_TRUE(running(frontPlayer()));
    // The rear pane keeps its placeholder picture: nothing was opened in it.
    EXPECT_FALSE(rearPlayer()->hasFile());
    EXPECT_FALSE(rear()->hasVideo());
}

TEST_F(WindowTells, InKoreanADamagedFileIsNamedAndTheButtonSaysKoreanOk) {
    QTemporaryDir dir;
    const QString damaged = dir.filePath("alwa_20260314_081500_F.mp4");
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1024, '\x5a'));
    }
    openFolder(dir.path());
    ASSERT_EQ(window_->rowCount(), 1);

    platform::setLanguage(platform::Language::Korean);
    ASSERT_TRUE(ui_common::installQtTranslations()) << "qt6-translations-l10n is not installed";
    QString shown, button;
    onModal<QMessageBox>(
        [this] { doubleClickRow(0); },
        [&](QMessageBox& box) {
            shown = box.text();
            QAbstractButton* ok = box.buttons().value(0);
            button = ok ? ok->text() : QString();
            box.grab().save(screenshotFolder() + "/WindowTells.DamagedFileInKorean.png");
            if (ok)
                QTest::mouseClick(ok, Qt::LeftButton);
        });
    platform::setLanguage(platform::Language::English);
    ui_common::installQtTranslations();

    EXPECT_EQ(button.remove(QLatin1Char('&')), QString::fromUtf8("확인"));
    EXPECT_TRUE(shown.startsWith("Error 0x")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(damaged)) << shown.toStdString();
    EXPECT_FALSE(running(frontPlayer()));
    EXPECT_TRUE(shows(kPlay));
}

TEST_F(WindowTells, ARecordingWithoutTelemetrySaysSoNamingTheFile) {
    QTemporaryDir dir;
    ASSERT_FALSE(plainRecording(dir, 2).isEmpty());
    openFolder(dir.path());
    ASSERT_EQ(window_->rowCount(), 1);
    playRow(0);
    EXPECT_TRUE(noticeShown());
    EXPECT_EQ(notice(), "No telemetry (speed, position, G-sensor) in alwa_20260314_081500_F.mp4");
    shot("WindowTells.ARecordingWithoutTelemetry", false);
    // One that carries it shows no such line.
    window_->cards().notice()->dismissButton()->click();
    openFolder(generatedCard(tellsCard()));
    playRow(firstPairRow());
    EXPECT_FALSE(noticeShown());
}

TEST_F(WindowTells, ARecordingCutShortSaysWhereItEndedAndShowsPlay) {
    QTemporaryDir dir, other;
    const QString whole = copyOfCard(other, false);
    const QString cut = plainRecording(dir, 60);
    ASSERT_FALSE(cut.isEmpty());
    // A power loss: the index still promises a minute, the pictures stop after about a second.
    const auto size = fs::file_size(cut.toStdString());
    fs::resize_file(cut.toStdString(), size / 40);
    openFolder(dir.path());
    ASSERT_EQ(window_->rowCount(), 1);
    doubleClickRow(0);
    const QRegularExpression line(
        "^alwa_20260314_081500_F\\.mp4 ended early, at 0:0\\d of 1:00: the rest of the "
        "recording is missing$");
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.match(notice()).hasMatch(); }, 30000))
        << notice().toStdString();
    EXPECT_TRUE(noticeShown());
    // Nothing plays any more, and the button says so.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(kPlay); }, 10000));
    EXPECT_FALSE(shows(kPause));
    shot("WindowTells.ARecordingCutShort", false);

    // A recording that plays to its end says nothing of the kind.
    window_->cards().notice()->dismissButton()->click();
    openFolder(whole);
    playRow(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(kPlay); }, 30000));
    EXPECT_FALSE(noticeShown()) << notice().toStdString();
}

TEST_F(WindowTells, ARecordingWithoutPositionsShowsNoMarkerAndNoReadouts) {
    QTemporaryDir dir, other;
    ASSERT_FALSE(plainRecording(dir, 4).isEmpty());
    const QString folder = copyOfCard(other, false);
    playRow(firstPairRow());
    click(kInformationTab);
    auto* host = qobject_cast<displays::MapHost*>(window_->control(kMap));
    ASSERT_TRUE(orvik::test::mapPageLoaded(host));
    auto markers = [&] { return evaluate(host, "markers.length").toInt(); };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return markers() == 1 && !text(kSpeedReadout).isEmpty(); }, 20000));

    openFolder(dir.path());
    ASSERT_EQ(rowOf("alwa_20260314_081500_F.mp4"), 0);
    doubleClickRow(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return markers() == 0; }, 20000));
    for (int readout : {int(kSpeedReadout), 1023, 1024})
        EXPECT_TRUE(text(readout).isEmpty()) << readout << ": " << text(readout).toStdString();
    shot("WindowTells.NoPositionsNoMarker", false);

    // A recording with positions brings them back.
    openFolder(folder);
    playRow(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return markers() == 1; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return text(kSpeedReadout).endsWith("/h"); }, 20000));
    click(kRecordTab);
}

TEST_F(WindowTells, TheSpeedReadoutAndItsTooltipNameTheUnitAlike) {
    playRow(firstPairRow());
    click(kInformationTab);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(kSpeedReadout); }, 10000));
    EXPECT_TRUE(text(kSpeedReadout).endsWith(" Km/h")) << text(kSpeedReadout).toStdString();
    EXPECT_TRUE(window_->control(kSpeedReadout)->toolTip().contains("Km/h"))
        << window_->control(kSpeedReadout)->toolTip().toStdString();
    click(kRecordTab);
}

TEST_F(WindowTells, PlayShowsWhenNothingPlays) {
    // Nothing loaded yet, after a recording, and once the last one of the list has ended.
    EXPECT_TRUE(shows(kPlay));
    EXPECT_FALSE(shows(kPause));
    QTemporaryDir dir;
    openFolder(copyOfCard(dir, false));
    ASSERT_EQ(window_->rowCount(), 2);  // one pair: its end is the list's end
    playRow(0);
    EXPECT_TRUE(shows(kPause));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(kPlay); }, 30000))
        << "the list's last recording ended, Pause still shown";
    EXPECT_FALSE(shows(kPause));
}

}  // namespace
}  // namespace orvik::shell
