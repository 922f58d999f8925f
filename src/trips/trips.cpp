#include "trips/trips.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "recordings/catalogue.h"
#include "recordings/partner.h"
#include "trips/summary_cache.h"

namespace orvik::trips {

using recordings::RecordingFile;
using recordings::RecordingKind;
using recordings::SpeedUnit;
using namespace std::chrono;

namespace {

milliseconds toMilliseconds(double seconds) {
    return milliseconds(std::llround(seconds * 1000.0));
}

bool inTrips(RecordingKind kind) {
    return kind == RecordingKind::Always || kind == RecordingKind::Event ||
           kind == RecordingKind::User;
}

}  // namespace

double secondsBetween(LocalTime from, LocalTime to) {
    return duration<double>(to - from).count();
}

LocalTime plusSeconds(LocalTime t, double seconds) {
    return t + toMilliseconds(seconds);
}

std::string isoLocalTime(LocalTime t) {
    const auto secs = round<seconds>(t);
    const auto day = floor<days>(secs);
    const year_month_day ymd{day};
    const hh_mm_ss hms{secs - day};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02lld:%02lld:%02lld", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()),
                  static_cast<long long>(hms.hours().count()),
                  static_cast<long long>(hms.minutes().count()),
                  static_cast<long long>(hms.seconds().count()));
    return buf;
}

std::optional<LocalTime> startOf(const recordings::RecordingTimestamp& ts) {
    if (!ts.validDate() || !ts.validTime())
        return std::nullopt;
    const sys_days day{year{ts.year} / ts.month / ts.day};
    return LocalTime{day + hours{ts.hour} + minutes{ts.minute} + seconds{ts.second}};
}

LocalTime TripRecording::end() const {
    return plusSeconds(start, stats.durationSeconds);
}

std::string_view eventKindName(EventKind kind) {
    return kind == EventKind::Event ? "event" : "impact";
}

double Trip::durationSeconds() const {
    return secondsBetween(start, end);
}

SpeedUnit Trip::recordedUnit() const {
    return speedUnits == kUnitMph ? SpeedUnit::MilesPerHour : SpeedUnit::KilometresPerHour;
}

double Trip::maxSpeedIn(SpeedUnit unit) const {
    return unit == SpeedUnit::MilesPerHour ? maxSpeedKmh / kKmPerMile : maxSpeedKmh;
}

std::vector<TripRecording> momentsOf(const std::vector<RecordingFile>& rows, bool withPark) {
    std::vector<TripRecording> moments;
    // Kind and timestamp name a moment, wherever its files are: a rear file in another folder is
    // the same drive once more, not a moment of its own.
    std::map<std::tuple<int, std::int64_t>, std::size_t> index;
    std::vector<bool> hasFront;
    std::set<std::string> paths;
    for (const RecordingFile& row : rows) {
        if (!inTrips(row.kind) && !(withPark && row.kind == RecordingKind::Park))
            continue;
        paths.insert(row.fullPath);
        const auto start = startOf(row.timestamp);
        if (!start)
            continue;
        const auto key =
            std::make_tuple(static_cast<int>(row.kind),
                            static_cast<std::int64_t>(start->time_since_epoch().count()));
        auto [it, fresh] = index.try_emplace(key, moments.size());
        if (fresh) {
            TripRecording m;
            m.kind = row.kind;
            m.path = row.fullPath;
            m.start = *start;
            moments.push_back(std::move(m));
            hasFront.push_back(row.isFront());
        } else if (row.isFront() && !hasFront[it->second]) {
            // The front file stands for the moment.
            hasFront[it->second] = true;
            moments[it->second].path = row.fullPath;
        }
    }
    // The partner is the one the viewer plays beside it.
    for (TripRecording& m : moments) {
        const auto channel = recordings::channelOfRecording(m.path);
        if (channel.partnerPath && paths.count(*channel.partnerPath))
            m.partnerPath = *channel.partnerPath;
    }
    return moments;
}

