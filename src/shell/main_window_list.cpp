// The recording list: Open, the rows, opening a row with its partner and moving on through the
// list (the end of a recording, Page Up and Page Down), the context menu and Copy.
#include <QApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <filesystem>

#include "device_config/opened_card.h"
#include "displays/map_view.h"
#include "library/import.h"
#include "library/search.h"
#include "platform/store.h"
#include "playback/playback_controller.h"
#include "recordings/catalogue.h"
#include "recordings/partner.h"
#include "shell/control_ids.h"
#include "shell/copy_recordings.h"
#include "shell/displays_panel.h"
#include "shell/library_search.h"
#include "shell/main_window.h"
#include "shell/recording_list.h"
#include "shell/trip_controls.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using playback::ChannelMode;
using ui_common::uiText;
namespace text = strings::shell;

namespace {

// More selected rows than this and Copy does nothing.
constexpr size_t kMaxCopyRows = 100;
constexpr std::string_view kListPicturesKey = "listPictures";

// "Error 0x%08x: %s" with the system's text for the code, or the fallback texts.
QString openFailureText(HResult hr) {
    const auto code = static_cast<std::uint32_t>(hr);
    QString reason = QString::fromStdString(playback::resultText(hr)).trimmed();
    if (reason.isEmpty()) {
        if (code >= 0x80040200u && code <= 0x8004FFFFu) {
            reason =
                uiText(strings::playback::kDispatchError).arg(static_cast<int>(code - 0x80040200u));
        } else {
            reason = uiText(strings::playback::kUnknownError).arg(code, 0, 16).toUpper();
        }
    }
    return uiText(strings::playback::kOpenError).arg(code, 8, 16, QLatin1Char('0')).arg(reason);
}

}  // namespace

void MainWindow::createList() {
    recordingModel_ = new RecordingListModel(this);
    recordingList_ = new RecordingListView(this);
    recordingList_->setListModel(recordingModel_);
    recordingList_->setPicturesShown(platform::viewerSetting(kListPicturesKey) == "1");
    recordingList_->setGeometry(680, 85, 322, 298);
    connect(recordingList_, &RecordingListView::rowDoubleClicked, this,
            [this](int row) { openRecording(row); });
    connect(recordingList_, &RecordingListView::contextMenuAt, this,
            [this](const QPoint& p) { showListContextMenu(p); });
}

// ---- Open and the rows -------------------------------------------------------------------------

void MainWindow::openCommand() {
    if (openDialogShowing_)
        return;  // a second Open while the chooser is up does nothing
    openDialogShowing_ = true;
    ui_common::FileDialogRequest request;
    request.directory = true;
    request.title = uiText(text::kOpenFolderTitle);
    request.startFolder = lastOpenedFolder_;
    const QString folder = ui_common::askFileName(this, request);
    openDialogShowing_ = false;
    if (folder.isEmpty())
        return;
    listFolder(folder);
    lastOpenedFolder_ = folder;
}

bool MainWindow::listFolder(const QString& folder) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto rows = recordings::catalogueFolder(folder.toStdString());
    QApplication::restoreOverrideCursor();
    // A folder that cannot be scanned leaves the list as it was.
    if (!rows)
        return false;
    // The folder counts as the user's card for the settings, route and clock dialogs.
    std::vector<std::string> paths;
    paths.reserve(rows->size());
    for (const auto& r : *rows)
        paths.push_back(r.fullPath);
    device_config::setOpenedCard(device_config::openedCardRoot(folder.toStdString(), paths));
    recordingList_->setEmptyText(rows->empty() ? uiText(text::kNoRecordings).arg(folder)
                                               : QString());
    showRows(std::move(*rows), folder);
    return true;
}

void MainWindow::showRows(std::vector<recordings::RecordingFile> rows, const QString& folder) {
    recordingModel_->setRows(std::move(rows));
    recordingModel_->setCurrentRow(currentRow_);
    trips_->setCard(folder);
}

void MainWindow::setCurrentRow(int row) {
    currentRow_ = row;
    recordingModel_->setCurrentRow(row);
}

int MainWindow::rowCount() const {
    return recordingModel_->rowCount();
}

QString MainWindow::rowFullPath(int row) const {
    const auto* f = recordingModel_->row(row);
    return f ? QString::fromStdString(f->fullPath) : QString();
}

QChar MainWindow::rowChannel(int row) const {
    const auto* f = recordingModel_->row(row);
    return f && f->channel ? QChar(static_cast<char16_t>(f->channel)) : QChar();
}

QString MainWindow::rowFileName(int row) const {
    const auto* f = recordingModel_->row(row);
    return f ? QString::fromStdString(f->name) : QString();
}

// ---- opening rows ------------------------------------------------------------------------------

void MainWindow::openRow(int row) {
    // The whole path: Linux paths may be far longer than other systems' 260 characters.
    if (const HResult hr = playback_->open(rowFullPath(row)); failed(hr)) {
        // The error's own text, and which file it was about.
        ui_common::showMessage(this, ui_common::MessageIcon::Warning, windowTitle(),
                               openFailureText(hr) + QStringLiteral("\n\n") + rowFullPath(row));
    }
}

