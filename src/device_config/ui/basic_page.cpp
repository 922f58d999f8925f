#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {
constexpr uint32_t kStandbySeconds[9] = {0, 10, 30, 60, 120, 180, 300, 420, 600};
constexpr int kShareBelowMinimum = 305;
constexpr int kShareNeedsFormat = 245;

int standbyPosition(uint32_t seconds) {
    for (int i = 0; i < 9; ++i)
        if (kStandbySeconds[i] == seconds)
            return i;
    return -1;
}

QString thresholdText(uint32_t hundredths) {
    return QString::asprintf("%.2f", static_cast<double>(hundredths) / 100.0);
}
}  // namespace

void onSliderCommit(QSlider* slider, const std::function<void(int)>& commit) {
    QObject::connect(slider, &QSlider::sliderReleased, slider,
                     [slider, commit] { commit(slider->sliderPosition()); });
    QObject::connect(slider, &QSlider::actionTriggered, slider, [slider, commit](int action) {
        // A drag is committed once, on release. Every other action is a whole change: a key, a
        // click on the groove, and a wheel step, which arrives as a move with the thumb not held.
        if (action == QAbstractSlider::SliderNoAction ||
            (action == QAbstractSlider::SliderMove && slider->isSliderDown()))
            return;
        commit(slider->sliderPosition());
    });
}

BasicPage::BasicPage(EditorState& state, QWidget* parent) : SettingsPage(state, 214, parent) {
    standby_.create(3201, 3209);
    drivePreset_.create(3224, 3229, {3233, 3234, 3235, 3236, 3237, 3238});
    parkPreset_.create(3249, 3254, {3243, 3244, 3245, 3246, 3247, 3248});
    frontLed_.create(3259, 3260);
    rearLed_.create(3262, 3263);
    gSensor_ = checkBox(3219);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(10, 10, 10, 10);
    page->setSpacing(8);

    auto* standbyBox = group(3210);
    (new QVBoxLayout(standbyBox))->addWidget(standby_.row(5));
    page->addWidget(standbyBox);

    auto* sensorBox = group(3220);
    auto* sensor = new QGridLayout(sensorBox);
    sensor->addWidget(gSensor_, 0, 0, 1, 2);
    auto modeBox = [this](int titleId, RadioGroup& presets, std::array<QLineEdit*, 3>& edits,
                          int firstEdit) {
        auto* box = group(titleId);
        auto* v = new QVBoxLayout(box);
        v->addWidget(presets.row(2));
        auto* axes = new QHBoxLayout;
        static const char* const kAxis[3] = {"X", "Y", "Z"};
        for (int i = 0; i < 3; ++i) {
            edits[i] = new QLineEdit;
            edits[i]->setObjectName(idName(firstEdit + i));
            edits[i]->setMaxLength(31);
            edits[i]->setFixedWidth(56);
            edits[i]->setAlignment(Qt::AlignRight);
            auto* label = new QLabel(QString::fromLatin1(kAxis[i]));
            label->setBuddy(edits[i]);
            axes->addWidget(label);
            axes->addWidget(edits[i]);
            axes->addSpacing(8);
        }
        axes->addStretch();
        v->addLayout(axes);
        return box;
    };
    sensor->addWidget(modeBox(3221, drivePreset_, driveEdits_, 3230), 1, 0);
    sensor->addWidget(modeBox(3222, parkPreset_, parkEdits_, 3255), 1, 1);
    page->addWidget(sensorBox);

    auto* leds = new QHBoxLayout;
    auto* frontLedBox = group(3258);
    (new QVBoxLayout(frontLedBox))->addWidget(frontLed_.row());
    auto* rearLedBox = group(3261);
    (new QVBoxLayout(rearLedBox))->addWidget(rearLed_.row());
    leds->addWidget(frontLedBox);
    leds->addWidget(rearLedBox);
    page->addLayout(leds);

    auto* shareBox = group(3264);
    auto* share = new QHBoxLayout(shareBox);
    alwaysCaption_ = new QLabel;
    alwaysCaption_->setObjectName(idName(3265));
    parkCaption_ = new QLabel;
    parkCaption_->setObjectName(idName(3266));
    share_ = new QSlider(Qt::Horizontal);
    share_->setObjectName(idName(3268));
    share_->setRange(0, 10);
    share_->setSingleStep(1);
    share_->setPageStep(1);
    share_->setTickInterval(1);
    share_->setTickPosition(QSlider::TicksBelow);
    share->addWidget(alwaysCaption_);
    share->addWidget(share_, 1);
    share->addWidget(parkCaption_);
    page->addWidget(shareBox);
    page->addStretch();
    // Six groups in 494 pixels: tight frames keep every row its full height, in both languages.
    page->setContentsMargins(8, 6, 8, 6);
    page->setSpacing(4);
    for (QGroupBox* box : findChildren<QGroupBox*>()) {
        if (QLayout* inner = box->layout()) {
            inner->setContentsMargins(8, 4, 8, 4);
            inner->setSpacing(2);
        }
    }
    hide(caption(3267));

    standby_.onClicked(
        [this](int position) { set("parkStandbySeconds", kStandbySeconds[position]); });
    frontLed_.onClicked([this](int position) { set("frontLed", static_cast<uint32_t>(position)); });
    rearLed_.onClicked([this](int position) { set("rearLed", static_cast<uint32_t>(position)); });
    drivePreset_.onClicked([this](int p) { choosePreset(false, p); });
    parkPreset_.onClicked([this](int p) { choosePreset(true, p); });
    connect(gSensor_, &QCheckBox::clicked, this, [this] {
        set("gSensorEnabled", get("gSensorEnabled") != 0 ? 0 : 1);
        gSensor_->setChecked(get("gSensorEnabled") != 0);
        applyGSensorRule();
    });
    connect(share_, &QSlider::valueChanged, this, &BasicPage::showShareCaptions);
    onSliderCommit(share_, [this](int position) { commitShare(position); });
}

