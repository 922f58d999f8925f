// The recording list's picture column, through real input: off at first with the list laid out
// exactly as without it, switched on from the list's and the header's menus and remembered, and a
// list of 2 000 rows scrolled with the wheel while the event loop is watched.
// The generator comes first: its field named "slots" must not meet Qt's keyword macro.
#include "support/gui_journey.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/list_pictures.h"

namespace orvik::shell::testing {
namespace {

namespace fs = std::filesystem;

// Recordings of 720p: small enough to write quickly, big enough that decoding on the GUI thread
// shows in its running time.
tools::SampleCardOptions pictureCard() {
    tools::SampleCardOptions options;
    options.width = 1280;
    options.height = 720;
    options.durationSeconds = 1.0;
    options.alwaysPairs = 2;
    options.deviceFiles = false;
    return options;
}

// 1 000 front/rear pairs a minute apart, hard links to the generated card's recordings, so each
// row is a file of its own to the cache while the card stays small.
const QString& bigFolder() {
    static QTemporaryDir* dir = nullptr;
    if (!dir) {
        dir = new QTemporaryDir();
        const fs::path card = generatedCard(pictureCard()).toStdString();
        const fs::path always = card / "Always";
        std::vector<std::string> keys;
        for (const auto& e : fs::directory_iterator(always)) {
            const std::string name = e.path().filename().string();
            if (name.size() > 6 && name.ends_with("_F.mp4"))
                keys.push_back(name.substr(0, name.size() - 6));
        }
        EXPECT_FALSE(keys.empty());
        const fs::path out = fs::path(dir->path().toStdString()) / "Always";
        fs::create_directories(out);
        for (int i = 0; i < 1000 && !keys.empty(); ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "alwa_20260315_%02d%02d00", i / 60, i % 60);
            for (const char* channel : {"_F.mp4", "_R.mp4"})
                fs::create_hard_link(always / (keys[i % keys.size()] + channel),
                                     out / (std::string(name) + channel));
        }
    }
    static const QString folder = dir->path();
    return folder;
}

// How long the GUI thread's event loop goes without turning, watched by a 5-ms timer, split by the
// kernel's account of the thread (its schedstat): the time it ran (work done on the GUI thread,
// such as a decode there) and the time it waited for anything other than a free CPU (a join, a
// lock, the X server). Time spent ready but kept off a CPU by the machine's other work is the
// machine's load, not the window's doing, and is not counted.
class EventLoopWatch {
  public:
    EventLoopWatch() {
        clock_.start();
        last_ = now();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const Sample s = now();
            const double ran = s.ran - last_.ran;
            longestRun_ = std::max(longestRun_, ran);
            longestStill_ =
                std::max(longestStill_, s.wall - last_.wall - (s.queued - last_.queued));
            last_ = s;
        });
        timer_.start(5);
    }
    double longestRunMs() const { return longestRun_; }
    double longestStillMs() const { return longestStill_; }

  private:
    struct Sample {
        double wall = 0, ran = 0, queued = 0;
    };
    Sample now() const {
        std::ifstream in("/proc/thread-self/schedstat");
        unsigned long long ran = 0, queued = 0;
        in >> ran >> queued;
        return {static_cast<double>(clock_.nsecsElapsed()) / 1e6, static_cast<double>(ran) / 1e6,
                static_cast<double>(queued) / 1e6};
    }
    QElapsedTimer clock_;
    QTimer timer_;
    Sample last_;
    double longestRun_ = 0, longestStill_ = 0;
};

class ListPictureColumn : public WindowJourney {
  protected:
    void SetUp() override {
        shotEachCase_ = false;
        startWindow(bigFolder());
        ASSERT_EQ(window_->rowCount(), 2000);
    }
    RecordingListView* list() const { return window_->recordingList(); }

    // A right click at `at` on `w`, as the window system delivers it (the menu opens on the
    // press and waits there), and a click on the picture entry of the menu that opens.
    void choosePictures(QWidget* w, QPoint at) {
        bool picked = false;
        QTimer::singleShot(0, [&] {
            // Without a menu nothing is picked and the wait for `picked` below fails.
            (void)QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; },
                                  5000);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QAction* a = menu ? menu->findChild<QAction*>(QStringLiteral("listPictures")) : nullptr;
            if (a) {
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
                picked = true;
            } else if (menu) {
                menu->close();
            }
        });
        QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {},
                          w->mapTo(window_.get(), at));
        ASSERT_TRUE(QTest::qWaitFor([&] { return picked; }, 5000));
    }
    void choosePicturesOnTheRows() {
        choosePictures(list()->viewport(), list()->viewport()->rect().center());
    }
    // A wheel turn over the rows, delivered as the window system delivers it.
    void wheel(int delta) {
        QWidget* over = list()->viewport();
        const QPoint global = over->mapToGlobal(over->rect().center());
        QWheelEvent e(window_->mapFromGlobal(global), global, QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&e);
        qApp->notify(window_->windowHandle(), &e);
    }

    // Rows wholly on screen.
    std::vector<int> rowsOnScreen() const {
        std::vector<int> rows;
        const QRect area = list()->viewport()->rect();
        const int last = list()->rowAt(area.bottom());
        for (int r = list()->rowAt(0); r >= 0 && r <= (last < 0 ? window_->rowCount() - 1 : last);
             ++r) {
            if (area.contains(list()->visualRect(list()->model()->index(r, 0))))
                rows.push_back(r);
        }
        return rows;
    }
    // Whether the row's picture cell shows a picture, not the empty list's white or the pale
    // frame of a picture still being made.
    bool pictureShown(const QImage& screen, int row) const {
        const QRect cell =
            list()->visualRect(list()->model()->index(row, RecordingListModel::Picture));
        const QColor c = meanColour(screen, cell.adjusted(6, 4, -6, -4));
        const auto near = [&](QColor o) {
            return std::abs(c.red() - o.red()) + std::abs(c.green() - o.green()) +
                       std::abs(c.blue() - o.blue()) <
                   12;
        };
        return c.isValid() && !near(Qt::white) && !near(QColor(0xe8, 0xeb, 0xef)) &&
               !near(QColor(0x2f, 0x7f, 0xd8));
    }
    bool everyRowOnScreenHasItsPicture() const {
        const QImage screen = list()->viewport()->grab().toImage();
        const auto rows = rowsOnScreen();
        for (int r : rows)
            if (!pictureShown(screen, r))
                return false;
        return !rows.empty();
    }
};

