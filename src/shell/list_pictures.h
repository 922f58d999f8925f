#pragma once
// The pictures of the recording list's picture column. Painting asks for them, so only rows on
// screen ever ask; each is the recording's first keyframe, decoded small on a worker thread of
// low priority through the user's thumbnail cache, a few at a time. A request still waiting when
// its row has scrolled out of view is dropped: a fast scroll through thousands of rows decodes
// only what the user stops at.
#include <QCache>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <deque>
#include <functional>
#include <set>
#include <utility>

namespace orvik::shell {

class ListPictures : public QObject {
    Q_OBJECT
  public:
    // The first and last row on screen (both -1 when none is).
    using VisibleRows = std::function<std::pair<int, int>()>;
    static constexpr int kWidth = 64;  // 16:9 pictures come out 36 pixels high
    static constexpr int kWorkers = 2;

    ListPictures(QObject* parent, VisibleRows visibleRows);

    // The picture of `path`, or null while it is being made or when the recording has none; a
    // missing one is asked for on behalf of `row`.
    const QPixmap* picture(const QString& path, int row);
    // Whether `path` has been tried and gave no picture (a damaged or empty recording).
    bool failed(const QString& path) const { return failed_.count(path) != 0; }
    // The rows changed: waiting requests name rows that no longer hold them. Pictures stay.
    void rowsChanged();

    // For tests: pictures made by a worker, requests dropped because their row left the screen.
    int made() const { return made_; }
    int dropped() const { return dropped_; }

  signals:
    // A picture (or the knowledge there is none) arrived for `row` as it was asked.
    void arrived(int row);

  private:
    struct Request {
        QString path;
        int row = 0;
    };
    void schedule();
    void pump();

    VisibleRows visibleRows_;
    QCache<QString, QPixmap> pictures_;
    std::set<QString> failed_;
    std::deque<Request> waiting_;
    std::set<QString> waitingPaths_, runningPaths_;
    bool pumpPosted_ = false;
    int made_ = 0;
    int dropped_ = 0;
};

}  // namespace orvik::shell
