#pragma once
// An evidence package: one folder that hands a stretch of footage to someone who was not there —
// the clip, stills with their GPS position, the track, a PDF report — with the SHA-256 of every
// source recording as it was read and of every file in the folder.
//
// The package is assembled in a hidden folder beside the target and moved into place when
// complete, each file written to a temporary name and renamed, everything flushed to the disk
// before the build returns. A failed or cancelled build leaves no folder behind. A source that
// changes while the package is made fails the build.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "evidence/manifest.h"
#include "export/export.h"
#include "platform/result.h"
#include "platform/strings.h"
#include "recordings/telemetry.h"

namespace orvik::evidence {

// What a package build is doing, in order.
enum class PackageStage { HashingSources, MakingClips, TakingStills, WritingReport, Finishing };
// "hashing the source recordings", … (for a terminal line).
std::string_view stageName(PackageStage stage);

// Called with what is being done and the share of the whole done (0..1); false cancels.
using PackageProgress = std::function<bool(PackageStage stage, double done)>;

struct PackageRequest {
    std::string source;  // a recording, or a card folder
    std::string from;    // seconds into the recording, or the camera's local time
    std::string to;
    std::string folder;  // created; must not exist or be empty unless `force`
    // Without one: side by side when the recording has its partner, else its own channel.
    std::optional<exporting::Layout> layout;
    bool caption = false;
    std::optional<recordings::SpeedUnit> unit;  // as recorded when empty
    platform::Language language = platform::Language::English;
    std::string note;
    // Lets a folder that is not empty take the package: files of the same names are replaced,
    // files of an earlier package there that this one does not make are removed, and nothing
    // else is touched.
    bool force = false;
    std::string programName = "orvik-cli";
    std::string programVersion;
    std::vector<std::string> command;  // as typed, for the report
    PackageProgress progress;
};

struct PackageResult {
    std::string folder;
    Manifest manifest;
    int reportPages = 0;
    std::uint64_t reportBytes = 0;
};

Result<PackageResult> buildPackage(const PackageRequest& request);

// Every name a package may hold, the fixed set `--force` may remove from an earlier package.
const std::vector<std::string>& packageFileNames();

}  // namespace orvik::evidence
