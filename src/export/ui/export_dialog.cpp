#include "export/ui/export_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include <unistd.h>

#include "platform/private_folder.h"
#include "platform/store.h"
#include "platform/strings.h"
#include "recordings/partner.h"
#include "strings/string_ids.h"
#include "ui_common/background.h"
#include "ui_common/ui_common.h"

namespace orvik::exporting::ui {

using ui_common::uiText;
namespace fs = std::filesystem;

namespace {

std::function<void(const QString&)>& revealHandler() {
    static std::function<void(const QString&)> handler = [](const QString& file) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
    };
    return handler;
}

QString clock(double seconds) {
    const int tenths = static_cast<int>(std::lround(seconds * 10));
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

// The user's last choices, remembered per user in the viewer's data folder.
constexpr std::string_view kLayoutKey = "exportLayout";
constexpr std::string_view kCaptionKey = "exportCaption";
constexpr std::string_view kClipFolderKey = "exportClipFolder";
constexpr std::string_view kSnapshotFolderKey = "exportSnapshotFolder";
constexpr std::string_view kSnapshotTypeKey = "exportSnapshotType";

QString remembered(std::string_view key) {
    return QString::fromStdString(platform::rememberedChoice(key));
}

}  // namespace

void ExportDialog::setRevealHandler(std::function<void(const QString&)> handler) {
    revealHandler() = std::move(handler);
}

ExportDialog::ExportDialog(Mode mode, const QString& recording, double fromSeconds,
                           double toSeconds, QWidget* parent)
    : QDialog(parent), mode_(mode), recording_(recording), from_(fromSeconds), to_(toSeconds) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(uiText(mode == Mode::Clip ? strings::exporting::kExportClip
                                             : strings::exporting::kSnapshot));
    setModal(true);

    auto* form = new QFormLayout;
    auto* name = new QLabel(QFileInfo(recording).fileName(), this);
    name->setObjectName(QStringLiteral("recording"));
    form->addRow(uiText(65004), name);
    auto* range = new QLabel(this);
    range->setObjectName(QStringLiteral("range"));
    if (mode == Mode::Clip) {
        range->setText(
            uiText(65029).arg(clock(from_), clock(to_)).arg(QString::number(to_ - from_, 'f', 1)));
        form->addRow(uiText(65005), range);
    } else {
        range->setText(clock(from_));
        form->addRow(uiText(65006), range);
    }

    layout_ = new QComboBox(this);
    layout_->setObjectName(QStringLiteral("layout"));
    // The card may be pulled as the dialog opens: the partner is looked for without letting a
    // folder that cannot be read throw out of the menu's slot.
    const recordings::RecordingPair pair = recordings::pairRecording(recording.toStdString());
    const bool front = pair.givenIsFront;
    const bool partner = pair.paired();
    // With both channels there, each is named by its camera ("This camera" beside "Rear camera"
    // read as if they were different things).
    layout_->addItem(uiText(partner ? (front ? 65009 : 65010) : 65008),
                     static_cast<int>(Layout::Given));
    if (partner) {
        layout_->addItem(uiText(front ? 65010 : 65009),
                         static_cast<int>(front ? Layout::Rear : Layout::Front));
        layout_->addItem(uiText(65011), static_cast<int>(Layout::SideBySide));
        layout_->addItem(uiText(65012), static_cast<int>(Layout::PictureInPicture));
    }
    form->addRow(uiText(65007), layout_);
    // The layout is remembered by camera, not as "the given one", so that a choice made on a
    // front recording means the same on the next one, front or rear.
    if (const auto last = parseLayout(platform::rememberedChoice(kLayoutKey))) {
        const Layout own = front ? Layout::Front : Layout::Rear;
        const int at = layout_->findData(static_cast<int>(*last == own ? Layout::Given : *last));
        if (at >= 0)
            layout_->setCurrentIndex(at);
    }
    caption_ = new QCheckBox(uiText(65013), this);
    caption_->setObjectName(QStringLiteral("caption"));
    caption_->setChecked(remembered(kCaptionKey) == QLatin1String("1"));
    form->addRow(QString(), caption_);

