#!/usr/bin/env bash
# Recordings benchmarks against the standard tools, on the same data, in one run:
#   start-up: orvik-cli list EMPTY, orvik-samplecard --help  vs  find EMPTY
#   catalogue scan of 20 000 names      vs  find DIR -name '*.mp4' [| sort]  (warm and cold cache)
#   orvik-cli format of a 32 GiB image  vs  mkfs.fat -F 32 -s 128
#   telemetry read of a 2 GB recording  vs  cat FILE > /dev/null        (media data as holes)
#   NMEA decoding                           sentences per second on one core
#   orvik-cli telemetry --json              peak RSS on a one-hour (40 000 record) recording
# Times are medians of several runs, wall clock and CPU (user + system; steadier when the
# machine is busy). Cold-cache runs drop the page cache and need root; without it they are
# reported as skipped.
set -euo pipefail
source "$(dirname "$0")/../common.sh" recordings
bench_build bench_recordings orvik-cli orvik-samplecard
bench=$build/bench/recordings/bench_recordings
cli=$build/src/cli/orvik-cli
samplecard=$build/tools/orvik-samplecard
runs=${ORVIK_BENCH_RUNS:-9}

# Google Benchmark case -> "real_ms cpu_ms"
gbench() {
  "$bench" --benchmark_filter="^$1\$" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null | awk -F, -v n="\"$1_median\"" '$1 == n { print $3, $4 }'
}

echo "== start-up: a command that needs no media library loads none"
mkdir -p "$work/empty"
startup_runs=$((runs * 3))
read -r efind_ms _ < <("$bench" run "$startup_runs" -- find "$work/empty")
read -r elist_ms _ < <("$bench" run "$startup_runs" -- "$cli" list "$work/empty")
read -r help_ms _ < <("$bench" run "$startup_runs" -- "$samplecard" --help)
echo "  find EMPTY ${efind_ms} ms | orvik-cli list EMPTY ${elist_ms} ms: $(ratio "$elist_ms" "$efind_ms")x find (target <= 3x)"
echo "  orvik-samplecard --help ${help_ms} ms: $(ratio "$help_ms" "$efind_ms")x find EMPTY (target <= 3x)"
echo "  shared libraries: orvik-cli $(ldd "$cli" | wc -l), orvik-samplecard $(ldd "$samplecard" | wc -l)"

echo "== recordings: catalogue scan (20 000 names)"
"$bench" make-tree "$work/card" 20000
matches=$(find "$work/card" -name '*.mp4' | wc -l)
read -r find_ms _ find_cpu < <("$bench" run "$runs" -- find "$work/card" -name '*.mp4')
read -r sort_ms _ sort_cpu < <("$bench" run "$runs" -- sh -c 'find "$1" -name "*.mp4" | sort' sh "$work/card")
read -r list_ms _ list_cpu < <("$bench" run "$runs" -- "$cli" list "$work/card")
read -r scan_ms scan_cpu < <(ORVIK_BENCH_TREE="$work/card" gbench BM_CatalogueScan)
echo "  20000 names, $matches recordings"
echo "  warm, wall: find ${find_ms} ms | find | sort ${sort_ms} ms | catalogue (scan, classify, sort) ${scan_ms} ms: $(ratio "$scan_ms" "$find_ms")x find | orvik-cli list ${list_ms} ms: $(ratio "$list_ms" "$find_ms")x find, $(ratio "$list_ms" "$sort_ms")x find | sort (target <= 1.2x)"
echo "  warm, CPU:  find ${find_cpu} ms | find | sort ${sort_cpu} ms | catalogue ${scan_cpu} ms: $(ratio "$scan_cpu" "$find_cpu")x find | orvik-cli list ${list_cpu} ms: $(ratio "$list_cpu" "$find_cpu")x find, $(ratio "$list_cpu" "$sort_cpu")x find | sort"
if cold_find=$("$bench" run --cold 3 -- find "$work/card" -name '*.mp4' 2>/dev/null); then
  read -r cf_ms _ cf_cpu <<<"$cold_find"
  read -r cl_ms _ cl_cpu < <("$bench" run --cold 3 -- "$cli" list "$work/card")
  echo "  cold, wall: find ${cf_ms} ms | orvik-cli list ${cl_ms} ms: $(ratio "$cl_ms" "$cf_ms")x find"
  echo "  cold, CPU:  find ${cf_cpu} ms | orvik-cli list ${cl_cpu} ms: $(ratio "$cl_cpu" "$cf_cpu")x find"
