#include "platform/commit_writer.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <utility>

#include "platform/system_error.h"
#include "platform/volumes.h"

namespace orvik::platform {
namespace {

// The medium's writing is started every this many bytes, so a flush at the end has only the
// last few megabytes to wait for and a long export never piles up gigabytes of unwritten pages.
constexpr std::uint64_t kWriteBehind = 8u << 20;
// What direct writes must be aligned to (a page covers every block size in use).
constexpr std::size_t kPage = 4096;
// Names tried for the temporary file before giving up (each clash is another program's file).
constexpr int kNameAttempts = 64;

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

Error writeError(const std::string& target, int err, std::string_view reason = {}) {
    return makeError("cannot write " + target + ": " +
                         (reason.empty() ? systemErrorText(err) : std::string(reason)),
                     err);
}

std::string randomSuffix() {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet (early boot): the exclusive create still keeps clashes harmless.
        static std::uint64_t counter = 0;
        const std::uint64_t v = (static_cast<std::uint64_t>(::getpid()) << 20) ^ ++counter;
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(v >> (8 * i));
    }
    std::string s;
    for (unsigned char b : bytes)
        s += kAlphabet[b % (sizeof kAlphabet - 1)];
    return s;
}

// Flushes a folder so that a rename inside it is on the medium. Some file systems (and FUSE
// mounts) refuse fsync on a folder; that is not worth failing a completed write for.
void syncFolder(const std::string& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;
    ::fsync(dfd);
    ::close(dfd);
}

// Renames without replacing a file that is there. File systems without the no-replace rename
// (some FUSE, old kernels) get a hard link instead, and FAT, which has neither, a rename after a
// last look.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

void setWriteFunctionForTesting(WriteFunction fn) {
    std::lock_guard lock(hookMutex());
    writeHook() = std::move(fn);
}

Result<CommitWriter> CommitWriter::create(const std::string& target, Options options) {
    namespace fs = std::filesystem;
    if (target.empty())
        return writeError(target, ENOENT, "no file name");
    const fs::path path(target);
    if (!path.has_filename())
        return writeError(target, EISDIR);

    CommitWriter w;
    w.target_ = target;
    w.folder_ = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    w.ifExists_ = options.ifExists;
    w.direct_ = options.direct;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return writeError(target, EISDIR);
        if (!S_ISREG(st.st_mode))
            return writeError(target, EINVAL, "not a regular file");
        if (options.ifExists == IfExists::Refuse)
            return writeError(target, EEXIST);
        w.replacing_ = true;
        w.keptMode_ = st.st_mode & 07777;
    }
    w.flushOnCommit_ =
        options.durability == Durability::Always || w.replacing_ || onRemovableMedia(w.folder_);

    // A replacement starts private and takes the old mode at commit; a new file is created with
    // 0666 so that the umask (or the folder's default ACL) decides, as for any new file.
    const mode_t createMode = w.replacing_ ? 0600 : 0666;
    // Appended piece by piece: `"." + string` trips GCC 12's -Wrestrict false positive at -O3.
    std::string hidden(".");
    hidden.append(path.filename().string()).append(".");
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name(hidden);
        name.append(randomSuffix()).append(".part");
        std::string temp = (fs::path(w.folder_) / name).string();
        const int fd =
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
        if (fd >= 0) {
            w.fd_ = fd;
            w.temp_ = std::move(temp);
            return w;
        }
        if (errno != EEXIST)
            return writeError(target, errno);
    }
    return writeError(target, EEXIST, "no free temporary name in the folder");
}

CommitWriter::CommitWriter(CommitWriter&& other) noexcept
    : target_(std::move(other.target_)),
      folder_(std::move(other.folder_)),
      temp_(std::move(other.temp_)),
      fd_(std::exchange(other.fd_, -1)),
      ifExists_(other.ifExists_),
      flushOnCommit_(other.flushOnCommit_),
      replacing_(other.replacing_),
      keptMode_(other.keptMode_),
      done_(std::exchange(other.done_, true)),
      error_(std::move(other.error_)),
      errorNumber_(other.errorNumber_),
      written_(other.written_),
      writeStartedUpTo_(other.writeStartedUpTo_),
      direct_(other.direct_),
      directOn_(other.directOn_) {
    other.temp_.clear();
}

