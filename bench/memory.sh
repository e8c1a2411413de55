#!/bin/sh
# Four never-shown pages that take memory without end, under a virtual display, against the
# local test sites. Usage: bench/memory.sh [build-dir] [pages]
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
DATA="$(mktemp -d)"
trap 'kill "$SITES" 2>/dev/null; rm -rf "$DATA"' EXIT
python3 "$ROOT/tests/sites/server.py" > "$DATA/port" &
SITES=$!
while [ ! -s "$DATA/port" ]; do sleep 0.1; done
"$ROOT/tests/support/under-x" "$BUILD/bin/memory_bench" "http://127.0.0.1:$(cat "$DATA/port")" \
  "$DATA" "${2:-4}"
