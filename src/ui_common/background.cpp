#include "ui_common/background.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <mutex>

namespace orvik::ui_common {
namespace {

std::mutex gPostMutex;
bool gPostRoutineAdded = false;
bool gApplicationGone = false;

// Runs while the application object is destroyed: from then on nothing is posted to it.
void closePosting() {
    std::lock_guard lock(gPostMutex);
    gApplicationGone = true;
}

}  // namespace

void lowerThreadPriority() {
    // On Linux a nice value set for a thread id holds for that thread alone.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
}

void reportLostWork(const char* what) {
    std::fprintf(stderr, "orvik: background work failed: %s\n", what);
}

void preparePosting() {
    std::lock_guard lock(gPostMutex);
    if (!gPostRoutineAdded && QCoreApplication::instance()) {
        qAddPostRoutine(closePosting);
        gPostRoutineAdded = true;
    }
}

void postToGuiThread(std::function<void()> deliver) {
    std::lock_guard lock(gPostMutex);
    QCoreApplication* app = QCoreApplication::instance();
    if (gApplicationGone || !app)
        return;
    QMetaObject::invokeMethod(app, std::move(deliver), Qt::QueuedConnection);
}

}  // namespace orvik::ui_common
