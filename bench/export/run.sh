#!/usr/bin/env bash
# Evidence export against the ffmpeg command line on the same files, in one run:
#   stream-copy clip, 60 s of 1080p      orvik-cli clip            vs  ffmpeg -ss -to -c copy
#                                        (target: >= 100x real time, <= 1.2x ffmpeg)
#   captioned side-by-side, 10 s of      orvik-cli clip --layout side-by-side --caption
#   1080p front + 540p rear              vs  the same ffmpeg filter graph and x264 settings
#                                        (a keyframe every second, as the clip's fragments)
#                                        (target: <= 1.2x ffmpeg; frames per second)
#   stream-copy clip over three 60-s    orvik-cli clip FILE --from 30 --to 150  vs  ffmpeg -f concat
#   1080p recordings of one drive        -safe 0 -i list -c copy of the same stretch (target <= 1.2x)
#   snapshot of a 1080p frame            in-process, call to written file (target < 150 ms)
# Times are medians of several runs (wall clock), on a shared machine: read the ratios, which
# compare runs made side by side.
set -euo pipefail
source "$(dirname "$0")/../bench_build.sh"
bench_build bench_export orvik-cli
cli=$build/src/cli/orvik-cli
work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-bench-export-XXXXXX")
trap 'rm -rf "$work"' EXIT
runs=${ORVIK_BENCH_RUNS:-5}
font=/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }
# Median wall time in ms of a command run $runs times. The first argument is the command's
# output file: it is removed before each run (untimed), so both tools write a new file, and
# pending disk writes of the previous run are flushed first, so no run pays for another's.
median_ms() {
  local out=$1 times=()
  shift
  for _ in $(seq "$runs"); do
    local t0 t1
    [ "$out" = - ] || rm -f "$out"
    sync
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

echo "== export: making a 62 s recording pair (1080p front, 540p rear, 1-s fragments)"
# Made with ffmpeg's test pattern (fast to encode); the fragments have no telemetry slots, which
# changes nothing for the cost of a clip.
make() {
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$1:rate=30" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -t 62 -c:v libx264 -preset ultrafast -g 30 -pix_fmt yuv420p -c:a aac -shortest \
    -movflags frag_keyframe+empty_moov+default_base_moof -brand iso4 "$2"
}
mkdir -p "$work/card"
front=$work/card/alwa_20260314_081500_F.mp4
rear=$work/card/alwa_20260314_081500_R.mp4
make 1920x1080 "$front"
make 960x540 "$rear"
echo "  $(basename "$front") $(stat -c %s "$front") bytes, $(basename "$rear") $(stat -c %s "$rear") bytes"

echo "== export: stream-copy clip of 60 s (1 s to 61 s)"
ff_copy=$(median_ms "$work/ff-copy.mp4" ffmpeg -v error -y -ss 1 -to 61 -i "$front" -c copy "$work/ff-copy.mp4")
our_copy=$(median_ms "$work/copy.mp4" "$cli" clip "$front" --from 1 --to 61 --out "$work/copy.mp4" -q)
echo "  ffmpeg -c copy ${ff_copy} ms | orvik-cli clip ${our_copy} ms: $(ratio "$our_copy" "$ff_copy")x ffmpeg (target <= 1.2x)"
echo "  orvik-cli clip: $(awk -v t="$our_copy" 'BEGIN { printf "%.0f", 60000 / t }')x real time (target >= 100x)"
# Replacing an existing file waits for the data to reach the disk (ffmpeg never does).
our_replace=$(median_ms - "$cli" clip "$front" --from 1 --to 61 --out "$work/copy.mp4" --force -q)
echo "  orvik-cli clip --force over an existing file (flushed to disk): ${our_replace} ms, $(ratio "$our_replace" "$ff_copy")x ffmpeg"

echo "== export: stream-copy clip over three 60-s recordings of a drive (30 s into the first to 30 s into the third)"
# Three minutes of one drive: the recording above cut to 60 s, under consecutive names.
mkdir -p "$work/drive"
for minute in 15 16 17; do
  ffmpeg -v error -y -i "$front" -t 60 -c copy -movflags frag_keyframe+empty_moov+default_base_moof \
    -brand iso4 "$work/drive/alwa_20260314_08${minute}00_F.mp4"
done
first=$work/drive/alwa_20260314_081500_F.mp4
{
  echo "file '$first'"; echo "inpoint 30"
  echo "file '$work/drive/alwa_20260314_081600_F.mp4'"
  echo "file '$work/drive/alwa_20260314_081700_F.mp4'"; echo "outpoint 30"
} >"$work/drive.txt"
ff_concat=$(median_ms "$work/ff-concat.mp4" ffmpeg -v error -y -f concat -safe 0 -i "$work/drive.txt" -c copy "$work/ff-concat.mp4")
our_concat=$(median_ms "$work/across.mp4" "$cli" clip "$first" --from 30 --to 150 --out "$work/across.mp4" -q)
"$cli" clip "$first" --from 30 --to 150 --out "$work/across.mp4" --force 2>&1 | sed 's/^/  /'
echo "  frames: ffmpeg concat $(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$work/ff-concat.mp4"), orvik-cli $(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$work/across.mp4")"
echo "  ffmpeg -f concat -c copy ${ff_concat} ms | orvik-cli clip ${our_concat} ms: $(ratio "$our_concat" "$ff_concat")x ffmpeg (target <= 1.2x)"

echo "== export: captioned side-by-side clip of 10 s (1 s to 11 s)"
runs=${ORVIK_BENCH_ENCODE_RUNS:-3}
band=$(( (1080 + 17) / 18 * 3 / 2 + 4 ))
size=$(( (1080 + 17) / 18 ))
graph="[1:v]scale=1920:1080:flags=bicubic,format=yuv420p[r];[0:v]format=yuv420p[f];[f][r]hstack=inputs=2,drawbox=x=0:y=ih-$band:w=iw:h=$band:color=black@0.7:t=fill,drawtext=fontfile=$font:expansion=none:text='2026-03-14 08\:15\:01  27 km/h  37.55705, 126.86462':fontsize=$size:fontcolor=white:x=(w-text_w)/2:y=h-$band+($band-$size)/2,format=yuv420p[v]"
ff_sbs=$(median_ms "$work/ff-sbs.mp4" ffmpeg -v error -y -ss 1 -to 11 -i "$front" -ss 1 -to 11 -i "$rear" \
  -filter_complex "$graph" -map '[v]' -map 0:a? -c:v libx264 -preset veryfast -crf 21 -bf 0 \
  -g 600 -force_key_frames 'expr:gte(t,n_forced)' -c:a copy -movflags frag_keyframe+empty_moov+default_base_moof "$work/ff-sbs.mp4")
our_sbs=$(median_ms "$work/sbs.mp4" "$cli" clip "$front" --from 1 --to 11 --layout side-by-side \
  --caption --out "$work/sbs.mp4" -q)
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
  -of csv=p=0 "$work/sbs.mp4")
echo "  ffmpeg filter graph ${ff_sbs} ms ($(awk -v f="$frames" -v t="$ff_sbs" 'BEGIN { printf "%.1f", f * 1000 / t }') fps) | orvik-cli clip ${our_sbs} ms ($(awk -v f="$frames" -v t="$our_sbs" 'BEGIN { printf "%.1f", f * 1000 / t }') fps, $frames frames): $(ratio "$our_sbs" "$ff_sbs")x ffmpeg (target <= 1.2x)"

echo "== export: snapshot of a 1080p frame (in-process, call to written file)"
ORVIK_BENCH_FRONT=$front ORVIK_BENCH_OUT=$work "$build/bench/export/bench_export" \
  --benchmark_filter='BM_Snapshot' --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '/_median/ { gsub(/"/, "", $1); printf "  %s %.1f ms (target < 150 ms)\n", $1, $3 }'
our_snap=$(median_ms "$work/snap.jpg" "$cli" snapshot "$front" --at 30.5 --out "$work/snap.jpg")
echo "  orvik-cli snapshot (whole process, JPEG) ${our_snap} ms"
