#!/usr/bin/env bash
# `make demo`: two virtual cameras and the KAMORA server on loopback, until
# Ctrl+C stops all three.
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

for addr in "$host:$port" "127.0.0.1:15740" "127.0.0.2:15740"; do
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

"$bindir/kamora-vcam" --ip 127.0.0.1 --mac 02:00:00:00:00:01 --model SB_A4 &
pids+=($!)
"$bindir/kamora-vcam" --ip 127.0.0.2 --mac 02:00:00:00:00:02 --model CB_P7 &
pids+=($!)

waitFor() {  # host port what
  for _ in $(seq 1 100); do
    listening "$1" "$2" && return 0
    sleep 0.1
  done
  echo "$3 nao respondeu em $1:$2."
  exit 1
}
waitFor 127.0.0.1 15740 "A camera virtual SB_A4"
waitFor 127.0.0.2 15740 "A camera virtual CB_P7"

(cd "$workdir" && exec "$bindir/kamora" --server --host "$host" --port "$port") &
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

As fotos ficam em $workdir/captures. Ctrl+C encerra tudo.

EOT

# Runs until Ctrl+C, or until one of the three exits on its own. (A polling
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
