#!/bin/sh
# What a person sees at start-up, for the shell and for a bare GTK/WebKit program on the same
# backend, in alternating pairs: launch to the window on screen, and to something to read in
# its page area (screenshots of the display). Usage: tests/support/under-x bench/firstframe.sh [BUILD_DIR] [PAIRS]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
pairs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
mkdir -p "$HOME"
shell="" bare=""
i=0
while [ "$i" -lt "$pairs" ]; do
  i=$((i + 1))
  shell="$shell $("$build/bin/first_frame" "$build/bin/brivok" | tr ' ' ,)"
  bare="$bare $("$build/bin/first_frame" "$build/bin/bare_start" "$build/share/brivok" 2>/dev/null | tr ' ' ,)"
done
python3 - "$shell" "$bare" <<'PY'
import statistics, sys
def read(text):
    pairs = [tuple(float(v) for v in p.split(",")) for p in text.split()]
    return [p[0] for p in pairs], [p[1] for p in pairs]
sm, sc = read(sys.argv[1])
bm, bc = read(sys.argv[2])
print("launch → window on screen: shell median %.0f ms, bare program %.0f ms" % (statistics.median(sm), statistics.median(bm)))
print("launch → something to read: shell median %.0f ms, bare program %.0f ms" % (statistics.median(sc), statistics.median(bc)))
PY