    preview_ = new QLabel(this);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->setFixedSize(480, 160);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setStyleSheet(QStringLiteral("background: #202020; color: #a0a0a0;"));
    preview_->setText(uiText(65025));
    form->addRow(uiText(65025), preview_);

    output_ = new QLineEdit(defaultOutput(), this);
    output_->setObjectName(QStringLiteral("output"));
    auto* browse = new QPushButton(uiText(65015), this);
    browse->setObjectName(QStringLiteral("browse"));
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(output_, 1);
    outputRow->addWidget(browse);
    form->addRow(uiText(65014), outputRow);
    replace_ = new QCheckBox(uiText(65027), this);
    replace_->setObjectName(QStringLiteral("replace"));
    form->addRow(QString(), replace_);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    exportButton_ = new QPushButton(uiText(mode == Mode::Clip ? 65016 : 65028), this);
    exportButton_->setObjectName(QStringLiteral("export"));
    exportButton_->setDefault(true);
    cancelButton_ = new QPushButton(uiText(65017), this);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(exportButton_);
    buttons->addWidget(cancelButton_);

    auto* root = new QVBoxLayout(this);
    root->addLayout(form);
    root->addWidget(progress_);
    root->addWidget(status_);
    root->addLayout(buttons);

    connect(exportButton_, &QPushButton::clicked, this, &ExportDialog::start);
    connect(cancelButton_, &QPushButton::clicked, this, &ExportDialog::cancelOrClose);
    connect(browse, &QPushButton::clicked, this, &ExportDialog::browse);
    connect(layout_, &QComboBox::currentIndexChanged, this, &ExportDialog::refreshPreview);
    connect(caption_, &QCheckBox::toggled, this, &ExportDialog::refreshPreview);
    refreshPreview();
}

ExportDialog::~ExportDialog() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
    if (previews_) {
        std::lock_guard lock(previews_->m);
        previews_->closed = true;
        previews_->next.reset();
        previews_->wake.notify_all();
    }
}

QString ExportDialog::outputPath() const {
    return output_->text();
}

Layout ExportDialog::chosenLayout() const {
    return static_cast<Layout>(layout_->currentData().toInt());
}

