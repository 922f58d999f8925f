#include "recordings/telemetry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "recordings/detail/bytes.h"
#include "recordings/nmea.h"

namespace orvik::recordings {

using detail::loadBe32;
using detail::loadLe32;
using detail::loadLeF64;
using detail::loadLeI32;

namespace {

// Record layout: offsets of the fields in the 200 bytes.
constexpr std::size_t kMagicAt = 0;
constexpr std::size_t kTimestampAt = 4;
constexpr std::size_t kAccelXAt = 12;
constexpr std::size_t kAccelYAt = 16;
constexpr std::size_t kAccelZAt = 20;
constexpr std::size_t kAccelAuxAt = 24;
constexpr std::size_t kNmeaTextAt = 28;
constexpr std::size_t kSpeedUnitCodeAt = 156;
constexpr std::size_t kSpeedAt = 160;
constexpr std::size_t kLatitudeAt = 164;
constexpr std::size_t kLongitudeAt = 172;
constexpr std::size_t kHdopAt = 180;
constexpr std::size_t kSatellitesUsedAt = 188;
constexpr std::size_t kEndMarkAt = 196;
constexpr char kMagic[5] = "K737";
constexpr char kEndMark[5] = {'E', 'N', 'D', '\0', '\0'};

constexpr std::uint64_t kBoxHeaderSize = 8;
// The accelerometer counts 256 steps per g.
constexpr float kAccelStepsPerG = 256.0f;

struct BoxHeader {
    std::uint32_t size;
    std::array<std::byte, 4> type;
};

// Reads size and type at offset; false when the 8 bytes are not all inside the source.
bool readBoxHeader(ByteSource& source, std::uint64_t offset, BoxHeader& out) {
    std::array<std::byte, 8> b{};
    if (source.readAt(offset, b) != b.size())
        return false;
    out.size = loadBe32(b, 0);
    std::copy_n(b.begin() + 4, 4, out.type.begin());
    return true;
}

bool isType(const std::array<std::byte, 4>& type, const char (&text)[5]) {
    return std::memcmp(type.data(), text, 4) == 0;
}

// The telemetry areas of a recording, found by walking its top-level boxes.
struct FragmentWalk {
    std::vector<std::uint64_t> areas;  // offsets of the 2222-byte areas
    std::size_t fragments = 0;
    std::size_t fragmentsWithoutArea = 0;
    WalkEnd end = WalkEnd::EndOfFile;
    std::uint64_t endOffset = 0;
};

void walkFragments(ByteSource& source, std::uint64_t first, FragmentWalk& walk) {
    const std::uint64_t fileSize = source.size();
    std::uint64_t o = first;
    for (;;) {
        walk.endOffset = o;
        BoxHeader moof{};
        if (!readBoxHeader(source, o, moof)) {
            walk.end = WalkEnd::EndOfFile;
            return;
        }
        if (!isType(moof.type, "moof")) {
            walk.end = WalkEnd::NotFragment;
            return;
        }
        // Sizes 0 ("to the end of the file") and 1 (64-bit size) are not used by the camera and
        // would make the walk stand still.
        if (moof.size < kBoxHeaderSize) {
            walk.end = WalkEnd::BoxTooSmall;
            return;
        }
        const std::uint64_t media = o + moof.size;
        BoxHeader mediaBox{};
        if (!readBoxHeader(source, media, mediaBox)) {
            walk.end = media >= fileSize ? WalkEnd::BoxPastEnd : WalkEnd::EndOfFile;
            return;
        }
        if (mediaBox.size < kBoxHeaderSize) {
            walk.end = WalkEnd::BoxTooSmall;
            return;
        }
        const std::uint64_t next = media + mediaBox.size;
        if (next > fileSize) {
            walk.end = WalkEnd::BoxPastEnd;
            return;
        }
        ++walk.fragments;
        if (mediaBox.size >= kTelemetryAreaSize) {
            walk.areas.push_back(next - kTelemetryAreaSize);
        } else {
            ++walk.fragmentsWithoutArea;  // too small to hold the eleven slots
        }
        o = next;  // advances by at least 16 bytes: the walk always ends
    }
}

}  // namespace

SpeedUnit speedUnitOf(std::int32_t speedUnitCode) {
    return speedUnitCode == kSpeedUnitCodeMph ? SpeedUnit::MilesPerHour
                                              : SpeedUnit::KilometresPerHour;
}

std::string_view speedUnitName(SpeedUnit unit) {
    return unit == SpeedUnit::MilesPerHour ? "mph" : "km/h";
}

std::string_view walkEndName(WalkEnd end) {
    switch (end) {
        case WalkEnd::EndOfFile:
            return "end of file";
        case WalkEnd::NotFragment:
            return "box after the last fragment";
        case WalkEnd::BoxTooSmall:
            return "box size below 8";
        case WalkEnd::BoxPastEnd:
            return "box runs past the end of the file";
    }
    return "?";
}

void TelemetryRecord::setNmeaText(std::string_view text) {
    nmeaText.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), nmeaText.size()), nmeaText.begin());
}