CommitWriter::~CommitWriter() {
    abandon();
}

void CommitWriter::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!done_ && !temp_.empty())
        ::unlink(temp_.c_str());
    done_ = true;
}

Result<void> CommitWriter::fail(int err) {
    if (errorNumber_ == 0) {
        errorNumber_ = err;
        error_ = writeError(target_, err).message;
    }
    abandon();
    return makeError(error_, errorNumber_);
}

bool CommitWriter::write(std::string_view text) {
    return write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                               text.size()));
}

void CommitWriter::setDirect(std::span<const std::uint8_t> bytes) {
    const bool want = direct_ && reinterpret_cast<std::uintptr_t>(bytes.data()) % kPage == 0 &&
                      bytes.size() % kPage == 0 && written_ % kPage == 0;
    if (want == directOn_)
        return;
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0 && ::fcntl(fd_, F_SETFL, want ? flags | O_DIRECT : flags & ~O_DIRECT) == 0) {
        directOn_ = want;
    } else if (want) {
        direct_ = false;  // refused by the file system (a pipe-like or memory file system)
    }
}

bool CommitWriter::write(std::span<const std::uint8_t> bytes) {
    if (failed())
        return false;
    if (fd_ < 0) {
        errorNumber_ = EBADF;
        error_ = "cannot write " + target_ + ": the file is already closed";
        return false;
    }
    if (direct_)
        setDirect(bytes);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = doWrite(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EINVAL && directOn_) {
            // The file system takes no direct writes after all: the usual way from here on.
            direct_ = false;
            setDirect(bytes);
            continue;
        }
        if (directOn_ && n > 0 && static_cast<std::size_t>(n) % kPage != 0) {
            // A short direct write leaves the offset off the page grid: the rest goes cached.
            done += static_cast<std::size_t>(n);
            direct_ = false;
            setDirect(bytes);
            continue;
        }
        if (n <= 0) {
            // A write that makes no progress means a full medium.
            (void)fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += bytes.size();
    if (directOn_) {
        writeStartedUpTo_ = written_;  // on the medium already
    } else if (written_ - writeStartedUpTo_ >= kWriteBehind) {
        ::sync_file_range(fd_, static_cast<off_t>(writeStartedUpTo_),
                          static_cast<off_t>(written_ - writeStartedUpTo_), SYNC_FILE_RANGE_WRITE);
        writeStartedUpTo_ = written_;
    }
    return true;
}

Result<void> CommitWriter::commit() {
    if (failed())
        return fail(errorNumber_);
    if (fd_ < 0)
        return makeError("cannot write " + target_ + ": the file is already closed", EBADF);
    // FAT has no permission bits: failing to set them is not a failed write.
    if (replacing_)
        (void)::fchmod(fd_, keptMode_);
    if (flushOnCommit_) {
        // A failed flush means data the medium may not hold: the write fails.
        if (::fsync(fd_) != 0)
            return fail(errno);
    } else if (written_ > writeStartedUpTo_) {
        ::sync_file_range(fd_, static_cast<off_t>(writeStartedUpTo_),
                          static_cast<off_t>(written_ - writeStartedUpTo_), SYNC_FILE_RANGE_WRITE);
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        return fail(errno);
    const int err = ifExists_ == IfExists::Replace
                        ? (::rename(temp_.c_str(), target_.c_str()) == 0 ? 0 : errno)
                        : renameNoReplace(temp_, target_);
    if (err != 0)
        return fail(err);
    done_ = true;
    if (flushOnCommit_)
        syncFolder(folder_);
    return {};
}

Result<void> writeFileAtomic(const std::string& target, std::span<const std::uint8_t> bytes) {
    auto writer = CommitWriter::create(target);
    if (!writer)
        return makeError(writer.error(), writer.errorNumber());
    if (!writer->write(bytes))
        return makeError(writer->error(), writer->errorNumber());
    return writer->commit();
}

Result<void> writeFileAtomic(const std::string& target, std::string_view bytes) {
    return writeFileAtomic(
        target, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size()));
}

}  // namespace orvik::platform
