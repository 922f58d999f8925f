#pragma once
// The manifest of an evidence package: which recordings it was made from (with their SHA-256
// as they were read), which stretch of them, which files it holds (with their SHA-256), and
// what made it and when. It is the single source of the package's SHA256SUMS, of the report's
// hash tables and of what `verify` checks.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace orvik::evidence {

inline constexpr std::string_view kManifestName = "manifest.json";
inline constexpr std::string_view kSumsName = "SHA256SUMS";
inline constexpr std::string_view kReportName = "report.pdf";
// The manifest's "format"; a reader refuses any other.
inline constexpr std::string_view kManifestFormat = "orvik-evidence/1";

struct SourceEntry {
    std::string path;     // absolute, where it was read
    std::string channel;  // "front", "rear"
    std::uint64_t size = 0;
    std::string modified;  // modification time, UTC ("2026-03-14T08:16:02.123Z")
    std::string sha256;    // 64 lower-case hexadecimal digits
    std::string name() const;
};

struct OutputEntry {
    std::string name;  // a plain file name inside the package folder
    std::uint64_t size = 0;
    std::string sha256;
};

struct RangeSegment {
    std::string path;  // the recording (front, or the only channel)
    double fromSeconds = 0;
    double toSeconds = 0;
};

struct ManifestRange {
    std::string source;  // as given: a recording or a card folder
    std::string from;    // as given: seconds or the camera's local time
    std::string to;
    std::string start;  // camera local time "YYYY-MM-DDThh:mm:ss.fff", "" when unknown
    std::string end;
    std::string startUtc;  // from the receiver, "" when it gave none
    std::string endUtc;
    double durationSeconds = 0;
    std::vector<RangeSegment> segments;
};

struct CameraSettingsEntry {
    std::string path;    // the configuration file read
    std::string sha256;  // its bytes as read (not checked by verify: users change settings)
    std::vector<std::pair<std::string, std::string>> values;  // field name → value as stored
};

struct LatLon {
    double latitude = 0;  // signed decimal degrees
    double longitude = 0;
};

struct ManifestImpact {
    std::string time;  // camera local time, "" when the name carries none
    std::string recording;
    double offsetSeconds = 0;                      // into the recording
    double changeX = 0, changeY = 0, changeZ = 0;  // from rest, in g
    double strength = 0;                           // in thresholds
};

// What the report says about the stretch, for programs.
struct ManifestFacts {
    std::optional<LatLon> startPosition;
    std::optional<LatLon> endPosition;
    double distanceKm = 0;
    std::optional<double> topSpeed;
    std::string speedUnit;  // of topSpeed: "km/h" or "mph"
    std::vector<ManifestImpact> impacts;
};

struct Manifest {
    std::string programName;  // "orvik-cli", "orvik"
    std::string programVersion;
    std::vector<std::string> command;  // the command line that made the package
    std::string created;               // UTC, "2026-03-14T09:00:00Z"
    ManifestRange range;
    std::string layout;    // "front", "rear", "side-by-side", "picture-in-picture"
    std::string language;  // "en", "ko"
    bool caption = false;
    std::string speedUnit;  // "km/h", "mph", "" as recorded
    std::string note;
    std::vector<SourceEntry> sources;
    std::optional<CameraSettingsEntry> cameraSettings;
    ManifestFacts facts;
    std::vector<OutputEntry> outputs;  // every file but the manifest and SHA256SUMS
};

// Pretty-printed JSON (UTF-8, a line end at the end).
std::string toJson(const Manifest& manifest);
// Refuses what is not a manifest of this format: the message says what is wrong.
Result<Manifest> parseManifest(std::string_view json);

// A line of SHA256SUMS.
struct SumLine {
    std::string sha256;
    std::string name;
};
// The text `sha256sum -c` reads: "<hash>  <name>" per line, in the given order.
std::string formatSums(const std::vector<SumLine>& lines);
// Reads that text back; refuses lines it cannot read, with their number.
Result<std::vector<SumLine>> parseSums(std::string_view text);

// A name a package may hold: a plain file name (no folder part, not "." or "..", no control
// characters). Names read from a package are checked before any file is opened by them.
bool isPackageFileName(std::string_view name);

// "2026-03-14T08:16:02.123" (or without the milliseconds) of a moment: the one way the
// package writes times; a UTC time gets its "Z" from the caller.
std::string isoTimeText(std::chrono::sys_time<std::chrono::milliseconds> t, bool milliseconds);
// "2026-03-14T08:16:02.123Z" for nanoseconds since 1970-01-01 UTC.
std::string isoUtcFromNanoseconds(std::int64_t ns);

}  // namespace orvik::evidence
