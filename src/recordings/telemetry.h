#pragma once
// Telemetry embedded in the camera's recordings: the 200-byte records in the telemetry areas
// that the fragment walk (fragment_walk.h) finds, turned into the track the displays read. Only
// box headers and those areas are read, seeking over the media data, never outside the file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hresult.h"
#include "recordings/byte_source.h"
#include "recordings/fragment_walk.h"
#include "recordings/gps_fix.h"
#include "recordings/nmea.h"

namespace orvik::recordings {

inline constexpr std::size_t kNmeaTextSize = 128;

// Speed unit codes stored with each record: the characters '9' and '1'.
inline constexpr std::int32_t kSpeedUnitCodeKmh = 0x39;
inline constexpr std::int32_t kSpeedUnitCodeMph = 0x31;

enum class SpeedUnit { KilometresPerHour, MilesPerHour };
// 0x31 is miles per hour; every other code is shown as kilometres per hour.
SpeedUnit speedUnitOf(std::int32_t speedUnitCode);
std::string_view speedUnitName(SpeedUnit unit);  // "km/h" or "mph"

// One 200-byte record (little-endian integers and IEEE-754 doubles). Magic "K737" at 0 and the
// end mark "END\0" at 196 frame a valid record; the words at 8 and 192 are reserved.
struct TelemetryRecord {
    std::uint32_t timestamp = 0;
    std::int32_t accelX = 0;  // 1/256 g
    std::int32_t accelY = 0;
    std::int32_t accelZ = 0;
    std::int32_t accelAux = 0;
    std::array<char, kNmeaTextSize> nmeaText{};
    std::int32_t speedUnitCode = 0;
    std::int32_t speed = 0;  // whole units of speedUnitCode
    NmeaAngle latitude;
    NmeaAngle longitude;
    double hdop = 0.0;
    std::int32_t satellitesUsed = 0;

    // Puts text into nmeaText, zero-padded; text longer than the field is cut.
    void setNmeaText(std::string_view text);
};

// Nothing when the magic or the end mark does not match.
std::optional<TelemetryRecord> parseTelemetryRecord(
    std::span<const std::byte, kTelemetryRecordSize> bytes);
// The stored form of a record (reserved words zero), for writers and tests.
std::array<std::byte, kTelemetryRecordSize> encodeTelemetryRecord(const TelemetryRecord& record);

struct AccelSample {
    float x = 0, y = 0, z = 0;  // g
    friend bool operator==(const AccelSample&, const AccelSample&) = default;
};

struct RawAccel {
    std::int32_t x = 0, y = 0, z = 0, aux = 0;
    friend bool operator==(const RawAccel&, const RawAccel&) = default;
};

// The receiver's word on one record, taken after the record's own text was decoded (as the
// hemispheres are): the UTC time of the latest RMC and the latest RMC/GGA status.
struct RecordReceiverState {
    GpsTime time;
    ReceiverStatus status;
    friend bool operator==(const RecordReceiverState&, const RecordReceiverState&) = default;
};

struct ReadReport {
    std::string error;  // set when the result is E_FAIL: why the file is not a recording
    std::size_t fragments = 0;
    std::size_t fragmentsWithoutArea = 0;  // media boxes smaller than the telemetry area
    std::size_t records = 0;
    std::size_t skippedSlots = 0;  // short, wrong magic or wrong end mark
    WalkEnd end = WalkEnd::EndOfFile;
    std::uint64_t endOffset = 0;  // where the walk stopped
};

// The telemetry of one recording: four lists with one entry per valid record (fixes,
// accelSamples, rawAccel, timestamps), the running NMEA state and its snapshots, one after
// every "$G" sentence.
class TelemetryTrack {
  public:
    TelemetryTrack() = default;
    TelemetryTrack(const TelemetryTrack&) = default;
    TelemetryTrack& operator=(const TelemetryTrack&) = default;
    virtual ~TelemetryTrack() = default;

    // Empties all lists and puts the running state back to its initial values.
    void reset();

    // Appends the recording's records (call reset() first for a fresh track). S_OK after the
    // walk, also when there was no telemetry; E_FAIL when the file cannot be opened or is not a
    // recording (first box not "ftyp" with brand "iso4", or too short).
    HResult readRecording(const std::string& path, ReadReport* report = nullptr);
    HResult readRecording(ByteSource& source, ReadReport* report = nullptr);
    // The records of a recording already walked (callers that need the layout too).
    void readRecords(ByteSource& source, const RecordingLayout& layout,
                     ReadReport* report = nullptr);

    // Takes one valid record: timestamp, acceleration, NMEA text, then the fix.
    void takeRecord(const TelemetryRecord& record);
    // Splits a record's NMEA text, decodes every "$G" sentence and snapshots the running state.
    void decodeRecordText(std::string_view text);
    // How sentences are taken. readRecording() decides it for each recording: Verify when any of
    // its sentences carries a matching checksum, else Ignore.
    void setChecksumRule(ChecksumRule rule) { checksumRule_ = rule; }
    ChecksumRule checksumRule() const { return checksumRule_; }
    // Decodes one sentence into the running state; true when it was of a handled type.
    virtual bool handleSentence(std::string_view sentence);

    const std::vector<GpsFix>& fixes() const { return fixes_; }
    const std::vector<AccelSample>& accelSamples() const { return accelSamples_; }
    const std::vector<RawAccel>& rawAccel() const { return rawAccel_; }
    const std::vector<std::uint32_t>& timestamps() const { return timestamps_; }
    const std::vector<GpsFix>& nmeaSnapshots() const { return nmeaSnapshots_; }
    // One entry per valid record, beside fixes: what the track formats need to time a point and
    // to leave out the positions the receiver marked invalid.
    const std::vector<RecordReceiverState>& receiverStates() const { return receiverStates_; }
    const GpsFix& runningFix() const { return running_; }
    const ReceiverStatus& runningStatus() const { return runningStatus_; }
    bool empty() const { return fixes_.empty(); }
    std::size_t size() const { return fixes_.size(); }

  protected:
    GpsFix& runningState() { return running_; }

  private:
    std::vector<GpsFix> fixes_;
    std::vector<AccelSample> accelSamples_;
    std::vector<RawAccel> rawAccel_;
    std::vector<std::uint32_t> timestamps_;
    std::vector<GpsFix> nmeaSnapshots_;
    std::vector<RecordReceiverState> receiverStates_;
    GpsFix running_;
    ReceiverStatus runningStatus_;
    ChecksumRule checksumRule_ = ChecksumRule::Verify;
};

// The entry of a telemetry list for a playback moment: (count - 1) × position / rangeMaximum,
// rounded down; position and rangeMaximum in the same units (the seek bar's). count must be > 0.
// Out-of-range input never gives an index outside the list: a position below 0 or a maximum of
// 0 or less gives entry 0, a position past the maximum the last entry.
std::size_t entryIndex(std::size_t count, std::int64_t position, std::int64_t rangeMaximum);

// The entry itself, or nullptr for an empty list.
template <typename T>
const T* entryFor(const std::vector<T>& list, std::int64_t position, std::int64_t rangeMaximum) {
    if (list.empty())
        return nullptr;
    return &list[entryIndex(list.size(), position, rangeMaximum)];
}

}  // namespace orvik::recordings
