// The Information page with the Position window, the device-time dialog and the SD Card Format
// dialog, over folders and card images presented as removable volumes.
#include <sys/stat.h>

#include <QComboBox>
#include <QDateEdit>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>
#include <cstdlib>
#include <fstream>

#include "card_format/ui/card_format_dialog.h"
#include "device_config/drive_route.h"
#include "device_config/ui/device_time_dialog.h"
#include "device_config/ui/information_page.h"
#include "device_config/ui/position_window.h"
#include "device_config/ui/settings_editor.h"
#include "displays/map_host.h"
#include "gui_fixture.h"
#include "platform/commit_writer.h"
#include "support/map_page.h"
#include "support/test_support.h"
#include "user_input.h"

namespace orvik::testing {
namespace {

using namespace device_config;
using namespace device_config::ui;
using namespace ui_common;

using orvik::test::readFile;

class InformationPageTest : public GuiTest {
  protected:
    void writeRoute(std::size_t count) {
        std::filesystem::create_directories(card_ / "DrvInfo");
        ASSERT_TRUE(writeDriveRouteFile(drvPath().string(), makeSampleRoute(count)).saved());
    }
    std::filesystem::path drvPath() const { return card_ / "DrvInfo" / "orvik_000.drv"; }
};

TEST_F(InformationPageTest, ListsTheCardsRecordsAndExportsThem) {
    writeRoute(5);
    SettingsEditor editor(QString{});
    editor.tabs()->setCurrentIndex(SettingsEditor::Information);
    EXPECT_TRUE(messages_.empty());
    InformationPage* page = editor.informationPage();
    EXPECT_EQ(page->currentPath().toStdString(), drvPath().string());
    ASSERT_EQ(page->model()->rowCount(), 5);
    ASSERT_EQ(page->model()->columnCount(), 28);
    EXPECT_EQ(page->model()->headerData(19, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Gear position"));
    EXPECT_EQ(page->model()->data(page->model()->index(4, 0), Qt::DisplayRole).toString(),
              QStringLiteral("5"));
    EXPECT_EQ(page->list()->geometry(), QRect(0, 0, 626, 452));

    // Export asks where, with the proposed name, and writes the table as the core formats it.
    const auto target = root_ / "out.csv";
    answer_ = QString::fromStdString(target.string());
    userClick(editor.findChild<QPushButton*>("3716"));
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_EQ(dialogs_[0].proposedName, QStringLiteral("orvik_drv.csv"));
    std::vector<std::string> headers;
    for (const QString& h : page->model()->headers())
        headers.push_back(h.toStdString());
    EXPECT_EQ(readFile(target), driveRouteCsv(page->model()->rows(), headers));
}

TEST_F(InformationPageTest, KoreanHeadersGoIntoTheExport) {
    writeRoute(2);
    platform::setLanguage(platform::Language::Korean);
    SettingsEditor editor(QString{});
    InformationPage* page = editor.informationPage();
    EXPECT_EQ(page->model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("날짜"));
    const auto target = root_ / "ko.csv";
    ASSERT_TRUE(page->exportTo(QString::fromStdString(target.string())));
    EXPECT_NE(readFile(target).find("날짜"), std::string::npos);
}

TEST_F(InformationPageTest, NoRouteFileWarnsOnEverySwitch) {
    SettingsEditor editor(QString{});
    for (int round = 0; round < 2; ++round) {
        editor.tabs()->setCurrentIndex(SettingsEditor::Information);
        editor.tabs()->setCurrentIndex(SettingsEditor::Video);
    }
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0].text.toStdString(),
              "Can not read the driving route information.\nYou can check the driving route "
              "information from the micro SD card.");
    EXPECT_EQ(messages_[0].caption, editor.resourceTitle());
    EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);

