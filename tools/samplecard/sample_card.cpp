#include "samplecard/sample_card.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "device_config/device_config.h"
#include "device_config/time_file.h"
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

// The demo's drive in Seoul: north on Gangnam-daero to Gangnam station, right into Teheran-ro
// and east along it towards Yeoksam and Seolleung.
constexpr std::array<std::array<double, 2>, 7> kDemoRoute{{{37.49620, 127.02832},
                                                           {37.49795, 127.02760},
                                                           {37.49880, 127.03030},
                                                           {37.49975, 127.03330},
                                                           {37.50067, 127.03643},
                                                           {37.50200, 127.04080},
                                                           {37.50449, 127.04894}}};

}  // namespace

SampleCardOptions demoCardOptions() {
    SampleCardOptions o;
    o.demo = true;
    o.alwaysPairs = 6;
    o.durationSeconds = 8.0;
    return o;
}

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

std::vector<device_config::DriveRouteRecord> makeDriveRoute(
    const std::vector<RecordingSummary>& recordings) {
    std::vector<const RecordingSummary*> moments;
    for (const auto& r : recordings) {
        const bool seen =
            std::any_of(moments.begin(), moments.end(),
                        [&](const RecordingSummary* m) { return m->start == r.start; });
        if (!seen && !r.slots.empty())
            moments.push_back(&r);
    }
    std::sort(
        moments.begin(), moments.end(),
        [](const RecordingSummary* a, const RecordingSummary* b) { return a->start < b->start; });

    std::vector<device_config::DriveRouteRecord> route;
    double odometerMetres = 18'250'000, tripMetres = 0;
    double lastLat = 0, lastLon = 0;
    for (const RecordingSummary* m : moments) {
        for (std::size_t f = 0; f * kTelemetrySlotsPerFragment < m->slots.size(); ++f) {
            const TelemetrySample& s = m->slots[f * kTelemetrySlotsPerFragment];
            const UtcTime t = m->start + seconds{f};
            const auto day = floor<days>(t);
            const year_month_day ymd{day};
            const hh_mm_ss tod{floor<seconds>(t - day)};
            device_config::DriveRouteRecord r;
            r.order = static_cast<std::uint16_t>(route.size() + 1);
            r.dayOfWeek = static_cast<std::uint8_t>(weekday{day}.c_encoding());
            const bool fix = s.latitude != 0.0;
            r.kind = fix ? 1 : 0;
            r.year = static_cast<std::uint8_t>(static_cast<int>(ymd.year()) - 1900);
            r.month = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month()));
            r.day = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day()));
            r.hour = static_cast<std::uint8_t>(tod.hours().count());
            r.minute = static_cast<std::uint8_t>(tod.minutes().count());
            r.second = static_cast<std::uint8_t>(tod.seconds().count());
            auto split = [](double ddmm, std::uint16_t& whole, std::uint16_t& frac) {
                const long tenThousandths = std::lround(ddmm * 10'000);
                whole = static_cast<std::uint16_t>(tenThousandths / 10'000);
                frac = static_cast<std::uint16_t>(tenThousandths % 10'000);
            };
            split(s.latitude, r.latitudeInt, r.latitudeFrac);
            split(s.longitude, r.longitudeInt, r.longitudeFrac);
            const double kmh = s.speedUnitCode == kSpeedUnitMph ? s.speed * 1.609344
                                                                : static_cast<double>(s.speed);
            if (fix) {
                auto degrees = [](double ddmm) {
                    return std::floor(ddmm / 100) + std::fmod(ddmm, 100) / 60;
                };
                const double lat = degrees(s.latitude), lon = degrees(s.longitude);
                if (lastLat != 0) {
                    const double dy = (lat - lastLat) * 111'320.0;
                    const double dx =
                        (lon - lastLon) * 111'320.0 * std::cos(lat * 3.14159265 / 180);
                    const double d = std::hypot(dx, dy);
                    if (d < 200)
                        tripMetres += d;  // no distance across a gap in the recordings
                }
                lastLat = lat;
                lastLon = lon;
            }
            r.gpsSpeed = static_cast<std::uint16_t>(std::lround(kmh));
            r.mileage = static_cast<std::uint32_t>(tripMetres / 10);  // hundredths of a kilometre
            r.vehicleSpeed = static_cast<std::int16_t>(std::lround(kmh));
            r.rpm = static_cast<std::int16_t>(kmh > 0 ? 800 + std::lround(kmh * 32) : 750);
            r.vehicleMileage = static_cast<std::int32_t>(odometerMetres + tripMetres);
            r.battery = static_cast<std::int16_t>(13'800 + (route.size() % 7) * 10);
            r.acceleratorPedal = static_cast<std::int16_t>(s.accelY > 10 ? 20 : 0);
            r.footBrake = s.accelY < -20 ? 1 : 0;
            r.gearPosition = kmh > 0 ? 4 : 1;  // D / P
            r.accelX = static_cast<std::int16_t>(s.accelX);
            r.accelY = static_cast<std::int16_t>(s.accelY);
            r.accelZ = static_cast<std::int16_t>(s.accelZ);
            route.push_back(r);
        }
    }
    return route;
}

std::string sampleCardStamp(const SampleCardOptions& o) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "orvik-samplecard 1\nsize %dx%d\nfps %d\nduration %.3f\ncount %d\nseed %llu\n"
                  "pattern %d\nvideo-only %d\ncorrupt-slots %d\ntruncated %d\ndevice-files %d\n"
                  "preset %s\ndemo %d\n",
                  o.width, o.height, o.fps, o.durationSeconds, o.alwaysPairs,
                  static_cast<unsigned long long>(o.seed), o.pattern, o.videoOnlyRecording,
                  o.corruptSlotsRecording, o.truncatedRecording, o.deviceFiles, o.preset.c_str(),
                  o.demo);
    return buf;
}

