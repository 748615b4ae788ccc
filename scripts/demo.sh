#!/usr/bin/env bash
# `make demo`: four virtual cameras and the KAMORA server on loopback, with a
# rig file that adds all four to the server, until Ctrl+C stops them all.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
host=127.0.0.1
port=8080

for bin in kamora kamora-vcam; do
  if [[ ! -x "$build/$bin" ]]; then
    echo "Falta $build/$bin: rode 'make build' primeiro."
    exit 1
  fi
done

# True when something accepts connections at $1:$2.
listening() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

# The cameras: address, MAC, model, the id the rig file gives it.
cameras=(
  "127.0.0.1 02:00:00:00:00:01 SB_A4 esquerda"
  "127.0.0.2 02:00:00:00:00:02 CB_P7 cine"
  "127.0.0.3 02:00:00:00:00:03 SB_A5 direita"
  "127.0.0.4 02:00:00:00:00:04 PZ_M7 ptz"
)

for addr in "$host:$port" 127.0.0.{1,2,3,4}:15740; do
  if listening "${addr%:*}" "${addr#*:}"; then
    echo "Algo ja escuta em $addr (outra demo, ou um teste em andamento?)."
    echo "Encerre-o e rode 'make demo' de novo."
    exit 1
  fi
done

pids=()
stopping=0
stopAll() {
  trap - INT TERM EXIT
  # Newest first: the server disconnects its camera before the cameras go.
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  echo
  echo "Demo encerrada."
}
trap 'stopping=1' INT TERM
trap stopAll EXIT

# Pictures taken in the demo land here, not in the source tree.
workdir="$build/demo"
mkdir -p "$workdir"
bindir=$(cd "$build" && pwd)

for camera in "${cameras[@]}"; do
  read -r ip mac model _ <<<"$camera"
  "$bindir/kamora-vcam" --ip "$ip" --mac "$mac" --model "$model" &
  pids+=($!)
done

waitFor() {  # host port what
  for _ in $(seq 1 100); do
    listening "$1" "$2" && return 0
    sleep 0.1
  done
  echo "$3 nao respondeu em $1:$2."
  exit 1
}
for camera in "${cameras[@]}"; do
  read -r ip _ model _ <<<"$camera"
  waitFor "$ip" 15740 "A camera virtual $model"
done

# The rig file: all four cameras, each under its id. Written afresh each
# time; the server rewrites it as cameras are added and removed.
rigfile="$workdir/rig.json"
{
  echo '{"cameras":['
  for i in "${!cameras[@]}"; do
    read -r ip mac model id <<<"${cameras[i]}"
    sep=","
    [[ $i == $((${#cameras[@]} - 1)) ]] && sep=""
    echo "  {\"id\":\"$id\",\"ip\":\"$ip\",\"mac\":\"$mac\",\"model\":\"$model\",\"ssh\":false}$sep"
  done
  echo ']}'
} >"$rigfile"
chmod 600 "$rigfile"
source "$(dirname "$0")/demo-mqtt.sh"
mqttDemoStart

(cd "$workdir" && exec "$bindir/kamora" --server --host "$host" --port "$port" --rig rig.json ${mqttArgs[@]+"${mqttArgs[@]}"}) &
pids+=($!)
waitFor "$host" "$port" "O servidor KAMORA"

cat <<EOT

KAMORA pronto. Abra no navegador:

    http://$host:$port/

No formulario de conexao, digite uma das cameras virtuais:

    IP 127.0.0.1   MAC 02:00:00:00:00:01   modelo SB_A4
    IP 127.0.0.2   MAC 02:00:00:00:00:02   modelo CB_P7 (com cabeca pan/tilt)

Ou pela linha de comando:

    curl -d '' 'http://$host:$port/connect?ip=127.0.0.2&mac=02:00:00:00:00:02&model=CB_P7'
    curl -d 'shots=2' 'http://$host:$port/capture'
    curl -d '' 'http://$host:$port/ptz/move?pan=30'; curl -d '' 'http://$host:$port/ptz/stop'
    curl 'http://$host:$port/properties'
    curl -o frame.jpg 'http://$host:$port/liveview.jpg'

(Um POST precisa de corpo, mesmo vazio: -d ''.)

Um rig: o servidor tambem guarda as quatro cameras pelo id, lidas do
arquivo $rigfile (cada camera com id, ip, mac, model e ssh;
o servidor as conecta sozinho e regrava o arquivo a cada camera
adicionada ou removida):

    esquerda  127.0.0.1  SB_A4        direita  127.0.0.3  SB_A5
    cine      127.0.0.2  CB_P7        ptz      127.0.0.4  PZ_M7

Cada rota de camera vale para cada uma em /cameras/<id>/...:

    curl 'http://$host:$port/cameras'
    curl -d 'shots=1' 'http://$host:$port/cameras/direita/capture'
    curl -d '' 'http://$host:$port/cameras/ptz/ptz/move?pan=20'; curl -d '' 'http://$host:$port/cameras/ptz/ptz/stop'
    curl -N 'http://$host:$port/events?camera=cine'
    curl -X DELETE 'http://$host:$port/cameras/direita'
    curl -d 'id=direita&ip=127.0.0.3&mac=02:00:00:00:00:03&model=SB_A5' 'http://$host:$port/cameras'

As fotos ficam em $workdir/captures (as de cada camera do rig em
captures/<id>). Ctrl+C encerra tudo.

EOT
mqttDemoHelp

# Runs until Ctrl+C, or until one of them exits on its own. (A polling
# loop rather than `wait -n`, which the bash of macOS lacks.)
# Ctrl+C reaches the server too, which then stops by itself; the trap only
# notes it, so that is not taken for a crash.
while [[ $stopping == 0 ]]; do
  for pid in "${pids[@]}"; do
    if [[ $stopping == 0 ]] && ! kill -0 "$pid" 2>/dev/null; then
      echo "Um dos processos da demo terminou; encerrando os outros."
      exit 1
    fi
  done
  sleep 1
done
exit 0
