// An evidence package from the real main window, as a user makes one after an incident: mark in
// and out on a playing recording, "Evidence package…" from the pane's menu, a note, Make
// package; the folder holds a package that verifies and covers the marked stretch. Input through
// the window system only.
#include "support/gui_journey.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "evidence/ui/evidence_dialog.h"
#include "evidence/verify.h"
#include "playback/playback_controller.h"
#include "support/test_support.h"

namespace orvik::shell {
namespace {

using namespace testing;
using evidence::ui::EvidenceDialog;
namespace fs = std::filesystem;

// A drive with an Event pair and the camera's files (its settings go into the report).
tools::SampleCardOptions evidenceCard() {
    tools::SampleCardOptions options;
    options.durationSeconds = 6.0;
    options.alwaysPairs = 1;
    return options;
}

class PaneEvidence : public WindowJourney {
  protected:
    void SetUp() override {
        EvidenceDialog::setRevealHandler([this](const QString& f) { revealed_ = f; });
        startWindow(generatedCard(evidenceCard()));
        const int row = firstPairRow(QStringLiteral("event_"));
        ASSERT_GE(row, 0);
        doubleClickRow(row);
        ASSERT_TRUE(QTest::qWaitFor([&] { return seekBar()->isEnabled(); }, 20000));
    }
    void TearDown() override {
        WindowJourney::TearDown();
        EvidenceDialog::setRevealHandler({});
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
    EvidenceDialog* dialog() const { return window_->findChild<EvidenceDialog*>(); }

    orvik::test::TempDir scratch_;
    QString revealed_;
};

TEST_F(PaneEvidence, TheMarkedStretchBecomesAPackageThatVerifies) {
    QMenu* menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    // Beside the clip it comes from.
    EXPECT_EQ(menu->actions().at(1)->text(), QStringLiteral("Export clip…"));
    EXPECT_EQ(menu->actions().at(2)->text(), QStringLiteral("Evidence package…"));
    choose(menu, "markInAction");
    ASSERT_TRUE(window_->playback().markedIn().has_value());
    const double in = window_->playback().markedIn()->seconds();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window_->playback().position().seconds() >= in + 2.0; }, 20000));
    menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    choose(menu, "markOutAction");
    ASSERT_TRUE(window_->playback().markedOut().has_value());
    const double out = window_->playback().markedOut()->seconds();

    menu = rightClick(front());
    ASSERT_NE(menu, nullptr);
    choose(menu, "evidencePackageAction");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog() && dialog()->isVisible(); }, 5000));
    EvidenceDialog* d = dialog();
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Evidence package"));
    EXPECT_TRUE(d->findChild<QLabel*>("stretch")->text().endsWith(
        QStringLiteral("(%1 s)").arg(QString::number(out - in, 'f', 1))));
    auto* note = d->findChild<QPlainTextEdit*>("note");
    note->setFocus();
    QTest::keyClicks(note, QStringLiteral("Hit at the junction"));
    const QString folder = QString::fromStdString((scratch_.path() / "incident").string());
    auto* edit = d->findChild<QLineEdit*>("folder");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, folder);
    QSignalSpy done(d, &EvidenceDialog::packageFinished);
    auto* make = d->findChild<QPushButton*>("make");
    QTest::mouseClick(make, Qt::LeftButton, {}, make->rect().center());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 120000);
    ASSERT_TRUE(done.at(0).at(0).toBool()) << done.at(0).at(1).toString().toStdString();
    EXPECT_EQ(revealed_, folder);

    auto checked = evidence::verifyPackage(folder.toStdString());
    ASSERT_TRUE(checked) << checked.error();
    EXPECT_TRUE(checked->packageIntact());
    EXPECT_EQ(checked->sourcesIn(evidence::SourceState::Intact), 2u);
    const auto m = nlohmann::json::parse(
        orvik::test::readFile(scratch_.path() / "incident" / "manifest.json"));
    EXPECT_EQ(m["note"], "Hit at the junction");
    EXPECT_EQ(m["program"]["name"], "orvik");
    EXPECT_NEAR(m["range"]["segments"][0]["fromSeconds"].get<double>(), in, 0.001);
    EXPECT_NEAR(m["range"]["segments"][0]["toSeconds"].get<double>(), out, 0.001);
    EXPECT_FALSE(m["cameraSettings"].is_null());

    auto* close = d->findChild<QPushButton*>("cancel");
    QTest::mouseClick(close, Qt::LeftButton, {}, close->rect().center());
    QTRY_VERIFY(dialog() == nullptr || !dialog()->isVisible());
}

}  // namespace
}  // namespace orvik::shell
