// The recording list: Open, filling the list, its context menu and copying recordings.
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <filesystem>

#include "platform/strings.h"
#include "recordings/catalogue.h"
#include "shell/control_ids.h"
#include "shell/file_copy.h"
#include "shell/main_window.h"
#include "shell/recording_list.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {
constexpr int kStrCopy = 60010;
constexpr int kStrCopyDestination = 60011;
constexpr int kStrCopying = 60012;
constexpr int kStrCopyingFile = 60013;
constexpr int kStrCancel = 60014;
constexpr int kStrAlreadyExists = 60015;
constexpr int kStrReplace = 60016;
constexpr int kStrSkip = 60017;
constexpr int kStrReplaceAll = 60018;
constexpr int kStrSkipAll = 60019;
constexpr int kStrCopyFailed = 60020;
constexpr int kStrOpenFolderTitle = 60022;

// More selected rows than this and Copy does nothing.
constexpr size_t kMaxCopyRows = 100;

}  // namespace

void MainWindow::openCommand() {
    if (openDialogShowing_)
        return;  // a second Open while the chooser is up does nothing
    openDialogShowing_ = true;
    ui_common::FileDialogRequest request;
    request.directory = true;
    request.title = uiText(kStrOpenFolderTitle);
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
    recordingModel_->setRows(std::move(*rows));
    recordingModel_->setCurrentRow(currentRow_);
    cardListed(folder);
    return true;
}

void MainWindow::showListContextMenu(const QPoint& globalPos) {
    if (rowCount() == 0)
        return;
    QMenu menu(this);
    QAction* copy = menu.addAction(uiText(kStrCopy));
    copy->setData(ctl::kCopyCommand);
    if (QAction* chosen = menu.exec(globalPos); chosen == copy)
        runCommand(ctl::kCopyCommand);
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

    ui_common::FileDialogRequest request;
    request.directory = true;
    request.title = uiText(kStrCopyDestination);
    request.startFolder = lastCopyFolder_;
    const QString destination = ui_common::askFileName(this, request);
    if (destination.isEmpty())
        return;
    lastCopyFolder_ = destination;
    const std::filesystem::path target(destination.toStdString());

    // Ask about every file that is already there before anything is copied.
    struct Job {
        std::filesystem::path from, to;
        bool replace = false;
        std::uint64_t size = 0;
    };
    std::vector<Job> jobs;
    bool replaceAll = false, skipAll = false;
    for (const auto& src : sources) {
        Job job{src, target / src.filename()};
        std::error_code ec;
        if (std::filesystem::exists(job.to, ec)) {
            if (std::filesystem::equivalent(job.from, job.to, ec))
                continue;
            if (skipAll)
                continue;
            if (!replaceAll) {
                // Buttons: Replace, Skip, [Replace All, Skip All,] Cancel.
                ui_common::ChoiceRequest ask;
                ask.caption = QStringLiteral("ORVIK");
                ask.text = uiText(kStrAlreadyExists)
                               .arg(QString::fromStdString(job.to.filename().string()));
                ask.buttons << uiText(kStrReplace) << uiText(kStrSkip);
                const bool several = sources.size() > 1;
                if (several)
                    ask.buttons << uiText(kStrReplaceAll) << uiText(kStrSkipAll);
                ask.buttons << uiText(kStrCancel);
                ask.defaultIndex = 1;
                const int chosen = ui_common::askChoice(this, ask);
                const bool all = several && chosen == 2;
                const bool none = several && chosen == 3;
                if (chosen < 0 || chosen == ask.buttons.size() - 1)
                    return;
                if (none)
                    skipAll = true;
                if (all)
                    replaceAll = true;
                if (chosen == 1 || none)
                    continue;
            }
            job.replace = true;
        }
        job.size = std::filesystem::file_size(job.from, ec);
        jobs.push_back(std::move(job));
    }
    if (jobs.empty())
        return;

    std::uint64_t totalBytes = 0;
    for (const auto& j : jobs)
        totalBytes += j.size;

    // The copy runs on a worker thread; the dialog polls it so the window stays live.
    std::atomic<std::uint64_t> bytesDone{0};
    std::atomic<int> fileIndex{0};
    std::atomic<bool> cancel{false};
    std::vector<CopyOutcome> outcomes(jobs.size(), CopyOutcome{CopyOutcome::Cancelled, {}});
    QThread* worker = QThread::create([&] {
        std::uint64_t before = 0;
        for (size_t i = 0; i < jobs.size() && !cancel; ++i) {
            fileIndex = static_cast<int>(i);
            outcomes[i] =
                copyFileSafely(jobs[i].from, jobs[i].to, jobs[i].replace, [&](std::uint64_t n) {
                    bytesDone = before + n;
                    return !cancel.load();
                });
            before += jobs[i].size;
            bytesDone = before;
        }
    });

    QProgressDialog progress(uiText(kStrCopying), uiText(kStrCancel), 0, 1000, this);
    progress.setWindowTitle(QStringLiteral("ORVIK"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    QTimer poll;
    auto update = [&] {
        const int i = fileIndex;
        progress.setLabelText(uiText(kStrCopyingFile)
                                  .arg(i + 1)
                                  .arg(jobs.size())
                                  .arg(QString::fromStdString(jobs[i].from.filename().string())));
        progress.setValue(totalBytes ? static_cast<int>(bytesDone * 1000 / totalBytes) : 0);
    };
    connect(&poll, &QTimer::timeout, &progress, update);
    connect(&progress, &QProgressDialog::canceled, &progress, [&] { cancel = true; });
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    poll.start(100);
    loop.exec();
    poll.stop();
    worker->wait();
    delete worker;
    progress.close();

    QStringList failures;
    for (size_t i = 0; i < jobs.size(); ++i)
        if (outcomes[i].status == CopyOutcome::Failed)
            failures << uiText(kStrCopyFailed)
                            .arg(QString::fromStdString(jobs[i].from.filename().string()),
                                 QString::fromStdString(outcomes[i].error));
        else if (outcomes[i].status == CopyOutcome::Exists)
            failures << uiText(kStrAlreadyExists)
                            .arg(QString::fromStdString(jobs[i].to.filename().string()))
                            .section(QLatin1Char('\n'), 0, 0);
    if (!failures.isEmpty())
        ui_common::showMessage(this, ui_common::MessageIcon::Critical, QStringLiteral("ORVIK"),
                               failures.join(QStringLiteral("\n\n")));
}

}  // namespace orvik::shell
