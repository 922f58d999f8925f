#include "trips/media_duration.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "platform/byte_order.h"
#include "recordings/byte_source.h"
#include "recordings/fragment_walk.h"

namespace orvik::trips {
namespace {

using recordings::ByteSource;

// Boxes we read whole (movie box, track fragment boxes) are small; anything bigger is not a
// header a camera writes and is skipped rather than loaded.
constexpr std::uint64_t kMaxHeaderBox = 4u << 20;
// A top-level walk never needs more boxes than a day of one-second fragments.
constexpr std::size_t kMaxTopLevelBoxes = 1u << 20;

// A bounds-checked cursor over the body of one box.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool has(std::size_t n) const { return n <= data_.size() - pos_; }
    std::uint8_t u8() { return has(1) ? data_[pos_++] : (fail_ = true, 0); }
    std::uint32_t u32() {
        if (!has(4)) {
            fail_ = true;
            return 0;
        }
        const auto v = platform::loadBe32(data_, pos_);
        pos_ += 4;
        return v;
    }
    std::uint64_t u64() {
        if (!has(8)) {
            fail_ = true;
            return 0;
        }
        const auto v = platform::loadBe64(data_, pos_);
        pos_ += 8;
        return v;
    }
    void skip(std::size_t n) {
        if (!has(n)) {
            fail_ = true;
            pos_ = data_.size();
        } else {
            pos_ += n;
        }
    }
    bool failed() const { return fail_; }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool fail_ = false;
};

struct Child {
    std::array<char, 4> type{};
    std::span<const std::uint8_t> body;
    bool is(const char (&t)[5]) const { return std::memcmp(type.data(), t, 4) == 0; }
};

// The boxes inside a parent body, stopping at the first that does not fit.
std::vector<Child> children(std::span<const std::uint8_t> body) {
    std::vector<Child> out;
    std::size_t at = 0;
    while (body.size() - at >= 8) {
        std::uint64_t size = platform::loadBe32(body, at);
        std::size_t header = 8;
        if (size == 1) {
            if (body.size() - at < 16)
                break;
            size = platform::loadBe64(body, at + 8);
            header = 16;
        } else if (size == 0) {
            size = body.size() - at;  // to the end of the parent
        }
        if (size < header || size > body.size() - at)
            break;
        Child c;
        std::memcpy(c.type.data(), body.data() + at + 4, 4);
        c.body = body.subspan(at + header, static_cast<std::size_t>(size) - header);
        out.push_back(c);
        at += static_cast<std::size_t>(size);
    }
    return out;
}

struct TrackInfo {
    std::uint32_t timescale = 0;
    std::uint32_t defaultSampleDuration = 0;  // from "trex"
    std::uint64_t end = 0;                    // end of the last fragment seen, in timescale units
    bool seen = false;
};

struct MovieInfo {
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;          // "mvhd", 0 when unknown
    std::uint64_t fragmentDuration = 0;  // "mvex/mehd", 0 when absent
    std::map<std::uint32_t, TrackInfo> tracks;
};

// Version-dependent time field: 64 bits in version 1 boxes, 32 otherwise; all ones means
// "unknown".
std::uint64_t timeField(Reader& r, std::uint8_t version) {
    if (version == 1) {
        const auto v = r.u64();
        return v == UINT64_MAX ? 0 : v;
    }
    const auto v = r.u32();
    return v == UINT32_MAX ? 0 : v;
}

void readMvhd(std::span<const std::uint8_t> body, MovieInfo& movie) {
    Reader r(body);
    const std::uint8_t version = r.u8();
    r.skip(3);
    r.skip(version == 1 ? 16 : 8);  // creation and modification times
    const std::uint32_t timescale = r.u32();
    const std::uint64_t duration = timeField(r, version);
    if (!r.failed()) {
        movie.timescale = timescale;
        movie.duration = duration;
    }
}

void readTrak(std::span<const std::uint8_t> body, MovieInfo& movie) {
    std::uint32_t trackId = 0;
    std::uint32_t timescale = 0;
    for (const Child& c : children(body)) {
        if (c.is("tkhd")) {
            Reader r(c.body);
            const std::uint8_t version = r.u8();
            r.skip(3 + (version == 1 ? 16 : 8));
            const std::uint32_t id = r.u32();
            if (!r.failed())
                trackId = id;
        } else if (c.is("mdia")) {
            for (const Child& m : children(c.body)) {
                if (!m.is("mdhd"))
                    continue;
                Reader r(m.body);
                const std::uint8_t version = r.u8();
                r.skip(3 + (version == 1 ? 16 : 8));
                const std::uint32_t ts = r.u32();
                if (!r.failed())
                    timescale = ts;
            }
        }
    }
    if (trackId != 0 && timescale != 0)
        movie.tracks[trackId].timescale = timescale;
}

void readMoov(std::span<const std::uint8_t> body, MovieInfo& movie) {
    for (const Child& c : children(body)) {
        if (c.is("mvhd")) {
            readMvhd(c.body, movie);
        } else if (c.is("trak")) {
            readTrak(c.body, movie);
        } else if (c.is("mvex")) {
            for (const Child& m : children(c.body)) {
                Reader r(m.body);
                const std::uint8_t version = r.u8();
                r.skip(3);
                if (m.is("mehd")) {
                    const std::uint64_t d = timeField(r, version);
                    if (!r.failed())
                        movie.fragmentDuration = d;
                } else if (m.is("trex")) {
                    const std::uint32_t id = r.u32();
                    r.skip(4);  // default sample description index
                    const std::uint32_t duration = r.u32();
                    if (!r.failed())
                        movie.tracks[id].defaultSampleDuration = duration;
                }
            }
        }
    }
}

// One track fragment: where its samples start on the track's time line and how long they last.
void readTraf(std::span<const std::uint8_t> body, MovieInfo& movie) {
    std::uint32_t trackId = 0;
    std::uint32_t defaultDuration = 0;
    bool haveDefault = false;
    std::uint64_t baseTime = 0;
    bool haveBase = false;
    std::uint64_t total = 0;
    std::vector<Child> runs;
    for (const Child& c : children(body)) {
        Reader r(c.body);
        const std::uint8_t version = r.u8();
        const std::uint32_t flags =
            (std::uint32_t{r.u8()} << 16) | (std::uint32_t{r.u8()} << 8) | std::uint32_t{r.u8()};
        if (c.is("tfhd")) {
            trackId = r.u32();
            if (flags & 0x01)
                r.skip(8);  // base data offset
            if (flags & 0x02)
                r.skip(4);  // sample description index
            if (flags & 0x08) {
                defaultDuration = r.u32();
                haveDefault = !r.failed();
            }
            if (r.failed())
                return;
        } else if (c.is("tfdt")) {
            const std::uint64_t t = version == 1 ? r.u64() : r.u32();
            if (!r.failed()) {
                baseTime = t;
                haveBase = true;
            }
        } else if (c.is("trun")) {
            runs.push_back(c);
        }
    }
    auto it = movie.tracks.find(trackId);
    if (it == movie.tracks.end())
        return;
    TrackInfo& track = it->second;
    if (!haveDefault)
        defaultDuration = track.defaultSampleDuration;
    for (const Child& c : runs) {
        Reader r(c.body);
        r.skip(1);
        const std::uint32_t flags =
            (std::uint32_t{r.u8()} << 16) | (std::uint32_t{r.u8()} << 8) | std::uint32_t{r.u8()};
        const std::uint32_t count = r.u32();
        if (flags & 0x01)
            r.skip(4);  // data offset
        if (flags & 0x04)
            r.skip(4);  // first sample flags
        if (r.failed())
            continue;
        if (!(flags & 0x100)) {
            total += std::uint64_t{count} * defaultDuration;
            continue;
        }
        const std::size_t perSample =
            4 * (1 + ((flags & 0x200) != 0) + ((flags & 0x400) != 0) + ((flags & 0x800) != 0));
        // The count is checked against the bytes present, so a huge count cannot spin.
        if (!r.has(std::size_t{count} * perSample))
            continue;
        for (std::uint32_t i = 0; i < count; ++i) {
            total += r.u32();
            r.skip(perSample - 4);
        }
    }
    const std::uint64_t start = haveBase ? baseTime : track.end;
    track.end = std::max(track.end, start + total);
    track.seen = true;
}

void readMoof(std::span<const std::uint8_t> body, MovieInfo& movie) {
    for (const Child& c : children(body)) {
        if (c.is("traf"))
            readTraf(c.body, movie);
    }
}

bool readBox(ByteSource& source, std::uint64_t offset, std::uint64_t size,
             std::vector<std::uint8_t>& out) {
    out.resize(static_cast<std::size_t>(size));
    const std::size_t n = source.readAt(
        offset, std::span<std::byte>(reinterpret_cast<std::byte*>(out.data()), out.size()));
    return n == out.size();
}

}  // namespace

