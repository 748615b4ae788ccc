#!/usr/bin/env bash
# Runs every fuzz target for a bounded time over its seed corpus.
#   fuzz/run.sh <build-fuzz dir> [seconds per target, default 30]
# New inputs go to <build>/fuzz-corpus/<target> (kept between runs, never into
# the repository); a crash leaves its input in <build>/fuzz-artifacts/ and
# makes the run fail. Add an input worth keeping to fuzz/corpus/<target>.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz/run.sh <build-fuzz dir> [seconds]}
seconds=${2:-30}
# Absolute paths: a target may change its working directory.
build=$(cd "$build" && pwd)
seeds=$(pwd)/fuzz/corpus
targets=(fuzz_shutter fuzz_options fuzz_ip_mac fuzz_request_guard fuzz_routes fuzz_exif
  fuzz_mqtt_payloads fuzz_sequence fuzz_rig_file)
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
for t in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$t"
  mkdir -p "$corpus"
  log="$build/fuzz-$t.log"
  # -close_fd_mask=1: the program's own lines on standard output are noise
  # here; libFuzzer reports on standard error.
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
      "$corpus" "$seeds/$t" >"$log" 2>&1; then
    runs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    cov=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | grep -o 'cov: [0-9]*' | tail -1)
    echo "  $t: clean, ${runs:-?} runs in ${seconds}s, ${cov:-cov: ?}"
  else
    echo "  $t: FAILED (see $log and $artifacts)"
    grep -E 'ERROR|SUMMARY|fuzz_routes:' "$log" | head -5 | sed 's/^/    /'
    status=1
  fi
done
exit $status
