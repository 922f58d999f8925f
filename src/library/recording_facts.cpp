#include "library/recording_facts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <utility>

#include "device_config/device_config.h"
#include "recordings/byte_source.h"
#include "recordings/catalogue.h"
#include "recordings/telemetry.h"
#include "recordings/track_formats.h"
#include "trips/media_duration.h"
#include "trips/trips.h"

namespace orvik::library {

namespace fs = std::filesystem;
using recordings::RecordingKind;

std::string_view kindWord(RecordingKind kind) {
    switch (kind) {
        case RecordingKind::Always:
            return "always";
        case RecordingKind::Event:
            return "event";
        case RecordingKind::User:
            return "user";
        case RecordingKind::Park:
            return "park";
        case RecordingKind::Unknown:
            break;
    }
    return "";
}

std::optional<RecordingKind> kindFromWord(std::string_view word) {
    for (RecordingKind k :
         {RecordingKind::Always, RecordingKind::Event, RecordingKind::User, RecordingKind::Park})
        if (kindWord(k) == word)
            return k;
    return std::nullopt;
}

std::int64_t localSeconds(const recordings::RecordingTimestamp& t) {
    const auto start = trips::startOf(t);
    return start ? std::chrono::floor<std::chrono::seconds>(start->time_since_epoch()).count() : 0;
}

std::string localTimeText(std::int64_t seconds) {
    return trips::isoLocalTime(trips::LocalTime(std::chrono::seconds(seconds)));
}

namespace {

std::string nowAs(const char* format, bool utc) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    if (utc)
        ::gmtime_r(&now, &tm);
    else
        ::localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

}  // namespace

std::string utcNow() {
    return nowAs("%Y-%m-%dT%H:%M:%SZ", true);
}

std::string localToday() {
    return nowAs("%Y-%m-%d", false);
}

std::optional<IndexedRecording> readRecordingFacts(const std::string& file,
                                                   const trips::ImpactThresholds& thresholds) {
    const std::string name = fs::path(file).filename().string();
    const recordings::RecordingFile row = recordings::parseRecordingName(name, file);
    if (row.kind == RecordingKind::Unknown || !trips::startOf(row.timestamp))
        return std::nullopt;
    IndexedRecording r;
    r.path = file;
    r.name = name;
    r.kind = row.kind;
    r.channel = row.channel == 0 ? "" : (row.isFront() ? "F" : "R");
    r.startSeconds = localSeconds(row.timestamp);

    auto source = recordings::FileByteSource::open(file);
    if (!source)
        return r;
    recordings::TelemetryTrack track;
    recordings::ReadReport report;
    const std::optional<double> header = trips::mediaDurationSeconds(*source);
    trips::RecordingStats stats;
    if (failed(track.readRecording(*source, &report))) {
        track.reset();
        if (header && std::isfinite(*header) && *header > 0 &&
            *header <= trips::kLongestRecordingSeconds)
            stats.durationSeconds = *header;
    } else {
        stats = trips::statsOf(track, report, header, thresholds);
    }
    r.durationSeconds = stats.durationSeconds;
    r.distanceKm = stats.distanceKm;
    r.maxSpeedKmh = stats.maxSpeedKmh;
    r.speedUnits = stats.speedUnits;
    r.impacts = stats.impacts;

    // At most one position a second: enough to find a place, small enough for years of driving.
    std::int64_t lastSecond = -1;
    for (const recordings::TrackPoint& p : recordings::trackPointsOf(track)) {
        const double t = trips::recordMoment(p.record, track.size(), stats.durationSeconds);
        const auto second = static_cast<std::int64_t>(std::floor(t));
        if (!std::isfinite(t) || second <= lastSecond)
            continue;
        lastSecond = second;
        IndexedPosition position;
        position.offsetSeconds = t;
        position.latitude = p.position.latitude.value();
        position.longitude = p.position.longitude.value();
        const double kmh =
            recordings::speedIn(p.speed, p.speedUnitCode, recordings::SpeedUnit::KilometresPerHour);
        if (std::isfinite(kmh) && kmh >= 0)
            position.speedKmh = kmh;
        r.positions.push_back(position);
    }
    return r;
}

trips::ImpactThresholds libraryThresholds(const std::string& libraryFolder) {
    // cards/CARD/YYYY-MM-DD/config_K7x7.bin: the latest date wins.
    std::pair<std::string, std::string> newest;  // (date, folder)
    std::error_code ec;
    const fs::path cards = fs::path(libraryFolder) / kCardsFolder;
    for (fs::directory_iterator card(cards, ec), end; !ec && card != end; card.increment(ec)) {
        std::error_code inner;
        for (fs::directory_iterator day(card->path(), inner), stop; !inner && day != stop;
             day.increment(inner)) {
            const std::string date = day->path().filename().string();
            if (fs::is_regular_file(day->path() / device_config::kConfigFileName, inner) &&
                std::make_pair(date, day->path().string()) > newest)
                newest = {date, day->path().string()};
        }
    }
    return newest.second.empty() ? trips::ImpactThresholds{}
                                 : trips::readImpactThresholds(newest.second);
}

Result<std::vector<std::string>> libraryRecordingFiles(const std::string& libraryFolder) {
    auto rows = recordings::catalogueFolder(libraryFolder);
    if (!rows)
        return makeError(rows.error(), rows.errorNumber());
    const std::string prefix = libraryFolder + "/";
    const std::string cards = prefix + std::string(kCardsFolder) + "/";
    std::vector<std::string> files;
    for (const recordings::RecordingFile& row : *rows) {
        if (row.kind == RecordingKind::Unknown || !trips::startOf(row.timestamp) ||
            row.name.starts_with(".") || row.fullPath.starts_with(cards) ||
            !row.fullPath.starts_with(prefix))
            continue;
        files.push_back(row.fullPath.substr(prefix.size()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace orvik::library
