#include "device_config/ui/position_window.h"

#include <QLabel>
#include <string>

#include "device_config/ui/settings_page.h"
#include "displays/map_host.h"
#include "displays/map_view.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {

// The record's position in NMEA form (ddmm.mmmm), negative for south and west.
std::pair<double, double> nmeaLatLon(const DriveRouteRecord& r) {
    const RoutePosition p = routePosition(r);
    return {p.latitude, p.longitude};
}
// An NMEA-form value as decimal degrees with six decimals, as the map is given it.
std::string coordinate(double nmea) {
    return displays::nmeaCoordinate(nmea);
}
}  // namespace

PositionWindow::PositionWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(idName(kResourceId));
    setWindowTitle(uiText(strings::device_config::kPositionTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(false);
    setFixedSize(kWidth, kHeight);
    map_ = new displays::MapHost(this);
    map_->setObjectName(idName(kMapControlId));
    map_->setGeometry(0, 0, kWidth, kMapHeight);
    map_->loadPage();
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("position-status"));
    status_->setGeometry(10, kMapHeight, kWidth - 20, kHeight - kMapHeight);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

PositionWindow::~PositionWindow() = default;

QString PositionWindow::statusText() const {
    return status_->text();
}

void PositionWindow::showRecord(const DriveRouteRecord& record) {
    const auto [lat, lon] = nmeaLatLon(record);
    // A record logged without a fix holds zeros; the marker stays where it was.
    if (lat != 0 && lon != 0)
        map_->setLatLag(lon, lat);
    const DriveRouteRow row = formatDriveRouteRow(record, 0);
    // Date, time, then the position in degrees as the map shows it.
    status_->setText(QStringLiteral("%1  %2    %3, %4")
                         .arg(QString::fromStdString(row[2]), QString::fromStdString(row[3]),
                              QString::fromStdString(coordinate(lat)),
                              QString::fromStdString(coordinate(lon))));
}

void PositionWindow::showRoute(const std::vector<DriveRouteRecord>& records) {
    // One record is a place, not a route: an earlier route is cleared.
    std::string json = "[";
    if (records.size() >= 2) {
        for (const DriveRouteRecord& r : records) {
            const auto [lat, lon] = nmeaLatLon(r);
            if (lat == 0 || lon == 0)
                continue;
            if (json.size() > 1)
                json += ',';
            json += '[' + coordinate(lat) + ',' + coordinate(lon) + ']';
        }
    }
    json += ']';
    map_->callPageFunction("showRoute", std::vector<std::string>{json});
    if (records.size() >= 2)
        status_->setText(
            status_->text() + QStringLiteral("    (") +
            uiFormat(strings::device_config::kRecordCount, static_cast<int>(records.size())) +
            QStringLiteral(")"));
}

}  // namespace orvik::device_config::ui
