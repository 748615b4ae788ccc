#!/usr/bin/env bash
# A rig on one machine over MQTT: mosquitto on a loopback port, N nodes
# (kamora --server --mqtt) each with its own virtual cameras on loopback
# addresses of their own, and volleys fired through mosquitto_pub, each at
# a wall-clock time 250 ms ahead. Prints every node's result of every volley.
#   bench/mqtt_rig.sh [build] [nodes, 4] [cameras per node, 2] [volleys, 5]
# KEEP=1 leaves the rig up until Ctrl+C, to watch and command it:
#   mosquitto_sub -h 127.22.200.1 -p 1883 -v -t 'kamora/#'
# Addresses 127.22.200-220.x; run it in a network namespace of its own
# when others share the machine.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
nodes=${2:-4}
perNode=${3:-2}
volleys=${4:-5}
work=$(mktemp -d /tmp/kamora-mqtt-rig.XXXXXX)
build=$(cd "$build" && pwd)
mac=02:00:00:00:00:01  # rig.sh's startCamera: set per camera below
# shellcheck source=bench/rig.sh
source bench/rig.sh

broker=127.22.200.1
brokerPort=1883
for tool in mosquitto mosquitto_pub mosquitto_sub; do
  command -v $tool >/dev/null || {
    echo "mqtt_rig: $tool is missing (make deps)"
    exit 1
  }
done
printf 'listener %s %s\nallow_anonymous true\npersistence false\nset_tcp_nodelay true\n' \
  $brokerPort $broker >"$work/mosquitto.conf"
[[ $(id -u) == 0 ]] && echo "user root" >>"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/$broker/$brokerPort") 2>/dev/null && break
  sleep 0.1
done

# Every node's volley results, heard from the start.
mosquitto_sub -h $broker -p $brokerPort -q 1 -t 'kamora/+/volley/#' -v >"$work/results" &
pids+=("$!")

nodeHost() { echo "127.22.200.$((10 + $1))"; }
cameraIp() { echo "127.22.$((201 + $1)).$((1 + $2))"; }
cameraMac() { printf '02:00:00:22:%02x:%02x' "$1" "$2"; }
cameraId() { if (($1 == 0)); then echo main; else echo "cam$(($1 + 1))"; fi; }

for ((n = 0; n < nodes; n++)); do
  for ((c = 0; c < perNode; c++)); do
    mac=$(cameraMac $n $c)
    startCamera "$(cameraIp $n $c)"
  done
  host=$(nodeHost $n)
  mkdir -p "$work/node$n"
  (cd "$work/node$n" && exec "$build/kamora" --server --host "$host" --port $serverPort \
    --mqtt "$broker:$brokerPort" --node "node$n") >"$work/kamora-node$n.log" 2>&1 &
  pids+=("$!")
done
for ((n = 0; n < nodes; n++)); do
  host=$(nodeHost $n)
  serverUp "$host" || {
    echo "mqtt_rig: node$n did not come up"
    exit 1
  }
  for ((c = 0; c < perNode; c++)); do
    ip=$(cameraIp $n $c)
    cameraUp "$ip" || {
      echo "mqtt_rig: camera $ip did not come up"
      exit 1
    }
    if ((c == 0)); then
      mac=$(cameraMac $n $c)
      connect "$host" "$ip" || echo "node$n main: $reply"
    else
      reply=$(curl -s -m 20 -d "id=$(cameraId $c)&ip=$ip&mac=$(cameraMac $n $c)" \
        "http://$host:$serverPort/cameras")
      [[ $reply == *'"id"'* ]] || echo "node$n $(cameraId $c): $reply"
    fi
  done
done
echo "rig: $nodes nodes x $perNode cameras, broker $broker:$brokerPort"

for ((v = 1; v <= volleys; v++)); do
  id="rig-$$-$v"
  at=$(($(date +%s%3N) + 250))
  mosquitto_pub -h $broker -p $brokerPort -q 1 -t kamora/rig/volley \
    -m "{\"id\":\"$id\",\"at\":$at,\"shots\":1}"
  for _ in $(seq 100); do
    (($(grep -c "/volley/$id " "$work/results") >= nodes)) && break
    sleep 0.1
  done
  grep "/volley/$id " "$work/results"
done

if [[ ${KEEP:-0} == 1 ]]; then
  echo "rig up; watch: mosquitto_sub -h $broker -p $brokerPort -v -t 'kamora/#'  (Ctrl+C ends)"
  while sleep 1; do :; done
fi
