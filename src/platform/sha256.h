#pragma once
// SHA-256 of bytes and of whole files, computed by OpenSSL's libcrypto behind this one small
// interface. A file is read once from its first byte to its last; whoever needs the bytes as
// well (a copy, a progress bar) receives each chunk as it is hashed, so nothing is read twice.
//
// Kept in a target of its own (orvik_hash): only the programs that hash load libcrypto.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace orvik::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// 64 lower-case hexadecimal digits, as sha256sum prints them.
std::string toHex(const Sha256Digest& digest);
// The digest of 64 hexadecimal digits (either case); nothing for any other text.
std::optional<Sha256Digest> digestFromHex(std::string_view hex);

// An incremental hash: update() any number of times, then finish().
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::span<const std::uint8_t> bytes);
    void update(std::string_view bytes);
    // The digest of everything given since construction or the last finish(); the object is
    // then ready for a new message.
    Sha256Digest finish();

  private:
    struct State;
    State* state_;
};

Sha256Digest sha256Of(std::string_view bytes);

// What a file was when it was hashed: its size and modification time, from the open file.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the file now at `path` (links followed), or an error.
Result<FileStamp> stampOf(const std::string& path);

struct HashedFile {
    Sha256Digest digest{};
    FileStamp stamp;           // as it was before and after the read
    std::uint32_t crc32c = 0;  // of the same bytes: a cheap check of a copy read back
};

// Receives each chunk of the file in order, right after it was hashed; returning false stops
// the read, which then fails with the message "cancelled".
using ChunkFunction = std::function<bool(std::span<const std::uint8_t> chunk)>;

// Hashes the regular file at `path`, reading it once from start to end. Refuses what is not a
// regular file without blocking on it (a FIFO, a device). Fails when the file changes while it
// is read: a size or modification time after the read that differs from before, a read that
// ends short of the size, or another file put in its place.
// The chunks are hashed on a second thread while `onChunk` runs on the caller's.
Result<HashedFile> hashFile(const std::string& path, const ChunkFunction& onChunk = {});

// The CRC-32C of a regular file's bytes (platform/crc32c.h), read once from the medium, past
// the system's cache where the file system allows it (else with the cached pages dropped first).
Result<std::uint32_t> crc32cOfFile(const std::string& path);

}  // namespace orvik::platform
