// Any text as /proc/self/mountinfo.
#include <cstdint>
#include <string_view>

#include "platform/volumes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto entries = orvik::platform::parseMountInfo(
        std::string_view(reinterpret_cast<const char*>(data), size));
    (void)entries;
    return 0;
}
