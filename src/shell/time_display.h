#pragma once
// The playing moment in the transport strip: the camera's clock at that moment, the position
// within the recording and its length ("08:15:27 · 0:12 / 1:00"), and the file's name under it.
// It sits in the caption bar between the title's lettering and Minimize, in both layouts, so no
// control moves for it. Fed by the playback's signals; holds no moment of its
// own beyond what it shows. Within a drive the position and length are the drive's.
#include <QString>
#include <QWidget>
#include <optional>

#include "playback/media_time.h"
#include "recordings/recording_file.h"

namespace orvik::shell {

// "0:12", "1:02:03" for an hour or more; negative positions count as 0.
QString clockDuration(playback::MediaTime t);
// The first line: the camera's clock (when the name carries a valid date and time), position and
// length ("08:15:27 · 0:12 / 1:00"); without a known length only the position.
// Within a drive, `position` and `length` are the drive's and `sinceStart` the moment's time since
// the file name's start (the clock).
QString momentLine(const std::optional<recordings::RecordingTimestamp>& start,
                   playback::MediaTime position, std::optional<playback::MediaTime> length,
                   std::optional<playback::MediaTime> sinceStart = std::nullopt);

class TimeDisplay : public QWidget {
    Q_OBJECT
  public:
    explicit TimeDisplay(QWidget* parent);

    QString momentText() const { return moment_; }
    QString fileText() const { return file_; }

  public slots:
    // The recording now playing ("" : nothing plays, the display is empty); its length comes
    // first, through setLength().
    void setRecording(const QString& path);
    void setLength(bool seekable, orvik::playback::MediaTime length);
    void setPosition(orvik::playback::MediaTime position);
    // The playing recording's place in its drive: where it starts and how long the drive is;
    // nothing outside a drive.
    void setDrive(std::optional<orvik::playback::MediaTime> recordingStart,
                  orvik::playback::MediaTime driveLength);

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    void refresh();

    std::optional<recordings::RecordingTimestamp> start_;
    playback::MediaTime position_;
    std::optional<playback::MediaTime> length_;
    std::optional<playback::MediaTime> driveStart_;
    playback::MediaTime driveLength_;
    bool playing_ = false;
    QString moment_;
    QString file_;
};

}  // namespace orvik::shell
