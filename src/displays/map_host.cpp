#include "displays/map_host.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <algorithm>

#include <sys/stat.h>

#include "platform/private_folder.h"

static void initMapResources() {
    Q_INIT_RESOURCE(map_page);
}

namespace orvik::displays {

namespace {

// Keeps the view on the map page: links inside it (the tile attribution) open in the user's
// browser instead of replacing the map.
class MapPage : public QWebEnginePage {
  public:
    using QWebEnginePage::QWebEnginePage;
    // Receives the page's console messages (its events for the host come that way).
    std::function<void(const QString& message, const QString& source)> consoleMessage;

  protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                  const QString& sourceId) override {
        if (consoleMessage) {
            consoleMessage(message, sourceId);
        }
    }

    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (!isMainFrame || url.isLocalFile() || url.scheme() == QLatin1String("about") ||
            url.scheme() == QLatin1String("data")) {
            return true;
        }
        if (type == NavigationTypeLinkClicked) {
            QDesktopServices::openUrl(url);
        }
        return false;
    }
};

// The page loads nothing but itself and the map tiles: a script injected through a crafted
// string could otherwise reach any address, or local files.
class MapRequestFilter : public QWebEngineUrlRequestInterceptor {
  public:
    explicit MapRequestFilter(MapHost* host) : QWebEngineUrlRequestInterceptor(host), host_(host) {}
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QUrl page = QUrl::fromLocalFile(host_->writtenPagePath());
        info.block(!MapHost::requestAllowed(info.requestUrl(), page));
    }

  private:
    MapHost* host_;
};

// Hosts of this process that wrote the page file: the main window's map and the Position window
// share it, so it is removed only when the last of them goes.
int gPageWriters = 0;
// The page file as written last by this process, so that a file someone else put at the name
// meanwhile is never removed.
struct stat gWrittenPage {};

}  // namespace

MapHost::MapHost(QWidget* parent) : QWebEngineView(parent) {
    initMapResources();
    setObjectName(QStringLiteral("mapHost"));
    setContextMenuPolicy(Qt::NoContextMenu);
    auto* page = new MapPage(this);
    page->setBackgroundColor(QColor(0xF4, 0xF5, 0xF7));
    // The page is a local file; its map tiles come from the network.
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    page->setUrlRequestInterceptor(new MapRequestFilter(this));
    page->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    page->consoleMessage = [this](const QString& message, const QString& source) {
        onConsoleMessage(message, source);
    };
    setPage(page);
    connect(this, &QWebEngineView::loadStarted, this, [this] { ready_ = false; });
    connect(this, &QWebEngineView::loadFinished, this, &MapHost::onLoadFinished);
}

MapHost::~MapHost() {
    if (!writtenPath_.isEmpty() && --gPageWriters == 0) {
        struct stat now {};
        if (::lstat(QFile::encodeName(writtenPath_).constData(), &now) == 0 &&
            now.st_ino == gWrittenPage.st_ino && now.st_dev == gWrittenPage.st_dev &&
            now.st_ctim.tv_sec == gWrittenPage.st_ctim.tv_sec &&
            now.st_ctim.tv_nsec == gWrittenPage.st_ctim.tv_nsec) {
            QFile::remove(writtenPath_);
        }
    }
}

bool MapHost::requestAllowed(const QUrl& url, const QUrl& page) {
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("data") || scheme == QLatin1String("blob") ||
        scheme == QLatin1String("about")) {
        return true;
    }
    if (url.isLocalFile()) {
        return !page.isEmpty() && url.adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery) == page;
    }
    // The tile layer of the page: https://tile.openstreetmap.org/{z}/{x}/{y}.png.
    return scheme == QLatin1String("https") && url.host() == QLatin1String(kTileHost) &&
           url.port(-1) == -1 && url.path().endsWith(QLatin1String(".png"));
}

