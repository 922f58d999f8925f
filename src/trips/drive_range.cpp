#include "trips/drive_range.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "device_config/opened_card.h"
#include "recordings/catalogue.h"
#include "trips/media_duration.h"

namespace orvik::trips {

namespace {

namespace fs = std::filesystem;
bool sameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return false;
    if (a == b)
        return true;
    if (fs::path(a).filename() != fs::path(b).filename())
        return false;
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// The card's moments of drives that start within a day of `t`, with their lengths.
std::vector<TripRecording> momentsNear(const std::vector<recordings::RecordingFile>& rows,
                                       LocalTime t) {
    std::vector<TripRecording> near;
    for (TripRecording& m : momentsOf(rows)) {
        const auto distance = m.start > t ? m.start - t : t - m.start;
        if (distance > std::chrono::hours{24})
            continue;
        const std::optional<double> length = fileDurationSeconds(m.path);
        if (!length)
            continue;
        m.stats.durationSeconds = *length;
        near.push_back(std::move(m));
    }
    return near;
}

Result<std::vector<TripRecording>> driveOf(const std::string& cardRoot,
                                           const std::vector<recordings::RecordingFile>& rows,
                                           LocalTime t) {
    for (Trip& trip : groupTrips(momentsNear(rows, t), kDefaultGapSeconds)) {
        if (trip.start <= t && t <= trip.end)
            return std::move(trip.recordings);
    }
    return makeError("no recording on " + cardRoot + " holds " + isoLocalTime(t));
}

}  // namespace

double DriveRange::seconds() const {
    double total = 0;
    for (const RangePiece& p : pieces)
        total += p.toSeconds - p.fromSeconds;
    return total;
}

std::optional<LocalTime> timeOf(const std::vector<TripRecording>& drive, const DrivePoint& point) {
    if (!std::isfinite(point.seconds))
        return std::nullopt;
    for (const TripRecording& r : drive) {
        if (sameFile(r.path, point.path) || sameFile(r.partnerPath, point.path))
            return plusSeconds(r.start, point.seconds);
    }
    return std::nullopt;
}

Result<DriveRange> rangeOf(const std::vector<TripRecording>& drive, LocalTime from, LocalTime to) {
    if (to <= from)
        return makeError("the stretch must end after it starts");
    std::vector<const TripRecording*> rs;
    for (const TripRecording& r : drive) {
        if (r.stats.durationSeconds > 0)
            rs.push_back(&r);
    }
    if (rs.empty())
        return makeError("the drive holds no recording with a length");
    std::stable_sort(rs.begin(), rs.end(), [](const TripRecording* a, const TripRecording* b) {
        return a->start < b->start;
    });
    // Times in seconds from `from`.
    const auto startOf = [&](const TripRecording* r) { return secondsBetween(from, r->start); };
    const auto endOf = [&](const TripRecording* r) {
        return startOf(r) + r->stats.durationSeconds;
    };
    double driveEnd = 0;
    for (const TripRecording* r : rs)
        driveEnd = std::max(driveEnd, endOf(r));
    const double length = secondsBetween(from, to);
    if (startOf(rs.front()) > 0)
        return makeError("the stretch starts at " + isoLocalTime(from) +
                         ", before its drive does (" + isoLocalTime(rs.front()->start) + ")");
    // The file names' whole seconds and the recordings' lengths seldom meet exactly: an end a
    // hair past the last recording is its end.
    if (length > driveEnd + 0.05)
        return makeError("the stretch ends at " + isoLocalTime(to) + ", after its drive does (" +
                         isoLocalTime(plusSeconds(from, driveEnd)) + ")");
    const double end = std::min(length, driveEnd);

    std::vector<double> cuts = {0, end};
    for (const TripRecording* r : rs) {
        for (double t : {startOf(r), endOf(r)}) {
            if (t > 0 && t < end)
                cuts.push_back(t);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    DriveRange range;
    const TripRecording* previous = nullptr;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        const double a = cuts[i], b = cuts[i + 1];
        const TripRecording* running = nullptr;
        for (const TripRecording* r : rs) {
            if (startOf(r) <= a && a < endOf(r) && (!running || r->start > running->start))
                running = r;
        }
        if (!running) {
            previous = nullptr;  // a gap: what follows is a piece of its own
            continue;
        }
        if (running == previous) {
            range.pieces.back().toSeconds = b - startOf(running);
            continue;
        }
        if (range.pieces.empty())
            range.from = plusSeconds(from, a);
        range.pieces.push_back(
            {running->path, running->partnerPath, a - startOf(running), b - startOf(running)});
        previous = running;
    }
    if (range.pieces.empty())
        return makeError("no recording runs between " + isoLocalTime(from) + " and " +
                         isoLocalTime(to));
    return range;
}

Result<DriveRange> rangeOf(const std::vector<TripRecording>& drive, const DrivePoint& from,
                           const DrivePoint& to) {
    const auto a = timeOf(drive, from);
    const auto b = timeOf(drive, to);
    if (!a || !b)
        return makeError((!a ? from : to).path + " is not a recording of this drive");
    return rangeOf(drive, *a, *b);
}

Result<std::vector<TripRecording>> driveHolding(const std::string& cardRoot,
                                                const std::string& file) {
    auto rows = recordings::catalogueFolder(cardRoot);
    if (!rows)
        return makeError(rows.error());
    for (const TripRecording& m : momentsOf(*rows)) {
        if (sameFile(m.path, file) || sameFile(m.partnerPath, file))
            return driveOf(cardRoot, *rows, m.start);
    }
    return makeError(file + " is not a recording of a drive on " + cardRoot);
}

Result<std::vector<TripRecording>> driveAt(const std::string& cardRoot, LocalTime t) {
    auto rows = recordings::catalogueFolder(cardRoot);
    if (!rows)
        return makeError(rows.error());
    return driveOf(cardRoot, *rows, t);
}

std::string cardRootOf(const std::string& file) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    return device_config::openedCardRoot(absolute.parent_path().string(), {absolute.string()});
}

}  // namespace orvik::trips
