#pragma once
// Driving-route records ("DrvInfo/orvik_000.drv"): a 12-byte header with the record count,
// then 72-byte little-endian records; their 28-column text table and its CSV export.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device_config/save_outcome.h"
#include "platform/result.h"
#include "platform/volumes.h"

namespace orvik::device_config {

inline constexpr std::size_t kDrvHeaderSize = 12;
inline constexpr std::size_t kDrvRecordSize = 72;
inline constexpr std::size_t kDrvColumnCount = 28;
inline constexpr std::string_view kDrvFolder = "DrvInfo";
inline constexpr std::string_view kDrvFileName = "orvik_000.drv";
inline constexpr std::string_view kDrvCsvFileName = "orvik_drv.csv";

struct DriveRouteRecord {
    std::uint16_t order = 0;     // running number written by the camera
    std::uint8_t dayOfWeek = 0;  // 0 Sunday .. 6 Saturday
    std::uint8_t kind = 0;       // 1 "A", 2 "F", else "V"
    std::uint8_t year = 0;       // minus 1900
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::uint16_t latitudeInt = 0, latitudeFrac = 0;    // ddmm . mmmm
    std::uint16_t longitudeInt = 0, longitudeFrac = 0;  // dddmm . mmmm
    std::uint16_t gpsSpeed = 0;
    std::uint32_t mileage = 0;  // hundredths
    std::uint8_t latHemisphere = 'N', lonHemisphere = 'E';
    std::int16_t vehicleSpeed = 0, rpm = 0;
    std::int32_t vehicleMileage = 0;  // metres
    std::int16_t battery = 0;         // millivolts
    std::int16_t acceleratorPedal = 0, footBrake = 0, rightTurnSignal = 0, leftTurnSignal = 0;
    std::int16_t steeringAngle = 0, gearLevel = 0, gearPosition = 0, throttlePosition = 0;
    std::int16_t accelX = 0, accelY = 0, accelZ = 0;  // 1/256 g
    std::uint16_t adc = 0, ttc = 0, dtc = 0;          // tenths

    friend bool operator==(const DriveRouteRecord&, const DriveRouteRecord&) = default;
};

struct DriveRouteFile {
    std::uint32_t headerCount = 0;          // N as stored
    std::vector<DriveRouteRecord> records;  // min(N, complete records present)
    bool truncated() const { return records.size() < headerCount; }
};

// Decodes a whole file's bytes. Fails only for input shorter than the header.
Result<DriveRouteFile> decodeDriveRoute(std::span<const std::uint8_t> bytes);
// Reads a file, never more than the header count asks for.
Result<DriveRouteFile> readDriveRouteFile(const std::string& path);

DriveRouteRecord decodeDriveRouteRecord(std::span<const std::uint8_t, kDrvRecordSize> bytes);
std::array<std::uint8_t, kDrvRecordSize> encodeDriveRouteRecord(const DriveRouteRecord& record);
// Header (count = records.size(), the 8 other bytes zero) and records.
std::vector<std::uint8_t> encodeDriveRoute(std::span<const DriveRouteRecord> records);
SaveOutcome writeDriveRouteFile(const std::string& path, std::span<const DriveRouteRecord> records);

// The first removable volume holding "DrvInfo/orvik_000.drv".
std::optional<std::string> findDriveRouteOnCard(const std::vector<platform::Volume>& volumes);

// ---- the text table ----

using DriveRouteRow = std::array<std::string, kDrvColumnCount>;

struct DriveRouteColumn {
    int stringId;
    std::string_view englishHeader;
    int width;  // pixels in the list
};
std::span<const DriveRouteColumn, kDrvColumnCount> driveRouteColumns();

// The 28 cells of record `rowIndex` (0-based; the first cell shows rowIndex + 1).
DriveRouteRow formatDriveRouteRow(const DriveRouteRecord& record, std::size_t rowIndex);
std::vector<DriveRouteRow> buildDriveRouteTable(std::span<const DriveRouteRecord> records);

// Decimal degrees for the map: ddmm.mmmm taken as integer + fraction/10000, negative for 'S'/'W'.
struct RoutePosition {
    double latitude = 0, longitude = 0;
};
RoutePosition routePosition(const DriveRouteRecord& record);

// The CSV file: UTF-8 byte-order mark, the header texts joined with ',', then one line per row;
// every line ends with "\n". `headers` empty → the English headers.
std::string driveRouteCsv(std::span<const DriveRouteRow> rows,
                          std::span<const std::string> headers = {});
// Writes driveRouteCsv() atomically. With no rows nothing is written and the status is
// Cancelled (there is nothing to export).
SaveOutcome exportDriveRouteCsv(const std::string& path, std::span<const DriveRouteRow> rows,
                                std::span<const std::string> headers = {});

// A plausible route of `count` records starting at the given moment (sample cards, benchmarks).
std::vector<DriveRouteRecord> makeSampleRoute(std::size_t count, int year = 2024, int month = 3,
                                              int day = 5, int hour = 8, int minute = 0,
                                              int second = 0);

}  // namespace orvik::device_config
