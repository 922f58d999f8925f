// Clips and snapshots in-process on the recordings named by the environment (run.sh makes them):
//   ORVIK_BENCH_FRONT  a 1080p front recording (its rear partner beside it, 540p)
// BM_ClipStreamCopy     60 s from 1 s on, stream copy; counter: times real time
// BM_ClipSideBySide     10 s side-by-side with caption; counter: frames per second
// BM_Snapshot/png|jpg   the frame at 30.5 s, from the call to the written file
// Every export writes a new file: replacing one waits for the disk, which is its own case.
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

// One export per iteration; the previous result is removed outside the timing. Returns the
// frames written in all, or -1 after reporting an error.
template <typename Request, typename Export>
std::int64_t runExports(benchmark::State& state, Request rq, const char* name, Export run) {
    if (front().empty()) {
        state.SkipWithError("ORVIK_BENCH_FRONT not set");
        return -1;
    }
    rq.input = front();
    rq.output = scratch(name);
    std::int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(rq.output);
        state.ResumeTiming();
        auto r = run(rq);
        if (!r) {
            state.SkipWithError(r.error().c_str());
            return -1;
        }
        if constexpr (requires { r->frames; })
            frames += r->frames;
    }
    return frames;
}

void BM_ClipStreamCopy(benchmark::State& state) {
    ClipRequest rq;
    rq.fromSeconds = 1;
    rq.toSeconds = 61;
    if (runExports(state, rq, "bench-copy.mp4", exportClip) < 0)
        return;
    state.counters["x_real_time"] = benchmark::Counter(
        60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClipStreamCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClipSideBySide(benchmark::State& state) {
    ClipRequest rq;
    rq.fromSeconds = 1;
    rq.toSeconds = 11;
    rq.layout = Layout::SideBySide;
    rq.caption = true;
    const std::int64_t frames = runExports(state, rq, "bench-sbs.mp4", exportClip);
    if (frames >= 0)
        state.counters["fps"] =
            benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClipSideBySide)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_Snapshot(benchmark::State& state, const char* name) {
    SnapshotRequest rq;
    rq.atSeconds = 30.5;
    runExports(state, rq, name, exportSnapshot);
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
