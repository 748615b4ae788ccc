# Sourced by the benchmark scripts: virtual cameras and `kamora --server`
# on loopback, started in the background, waited for, connected, and all
# stopped (with $work removed) when the script exits. Set before sourcing:
# build (a built tree), work (a scratch folder) and mac (the cameras' MAC).
# shellcheck shell=bash disable=SC2154  # build, work and mac: set by the caller

# The port the stand-in SDK finds cameras on: KAMORA_VCAM_PORT as the
# programs read it, else the default from the one header that says.
vcamPort=${KAMORA_VCAM_PORT:-$(sed -n 's/^constexpr int kDefaultPort = \([0-9]*\);.*/\1/p' \
  "$(dirname "${BASH_SOURCE[0]}")/../sdk/standin/Wire.h")}
if [[ -z $vcamPort ]]; then
  echo "rig: no camera port in sdk/standin/Wire.h"
  exit 1
fi
serverPort=8080
pids=()
rigStop() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap rigStop EXIT

statusBody() { printf '{"status":"%s"}' "$1"; }

startCamera() {  # ip; output in $work/vcam-IP.log
  "$build/kamora-vcam" --ip "$1" --mac "$mac" >"$work/vcam-$1.log" 2>&1 &
  pids+=("$!")
}
startServer() {  # host, working folder; output in $work/kamora-HOST.log, pid in $serverPid
  mkdir -p "$2"
  (cd "$2" && exec "$build/kamora" --server --host "$1" --port $serverPort) \
    >"$work/kamora-$1.log" 2>&1 &
  serverPid=$!
  pids+=("$serverPid")
}
waitUp() {  # url: true once it answers, false after 10 s
  for _ in $(seq 100); do
    curl -s -m 1 -o /dev/null "$1" && return 0
    sleep 0.1
  done
  return 1
}
cameraUp() { waitUp "http://$1:$vcamPort/vcam/state"; }
serverUp() { waitUp "http://$1:$serverPort/status"; }
connect() {  # server, camera: true when the server answers "conectado"; the reply in $reply
  reply=$(curl -s -m 20 -d '' "http://$1:$serverPort/connect?ip=$2&mac=$mac")
  [[ $reply == "$(statusBody conectado)" ]]
}
# label, camera ip, server host, server folder: starts both, waits for them
# and connects; on a failure says so under the label and exits.
connectedRig() {
  startCamera "$2"
  startServer "$3" "$4"
  cameraUp "$2" && serverUp "$3" || {
    echo "$1: camera or server did not come up"
    exit 1
  }
  connect "$3" "$2" || {
    echo "$1: connect: $reply"
    exit 1
  }
}
