#include "shell/list_pictures.h"

#include <QMetaObject>
#include <optional>
#include <string>

#include "shell/thumbnail_image.h"
#include "ui_common/background.h"

namespace orvik::shell {

namespace {
// About 9 KB each: a few screens of rows scrolled back and forth stay in memory; the cache folder
// keeps the rest.
constexpr int kPicturesInMemory = 1000;
}  // namespace

ListPictures::ListPictures(QObject* parent, VisibleRows visibleRows)
    : QObject(parent), visibleRows_(std::move(visibleRows)), pictures_(kPicturesInMemory) {}

const QPixmap* ListPictures::picture(const QString& path, int row) {
    if (const QPixmap* p = pictures_.object(path))
        return p;
    if (path.isEmpty() || failed_.count(path) || waitingPaths_.count(path) ||
        runningPaths_.count(path))
        return nullptr;
    waiting_.push_back({path, row});
    waitingPaths_.insert(path);
    schedule();
    return nullptr;
}

void ListPictures::rowsChanged() {
    waiting_.clear();
    waitingPaths_.clear();
    failed_.clear();  // a listing again may find a recording that has been mended since
}

void ListPictures::schedule() {
    // Painting asks row by row; the workers start once the whole screen has asked, top first.
    if (pumpPosted_)
        return;
    pumpPosted_ = true;
    QMetaObject::invokeMethod(this, &ListPictures::pump, Qt::QueuedConnection);
}

void ListPictures::pump() {
    pumpPosted_ = false;
    const auto [first, last] = visibleRows_();
    while (!waiting_.empty() && static_cast<int>(runningPaths_.size()) < kWorkers) {
        Request r = std::move(waiting_.front());
        waiting_.pop_front();
        waitingPaths_.erase(r.path);
        if (r.row < first || r.row > last) {
            ++dropped_;  // scrolled away; painting asks again if it comes back
            continue;
        }
        runningPaths_.insert(r.path);
        ui_common::runDetached(
            this,
            [path = r.path.toStdString(), cache = userThumbnailCache()] {
                std::optional<QImage> image;
                if (auto t = cache.get(path, 0, kWidth))
                    image = imageOf(*t);
                return image;
            },
            [this, r](std::optional<QImage> image) {
                runningPaths_.erase(r.path);
                ++made_;
                if (image)
                    pictures_.insert(r.path, new QPixmap(QPixmap::fromImage(*image)));
                else
                    failed_.insert(r.path);
                emit arrived(r.row);
                pump();
            },
            // Below the players' threads: a picture a little later, never a late frame.
            ui_common::Priority::Low);
    }
}

}  // namespace orvik::shell
