#!/usr/bin/env bash
# Builds the Debian package, installs it with apt (which pulls in what dpkg-shlibdeps found),
# runs the installed programs and removes the package again. Installs into the system, so it
# runs as root only (as CI does); elsewhere it is skipped.
#   deb_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: installing a package needs root"
  exit 77
fi
for tool in cpack apt-get dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
fail() { echo "FAIL: $*"; exit 1; }

out=$(mktemp -d)
# One package test at a time on this machine: they install the same package.
exec 9>/tmp/orvik-deb-test.lock
flock 9
cleanup() {
  dpkg -s orvik >/dev/null 2>&1 && apt-get remove -y -qq -o DPkg::Lock::Timeout=300 orvik >/dev/null 2>&1
  rm -rf "$out"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; fail "cpack"; }
deb=$(ls "$out"/orvik_"$version"_*.deb)
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
# Debian's own checks: no error and no warning (informational tags are allowed).
if command -v lintian >/dev/null; then
  # One run (it takes seconds): its findings shown, its verdict kept.
  verdict=0
  findings=$(lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2>&1) || verdict=$?
  grep -v 'running with root' <<<"$findings" || true
  [ "$verdict" -eq 0 ] || fail "lintian"
else
  echo "lintian missing: the package's checks are not run"
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libmpv libqt6widgets6 libqt6webenginewidgets6 libavcodec libblkid1 libsystemd0; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" >"$out/apt.log" 2>&1 \
  || { tail -20 "$out/apt.log"; fail "apt-get install"; }
[ "$(dpkg-query -W -f='${Version}' orvik)" = "$version" ] || fail "installed version"
/usr/bin/orvik-cli version | grep -qx "orvik-cli $version" || fail "orvik-cli version"
# The media halves run from libexec/orvik/: a recording written and a picture taken of it.
/usr/bin/orvik-samplecard --single "$out/rec_F.mp4" --duration 1 -q >/dev/null \
  || fail "orvik-samplecard (orvik-samplecard-writer)"
/usr/bin/orvik-cli snapshot "$out/rec_F.mp4" --at 0.5 --out "$out/rec.png" \
  || fail "orvik-cli snapshot (orvik-cli-media)"
[ -s "$out/rec.png" ] || fail "no snapshot written"
/usr/bin/orvik-cli telemetry "$out/rec_F.mp4" >/dev/null || fail "orvik-cli telemetry"
# No display is needed to ask the viewer for its version.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/orvik --version \
  | grep -qx "orvik $version" || fail "orvik --version"
[ -f /usr/share/applications/org.orvik.viewer.desktop ] || fail "desktop entry not installed"
for page in orvik orvik-cli orvik-samplecard; do
  [ -f /usr/share/man/man1/$page.1.gz ] || fail "$page.1.gz"
done
# Every command runs from the installed package.
/usr/bin/orvik-cli list "$out" >/dev/null || fail "orvik-cli list"
/usr/bin/orvik-samplecard --version | grep -qx "orvik-samplecard $version" || fail "orvik-samplecard --version"

apt-get remove -y -qq -o DPkg::Lock::Timeout=300 orvik >/dev/null 2>&1 || fail "apt-get remove"
[ ! -e /usr/bin/orvik ] || fail "/usr/bin/orvik left behind"
echo "package installed, run and removed"