else
  echo "  cold: skipped (cannot drop the page cache without root)"
fi
rm -rf "$work/card"

echo "== recordings: telemetry read of a 2 GB recording"
# Past 2^31 bytes, so offsets beyond 31 bits are read too.
"$bench" make-sparse "$work/sparse.mp4" 2215000000
size=$(stat -c %s "$work/sparse.mp4")
read -r cat_ms _ cat_cpu < <("$bench" run 3 -- sh -c 'cat "$1" > /dev/null' sh "$work/sparse.mp4")
read -r tel_ms _ tel_cpu < <("$bench" run "$runs" -- "$cli" telemetry "$work/sparse.mp4")
read -r read_ms read_cpu < <(ORVIK_BENCH_SPARSE="$work/sparse.mp4" gbench BM_TelemetryReadSparse)
records=$("$cli" telemetry "$work/sparse.mp4" | awk '/^records:/ { print $2 }')
echo "  $size bytes, $records records"
echo "  wall: cat ${cat_ms} ms | telemetry reader ${read_ms} ms: cat takes $(ratio "$cat_ms" "$read_ms")x as long (target >= 100x) | orvik-cli telemetry ${tel_ms} ms: cat takes $(ratio "$cat_ms" "$tel_ms")x as long (target >= 2x)"
echo "  CPU:  cat ${cat_cpu} ms | telemetry reader ${read_cpu} ms | orvik-cli telemetry ${tel_cpu} ms"
rm -f "$work/sparse.mp4"

echo "== card format: a 32 GiB image (both label it ORVIK, 64 KiB clusters)"
mkfs=$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)
if [ -x "$mkfs" ]; then
  fresh() { rm -f "$work/card.img"; truncate -s $((32 * 1024 * 1024 * 1024)) "$work/card.img"; }
  : >"$work/ours.t"; : >"$work/peer.t"
  # Interleaved, each on a fresh sparse image, so both see the same machine load.
  for ((i = 0; i < runs; i++)); do
    fresh
    "$bench" run 1 -- "$cli" format --yes --no-remount --volume-id 12345678 "$work/card.img" | cut -d' ' -f1 >>"$work/ours.t"
    fresh
    "$bench" run 1 -- "$mkfs" -F 32 -s 128 -n ORVIK -i 12345678 "$work/card.img" | cut -d' ' -f1 >>"$work/peer.t"
  done
  rm -f "$work/card.img"
  med() { sort -n "$1" | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
  ours=$(med "$work/ours.t") peer=$(med "$work/peer.t")
  echo "  mkfs.fat -F 32 -s 128 ${peer} ms | orvik-cli format ${ours} ms: $(ratio "$ours" "$peer")x (target <= 1.0x)"
else
  echo "  skipped: mkfs.fat is missing (dosfstools)"
fi

echo "== recordings: NMEA decoding (one core)"
"$bench" --benchmark_filter='BM_NmeaSentences|BM_RecordText' --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"BM_/ { gsub(/"/, "", $1); printf "  %s: %.2f million sentences/s (target >= 5)\n", $1, $7 / 1e6 }'

echo "== recordings: peak memory of orvik-cli telemetry --json, one hour of telemetry"
"$bench" make-hour "$work/hour.mp4" 40000
read -r json_ms rss_kb json_cpu < <("$bench" run 3 -- "$cli" telemetry "$work/hour.mp4" --json)
echo "  40000 records: ${json_ms} ms wall, ${json_cpu} ms CPU, peak RSS $(awk -v k="$rss_kb" 'BEGIN { printf "%.1f", k / 1024 }') MB (target < 30 MB)"