std::optional<double> mediaDurationSeconds(ByteSource& source) {
    MovieInfo movie;
    bool fragmented = false;
    std::vector<std::uint8_t> body;
    const std::uint64_t fileSize = source.size();
    std::uint64_t offset = 0;
    for (std::size_t boxes = 0; boxes < kMaxTopLevelBoxes && fileSize - offset >= 8; ++boxes) {
        const auto box = recordings::readBoxHeader(source, offset, true);
        if (!box)
            break;
        const std::uint64_t size = box->size;
        const std::uint64_t header = box->headerSize;
        if (size < header || size > fileSize - offset)
            break;  // a truncated last box: what came before still counts
        const bool moov = box->is("moov");
        const bool moof = box->is("moof");
        if ((moov || moof) && size - header <= kMaxHeaderBox) {
            if (!readBox(source, offset + header, size - header, body))
                break;
            if (moov) {
                readMoov(body, movie);
                // A movie header that knows the length answers without walking the fragments.
                if (movie.timescale != 0 && movie.duration != 0)
                    return static_cast<double>(movie.duration) / movie.timescale;
            } else {
                fragmented = true;
                readMoof(body, movie);
            }
        }
        offset += size;
    }
    if (movie.timescale != 0 && movie.fragmentDuration != 0)
        return static_cast<double>(movie.fragmentDuration) / movie.timescale;
    if (!fragmented)
        return std::nullopt;
    double longest = 0;
    for (const auto& [id, track] : movie.tracks) {
        if (track.seen && track.timescale != 0)
            longest = std::max(longest, static_cast<double>(track.end) / track.timescale);
    }
    if (longest > 0)
        return longest;
    return std::nullopt;
}

std::optional<double> fileDurationSeconds(const std::string& path) {
    auto source = recordings::FileByteSource::open(path);
    const std::optional<double> length = source ? mediaDurationSeconds(*source) : std::nullopt;
    if (!length || !(*length > 0))
        return std::nullopt;
    return length;
}

}  // namespace orvik::trips
