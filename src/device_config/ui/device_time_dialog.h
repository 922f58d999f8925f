#pragma once
// The modal "Device Time" dialog: the user picks a date and a time and Save writes them into the
// card's "timeset.cfg", from which the camera sets its clock.
#include <QDialog>

class QDateEdit;
class QTimeEdit;

namespace orvik::device_config::ui {

class DeviceTimeDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 131;

    // Looks for an existing "timeset.cfg" on the removable volumes, then on the opened card.
    explicit DeviceTimeDialog(QWidget* parent = nullptr);

    QString rememberedPath() const { return path_; }
    // Where Save wrote the file; "" until one went through.
    QString savedPath() const { return savedPath_; }
    QDateEdit* datePicker() const { return date_; }
    QTimeEdit* timePicker() const { return time_; }

    // Writes the file; closes the dialog on success, keeps it open (with a message) otherwise.
    void save();

  private:
    QString path_;
    QString savedPath_;
    QDateEdit* date_ = nullptr;
    QTimeEdit* time_ = nullptr;
};

}  // namespace orvik::device_config::ui