bool sampleCardUpToDate(const std::string& dir, const SampleCardOptions& options) {
    std::ifstream in(fs::path(dir) / kSampleCardStampName, std::ios::binary);
    if (!in)
        return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text == sampleCardStamp(options);
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
    base.road = o.demo;
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

    if (o.demo) {
        // One drive along the route, already under way; the fourth recording is an Event one.
        drive.latitude = kDemoRoute[0][0];
        drive.longitude = kDemoRoute[0][1];
        drive.headingDegrees = 342;
        drive.speedKmh = 28;
        drive.targetKmh = 42;
        drive.routeLeg = 1;
        base.drive = drive;
        for (int i = 0; i < o.alwaysPairs; ++i) {
            DriveOptions opt = gn;
            opt.route = kDemoRoute;
            if (i == 3) {
                opt.impactAtRecord = middle;
                moment("Event", "event_", "FR", opt, none);
            } else {
                moment("Always", "alwa_", "FR", opt, none);
            }
        }
    } else {
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
    }
    SampleCardSummary summary;
    summary.root = dir;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        return makeError("cannot create " + dir + ": " + ec.message());
    const int planned = static_cast<int>(plan.size());
    const int total = planned + (o.deviceFiles ? 3 : 0);
    DriveState going = base.drive;  // the drive as the last recording left it
    DriveState momentStart;
    for (int i = 0; i < planned; ++i) {
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

    if (o.deviceFiles) {
        auto saved = [&](const device_config::SaveOutcome& out,
                         const std::string& rel) -> Result<void> {
            if (o.progress)
                o.progress(rel, static_cast<int>(summary.files.size()), total);
            if (!out.saved())
                return makeError(out.error.empty() ? "cannot write " + rel : out.error);
            summary.files.push_back(rel);
            return {};
        };
        const std::string config(device_config::kConfigFileName);
        if (auto r = saved(device_config::writeConfigFile((fs::path(dir) / config).string(),
                                                          device_config::DeviceConfig{}),
                           config);
            !r)
            return makeError(r.error());
        // The clock the camera is to take: the morning of the drive.
        const std::string timeFile(device_config::kTimeFileName);
        if (auto r = saved(device_config::writeTimeFile((fs::path(dir) / timeFile).string(),
                                                        {2026, 3, 14, 8, 0, 0}),
                           timeFile);
            !r)
            return makeError(r.error());
        // Only the main drive: not the older archive or the hidden folder, not the copies.
        std::vector<RecordingSummary> driven;
        for (const auto& r : summary.recordings)
            if (!r.relativePath.starts_with("Archive/") && !r.relativePath.starts_with(".") &&
                !r.relativePath.starts_with("Misc/"))
                driven.push_back(r);
        summary.route = makeDriveRoute(driven);
        const std::string drv =
            std::string(device_config::kDrvFolder) + "/" + std::string(device_config::kDrvFileName);
        std::error_code mk;
        fs::create_directories(fs::path(dir) / device_config::kDrvFolder, mk);
        if (auto r = saved(
                device_config::writeDriveRouteFile((fs::path(dir) / drv).string(), summary.route),
                drv);
            !r)
            return makeError(r.error());
    }
    const std::string stamp = sampleCardStamp(o);
    if (auto r = writeFileAtomically(
            (fs::path(dir) / kSampleCardStampName).string(),
            {reinterpret_cast<const std::uint8_t*>(stamp.data()), stamp.size()});
        !r)
        return makeError(r.error());
    return summary;
}

}  // namespace orvik::tools
