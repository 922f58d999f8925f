// Clips and snapshots in-process on the recordings named by the environment (run.sh makes them):
//   ORVIK_BENCH_FRONT  a 1080p front recording (its rear partner beside it, 540p)
// BM_ClipStreamCopy     60 s from 1 s on, stream copy; counter: times real time
// BM_ClipSideBySide     10 s side-by-side with caption; counter: frames per second
// BM_Snapshot/png|jpg   the frame at 30 s, from the call to the written file
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "export/export.h"

namespace {

using namespace orvik::exporting;
namespace fs = std::filesystem;

std::string front() {
    const char* f = std::getenv("ORVIK_BENCH_FRONT");
    return f ? f : "";
}

std::string scratch(const char* name) {
    const char* dir = std::getenv("ORVIK_BENCH_OUT");
    return (fs::path(dir ? dir : fs::temp_directory_path().string()) / name).string();
}

void BM_ClipStreamCopy(benchmark::State& state) {
    if (front().empty()) {
        state.SkipWithError("ORVIK_BENCH_FRONT not set");
        return;
    }
    ClipRequest rq;
    rq.input = front();
    rq.fromSeconds = 1;
    rq.toSeconds = 61;
    rq.output = scratch("bench-copy.mp4");
    rq.force = true;
    for (auto _ : state) {
        auto r = exportClip(rq);
        if (!r) {
            state.SkipWithError(r.error().c_str());
            return;
        }
    }
    state.counters["x_real_time"] = benchmark::Counter(
        60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClipStreamCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClipSideBySide(benchmark::State& state) {
    if (front().empty()) {
        state.SkipWithError("ORVIK_BENCH_FRONT not set");
        return;
    }
    ClipRequest rq;
    rq.input = front();
    rq.fromSeconds = 1;
    rq.toSeconds = 11;
    rq.output = scratch("bench-sbs.mp4");
    rq.layout = Layout::SideBySide;
    rq.caption = true;
    rq.force = true;
    std::int64_t frames = 0;
    for (auto _ : state) {
        auto r = exportClip(rq);
        if (!r) {
            state.SkipWithError(r.error().c_str());
            return;
        }
        frames += r->frames;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClipSideBySide)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_Snapshot(benchmark::State& state, const char* name) {
    if (front().empty()) {
        state.SkipWithError("ORVIK_BENCH_FRONT not set");
        return;
    }
    SnapshotRequest rq;
    rq.input = front();
    rq.atSeconds = 30.5;
    rq.output = scratch(name);
    rq.force = true;
    for (auto _ : state) {
        auto r = exportSnapshot(rq);
        if (!r) {
            state.SkipWithError(r.error().c_str());
            return;
        }
    }
}
BENCHMARK_CAPTURE(BM_Snapshot, png, "bench-snapshot.png")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Snapshot, jpg, "bench-snapshot.jpg")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
