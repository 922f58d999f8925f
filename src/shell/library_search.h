#pragma once
// Find in library: a date range, a kind, a circle around the Information map's point or an area
// dragged on a map of its own, asked of the library's index off the window's thread. The hits
// become the recording list.
#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "displays/map_view.h"
#include "library/search.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QSpinBox;

namespace orvik::displays {
class MapHost;
}

namespace orvik::shell {

class LibrarySearchDialog : public QDialog {
    Q_OBJECT
  public:
    // `point`: the Information map's point, when it has one ("near here" is offered only then).
    LibrarySearchDialog(QWidget* parent, std::string libraryFolder,
                        std::optional<displays::MapPoint> point);

    // What the controls ask for now.
    library::SearchQuery query() const;

    QDateEdit* fromDate() const { return fromDate_; }
    QCheckBox* fromBox() const { return fromBox_; }
    QDateEdit* toDate() const { return toDate_; }
    QCheckBox* toBox() const { return toBox_; }
    QComboBox* kind() const { return kind_; }
    QCheckBox* nearBox() const { return nearBox_; }
    QSpinBox* radius() const { return radius_; }
    QCheckBox* areaBox() const { return areaBox_; }
    displays::MapHost* map() const { return map_; }
    // The area dragged on the map, while "In the area" is ticked.
    const std::optional<library::GeoBox>& area() const { return area_; }
    QPushButton* searchButton() const { return search_; }
    QLabel* status() const { return status_; }

  signals:
    // Hits of a search that found some, in time order; the dialog closes after it.
    void found(const std::vector<orvik::library::SearchHit>& hits, const QString& libraryFolder);

  private:
    void startSearch();
    void areaChosen(const library::GeoBox& box);

    std::string folder_;
    std::optional<displays::MapPoint> point_;
    QCheckBox* fromBox_ = nullptr;
    QDateEdit* fromDate_ = nullptr;
    QCheckBox* toBox_ = nullptr;
    QDateEdit* toDate_ = nullptr;
    QComboBox* kind_ = nullptr;
    QCheckBox* nearBox_ = nullptr;
    QSpinBox* radius_ = nullptr;
    QCheckBox* areaBox_ = nullptr;
    displays::MapHost* map_ = nullptr;
    std::optional<library::GeoBox> area_;
    QPushButton* search_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace orvik::shell
