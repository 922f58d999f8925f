#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvik::platform {

std::filesystem::path SingleInstance::defaultLockFile() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir)
        return std::filesystem::path(dir) / "ORVIK_INSTANCE";
    return std::filesystem::temp_directory_path() /
           ("ORVIK_INSTANCE-" + std::to_string(::getuid()));
}

std::unique_ptr<SingleInstance> SingleInstance::acquire() {
    return acquire(defaultLockFile());
}

std::unique_ptr<SingleInstance> SingleInstance::acquire(const std::filesystem::path& lockFile) {
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SingleInstance>(new SingleInstance(fd));
}

SingleInstance::~SingleInstance() {
    ::close(fd_);
}

}  // namespace orvik::platform
