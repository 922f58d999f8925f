#!/usr/bin/env bash
# Trip finder against orvik-cli list, on the same generated card of 2 000 one-minute recordings
# (1 000 front/rear moments), in one run:
#   orvik-cli trips, first run (empty cache: every front recording's telemetry is read)
#   orvik-cli trips, cached run (the summary cache answers; target <= 2x list)
#   orvik-cli list
# Times are medians of several runs with a warm page cache, wall clock and CPU (user + system;
# steadier when the machine is busy).
set -euo pipefail
source "$(dirname "$0")/../common.sh" trips
bench_build bench_trips orvik-cli
bench=$build/bench/trips/bench_trips
cli=$build/src/cli/orvik-cli
runs=${ORVIK_BENCH_RUNS:-7}
count=${ORVIK_BENCH_RECORDINGS:-2000}

echo "== trips: $count recordings vs orvik-cli list"
"$bench" make-card "$work/card" "$count"
cache="$work/cache"
read -r list_ms _ list_cpu < <("$bench" run "$runs" -- "$cli" list "$work/card")
# First run: the cache is removed before every run.
read -r first_ms _ first_cpu < <("$bench" run "$runs" -- sh -c \
  'rm -rf "$1"; XDG_CACHE_HOME="$1" exec "$2" trips "$3"' sh "$cache" "$cli" "$work/card")
XDG_CACHE_HOME="$cache" "$cli" trips "$work/card" >/dev/null
read -r cached_ms _ cached_cpu < <(XDG_CACHE_HOME="$cache" "$bench" run "$runs" -- "$cli" trips "$work/card")
trips=$(XDG_CACHE_HOME="$cache" "$cli" trips "$work/card" --json | grep -c '"start"' || true)
echo "  $count recordings, $trips trips"
echo "  wall: list ${list_ms} ms | trips first run ${first_ms} ms: $(ratio "$first_ms" "$list_ms")x list | trips cached ${cached_ms} ms: $(ratio "$cached_ms" "$list_ms")x list (target <= 2x)"
echo "  CPU:  list ${list_cpu} ms | trips first run ${first_cpu} ms: $(ratio "$first_cpu" "$list_cpu")x list | trips cached ${cached_cpu} ms: $(ratio "$cached_cpu" "$list_cpu")x list"
