#!/usr/bin/env bash
# Checks the direction of the layers: app -> server -> camera -> sdk, with
# common/ (shared vocabulary) and web/ (assets) below them. A project header
# included against the direction fails the check with the offending line.
set -uo pipefail
cd "$(dirname "$0")/.."

# layer: the folders whose headers it may include (besides its own)
declare -A allowed=(
  [app]="server camera common"
  [server]="camera common web"
  [camera]="common"
  [common]=""
  [sdk/standin]="common"
  [vcam]="common sdk/standin"
  [web]=""
)
project_dirs="app server camera common web vcam sdk/standin sdk/fake tests bench fuzz"

bad=0
for layer in "${!allowed[@]}"; do
  [[ -d $layer ]] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${hit#*:*:}")
    ok=0
    for dir in "$layer" ${allowed[$layer]}; do
      [[ $header == "$dir/"* ]] && ok=1
    done
    # Headers named without a folder are the file's neighbours or the SDK's.
    [[ $header != */* || $header == vcsdk/* ]] && ok=1
    for dir in $project_dirs; do
      [[ $header == "$dir/"* ]] || continue
      [[ $ok == 1 ]] || { echo "layer violation: $hit"; bad=1; }
      break
    done
  done < <(grep -rn --include='*.cpp' --include='*.h' '#include "' "$layer")
done
exit $bad
