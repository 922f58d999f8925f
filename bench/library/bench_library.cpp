// Benchmarks of the library, and the helpers run.sh needs:
//   bench_library make-card DIR MEGABYTES      a card folder of recordings of 64 MB (random
//                                              bytes: nothing to compress, nothing to skip)
//   bench_library make-index DIR RECORDINGS N  a library index of RECORDINGS one-minute
//                                              recordings with N positions each, over three years
//                                              of driving around one city
//   bench_library run N -- CMD...              runs CMD N times, prints "median_wall_ms …"
//   bench_library [benchmark options]          searches in-process over ORVIK_BENCH_LIBRARY
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "command_timer.h"
#include "library/index.h"
#include "library/search.h"

namespace {

using namespace orvik;
namespace fs = std::filesystem;

int makeCard(const fs::path& dir, long megabytes) {
    fs::create_directories(dir / "Always");
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    const long files = (megabytes + 63) / 64;
    for (long f = 0; f < files; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "alwa_20250503_%02ld%02ld00_%c.mp4", 8 + f / 120,
                      f / 2 % 60, f % 2 ? 'R' : 'F');
        std::ofstream out(dir / "Always" / name, std::ios::binary);
        for (int mb = 0; mb < 64; ++mb) {
            for (auto& word : block)
                word = random();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * sizeof block[0]));
        }
        if (!out)
            return 1;
    }
    return 0;
}

int makeIndex(const fs::path& dir, long recordings, int positions) {
    fs::create_directories(dir);
    auto index = library::LibraryIndex::open(dir.string(), library::LibraryIndex::Check::Quick);
    if (!index) {
        std::fprintf(stderr, "%s\n", index.error().c_str());
        return 1;
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::int64_t first = *library::parseSearchTime("2023-01-01", false);
    std::vector<library::IndexedRecording> batch;
    // Drives of twenty minutes that wander through a city of 40 × 40 km.
    double lat = 37.55, lon = 127.0;
    std::int64_t start = first;
    for (long i = 0; i < recordings; ++i) {
        if (i % 20 == 0) {
            start += 3600 * 8 + static_cast<std::int64_t>(unit(random) * 3600 * 8);
            lat = 37.37 + unit(random) * 0.36;
            lon = 126.77 + unit(random) * 0.46;
        } else {
            start += 60;
        }
        library::IndexedRecording r;
        const double k = unit(random);
        r.kind = k < 0.7    ? recordings::RecordingKind::Always
                 : k < 0.85 ? recordings::RecordingKind::Event
                 : k < 0.95 ? recordings::RecordingKind::User
                            : recordings::RecordingKind::Park;
        r.name = std::string(library::kindWord(r.kind)) + "_" + std::to_string(i) + "_F.mp4";
        r.path = library::localTimeText(start).substr(0, 10) + "/" + r.name;
        r.channel = "F";
        r.startSeconds = start;
        r.durationSeconds = 60;
        r.sha256 = std::string(64, 'a');
        const double heading = unit(random) * 6.283;
        for (int p = 0; p < positions; ++p) {
            const double kmh = 20 + unit(random) * 90;
            lat += std::cos(heading) * kmh / 3.6 / 111'000;
            lon += std::sin(heading) * kmh / 3.6 / 88'000;
            r.positions.push_back({static_cast<double>(p), lat, lon, kmh});
            r.maxSpeedKmh = std::max(r.maxSpeedKmh, kmh);
        }
        batch.push_back(std::move(r));
        if (batch.size() == 5000) {
            index->put(batch);
            batch.clear();
        }
    }
    index->put(batch);
    return 0;
}

std::optional<library::LibraryIndex>& benchIndex() {
    static std::optional<library::LibraryIndex> index = [] {
        std::optional<library::LibraryIndex> out;
        const char* dir = std::getenv("ORVIK_BENCH_LIBRARY");
        if (!dir)
            return out;
        if (auto opened = library::LibraryIndex::open(dir, library::LibraryIndex::Check::Quick))
            out.emplace(std::move(*opened));
        return out;
    }();
    return index;
}

void runQuery(benchmark::State& state, const library::SearchQuery& q) {
    auto& index = benchIndex();
    if (!index) {
        state.SkipWithError("ORVIK_BENCH_LIBRARY names no library");
        return;
    }
    std::size_t hits = 0;
    for (auto _ : state) {
        hits = library::search(*index, q).size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = static_cast<double>(hits);
}

void BM_SearchBox(benchmark::State& state) {
    library::SearchQuery q;
    q.box = library::GeoBox{37.548, 126.997, 37.552, 127.003};  // a junction, 450 × 500 m
    runQuery(state, q);
}
void BM_SearchNear(benchmark::State& state) {
    library::SearchQuery q;
    q.near = library::GeoCircle{37.55, 127.0, 250};
    runQuery(state, q);
}
void BM_SearchDay(benchmark::State& state) {
    library::SearchQuery q;
    q.from = library::parseSearchTime("2024-05-03", false);
    q.to = library::parseSearchTime("2024-05-03", true);
    runQuery(state, q);
}
void BM_SearchKindInAMonth(benchmark::State& state) {
    library::SearchQuery q;
    q.kind = recordings::RecordingKind::Event;
    q.from = library::parseSearchTime("2024-05-01", false);
    q.to = library::parseSearchTime("2024-05-31", true);
    runQuery(state, q);
}
BENCHMARK(BM_SearchBox)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchNear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchKindInAMonth)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0)
        return orvik::bench::timeCommandMain(argc, argv, 2);
    if (argc == 4 && std::strcmp(argv[1], "make-card") == 0)
        return makeCard(argv[2], std::atol(argv[3]));
    if (argc == 5 && std::strcmp(argv[1], "make-index") == 0)
        return makeIndex(argv[2], std::atol(argv[3]), std::atoi(argv[4]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
