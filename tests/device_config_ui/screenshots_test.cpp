// Writes the documentation screenshots of the device dialogs when ORVIK_SCREENSHOT_DIR names a
// folder (scripts/screenshots.sh); skipped otherwise.
#include <QDateEdit>
#include <QDir>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>

#include "card_format/ui/card_format_dialog.h"
#include "device_config/drive_route.h"
#include "device_config/ui/device_time_dialog.h"
#include "device_config/ui/information_page.h"
#include "device_config/ui/position_window.h"
#include "device_config/ui/settings_editor.h"
#include "gui_fixture.h"

namespace orvik::testing {
namespace {

using namespace device_config;
using namespace device_config::ui;

class Screenshots : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        dir_ = qEnvironmentVariable("ORVIK_SCREENSHOT_DIR");
        if (dir_.isEmpty())
            GTEST_SKIP() << "set ORVIK_SCREENSHOT_DIR to write the screenshots";
        QDir().mkpath(dir_);
        writeConfig(DeviceConfig());
        std::filesystem::create_directories(card_ / "DrvInfo");
        ASSERT_TRUE(
            writeDriveRouteFile((card_ / "DrvInfo" / "orvik_000.drv").string(), makeSampleRoute(60))
                .saved());
    }

    // The window as the X server shows it (the real pixels, pop-ups excluded).
    void shoot(QWidget* w, const QString& name) {
        w->show();
        w->raise();
        w->activateWindow();
        QTest::qWait(150);
        QPixmap pixmap = w->screen()->grabWindow(w->winId());
        if (pixmap.isNull() || pixmap.width() < 10)
            pixmap = w->grab();
        ASSERT_TRUE(pixmap.save(dir_ + QLatin1Char('/') + name + QStringLiteral(".png")));
    }

    QString dir_;
};

TEST_F(Screenshots, SettingsPagesInBothLanguages) {
    static const char* const kTabNames[] = {"video",  "basic", "gps",   "additional",
                                            "motion", "adas",  "audio", "information"};
    for (auto language : {platform::Language::English, platform::Language::Korean}) {
        platform::setLanguage(language);
        const QString suffix = language == platform::Language::Korean ? "-ko" : "-en";
        SettingsEditor editor(QStringLiteral("[Ver 1.0.2.0]"));
        for (int tab = 0; tab < SettingsEditor::TabCount; ++tab) {
            editor.tabs()->setCurrentIndex(tab);
            shoot(&editor, QStringLiteral("settings-%1%2").arg(kTabNames[tab]).arg(suffix));
        }
        if (language == platform::Language::English) {
            InformationPage* info = editor.informationPage();
            info->list()->selectRow(12);
            info->showSelectionOnMap();
            ASSERT_NE(info->positionWindow(), nullptr);
            QTest::qWait(6000);  // the map page loads its script and tiles area
            shoot(info->positionWindow(), QStringLiteral("position-window"));
        }
        editor.reject();
    }
}

TEST_F(Screenshots, DeviceTimeAndCardFormat) {
    for (auto language : {platform::Language::English, platform::Language::Korean}) {
        platform::setLanguage(language);
        const QString suffix = language == platform::Language::Korean ? "-ko" : "-en";
        DeviceTimeDialog time;
        time.datePicker()->setDate(QDate(2024, 3, 5));
        time.timePicker()->setTime(QTime(8, 7, 6));
        shoot(&time, QStringLiteral("device-time%1").arg(suffix));

        card_format::CardTarget target;
        target.totalBytes = 31914983424ull;
        target.fileSystem = "FAT32";
        card_format::ui::CardFormatDialog format{Result<card_format::CardTarget>(target)};
        shoot(&format, QStringLiteral("card-format%1").arg(suffix));
    }
}

}  // namespace
}  // namespace orvik::testing
