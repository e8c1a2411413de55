#!/bin/sh
# Sign-in window costs against a fresh web view, on the local login site.
# Usage: xvfb-run -a bench/signin.sh [BUILD_DIR] [ROUNDS]
set -eu
build=${1:-build}
rounds=${2:-10}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
python3 "$here/tests/sites/server.py" >"$work/port" &
server=$!
while [ ! -s "$work/port" ]; do sleep 0.1; done
port=$(head -n1 "$work/port")
export GSETTINGS_BACKEND=memory
"$build/bin/signin_bench" "http://127.0.0.1:$port" "$work" "$rounds"
