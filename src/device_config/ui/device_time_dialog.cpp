#include "device_config/ui/device_time_dialog.h"

#include <QDateEdit>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "device_config/opened_card.h"
#include "device_config/time_file.h"
#include "device_config/ui/settings_page.h"
#include "device_config/validation.h"
#include "strings/string_ids.h"
#include "ui_common/dialog_look.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {}  // namespace

DeviceTimeDialog::DeviceTimeDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(idName(kResourceId));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_common::applyDialogLook(this);

    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = uiKorean() ? QLocale(QLocale::Korean) : QLocale(QLocale::English);
    date_ = new QDateEdit(now.date());
    date_->setObjectName(idName(3800));
    date_->setLocale(locale);
    date_->setDisplayFormat(locale.dateFormat(QLocale::LongFormat));
    date_->setCalendarPopup(true);
    date_->setAlignment(Qt::AlignRight);
    date_->setMinimumDate(QDate(2000, 1, 1));
    date_->setMaximumDate(QDate(2099, 12, 31));
    time_ = new QTimeEdit(now.time());
    time_->setObjectName(idName(3801));
    time_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    time_->setAlignment(Qt::AlignRight);

    auto* save = new QPushButton(uiText(strings::device_config::kDeviceTimeSave));
    save->setObjectName(idName(1));
    save->setDefault(true);
    auto* cancel = new QPushButton(uiText(strings::device_config::kDeviceTimeCancel));
    cancel->setObjectName(idName(2));

    auto* form = new QFormLayout;
    form->addRow(uiText(strings::device_config::kDate), date_);
    form->addRow(uiText(strings::device_config::kTime), time_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setMinimumWidth(340);

    connect(save, &QPushButton::clicked, this, &DeviceTimeDialog::save);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    QString title = uiText(strings::device_config::kDeviceTimeTitle);
    if (auto found = findTimeFileOnCard(cardVolumes())) {
        path_ = QString::fromStdString(*found);
        title += QStringLiteral(" - ") + path_;
    }
    setWindowTitle(title);
}

void DeviceTimeDialog::save() {
    const QDate d = date_->date();
    const QTime t = time_->time();
    const DeviceTime moment{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};

    QString target = path_;
    if (target.isEmpty()) {
        FileDialogRequest request;
        request.save = true;
        request.title = uiText(strings::device_config::kDeviceTimeSaveAs);
        request.filters = {QStringLiteral("Config Files (*.cfg)"),
                           QStringLiteral("All Files (*.*)")};
        request.proposedName =
            QString::fromUtf8(kTimeFileName.data(), static_cast<qsizetype>(kTimeFileName.size()));
        request.defaultSuffix = QStringLiteral("cfg");
        request.startFolder = QString::fromStdString(openedCard());
        target = askFileName(this, request);
        if (target.isEmpty())
            return;
    }
    const SaveOutcome outcome = writeTimeFile(target.toStdString(), moment);
    if (outcome.saved()) {
        savedPath_ = target;
        accept();
        return;
    }
    if (outcome.status == SaveStatus::WriteProtected) {
        showMessage(this, MessageIcon::Critical, uiText(strings::device_config::kErrorCaption),
                    uiText(kMsgWriteProtected));
    } else if (outcome.status == SaveStatus::Failed) {
        showMessage(this, MessageIcon::Critical, uiText(strings::device_config::kErrorCaption),
                    uiFormat(strings::device_config::kWriteFailed, target.toUtf8().constData(),
                             outcome.error.c_str()));
    }
}

}  // namespace orvik::device_config::ui
