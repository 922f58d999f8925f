#pragma once
// Replacing a file so that a crash, a full medium or a pulled card never leaves it half written:
// the bytes go to a temporary file in the same folder, which is flushed and then renamed over
// the target; the folder is flushed last so the rename itself survives a power cut.
#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace orvik::platform {

struct AtomicWriteError {
    int errorNumber = 0;  // errno of the failed step (EROFS for a write-protected medium)
    std::string message;  // "cannot write PATH: reason"
};

// Writes `bytes` as the whole new content of `target`. On failure the previous file (if any) is
// left byte for byte as it was and no temporary file remains; `error`, when given, receives the
// reason. New files get mode 0644 minus the umask; an existing file keeps its mode.
Result<void> writeFileAtomic(const std::string& target, std::span<const std::uint8_t> bytes,
                             AtomicWriteError* error = nullptr);
Result<void> writeFileAtomic(const std::string& target, std::string_view bytes,
                             AtomicWriteError* error = nullptr);

// A regular file opened for reading (a FIFO, device or folder in its place is refused without
// waiting on it); closed with the object.
class ReadableFile {
  public:
    // Errors: "cannot open PATH: reason", "cannot read PATH: not a regular file".
    static Result<ReadableFile> open(const std::string& path);
    ReadableFile(ReadableFile&& other) noexcept;
    ReadableFile& operator=(ReadableFile&& other) noexcept;
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;
    ~ReadableFile();

    int fd() const { return fd_; }
    std::uint64_t size() const { return size_; }  // at the time it was opened

  private:
    ReadableFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Reads a whole regular file, refusing anything larger than `maxBytes` (so a huge or endless
// file cannot exhaust memory).
Result<std::string> readFileLimited(const std::string& path, std::size_t maxBytes);

// Test seam: replaces write(2) for the temporary file, e.g. to inject a short write or ENOSPC.
// An empty function restores the real call.
using WriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
void setWriteFunctionForTesting(WriteFunction fn);

}  // namespace orvik::platform
