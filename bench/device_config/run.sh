#!/usr/bin/env bash
# Configuration save+load and driving-route decoding figures in one run, with the ratio to the
# targets (configuration read+write < 1 ms; 100 000 drv records decoded).
# ORVIK_BENCH_DIR chooses the folder the file benchmarks write to (default: the build folder).
set -euo pipefail
source "$(dirname "$0")/../bench_build.sh"
bench_build bench_device_config
bin=$(find "$build" -name bench_device_config -type f -perm -u+x | head -n1)
export ORVIK_BENCH_DIR=${ORVIK_BENCH_DIR:-$build}
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$bin" --benchmark_min_time=0.2 --benchmark_format=console --benchmark_out="$json" --benchmark_out_format=json
# The same save+load in memory (tmpfs): what the code costs without the disk's flush latency.
shm=$(mktemp)
trap 'rm -f "$json" "$shm"' EXIT
if [ -d /dev/shm ]; then
  ORVIK_BENCH_DIR=/dev/shm "$bin" --benchmark_filter=SaveAndLoad --benchmark_min_time=0.2 \
    --benchmark_format=console --benchmark_out="$shm" --benchmark_out_format=json >/dev/null
fi
python3 - "$json" "$shm" <<'PY'
import json, os, sys
b = {x["name"].split("/")[0]: x for x in json.load(open(sys.argv[1]))["benchmarks"]}
shm = None
if os.path.getsize(sys.argv[2]) > 0:
    shm = json.load(open(sys.argv[2]))["benchmarks"][0]
def ms(name):
    x = b[name]; t = x["real_time"]; u = x["time_unit"]
    return t * {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[u]
save = ms("BM_ConfigSaveAndLoad")
print()
print(f"configuration save (atomic, fsync) + load: {save:.3f} ms  -> {save/1.0:.2f} x the 1 ms target")
def cpu(name):
    x = b[name]; return x["cpu_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[x["time_unit"]]
print(f"  of which CPU:                            {cpu('BM_ConfigSaveAndLoad'):.3f} ms (the rest is waiting for the two fsyncs)")
if shm:
    t = shm["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[shm["time_unit"]]
    print(f"configuration save + load on tmpfs:        {t:.3f} ms  -> {t/1.0:.2f} x the 1 ms target")
print(f"configuration image encode + decode:       {ms('BM_ConfigImageOnly')*1000:.2f} us")
print(f"drv decode, 100 000 records:               {ms('BM_DrvDecode100k'):.1f} ms (CPU {cpu('BM_DrvDecode100k'):.1f} ms), heap {b['BM_DrvDecode100k']['heap_MB']:.1f} MB")
print(f"drv read from file, 100 000 records:       {ms('BM_DrvReadFile100k'):.1f} ms")
print(f"drv text table (28 cells x 100 000):       {ms('BM_DrvTextTable100k'):.1f} ms (CPU {cpu('BM_DrvTextTable100k'):.1f} ms), heap {b['BM_DrvTextTable100k']['heap_MB']:.1f} MB")
print(f"drv CSV text, 100 000 rows:                {ms('BM_DrvCsv100k'):.1f} ms, {b['BM_DrvCsv100k']['csv_MB']:.1f} MB")
PY
