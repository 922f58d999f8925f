#!/usr/bin/env bash
# Style checks, on their own before a commit (bash scripts/check-style.sh), the format check in
# scripts/test.sh and both in CI (.ci/run):
#   format: clang-format --dry-run -Werror over src/ tests/ tools/ fuzz/ bench/ (seconds);
#   tidy:   clang-tidy (the checks in .clang-tidy) over every .cpp of src/, two at a time (minutes
#           after a header changed).
#   check-style.sh [format|tidy]     (both without an argument)
# clang-tidy needs a configured build (compile_commands.json; default build/). A file whose text,
# whose headers under src/ and whose compile command are unchanged since its last clean check is
# not checked again (the record is kept in <build>/clang-tidy-clean/). A missing tool is skipped
# with a message. Exit status 1 when either check finds something.
set -uo pipefail
what=${1:-all}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
jobs=${ORVIK_JOBS:-2}
cd "$root"
status=0

if [ "$what" = tidy ]; then
  :
elif command -v clang-format >/dev/null; then
  mapfile -t files < <(git ls-files -co --exclude-standard -- src tests tools fuzz bench |
                       grep -E '\.(cpp|h)$' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
  if clang-format --dry-run -Werror "${files[@]}" 2>"$build.format.log" ||
     { cat "$build.format.log"; false; }; then
    echo "clang-format: ${#files[@]} files clean"
  else
    echo "clang-format: files above differ from .clang-format (clang-format -i FILE fixes them)"
    status=1
  fi
  rm -f "$build.format.log"
else
  echo "clang-format: not installed, format check skipped (scripts/install-deps.sh installs it)"
fi

if [ "$what" = format ]; then
  :
elif ! command -v clang-tidy >/dev/null; then
  echo "clang-tidy: not installed, skipped (scripts/install-deps.sh installs it)"
elif [ ! -f "$build/compile_commands.json" ]; then
  echo "clang-tidy: no $build/compile_commands.json (configure the build first), skipped"
else
  clean="$build/clang-tidy-clean"
  mkdir -p "$clean"
  # One stamp for everything a file's result depends on besides its own text and command.
  shared=$( { clang-tidy --version; cat .clang-tidy; git ls-files -co --exclude-standard -- 'src/*.h' |
              sort | xargs cat; } | sha1sum | cut -c1-40)
  list=$(mktemp)
  # clang-tidy reads a copy of the build's compile commands as it would compile each source alone:
  # a unity source stands for the sources it includes, and GCC's precompiled headers (which clang
  # cannot read) are left out, the sources including what they use themselves.
  tidydb="$build/clang-tidy-db"
  mkdir -p "$tidydb"
  python3 - "$build/compile_commands.json" "$root" "$clean" "$shared" "$tidydb" >"$list" <<'PY'
import hashlib, json, os, re, shlex, sys
db, root, clean, shared, tidydb = sys.argv[1:]

def alone(e):
    args = e["arguments"] if "arguments" in e else shlex.split(e["command"])
    out, skip = [], False
    for i, a in enumerate(args):
        if skip:
            skip = False
        elif a == "-Winvalid-pch":
            pass
        elif a == "-include" and i + 1 < len(args) and "cmake_pch" in args[i + 1]:
            skip = True
        else:
            out.append(a)
    unit = os.path.realpath(os.path.join(e["directory"], e["file"]))
    sources = [unit]
    if re.search(r"/Unity/unity_[^/]*$", unit):
        sources = re.findall(r'^#include "([^"]+)"', open(unit).read(), re.M)
    for src in sources:
        yield {"directory": e["directory"], "file": src,
               "arguments": [src if a == e["file"] or a == unit else a for a in out]}

entries = [x for e in json.load(open(db)) for x in alone(e)]
json.dump(entries, open(os.path.join(tidydb, "compile_commands.json"), "w"), indent=0)
seen = set()
for e in entries:
    f = os.path.realpath(os.path.join(e["directory"], e["file"]))
    rel = os.path.relpath(f, root)
    if not rel.startswith("src/") or not rel.endswith(".cpp") or rel in seen:
        continue
    seen.add(rel)
    h = hashlib.sha1((shared + json.dumps(e["arguments"])).encode())
    h.update(open(f, "rb").read())
    stamp = os.path.join(clean, rel.replace("/", "__") + "." + h.hexdigest())
    if not os.path.exists(stamp):
        print(rel + "\t" + stamp)
PY
  total=$(python3 -c "import json,sys; print(len({e['file'] for e in json.load(open(sys.argv[1])) if '/src/' in e['file'] and e['file'].endswith('.cpp')}))" "$tidydb/compile_commands.json")
  todo=$(wc -l <"$list")
  echo "clang-tidy: $todo of $total files of src/ to check ($jobs at a time)"
  start=$(date +%s)
  export tidydb
  if [ "$todo" -gt 0 ] && ! xargs -a "$list" -d '\n' -P "$jobs" -n 1 bash -c '
      rel=${1%%$'"'"'\t'"'"'*}; stamp=${1#*$'"'"'\t'"'"'}
      if out=$(clang-tidy -p "$tidydb" --quiet "$rel" 2>&1); then
        rm -f "$(dirname "$stamp")/$(basename "$stamp" | sed "s/\.[0-9a-f]*$//")".*; touch "$stamp"
      else
        printf "%s\n" "$out" | grep -v "^[0-9]* warnings\? generated" ; exit 1
      fi' _; then
    status=1
    echo "clang-tidy: findings above (see .clang-tidy for the checks)"
  else
    echo "clang-tidy: clean in $(( $(date +%s) - start ))s"
  fi
  rm -f "$list"
fi
exit $status
