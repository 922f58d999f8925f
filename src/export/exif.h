#pragma once
// EXIF for snapshots: the GPS position, the GPS date and time (UTC) and the moment the picture
// shows, written with libexif into a JPEG's APP1 segment.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "recordings/gps_fix.h"

namespace orvik::exporting {

struct ExifTags {
    std::optional<recordings::GeoPosition> position;
    std::optional<recordings::GpsTime> utc;  // GPSDateStamp / GPSTimeStamp
    // DateTimeOriginal "YYYY:MM:DD hh:mm:ss" and, when it is UTC, OffsetTimeOriginal "+00:00".
    std::string dateTimeOriginal;
    bool dateTimeIsUtc = false;
    int width = 0, height = 0;
};

// The APP1 payload ("Exif\0\0" + TIFF structure).
Result<std::vector<std::uint8_t>> buildExif(const ExifTags& tags);

// The JPEG with an APP1 segment holding `exif` placed after SOI (and after a JFIF APP0).
Result<std::vector<std::uint8_t>> insertExif(const std::vector<std::uint8_t>& jpeg,
                                             const std::vector<std::uint8_t>& exif);

}  // namespace orvik::exporting
