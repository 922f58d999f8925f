#pragma once
// An embedded browser showing the viewer's map page. The page (with its map library inlined) is
// written to "MAP.HTM" in the user's private temporary folder and loaded from there; the program
// then calls the page's functions (setLatLag, addMarker, deleteOverlays, moveCenter, showRoute,
// showTrip) with string arguments; the page's events (a click on the trip's route) come back as
// signals. Used by the main window's map and by the Position window.
#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "displays/map_view.h"

namespace orvik::displays {

class MapHost : public QWebEngineView, public MapScriptTarget {
    Q_OBJECT
  public:
    // The main window's host: control 32783 at (680, 85), 326 x 236.
    static constexpr int kMainControlId = 32783;
    static constexpr int kMainX = 680;
    static constexpr int kMainY = 85;
    static constexpr int kMainWidth = 326;
    static constexpr int kMainHeight = 236;

    explicit MapHost(QWidget* parent = nullptr);
    // Deletes the page file once no host of the process that wrote it is left.
    ~MapHost() override;

    // The page as built into the program.
    static QByteArray pageBytes();
    // "MAP.HTM" in the user's private temporary folder ("" when there is none).
    static QString pageFilePath();
    static constexpr const char* kPageFileName = "MAP.HTM";
    // The map tiles' server, the one remote address the page may reach.
    static constexpr const char* kTileHost = "tile.openstreetmap.org";
    // Whether the page at `page` may load `url`: itself, inline data and the map tiles only.
    static bool requestAllowed(const QUrl& url, const QUrl& page);

    // Writes the page file (replacing an existing one) and navigates to it. False when the file
    // cannot be written; the host then shows nothing.
    bool loadPage();
    // Navigates to the written page once more (writing it again only when it has gone); false
    // when none was written.
    bool navigateAgain();
    // The path written by loadPage, empty when none.
    QString writtenPagePath() const { return writtenPath_; }
    // True once the page has finished loading and its functions can be called.
    bool isPageReady() const { return ready_; }

    // Calls a page function with string arguments. Calls made while the page is loading are held
    // (the latest per function) and made when it has loaded; after a reload the latest call of
    // each function is made again, in the order they came, so the marker and route survive it.
    void callPageFunction(const std::string& name,
                          const std::vector<std::string>& arguments) override;
    void callPageFunction(const QString& name, const QStringList& arguments);

    // The Position window's call: setLatLag with the converted longitude and latitude of
    // NMEA-form signed magnitudes (two arguments).
    void setLatLag(double nmeaLongitude, double nmeaLatitude);

    // Runs a script in the page and hands its result to done (for read-backs and tests).
    void evaluate(const QString& script, std::function<void(const QVariant&)> done);

    // The script text of a page call, with the arguments as escaped string literals.
    // Empty when the name is not a plain identifier.
    static QString callScript(const QString& name, const QStringList& arguments);

  signals:
    // The page finished loading (ok) or failed to load.
    void pageReady(bool ok);
    // An event the page reported through its `host` table.
    void pageEvent(const QString& name, const QJsonArray& arguments);
    // A click on the trip's route: the recording (index into the trip shown) and the seconds into
    // it of the route point nearest the click.
    void routeClicked(int recording, double offsetSeconds);

  private:
    void onLoadFinished(bool ok);
    void onConsoleMessage(const QString& message, const QString& source);
    void runCall(const QString& name, const QStringList& arguments);

    QString writtenPath_;
    bool ready_ = false;
    bool reloadedOnce_ = false;
    // Latest call per function name, in the order of those latest calls.
    std::vector<std::pair<QString, QStringList>> latest_;
    std::vector<QString> pendingNames_;
};

}  // namespace orvik::displays