    // Export with nothing listed does nothing at all.
    userClick(editor.findChild<QPushButton*>("3716"));
    EXPECT_TRUE(dialogs_.empty());
}

TEST_F(InformationPageTest, OpenReadsAnotherFileAndReportsUnreadableOnes) {
    writeRoute(3);
    const auto other = root_ / "other.drv";
    ASSERT_TRUE(writeDriveRouteFile(other.string(), makeSampleRoute(7)).saved());
    SettingsEditor editor(QString{});
    InformationPage* page = editor.informationPage();
    answer_ = QString::fromStdString(other.string());
    userClick(editor.findChild<QPushButton*>("3719"));
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_FALSE(dialogs_[0].save);
    EXPECT_EQ(page->model()->rowCount(), 7);

    answer_ = QString::fromStdString((root_ / "missing.drv").string());
    userClick(editor.findChild<QPushButton*>("3719"));
    EXPECT_EQ(page->model()->rowCount(), 0);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.contains("missing.drv"));

    // A header claiming more records than the file holds shows the complete ones.
    std::string bytes = readFile(other);
    bytes.resize(12 + 72 * 4 + 30);
    std::ofstream(other, std::ios::binary | std::ios::trunc) << bytes;
    page->openFile(QString::fromStdString(other.string()));
    EXPECT_EQ(page->model()->rowCount(), 4);
}

TEST_F(InformationPageTest, FailedExportIsShown) {
    writeRoute(2);
    SettingsEditor editor(QString{});
    const auto target = root_ / "out.csv";
    std::ofstream(target) << "old";
    platform::setWriteFunctionForTesting([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    EXPECT_FALSE(editor.informationPage()->exportTo(QString::fromStdString(target.string())));
    platform::setWriteFunctionForTesting({});
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, MessageIcon::Critical);
    EXPECT_EQ(readFile(target), "old");
}

TEST_F(InformationPageTest, DoubleClickOpensThePositionWindowBesideThePage) {
    writeRoute(6);
    SettingsEditor editor(QString{});
    editor.show();
    editor.tabs()->setCurrentIndex(SettingsEditor::Information);
    InformationPage* page = editor.informationPage();
    page->list()->selectRow(2);
    page->showSelectionOnMap();
    PositionWindow* position = page->positionWindow();
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(position->objectName(), QStringLiteral("132"));
    EXPECT_EQ(position->size(), QSize(471, 729));
    EXPECT_EQ(position->geometry().x(), page->mapToGlobal(QPoint(0, 0)).x() + 650);
    EXPECT_TRUE(position->isVisible());
    EXPECT_TRUE(position->statusText().contains("2024/03/05"))
        << position->statusText().toStdString();

    // A second request reuses the window; several rows also draw their route.
    page->list()->selectionModel()->select(
        QItemSelection(page->model()->index(1, 0), page->model()->index(4, 27)),
        QItemSelectionModel::ClearAndSelect);
    page->showSelectionOnMap();
    EXPECT_EQ(page->positionWindow(), position);
    ASSERT_TRUE(orvik::test::mapPageLoaded(position->map()));
    QVariant points, markers;
    position->map()->evaluate(QStringLiteral("route ? route.getLatLngs().length : 0"),
                              [&](const QVariant& v) { points = v; });
    position->map()->evaluate(QStringLiteral("markers.length"),
                              [&](const QVariant& v) { markers = v; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return points.isValid() && markers.isValid(); }, 10000));
    EXPECT_EQ(points.toInt(), 4);
    EXPECT_EQ(markers.toInt(), 1);

    editor.reject();
    EXPECT_EQ(page->positionWindow(), nullptr);
}

class DeviceTimeTest : public GuiTest {
  protected:
    void pick(DeviceTimeDialog& dialog, QDate date, QTime time) {
        dialog.datePicker()->setDate(date);
        dialog.timePicker()->setTime(time);
    }
};

