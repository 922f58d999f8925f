#pragma once
// Cards inserted and removed while the viewer runs: a line over the recording list offers a card
// that holds the camera's files (Open lists it, Import copies it into the library in the
// background, with progress and Cancel), and when the card of the playing recording is pulled,
// playback stops cleanly and the same line says so.
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QWidget;

namespace orvik::playback {
class PlaybackController;
}

namespace orvik::shell {

class CardNotice;
class CardWatcher;
struct CardInfo;

class CardMonitor : public QObject {
    Q_OBJECT
  public:
    // Lists a card's root as Open does; true when it was listed.
    using ListFolder = std::function<bool(const QString& root)>;

    // The notice lies over `list`; `messageWindow` receives the players' end-of-recording
    // messages, which a pulled card's playback must no longer act on.
    CardMonitor(QWidget* list, QObject* messageWindow, playback::PlaybackController& playback,
                ListFolder listFolder);
    ~CardMonitor() override;

    CardNotice* notice() const { return notice_; }
    CardWatcher* watcher() const { return watcher_; }

  private:
    void inserted(const CardInfo& card);
    void removed(const CardInfo& card);
    // Stops the playing recording; false when nothing was playing.
    bool stopPlayback();
    void startImport(const QString& root);

    QObject* messageWindow_;
    playback::PlaybackController& playback_;
    CardNotice* notice_ = nullptr;
    CardWatcher* watcher_ = nullptr;
    QString offeredName_;
    // Set while an import runs; the import stops between two chunks once it holds true.
    std::shared_ptr<std::atomic<bool>> importCancel_;
};

}  // namespace orvik::shell
