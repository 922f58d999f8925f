#pragma once
// The viewer's dialog for an evidence package of the stretch between the in and out marks:
// the clip's layout and caption, the report's language and note, the first still as a preview,
// the folder. The package is made on a worker thread with a progress bar and Cancel (a
// cancelled package leaves no folder behind); the finished folder is shown in the file manager.
#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "recordings/telemetry.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace orvik::evidence::ui {

class EvidenceDialog : public QDialog {
    Q_OBJECT
  public:
    // The stretch [fromSeconds, toSeconds) of `recording` (a front or a rear file).
    EvidenceDialog(const QString& recording, double fromSeconds, double toSeconds,
                   QWidget* parent = nullptr);

    // Where a finished package is shown; by default the file manager opens the folder. Tests
    // replace it.
    static void setRevealHandler(std::function<void(const QString& folder)> handler);

    QString folder() const;
    // Speeds in this unit (the viewer's choice); as recorded when empty.
    void setSpeedUnit(std::optional<recordings::SpeedUnit> unit) { speedUnit_ = unit; }
    bool running() const { return running_; }

    // Escape or closing while a package is made cancels it first.
    void reject() override;
    // A dialog closed while a package is made (the viewer quits) cancels it; the work ends on
    // its own thread, never waited for here.
    ~EvidenceDialog() override;

  signals:
    // The package is made (message: its folder) or not (the error; "cancelled" when cancelled).
    void packageFinished(bool ok, const QString& message);

  private:
    void start();
    void showProgress(int value, int textId);
    void finish(bool ok, const QString& message);
    void browse();
    void makePreview();
    void setEditable(bool editable);
    QString defaultFolder() const;

    QString recording_;
    double from_, to_;
    std::optional<recordings::SpeedUnit> speedUnit_;
    QComboBox* layout_ = nullptr;
    QCheckBox* caption_ = nullptr;
    QComboBox* language_ = nullptr;
    QPlainTextEdit* note_ = nullptr;
    QLabel* preview_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* browse_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* makeButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    // Shared with the work, which may outlive the dialog.
    std::shared_ptr<std::atomic<bool>> cancel_;
    bool running_ = false;
};

}  // namespace orvik::evidence::ui
