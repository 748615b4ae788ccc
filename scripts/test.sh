#!/usr/bin/env bash
# Runs every test suite; exits non-zero when any fails.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== unit and integration tests ($build)"
ctest --test-dir "$build" -j "$jobs" --output-on-failure || status=1

exit $status
