// The input becomes the first bytes of a 40 MiB sparse volume (boot sector, FSInfo, FATs and,
// for small clusters, the root directory); the configuration file is read from its root, then
// written into it. Any input must end in a clear error, a file read or a file written: no crash,
// no hang, nothing outside the image touched.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "card_format/card_format.h"

namespace {
// One scratch image per process, removed at exit.
struct Scratch {
    std::string path;
    Scratch() {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir ? dir : "/tmp") + "/orvik-fuzz-root-" + std::to_string(::getpid()) +
               ".img";
    }
    ~Scratch() { ::unlink(path.c_str()); }
};
std::string imagePath() {
    static const Scratch scratch;
    return scratch.path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxInput = 1 << 20;
    constexpr off_t kImage = 40 << 20;
    if (size > kMaxInput)
        return 0;
    const std::string img = imagePath();
    int fd = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    if (::ftruncate(fd, kImage) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    auto read = orvik::card_format::readRootFileOnFat32(img, "config_K7x7.bin", 1 << 20);
    (void)read;
    auto r =
        orvik::card_format::writeRootFileOnFat32(img, "config_K7x7.bin", std::string(624, 'c'));
    (void)r;
    return 0;
}
