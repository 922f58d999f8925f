#pragma once
// The modal "Device Settings" dialog: seven pages editing the camera's configuration image and
// the driving-route Information page, with Save (checks, then the atomic write), Cancel and
// Initialize.
#include <QDialog>
#include <array>

#include "device_config/ui/editor_state.h"

class QPushButton;
class QTabWidget;

namespace orvik::device_config::ui {

class SettingsPage;
class VideoPage;
class BasicPage;
class GpsPage;
class AdditionalPage;
class MotionPage;
class AdasPage;
class AudioPage;
class InformationPage;

class SettingsEditor : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 130;
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 600;
    enum Tab { Video, Basic, Gps, Additional, Motion, Adas, Audio, Information, TabCount };

    // Resets the image, reads the card's configuration file when there is one and builds the
    // pages. `versionText` is shown in the title ("[Ver 1.0.2.0]").
    explicit SettingsEditor(const QString& versionText, QWidget* parent = nullptr);
    ~SettingsEditor() override;

    EditorState& state() { return state_; }
    QString rememberedPath() const;
    // Where the last Save wrote the settings; "" until one went through.
    QString savedPath() const { return savedPath_; }
    QString resourceTitle() const { return resourceTitle_; }

    QTabWidget* tabs() const { return tabs_; }
    SettingsPage* settingsPage(int tab) const;
    BasicPage* basicPage() const { return basic_; }
    MotionPage* motionPage() const { return motion_; }
    InformationPage* informationPage() const { return information_; }
    QPushButton* cardFormatButton() const { return cardFormat_; }

    // The SD Card Format button is hidden and disabled unless the card tools are enabled
    // (cardToolsEnabled() at construction).
    void setCardToolsEnabled(bool enabled);

    // The three commands (buttons 1, 3002, and 2 through reject()).
    void save();
    void initialize();

    // Closing by Save or Cancel also closes the Position window.
    void done(int result) override;

  signals:
    // Command 3003: the card-format workflow is started by whoever owns the editor.
    void cardFormatRequested();

  private:
    QString savedPath_;
    void buildButtons();
    void onTabChanged(int index);
    bool runSaveChecks();

    EditorState state_;
    QString resourceTitle_;
    QTabWidget* tabs_ = nullptr;
    VideoPage* video_ = nullptr;
    BasicPage* basic_ = nullptr;
    GpsPage* gps_ = nullptr;
    AdditionalPage* additional_ = nullptr;
    MotionPage* motion_ = nullptr;
    AdasPage* adas_ = nullptr;
    AudioPage* audio_ = nullptr;
    InformationPage* information_ = nullptr;
    std::array<SettingsPage*, 7> pages_{};
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* initialize_ = nullptr;
    QPushButton* cardFormat_ = nullptr;
};

}  // namespace orvik::device_config::ui
