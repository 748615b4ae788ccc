# Sourced by demo.sh: a mosquitto broker on loopback for the demo's server
# to join as node "demo", when mosquitto is installed and its port is free.
# Sets mqttArgs (the server's extra options) and prints how to watch.
# shellcheck shell=bash disable=SC2154  # pids, listening: demo.sh's own

mqttHost=127.0.0.1
mqttPort=1883
mqttArgs=()
mqttDemoStart() {
  command -v mosquitto >/dev/null || return 0
  listening "$mqttHost" "$mqttPort" && return 0
  local conf="$workdir/mosquitto.conf"
  printf 'listener %s %s\nallow_anonymous true\npersistence false\nset_tcp_nodelay true\n' \
    "$mqttPort" "$mqttHost" >"$conf"
  mosquitto -c "$conf" >"$workdir/mosquitto.log" 2>&1 &
  pids+=($!)
  waitFor "$mqttHost" "$mqttPort" "O broker MQTT"
  mqttArgs=(--mqtt "$mqttHost:$mqttPort" --node demo)
}
mqttDemoHelp() {
  ((${#mqttArgs[@]})) || return 0
  cat <<EOT
O servidor tambem e o no "demo" de um rig MQTT (broker em $mqttHost:$mqttPort).
Para acompanhar e comandar pelo broker (veja docs/mqtt.md):

    mosquitto_sub -h $mqttHost -p $mqttPort -v -t 'kamora/#'
    mosquitto_pub -h $mqttHost -p $mqttPort -t kamora/demo/main/cmd/capture -m 'shots=1'

EOT
}
