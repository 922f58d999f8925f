#!/usr/bin/env bash
# An evidence package of a 30-s stretch of a 1080p front / 540p rear pair, with the clip stream
# copied (--layout front), against making that clip alone, in one run:
#   orvik-cli evidence --layout front   vs   orvik-cli clip   (target: <= the clip + 1.5 s)
# The package also hashes both recordings, takes six stills, writes the track, the report and
# the lists, and flushes every file to the disk before it says done; the clip alone does not
# wait for the disk on a fixed disk. Prints the report's page count and size.
# Times are medians of several runs (wall clock) on a shared machine.
set -euo pipefail
source "$(dirname "$0")/../common.sh" evidence
bench_build orvik-cli orvik-samplecard
cli=$build/src/cli/orvik-cli
gen=$build/tools/orvik-samplecard
runs=${ORVIK_BENCH_RUNS:-5}
data=$build/bench-data/evidence

# Median wall time in ms of a command run $runs times; $1 is its output, removed before each run
# (untimed), with pending disk writes of the previous run flushed first.
median_ms() {
  local out=$1 times=()
  shift
  for _ in $(seq "$runs"); do
    [ "$out" = - ] || rm -rf "$out"
    sync
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

echo "== evidence: a 40 s recording pair with telemetry (1920x1080 front, 960x540 rear), made once"
mkdir -p "$data"
front=$data/event_20260314_081500_F.mp4
rear=$data/event_20260314_081500_R.mp4
[ -f "$front" ] || "$gen" --long "$front" --width 1920 --height 1080 --duration 40 -q
[ -f "$rear" ] || "$gen" --long "$rear" --width 960 --height 540 --duration 40 -q
echo "  $(basename "$front") $(stat -c %s "$front") bytes, $(basename "$rear") $(stat -c %s "$rear") bytes"

# The generator's pictures compress far below a camera's bit rate; a second pair made with
# ffmpeg's test pattern at a camera's rates (12 Mbit/s front, 4 Mbit/s rear, a keyframe a second,
# 1-s fragments, no telemetry) shows the cost of hashing and flushing real sizes.
camera_pair() {
  local size=$1 rate=$2 out=$3
  [ -f "$out" ] || ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=30" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 40 -c:v libx264 -preset ultrafast \
    -b:v "$rate" -maxrate "$rate" -bufsize "$rate" -g 30 -pix_fmt yuv420p -c:a aac -shortest \
    -movflags frag_keyframe+empty_moov+default_base_moof -brand iso4 "$out"
}
mkdir -p "$data/camera-rate"
camera_front=$data/camera-rate/event_20260314_091500_F.mp4
camera_pair 1920x1080 12M "$camera_front"
camera_pair 960x540 4M "${camera_front%_F.mp4}_R.mp4"
echo "  at a camera's bit rate: $(stat -c %s "$camera_front") + $(stat -c %s "${camera_front%_F.mp4}_R.mp4") bytes"

measure() {
  local label=$1 source=$2
  echo "== evidence: 30 s (5 s to 35 s) of $label, clip stream-copied"
  local clip_ms pkg_ms pages verify_ms
  clip_ms=$(median_ms "$work/clip.mp4" "$cli" clip "$source" --from 5 --to 35 --out "$work/clip.mp4" -q)
  pkg_ms=$(median_ms "$work/package" "$cli" evidence "$source" --from 5 --to 35 --layout front \
    --out "$work/package" --lang en)
  echo "  orvik-cli clip ${clip_ms} ms | orvik-cli evidence ${pkg_ms} ms: the clip + $(( pkg_ms - clip_ms )) ms (target <= + 1500 ms), $(ratio "$pkg_ms" "$clip_ms")x"
  "$cli" evidence "$source" --from 5 --to 35 --layout front --out "$work/package" --force --lang en >/dev/null
  pages=$(pdfinfo "$work/package/report.pdf" | awk '/^Pages:/ { print $2 }')
  echo "  report.pdf: ${pages} pages, $(stat -c %s "$work/package/report.pdf") bytes; package: $(ls "$work/package" | wc -l) files, $(du -sb "$work/package" | cut -f1) bytes"
  verify_ms=$(median_ms - "$cli" verify "$work/package")
  echo "  orvik-cli verify (the package and both recordings): ${verify_ms} ms"
}
measure "the generated pair (with telemetry)" "$front"
measure "the pair at a camera's bit rate" "$camera_front"
