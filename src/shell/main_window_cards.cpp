// Cards inserted and removed while the viewer runs: the offer to list a new card, and playback
// stopped cleanly when the card of the playing recording goes away.
#include <QCoreApplication>
#include <QDir>

#include "platform/strings.h"
#include "playback/playback_controller.h"
#include "shell/card_notice.h"
#include "shell/card_watcher.h"
#include "shell/main_window.h"
#include "shell/private_messages.h"
#include "shell/recording_list.h"

namespace orvik::shell {
namespace {
constexpr int kStrCardRemovedWhilePlaying = 60053;
}  // namespace

void MainWindow::watchCards() {
    cardNotice_ = new CardNotice(recordingList_);
    connect(cardNotice_, &CardNotice::openRequested, this, [this](const QString& root) {
        if (listFolder(root))
            lastOpenedFolder_ = root;
    });
    cardWatcher_ = new CardWatcher(this);
    connect(cardWatcher_, &CardWatcher::cardInserted, this,
            [this](const CardInfo& card) { cardInserted(card); });
    connect(cardWatcher_, &CardWatcher::cardRemoved, this,
            [this](const CardInfo& card) { cardRemoved(card); });
}

void MainWindow::cardInserted(const CardInfo& card) {
    if (!card.holdsCameraFiles)
        return;
    cardNotice_->offerCard(card.root,
                           card.label.isEmpty() ? QDir(card.root).dirName() : card.label);
}

void MainWindow::cardRemoved(const CardInfo& card) {
    if (!cardNotice_->offeredRoot().isEmpty() && cardNotice_->offeredRoot() == card.root)
        cardNotice_->hide();
    const QString playing = currentRow_ >= 0 ? rowFullPath(currentRow_) : QString();
    const QString root = card.root.endsWith('/') ? card.root : card.root + '/';
    if (playing.isEmpty() || !playing.startsWith(root))
        return;
    if (stopPlaybackOfRemovedCard())
        cardNotice_->showMessage(
            QString::fromStdString(platform::text(kStrCardRemovedWhilePlaying)));
}

bool MainWindow::stopPlaybackOfRemovedCard() {
    if (!playback_ || !playback_->isPlaying())
        return false;
    // The players' files are gone: no end-of-recording may move on through the card's rows.
    QCoreApplication::removePostedEvents(this, windowMessageType(WM_PLAYBACK_COMPLETE));
    QCoreApplication::removePostedEvents(this, windowMessageType(WM_GRAPH_EVENT));
    // An empty path stops both players and resets the seek bar and the timers; it cannot fail.
    (void)playback_->open(QString());
    return true;
}

}  // namespace orvik::shell
