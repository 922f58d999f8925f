#pragma once
// Writing a file so that a crash, a full medium or a pulled card never leaves it half written:
// the bytes go to a temporary file in the target's folder, which is flushed and then renamed
// over the target; the folder is flushed last so the rename itself survives a power cut. Every
// file the programs write (settings, per-user state, exports, copies) goes through here.
//
// The temporary file is hidden and ends in ".part" (".NAME.XXXXXX.part"), so a recording list
// never shows it; it is created exclusively and never through a symbolic link, and it is removed
// on every path that does not commit. A new file gets 0666 minus the umask, as any program's
// new file does; a replaced file keeps the mode it had.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace orvik::platform {

// What commit() does when the target exists by then.
enum class IfExists {
    Replace,  // the old file is replaced in one step
    Refuse,   // create() and commit() fail with EEXIST; a file that appeared meanwhile is kept
};

// How hard commit() pushes the data to the medium.
enum class Durability {
    // The file and its folder entry are flushed before commit() returns.
    Always,
    // The same where a power cut or a pulled card could lose something: when a file is replaced,
    // and on removable media. A new file on a fixed disk only has its writing started as it
    // grows: the worst a power cut can do to it is cut it short, and nothing old is lost.
    WhereLossCounts,
};

class CommitWriter {
  public:
    struct Options {
        IfExists ifExists = IfExists::Replace;
        Durability durability = Durability::Always;
        // Whole pages from page-aligned buffers go straight to the medium, past the system's
        // cache (where the file system allows it; the rest is written the usual way): for large
        // copies, which then cost no second copy in memory and leave no cache to flush.
        bool direct = false;
    };

    // Errors carry the errno: EEXIST (refused), EISDIR (the target is a folder), EINVAL (not a
    // regular file), or the reason the temporary file could not be created. Messages read
    // "cannot write TARGET: reason".
    static Result<CommitWriter> create(const std::string& target, Options options);
    static Result<CommitWriter> create(const std::string& target) { return create(target, {}); }

    CommitWriter(CommitWriter&& other) noexcept;
    CommitWriter& operator=(CommitWriter&&) = delete;
    CommitWriter(const CommitWriter&) = delete;
    CommitWriter& operator=(const CommitWriter&) = delete;
    ~CommitWriter();  // an uncommitted writer removes its temporary file

    // Appends bytes. After a failure (a full medium) every later write and commit() fail with
    // the first error.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view text);
    bool failed() const { return errorNumber_ != 0; }
    const std::string& error() const { return error_; }
    int errorNumber() const { return errorNumber_; }
    std::uint64_t written() const { return written_; }

    // Flushes (see Durability), closes and renames into place. On failure the temporary file is
    // gone and an old target is as it was.
    Result<void> commit();
    // Drops what was written; the target is untouched.
    void abandon();

    const std::string& target() const { return target_; }
    const std::string& temporaryPath() const { return temp_; }
    bool flushesOnCommit() const { return flushOnCommit_; }

  private:
    CommitWriter() = default;
    Result<void> fail(int err);
    // Turns the descriptor's O_DIRECT on for `bytes` when they can go that way, else off.
    void setDirect(std::span<const std::uint8_t> bytes);

    std::string target_;
    std::string folder_;
    std::string temp_;
    int fd_ = -1;
    IfExists ifExists_ = IfExists::Replace;
    bool flushOnCommit_ = true;
    bool replacing_ = false;
    mode_t keptMode_ = 0;
    bool done_ = false;  // committed or abandoned: nothing left to clean up
    std::string error_;
    int errorNumber_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t writeStartedUpTo_ = 0;
    bool direct_ = false;    // asked for and not turned down by the file system
    bool directOn_ = false;  // the descriptor's O_DIRECT as it stands
};

// Writes `bytes` as the whole new content of `target` (IfExists::Replace, Durability::Always).
// On failure the previous file, if any, is left byte for byte as it was and no temporary file
// remains; the error carries the errno (EROFS for a write-protected medium).
Result<void> writeFileAtomic(const std::string& target, std::span<const std::uint8_t> bytes);
Result<void> writeFileAtomic(const std::string& target, std::string_view bytes);

// Test seam: replaces write(2) for temporary files, e.g. to inject a short write or ENOSPC. An
// empty function restores the real call.
using WriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
void setWriteFunctionForTesting(WriteFunction fn);

}  // namespace orvik::platform