void MainWindow::openRecording(int row) {
    if (row < 0 || row >= rowCount())
        return;
    setCurrentRow(row);
    if (!rowFullPath(row).isEmpty()) {
        openRow(row);
        if (playback_->channelMode() == ChannelMode::Both)
            setCurrentRow(row + 1);
    }
    recordingList_->viewport()->update();
}

void MainWindow::selectAndFocusRow(int row) {
    auto* selection = recordingList_->selectionModel();
    if (!selection || !recordingList_->model())
        return;
    const QModelIndex index = recordingList_->model()->index(row, 0);
    selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    recordingList_->scrollTo(index);
}

bool MainWindow::openNextRecording() {
    if (currentRow_ == -1 || currentRow_ + 1 >= rowCount())
        return false;
    const int row = currentRow_ + 1;
    setCurrentRow(row);
    if (rowFullPath(row).isEmpty())
        return false;
    selectAndFocusRow(row);
    openRow(row);
    recordingList_->viewport()->update();
    if (playback_->channelMode() == ChannelMode::Both)
        setCurrentRow(currentRow_ + 1);
    return true;
}

void MainWindow::followPlayingRecording() {
    for (int row = 0; row < rowCount(); ++row) {
        if (rowFullPath(row) == playback_->openedPath()) {
            selectAndFocusRow(row);
            setCurrentRow(row);
            if (playback_->channelMode() == ChannelMode::Both)
                setCurrentRow(row + 1);
            recordingList_->viewport()->update();
            return;
        }
    }
}

void MainWindow::openPreviousRecording() {
    if (currentRow_ <= 0)
        return;
    const int row = currentRow_ - 1;
    setCurrentRow(row);
    if (rowFullPath(row).isEmpty())
        return;
    selectAndFocusRow(row);
    openRow(row);
    recordingList_->viewport()->update();
}

bool MainWindow::openThroughList(const QString& path) {
    for (int row = 0; row < rowCount(); ++row) {
        if (rowFullPath(row) == path) {
            // As a double click does, so the current row and next/previous follow.
            selectAndFocusRow(row);
            openRecording(row);
            return playback_->openedPath() == path;
        }
    }
    return false;  // the list changed since
}

void MainWindow::demoCardListed() {
    // The demo shows what the viewer is for: a front recording playing beside its rear partner.
    for (int row = 0; row < rowCount(); ++row) {
        if (rowChannel(row) == QLatin1Char('F') &&
            recordings::pairRecording(rowFullPath(row).toStdString()).paired()) {
            selectAndFocusRow(row);
            openRecording(row);
            return;
        }
    }
    if (rowCount() > 0)
        openRecording(0);
}

// ---- context menu and Copy ---------------------------------------------------------------------

void MainWindow::showListContextMenu(const QPoint& globalPos) {
    QMenu menu(this);
    // Copy needs rows; the library can be searched from an empty list too.
    if (rowCount() > 0)
        menu.addAction(uiText(text::kCopy))->setData(ctl::kCopyCommand);
    menu.addAction(uiText(text::kLibraryFind))->setData(ctl::kFindInLibrary);
    menu.addSeparator();
    QAction* pictures = menu.addAction(uiText(text::kListPictures));
    pictures->setObjectName(QStringLiteral("listPictures"));
    pictures->setCheckable(true);
    pictures->setChecked(recordingList_->picturesShown());
    QAction* chosen = menu.exec(globalPos);
    if (chosen == pictures) {
        recordingList_->setPicturesShown(pictures->isChecked());
        platform::storeViewerSetting(kListPicturesKey, pictures->isChecked() ? "1" : "0");
    } else if (chosen) {
        runCommand(chosen->data().toInt());
    }
}

// ---- Find in library ---------------------------------------------------------------------------

void MainWindow::findInLibraryCommand() {
    if (librarySearch_) {
        librarySearch_->raise();
        librarySearch_->activateWindow();
        return;
    }
    auto* dialog = new LibrarySearchDialog(this, library::defaultLibraryFolder(),
                                           displays_->mapView()->point());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &LibrarySearchDialog::found, this, &MainWindow::listLibraryHits);
    librarySearch_ = dialog;
    dialog->open();
}

void MainWindow::listLibraryHits(const std::vector<library::SearchHit>& hits,
                                 const QString& folder) {
    std::vector<recordings::FileEntry> entries;
    entries.reserve(hits.size());
    for (const auto& hit : hits) {
        const std::filesystem::path path(hit.path);
        entries.push_back({path.parent_path().string(), path.filename().string()});
    }
    // The same order and partner pairing as an opened folder's rows.
    auto rows = recordings::makeRecordingList(entries);
    recordings::sortRecordingList(rows);
    showRows(std::move(rows), folder);
}

void MainWindow::copySelectedRecordings() {
    const std::vector<int> selected = recordingList_->selectedRowsInOrder();
    if (selected.empty() || selected.size() > kMaxCopyRows)
        return;
    // Each selected row becomes current in turn, as the rows are collected.
    std::vector<std::filesystem::path> sources;
    for (int row : selected) {
        setCurrentRow(row);
        // The row's own file: two folders may hold files of the same name.
        sources.emplace_back(rowFullPath(row).toStdString());
    }
    recordingList_->viewport()->update();
    copyRecordings(this, sources, lastCopyFolder_);
}

}  // namespace orvik::shell
