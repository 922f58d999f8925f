#!/usr/bin/env bash
# The library against the tools people use without it, in one run:
#   orvik-cli library import of 2 GB of recordings from one local folder to another vs cp -r of
#     the same files (target <= 1.2x cp -r) and cp -r followed by sync (the import flushes every
#     file before it names it). The read-back runs while the next file is copied; its own time
#     is printed beside.
#   orvik-cli library search on an index of 100 000 one-minute recordings with 60 positions each
#     (generated once into the build folder): --bbox and --near (target <= 50 ms median), a day
#     and a kind in a month (target <= 20 ms); the command's wall time and the search alone.
# Times are medians of several runs (wall clock) on a shared machine.
set -euo pipefail
source "$(dirname "$0")/../common.sh" library
bench_build bench_library orvik-cli
bench=$build/bench/library/bench_library
cli=$build/src/cli/orvik-cli
runs=${ORVIK_BENCH_RUNS:-5}
mb=${ORVIK_BENCH_MEGABYTES:-2048}
recordings=${ORVIK_BENCH_RECORDINGS:-100000}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

echo "== library import: $mb MB of recordings, one local folder to another"
"$bench" make-card "$work/card" "$mb"
imports=() readbacks=() cps=() cpsyncs=()
for _ in $(seq "$runs"); do
  rm -rf "$work/library" "$work/cp"
  sync
  t0=$(now_ms)
  "$cli" library import "$work/card" --library "$work/library" --json >"$work/import.json"
  t1=$(now_ms)
  imports+=($(( t1 - t0 )))
  readback=$(python3 -c 'import json,sys; print(round(json.load(open(sys.argv[1]))["readBackSeconds"] * 1000))' "$work/import.json")
  readbacks+=("$readback")
  rm -rf "$work/library"
  sync
  t0=$(now_ms)
  cp -r "$work/card" "$work/cp"
  t1=$(now_ms)
  sync
  t2=$(now_ms)
  cps+=($(( t1 - t0 )))
  cpsyncs+=($(( t2 - t0 )))
  rm -rf "$work/cp"
done
import_ms=$(printf '%s\n' "${imports[@]}" | median)
readback_ms=$(printf '%s\n' "${readbacks[@]}" | median)
cp_ms=$(printf '%s\n' "${cps[@]}" | median)
cpsync_ms=$(printf '%s\n' "${cpsyncs[@]}" | median)
echo "  cp -r ${cp_ms} ms | import ${import_ms} ms: $(ratio "$import_ms" "$cp_ms")x cp -r (target <= 1.2x)"
echo "  cp -r then sync ${cpsync_ms} ms | import $(ratio "$import_ms" "$cpsync_ms")x (the import flushes every file before it names it)"
echo "  read-back ${readback_ms} ms (summed over the files; it runs while the next ones are copied)"
rm -rf "$work/card" "$work/library"

echo "== library search: $recordings recordings x 60 positions"
data=$build/bench-data/library/index-$recordings
if [ ! -f "$data/library.sqlite.complete" ]; then
  rm -rf "$data"
  t0=$(now_ms)
  "$bench" make-index "$data" "$recordings" 60
  touch "$data/library.sqlite.complete"
  echo "  index generated in $(( $(now_ms) - t0 )) ms, $(stat -c %s "$data/library.sqlite") bytes"
fi
search() {
  local label=$1 target=$2
  shift 2
  local hits wall
  hits=$("$cli" library search --library "$data" "$@" | tail -n 1)
  read -r wall _ < <("$bench" run "$runs" -- "$cli" library search --library "$data" "$@")
  echo "  $label: orvik-cli ${wall} ms (target <= $target ms), $hits"
}
search "--bbox (a junction, 450 x 500 m)" 50 --bbox 37.548,126.997,37.552,127.003
search "--near (250 m)" 50 --near 37.55,127.0 --radius 250
search "--from/--to (one day)" 20 --from 2024-05-03 --to 2024-05-03
search "--kind event (one month)" 20 --kind event --from 2024-05-01 --to 2024-05-31
echo "  the search alone, in the process (Google Benchmark):"
ORVIK_BENCH_LIBRARY=$data "$bench" --benchmark_repetitions="$runs" \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median' | sed 's/^/    /'
