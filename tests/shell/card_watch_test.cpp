// Cards coming and going while the viewer runs, with a stand-in disk service on a private bus:
// the offer to list an inserted card and playback stopped when its card is pulled.
// The generator comes first: its field named "slots" must not meet Qt's keyword macro.
#include "samplecard/sample_card.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "displays/map_host.h"
#include "platform/udisks_mock.h"
#include "playback/media_player.h"
#include "playback/video_pane.h"
#include "shell/card_monitor.h"
#include "shell/card_notice.h"
#include "shell/card_watcher.h"
#include "shell/control_ids.h"
#include "shell/gui_test_support.h"
#include "shell/main_window.h"
#include "shell/private_messages.h"
#include "support/map_page.h"

namespace orvik::shell {
namespace {
namespace fs = std::filesystem;

// One small generated card, copied into the mount folders the tests hand to the mock.
const std::string& sampleCard() {
    static QTemporaryDir* dir = nullptr;
    static std::string path;
    if (!dir) {
        dir = new QTemporaryDir();
        tools::SampleCardOptions options;
        options.width = 320;
        options.height = 180;
        options.durationSeconds = 6.0;
        options.alwaysPairs = 1;
        auto card = tools::writeSampleCard(dir->path().toStdString(), options);
        EXPECT_TRUE(card.ok()) << (card.ok() ? "" : card.error());
        path = dir->path().toStdString();
    }
    return path;
}

// With ORVIK_SCREENSHOT_DIR set, the window as the user sees it at that step.
void saveScreenshot(QWidget& window, const char* name) {
    const QString dir = qEnvironmentVariable("ORVIK_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        window.grab().save(dir + '/' + QString::fromLatin1(name));
}

class CardWatch : public platform::testing::UDisksMock {
  protected:
    void SetUp() override {
        testing::app();
        platform::testing::UDisksMock::SetUp();
    }
    // A mount folder holding the sample card.
    std::string cardFolder(const std::string& name) {
        const std::string to = folder(name);
        fs::copy(sampleCard(), to,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        return to;
    }
};

TEST(CameraFiles, AreRecognisedByConfigurationRouteFolderOrRecordingNames) {
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    EXPECT_FALSE(holdsCameraFiles(dir.path()));
    EXPECT_FALSE(holdsCameraFiles(QString()));
    fs::create_directories(root / "Pictures");
    std::ofstream(root / "Pictures" / "holiday.mp4") << "x";
    EXPECT_FALSE(holdsCameraFiles(dir.path())) << "other videos are not the camera's";
    std::ofstream(root / "Pictures" / "alwa_20260314_081500_F.mp4") << "x";
    EXPECT_TRUE(holdsCameraFiles(dir.path())) << "a recording one folder down";

    QTemporaryDir second;
    fs::create_directories(fs::path(second.path().toStdString()) / "DrvInfo");
    EXPECT_TRUE(holdsCameraFiles(second.path()));
    QTemporaryDir third;
    std::ofstream(fs::path(third.path().toStdString()) / "config_K7x7.bin") << "x";
    EXPECT_TRUE(holdsCameraFiles(third.path()));
}

TEST_F(CardWatch, ReportsCardsInsertedMountedAndRemovedAfterTheBaseline) {
    addCard("sdb1", "PRESENT", true, folder("present"));
    CardWatcher watcher;
    ASSERT_TRUE(watcher.usesDiskService());
    QTRY_VERIFY_WITH_TIMEOUT(watcher.baselineReady(), 10000);
    EXPECT_EQ(watcher.cards().size(), 1) << "the baseline";
    QSignalSpy inserted(&watcher, &CardWatcher::cardInserted);
    QSignalSpy removed(&watcher, &CardWatcher::cardRemoved);

    const std::string camera = cardFolder("camera");
    addCard("sdc1", "ORVIK", true, camera);
    QTRY_COMPARE_WITH_TIMEOUT(inserted.size(), 1, 10000);
    auto card = inserted.at(0).at(0).value<CardInfo>();
    EXPECT_EQ(card.root.toStdString(), camera);
    EXPECT_EQ(card.label, "ORVIK");
    EXPECT_TRUE(card.holdsCameraFiles);

    addCard("sdd1", "LATER", true, "");  // not mounted yet: nothing to offer
    control("SetMountPoint", "ss", "sdd1", folder("later").c_str());
    QTRY_COMPARE_WITH_TIMEOUT(inserted.size(), 2, 10000);
    EXPECT_FALSE(inserted.at(1).at(0).value<CardInfo>().holdsCameraFiles);

    control("RemoveCard", "s", "sdc1");
    QTRY_COMPARE_WITH_TIMEOUT(removed.size(), 1, 10000);
    EXPECT_EQ(removed.at(0).at(0).value<CardInfo>().root.toStdString(), camera);
    EXPECT_EQ(inserted.size(), 2);
}

TEST_F(CardWatch, AServiceThatGoesAwayLeavesTheKernelView) {
    addCard("sdb1", "ORVIK", true, folder("card"));
    CardWatcher watcher;
    QTRY_VERIFY_WITH_TIMEOUT(watcher.baselineReady(), 10000);
    QSignalSpy removed(&watcher, &CardWatcher::cardRemoved);
    platform::testing::stopProcess(mockPid_);
    // The mock's cards are unknown to the kernel, so they are gone from the list.
    QTRY_COMPARE_WITH_TIMEOUT(removed.size(), 1, 10000);
    for (const auto& c : watcher.cards())
        EXPECT_NE(c.label, "ORVIK");
}

TEST_F(CardWatch, TheWindowOffersAnInsertedCardAndStopsPlaybackWhenItIsPulled) {
    qputenv("ORVIK_MPV_AO", "null");
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    CardNotice* notice = window.cards().notice();
    ASSERT_TRUE(notice);
    EXPECT_FALSE(notice->isVisible());
    // Cards present before the first look are the baseline, not insertions.
    QTRY_VERIFY_WITH_TIMEOUT(window.cards().watcher()->baselineReady(), 10000);

    // A card without the camera's files is not offered.
    addCard("sdb1", "PHOTOS", true, folder("photos"));
    const std::string camera = cardFolder("camera");
    addCard("sdc1", "ORVIK", true, camera);
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    EXPECT_EQ(notice->text(), "A card with recordings was inserted: ORVIK");
    EXPECT_TRUE(notice->openButton()->isVisible());
    // It sits over the bottom of the list, inside the window.
    const QRect at(notice->mapTo(&window, QPoint(0, 0)), notice->size());
    EXPECT_TRUE(QRect(680, 85, 322, 298).contains(at)) << at.x() << "," << at.y();
    saveScreenshot(window, "card-inserted.png");

    EXPECT_EQ(window.rowCount(), 0) << "nothing is listed before the user says so";
    QTest::mouseClick(notice->openButton(), Qt::LeftButton);
    QTRY_VERIFY(window.rowCount() > 0);
    EXPECT_FALSE(notice->isVisible());

    // Play the first front recording.
    int row = -1;
    for (int r = 0; r < window.rowCount() && row < 0; ++r)
        if (window.rowChannel(r) == 'F' && window.rowFileName(r).startsWith("alwa_"))
            row = r;
    ASSERT_GE(row, 0);
    auto* list = reinterpret_cast<QTableView*>(window.recordingList());
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    auto* pane = window.findChild<playback::VideoPane*>("frontPane");
    ASSERT_TRUE(pane);
    QTRY_VERIFY_WITH_TIMEOUT(
        pane->player() && pane->player()->GetState() == playback::PlaybackState::Running, 15000);

    control("RemoveCard", "s", "sdc1");
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    EXPECT_EQ(notice->text(), "The card of the playing recording was removed. Playback stopped.");
    EXPECT_FALSE(notice->openButton()->isVisible());
    EXPECT_NE(pane->player()->GetState(), playback::PlaybackState::Running);
    saveScreenshot(window, "card-removed.png");
    // The window goes on working: Dismiss, and the other card's removal changes nothing.
    QTest::mouseClick(notice->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(notice->isVisible());
    control("RemoveCard", "s", "sdb1");
    QTRY_VERIFY_WITH_TIMEOUT(window.cards().watcher()->cards().isEmpty(), 10000);
    EXPECT_FALSE(notice->isVisible());
}

// Nanoseconds this thread has waited for a processor (runnable, not running) so far.
std::int64_t runQueueWaitNs() {
    std::ifstream in("/proc/thread-self/schedstat");
    std::int64_t onCpu = 0, waiting = 0;
    in >> onCpu >> waiting;
    return waiting;
}

// The longest gap between the ticks of a 10-ms timer while `duration` passes, less the time the
// GUI thread was ready to run but waited for a processor: how long the window itself waited
// (on a bus call, a folder) and so could not paint or take input. A machine loaded far beyond
// its cores delays every thread; that is not the window waiting. `raw` gets the plain gap.
int longestStallMs(std::chrono::milliseconds duration, int* raw = nullptr) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0, longestRaw = 0;
    std::int64_t lastWait = runQueueWaitNs();
    const auto account = [&] {
        const qint64 now = clock.elapsed();
        const std::int64_t wait = runQueueWaitNs();
        const qint64 gap = now - last;
        longestRaw = std::max(longestRaw, gap);
        longest = std::max(longest, gap - static_cast<qint64>((wait - lastWait) / 1'000'000));
        last = now;
        lastWait = wait;
    };
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, account);
    tick.start();
    while (clock.elapsed() < duration.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    account();
    if (raw)
        *raw = static_cast<int>(longestRaw);
    return static_cast<int>(longest);
}

// The window fully up: its map page loaded (the browser engine's start takes the GUI thread
// for a while on its own, which is not what these tests measure).
void waitUntilUp(MainWindow& window) {
    ASSERT_TRUE(orvik::test::mapPageLoaded(window.findChild<displays::MapHost*>()));
}

// Clicks Close inside the window's own event loop; the time until the loop has returned and the
// window is gone.
std::chrono::milliseconds closeTime(std::unique_ptr<MainWindow>& window) {
    QWidget* close = window->findChild<QWidget*>(QString::number(ctl::kClose));
    EXPECT_TRUE(close);
    QElapsedTimer clock;
    QTimer::singleShot(0, close, [&] {
        clock.start();
        QTest::mouseClick(close, Qt::LeftButton);
    });
    EXPECT_EQ(QApplication::exec(), 1);
    window.reset();
    return std::chrono::milliseconds(clock.elapsed());
}

// A disk service that stops answering (a method that sleeps 30 s) while the viewer starts and
// a card awaits its label: the relabel and every scan wait on workers, the window keeps painting,
// and Close ends it at once.
// Import on the notice: the card is copied into the library while the window goes on, with its
// progress and Cancel on the same line.
TEST_F(CardWatch, ImportCopiesTheInsertedCardIntoTheLibraryAndCancelLeavesNoHalfFile) {
    qputenv("ORVIK_MPV_AO", "null");
    QTemporaryDir library;
    qputenv("ORVIK_LIBRARY", library.path().toUtf8());
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    CardNotice* notice = window.cards().notice();
    QTRY_VERIFY_WITH_TIMEOUT(window.cards().watcher()->baselineReady(), 10000);
    const std::string camera = cardFolder("camera");
    addCard("sdc1", "ORVIK", true, camera);
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    ASSERT_TRUE(notice->importButton()->isVisible());
    saveScreenshot(window, "card-import-offered.png");

    QTest::mouseClick(notice->importButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(notice->text().startsWith("Imported "), 60000);
    const std::string done = notice->text().toStdString();
    EXPECT_NE(done.find(", kept beside 0, failed 0"), std::string::npos) << done;
    EXPECT_NE(done.find(library.path().toStdString()), std::string::npos) << done;
    EXPECT_TRUE(notice->dismissButton()->isVisible());
    EXPECT_FALSE(notice->importButton()->isVisible());
    EXPECT_FALSE(notice->cancelButton()->isVisible());
    EXPECT_EQ(window.rowCount(), 0) << "the list is the user's: an import lists nothing";
    const fs::path day = fs::path(library.path().toStdString()) / "2026" / "2026-03-14";
    for (const auto& e : fs::directory_iterator(fs::path(camera) / "Always")) {
        if (e.path().extension() != ".mp4")
            continue;
        std::ifstream a(e.path(), std::ios::binary), b(day / e.path().filename(), std::ios::binary);
        EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {},
                               std::istreambuf_iterator<char>(b), {}))
            << e.path().filename() << " differs in the library";
    }
    saveScreenshot(window, "card-imported.png");
    QTest::mouseClick(notice->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(notice->isVisible());

    // A second card with one big recording (a sparse file: nothing on this disk) is cancelled
    // while it is copied.
    const std::string big = folder("big");
    fs::create_directories(fs::path(big) / "Always");
    const fs::path huge = fs::path(big) / "Always" / "alwa_20260315_090000_F.mp4";
    { std::ofstream(huge).close(); }
    fs::resize_file(huge, std::uintmax_t{4} << 30);
    addCard("sdd1", "BIG", true, big);
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible() && notice->importButton()->isVisible(), 10000);
    QTest::mouseClick(notice->importButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(notice->cancelButton()->isVisible(), 10000);
    // First the card's name, then the files and bytes as they are copied.
    QTRY_VERIFY_WITH_TIMEOUT(notice->text().startsWith("Importing BIG into the library: "), 10000);
    EXPECT_TRUE(notice->text().contains(" of 1 files, ")) << notice->text().toStdString();
    saveScreenshot(window, "card-importing.png");
    QTest::mouseClick(notice->cancelButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(notice->text().startsWith("The import was cancelled"), 60000);
    const fs::path bigDay = fs::path(library.path().toStdString()) / "2026" / "2026-03-15";
    EXPECT_FALSE(fs::exists(bigDay / huge.filename()));
    if (fs::exists(bigDay)) {
        for (const auto& e : fs::directory_iterator(bigDay))
            ADD_FAILURE() << "left behind: " << e.path();
    }
    qunsetenv("ORVIK_LIBRARY");
}

TEST_F(CardWatch, AStalledDiskServiceNeverFreezesTheWindow) {
    qputenv("ORVIK_MPV_AO", "null");
    addCard("sdb1", "CAMERA", true, cardFolder("camera"));
    auto window = std::make_unique<MainWindow>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTRY_VERIFY_WITH_TIMEOUT(window->cards().watcher()->baselineReady(), 20000);
    waitUntilUp(*window);

    control("Stall", "d", 30.0);
    // A dialog that looks for the card gets the latest scan's list at once.
    QElapsedTimer listed;
    listed.start();
    const auto volumes = platform::removableVolumes();
    EXPECT_LT(listed.elapsed(), 100);
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes.front().label, "CAMERA");
    WindowMessageEvent checks(WM_STARTUP_CHECKS);
    QCoreApplication::sendEvent(window.get(), &checks);
    window->cards().watcher()->rescan();
    window->cards().watcher()->rescan();
    int raw = 0;
    EXPECT_LT(longestStallMs(std::chrono::milliseconds(3000), &raw), 100) << raw << " ms in all";
    EXPECT_LT(closeTime(window), std::chrono::milliseconds(1000));
}

// A volume whose folder blocks (a hung mount) while the viewer looks for cards without the disk
// service: the same.
TEST(CardWatchBlockedFolder, AFolderThatBlocksNeverFreezesTheWindow) {
    testing::app();
    qputenv("ORVIK_MPV_AO", "null");
    // No disk service at all: the kernel's view, through a provider that hangs like a dead mount.
    const QByteArray savedBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/orvik-test-bus");
    struct Hung : platform::VolumeProvider {
        std::mutex m;
        std::condition_variable released;
        bool free = false;
        std::vector<platform::Volume> list() override {
            std::unique_lock lock(m);
            released.wait_for(lock, std::chrono::seconds(30), [this] { return free; });
            return {};
        }
        Result<void> setLabel(const platform::Volume&, std::string_view) override { return {}; }
    };
    auto hung = std::make_shared<Hung>();
    platform::setVolumeProvider(hung);

    auto window = std::make_unique<MainWindow>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    waitUntilUp(*window);
    WindowMessageEvent checks(WM_STARTUP_CHECKS);
    QCoreApplication::sendEvent(window.get(), &checks);
    window->cards().watcher()->rescan();
    int raw = 0;
    EXPECT_LT(longestStallMs(std::chrono::milliseconds(3000), &raw), 100) << raw << " ms in all";
    EXPECT_FALSE(window->cards().watcher()->baselineReady()) << "the scan is still waiting";
    EXPECT_LT(closeTime(window), std::chrono::milliseconds(1000));

    {
        std::lock_guard lock(hung->m);
        hung->free = true;
    }
    hung->released.notify_all();
    platform::setVolumeProvider(nullptr);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", savedBus);
    if (savedBus.isNull())
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace orvik::shell