TEST_F(DeviceTimeTest, WritesTheCardsTimeFile) {
    // Two cards with the file: the one with the lower root path is written, replaced whole.
    const auto second = root_ / "second";
    std::filesystem::create_directories(second);
    useVolumes({card_.string(), second.string()});
    std::ofstream(card_ / "timeset.cfg") << "a much longer earlier content of the file";
    std::ofstream(second / "timeset.cfg") << "x";
    DeviceTimeDialog dialog;
    EXPECT_EQ(dialog.windowTitle().toStdString(),
              "Device Time - " + (card_ / "timeset.cfg").string());
    pick(dialog, QDate(2025, 1, 1), QTime(0, 0, 0));
    dialog.save();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(readFile(card_ / "timeset.cfg"), "2025/01/01 00:00:00");
    EXPECT_EQ(readFile(second / "timeset.cfg"), "x");
    EXPECT_TRUE(dialogs_.empty());
}

TEST_F(DeviceTimeTest, WithoutCardFileAsksWhere) {
    DeviceTimeDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Device Time"));
    pick(dialog, QDate(2024, 3, 5), QTime(8, 7, 6));
    dialog.save();  // cancelled
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_EQ(dialogs_[0].proposedName, QStringLiteral("timeset.cfg"));
    EXPECT_EQ(dialogs_[0].filters, QStringList({"Config Files (*.cfg)", "All Files (*.*)"}));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(std::filesystem::exists(card_ / "timeset.cfg"));

    answer_ = QString::fromStdString((root_ / "chosen.cfg").string());
    dialog.save();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(readFile(root_ / "chosen.cfg"), "2024/03/05 08:07:06");
}

TEST_F(DeviceTimeTest, FailedWriteIsShownAndTheOldFileKept) {
    std::ofstream(card_ / "timeset.cfg") << "2020/01/01 00:00:00";
    for (int error : {ENOSPC, EROFS}) {
        messages_.clear();
        DeviceTimeDialog dialog;
        platform::setWriteFunctionForTesting([error](int, const void*, std::size_t) -> ssize_t {
            errno = error;
            return -1;
        });
        dialog.save();
        platform::setWriteFunctionForTesting({});
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].icon, MessageIcon::Critical);
        EXPECT_EQ(messages_[0].text.startsWith("The disk cannot be written to"), error == EROFS);
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(readFile(card_ / "timeset.cfg"), "2020/01/01 00:00:00");
    }
}

TEST_F(DeviceTimeTest, CancelLeavesTheFileAlone) {
    std::ofstream(card_ / "timeset.cfg") << "2020/01/01 00:00:00";
    DeviceTimeDialog dialog;
    pick(dialog, QDate(2030, 6, 6), QTime(6, 6, 6));
    dialog.reject();
    EXPECT_EQ(readFile(card_ / "timeset.cfg"), "2020/01/01 00:00:00");
}

class CardFormatTest : public GuiTest {
  protected:
    // A sparse card image of `bytes` and the card's configuration file beside it.
    card_format::CardTarget imageTarget(std::uint64_t bytes) {
        image_ = root_ / "card.img";
        std::ofstream(image_, std::ios::binary).close();
        std::filesystem::resize_file(image_, bytes);
        auto target = card_format::resolveCardTarget(image_.string());
        EXPECT_TRUE(target.ok()) << (target.ok() ? "" : target.error());
        DeviceConfig config;
        config.setFrontQuality(3);
        writeConfig(config);
        card_format::CardTarget t = target.ok() ? target.value() : card_format::CardTarget{};
        t.sourcePath = configPath();
        t.sourceIsConfigFile = true;
        return t;
    }
    void prepare(card_format::ui::CardFormatDialog& dialog) {
        std::filesystem::create_directories(root_ / "tmp");
        dialog.request().tempDir = (root_ / "tmp").string();
        dialog.request().remount = false;
    }
    int run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str());
    }

    std::filesystem::path image_;
};

