#include "shell/card_monitor.h"

#include <QCoreApplication>
#include <QDir>

#include "playback/playback_controller.h"
#include "playback/window_messages.h"
#include "shell/card_notice.h"
#include "shell/card_watcher.h"
#include "shell/private_messages.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

CardMonitor::CardMonitor(QWidget* list, QObject* messageWindow,
                         playback::PlaybackController& playback, ListFolder listFolder)
    : QObject(messageWindow), messageWindow_(messageWindow), playback_(playback) {
    notice_ = new CardNotice(list);
    connect(notice_, &CardNotice::openRequested, this,
            [listFolder = std::move(listFolder)](const QString& root) { (void)listFolder(root); });
    watcher_ = new CardWatcher(this);
    connect(watcher_, &CardWatcher::cardInserted, this,
            [this](const CardInfo& card) { inserted(card); });
    connect(watcher_, &CardWatcher::cardRemoved, this,
            [this](const CardInfo& card) { removed(card); });
}

void CardMonitor::inserted(const CardInfo& card) {
    if (!card.holdsCameraFiles)
        return;
    notice_->offerCard(card.root, card.label.isEmpty() ? QDir(card.root).dirName() : card.label);
}

void CardMonitor::removed(const CardInfo& card) {
    if (!notice_->offeredRoot().isEmpty() && notice_->offeredRoot() == card.root)
        notice_->hide();
    const QString& playing = playback_.openedPath();
    const QString root = card.root.endsWith('/') ? card.root : card.root + '/';
    if (playing.isEmpty() || !playing.startsWith(root))
        return;
    if (stopPlayback())
        notice_->showMessage(ui_common::uiText(strings::shell::kCardRemovedWhilePlaying));
}

bool CardMonitor::stopPlayback() {
    if (!playback_.isPlaying())
        return false;
    // The players' files are gone: no end-of-recording may move on through the card's rows.
    QCoreApplication::removePostedEvents(messageWindow_,
                                         windowMessageType(playback::WM_PLAYBACK_COMPLETE));
    QCoreApplication::removePostedEvents(messageWindow_,
                                         windowMessageType(playback::WM_GRAPH_EVENT));
    // An empty path stops both players and resets the moment and the timers; it cannot fail.
    (void)playback_.open(QString());
    return true;
}

}  // namespace orvik::shell
