#!/bin/sh
# Native job costs under a virtual display. Usage: bench/jobs.sh [build-dir] [renders]
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
exec "$ROOT/tests/support/under-x" "$BUILD/bin/jobs_bench" "${2:-1000}"