QByteArray MapHost::pageBytes() {
    initMapResources();
    QFile file(QStringLiteral(":/orvik/map/map.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QString MapHost::pageFilePath() {
    auto folder = platform::privateRuntimeFolder();
    if (!folder) {
        return {};
    }
    return QFile::decodeName((*folder / kPageFileName).c_str());
}

namespace {

// Written under a new name in the user's private folder and renamed, so a browser never reads
// half a page and a link planted at the name is replaced, not written through. Returns the path.
QString writePage() {
    const QByteArray bytes = MapHost::pageBytes();
    if (bytes.isEmpty()) {
        return {};
    }
    auto written = platform::writePrivateFile(
        MapHost::kPageFileName, {bytes.constData(), static_cast<std::size_t>(bytes.size())});
    if (!written) {
        qWarning("orvik: the map page cannot be written: %s", written.error().c_str());
        return {};
    }
    ::lstat(written->c_str(), &gWrittenPage);
    return QFile::decodeName(written->c_str());
}

}  // namespace

bool MapHost::loadPage() {
    const QString path = writePage();
    if (path.isEmpty()) {
        return false;
    }
    if (writtenPath_.isEmpty()) {
        ++gPageWriters;
    }
    writtenPath_ = path;
    return navigateAgain();
}

bool MapHost::navigateAgain() {
    if (writtenPath_.isEmpty()) {
        return false;
    }
    // Someone may have removed the file since (another viewer sharing the temporary folder).
    if (!QFile::exists(writtenPath_)) {
        const QString path = writePage();
        if (path.isEmpty()) {
            return false;
        }
        writtenPath_ = path;
    }
    ready_ = false;
    // Everything called so far is made again once the page is back.
    pendingNames_.clear();
    for (const auto& [name, arguments] : latest_) {
        pendingNames_.push_back(name);
    }
    load(QUrl::fromLocalFile(writtenPath_));
    return true;
}

QString MapHost::callScript(const QString& name, const QStringList& arguments) {
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_$][A-Za-z0-9_$]*$"));
    if (!identifier.match(name).hasMatch()) {
        return {};
    }
    QJsonArray array;
    for (const QString& argument : arguments) {
        array.append(argument);
    }
    QByteArray list = QJsonDocument(array).toJson(QJsonDocument::Compact);
    list = list.mid(1, list.size() - 2);  // the elements without the brackets
    return QStringLiteral("if (typeof %1 === 'function') { %1(%2); }")
        .arg(name, QString::fromUtf8(list));
}

void MapHost::callPageFunction(const std::string& name, const std::vector<std::string>& arguments) {
    QStringList list;
    for (const auto& argument : arguments) {
        list.append(QString::fromStdString(argument));
    }
    callPageFunction(QString::fromStdString(name), list);
}

void MapHost::callPageFunction(const QString& name, const QStringList& arguments) {
    if (callScript(name, arguments).isEmpty()) {
        return;
    }
    // Replayed in the order of their latest calls: a marker taken off after it was set stays
    // off after a reload, and one set again after that stays on.
    std::erase_if(latest_, [&](const auto& entry) { return entry.first == name; });
    latest_.emplace_back(name, arguments);
    if (ready_) {
        runCall(name, arguments);
    } else {
        std::erase(pendingNames_, name);
        pendingNames_.push_back(name);
    }
}

void MapHost::setLatLag(double nmeaLongitude, double nmeaLatitude) {
    callPageFunction(std::string("setLatLag"), setLatLagArguments(nmeaLongitude, nmeaLatitude));
}

void MapHost::evaluate(const QString& script, std::function<void(const QVariant&)> done) {
    page()->runJavaScript(script, [done = std::move(done)](const QVariant& result) {
        if (done) {
            done(result);
        }
    });
}

void MapHost::runCall(const QString& name, const QStringList& arguments) {
    page()->runJavaScript(callScript(name, arguments));
}

void MapHost::onConsoleMessage(const QString& message, const QString& source) {
    static const QString prefix = QStringLiteral("orvik-host-event ");
    // Only the page we wrote speaks for the map; anything else in the console is not an event.
    if (!message.startsWith(prefix) || writtenPath_.isEmpty() ||
        QUrl(source) != QUrl::fromLocalFile(writtenPath_)) {
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(message.mid(prefix.size()).toUtf8());
    const QString name = doc.object().value(QStringLiteral("name")).toString();
    const QJsonArray args = doc.object().value(QStringLiteral("args")).toArray();
    if (name.isEmpty()) {
        return;
    }
    emit pageEvent(name, args);
    if (name == QLatin1String("routeClicked") && args.size() == 2 && args[0].isDouble() &&
        args[1].isDouble() && args[0].toDouble() >= 0) {
        emit routeClicked(args[0].toInt(), args[1].toDouble());
    }
}

void MapHost::onLoadFinished(bool ok) {
    // The page file removed while it loaded (another program of this user's session sharing the
    // folder went and took it along): written again and loaded once more.
    if (!ok && !writtenPath_.isEmpty() && !QFile::exists(writtenPath_) && !reloadedOnce_) {
        reloadedOnce_ = true;
        if (navigateAgain())
            return;
    }
    if (ok)
        reloadedOnce_ = false;
    ready_ = ok;
    if (ok) {
        const std::vector<QString> names = std::move(pendingNames_);
        pendingNames_.clear();
        for (const QString& name : names) {
            auto it = std::find_if(latest_.begin(), latest_.end(),
                                   [&](const auto& entry) { return entry.first == name; });
            if (it != latest_.end()) {
                runCall(it->first, it->second);
            }
        }
    }
    emit pageReady(ok);
}

}  // namespace orvik::displays