QString ExportDialog::defaultOutput() const {
    // The folder of the last export of this kind while it is there; else the user's videos or
    // pictures folder, not the card: the card may be full or read-only.
    QString folder = remembered(mode_ == Mode::Clip ? kClipFolderKey : kSnapshotFolderKey);
    if (folder.isEmpty() || !QFileInfo(folder).isAbsolute() || !QDir(folder).exists())
        folder = QStandardPaths::writableLocation(mode_ == Mode::Clip
                                                      ? QStandardPaths::MoviesLocation
                                                      : QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString type = remembered(kSnapshotTypeKey) == QLatin1String("png")
                             ? QStringLiteral("png")
                             : QStringLiteral("jpg");
    const QString base = QFileInfo(recording_).completeBaseName();
    const auto secs = [](double s) { return QString::number(static_cast<int>(std::floor(s))); };
    const QString name = mode_ == Mode::Clip
                             ? QStringLiteral("%1_%2-%3s.mp4").arg(base, secs(from_), secs(to_))
                             : QStringLiteral("%1_%2s.%3").arg(base, secs(from_), type);
    return QDir(folder).filePath(name);
}

void ExportDialog::browse() {
    const QString filter = mode_ == Mode::Clip ? QStringLiteral("MP4 (*.mp4)")
                                               : QStringLiteral("JPEG (*.jpg);;PNG (*.png)");
    const QString chosen = QFileDialog::getSaveFileName(
        this, windowTitle(), output_->text(), filter, nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty())
        output_->setText(chosen);
}

void ExportDialog::refreshPreview() {
    // The preview is a snapshot of the first moment with the chosen layout and caption, made on
    // a worker into the user's private folder (its caption shows where the car was); only the
    // newest request is made and shown.
    if (!previews_) {
        auto file = platform::createPrivateFile("preview-", ".png");
        if (!file) {
            preview_->setText(QString::fromStdString(file.error()));
            return;
        }
        ::close(file->fd);
        previews_ = std::make_shared<PreviewQueue>();
        previews_->file = file->path.string();
        ui_common::preparePosting();
        std::thread([queue = previews_, dialog = QPointer<ExportDialog>(this),
                     running = platform::DetachedWork{}] {
            runPreviews(queue, dialog);
        }).detach();
    }
    SnapshotRequest rq;
    rq.input = recording_.toStdString();
    rq.atSeconds = from_;
    rq.output = previews_->file;
    rq.layout = chosenLayout();
    rq.caption = caption_->isChecked();
    rq.speedUnit = speedUnit_;
    rq.force = true;
    std::lock_guard lock(previews_->m);
    previews_->next = PreviewQueue::Job{rq, ++previewGeneration_};
    previews_->wake.notify_all();
}

void ExportDialog::runPreviews(std::shared_ptr<PreviewQueue> queue,
                               const QPointer<ExportDialog>& dialog) {
    for (;;) {
        PreviewQueue::Job job;
        {
            std::unique_lock lock(queue->m);
            queue->wake.wait(lock, [&] { return queue->closed || queue->next; });
            if (queue->closed)
                break;
            job = std::move(*queue->next);
            queue->next.reset();
        }
        const bool ok = static_cast<bool>(exportSnapshot(job.request));
        QImage picture;
        if (ok)
            picture.load(QString::fromStdString(job.request.output));
        std::lock_guard lock(queue->m);
        if (queue->closed)
            break;
        // Handed to the GUI thread, where the dialog is looked up again: it may be gone by then.
        ui_common::postToGuiThread(
            [dialog, picture = std::move(picture), generation = job.generation] {
                if (dialog)
                    dialog->showPreview(picture, generation);
            });
    }
    std::error_code ec;
    std::filesystem::remove(queue->file, ec);
}

void ExportDialog::showPreview(const QImage& picture, int generation) {
    if (generation != previewGeneration_ || picture.isNull())
        return;
    preview_->setPixmap(QPixmap::fromImage(picture).scaled(preview_->size(), Qt::KeepAspectRatio,
                                                           Qt::SmoothTransformation));
}

void ExportDialog::setSpeedUnit(std::optional<recordings::SpeedUnit> unit) {
    if (unit == speedUnit_)
        return;
    speedUnit_ = unit;
    if (caption_->isChecked())
        refreshPreview();
}

void ExportDialog::start() {
    if (worker_.joinable())
        return;
    // A file already there is replaced only when the user says so, here rather than by the
    // command line's advice after a failed export.
    bool force = replace_->isChecked();
    const std::string target = output_->text().toStdString();
    const auto isSource = [&] {
        // The recording or its partner is refused by the export itself, whatever the answer.
        const recordings::RecordingPair pair = recordings::pairRecording(recording_.toStdString());
        std::error_code ec;
        return (!pair.front.empty() && fs::equivalent(target, pair.front, ec)) ||
               (!pair.rear.empty() && fs::equivalent(target, pair.rear, ec));
    };
    if (std::error_code ec; !force && fs::exists(target, ec) && !isSource()) {
        ui_common::ChoiceRequest ask;
        ask.caption = windowTitle();
        ask.text = uiText(strings::exporting::kReplaceQuestion).arg(output_->text());
        ask.buttons = {uiText(strings::exporting::kReplaceButton),
                       uiText(strings::exporting::kKeepButton)};
        ask.defaultIndex = 1;
        if (ui_common::askChoice(this, ask) != 0)
            return;
        force = true;
    }
    rememberChoices();
    exportButton_->setEnabled(false);
    layout_->setEnabled(false);
    caption_->setEnabled(false);
    output_->setEnabled(false);
    progress_->setValue(0);
    progress_->setVisible(true);
    status_->setText(uiText(65026));
    cancel_ = false;
    finished_ = false;
    const std::string output = output_->text().toStdString();
    const std::string input = recording_.toStdString();
    const Layout layout = chosenLayout();
    const bool caption = caption_->isChecked();
    const auto speedUnit = speedUnit_;
    const Mode mode = mode_;
    const double from = from_, to = to_;
    const std::vector<ClipPiece> pieces = pieces_;
    worker_ = std::thread([=, this] {
        std::string error;
        bool ok = false;
        if (mode == Mode::Clip) {
            ClipRequest rq;
            rq.input = input;
            rq.fromSeconds = from;
            rq.toSeconds = to;
            rq.pieces = pieces;
            rq.output = output;
            rq.layout = layout;
            rq.caption = caption;
            rq.speedUnit = speedUnit;
            rq.force = force;
            int lastShown = -1;
            rq.progress = [this, &lastShown](double done) {
                const int value = static_cast<int>(done * 1000);
                if (value != lastShown) {
                    lastShown = value;
                    QMetaObject::invokeMethod(
                        this, [this, value] { progress_->setValue(value); }, Qt::QueuedConnection);
                }
                return !cancel_.load();
            };
            auto r = exportClip(rq);
            ok = static_cast<bool>(r);
            if (!ok)
                error = r.error();
        } else {
            SnapshotRequest rq;
            rq.input = input;
            rq.atSeconds = from;
            rq.output = output;
            rq.layout = layout;
            rq.caption = caption;
            rq.speedUnit = speedUnit;
            rq.force = force;
            auto r = exportSnapshot(rq);
            ok = static_cast<bool>(r);
            if (!ok)
                error = r.error();
        }
        const QString message = QString::fromStdString(ok ? output : error);
        QMetaObject::invokeMethod(
            this, [this, ok, message] { finish(ok, message); }, Qt::QueuedConnection);
    });
}

void ExportDialog::rememberChoices() const {
    // A recording without its partner offers no choice of layout: the one made before stays.
    if (layout_->count() > 1) {
        Layout chosen = chosenLayout();
        if (chosen == Layout::Given)
            chosen = recordings::pairRecording(recording_.toStdString()).givenIsFront
                         ? Layout::Front
                         : Layout::Rear;
        platform::rememberChoice(kLayoutKey, layoutName(chosen));
    }
    platform::rememberChoice(kCaptionKey, caption_->isChecked() ? "1" : "0");
    const QFileInfo target(output_->text());
    platform::rememberChoice(mode_ == Mode::Clip ? kClipFolderKey : kSnapshotFolderKey,
                             target.absolutePath().toStdString());
    if (mode_ == Mode::Snapshot)
        platform::rememberChoice(kSnapshotTypeKey,
                                 target.suffix().toLower() == QLatin1String("png") ? "png" : "jpg");
}

void ExportDialog::finish(bool ok, const QString& message) {
    if (worker_.joinable())
        worker_.join();
    finished_ = true;
    progress_->setValue(ok ? 1000 : progress_->value());
    exportButton_->setEnabled(true);
    layout_->setEnabled(true);
    caption_->setEnabled(true);
    output_->setEnabled(true);
    if (ok) {
        status_->setText(uiText(65019).arg(message));
        cancelButton_->setText(uiText(65018));
        revealHandler()(message);
    } else if (message == QStringLiteral("cancelled")) {
        status_->setText(uiText(65021));
        progress_->setVisible(false);
    } else {
        status_->setText(uiText(65020).arg(message));
    }
    emit exportFinished(ok, message);
}

void ExportDialog::cancelOrClose() {
    reject();
}

void ExportDialog::reject() {
    if (worker_.joinable() && !finished_) {
        cancel_ = true;  // the worker stops at its next frame and reports "cancelled"
        return;
    }
    QDialog::reject();
}

}  // namespace orvik::exporting::ui
