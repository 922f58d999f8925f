// The export dialog as a user drives it: mouse and keys on the real widgets, waiting on what
// the dialog shows (progress, status, preview), never on fixed sleeps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "export/ui/export_dialog.h"
#include "platform/strings.h"
#include "recordings/telemetry.h"
#include "support/test_support.h"
#include "ui_common/ui_common.h"

namespace orvik::exporting::ui {
namespace {

namespace fs = std::filesystem;

QApplication& app() {
    static int argc = 1;
    static char name[] = "orvik-export-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        if (qgetenv("QT_QPA_PLATFORM").isEmpty())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* instance = new QApplication(argc, argv);
        instance->setStyle(QStringLiteral("Fusion"));
        return instance;
    }();
    return *a;
}

class ExportDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = new orvik::test::TempDir;
        card_ = new fs::path(scratch_->path() / "card");
        const std::string cmd = orvik::test::quote(ORVIK_SAMPLECARD) + " --out " +
                                orvik::test::quote(card_->string()) +
                                " --count 1 --duration 8 --no-device-files -q";
        ASSERT_EQ(orvik::test::runCommand(cmd).status, 0);
        for (const auto& e : fs::recursive_directory_iterator(*card_)) {
            const std::string n = e.path().filename().string();
            if (n.rfind("alwa_", 0) == 0 && n.size() > 6 && n.substr(n.size() - 6) == "_F.mp4")
                front_ = new QString(QString::fromStdString(e.path().string()));
        }
        ASSERT_NE(front_, nullptr);
    }
    static void TearDownTestSuite() {
        delete scratch_;
        delete card_;
        delete front_;
    }
    void SetUp() override {
        app();
        platform::setLanguage(platform::Language::English);
        revealed_.clear();
        ExportDialog::setRevealHandler([this](const QString& f) { revealed_ = f; });
        out_ = scratch_->path() / "out" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(out_);
    }
    void TearDown() override { fs::remove_all(out_); }

    // Replaces the "Save as" text by typing, as a user does.
    static void typeOutput(ExportDialog& d, const QString& path) {
        auto* edit = d.findChild<QLineEdit*>(QStringLiteral("output"));
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, path);
        ASSERT_EQ(edit->text(), path);
    }
    static void click(ExportDialog& d, const char* name) {
        auto* w = d.findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(w, nullptr) << name;
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
    }

    static inline orvik::test::TempDir* scratch_ = nullptr;
    static inline fs::path* card_ = nullptr;
    static inline QString* front_ = nullptr;
    fs::path out_;
    QString revealed_;
};

TEST_F(ExportDialogTest, ASideBySideCaptionedClipWithProgressEndsInTheFileManager) {
    ExportDialog d(ExportDialog::Mode::Clip, *front_, 1.0, 3.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Export clip"));
    auto* preview = d.findChild<QLabel*>(QStringLiteral("preview"));
    QTRY_VERIFY_WITH_TIMEOUT(!preview->pixmap().isNull(), 20000);

    auto* layout = d.findChild<QComboBox*>(QStringLiteral("layout"));
    ASSERT_EQ(layout->count(), 4);  // alone, the rear, side by side, picture in picture
    // Both channels named by their camera.
    EXPECT_EQ(layout->itemText(0), QStringLiteral("Front camera alone"));
    EXPECT_EQ(layout->itemText(1), QStringLiteral("Rear camera alone"));
    layout->setFocus();
    QTest::keyClick(layout, Qt::Key_Down);
    QTest::keyClick(layout, Qt::Key_Down);
    EXPECT_EQ(layout->currentText(), QStringLiteral("Side by side"));
    click(d, "caption");
    EXPECT_TRUE(d.findChild<QCheckBox*>(QStringLiteral("caption"))->isChecked());
    const QString target = QString::fromStdString((out_ / "clip.mp4").string());
    typeOutput(d, target);

    QSignalSpy done(&d, &ExportDialog::exportFinished);
    click(d, "export");
    auto* progress = d.findChild<QProgressBar*>(QStringLiteral("progress"));
    EXPECT_TRUE(progress->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 120000);
    EXPECT_TRUE(done.at(0).at(0).toBool()) << done.at(0).at(1).toString().toStdString();
    EXPECT_EQ(progress->value(), 1000);
    EXPECT_TRUE(d.findChild<QLabel*>(QStringLiteral("status"))->text().startsWith("Saved: "));
    EXPECT_EQ(revealed_, target);
    EXPECT_EQ(d.findChild<QPushButton*>(QStringLiteral("cancel"))->text(), QStringLiteral("Close"));

    recordings::TelemetryTrack track;
    ASSERT_EQ(track.readRecording(target.toStdString()), S_OK);
    EXPECT_EQ(track.size(), 22u);  // the records of seconds 1 and 2
}

TEST_F(ExportDialogTest, CancelStopsTheWorkAndLeavesNothing) {
    ExportDialog d(ExportDialog::Mode::Clip, *front_, 0.0, 8.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    click(d, "caption");
    const QString target = QString::fromStdString((out_ / "cancelled.mp4").string());
    typeOutput(d, target);
    QSignalSpy done(&d, &ExportDialog::exportFinished);
    click(d, "export");
    click(d, "cancel");
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 120000);
    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("status"))->text(), QStringLiteral("Cancelled"));
    EXPECT_TRUE(fs::is_empty(out_)) << "no clip and no temporary file";
    EXPECT_TRUE(revealed_.isEmpty());
    EXPECT_TRUE(d.isVisible());
    click(d, "cancel");  // now closes
    QTRY_VERIFY(!d.isVisible());
}

