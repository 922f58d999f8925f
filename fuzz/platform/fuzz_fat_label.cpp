// Any bytes as a card image: labelling either succeeds with a label libblkid reads back, or
// fails with a message; it never crashes or hangs on a broken boot sector or cluster chain.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/volume_label.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int fd = ::memfd_create("fat-image", 0);
    static std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0)
        std::abort();
    if (size && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    auto r = orvik::platform::writeFatLabel(path, "ORVIK");
    if (!r.ok() && r.error().empty())
        std::abort();
    return 0;
}
