#include "recordings/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/system_error.h"

namespace orvik::recordings {

std::size_t MemoryByteSource::readAt(std::uint64_t offset, std::span<std::byte> out) {
    // An empty read may come with a null buffer, which memcpy must never see.
    if (offset >= data_.size() || out.empty())
        return 0;
    const std::size_t n = std::min<std::uint64_t>(out.size(), data_.size() - offset);
    std::memcpy(out.data(), data_.data() + offset, n);
    return n;
}

std::unique_ptr<FileByteSource> FileByteSource::open(const std::string& path, std::string* error) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = "cannot open '" + path + "': " + platform::systemErrorText(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = "'" + path + "' is not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(fd, static_cast<std::uint64_t>(st.st_size)));
}

FileByteSource::~FileByteSource() {
    ::close(fd_);
}

std::size_t FileByteSource::readAt(std::uint64_t offset, std::span<std::byte> out) {
    std::size_t done = 0;
    while (done < out.size() && offset + done < size_) {
        if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
            break;
        const ssize_t n =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace orvik::recordings
