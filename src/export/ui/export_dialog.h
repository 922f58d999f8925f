#pragma once
// The viewer's dialog for a clip or a snapshot of the playing recording: layout, caption, a
// preview frame, where to save; the export runs on a worker thread with a progress bar and
// Cancel, and the result is shown in the file manager. Layout, caption, folder and picture type
// are remembered per user for the next export.
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
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

// Preview requests for the worker: only the newest waits; `closed` once the dialog is gone.
struct PreviewQueue {
    struct Job {
        SnapshotRequest request;
        int generation = 0;
    };
    std::mutex m;
    std::condition_variable wake;
    std::optional<Job> next;
    bool closed = false;
    std::string file;  // the preview picture, in the user's private folder
};

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
    // A clip over several recordings of a drive (in time order): exported instead of the range,
    // which then only names the stretch (from the first recording's start).
    void setPieces(std::vector<ClipPiece> pieces) { pieces_ = std::move(pieces); }
    const std::vector<ClipPiece>& pieces() const { return pieces_; }
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
    static void runPreviews(std::shared_ptr<PreviewQueue> queue,
                            const QPointer<ExportDialog>& dialog);
    void showPreview(const QImage& picture, int generation);
    void browse();
    void finish(bool ok, const QString& message);
    Layout chosenLayout() const;
    // The output proposed: the last export's folder and picture type, the recording's name.
    QString defaultOutput() const;
    // Layout, caption, folder and picture type, for the next dialog.
    void rememberChoices() const;

    Mode mode_;
    QString recording_;
    double from_, to_;
    std::vector<ClipPiece> pieces_;
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
    std::atomic<bool> cancel_{false};
    bool finished_ = false;
    // Shared with the preview worker, which outlives the dialog when a preview is still being
    // made as it closes (the GUI thread never waits for one).
    std::shared_ptr<PreviewQueue> previews_;
    int previewGeneration_ = 0;
};

}  // namespace orvik::exporting::ui
