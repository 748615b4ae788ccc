#!/usr/bin/env bash
# Connection figures of `kamora --server` with a camera connected: 1,000 idle
# connections and 200 clients sending one byte a second held open while a
# normal client GETs /status, /properties and /liveview.jpg (p50/p99), the
# server's memory, threads and descriptors before, during and after; then a
# 1 GB Content-Length. Bounded (about three minutes). Prints figures; never
# fails on timing.
#   bench/connections.sh [build dir, default build]
# Addresses: camera 127.0.86.1, server 127.0.86.2 port 8080.
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
mac=02:00:00:00:00:01
cam=127.0.86.1 host=127.0.86.2
work=$(mktemp -d /tmp/kamora-connections.XXXXXX)
source bench/rig.sh

connectedRig "connections" $cam $host "$work/server"
for path in /status /properties /liveview.jpg; do
  echo "== $path"
  timeout 150 "$build/bench/http_connections" --host $host --port $serverPort --path $path \
    --pid "$serverPid" | grep -E "^(before|during|after|GET|closed)"
done
echo "== 1 GB Content-Length"
timeout 60 "$build/bench/http_connections" --host $host --port $serverPort --path /capture \
  --pid "$serverPid" --big-body | grep -E "^(before|1 GB|server rss|after)"
