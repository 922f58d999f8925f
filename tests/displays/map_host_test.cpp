#include "displays/map_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "displays/qt_app.h"
#include "support/map_page.h"

namespace orvik::displays {
namespace {

QVariant evaluate(MapHost& host, const QString& script) {
    QVariant result;
    bool done = false;
    QEventLoop loop;
    host.evaluate(script, [&](const QVariant& value) {
        result = value;
        done = true;
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!done) {
        loop.exec();
    }
    return result;
}

// The host at the main window's map size, its page loaded.
::testing::AssertionResult loadAtMainSize(MapHost& host) {
    host.resize(MapHost::kMainWidth, MapHost::kMainHeight);
    if (!host.loadPage())
        return ::testing::AssertionFailure() << "the map page could not be written";
    return orvik::test::mapPageLoaded(&host);
}

QString markerText(MapHost& host) {
    return evaluate(host,
                    "markers.length + ':' + markers[0].getLatLng().lat.toFixed(6) + ',' + "
                    "markers[0].getLatLng().lng.toFixed(6)")
        .toString();
}

TEST(MapPage, CallScriptsEscapeTheirArguments) {
    EXPECT_EQ(
        MapHost::callScript("setLatLag", {"126.864493", "37.557028", "1"}),
        "if (typeof setLatLag === 'function') { setLatLag(\"126.864493\",\"37.557028\",\"1\"); }");
    EXPECT_EQ(MapHost::callScript("showRoute", {"a\"b\\c</script>"}),
              "if (typeof showRoute === 'function') { showRoute(\"a\\\"b\\\\c</script>\"); }");
    EXPECT_TRUE(MapHost::callScript("alert(1);x", {}).isEmpty());
    EXPECT_TRUE(MapHost::callScript("", {}).isEmpty());
}

TEST(MapPage, BuiltIntoTheProgramWithItsLibrary) {
    testApplication();
    const QByteArray page = MapHost::pageBytes();
    for (const char* function :
         {"function load(", "function setLatLag(", "function addMarker(",
          "function deleteOverlays(", "function moveCenter(", "function showRoute(",
          "function showTrip(", "37.557028", "126.864494"}) {
        EXPECT_TRUE(page.contains(function)) << function;
    }
    EXPECT_TRUE(page.contains("leaflet-container") && page.contains("1.9.4"))
        << "the map library is inlined";
    EXPECT_FALSE(page.contains("<script src=")) << "nothing is loaded from elsewhere";
}

TEST(MapHostBrowser, LoadsTheWrittenPageAndMovesTheMarker) {
    testApplication();
    auto host = std::make_unique<MapHost>();
    host->resize(MapHost::kMainWidth, MapHost::kMainHeight);
    host->show();
    ASSERT_TRUE(host->loadPage());
    const QString path = host->writtenPagePath();
    EXPECT_EQ(path, MapHost::pageFilePath());
    EXPECT_TRUE(path.endsWith("/MAP.HTM"));
    EXPECT_TRUE(QFile::exists(path));

    // Made while the page loads: held and made once it is there.
    MapView view(*host);
    view.setShown(true);
    view.update(12651.8696, 3733.4217);
    ASSERT_TRUE(orvik::test::mapPageLoaded(host.get()));

    EXPECT_EQ(evaluate(*host, "typeof L").toString(), "object");
    EXPECT_EQ(evaluate(*host, "map.getZoom()").toInt(), 15);
    EXPECT_EQ(markerText(*host), "1:37.557028,126.864493");

    // South and west, through the Position window's two-argument form.
    host->setLatLag(-15112.0, -3352.0);
    EXPECT_EQ(markerText(*host), "1:-33.866667,-151.200000");
    EXPECT_EQ(evaluate(*host, "map.getCenter().lat.toFixed(4)").toString(), "-33.8667");

    host->callPageFunction(std::string("showRoute"), {"[[37.5,126.8],[37.6,126.9],[37.7,127.0]]"});
    EXPECT_EQ(evaluate(*host, "route.getLatLngs().length").toInt(), 3);
    host->callPageFunction(std::string("deleteOverlays"), {});
    EXPECT_EQ(evaluate(*host, "markers.length").toInt(), 0);
    EXPECT_EQ(evaluate(*host, "route.getLatLngs().length").toInt(), 3);  // the route stays

    if (const QByteArray dir = qgetenv("ORVIK_SCREENSHOT_DIR"); !dir.isEmpty()) {
        host->setLatLag(12651.8696, 3733.4217);
        QEventLoop pause;
        QTimer::singleShot(1500, &pause, &QEventLoop::quit);
        pause.exec();
        host->grab().save(QString::fromLocal8Bit(dir) + "/map_host.png");
    }
    host.reset();
    EXPECT_FALSE(QFile::exists(path)) << "the page file goes with its host";
}

TEST(MapHostBrowser, ClickOnTheTripRouteReportsTheRecordingAndMoment) {
    testApplication();
    MapHost host;
    host.resize(MapHost::kMainWidth, MapHost::kMainHeight);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    ASSERT_TRUE(host.loadPage());
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
    // Three recordings along a road to the north-east, 10 points each, slow then fast.
    QString points = "[";
    for (int i = 0; i < 30; ++i) {
        points += QString("%1[%2,%3,%4,%5,%6]")
                      .arg(i ? "," : "")
                      .arg(37.55 + i * 0.0004, 0, 'f', 6)
                      .arg(126.86 + i * 0.0006, 0, 'f', 6)
                      .arg(i * 4)
                      .arg(i / 10)
                      .arg((i % 10) * 6.5, 0, 'f', 3);
    }
    points += "]";
    // The opened recording's own route gives way to the trip while the trip is shown.
    host.callPageFunction(QStringLiteral("showRoute"),
                          {QStringLiteral("[[37.5,126.8],[37.6,126.9]]")});
    EXPECT_EQ(evaluate(host, "route.getLatLngs().length").toInt(), 2);
    host.callPageFunction(QStringLiteral("showTrip"), {points});
    EXPECT_EQ(evaluate(host, "tripPoints.length").toInt(), 30);
    EXPECT_TRUE(evaluate(host, "route === null").toBool());
    // Runs of one colour each: blue (under 30 km/h), green, yellow, orange.
    EXPECT_EQ(evaluate(host, "trip.getLayers().length").toInt(), 4 + 1);

    QSignalSpy clicks(&host, &MapHost::routeClicked);
    // Point 17 is recording 1, 7 x 6.5 s in; click right on it, as a user would.
    const QVariantList at =
        evaluate(host,
                 "var p = map.latLngToContainerPoint(L.latLng(tripPoints[17][0], "
                 "tripPoints[17][1])); [Math.round(p.x), Math.round(p.y)]")
            .toList();
    ASSERT_EQ(at.size(), 2);
    QWidget* surface = host.focusProxy() ? host.focusProxy() : &host;
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(at[0].toInt(), at[1].toInt()));
    ASSERT_TRUE(clicks.wait(10000));
    EXPECT_EQ(clicks[0][0].toInt(), 1);
    EXPECT_DOUBLE_EQ(clicks[0][1].toDouble(), 45.5);

    // A click away from the route reports nothing.
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(30, 110));
    EXPECT_FALSE(clicks.wait(1500));