std::optional<TelemetryRecord> parseTelemetryRecord(
    std::span<const std::byte, kTelemetryRecordSize> b) {
    if (!detail::equalsAscii(b, kMagicAt, kMagic) ||
        std::memcmp(b.data() + kEndMarkAt, kEndMark, 4) != 0) {
        return std::nullopt;
    }
    TelemetryRecord r;
    r.timestamp = loadLe32(b, kTimestampAt);
    r.accelX = loadLeI32(b, kAccelXAt);
    r.accelY = loadLeI32(b, kAccelYAt);
    r.accelZ = loadLeI32(b, kAccelZAt);
    r.accelAux = loadLeI32(b, kAccelAuxAt);
    std::memcpy(r.nmeaText.data(), b.data() + kNmeaTextAt, kNmeaTextSize);
    r.speedUnitCode = loadLeI32(b, kSpeedUnitCodeAt);
    r.speed = loadLeI32(b, kSpeedAt);
    r.latitude = NmeaAngle(loadLeF64(b, kLatitudeAt));
    r.longitude = NmeaAngle(loadLeF64(b, kLongitudeAt));
    r.hdop = loadLeF64(b, kHdopAt);
    r.satellitesUsed = loadLeI32(b, kSatellitesUsedAt);
    return r;
}

std::array<std::byte, kTelemetryRecordSize> encodeTelemetryRecord(const TelemetryRecord& r) {
    std::array<std::byte, kTelemetryRecordSize> b{};
    std::memcpy(b.data() + kMagicAt, kMagic, 4);
    detail::storeLe32(b, kTimestampAt, r.timestamp);
    detail::storeLe32(b, kAccelXAt, static_cast<std::uint32_t>(r.accelX));
    detail::storeLe32(b, kAccelYAt, static_cast<std::uint32_t>(r.accelY));
    detail::storeLe32(b, kAccelZAt, static_cast<std::uint32_t>(r.accelZ));
    detail::storeLe32(b, kAccelAuxAt, static_cast<std::uint32_t>(r.accelAux));
    std::memcpy(b.data() + kNmeaTextAt, r.nmeaText.data(), kNmeaTextSize);
    detail::storeLe32(b, kSpeedUnitCodeAt, static_cast<std::uint32_t>(r.speedUnitCode));
    detail::storeLe32(b, kSpeedAt, static_cast<std::uint32_t>(r.speed));
    detail::storeLeF64(b, kLatitudeAt, r.latitude.value());
    detail::storeLeF64(b, kLongitudeAt, r.longitude.value());
    detail::storeLeF64(b, kHdopAt, r.hdop);
    detail::storeLe32(b, kSatellitesUsedAt, static_cast<std::uint32_t>(r.satellitesUsed));
    std::memcpy(b.data() + kEndMarkAt, kEndMark, 4);
    return b;
}

