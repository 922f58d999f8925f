#include "shell/copy_recordings.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "shell/file_copy.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;
namespace text = strings::shell;

void copyRecordings(QWidget* parent, const std::vector<std::filesystem::path>& sources,
                    QString& lastFolder) {
    ui_common::FileDialogRequest request;
    request.directory = true;
    request.title = uiText(text::kCopyDestination);
    request.startFolder = lastFolder;
    const QString destination = ui_common::askFileName(parent, request);
    if (destination.isEmpty())
        return;
    lastFolder = destination;
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
                ask.text = uiText(text::kAlreadyExists)
                               .arg(QString::fromStdString(job.to.filename().string()));
                ask.buttons << uiText(text::kReplace) << uiText(text::kSkip);
                const bool several = sources.size() > 1;
                if (several)
                    ask.buttons << uiText(text::kReplaceAll) << uiText(text::kSkipAll);
                ask.buttons << uiText(text::kCopyCancel);
                ask.defaultIndex = 1;
                const int chosen = ui_common::askChoice(parent, ask);
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

    QProgressDialog progress(uiText(text::kCopying), uiText(text::kCopyCancel), 0, 1000, parent);
    progress.setWindowTitle(QStringLiteral("ORVIK"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    QTimer poll;
    auto update = [&] {
        const int i = fileIndex;
        progress.setLabelText(uiText(text::kCopyingFile)
                                  .arg(i + 1)
                                  .arg(jobs.size())
                                  .arg(QString::fromStdString(jobs[i].from.filename().string())));
        progress.setValue(totalBytes ? static_cast<int>(bytesDone * 1000 / totalBytes) : 0);
    };
    QObject::connect(&poll, &QTimer::timeout, &progress, update);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&] { cancel = true; });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
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
            failures << uiText(text::kCopyFailed)
                            .arg(QString::fromStdString(jobs[i].from.filename().string()),
                                 QString::fromStdString(outcomes[i].error));
        else if (outcomes[i].status == CopyOutcome::Exists)
            failures << uiText(text::kAlreadyExists)
                            .arg(QString::fromStdString(jobs[i].to.filename().string()))
                            .section(QLatin1Char('\n'), 0, 0);
    if (!failures.isEmpty())
        ui_common::showMessage(parent, ui_common::MessageIcon::Critical, QStringLiteral("ORVIK"),
                               failures.join(QStringLiteral("\n\n")));
}

}  // namespace orvik::shell
