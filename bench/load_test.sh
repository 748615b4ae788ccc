#!/usr/bin/env bash
# Load test on loopback: a virtual camera, `kamora --server` connected to it,
# and load_client (a second process) with four console-like clients polling
# "/status", "/properties" and "/liveview.jpg" while a capture runs every
# 3 s, plus a tight "/status" probe. Fails when any request failed.
#   bench/load_test.sh <build dir> [seconds, default 60] [console|flat]
# "flat" drops the console's pauses: each client asks as fast as it is
# answered (a stress run, not a console's pattern).
# Addresses: camera 127.0.80.1, server 127.0.80.2:8080.
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
pace=${3:-console}
cam=127.0.80.1
host=127.0.80.2
port=8080
mac=02:00:00:00:00:01
work=$(mktemp -d /tmp/kamora-load.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/kamora-vcam" --ip $cam --mac $mac >"$work/vcam.log" 2>&1 &
pids+=($!)
(cd "$work" && exec "$build/kamora" --server --host $host --port $port) >"$work/kamora.log" 2>&1 &
pids+=($!)

# Both up within 10 s, or give up.
up=0
for _ in $(seq 100); do
  if curl -s -m 1 -o /dev/null "http://$cam:15740/vcam/state" &&
    curl -s -m 1 -o /dev/null "http://$host:$port/status"; then
    up=1
    break
  fi
  sleep 0.1
done
if ((!up)); then
  echo "load test: camera or server did not start"
  cat "$work/vcam.log" "$work/kamora.log"
  exit 1
fi
reply=$(curl -s -m 20 -d '' "http://$host:$port/connect?ip=$cam&mac=$mac")
if [[ $reply != '{"status":"conectado"}' ]]; then
  echo "load test: connect answered $reply"
  exit 1
fi

echo "load test: 4 clients ($pace pace) + captures every 3 s + /status probe, ${seconds} s"
"$build/bench/load_client" --host $host --port $port --clients 4 --seconds "$seconds" --pace "$pace" \
  --capture-every-ms 3000 --status-probe-ms 50 | grep -v '^RESULT'
status=${PIPESTATUS[0]}

# Nothing lost: every capture the client saw answered reached the disk.
shots=$(curl -s -m 5 "http://$cam:15740/vcam/state" | grep -o '"shots":[0-9]*' | grep -o '[0-9]*$')
files=$(find "$work/captures" -type f 2>/dev/null | wc -l)
echo "camera shots: ${shots:-?}, pictures saved: $files"
if [[ ${shots:-x} != "$files" ]]; then
  echo "load test: pictures lost"
  status=1
fi
if ! kill -0 "${pids[1]}" 2>/dev/null; then
  echo "load test: the server died"
  status=1
fi
exit "$status"
