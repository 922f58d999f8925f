#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {
// The stored number is the entry; what it means depends on the unit (there is no 35 mph).
constexpr int kKmhSpeeds[10] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
constexpr int kMphSpeeds[10] = {10, 15, 20, 25, 30, 40, 45, 50, 55, 60};
// List entries chosen when the unit changes (entry 0 is "Not Use").
constexpr int kLdwsEntryAfterUnitChange = 4;
constexpr int kFcwsEntryAfterUnitChange = 3;
constexpr int kListWidth = 17;

QString padded(const QString& text) {
    return text.rightJustified(kListWidth, QLatin1Char(' '));
}

// The page holds eleven groups in seven rows: keep their frames tight, so that every row (the
// two-line FCMD group among them) gets its full height in both languages.
constexpr int kMargin = 3;

QGroupBox* withWidget(QGroupBox* box, QWidget* widget) {
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(8, kMargin, 8, kMargin);
    layout->addWidget(widget, 0, Qt::AlignLeft);
    return box;
}

QGroupBox* withPaddedRow(QGroupBox* box, QWidget* row) {
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(8, kMargin, 8, kMargin);
    layout->addWidget(row);
    return box;
}

int entryFor(uint32_t value, int count) {
    return value < static_cast<uint32_t>(count) ? static_cast<int>(value) : -1;
}
}  // namespace

AdasPage::AdasPage(EditorState& state, QWidget* parent) : SettingsPage(state, 220, parent) {
    vehicle_.create(4201, 4203);
    ufcws_.create(4214, 4218);
    fcmd_.create(4219, 4222);
    ldwsSpeed_ = list(4205);
    fcwsSpeed_ = list(4207);
    ldwsSens_ = list(4210);
    fcwsSens_ = list(4212);
    headway_ = list(4228);
    factor_ = list(4230);
    vibrator_ = list(4224);
    intensity_ = list(4225);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 4, 10, 4);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(3);
    grid->addWidget(withPaddedRow(group(4200), vehicle_.row()), 0, 0, 1, 2);
    grid->addWidget(withWidget(group(4204), ldwsSpeed_), 1, 0);
    grid->addWidget(withWidget(group(4206), fcwsSpeed_), 1, 1);
    grid->addWidget(withWidget(group(4209), ldwsSens_), 2, 0);
    grid->addWidget(withWidget(group(4211), fcwsSens_), 2, 1);
    grid->addWidget(withPaddedRow(group(4213), ufcws_.row()), 3, 0);
    grid->addWidget(withPaddedRow(group(4208), fcmd_.row(2)), 3, 1);
    grid->addWidget(withWidget(group(4227), headway_), 4, 0);
    grid->addWidget(withWidget(group(4229), factor_), 4, 1);
    grid->addWidget(withWidget(group(4223), vibrator_), 5, 0);
    grid->addWidget(withWidget(group(4226), intensity_), 5, 1);
    auto* soundBox = group(4235);
    auto* sound = new QHBoxLayout(soundBox);
    sound->setContentsMargins(8, kMargin, 8, kMargin);
    for (int i = 0; i < 3; ++i) {
        sound_[i] = checkBox(4236 + i);
        sound->addWidget(sound_[i]);
        sound->addSpacing(20);
    }
    sound->addStretch();
    grid->addWidget(soundBox, 6, 0, 1, 2);
    grid->setRowStretch(7, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    hide(withWidget(group(4231), list(4232)));
    hide(withWidget(group(4233), list(4234)));

    vehicle_.onClicked([this](int p) { set("vehicleType", static_cast<uint32_t>(p)); });
    ufcws_.onClicked([this](int p) { set("ufcwsSensitivity", static_cast<uint32_t>(p)); });
    fcmd_.onClicked([this](int p) { set("fcmdSensitivity", static_cast<uint32_t>(p)); });
    auto bind = [this](QComboBox* combo, std::string_view field) {
        connect(combo, &QComboBox::activated, this,
                [this, field](int entry) { set(field, static_cast<uint32_t>(entry)); });
    };
    bind(ldwsSpeed_, "ldwsSpeed");
    bind(fcwsSpeed_, "fcwsSpeed");
    bind(ldwsSens_, "ldwsSensitivity");
    bind(fcwsSens_, "fcwsSensitivity");
    bind(headway_, "headwayDistance");
    bind(factor_, "headwayFactor");
    bind(vibrator_, "vibratorMode");
    bind(intensity_, "vibratorIntensity");
    static constexpr std::string_view kSoundFields[3] = {"ldwsSoundOff", "fcwsSoundOff",
                                                         "fcmdSoundOff"};
    for (int i = 0; i < 3; ++i) {
        // Checked means the warning sound is on, which the camera stores as 0.
        connect(sound_[i], &QCheckBox::clicked, this,
                [this, i](bool checked) { set(kSoundFields[i], checked ? 0 : 1); });
    }
}

