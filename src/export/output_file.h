#pragma once
// An export's output: written to a temporary file beside the target and renamed into place only
// when complete. The temporary file is removed when the export fails or is abandoned, so a
// failed export leaves nothing behind.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/result.h"

namespace orvik::exporting {

class OutputFile {
  public:
    // Fails (with a one-line message) when the target exists and force is false, when its
    // folder is missing, or when the temporary file cannot be created.
    static Result<OutputFile> create(const std::string& target, bool force);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    ~OutputFile();  // removes the temporary file unless committed

    // Appends bytes; false (with error()) on a write error such as a full disk.
    bool write(std::span<const std::uint8_t> bytes);
    const std::string& error() const { return error_; }
    std::uint64_t written() const { return written_; }

    // Flushes, closes and renames into place (not replacing an existing file without force).
    Result<void> commit();

    const std::string& target() const { return target_; }
    const std::string& temporaryPath() const { return temp_; }

  private:
    OutputFile(std::string target, std::string temp, int fd, bool force)
        : target_(std::move(target)), temp_(std::move(temp)), fd_(fd), force_(force) {}
    void discard();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool force_ = false;
    bool committed_ = false;
    std::string error_;
    std::uint64_t written_ = 0;
};

}  // namespace orvik::exporting
