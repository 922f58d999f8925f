#include "library/search.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <numbers>
#include <utility>
#include <variant>

#include "library/sqlite.h"
#include "trips/recording_stats.h"

namespace orvik::library {

namespace {

using Value = std::variant<std::int64_t, double, std::string>;

struct Interval {
    double low, high;
};

// Longitudes of a box as intervals that do not cross 180°.
std::vector<Interval> longitudes(double west, double east) {
    if (west <= east)
        return {{west, east}};
    return {{west, 180.0}, {-180.0, east}};
}

// The box around a circle (latitudes clamped at the poles; every longitude near them).
std::pair<Interval, std::vector<Interval>> aroundCircle(const GeoCircle& c) {
    constexpr double kDegrees = 180.0 / std::numbers::pi;
    const double earthMetres = trips::kEarthRadiusKm * 1000.0;
    const double dLat = c.radiusMetres / earthMetres * kDegrees;
    const Interval lat{std::max(-90.0, c.latitude - dLat), std::min(90.0, c.latitude + dLat)};
    const double cosLat = std::cos(std::max(std::abs(lat.low), std::abs(lat.high)) / kDegrees);
    const double dLon = cosLat > 1e-9 ? c.radiusMetres / (earthMetres * cosLat) * kDegrees : 360.0;
    if (dLon >= 180.0)
        return {lat, {{-180.0, 180.0}}};
    double west = c.longitude - dLon, east = c.longitude + dLon;
    if (west < -180.0)
        west += 360.0;
    if (east > 180.0)
        east -= 360.0;
    return {lat, longitudes(west, east)};
}

// The R*Tree keeps 32-bit corners: its constraints are widened by more than their rounding and
// the exact coordinates beside them decide.
constexpr double kBoxSlack = 1e-4;

// One SELECT of (recording, offset) for positions in one longitude interval.
std::string placeSelect(const SearchQuery& q, const Interval& lat, const Interval& lon,
                        std::vector<Value>& values) {
    std::string s =
        "SELECT b.recording AS rec, b.offset_seconds AS offset FROM position_boxes b WHERE "
        "b.min_lat <= ? AND b.max_lat >= ? AND b.min_lon <= ? AND b.max_lon >= ?";
    values.insert(values.end(), {lat.high + kBoxSlack, lat.low - kBoxSlack, lon.high + kBoxSlack,
                                 lon.low - kBoxSlack});
    s += " AND b.latitude BETWEEN ? AND ? AND b.longitude BETWEEN ? AND ?";
    values.insert(values.end(), {lat.low, lat.high, lon.low, lon.high});
    if (q.box && q.near) {
        // The circle gave the R*Tree its box; the box is one more condition.
        s += " AND b.latitude BETWEEN ? AND ? AND (";
        values.insert(values.end(), {q.box->south, q.box->north});
        const auto lons = longitudes(q.box->west, q.box->east);
        for (std::size_t i = 0; i < lons.size(); ++i) {
            s += (i ? " OR " : "") + std::string("b.longitude BETWEEN ? AND ?");
            values.insert(values.end(), {lons[i].low, lons[i].high});
        }
        s += ")";
    }
    if (q.near) {
        s += " AND distance_m(b.latitude, b.longitude, ?, ?) <= ?";
        values.insert(values.end(), {q.near->latitude, q.near->longitude, q.near->radiusMetres});
    }
    if (q.minSpeedKmh) {
        s += " AND b.speed_kmh >= ?";
        values.emplace_back(*q.minSpeedKmh);
    }
    return s;
}

// (recording, first matching offset) of the positions that meet the query's place and speed.
std::string positionMatches(const SearchQuery& q, std::vector<Value>& values) {
    std::vector<std::string> parts;
    if (q.near) {
        const auto [lat, lons] = aroundCircle(*q.near);
        for (const Interval& lon : lons)
            parts.push_back(placeSelect(q, lat, lon, values));
    } else if (q.box) {
        for (const Interval& lon : longitudes(q.box->west, q.box->east))
            parts.push_back(placeSelect(q, {q.box->south, q.box->north}, lon, values));
    } else {
        // Speed alone: only recordings that went that fast have their positions looked at.
        parts.push_back(
            "SELECT p.recording AS rec, p.offset_seconds AS offset FROM positions p WHERE "
            "p.recording IN (SELECT id FROM recordings WHERE max_speed_kmh >= ?) AND "
            "p.speed_kmh >= ?");
        values.insert(values.end(), {*q.minSpeedKmh, *q.minSpeedKmh});
    }
    std::string all;
    for (const std::string& p : parts)
        all += (all.empty() ? "" : " UNION ALL ") + p;
    return "SELECT rec, MIN(offset) AS first FROM (" + all + ") GROUP BY rec";
}

bool digitsAt(const std::string& text, std::initializer_list<std::size_t> positions) {
    return std::all_of(positions.begin(), positions.end(), [&](std::size_t i) {
        return std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    });
}

}  // namespace

std::optional<std::int64_t> parseSearchTime(const std::string& text, bool endOfDay) {
    const bool dateOnly = text.size() == 10;
    if (!dateOnly && text.size() != 19)
        return std::nullopt;
    if (!digitsAt(text, {0, 1, 2, 3, 5, 6, 8, 9}) || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    recordings::RecordingTimestamp t;
    t.year = std::stoi(text.substr(0, 4));
    t.month = std::stoi(text.substr(5, 2));
    t.day = std::stoi(text.substr(8, 2));
    if (dateOnly) {
        if (endOfDay) {
            t.hour = 23;
            t.minute = 59;
            t.second = 59;
        }
    } else {
        if (text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
            !digitsAt(text, {11, 12, 14, 15, 17, 18}))
            return std::nullopt;
        t.hour = std::stoi(text.substr(11, 2));
        t.minute = std::stoi(text.substr(14, 2));
        t.second = std::stoi(text.substr(17, 2));
    }
    if (!t.validDate() || !t.validTime())
        return std::nullopt;
    return localSeconds(t);
}

std::vector<SearchHit> search(LibraryIndex& index, const SearchQuery& q) {
    std::vector<Value> values;
    std::string sql = "SELECT r.path, r.name, r.kind, r.start, r.duration_seconds, ";
    if (q.needsPositions())
        sql += "m.first FROM (" + positionMatches(q, values) +
               ") m JOIN recordings r ON r.id = m.rec WHERE 1";
    else
        sql += "NULL FROM recordings r WHERE 1";
    if (q.from) {
        sql += " AND r.start_seconds >= ?";
        values.emplace_back(*q.from);
    }
    if (q.to) {
        sql += " AND r.start_seconds <= ?";
        values.emplace_back(*q.to);
    }
    if (q.kind) {
        sql += " AND r.kind = ?";
        values.emplace_back(std::string(kindWord(*q.kind)));
    }
    sql += " ORDER BY r.start_seconds, r.path";

    auto s = index.database().prepare(sql);
    for (std::size_t i = 0; i < values.size(); ++i)
        std::visit([&](const auto& v) { s.bind(static_cast<int>(i + 1), v); }, values[i]);
    std::vector<SearchHit> hits;
    while (s.step()) {
        SearchHit h;
        h.path = index.folder() + "/" + s.textOf(0);
        h.name = s.textOf(1);
        h.kind = kindFromWord(s.textOf(2)).value_or(recordings::RecordingKind::Unknown);
        h.start = s.textOf(3);
        h.durationSeconds = s.real(4);
        if (!s.isNull(5))
            h.offsetSeconds = s.real(5);
        hits.push_back(std::move(h));
    }
    return hits;
}

Result<std::vector<SearchHit>> searchLibrary(const std::string& folder, const SearchQuery& query,
                                             const LibrarySearchNotices& notices) {
    // A library that cannot be written (a disk mounted read-only, a folder of another user) is
    // searched as it is: opening it as usual would try to write and fail.
    if (::access(folder.c_str(), W_OK) != 0 && (errno == EROFS || errno == EACCES)) {
        auto index = LibraryIndex::openForReading(folder);
        if (!index)
            return makeError(index.error());
        try {
            return search(*index, query);
        } catch (const sql::SqlError& e) {
            return makeError(std::string("search failed: ") + e.what());
        }
    }
    for (int attempt = 0;; ++attempt) {
        OpenReport opened;
        auto index = LibraryIndex::open(folder, LibraryIndex::Check::Quick, &opened);
        if (!index)
            return makeError(index.error(), index.errorNumber());
        if (notices.opened)
            notices.opened(opened);
        try {
            return search(*index, query);
        } catch (const sql::SqlError& e) {
            if (!e.damaged() || attempt > 0)
                return makeError(std::string("search failed: ") + e.what());
            if (notices.rebuilding)
                notices.rebuilding(e.what());
            if (auto r = reindexLibrary(folder); !r)
                return makeError(r.error(), r.errorNumber());
        }
    }
}

}  // namespace orvik::library
