#include "samplecard/sample_card.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "samplecard/file_output.h"

namespace orvik::tools {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

struct Planned {
    std::string relativePath;
    RecordingSpec spec;
    bool startsMoment = false;   // first file of a recording moment (its partner follows)
    bool restartsDrive = false;  // spec.drive is a fresh drive rather than the one going on
    // Set for files that are byte copies of an earlier recording.
    std::string copyOf;
    std::string text;  // for plain non-recording files
    bool isRecording = true;
};

int even(int v) {
    return std::max(16, v / 2 * 2);
}

}  // namespace

std::string recordingFileName(const std::string& prefix, UtcTime utc, char channel) {
    const auto day = floor<days>(utc);
    const year_month_day ymd{day};
    const hh_mm_ss tod{floor<seconds>(utc - day)};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%04d%02u%02u_%02d%02d%02d_%c.mp4", prefix.c_str(),
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(tod.hours().count()),
                  static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()),
                  channel);
    return buf;
}

const RecordingSummary* SampleCardSummary::find(const std::string& relativePath) const {
    for (const auto& r : recordings)
        if (r.relativePath == relativePath)
            return &r;
    return nullptr;
}

Result<SampleCardSummary> writeSampleCard(const std::string& dir, const SampleCardOptions& o) {
    if (o.alwaysPairs < 0 || o.alwaysPairs > 500)
        return makeError("count must be 0 to 500");
    if (!(o.durationSeconds > 0) || o.durationSeconds > 600)
        return makeError("duration must be above 0 and at most 600 seconds");

    RecordingSpec base;
    base.fps = o.fps;
    base.durationSeconds = o.durationSeconds;
    base.pattern = o.pattern;
    base.preset = o.preset;
    base.threads = o.threads;
    base.drive.rng = o.seed * 0x9E3779B97F4A7C15ULL + 1;
    const int frontW = even(o.width), frontH = even(o.height);
    const int rearW = even(o.width / 2), rearH = even(o.height / 2);
    // Name times step by whole seconds, so two recordings never share a name.
    const auto step = seconds{static_cast<long>(std::ceil(o.durationSeconds))};

    std::vector<Planned> plan;
    DriveState drive = base.drive;  // only its time (and after a restart, all of it) is used
    bool restart = true;
    // One recording moment: a front file and, unless `channels` says otherwise, its rear partner.
    // Both carry the same telemetry; the drive goes on from where the moment ends.
    auto moment = [&](const std::string& folder, const std::string& prefix, std::string channels,
                      DriveOptions options, auto&& tweak) {
        bool first = true;
        for (char c : channels) {
            Planned p;
            p.spec = base;
            p.spec.channel = c;
            p.spec.width = c == 'F' ? frontW : rearW;
            p.spec.height = c == 'F' ? frontH : rearH;
            p.spec.drive = drive;
            p.spec.driveOptions = options;
            p.startsMoment = first;
            p.restartsDrive = first && restart;
            tweak(p.spec);
            p.relativePath = folder + "/" + recordingFileName(prefix, drive.utc, c);
            plan.push_back(std::move(p));
            first = false;
        }
        restart = false;
        drive.utc += step;
    };
    auto none = [](RecordingSpec&) {};
    const int recordsPerSecond = static_cast<int>(kTelemetrySlotsPerFragment);
    const int middle = static_cast<int>(std::floor(o.durationSeconds / 2)) * recordsPerSecond + 4;

    DriveOptions gn;  // GPS + GLONASS receiver, km/h
    DriveOptions gns = gn;
    gns.receiver = GnssReceiver::GnssFix;
    DriveOptions gps = gn;
    gps.receiver = GnssReceiver::GpsOnly;

    for (int i = 0; i < o.alwaysPairs; ++i) {
        DriveOptions opt = gn;
        if (i == 0)
            opt.noFixRecords = 6;  // the receiver is still looking for satellites
        moment("Always", "alwa_", "FR", opt, none);
    }
    {
        DriveOptions opt = gn;
        opt.impactAtRecord = middle;
        moment("Event", "event_", "FR", opt, none);
    }
    {
        DriveOptions opt = gns;
        opt.impactAtRecord = middle;
        moment("Event", "evtA_", "FR", opt, none);
        moment("Event", "evtF_", "F", opt, none);
    }
    {
        DriveOptions opt = gps;
        opt.speedUnitCode = kSpeedUnitMph;
        opt.impactAtRecord = middle;
        moment("Event", "evtLL_", "FR", opt, none);
        moment("Event", "evtLR_", "R", opt, none);
    }
    {
        DriveOptions opt = gn;
        opt.speedUnitCode = kSpeedUnitMph;
        moment("User", "user_", "FR", opt, none);
        if (o.videoOnlyRecording)
            moment("User", "user_", "F", opt, [](RecordingSpec& s) { s.audio = false; });
    }
    if (o.corruptSlotsRecording) {
        DriveOptions opt = gn;
        opt.impactAtRecord = middle;
        moment("Event", "event_", "FR", opt, [](RecordingSpec& s) { s.corruptSlots = true; });
    }
    if (o.truncatedRecording)
        moment("Always", "alwa_", "FR", gn, [](RecordingSpec& s) { s.truncated = true; });
    {
        // Parked a little later: the motion sensor wakes the camera.
        drive.utc += minutes{2};
        DriveOptions opt = gn;
        opt.parked = true;
        opt.impactAtRecord = middle;
        moment("Parking", "motion_", "FR", opt, none);
    }
    const std::string firstFront = plan.front().relativePath;
    {
        // The evening before, in a nested folder, from an older GPS-only receiver.
        drive = base.drive;
        drive.utc -= hours{14};
        drive.latitude = 37.5013;
        drive.longitude = 127.0396;
        drive.headingDegrees = 300;
        restart = true;
        moment("Archive/2026/03-13", "alwa_", "FR", gps, none);
        // A hidden folder: its recordings must never be listed.
        moment(".trash", "alwa_", "F", gps, none);
    }
    auto copy = [&](const std::string& path) {
        Planned p;
        p.relativePath = path;
        p.copyOf = firstFront;
        plan.push_back(std::move(p));
    };
    copy("Misc/clip.mp4");                          // no kind prefix
    copy("Misc/a.mp4");                             // shorter than six characters
    copy("Misc/EVENT_20260314_081500_F.MP4");       // prefixes are case-sensitive
    copy("Misc/event_20261399_081500_F.mp4");       // a prefix with an impossible date
    copy("Misc/.alwa_20260314_081500_F.mp4");       // hidden file in a visible folder
    copy("Misc/x.mp4/user_20260314_091500_F.mp4");  // a folder whose name ends in .mp4
    copy("Misc/clip.mp4.bak");                      // not an mp4 file
    for (auto [path, text] :
         {std::pair{"Misc/notes.txt", "Sample card written by orvik-samplecard.\n"},
          std::pair{"Always/thumbs.db", "not a recording\n"}}) {
        Planned p;
        p.relativePath = path;
        p.text = text;
        p.isRecording = false;
        plan.push_back(std::move(p));
    }

    SampleCardSummary summary;
    summary.root = dir;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        return makeError("cannot create " + dir + ": " + ec.message());
    const int total = static_cast<int>(plan.size());
    DriveState going = base.drive;  // the drive as the last recording left it
    DriveState momentStart;
    for (int i = 0; i < total; ++i) {
        const Planned& p = plan[i];
        if (o.progress)
            o.progress(p.relativePath, i, total);
        const std::string path = (fs::path(dir) / p.relativePath).string();
        if (!p.isRecording) {
            const std::string& t = p.text;
            if (auto r = writeFileAtomically(
                    path, {reinterpret_cast<const std::uint8_t*>(t.data()), t.size()});
                !r)
                return makeError(r.error());
        } else if (!p.copyOf.empty()) {
            const RecordingSummary* source = summary.find(p.copyOf);
            std::ifstream in(source->path, std::ios::binary);
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail())
                return makeError("cannot read back " + source->path);
            if (auto r = writeFileAtomically(path, bytes); !r)
                return makeError(r.error());
            if (p.relativePath.ends_with(".mp4") || p.relativePath.ends_with(".MP4")) {
                RecordingSummary copied = *source;
                copied.path = path;
                copied.relativePath = p.relativePath;
                summary.recordings.push_back(std::move(copied));
            }
        } else {
            RecordingSpec spec = p.spec;
            if (p.startsMoment) {
                momentStart = p.restartsDrive ? p.spec.drive : going;
                momentStart.utc = p.spec.drive.utc;  // the file name's moment
                if (spec.driveOptions.parked)
                    momentStart.speedKmh = momentStart.targetKmh = 0;
            }
            spec.drive = momentStart;
            auto r = writeRecording(path, spec);
            if (!r)
                return makeError(r.error());
            r.value().relativePath = p.relativePath;
            going = r.value().driveEnd;
            summary.recordings.push_back(std::move(r.value()));
        }
        summary.files.push_back(p.relativePath);
    }
    return summary;
}

}  // namespace orvik::tools
