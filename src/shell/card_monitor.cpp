#include "shell/card_monitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QPointer>
#include <chrono>

#include "library/import.h"

#include "playback/playback_controller.h"
#include "playback/window_messages.h"
#include "shell/card_notice.h"
#include "shell/card_watcher.h"
#include "shell/private_messages.h"
#include "strings/string_ids.h"
#include "ui_common/background.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

CardMonitor::CardMonitor(QWidget* list, QObject* messageWindow,
                         playback::PlaybackController& playback, ListFolder listFolder)
    : QObject(messageWindow), messageWindow_(messageWindow), playback_(playback) {
    notice_ = new CardNotice(list);
    connect(notice_, &CardNotice::openRequested, this,
            [listFolder = std::move(listFolder)](const QString& root) { (void)listFolder(root); });
    connect(notice_, &CardNotice::importRequested, this,
            [this](const QString& root) { startImport(root); });
    connect(notice_, &CardNotice::cancelRequested, this, [this] {
        if (importCancel_)
            *importCancel_ = true;
    });
    watcher_ = new CardWatcher(this);
    connect(watcher_, &CardWatcher::cardInserted, this,
            [this](const CardInfo& card) { inserted(card); });
    connect(watcher_, &CardWatcher::cardRemoved, this,
            [this](const CardInfo& card) { removed(card); });
}

CardMonitor::~CardMonitor() {
    // A window that closes stops its import between two chunks: nothing is left half copied.
    if (importCancel_)
        *importCancel_ = true;
}

void CardMonitor::inserted(const CardInfo& card) {
    if (!card.holdsCameraFiles || importCancel_)
        return;
    offeredName_ = card.label.isEmpty() ? QDir(card.root).dirName() : card.label;
    notice_->offerCard(card.root, offeredName_);
}

void CardMonitor::startImport(const QString& root) {
    if (importCancel_ || root.isEmpty())
        return;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    importCancel_ = cancel;
    const QString pattern = ui_common::uiText(strings::shell::kCardImporting).arg(offeredName_);
    const QLocale locale;
    notice_->showProgress(ui_common::uiText(strings::shell::kCardImportStarting).arg(offeredName_));
    library::ImportOptions options;
    options.card = QDir::cleanPath(root).toStdString();
    options.library = library::defaultLibraryFolder();
    options.cancelled = [cancel] { return cancel->load(); };
    QPointer<CardMonitor> self(this);
    auto shown = std::make_shared<std::chrono::steady_clock::time_point>();
    options.progress = [self, cancel, pattern, locale, shown](const library::ImportProgress& p) {
        const auto now = std::chrono::steady_clock::now();
        if (now - *shown < std::chrono::milliseconds(200))
            return;
        *shown = now;
        const QString text = pattern.arg(p.filesDone)
                                 .arg(p.files)
                                 .arg(locale.formattedDataSize(static_cast<qint64>(p.bytesDone)),
                                      locale.formattedDataSize(static_cast<qint64>(p.bytes)));
        ui_common::postToGuiThread([self, cancel, text] {
            if (self && self->importCancel_ == cancel)
                self->notice_->showProgress(text);
        });
    };
    ui_common::runDetached(
        this, [options] { return library::importCard(options); },
        [this, library = QString::fromStdString(options.library)](
            const Result<library::ImportReport>& report) {
            importCancel_.reset();
            using library::FileOutcome;
            if (!report) {
                notice_->showMessage(ui_common::uiText(strings::shell::kCardImportFailed)
                                         .arg(QString::fromStdString(report.error())));
            } else if (report->cancelled) {
                notice_->showMessage(ui_common::uiText(strings::shell::kCardImportCancelled));
            } else {
                notice_->showMessage(ui_common::uiText(strings::shell::kCardImported)
                                         .arg(report->count(FileOutcome::Imported))
                                         .arg(report->count(FileOutcome::Skipped))
                                         .arg(report->count(FileOutcome::KeptBeside))
                                         .arg(report->count(FileOutcome::Failed))
                                         .arg(library));
            }
        });
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
