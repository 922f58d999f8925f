#include <chrono>

#include "platform/detached_work.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
    // Background work the window no longer waits for (a hung card, a thumbnail) gets a moment to
    // end; what is still running then ends with the process.
    using namespace std::chrono_literals;
    return orvik::platform::finishDetachedWork(orvik::shell::runViewer(argc, argv), 2s);
}
