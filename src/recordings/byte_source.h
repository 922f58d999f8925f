#pragma once
// Random access to the bytes of a recording, from a file or from memory (tests, fuzzing).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace orvik::recordings {

// Random access to the bytes of a recording. readAt returns how many bytes it read (fewer at the
// end of the data or on an error).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    virtual std::size_t readAt(std::uint64_t offset, std::span<std::byte> out) = 0;
};

class MemoryByteSource final : public ByteSource {
  public:
    explicit MemoryByteSource(std::span<const std::byte> data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> out) override;

  private:
    std::span<const std::byte> data_;
};

// A file opened read-only; reads with pread, so nothing but the requested bytes is touched.
class FileByteSource final : public ByteSource {
  public:
    static std::unique_ptr<FileByteSource> open(const std::string& path,
                                                std::string* error = nullptr);
    ~FileByteSource() override;
    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> out) override;

  private:
    FileByteSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_;
    std::uint64_t size_;
};

}  // namespace orvik::recordings
