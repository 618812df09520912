#!/usr/bin/env bash
# Draws an isometric map with `tilvex compile --map` and with Tiled's tmxrasterizer,
# interleaved, and prints the median time and peak memory (GNU time) of each.
#
#   bash bench/isomap.sh [cells=128] [rounds=5] [folder=/tmp]
#
# The map: cells x cells of 64x32 cells, one CSV layer of tiles 64x64 (a sheet of 24
# tiles offset 16 down, as Tiled's isometric sample has them), every tile flipped some way.
set -euo pipefail
cd "$(dirname "$0")/.."
cells="${1:-128}"
rounds="${2:-5}"
base="${3:-/tmp}"

if ! command -v tmxrasterizer >/dev/null; then
  echo "isomap bench: tmxrasterizer (Debian package tiled) is not installed" >&2
  exit 77
fi
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex >/dev/null

work=$(mktemp -d "$base/tilvex-isomap-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work" "$cells" <<'PY'
import sys, random
from PIL import Image, ImageDraw
work, n = sys.argv[1], int(sys.argv[2])
sheet = Image.new("RGBA", (4 * 64, 6 * 64))
draw = ImageDraw.Draw(sheet)
for k in range(24):
    x, y = k % 4 * 64, k // 4 * 64
    colour = (40 + 9 * k, 200 - 7 * k, 90 + 5 * k, 255)
    draw.polygon([(x + 32, y + 16), (x + 63, y + 32), (x + 32, y + 48), (x, y + 32)], fill=colour)
    draw.rectangle([x + 28, y + 4, x + 36, y + 32], fill=(k * 10, 60, 30, 200))
sheet.save(f"{work}/sheet.png")
rng = random.Random(7)
flips = [0, 0x80000000, 0x40000000, 0xC0000000]
rows = [",".join(str((1 + rng.randrange(24)) | flips[rng.randrange(4)]) for _ in range(n)) for _ in range(n)]
data = ",\n".join(rows)
open(f"{work}/map.tmx", "w").write(f'''<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="isometric" renderorder="right-down" width="{n}" height="{n}" tilewidth="64" tileheight="32" infinite="0" nextlayerid="2" nextobjectid="1">
 <tileset firstgid="1" name="iso" tilewidth="64" tileheight="64" tilecount="24" columns="4">
  <tileoffset x="0" y="16"/>
  <image source="sheet.png" width="256" height="384"/>
 </tileset>
 <layer id="1" name="ground" width="{n}" height="{n}"><data encoding="csv">
{data}
</data></layer>
</map>
''')
PY
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

printf '%-30s %10s %14s\n' "isometric ${cells}x${cells}, $rounds rounds" "median s" "median peak MB"
for tool in tilvex tmx; do
  seconds=$(cut -d' ' -f1 "$work/$tool.txt" | median)
  peak=$(cut -d' ' -f2 "$work/$tool.txt" | median)
  name=$([ "$tool" = tmx ] && echo "tmxrasterizer --no-smoothing" || echo "tilvex compile --map")
  printf '%-30s %10s %14s\n' "$name" "$seconds" "$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')"
done
