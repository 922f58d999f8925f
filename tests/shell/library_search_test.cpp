// Find in library through the real window: Ctrl+F opens the search, a date range, a kind and the
// Information map's point with a radius are chosen with clicks and keys, the search runs off the
// window's thread, and what it finds becomes the recording list and plays on a double click.
#include "support/gui_journey.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "displays/map_host.h"
#include "displays/map_view.h"
#include "library/import.h"
#include "playback/playback_controller.h"
#include "recordings/recording_file.h"
#include "shell/displays_panel.h"
#include "shell/library_search.h"
#include "support/map_page.h"

namespace orvik::shell {
namespace {

using namespace testing;
using recordings::RecordingKind;

tools::SampleCardOptions smallCard() {
    tools::SampleCardOptions options;
    options.width = 320;
    options.height = 180;
    options.durationSeconds = 4.0;
    options.alwaysPairs = 3;
    options.deviceFiles = false;
    return options;
}

class LibrarySearchJourney : public WindowJourney {
  protected:
    void SetUp() override {
        shotEachCase_ = false;
        const QString card = generatedCard(smallCard());
        ASSERT_FALSE(card.isEmpty());
        library::ImportOptions options;
        options.card = card.toStdString();
        options.library = library_.path().toStdString();
        auto imported = library::importCard(options);
        ASSERT_TRUE(imported) << imported.error();
        imported_ = imported->files.size();
        qputenv("ORVIK_LIBRARY", library_.path().toUtf8());
        startWindow(card);
    }
    void TearDown() override {
        WindowJourney::TearDown();
        qunsetenv("ORVIK_LIBRARY");
    }

    // The window with the search over it, as the screen shows them.
    void shotWithDialog(LibrarySearchDialog* dialog, const char* name) const {
        QImage picture = window_->grab().toImage();
        QPainter painter(&picture);
        painter.drawPixmap(dialog->frameGeometry().topLeft() - window_->geometry().topLeft(),
                           dialog->grab());
        painter.end();
        picture.save(screenshotFolder() + "/" + name + ".png");
    }

    LibrarySearchDialog* openSearch() {
        QTest::keyClick(window_.get(), Qt::Key_F, Qt::ControlModifier);
        LibrarySearchDialog* dialog = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] {
                // An earlier search's dialog may still wait for its deletion, hidden.
                for (auto* d : window_->findChildren<LibrarySearchDialog*>()) {
                    if (d->isVisible())
                        dialog = d;
                }
                return dialog != nullptr;
            },
            5000);
        EXPECT_TRUE(shown) << "Ctrl+F opened no search";
        // Keys go where the focus is: only into the dialog once it is the active window.
        EXPECT_TRUE(shown && QTest::qWaitForWindowActive(dialog));
        return shown ? dialog : nullptr;
    }
    // Ticks the date's box, tabs into its field (which selects the year) and types the day.
    static void typeDay(QCheckBox* box, QDateEdit* edit, const char* digits) {
        // A ticked box is clicked off and on again: it takes the focus either way.
        const QPoint mark(8, box->height() / 2);
        if (box->isChecked())
            QTest::mouseClick(box, Qt::LeftButton, {}, mark);
        QTest::mouseClick(box, Qt::LeftButton, {}, mark);
        ASSERT_TRUE(box->isChecked());
        ASSERT_TRUE(QTest::qWaitFor([&] { return box->hasFocus(); }, 5000));
        ASSERT_TRUE(edit->isEnabled());
        QTest::keyClick(box, Qt::Key_Tab);
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, 5000));
        QTest::keyClicks(edit, QString::fromLatin1(digits));
    }
    // Clicks Search and waits for the answer: the status line the user read, and whether the
    // dialog closed (it is deleted then, so it is read through a guard).
    struct Answer {
        QString said;
        bool closed = false;
    };
    static Answer searchAndWait(LibrarySearchDialog* dialog) {
        QPointer<LibrarySearchDialog> guard(dialog);
        Answer answer;
        QTest::mouseClick(dialog->searchButton(), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                if (!guard || !guard->isVisible()) {
                    answer.closed = true;
                    return true;
                }
                answer.said = guard->status()->text();
                return guard->searchButton()->isEnabled();
            },
            30000));
        return answer;
    }
    bool everyRowInTheLibrary() const {
        for (int r = 0; r < window_->rowCount(); ++r) {
            if (!window_->rowFullPath(r).startsWith(library_.path() + '/'))
                return false;
        }
        return true;
    }

    QTemporaryDir library_;
    std::size_t imported_ = 0;
};

