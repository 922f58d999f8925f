#include "shell/export_menu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include "evidence/ui/evidence_dialog.h"
#include "export/ui/export_dialog.h"
#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using exporting::ui::ExportDialog;
using playback::MediaTime;
using playback::VideoPane;
using ui_common::uiText;
namespace text = strings::exporting;

namespace {

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

ExportMenu::ExportMenu(QWidget* window, playback::PlaybackController& playback,
                       SpeedDisplay speedDisplay, Extend extend)
    : QObject(window),
      window_(window),
      playback_(playback),
      speedDisplay_(std::move(speedDisplay)),
      extend_(std::move(extend)) {}

QString ExportMenu::paneFile(const VideoPane* pane) const {
    return pane == playback_.frontPane() ? playback_.frontPath() : playback_.rearPath();
}

void ExportMenu::showPaneMenu(VideoPane* pane, const QPoint& globalPos) {
    const QString file = paneFile(pane);
    const bool playing = !file.isEmpty() && playback_.seekable();
    auto* menu = new QMenu(window_);
    menu->setObjectName(QStringLiteral("paneMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto add = [&](int textId, const char* name, bool enabled, std::function<void()> run) {
        QAction* a = menu->addAction(uiText(textId), this, std::move(run));
        a->setObjectName(QString::fromLatin1(name));
        a->setEnabled(enabled);
    };
    add(text::kSnapshotMenu, "snapshotAction", playing, [this, file] { snapshot(file); });
    add(text::kExportClipMenu, "exportClipAction", playing, [this, file] { exportClip(file); });
    add(strings::evidence::kEvidencePackageMenu, "evidencePackageAction", playing,
        [this, file] { evidencePackage(file); });
    menu->addSeparator();
    add(text::kMarkIn, "markInAction", playing, [this] { playback_.markIn(); });
    add(text::kMarkOut, "markOutAction", playing, [this] { playback_.markOut(); });
    add(text::kClearMarks, "clearMarksAction",
        playback_.markedIn().has_value() || playback_.markedOut().has_value(),
        [this] { playback_.clearMarks(); });
    if (extend_)
        extend_(menu, pane);
    menu->popup(globalPos);
}

void ExportMenu::snapshot(const QString& file) {
    if (file.isEmpty())
        return;
    const double at = playback_.position().seconds();
    auto* dialog = new ExportDialog(ExportDialog::Mode::Snapshot, file, at, at, window_);
    dialog->setSpeedUnit(captionUnit(speedDisplay_()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

std::pair<double, double> ExportMenu::markedStretch() const {
    MediaTime from = playback_.markedIn().value_or(MediaTime{});
    MediaTime to = playback_.markedOut().value_or(playback_.length());
    if (to <= from) {
        from = MediaTime{};
        to = playback_.length();
    }
    return {from.seconds(), to.seconds()};
}

bool ExportMenu::showsRear(const QString& file) const {
    return !playback_.rearPath().isEmpty() && file == playback_.rearPath() &&
           file != playback_.frontPath();
}

void ExportMenu::exportClip(const QString& file) {
    if (file.isEmpty())
        return;
    auto [from, to] = markedStretch();
    QString first = file;
    std::vector<exporting::ClipPiece> pieces;
    // Marks in different recordings: the clip runs on across the drive, in the pane's channel.
    if (const auto stretch = driveStretch_ ? driveStretch_() : std::nullopt) {
        for (const trips::RangePiece& p : stretch->range.pieces)
            pieces.push_back({p.file(showsRear(file)), p.fromSeconds, p.toSeconds});
        first = QString::fromStdString(pieces.front().input);
        from = pieces.front().fromSeconds;
        to = from + stretch->seconds;
    }
    auto* dialog = new ExportDialog(ExportDialog::Mode::Clip, first, from, to, window_);
    dialog->setPieces(std::move(pieces));
    dialog->setSpeedUnit(captionUnit(speedDisplay_()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void ExportMenu::evidencePackage(const QString& file) {
    if (file.isEmpty())
        return;
    auto [from, to] = markedStretch();
    QString first = file;
    // Marks in different recordings: from the in mark's recording on, past its end into the
    // drive.
    if (const auto stretch = driveStretch_ ? driveStretch_() : std::nullopt) {
        const trips::RangePiece& p = stretch->range.pieces.front();
        first = QString::fromStdString(p.file(showsRear(file)));
        from = p.fromSeconds;
        to = from + stretch->seconds;
    }
    auto* dialog = new evidence::ui::EvidenceDialog(first, from, to, window_);
    dialog->setSpeedUnit(captionUnit(speedDisplay_()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

}  // namespace orvik::shell
