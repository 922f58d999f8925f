// The drive strip's hover pictures, results as "key value" lines:
//   thumbnail_bench FILE [count]
// thumbnail_ms: a moment not yet cached (fresh cache folder each time) until its picture is
// there, decoded and stored, median and max over `count`; thumbnail_cached_ms the same moment
// again from the cache folder; thumbnail_gui_late_ms: how late a 5-ms timer of the event loop
// fires at most while pictures are decoded one after another on a worker thread of lowered
// priority (as the preview's is; hovering decodes far fewer), beside the same figure with nothing
// decoded: the GUI thread never waits for a decode.
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "thumbnails/thumbnail.h"

namespace {

namespace fs = std::filesystem;

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double maxOf(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// The largest lateness of a 5-ms timer over `ms` milliseconds of the event loop.
double eventLoopLateness(int ms, const std::function<void()>& meanwhile) {
    double worst = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, (now - last) / 1e6 - 5.0);
        last = now;
    });
    tick.start(5);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        // As the viewer's preview worker runs: below the players and the GUI thread.
        (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        while (!stop && meanwhile)
            meanwhile();
    });
    QTimer::singleShot(ms, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    stop = true;
    worker.join();
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: thumbnail_bench FILE [count]\n");
        return 2;
    }
    const std::string file = argv[1];
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const fs::path scratch =
        fs::temp_directory_path() / ("thumbnail_bench." + std::to_string(::getpid()));
    std::vector<double> fresh, cached;
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        const orvik::thumbnails::ThumbnailCache cache(scratch / std::to_string(i));
        const double at = 0.5 + i % 4;
        t.start();
        auto picture = cache.get(file, at);
        fresh.push_back(t.nsecsElapsed() / 1e6);
        if (!picture) {
            std::fprintf(stderr, "%s\n", picture.error().c_str());
            return 1;
        }
        t.start();
        (void)cache.get(file, at);
        cached.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("thumbnail_ms %.1f\nthumbnail_max_ms %.1f\n", median(fresh), maxOf(fresh));
    std::printf("thumbnail_cached_ms %.1f\nthumbnail_cached_max_ms %.1f\n", median(cached),
                maxOf(cached));
    const double idle = eventLoopLateness(2000, {});
    int n = 0;
    const double busy = eventLoopLateness(2000, [&] {
        const orvik::thumbnails::ThumbnailCache cache(scratch / ("busy" + std::to_string(n++)));
        (void)cache.get(file, 1.5);
    });
    std::printf("thumbnail_gui_late_ms %.1f\nthumbnail_gui_late_idle_ms %.1f\n", busy, idle);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
