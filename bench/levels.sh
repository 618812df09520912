#!/usr/bin/env bash
# Times `tilvex split --unique --flips` of a level picture against the plain split of the
# same picture in the same run.
#
#   bash bench/levels.sh [side=4096] [folder=/tmp]
#
# The picture (bench_levelsheet) is side by side cells of 32 by 32 drawn from 256 distinct
# tiles in any of the eight orientations. The plain split writes (side/32)^2 PNG tiles; the
# level split finds the 256, writes them, a TMX map and its tileset. The map is compiled back
# and checked against the picture pixel for pixel. Prints one table: best of three seconds,
# peak memory and CPU use of each, and the ratio (target at most 1.5).
set -euo pipefail
cd "$(dirname "$0")/.."
side="${1:-4096}"
base="${2:-/tmp}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_levelsheet >/dev/null
[ -x /usr/bin/time ] || DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq time >/dev/null

work=$(mktemp -d "$base/tilvex-levels-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/bench_levelsheet "$work/level.png" "$side"

# seconds, peak RSS (MiB) and CPU use of the best of three runs
best() {
  local setup=$1 s mb cpu best_s="" best_mb=0 best_cpu="" run
  shift
  for run in 1 2 3; do
    eval "$setup"
    /usr/bin/time -f '%e %M %P' -o "$work/time.log" "$@" >"$work/out.log"
    read -r s mb cpu < "$work/time.log"
    mb=$((mb / 1024))
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s best_cpu=$cpu; fi
    [ "$mb" -gt "$best_mb" ] && best_mb=$mb
  done
  echo "$best_s $best_mb $best_cpu"
}

tv=build/tilvex
read -r ps pm pc < <(best 'rm -rf "$work/plain"' "$tv" split "$work/level.png" "$work/plain" --format png --quiet)
read -r us um uc < <(best 'rm -rf "$work/unique" "$work/level.tmx" "$work/level.tsx"' \
  "$tv" split "$work/level.png" "$work/unique" --format png --unique --flips --map "$work/level.tmx")
summary=$(cat "$work/out.log")
"$tv" compile --map "$work/level.tmx" "$work/back.png" --quiet
build/bench/bench_levelsheet --same "$work/level.png" "$work/back.png" || { echo "the map does not rebuild the picture" >&2; exit 1; }

printf '| split | seconds | peak MiB | CPU | files |\n|---|---|---|---|---|\n'
printf '| plain | %s | %s | %s | %s |\n' "$ps" "$pm" "$pc" "$(ls "$work/plain" | grep -c png)"
printf '| --unique --flips | %s | %s | %s | %s |\n' "$us" "$um" "$uc" "$(ls "$work/unique" | grep -c png)"
awk -v u="$us" -v p="$ps" 'BEGIN { printf "ratio %.2f (target at most 1.5)\n", (p > 0 ? u / p : 0) }'
echo "level split: $summary"
