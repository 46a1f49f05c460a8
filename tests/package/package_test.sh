#!/usr/bin/env bash
# Builds the Debian package from a build tree with CPack, unpacks it into a
# temporary root and checks what a user installs: the programs run from
# there, Depends names the libraries they link, the manual pages render, the
# completion and the notices are there, lintian finds no error, the desktop
# entry and the AppStream metadata pass their validators, and the icons are
# in place.
#
#   package_test.sh BUILD_DIR VERSION WITH_WINDOW(ON/OFF)
set -euo pipefail
build=$1
version=$2
window=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/out/tamblin_${version}_amd64.deb
[ -f "$deb" ] || { ls "$work/out"; fail "no tamblin_${version}_amd64.deb"; }

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in 'libc6' 'libstdc\+\+6' 'libqt6core6' 'libcurl4' 'zlib1g' 'libicu[0-9]+'; do
  grep -qE "(^|[ ,|])$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/tamblin-cli" --help >"$work/help.txt" 2>&1 || fail "tamblin-cli --help"
grep -q "tamblin-cli list" "$work/help.txt" || { cat "$work/help.txt"; fail "help text"; }

# The manual pages render; the completion and the notices are in place.
pages=(tamblin-cli)
[ "$window" = ON ] && pages+=(tamblin)
for page in "${pages[@]}"; do
  gz=$root/usr/share/man/man1/$page.1.gz
  [ -f "$gz" ] || fail "no manual page $page(1)"
  MANWIDTH=80 man -l "$gz" 2>&1 | grep -q "$version" || fail "man -l $page.1.gz"
done
[ -f "$root/usr/share/bash-completion/completions/tamblin-cli" ] || fail "no bash completion"
for doc in copyright changelog.gz; do
  [ -f "$root/usr/share/doc/tamblin/$doc" ] || fail "no usr/share/doc/tamblin/$doc"
done
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt"; fail "lintian finds errors"; }
  grep -v "root privileges" "$work/lintian.txt" || true
fi

if [ "$window" = ON ]; then
  [ -x "$root/usr/bin/tamblin" ] || fail "no usr/bin/tamblin"
  grep -qE "(^|[ ,|])libqt6widgets6( |,|$)" <<<"$depends" || fail "Depends lacks libqt6widgets6"
  desktop=$(ls "$root"/usr/share/applications/*.desktop)
  metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml)
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
  # The entry starts an installed program and names installed icons; the
  # metadata launches that entry and names this release.
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/usr/bin/$exec" ] || fail "Exec=$exec is not installed"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  for size in 16 32 48 256; do
    [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] || fail "no ${size}px icon $icon"
  done
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" \
    || fail "metadata does not launch $(basename "$desktop")"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "metadata lacks release $version"
fi
echo "package ok: $(basename "$deb")"
