#!/usr/bin/env bash
# Playback timings in one run, against the same libmpv used bare and against the mpv player:
#  - open to first frame of a 1080p recording: MediaPlayer vs a bare libmpv client (both with the
#    core already created, so process start is not counted) and, when the mpv player is
#    installed (apt-get install mpv), `mpv --vo=null --ao=null --frames=1` minus mpv's own start;
#  - paused seeks on a 720p recording until the pane shows the frame: median and p95 of 100;
#  - a front/rear pair (720p + 360p) played as the main window plays it, at 1x and at 2x: the
#    front - rear position difference at every PositionTimer tick (two_max_drift_ms,
#    two_max_drift_ms_2x; target <= 33 ms), dropped frames and CPU;
#  - a drive of eleven 1080p + 540p pairs played through ten hand-offs at 1x and at 2x: the front
#    pane's still at each boundary (handoff_gap_ms median and max: from the last frame drawn of
#    one recording to the first of the next; one frame interval, 33 ms at 1x, is no stall; printed
#    beside the median gap between frames of one recording in the same run), the
#    rear's distance from the front in the second after it (handoff_rear_drift_ms) and what the
#    standby pair adds to memory once the playing pair runs (target <= 60 MB);
#  - the drive strip's hover picture of a moment not yet cached (1080p source, target <= 150 ms),
#    against `ffmpeg -ss T -i FILE -frames:v 1` scaled the same way, and how late the event loop
#    runs while pictures are decoded beside it.
#   bench/playback/run.sh [seconds-of-two-channel-play]
set -euo pipefail
source "$(dirname "$0")/../bench_build.sh"
bench_build playback_bench thumbnail_bench orvik-samplecard
bench=$build/bench/playback/playback_bench
gen=$build/tools/orvik-samplecard
play_seconds=${1:-30}
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
[ -x "$gen" ] || { echo "build first: $gen is missing" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb

clips=$build/bench-clips
mkdir -p "$clips"
make_clip() {  # name width height seconds seed
  [ -s "$clips/$1" ] || "$gen" --single "$clips/$1" --width "$2" --height "$3" --duration "$4" \
    --seed "$5" --quiet
}
echo "generating clips in $clips (once)..."
make_clip f1080.mp4 1920 1080 5 1
make_clip f720.mp4 1280 720 5 2
# A front/rear pair as the camera names them (the rear camera at half size).
make_clip alwa_20240302_120000_F.mp4 1280 720 "$play_seconds" 2
make_clip alwa_20240302_120000_R.mp4 640 360 "$play_seconds" 3

# A drive: consecutive 1080p front / 540p rear pairs as the camera writes them.
drive=$clips/drive
"$gen" --out "$drive" --count 11 --duration 3 --width 1920 --height 1080 --no-device-files \
  --if-changed --quiet
mapfile -t drive_fronts < <(ls "$drive"/Always/alwa_*_F.mp4 | sort)

run_bench() {
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1920x1080x24" "$bench" "$@"
  else
    "$bench" "$@"
  fi
}

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# A failing measurement still leaves the others to run and report.
run_bench first-frame "$clips/f1080.mp4" 15 2>/dev/null | tee -a "$out" || true

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
if command -v mpv >/dev/null 2>&1; then
  full=() start=()
  for i in $(seq 1 15); do
    t0=$(date +%s%N); mpv --no-config --really-quiet --vo=null --ao=null --frames=1 "$clips/f1080.mp4" >/dev/null 2>&1; t1=$(date +%s%N)
    mpv --no-config --really-quiet --vo=null --ao=null --idle=no >/dev/null 2>&1; t2=$(date +%s%N)
    full+=($(( (t1 - t0) / 1000 ))) start+=($(( (t2 - t1) / 1000 )))
  done
  f=$(printf '%s\n' "${full[@]}" | median); s=$(printf '%s\n' "${start[@]}" | median)
  awk -v f="$f" -v s="$s" 'BEGIN { printf "first_frame_mpv_cli_ms %.1f\n", (f - s) / 1000 }' | tee -a "$out"
else
  echo "first_frame_mpv_cli_ms n/a (the mpv player is not installed: apt-get install mpv)"
fi

run_bench seek "$clips/f720.mp4" 100 2>/dev/null | tee -a "$out" || true
run_bench seek-decode "$clips/f720.mp4" 100 2>/dev/null | tee -a "$out" || true
run_bench two-channels "$clips/alwa_20240302_120000_F.mp4" "$play_seconds" 2>/dev/null | tee -a "$out" || true
run_bench two-channels-2x "$clips/alwa_20240302_120000_F.mp4" "$play_seconds" 2>/dev/null | tee -a "$out" || true
run_bench handoff "${drive_fronts[@]}" 2>/dev/null | tee -a "$out" || true
"$build/bench/playback/thumbnail_bench" "$clips/f1080.mp4" 20 | tee -a "$out" || true
peer=()
for i in $(seq 1 20); do
  t0=$(date +%s%N)
  ffmpeg -v error -ss "$((i % 4)).5" -i "$clips/f1080.mp4" -frames:v 1 -vf scale=192:-2 -f null - 2>/dev/null
  peer+=($(( ($(date +%s%N) - t0) / 1000 )))
done
awk -v m="$(printf '%s\n' "${peer[@]}" | median)" 'BEGIN { printf "thumbnail_ffmpeg_cli_ms %.1f\n", m / 1000 }' | tee -a "$out"
run_bench handoff-2x "${drive_fronts[@]}" 2>/dev/null | tee -a "$out" || true

get() { awk -v k="$1" '$1 == k { print $2 }' "$out"; }
echo
echo "summary"
printf '  open to first frame (1080p): MediaPlayer %s ms, bare libmpv %s ms, ratio %s (target <= 1.2)\n' \
  "$(get first_frame_player_ms)" "$(get first_frame_libmpv_ms)" "$(get first_frame_ratio)"
printf '  bare libmpv with its default scripts: %s ms\n' "$(get first_frame_libmpv_defaults_ms)"
cli=$(get first_frame_mpv_cli_ms)
if [ -n "$cli" ]; then
  awk -v a="$(get first_frame_player_ms)" -v b="$cli" \
    'BEGIN { printf "  against the mpv player: %s ms, ratio %.2f\n", b, a / b }'
fi
printf '  first frame drawn in a pane (1080p, GL): %s ms\n' "$(get first_frame_pane_ms)"
printf '  seek (720p, paused, until drawn): median %s ms, p95 %s ms, failed %s (target p95 < 150)\n' \
  "$(get seek_median_ms)" "$(get seek_p95_ms)" "$(get seek_failed)"
printf '  seek without drawing: median %s ms, p95 %s ms\n' "$(get seek_decode_median_ms)" "$(get seek_decode_p95_ms)"
for k in two two_2x; do
  printf '  pair 720p+360p (%s) for %s s: drift median %s ms, max %s ms over %s ticks, %s re-seeks;\n' \
    "$k" "$(get ${k}_wall_s)" "$(get ${k}_median_drift_ms)" "$(get ${k}_max_drift_ms)" \
    "$(get ${k}_ticks)" "$(get ${k}_reseeks)"
  printf '    after the first 2 s: drift median %s ms, max %s ms\n' \
    "$(get ${k}_steady_median_drift_ms)" "$(get ${k}_steady_max_drift_ms)"
  printf '    dropped front %s+%s, rear %s+%s (decoder+output), CPU %s cores\n' \
    "$(get ${k}_front_decoder_drops)" "$(get ${k}_front_vo_drops)" \
    "$(get ${k}_rear_decoder_drops)" "$(get ${k}_rear_vo_drops)" "$(get ${k}_cpu_cores)"
done
for k in handoff handoff_2x; do
  printf '  drive (%s): %s hand-offs (%s missed); still at a boundary median %s ms, max %s ms (one frame: %s ms; between the frames of a recording, median %s ms, max %s ms); rear drift after it median %s ms, max %s ms; standby pair %s MB (target <= 60); the last pair'"'"'s front dropped %s (decoder+output)\n' \
    "$k" "$(get ${k}_count)" "$(get ${k}_missed)" "$(get ${k}_gap_ms)" "$(get ${k}_gap_max_ms)" \
    "$(get ${k}_frame_interval_ms)" "$(get ${k}_frame_gap_ms)" "$(get ${k}_frame_gap_max_ms)" "$(get ${k}_rear_drift_ms)" "$(get ${k}_rear_drift_max_ms)" \
    "$(get ${k}_standby_mb)" "$(get ${k}_last_front_drops)"
done
echo "handoff_gap_ms $(get handoff_gap_ms) max $(get handoff_gap_max_ms) (2x: $(get handoff_2x_gap_ms) max $(get handoff_2x_gap_max_ms))"
echo "handoff_rear_drift_ms $(get handoff_rear_drift_ms) max $(get handoff_rear_drift_max_ms) (2x: $(get handoff_2x_rear_drift_ms) max $(get handoff_2x_rear_drift_max_ms))"
# The channels in step: front - rear position at every PositionTimer tick (target <= 33 ms).
echo "two_max_drift_ms $(get two_max_drift_ms)"
echo "two_max_drift_ms_2x $(get two_2x_max_drift_ms)"
# The hover picture of a moment not yet cached (target <= 150 ms), against the ffmpeg program.
awk -v a="$(get thumbnail_ms)" -v b="$(get thumbnail_ffmpeg_cli_ms)" -v m="$(get thumbnail_max_ms)" \
  -v c="$(get thumbnail_cached_ms)" -v l="$(get thumbnail_gui_late_ms)" -v i="$(get thumbnail_gui_late_idle_ms)" \
  'BEGIN { printf "thumbnail_ms %s max %s (cached %s; ffmpeg -ss -frames:v 1: %s, ratio %.2f; event loop late at most %s ms while decoding, %s idle)\n", a, m, c, b, (b > 0 ? a / b : 0), l, i }'
