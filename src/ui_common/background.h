#pragma once
// Work the window must never wait for (a disk service that stalls, a folder on a hung mount, a
// big card's first scan): it runs on a thread of its own, and its result is handed to the GUI
// thread only while the receiver still exists. Closing a window never joins such a thread; an
// abandoned one finishes (or is ended with the process) on its own.
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "platform/detached_work.h"

namespace orvik::ui_common {

// Call on the GUI thread before work may post: from then on the application's destruction
// closes posting, so a late worker never posts to an application that is gone.
void preparePosting();
// Posts `deliver` to the GUI thread unless the application is already going away. Thread-safe.
void postToGuiThread(std::function<void()> deliver);

// Lowers the calling thread's scheduling priority (work the user is not waiting for).
void lowerThreadPriority();
// One line on stderr for background work that ended in an exception.
void reportLostWork(const char* what);

enum class Priority { Normal, Low };

// Runs `work()` on its own thread; `done(result)` then runs on the GUI thread if `receiver` is
// still there. `work` must own everything it uses: it may outlive the receiver.
template <typename Work, typename Done>
void runDetached(QObject* receiver, Work work, Done done, Priority priority = Priority::Normal) {
    preparePosting();
    QPointer<QObject> guard(receiver);
    std::thread([guard, priority, work = std::move(work), done = std::move(done),
                 running = platform::DetachedWork{}]() mutable {
        if (priority == Priority::Low)
            lowerThreadPriority();
        // An exception must not end the process from a thread nobody waits for: it is reported
        // and the work counts as never done.
        std::shared_ptr<decltype(work())> result;
        try {
            result = std::make_shared<decltype(work())>(work());
        } catch (const std::exception& e) {
            reportLostWork(e.what());
            return;
        } catch (...) {
            reportLostWork("unknown error");
            return;
        }
        postToGuiThread([guard, result, done = std::move(done)]() mutable {
            if (guard)
                done(std::move(*result));
        });
    }).detach();
}

}  // namespace orvik::ui_common
