// FormatFat32 on a fresh 32 GiB sparse image per iteration: hole-punched clearing (the default
// for images) and written zeros (what a card gets), plus the layout arithmetic alone.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "card_format/fat32_formatter.h"

namespace {
using namespace orvik::card_format;

std::string imagePath() {
    return (std::filesystem::temp_directory_path() /
            ("orvik-bench-" + std::to_string(::getpid()) + ".img"))
        .string();
}

void formatImage(benchmark::State& state, bool sparse, std::uint64_t bytes) {
    const std::string img = imagePath();
    std::ostringstream sink;
    FormatOptions o;
    o.out = &sink;
    o.err = &sink;
    o.volumeId = 0x12345678;
    o.sparseImages = sparse;
    std::uint64_t allocated = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(img.c_str());
        FILE* f = std::fopen(img.c_str(), "wb");
        if (!f || ::ftruncate(::fileno(f), static_cast<off_t>(bytes)) != 0)
            state.SkipWithError("no image");
        if (f)
            std::fclose(f);
        sink.str("");
        state.ResumeTiming();
        if (FormatFat32(img, {128, ""}, o) != 0)
            state.SkipWithError(sink.str().c_str());
        state.PauseTiming();
        struct stat st {};
        ::stat(img.c_str(), &st);
        allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
        state.ResumeTiming();
    }
    state.counters["allocated_bytes"] = static_cast<double>(allocated);
    std::remove(img.c_str());
}

void BM_Format32GiBSparse(benchmark::State& s) {
    formatImage(s, true, 32ull << 30);
}
void BM_Format32GiBZeros(benchmark::State& s) {
    formatImage(s, false, 32ull << 30);
}
void BM_Format128GiBZeros(benchmark::State& s) {
    formatImage(s, false, 128ull << 30);
}
void BM_PlanLayout(benchmark::State& s) {
    std::uint64_t bytes = 8ull << 30;
    for (auto _ : s) {
        benchmark::DoNotOptimize(planFat32(bytes, 512, 128));
        bytes += 512 * 1021;
    }
}

BENCHMARK(BM_Format32GiBSparse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format32GiBZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format128GiBZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanLayout);

}  // namespace

BENCHMARK_MAIN();
