// How long a configuration save and load takes on the local disk, and what decoding a large
// driving-route file costs in time and memory.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "device_config/device_config.h"
#include "device_config/drive_route.h"

namespace dc = orvik::device_config;

// Heap accounting: live bytes and the peak since the last reset.
namespace {
std::atomic<std::size_t> gLive{0}, gPeak{0};
void resetPeak() {
    gPeak = gLive.load();
}
}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    std::size_t live = gLive += malloc_usable_size(p);
    std::size_t peak = gPeak.load();
    while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
    }
    return p;
}
void operator delete(void* p) noexcept {
    if (!p)
        return;
    gLive -= malloc_usable_size(p);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

std::string scratchDir() {
    const char* env = std::getenv("ORVIK_BENCH_DIR");  // put it on the medium you care about
    std::string base = env ? env : std::filesystem::current_path().string();
    std::string t = base + "/orvik-bench-XXXXXX";
    return ::mkdtemp(t.data());
}

void BM_ConfigSaveAndLoad(benchmark::State& state) {
    std::string dir = scratchDir();
    std::string path = dir + "/config_K7x7.bin";
    dc::DeviceConfig c;
    for (auto _ : state) {
        c.setFrontQuality(c.frontQuality() ^ 1);
        auto out = dc::writeConfigFile(path, c);
        if (!out.saved())
            state.SkipWithError(out.error.c_str());
        auto back = dc::readConfigFile(path);
        benchmark::DoNotOptimize(back);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ConfigSaveAndLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConfigImageOnly(benchmark::State& state) {
    dc::DeviceConfig c;
    for (auto _ : state) {
        auto bytes = c.finalizedBytes();
        dc::DeviceConfig back;
        benchmark::DoNotOptimize(back.assign(bytes));
    }
}
BENCHMARK(BM_ConfigImageOnly)->Unit(benchmark::kMicrosecond);

std::vector<std::uint8_t>& drvBytes() {
    static std::vector<std::uint8_t> bytes = dc::encodeDriveRoute(dc::makeSampleRoute(100000));
    return bytes;
}

void BM_DrvDecode100k(benchmark::State& state) {
    auto& bytes = drvBytes();
    std::size_t peak = 0;
    for (auto _ : state) {
        resetPeak();
        std::size_t before = gLive;
        auto file = dc::decodeDriveRoute(bytes);
        peak = gPeak - before;
        benchmark::DoNotOptimize(file);
    }
    state.counters["records"] = 100000;
    state.counters["heap_MB"] = peak / 1e6;
}
BENCHMARK(BM_DrvDecode100k)->Unit(benchmark::kMillisecond);

void BM_DrvReadFile100k(benchmark::State& state) {
    std::string dir = scratchDir();
    std::string path = dir + "/orvik_000.drv";
    dc::writeDriveRouteFile(path, dc::decodeDriveRoute(drvBytes())->records);
    for (auto _ : state) {
        auto file = dc::readDriveRouteFile(path);
        benchmark::DoNotOptimize(file);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DrvReadFile100k)->Unit(benchmark::kMillisecond);

void BM_DrvTextTable100k(benchmark::State& state) {
    auto records = dc::decodeDriveRoute(drvBytes())->records;
    std::size_t peak = 0;
    for (auto _ : state) {
        resetPeak();
        std::size_t before = gLive;
        auto rows = dc::buildDriveRouteTable(records);
        peak = gPeak - before;
        benchmark::DoNotOptimize(rows);
    }
    state.counters["heap_MB"] = peak / 1e6;
}
BENCHMARK(BM_DrvTextTable100k)->Unit(benchmark::kMillisecond);

void BM_DrvCsv100k(benchmark::State& state) {
    auto rows = dc::buildDriveRouteTable(dc::decodeDriveRoute(drvBytes())->records);
    std::size_t size = 0;
    for (auto _ : state) {
        auto csv = dc::driveRouteCsv(rows);
        size = csv.size();
        benchmark::DoNotOptimize(csv);
    }
    state.counters["csv_MB"] = size / 1e6;
}
BENCHMARK(BM_DrvCsv100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
