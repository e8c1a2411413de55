#!/bin/sh
# Builds the Debian package and checks it: its files and dependencies, the desktop entry and
# AppStream validators, lintian, and, where this machine allows (root, and no brivok package
# installed already), that it installs, starts from its launcher entry and removes cleanly.
# Usage: tests/packaging/check.sh BUILD_DIR   (on a display, for the start)
set -eu
BUILD="$(cd "$1" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "packaging: $*" >&2; exit 1; }

rm -f "$BUILD"/brivok_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null) || fail "cpack could not build the package"
DEB="$(ls "$BUILD"/brivok_*.deb)"

LIST="$(dpkg-deb -c "$DEB")"
for f in ./usr/bin/brivok ./usr/share/applications/app.brivok.Brivok.desktop \
         ./usr/share/metainfo/app.brivok.Brivok.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/app.brivok.Brivok.svg \
         ./usr/share/icons/hicolor/48x48/apps/app.brivok.Brivok.png \
         ./usr/share/icons/hicolor/256x256/apps/app.brivok.Brivok.png \
         ./usr/share/brivok/app/brivok_cli/main.py ./usr/share/brivok/python/bin/python3 \
         ./usr/share/brivok/site-packages/ ./usr/share/doc/brivok/copyright; do
  echo "$LIST" | grep -q " $f\( \|$\)" || fail "the package lacks $f"
done
echo "$LIST" | grep -q "__pycache__" && fail "the package ships compiled modules; postinst makes them"
DEPENDS="$(dpkg-deb -f "$DEB" Depends)"
for d in libgtk-3-0 libwebkit2gtk-4.1-0 libsoup-3.0-0 python3; do
  echo "$DEPENDS" | grep -q "$d" || fail "the package does not depend on $d: $DEPENDS"
done

dpkg-deb -x "$DEB" "$WORK/root"
grep -qx "Exec=/usr/bin/brivok" "$WORK/root/usr/share/applications/app.brivok.Brivok.desktop" ||
  fail "the desktop entry does not run /usr/bin/brivok"
desktop-file-validate "$WORK/root/usr/share/applications/app.brivok.Brivok.desktop"
appstreamcli validate --no-net "$WORK/root/usr/share/metainfo/app.brivok.Brivok.metainfo.xml" >/dev/null ||
  fail "AppStream validation failed"
lintian --fail-on error "$DEB" 2>/dev/null || fail "lintian found errors in the package"

if [ "$(id -u)" -ne 0 ] || dpkg -s brivok >/dev/null 2>&1; then
  echo "packaging: checked (installing it needs root and no brivok installed; skipped)"
  exit 0
fi
dpkg -i "$DEB" >/dev/null || fail "the package does not install"
[ -d /usr/share/brivok/app/brivok_cli/__pycache__ ] || fail "postinst did not compile the backend"
[ "$(PYTHONPATH=/usr/share/brivok/app /usr/share/brivok/python/bin/python3 -m brivok_cli.main --version)" = "brivok 0.1.0" ] ||
  fail "the installed backend does not run"
# Started as a launcher starts it, in a home of its own: the backend comes up.
mkdir -p "$WORK/home"
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" XDG_STATE_HOME="$WORK/state" \
  XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" \
  gio launch /usr/share/applications/app.brivok.Brivok.desktop >/dev/null 2>&1 &
started=""
for _ in $(seq 100); do
  if grep -q "^BRIVOK_READY " "$WORK/state/brivok/backend.log" 2>/dev/null; then started=1; break; fi
  sleep 0.2
done
for pid in $(pgrep -x brivok); do
  grep -qz "^HOME=$WORK/home\$" "/proc/$pid/environ" 2>/dev/null && kill -TERM "$pid"
done
sleep 1
[ -n "$started" ] || { dpkg -r brivok >/dev/null; fail "the launcher entry did not start the app"; }
dpkg -r brivok >/dev/null || fail "the package does not remove"
[ ! -e /usr/share/brivok ] && [ ! -e /usr/bin/brivok ] && [ ! -e /usr/share/applications/app.brivok.Brivok.desktop ] ||
  fail "removing the package left files behind"
echo "packaging: checked, installed, started and removed"
