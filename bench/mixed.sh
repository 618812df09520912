#!/usr/bin/env bash
# The three jobs of a sheet of mixed 16 by 16 tiles (bench_mixedsheet: gradients, noisy and
# translucent tiles, flat pixel art) against the tools a user would use instead, runs
# interleaved, medians, with the load average before and after:
#   extrude --tile 16 --extrude 2     against tile-extruder (npm, build-node/)
#   split --format png into 16 by 16  against Pillow's crop-and-save loop (bench/pillow_tiles.py)
#   compile --map of bench/mapgen.py's map against Tiled's tmxrasterizer
#
#   bash bench/mixed.sh [rounds=5] [side=4096] [folder=/dev/shm] [sheet.png]
# A sheet given is extruded and split instead of bench_mixedsheet's (its side is its own;
# bench/pillowsheet.py writes one as Pillow writes it).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-5}"
side="${2:-4096}"
base="${3:-/dev/shm}"

bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_mixedsheet >/dev/null
source bench/timing.sh
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d "$base/tilvex-mixed-XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -n "${4:-}" ]; then
  cp "$4" "$work/sheet.png"
else
  build/bench/bench_mixedsheet "$work/sheet.png" "$side"
fi
python3 bench/mapgen.py "$work" "$side" >/dev/null
echo "sheet: $(stat -c %s "$work/sheet.png") bytes; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

extruder=(node build-node/node_modules/tile-extruder/bin/cli.js)
[ -f "${extruder[1]}" ] && command -v node >/dev/null || { echo "tile-extruder is not installed: left out" >&2; extruder=(); }
pillow=(/usr/bin/python3 bench/pillow_tiles.py split "$work/sheet.png" "$work/pillow" 16)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || { echo "Pillow is not installed: left out" >&2; pillow=(); }
raster=(tmxrasterizer --no-smoothing "$work/map.tmx" "$work/tmx.png")
command -v tmxrasterizer >/dev/null || { echo "tmxrasterizer is not installed: left out" >&2; raster=(); }

: >"$work/times"
# A job of ours and its rival, in turns; the rival's output folder is emptied before each run.
pair() {
  local name="$1"
  shift
  local -a ours=() theirs=()
  while [ "$1" != "--" ]; do ours+=("$1"); shift; done
  shift
  theirs=("$@")
  for _ in $(seq "$rounds"); do
    rm -rf "$work/tiles" "$work/pillow"
    echo "$name ours $(seconds "${ours[@]}")" >>"$work/times"
    if [ ${#theirs[@]} -gt 0 ]; then
      rm -rf "$work/tiles" "$work/pillow"
      echo "$name theirs $(seconds "${theirs[@]}")" >>"$work/times"
    fi
  done
}
pair extrude build/tilvex extrude "$work/sheet.png" "$work/ours.png" --tile 16 --extrude 2 -q -- \
  "${extruder[@]}" ${extruder:+--tileWidth 16 --tileHeight 16 --extrusion 2 --color 0x00000000 --input "$work/sheet.png" --output "$work/theirs.png"}
pair split build/tilvex split "$work/sheet.png" "$work/tiles" --tile 16 --format png -q -- "${pillow[@]}"
pair map build/tilvex compile -q --map "$work/map.tmx" "$work/map.png" -- "${raster[@]}"

printf '%-8s %12s %12s %8s %8s\n' job "ours s" "theirs s" ratio target
for job in "extrude 25" "split 10" "map 15"; do
  set -- $job
  t_ours=$(awk -v j="$1" '$1 == j && $2 == "ours" { print $3 }' "$work/times" | median)
  t_theirs=$(awk -v j="$1" '$1 == j && $2 == "theirs" { print $3 }' "$work/times" | median)
  if [ -n "$t_theirs" ]; then
    printf '%-8s %12s %12s %8s %8s\n' "$1" "$t_ours" "$t_theirs" "$(ratio "$t_theirs" "$t_ours")" "$2"
  else
    printf '%-8s %12s %12s %8s %8s\n' "$1" "$t_ours" - - "$2"
  fi
done
echo "medians of $rounds interleaved runs; load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
