// Benchmarks of the recordings core, and the helpers run.sh needs to compare them with the
// standard tools on the same data:
//   bench_recordings make-tree DIR COUNT        a card tree of COUNT names (empty files)
//   bench_recordings make-sparse FILE BYTES     a recording of BYTES with media data as holes
//   bench_recordings make-hour FILE RECORDS     a recording with RECORDS telemetry records
//   bench_recordings run [--cold] N -- CMD...   runs CMD N times (stdout to /dev/null), prints
//                                               "median_wall_ms max_rss_kb median_cpu_ms" (CPU
//                                               time is steadier on a busy machine); --cold drops
//                                               the page cache before each run (needs root)
//   bench_recordings [benchmark options]        the Google Benchmark cases; the scan and 2 GB
//                                               read cases use ORVIK_BENCH_TREE /
//                                               ORVIK_BENCH_SPARSE
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include "command_timer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recordings/catalogue.h"
#include "recordings/nmea.h"
#include "recordings/synthetic_recording.h"  // the test image builder, from tests/
#include "recordings/telemetry.h"

namespace {

using namespace orvik::recordings;
namespace fs = std::filesystem;

// A card as the camera fills it: a few folders of many recordings, front and rear, with some
// other files between them.
int makeTree(const std::string& dir, long count) {
    const char* prefixes[] = {"alwa_", "event_", "evtA_", "user_", "motion_"};
    long made = 0;
    for (int folder = 0; made < count; ++folder) {
        const fs::path sub = fs::path(dir) / "DCIM" / ("100_" + std::to_string(folder));
        fs::create_directories(sub);
        for (int i = 0; i < 1000 && made < count; ++i, ++made) {
            char name[64];
            if (i % 20 == 19) {
                std::snprintf(name, sizeof name, "thumb_%04d.jpg", i);
            } else {
                std::snprintf(name, sizeof name, "%s2024%02d%02d_%02d%02d%02d_%c.mp4",
                              prefixes[i % 5], 1 + folder % 12, 1 + i % 28, i / 60 % 24, i % 60,
                              (i * 7) % 60, i % 2 ? 'R' : 'F');
            }
            const int fd = ::open((sub / name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            if (fd < 0)
                return 1;
            ::close(fd);
        }
    }
    return 0;
}

bool writeAt(int fd, std::uint64_t offset, const void* data, std::size_t n) {
    return ::pwrite(fd, data, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

// Fragments of 8 MB media boxes; only headers and the telemetry areas are written, the media
// data stays a hole.
int makeSparse(const std::string& path, std::uint64_t bytes) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return 1;
    testing::RecordingImage head;
    head.ftyp().moov();
    if (!writeAt(fd, 0, head.bytes().data(), head.size()))
        return 1;
    std::uint64_t o = head.size();
    const std::uint32_t mediaSize = 8u << 20;
    std::uint32_t timestamp = 0;
    while (o + 24 + mediaSize <= bytes) {
        testing::RecordingImage frag;
        frag.fullFragment(timestamp);
        timestamp += 11;
        auto& b = frag.bytes();  // moof (24) + mdat header (8) + payload (100) + area
        const std::uint32_t be = __builtin_bswap32(mediaSize);
        std::memcpy(b.data() + 24, &be, 4);
        if (!writeAt(fd, o, b.data(), 32))
            return 1;
        if (!writeAt(fd, o + 24 + mediaSize - kTelemetryAreaSize,
                     b.data() + b.size() - kTelemetryAreaSize, kTelemetryAreaSize)) {
            return 1;
        }
        o += 24 + mediaSize;
    }
    if (::ftruncate(fd, static_cast<off_t>(o)) != 0)
        return 1;
    return ::close(fd) == 0 ? 0 : 1;
}

// RMC + GGA (+ GSA now and then) in every record, as a receiver sends them once a second.
int makeHour(const std::string& path, long records) {
    testing::RecordingImage image;
    image.ftyp().moov();
    std::vector<std::optional<TelemetryRecord>> slots;
    for (long i = 0; i < records; ++i) {
        const char* text = i % 4 == 0
                               ? "$GNRMC,081530.500,A,,,,,15.0,270.5,140621,,,A*00\n"
                                 "$GNGGA,081530,3733.4217,N,12651.8696,E,1,08,0.9,,,,,,*4F\n"
                               : "$GNGSA,A,3,03,07,19,22,,,,,,,,,1.8,0.9,1.5*00\n"
                                 "$GNGGA,081530,3733.4217,N,12651.8696,E,1,08,0.9,,,,,,*4F\n";
        slots.push_back(testing::RecordingImage::record(static_cast<std::uint32_t>(i), text));
        if (slots.size() == kTelemetrySlotsPerFragment || i + 1 == records) {
            image.fragment(slots, 4000);
            slots.clear();
        }
    }
    return image.writeTo(path) ? 0 : 1;
}

std::string envPath(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void BM_CatalogueScan(benchmark::State& state) {
    const std::string tree = envPath("ORVIK_BENCH_TREE");
    if (tree.empty())
        return state.SkipWithError("set ORVIK_BENCH_TREE to a tree made by make-tree");
    std::size_t rows = 0;
    for (auto _ : state) {
        auto r = catalogueFolder(tree);
        if (!r)
            return state.SkipWithError(r.error().c_str());
        rows = r->size();
        benchmark::DoNotOptimize(r->data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_CatalogueScan)->Unit(benchmark::kMillisecond);

void BM_TelemetryReadSparse(benchmark::State& state) {
    const std::string file = envPath("ORVIK_BENCH_SPARSE");
    if (file.empty())
        return state.SkipWithError("set ORVIK_BENCH_SPARSE to a file made by make-sparse");
    std::size_t records = 0;
    for (auto _ : state) {
        TelemetryTrack track;
        if (track.readRecording(file) != orvik::S_OK)
            return state.SkipWithError("read failed");
        records = track.size();
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_TelemetryReadSparse)->Unit(benchmark::kMillisecond);

void BM_NmeaSentences(benchmark::State& state) {
    const std::string_view sentences[] = {
        "$GPRMC,081530.500,A,3733.1200,N,12658.4400,E,15.0,270.5,140621,,,A*00",
        "$GNGGA,081530.50,3733.1200,N,12658.4400,E,1,08,0.9,30.0,M,18.0,M,,*4F",
        "$GNGSA,A,3,03,07,19,22,,,,,,,,,1.8,0.9,1.5*2C",
        "$GNGNS,081530.50,3733.1200,N,12658.4400,E,AA,14,0.8,30.0,18.0,,*55",
    };
    GpsFix fix;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeNmeaSentence(sentences[i++ & 3], fix));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_NmeaSentences);

void BM_RecordText(benchmark::State& state) {
    TelemetryRecord r = testing::RecordingImage::record(1);
    TelemetryTrack track;
    for (auto _ : state) {
        track.decodeRecordText(std::string_view(r.nmeaText.data(), r.nmeaText.size()));
        if (track.nmeaSnapshots().size() > 100000)
            track.reset();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2);  // sentences
}
BENCHMARK(BM_RecordText);

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2) {
        const std::string mode = argv[1];
        if (mode == "make-tree" && argc == 4)
            return makeTree(argv[2], std::atol(argv[3]));
        if (mode == "make-sparse" && argc == 4)
            return makeSparse(argv[2], std::strtoull(argv[3], nullptr, 10));
        if (mode == "make-hour" && argc == 4)
            return makeHour(argv[2], std::atol(argv[3]));
        if (mode == "run")
            return orvik::bench::timeCommandMain(argc, argv, 2);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
