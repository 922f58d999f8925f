#pragma once
// Waiting for a map page as it tells it is ready: on its own load signal, never on a clock. The
// browser engine's first start can take long on a loaded machine, so the limit is generous and
// only there to end a test that would otherwise hang; a page that failed or did not come says
// which in the failure message.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <chrono>

#include "displays/map_host.h"

namespace orvik::test {

inline ::testing::AssertionResult mapPageLoaded(
    displays::MapHost* host, std::chrono::seconds limit = std::chrono::seconds(180)) {
    if (!host)
        return ::testing::AssertionFailure() << "there is no map";
    if (host->isPageReady())
        return ::testing::AssertionSuccess();
    QSignalSpy ready(host, &displays::MapHost::pageReady);
    QElapsedTimer clock;
    clock.start();
    while (!host->isPageReady()) {
        const auto left =
            std::chrono::milliseconds(limit) - std::chrono::milliseconds(clock.elapsed());
        if (left.count() <= 0 || !ready.wait(static_cast<int>(left.count())))
            return ::testing::AssertionFailure()
                   << "the map page (" << host->writtenPagePath().toStdString()
                   << ") did not report ready within " << limit.count()
                   << " s: the browser engine did not finish loading it";
        if (!ready.takeLast().at(0).toBool() && !host->isPageReady())
            return ::testing::AssertionFailure()
                   << "the map page (" << host->writtenPagePath().toStdString()
                   << ") failed to load";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace orvik::test
