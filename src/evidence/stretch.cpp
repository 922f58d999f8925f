#include "evidence/stretch.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "evidence/manifest.h"
#include "recordings/catalogue.h"
#include "trips/drive_range.h"
#include "trips/media_duration.h"
#include "trips/recording_stats.h"

namespace orvik::evidence {

namespace {

using namespace std::chrono;
using recordings::RecordingKind;
using trips::plusSeconds;
using trips::secondsBetween;

// A moment given to the millisecond may fall a hair after the end of a recording whose length
// is not a whole number of milliseconds.
constexpr double kEndSlackSeconds = 0.05;
// How far back a recording may have started and still hold a moment: camera files are minutes
// long; an hour leaves room for the longest.
constexpr auto kLongestRecording = hours{1};

double durationOf(const std::string& path) {
    if (auto d = trips::fileDurationSeconds(path); d && std::isfinite(*d))
        return *d;
    return trips::readRecordingStats(path, {}).durationSeconds;
}

// Event and User recordings are what the camera keeps; they stand first when two recordings
// hold the same moment.
int preference(RecordingKind kind) {
    switch (kind) {
        case RecordingKind::Event:
            return 0;
        case RecordingKind::User:
            return 1;
        case RecordingKind::Always:
            return 2;
        default:
            return 3;
    }
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string seconds3(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

Result<double> offsetInto(const Moment& m, const StretchSegment& seg, const char* option) {
    if (const double* s = std::get_if<double>(&m))
        return *s;
    if (!seg.recordingStart)
        return makeError("'" + fileName(seg.path) +
                         "' carries no date and time in its name; give " + option + " in seconds");
    return secondsBetween(*seg.recordingStart, std::get<LocalTime>(m));
}

// A stretch that runs on past one recording: the pieces of the drive it covers, taken as a clip
// over several files takes them. `file` is the recording it was named from ("" on a card).
Result<Stretch> overDrive(const std::string& cardRoot, const std::string& file, LocalTime from,
                          LocalTime to) {
    auto drive =
        file.empty() ? trips::driveAt(cardRoot, from) : trips::driveHolding(cardRoot, file);
    if (!drive)
        return makeError(drive.error());
    auto range = trips::rangeOf(*drive, from, to);
    if (!range)
        return makeError(range.error());
    Stretch stretch;
    for (const trips::RangePiece& piece : range->pieces) {
        for (const trips::TripRecording& r : *drive) {
            if (r.path != piece.path)
                continue;
            stretch.segments.push_back({piece.path, r.kind, r.start, r.stats.durationSeconds,
                                        piece.fromSeconds, piece.toSeconds});
            break;
        }
    }
    return stretch;
}

Result<Stretch> withinRecording(const std::string& path, const Moment& from, const Moment& to) {
    StretchSegment seg;
    seg.path = path;
    const auto name = recordings::parseRecordingName(fileName(path), path);
    seg.kind = name.kind;
    seg.recordingStart = trips::startOf(name.timestamp);
    seg.durationSeconds = durationOf(path);
    auto a = offsetInto(from, seg, "--from");
    if (!a)
        return makeError(a.error());
    auto b = offsetInto(to, seg, "--to");
    if (!b)
        return makeError(b.error());
    seg.fromSeconds = *a;
    seg.toSeconds = *b;
    if (!std::isfinite(*a) || !std::isfinite(*b) || *b <= *a)
        return makeError("--to must be after --from");
    if (*a < 0 || (seg.durationSeconds > 0 &&
                   (*a >= seg.durationSeconds || *b > seg.durationSeconds + kEndSlackSeconds))) {
        if (seg.recordingStart)
            return overDrive(trips::cardRootOf(path), path, plusSeconds(*seg.recordingStart, *a),
                             plusSeconds(*seg.recordingStart, *b));
        return makeError("the range " + seconds3(*a) + "–" + seconds3(*b) +
                         " s lies outside the recording (0–" + seconds3(seg.durationSeconds) +
                         " s)");
    }
    return Stretch{{seg}};
}

Result<Stretch> onCard(const std::string& folder, const Moment& fromMoment,
                       const Moment& toMoment) {
    const LocalTime* from = std::get_if<LocalTime>(&fromMoment);
    const LocalTime* to = std::get_if<LocalTime>(&toMoment);
    if (!from || !to)
        return makeError(
            "a card folder takes --from and --to as the camera's local time "
            "(YYYY-MM-DDThh:mm:ss)");
    if (*to <= *from)
        return makeError("--to must be after --from");
    auto rows = recordings::catalogueFolder(folder);
    if (!rows)
        return makeError(rows.error());
    const std::string when = isoLocalTimeMs(*from);

    struct Candidate {
        trips::TripRecording moment;
        double duration = 0;
    };
    std::vector<Candidate> holding;
    for (trips::TripRecording& m : trips::momentsOf(*rows, true)) {
        if (m.start > *from || m.start + kLongestRecording < *from)
            continue;
        const double d = durationOf(m.path);
        if (d > 0 && secondsBetween(m.start, *from) < d)
            holding.push_back({std::move(m), d});
    }
    if (holding.empty())
        return makeError("no recording in '" + folder + "' holds " + when);
    const auto ends = [&](const Candidate& c) {
        return secondsBetween(c.moment.start, *to) <= c.duration + kEndSlackSeconds;
    };
    std::stable_sort(holding.begin(), holding.end(), [&](const Candidate& a, const Candidate& b) {
        return std::make_tuple(!ends(a), preference(a.moment.kind), a.moment.start) <
               std::make_tuple(!ends(b), preference(b.moment.kind), b.moment.start);
    });
    const Candidate& best = holding.front();
    if (!ends(best))
        return overDrive(folder, "", *from, *to);
    StretchSegment seg;
    seg.path = best.moment.path;
    seg.kind = best.moment.kind;
    seg.recordingStart = best.moment.start;
    seg.durationSeconds = best.duration;
    seg.fromSeconds = secondsBetween(best.moment.start, *from);
    seg.toSeconds = std::min(secondsBetween(best.moment.start, *to), best.duration);
    return Stretch{{seg}};
}

}  // namespace

std::string isoLocalTimeMs(LocalTime t) {
    return isoTimeText(t, true);
}

std::optional<Moment> parseMoment(std::string_view text) {
    if (auto t = parseLocalTime(text))
        return Moment{*t};
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return Moment{v};
}

double Stretch::durationSeconds() const {
    double total = 0;
    for (const StretchSegment& s : segments)
        total += s.toSeconds - s.fromSeconds;
    return total;
}

std::optional<LocalTime> Stretch::start() const {
    if (segments.empty() || !segments.front().recordingStart)
        return std::nullopt;
    return plusSeconds(*segments.front().recordingStart, segments.front().fromSeconds);
}

std::optional<LocalTime> Stretch::end() const {
    if (segments.empty() || !segments.back().recordingStart)
        return std::nullopt;
    return plusSeconds(*segments.back().recordingStart, segments.back().toSeconds);
}

Result<Stretch> resolveStretch(const std::string& source, std::string_view fromText,
                               std::string_view toText) {
    const auto from = parseMoment(fromText);
    if (!from)
        return makeError("--from: \"" + std::string(fromText) +
                         "\" is neither seconds nor a time YYYY-MM-DDThh:mm:ss");
    const auto to = parseMoment(toText);
    if (!to)
        return makeError("--to: \"" + std::string(toText) +
                         "\" is neither seconds nor a time YYYY-MM-DDThh:mm:ss");
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0)
        return makeError("cannot open '" + source + "': no such file or folder");
    if (S_ISDIR(st.st_mode))
        return onCard(source, *from, *to);
    if (!S_ISREG(st.st_mode))
        return makeError("cannot read '" + source + "': not a regular file");
    return withinRecording(source, *from, *to);
}

}  // namespace orvik::evidence
