#!/usr/bin/env bash
# Times `tilvex export --to phaser` of ten maps of 256 by 256 cells, all in one call (a game's
# maps, the user's job) and one map a run, against
# `tiled --export-map json --embed-tilesets` of the same maps (which does part of the job:
# its layers stay as the map stores them, its image collections are not packed).
#
#   bash bench/export.sh [maps=10] [cells=256] [tiles=1024] [folder=/tmp]
#
# The maps (over three sheet tilesets) come from bench_optimizemaps. Prints the seconds of
# each tool for all the maps, the median of five interleaved rounds, and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
maps="${1:-10}"
cells="${2:-256}"
tiles="${3:-1024}"
base="${4:-/tmp}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build -j2 --target tilvex bench_optimizemaps >/dev/null
command -v tiled >/dev/null || { echo "tiled (Debian package tiled) is not installed" >&2; exit 1; }

work=$(mktemp -d "$base/tilvex-export-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
build/bench/bench_optimizemaps "$work/in" "$maps" "$cells" "$tiles"

source bench/timing.sh
tilvex_all() { bash -c 'for m in "$0"/in/map*.tmx; do build/tilvex export "$m" --to phaser --out "$0/tilvex" --quiet || exit 1; done' "$work"; }
tilvexone_all() { build/tilvex export "$work"/in/map*.tmx --to phaser --out "$work/one" --quiet; }
tiled_all() {
  QT_QPA_PLATFORM=offscreen bash -c 'for m in "$0"/in/map*.tmx; do
    tiled --export-map json --embed-tilesets "$m" "$0/tiled/$(basename "$m" .tmx).json" 2>/dev/null || exit 1; done' "$work"
}
# Rounds interleaved, the order turned each round, so that a change of the machine's load
# falls on both alike; each writes all its files afresh.
: >"$work/times"
for round in 1 2 3 4 5; do
  rm -rf "$work/tilvex" "$work/tiled" "$work/one"
  mkdir "$work/tiled"
  if ((round % 2)); then order="tilvexone tilvex tiled"; else order="tiled tilvex tilvexone"; fi
  for tool in $order; do
    echo "$tool $(seconds "${tool}_all")" >>"$work/times"
  done
  for m in "$work"/in/map*.tmx; do
    n=$(basename "$m" .tmx)
    [[ -s "$work/tilvex/$n.json" && -s "$work/one/$n.json" && -s "$work/tiled/$n.json" ]] || { echo "no export of $n" >&2; exit 1; }
  done
done
a=$(awk '$1 == "tilvex" { print $2 }' "$work/times" | median)
b=$(awk '$1 == "tiled" { print $2 }' "$work/times" | median)
c=$(awk '$1 == "tilvexone" { print $2 }' "$work/times" | median)
printf '| export to Phaser, %s maps of %sx%s cells | seconds |\n|---|---|\n' "$maps" "$cells" "$cells"
printf '| tilvex export --to phaser, all maps in one run | %s |\n' "$c"
printf '| tilvex export --to phaser, one map a run | %s |\n' "$a"
printf '| tiled --export-map json --embed-tilesets | %s |\n' "$b"
awk -v a="$a" -v b="$b" -v c="$c" 'BEGIN { printf "tiled over tilvex: %.1f times one map a run, %.1f times all in one run\n", (a > 0 ? b / a : 0), (c > 0 ? b / c : 0) }'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
