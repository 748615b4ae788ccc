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
mac=02:00:00:00:00:01
work=$(mktemp -d /tmp/kamora-load.XXXXXX)
source bench/rig.sh

startCamera $cam
startServer $host "$work"
if ! cameraUp $cam || ! serverUp $host; then
  echo "load test: camera or server did not start"
  cat "$work/vcam-$cam.log" "$work/kamora-$host.log"
  exit 1
fi
if ! connect $host $cam; then
  echo "load test: connect answered $reply"
  exit 1
fi

echo "load test: 4 clients ($pace pace) + captures every 3 s + /status probe, ${seconds} s"
"$build/bench/load_client" --host $host --port $serverPort --clients 4 --seconds "$seconds" --pace "$pace" \
  --capture-every-ms 3000 --status-probe-ms 50 | grep -v '^RESULT'
status=${PIPESTATUS[0]}

# Nothing lost: every capture the client saw answered reached the disk.
shots=$(curl -s -m 5 "http://$cam:$vcamPort/vcam/state" | grep -o '"shots":[0-9]*' | grep -o '[0-9]*$')
files=$(find "$work/captures" -type f 2>/dev/null | wc -l)
echo "camera shots: ${shots:-?}, pictures saved: $files"
if [[ ${shots:-x} != "$files" ]]; then
  echo "load test: pictures lost"
  status=1
fi
if ! kill -0 "$serverPid" 2>/dev/null; then
  echo "load test: the server died"
  status=1
fi
exit "$status"
