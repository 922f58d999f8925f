#include "evidence/ui/evidence_dialog.h"

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>

#include "evidence/package.h"
#include "evidence/stretch.h"
#include "export/export.h"
#include "platform/private_folder.h"
#include "platform/strings.h"
#include "recordings/partner.h"
#include "recordings/track_formats.h"
#include "strings/string_ids.h"
#include "ui_common/background.h"
#include "ui_common/ui_common.h"

namespace orvik::evidence::ui {

using exporting::Layout;
using ui_common::uiText;

namespace {

std::function<void(const QString&)>& revealHandler() {
    static std::function<void(const QString&)> handler = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    return handler;
}

int stageText(PackageStage stage) {
    switch (stage) {
        case PackageStage::HashingSources:
            return strings::evidence::kHashingSources;
        case PackageStage::MakingClips:
            return strings::evidence::kMakingClip;
        case PackageStage::TakingStills:
            return strings::evidence::kTakingStills;
        case PackageStage::WritingReport:
            return strings::evidence::kWritingReport;
        case PackageStage::Finishing:
            return strings::evidence::kFinishing;
    }
    return strings::evidence::kHashingSources;
}

// Seconds as the command line takes them: to the millisecond, "C" conventions.
std::string secondsArg(double s) {
    return QString::number(s, 'f', 3).toStdString();
}

QString momentText(const QString& recording, double seconds) {
    const auto name = recordings::parseRecordingName(QFileInfo(recording).fileName().toStdString());
    if (const auto start = trips::startOf(name.timestamp)) {
        const std::string t = isoLocalTimeMs(trips::plusSeconds(*start, seconds));
        return QString::fromStdString(t.substr(11, 8));
    }
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

}  // namespace

void EvidenceDialog::setRevealHandler(std::function<void(const QString&)> handler) {
    revealHandler() = std::move(handler);
}

EvidenceDialog::EvidenceDialog(const QString& recording, double fromSeconds, double toSeconds,
                               QWidget* parent)
    : QDialog(parent), recording_(recording), from_(fromSeconds), to_(toSeconds) {
    setObjectName(QStringLiteral("EvidenceDialog"));
    setWindowTitle(uiText(strings::evidence::kEvidencePackage));
    setModal(true);

    auto* form = new QFormLayout;
    auto* name = new QLabel(QFileInfo(recording).fileName(), this);
    name->setObjectName(QStringLiteral("recording"));
    form->addRow(uiText(strings::evidence::kDialogRecording), name);
    auto* stretch = new QLabel(uiText(strings::evidence::kStretchFromTo)
                                   .arg(momentText(recording, from_), momentText(recording, to_))
                                   .arg(QString::number(to_ - from_, 'f', 1)),
                               this);
    stretch->setObjectName(QStringLiteral("stretch"));
    form->addRow(uiText(strings::evidence::kDialogStretch), stretch);

    const bool havePartner = recordings::pairRecording(recording.toStdString()).paired();
    layout_ = new QComboBox(this);
    layout_->setObjectName(QStringLiteral("layout"));
    if (havePartner) {
        // Both cameras first: whoever receives the package should see what each one saw.
        layout_->addItem(uiText(strings::evidence::kSideBySideWithChannels),
                         static_cast<int>(Layout::SideBySide));
        layout_->addItem(uiText(strings::evidence::kPictureInPictureWithChannels),
                         static_cast<int>(Layout::PictureInPicture));
        layout_->addItem(uiText(65009), static_cast<int>(Layout::Front));
        layout_->addItem(uiText(65010), static_cast<int>(Layout::Rear));
    } else {
        layout_->addItem(uiText(65008), static_cast<int>(Layout::Given));
    }
    form->addRow(uiText(strings::evidence::kClipLayout), layout_);
    caption_ = new QCheckBox(uiText(strings::evidence::kBurnCaption), this);
    caption_->setObjectName(QStringLiteral("caption"));
    form->addRow(QString(), caption_);
    language_ = new QComboBox(this);
    language_->setObjectName(QStringLiteral("language"));
    language_->addItem(uiText(strings::evidence::kEnglish),
                       static_cast<int>(platform::Language::English));
    language_->addItem(uiText(strings::evidence::kKorean),
                       static_cast<int>(platform::Language::Korean));
    language_->setCurrentIndex(platform::language() == platform::Language::Korean ? 1 : 0);
    form->addRow(uiText(strings::evidence::kReportLanguage), language_);
    note_ = new QPlainTextEdit(this);
    note_->setObjectName(QStringLiteral("note"));
    note_->setTabChangesFocus(true);
    note_->setFixedHeight(64);
    form->addRow(uiText(strings::evidence::kNoteForReport), note_);

    preview_ = new QLabel(this);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->setFixedSize(320, 180);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setStyleSheet(QStringLiteral("background: #202020; color: #a0a0a0;"));
    form->addRow(uiText(strings::evidence::kFirstStill), preview_);

    folder_ = new QLineEdit(defaultFolder(), this);
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setMinimumWidth(360);
    browse_ = new QPushButton(uiText(strings::evidence::kBrowse), this);
    browse_->setObjectName(QStringLiteral("browse"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse_);
    form->addRow(uiText(strings::evidence::kFolder), folderRow);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 1000);
    progress_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    makeButton_ = new QPushButton(uiText(strings::evidence::kMakePackage), this);
    makeButton_->setObjectName(QStringLiteral("make"));
    makeButton_->setDefault(true);
    cancelButton_ = new QPushButton(uiText(strings::evidence::kCancel), this);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(makeButton_);
    buttons->addWidget(cancelButton_);

    auto* root = new QVBoxLayout(this);
    root->addLayout(form);
    root->addWidget(progress_);
    root->addWidget(status_);
    root->addLayout(buttons);

    connect(makeButton_, &QPushButton::clicked, this, &EvidenceDialog::start);
    connect(cancelButton_, &QPushButton::clicked, this, &EvidenceDialog::reject);
    connect(browse_, &QPushButton::clicked, this, &EvidenceDialog::browse);
    makePreview();
}

EvidenceDialog::~EvidenceDialog() {
    if (cancel_)
        *cancel_ = true;
}

QString EvidenceDialog::folder() const {
    return folder_->text();
}

QString EvidenceDialog::defaultFolder() const {
    // The user's videos folder, not the card: the card may be full, read-only or pulled out.
    QString base = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (base.isEmpty() || !QDir(base).exists())
        base = QDir::homePath();
    const auto secs = [](double s) { return QString::number(static_cast<int>(std::floor(s))); };
    const QString stem = QStringLiteral("evidence_%1_%2-%3s")
                             .arg(QFileInfo(recording_).completeBaseName(), secs(from_), secs(to_));
    QString candidate = QDir(base).filePath(stem);
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = QDir(base).filePath(stem + QStringLiteral("-%1").arg(n));
    return candidate;
}

void EvidenceDialog::browse() {
    ui_common::FileDialogRequest rq;
    rq.directory = true;
    rq.title = uiText(strings::evidence::kChooseFolder);
    rq.startFolder = QFileInfo(folder_->text()).absolutePath();
    const QString parent = ui_common::askFileName(this, rq);
    if (!parent.isEmpty())
        folder_->setText(QDir(parent).filePath(QFileInfo(defaultFolder()).fileName()));
}

void EvidenceDialog::makePreview() {
    // The first still of the package: the start of the stretch, the front channel (or the only
    // one), made on a worker in the user's private folder (it shows where the car was).
    auto file = platform::createPrivateFile("evidence-preview-", ".jpg");
    if (!file) {
        preview_->setText(QString::fromStdString(file.error()));
        return;
    }
    ::close(file->fd);
    exporting::SnapshotRequest rq;
    rq.input = recording_.toStdString();
    rq.atSeconds = from_;
    rq.output = file->path.string();
    rq.force = true;
    if (recordings::pairRecording(rq.input).paired())
        rq.layout = Layout::Front;
    ui_common::runDetached(
        this,
        [rq] {
            QImage picture;
            if (exporting::exportSnapshot(rq))
                picture.load(QString::fromStdString(rq.output));
            std::error_code ec;
            std::filesystem::remove(rq.output, ec);
            return picture;
        },
        [this](const QImage& picture) {
            if (!picture.isNull())
                preview_->setPixmap(QPixmap::fromImage(picture).scaled(
                    preview_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        },
        ui_common::Priority::Low);
}

void EvidenceDialog::setEditable(bool editable) {
    for (QWidget* w : std::initializer_list<QWidget*>{layout_, caption_, language_, note_, folder_,
                                                      browse_, makeButton_})
        w->setEnabled(editable);
}

void EvidenceDialog::start() {
    if (running_)
        return;
    running_ = true;
    setEditable(false);
    progress_->setValue(0);
    progress_->setVisible(true);
    status_->setText(uiText(strings::evidence::kHashingSources));
    cancel_ = std::make_shared<std::atomic<bool>>(false);

    PackageRequest rq;
    rq.source = recording_.toStdString();
    rq.from = secondsArg(from_);
    rq.to = secondsArg(to_);
    rq.folder = folder_->text().toStdString();
    const auto layout = static_cast<Layout>(layout_->currentData().toInt());
    if (layout != Layout::Given)
        rq.layout = layout;
    rq.caption = caption_->isChecked();
    rq.unit = speedUnit_;
    rq.language = static_cast<platform::Language>(language_->currentData().toInt());
    rq.note = note_->toPlainText().toStdString();
    rq.programName = "orvik";
    rq.programVersion = QCoreApplication::applicationVersion().toStdString();
    // The command that makes the same package, so the report says how to make it again.
    rq.command = {"orvik-cli",
                  "evidence",
                  rq.source,
                  "--from",
                  rq.from,
                  "--to",
                  rq.to,
                  "--out",
                  rq.folder,
                  "--lang",
                  rq.language == platform::Language::Korean ? "ko" : "en"};
    if (rq.layout) {
        rq.command.push_back("--layout");
        rq.command.emplace_back(exporting::layoutName(*rq.layout));
    }
    if (rq.caption)
        rq.command.push_back("--caption");
    if (rq.unit) {
        rq.command.push_back("--unit");
        rq.command.emplace_back(recordings::speedUnitName(*rq.unit));
    }
    if (!rq.note.empty()) {
        rq.command.push_back("--note");
        rq.command.push_back(rq.note);
    }
    // Progress goes to the dialog while it is there; the build itself owns all it uses.
    QPointer<EvidenceDialog> self(this);
    rq.progress = [self, cancel = cancel_, lastShown = -1,
                   lastStage = PackageStage::HashingSources](PackageStage stage,
                                                             double done) mutable {
        const int value = static_cast<int>(done * 1000);
        if (value != lastShown || stage != lastStage) {
            lastShown = value;
            lastStage = stage;
            ui_common::postToGuiThread([self, value, text = stageText(stage)] {
                if (self)
                    self->showProgress(value, text);
            });
        }
        return !cancel->load();
    };
    ui_common::runDetached(
        this,
        [rq] {
            auto made = buildPackage(rq);
            return made ? std::pair<bool, std::string>{true, made->folder}
                        : std::pair<bool, std::string>{false, made.error()};
        },
        [this](const std::pair<bool, std::string>& result) {
            finish(result.first, QString::fromStdString(result.second));
        });
}

void EvidenceDialog::showProgress(int value, int textId) {
    if (!running_)
        return;
    progress_->setValue(value);
    status_->setText(uiText(textId));
}

void EvidenceDialog::finish(bool ok, const QString& message) {
    running_ = false;
    if (ok) {
        progress_->setValue(1000);
        status_->setText(uiText(strings::evidence::kSavedIn).arg(message));
        cancelButton_->setText(uiText(strings::evidence::kClose));
        makeButton_->setEnabled(false);
        revealHandler()(message);
    } else {
        setEditable(true);
        progress_->setVisible(false);
        status_->setText(message == QStringLiteral("cancelled")
                             ? uiText(strings::evidence::kCancelled)
                             : uiText(strings::evidence::kNotMade).arg(message));
    }
    emit packageFinished(ok, message);
}

void EvidenceDialog::reject() {
    if (running_) {
        *cancel_ = true;  // the work stops at its next step and reports "cancelled"
        return;
    }
    QDialog::reject();
}

}  // namespace orvik::evidence::ui
