#pragma once
// The viewer's dialog for a clip or a snapshot of the playing recording: layout, caption, a
// preview frame, where to save; the export runs on a worker thread with a progress bar and
// Cancel, and the result is shown in the file manager.
#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "export/export.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace orvik::exporting::ui {

class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    enum class Mode { Clip, Snapshot };

    // `fromSeconds`/`toSeconds`: the clip's range; a snapshot uses `fromSeconds` as its moment.
    ExportDialog(Mode mode, const QString& recording, double fromSeconds, double toSeconds,
                 QWidget* parent = nullptr);
    ~ExportDialog() override;

    // Where a finished export is shown; by default the file manager opens its folder. Tests
    // replace it.
    static void setRevealHandler(std::function<void(const QString& file)> handler);

    QString outputPath() const;
    // The caption's speed in this unit (the viewer's choice); as recorded when empty.
    void setSpeedUnit(std::optional<recordings::SpeedUnit> unit);
    std::optional<recordings::SpeedUnit> speedUnit() const { return speedUnit_; }
    bool running() const { return worker_.joinable() && !finished_; }

    // Escape or closing while an export runs cancels it first.
    void reject() override;

  signals:
    // The export ended: success, or an error text ("cancelled" when the user cancelled).
    void exportFinished(bool ok, const QString& message);

  private:
    void start();
    void cancelOrClose();
    void refreshPreview();
    void browse();
    void finish(bool ok, const QString& message);
    Layout chosenLayout() const;
    QString defaultOutput() const;

    Mode mode_;
    QString recording_;
    double from_, to_;
    std::optional<recordings::SpeedUnit> speedUnit_;
    QComboBox* layout_ = nullptr;
    QCheckBox* caption_ = nullptr;
    QLabel* preview_ = nullptr;
    QLineEdit* output_ = nullptr;
    QCheckBox* replace_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::thread worker_;
    std::thread previewWorker_;
    std::atomic<bool> cancel_{false};
    std::atomic<int> previewGeneration_{0};
    bool finished_ = false;
    QString previewFile_;
};

}  // namespace orvik::exporting::ui
