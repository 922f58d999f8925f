#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"

namespace orvik::device_config::ui {

GpsPage::GpsPage(EditorState& state, QWidget* parent) : SettingsPage(state, 215, parent) {
    speedUnit_.create(3501, 3502);
    osdSpeed_.create(3526, 3527);
    routeInterval_.create(3510, 3517);
    parkingGps_.create(3519, 3520);
    safeDrive_.create(3522, 3524);
    summerTime_ = checkBox(3504);
    timeZone_ = list(3506);
    timeZone_->setMaxVisibleItems(12);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->addWidget(withRow(group(3500), speedUnit_.row()), 0, 0);
    grid->addWidget(withRow(group(3525), osdSpeed_.row()), 0, 1);
    grid->addWidget(withRow(group(3509), routeInterval_.row(4)), 1, 0, 1, 2);

    auto* zoneBox = group(3503);
    auto* zone = new QHBoxLayout(zoneBox);
    zone->addWidget(caption(3505));
    zone->addWidget(timeZone_);
    zone->addSpacing(20);
    zone->addWidget(summerTime_);
    zone->addStretch();
    grid->addWidget(zoneBox, 2, 0, 1, 2);
    grid->addWidget(withRow(group(3518), parkingGps_.row()), 3, 0);
    grid->addWidget(withRow(group(3521), safeDrive_.row()), 3, 1);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    hide(caption(3507));
    hide(caption(3508));

    speedUnit_.onClicked([this](int position) {
        // Only a real change of unit refills the speed lists.
        if (static_cast<uint32_t>(position) == get("speedUnit"))
            return;
        set("speedUnit", static_cast<uint32_t>(position));
        emit speedUnitChanged(position);
    });
    osdSpeed_.onClicked([this](int p) { set("osdSpeed", static_cast<uint32_t>(p)); });
    routeInterval_.onClicked([this](int p) { set("routeSaveInterval", static_cast<uint32_t>(p)); });
    // "On" is the first radio but stores 1.
    parkingGps_.onClicked([this](int p) { set("parkingGps", p == 0 ? 1 : 0); });
    safeDrive_.onClicked([this](int p) { set("safeDrive", static_cast<uint32_t>(p)); });
    connect(summerTime_, &QCheckBox::clicked, this,
            [this](bool checked) { set("summerTime", checked ? 1 : 0); });
    connect(timeZone_, &QComboBox::activated, this,
            [this](int index) { set("timeZoneIndex", static_cast<uint32_t>(index)); });
}

void GpsPage::showFields() {
    speedUnit_.show(static_cast<int>(get("speedUnit")));
    osdSpeed_.show(static_cast<int>(get("osdSpeed")));
    routeInterval_.show(static_cast<int>(get("routeSaveInterval")));
    summerTime_->setChecked(get("summerTime") != 0);
    timeZone_->setCurrentIndex(static_cast<int>(get("timeZoneIndex")) < timeZone_->count()
                                   ? static_cast<int>(get("timeZoneIndex"))
                                   : -1);
    // Any value but 1 means off, and is written back as 0.
    if (get("parkingGps") != 1 && get("parkingGps") != 0)
        set("parkingGps", 0);
    parkingGps_.show(get("parkingGps") == 1 ? 0 : 1);
    safeDrive_.show(static_cast<int>(get("safeDrive")));
}

void GpsPage::openPage() {
    timeZone_->clear();
    if (const FieldInfo* zones = findField("timeZoneIndex")) {
        for (std::string_view zone : zones->valueTexts)
            timeZone_->addItem(QString::fromUtf8(zone.data(), static_cast<qsizetype>(zone.size())));
    }
    showFields();
}

void GpsPage::loadPage() {
    showFields();
}

}  // namespace orvik::device_config::ui
