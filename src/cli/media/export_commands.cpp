// orvik-cli clip / snapshot: evidence export of a recording, alone or with its partner channel.
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
#include "recordings/track_formats.h"
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

// A moment as given: seconds into FILE, or, when FILE is a card folder, the camera's local time
// ("2026-03-14T08:15:02[.fff]") of one of its recordings.
struct Moment {
    std::string file;
    double seconds = 0;
};

// The error's code is the exit status: a moment that cannot be read is a usage error, one that no
// recording holds a failure.
Result<Moment> momentOf(const std::string& file, const std::string& option,
                        const std::string& text) {
    std::error_code ec;
    if (!std::filesystem::is_directory(file, ec)) {
        std::string checked = text;
        if (const std::string wrong = secondsUpTo()(checked); !wrong.empty())
            return makeError(option + ": " + wrong, kExitUsage);
        return Moment{file, std::stod(text)};
    }
    const auto t = trips::parseLocalTime(text);
    if (!t)
        return makeError(option + ": not a camera time (YYYY-MM-DDThh:mm:ss[.fff])", kExitUsage);
    auto found = trips::locateMoment(file, *t);
    if (!found)
        return makeError(found.error(), kExitFailed);
    return Moment{found->path, found->offsetSeconds};
}

struct ClipArgs : CommonArgs {
    std::string from, to;
    bool quiet = false;
};

int runClip(const ClipArgs& a) {
    const auto from = momentOf(a.file, "--from", a.from);
    const auto to = from ? momentOf(a.file, "--to", a.to) : from;
    if (!from || !to) {
        printError(!from ? from.error() : to.error());
        return !from ? from.errorNumber() : to.errorNumber();
    }
    if (from->file != to->file) {
        printError("the stretch runs from " + from->file + " into " + to->file +
                   "; a clip is cut from one recording");
        return kExitFailed;
    }
    auto rq = requestOf<ClipRequest>(a, from->file);
    rq.fromSeconds = from->seconds;
    rq.toSeconds = to->seconds;
    auto report = exportClip(rq);
    if (!report) {
        printError(report.error());
        return kExitFailed;
    }
    if (!a.quiet) {
        std::fprintf(stderr, "%s: %lld frames, %.3f s, %zu fragments, %zu telemetry records (%s)\n",
                     a.out.c_str(), static_cast<long long>(report->frames), report->seconds,
                     report->fragments, report->telemetryRecords,
                     std::string(clipMethodName(report->method)).c_str());
    }
    return kExitOk;
}

struct SnapshotArgs : CommonArgs {
    std::string at;
};

int runSnapshot(const SnapshotArgs& a) {
    const auto at = momentOf(a.file, "--at", a.at);
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
                    "start: seconds into FILE, or the camera's time on a card "
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
