// orvik-cli clip / snapshot: evidence export of a recording, alone or with its partner channel.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "cli/command_registry.h"
#include "cli/media_commands.h"
#include "export/export.h"
#include "recordings/partner.h"
#include "recordings/track_formats.h"
#include "trips/drive_range.h"
#include "trips/media_duration.h"
#include "trips/moment.h"

namespace orvik::cli {
namespace {

using namespace orvik::exporting;

const std::vector<std::string> kLayouts = {"front", "rear", "side-by-side", "picture-in-picture"};

// What clip and snapshot take alike.
struct CommonArgs {
    std::string file, out, layout, unit;
    bool caption = false, force = false;
};

void addCommonOptions(CLI::App& sub, CommonArgs& a) {
    sub.add_option("--layout", a.layout,
                   "front, rear, side-by-side or picture-in-picture (default: FILE's channel)")
        ->check(CLI::IsMember(kLayouts));
    sub.add_flag("--caption", a.caption, "burn in date and time, speed and position");
    sub.add_option("--unit", a.unit,
                   "--caption: speed converted to km/h or mph (default: as recorded)")
        ->check(CLI::IsMember({"km/h", "mph"}));
    sub.add_flag("--force", a.force, "replace an existing output file");
}

// `input`: the recording FILE names, or the one of the card FILE that holds the moment.
template <typename Request>
Request requestOf(const CommonArgs& a, const std::string& input) {
    av_log_set_level(AV_LOG_QUIET);  // failures come as our own one-line message
    Request rq;
    rq.input = input;
    rq.output = a.out;
    rq.layout = *parseLayout(a.layout);
    rq.caption = a.caption;
    rq.speedUnit = recordings::speedUnitFromName(a.unit);
    rq.force = a.force;
    return rq;
}

// Seconds from the start of a recording, negative back into its drive: at most a day either way.
Result<double> offsetOf(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || std::fabs(v) > kMostSeconds)
        return makeError(option + ": seconds (-86400 to 86400) or a camera time on a card folder",
                         kExitUsage);
    return v;
}

Result<trips::LocalTime> cameraTimeOf(const std::string& option, const std::string& text) {
    const auto t = trips::parseLocalTime(text);
    if (!t)
        return makeError(option + ": not a camera time (YYYY-MM-DDThh:mm:ss[.fff])", kExitUsage);
    return *t;
}

bool isFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

// The drive that holds the stretch: FILE's on its card, or the card folder's at the moment.
Result<std::vector<trips::TripRecording>> driveFor(const std::string& file,
                                                   std::optional<trips::LocalTime> at) {
    return at ? trips::driveAt(file, *at) : trips::driveHolding(trips::cardRootOf(file), file);
}

// The pieces of the stretch in the channel asked for: FILE's own (front or rear) unless a layout
// names one.
Result<std::vector<ClipPiece>> piecesOf(const trips::DriveRange& range, bool rear) {
    std::vector<ClipPiece> pieces;
    for (const trips::RangePiece& p : range.pieces) {
        if (rear && p.partnerPath.empty())
            return makeError(p.path + " has no rear recording beside it");
        pieces.push_back({p.file(rear), p.fromSeconds, p.toSeconds});
    }
    return pieces;
}

struct ClipArgs : CommonArgs {
    std::string from, to;
    bool quiet = false;
};

// The clip's pieces: seconds into FILE (running into the recordings before and after it in its
// drive), or the camera's times on a card folder. A stretch within one recording is one piece.
Result<std::vector<ClipPiece>> clipPieces(const ClipArgs& a) {
    if (isFolder(a.file)) {
        const auto from = cameraTimeOf("--from", a.from);
        const auto to = from ? cameraTimeOf("--to", a.to) : from;
        if (!from || !to)
            return makeError(!from ? from.error() : to.error(), kExitUsage);
        auto drive = driveFor(a.file, *from);
        if (!drive)
            return makeError(drive.error(), kExitFailed);
        auto range = trips::rangeOf(*drive, *from, *to);
        if (!range)
            return makeError(range.error(), kExitFailed);
        return piecesOf(*range, false);
    }
    const auto from = offsetOf("--from", a.from);
    const auto to = from ? offsetOf("--to", a.to) : from;
    if (!from || !to)
        return makeError(!from ? from.error() : to.error(), kExitUsage);
    const auto length = trips::fileDurationSeconds(a.file);
    if (*from >= 0 && (!length || *to <= *length))
        return std::vector<ClipPiece>{{a.file, *from, *to}};
    auto drive = driveFor(a.file, std::nullopt);
    if (!drive)
        return makeError(drive.error(), kExitFailed);
    auto range =
        trips::rangeOf(*drive, trips::DrivePoint{a.file, *from}, trips::DrivePoint{a.file, *to});
    if (!range)
        return makeError(range.error(), kExitFailed);
    return piecesOf(*range, !recordings::channelOfRecording(a.file).front);
}

int runClip(const ClipArgs& a) {
    auto pieces = clipPieces(a);
    if (!pieces) {
        printError(pieces.error());
        return pieces.errorNumber();
    }
    auto rq = requestOf<ClipRequest>(a, pieces->front().input);
    if (pieces->size() == 1) {
        rq.fromSeconds = pieces->front().fromSeconds;
        rq.toSeconds = pieces->front().toSeconds;
    } else {
        rq.pieces = std::move(*pieces);
    }
    auto report = exportClip(rq);
    if (!report) {
        printError(report.error());
        return kExitFailed;
    }
    if (!a.quiet) {
        std::string over;
        if (rq.pieces.size() > 1)
            over = " over " + std::to_string(rq.pieces.size()) + " recordings";
        std::fprintf(stderr,
                     "%s: %lld frames, %.3f s, %zu fragments, %zu telemetry records%s (%s)\n",
                     a.out.c_str(), static_cast<long long>(report->frames), report->seconds,
                     report->fragments, report->telemetryRecords, over.c_str(),
                     std::string(clipMethodName(report->method)).c_str());
    }
    return kExitOk;
}

// A moment as given: seconds into FILE (past its end or before its start: in the recording of
// its drive that runs then), or the camera's time on a card folder.
struct Moment {
    std::string file;
    double seconds = 0;
};

Result<Moment> momentOf(const std::string& file, const std::string& text) {
    std::optional<trips::LocalTime> at;
    double offset = 0;
    if (isFolder(file)) {
        auto t = cameraTimeOf("--at", text);
        if (!t)
            return makeError(t.error(), kExitUsage);
        at = *t;
    } else {
        auto seconds = offsetOf("--at", text);
        if (!seconds)
            return makeError(seconds.error(), kExitUsage);
        offset = *seconds;
        const auto length = trips::fileDurationSeconds(file);
        if (offset >= 0 && (!length || offset < *length))
            return Moment{file, offset};
    }
    auto drive = driveFor(file, at);
    if (!drive)
        return makeError(drive.error(), kExitFailed);
    if (!at)
        at = trips::timeOf(*drive, trips::DrivePoint{file, offset});
    const auto found = at ? trips::findMoment(*drive, *at) : std::nullopt;
    if (!found)
        return makeError("no recording of the drive runs at " + text, kExitFailed);
    // The rear channel when FILE is a rear recording.
    if (!isFolder(file) && !recordings::channelOfRecording(file).front) {
        for (const trips::TripRecording& r : *drive) {
            if (r.path == found->path && !r.partnerPath.empty())
                return Moment{r.partnerPath, found->offsetSeconds};
        }
        return makeError(found->path + " has no rear recording beside it", kExitFailed);
    }
    return Moment{found->path, found->offsetSeconds};
}

struct SnapshotArgs : CommonArgs {
    std::string at;
};

int runSnapshot(const SnapshotArgs& a) {
    const auto at = momentOf(a.file, a.at);
    if (!at) {
        printError(at.error());
        return at.errorNumber();
    }
    auto rq = requestOf<SnapshotRequest>(a, at->file);
    rq.atSeconds = at->seconds;
    auto report = exportSnapshot(rq);
    if (!report) {
        printError(report.error());
        return kExitFailed;
    }
    return kExitOk;
}

const RegisterCommand kClip([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("clip", mediaCommandDescription("clip"));
    auto a = std::make_shared<ClipArgs>();
    sub->add_option("FILE", a->file,
                    "front or rear recording (.mp4), or a card folder for moments by camera time")
        ->required();
    sub->add_option("--from", a->from,
                    "start: seconds into FILE (negative, or past its end: the recordings of its "
                    "drive before or after it), or the camera's time on a card "
                    "(2026-03-14T08:15:02[.fff])")
        ->required();
    sub->add_option("--to", a->to, "end, as --from")->required();
    sub->add_option("--out", a->out, "clip to write (.mp4)")->required();
    addCommonOptions(*sub, *a);
    sub->add_flag("-q,--quiet", a->quiet, "no summary line on stderr");
    return [a] { return runClip(*a); };
});

const RegisterCommand kSnapshot([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("snapshot", mediaCommandDescription("snapshot"));
    auto a = std::make_shared<SnapshotArgs>();
    sub->add_option("FILE", a->file,
                    "front or rear recording (.mp4), or a card folder for a moment by camera time")
        ->required();
    sub->add_option("--at", a->at,
                    "moment: seconds into FILE, or the camera's time on a card "
                    "(2026-03-14T08:15:02[.fff])")
        ->required();
    sub->add_option("--out", a->out,
                    "picture to write (.png, or .jpg with the GPS position in EXIF)")
        ->required();
    addCommonOptions(*sub, *a);
    return [a] { return runSnapshot(*a); };
});

}  // namespace
}  // namespace orvik::cli
