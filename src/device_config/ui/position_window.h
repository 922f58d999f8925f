#pragma once
// The modeless "Position" window: a map showing where a driving-route record was taken, and the
// route through several selected records.
#include <QDialog>
#include <vector>

#include "device_config/drive_route.h"

class QLabel;

namespace orvik::displays {
class MapHost;
}

namespace orvik::device_config::ui {

class PositionWindow : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 132;
    static constexpr int kMapControlId = 32784;
    static constexpr int kWidth = 471;
    static constexpr int kHeight = 729;
    static constexpr int kMapHeight = 681;

    explicit PositionWindow(QWidget* parent = nullptr);
    ~PositionWindow() override;

    // Moves the marker to the record's position.
    void showRecord(const DriveRouteRecord& record);
    // Draws the records as a route (nothing for fewer than two).
    void showRoute(const std::vector<DriveRouteRecord>& records);

    displays::MapHost* map() const { return map_; }
    QString statusText() const;

  private:
    displays::MapHost* map_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace orvik::device_config::ui
