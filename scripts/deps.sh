#!/usr/bin/env bash
# Installs what KAMORA needs on a Debian machine; does nothing when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config git
  libcpp-httplib-dev libboost-dev libturbojpeg0-dev nlohmann-json3-dev
  libexif-dev libimage-exiftool-perl
  libmosquitto-dev mosquitto mosquitto-clients openssl
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev lld
  nodejs npm chromium
  wrk curl
  ffmpeg
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# A node from another source may already provide node and npm.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]+"${filtered[@]}"}")
fi
if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  sudo=""; [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Browser-test packages, locked by package-lock.json.
if [[ -f tests/web/package-lock.json ]]; then
  if [[ ! -d tests/web/node_modules ]] || [[ tests/web/package-lock.json -nt tests/web/node_modules ]]; then
    echo "deps: npm ci in tests/web"
    (cd tests/web && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
  fi
fi
