#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSlider>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {
constexpr int kExternalPowerWarning = 354;
constexpr int kEcoCaption = 311;
constexpr uint32_t kTimerHours[8] = {0, 3, 6, 9, 12, 24, 36, 48};

// Voltage list: Not Use, Auto, External Power 10v, then 11.5 V .. 12.4 V stored as 115..124.
uint32_t voltageValue(int entry) {
    return entry == 0 ? 0 : entry == 1 ? 1 : entry == 2 ? 100 : static_cast<uint32_t>(entry + 112);
}
int voltageEntry(uint32_t value, int count) {
    const int entry = value == 0     ? 0
                      : value == 1   ? 1
                      : value == 100 ? 2
                                     : static_cast<int>(value) - 112;
    return entry >= 0 && entry < count && (entry < 3 || value >= 115) ? entry : -1;
}
int timerEntry(uint32_t hours) {
    for (int i = 0; i < 8; ++i)
        if (kTimerHours[i] == hours)
            return i;
    return 0;
}

}  // namespace

AdditionalPage::AdditionalPage(EditorState& state, QWidget* parent)
    : SettingsPage(state, 213, parent) {
    lcdAutoOff_.create(3402, 3405, {3406, 3407, 3408, 3409});
    lcdBrightness_.create(3410, 3413);
    nightVision_.create(3439, 3440);
    parkingNotice_.create(3448, 3449);
    screenSaver_.create(3456, 3457);
    hidden1_.create(3424, 3430, {3431, 3432, 3433, 3434, 3435, 3436, 3437});
    hidden2_.create(3442, 3446);
    voltage_ = list(3415);
    timer_ = list(3422);
    externalPower_ = checkBox(3416);
    cableLoss_ = list(3458);
    autoFormat_ = list(3459);
    eco_ = checkBox(3940);
    ecoSlider_ = new QSlider(Qt::Horizontal);
    ecoSlider_->setObjectName(idName(3946));
    ecoSlider_->setRange(0, 100);
    ecoSlider_->setTickInterval(10);
    ecoSlider_->setTickPosition(QSlider::TicksBelow);
    ecoSlider_->setSingleStep(1);
    ecoSlider_->setPageStep(1);
    ecoCaption_ = new QLabel;
    ecoCaption_->setObjectName(idName(3941));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 8, 10, 8);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    grid->addWidget(withRow(group(3400), lcdAutoOff_.row()), 0, 0);
    grid->addWidget(withRow(group(3401), lcdBrightness_.row()), 0, 1);

    auto* cutOffBox = group(3414);
    auto* cutOff = new QGridLayout(cutOffBox);
    cutOff->addWidget(caption(3417), 0, 0);
    cutOff->addWidget(voltage_, 0, 1);
    cutOff->addWidget(caption(3418), 1, 0);
    cutOff->addWidget(timer_, 1, 1);
    cutOff->addWidget(externalPower_, 2, 0, 1, 2);
    cutOff->setColumnStretch(2, 1);
    grid->addWidget(cutOffBox, 1, 0, 2, 1);

    auto* cableBox = group(3423);
    (new QHBoxLayout(cableBox))->addWidget(cableLoss_, 0, Qt::AlignLeft);
    grid->addWidget(cableBox, 1, 1);
    auto* formatBox = group(3441);
    (new QHBoxLayout(formatBox))->addWidget(autoFormat_, 0, Qt::AlignLeft);
    grid->addWidget(formatBox, 2, 1);

    grid->addWidget(withRow(group(3438), nightVision_.row()), 3, 0);
    grid->addWidget(withRow(group(3447), parkingNotice_.row()), 3, 1);
    auto* pipBox = group(3450);
    auto* pip = new QHBoxLayout(pipBox);
    for (int k = 0; k < 4; ++k) {
        pip_[k] = checkBox(3451 + k);
        pip->addWidget(pip_[k]);
    }
    pip->addStretch();
    grid->addWidget(pipBox, 4, 0);
    grid->addWidget(withRow(group(3455), screenSaver_.row()), 4, 1);

    auto* ecoBox = group(3944);
    auto* eco = new QGridLayout(ecoBox);
    eco->addWidget(eco_, 0, 0);
    eco->addWidget(ecoCaption_, 0, 1, Qt::AlignRight);
    eco->addWidget(ecoSlider_, 1, 0, 1, 2);
    grid->addWidget(ecoBox, 5, 0, 1, 2);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    hide(hidden1_.row());
    hide(hidden2_.row());
    hide(caption(3942));
    hide(caption(3943));

    lcdAutoOff_.onClicked([this](int p) { set("lcdAutoOff", static_cast<uint32_t>(p)); });
    lcdBrightness_.onClicked([this](int p) { set("lcdBrightness", static_cast<uint32_t>(p)); });
    nightVision_.onClicked([this](int p) { set("nightVision", static_cast<uint32_t>(p)); });
    parkingNotice_.onClicked([this](int p) { set("parkingNotice", static_cast<uint32_t>(p)); });
    screenSaver_.onClicked([this](int p) { set("screenSaver", static_cast<uint32_t>(p)); });
    connect(voltage_, &QComboBox::activated, this, [this](int entry) {
        set("cutOffVoltage", voltageValue(entry));
        if (entry == 2)
            warn(kExternalPowerWarning, QStringLiteral("Warning"));
    });
    connect(timer_, &QComboBox::activated, this,
            [this](int entry) { set("cutOffTimerHours", kTimerHours[entry]); });
    connect(externalPower_, &QCheckBox::clicked, this, [this](bool checked) {
        set("externalPower", checked ? 1 : 0);
        applyExternalPowerRule();
    });
    connect(cableLoss_, &QComboBox::activated, this,
            [this](int entry) { set("cableVoltageLoss", static_cast<uint32_t>(entry + 1)); });
    connect(autoFormat_, &QComboBox::activated, this,
            [this](int entry) { set("autoFormatWeeks", static_cast<uint32_t>(entry)); });
    for (int k = 0; k < 4; ++k) {
        connect(pip_[k], &QCheckBox::clicked, this, [this, k] {
            // The four boxes are one choice: a click on the checked box keeps it.
            set("pipPosition", static_cast<uint32_t>(k));
            showPip();
        });
    }
    connect(eco_, &QCheckBox::clicked, this, [this](bool nowChecked) {
        set("ecoThreshold", nowChecked ? 60 : 0);
        const int value = static_cast<int>(get("ecoThreshold"));
        const QSignalBlocker block(ecoSlider_);
        ecoSlider_->setValue(value);
        showEcoCaption(value);
        eco_->setChecked(value != 0);
        ecoSlider_->setEnabled(value != 0);
    });
    connect(ecoSlider_, &QSlider::valueChanged, this, &AdditionalPage::showEcoCaption);
    onSliderCommit(ecoSlider_,
                   [this](int position) { set("ecoThreshold", static_cast<uint32_t>(position)); });
}

