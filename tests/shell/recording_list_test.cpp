#include "shell/recording_list.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "gui_test_support.h"
#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {
namespace {

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

class RecordingListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::app();
        window_ = std::make_unique<MainWindow>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    QAbstractItemModel* model() { return window_->recordingList()->model(); }
    QString cell(int row, int column) { return model()->index(row, column).data().toString(); }
    std::unique_ptr<MainWindow> window_;
};

TEST_F(RecordingListTest, ColumnsHeadersWidthsAndHiddenColumns) {
    auto* view = window_->recordingList();
    const char* headers[] = {"Type",     "Date",     "Time",     "FileName",
                             "FileName", "FileName", "FileName", "Picture"};
    const int widths[] = {98, 85, 65, 186};
    ASSERT_EQ(model()->columnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(model()->headerData(c, Qt::Horizontal).toString(), headers[c]) << c;
        EXPECT_EQ(view->isColumnHidden(c), c >= 4) << c;
        if (c < 4) {
            EXPECT_EQ(view->columnWidth(c), widths[c]) << c;
        }
    }
    EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(view->showGrid());
}

TEST_F(RecordingListTest, RowsOfACardWithIconsDatesAndAlignment) {
    QTemporaryDir card;
    QDir(card.path()).mkpath("DCIM/nested");
    QDir(card.path()).mkpath(".hidden");
    touch(card.filePath("DCIM/event_20190305_142233_R.mp4"));
    touch(card.filePath("DCIM/nested/event_20190305_142233_F.mp4"));
    touch(card.filePath("DCIM/user_20190305_142240_F.mp4"));
    touch(card.filePath("DCIM/evtLR_20190305_142234_R.mp4"));
    touch(card.filePath("DCIM/EVENT_20190305_142233_F.MP4"));
    touch(card.filePath("a.mp4"));
    touch(card.filePath("clip.mp4.bak"));
    touch(card.filePath(".hidden/alwa_20190305_142233_F.mp4"));
    ASSERT_TRUE(window_->listFolder(card.path()));
    ASSERT_EQ(model()->rowCount(), 6);

    // Sorted by recording key: front before rear of one moment, unknown (empty-key) rows first.
    int eventFront = -1;
    for (int r = 0; r < model()->rowCount(); ++r)
        if (cell(r, RecordingListModel::FileName) == "event_20190305_142233_F.mp4")
            eventFront = r;
    ASSERT_GE(eventFront, 0);
    EXPECT_EQ(cell(eventFront + 1, RecordingListModel::FileName), "event_20190305_142233_R.mp4");
    EXPECT_EQ(cell(eventFront, RecordingListModel::Type), "Event");
    EXPECT_EQ(cell(eventFront, RecordingListModel::Key), "20190305_142233_F");
    EXPECT_EQ(cell(eventFront, RecordingListModel::Channel), "F");
    EXPECT_TRUE(cell(eventFront, RecordingListModel::FullPath)
                    .endsWith("DCIM/nested/event_20190305_142233_F.mp4"));
    EXPECT_EQ(cell(eventFront, RecordingListModel::Date),
              QLocale::system().toString(QDate(2019, 3, 5), QLocale::ShortFormat));
    EXPECT_EQ(cell(eventFront, RecordingListModel::Time), "14:22:33");
    EXPECT_EQ(window_->rowFullPath(eventFront), cell(eventFront, RecordingListModel::FullPath));
    EXPECT_EQ(window_->rowChannel(eventFront), QChar('F'));

    const auto alignment = [&](int c) {
        return Qt::Alignment(model()->index(eventFront, c).data(Qt::TextAlignmentRole).toInt()) &
               Qt::AlignHorizontal_Mask;
    };
    EXPECT_EQ(alignment(RecordingListModel::Type), Qt::AlignLeft);
    EXPECT_EQ(alignment(RecordingListModel::Date), Qt::AlignRight);
    EXPECT_EQ(alignment(RecordingListModel::Time), Qt::AlignRight);

    auto iconOf = [&](const QString& name) {
        for (int r = 0; r < model()->rowCount(); ++r)
            if (cell(r, RecordingListModel::FileName) == name)
                return model()->index(r, 0).data(Qt::DecorationRole).value<QPixmap>();
        return QPixmap();
    };
    // Event front and rear use icons 1 and 4; User and Unknown rows have none.
    const auto* icons = SkinRegistry::instance().image(skin::kListIcons);
    EXPECT_EQ(iconOf("event_20190305_142233_F.mp4").toImage(), icons->slice(1).toImage());
    EXPECT_EQ(iconOf("event_20190305_142233_R.mp4").toImage(), icons->slice(4).toImage());
    EXPECT_EQ(iconOf("evtLR_20190305_142234_R.mp4").toImage(), icons->slice(4).toImage());
    EXPECT_TRUE(iconOf("user_20190305_142240_F.mp4").isNull());
    EXPECT_TRUE(iconOf("EVENT_20190305_142233_F.MP4").isNull());

    // Unknown rows show a single space in Date and Time.
    for (int r = 0; r < model()->rowCount(); ++r)
        if (cell(r, RecordingListModel::FileName) == "a.mp4") {
            EXPECT_EQ(cell(r, RecordingListModel::Type), "Unknown");
            EXPECT_EQ(cell(r, RecordingListModel::Date), " ");
            EXPECT_EQ(cell(r, RecordingListModel::Time), " ");
        }
}

