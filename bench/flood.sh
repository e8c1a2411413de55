#!/bin/sh
# Floods 1 GiB of backend output through the shell into its log and compares it with `cat`
# moving the same bytes into a file, on this machine, in this run; rounds alternate so both
# see the same machine, and medians are reported.
#   whole:  from the launch to the last byte in the file (the shell's start-up included);
#   steady: the second half GiB, once both are under way: the output path's own throughput.
# Usage: [FLOOD_DIR=folder] bench/flood.sh [build-dir] [rounds]   (under a display or xvfb-run -a)
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
ROUNDS="${2:-5}"
SIZE=$((1024 * 1024 * 1024))
# In memory when the machine has it: the disk's write-back would be measured, not the path.
# FLOOD_DIR=/some/folder measures on that folder's file system instead.
WORK="$(mktemp -d -p "${FLOOD_DIR:-/dev/shm}" 2>/dev/null || mktemp -d)"
trap 'rm -rf "$WORK" 2>/dev/null || { sleep 1; rm -rf "$WORK"; }' EXIT

# A copy of the shell's layout whose "interpreter" announces an address and then writes
# the flood; the binary finds its resources beside its real path, so it is copied.
mkdir -p "$WORK/prefix/bin" "$WORK/prefix/share/brivok/python/bin" "$WORK/prefix/share/brivok/app"
cp "$BUILD/bin/brivok" "$WORK/prefix/bin/brivok"
cp -r "$ROOT/resources/app/brivok_cli" "$WORK/prefix/share/brivok/app/"
cat >"$WORK/flood" <<GEN
#!/bin/sh
yes "2026-12-07 10:00:00 INFO scheduler: agent run finished in 0.42 s, nothing to report" | head -c $SIZE
GEN
chmod +x "$WORK/flood"
cat >"$WORK/prefix/share/brivok/python/bin/python3" <<FAKE
#!/bin/sh
printf 'BRIVOK_READY http://127.0.0.1:9/\n'
exec "$WORK/flood"
FAKE
chmod +x "$WORK/prefix/share/brivok/python/bin/python3"

# Watches a file grow to 1 GiB: prints the seconds from START to half and to whole. Fails if
# the process PID ends first.
cat >"$WORK/watch.py" <<'PY'
import os, sys, time
path, start, size, pid = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
half = None
while True:
    try:
        n = os.stat(path).st_size
    except FileNotFoundError:
        n = 0
    now = time.time()
    if half is None and n >= size // 2:
        half = now
    if n >= size:
        print(f"{half - start:.4f} {now - start:.4f}")
        break
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        sys.exit(f"the writer ended before the file was full ({n} bytes)")
    time.sleep(0.01)
PY

export HOME="$WORK/home" XDG_STATE_HOME="$WORK/state" XDG_CONFIG_HOME="$WORK/config"
export XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" GSETTINGS_BACKEND=memory
LOG="$XDG_STATE_HOME/brivok/backend.log"

for round in $(seq "$ROUNDS"); do
  rm -f "$WORK/cat.out"
  start=$(python3 -c 'import time; print(time.time())')
  sh -c "\"$WORK/flood\" | cat >\"$WORK/cat.out\"" &
  writer=$!
  python3 "$WORK/watch.py" "$WORK/cat.out" "$start" "$SIZE" "$writer" >>"$WORK/cat.times"
  wait "$writer"
  rm -f "$WORK/cat.out"

  mkdir -p "$HOME"
  start=$(python3 -c 'import time; print(time.time())')
  "$WORK/prefix/bin/brivok" >"$WORK/shell.out" 2>&1 &
  shell=$!
  # The ready line and its newline are not logged; everything after them is.
  if ! python3 "$WORK/watch.py" "$LOG" "$start" "$SIZE" "$shell" >>"$WORK/shell.times"; then
    cat "$WORK/shell.out" >&2
    exit 1
  fi
  kill -TERM "$shell"
  wait "$shell" || true
  rm -rf "$HOME" "$XDG_STATE_HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
done

python3 - "$WORK/cat.times" "$WORK/shell.times" <<'PY'
import statistics, sys
def rounds(path):
    return [tuple(map(float, line.split())) for line in open(path)]
cat, shell = rounds(sys.argv[1]), rounds(sys.argv[2])
whole = [s[1] / c[1] for c, s in zip(cat, shell)]
steady = [(s[1] - s[0]) / (c[1] - c[0]) for c, s in zip(cat, shell)]
mib = lambda seconds: 512 / seconds
print(f"rounds: {len(cat)}")
print(f"cat:    whole {statistics.median(c[1] for c in cat):.2f} s, "
      f"steady {statistics.median(mib(c[1] - c[0]) for c in cat):.0f} MiB/s")
print(f"shell:  whole {statistics.median(s[1] for s in shell):.2f} s, "
      f"steady {statistics.median(mib(s[1] - s[0]) for s in shell):.0f} MiB/s")
print("ratio shell/cat, whole:  median %.2f (%s)" % (statistics.median(whole),
      " ".join(f"{r:.2f}" for r in whole)))
print("ratio shell/cat, steady: median %.2f (%s)" % (statistics.median(steady),
      " ".join(f"{r:.2f}" for r in steady)))
PY