void AdditionalPage::showEcoCaption(int position) {
    ecoCaption_->setText(uiFormat(kEcoCaption, position / 100.0));
}

void AdditionalPage::showPip() {
    for (int k = 0; k < 4; ++k)
        pip_[k]->setChecked(static_cast<uint32_t>(k) == get("pipPosition"));
}

void AdditionalPage::applyExternalPowerRule() {
    const bool external = get("externalPower") == 1;
    voltage_->setEnabled(!external);
    timer_->setEnabled(!external);
}

void AdditionalPage::showFields() {
    lcdAutoOff_.show(static_cast<int>(get("lcdAutoOff")));
    lcdBrightness_.show(static_cast<int>(get("lcdBrightness")));
    nightVision_.show(static_cast<int>(get("nightVision")));
    parkingNotice_.show(static_cast<int>(get("parkingNotice")));
    screenSaver_.show(static_cast<int>(get("screenSaver")));
    voltage_->setCurrentIndex(voltageEntry(get("cutOffVoltage"), voltage_->count()));
    timer_->setCurrentIndex(timerEntry(get("cutOffTimerHours")));
    externalPower_->setChecked(get("externalPower") != 0);
    const int loss = static_cast<int>(get("cableVoltageLoss")) - 1;
    cableLoss_->setCurrentIndex(loss >= 0 && loss < cableLoss_->count() ? loss : -1);
    const int weeks = static_cast<int>(get("autoFormatWeeks"));
    autoFormat_->setCurrentIndex(weeks < autoFormat_->count() ? weeks : -1);
    showPip();
    const QSignalBlocker block(ecoSlider_);
    ecoSlider_->setValue(static_cast<int>(get("ecoThreshold")));
}

void AdditionalPage::openPage() {
    voltage_->clear();
    for (int id : {342, 351, 353})
        voltage_->addItem(uiText(id));
    for (int tenths = 115; tenths <= 124; ++tenths)
        voltage_->addItem(QString::asprintf("   %.1fv / %.1fv", tenths / 10.0, tenths / 5.0));
    timer_->clear();
    for (int id = 343; id <= 350; ++id)
        timer_->addItem(uiText(id));
    cableLoss_->clear();
    cableLoss_->addItem(uiText(373));
    for (int tenths = 1; tenths <= 6; ++tenths)
        cableLoss_->addItem(QString::asprintf("       %.1fv", tenths / 10.0));
    autoFormat_->clear();
    for (int id : {373, 380, 381, 382, 383})
        autoFormat_->addItem(uiText(id));
    showFields();
    applyExternalPowerRule();

    const int eco = static_cast<int>(get("ecoThreshold"));
    const bool on = eco >= 2;
    eco_->setChecked(on);
    ecoSlider_->setEnabled(on);
    showEcoCaption(on ? eco : 0);
}

void AdditionalPage::loadPage() {
    // The "Use Eco Drive" box and the slider's enabled state stay as they were.
    showFields();
    applyExternalPowerRule();
    showEcoCaption(static_cast<int>(get("ecoThreshold")));
}

}  // namespace orvik::device_config::ui