TEST_F(CardFormatTest, FormatsLabelsAndRestoresTheSettings) {
    card_format::ui::CardFormatDialog dialog{
        Result<card_format::CardTarget>(imageTarget(8ull << 30))};
    prepare(dialog);
    auto* start = dialog.findChild<QPushButton*>("1");
    auto* close = dialog.findChild<QPushButton*>("2");
    EXPECT_EQ(dialog.findChild<QComboBox*>("3804")->currentText(), QStringLiteral("64K"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_FALSE(close->isEnabled());
    // The format runs on a worker thread: the dialog shows its progress, stays drawn, and
    // Escape does not close it meanwhile.
    if (dialog.isRunning()) {
        EXPECT_TRUE(dialog.findChild<QWidget*>("3803")->isVisible());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isRunning(); }, 60000));
    EXPECT_TRUE(dialog.findChild<QWidget*>("3803")->isHidden());
    ASSERT_TRUE(dialog.lastOutcome().has_value());
    const card_format::CardFormatOutcome& outcome = *dialog.lastOutcome();
    EXPECT_TRUE(outcome.succeeded()) << outcome.reason;
    ASSERT_FALSE(messages_.empty());
    EXPECT_TRUE(messages_[0].text.startsWith(QStringLiteral("Format complete.")));
    EXPECT_EQ(messages_[0].caption, QStringLiteral("SD Card Format"));
    EXPECT_EQ(messages_[0].icon, MessageIcon::Information);
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(run("fsck.fat -n " + image_.string()), 0);
    EXPECT_TRUE(std::filesystem::is_empty(root_ / "tmp")) << "the checked copy is removed";

    EXPECT_TRUE(outcome.labelled) << outcome.labelError;
    EXPECT_TRUE(outcome.configRestored) << outcome.restoreError;
    EXPECT_EQ(messages_[0].text,
              QStringLiteral("Format complete.\n\nThe camera settings (config_K7x7.bin) were kept "
                             "on the card."));
    auto label = platform::probeLabel(image_.string());
    ASSERT_TRUE(label.ok());
    EXPECT_EQ(label.value(), "ORVIK");
    const auto restored = root_ / "restored.bin";
    ASSERT_EQ(run("mcopy -n -i " + image_.string() + " ::/config_K7x7.bin " + restored.string()),
              0);
    EXPECT_EQ(readFile(restored), readFile(configPath()));
    EXPECT_EQ(run("fsck.fat -n " + image_.string()), 0);
}

// The allocation unit shown is the one the format writes: 128 sectors of 4096 bytes on such a
// card, as the command line's Card: line says too.
TEST_F(CardFormatTest, TheAllocationUnitOfA4096ByteSectorCardIsWhatIsWritten) {
    card_format::CardTarget t = imageTarget(32ull << 30);
    t.bytesPerSector = 4096;
    card_format::ui::CardFormatDialog dialog{Result<card_format::CardTarget>(t)};
    EXPECT_EQ(dialog.findChild<QComboBox*>("3804")->currentText(), QStringLiteral("512K"));
    t.bytesPerSector = 512;
    card_format::ui::CardFormatDialog usual{Result<card_format::CardTarget>(t)};
    EXPECT_EQ(usual.findChild<QComboBox*>("3804")->currentText(), QStringLiteral("64K"));
}

TEST_F(CardFormatTest, AFailedLabelIsAWarningNotAPlainSuccess) {
    card_format::ui::CardFormatDialog dialog{
        Result<card_format::CardTarget>(imageTarget(8ull << 30))};
    prepare(dialog);
    dialog.request().labeller = [](const std::string&, std::string_view) -> Result<void> {
        return makeError("the device refused the write");
    };
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.findChild<QPushButton*>("1"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isRunning(); }, 60000));
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(messages_[0].text.startsWith(QStringLiteral("Format complete.")));
    EXPECT_TRUE(messages_[0].text.contains(
        QStringLiteral("The volume label ORVIK could not be written (the device refused the "
                       "write).")))
        << messages_[0].text.toStdString();
}

