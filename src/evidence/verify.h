#pragma once
// Checking an evidence package: every file the manifest and SHA256SUMS name is hashed again and
// compared, and the source recordings are checked too where they still are. A package is intact
// when every file it names is there with the bytes it had; recordings that are no longer where
// the manifest says (the card looped, the package was handed on) are reported, not held against
// the package.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace orvik::evidence {

enum class FileProblem {
    Missing,     // named by the package, not in the folder
    Changed,     // other bytes than the package says
    Unreadable,  // there, but cannot be read (or is not a regular file)
    Damaged,     // manifest.json or SHA256SUMS that cannot be read as such
};

struct PackageFinding {
    std::string name;
    FileProblem problem = FileProblem::Changed;
    std::string detail;  // e.g. the reason a file cannot be read
};

enum class SourceState {
    Intact,      // where the manifest says, with the same SHA-256
    Changed,     // there, with other bytes
    NotFound,    // not there (moved, deleted, or the card is not inserted)
    Unreadable,  // there but cannot be read
};

struct SourceCheck {
    std::string path;
    SourceState state = SourceState::NotFound;
    std::string detail;
};

struct VerifyReport {
    std::size_t filesChecked = 0;          // files of the package hashed
    std::vector<PackageFinding> problems;  // in the order SHA256SUMS names the files
    std::vector<std::string> extraFiles;   // in the folder but not part of the package
    std::vector<SourceCheck> sources;      // in manifest order
    bool packageIntact() const { return problems.empty(); }
    // False when a source recording was found with other bytes or could not be read.
    bool sourcesConsistent() const;
    std::size_t sourcesIn(SourceState state) const;
};

struct VerifyOptions {
    bool checkSources = true;
    // Called before each file is hashed with its name (or a source's path); false cancels.
    std::function<bool(const std::string& file)> progress;
};

// Fails only when `folder` is not a readable folder (or when cancelled); everything found inside
// is in the report.
Result<VerifyReport> verifyPackage(const std::string& folder, const VerifyOptions& options = {});

// One line for a finding, as `orvik-cli verify` prints it: "clip.mp4: changed".
std::string describe(const PackageFinding& finding);
std::string describe(const SourceCheck& check);

}  // namespace orvik::evidence
