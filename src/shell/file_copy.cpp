#include "shell/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/commit_writer.h"
#include "platform/system_error.h"

namespace orvik::shell {
namespace fs = std::filesystem;

namespace {

CopyOutcome readFailure(const fs::path& source, int err) {
    return {CopyOutcome::Failed,
            "cannot read " + source.string() + ": " + platform::systemErrorText(err)};
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
        return readFailure(source, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closeIn{in};

    auto out = platform::CommitWriter::create(
        target.string(),
        {replaceExisting ? platform::IfExists::Replace : platform::IfExists::Refuse,
         platform::Durability::Always});
    if (!out) {
        if (out.errorNumber() == EEXIST)
            return {CopyOutcome::Exists, {}};
        return {CopyOutcome::Failed, out.error()};
    }

    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint64_t done = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return readFailure(source, errno);  // the writer removes its temporary file
        }
        if (n == 0)
            break;
        if (!out->write(std::span(buffer.data(), static_cast<std::size_t>(n))))
            return {CopyOutcome::Failed, out->error()};
        done += static_cast<std::uint64_t>(n);
        if (progress && !progress(done))
            return {CopyOutcome::Cancelled, {}};
    }
    if (auto r = out->commit(); !r) {
        // The target appeared while the copy ran: it is never replaced silently.
        if (r.errorNumber() == EEXIST)
            return {CopyOutcome::Exists, {}};
        return {CopyOutcome::Failed, r.error()};
    }
    return {CopyOutcome::Copied, {}};
}

}  // namespace orvik::shell
