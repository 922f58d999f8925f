#pragma once
// The seven pages that edit the configuration image. Each change is stored in the image at once;
// only the custom impact thresholds and the motion areas wait for Save.
#include <array>

#include "device_config/ui/settings_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;

namespace orvik::device_config::ui {

class MotionCell;

// Completed slider changes: one per released drag, one per key, groove click or wheel step.
// Moves during a drag only move the captions.
void onSliderCommit(QSlider* slider, const std::function<void(int)>& commit);

class VideoPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit VideoPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;
    // The frame's reaction to a bus-mode change: force the qualities and the radios' state.
    void applyBusMode(int busMode);

  private:
    void showFields();
    RadioGroup frontQuality_, rearQuality_, frontBrightness_, rearBrightness_, rearFlip_, busMode_,
        antiFlicker_, sensorMode_, resolution_;
};

class BasicPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit BasicPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;

    // The custom threshold edits, X, Y, Z; Save reads and may rewrite them.
    QLineEdit* driveEdit(int axis) const { return driveEdits_[axis]; }
    QLineEdit* parkEdit(int axis) const { return parkEdits_[axis]; }

  private:
    void showFields();
    void choosePreset(bool parking, int preset);
    void applyGSensorRule();
    void rewriteEdits();
    void showShareCaptions(int position);
    void commitShare(int position);

    RadioGroup standby_, drivePreset_, parkPreset_, frontLed_, rearLed_;
    QCheckBox* gSensor_ = nullptr;
    std::array<QLineEdit*, 3> driveEdits_{};
    std::array<QLineEdit*, 3> parkEdits_{};
    QSlider* share_ = nullptr;
    QLabel* alwaysCaption_ = nullptr;
    QLabel* parkCaption_ = nullptr;
};

class GpsPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit GpsPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;

  private:
    void showFields();
    RadioGroup speedUnit_, osdSpeed_, routeInterval_, parkingGps_, safeDrive_;
    QCheckBox* summerTime_ = nullptr;
    QComboBox* timeZone_ = nullptr;
};

class AdditionalPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit AdditionalPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;

  private:
    void showFields();
    void applyExternalPowerRule();
    void showPip();
    void showEcoCaption(int position);

    RadioGroup lcdAutoOff_, lcdBrightness_, nightVision_, parkingNotice_, screenSaver_, hidden1_,
        hidden2_;
    QComboBox* voltage_ = nullptr;
    QComboBox* timer_ = nullptr;
    QCheckBox* externalPower_ = nullptr;
    QComboBox* cableLoss_ = nullptr;
    QComboBox* autoFormat_ = nullptr;
    std::array<QCheckBox*, 4> pip_{};
    QCheckBox* eco_ = nullptr;
    QSlider* ecoSlider_ = nullptr;
    QLabel* ecoCaption_ = nullptr;
};

class MotionPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit MotionPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;
    // Save's gathering step: rebuilds both masks from the boxes into the image.
    void gatherAreas();

  private:
    void showFields();
    RadioGroup front_, rear_;
    std::array<MotionCell*, 12> frontCells_{};
    std::array<MotionCell*, 12> rearCells_{};
};

class AdasPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit AdasPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;
    // Refills both speed lists in `speedUnit` and selects their standard entries.
    void refillSpeedLists(int speedUnit);

  private:
    void showFields();
    void fillSpeedList(QComboBox* list, int speedUnit);
    RadioGroup vehicle_, ufcws_, fcmd_;
    QComboBox* ldwsSpeed_ = nullptr;
    QComboBox* fcwsSpeed_ = nullptr;
    QComboBox* ldwsSens_ = nullptr;
    QComboBox* fcwsSens_ = nullptr;
    QComboBox* headway_ = nullptr;
    QComboBox* factor_ = nullptr;
    QComboBox* vibrator_ = nullptr;
    QComboBox* intensity_ = nullptr;
    std::array<QCheckBox*, 3> sound_{};
};

class AudioPage : public SettingsPage {
    Q_OBJECT
  public:
    explicit AudioPage(EditorState& state, QWidget* parent = nullptr);
    void openPage() override;
    void loadPage() override;

  private:
    void showFields();
    RadioGroup mic_, speaker_, language_;
    QCheckBox* hourly_ = nullptr;
};

}  // namespace orvik::device_config::ui