TEST_F(ExportDialogTest, AnExistingFileIsKeptUnlessTheUserAsksToReplaceIt) {
    const fs::path existing = out_ / "frame.jpg";
    { std::ofstream(existing) << "keep"; }
    ExportDialog d(ExportDialog::Mode::Snapshot, *front_, 2.0, 2.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Snapshot"));
    typeOutput(d, QString::fromStdString(existing.string()));
    QSignalSpy done(&d, &ExportDialog::exportFinished);
    // Export asks (no command-line advice in a window); Cancel keeps the file and exports nothing.
    QStringList asked;
    int answer = 1;
    ui_common::setChoiceHook([&](const ui_common::ChoiceRequest& r) {
        asked << r.text;
        EXPECT_EQ(r.buttons, (QStringList{"Replace", "Cancel"}));
        return answer;
    });
    click(d, "export");
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked.front(), "\"" + QString::fromStdString(existing.string()) +
                                 "\" already exists.\n\nDo you want to replace it?");
    EXPECT_EQ(done.count(), 0);
    EXPECT_EQ(fs::file_size(existing), 4u);
    // Replace: it is replaced.
    answer = 0;
    click(d, "export");
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000);
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_GT(fs::file_size(existing), 1000u);
    // With "Replace an existing file" ticked nothing is asked.
    click(d, "replace");
    click(d, "export");
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 60000);
    EXPECT_TRUE(done.at(1).at(0).toBool());
    EXPECT_EQ(asked.size(), 2);
    ui_common::setChoiceHook({});
}

// The dialog refuses what the command line refuses: the recording itself (or its partner) as
// the clip's file, Replace ticked or not.
TEST_F(ExportDialogTest, TheRecordingItselfIsNeverTheOutput) {
    const fs::path copy = out_ / fs::path(front_->toStdString()).filename();
    fs::copy_file(front_->toStdString(), copy);
    const std::string before = orvik::test::readFile(copy);
    ExportDialog d(ExportDialog::Mode::Clip, QString::fromStdString(copy.string()), 1.0, 2.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    typeOutput(d, QString::fromStdString(copy.string()));
    click(d, "replace");
    ASSERT_TRUE(d.findChild<QCheckBox*>(QStringLiteral("replace"))->isChecked());
    QSignalSpy done(&d, &ExportDialog::exportFinished);
    click(d, "export");
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000);
    EXPECT_FALSE(done.at(0).at(0).toBool());
    const QString status = d.findChild<QLabel*>(QStringLiteral("status"))->text();
    EXPECT_TRUE(status.contains("the export reads")) << status.toStdString();
    EXPECT_EQ(orvik::test::readFile(copy), before);
}

