#!/usr/bin/env bash
# Checks the Debian package and an installation, as a user would meet them:
#   - the package builds (scripts/package.sh) and lintian finds no error or warning in it;
#   - it holds the three programs, their manuals, the menu entry, the AppStream data, the
#     icon in every size, copyright and changelog, and depends on the Qt and curl libraries;
#   - `cmake --install` into a staging root (DESTDIR, prefix /usr/local) gives files that pass
#     desktop-file-validate, appstreamcli validate and groff's warnings, and programs that
#     run from there: --help and --version of each, the installed torvikel-cli asking the
#     installed simulator for its firmware version, the installed window drawing itself.
# Everything happens under build/package; nothing is left behind.
#   scripts/check-package.sh [--no-deps]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/package.sh "$@"

work="$(pwd)/build/package/check"
rm -rf "$work"
mkdir -p "$work"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2> /dev/null || true; wait "$sim_pid" 2> /dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

version="$(sed -n 's/^project(Torvikel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
deb="build/package/torvikel_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb"

echo "-- lintian $deb"
lintian --fail-on error,warning --info "$deb" 2> /dev/null || fail "lintian found errors or warnings (above)"

echo "-- package contents"
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./||' > "$work/contents"
expected=(
  usr/bin/torvikel usr/bin/torvikel-cli usr/bin/torvikel-sim
  usr/share/man/man1/torvikel.1.gz usr/share/man/man1/torvikel-cli.1.gz usr/share/man/man1/torvikel-sim.1.gz
  usr/share/applications/org.torvikel.Torvikel.desktop
  usr/share/metainfo/org.torvikel.Torvikel.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/torvikel.svg
  usr/share/doc/torvikel/copyright usr/share/doc/torvikel/changelog.gz
)
sizes=(16 22 24 32 48 64 128 256)
for size in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/torvikel.png"); done
for path in "${expected[@]}"; do grep -qx "$path" "$work/contents" || fail "$path missing from the package"; done
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libqt6widgets6 libcurl4 qt6-qpa-plugins; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

echo "-- cmake --install into a staging root"
stage="$work/stage"
DESTDIR="$stage" cmake --install build/package --prefix /usr/local > /dev/null
root="$stage/usr/local"
for size in "${sizes[@]}"; do
  file "$root/share/icons/hicolor/${size}x${size}/apps/torvikel.png" | grep -q "PNG image data, $size x $size," ||
    fail "the ${size}x${size} icon is not a $size by $size PNG"
done
desktop-file-validate "$root/share/applications/org.torvikel.Torvikel.desktop" || fail "desktop-file-validate failed"
appstreamcli validate --no-net "$root/share/metainfo/org.torvikel.Torvikel.metainfo.xml" ||
  fail "appstreamcli validate failed"
for manual in "$root"/share/man/man1/*.1.gz; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$manual" > "$work/manual.txt" 2> "$work/manual.err" ||
    fail "man -l $manual failed"
  [ ! -s "$work/manual.err" ] || { cat "$work/manual.err" >&2; fail "warnings rendering $manual"; }
  [ -s "$work/manual.txt" ] || fail "$manual renders empty"
done

echo "-- the installed programs"
bin="$root/bin"
for program in torvikel torvikel-cli torvikel-sim; do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$program" --help > "$work/help.txt" ||
    fail "$program --help failed"
  grep -q -- "--help" "$work/help.txt" || fail "$program --help printed no help"
  [ "$("$bin/$program" --version)" = "$program $version" ] || fail "$program --version is not \"$program $version\""
done

ports="$work/ports"
mkdir -p "$ports"
coproc SIM { TORVIKEL_PORT_DIR="$ports" exec "$bin/torvikel-sim" --com 1; }
sim_pid="$SIM_PID"
read -r -t 20 -u "${SIM[0]}" ready || fail "the installed torvikel-sim did not report ready"
[[ "$ready" == "torvikel-sim ready: "* ]] || fail "torvikel-sim said: $ready"
TORVIKEL_PORT_DIR="$ports" "$bin/torvikel-cli" send --timeout 5 version > "$work/send.txt" ||
  { cat "$work/send.txt" >&2; fail "the installed torvikel-cli send version failed"; }
grep -q "AXN_1.30" "$work/send.txt" || { cat "$work/send.txt" >&2; fail "no firmware version in the reply"; }
mkdir -m 700 "$work/runtime"  # Qt's runtime directory, kept out of /tmp
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" TORVIKEL_PORT_DIR="$ports" "$bin/torvikel" \
  --screenshot "$work/shots" --screenshot-delay 0 || fail "the installed window could not draw itself"
[ -s "$work/shots/status.png" ] && [ -s "$work/shots/setup.png" ] || fail "the window wrote no pictures"
kill -TERM "$sim_pid"
wait "$sim_pid" || fail "torvikel-sim did not end cleanly on SIGTERM"
sim_pid=""
[ ! -e "$ports/com1" ] || fail "torvikel-sim left its port map entry behind"

echo "Package and installation checks passed: $deb"
