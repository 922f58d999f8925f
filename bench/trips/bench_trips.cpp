// Benchmarks of the trip finder, and the helpers run.sh needs to compare it with orvik-cli list
// on the same card:
//   bench_trips make-card DIR RECORDINGS   a card of RECORDINGS one-minute recordings (front and
//                                          rear pairs, Park and Event ones among them) with
//                                          telemetry; the media data are holes
//   bench_trips run N -- CMD...            runs CMD N times (stdout to /dev/null), prints
//                                          "median_wall_ms median_cpu_ms"
//   bench_trips [benchmark options]        the Google Benchmark cases over ORVIK_BENCH_CARD
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include "command_timer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "recordings/catalogue.h"
#include "recordings/synthetic_recording.h"  // the test image builder, from tests/
#include "trips/trips.h"

namespace {

using namespace orvik;
using recordings::testing::RecordingImage;
namespace fs = std::filesystem;

constexpr std::uint32_t kMediaBytes = 1u << 20;  // a second of video, left as a hole
constexpr int kSeconds = 60;

bool writeAt(int fd, std::uint64_t offset, const void* data, std::size_t n) {
    return ::pwrite(fd, data, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

// One minute as the camera writes it: ftyp, a movie box stating 60 s, sixty fragments of a
// megabyte each ending in eleven telemetry records of a car driving north at 50 km/h.
bool writeMinute(const fs::path& path, std::uint32_t& counter) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    // moov holding one mvhd: version and flags, creation and modification times, a time scale of
    // 1000 and a duration of a minute; the rest zero. Bytes, not strings built of pieces: GCC 12
    // warns about std::string's own code when such a chain is inlined at -O3.
    std::array<unsigned char, 8 + 8 + 100> moov{};
    platform::storeBe32(moov, 0, moov.size());
    std::memcpy(&moov[4], "moov", 4);
    platform::storeBe32(moov, 8, 8 + 100);
    std::memcpy(&moov[12], "mvhd", 4);
    platform::storeBe32(moov, 28, 1000);
    platform::storeBe32(moov, 32, kSeconds * 1000);
    RecordingImage head;
    head.ftyp().raw(std::string_view(reinterpret_cast<const char*>(moov.data()), moov.size()));
    bool ok = writeAt(fd, 0, head.bytes().data(), head.size());
    std::uint64_t o = head.size();
    for (int f = 0; f < kSeconds && ok; ++f) {
        std::vector<std::optional<recordings::TelemetryRecord>> slots;
        for (int s = 0; s < 11; ++s) {
            auto r = RecordingImage::record(counter++);
            r.speed = 50;
            r.latitude = recordings::NmeaAngle(3700.0 + 0.0025 * (counter % 100000));
            r.accelX = 0;
            r.accelY = 0;
            r.accelZ = 256 + (counter % 997 == 0 ? 300 : 0);  // an impact now and then
            slots.push_back(r);
        }
        RecordingImage frag;
        frag.fragment(slots);
        auto& b = frag.bytes();  // moof (24) + mdat header (8) + payload (100) + area
        const std::uint32_t mdat = 8 + kMediaBytes + recordings::kTelemetryAreaSize;
        platform::storeBe32(b, 24, mdat);
        ok = writeAt(fd, o, b.data(), 32) &&
             writeAt(fd, o + 24 + mdat - recordings::kTelemetryAreaSize,
                     b.data() + b.size() - recordings::kTelemetryAreaSize,
                     recordings::kTelemetryAreaSize);
        o += 24 + mdat;
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(o)) == 0;
    return ::close(fd) == 0 && ok;
}

// A day of driving in DCIM folders of 500 files: trips of 40 moments with a pause between
// them, each moment a front/rear pair; every 25th moment is an Event, every 40th pause filled
// with Park recordings.
int makeCard(const std::string& dir, long count) {
    using namespace std::chrono;
    sys_seconds t = sys_days{year{2026} / 3 / 14} + hours{6};
    std::uint32_t counter = 0;
    long made = 0;
    for (long moment = 0; made < count; ++moment) {
        const bool event = moment % 25 == 24;
        const bool park = moment % 40 == 39;
        const char* prefix = park ? "motion_" : event ? "event_" : "alwa_";
        const auto day = floor<days>(t);
        const year_month_day ymd{day};
        const hh_mm_ss hms{t - day};
        for (char channel : {'F', 'R'}) {
            if (made >= count)
                break;
            char folder[32];
            std::snprintf(folder, sizeof folder, "1%ld", static_cast<long>(made / 500));
            const fs::path sub = fs::path(dir) / "DCIM" / folder;
            fs::create_directories(sub);
            char name[64];
            std::snprintf(name, sizeof name, "%s%04d%02u%02u_%02ld%02ld%02ld_%c.mp4", prefix,
                          int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()),
                          static_cast<long>(hms.hours().count()),
                          static_cast<long>(hms.minutes().count()),
                          static_cast<long>(hms.seconds().count()), channel);
            if (!writeMinute(sub / name, counter))
                return 1;
            ++made;
        }
        t += seconds(park ? 600 : kSeconds);
    }
    return 0;
}

std::string card() {
    const char* v = std::getenv("ORVIK_BENCH_CARD");
    return v ? v : "";
}

void BM_List(benchmark::State& state) {
    const std::string dir = card();
    if (dir.empty())
        return state.SkipWithError("set ORVIK_BENCH_CARD to a card made by make-card");
    for (auto _ : state) {
        auto rows = recordings::catalogueFolder(dir);
        benchmark::DoNotOptimize(rows.ok());
    }
}
BENCHMARK(BM_List)->Unit(benchmark::kMillisecond);

void BM_TripsFirstRun(benchmark::State& state) {
    const std::string dir = card();
    if (dir.empty())
        return state.SkipWithError("set ORVIK_BENCH_CARD to a card made by make-card");
    trips::TripOptions options;  // no cache folder: every recording is read
    std::size_t count = 0;
    for (auto _ : state) {
        auto t = trips::findTrips(dir, options);
        count = t.ok() ? t->size() : 0;
    }
    state.counters["trips"] = static_cast<double>(count);
}
BENCHMARK(BM_TripsFirstRun)->Unit(benchmark::kMillisecond);

void BM_TripsCachedRun(benchmark::State& state) {
    const std::string dir = card();
    if (dir.empty())
        return state.SkipWithError("set ORVIK_BENCH_CARD to a card made by make-card");
    const fs::path cache =
        fs::temp_directory_path() / ("orvik-bench-cache-" + std::to_string(::getpid()));
    trips::TripOptions options;
    options.cacheFolder = cache;
    (void)trips::findTrips(dir, options);  // fills the cache
    for (auto _ : state) {
        auto t = trips::findTrips(dir, options);
        benchmark::DoNotOptimize(t.ok());
    }
    std::error_code ec;
    fs::remove_all(cache, ec);
}
BENCHMARK(BM_TripsCachedRun)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2) {
        const std::string mode = argv[1];
        if (mode == "make-card" && argc == 4)
            return makeCard(argv[2], std::atol(argv[3]));
        if (mode == "run")
            return orvik::bench::timeCommandMain(argc, argv, 2);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
