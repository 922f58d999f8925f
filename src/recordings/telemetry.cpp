#include "recordings/telemetry.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "recordings/nmea.h"

namespace orvik::recordings {

using platform::loadLe32;
using platform::loadLeF64;
using platform::loadLeI32;

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

// The accelerometer counts 256 steps per g.
constexpr float kAccelStepsPerG = 256.0f;

}  // namespace

SpeedUnit speedUnitOf(std::int32_t speedUnitCode) {
    return speedUnitCode == kSpeedUnitCodeMph ? SpeedUnit::MilesPerHour
                                              : SpeedUnit::KilometresPerHour;
}

std::string_view speedUnitName(SpeedUnit unit) {
    return unit == SpeedUnit::MilesPerHour ? "mph" : "km/h";
}

void TelemetryRecord::setNmeaText(std::string_view text) {
    nmeaText.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), nmeaText.size()), nmeaText.begin());
}

std::optional<TelemetryRecord> parseTelemetryRecord(
    std::span<const std::byte, kTelemetryRecordSize> b) {
    if (std::memcmp(b.data() + kMagicAt, kMagic, 4) != 0 ||
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
    platform::storeLe32(b, kTimestampAt, r.timestamp);
    platform::storeLe32(b, kAccelXAt, static_cast<std::uint32_t>(r.accelX));
    platform::storeLe32(b, kAccelYAt, static_cast<std::uint32_t>(r.accelY));
    platform::storeLe32(b, kAccelZAt, static_cast<std::uint32_t>(r.accelZ));
    platform::storeLe32(b, kAccelAuxAt, static_cast<std::uint32_t>(r.accelAux));
    std::memcpy(b.data() + kNmeaTextAt, r.nmeaText.data(), kNmeaTextSize);
    platform::storeLe32(b, kSpeedUnitCodeAt, static_cast<std::uint32_t>(r.speedUnitCode));
    platform::storeLe32(b, kSpeedAt, static_cast<std::uint32_t>(r.speed));
    platform::storeLeF64(b, kLatitudeAt, r.latitude.value());
    platform::storeLeF64(b, kLongitudeAt, r.longitude.value());
    platform::storeLeF64(b, kHdopAt, r.hdop);
    platform::storeLe32(b, kSatellitesUsedAt, static_cast<std::uint32_t>(r.satellitesUsed));
    std::memcpy(b.data() + kEndMarkAt, kEndMark, 4);
    return b;
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
    auto layout = walkRecording(source);
    if (!layout) {
        if (report) {
            *report = ReadReport{};
            report->error = layout.error();
        }
        return E_FAIL;
    }
    readRecords(source, *layout, report);
    return S_OK;
}

void TelemetryTrack::readRecords(ByteSource& source, const RecordingLayout& layout,
                                 ReadReport* report) {
    ReadReport local;
    ReadReport& r = report ? *report : local;
    r = ReadReport{};

    // Reserving up front keeps the peak memory of long recordings near what they need: pages
    // of unused capacity are never touched. Text of 128 bytes holds at most 64 sentences.
    const std::size_t slots = layout.fragments.size() * kTelemetrySlotsPerFragment;
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
    for (const Fragment& fragment : layout.fragments) {
        if (!fragment.hasTelemetryArea())
            continue;
        const std::size_t got = source.readAt(fragment.telemetryAreaOffset(), area);
        r.skippedSlots +=
            forEachTelemetrySlot(std::span<const std::byte>(area).first(got),
                                 [&](std::span<const std::byte, kTelemetryRecordSize> bytes) {
                                     const auto record = parseTelemetryRecord(bytes);
                                     if (!record) {
                                         ++r.skippedSlots;
                                         return;
                                     }
                                     take(*record);
                                     ++r.records;
                                 });
    }
    if (!decided) {
        checksumRule_ = ChecksumRule::Ignore;
        for (const TelemetryRecord& record : undecided)
            takeRecord(record);
    }
    r.fragments = layout.fragments.size();
    r.fragmentsWithoutArea = layout.fragmentsWithoutArea();
    r.end = layout.end;
    r.endOffset = layout.endOffset;
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
