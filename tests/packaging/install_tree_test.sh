#!/usr/bin/env bash
# `cmake --install` into a temporary prefix lays out the programs, desktop entry, icons,
# metainfo, manual pages and completion, and the desktop files pass their validators.
#   install_tree_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 source=$2 version=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/orvik bin/orvik-cli bin/orvik-samplecard \
  libexec/orvik/orvik-cli-media libexec/orvik/orvik-cli-library libexec/orvik/orvik-samplecard-writer \
  share/applications/org.orvik.viewer.desktop \
  share/metainfo/org.orvik.viewer.metainfo.xml \
  share/icons/hicolor/scalable/apps/org.orvik.viewer.svg \
  share/man/man1/orvik.1.gz share/man/man1/orvik-cli.1.gz share/man/man1/orvik-samplecard.1.gz \
  share/doc/orvik/copyright share/doc/orvik/changelog.gz \
  share/bash-completion/completions/orvik-cli; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
for size in 16 22 24 32 48 64 128 256 512; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/org.orvik.viewer.png
  [ -s "$png" ] || fail "no ${size}px icon"
  file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not ${size}x${size}: $(file -b "$png")"
done

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/org.orvik.viewer.desktop" || fail "desktop entry"
else
  echo "desktop-file-validate missing: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.orvik.viewer.metainfo.xml" \
    || fail "metainfo"
  grep -q "<release version=\"$version\"" "$prefix/share/metainfo/org.orvik.viewer.metainfo.xml" \
    || fail "metainfo carries no release $version"
else
  echo "appstreamcli missing: metainfo not validated"
fi

# The manual pages come from the programs' own help: every command of orvik-cli is in its page.
page=$(mktemp)
zcat "$prefix/share/man/man1/orvik-cli.1.gz" >"$page"
grep -q '^\.TH "\?ORVIK-CLI' "$page" || fail "orvik-cli.1 has no title line"
for cmd in $("$prefix/bin/orvik-cli" --help | awk 'tolower($0) ~ /subcommands:/ {s=1; next} s && /^  +[a-z]/ {print $1} s && !/^ / {s=0}'); do
  grep -q "orvik-cli $cmd" "$page" || fail "orvik-cli.1 does not describe '$cmd'"
done
zcat "$prefix/share/man/man1/orvik.1.gz" | grep -q 'demo' || fail "orvik.1 lacks --demo"
zcat "$prefix/share/man/man1/orvik-samplecard.1.gz" | grep -q 'single' || fail "orvik-samplecard.1"
# The pages read the same in any locale: no sign outside ASCII.
if zcat "$prefix"/share/man/man1/*.1.gz | LC_ALL=C grep -q '[^[:print:][:space:]]'; then
  fail "a manual page holds characters outside ASCII"
fi
rm -f "$page"
"$prefix/bin/orvik-cli" --version | grep -qx "orvik-cli $version" || fail "orvik-cli --version"
# The installed front end finds its media half, and loads no media library itself.
"$prefix/bin/orvik-cli" clip --help | grep -q -- '--from' || fail "orvik-cli clip --help (orvik-cli-media)"
if ldd "$prefix/bin/orvik-cli" "$prefix/bin/orvik-samplecard" | grep -q 'libav'; then
  fail "orvik-cli or orvik-samplecard links a media library"
fi
# The library's commands run in a helper of their own, without the media libraries.
"$prefix/bin/orvik-cli" library search --help | grep -q -- '--bbox' \
  || fail "orvik-cli library search --help (orvik-cli-library)"
if ldd "$prefix/libexec/orvik/orvik-cli-library" | grep -q 'libav'; then
  fail "orvik-cli-library links a media library"
fi

# Completion: the commands come from the installed program's help.
out=$(PATH="$prefix/bin:$PATH" bash -c '
  source "$1"
  COMP_WORDS=(orvik-cli co); COMP_CWORD=1; _orvik_cli; printf "%s\n" "${COMPREPLY[@]}"
  COMP_WORDS=(orvik-cli config s); COMP_CWORD=2; _orvik_cli; printf "%s\n" "${COMPREPLY[@]}"
  COMP_WORDS=(orvik-cli list --j); COMP_CWORD=2; _orvik_cli; printf "%s\n" "${COMPREPLY[@]}"
' _ "$prefix/share/bash-completion/completions/orvik-cli")
for want in config set show --json; do
  grep -qx -- "$want" <<<"$out" || fail "completion does not offer $want (got: $(tr '\n' ' ' <<<"$out"))"
done
echo "install tree complete"
