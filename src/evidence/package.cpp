#include "evidence/package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "device_config/device_config.h"
#include "device_config/validation.h"
#include "evidence/report_canvas.h"
#include "evidence/report_pdf.h"
#include "evidence/report_settings.h"
#include "evidence/stretch.h"
#include "evidence/stretch_facts.h"
#include "export/media.h"
#include "platform/commit_writer.h"
#include "platform/readable_file.h"
#include "platform/sha256.h"
#include "platform/system_error.h"
#include "recordings/partner.h"
#include "recordings/track_formats.h"
#include "strings/string_ids.h"

namespace orvik::evidence {

namespace {

namespace fs = std::filesystem;
using exporting::Layout;
using platform::Language;

// How far up from a recording the card's configuration file is looked for: the camera keeps
// its recordings a folder or two below the card root.
constexpr int kConfigSearchLevels = 3;

// Shares of the whole build, for one progress bar: the clip dominates, hashing the sources
// and the stills come next.
struct Stage {
    PackageStage stage;
    double from, to;
};
constexpr Stage kHashSources{PackageStage::HashingSources, 0.00, 0.15};
constexpr Stage kClips{PackageStage::MakingClips, 0.15, 0.60};
constexpr Stage kStills{PackageStage::TakingStills, 0.60, 0.80};
constexpr Stage kTrack{PackageStage::WritingReport, 0.80, 0.90};
constexpr Stage kFinish{PackageStage::Finishing, 0.90, 1.00};

std::string nowUtc() {
    using namespace std::chrono;
    return isoTimeText(floor<seconds>(system_clock::now()), false) + "Z";
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Pushes a file or folder to the disk; a folder a file system will not flush is not an error.
Result<void> flushToDisk(const fs::path& path, bool folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return makeError(
            "cannot flush '" + path.string() + "': " + platform::systemErrorText(errno), errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && !(folder && (err == EINVAL || err == EROFS)))
        return makeError("cannot flush '" + path.string() + "': " + platform::systemErrorText(err),
                         err);
    return {};
}

std::optional<std::string> findConfig(const std::string& source) {
    std::error_code ec;
    fs::path dir = fs::is_directory(source, ec) ? fs::path(source) : fs::path(source).parent_path();
    for (int level = 0; level <= kConfigSearchLevels && !dir.empty(); ++level) {
        const fs::path candidate = dir / device_config::kConfigFileName;
        if (isRegularFile(candidate.string()))
            return candidate.string();
        if (dir == dir.root_path())
            break;
        dir = dir.parent_path();
    }
    return std::nullopt;
}

std::string channelOf(const std::string& path) {
    return recordings::channelOfRecording(path).front ? "front" : "rear";
}

// The other channel's recording when it is there as a file, "" otherwise.
std::string partnerFileOf(const std::string& path) {
    const auto partner = recordings::channelOfRecording(path).partnerPath;
    return partner && isRegularFile(*partner) ? *partner : std::string();
}

// The folder being assembled: hidden beside the target, removed unless it was moved into place.
class Staging {
  public:
    static Result<Staging> create(const fs::path& target) {
        std::string tmpl =
            (target.parent_path() / ("." + target.filename().string() + ".part-XXXXXX")).string();
        if (!::mkdtemp(tmpl.data()))
            return makeError("cannot write in '" + target.parent_path().string() +
                                 "': " + platform::systemErrorText(errno),
                             errno);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(tmpl.c_str(), 0777 & ~mask);
        return Staging(tmpl);
    }
    Staging(Staging&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    Staging& operator=(Staging&&) = delete;
    ~Staging() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }
    const fs::path& path() const { return path_; }
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    void release() { path_.clear(); }

  private:
    explicit Staging(fs::path p) : path_(std::move(p)) {}
    fs::path path_;
};

struct Still {
    std::string moment;        // "start", "impact", "end"
    std::size_t segment = 0;   // of the stretch
    double offsetSeconds = 0;  // into that segment's recording
    double stretchSeconds = 0;
};

class PackageJob {
  public:
    explicit PackageJob(const PackageRequest& rq) : rq_(rq) {}
    Result<PackageResult> run();

  private:
    bool progress(const Stage& stage, double within) {
        if (!rq_.progress)
            return true;
        const double done = stage.from + (stage.to - stage.from) * std::clamp(within, 0.0, 1.0);
        if (!rq_.progress(stage.stage, done))
            cancelled_ = true;
        return !cancelled_;
    }
    Result<void> checkTarget();
    Result<void> hashSources();
    Result<void> makeClips();
    Result<void> takeStills();
    Result<void> writeTrack();
    Result<void> writeReport();
    Result<void> writeLists();
    Result<void> sourcesUnchanged();
    // Whether `path` is (a link to) one of the recordings hashed.
    bool isSource(const fs::path& path) const;
    Result<void> moveIntoPlace();
    Result<void> addOutput(const std::string& name);
    Result<void> writeText(const std::string& name, std::string_view text);
    Error cancelledError() const { return makeError("cancelled"); }

    const PackageRequest& rq_;
    fs::path target_;
    bool targetHasFiles_ = false;
    std::optional<Staging> staging_;
    Stretch stretch_;
    std::vector<SegmentTelemetry> telemetry_;
    StretchFacts facts_;
    std::string partner_;  // of the stretch's recording, "" without one
    Layout layout_ = Layout::Given;
    std::vector<platform::FileStamp> sourceStamps_;
    std::optional<device_config::DeviceConfig> config_;
    std::vector<ReportStill> stills_;
    Manifest manifest_;
    RenderedReport report_;
    bool cancelled_ = false;
};

Result<void> PackageJob::checkTarget() {
    if (rq_.folder.empty())
        return makeError("no package folder given");
    target_ = fs::absolute(rq_.folder).lexically_normal();
    if (!target_.has_filename())
        target_ = target_.parent_path();
    if (target_ == target_.root_path())
        return makeError("a package cannot take the root folder");
    std::error_code ec;
    const auto status = fs::symlink_status(target_, ec);
    if (fs::exists(status)) {
        if (!fs::is_directory(fs::status(target_, ec)))
            return makeError("'" + target_.string() + "' exists and is not a folder");
        targetHasFiles_ = !fs::is_empty(target_, ec);
        if (ec)
            return makeError("cannot read '" + target_.string() + "': " + ec.message());
        if (targetHasFiles_ && !rq_.force)
            return makeError("'" + target_.string() +
                             "' exists and is not empty; add --force to put the package in it");
    } else if (!fs::is_directory(target_.parent_path(), ec)) {
        return makeError("cannot create '" + target_.string() + "': the folder '" +
                         target_.parent_path().string() + "' does not exist");
    }
    return {};
}

Result<void> PackageJob::hashSources() {
    std::vector<std::string> paths;
    for (const StretchSegment& seg : stretch_.segments) {
        paths.push_back(seg.path);
        if (const std::string partner = partnerFileOf(seg.path); !partner.empty())
            paths.push_back(partner);
    }
    std::uint64_t total = 0, done = 0;
    for (const std::string& p : paths) {
        if (auto stamp = platform::stampOf(p))
            total += stamp->size;
    }
    for (const std::string& p : paths) {
        auto hashed = platform::hashFile(p, [&](std::span<const std::uint8_t> chunk) {
            done += chunk.size();
            return progress(kHashSources, total ? static_cast<double>(done) / total : 1.0);
        });
        if (!hashed)
            return cancelled_ ? cancelledError() : makeError(hashed.error());
        SourceEntry e;
        e.path = fs::absolute(p).lexically_normal().string();
        e.channel = channelOf(p);
        e.size = hashed->stamp.size;
        e.modified = isoUtcFromNanoseconds(hashed->stamp.modifiedNs);
        e.sha256 = platform::toHex(hashed->digest);
        manifest_.sources.push_back(std::move(e));
        sourceStamps_.push_back(hashed->stamp);
    }
    return {};
}

Result<void> PackageJob::addOutput(const std::string& name) {
    auto hashed = platform::hashFile(staging_->file(name));
    if (!hashed)
        return makeError(hashed.error());
    manifest_.outputs.push_back({name, hashed->stamp.size, platform::toHex(hashed->digest)});
    return {};
}

Result<void> PackageJob::writeText(const std::string& name, std::string_view text) {
    if (auto r = platform::writeFileAtomic(staging_->file(name), text); !r)
        return r;
    return addOutput(name);
}

Result<void> PackageJob::makeClips() {
    const StretchSegment& seg = stretch_.segments.front();
    struct Clip {
        std::string name;
        Layout layout;
        bool caption;
    };
    std::vector<Clip> clips{{"clip.mp4", layout_, rq_.caption}};
    // Beside a combined picture, each channel as the camera recorded it: copied, no caption.
    if (layout_ == Layout::SideBySide || layout_ == Layout::PictureInPicture) {
        clips.push_back({"clip-front.mp4", Layout::Front, false});
        clips.push_back({"clip-rear.mp4", Layout::Rear, false});
    }
    for (std::size_t i = 0; i < clips.size(); ++i) {
        exporting::ClipRequest rq;
        rq.input = seg.path;
        rq.fromSeconds = seg.fromSeconds;
        rq.toSeconds = seg.toSeconds;
        if (stretch_.segments.size() > 1) {
            for (const StretchSegment& s : stretch_.segments)
                rq.pieces.push_back({s.path, s.fromSeconds, s.toSeconds});
        }
        rq.output = staging_->file(clips[i].name);
        rq.layout = clips[i].layout;
        rq.caption = clips[i].caption;
        rq.speedUnit = rq_.unit;
        // A combined clip is encoded, the single channels copied: it takes most of the time.
        const double share = clips.size() == 1 ? 1.0 : (i == 0 ? 0.8 : 0.1);
        const double before = i == 0 ? 0.0 : 0.8 + 0.1 * static_cast<double>(i - 1);
        rq.progress = [&, share, before](double done) {
            return progress(kClips, before + share * done);
        };
        auto made = exporting::exportClip(rq);
        if (!made)
            return cancelled_ ? cancelledError() : makeError(clips[i].name + ": " + made.error());
        if (auto r = addOutput(clips[i].name); !r)
            return r;
    }
    return {};
}

Result<void> PackageJob::takeStills() {
    const StretchSegment& seg = stretch_.segments.front();
    const std::size_t lastSegment = stretch_.segments.size() - 1;
    const StretchSegment& last = stretch_.segments.back();
    auto media = exporting::InputMedia::open(last.path);
    if (!media)
        return makeError(media.error());
    const double frame = (*media)->frameDuration();
    const double lastFrame = std::min(last.toSeconds, (*media)->durationSeconds()) - frame;
    std::vector<Still> moments{{"start", 0, seg.fromSeconds, 0}};
    if (facts_.strongest) {
        const ImpactFact& i = facts_.impacts[*facts_.strongest];
        moments.push_back({"impact", i.segment, i.offsetSeconds, i.seconds});
    }
    const double endOffset = std::max(last.fromSeconds, lastFrame);
    moments.push_back({"end", lastSegment, endOffset,
                       std::max(0.0, stretch_.durationSeconds() - (last.toSeconds - endOffset))});

    struct Channel {
        std::string name;
        Layout layout;
    };
    std::vector<Channel> channels;
    if (partner_.empty())
        channels.push_back({channelOf(seg.path), Layout::Given});
    else
        channels = {{"front", Layout::Front}, {"rear", Layout::Rear}};
    const auto nameOf = [](const Still& m, const Channel& ch) {
        return "still-" + m.moment + "-" + ch.name + ".jpg";
    };
    // Each channel is decoded on a thread of its own; only the calling thread reports progress
    // (the caller's callback may touch a window) and the other follows its cancel.
    using Shot = std::optional<Result<exporting::SnapshotReport>>;
    std::vector<std::vector<Shot>> shots(channels.size(), std::vector<Shot>(moments.size()));
    std::atomic<bool> stop{false};
    const auto shoot = [&](std::size_t c, bool caller) {
        for (std::size_t m = 0; m < moments.size() && !stop; ++m) {
            if (caller && !progress(kStills, static_cast<double>(m) / moments.size())) {
                stop = true;
                break;
            }
            exporting::SnapshotRequest rq;
            rq.input = stretch_.segments[moments[m].segment].path;
            rq.atSeconds = moments[m].offsetSeconds;
            rq.output = staging_->file(nameOf(moments[m], channels[c]));
            rq.layout = channels[c].layout;
            try {
                shots[c][m] = exporting::exportSnapshot(rq);
            } catch (const std::exception& e) {
                shots[c][m] = Result<exporting::SnapshotReport>(makeError(e.what()));
            }
            if (!*shots[c][m])
                stop = true;
        }
    };
    std::thread other;
    if (channels.size() > 1)
        other = std::thread(shoot, 1, false);
    shoot(0, true);
    if (other.joinable())
        other.join();
    if (cancelled_)
        return cancelledError();
    for (std::size_t c = 0; c < channels.size(); ++c) {
        for (std::size_t m = 0; m < moments.size(); ++m) {
            if (shots[c][m] && !*shots[c][m])
                return makeError(nameOf(moments[m], channels[c]) + ": " + shots[c][m]->error());
        }
    }

    for (std::size_t m = 0; m < moments.size(); ++m) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const std::string name = nameOf(moments[m], channels[c]);
            const Shot& shot = shots[c][m];
            if (!shot || !*shot)
                return makeError(name + ": not taken");
            if (auto r = addOutput(name); !r)
                return r;
            ReportStill s;
            s.file = staging_->file(name);
            s.moment = moments[m].moment;
            s.channel = channels[c].name;
            s.stretchSeconds = moments[m].stretchSeconds;
            if (const auto& start = stretch_.segments[moments[m].segment].recordingStart)
                s.local = trips::plusSeconds(*start, (*shot)->frameSeconds);
            s.width = (*shot)->width;
            s.height = (*shot)->height;
            stills_.push_back(std::move(s));
        }
    }
    return {};
}

Result<void> PackageJob::writeTrack() {
    std::vector<recordings::RecordingTelemetry> recs;
    for (std::size_t i = 0; i < stretch_.segments.size(); ++i) {
        recordings::RecordingTelemetry r;
        r.name = fs::path(stretch_.segments[i].path).filename().string();
        r.track = telemetry_[i].track;
        r.firstRecord = telemetry_[i].firstRecord;
        r.endRecord = telemetry_[i].endRecord;
        recs.push_back(std::move(r));
    }
    std::string name = fs::path(stretch_.segments.front().path).filename().string();
    if (const auto start = stretch_.start(); start && stretch_.end())
        name = isoLocalTimeMs(*start) + " – " + isoLocalTimeMs(*stretch_.end());
    std::ostringstream gpx, kml;
    recordings::writeGpx(gpx, recs, name, rq_.unit);
    recordings::writeKml(kml, recs, name, rq_.unit);
    if (auto r = writeText("track.gpx", gpx.str()); !r)
        return r;
    return writeText("track.kml", kml.str());
}

Result<void> PackageJob::writeReport() {
    ReportContent content;
    content.language = rq_.language;
    content.manifest = &manifest_;
    content.stretch = &stretch_;
    content.facts = &facts_;
    content.stills = stills_;
    content.settings =
        cameraSettingRows(rq_.language, stills_, config_ ? &*config_ : nullptr,
                          manifest_.cameraSettings ? &*manifest_.cameraSettings : nullptr);
    auto rendered = renderReport(content);
    if (!rendered)
        return makeError(rendered.error());
    report_ = std::move(*rendered);
    return writeText(std::string(kReportName), report_.pdf);
}

Result<void> PackageJob::writeLists() {
    const std::string json = toJson(manifest_);
    if (auto r = platform::writeFileAtomic(staging_->file(kManifestName), json); !r)
        return r;
    std::vector<SumLine> lines;
    for (const OutputEntry& o : manifest_.outputs)
        lines.push_back({o.sha256, o.name});
    lines.push_back({platform::toHex(platform::sha256Of(json)), std::string(kManifestName)});
    return platform::writeFileAtomic(staging_->file(kSumsName), formatSums(lines));
}

Result<void> PackageJob::sourcesUnchanged() {
    for (std::size_t i = 0; i < manifest_.sources.size(); ++i) {
        const auto now = platform::stampOf(manifest_.sources[i].path);
        if (!now || *now != sourceStamps_[i])
            return makeError("'" + manifest_.sources[i].path +
                             "' changed while the package was made");
    }
    return {};
}

bool PackageJob::isSource(const fs::path& path) const {
    const auto stamp = platform::stampOf(path.string());
    return stamp && std::any_of(sourceStamps_.begin(), sourceStamps_.end(),
                                [&](const platform::FileStamp& s) {
                                    return s.device == stamp->device && s.inode == stamp->inode;
                                });
}

Result<void> PackageJob::moveIntoPlace() {
    // Everything on the disk first: the folder appears complete or not at all.
    for (const auto& entry : fs::directory_iterator(staging_->path())) {
        if (auto r = flushToDisk(entry.path(), false); !r)
            return r;
    }
    if (auto r = flushToDisk(staging_->path(), true); !r)
        return r;
    if (!targetHasFiles_) {
        // rename() puts a folder in the place of an empty one at once.
        if (::rename(staging_->path().c_str(), target_.c_str()) != 0)
            return makeError(
                "cannot create '" + target_.string() + "': " + platform::systemErrorText(errno),
                errno);
        staging_->release();
    } else {
        // The names an earlier package here made (its manifest says), read before it is
        // replaced; only those of them this package does not make are removed.
        std::set<std::string> earlier;
        if (auto text = platform::readFileLimited((target_ / kManifestName).string(), 16u << 20)) {
            if (auto old = parseManifest(*text)) {
                for (const OutputEntry& o : old->outputs)
                    earlier.insert(o.name);
            }
        }
        std::vector<fs::path> staged;
        for (const auto& entry : fs::directory_iterator(staging_->path()))
            staged.push_back(entry.path());
        // Never in the place of a recording the package was made from.
        for (const fs::path& file : staged) {
            const fs::path there = target_ / file.filename();
            if (isSource(there))
                return makeError(
                    "'" + there.string() +
                    "' is a recording the package is made from; choose another folder");
        }
        std::set<std::string> made;
        for (const fs::path& file : staged) {
            const std::string name = file.filename().string();
            if (::rename(file.c_str(), (target_ / name).c_str()) != 0)
                return makeError("cannot write '" + (target_ / name).string() +
                                     "': " + platform::systemErrorText(errno),
                                 errno);
            made.insert(name);
        }
        // Files an earlier package left that this one does not have would break its lists.
        for (const std::string& name : packageFileNames()) {
            std::error_code ec;
            if (earlier.count(name) && !made.count(name) && !isSource(target_ / name) &&
                fs::is_regular_file(fs::symlink_status(target_ / name, ec)))
                fs::remove(target_ / name, ec);
        }
    }
    if (auto r = flushToDisk(target_, true); !r)
        return r;
    return flushToDisk(target_.parent_path(), true);
}

Result<PackageResult> PackageJob::run() {
    auto stretch = resolveStretch(rq_.source, rq_.from, rq_.to);
    if (!stretch)
        return makeError(stretch.error());
    stretch_ = std::move(*stretch);
    if (auto r = checkTarget(); !r)
        return makeError(r.error());

    const StretchSegment& seg = stretch_.segments.front();
    partner_ = partnerFileOf(seg.path);
    layout_ = rq_.layout.value_or(partner_.empty() ? Layout::Given : Layout::SideBySide);
    if (layout_ == Layout::Given && !partner_.empty())
        layout_ = channelOf(seg.path) == "front" ? Layout::Front : Layout::Rear;

    auto staging = Staging::create(target_);
    if (!staging)
        return makeError(staging.error());
    staging_.emplace(std::move(*staging));

    manifest_.programName = rq_.programName;
    manifest_.programVersion = rq_.programVersion;
    manifest_.command = rq_.command;
    manifest_.created = nowUtc();
    manifest_.layout = std::string(exporting::layoutName(layout_));
    if (manifest_.layout.empty())
        manifest_.layout = channelOf(seg.path);
    manifest_.caption = rq_.caption;
    manifest_.speedUnit = rq_.unit ? std::string(recordings::speedUnitName(*rq_.unit)) : "";
    manifest_.language = rq_.language == Language::Korean ? "ko" : "en";
    manifest_.note = rq_.note;

    if (!progress(kHashSources, 0))
        return cancelledError();
    if (auto r = hashSources(); !r)
        return makeError(r.error());
    if (auto path = findConfig(rq_.source)) {
        // Parsed from the bytes hashed, so the settings shown are the ones the hash stands for.
        if (auto bytes = platform::readFileLimited(*path, device_config::kImageSize + 1)) {
            device_config::DeviceConfig parsed;
            const std::span<const std::uint8_t> image(
                reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
            if (parsed.assign(image)) {
                config_ = parsed;
                CameraSettingsEntry e;
                e.path = fs::absolute(*path).lexically_normal().string();
                e.sha256 = platform::toHex(platform::sha256Of(*bytes));
                for (const char* name :
                     {"frontQuality", "rearQuality", "gSensorEnabled", "driveImpactX",
                      "driveImpactY", "driveImpactZ", "parkImpactX", "parkImpactY", "parkImpactZ",
                      "speedUnit", "timeZoneIndex", "summerTime"}) {
                    if (const auto* f = device_config::findField(name))
                        e.values.emplace_back(
                            name, std::to_string(device_config::fieldValue(parsed, *f)));
                }
                manifest_.cameraSettings = std::move(e);
            }
        }
    }

    auto telemetry = readStretchTelemetry(stretch_);
    if (!telemetry)
        return makeError(telemetry.error());
    telemetry_ = std::move(*telemetry);
    const trips::ImpactThresholds thresholds =
        config_ ? trips::impactThresholdsOf(*config_) : trips::ImpactThresholds{};
    facts_ = factsOf(stretch_, telemetry_, thresholds, rq_.unit);

    const auto latLon = [](const std::optional<recordings::GeoPosition>& p) {
        return p ? std::optional<LatLon>(LatLon{p->latitude.value(), p->longitude.value()})
                 : std::nullopt;
    };
    manifest_.facts.startPosition = latLon(facts_.startPosition);
    manifest_.facts.endPosition = latLon(facts_.endPosition);
    manifest_.facts.distanceKm = facts_.distanceKm;
    manifest_.facts.topSpeed = facts_.topSpeed;
    manifest_.facts.speedUnit = std::string(recordings::speedUnitName(facts_.unit));
    for (const ImpactFact& i : facts_.impacts) {
        ManifestImpact e;
        e.time = i.local ? isoLocalTimeMs(*i.local) : "";
        e.recording = fs::absolute(stretch_.segments[i.segment].path).lexically_normal().string();
        e.offsetSeconds = i.offsetSeconds;
        e.changeX = i.peak.departureG[0];
        e.changeY = i.peak.departureG[1];
        e.changeZ = i.peak.departureG[2];
        e.strength = i.peak.strength;
        manifest_.facts.impacts.push_back(std::move(e));
    }

    manifest_.range.source = fs::absolute(rq_.source).lexically_normal().string();
    manifest_.range.from = rq_.from;
    manifest_.range.to = rq_.to;
    manifest_.range.start = stretch_.start() ? isoLocalTimeMs(*stretch_.start()) : "";
    manifest_.range.end = stretch_.end() ? isoLocalTimeMs(*stretch_.end()) : "";
    manifest_.range.startUtc =
        facts_.startUtc ? recordings::isoTime(*facts_.startUtc).value_or("") : "";
    manifest_.range.endUtc = facts_.endUtc ? recordings::isoTime(*facts_.endUtc).value_or("") : "";
    manifest_.range.durationSeconds = stretch_.durationSeconds();
    for (const StretchSegment& s : stretch_.segments)
        manifest_.range.segments.push_back(
            {fs::absolute(s.path).lexically_normal().string(), s.fromSeconds, s.toSeconds});

    if (!progress(kClips, 0))
        return cancelledError();
    if (auto r = makeClips(); !r)
        return makeError(r.error());
    if (auto r = takeStills(); !r)
        return makeError(r.error());
    if (!progress(kTrack, 0))
        return cancelledError();
    if (auto r = writeTrack(); !r)
        return makeError(r.error());
    if (auto r = writeReport(); !r)
        return makeError(r.error());
    if (!progress(kFinish, 0))
        return cancelledError();
    if (auto r = writeLists(); !r)
        return makeError(r.error());
    if (auto r = sourcesUnchanged(); !r)
        return makeError(r.error());
    if (auto r = moveIntoPlace(); !r)
        return makeError(r.error());
    progress(kFinish, 1);

    PackageResult result;
    result.folder = target_.string();
    result.manifest = std::move(manifest_);
    result.reportPages = report_.pages;
    result.reportBytes = report_.pdf.size();
    return result;
}

}  // namespace

std::string_view stageName(PackageStage stage) {
    switch (stage) {
        case PackageStage::HashingSources:
            return "hashing the source recordings";
        case PackageStage::MakingClips:
            return "making the clip";
        case PackageStage::TakingStills:
            return "taking the stills";
        case PackageStage::WritingReport:
            return "writing the track and the report";
        case PackageStage::Finishing:
            return "hashing and flushing the package";
    }
    return {};
}

const std::vector<std::string>& packageFileNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n{"clip.mp4", "clip-front.mp4", "clip-rear.mp4"};
        for (const char* moment : {"start", "impact", "end"}) {
            for (const char* channel : {"front", "rear"})
                n.push_back(std::string("still-") + moment + "-" + channel + ".jpg");
        }
        for (const char* other : {"track.gpx", "track.kml"})
            n.emplace_back(other);
        n.emplace_back(kReportName);
        n.emplace_back(kManifestName);
        n.emplace_back(kSumsName);
        return n;
    }();
    return names;
}

Result<PackageResult> buildPackage(const PackageRequest& request) {
    PackageJob job(request);
    return job.run();
}

}  // namespace orvik::evidence