TEST_F(RecordingListTest, CurrentRowIsDrawnInItsOwnColour) {
    QTemporaryDir card;
    touch(card.filePath("alwa_20240611_101500_F.mp4"));
    touch(card.filePath("alwa_20240611_101500_R.mp4"));
    ASSERT_TRUE(window_->listFolder(card.path()));
    window_->setCurrentRow(1);
    EXPECT_EQ(model()->index(1, 2).data(Qt::BackgroundRole).value<QColor>(), QColor(200, 200, 255));
    EXPECT_EQ(model()->index(0, 2).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    EXPECT_EQ(model()->index(0, 2).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
}

TEST_F(RecordingListTest, AFailedScanKeepsTheRowsAnEmptyFolderClearsThem) {
    QTemporaryDir card;
    touch(card.filePath("alwa_20240611_101500_F.mp4"));
    ASSERT_TRUE(window_->listFolder(card.path()));
    window_->setCurrentRow(0);
    EXPECT_FALSE(window_->listFolder(card.filePath("does-not-exist")));
    EXPECT_EQ(model()->rowCount(), 1);
    QTemporaryDir empty;
    EXPECT_TRUE(window_->listFolder(empty.path()));
    EXPECT_EQ(model()->rowCount(), 0);
    EXPECT_EQ(window_->currentRow(), 0) << "a new scan does not change the current row";
}

TEST_F(RecordingListTest, CopyWithMoreThanAHundredRowsDoesNothing) {
    QTemporaryDir card;
    for (int i = 0; i < 101; ++i)
        touch(card.filePath(QString("alwa_20240611_10%1_F.mp4").arg(i, 4, 10, QChar('0'))));
    ASSERT_TRUE(window_->listFolder(card.path()));
    window_->recordingList()->selectAll();
    bool dialogAppeared = false;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            dialogAppeared = true;
            modal->close();
        }
    });
    guard.start(50);
    window_->runCommand(ctl::kCopyCommand);
    EXPECT_FALSE(dialogAppeared);
    EXPECT_EQ(window_->currentRow(), -1);
}

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("<missing>");
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

// The folder choices and the replace question go through the shared dialog hooks, so they
// are answered here without a modal loop.
class AnsweredDialogsTest : public RecordingListTest {
  protected:
    void SetUp() override {
        RecordingListTest::SetUp();
        ui_common::setFileDialogHook([this](const ui_common::FileDialogRequest& r) {
            folderRequests_.push_back(r);
            return folderAnswer_;
        });
        ui_common::setChoiceHook([this](const ui_common::ChoiceRequest& r) {
            choices_.push_back(r);
            return choiceAnswer_;
        });
        ui_common::setMessageHook(
            [this](const ui_common::MessageRecord& m) { messages_.push_back(m); });
    }
    void TearDown() override {
        ui_common::setFileDialogHook({});
        ui_common::setChoiceHook({});
        ui_common::setMessageHook({});
    }
    QString folderAnswer_;
    int choiceAnswer_ = 0;
    std::vector<ui_common::FileDialogRequest> folderRequests_;
    std::vector<ui_common::ChoiceRequest> choices_;
    std::vector<ui_common::MessageRecord> messages_;
};

TEST_F(AnsweredDialogsTest, OpenListsTheChosenFolderAndACancelKeepsTheList) {
    QTemporaryDir card;
    touch(card.filePath("alwa_20240611_101010_F.mp4"));
    folderAnswer_ = card.path();
    QTest::mouseClick(window_->button(ctl::kOpen), Qt::LeftButton);
    ASSERT_EQ(folderRequests_.size(), 1u);
    EXPECT_TRUE(folderRequests_[0].directory);
    EXPECT_EQ(folderRequests_[0].title, "Choose the folder to list");
    EXPECT_EQ(model()->rowCount(), 1);

    folderAnswer_.clear();  // the user cancels
    QTest::mouseClick(window_->button(ctl::kOpen), Qt::LeftButton);
    ASSERT_EQ(folderRequests_.size(), 2u);
    EXPECT_EQ(folderRequests_[1].startFolder, card.path()) << "opens where the last Open ended";
    EXPECT_EQ(model()->rowCount(), 1);
}

