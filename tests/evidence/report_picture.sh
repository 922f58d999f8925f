#!/usr/bin/env bash
# The README's picture of a report: a package of the generated card's event recording (the
# impact in the middle), its first page rendered with pdftoppm. Not part of ctest.
#   bash tests/evidence/report_picture.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-report-picture-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/tools/orvik-samplecard" --out "$work/card" --count 1 --duration 20 -q >/dev/null
front=$(find "$work/card/Event" -name 'event_*_F.mp4' | head -n1)
"$build/src/cli/orvik-cli" evidence "$front" --from 2 --to 18 --out "$work/incident" --lang en \
  --note "Hit from behind while slowing for the junction. Other driver's details on file." >/dev/null
pdftoppm -r 96 -png -f 1 -l 1 -singlefile "$work/incident/report.pdf" "$root/docs/evidence-report"
echo "$root/docs/evidence-report.png"
