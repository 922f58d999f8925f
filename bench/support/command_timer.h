#pragma once
// The `run` mode shared by the benchmark programs, so every run.sh times peer tools and our own
// command line the same way: `PROGRAM run [--cold] N -- COMMAND ARGS...` runs COMMAND N times
// (its standard output to /dev/null) and prints "median_wall_ms max_rss_kib median_cpu_ms".
// --cold drops the page cache before each run (root only).
namespace orvik::bench {

// argv[first] is the word after "run". Returns the exit status for main: 0, 1 when a run failed,
// 2 for bad usage.
int timeCommandMain(int argc, char** argv, int first);

}  // namespace orvik::bench