    // An empty trip removes it.
    host.callPageFunction(QStringLiteral("showTrip"), {QStringLiteral("[]")});
    EXPECT_EQ(evaluate(host, "trip === null && tripPoints.length === 0").toBool(), true);
    EXPECT_EQ(evaluate(host, "route.getLatLngs().length").toInt(), 2);
}

// A trip is fitted into view, also one that arrives while the map has no size yet; the car moving
// along it does not pull the view off it.
TEST(MapHostBrowser, TheTripIsFittedAndStaysInViewWhileTheCarDrivesAlongIt) {
    testApplication();
    MapHost host;
    host.resize(0, 0);
    host.show();
    ASSERT_TRUE(host.loadPage());
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
    // About 4 km to the north-east: far more than a view at the page's first zoom shows.
    QString points = "[";
    for (int i = 0; i < 20; ++i)
        points += QString("%1[%2,%3,50,0,%4]")
                      .arg(i ? "," : "")
                      .arg(37.50 + i * 0.0015, 0, 'f', 6)
                      .arg(127.02 + i * 0.0015, 0, 'f', 6)
                      .arg(i);
    points += "]";
    host.callPageFunction(QStringLiteral("showTrip"), {points});
    const QString inView =
        "tripPoints.every(function (p) { return map.getBounds().contains(L.latLng(p[0], p[1])); })";
    host.resize(MapHost::kMainWidth, MapHost::kMainHeight);
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(host, inView).toBool(), 10000);
    EXPECT_LT(evaluate(host, "map.getZoom()").toInt(), 15);
    // The car halfway along (NMEA form): the whole trip stays in view.
    host.setLatLag(12702.10, 3730.90);
    EXPECT_EQ(evaluate(host, "markers.length").toInt(), 1);
    EXPECT_TRUE(evaluate(host, inView).toBool());
    // Far off the trip the map follows the car.
    host.setLatLag(12900.0, 3500.0);
    EXPECT_NEAR(evaluate(host, "map.getCenter().lat").toDouble(), 35.0, 1e-4);
}

