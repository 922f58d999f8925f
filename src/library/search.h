#pragma once
// Searches of the library index: by the camera's local time, kind, place (a box or a circle)
// and speed, combined (AND), answered in time order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/index.h"
#include "platform/result.h"
#include "recordings/recording_file.h"

namespace orvik::library {

struct GeoBox {
    double south = 0, west = 0, north = 0, east = 0;  // west > east: the box crosses 180°
};

struct GeoCircle {
    double latitude = 0, longitude = 0, radiusMetres = 0;
};

struct SearchQuery {
    // Camera local time in localSeconds(); both ends included.
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> to;
    std::optional<recordings::RecordingKind> kind;
    std::optional<GeoBox> box;
    std::optional<GeoCircle> near;
    std::optional<double> minSpeedKmh;
    // A place or speed condition: a recording matches when one of its positions meets them all.
    bool needsPositions() const { return box || near || minSpeedKmh; }
};

struct SearchHit {
    std::string path;  // absolute
    std::string name;
    recordings::RecordingKind kind = recordings::RecordingKind::Unknown;
    std::string start;  // camera local "YYYY-MM-DDThh:mm:ss"
    double durationSeconds = 0;
    // For place and speed searches: the first moment of the recording that matches.
    std::optional<double> offsetSeconds;
};

// "YYYY-MM-DD" (the whole day: its first second as `from`, its last as `to`) or
// "YYYY-MM-DDThh:mm:ss"; nothing for anything else.
std::optional<std::int64_t> parseSearchTime(const std::string& text, bool endOfDay);

// Throws sql::SqlError when the index fails under the query (the caller rebuilds a damaged one).
std::vector<SearchHit> search(LibraryIndex& index, const SearchQuery& query);

}  // namespace orvik::library
