#include "shell/card_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <filesystem>

#include "device_config/opened_card.h"
#include "platform/udisks.h"
#include "platform/volumes.h"
#include "recordings/recording_file.h"
#include "ui_common/background.h"

namespace orvik::shell {
namespace fs = std::filesystem;

namespace {
// Announcements come in bursts (drive, partition, mount); one scan after they settle.
constexpr int kSettleMs = 150;
// A folder with more entries than this is not searched further for recordings.
constexpr int kMaxEntriesLooked = 400;

bool isCameraRecording(const fs::path& file) {
    std::string ext = file.extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mp4" && recordings::parseRecordingName(file.filename().string()).kind !=
                                recordings::RecordingKind::Unknown;
}
}  // namespace

bool holdsCameraFiles(const QString& rootText) {
    if (rootText.isEmpty())
        return false;
    const fs::path root(rootText.toStdString());
    std::error_code ec;
    if (device_config::holdsCardFiles(root.string()))
        return true;
    int looked = 0;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end && looked < kMaxEntriesLooked;
         it.increment(ec), ++looked) {
        if (isCameraRecording(it->path()))
            return true;
        std::error_code ec2;
        if (!it->is_directory(ec2) || it->is_symlink(ec2))
            continue;
        for (fs::directory_iterator sub(it->path(), ec2);
             !ec2 && sub != end && looked < kMaxEntriesLooked; sub.increment(ec2), ++looked)
            if (isCameraRecording(sub->path()))
                return true;
    }
    return false;
}

CardWatcher::CardWatcher(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &CardWatcher::rescan);

    // The kernel's mount table signals every change to a reader polling it for priority data.
    mountInfoFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (mountInfoFd_ >= 0) {
        mountNotifier_ = new QSocketNotifier(mountInfoFd_, QSocketNotifier::Exception, this);
        connect(mountNotifier_, &QSocketNotifier::activated, this, [this] {
            char buf[4096];
            ::lseek(mountInfoFd_, 0, SEEK_SET);
            while (::read(mountInfoFd_, buf, sizeof buf) > 0) {
            }
            settle_.start();
        });
    }
    snapshot_ = platform::installVolumeSnapshot();
    connectToDiskService();
    rescan();
}

CardWatcher::~CardWatcher() {
    platform::removeVolumeSnapshot(snapshot_);
    if (mountInfoFd_ >= 0)
        ::close(mountInfoFd_);
}

void CardWatcher::connectToDiskService() {
    delete busNotifier_;
    busNotifier_ = nullptr;
    client_.reset();
    auto client = platform::UDisksClient::connect();
    if (!client)
        return;
    // Whatever changed (objects, or the service coming or going), one scan tells.
    auto watching = (*client)->watch([this](platform::UDisksClient::Change) { settle_.start(); },
                                     /*waitForBus=*/false);
    if (!watching)
        return;
    client_ = std::move(*client);
    busNotifier_ = new QSocketNotifier(client_->fd(), QSocketNotifier::Read, this);
    connect(busNotifier_, &QSocketNotifier::activated, this, [this] {
        if (client_ && !client_->processPending()) {
            // The bus itself went away: the kernel's view from now on.
            busNotifier_->setEnabled(false);
            busNotifier_->deleteLater();
            busNotifier_ = nullptr;
            client_.reset();
            settle_.start();
        }
    });
    client_->processPending();
}

QList<CardInfo> CardWatcher::scan(bool askService,
                                  const std::shared_ptr<platform::VolumeSnapshot>& snapshot) {
    // Asked first, so that the dialogs' list is as new as the cards reported.
    std::vector<platform::Volume> volumes;
    if (snapshot)
        volumes = snapshot->refresh();
    QList<CardInfo> found;
    // sd-bus connections are not shared between threads: the worker has its own.
    auto client = askService ? platform::UDisksClient::connect()
                             : Result<std::unique_ptr<platform::UDisksClient>>(makeError(""));
    if (client && (*client)->serviceRunning()) {
        if (auto fileSystems = (*client)->removableFileSystems()) {
            for (const auto& f : *fileSystems) {
                CardInfo c;
                c.key = QString::fromStdString(f.device);
                if (!f.mountPoints.empty())
                    c.root = QString::fromStdString(f.mountPoints.front());
                c.label = QString::fromStdString(f.label);
                c.holdsCameraFiles = holdsCameraFiles(c.root);
                found << c;
            }
            return found;
        }
    }
    if (!snapshot)
        volumes = platform::removableVolumes();
    for (const auto& v : volumes) {
        CardInfo c;
        c.key = QString::fromStdString(v.device.empty() ? v.mountPoint : v.device);
        c.root = QString::fromStdString(v.mountPoint);
        c.label = QString::fromStdString(v.label);
        c.holdsCameraFiles = holdsCameraFiles(c.root);
        found << c;
    }
    return found;
}

void CardWatcher::rescan() {
    if (client_)
        client_->processPending();
    if (scanRunning_) {
        scanAgain_ = true;
        return;
    }
    scanRunning_ = true;
    ui_common::runDetached(
        this,
        [askService = client_ != nullptr, snapshot = snapshot_] {
            return scan(askService, snapshot);
        },
        [this](const QList<CardInfo>& now) {
            scanRunning_ = false;
            applyScan(now);
            if (std::exchange(scanAgain_, false))
                rescan();
        });
}

void CardWatcher::applyScan(const QList<CardInfo>& now) {
    if (!std::exchange(baselineReady_, true)) {
        cards_ = now;
        emit scanFinished();
        return;
    }
    auto findKey = [](const QList<CardInfo>& list, const QString& key) -> const CardInfo* {
        for (const auto& c : list)
            if (c.key == key)
                return &c;
        return nullptr;
    };
    const QList<CardInfo> before = std::exchange(cards_, now);
    for (const auto& old : before) {
        const CardInfo* still = findKey(now, old.key);
        if (!old.root.isEmpty() && (!still || still->root != old.root))
            emit cardRemoved(old);
    }
    for (const auto& c : now) {
        const CardInfo* old = findKey(before, c.key);
        if (!c.root.isEmpty() && (!old || old->root != c.root))
            emit cardInserted(c);
    }
    emit scanFinished();
}

}  // namespace orvik::shell
