#!/usr/bin/env bash
# The performance figures, measured side by side in one run on loopback, as
# a table. Needs a built tree (make build) and, for the console figure,
# `npm ci` in tests/web (make deps does it).
#   bench/figures.sh [build dir, default build]
# Addresses: cameras 127.0.85.1/.3/.4, servers 127.0.85.2/.5 port 8080.
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
mac=02:00:00:00:00:01
cam=127.0.85.1 twin=127.0.85.3 clicam=127.0.85.4 host=127.0.85.2 memhost=127.0.85.5
work=$(mktemp -d /tmp/kamora-figures.XXXXXX)
source bench/rig.sh

up() {  # camera or server check, address
  "$1" "$2" || {
    echo "figures: $2 did not come up"
    exit 1
  }
}
field() {  # text, key: the value of key=... in RESULT lines
  grep -o "$2=[0-9.]*" <<<"$1" | head -1 | cut -d= -f2
}
rssKb() { ps -o rss= -p "$1" | tr -d ' '; }
nowMs() { echo $(($(date +%s%N) / 1000000)); }

for c in $cam $twin $clicam; do startCamera $c; done
startServer $host "$work/srv-$host"
startServer $memhost "$work/srv-$memhost"
memPid=$serverPid
for c in $cam $twin $clicam; do up cameraUp $c; done
up serverUp $host
up serverUp $memhost
for s in $host $memhost; do
  connect $s $cam || {
    echo "figures: connect $s -> $cam: $reply"
    exit 1
  }
done

echo "== 1. live-view path overhead"
# a: at the console's pace (40 ms apart), every picture freshly rendered by
# the camera; b: back to back, mostly the frame the camera already holds.
out1=$("$build/bench/perf_liveview" --kamora $host:$serverPort --camera $cam --requests 150 --gap-ms 40)
echo "$out1" | grep -v '^RESULT'
lvK=$(field "$out1" liveview_kamora_ms)
lvD=$(field "$out1" liveview_direct_ms)
lvRatio=$(field "$out1" liveview_ratio)
out1b=$("$build/bench/perf_liveview" --kamora $host:$serverPort --camera $cam --requests 500)
echo "$out1b" | grep -v '^RESULT'
lvKb=$(field "$out1b" liveview_kamora_ms)
lvDb=$(field "$out1b" liveview_direct_ms)
lvRatiob=$(field "$out1b" liveview_ratio)

echo "== 2. command-line live view"
# Two runs, 10 and 70 picture requests: the difference cancels the start-up
# and connection time.
cliRun() {  # frames -> elapsed ms
  local dir="$work/cli-$1" t0 t1
  mkdir -p "$dir"
  t0=$(nowMs)
  (cd "$dir" && "$build/kamora" --liveview $clicam $mac --frames "$1" >"$dir/out.log" 2>&1)
  t1=$(nowMs)
  echo $((t1 - t0))
}
ms10=$(cliRun 10)
ms70=$(cliRun 70)
frames10=$(ls "$work/cli-10/captures" | wc -l)
frames70=$(ls "$work/cli-70/captures" | wc -l)
cliFps=$(awk -v f=$((frames70 - frames10)) -v t=$((ms70 - ms10)) 'BEGIN { printf "%.2f", (t > 0 ? f * 1000 / t : 0) }')
idealFps=$(awk -v c="$lvD" 'BEGIN { printf "%.2f", 1000 / (33 + c) }')
cliRatio=$(awk -v a="$cliFps" -v b="$idealFps" 'BEGIN { printf "%.3f", a / b }')
echo "  $frames10 frames in $ms10 ms, $frames70 frames in $ms70 ms: $cliFps pictures/s; ideal $idealFps"

echo "== 3. capture"
out3=$("$build/bench/perf_capture" --kamora $host:$serverPort --twin $twin --mac $mac --shots 10)
echo "$out3" | grep -v '^RESULT'
capOver=$(field "$out3" capture_overhead_ms)
capK=$(field "$out3" capture_kamora_ms)
capD=$(field "$out3" capture_camera_ms)

echo "== 4. console frame cost"
if [[ -d tests/web/node_modules ]]; then
  out4=$(node bench/console/chain-bench.js 40 1b074b7 640x426 1024x680)
  echo "$out4" | grep -v '^RESULT'
  con640=$(field "$out4" chain_640x426_after)
  con1024=$(field "$out4" chain_1024x680_after)
else
  echo "  (tests/web/node_modules missing: run make deps)"
  con640=n/a con1024=n/a
fi

echo "== 5. /status while two consoles poll and captures run"
out5=$("$build/bench/load_client" --host $host --port $serverPort --clients 2 --seconds 20 \
  --capture-every-ms 1500 --status-probe-ms 20)
echo "$out5" | grep -v '^RESULT'
statusP99=$(grep 'route=/status(probe)' <<<"$out5" | grep -o 'p99=[0-9.]*' | cut -d= -f2)

echo "== 6. server memory"
rssIdle=$(rssKb $memPid)
"$build/bench/load_client" --host $memhost --port $serverPort --liveview-only 10000 --seconds 300 | grep '^total'
rss10k=$(rssKb $memPid)
"$build/bench/load_client" --host $memhost --port $serverPort --liveview-only 10000 --seconds 300 | grep '^total'
rss20k=$(rssKb $memPid)
echo "  RSS idle $rssIdle kB, after 10000 live-view requests $rss10k kB, after 20000 $rss20k kB"

verdict() { awk -v v="$1" -v t="$2" -v op="$3" 'BEGIN { if (v == "n/a") print "-"; else if ((op == "le" && v <= t) || (op == "ge" && v >= t)) print "met"; else print "MISSED" }'; }
echo
echo "| # | Figure | Measured | Target | |"
echo "|---|---|---|---|---|"
echo "| 1a | Live-view path at console pace (fresh frame each): median through KAMORA / straight from the camera | $lvK ms / $lvD ms = **$lvRatio** | <= 1.2 | $(verdict "$lvRatio" 1.2 le) |"
echo "| 1b | Live-view path back to back (camera's held frame): same ratio | $lvKb ms / $lvDb ms = **$lvRatiob** | <= 1.2 | $(verdict "$lvRatiob" 1.2 le) |"
echo "| 2 | Command-line live view: pictures/s against 1000/(33 + $lvD ms) | $cliFps / $idealFps = **$cliRatio** | >= 0.9 | $(verdict "$cliRatio" 0.9 ge) |"
echo "| 3 | Capture: /capture answer minus the camera's render + transfer | $capK ms - $capD ms = **$capOver ms** | <= 200 ms | $(verdict "$capOver" 200 le) |"
echo "| 4 | Console picture chain in its worker: decode, every overlay + look, scopes (median) | 640x426: **$con640 ms**, 1024x680: **$con1024 ms** | - | - |"
echo "| 5 | /status p99, two consoles polling + captures | **$statusP99 ms** | <= 50 ms | $(verdict "$statusP99" 50 le) |"
echo "| 6 | Server RSS: idle / after 10000 / after 20000 live-view requests | $rssIdle / $rss10k / $rss20k kB | no growth | $(awk -v a=$rss10k -v b=$rss20k 'BEGIN { print (b - a <= 1024 ? "met" : "MISSED") }') |"
