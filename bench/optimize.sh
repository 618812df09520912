#!/usr/bin/env bash
# Times `tilvex optimize --flips` of a game's maps: by default 20 maps of 256 by 256 cells
# over three sheet tilesets of 1024 tiles of 16 by 16 (each with repeated, mirrored and
# turned tiles of the others, and tiles no map uses).
#
#   bash bench/optimize.sh [maps=20] [cells=256] [tiles=1024] [folder=/tmp]
#
# The maps and sheets come from bench_optimizemaps. Prints the seconds, peak memory and CPU
# use of the best of three runs and the command's summary; where tmxrasterizer is installed,
# checks that the first map draws the same before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
maps="${1:-20}"
cells="${2:-256}"
tiles="${3:-1024}"
base="${4:-/tmp}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_optimizemaps bench_levelsheet >/dev/null
[ -x /usr/bin/time ] || DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq time >/dev/null

work=$(mktemp -d "$base/tilvex-optimize-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
build/bench/bench_optimizemaps "$work/in" "$maps" "$cells" "$tiles"

best_s="" best_mb=0 best_cpu=""
for run in 1 2 3; do
  rm -rf "$work/out"
  /usr/bin/time -f '%e %M %P' -o "$work/time.log" build/tilvex optimize "$work"/in/map*.tmx --out "$work/out" --flips \
    >"$work/summary.log"
  read -r s kb cpu < "$work/time.log"
  mb=$((kb / 1024))
  if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s best_cpu=$cpu; fi
  [ "$mb" -gt "$best_mb" ] && best_mb=$mb
done

if command -v tmxrasterizer >/dev/null; then
  QT_QPA_PLATFORM=offscreen tmxrasterizer --no-smoothing "$work/in/map01.tmx" "$work/before.png" 2>/dev/null
  QT_QPA_PLATFORM=offscreen tmxrasterizer --no-smoothing "$work/out/map01.tmx" "$work/after.png" 2>/dev/null
  build/bench/bench_levelsheet --same "$work/before.png" "$work/after.png" ||
    { echo "map01 does not draw as before" >&2; exit 1; }
fi

printf '| optimize | seconds | peak MiB | CPU |\n|---|---|---|---|\n'
printf '| %s maps of %sx%s cells, 3 x %s tiles | %s | %s | %s |\n' "$maps" "$cells" "$cells" "$tiles" "$best_s" "$best_mb" "$best_cpu"
echo "summary: $(cat "$work/summary.log")"
