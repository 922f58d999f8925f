// orvik-cli clip / snapshot: evidence export of a recording, alone or with its partner channel.
#include <cstdio>
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

template <typename Request>
Request requestOf(const CommonArgs& a) {
    av_log_set_level(AV_LOG_QUIET);  // failures come as our own one-line message
    Request rq;
    rq.input = a.file;
    rq.output = a.out;
    rq.layout = *parseLayout(a.layout);
    rq.caption = a.caption;
    rq.speedUnit = recordings::speedUnitFromName(a.unit);
    rq.force = a.force;
    return rq;
}

struct ClipArgs : CommonArgs {
    double from = 0, to = 0;
    bool quiet = false;
};

int runClip(const ClipArgs& a) {
    auto rq = requestOf<ClipRequest>(a);
    rq.fromSeconds = a.from;
    rq.toSeconds = a.to;
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
    double at = 0;
};

int runSnapshot(const SnapshotArgs& a) {
    auto rq = requestOf<SnapshotRequest>(a);
    rq.atSeconds = a.at;
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
    sub->add_option("FILE", a->file, "front or rear recording (.mp4)")->required();
    sub->add_option("--from", a->from, "start, seconds into the recording")
        ->required()
        ->check(secondsUpTo());
    sub->add_option("--to", a->to, "end, seconds into the recording")
        ->required()
        ->check(secondsUpTo());
    sub->add_option("--out", a->out, "clip to write (.mp4)")->required();
    addCommonOptions(*sub, *a);
    sub->add_flag("-q,--quiet", a->quiet, "no summary line on stderr");
    return [a] { return runClip(*a); };
});

const RegisterCommand kSnapshot([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("snapshot", mediaCommandDescription("snapshot"));
    auto a = std::make_shared<SnapshotArgs>();
    sub->add_option("FILE", a->file, "front or rear recording (.mp4)")->required();
    sub->add_option("--at", a->at, "moment, seconds into the recording")
        ->required()
        ->check(secondsUpTo());
    sub->add_option("--out", a->out,
                    "picture to write (.png, or .jpg with the GPS position in EXIF)")
        ->required();
    addCommonOptions(*sub, *a);
    return [a] { return runSnapshot(*a); };
});

}  // namespace
}  // namespace orvik::cli
