#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/private_folder.h"
#include "platform/store.h"
#include "platform/system_error.h"

namespace orvik::platform {

namespace {
constexpr const char* kLockName = "ORVIK_INSTANCE";

SingleInstance::Attempt failed(std::string error) {
    SingleInstance::Attempt a;
    a.status = SingleInstance::Status::Failed;
    a.error = std::move(error);
    return a;
}
}  // namespace

Result<std::filesystem::path> SingleInstance::defaultLockFile() {
    if (auto session = sessionRuntimeFolder())
        return *session / kLockName;
    // Without a session folder: the user's own data folder, never a shared one such as /tmp,
    // where another user could take the name first.
    const std::filesystem::path data = applicationDataFolder();
    if (data.empty())
        return makeError("neither XDG_RUNTIME_DIR nor a home folder is known", ENOENT);
    return data / kLockName;
}

SingleInstance::Attempt SingleInstance::acquire() {
    auto file = defaultLockFile();
    if (!file)
        return failed(file.error());
    return acquire(*file);
}

SingleInstance::Attempt SingleInstance::acquire(const std::filesystem::path& lockFile) {
    const std::string where = lockFile.string();
    const int fd =
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == ELOOP)
            return failed("the lock file " + where + " is a link");
        return failed("cannot open the lock file " + where + ": " + systemErrorText(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed("the lock file " + where + " is not a regular file");
    }
    if (st.st_uid != ::geteuid()) {
        ::close(fd);
        return failed("the lock file " + where + " belongs to another user (uid " +
                      std::to_string(st.st_uid) + ")");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            Attempt a;
            a.status = Status::HeldByAnother;
            return a;
        }
        return failed("cannot lock " + where + ": " + systemErrorText(err));
    }
    Attempt a;
    a.status = Status::Acquired;
    a.lock.reset(new SingleInstance(fd));
    return a;
}

SingleInstance::~SingleInstance() {
    ::close(fd_);
}

}  // namespace orvik::platform
