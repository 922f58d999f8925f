#include "device_config/ui/settings_editor.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include "device_config/opened_card.h"
#include "device_config/ui/information_page.h"
#include "device_config/ui/settings_pages.h"
#include "strings/string_ids.h"
#include "ui_common/dialog_look.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {
constexpr int kTabCaptions[SettingsEditor::TabCount] = {290, 291, 292, 293, 340, 341, 294, 296};
}  // namespace

SettingsEditor::SettingsEditor(const QString& versionText, QWidget* parent) : QDialog(parent) {
    setObjectName(idName(kResourceId));
    resourceTitle_ = uiText(strings::device_config::kSettingsTitle);
    setModal(true);
    setFixedSize(kWidth, kHeight);
    ui_common::applyDialogLook(this);

    state_.resetToDefaults();
    if (state_.session.locateOnCard(true))
        state_.derivePresets();

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(idName(3001));
    tabs_->setGeometry(2, 2, 632, 518);
    video_ = new VideoPage(state_);
    basic_ = new BasicPage(state_);
    gps_ = new GpsPage(state_);
    additional_ = new AdditionalPage(state_);
    motion_ = new MotionPage(state_);
    adas_ = new AdasPage(state_);
    audio_ = new AudioPage(state_);
    information_ = new InformationPage;
    pages_ = {video_, basic_, gps_, additional_, motion_, adas_, audio_};
    for (SettingsPage* page : pages_)
        page->openPage();
    information_->openPage();
    QWidget* const order[TabCount] = {video_,  basic_, gps_,   additional_,
                                      motion_, adas_,  audio_, information_};
    for (int tab = 0; tab < TabCount; ++tab)
        tabs_->addTab(order[tab], uiText(kTabCaptions[tab]));
    tabs_->setCurrentIndex(Video);
    connect(tabs_, &QTabWidget::currentChanged, this, &SettingsEditor::onTabChanged);

    connect(gps_, &SettingsPage::speedUnitChanged, adas_, &AdasPage::refillSpeedLists);
    connect(video_, &SettingsPage::busModeChanged, video_, &VideoPage::applyBusMode);

    // The buttons, the settings pages' controls and the Information page's list and buttons
    // carry the main window's font 100; the rest keep the dialog's font.
    ui_common::applyRegisteredFont(this, {{3100, 3150},
                                          {3200, 3268},
                                          {3400, 3449},
                                          {3500, 3524},
                                          {3600, 3644},
                                          {3716, 3719},
                                          {4000, 4053},
                                          {4200, 4234}});
    buildButtons();

    QString title = resourceTitle_ + versionText;
    if (!rememberedPath().isEmpty())
        title += QStringLiteral(" : ") + rememberedPath();
    setWindowTitle(title);

    if (parent) {
        move(parent->geometry().center() - rect().center());
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

SettingsEditor::~SettingsEditor() = default;

QString SettingsEditor::rememberedPath() const {
    return QString::fromStdString(state_.session.rememberedPath());
}

SettingsPage* SettingsEditor::settingsPage(int tab) const {
    return tab >= 0 && tab < static_cast<int>(pages_.size()) ? pages_[tab] : nullptr;
}

void SettingsEditor::buildButtons() {
    auto button = [this](int id, int textId) {
        auto* b = new QPushButton(uiText(textId), this);
        b->setObjectName(idName(id));
        b->setFont(ui_common::registeredFont(ui_common::kRegisteredFontList));
        b->setAutoDefault(false);
        return b;
    };
    save_ = button(1, strings::device_config::kSettingsSave);
    cancel_ = button(2, strings::device_config::kSettingsCancel);
    initialize_ = button(3002, strings::device_config::kInitialize);
    cardFormat_ = button(3003, strings::device_config::kCardFormat);
    save_->setDefault(true);

    // One row along the bottom, 18 pixels apart, as wide as the widest caption needs.
    int w = 75, h = 23;
    for (QPushButton* b : {save_, cancel_, initialize_}) {
        w = std::max(w, b->sizeHint().width());
        h = std::max(h, b->sizeHint().height());
    }
    const int top = 553 - h;
    cancel_->setGeometry(616 - w, top, w, h);
    save_->setGeometry(598 - 2 * w, top, w, h);
    initialize_->setGeometry(580 - 3 * w, top, w, h);
    // Wider than the others when its caption needs it, growing to the left.
    const int formatWidth = std::max(w + 14, cardFormat_->sizeHint().width());
    cardFormat_->setGeometry(560 - 3 * w - formatWidth, top, formatWidth, h);
    setCardToolsEnabled(ui::cardToolsEnabled());

    connect(save_, &QPushButton::clicked, this, &SettingsEditor::save);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(initialize_, &QPushButton::clicked, this, &SettingsEditor::initialize);
    connect(cardFormat_, &QPushButton::clicked, this, &SettingsEditor::cardFormatRequested);
}

void SettingsEditor::setCardToolsEnabled(bool enabled) {
    cardFormat_->setVisible(enabled);
    cardFormat_->setEnabled(enabled);
}

void SettingsEditor::onTabChanged(int index) {
    if (index != Information)
        return;
    if (!information_->hasFile())
        showMessage(this, MessageIcon::Warning, resourceTitle_,
                    uiText(strings::device_config::kNoDriveRoute));
    information_->refresh();
}

bool SettingsEditor::runSaveChecks() {
    auto texts = [](BasicPage* page, bool parking) {
        std::array<std::string, 3> out;
        for (int axis = 0; axis < 3; ++axis) {
            QLineEdit* edit = parking ? page->parkEdit(axis) : page->driveEdit(axis);
            out[axis] = edit->text().left(31).toStdString();
        }
        return out;
    };
    SaveCheckInput input;
    if (state_.drivePreset == kCustomPreset)
        input.driveTexts = texts(basic_, false);
    if (state_.parkPreset == kCustomPreset)
        input.parkTexts = texts(basic_, true);

    SaveCheckFailure failure;
    const int failed = checkBeforeSave(state_.image(), input, &failure);
    if (failed == 0)
        return true;
    if (failed == kMsgImpactRange) {
        if (failure.axis >= 0 && failure.axis < 3) {
            QLineEdit* edit =
                failure.parkMode ? basic_->parkEdit(failure.axis) : basic_->driveEdit(failure.axis);
            edit->setText(QString::fromStdString(failure.rewrittenText));
        }
        showMessage(this, MessageIcon::Warning, resourceTitle_,
                    uiFormat(kMsgImpactRange, kImpactMin, kImpactMax));
    } else {
        showMessage(this, MessageIcon::Warning, resourceTitle_, uiText(failed));
    }
    return false;
}

void SettingsEditor::save() {
    if (!runSaveChecks())
        return;
    motion_->gatherAreas();

    const auto askPath = [this]() -> std::optional<std::string> {
        FileDialogRequest request;
        request.save = true;
        request.title = uiText(strings::device_config::kSettingsSaveAs);
        request.filters = {QStringLiteral("Binary Files (*.bin)"),
                           QStringLiteral("All Files (*.*)")};
        request.proposedName = QString::fromUtf8(kConfigFileName.data(),
                                                 static_cast<qsizetype>(kConfigFileName.size()));
        request.defaultSuffix = QStringLiteral("bin");
        request.startFolder = QString::fromStdString(openedCard());
        const QString path = askFileName(this, request);
        if (path.isEmpty())
            return std::nullopt;
        return path.toStdString();
    };
    const SaveOutcome outcome = state_.session.write(askPath);
    switch (outcome.status) {
        case SaveStatus::Saved:
            savedPath_ = QString::fromStdString(outcome.path);
            accept();
            return;
        case SaveStatus::Cancelled:
            return;
        case SaveStatus::WriteProtected:
            showMessage(this, MessageIcon::Critical, uiText(strings::device_config::kErrorCaption),
                        uiText(kMsgWriteProtected));
            return;
        case SaveStatus::Failed:
            // The old file is intact (the write is atomic); say so and let the user retry.
            showMessage(this, MessageIcon::Critical, uiText(strings::device_config::kErrorCaption),
                        uiFormat(strings::device_config::kSaveFailed, outcome.path.c_str(),
                                 outcome.error.c_str()));
            return;
    }
}

void SettingsEditor::done(int result) {
    information_->releaseMap();
    QDialog::done(result);
}

void SettingsEditor::initialize() {
    // Fixes the card's label and forgets the path: the next Save finds its target afresh.
    state_.session.locateOnCard(false);
    state_.resetToDefaults();
    for (SettingsPage* page : pages_)
        page->loadPage();
}

}  // namespace orvik::device_config::ui
