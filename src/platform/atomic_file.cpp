#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

namespace orvik::platform {
namespace {

std::mutex& hookMutex() {
    static std::mutex m;
    return m;
}
WriteFunction& writeHook() {
    static WriteFunction fn;
    return fn;
}

ssize_t doWrite(int fd, const void* data, std::size_t size) {
    WriteFunction fn;
    {
        std::lock_guard lock(hookMutex());
        fn = writeHook();
    }
    return fn ? fn(fd, data, size) : ::write(fd, data, size);
}

Result<void> fail(AtomicWriteError* out, int err, const std::string& target, std::string what) {
    std::string reason = what;
    if (err != 0 && what.empty())
        reason = std::strerror(err);
    std::string message = "cannot write " + target + ": " + reason;
    if (out)
        *out = AtomicWriteError{err, message};
    return makeError(std::move(message));
}

// Flushes a folder so that a rename inside it is on the medium. Some file systems (and FUSE
// mounts) refuse fsync on a directory; that is not worth failing a completed write for.
void syncFolder(const std::string& folder) {
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;
    ::fsync(dfd);
    ::close(dfd);
}

}  // namespace

void setWriteFunctionForTesting(WriteFunction fn) {
    std::lock_guard lock(hookMutex());
    writeHook() = std::move(fn);
}

Result<void> writeFileAtomic(const std::string& target, std::string_view bytes,
                             AtomicWriteError* error) {
    return writeFileAtomic(target,
                           std::span<const std::uint8_t>(
                               reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                           error);
}

Result<void> writeFileAtomic(const std::string& target, std::span<const std::uint8_t> bytes,
                             AtomicWriteError* error) {
    namespace fs = std::filesystem;
    if (target.empty())
        return fail(error, ENOENT, target, "no file name");
    fs::path path(target);
    if (!path.has_filename())
        return fail(error, EISDIR, target, "");
    std::string folder = path.has_parent_path() ? path.parent_path().string() : std::string(".");

    // Keep the mode of the file being replaced; a new file gets the usual 0666 & ~umask.
    mode_t mode = 0;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return fail(error, EISDIR, target, "");
        if (!S_ISREG(st.st_mode))
            return fail(error, EINVAL, target, "not a regular file");
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // Appended piece by piece: `"." + string` trips GCC 12's -Wrestrict false positive at -O3.
    std::string hidden(".");
    hidden.append(path.filename().string()).append(".XXXXXX");
    std::string tmpl = (fs::path(folder) / hidden).string();
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno, target, "");
    auto abandon = [&](int err, std::string what) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        return fail(error, err, target, std::move(what));
    };

    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = doWrite(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon(errno, "");
        }
        if (n == 0)
            return abandon(ENOSPC, "");  // a write that makes no progress: medium full
        done += static_cast<std::size_t>(n);
    }
    // FAT has no permission bits; failing to set them is not a failed write.
    (void)::fchmod(fd, mode);
    if (::fsync(fd) != 0)
        return abandon(errno, "");
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        return fail(error, err, target, "");
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        return fail(error, err, target, "");
    }
    syncFolder(folder);
    return {};
}

Result<ReadableFile> ReadableFile::open(const std::string& path) {
    // O_NONBLOCK: opening a FIFO someone put in place of the file must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return makeError("cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return makeError("cannot read " + path + ": not a regular file");
    }
    return ReadableFile(fd, static_cast<std::uint64_t>(st.st_size));
}

ReadableFile::ReadableFile(ReadableFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
    }
    return *this;
}

ReadableFile::~ReadableFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

Result<std::string> readFileLimited(const std::string& path, std::size_t maxBytes) {
    auto file = ReadableFile::open(path);
    if (!file)
        return makeError(file.error());
    if (file->size() > maxBytes) {
        return makeError("cannot read " + path + ": the file is too large (" +
                         std::to_string(file->size()) + " bytes)");
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(file->fd(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return makeError("cannot read " + path + ": " + std::strerror(errno));
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > maxBytes)  // grew while we read it
            return makeError("cannot read " + path + ": the file is too large");
    }
    return data;
}

}  // namespace orvik::platform
