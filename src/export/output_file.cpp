#include "export/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace orvik::exporting {

namespace {

std::string systemError(int err) {
    return std::strerror(err);
}

}  // namespace

Result<OutputFile> OutputFile::create(const std::string& target, bool force) {
    if (target.empty())
        return makeError("no output file given");
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!force)
            return makeError("'" + target + "' exists; add --force to replace it");
        if (!S_ISREG(st.st_mode))
            return makeError("'" + target + "' is not a regular file");
    }
    const std::filesystem::path path(target);
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX.part")).string();
    const int fd = ::mkstemps(temp.data(), 5);
    if (fd < 0) {
        return makeError("cannot write in '" + folder.string() + "': " + systemError(errno));
    }
    ::fchmod(fd, 0644);
    return OutputFile(target, std::move(temp), fd, force);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(other.fd_),
      force_(other.force_),
      committed_(other.committed_),
      error_(std::move(other.error_)),
      written_(other.written_) {
    other.fd_ = -1;
    other.committed_ = true;  // the moved-from object owns nothing
    other.temp_.clear();
}

OutputFile::~OutputFile() {
    if (!committed_)
        discard();
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        if (error_.empty())
            error_ = "the output is closed";
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = "cannot write '" + target_ + "': " + systemError(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += bytes.size();
    return true;
}

Result<void> OutputFile::commit() {
    if (!error_.empty())
        return makeError(error_);
    if (fd_ < 0)
        return makeError("the output is closed");
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        const int err = errno;
        fd_ = -1;
        return makeError("cannot write '" + target_ + "': " + systemError(err));
    }
    fd_ = -1;
    int rc = 0;
    if (force_) {
        rc = ::rename(temp_.c_str(), target_.c_str());
    } else {
        // Never replace a file that appeared meanwhile.
        rc = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            rc = ::link(temp_.c_str(), target_.c_str());
            if (rc == 0)
                ::unlink(temp_.c_str());
        }
    }
    if (rc != 0) {
        const int err = errno;
        if (err == EEXIST)
            return makeError("'" + target_ + "' exists; add --force to replace it");
        return makeError("cannot write '" + target_ + "': " + systemError(err));
    }
    committed_ = true;
    // The folder entry too, so the file survives a power loss right after the export.
    const std::filesystem::path path(target_);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

}  // namespace orvik::exporting
