#include "evidence/verify.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "evidence/manifest.h"
#include "platform/readable_file.h"
#include "platform/sha256.h"

namespace orvik::evidence {

namespace {

namespace fs = std::filesystem;

// Far above any real package's texts; a larger file is not ours and is not read into memory.
constexpr std::size_t kMaxManifestBytes = 16u << 20;
constexpr std::size_t kMaxSumsBytes = 1u << 20;

bool anyEntryAt(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 || errno != ENOENT;
}

// What the folder holds under a name, hashed once however many lists name it.
struct Actual {
    bool present = false;
    std::string sha256;  // "" when it could not be read
    std::uint64_t size = 0;
    std::string error;
};

class Checker {
  public:
    Checker(fs::path root, const VerifyOptions& options)
        : root_(std::move(root)), options_(options) {}

    Result<VerifyReport> run();

  private:
    Result<const Actual*> actual(const std::string& name) {
        auto it = actual_.find(name);
        if (it != actual_.end())
            return &it->second;
        if (options_.progress && !options_.progress(name))
            return makeError("cancelled");
        Actual a;
        const fs::path path = root_ / name;
        a.present = anyEntryAt(path);
        if (a.present) {
            ++report_.filesChecked;
            if (auto hashed = platform::hashFile(path.string())) {
                a.sha256 = platform::toHex(hashed->digest);
                a.size = hashed->stamp.size;
            } else {
                a.error = hashed.error();
            }
        }
        return &actual_.emplace(name, std::move(a)).first->second;
    }
    void problem(const std::string& name, FileProblem p, std::string detail = {}) {
        if (blamed_.insert(name).second)
            report_.problems.push_back({name, p, std::move(detail)});
    }
    // Compares a file with what a list says of it; true when it matches.
    Result<bool> check(const std::string& name, const std::string& sha256,
                       std::optional<std::uint64_t> size) {
        auto a = actual(name);
        if (!a)
            return makeError(a.error());
        const Actual& got = **a;
        if (!got.present) {
            problem(name, FileProblem::Missing);
            return false;
        }
        if (!got.error.empty()) {
            problem(name, FileProblem::Unreadable, got.error);
            return false;
        }
        if (got.sha256 != sha256 || (size && *size != got.size)) {
            problem(name, FileProblem::Changed);
            return false;
        }
        return true;
    }
    template <typename T>
    std::optional<T> readList(const std::string& name, std::size_t limit,
                              Result<T> (*parse)(std::string_view)) {
        if (!anyEntryAt(root_ / name)) {
            problem(name, FileProblem::Missing);
            return std::nullopt;
        }
        auto text = platform::readFileLimited((root_ / name).string(), limit);
        if (!text) {
            problem(name, FileProblem::Unreadable, text.error());
            return std::nullopt;
        }
        if (name == std::string(kSumsName))
            sumsText_ = *text;
        auto parsed = parse(*text);
        if (!parsed) {
            problem(name, FileProblem::Damaged, parsed.error());
            return std::nullopt;
        }
        return std::move(*parsed);
    }
    Result<void> checkSources(const Manifest& m);

