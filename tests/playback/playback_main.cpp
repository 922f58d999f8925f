// Entry of the playback test programs: one application object for the whole program, with
// shared GL contexts as the viewer sets them. Programs that draw need a display and report
// "skipped" (77) without one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/detached_work.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
#ifdef ORVIK_NEEDS_DISPLAY
    if (!display) {
        std::fprintf(stderr, "no display: skipped (run under xvfb-run)\n");
        return 77;
    }
#endif
    std::unique_ptr<QCoreApplication> app;
    if (display) {
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    // Before the application goes: no worker a case left running may outlive it.
    using namespace std::chrono_literals;
    return orvik::platform::finishDetachedWork(orvik::test::runAllTests(), 1s);
}
