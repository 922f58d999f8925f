#include "export/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace orvik::exporting {

namespace {

std::string systemError(int err) {
    return std::strerror(err);
}

// Disk writing is started every this many bytes as the file grows.
constexpr std::uint64_t kWriteBehind = 8u << 20;

bool sysfsFlag(const std::filesystem::path& file) {
    std::ifstream in(file);
    char c = 0;
    return in.get(c) && c == '1';
}

// The process's umask without changing it: umask(2) can only be read by setting it, which would
// hand other threads a wrong mask for a moment.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
    return 022;
}

std::string folderOf(const std::string& target) {
    const std::filesystem::path path(target);
    return path.has_parent_path() ? path.parent_path().string() : std::string(".");
}

}  // namespace

Result<OutputFile> OutputFile::create(const std::string& target, bool force,
                                      const std::vector<std::string>& sources) {
    if (target.empty())
        return makeError("no output file given");
    for (const std::string& source : sources) {
        std::error_code ec;
        if (!source.empty() && std::filesystem::equivalent(target, source, ec))
            return makeError("'" + target + "' is the recording " + source +
                             " the export reads; choose another file");
    }
    struct stat st {};
    const bool replacing = ::stat(target.c_str(), &st) == 0;
    if (replacing) {
        if (!force)
            return makeError("'" + target + "' exists; add --force to replace it");
        if (!S_ISREG(st.st_mode))
            return makeError("'" + target + "' is not a regular file");
    }
    const std::filesystem::path path(target);
    const std::string folder = folderOf(target);
    std::string temp =
        (std::filesystem::path(folder) / ("." + path.filename().string() + ".XXXXXX.part"))
            .string();
    const int fd = ::mkstemps(temp.data(), 5);
    if (fd < 0)
        return makeError("cannot write in '" + folder + "': " + systemError(errno));
    // A new file is made as any program makes one (0666 less the umask); a replaced one keeps
    // the mode its owner gave it.
    ::fchmod(fd, replacing ? (st.st_mode & 07777) : (0666 & ~currentUmask()));
    return OutputFile(target, std::move(temp), fd, force, replacing || onRemovableMedia(folder));
}

bool onRemovableMedia(const std::string& folder, const std::string& sysfs) {
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) == 0) {
        constexpr long kFat = 0x4d44, kExfat = 0x2011BAB0, kFuseBlock = 0x65735546;
        if (fs.f_type == kFat || fs.f_type == kExfat || fs.f_type == kFuseBlock)
            return true;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return false;
    namespace fsys = std::filesystem;
    std::error_code ec;
    const fsys::path link =
        fsys::path(sysfs) / "dev" / "block" /
        (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));
    fsys::path device = fsys::canonical(link, ec);
    if (ec)
        return false;  // not a block device (tmpfs, network): nothing to pull out
    const std::string where = device.string();
    if (where.find("/usb") != std::string::npos || where.find("/mmc") != std::string::npos)
        return true;
    if (fsys::exists(device / "partition", ec))
        device = device.parent_path();
    return sysfsFlag(device / "removable");
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(other.fd_),
      force_(other.force_),
      flushOnCommit_(other.flushOnCommit_),
      committed_(other.committed_),
      error_(std::move(other.error_)),
      written_(other.written_),
      flushedUpTo_(other.flushedUpTo_) {
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
    // The disk writes behind the export, so a flush has only the last few megabytes to wait
    // for and a new file on a fixed disk is never far from the disk.
    if (written_ - flushedUpTo_ >= kWriteBehind) {
        ::sync_file_range(fd_, static_cast<off_t>(flushedUpTo_),
                          static_cast<off_t>(written_ - flushedUpTo_), SYNC_FILE_RANGE_WRITE);
        flushedUpTo_ = written_;
    }
    return true;
}

Result<void> OutputFile::commit() {
    if (!error_.empty())
        return makeError(error_);
    if (fd_ < 0)
        return makeError("the output is closed");
    if (!flushOnCommit_ && written_ > flushedUpTo_) {
        ::sync_file_range(fd_, static_cast<off_t>(flushedUpTo_),
                          static_cast<off_t>(written_ - flushedUpTo_), SYNC_FILE_RANGE_WRITE);
    }
    // A failed flush or close means data the disk may not hold: the export fails.
    int err = flushOnCommit_ && ::fdatasync(fd_) != 0 ? errno : 0;
    if (::close(fd_) != 0 && err == 0)
        err = errno;
    fd_ = -1;
    if (err != 0)
        return makeError("cannot write '" + target_ + "': " + systemError(err));
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
    if (!flushOnCommit_)
        return {};
    // The folder entry too, so the file survives a power loss right after the export.
    const int dfd = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

}  // namespace orvik::exporting