    fs::path root_;
    const VerifyOptions& options_;
    VerifyReport report_;
    std::map<std::string, Actual> actual_;
    std::set<std::string> blamed_;
    std::string sumsText_;
};

Result<VerifyReport> Checker::run() {
    const std::string sumsName(kSumsName);
    const std::string manifestName(kManifestName);
    const auto sums = readList<std::vector<SumLine>>(sumsName, kMaxSumsBytes, parseSums);
    const auto manifest = readList<Manifest>(manifestName, kMaxManifestBytes, parseManifest);

    // The manifest is trusted when SHA256SUMS vouches for it; then it is the reference for
    // every other file, and SHA256SUMS must say exactly what the manifest implies.
    std::optional<std::string> sumsOfManifest;
    if (sums) {
        for (const SumLine& l : *sums) {
            if (l.name == manifestName)
                sumsOfManifest = l.sha256;
        }
    }
    bool trusted = false;
    if (manifest && sums) {
        if (!sumsOfManifest) {
            problem(sumsName, FileProblem::Changed, "it does not cover manifest.json");
        } else {
            auto ok = check(manifestName, *sumsOfManifest, std::nullopt);
            if (!ok)
                return makeError(ok.error());
            trusted = *ok;
            if (!trusted && report_.problems.back().problem == FileProblem::Changed) {
                // One of the two changed; the hashes alone cannot tell which.
                report_.problems.back().detail = "or its line in SHA256SUMS";
                problem(sumsName, FileProblem::Changed, "or manifest.json");
            }
        }
    }

    if (manifest && (trusted || !sums)) {
        for (const OutputEntry& o : manifest->outputs) {
            if (auto r = check(o.name, o.sha256, o.size); !r)
                return makeError(r.error());
        }
    } else if (sums) {
        for (const SumLine& l : *sums) {
            if (l.name == manifestName || l.name == sumsName)
                continue;
            if (auto r = check(l.name, l.sha256, std::nullopt); !r)
                return makeError(r.error());
        }
    }
    if (trusted) {
        // Written from the manifest, byte for byte: any other byte is a change.
        std::vector<SumLine> expected;
        for (const OutputEntry& o : manifest->outputs)
            expected.push_back({o.sha256, o.name});
        expected.push_back({*sumsOfManifest, manifestName});
        if (sumsText_ != formatSums(expected))
            problem(sumsName, FileProblem::Changed, "it does not list what manifest.json lists");
    }

    // Anything else in the folder is not part of the package (a file a desktop added, say).
    std::set<std::string> known{sumsName, manifestName};
    if (manifest) {
        for (const OutputEntry& o : manifest->outputs)
            known.insert(o.name);
    }
    if (sums) {
        for (const SumLine& l : *sums)
            known.insert(l.name);
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        const std::string name = entry.path().filename().string();
        if (!known.count(name))
            report_.extraFiles.push_back(name);
    }
    std::sort(report_.extraFiles.begin(), report_.extraFiles.end());

    if (manifest && options_.checkSources) {
        if (auto r = checkSources(*manifest); !r)
            return makeError(r.error());
    }
    return std::move(report_);
}

Result<void> Checker::checkSources(const Manifest& m) {
    for (const SourceEntry& s : m.sources) {
        SourceCheck check;
        check.path = s.path;
        if (!anyEntryAt(s.path)) {
            check.state = SourceState::NotFound;
        } else {
            if (options_.progress && !options_.progress(s.path))
                return makeError("cancelled");
            auto hashed = platform::hashFile(s.path);
            if (!hashed) {
                check.state = SourceState::Unreadable;
                check.detail = hashed.error();
            } else {
                const bool same =
                    platform::toHex(hashed->digest) == s.sha256 && hashed->stamp.size == s.size;
                check.state = same ? SourceState::Intact : SourceState::Changed;
            }
        }
        report_.sources.push_back(std::move(check));
    }
    return {};
}

}  // namespace

bool VerifyReport::sourcesConsistent() const {
    return std::none_of(sources.begin(), sources.end(), [](const SourceCheck& s) {
        return s.state == SourceState::Changed || s.state == SourceState::Unreadable;
    });
}

std::size_t VerifyReport::sourcesIn(SourceState state) const {
    return static_cast<std::size_t>(
        std::count_if(sources.begin(), sources.end(),
                      [state](const SourceCheck& s) { return s.state == state; }));
}

std::string describe(const PackageFinding& f) {
    std::string what;
    switch (f.problem) {
        case FileProblem::Missing:
            what = "missing";
            break;
        case FileProblem::Changed:
            what = "changed";
            break;
        case FileProblem::Unreadable:
            what = "cannot be read";
            break;
        case FileProblem::Damaged:
            what = "damaged";
            break;
    }
    return f.name + ": " + what + (f.detail.empty() ? "" : " (" + f.detail + ")");
}

std::string describe(const SourceCheck& s) {
    switch (s.state) {
        case SourceState::Intact:
            return "source intact: " + s.path;
        case SourceState::Changed:
            return "source changed since the package was made: " + s.path;
        case SourceState::NotFound:
            return "source not found: " + s.path;
        case SourceState::Unreadable:
            return "source cannot be read: " + s.path +
                   (s.detail.empty() ? "" : " (" + s.detail + ")");
    }
    return s.path;
}

Result<VerifyReport> verifyPackage(const std::string& folder, const VerifyOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return makeError("'" + folder + "' is not a folder");
    Checker checker(fs::path(folder), options);
    return checker.run();
}

}  // namespace orvik::evidence
