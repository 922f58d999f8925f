#include "shell/drive_preview.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "recordings/telemetry.h"
#include "shell/drive_strip.h"
#include "shell/skin.h"
#include "shell/thumbnail_image.h"
#include "thumbnails/thumbnail.h"
#include "ui_common/background.h"

namespace orvik::shell {

namespace {

constexpr int kPictureWidth = thumbnails::kDefaultWidth;
constexpr int kLineHeight = 18;
constexpr int kBorder = 2;
// The seek bar lies right above the strip: the card stays clear of it.
constexpr int kClearAboveStrip = 16;
// Pictures kept in memory (about 60 KB each): a long drive hovered end to end.
constexpr std::size_t kMemoryPictures = 400;

}  // namespace

PreviewCard::PreviewCard(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("drivePreview"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont f = SkinRegistry::instance().font(skin::kFontList);
    setFont(f);
    hide();
}

void PreviewCard::show(const QImage& picture, const QString& line, QPoint anchor) {
    picture_ = picture;
    line_ = line;
    const QSize size(picture.width() + 2 * kBorder, picture.height() + kLineHeight + 2 * kBorder);
    // Centred over the pointer, its bottom just above `anchor`, never past the window's sides.
    const QWidget* window = parentWidget();
    const int x = std::clamp(anchor.x() - size.width() / 2, 2,
                             std::max(2, window->width() - size.width() - 2));
    const int y = std::max(2, anchor.y() - size.height() - 4);
    setGeometry(QRect(QPoint(x, y), size));
    raise();
    QWidget::show();
    update();
}

void PreviewCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0x0b, 0x0d, 0x10));
    p.setPen(QColor(0x3b, 0x8e, 0xe0));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.drawImage(QPoint(kBorder, kBorder), picture_);
    p.setPen(QColor(0xd7, 0xde, 0xe6));
    p.drawText(QRect(kBorder, kBorder + picture_.height(), picture_.width(), kLineHeight),
               Qt::AlignCenter, line_);
}

DrivePreview::DrivePreview(QWidget* window, DriveStrip& strip, Locate locate,
                           SpeedDisplayFn speedDisplay)
    : QObject(window),
      strip_(strip),
      locate_(std::move(locate)),
      speedDisplay_(std::move(speedDisplay)),
      card_(new PreviewCard(window)) {
    connect(&strip_, &DriveStrip::hovered, this, &DrivePreview::hover);
    connect(&strip_, &DriveStrip::left, this, [this] {
        wanted_.reset();
        card_->hide();
    });
    // A press moves the moment: the preview would cover what the user came to see.
    connect(&strip_, &DriveStrip::dragged, this, [this] {
        wanted_.reset();
        card_->hide();
    });
}

void DrivePreview::hover(double seconds, QPoint globalPos) {
    const auto at = locate_(seconds);
    if (!at) {
        card_->hide();
        return;
    }
    Request r;
    r.path = at->path;
    r.offset = at->offset;
    r.length = at->length;
    r.second = static_cast<int>(std::floor(std::max(0.0, at->offset)));
    r.driveSeconds = seconds;
    const QWidget* window = card_->parentWidget();
    r.anchor = QPoint(window->mapFromGlobal(globalPos).x(),
                      strip_.mapTo(window, QPoint()).y() - kClearAboveStrip);
    wanted_ = r;
    if (pictures_.count({r.path, r.second})) {
        present(r);
        return;
    }
    if (busy_)
        pending_ = r;  // only the latest moment is worth decoding next
    else
        start(r);
}

void DrivePreview::start(const Request& r) {
    busy_ = true;
    const bool needSpeeds = !speeds_.count(r.path);
    ui_common::runDetached(
        this,
        [r, needSpeeds, cache = userThumbnailCache()] {
            Done done;
            const auto file = cache.fileFor(r.path, r.second, kPictureWidth);
            const bool cached = !file.empty() && std::filesystem::exists(file);
            if (auto t = cache.get(r.path, r.second, kPictureWidth)) {
                done.picture = imageOf(*t);
                done.decoded = !cached;
            }
            if (needSpeeds) {
                recordings::TelemetryTrack track;
                if (track.readRecording(r.path) == S_OK) {
                    for (const auto& fix : track.fixes())
                        done.speeds.emplace_back(fix.speed, fix.speedUnitCode);
                }
            }
            return done;
        },
        [this, r](Done done) { finished(r, std::move(done)); },
        // Below the players' threads: a picture a few milliseconds later, never a late frame.
        ui_common::Priority::Low);
}

void DrivePreview::finished(const Request& r, Done done) {
    busy_ = false;
    if (done.decoded)
        ++decodes_;
    if (!speeds_.count(r.path))
        speeds_[r.path] = std::move(done.speeds);
    if (done.picture) {
        if (pictures_.size() >= kMemoryPictures)
            pictures_.erase(pictures_.begin());
        pictures_[{r.path, r.second}] = *done.picture;
    }
    if (wanted_ && wanted_->path == r.path && wanted_->second == r.second)
        present(*wanted_);
    if (pending_) {
        Request next = *pending_;
        pending_.reset();
        if (pictures_.count({next.path, next.second})) {
            if (wanted_ && wanted_->path == next.path && wanted_->second == next.second)
                present(*wanted_);
        } else {
            start(next);
        }
    }
}

void DrivePreview::present(const Request& r) {
    const auto picture = pictures_.find({r.path, r.second});
    if (picture == pictures_.end())
        return;
    QString line = clockOf(strip_.drive().localTimeAt(r.driveSeconds));
    const auto& speeds = speeds_[r.path];
    if (!speeds.empty()) {
        // The records spread evenly over the recording, as the readouts take them.
        const auto& [speed, unit] = speeds[recordings::entryIndex(
            speeds.size(), std::llround(r.offset * 1000), std::llround(r.length * 1000))];
        line += QStringLiteral(" · ") +
                QString::fromStdString(displays::speedText(speed, unit, speedDisplay_()));
    }
    card_->show(picture->second, line, r.anchor);
    emit shown(QString::fromStdString(r.path), r.second);
}

}  // namespace orvik::shell
