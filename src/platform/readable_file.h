#pragma once
// Reading files whose size or kind is not to be trusted (a card can hold anything under a known
// name): a FIFO, device or folder in place of the file is refused without waiting on it, and a
// file larger than the caller expects is not read into memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/result.h"

namespace orvik::platform {

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

}  // namespace orvik::platform
