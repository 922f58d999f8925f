// The entry of every test program without its own: skipped cases make the program skipped.
#include <gmock/gmock.h>

#include "support/test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    return orvik::test::runAllTests();
}
