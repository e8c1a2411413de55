#!/bin/sh
# Floods 1 GiB of backend output through the shell into its log and compares the time
# with `cat` moving the same bytes into a file, on this machine, in this run.
# Usage: bench/flood.sh [build-dir]   (needs a display, or run it under xvfb-run -a)
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
SIZE=$((1024 * 1024 * 1024))
WORK="$(mktemp -d)"
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
date +%s.%N >"$WORK/spawned"
printf 'BRIVOK_READY http://127.0.0.1:9/\n'
exec "$WORK/flood"
FAKE
chmod +x "$WORK/prefix/share/brivok/python/bin/python3"

now() { date +%s.%N; }

start=$(now)
"$WORK/flood" | cat >"$WORK/cat.out"
cat_secs=$(awk -v a="$start" -v b="$(now)" 'BEGIN{print b-a}')
rm -f "$WORK/cat.out"

export HOME="$WORK/home" XDG_STATE_HOME="$WORK/state" XDG_CONFIG_HOME="$WORK/config"
export XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" GSETTINGS_BACKEND=memory
mkdir -p "$HOME"
LOG="$XDG_STATE_HOME/brivok/backend.log"
start=$(now)
"$WORK/prefix/bin/brivok" >"$WORK/shell.out" 2>&1 &
shell=$!
# The ready line and its newline are not logged; everything after them is.
while :; do
  size=$(stat -c %s "$LOG" 2>/dev/null || echo 0)
  [ "$size" -ge "$SIZE" ] && break
  if ! kill -0 "$shell" 2>/dev/null; then
    echo "the shell ended before the log was full ($size bytes):" >&2
    cat "$WORK/shell.out" >&2
    exit 1
  fi
  sleep 0.05
done
end=$(now)
shell_secs=$(awk -v a="$start" -v b="$end" 'BEGIN{print b-a}')
flow_secs=$(awk -v a="$(cat "$WORK/spawned")" -v b="$end" 'BEGIN{print b-a}')
kill -TERM "$shell"
wait "$shell" || true

awk -v c="$cat_secs" -v s="$shell_secs" -v f="$flow_secs" 'BEGIN {
  printf "cat:   %.2f s for 1 GiB (%.0f MiB/s)\n", c, 1024 / c
  printf "shell: %.2f s for 1 GiB (%.0f MiB/s), start-up included\n", s, 1024 / s
  printf "shell: %.2f s from the backend'"'"'s start (%.0f MiB/s)\n", f, 1024 / f
  printf "ratio shell/cat: %.2f (from the backend'"'"'s start %.2f)\n", s / c, f / c
}'
