#include "trips/summary_cache.h"

#include <sys/stat.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "platform/commit_writer.h"
#include "platform/readable_file.h"

namespace orvik::trips {
namespace {

// Version 1 of the layout; a changed layout gets a new magic and old files are simply rebuilt.
constexpr std::string_view kMagic = "ORVTRIP1";
constexpr std::size_t kMaxPath = 4096;
// A day-long recording with an impact every record would still fit far below this.
constexpr std::size_t kMaxImpacts = 1u << 20;
constexpr std::size_t kMaxCacheBytes = 512u << 20;

class Writer {
  public:
    void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out_.push_back(static_cast<char>(v >> (8 * i)));
    }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }
    void text(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
    }
    void raw(std::string_view s) { out_.append(s); }
    std::string take() { return std::move(out_); }

  private:
    std::string out_;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool ok() const { return ok_; }
    std::size_t left() const { return in_.size() - pos_; }
    bool take(std::size_t n) {
        if (!ok_ || n > left())
            return ok_ = false;
        return true;
    }
    std::uint8_t u8() { return take(1) ? static_cast<std::uint8_t>(in_[pos_++]) : 0; }
    std::uint32_t u32() {
        if (!take(4))
            return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{static_cast<std::uint8_t>(in_[pos_++])} << (8 * i);
        return v;
    }
    std::uint64_t u64() {
        const std::uint64_t lo = u32();
        return lo | (std::uint64_t{u32()} << 32);
    }
    double f64() { return std::bit_cast<double>(u64()); }
    std::string_view raw(std::size_t n) {
        if (!take(n))
            return {};
        auto s = in_.substr(pos_, n);
        pos_ += n;
        return s;
    }

  private:
    std::string_view in_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

std::uint64_t fnv1a(std::string_view s) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char c : s) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 0x100000001b3ull;
    }
    return h;
}

}  // namespace

std::filesystem::path summaryCacheFile(const std::filesystem::path& cacheFolder,
                                       const std::string& cardRoot) {
    std::error_code ec;
    std::filesystem::path root = std::filesystem::weakly_canonical(cardRoot, ec);
    if (ec)
        root = std::filesystem::absolute(cardRoot, ec).lexically_normal();
    char name[40];
    std::snprintf(name, sizeof name, "trips-%016llx.bin",
                  static_cast<unsigned long long>(fnv1a(root.string())));
    return cacheFolder / name;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_size),
                        std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

const RecordingStats* SummaryCache::find(const std::string& path,
                                         const FileIdentity& identity) const {
    auto it = entries_.find(path);
    if (it == entries_.end() || it->second.identity != identity)
        return nullptr;
    return &it->second.stats;
}

void SummaryCache::put(const std::string& path, const FileIdentity& identity,
                       RecordingStats stats) {
    entries_[path] = Entry{identity, std::move(stats)};
}

void SummaryCache::retain(std::span<const std::string> paths) {
    std::unordered_set<std::string_view> keep(paths.begin(), paths.end());
    std::erase_if(entries_, [&](const auto& e) { return !keep.contains(e.first); });
}

std::string SummaryCache::serialize() const {
    Writer w;
    w.raw(kMagic);
    w.f64(thresholds_.x);
    w.f64(thresholds_.y);
    w.f64(thresholds_.z);
    w.u32(static_cast<std::uint32_t>(entries_.size()));
    for (const auto& [path, e] : entries_) {
        w.text(path);
        w.u64(e.identity.size);
        w.u64(static_cast<std::uint64_t>(e.identity.mtimeNs));
        const RecordingStats& s = e.stats;
        w.u8((s.readable ? 1 : 0) | static_cast<std::uint8_t>(s.durationSource) << 1);
        w.f64(s.durationSeconds);
        w.u32(s.records);
        w.f64(s.distanceKm);
        w.f64(s.maxSpeedKmh);
        w.u8(s.speedUnits);
        w.u32(static_cast<std::uint32_t>(s.impacts.size()));
        for (double t : s.impacts)
            w.f64(t);
    }
    return w.take();
}

std::optional<SummaryCache> SummaryCache::parse(std::string_view bytes,
                                                const ImpactThresholds& thresholds) {
    Reader r(bytes);
    if (r.raw(kMagic.size()) != kMagic)
        return std::nullopt;
    const ImpactThresholds stored{r.f64(), r.f64(), r.f64()};
    if (!r.ok() || stored != thresholds)
        return std::nullopt;
    SummaryCache cache(thresholds);
    const std::uint32_t count = r.u32();
    for (std::uint32_t i = 0; i < count && r.ok(); ++i) {
        const std::uint32_t pathLength = r.u32();
        if (pathLength == 0 || pathLength > kMaxPath)
            return std::nullopt;
        std::string path(r.raw(pathLength));
        Entry e;
        e.identity.size = r.u64();
        e.identity.mtimeNs = static_cast<std::int64_t>(r.u64());
        const std::uint8_t flags = r.u8();
        RecordingStats& s = e.stats;
        s.readable = (flags & 1) != 0;
        const std::uint8_t source = flags >> 1;
        if (source > static_cast<std::uint8_t>(DurationSource::Telemetry))
            return std::nullopt;
        s.durationSource = static_cast<DurationSource>(source);
        s.durationSeconds = r.f64();
        s.records = r.u32();
        s.distanceKm = r.f64();
        s.maxSpeedKmh = r.f64();
        s.speedUnits = r.u8();
        const std::uint32_t impacts = r.u32();
        if (!r.ok() || impacts > kMaxImpacts || impacts > r.left() / 8)
            return std::nullopt;
        s.impacts.resize(impacts);
        for (double& t : s.impacts)
            t = r.f64();
        const auto finite = [](double v) { return std::isfinite(v) && v >= 0; };
        if (!finite(s.durationSeconds) || s.durationSeconds > kLongestRecordingSeconds ||
            !finite(s.distanceKm) || !finite(s.maxSpeedKmh) || s.speedUnits > (kUnitKmh | kUnitMph))
            return std::nullopt;
        for (double t : s.impacts) {
            if (!finite(t))
                return std::nullopt;
        }
        cache.entries_[std::move(path)] = std::move(e);
    }
    if (!r.ok() || r.left() != 0)
        return std::nullopt;
    return cache;
}

SummaryCache SummaryCache::load(const std::filesystem::path& file,
                                const ImpactThresholds& thresholds) {
    auto bytes = platform::readFileLimited(file.string(), kMaxCacheBytes);
    if (!bytes)
        return SummaryCache(thresholds);
    auto cache = parse(*bytes, thresholds);
    return cache ? std::move(*cache) : SummaryCache(thresholds);
}

Result<void> SummaryCache::save(const std::filesystem::path& file) const {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec)
        return makeError("cannot create " + file.parent_path().string() + ": " + ec.message());
    return platform::writeFileAtomic(file.string(), serialize());
}

}  // namespace orvik::trips