void AdasPage::fillSpeedList(QComboBox* combo, int speedUnit) {
    combo->clear();
    combo->addItem(uiText(342));
    for (int i = 0; i < 10; ++i) {
        combo->addItem(padded(speedUnit == 1 ? QStringLiteral("%1Mi/h").arg(kMphSpeeds[i])
                                             : QStringLiteral("%1km/h").arg(kKmhSpeeds[i])));
    }
}

void AdasPage::refillSpeedLists(int speedUnit) {
    fillSpeedList(ldwsSpeed_, speedUnit);
    fillSpeedList(fcwsSpeed_, speedUnit);
    ldwsSpeed_->setCurrentIndex(kLdwsEntryAfterUnitChange);
    fcwsSpeed_->setCurrentIndex(kFcwsEntryAfterUnitChange);
    // A stored entry means another speed in the new unit: keep the image in step with the lists.
    set("ldwsSpeed", kLdwsEntryAfterUnitChange);
    set("fcwsSpeed", kFcwsEntryAfterUnitChange);
}

void AdasPage::showFields() {
    vehicle_.show(static_cast<int>(get("vehicleType")));
    ufcws_.show(static_cast<int>(get("ufcwsSensitivity")));
    fcmd_.show(static_cast<int>(get("fcmdSensitivity")));
    for (auto [combo, field] : {std::pair<QComboBox*, const char*>{ldwsSpeed_, "ldwsSpeed"},
                                {fcwsSpeed_, "fcwsSpeed"},
                                {ldwsSens_, "ldwsSensitivity"},
                                {fcwsSens_, "fcwsSensitivity"},
                                {headway_, "headwayDistance"},
                                {factor_, "headwayFactor"},
                                {vibrator_, "vibratorMode"},
                                {intensity_, "vibratorIntensity"}})
        combo->setCurrentIndex(entryFor(get(field), combo->count()));
    sound_[0]->setChecked(get("ldwsSoundOff") == 0);
    sound_[1]->setChecked(get("fcwsSoundOff") == 0);
    sound_[2]->setChecked(get("fcmdSoundOff") == 0);
}

void AdasPage::openPage() {
    const int unit = static_cast<int>(get("speedUnit"));
    fillSpeedList(ldwsSpeed_, unit);
    fillSpeedList(fcwsSpeed_, unit);
    for (QComboBox* combo : {ldwsSens_, fcwsSens_}) {
        combo->clear();
        for (int id = 374; id <= 376; ++id)
            combo->addItem(uiText(id));
    }
    headway_->clear();
    for (int i = 0; i < 7; ++i)
        headway_->addItem(padded(QString::asprintf("%.2f", 0.60 + 0.05 * i)));
    factor_->clear();
    for (int i = 0; i < 9; ++i)
        factor_->addItem(padded(QString::asprintf("%.2f", 1.10 + 0.05 * i)));
    vibrator_->clear();
    for (int id = 366; id <= 369; ++id)
        vibrator_->addItem(uiText(id));
    intensity_->clear();
    for (int id : {342, 370, 371, 372})
        intensity_->addItem(uiText(id));
    showFields();
}

void AdasPage::loadPage() {
    showFields();
}

}  // namespace orvik::device_config::ui
