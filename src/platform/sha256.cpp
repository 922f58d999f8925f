#include "platform/sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/crc32c.h"
#include "platform/system_error.h"

namespace orvik::platform {

namespace {

// Large enough that the system calls cost nothing beside the hash, small enough for the cache.
constexpr std::size_t kChunkBytes = 1u << 20;

// Hashes each chunk on a thread of its own while the caller hands it on and reads the next: a
// copy then takes about as long as the slower of the two, not their sum.
class ChunkHasher {
  public:
    ChunkHasher() : thread_([this] { work(); }) {}
    ~ChunkHasher() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    ChunkHasher(const ChunkHasher&) = delete;
    ChunkHasher& operator=(const ChunkHasher&) = delete;

    // Starts on `chunk` once the chunk before is done; the bytes must stay until then.
    void add(std::span<const std::uint8_t> chunk) {
        wait();
        {
            const std::lock_guard lock(mutex_);
            chunk_ = chunk;
            busy_ = true;
        }
        wake_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return !busy_; });
    }
    // After wait().
    Sha256Digest digest() { return sha_.finish(); }
    std::uint32_t crc() const { return crc_; }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return busy_ || stop_; });
            if (!busy_)
                return;
            const auto chunk = chunk_;
            lock.unlock();
            sha_.update(chunk);
            crc_ = crc32c(crc_, chunk);
            lock.lock();
            busy_ = false;
            done_.notify_all();
        }
    }

    Sha256 sha_;
    std::uint32_t crc_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::span<const std::uint8_t> chunk_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

FileStamp stampFrom(const struct stat& st) {
    FileStamp s;
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 +
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    s.device = static_cast<std::uint64_t>(st.st_dev);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    return s;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Page-aligned, as reads and writes that bypass the system's cache need their buffers.
class AlignedBuffer {
  public:
    explicit AlignedBuffer(std::size_t size)
        : size_(size), data_(static_cast<std::uint8_t*>(std::aligned_alloc(kAlignment, size))) {
        if (!data_)
            throw std::bad_alloc();
    }
    ~AlignedBuffer() { std::free(data_); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    std::uint8_t* data() { return data_; }
    std::size_t size() const { return size_; }

  private:
    static constexpr std::size_t kAlignment = 4096;
    std::size_t size_;
    std::uint8_t* data_;
};

// Reads a file chunk by chunk on a thread of its own, one chunk ahead of the caller, into a ring
// of buffers: the next chunk comes off the medium while the caller hands the last one on (a
// card's read overlaps the disk's write). A chunk's buffer is refilled only once released.
class ReadAhead {
  public:
    static constexpr std::size_t kBuffers = 3;

    explicit ReadAhead(int fd)
        : fd_(fd),
          buffers_{AlignedBuffer(kChunkBytes), AlignedBuffer(kChunkBytes),
                   AlignedBuffer(kChunkBytes)},
          thread_([this] { work(); }) {}
    ~ReadAhead() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next chunk (empty at the end), or the read's errno.
    Result<std::span<const std::uint8_t>> next() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ > taken_; });
        const Read& r = reads_[taken_ % kBuffers];
        ++taken_;
        if (r.error != 0)
            return makeError(systemErrorText(r.error), r.error);
        return std::span<const std::uint8_t>(buffers_[(taken_ - 1) % kBuffers].data(), r.size);
    }
    // The oldest chunk taken and not yet released may be read over.
    void releaseOldest() {
        {
            const std::lock_guard lock(mutex_);
            ++released_;
        }
        changed_.notify_all();
    }

  private:
    struct Read {
        std::size_t size = 0;
        int error = 0;
    };

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || filled_ - released_ < kBuffers; });
            if (stop_)
                return;
            AlignedBuffer& buffer = buffers_[filled_ % kBuffers];
            lock.unlock();
            ssize_t n = 0;
            do {
                n = ::read(fd_, buffer.data(), buffer.size());
            } while (n < 0 && (errno == EINTR || errno == EAGAIN));
            const Read r{n > 0 ? static_cast<std::size_t>(n) : 0, n < 0 ? errno : 0};
            lock.lock();
            reads_[filled_ % kBuffers] = r;
            ++filled_;
            changed_.notify_all();
            if (r.size == 0)
                return;  // the end, or an error: nothing more to read
        }
    }

    int fd_;
    AlignedBuffer buffers_[kBuffers];
    Read reads_[kBuffers];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filled_ = 0;    // chunks read
    std::size_t taken_ = 0;     // chunks handed to the caller
    std::size_t released_ = 0;  // chunks the caller is done with
    bool stop_ = false;
    std::thread thread_;  // last: starts once the rest is in place
};

}  // namespace

