#include "shell/time_display.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "shell/skin.h"

namespace orvik::shell {

using playback::MediaTime;

QString clockDuration(MediaTime t) {
    const auto total = std::max<std::int64_t>(0, t.units() / MediaTime::kUnitsPerSecond);
    const auto h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString momentLine(const std::optional<recordings::RecordingTimestamp>& start, MediaTime position,
                   std::optional<MediaTime> length, std::optional<MediaTime> sinceStart) {
    QString line = clockDuration(position);
    if (length)
        line += QStringLiteral(" / ") + clockDuration(*length);
    if (start && start->validDate() && start->validTime()) {
        const QDateTime begin(QDate(start->year, start->month, start->day),
                              QTime(start->hour, start->minute, start->second));
        const auto seconds = std::max<std::int64_t>(
            0, sinceStart.value_or(position).units() / MediaTime::kUnitsPerSecond);
        line = begin.addSecs(seconds).toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" · ") +
               line;
    }
    return line;
}

TimeDisplay::TimeDisplay(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("timeDisplay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(SkinRegistry::instance().font(skin::kFontList));
}

void TimeDisplay::setRecording(const QString& path) {
    playing_ = !path.isEmpty();
    const QString name = QFileInfo(path).fileName();
    const auto parsed = recordings::parseRecordingName(name.toStdString());
    start_ = parsed.kind == recordings::RecordingKind::Unknown
                 ? std::nullopt
                 : std::optional<recordings::RecordingTimestamp>(parsed.timestamp);
    file_ = name;
    // The length and moment of this recording came just before (lengthChanged precedes it).
    refresh();
}

void TimeDisplay::setLength(bool seekable, MediaTime length) {
    position_ = MediaTime{};
    if (seekable && length > MediaTime{})
        length_ = length;
    else
        length_.reset();
    refresh();
}

void TimeDisplay::setPosition(MediaTime position) {
    position_ = position;
    refresh();
}

void TimeDisplay::setDrive(std::optional<MediaTime> recordingStart, MediaTime driveLength) {
    driveStart_ = recordingStart;
    driveLength_ = driveLength;
    refresh();
}

void TimeDisplay::refresh() {
    if (!playing_)
        moment_.clear();
    else if (driveStart_)
        moment_ = momentLine(start_, *driveStart_ + position_, driveLength_, position_);
    else
        moment_ = momentLine(start_, position_, length_);
    if (!playing_)
        file_.clear();
    setToolTip(file_);
    update();
}

void TimeDisplay::paintEvent(QPaintEvent*) {
    if (moment_.isEmpty() && file_.isEmpty())
        return;
    // The moment above, the file's name smaller and dimmer below it, both right-aligned towards
    // the caption buttons.
    QPainter p(this);
    const int lineHeight = height() / 2;
    p.setFont(font());
    p.setPen(QColor(0xd7, 0xde, 0xe6));
    p.drawText(QRect(0, 0, width(), lineHeight), Qt::AlignRight | Qt::AlignVCenter, moment_);
    QFont small = font();
    small.setPixelSize(std::max(9, font().pixelSize() - 2));
    p.setFont(small);
    p.setPen(QColor(0x9a, 0xa3, 0xad));
    p.drawText(QRect(0, lineHeight, width(), height() - lineHeight),
               Qt::AlignRight | Qt::AlignVCenter,
               QFontMetrics(small).elidedText(file_, Qt::ElideMiddle, width()));
}

}  // namespace orvik::shell