void BasicPage::showFields() {
    standby_.show(standbyPosition(get("parkStandbySeconds")));
    gSensor_->setChecked(get("gSensorEnabled") != 0);
    drivePreset_.show(state_.drivePreset);
    parkPreset_.show(state_.parkPreset);
    rewriteEdits();
    frontLed_.show(static_cast<int>(get("frontLed")));
    rearLed_.show(static_cast<int>(get("rearLed")));
    const QSignalBlocker block(share_);
    share_->setValue(static_cast<int>(get("alwaysSharePercent") / 10));
    alwaysCaption_->setText(QString::asprintf("%s %3d%%", uiText(302).toUtf8().constData(),
                                              static_cast<int>(get("alwaysSharePercent"))));
    parkCaption_->setText(QString::asprintf("%s %3d%%", uiText(304).toUtf8().constData(),
                                            static_cast<int>(get("parkSharePercent"))));
}

void BasicPage::openPage() {
    showFields();
    applyGSensorRule();
}

void BasicPage::loadPage() {
    showFields();
    applyGSensorRule();
}

void BasicPage::choosePreset(bool parking, int preset) {
    // A click on the preset already chosen keeps the values, and any text typed for "Customize".
    if ((parking ? state_.parkPreset : state_.drivePreset) == preset)
        return;
    (parking ? state_.parkPreset : state_.drivePreset) = preset;
    if (preset < kCustomPreset) {
        const uint32_t value = parking ? kParkPresetValues[preset] : kDrivePresetValues[preset];
        for (const char* axis : {"X", "Y", "Z"})
            set(std::string(parking ? "parkImpact" : "driveImpact") + axis, value);
    }
    applyGSensorRule();
    rewriteEdits();
}

void BasicPage::applyGSensorRule() {
    const bool on = get("gSensorEnabled") != 0;
    drivePreset_.setEnabled(on);
    parkPreset_.setEnabled(on);
    for (int i = 0; i < 3; ++i) {
        driveEdits_[i]->setEnabled(on);
        parkEdits_[i]->setEnabled(on);
        driveEdits_[i]->setReadOnly(state_.drivePreset != kCustomPreset);
        parkEdits_[i]->setReadOnly(state_.parkPreset != kCustomPreset);
    }
}

void BasicPage::rewriteEdits() {
    static const char* const kDrive[3] = {"driveImpactX", "driveImpactY", "driveImpactZ"};
    static const char* const kPark[3] = {"parkImpactX", "parkImpactY", "parkImpactZ"};
    for (int i = 0; i < 3; ++i) {
        driveEdits_[i]->setText(thresholdText(get(kDrive[i])));
        parkEdits_[i]->setText(thresholdText(get(kPark[i])));
    }
}

void BasicPage::showShareCaptions(int position) {
    alwaysCaption_->setText(
        QString::asprintf("%s %3d%%", uiText(302).toUtf8().constData(), position * 10));
    parkCaption_->setText(
        QString::asprintf("%s %3d%%", uiText(304).toUtf8().constData(), 100 - position * 10));
}

void BasicPage::commitShare(int position) {
    const uint32_t always = static_cast<uint32_t>(position * 10);
    if (always == get("alwaysSharePercent"))
        return;
    if (position == 0 || position == 10) {
        warn(kShareBelowMinimum);
        // Back to the accepted split, so what the slider shows is what Save writes.
        share_->setValue(static_cast<int>(get("alwaysSharePercent") / 10));
        return;
    }
    warn(kShareNeedsFormat);
    set("alwaysSharePercent", always);
    set("parkSharePercent", 100 - always);
}

}  // namespace orvik::device_config::ui