TEST_F(AnsweredDialogsTest, CopyAsksAboutEachExistingFileSkipThenReplaceAll) {
    QTemporaryDir card, target;
    write(card.filePath("alwa_20240611_101010_F.mp4"), "new A");
    write(card.filePath("alwa_20240611_101020_F.mp4"), "new B");
    write(target.filePath("alwa_20240611_101010_F.mp4"), "old A");
    write(target.filePath("alwa_20240611_101020_F.mp4"), "old B");
    ASSERT_TRUE(window_->listFolder(card.path()));
    ASSERT_EQ(model()->rowCount(), 2);
    window_->recordingList()->selectAll();
    folderAnswer_ = target.path();

    choiceAnswer_ = 1;  // Skip, for each file in turn
    window_->runCommand(ctl::kCopyCommand);
    ASSERT_EQ(choices_.size(), 2u);
    EXPECT_EQ(choices_[0].buttons,
              QStringList({"Replace", "Skip", "Replace All", "Skip All", "Cancel"}));
    EXPECT_EQ(choices_[0].defaultIndex, 1);
    EXPECT_TRUE(choices_[0].text.startsWith("\"alwa_20240611_101010_F.mp4\" already exists"))
        << choices_[0].text.toStdString();
    EXPECT_EQ(readAll(target.filePath("alwa_20240611_101010_F.mp4")), "old A");
    EXPECT_EQ(readAll(target.filePath("alwa_20240611_101020_F.mp4")), "old B");

    choices_.clear();
    window_->recordingList()->selectAll();
    choiceAnswer_ = 2;  // Replace All: asked once
    window_->runCommand(ctl::kCopyCommand);
    EXPECT_EQ(choices_.size(), 1u);
    EXPECT_EQ(readAll(target.filePath("alwa_20240611_101010_F.mp4")), "new A");
    EXPECT_EQ(readAll(target.filePath("alwa_20240611_101020_F.mp4")), "new B");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(AnsweredDialogsTest, CopyCancelledAtTheQuestionCopiesNothing) {
    QTemporaryDir card, target;
    write(card.filePath("alwa_20240611_101010_F.mp4"), "new A");
    write(target.filePath("alwa_20240611_101010_F.mp4"), "old A");
    ASSERT_TRUE(window_->listFolder(card.path()));
    window_->recordingList()->selectAll();
    folderAnswer_ = target.path();
    choiceAnswer_ = 2;  // one file: Replace, Skip, Cancel
    window_->runCommand(ctl::kCopyCommand);
    ASSERT_EQ(choices_.size(), 1u);
    EXPECT_EQ(choices_[0].buttons, QStringList({"Replace", "Skip", "Cancel"}));
    EXPECT_EQ(readAll(target.filePath("alwa_20240611_101010_F.mp4")), "old A");
}

// Listing a large card: the time from a chosen folder to a filled list.
TEST_F(RecordingListTest, TwentyThousandRecordingsListQuickly) {
    QTemporaryDir card;
    const int perFolder = 1000;
    for (int d = 0; d < 20; ++d) {
        const QString folder = card.filePath(QString("DCIM/%1").arg(d, 3, 10, QChar('0')));
        QDir().mkpath(folder);
        for (int i = 0; i < perFolder; ++i) {
            const int n = d * perFolder + i;
            touch(QString("%1/%2_202406%3_%4%5%6_%7.mp4")
                      .arg(folder)
                      .arg(n % 3 == 0 ? "event" : "alwa")
                      .arg(10 + n % 20, 2, 10, QChar('0'))
                      .arg(n / 3600 % 24, 2, 10, QChar('0'))
                      .arg(n / 60 % 60, 2, 10, QChar('0'))
                      .arg(n % 60, 2, 10, QChar('0'))
                      .arg(n % 2 ? 'R' : 'F'));
        }
    }
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(window_->listFolder(card.path()));
    QApplication::processEvents();  // the first screenful is painted
    const qint64 ms = t.elapsed();
    EXPECT_EQ(model()->rowCount(), 20000);
    std::printf("[ measured ] listing 20000 recordings: %lld ms\n", static_cast<long long>(ms));
    EXPECT_LT(ms, 5000);
}

}  // namespace
}  // namespace orvik::shell
