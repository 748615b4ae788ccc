#!/usr/bin/env bash
# The live-view stream's figures, measured side by side in one run on
# loopback, as a table of ratios. Needs a built tree (make build) and, for
# the console figure, `npm ci` in tests/web (make deps does it).
#   bench/stream_figures.sh [build dir, default build] [soak minutes, default 0]
# With soak minutes (e.g. 10) ten viewers stay open that long at the end and
# the server's memory after 1 minute and after the soak is compared.
# Addresses: camera 127.0.144.1, server 127.0.144.2 port 8080 (another block
# with KAMORA_STREAM_NET=127.0.145, so that a soak can run beside).
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
soak=${2:-0}
mac=02:00:00:00:00:01
net=${KAMORA_STREAM_NET:-127.0.144}
[[ $net == 127.* ]] || exit 2
cam=$net.1 host=$net.2
work=$(mktemp -d /tmp/kamora-stream.XXXXXX)
source bench/rig.sh

field() { grep -o "$2=[-0-9.]*" <<<"$1" | head -1 | cut -d= -f2; }
verdict() { awk -v v="$1" -v t="$2" -v op="$3" 'BEGIN { if (v == "" || v == "n/a") print "-"; else if ((op == "le" && v <= t) || (op == "ge" && v >= t)) print "met"; else print "MISSED" }'; }

connectedRig "stream figures" $cam $host "$work/srv"

echo "== stream viewers, delay, CPU, requests beside streams"
out1=$("$build/bench/perf_stream" --kamora $host:$serverPort --camera $cam --pid "$serverPid" \
  --seconds 10 --soak-minutes "$soak")
echo "$out1" | grep -v '^RESULT'

echo "== /liveview.jpg back to back with a feed running"
curl -s -o /dev/null "http://$host:$serverPort/liveview.mjpg" &
viewer=$!
sleep 1
out2=$("$build/bench/perf_liveview" --kamora $host:$serverPort --camera $cam --requests 500)
kill $viewer 2>/dev/null
echo "$out2" | grep -v '^RESULT'

echo "== console, Fluido"
if [[ -d tests/web/node_modules ]]; then
  out3=$(node bench/console/stream-bench.js "http://$host:$serverPort" 10)
  echo "$out3" | grep -v '^RESULT'
else
  echo "  (tests/web/node_modules missing: run make deps)"
  out3=""
fi

feed=$(field "$out1" feed_fps)
interval=$(awk -v f="$feed" 'BEGIN { printf "%.1f", (f > 0 ? 1000 / 30 : 0) }')
delayTarget=$(awk -v i="$interval" 'BEGIN { printf "%.1f", i + 5 }')
r1=$(field "$out1" ratio1) r4=$(field "$out1" ratio4) r10=$(field "$out1" ratio10)
grabs=$(field "$out1" grabs10_over_1) slow=$(field "$out1" slow_ratio)
p95=$(field "$out1" delay_p95) p50=$(field "$out1" delay_p50)
cpu1=$(field "$out1" cpu_one_min) cpuV=$(field "$out1" cpu_viewer_min)
st=$(field "$out1" status_ratio) pr=$(field "$out1" properties_ratio) ca=$(field "$out1" capture_ratio)
ca1=$(field "$out1" capture_ratio1)
st100=$(field "$out1" status100) pr100=$(field "$out1" properties100)
lv100=$(field "$out1" liveview100) ca100=$(field "$out1" capture100)
st100q=$(field "$out1" status100q) pr100q=$(field "$out1" properties100q)
lv100q=$(field "$out1" liveview100q) ca100q=$(field "$out1" capture100q)
worst100q=$(awk -v a=$st100q -v b=$pr100q -v c=$lv100q -v d=$ca100q 'BEGIN { m = a; if (b > m) m = b; if (c > m) m = c; if (d > m) m = d; print m }')
worst100=$(awk -v a=$st100 -v b=$pr100 -v c=$lv100 -v d=$ca100 'BEGIN { m = a; if (b > m) m = b; if (c > m) m = c; if (d > m) m = d; print m }')
jpgK=$(field "$out2" liveview_kamora_ms) jpgD=$(field "$out2" liveview_direct_ms) jpgR=$(field "$out2" liveview_ratio)
conR=$(field "$out3" ratio) conD=$(field "$out3" console_stream_drawn_fps) conF=$(field "$out3" feed_fps)
conC=$(field "$out3" cost_ms)
rss1=$(field "$out1" rss1) rssN=$(field "$out1" rssN)
echo
echo "| Figure | Measured | Target | |"
echo "|---|---|---|---|"
echo "| Delivered ÷ feed rate (feed $feed pictures/s), lowest viewer: 1 / 4 / 10 viewers | **$r1 / $r4 / $r10** | >= 0.95 each | $(verdict "$(awk -v a=$r1 -v b=$r4 -v c=$r10 'BEGIN { m = a; if (b < m) m = b; if (c < m) m = c; print m }')" 0.95 ge) |"
echo "| Camera grabs/s with 10 viewers ÷ with 1 | **$grabs** | <= 1.05 | $(verdict "$grabs" 1.05 le) |"
echo "| 4 viewers' rate beside one reading a picture a second ÷ without it | **$slow** | >= 0.95 | $(verdict "$slow" 0.95 ge) |"
echo "| Delay camera render → viewer, p95 (p50 $p50 ms) | **$p95 ms** | <= $delayTarget ms | $(verdict "$p95" "$delayTarget" le) |"
echo "| /liveview.jpg back to back with a feed running, KAMORA ÷ camera | $jpgK ms / $jpgD ms = **$jpgR** | <= 1.0 | $(verdict "$jpgR" 1.0 le) |"
echo "| Console Fluido 1024 × 680, every overlay + look: drawn/s ÷ feed | $conD / $conF = **${conR:-n/a}** (main thread ${conC:-n/a} ms a picture) | >= 0.8 | $(verdict "${conR:-n/a}" 0.8 ge) |"
echo "| Server CPU per minute: one viewer (feed included) / each further viewer | **$cpu1 s / $cpuV s** | - | - |"
echo "| With 10 streams ÷ without: /status / /properties / capture (medians; capture ÷ with 1 stream: $ca1) | **$st / $pr / $ca** | ~1 | - |"
echo "| With 100 streams ÷ without a stream: /status / /properties / /liveview.jpg every 150 ms / capture (medians) | **$st100q / $pr100q / $lv100q / $ca100q** | <= 1.2 | $(verdict "$worst100q" 1.2 le) |"
echo "| With 100 streams ÷ with 1 (feed running in both): /status / /properties / /liveview.jpg every 150 ms / capture (medians) | **$st100 / $pr100 / $lv100 / $ca100** | <= 1.2 | $(verdict "$worst100" 1.2 le) |"
if [[ $soak -gt 0 ]]; then
  echo "| Server RSS with 10 viewers after $soak min ÷ after 1 min | $rssN kB / $rss1 kB = **$(awk -v a=$rssN -v b=$rss1 'BEGIN { printf "%.3f", a / b }')** | <= 1.05 | $(verdict "$(awk -v a=$rssN -v b=$rss1 'BEGIN { printf "%.3f", a / b }')" 1.05 le) |"
fi
