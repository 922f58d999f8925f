#!/usr/bin/env bash
# Installs everything the project needs to build, run and test on Debian 12.
# Idempotent and quiet: apt-get update runs only when a package is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev ccache lld
  # style checks (scripts/check-style.sh)
  clang-format clang-tidy
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # command-line front end
  libcli11-dev nlohmann-json3-dev
  # media: sample-card generator, decoder check, playback
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg libmpv-dev
  # evidence export: filters for layouts and captions, the caption font, EXIF for snapshots
  libavfilter-dev fonts-dejavu-core libexif-dev
  # volumes, labels, FAT tools used by the tests
  libblkid-dev dosfstools mtools util-linux fdisk
  # hashes (evidence packages, library import), the library index, the evidence report (PDF)
  libssl-dev libsqlite3-dev sqlite3 libcairo2-dev libpango1.0-dev poppler-utils
  # GUI
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev libgl-dev
  fonts-noto-cjk qt6-translations-l10n
  # headless GUI tests and screenshots
  # (xdotool: the README screenshots drive the real program with simulated clicks and keys)
  xvfb xauth x11-utils imagemagick libgl1-mesa-dri mesa-utils xdotool openbox
  # checks of exported tracks, clips and snapshots with the tools people use on them
  libxml2-utils gpsbabel gdal-bin tesseract-ocr tesseract-ocr-eng libimage-exiftool-perl
  # the desktop's disk service over D-Bus (sd-bus) and its mock for the tests
  libsystemd-dev dbus python3-dbusmock
  # installing and packaging: icons, manual pages, checks of the desktop entry and metainfo
  librsvg2-bin help2man desktop-file-utils appstream dpkg-dev file lintian
  # loading the machine while the GUI tests run (they must pass under load)
  stress hyperfine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${#missing[@]} package(s): ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Node.js comes with the machine image; npm is installed only when it is missing
# (Debian's npm package conflicts with the image's nodejs).
if ! command -v npm >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  command -v node >/dev/null 2>&1 || $SUDO apt-get install -y -qq nodejs >/dev/null
  $SUDO apt-get install -y -qq npm >/dev/null
fi

# The map page's Leaflet assets, pinned by the committed package-lock.
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -f "$root/resources/map/package-lock.json" ] && [ ! -f "$root/resources/map/node_modules/leaflet/dist/leaflet.js" ]; then
  (cd "$root/resources/map" && npm ci --silent --no-audit --no-fund >/dev/null)
fi
exit 0
