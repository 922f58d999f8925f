#include "samplecard/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace orvik::tools {

Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return makeError("cannot create folder " + folder.string() + ": " + ec.message());

    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return makeError("cannot create a file in " + folder.string() + ": " +
                         std::strerror(errno));
    auto failWith = [&](const char* what) {
        const std::string msg = std::string(what) + " " + path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return makeError(msg);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failWith("cannot write");
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)
        return failWith("cannot sync");
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        return makeError("cannot close " + path);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string msg = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return makeError(msg);
    }
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

}  // namespace orvik::tools
