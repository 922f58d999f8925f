#include "shell/drive_strip.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "shell/skin.h"

namespace orvik::shell {

namespace {

// Room kept between the clock texts and the blocks, so the playing moment's handle stays whole at
// the drive's ends.
constexpr int kInset = 3;
constexpr int kTextPad = 3;

}  // namespace

QString clockOf(trips::LocalTime t) {
    const auto day = std::chrono::floor<std::chrono::days>(t);
    const std::chrono::hh_mm_ss hms{std::chrono::round<std::chrono::seconds>(t - day)};
    return QStringLiteral("%1:%2:%3")
        .arg(hms.hours().count(), 2, 10, QLatin1Char('0'))
        .arg(hms.minutes().count(), 2, 10, QLatin1Char('0'))
        .arg(hms.seconds().count(), 2, 10, QLatin1Char('0'));
}

DriveStrip::DriveStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("driveStrip"));
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    QFont small = font();
    small.setPixelSize(9);
    setFont(small);
    hide();
}

QString DriveStrip::startText() const {
    return drive_.empty() ? QString() : clockOf(drive_.start());
}

QString DriveStrip::endText() const {
    return drive_.empty() ? QString() : clockOf(drive_.localTimeAt(drive_.lengthSeconds()));
}

std::pair<int, int> DriveStrip::timeline() const {
    const QFontMetrics fm(font());
    const int left = fm.horizontalAdvance(startText()) + 2 * kTextPad + kInset;
    const int right = width() - fm.horizontalAdvance(endText()) - 2 * kTextPad - kInset;
    return {left, std::max(left + 1, right)};
}

void DriveStrip::setDrive(trips::Drive drive) {
    drive_ = std::move(drive);
    setVisible(!drive_.empty());
    update();
}

void DriveStrip::setMoment(double seconds) {
    if (pressed_ || seconds == moment_)
        return;
    moment_ = seconds;
    update();
}

void DriveStrip::setClipMarks(std::optional<double> in, std::optional<double> out) {
    in_ = in;
    out_ = out;
    update();
}

double DriveStrip::secondsAt(int x) const {
    const auto [left, right] = timeline();
    const double f = std::clamp(static_cast<double>(x - left) / (right - left), 0.0, 1.0);
    return f * drive_.lengthSeconds();
}

int DriveStrip::xOf(double seconds) const {
    const auto [left, right] = timeline();
    const double length = drive_.lengthSeconds();
    const double f = length > 0 ? std::clamp(seconds / length, 0.0, 1.0) : 0.0;
    return left + static_cast<int>(std::lround(f * (right - left)));
}

void DriveStrip::paintEvent(QPaintEvent*) {
    if (drive_.empty())
        return;
    QPainter p(this);
    p.fillRect(rect(), QColor(0x0b, 0x0d, 0x10));
    // Recordings: a block each, one pixel apart where they touch so the cuts stay readable;
    // the played part brighter.
    const int played = xOf(moment_);
    for (const trips::DriveBlock& b : drive_.blocks()) {
        const int left = xOf(b.startSeconds);
        const int right = std::max(left + 1, xOf(b.endSeconds()) - 1);
        const bool event = b.kind == recordings::RecordingKind::Event;
        const QColor base = event ? QColor(0x7a, 0x5a, 0x1c) : QColor(0x2c, 0x4a, 0x6e);
        const QColor lit = event ? QColor(0xc8, 0x8e, 0x22) : QColor(0x3b, 0x8e, 0xe0);
        const QRect block(left, 1, right - left, height() - 2);
        p.fillRect(block, base);
        if (played > left)
            p.fillRect(block.intersected(QRect(left, 1, played - left, height() - 2)), lit);
    }
    for (const trips::DriveMark& m : drive_.marks()) {
        const int x = xOf(m.seconds);
        p.fillRect(QRect(x - 1, 0, 3, height()), QColor(0x0b, 0x0d, 0x10));
        p.fillRect(
            QRect(x, 0, 1, height()),
            SkinSlider::markColour(m.kind == trips::EventKind::Impact ? SliderMarkKind::Impact
                                                                      : SliderMarkKind::Event));
    }
    for (const auto& [mark, kind] :
         {std::pair{in_, SliderMarkKind::In}, std::pair{out_, SliderMarkKind::Out}}) {
        if (mark)
            p.fillRect(QRect(xOf(*mark) - 1, 0, 2, height()), SkinSlider::markColour(kind));
    }
    paintEnds(p);
    // The playing moment: a white bar with a dark rim, above everything else.
    p.fillRect(QRect(played - 2, 0, 5, height()), QColor(0x0b, 0x0d, 0x10));
    p.fillRect(QRect(played - 1, 0, 3, height()), Qt::white);
}

// The camera's clock at the drive's start and end, beside the blocks.
void DriveStrip::paintEnds(QPainter& p) {
    const auto [left, right] = timeline();
    p.setPen(QColor(0xd7, 0xde, 0xe6));
    p.drawText(QRect(0, 0, left - kInset, height()), Qt::AlignCenter, startText());
    p.drawText(QRect(right + kInset, 0, width() - right - kInset, height()), Qt::AlignCenter,
               endText());
}

void DriveStrip::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || drive_.empty())
        return;
    pressed_ = true;
    moment_ = secondsAt(e->position().toPoint().x());
    update();
    emit dragged(moment_);
}

void DriveStrip::mouseMoveEvent(QMouseEvent* e) {
    const double at = secondsAt(e->position().toPoint().x());
    if (pressed_) {
        moment_ = at;
        update();
        emit dragged(at);
    } else if (!drive_.empty()) {
        emit hovered(at, e->globalPosition().toPoint());
    }
}

void DriveStrip::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    moment_ = secondsAt(e->position().toPoint().x());
    update();
    emit released(moment_);
}

void DriveStrip::leaveEvent(QEvent*) {
    emit left();
}

}  // namespace orvik::shell
