#!/bin/sh
# Start-up against the floor: from launch until the backend's page runs its script (the
# reference page tells its backend, which logs "page: "), for the shell and for a bare
# GTK/WebKit program that starts the same backend after GTK is up, in alternating pairs.
# Usage: xvfb-run -a bench/start.sh [BUILD_DIR] [PAIRS]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
pairs=${2:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
mkdir -p "$HOME"

# Milliseconds from now until `file` holds a line starting with "page: ", then ends `pid`.
until_page() {
  python3 - "$1" "$2" "$3" <<'PY'
import os, signal, sys, time
start, path, pid = float(sys.argv[1]), sys.argv[2], int(sys.argv[3])
deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    try:
        with open(path, errors="replace") as f:
            if any(l.startswith("page: ") for l in f):
                print("%.0f" % ((time.time() - start) * 1000))
                break
    except OSError:
        pass
    time.sleep(0.002)
os.kill(pid, signal.SIGTERM)
PY
}

shell_times="" bare_times=""
i=0
while [ "$i" -lt "$pairs" ]; do
  i=$((i + 1))
  rm -f "$work/state/brivok/backend.log"
  start=$(python3 -c 'import time; print(time.time())')
  "$build/bin/brivok" >/dev/null 2>&1 &
  pid=$!
  t=$(until_page "$start" "$work/state/brivok/backend.log" "$pid")
  wait "$pid" 2>/dev/null || true
  shell_times="$shell_times $t"

  start=$(python3 -c 'import time; print(time.time())')
  "$build/bin/bare_start" "$build/share/brivok" >/dev/null 2>"$work/bare.log" &
  pid=$!
  t=$(until_page "$start" "$work/bare.log" "$pid")
  wait "$pid" 2>/dev/null || true
  bare_times="$bare_times $t"
done
python3 - "$shell_times" "$bare_times" <<'PY'
import statistics, sys
shell = [int(x) for x in sys.argv[1].split()]
bare = [int(x) for x in sys.argv[2].split()]
s, b = statistics.median(shell), statistics.median(bare)
print("launch → the page's first script: shell median %d ms %s, bare program median %d ms %s: %.2f ×"
      % (s, shell, b, bare, s / b))
PY