std::string toHex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(digest.size() * 2);
    for (std::uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

std::optional<Sha256Digest> digestFromHex(std::string_view hex) {
    Sha256Digest d{};
    if (hex.size() != d.size() * 2)
        return std::nullopt;
    for (std::size_t i = 0; i < d.size(); ++i) {
        const int hi = hexValue(hex[2 * i]);
        const int lo = hexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        d[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return d;
}

struct Sha256::State {
    EVP_MD_CTX* ctx = nullptr;
};

Sha256::Sha256() : state_(new State) {
    state_->ctx = EVP_MD_CTX_new();
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(state_->ctx);
        delete state_;
        throw std::bad_alloc();
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(state_->ctx);
    delete state_;
}

void Sha256::update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty())
        EVP_DigestUpdate(state_->ctx, bytes.data(), bytes.size());
}

void Sha256::update(std::string_view bytes) {
    update(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                         bytes.size()));
}

Sha256Digest Sha256::finish() {
    Sha256Digest d{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->ctx, d.data(), &length);
    EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr);
    return d;
}

Sha256Digest sha256Of(std::string_view bytes) {
    Sha256 h;
    h.update(bytes);
    return h.finish();
}

Result<FileStamp> stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return makeError("cannot read '" + path + "': " + systemErrorText(errno), errno);
    return stampFrom(st);
}

Result<HashedFile> hashFile(const std::string& path, const ChunkFunction& onChunk) {
    // O_NONBLOCK: a FIFO put in place of a recording must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return makeError("cannot open '" + path + "': " + systemErrorText(errno), errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return makeError("cannot read '" + path + "': " + systemErrorText(errno), errno);
    if (!S_ISREG(st.st_mode))
        return makeError("cannot read '" + path + "': not a regular file");
    const FileStamp before = stampFrom(st);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const auto changed = [&path] { return makeError("'" + path + "' changed while it was read"); };
    // Three threads at once: the next chunk is read while the last is hashed and handed on.
    // Aligned buffers, so a writer may hand them to the medium directly.
    ReadAhead reader(fd.get());
    ChunkHasher hasher;  // after the reader: stops before its buffers go
    std::uint64_t total = 0;
    for (std::size_t k = 0;; ++k) {
        auto chunk = reader.next();
        if (!chunk)
            return makeError("cannot read '" + path + "': " + chunk.error(), chunk.errorNumber());
        if (chunk->empty())
            break;
        hasher.add(*chunk);  // once the chunk before is hashed: its buffer is free again
        if (k > 0)
            reader.releaseOldest();
        total += chunk->size();
        if (total > before.size)
            return changed();  // it grew
        if (onChunk && !onChunk(*chunk))
            return makeError("cancelled");
    }
    hasher.wait();
    if (::fstat(fd.get(), &st) != 0)
        return makeError("cannot read '" + path + "': " + systemErrorText(errno), errno);
    const FileStamp after = stampFrom(st);
    // The name must still lead to the file that was read: a recording replaced by another
    // (renamed over it) while it was read is a change too.
    const auto now = stampOf(path);
    if (total != before.size || after != before || !now || *now != before)
        return changed();
    return HashedFile{hasher.digest(), before, hasher.crc()};
}

Result<std::uint32_t> crc32cOfFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return makeError("cannot open '" + path + "': " + systemErrorText(errno), errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return makeError("cannot read '" + path + "': not a regular file");
    // From the medium itself, not from the memory a copy just written left behind: straight
    // into the buffer where the file system allows it (no second copy through the cache either),
    // else with the cached pages dropped first.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    bool direct = flags >= 0 && ::fcntl(fd.get(), F_SETFL, flags | O_DIRECT) == 0;
    const auto goBuffered = [&] {
        direct = false;
        (void)::fcntl(fd.get(), F_SETFL, flags);
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    };
    if (!direct)
        goBuffered();
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    AlignedBuffer buffer(kChunkBytes * 4);
    std::uint32_t crc = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            // Direct reads the file system turns down after all (alignment): the usual way.
            if (errno == EINVAL && direct) {
                goBuffered();
                continue;
            }
            return makeError("cannot read '" + path + "': " + systemErrorText(errno), errno);
        }
        if (n == 0)
            return crc;
        crc =
            crc32c(crc, std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
    }
}

}  // namespace orvik::platform
