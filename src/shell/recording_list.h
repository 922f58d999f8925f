#pragma once
// The recording list (control 1011): a table model over the catalogue's rows and the view that
// shows them with the kind icons, the row colours and the columns of the recording list.
#include <QAbstractTableModel>
#include <QPixmap>
#include <QTableView>
#include <utility>
#include <vector>

#include "recordings/recording_file.h"

namespace orvik::shell {

class ListPictures;

class RecordingListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Type = 0, Date, Time, FileName, Key, Channel, FullPath, Picture, ColumnCount };
    // Header and width of each column; Key, Channel and FullPath are hidden, Picture (shown
    // first) only while the user has switched it on.
    static int columnWidth(int column);
    static Qt::Alignment columnAlignment(int column);

    explicit RecordingListModel(QObject* parent = nullptr);

    void setRows(std::vector<recordings::RecordingFile> rows);
    const std::vector<recordings::RecordingFile>& rows() const { return rows_; }
    const recordings::RecordingFile* row(int index) const;

    // The row drawn with the "current" background; -1 for none.
    void setCurrentRow(int row);
    int currentRow() const { return currentRow_; }
    // Texts follow the current language (called after a language switch).
    void refreshTexts();

    // Date in the user's short date format and "HH:mm:ss"; " " for both when the date is not
    // a real date.
    static QString dateText(const recordings::RecordingFile& f);
    static QString timeText(const recordings::RecordingFile& f);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

  private:
    std::vector<recordings::RecordingFile> rows_;
    std::vector<QString> dates_, times_;  // formatted once per fill
    std::vector<QPixmap> icons_;          // the six list icons
    QString kindLabels_[5];
    int currentRow_ = -1;
};

class RecordingListView : public QTableView {
    Q_OBJECT
  public:
    explicit RecordingListView(QWidget* parent = nullptr);
    void setListModel(RecordingListModel* model);
    // Selected rows, top to bottom.
    std::vector<int> selectedRowsInOrder() const;
    // A line shown inside the list while it has no rows ("" shows nothing).
    void setEmptyText(const QString& text);
    QString emptyText() const { return emptyText_; }

    // The picture column (off at first): a small picture of each row, rows tall enough for it.
    // With it off the list is laid out exactly as without it.
    void setPicturesShown(bool shown);
    bool picturesShown() const { return picturesShown_; }
    ListPictures* pictures() const { return pictures_; }

  signals:
    void rowDoubleClicked(int row);
    // Over the rows or over the column headers.
    void contextMenuAt(const QPoint& globalPos);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    std::pair<int, int> visibleRows() const;

    QString emptyText_;
    bool picturesShown_ = false;
    ListPictures* pictures_;
};

}  // namespace orvik::shell