TEST_F(LibrarySearchJourney, NearTheMapsPointOnADayFindsRecordingsThatPlayFromTheList) {
    const int pair = firstPairRow();
    ASSERT_GE(pair, 0);
    playRow(pair);
    click(kInformationTab);
    ASSERT_TRUE(orvik::test::mapPageLoaded(window_->displays().mapHost()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window_->displays().mapView()->point().has_value(); }, 20000))
        << "the map never showed the recording's place";
    // Paused, the map's point stays where the search asks about: playing on, a slow machine
    // reached the next day's drive before the search was typed, and found it near there.
    click(kPause);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return frontPlayer()->GetState() == playback::PlaybackState::Paused; }, 10000));
    const QString played = QFileInfo(window_->playback().openedPath()).fileName();
    const int cardRows = window_->rowCount();
    const QDate drive = QDate::fromString(
        QString::fromStdString(recordings::parseRecordingName(played.toStdString()).dateText()),
        Qt::ISODate);
    ASSERT_TRUE(drive.isValid());
    auto digits = [](QDate d) { return d.toString(QStringLiteral("yyyyMMdd")).toLatin1(); };

    LibrarySearchDialog* dialog = openSearch();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->nearBox()->isEnabled()) << "the map has a point: near here is offered";
    QTest::mouseClick(dialog->nearBox(), Qt::LeftButton, {},
                      QPoint(8, dialog->nearBox()->height() / 2));
    EXPECT_TRUE(dialog->radius()->isEnabled());

    // From the day after the recording's: nothing near here, and the list stays the card's.
    typeDay(dialog->fromBox(), dialog->fromDate(), digits(drive.addDays(1)).constData());
    EXPECT_EQ(dialog->fromDate()->date(), drive.addDays(1));
    const Answer none = searchAndWait(dialog);
    // Closed means it found something (or was closed): say what the window lists then.
    ASSERT_FALSE(none.closed) << "the window lists " << window_->rowCount() << " rows (the card "
                              << cardRows << "), the first "
                              << window_->rowFullPath(0).toStdString();
    EXPECT_EQ(none.said, QStringLiteral("No recordings match."));
    EXPECT_EQ(window_->rowCount(), cardRows);

    // The recording's day alone: the recording played is found, in the library.
    typeDay(dialog->fromBox(), dialog->fromDate(), digits(drive).constData());
    typeDay(dialog->toBox(), dialog->toDate(), digits(drive).constData());
    EXPECT_EQ(dialog->toDate()->date(), drive);
    ASSERT_TRUE(orvik::test::mapPageLoaded(dialog->map()));
    shotWithDialog(dialog, "library-search");  // the README's picture
    const Answer day = searchAndWait(dialog);
    ASSERT_TRUE(day.closed) << day.said.toStdString();
    ASSERT_GT(window_->rowCount(), 0);
    EXPECT_LE(static_cast<std::size_t>(window_->rowCount()), imported_);
    EXPECT_TRUE(everyRowInTheLibrary());
    const int found = rowOf(played);
    ASSERT_GE(found, 0) << played.toStdString() << " was played right there";

    // A found recording plays as any row does, from the library's copy.
    playRow(found);
    EXPECT_EQ(window_->playback().openedPath(), window_->rowFullPath(found));
    shot("library-search-found", false);
}

