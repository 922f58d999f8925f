#include "device_config/ui/settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QRadioButton>

#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

QString idName(int id) {
    return QString::number(id);
}

void RadioGroup::create(int first, int last, const std::vector<int>& captionIds) {
    for (int id = first; id <= last; ++id) {
        const int index = id - first;
        const bool captioned = index < static_cast<int>(captionIds.size());
        auto* radio = new QRadioButton(captioned ? QString() : uiText(id));
        radio->setObjectName(idName(id));
        radio->setAutoExclusive(false);
        buttons_.push_back(radio);
        if (captioned) {
            auto* label = new ButtonCaption(uiText(captionIds[index]), radio);
            label->setObjectName(idName(captionIds[index]));
            captions_.push_back(label);
        }
    }
}

QWidget* RadioGroup::caption(int position) const {
    return position < static_cast<int>(captions_.size()) ? captions_[position] : nullptr;
}

void RadioGroup::show(int position) {
    for (int i = 0; i < size(); ++i)
        buttons_[i]->setChecked(i == position);
}

int RadioGroup::checked() const {
    for (int i = 0; i < size(); ++i)
        if (buttons_[i]->isChecked())
            return i;
    return -1;
}

void RadioGroup::setEnabled(bool enabled) {
    for (auto* b : buttons_)
        b->setEnabled(enabled);
    for (auto* c : captions_)
        c->setEnabled(enabled);
}

void RadioGroup::onClicked(const std::function<void(int)>& handler) {
    for (int i = 0; i < size(); ++i) {
        QObject::connect(buttons_[i], &QRadioButton::clicked, buttons_[i], [this, i, handler] {
            // A click on a checked, non-exclusive radio unchecks it; put the check back first.
            show(i);
            handler(i);
        });
    }
}

QWidget* RadioGroup::row(int columns) const {
    auto* box = new QWidget;
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);
    for (int i = 0; i < size(); ++i) {
        const int r = columns > 0 ? i / columns : 0;
        const int c = columns > 0 ? i % columns : i;
        if (auto* cap = caption(i)) {
            auto* pair = new QWidget;
            auto* h = new QHBoxLayout(pair);
            h->setContentsMargins(0, 0, 6, 0);
            h->setSpacing(3);
            h->addWidget(buttons_[i]);
            h->addWidget(cap);
            h->addStretch();
            grid->addWidget(pair, r, c);
        } else {
            grid->addWidget(buttons_[i], r, c);
        }
    }
    const int cols = columns > 0 ? columns : size();
    grid->setColumnStretch(cols, 1);
    return box;
}

ButtonCaption::ButtonCaption(const QString& text, QAbstractButton* buddy)
    : QLabel(text), buddy_(buddy) {}

void ButtonCaption::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && buddy_->isEnabled())
        buddy_->click();
    QLabel::mousePressEvent(event);
}

SettingsPage::SettingsPage(EditorState& state, int resourceId, QWidget* parent)
    : QWidget(parent), state_(state), resourceId_(resourceId) {
    setObjectName(idName(resourceId));
    setFixedSize(kPageWidth, kPageHeight);
}

QGroupBox* SettingsPage::group(int textId) {
    auto* box = new QGroupBox(uiText(textId));
    box->setObjectName(idName(textId));
    return box;
}

QCheckBox* SettingsPage::checkBox(int id) {
    auto* box = new QCheckBox(uiText(id));
    box->setObjectName(idName(id));
    return box;
}

QComboBox* SettingsPage::list(int id) {
    auto* combo = new QComboBox;
    combo->setObjectName(idName(id));
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

QLabel* SettingsPage::caption(int id) {
    auto* label = new QLabel(uiText(id));
    label->setObjectName(idName(id));
    return label;
}

void SettingsPage::hide(QWidget* widget) {
    widget->setParent(this);
    widget->setEnabled(false);
    widget->setVisible(false);
}

void SettingsPage::warn(int textId, const QString& caption) {
    showMessage(this, MessageIcon::Warning, caption, uiText(textId));
}

}  // namespace orvik::device_config::ui
