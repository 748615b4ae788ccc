#!/usr/bin/env bash
# The long runs behind `make soak`: every fuzz target for KAMORA_SOAK_FUZZ_SECONDS
# (600 s each by default), the one-minute load test, the figures table and the
# sequence figures (200 bracket frames at 2 s, 1,000 frames at 1 s: about 25
# minutes). Bounded: about an hour and a half with the defaults on 2 cores.
#   bench/load_soak.sh [build dir, default build]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== fuzz build (build-fuzz, clang)"
if CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKAMORA_FUZZ=ON \
  -DKAMORA_SANITIZE=address -DKAMORA_TESTS=OFF >/dev/null &&
  cmake --build build-fuzz -j "$jobs" --target fuzz_all; then
  echo "== fuzzing, ${KAMORA_SOAK_FUZZ_SECONDS:-600} s per target"
  fuzz/run.sh build-fuzz "${KAMORA_SOAK_FUZZ_SECONDS:-600}" || status=1
else
  status=1
fi
echo "== load test, 60 s"
bench/load_test.sh "$build" 60 || status=1
echo "== figures"
bench/figures.sh "$build" || status=1
echo "== sequence figures, about 25 minutes"
"$build/bench/sequence_figures" --parts day,away,bracket,soak || status=1
exit $status
