#pragma once
// The base of the seven settings pages and the control helpers they share. Every control carries
// its resource id as objectName, so tests and the Korean page set find the same controls.
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <vector>

#include "device_config/ui/editor_state.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QRadioButton;

namespace orvik::device_config::ui {

// A group box holding one row widget (a radio row, a list, a slider with its caption).
inline QGroupBox* withRow(QGroupBox* box, QWidget* row) {
    (new QVBoxLayout(box))->addWidget(row);
    return box;
}

// Page size inside the tab control.
inline constexpr int kPageWidth = 626;
inline constexpr int kPageHeight = 494;

QString idName(int id);

// A run of consecutive radio ids holding one field as the position of the checked radio. The
// radios are not auto-exclusive: a click checks the clicked radio and reports its position, even
// when it was already checked (the video-quality warning relies on that).
class RadioGroup {
  public:
    RadioGroup() = default;
    // Radios first..last; captions, when given, are the text ids shown beside each radio.
    void create(int first, int last, const std::vector<int>& captionIds = {});
    QRadioButton* at(int position) const { return buttons_[position]; }
    int size() const { return static_cast<int>(buttons_.size()); }
    QWidget* caption(int position) const;
    // Checks the radio at `position` and unchecks the others; an out-of-range position leaves
    // none checked.
    void show(int position);
    int checked() const;
    void setEnabled(bool enabled);
    void onClicked(const std::function<void(int)>& handler);
    // Lays the radios out in `columns` columns (0 = one row).
    QWidget* row(int columns = 0) const;

  private:
    std::vector<QRadioButton*> buttons_;
    std::vector<QLabel*> captions_;
};

// A caption beside a radio or check box; clicking it clicks its button.
class ButtonCaption : public QLabel {
  public:
    ButtonCaption(const QString& text, QAbstractButton* buddy);

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QAbstractButton* buddy_;
};

class SettingsPage : public QWidget {
    Q_OBJECT
  public:
    SettingsPage(EditorState& state, int resourceId, QWidget* parent = nullptr);
    int resourceId() const { return resourceId_; }

    // The opening step: fills the lists, shows the image and applies the opening rules.
    virtual void openPage() = 0;
    // Initialize's load step: selects the controls from the image without refilling lists.
    virtual void loadPage() = 0;

  signals:
    void speedUnitChanged(int speedUnit);
    void busModeChanged(int busMode);

  protected:
    uint32_t get(std::string_view field) const { return state_.get(field); }
    void set(std::string_view field, uint32_t value) { state_.set(field, value); }

    QGroupBox* group(int textId);
    QCheckBox* checkBox(int id);
    QComboBox* list(int id);
    QLabel* caption(int id);
    // A group, with its controls, that exists but is never shown or used.
    void hide(QWidget* widget);
    void warn(int textId, const QString& caption = {});

    EditorState& state_;

  private:
    int resourceId_;
};

}  // namespace orvik::device_config::ui