std::vector<Trip> groupTrips(std::vector<TripRecording> moments, double gapSeconds) {
    std::erase_if(moments, [](const TripRecording& m) { return !inTrips(m.kind); });
    std::stable_sort(moments.begin(), moments.end(),
                     [](const TripRecording& a, const TripRecording& b) {
                         return std::tie(a.start, a.path) < std::tie(b.start, b.path);
                     });
    const milliseconds gap = toMilliseconds(std::max(0.0, gapSeconds));
    std::vector<Trip> trips;
    for (TripRecording& m : moments) {
        // A recording that overlaps or closely follows the ones before it continues the drive;
        // the latest end so far counts, so a short event inside a long recording cannot split it.
        if (trips.empty() || m.start - trips.back().end > gap) {
            Trip t;
            t.start = m.start;
            t.end = m.end();
            trips.push_back(std::move(t));
        }
        Trip& t = trips.back();
        const std::size_t at = t.recordings.size();
        t.end = std::max(t.end, m.end());
        t.distanceKm += m.stats.distanceKm;
        t.maxSpeedKmh = std::max(t.maxSpeedKmh, m.stats.maxSpeedKmh);
        t.speedUnits |= m.stats.speedUnits;
        if (m.kind == RecordingKind::Event)
            t.events.push_back({EventKind::Event, at, 0});
        for (double offset : m.stats.impacts)
            t.events.push_back({EventKind::Impact, at, offset});
        t.recordings.push_back(std::move(m));
    }
    for (Trip& t : trips) {
        const auto moment = [&t](const TripEvent& e) {
            return t.recordings[e.recording].start + toMilliseconds(e.offsetSeconds);
        };
        std::stable_sort(
            t.events.begin(), t.events.end(),
            [&](const TripEvent& a, const TripEvent& b) { return moment(a) < moment(b); });
    }
    return trips;
}

Result<std::vector<Trip>> findTrips(const std::string& cardRoot, const TripOptions& options,
                                    TripScanReport* report) {
    auto rows = recordings::catalogueFolder(cardRoot);
    if (!rows)
        return makeError(rows.error());
    std::vector<TripRecording> moments = momentsOf(*rows);

    const ImpactThresholds thresholds = readImpactThresholds(cardRoot);
    const bool useCache = !options.cacheFolder.empty();
    const auto cacheFile =
        useCache ? summaryCacheFile(options.cacheFolder, cardRoot) : std::filesystem::path{};
    SummaryCache cache =
        useCache ? SummaryCache::load(cacheFile, thresholds) : SummaryCache(thresholds);

    TripScanReport local;
    TripScanReport& r = report ? *report : local;
    r = TripScanReport{};
    r.moments = moments.size();
    std::vector<std::string> paths;
    paths.reserve(moments.size());
    std::vector<std::pair<TripRecording*, FileIdentity>> toRead;
    for (TripRecording& m : moments) {
        paths.push_back(m.path);
        const auto identity = fileIdentity(m.path);
        if (!identity)
            continue;  // vanished or not a file: a moment of unknown length
        if (const RecordingStats* known = cache.find(m.path, *identity)) {
            m.stats = *known;
            ++r.cached;
        } else {
            toRead.emplace_back(&m, *identity);
        }
    }
    bool cancelled = false;
    for (std::size_t i = 0; i < toRead.size(); ++i) {
        if (options.cancelled && options.cancelled()) {
            cancelled = true;
            break;
        }
        auto& [m, identity] = toRead[i];
        if (options.progress)
            options.progress(i, toRead.size());
        m->stats = readRecordingStats(m->path, thresholds);
        cache.put(m->path, identity, m->stats);
        ++r.read;
    }
    if (options.progress && !toRead.empty() && !cancelled)
        options.progress(toRead.size(), toRead.size());
    if (useCache && (r.read > 0 || cache.size() != paths.size())) {
        cache.retain(paths);
        if (auto saved = cache.save(cacheFile); !saved)
            r.cacheError = saved.error();
    }
    if (cancelled)
        return makeError("cancelled");
    return groupTrips(std::move(moments), options.gapSeconds);
}

}  // namespace orvik::trips