// The preview frame (its caption shows where the car was) is made in the user's private folder
// and goes when the dialog has gone.
TEST_F(ExportDialogTest, ThePreviewLivesInThePrivateFolder) {
    orvik::test::TempDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.str().c_str());
    const fs::path folder = runtime.path() / "orvik";
    const auto previews = [&] {
        int n = 0;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            n += it->path().filename().string().rfind("preview-", 0) == 0;
        return n;
    };
    {
        ExportDialog d(ExportDialog::Mode::Snapshot, *front_, 1.0, 1.0);
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        auto* preview = d.findChild<QLabel*>(QStringLiteral("preview"));
        QTRY_VERIFY_WITH_TIMEOUT(!preview->pixmap().isNull(), 20000);
        EXPECT_EQ(previews(), 1);
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    }
    QTRY_COMPARE_WITH_TIMEOUT(previews(), 0, 20000);
    if (saved.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", saved);
}

// Layout, caption, folder and picture type come back in the next dialog (the per-user folders
// are each case's own, so the other cases start from the defaults).
TEST_F(ExportDialogTest, TheLastChoicesAreRememberedForTheNextExport) {
    const fs::path pictures = out_ / "my pictures";
    fs::create_directories(pictures);
    auto combo = [](ExportDialog& d) { return d.findChild<QComboBox*>(QStringLiteral("layout")); };
    auto captioned = [](ExportDialog& d) {
        return d.findChild<QCheckBox*>(QStringLiteral("caption"))->isChecked();
    };
    {
        ExportDialog d(ExportDialog::Mode::Snapshot, *front_, 2.0, 2.0);
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        EXPECT_EQ(combo(d)->currentText(), QStringLiteral("Front camera alone"));
        EXPECT_FALSE(captioned(d));
        combo(d)->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(combo(d), Qt::Key_Down);
        ASSERT_EQ(combo(d)->currentText(), QStringLiteral("Picture in picture"));
        click(d, "caption");
        typeOutput(d, QString::fromStdString((pictures / "moment.png").string()));
        QSignalSpy done(&d, &ExportDialog::exportFinished);
        click(d, "export");
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000);
        EXPECT_TRUE(done.at(0).at(0).toBool()) << done.at(0).at(1).toString().toStdString();
    }
    QString rear = *front_;
    rear.replace(QStringLiteral("_F.mp4"), QStringLiteral("_R.mp4"));
    {
        ExportDialog d(ExportDialog::Mode::Snapshot, rear, 1.0, 1.0);
        EXPECT_EQ(combo(d)->currentText(), QStringLiteral("Picture in picture"));
        EXPECT_TRUE(captioned(d));
        const QFileInfo proposed(d.outputPath());
        EXPECT_EQ(proposed.absolutePath().toStdString(), pictures.string());
        EXPECT_EQ(proposed.suffix(), QStringLiteral("png"));
        // The front camera chosen on the rear recording is still the front camera on the next.
        combo(d)->setFocus();
        QTest::keyClick(combo(d), Qt::Key_Home);
        QTest::keyClick(combo(d), Qt::Key_Down);
        ASSERT_EQ(combo(d)->currentText(), QStringLiteral("Front camera alone"));
        click(d, "caption");
        QSignalSpy done(&d, &ExportDialog::exportFinished);
        click(d, "export");
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000);
    }
    {
        ExportDialog d(ExportDialog::Mode::Clip, *front_, 1.0, 2.0);
        EXPECT_EQ(combo(d)->currentIndex(), 0);
        EXPECT_EQ(combo(d)->currentText(), QStringLiteral("Front camera alone"));
        EXPECT_FALSE(captioned(d));
        // Clips keep a folder of their own: none chosen yet.
        EXPECT_NE(QFileInfo(d.outputPath()).absolutePath().toStdString(), pictures.string());
    }
    // A folder that has gone is not proposed.
    fs::remove_all(pictures);
    ExportDialog d(ExportDialog::Mode::Snapshot, *front_, 1.0, 1.0);
    EXPECT_TRUE(QDir(QFileInfo(d.outputPath()).absolutePath()).exists())
        << d.outputPath().toStdString();
}

TEST_F(ExportDialogTest, TheDialogSpeaksKorean) {
    platform::setLanguage(platform::Language::Korean);
    ExportDialog d(ExportDialog::Mode::Clip, *front_, 1.0, 2.0);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("클립 내보내기"));
    EXPECT_EQ(d.findChild<QPushButton*>(QStringLiteral("export"))->text(),
              QStringLiteral("내보내기"));
    EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("layout"))->itemText(2),
              QStringLiteral("나란히"));
}

}  // namespace
}  // namespace orvik::exporting::ui
