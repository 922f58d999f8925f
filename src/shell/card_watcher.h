#pragma once
// Watches for memory cards coming and going while the viewer runs: through the desktop's disk
// service (UDisks2) when it runs, otherwise through the kernel's mount table. Cards present at
// start (the first scan) are the baseline; only later changes are reported. Every scan (the
// service's list, the look into each card's folders) runs on a worker: a stalled service or a
// hung mount never holds up the window. While it lives, the process's list of removable volumes
// is the one of its latest scan, so dialogs that look for a card never wait either.
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace orvik::platform {
class UDisksClient;
class VolumeSnapshot;
}  // namespace orvik::platform

namespace orvik::shell {

struct CardInfo {
    QString key;    // what identifies the card between scans (device, or root for a folder)
    QString root;   // mount point, "" while not mounted
    QString label;  // volume label, "" when none
    bool holdsCameraFiles = false;
};

// Whether `root` looks like the camera's card: its configuration file, its driving-route
// folder, or a recording named as the camera names them in the root or a folder just below.
bool holdsCameraFiles(const QString& root);

class CardWatcher : public QObject {
    Q_OBJECT
  public:
    explicit CardWatcher(QObject* parent = nullptr);
    ~CardWatcher() override;

    bool usesDiskService() const { return client_ != nullptr; }
    // The cards of the latest finished scan; empty until the first one (see baselineReady()).
    const QList<CardInfo>& cards() const { return cards_; }
    bool baselineReady() const { return baselineReady_; }

  public slots:
    // Looks again (changes are otherwise picked up shortly after they are announced). One scan
    // runs at a time; asking meanwhile makes one more run after it.
    void rescan();

  signals:
    // A card was inserted (or mounted) while the viewer runs.
    void cardInserted(const orvik::shell::CardInfo& card);
    // A card was pulled (or unmounted); `card.root` is where it was mounted.
    void cardRemoved(const orvik::shell::CardInfo& card);
    // A scan finished and its changes were reported (the first one: the baseline was taken).
    void scanFinished();

  private:
    void connectToDiskService();
    // Runs on a worker: asks the service on a connection of its own when `askService`, and
    // refreshes `snapshot` (when there is one) for the dialogs that list the cards.
    static QList<CardInfo> scan(bool askService,
                                const std::shared_ptr<platform::VolumeSnapshot>& snapshot);
    void applyScan(const QList<CardInfo>& now);

    std::unique_ptr<platform::UDisksClient> client_;
    std::shared_ptr<platform::VolumeSnapshot> snapshot_;
    QSocketNotifier* busNotifier_ = nullptr;
    QSocketNotifier* mountNotifier_ = nullptr;
    int mountInfoFd_ = -1;
    QTimer settle_;  // one scan for a burst of announcements
    QList<CardInfo> cards_;
    bool baselineReady_ = false;
    bool scanRunning_ = false;
    bool scanAgain_ = false;
};

}  // namespace orvik::shell

Q_DECLARE_METATYPE(orvik::shell::CardInfo)