TEST_F(CardFormatTest, UnreadableSettingsAreLostOnlyWhenTheUserAgrees) {
    card_format::CardTarget t = imageTarget(8ull << 30);
    // The card's configuration file cannot be read (here: a folder of that name).
    t.sourceIsConfigFile = false;
    t.mountPoint = (root_ / "mnt").string();
    std::filesystem::create_directories(root_ / "mnt" / "config_K7x7.bin");
    card_format::ui::CardFormatDialog dialog{Result<card_format::CardTarget>(t)};
    prepare(dialog);
    std::vector<QString> questions;
    bool answer = false;
    dialog.setDiscardQuestion([&](const QString& text) {
        questions.push_back(text);
        return answer;
    });

    dialog.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isRunning(); }, 60000));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].startsWith(
        QStringLiteral("The camera settings on this card (config_K7x7.bin) cannot be read:")));
    EXPECT_EQ(dialog.lastOutcome()->code, card_format::kFormatSettingsUnreadable);
    struct stat st {};
    ASSERT_EQ(::stat(image_.c_str(), &st), 0);
    EXPECT_EQ(st.st_blocks, 0) << "declined: the card is untouched";
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(dialog.findChild<QPushButton*>("1")->isEnabled());

    answer = true;
    dialog.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.lastOutcome()->succeeded(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isRunning(); }, 60000));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_FALSE(dialog.lastOutcome()->settingsProblem.empty());
    EXPECT_EQ(run("fsck.fat -n " + image_.string()), 0);
}

TEST_F(CardFormatTest, FailureShowsTheCodeAndKeepsTheDialogOpen) {
    // 4 GiB: too few 64 KiB clusters for FAT32.
    card_format::ui::CardFormatDialog dialog{
        Result<card_format::CardTarget>(imageTarget(4ull << 30))};
    prepare(dialog);
    EXPECT_EQ(dialog.findChild<QComboBox*>("3804")->currentText(), QStringLiteral("16K"));
    dialog.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isRunning(); }, 60000));
    ASSERT_EQ(messages_.size(), 1u);
    const int code = dialog.lastOutcome()->code;
    EXPECT_NE(code, 0);
    EXPECT_EQ(messages_[0].text.toStdString(),
              "Cannot format this drive. (" + std::to_string(code) +
                  ")\n\nQuit any disk utilities or other programs that are using this device,\n\n"
                  "and make sure that no windows is displaying the contents of the drive.\n\n"
                  "Then try formatting again.");
    EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(dialog.findChild<QPushButton*>("1")->isEnabled());
    EXPECT_TRUE(dialog.findChild<QPushButton*>("2")->isEnabled());
}

TEST_F(CardFormatTest, UnavailableDriveOpensWithEmptyLists) {
    card_format::ui::CardFormatDialog dialog(QString::fromStdString((root_ / "nowhere").string()));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.startsWith("The selected drive is unavailable"));
    EXPECT_EQ(dialog.findChild<QComboBox*>("3804")->count(), 0);
    EXPECT_EQ(dialog.findChild<QComboBox*>("3805")->count(), 0);
    EXPECT_FALSE(dialog.findChild<QPushButton*>("1")->isEnabled());
}

TEST_F(CardFormatTest, FolderInsteadOfCardIsRefused) {
    setCardToolsEnabled(true);
    SettingsEditor editor(QString{});
    setCardToolsEnabled(false);
    EXPECT_TRUE(editor.cardFormatButton()->isEnabled());
    EXPECT_FALSE(editor.cardFormatButton()->isHidden());
    answer_ = QString::fromStdString(card_.string());  // a folder, not a card's root
    card_format::ui::startCardFormat(&editor, editor.rememberedPath());
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_TRUE(dialogs_[0].directory);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].caption, QStringLiteral("Select Drive"));
    EXPECT_TRUE(messages_[0].text.startsWith("Not removable drive."));
}

}  // namespace
}  // namespace orvik::testing
