#pragma once
// Work on threads nobody joins (a disk service that stalls, a preview the user closed the window
// on) is counted, so that a program can end without destroying its libraries' globals under a
// thread that is still inside one of them: an image decoder, FFmpeg, the string tables.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <utility>

namespace orvik::platform {

namespace detail {
struct DetachedCount {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};
// Never destroyed: the last worker may end while static destruction is under way.
inline DetachedCount& detachedCount() {
    static auto* count = new DetachedCount;
    return *count;
}
}  // namespace detail

// Held by a detached thread for as long as it runs. Taken on the thread that starts it, before
// it starts, and moved into it, so no moment goes uncounted.
class DetachedWork {
  public:
    DetachedWork() {
        auto& c = detail::detachedCount();
        std::lock_guard lock(c.mutex);
        ++c.running;
    }
    DetachedWork(DetachedWork&& other) noexcept : held_(std::exchange(other.held_, false)) {}
    DetachedWork(const DetachedWork&) = delete;
    DetachedWork& operator=(const DetachedWork&) = delete;
    DetachedWork& operator=(DetachedWork&&) = delete;
    ~DetachedWork() {
        if (!held_)
            return;
        auto& c = detail::detachedCount();
        {
            std::lock_guard lock(c.mutex);
            --c.running;
        }
        c.ended.notify_all();
    }

  private:
    bool held_ = true;
};

// The end of a program that may have started detached work: waits up to `grace` for it and
// returns `exitCode`. Work still running then ends with the process, here, after the output is
// flushed and without static destructors, which that work may still be using.
inline int finishDetachedWork(int exitCode, std::chrono::milliseconds grace) {
    auto& c = detail::detachedCount();
    {
        std::unique_lock lock(c.mutex);
        if (c.ended.wait_for(lock, grace, [&] { return c.running == 0; }))
            return exitCode;
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace orvik::platform
