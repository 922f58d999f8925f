#pragma once
// The Information page: the driving-route records of the card (or of an opened file) as a
// 28-column list, their CSV export, and the Position window for the selected records.
#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "device_config/drive_route.h"

class QPushButton;
class QTableView;

namespace orvik::device_config::ui {

class PositionWindow;

class DriveRouteModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;
    void setRows(std::vector<DriveRouteRow> rows);
    const std::vector<DriveRouteRow>& rows() const { return rows_; }
    QStringList headers() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<DriveRouteRow> rows_;
};

class InformationPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 218;
    // The Position window stands this far right of the page's left edge.
    static constexpr int kPositionOffsetX = 650;

    explicit InformationPage(QWidget* parent = nullptr);
    ~InformationPage() override;

    // Finds "DrvInfo/orvik_000.drv" on the removable volumes and reads it.
    void openPage();
    // Rebuilds the text table from the records in memory.
    void refresh();
    bool hasFile() const { return !path_.isEmpty(); }
    QString currentPath() const { return path_; }
    const std::vector<DriveRouteRecord>& records() const { return records_; }

    // The Open command with a chosen path (the button asks for it).
    void openFile(const QString& path);
    // The Export command with a chosen target; false (with a message shown) when it failed.
    bool exportTo(const QString& path);
    // Double click: the selected rows on the Position window.
    void showSelectionOnMap();
    // The editor is closing: the Position window goes with it.
    void releaseMap();

    QTableView* list() const { return list_; }
    DriveRouteModel* model() const { return model_; }
    PositionWindow* positionWindow() const;

  private:
    void readFile(const QString& path);
    void onOpen();
    void onExport();

    QString path_;
    std::vector<DriveRouteRecord> records_;
    DriveRouteModel* model_ = nullptr;
    QTableView* list_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* export_ = nullptr;
    QPointer<PositionWindow> position_;
};

}  // namespace orvik::device_config::ui
