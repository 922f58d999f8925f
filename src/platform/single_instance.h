#pragma once
// One viewer per user session: an exclusive flock on "ORVIK_INSTANCE" in the session's private
// folder ($XDG_RUNTIME_DIR/orvik), else in the viewer's per-user data folder. The kernel drops the
// lock when the process ends, so a crashed viewer never blocks the next start.
#include <filesystem>
#include <memory>
#include <string>

#include "platform/result.h"

namespace orvik::platform {

class SingleInstance {
  public:
    enum class Status {
        Acquired,       // this is the first instance; `lock` holds it
        HeldByAnother,  // another instance of this user holds the lock
        Failed,         // the lock cannot be taken; `error` says why
    };
    struct Attempt {
        Status status = Status::Failed;
        std::unique_ptr<SingleInstance> lock;
        std::string error;
    };

    static Attempt acquire();
    // The file is opened without following a link and must be a regular file of this user: a
    // file another user put there is a failure, never "already running".
    static Attempt acquire(const std::filesystem::path& lockFile);
    static Result<std::filesystem::path> defaultLockFile();

    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

  private:
    explicit SingleInstance(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace orvik::platform
