#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"

namespace orvik::device_config::ui {

namespace {
constexpr int kQualityWarning = 362;
}  // namespace

VideoPage::VideoPage(EditorState& state, QWidget* parent) : SettingsPage(state, 212, parent) {
    frontQuality_.create(3101, 3104);
    rearQuality_.create(3116, 3119);
    frontBrightness_.create(3106, 3110, {3111, 3112, 3113, 3114, 3115});
    rearBrightness_.create(3120, 3124, {3125, 3126, 3127, 3128, 3129});
    rearFlip_.create(3133, 3136);
    busMode_.create(3142, 3143);
    antiFlicker_.create(3145, 3147);
    sensorMode_.create(3149, 3150);
    resolution_.create(3138, 3140);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->addWidget(withRow(group(3100), frontQuality_.row(2)), 0, 0);
    grid->addWidget(withRow(group(3130), rearQuality_.row(2)), 0, 1);
    grid->addWidget(withRow(group(3105), frontBrightness_.row()), 1, 0);
    grid->addWidget(withRow(group(3131), rearBrightness_.row()), 1, 1);
    grid->addWidget(withRow(group(3148), sensorMode_.row()), 2, 0);
    grid->addWidget(withRow(group(3132), rearFlip_.row(2)), 2, 1);
    grid->addWidget(withRow(group(3144), antiFlicker_.row()), 3, 0);
    grid->addWidget(withRow(group(3141), busMode_.row()), 3, 1);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    // The resolution choice exists in the page's resources but the camera takes no such field.
    hide(withRow(group(3137), resolution_.row()));

    auto quality = [this](std::string_view field) {
        return [this, field](int position) {
            set(field, static_cast<uint32_t>(position));
            // Also on a click on the radio that was already checked: the user asked again.
            warn(kQualityWarning);
        };
    };
    frontQuality_.onClicked(quality("frontQuality"));
    rearQuality_.onClicked(quality("rearQuality"));
    auto store = [this](std::string_view field) {
        return [this, field](int position) { set(field, static_cast<uint32_t>(position)); };
    };
    frontBrightness_.onClicked(store("frontBrightness"));
    rearBrightness_.onClicked(store("rearBrightness"));
    rearFlip_.onClicked(store("rearFlip"));
    antiFlicker_.onClicked(store("antiFlicker"));
    sensorMode_.onClicked(store("frontSensorMode"));
    busMode_.onClicked([this](int position) {
        // A click on the mode already chosen changes nothing (not even the forced qualities).
        if (static_cast<uint32_t>(position) == get("busMode"))
            return;
        set("busMode", static_cast<uint32_t>(position));
        emit busModeChanged(position);
    });
}

void VideoPage::showFields() {
    frontQuality_.show(static_cast<int>(get("frontQuality")));
    rearQuality_.show(static_cast<int>(get("rearQuality")));
    frontBrightness_.show(static_cast<int>(get("frontBrightness")));
    rearBrightness_.show(static_cast<int>(get("rearBrightness")));
    rearFlip_.show(static_cast<int>(get("rearFlip")));
    busMode_.show(static_cast<int>(get("busMode")));
    antiFlicker_.show(static_cast<int>(get("antiFlicker")));
    sensorMode_.show(static_cast<int>(get("frontSensorMode")));
}

void VideoPage::openPage() {
    showFields();
}
void VideoPage::loadPage() {
    showFields();
}

void VideoPage::applyBusMode(int busMode) {
    // Bus recording needs the CCTV quality on both channels; leaving it restores "High".
    const uint32_t quality = busMode == 1 ? 3 : 1;
    set("frontQuality", quality);
    set("rearQuality", quality);
    frontQuality_.setEnabled(busMode != 1);
    rearQuality_.setEnabled(busMode != 1);
    frontQuality_.show(static_cast<int>(quality));
    rearQuality_.show(static_cast<int>(quality));
}

}  // namespace orvik::device_config::ui