TEST_F(ListPictureColumn, OffAtFirstThenSwitchedOnFromEitherMenuAndRemembered) {
    // Off: the list is laid out as it always was.
    EXPECT_FALSE(list()->picturesShown());
    EXPECT_TRUE(list()->isColumnHidden(RecordingListModel::Picture));
    const int rowHeight = list()->rowHeight(0);
    EXPECT_EQ(list()->geometry(), QRect(680, 85, 322, 298));
    EXPECT_EQ(list()->columnViewportPosition(RecordingListModel::Type), 0);
    const QImage off = list()->grab().toImage();

    // The list's menu switches it on: pictures lead the rows, which grow to hold them.
    choosePicturesOnTheRows();
    EXPECT_TRUE(list()->picturesShown());
    EXPECT_EQ(list()->columnViewportPosition(RecordingListModel::Picture), 0);
    EXPECT_GE(list()->rowHeight(0), 40);
    EXPECT_EQ(list()->geometry(), QRect(680, 85, 322, 298));
    ASSERT_TRUE(QTest::qWaitFor([&] { return everyRowOnScreenHasItsPicture(); }, 20000));
    shot("list-pictures");

    // The next window starts with it on, and the header's menu switches it off again: the list
    // looks exactly as it did before it was ever on.
    window_.reset();
    startWindow(bigFolder());
    EXPECT_TRUE(list()->picturesShown());
    ASSERT_TRUE(QTest::qWaitFor([&] { return everyRowOnScreenHasItsPicture(); }, 20000));
    QHeaderView* header = list()->horizontalHeader();
    choosePictures(header, header->rect().center());
    EXPECT_FALSE(list()->picturesShown());
    EXPECT_EQ(list()->rowHeight(0), rowHeight);
    EXPECT_EQ(list()->grab().toImage(), off);
}

TEST_F(ListPictureColumn, TwoThousandRowsScrollSmoothlyAndOnlyTheRowsStoppedAtAreDecoded) {
    choosePicturesOnTheRows();
    ASSERT_TRUE(QTest::qWaitFor([&] { return everyRowOnScreenHasItsPicture(); }, 20000));

    EventLoopWatch watch;
    int paints = 0;
    struct PaintCounter : QObject {
        int* count;
        explicit PaintCounter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            *count += e->type() == QEvent::Paint;
            return false;
        }
    } counter(&paints);
    list()->viewport()->installEventFilter(&counter);

    // Wheel turns down to the end of the list, each waited on until the rows have been painted.
    QScrollBar* bar = list()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 0; }, 5000));
    for (int turn = 0; turn < 2000 && bar->value() < bar->maximum(); ++turn) {
        const int before = paints;
        wheel(-960);
        ASSERT_TRUE(QTest::qWaitFor([&] { return paints > before; }, 5000)) << turn;
    }
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(list()->rowAt(list()->viewport()->height() - 1), 1999);
    ASSERT_TRUE(QTest::qWaitFor([&] { return everyRowOnScreenHasItsPicture(); }, 20000));
    list()->viewport()->removeEventFilter(&counter);
    // The GUI thread never works 50 ms on end; waiting on the X server's round trips while the
    // machine is loaded may take longer, a stall of a quarter second never.
    EXPECT_LT(watch.longestRunMs(), 50);
    EXPECT_LT(watch.longestStillMs(), 250);
    // Rows scrolled past were dropped before their turn: the decodes are a small share of 2 000.
    EXPECT_GT(list()->pictures()->dropped(), 0);
    EXPECT_LT(list()->pictures()->made(), 400);

    // Back up a few rows: pictures already made come from memory at once.
    const int made = list()->pictures()->made();
    wheel(240);
    EXPECT_TRUE(QTest::qWaitFor([&] { return everyRowOnScreenHasItsPicture(); }, 20000));
    EXPECT_LE(list()->pictures()->made(), made + static_cast<int>(rowsOnScreen().size()));
}

}  // namespace
}  // namespace orvik::shell::testing
