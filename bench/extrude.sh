#!/usr/bin/env bash
# `tilvex extrude` against tile-extruder (npm) on one sheet of 16 by 16 tiles, extruded by 2:
# runs interleaved, medians, and the peak memory of each (GNU time).
#
#   bash bench/extrude.sh [rounds=3] [side=4096] [folder=/tmp]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-3}"
side="${2:-4096}"
base="${3:-/tmp}"

bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_tilesheet >/dev/null
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi
extruder=(node build-node/node_modules/tile-extruder/bin/cli.js)
if ! command -v node >/dev/null || [ ! -f "${extruder[1]}" ]; then
  echo "tile-extruder is not installed (npm is needed); only tilvex is timed" >&2
  extruder=()
fi

source bench/timing.sh

work=$(mktemp -d "$base/tilvex-extrude-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/bench_tilesheet "$work/sheet.png" "$side"
ours=(build/tilvex extrude "$work/sheet.png" "$work/ours.png" --tile 16 --extrude 2 -q)
theirs=("${extruder[@]}" --tileWidth 16 --tileHeight 16 --extrusion 2 --color 0x00000000 --input "$work/sheet.png"
        --output "$work/theirs.png")
: >"$work/times"
for round in $(seq "$rounds"); do
  echo "tilvex $(seconds "${ours[@]}")" >>"$work/times"
  if [ ${#extruder[@]} -gt 0 ]; then
    echo "tile-extruder $(seconds "${theirs[@]}")" >>"$work/times"
  fi
done

printf '%-14s %12s %10s %12s\n' tool "median s ($rounds)" "peak MiB" "sheet bytes"
t_ours=$(awk '$1 == "tilvex" { print $2 }' "$work/times" | median)
printf '%-14s %12s %10s %12s\n' tilvex "$t_ours" "$(peak "${ours[@]}")" "$(stat -c %s "$work/ours.png")"
if [ ${#extruder[@]} -gt 0 ]; then
  t_theirs=$(awk '$1 == "tile-extruder" { print $2 }' "$work/times" | median)
  printf '%-14s %12s %10s %12s\n' tile-extruder "$t_theirs" "$(peak "${theirs[@]}")" "$(stat -c %s "$work/theirs.png")"
  echo "tile-extruder takes $(ratio "$t_theirs" "$t_ours") times as long (target: at least 20)"
fi
