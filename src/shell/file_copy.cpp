#include "shell/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace orvik::shell {
namespace fs = std::filesystem;

namespace {
std::string errnoText(const char* what, const fs::path& p) {
    return std::string(what) + " " + p.string() + ": " + std::strerror(errno);
}
}  // namespace

CopyOutcome copyFileSafely(const fs::path& source, const fs::path& target, bool replaceExisting,
                           const std::function<bool(std::uint64_t)>& progress) {
    std::error_code ec;
    if (!replaceExisting && fs::exists(fs::symlink_status(target, ec)))
        return {CopyOutcome::Exists, {}};
    if (fs::equivalent(source, target, ec))
        return {CopyOutcome::Failed, "the file would be copied onto itself"};

    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return {CopyOutcome::Failed, errnoText("cannot read", source)};
    const fs::path tmp = target.parent_path() /
                         ("." + target.filename().string() + ".part" + std::to_string(::getpid()));
    const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        CopyOutcome r{CopyOutcome::Failed, errnoText("cannot write", target)};
        ::close(in);
        return r;
    }
    auto abandon = [&](CopyOutcome r) {
        ::close(in);
        ::close(out);
        ::unlink(tmp.c_str());
        return r;
    };

    std::vector<char> buffer(1 << 20);
    std::uint64_t done = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon({CopyOutcome::Failed, errnoText("cannot read", source)});
        }
        if (n == 0)
            break;
        for (ssize_t off = 0; off < n;) {
            const ssize_t w = ::write(out, buffer.data() + off, static_cast<size_t>(n - off));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return abandon({CopyOutcome::Failed, errnoText("cannot write", target)});
            }
            off += w;
        }
        done += static_cast<std::uint64_t>(n);
        if (progress && !progress(done))
            return abandon({CopyOutcome::Cancelled, {}});
    }
    if (::fsync(out) != 0)
        return abandon({CopyOutcome::Failed, errnoText("cannot write", target)});
    struct stat st {};
    if (::fstat(in, &st) == 0)
        ::fchmod(out, st.st_mode & 0777);
    ::close(in);
    if (::close(out) != 0) {
        ::unlink(tmp.c_str());
        return {CopyOutcome::Failed, errnoText("cannot write", target)};
    }
    int rc;
    if (replaceExisting) {
        rc = ::rename(tmp.c_str(), target.c_str());
    } else {
        // The target may have appeared meanwhile: never replace it silently.
        rc = ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EEXIST) {
            ::unlink(tmp.c_str());
            return {CopyOutcome::Exists, {}};
        }
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without the no-replace rename (some FUSE, old kernels).
            if (::link(tmp.c_str(), target.c_str()) == 0) {
                ::unlink(tmp.c_str());
                rc = 0;
            } else if (errno == EEXIST) {
                ::unlink(tmp.c_str());
                return {CopyOutcome::Exists, {}};
            } else if (!fs::exists(target, ec)) {
                rc = ::rename(tmp.c_str(), target.c_str());  // FAT has no hard links
            }
        }
    }
    if (rc != 0) {
        CopyOutcome r{CopyOutcome::Failed, errnoText("cannot write", target)};
        ::unlink(tmp.c_str());
        return r;
    }
    return {CopyOutcome::Copied, {}};
}

}  // namespace orvik::shell
