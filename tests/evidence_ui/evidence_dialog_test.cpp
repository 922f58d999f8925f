// The evidence-package dialog as a user drives it: mouse and keys on the real widgets, waiting
// on what the dialog shows (the first still, progress, the status line), never on sleeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "evidence/ui/evidence_dialog.h"
#include "platform/strings.h"
#include "support/test_support.h"

namespace orvik::evidence::ui {
namespace {

namespace fs = std::filesystem;

QApplication& app() {
    static int argc = 1;
    static char name[] = "orvik-evidence-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        if (qgetenv("QT_QPA_PLATFORM").isEmpty())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* instance = new QApplication(argc, argv);
        instance->setStyle(QStringLiteral("Fusion"));
        QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
        return instance;
    }();
    return *a;
}

class EvidenceDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = new orvik::test::TempDir;
        const fs::path card = scratch_->path() / "card";
        ASSERT_EQ(orvik::test::runCommand(orvik::test::quote(ORVIK_SAMPLECARD) + " --out " +
                                          orvik::test::quote(card.string()) +
                                          " --count 1 --duration 8 -q")
                      .status,
                  0);
        for (const auto& e : fs::recursive_directory_iterator(card)) {
            const std::string n = e.path().filename().string();
            if (e.path().parent_path().filename() == "Event" && n.rfind("event_", 0) == 0 &&
                n.ends_with("_F.mp4"))
                front_ = new QString(QString::fromStdString(e.path().string()));
        }
        ASSERT_NE(front_, nullptr);
    }
    static void TearDownTestSuite() {
        delete scratch_;
        delete front_;
    }
    void SetUp() override {
        app();
        platform::setLanguage(platform::Language::English);
        revealed_.clear();
        EvidenceDialog::setRevealHandler([this](const QString& f) { revealed_ = f; });
        out_ = scratch_->path() / "out" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(out_);
    }
    void TearDown() override { fs::remove_all(out_); }

    template <typename T = QWidget>
    static T* child(EvidenceDialog& d, const char* name) {
        auto* w = d.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static void click(EvidenceDialog& d, const char* name) {
        QWidget* w = child(d, name);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
    }
    // Replaces a line edit's text by typing, as a user does.
    static void retype(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    static inline orvik::test::TempDir* scratch_ = nullptr;
    static inline QString* front_ = nullptr;
    fs::path out_;
    QString revealed_;
};

TEST_F(EvidenceDialogTest, APackageInKoreanWithANoteEndsInTheFileManager) {
    EvidenceDialog d(*front_, 1.0, 4.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Evidence package"));
    // The first still is shown once the worker has made it.
    auto* preview = child<QLabel>(d, "preview");
    QTRY_VERIFY_WITH_TIMEOUT(!preview->pixmap().isNull(), 20000);
    // Both cameras side by side is offered first for a recording with its partner.
    auto* layout = child<QComboBox>(d, "layout");
    ASSERT_EQ(layout->count(), 4);
    EXPECT_TRUE(layout->currentText().startsWith(QStringLiteral("Side by side")));
    // The report in Korean, chosen with the keyboard; a note typed in.
    auto* language = child<QComboBox>(d, "language");
    language->setFocus();
    QTest::keyClick(language, Qt::Key_Down);
    EXPECT_EQ(language->currentText(), QStringLiteral("한국어"));
    auto* note = child<QPlainTextEdit>(d, "note");
    note->setFocus();
    QTest::keyClicks(note, QStringLiteral("Hit from behind at the lights"));
    const QString folder = QString::fromStdString((out_ / "incident").string());
    retype(child<QLineEdit>(d, "folder"), folder);

    QSignalSpy done(&d, &EvidenceDialog::packageFinished);
    click(d, "make");
    auto* progress = child<QProgressBar>(d, "progress");
    EXPECT_TRUE(progress->isVisible());
    EXPECT_FALSE(child<QPushButton>(d, "make")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 120000);
    ASSERT_TRUE(done.at(0).at(0).toBool()) << done.at(0).at(1).toString().toStdString();
    EXPECT_EQ(progress->value(), 1000);
    EXPECT_EQ(child<QLabel>(d, "status")->text(), QStringLiteral("Saved in ") + folder);
    EXPECT_EQ(revealed_, folder);
    EXPECT_EQ(child<QPushButton>(d, "cancel")->text(), QStringLiteral("Close"));

    const auto m =
        nlohmann::json::parse(orvik::test::readFile(out_ / "incident" / "manifest.json"));
    EXPECT_EQ(m["language"], "ko");
    EXPECT_EQ(m["note"], "Hit from behind at the lights");
    EXPECT_EQ(m["layout"], "side-by-side");
    EXPECT_EQ(m["program"]["name"], "orvik");
    EXPECT_EQ(m["program"]["version"], "9.8.7");
    // The report says how to make the same package from a shell.
    EXPECT_EQ(m["program"]["command"][1], "evidence");
    EXPECT_EQ(m["range"]["segments"][0]["toSeconds"], 4.0);
    EXPECT_TRUE(fs::exists(out_ / "incident" / "clip-rear.mp4"));
    click(d, "cancel");
    QTRY_VERIFY(!d.isVisible());
}

TEST_F(EvidenceDialogTest, CancelLeavesNoFolderAndTheDialogOpen) {
    EvidenceDialog d(*front_, 0.0, 8.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    click(d, "caption");  // an encoded clip: long enough to be cancelled halfway
    const QString folder = QString::fromStdString((out_ / "incident").string());
    retype(child<QLineEdit>(d, "folder"), folder);
    QSignalSpy done(&d, &EvidenceDialog::packageFinished);
    click(d, "make");
    click(d, "cancel");
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 120000);
    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_EQ(child<QLabel>(d, "status")->text(),
              QStringLiteral("Cancelled; no folder was left behind."));
    EXPECT_TRUE(fs::is_empty(out_)) << "no folder and nothing hidden beside it";
    EXPECT_TRUE(revealed_.isEmpty());
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(child<QPushButton>(d, "make")->isEnabled());  // ready for another try
    click(d, "cancel");                                       // now closes
    QTRY_VERIFY(!d.isVisible());
}

TEST_F(EvidenceDialogTest, AFolderInUseIsRefusedWithTheReason) {
    fs::create_directories(out_ / "taken");
    ASSERT_TRUE(orvik::test::writeFile(out_ / "taken" / "something.txt", "mine"));
    EvidenceDialog d(*front_, 1.0, 2.0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    retype(child<QLineEdit>(d, "folder"), QString::fromStdString((out_ / "taken").string()));
    QSignalSpy done(&d, &EvidenceDialog::packageFinished);
    click(d, "make");
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000);
    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_TRUE(child<QLabel>(d, "status")->text().contains(QStringLiteral("not empty")));
    EXPECT_EQ(orvik::test::readFile(out_ / "taken" / "something.txt"), "mine");
}

TEST_F(EvidenceDialogTest, TheDialogSpeaksKoreanAndProposesAFreshFolder) {
    platform::setLanguage(platform::Language::Korean);
    EvidenceDialog d(*front_, 1.0, 2.0);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("증거 자료 패키지"));
    EXPECT_EQ(child<QPushButton>(d, "make")->text(), QStringLiteral("패키지 만들기"));
    EXPECT_EQ(child<QComboBox>(d, "language")->currentText(), QStringLiteral("한국어"));
    EXPECT_FALSE(fs::exists(d.folder().toStdString()));
    EXPECT_TRUE(d.folder().contains(QStringLiteral("evidence_event_")));
}

}  // namespace
}  // namespace orvik::evidence::ui
