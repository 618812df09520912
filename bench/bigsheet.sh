#!/usr/bin/env bash
# Peak memory of the batch program on sheets far bigger than memory should need: a side by
# side 24-bit bitmap split into 32 by 32 tiles and compiled back exactly, then the same
# without options (the window's way), and a half-side RGBA PNG the same with --format png;
# each exact sheet compared with its source.
#
#   bash bench/bigsheet.sh [side=32768] [folder=/dev/shm]
#
# At 32768 the bitmap is 3 GiB and its tiles another 3 GiB (the PNG run needs less): give
# it a tmpfs or a disk with room. Peak memory is GNU time's maximum resident set size.
set -euo pipefail
cd "$(dirname "$0")/.."
side="${1:-32768}"
base="${2:-/dev/shm}"
half=$((side / 2))

bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_split bench_tilesheet >/dev/null
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi

work=$(mktemp -d "$base/tilvex-bigsheet-XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "load average $(cut -d' ' -f1-3 /proc/loadavg); room in $base: $(df -h --output=avail "$base" | tail -1)"

# Peak MiB of one run; its output goes to the log, a failure stops the script.
peak() {
  /usr/bin/time -v -o "$work/time.log" "$@" >"$work/run.log" 2>&1 || {
    echo "failed: $*" >&2; cat "$work/run.log" >&2; exit 1; }
  awk -F': ' '/Maximum resident set size/ { printf "%d", $2 / 1024 }' "$work/time.log"
}

# Pixels of two pictures equal, whatever their files' headers.
same_pixels() {
  build/tilvex info "$1" "$2" | awk -F'\t' 'NR == 1 { a = $3 "x" $4 } NR == 2 { b = $3 "x" $4 } END { exit a != b }' &&
    /usr/bin/python3 - "$1" "$2" <<'PY'
import sys
from PIL import Image
Image.MAX_IMAGE_PIXELS = None
a, b = (Image.open(p) for p in sys.argv[1:3])
if a.size != b.size:
    sys.exit(1)
# A band of rows at a time, so the check itself stays small.
w, h = a.size
for top in range(0, h, 256):
    box = (0, top, w, min(h, top + 256))
    if a.crop(box).convert("RGBA").tobytes() != b.crop(box).convert("RGBA").tobytes():
        sys.exit(1)
PY
}

result() { printf '%-30s split %6s MiB   compile %6s MiB   sheet %s\n' "$@"; }

build/bench/bench_split --sheet "$work/big.bmp" "$side"
split_mb=$(peak build/tilvex split "$work/big.bmp" "$work/t" --tile 32 -q)
mkdir "$work/out"
compile_mb=$(peak build/tilvex compile "$work/t" "$work/out" --width $((side / 32)) --exact -q)
if cmp -s "$work/big.bmp" "$work/out/Tiles.bmp" || same_pixels "$work/big.bmp" "$work/out/Tiles.bmp"; then verdict=equal; else verdict=DIFFERS; fi
result "${side}x${side} 24-bit BMP" "$split_mb" "$compile_mb" "$verdict"
rm -rf "$work/t" "$work/out"
# The same bitmap the window's way (no tile options); its sheet is taller than the tiles.
split_mb=$(peak build/tilvex split "$work/big.bmp" "$work/t" -q)
mkdir "$work/out"
compile_mb=$(peak build/tilvex compile "$work/t" "$work/out" --width $((side / 32)) -q)
result "${side}x${side} BMP, no options" "$split_mb" "$compile_mb" "not compared"
rm -rf "$work/t" "$work/out" "$work/big.bmp"

build/bench/bench_tilesheet "$work/big.png" "$half"
split_mb=$(peak build/tilvex split "$work/big.png" "$work/t" --tile 32 --format png -q)
mkdir "$work/out"
compile_mb=$(peak build/tilvex compile "$work/t" "$work/out" --width $((half / 32)) --exact --format png -q)
if same_pixels "$work/big.png" "$work/out/Tiles.png"; then verdict=equal; else verdict=DIFFERS; fi
result "${half}x${half} RGBA PNG" "$split_mb" "$compile_mb" "$verdict"
