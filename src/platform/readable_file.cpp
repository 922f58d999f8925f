#include "platform/readable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/system_error.h"

namespace orvik::platform {

Result<ReadableFile> ReadableFile::open(const std::string& path) {
    // O_NONBLOCK: opening a FIFO someone put in place of the file must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return makeError("cannot open " + path + ": " + systemErrorText(errno));
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
            return makeError("cannot read " + path + ": " + systemErrorText(errno));
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
