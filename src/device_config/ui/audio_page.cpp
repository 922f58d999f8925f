#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"

namespace orvik::device_config::ui {

AudioPage::AudioPage(EditorState& state, QWidget* parent) : SettingsPage(state, 216, parent) {
    mic_.create(3601, 3604);
    speaker_.create(3611, 3614);
    language_.create(3624, 3644);
    hourly_ = checkBox(3620);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->addWidget(withRow(group(3621), mic_.row()), 0, 0);
    grid->addWidget(withRow(group(3622), speaker_.row()), 0, 1);
    auto* alarmBox = group(3645);
    (new QVBoxLayout(alarmBox))->addWidget(hourly_);
    grid->addWidget(alarmBox, 1, 0, 1, 2);
    grid->addWidget(withRow(group(3623), language_.row(3)), 2, 0, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    // Volume captions and the voice switches exist in the resources; the camera has no fields
    // for them.
    hide(group(3600));
    hide(group(3610));
    for (int id : {3605, 3606, 3607, 3608, 3615, 3616, 3617, 3618})
        hide(caption(id));
    hide(checkBox(3609));
    hide(checkBox(3619));

    mic_.onClicked([this](int p) { set("micVolume", static_cast<uint32_t>(p)); });
    speaker_.onClicked([this](int p) { set("speakerVolume", static_cast<uint32_t>(p)); });
    language_.onClicked([this](int p) { set("voiceLanguage", static_cast<uint32_t>(p)); });
    connect(hourly_, &QCheckBox::clicked, this,
            [this](bool checked) { set("hourlyAlarm", checked ? 1 : 0); });
}

void AudioPage::showFields() {
    mic_.show(static_cast<int>(get("micVolume")));
    speaker_.show(static_cast<int>(get("speakerVolume")));
    language_.show(static_cast<int>(get("voiceLanguage")));
    hourly_->setChecked(get("hourlyAlarm") != 0);
}

void AudioPage::openPage() {
    showFields();
}
void AudioPage::loadPage() {
    showFields();
}

}  // namespace orvik::device_config::ui
