#pragma once
// The whole drive of the playing recording under the seek bar: each recording a block (gaps
// between them left open, Event recordings in amber), events and impacts as ticks, the clip's
// in and out marks, the playing moment, and the camera's clock at both ends. A press or drag
// shows where it would go; the release asks to go there. It holds no moment of its own beyond
// what it shows: the playback owner's position comes in through setMoment().
#include <QWidget>
#include <optional>
#include <utility>

#include "trips/drive.h"

namespace orvik::shell {

// "08:15:27": the camera's clock, to the nearest second.
QString clockOf(trips::LocalTime t);

class DriveStrip : public QWidget {
    Q_OBJECT
  public:
    explicit DriveStrip(QWidget* parent);

    // The drive to show; an empty one hides the strip.
    void setDrive(trips::Drive drive);
    const trips::Drive& drive() const { return drive_; }
    // The playing moment, seconds since the drive's start (left alone while the user drags).
    void setMoment(double seconds);
    double moment() const { return moment_; }
    // The clip's in and out points, seconds since the drive's start.
    void setClipMarks(std::optional<double> in, std::optional<double> out);
    std::optional<double> clipIn() const { return in_; }
    std::optional<double> clipOut() const { return out_; }
    bool isPressed() const { return pressed_; }

    // The drive's second under x (clamped to the drive) and the x of a second.
    double secondsAt(int x) const;
    int xOf(double seconds) const;
    // The camera's clock at the drive's ends, as shown beside the blocks.
    QString startText() const;
    QString endText() const;

  signals:
    // The left button went down or moved while down: the moment the pointer is over.
    void dragged(double seconds);
    // The left button went up there: go to that moment.
    void released(double seconds);
    // The pointer rests over a moment (no button down), at `globalPos`; left() when it leaves.
    void hovered(double seconds, QPoint globalPos);
    void left();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;

  private:
    void paintEnds(QPainter& p);
    // The pixels the drive's first and last moments are drawn at.
    std::pair<int, int> timeline() const;

    trips::Drive drive_;
    double moment_ = 0;
    std::optional<double> in_;
    std::optional<double> out_;
    bool pressed_ = false;
};

}  // namespace orvik::shell
