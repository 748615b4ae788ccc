#!/usr/bin/env bash
# Runs every test suite; exits non-zero when any fails.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== unit and integration tests ($build)"
ctest --test-dir "$build" -j "$jobs" --output-on-failure || status=1

# Browser tests of the console (headless Chromium), when present.
if [[ -x tests/web/run.sh ]]; then
  echo "== browser tests"
  tests/web/run.sh "$build" || status=1
fi

exit $status
