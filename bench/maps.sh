#!/usr/bin/env bash
# Draws one big map with `tilvex compile --map` and with Tiled's tmxrasterizer, interleaved,
# and prints the median time and peak memory (GNU time) of each.
#
#   bash bench/maps.sh [side=4096] [rounds=5] [folder=/tmp]
#
# The map (bench/mapgen.py): side x side pixels, three layers of 16x16 tiles (base64 + zlib)
# over two tilesets, every gid flipped some way, the middle layer at opacity 0.5.
set -euo pipefail
cd "$(dirname "$0")/.."
side="${1:-4096}"
rounds="${2:-5}"
base="${3:-/tmp}"

if ! command -v tmxrasterizer >/dev/null; then
  echo "maps bench: tmxrasterizer (Debian package tiled) is not installed" >&2
  exit 77
fi
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex >/dev/null

work=$(mktemp -d "$base/tilvex-maps-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 bench/mapgen.py "$work" "$side"
export QT_QPA_PLATFORM=offscreen

# One run: "seconds peak-KB" on stdout.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  cat "$work/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/tilvex.txt"
: >"$work/tmx.txt"
for ((round = 0; round < rounds; ++round)); do
  measure build/tilvex compile -q --map "$work/map.tmx" "$work/tilvex.png" >>"$work/tilvex.txt"
  measure tmxrasterizer --no-smoothing "$work/map.tmx" "$work/tmx.png" >>"$work/tmx.txt"
done

printf '%-28s %10s %14s\n' "map ${side}x${side}, $rounds rounds" "median s" "median peak MB"
for tool in tilvex tmx; do
  seconds=$(cut -d' ' -f1 "$work/$tool.txt" | median)
  peak=$(cut -d' ' -f2 "$work/$tool.txt" | median)
  name=$([ "$tool" = tmx ] && echo "tmxrasterizer --no-smoothing" || echo "tilvex compile --map")
  printf '%-28s %10s %14s\n' "$name" "$seconds" "$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')"
done