// Without a network the tiles fail: a short note says so, in the language it is given, and goes
// when a tile loads.
TEST(MapHostBrowser, FailingTilesShowTheOfflineNoteUntilATileLoads) {
    testApplication();
    MapHost host;
    host.resize(MapHost::kMainWidth, MapHost::kMainHeight);
    host.show();
    host.callPageFunction(QStringLiteral("setOfflineText"), {QStringLiteral("offline here")});
    ASSERT_TRUE(host.loadPage());
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
    EXPECT_EQ(evaluate(host, "document.getElementById('orvik_offline').textContent").toString(),
              "offline here");
    evaluate(host, "tiles.fire('tileerror', {}); 0");
    EXPECT_TRUE(evaluate(host, "offlineNoteShown()").toBool());
    evaluate(host, "tiles.fire('tileload', {}); 0");
    EXPECT_FALSE(evaluate(host, "offlineNoteShown()").toBool());
}

TEST(MapHostBrowser, ReloadKeepsTheLatestMarkerAndRoute) {
    testApplication();
    MapHost host;
    ASSERT_TRUE(loadAtMainSize(host));
    host.setLatLag(12651.8696, 3733.4217);
    host.callPageFunction(std::string("showRoute"), {"[[37.5,126.8],[37.6,126.9]]"});
    ASSERT_TRUE(host.navigateAgain());
    EXPECT_FALSE(host.isPageReady());
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
    EXPECT_EQ(markerText(host), "1:37.557028,126.864493");
    EXPECT_EQ(evaluate(host, "route.getLatLngs().length").toInt(), 2);
}

TEST(MapHostBrowser, ReloadMakesTheLatestCallsInTheOrderTheyCame) {
    testApplication();
    MapHost host;
    ASSERT_TRUE(loadAtMainSize(host));
    // The marker set, taken off (a recording without positions), set again: it stays on.
    host.setLatLag(12651.8696, 3733.4217);
    host.callPageFunction(std::string("deleteOverlays"), {});
    host.setLatLag(12651.8696, 3733.4217);
    ASSERT_TRUE(host.navigateAgain());
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
    EXPECT_EQ(markerText(host), "1:37.557028,126.864493");
    // Taken off last: it stays off, also over the page's own first marker.
    host.callPageFunction(std::string("deleteOverlays"), {});
    ASSERT_TRUE(host.navigateAgain());
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
    EXPECT_EQ(evaluate(host, "markers.length").toInt(), 0);
}

TEST(MapHostBrowser, SharedPageFileStaysUntilTheLastHostGoes) {
    testApplication();
    MapHost main;
    ASSERT_TRUE(main.loadPage());
    const QString path = main.writtenPagePath();
    {
        MapHost position;  // the Position window, opened and closed while the viewer runs
        ASSERT_TRUE(position.loadPage());
        EXPECT_EQ(position.writtenPagePath(), path);
    }
    EXPECT_TRUE(QFile::exists(path));
    // Removed behind the host's back: the reload writes it again.
    QFile::remove(path);
    ASSERT_TRUE(main.navigateAgain());
    EXPECT_TRUE(QFile::exists(path));
    ASSERT_TRUE(orvik::test::mapPageLoaded(&main));
    EXPECT_EQ(evaluate(main, "typeof setLatLag").toString(), "function");
}

// Another program of the session sharing the folder may take the page file away while the
// browser loads it: the host writes it again and the page still comes.
TEST(MapHostBrowser, APageFileRemovedWhileItLoadsIsWrittenAgain) {
    testApplication();
    MapHost host;
    host.resize(MapHost::kMainWidth, MapHost::kMainHeight);
    ASSERT_TRUE(host.loadPage());
    ASSERT_TRUE(QFile::remove(host.writtenPagePath()));
    ASSERT_TRUE(orvik::test::mapPageLoaded(&host)) << "the page did not come back";
    EXPECT_TRUE(QFile::exists(host.writtenPagePath()));
    EXPECT_EQ(evaluate(host, "typeof setLatLag").toString(), "function");
}

