#pragma once
// An export's output: written to a temporary file beside the target and renamed into place only
// when complete. The temporary file is removed when the export fails or is abandoned, so a
// failed export leaves nothing behind.
//
// How hard the data is pushed to the disk depends on what a power cut or a pulled-out card
// could cost. On removable media (the card, a USB stick, any FAT/exFAT volume), and whenever an
// existing file is replaced, the data and the folder entry are flushed before commit() returns:
// the old file or a card pulled right after "done" must not lose anything. A new file on a fixed
// disk only has its disk writing started as it grows (so little is ever pending) and is not
// waited for: the worst a power cut can do to it is cut it short, and its source is untouched.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace orvik::exporting {

class OutputFile {
  public:
    // Fails (with a one-line message) when the target exists and force is false, when its
    // folder is missing, or when the temporary file cannot be created; and, force or not, when
    // the target is one of `sources` (by any path: another name, a link, a hard link), so an
    // export never replaces the recording it reads.
    static Result<OutputFile> create(const std::string& target, bool force,
                                     const std::vector<std::string>& sources = {});

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
    // Whether commit() waits for the data to reach the disk (see above).
    bool flushesOnCommit() const { return flushOnCommit_; }

  private:
    OutputFile(std::string target, std::string temp, int fd, bool force, bool flushOnCommit)
        : target_(std::move(target)),
          temp_(std::move(temp)),
          fd_(fd),
          force_(force),
          flushOnCommit_(flushOnCommit) {}
    void discard();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool force_ = false;
    bool flushOnCommit_ = true;
    bool committed_ = false;
    std::string error_;
    std::uint64_t written_ = 0;
    std::uint64_t flushedUpTo_ = 0;  // disk writing started up to here
};

// True when `folder` lies on media users pull out: a FAT/exFAT or FUSE block volume, or a block
// device that is removable or attached through USB or an SD/MMC reader. `sysfs` is the sysfs
// mount (tests pass a stand-in tree).
bool onRemovableMedia(const std::string& folder, const std::string& sysfs = "/sys");

}  // namespace orvik::exporting
