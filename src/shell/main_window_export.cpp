// The panes' context menu and evidence export: a snapshot of the moment shown, a clip between
// the in and out marks drawn on the seek bar. The menu is open to other areas through
// paneMenuRequested; no key, button or position of the window changes.
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include "export/ui/export_dialog.h"
#include "platform/strings.h"
#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "shell/main_window.h"
#include "shell/skin.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {

using exporting::ui::ExportDialog;
using playback::VideoPane;

constexpr double kUnitsPerSecond = 1e7;  // media time counts 100-ns units

// Captions show the speed in the unit the viewer shows it in.
std::optional<recordings::SpeedUnit> captionUnit(displays::SpeedDisplay display) {
    switch (display) {
        case displays::SpeedDisplay::KilometresPerHour:
            return recordings::SpeedUnit::KilometresPerHour;
        case displays::SpeedDisplay::MilesPerHour:
            return recordings::SpeedUnit::MilesPerHour;
        case displays::SpeedDisplay::AsRecorded:
            break;
    }
    return std::nullopt;
}

}  // namespace

void MainWindow::contextMenuEvent(QContextMenuEvent* e) {
    for (VideoPane* pane : {frontPane_, rearPane_}) {
        if (pane && pane->isVisible() && pane->geometry().contains(e->pos())) {
            showPaneMenu(pane, e->globalPos());
            e->accept();
            return;
        }
    }
    QWidget::contextMenuEvent(e);
}

QString MainWindow::paneFile(const VideoPane* pane) const {
    if (!playback_)
        return {};
    return pane == frontPane_ ? playback_->frontPath() : playback_->rearPath();
}

void MainWindow::showPaneMenu(VideoPane* pane, const QPoint& globalPos) {
    const QString file = paneFile(pane);
    const bool playing = !file.isEmpty() && seekBar_->isEnabled();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("paneMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* snapshot = menu->addAction(uiText(exporting::ui::kStrSnapshotMenu), this,
                                        [this, file] { snapshotCommand(file); });
    snapshot->setObjectName(QStringLiteral("snapshotAction"));
    snapshot->setEnabled(playing);
    QAction* clip = menu->addAction(uiText(exporting::ui::kStrExportClipMenu), this,
                                    [this, file] { exportClipCommand(file); });
    clip->setObjectName(QStringLiteral("exportClipAction"));
    clip->setEnabled(playing);
    menu->addSeparator();
    QAction* in =
        menu->addAction(uiText(exporting::ui::kStrMarkIn), this, [this] { markClipIn(); });
    in->setObjectName(QStringLiteral("markInAction"));
    in->setEnabled(playing);
    QAction* out =
        menu->addAction(uiText(exporting::ui::kStrMarkOut), this, [this] { markClipOut(); });
    out->setObjectName(QStringLiteral("markOutAction"));
    out->setEnabled(playing);
    QAction* clear =
        menu->addAction(uiText(exporting::ui::kStrClearMarks), this, [this] { clearClipMarks(); });
    clear->setObjectName(QStringLiteral("clearMarksAction"));
    clear->setEnabled(clipIn_.has_value() || clipOut_.has_value());
    emit paneMenuRequested(menu, pane);
    menu->popup(globalPos);
}

void MainWindow::snapshotCommand(const QString& file) {
    if (file.isEmpty())
        return;
    const double at = static_cast<double>(seekBar_->position()) / kUnitsPerSecond;
    auto* dialog = new ExportDialog(ExportDialog::Mode::Snapshot, file, at, at, this);
    dialog->setSpeedUnit(captionUnit(speedDisplay_));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::exportClipCommand(const QString& file) {
    if (file.isEmpty())
        return;
    // Between the marks; a missing mark is the start or the end of the recording.
    const std::int64_t end = seekBar_->maximum();
    std::int64_t from = clipIn_.value_or(0);
    std::int64_t to = clipOut_.value_or(end);
    if (to <= from) {
        from = 0;
        to = end;
    }
    auto* dialog = new ExportDialog(ExportDialog::Mode::Clip, file,
                                    static_cast<double>(from) / kUnitsPerSecond,
                                    static_cast<double>(to) / kUnitsPerSecond, this);
    dialog->setSpeedUnit(captionUnit(speedDisplay_));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::markClipIn() {
    clipIn_ = seekBar_->position();
    if (clipOut_ && *clipOut_ <= *clipIn_)
        clipOut_.reset();
    refreshSeekBarMarks();
}

void MainWindow::markClipOut() {
    clipOut_ = seekBar_->position();
    if (clipIn_ && *clipIn_ >= *clipOut_)
        clipIn_.reset();
    refreshSeekBarMarks();
}

void MainWindow::clearClipMarks() {
    clipIn_.reset();
    clipOut_.reset();
    refreshSeekBarMarks();
}

void MainWindow::setExtraSeekBarMarks(std::vector<SliderMark> marks) {
    extraSeekBarMarks_ = std::move(marks);
    refreshSeekBarMarks();
}

void MainWindow::refreshSeekBarMarks() {
    std::vector<SliderMark> marks = extraSeekBarMarks_;
    if (clipIn_)
        marks.push_back({*clipIn_, SliderMarkKind::In});
    if (clipOut_)
        marks.push_back({*clipOut_, SliderMarkKind::Out});
    seekBar_->setMarks(std::move(marks));
}

}  // namespace orvik::shell