TEST(MapHostBrowser, UnwritablePageFileShowsNothing) {
    testApplication();
    // A folder where the page file should go cannot be replaced by the file.
    QTemporaryDir runtime;
    ASSERT_TRUE(QDir(runtime.path()).mkpath("orvik/MAP.HTM"));
    ASSERT_TRUE(QFile::setPermissions(runtime.path() + "/orvik",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    MapHost host;
    EXPECT_FALSE(host.loadPage());
    EXPECT_TRUE(host.writtenPagePath().isEmpty());
    EXPECT_FALSE(host.navigateAgain());
    if (saved.isNull()) {
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        qputenv("XDG_RUNTIME_DIR", saved);
    }
}

TEST(MapPage, LoadsNothingButItselfAndTheTiles) {
    const QUrl page = QUrl::fromLocalFile("/run/user/1000/orvik/MAP.HTM");
    EXPECT_TRUE(MapHost::requestAllowed(page, page));
    EXPECT_TRUE(
        MapHost::requestAllowed(QUrl("https://tile.openstreetmap.org/15/27940/12700.png"), page));
    EXPECT_TRUE(MapHost::requestAllowed(QUrl("data:image/svg+xml;base64,PHN2Zy8+"), page));
    for (const char* refused :
         {"file:///etc/passwd", "file:///run/user/1000/orvik/other.htm", "http://example.com/",
          "https://example.com/x.png", "https://tile.openstreetmap.org.evil.example/1/2/3.png",
          "http://tile.openstreetmap.org/1/2/3.png",
          "https://tile.openstreetmap.org:8443/1/2/3.png",
          "https://tile.openstreetmap.org/script.js"}) {
        EXPECT_FALSE(MapHost::requestAllowed(QUrl(refused), page)) << refused;
    }
    EXPECT_FALSE(MapHost::requestAllowed(page, QUrl())) << "no page written: no file at all";
}

// Another user's link where the page used to be written (the shared temporary folder) is
// neither followed nor touched; the page goes to a folder of this user's own and still loads.
TEST(MapHostBrowser, PlantedLinkAtTheSharedNameIsLeftAlone) {
    testApplication();
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    QTemporaryDir victim;
    const QString target = victim.filePath(".bashrc");
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("alias ls='ls --color'\n");
    }
    const QString planted = QDir::temp().filePath("MAP.HTM");
    QFile::remove(planted);
    ASSERT_TRUE(QFile::link(target, planted));

    {
        MapHost host;
        host.resize(MapHost::kMainWidth, MapHost::kMainHeight);
        ASSERT_TRUE(host.loadPage());
        const QString path = host.writtenPagePath();
        EXPECT_NE(path, planted);
        EXPECT_TRUE(path.endsWith("/MAP.HTM")) << path.toStdString();
        const QFileInfo folder(QFileInfo(path).path());
        EXPECT_EQ(folder.ownerId(), ::geteuid());
        EXPECT_EQ(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
                  QFile::Permissions())
            << "the page's folder is closed to others";
        ASSERT_TRUE(orvik::test::mapPageLoaded(&host));
        EXPECT_EQ(evaluate(host, "typeof setLatLag").toString(), "function");

        // The page cannot read local files.
        evaluate(host,
                 "window.probe = 'pending'; fetch('file:///etc/hostname')"
                 ".then(function () { window.probe = 'read'; },"
                 " function () { window.probe = 'refused'; })");
        QString probe;
        for (int i = 0; i < 100 && (probe = evaluate(host, "window.probe").toString()) == "pending";
             ++i) {
            QTest::qWait(50);
        }
        EXPECT_EQ(probe, "refused");
    }
    EXPECT_TRUE(QFileInfo(planted).isSymLink());
    EXPECT_EQ(QFileInfo(planted).symLinkTarget(), target);
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "alias ls='ls --color'\n");
    QFile::remove(planted);
    if (!savedRuntime.isNull()) {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }
}

// A page file replaced by another program of this user (another viewer sharing the session
// folder) is its file now: the host leaves it when it goes.
TEST(MapHostBrowser, APageFileReplacedMeanwhileIsNotRemoved) {
    testApplication();
    QString path;
    {
        MapHost host;
        ASSERT_TRUE(host.loadPage());
        path = host.writtenPagePath();
        ASSERT_TRUE(QFile::remove(path));
        QFile other(path);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("<html>another viewer's page</html>");
    }
    EXPECT_TRUE(QFile::exists(path));
    QFile::remove(path);
}

}  // namespace
}  // namespace orvik::displays