// A left-button drag on the dialog's map, as the mouse makes it, in the map's own pixels.
void dragOn(displays::MapHost* map, QPoint from, QPoint to) {
    QWidget* surface = map->focusProxy() ? map->focusProxy() : map;
    QTest::mousePress(surface, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 8; ++step) {
        const QPoint at = from + (to - from) * step / 8;
        QMouseEvent move(QEvent::MouseMove, at, surface->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(surface, &move);
    }
    QTest::mouseRelease(surface, Qt::LeftButton, {}, to);
}

TEST_F(LibrarySearchJourney, ARectangleDraggedOnTheMapIsThePlaceSearched) {
    playRow(firstPairRow());
    click(kInformationTab);
    ASSERT_TRUE(orvik::test::mapPageLoaded(window_->displays().mapHost()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window_->displays().mapView()->point().has_value(); }, 20000));
    click(kRecordTab);
    const int cardRows = window_->rowCount();

    // The dialog's map opens on the map's point; a drag over most of it holds the drive.
    LibrarySearchDialog* dialog = openSearch();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(orvik::test::mapPageLoaded(dialog->map()));
    QTest::mouseClick(dialog->areaBox(), Qt::LeftButton, {},
                      QPoint(8, dialog->areaBox()->height() / 2));
    ASSERT_TRUE(dialog->areaBox()->isChecked());
    // The page takes its drags as the area once it says so (the cursor turns to a cross).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return evaluate(dialog->map(), "areaMode && map.dragging.enabled() === false").toBool();
        },
        10000));
    const QSize size = dialog->map()->size();
    const auto point = *window_->displays().mapView()->point();

    // A click without a drag is no area.
    QWidget* surface = dialog->map()->focusProxy() ? dialog->map()->focusProxy() : dialog->map();
    QTest::mouseClick(surface, Qt::LeftButton, {}, {200, 100});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return evaluate(dialog->map(), "areaRect !== null").toBool(); }, 10000));
    EXPECT_FALSE(dialog->area().has_value());
    EXPECT_FALSE(dialog->query().box.has_value());

    // A corner north-west of the point (the map is centred on it) holds nothing.
    dragOn(dialog->map(), {6, 6}, {40, 40});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->area().has_value(); }, 10000))
        << "the drag drew no area";
    const library::GeoBox corner = *dialog->area();
    EXPECT_LT(corner.south, corner.north);
    EXPECT_LT(corner.west, corner.east);
    EXPECT_GT(corner.south, point.latitude);
    EXPECT_LT(corner.east, point.longitude);
    EXPECT_TRUE(dialog->areaBox()->text().startsWith("In the area dragged on the map: "))
        << dialog->areaBox()->text().toStdString();
    const Answer none = searchAndWait(dialog);
    // Closed means it found something (or was closed): say what the window lists then.
    ASSERT_FALSE(none.closed) << "the window lists " << window_->rowCount() << " rows (the card "
                              << cardRows << "), the first "
                              << window_->rowFullPath(0).toStdString();
    EXPECT_EQ(none.said, QStringLiteral("No recordings match."));
    EXPECT_EQ(window_->rowCount(), cardRows);

    // Unticked, the area goes, with the answer about it, and the map moves again; ticked, a drag
    // around the map's middle, from the bottom right up to the top left, holds the drive.
    QTest::mouseClick(dialog->areaBox(), Qt::LeftButton, {},
                      QPoint(8, dialog->areaBox()->height() / 2));
    EXPECT_EQ(dialog->status()->text(), QString()) << "the answer to another question stayed";
    EXPECT_FALSE(dialog->area().has_value());
    EXPECT_FALSE(dialog->query().box.has_value());
    EXPECT_EQ(dialog->areaBox()->text(), QStringLiteral("In an area dragged on the map below"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return evaluate(dialog->map(), "!areaMode && areaRect === null").toBool(); }, 10000));
    QTest::mouseClick(dialog->areaBox(), Qt::LeftButton, {},
                      QPoint(8, dialog->areaBox()->height() / 2));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return evaluate(dialog->map(), "areaMode").toBool(); }, 10000));
    dragOn(dialog->map(), {size.width() * 3 / 4, size.height() * 3 / 4},
           {size.width() / 4, size.height() / 4});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->area().has_value(); }, 10000));
    const library::GeoBox around = *dialog->area();
    EXPECT_LT(around.south, point.latitude);
    EXPECT_GT(around.north, point.latitude);
    EXPECT_LT(around.west, point.longitude);
    EXPECT_GT(around.east, point.longitude);
    ASSERT_TRUE(dialog->query().box.has_value());
    shotWithDialog(dialog, "library-search-area");  // the README's picture
    const Answer found = searchAndWait(dialog);
    ASSERT_TRUE(found.closed) << found.said.toStdString();
    ASSERT_GT(window_->rowCount(), 0);
    EXPECT_TRUE(everyRowInTheLibrary());
}

TEST_F(LibrarySearchJourney, AKindAloneListsOnlyThatKindAndAMissingLibraryIsSaidPlainly) {
    LibrarySearchDialog* dialog = openSearch();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->nearBox()->isEnabled()) << "no map point yet: near here is not offered";
    // Any kind, Always, Event: two steps down with the keyboard.
    QTest::keyClick(dialog->kind(), Qt::Key_Down);
    QTest::keyClick(dialog->kind(), Qt::Key_Down);
    ASSERT_EQ(dialog->kind()->currentText(), QStringLiteral("Event"));
    const Answer events = searchAndWait(dialog);
    ASSERT_TRUE(events.closed) << events.said.toStdString();
    ASSERT_GT(window_->rowCount(), 0);
    EXPECT_TRUE(everyRowInTheLibrary());
    for (int r = 0; r < window_->rowCount(); ++r) {
        EXPECT_EQ(recordings::parseRecordingName(window_->rowFileName(r).toStdString()).kind,
                  RecordingKind::Event)
            << window_->rowFileName(r).toStdString();
    }

    // The library folder gone: the search says why and nothing is listed instead.
    const int rows = window_->rowCount();
    qputenv("ORVIK_LIBRARY", (library_.path() + "/gone").toUtf8());
    dialog = openSearch();
    ASSERT_NE(dialog, nullptr);
    const Answer gone = searchAndWait(dialog);
    ASSERT_FALSE(gone.closed);
    EXPECT_TRUE(gone.said.startsWith(QStringLiteral("The library could not be searched: ")))
        << gone.said.toStdString();
    EXPECT_EQ(window_->rowCount(), rows);
    QPointer<LibrarySearchDialog> guard(dialog);
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !guard || !guard->isVisible(); }, 5000));
}

}  // namespace
}  // namespace orvik::shell
