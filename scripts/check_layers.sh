#!/usr/bin/env bash
# Fails when a library, or the test suite of a layer, includes a header of a layer above it.
# The layers, lowest first:
#   util -> net -> http -> isapi -> console -> window
# A layer may include its own headers and those of any layer below it.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(util net http isapi console window)
status=0
for ((rank = 0; rank < ${#layers[@]}; rank++)); do
  layer=${layers[rank]}
  folders=()
  for folder in "src/$layer" "tests/$layer"; do
    [ -d "$folder" ] && folders+=("$folder")
  done
  [ ${#folders[@]} -gt 0 ] || continue
  for ((above = rank + 1; above < ${#layers[@]}; above++)); do
    higher=${layers[above]}
    if matches=$(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"$higher/" \
      -r "${folders[@]}" --include='*.h' --include='*.cpp'); then
      while IFS= read -r match; do
        echo "layering: $layer must not include $higher: $match" >&2
      done <<<"$matches"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "layering: every include points down or sideways"
exit $status
