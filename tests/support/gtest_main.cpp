// The entry of every test program without its own: skipped cases make the program skipped.
#include <gmock/gmock.h>

#include <chrono>

#include "platform/detached_work.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    // A case may end while a worker it started is still making a preview; the program must not
    // tear down the libraries under it.
    using namespace std::chrono_literals;
    return orvik::platform::finishDetachedWork(orvik::test::runAllTests(), 1s);
}
