#pragma once
// An export's output: a platform::CommitWriter that refuses an existing file unless forced and
// says so in the command line's words. The disk writes behind the export; commit() waits for it
// only where a power cut or a pulled card could lose something (Durability::WhereLossCounts).
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/commit_writer.h"
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

    // Appends bytes; false (with error()) on a write error such as a full disk.
    bool write(std::span<const std::uint8_t> bytes) { return writer_.write(bytes); }
    std::string error() const;
    std::uint64_t written() const { return writer_.written(); }

    // Flushes, closes and renames into place (not replacing an existing file without force).
    Result<void> commit();

    const std::string& target() const { return writer_.target(); }
    const std::string& temporaryPath() const { return writer_.temporaryPath(); }
    bool flushesOnCommit() const { return writer_.flushesOnCommit(); }

  private:
    explicit OutputFile(platform::CommitWriter writer) : writer_(std::move(writer)) {}
    platform::CommitWriter writer_;
};

}  // namespace orvik::exporting