std::size_t MemoryByteSource::readAt(std::uint64_t offset, std::span<std::byte> out) {
    // An empty read may come with a null buffer, which memcpy must never see.
    if (offset >= data_.size() || out.empty())
        return 0;
    const std::size_t n = std::min<std::uint64_t>(out.size(), data_.size() - offset);
    std::memcpy(out.data(), data_.data() + offset, n);
    return n;
}

std::unique_ptr<FileByteSource> FileByteSource::open(const std::string& path, std::string* error) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = "cannot open '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = "'" + path + "' is not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(fd, static_cast<std::uint64_t>(st.st_size)));
}

FileByteSource::~FileByteSource() {
    ::close(fd_);
}

std::size_t FileByteSource::readAt(std::uint64_t offset, std::span<std::byte> out) {
    std::size_t done = 0;
    while (done < out.size() && offset + done < size_) {
        if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
            break;
        const ssize_t n =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void TelemetryTrack::reset() {
    fixes_.clear();
    accelSamples_.clear();
    rawAccel_.clear();
    timestamps_.clear();
    nmeaSnapshots_.clear();
    receiverStates_.clear();
    running_ = GpsFix{};
    runningStatus_ = ReceiverStatus{};
}

HResult TelemetryTrack::readRecording(const std::string& path, ReadReport* report) {
    std::string error;
    auto source = FileByteSource::open(path, &error);
    if (!source) {
        if (report)
            report->error = error;
        return E_FAIL;
    }
    const HResult hr = readRecording(*source, report);
    if (report && failed(hr))
        report->error = "'" + path + "' is not a recording: " + report->error;
    return hr;
}

namespace {

// Whether any sentence of the record's text carries a matching checksum.
bool anyChecksumMatches(const TelemetryRecord& record) {
    bool found = false;
    forEachRecordSentence(
        std::string_view(record.nmeaText.data(), record.nmeaText.size()),
        [&](std::string_view sentence) { found = found || nmeaChecksumMatches(sentence); });
    return found;
}

}  // namespace

HResult TelemetryTrack::readRecording(ByteSource& source, ReadReport* report) {
    ReadReport local;
    ReadReport& r = report ? *report : local;
    r = ReadReport{};

    // Header: "ftyp" with major brand "iso4", then one more box (the movie box) whose size
    // tells where the fragments start.
    std::array<std::byte, 12> head{};
    if (source.readAt(0, head) != head.size()) {
        r.error = "too short for a file type box";
        return E_FAIL;
    }
    if (!detail::equalsAscii(head, 4, "ftyp")) {
        r.error = "the first box is not \"ftyp\"";
        return E_FAIL;
    }
    if (!detail::equalsAscii(head, 8, "iso4")) {
        r.error = "the major brand is not \"iso4\"";
        return E_FAIL;
    }
    const std::uint32_t s1 = loadBe32(head, 0);
    std::array<std::byte, 4> s2Bytes{};
    if (source.readAt(s1, s2Bytes) != s2Bytes.size()) {
        r.error = "no box after the file type box";
        return E_FAIL;
    }
    const std::uint32_t s2 = loadBe32(s2Bytes, 0);

    FragmentWalk walk;
    if (s1 < kBoxHeaderSize || s2 < kBoxHeaderSize) {
        walk.end = WalkEnd::BoxTooSmall;
        walk.endOffset = s1 < kBoxHeaderSize ? 0 : s1;
    } else {
        walkFragments(source, std::uint64_t{s1} + s2, walk);
    }

    // Reserving up front keeps the peak memory of long recordings near what they need: pages
    // of unused capacity are never touched. Text of 128 bytes holds at most 64 sentences.
    const std::size_t slots = walk.areas.size() * kTelemetrySlotsPerFragment;
    fixes_.reserve(fixes_.size() + slots);
    accelSamples_.reserve(accelSamples_.size() + slots);
    rawAccel_.reserve(rawAccel_.size() + slots);
    timestamps_.reserve(timestamps_.size() + slots);
    receiverStates_.reserve(receiverStates_.size() + slots);
    nmeaSnapshots_.reserve(nmeaSnapshots_.size() + slots * 4);

    // The checksum rule holds for the whole recording, so records wait undecoded until a
    // matching checksum decides it. A camera that writes real checksums has one in its first
    // record; only a recording without any keeps its records until the end.
    std::vector<TelemetryRecord> undecided;
    bool decided = false;
    const auto take = [&](const TelemetryRecord& record) {
        if (decided) {
            takeRecord(record);
            return;
        }
        if (!anyChecksumMatches(record)) {
            undecided.push_back(record);
            return;
        }
        decided = true;
        checksumRule_ = ChecksumRule::Verify;
        for (const TelemetryRecord& earlier : undecided)
            takeRecord(earlier);
        undecided = {};
        takeRecord(record);
    };

    std::array<std::byte, kTelemetryAreaSize> area{};
    for (const std::uint64_t at : walk.areas) {
        const std::size_t got = source.readAt(at, area);
        for (std::size_t slot = 0; slot < kTelemetrySlotsPerFragment; ++slot) {
            // The 2-byte prefix of each slot carries nothing the viewer uses.
            const std::size_t recordAt = slot * kTelemetrySlotSize + 2;
            if (got < recordAt + kTelemetryRecordSize) {
                ++r.skippedSlots;
                continue;
            }
            const auto record =
                parseTelemetryRecord(std::span<const std::byte, kTelemetryRecordSize>(
                    area.data() + recordAt, kTelemetryRecordSize));
            if (!record) {
                ++r.skippedSlots;
                continue;
            }
            take(*record);
            ++r.records;
        }
    }
    if (!decided) {
        checksumRule_ = ChecksumRule::Ignore;
        for (const TelemetryRecord& record : undecided)
            takeRecord(record);
    }
    r.fragments = walk.fragments;
    r.fragmentsWithoutArea = walk.fragmentsWithoutArea;
    r.end = walk.end;
    r.endOffset = walk.endOffset;
    return S_OK;
}

void TelemetryTrack::takeRecord(const TelemetryRecord& record) {
    timestamps_.push_back(record.timestamp);
    rawAccel_.push_back({record.accelX, record.accelY, record.accelZ, record.accelAux});
    accelSamples_.push_back({static_cast<float>(record.accelX) / kAccelStepsPerG,
                             static_cast<float>(record.accelY) / kAccelStepsPerG,
                             static_cast<float>(record.accelZ) / kAccelStepsPerG});
    decodeRecordText(std::string_view(record.nmeaText.data(), record.nmeaText.size()));
    GpsFix fix;
    fix.latitude = record.latitude;
    fix.longitude = record.longitude;
    fix.hdop = record.hdop;
    fix.satellitesUsed = record.satellitesUsed;
    fix.speed = static_cast<double>(record.speed);
    fix.speedUnitCode = record.speedUnitCode;
    // The record stores magnitudes only; the hemispheres come from the latest sentence that had
    // them.
    fix.latHemisphere = running_.latHemisphere;
    fix.lonHemisphere = running_.lonHemisphere;
    fixes_.push_back(fix);
    receiverStates_.push_back({running_.time, runningStatus_});
}

void TelemetryTrack::decodeRecordText(std::string_view text) {
    forEachRecordSentence(text, [this](std::string_view sentence) {
        handleSentence(sentence);
        nmeaSnapshots_.push_back(running_);
    });
}

bool TelemetryTrack::handleSentence(std::string_view sentence) {
    return decodeNmeaSentence(sentence, running_, &runningStatus_, checksumRule_);
}

std::size_t entryIndex(std::size_t count, std::int64_t position, std::int64_t rangeMaximum) {
    if (count == 0 || position <= 0 || rangeMaximum <= 0)
        return 0;
    if (position >= rangeMaximum)
        return count - 1;
    // 128-bit product: the same result as the 64-bit rule wherever that does not overflow.
    const auto product =
        static_cast<unsigned __int128>(count - 1) * static_cast<std::uint64_t>(position);
    return static_cast<std::size_t>(product / static_cast<std::uint64_t>(rangeMaximum));
}

}  // namespace orvik::recordings
