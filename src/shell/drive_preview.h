#pragma once
// The picture under the pointer on the drive strip: hovering over a moment of the drive shows the
// front channel's keyframe of that moment, small, with the camera's clock and the speed then. The
// picture is decoded on a worker thread (the GUI thread only paints what has arrived) and kept in
// the thumbnail cache of the user's cache folder; while one is decoded, only the latest moment
// hovered waits its turn.
#include <QImage>
#include <QObject>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "displays/info_panel.h"
#include "trips/drive.h"

namespace orvik::shell {

class DriveStrip;

// The floating card over the strip: the picture and one line under it.
class PreviewCard : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewCard(QWidget* parent);
    void show(const QImage& picture, const QString& line, QPoint anchor);
    const QImage& picture() const { return picture_; }
    const QString& line() const { return line_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QImage picture_;
    QString line_;
};

class DrivePreview : public QObject {
    Q_OBJECT
  public:
    // A drive moment's recording (front or single file), seconds into it and its length.
    struct Moment {
        std::string path;
        double offset = 0;
        double length = 0;
    };
    using Locate = std::function<std::optional<Moment>(double driveSeconds)>;
    using SpeedDisplayFn = std::function<displays::SpeedDisplay()>;

    DrivePreview(QWidget* window, DriveStrip& strip, Locate locate, SpeedDisplayFn speedDisplay);

    PreviewCard* card() const { return card_; }
    // Thumbnails decoded (not from memory or the cache folder) since the start, for tests.
    int decodes() const { return decodes_; }

  signals:
    // A picture is shown for the moment hovered (its file and second).
    void shown(const QString& path, int second);

  private:
    struct Request {
        std::string path;
        int second = 0;
        double offset = 0;
        double length = 0;
        double driveSeconds = 0;
        QPoint anchor;
    };
    struct Done {
        std::optional<QImage> picture;
        std::vector<std::pair<double, std::int32_t>> speeds;  // per record: speed, unit code
        bool decoded = false;
    };
    void hover(double seconds, QPoint globalPos);
    void start(const Request& r);
    void finished(const Request& r, Done done);
    void present(const Request& r);

    DriveStrip& strip_;
    Locate locate_;
    SpeedDisplayFn speedDisplay_;
    PreviewCard* card_;
    std::optional<Request> wanted_;   // the moment under the pointer
    std::optional<Request> pending_;  // waits for the running decode
    bool busy_ = false;
    int decodes_ = 0;
    std::map<std::pair<std::string, int>, QImage> pictures_;
    std::map<std::string, std::vector<std::pair<double, std::int32_t>>> speeds_;
};

}  // namespace orvik::shell
