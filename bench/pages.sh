#!/bin/sh
# Reading real pages as native jobs: every 6th page, in sorted order, of Debian's Python
# documentation (apt install python3-doc), served on 127.0.0.1 and queued at once at the
# reference backend. Usage: bench/pages.sh [BUILD_DIR] [DOC_DIR]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
docs=${2:-/usr/share/doc/python3/html}
[ -d "$docs" ] || { echo "No documentation at $docs: apt install python3-doc" >&2; exit 1; }
work=$(mktemp -d)
trap 'kill "$site" "$backend" 2>/dev/null || true; rm -rf "$work" /tmp/brivok-pages-bench' EXIT
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$(readlink -f "$docs")" >"$work/site" 2>/dev/null &
site=$!
token=PAGESBENCH0123456789ABCDEF012345
BRIVOK_DESKTOP_TOKEN=$token PYTHONPATH="$here/resources/app" \
  python3 -m brivok_cli.main desktop --port 0 >"$work/backend" 2>/dev/null &
backend=$!
while ! grep -q 'port' "$work/site" || ! grep -q BRIVOK_READY "$work/backend"; do sleep 0.1; done
port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/site" | head -n1)
address=$(sed -n 's/^BRIVOK_READY //p' "$work/backend" | head -n1)
pages=$(cd "$(readlink -f "$docs")" && find . -name '*.html' | sed 's|^\./||' | sort | awk 'NR % 6 == 1')
# The run is not exec'd: the trap must still end the site and the backend.
# shellcheck disable=SC2086
"$here/tests/support/under-x" "$build/bin/pages_bench" "http://127.0.0.1:$port" "$address" "$token" $pages
