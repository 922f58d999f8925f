#!/usr/bin/env bash
# Trip finder against orvik-cli list, on the same generated card of 2 000 one-minute recordings
# (1 000 front/rear moments), in one run:
#   orvik-cli trips, first run (empty cache: every front recording's telemetry is read)
#   orvik-cli trips, cached run (the summary cache answers; target <= 2x list)
#   orvik-cli list
# Times are medians of several runs with a warm page cache, wall clock and CPU (user + system;
# steadier when the machine is busy).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
if [ ! -x "$build/bench/trips/bench_trips" ] || [ ! -x "$build/src/cli/orvik-cli" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j "${ORVIK_JOBS:-2}" --target bench_trips orvik-cli >/dev/null
fi
bench=$build/bench/trips/bench_trips
cli=$build/src/cli/orvik-cli
work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-bench-trips-XXXXXX")
trap 'rm -rf "$work"' EXIT
runs=${ORVIK_BENCH_RUNS:-7}
count=${ORVIK_BENCH_RECORDINGS:-2000}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }

echo "== trips: $count recordings vs orvik-cli list"
"$bench" make-card "$work/card" "$count"
cache="$work/cache"
read -r list_ms list_cpu < <("$bench" run "$runs" -- "$cli" list "$work/card")
# First run: the cache is removed before every run.
read -r first_ms first_cpu < <("$bench" run "$runs" -- sh -c \
  'rm -rf "$1"; XDG_CACHE_HOME="$1" exec "$2" trips "$3"' sh "$cache" "$cli" "$work/card")
XDG_CACHE_HOME="$cache" "$cli" trips "$work/card" >/dev/null
read -r cached_ms cached_cpu < <(XDG_CACHE_HOME="$cache" "$bench" run "$runs" -- "$cli" trips "$work/card")
trips=$(XDG_CACHE_HOME="$cache" "$cli" trips "$work/card" --json | grep -c '"start"' || true)
echo "  $count recordings, $trips trips"
echo "  wall: list ${list_ms} ms | trips first run ${first_ms} ms: $(ratio "$first_ms" "$list_ms")x list | trips cached ${cached_ms} ms: $(ratio "$cached_ms" "$list_ms")x list (target <= 2x)"
echo "  CPU:  list ${list_cpu} ms | trips first run ${first_cpu} ms: $(ratio "$first_cpu" "$list_cpu")x list | trips cached ${cached_cpu} ms: $(ratio "$cached_cpu" "$list_cpu")x list"
