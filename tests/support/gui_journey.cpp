#include "support/gui_journey.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "displays/map_host.h"

namespace orvik::shell::testing {

using playback::MediaPlayer;
using playback::PlaybackState;
using playback::VideoPane;

namespace {

// What the cached card was made by: the options' own stamp and the generator library's size and
// time (a rebuilt generator writes the card anew).
std::string cardKey(const tools::SampleCardOptions& options) {
    std::string key = tools::sampleCardStamp(options);
    struct stat library {};
    if (::stat(ORVIK_SAMPLECARD_LIBRARY, &library) == 0) {
        key += "generator " + std::to_string(library.st_size) + " " +
               std::to_string(library.st_mtim.tv_sec) + "." +
               std::to_string(library.st_mtim.tv_nsec) + "\n";
    }
    return key;
}

// The card of these options in the build folder's card cache, written when missing or made by
// another generator. Several test programs ask at once: one writes, the others wait on its lock.
std::string cachedCard(const tools::SampleCardOptions& options, std::string& error) {
    namespace fs = std::filesystem;
    const std::string key = cardKey(options);
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a: a short, stable folder name
    for (const unsigned char c : tools::sampleCardStamp(options))
        hash = (hash ^ c) * 1099511628211ULL;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    const fs::path root = fs::path(ORVIK_BINARY_DIR) / "test-cards";
    const fs::path card = root / name, keyFile = root / (std::string(name) + ".key");
    std::error_code ec;
    fs::create_directories(root, ec);
    const int lock =
        ::open((root / (std::string(name) + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        error = "cannot lock the card cache in " + root.string();
        if (lock >= 0)
            ::close(lock);
        return {};
    }
    std::ifstream in(keyFile, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (written != key || !tools::sampleCardUpToDate(card.string(), options)) {
        // Written aside and renamed into place: a program stopped halfway leaves no card that
        // looks whole.
        const fs::path fresh = root / (std::string(name) + ".new");
        fs::remove_all(fresh, ec);
        fs::remove(keyFile, ec);
        fs::remove_all(card, ec);
        auto made = tools::writeSampleCard(fresh.string(), options);
        if (!made.ok()) {
            error = made.error();
        } else {
            fs::rename(fresh, card, ec);
            if (ec)
                error = "cannot name the generated card " + card.string() + ": " + ec.message();
            else
                std::ofstream(keyFile, std::ios::binary) << key;
        }
    }
    ::close(lock);
    return error.empty() ? card.string() : std::string();
}

}  // namespace

const QString& generatedCard(const tools::SampleCardOptions& options) {
    static QTemporaryDir* dir = nullptr;
    static QString folder;
    if (!dir) {
        dir = new QTemporaryDir();  // kept for the whole program
        // A copy of the program's own: some cases change the card.
        std::string error;
        const std::string cached = cachedCard(options, error);
        std::error_code ec;
        if (!cached.empty())
            std::filesystem::copy(cached, dir->path().toStdString(),
                                  std::filesystem::copy_options::recursive, ec);
        if (error.empty() && ec)
            error = "cannot copy the generated card: " + ec.message();
        EXPECT_TRUE(error.empty()) << error;
        if (error.empty()) {
            folder = dir->path();
        }
    }
    return folder;
}

QString screenshotFolder() {
    QString dir = qEnvironmentVariable("ORVIK_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        dir = QStringLiteral(ORVIK_BINARY_DIR "/journeys");
    }
    QDir().mkpath(dir);
    return dir;
}

QColor meanColour(const QImage& image, QRect r) {
    if (r.isEmpty() || !image.rect().contains(r)) {
        return {};
    }
    qint64 red = 0, green = 0, blue = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            red += qRed(c);
            green += qGreen(c);
            blue += qBlue(c);
        }
    }
    const qint64 n = qint64(r.width()) * r.height();
    return QColor(int(red / n), int(green / n), int(blue / n));
}

void WindowJourney::startWindow(const QString& cardFolder) {
    static QTemporaryDir temp;
    qputenv("ORVIK_MPV_AO", "null");  // no sound device here
    // The map page and other scratch files go to a folder of this program's own.
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    app();
    ASSERT_FALSE(cardFolder.isEmpty());
    window_ = std::make_unique<MainWindow>();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    ASSERT_TRUE(window_->listFolder(cardFolder));
}

void WindowJourney::TearDown() {
    if (shotEachCase_) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        shot(std::string(info->test_suite_name()) + "." + info->name());
    }
    window_.reset();
}

void WindowJourney::click(int id) {
    QWidget* c = window_->control(id);
    ASSERT_TRUE(c && c->isVisible() && c->isEnabled()) << "control " << id << " is not usable";
    QTest::mouseClick(c, Qt::LeftButton, {}, c->rect().center());
}

void WindowJourney::key(Qt::Key k) {
    QTest::keyClick(window_.get(), k);
}

void WindowJourney::doubleClickRow(int row) {
    auto* list = static_cast<QTableView*>(window_->recordingList());
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

void WindowJourney::playRow(int row) {
    ASSERT_GE(row, 0);
    doubleClickRow(row);
    ASSERT_TRUE(QTest::qWaitFor([&] { return running(); }, 20000));
}

int WindowJourney::firstPairRow(const QString& prefix) const {
    for (int r = 0; r + 1 < window_->rowCount(); ++r) {
        QString partner = window_->rowFullPath(r);
        if (window_->rowChannel(r) != 'F' || !window_->rowFileName(r).startsWith(prefix) ||
            partner.size() < 5) {
            continue;
        }
        partner[partner.size() - 5] = 'R';
        if (window_->rowFullPath(r + 1) == partner) {
            return r;
        }
    }
    return -1;
}

int WindowJourney::rowOf(const QString& fileName) const {
    for (int r = 0; r < window_->rowCount(); ++r) {
        if (window_->rowFileName(r) == fileName) {
            return r;
        }
    }
    return -1;
}

VideoPane* WindowJourney::pane(const char* name) const {
    return window_->findChild<VideoPane*>(QString::fromLatin1(name));
}

bool WindowJourney::running(const MediaPlayer* p) {
    return p && p->GetState() == PlaybackState::Running;
}

SkinSlider* WindowJourney::slider(int id) const {
    return qobject_cast<SkinSlider*>(window_->control(id));
}

QString WindowJourney::text(int id) const {
    auto* l = qobject_cast<QLabel*>(window_->control(id));
    return l ? l->text() : QString();
}

bool WindowJourney::shows(int id) const {
    return window_->control(id) && window_->control(id)->isVisible();
}

QRect WindowJourney::monitor() const {
    return window_->screen()->geometry();
}

QVariant WindowJourney::evaluate(displays::MapHost* host, const QString& script) {
    QVariant result;
    bool done = false;
    host->evaluate(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000)) << script.toStdString();
    return result;
}

void WindowJourney::xKey(const char* name) {
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    ASSERT_FALSE(xdotool.isEmpty()) << "xdotool is needed (scripts/install-deps.sh)";
    ASSERT_EQ(QProcess::execute(xdotool, {QStringLiteral("key"), QString::fromLatin1(name)}), 0);
}

bool WindowJourney::screenShowsControls(QPoint origin, std::initializer_list<int> ids) const {
    const QImage screen = window_->screen()->grabWindow(0).toImage();
    const QImage drawn = window_->grab().toImage();
    for (int id : ids) {
        const QRect local = window_->control(id)->geometry();
        const QColor want = meanColour(drawn, local);
        const QColor got = meanColour(screen, local.translated(origin));
        if (!want.isValid() || !got.isValid() || std::abs(want.red() - got.red()) > 12 ||
            std::abs(want.green() - got.green()) > 12 || std::abs(want.blue() - got.blue()) > 12) {
            return false;
        }
    }
    return true;
}

namespace {
QString shotName(const std::string& name, const QRect& screen, const char* kind) {
    return screenshotFolder() + "/" + QString::fromStdString(name) + kind +
           QStringLiteral("%1x%2.png").arg(screen.width()).arg(screen.height());
}
}  // namespace

void WindowJourney::shot(const std::string& name, bool screenSizeInName) const {
    if (window_ && window_->isVisible()) {
        // The window as it is laid out now (the screen may not have caught up yet), panes too.
        window_->grab().save(screenSizeInName ? shotName(name, monitor(), "-")
                                              : screenshotFolder() + "/" +
                                                    QString::fromStdString(name) + ".png");
    }
}

void WindowJourney::screenShot(const std::string& name) const {
    if (window_) {
        window_->screen()->grabWindow(0).save(shotName(name, monitor(), "-screen-"));
    }
}

}  // namespace orvik::shell::testing
