#pragma once
// Track files other tools read: GPX 1.1, KML 2.2, GeoJSON and a CSV whose column names
// gpsbabel's universal CSV reader and GDAL's CSV driver recognise. One or several recordings,
// merged in time order, one segment per recording.
//
// A record is a track point when it has a position (positionOf) and the receiver had not marked
// its fix invalid by the time the record's own text was decoded: the latest RMC status is not
// "V" and the latest GGA quality is not 0 (RecordReceiverState, as the hemispheres are taken).
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "recordings/telemetry.h"

namespace orvik::recordings {

// The telemetry of one recording and the name its segment carries (normally the file name).
// The track formats write the records [firstRecord, endRecord) of it (a stretch of a drive).
struct RecordingTelemetry {
    std::string name;
    TelemetryTrack track;
    std::size_t firstRecord = 0;
    std::size_t endRecord = SIZE_MAX;
};

struct TrackPoint {
    std::size_t record = 0;  // index into the recording's lists
    GeoPosition position;
    std::optional<GpsTime> utc;  // when the receiver gave a date and time
    std::optional<double> altitudeMetres;
    double speed = 0;  // as recorded, in the unit of speedUnitCode
    std::int32_t speedUnitCode = 0;
    double hdop = 0;
    std::int32_t satellitesUsed = 0;
    std::uint32_t timestamp = 0;
};

// The track points of one recording, in file order.
std::vector<TrackPoint> trackPointsOf(const TelemetryTrack& track);

// True when the record at index has a position the receiver did not mark invalid.
bool isTrackPoint(const TelemetryTrack& track, std::size_t index);

// Puts recordings into time order: by the first UTC time any of their records carries; those
// without one keep their given order after the timed ones (stable).
void sortByTime(std::vector<RecordingTelemetry>& recordings);

// "2024-01-01T12:00:00.250Z", or nothing for a time that is not a real date and time.
std::optional<std::string> isoTime(const GpsTime& t);

// Speed as recorded turned into metres per second (the unit of track formats).
double metresPerSecond(double speed, std::int32_t speedUnitCode);

// The speed as a track file writes it next to its unit: as recorded, or converted to `unit`
// (rounded to a tenth, which keeps whole recorded speeds exact enough).
struct ShownSpeed {
    double value = 0;
    std::string_view unit;  // "km/h" or "mph"
};
ShownSpeed shownSpeed(double speed, std::int32_t speedUnitCode, std::optional<SpeedUnit> unit);
// Speed as recorded in `unit`, not rounded.
double speedIn(double speed, std::int32_t speedUnitCode, SpeedUnit unit);

// The unit a user names on the command line: "km/h" or "mph"; nothing for any other text.
std::optional<SpeedUnit> speedUnitFromName(std::string_view name);

struct CsvOptions {
    bool allRecords = false;        // also the records without a track point (position left empty)
    std::optional<SpeedUnit> unit;  // speed column converted to this unit; as recorded when empty
};

// The column names of the CSV, in order (documented in the README).
std::span<const char* const> csvColumns();

void writeCsv(std::ostream& out, std::span<const RecordingTelemetry> recordings,
              const CsvOptions& options = {});
void writeGpx(std::ostream& out, std::span<const RecordingTelemetry> recordings,
              const std::string& name, std::optional<SpeedUnit> unit = std::nullopt);
void writeKml(std::ostream& out, std::span<const RecordingTelemetry> recordings,
              const std::string& name, std::optional<SpeedUnit> unit = std::nullopt);
void writeGeoJson(std::ostream& out, std::span<const RecordingTelemetry> recordings,
                  const std::string& name, std::optional<SpeedUnit> unit = std::nullopt);

// Text for XML content and attributes: escaped, control characters and broken UTF-8 replaced.
std::string xmlText(std::string_view s);

}  // namespace orvik::recordings
