#pragma once
// One viewer per user session: an exclusive flock on "ORVIK_INSTANCE" in $XDG_RUNTIME_DIR
// (else the temp folder, per user). The kernel drops the lock when the process ends, so a
// crashed viewer never blocks the next start.
#include <filesystem>
#include <memory>

namespace orvik::platform {

class SingleInstance {
  public:
    // The lock when this is the first instance; null when another instance holds it or the lock
    // cannot be made (both count as "already running").
    static std::unique_ptr<SingleInstance> acquire();
    static std::unique_ptr<SingleInstance> acquire(const std::filesystem::path& lockFile);
    static std::filesystem::path defaultLockFile();

    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

  private:
    explicit SingleInstance(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace orvik::platform
