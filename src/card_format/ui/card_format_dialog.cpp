#include "card_format/ui/card_format_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "platform/volumes.h"
#include "strings/string_ids.h"
#include "ui_common/dialog_look.h"
#include "ui_common/ui_common.h"

namespace orvik::card_format::ui {

using ui_common::MessageIcon;
using ui_common::showMessage;
using ui_common::uiText;

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString name(int id) {
    return QString::number(id);
}
}  // namespace

CardFormatDialog::CardFormatDialog(const QString& sourcePath, QWidget* parent)
    : CardFormatDialog(resolveCardTarget(sourcePath.toStdString()), parent) {}

CardFormatDialog::CardFormatDialog(const Result<CardTarget>& target, QWidget* parent)
    : QDialog(parent) {
    build();
    fill(target);
}

CardFormatDialog::~CardFormatDialog() {
    // Never leave a format running without its owner: wait for it to end.
    if (worker_)
        worker_->wait();
}

void CardFormatDialog::build() {
    setObjectName(name(kResourceId));
    setWindowTitle(uiText(strings::card_format::kFormatTitle));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_common::applyDialogLook(this);

    allocation_ = new QComboBox;
    allocation_->setObjectName(name(3804));
    fileSystem_ = new QComboBox;
    fileSystem_->setObjectName(name(3805));
    auto* fsLabel = new QLabel(uiText(strings::card_format::kFileSystem));
    fsLabel->setObjectName(name(3806));
    auto* auLabel = new QLabel(uiText(strings::card_format::kAllocation));
    auLabel->setObjectName(name(3807));
    status_ = new QLabel(uiText(strings::card_format::kFormatting));
    status_->setObjectName(name(3802));
    progress_ = new QProgressBar;
    progress_->setObjectName(name(3803));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    // Shown only while a format runs.
    status_->setVisible(false);
    progress_->setVisible(false);
    progress_->setEnabled(false);

    start_ = new QPushButton(uiText(strings::card_format::kStart));
    start_->setObjectName(name(1));
    start_->setDefault(true);
    close_ = new QPushButton(uiText(strings::card_format::kClose));
    close_->setObjectName(name(2));

    auto* grid = new QGridLayout;
    grid->addWidget(fsLabel, 0, 0);
    grid->addWidget(fileSystem_, 0, 1);
    grid->addWidget(auLabel, 1, 0);
    grid->addWidget(allocation_, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(start_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(360);

    ui_common::applyRegisteredFont(this, {{3802, 3807}});

    connect(start_, &QPushButton::clicked, this, &CardFormatDialog::start);
    connect(close_, &QPushButton::clicked, this, &CardFormatDialog::reject);
}

void CardFormatDialog::fill(const Result<CardTarget>& target) {
    if (!target.ok()) {
        showMessage(this, MessageIcon::Warning, fromView(kFormatCaption),
                    fromView(kDriveUnavailableText) + QStringLiteral("\n\n") +
                        QString::fromStdString(target.error()));
        // Nothing to format: the lists stay empty and Start does nothing.
        start_->setEnabled(false);
        return;
    }
    target_ = target.value();
    fileSystem_->addItem(fromView(kFileSystemEntry));
    fileSystem_->setCurrentIndex(fileSystemPreselected(*target_) ? 0 : -1);
    allocation_->addItem(
        QString::fromStdString(allocationUnitText(target_->totalBytes, target_->bytesPerSector)));
    allocation_->setCurrentIndex(0);
}

void CardFormatDialog::setRunning(bool running) {
    start_->setEnabled(!running && target_.has_value());
    close_->setEnabled(!running);
    fileSystem_->setEnabled(!running);
    allocation_->setEnabled(!running);
    status_->setVisible(running);
    progress_->setVisible(running);
    progress_->setEnabled(running);
}

void CardFormatDialog::start() {
    if (!target_ || worker_)
        return;
    setRunning(true);
    progress_->setValue(0);
    onStep(CardFormatStep::SaveConfig);

    CardFormatRequest request = request_;
    request.discardUnreadableSettings = request_.discardUnreadableSettings || discardOnce_;
    discardOnce_ = false;
    // Start was the user's answer; the formatter's own console prompt is not asked.
    request.format.printWarning = false;
    request.format.confirm = nullptr;
    request.onStep = [this](CardFormatStep step) {
        QMetaObject::invokeMethod(
            this, [this, step] { onStep(step); }, Qt::QueuedConnection);
    };
    request.format.progress = [this](std::uint64_t written, std::uint64_t total) {
        QMetaObject::invokeMethod(
            this, [this, written, total] { onProgress(written, total); }, Qt::QueuedConnection);
    };
    const CardTarget target = *target_;
    worker_ =
        QThread::create([this, target, request] { pending_ = runCardFormat(target, request); });
    connect(worker_, &QThread::finished, this, &CardFormatDialog::onWorkerDone);
    worker_->start();
}

void CardFormatDialog::onStep(CardFormatStep step) {
    status_->setText(uiText(strings::card_format::kStepFirst + static_cast<int>(step)));
    if (step == CardFormatStep::Done)
        progress_->setValue(progress_->maximum());
}

void CardFormatDialog::onProgress(quint64 written, quint64 total) {
    if (total > 0)
        progress_->setValue(static_cast<int>(written * 1000 / total));
}

void CardFormatDialog::onWorkerDone() {
    worker_->deleteLater();
    worker_ = nullptr;
    outcome_ = pending_;
    setRunning(false);
    const CardFormatOutcome& o = *outcome_;
    if (o.code == kFormatSettingsUnreadable) {
        // Nothing was changed: the user decides whether the camera settings may be lost.
        const QString question =
            ui_common::uiFormat(strings::card_format::kSettingsUnreadable, o.reason.c_str());
        const bool agreed = discardQuestion_ ? discardQuestion_(question) : askDiscard(question);
        emit runFinished(false);
        if (agreed) {
            discardOnce_ = true;
            start();
        }
        return;
    }
    if (!o.succeeded()) {
        const std::string text = failureText(uiText(kTextFormatFailed).toStdString(), o.code,
                                             uiText(kTextQuitPrograms).toStdString());
        showMessage(this, MessageIcon::Warning, fromView(kFormatCaption),
                    QString::fromStdString(text));
        emit runFinished(false);
        return;
    }
    QString text = uiText(kTextFormatComplete);
    if (!o.labelled) {
        // Formatted, but a card without the label is one the camera may not take.
        text += QStringLiteral("\n\n") +
                ui_common::uiFormat(strings::card_format::kLabelFailed, o.labelError.c_str());
    }
    if (o.configRestored)
        text += QStringLiteral("\n\n") + uiText(strings::card_format::kSettingsKept);
    if (o.copyKept && !o.configRestored) {
        // The settings were saved before the format but could not go back: say where they are.
        text += QStringLiteral("\n\n") + ui_common::uiFormat(strings::card_format::kRestoreFailed,
                                                             o.restoreError.c_str(),
                                                             o.savedConfigPath.c_str());
    }
    showMessage(this, o.complete() ? MessageIcon::Information : MessageIcon::Warning,
                fromView(kFormatCaption), text);
    emit runFinished(true);
    done(0);
}

bool CardFormatDialog::askDiscard(const QString& text) {
    ui_common::ChoiceRequest ask;
    ask.icon = MessageIcon::Warning;
    ask.caption = fromView(kFormatCaption);
    ask.text = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ask.buttons << uiText(strings::card_format::kFormatAnyway)
                << uiText(strings::card_format::kDoNotFormat);
    ask.defaultIndex = 1;
    ask.escapeIndex = 1;
    return ui_common::askChoice(this, ask) == 0;
}

void CardFormatDialog::reject() {
    if (!worker_)
        QDialog::reject();
}

void CardFormatDialog::closeEvent(QCloseEvent* event) {
    if (worker_)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void startCardFormat(QWidget* parent, const QString& rememberedPath) {
    static bool choosing = false;
    const QString& source = rememberedPath;
    if (source.isEmpty()) {
        if (choosing)
            return;
        choosing = true;
        ui_common::FileDialogRequest request;
        request.directory = true;
        request.title = fromView(kSelectDriveCaption);
        for (const auto& volume : platform::removableVolumes())
            request.shortcuts << QString::fromStdString(volume.mountPoint);
        const QString chosen = ui_common::askFileName(parent, request);
        choosing = false;
        if (chosen.isEmpty())
            return;
        auto drive = chooseDrive(chosen.toStdString());
        if (!drive) {
            showMessage(parent, MessageIcon::Warning, fromView(kSelectDriveCaption),
                        uiText(kTextNotRemovable));
            return;
        }
        CardFormatDialog dialog(drive, parent);
        dialog.exec();
        return;
    }
    CardFormatDialog dialog(source, parent);
    dialog.exec();
}

}  // namespace orvik::card_format::ui
