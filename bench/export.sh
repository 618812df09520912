#!/usr/bin/env bash
# Times `tilvex export --to phaser` of ten maps of 256 by 256 cells, one map a run, against
# `tiled --export-map json --embed-tilesets` of the same maps (which does part of the job:
# its layers stay as the map stores them, its image collections are not packed).
#
#   bash bench/export.sh [maps=10] [cells=256] [tiles=1024] [folder=/tmp]
#
# The maps (over three sheet tilesets) come from bench_optimizemaps. Prints the seconds of
# each tool for all the maps, the best of three rounds, and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
maps="${1:-10}"
cells="${2:-256}"
tiles="${3:-1024}"
base="${4:-/tmp}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_optimizemaps >/dev/null
command -v tiled >/dev/null || { echo "tiled (Debian package tiled) is not installed" >&2; exit 1; }

work=$(mktemp -d "$base/tilvex-export-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
build/bench/bench_optimizemaps "$work/in" "$maps" "$cells" "$tiles"

# Seconds (with a fraction) the command line takes.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

best() { tr ' ' '\n' | grep . | sort -g | head -1; }
tilvex_runs="" tiled_runs=""
for round in 1 2 3; do
  rm -rf "$work/tilvex" "$work/tiled"
  mkdir "$work/tiled"
  tilvex_runs+="$(seconds bash -c 'for m in "$0"/in/map*.tmx; do build/tilvex export "$m" --to phaser --out "$0/tilvex" --quiet || exit 1; done' "$work") "
  tiled_runs+="$(seconds env QT_QPA_PLATFORM=offscreen bash -c 'for m in "$0"/in/map*.tmx; do tiled --export-map json --embed-tilesets "$m" "$0/tiled/$(basename "$m" .tmx).json" || exit 1; done' "$work") "
done
ls "$work"/tilvex/map*.json >/dev/null && ls "$work"/tiled/map*.json >/dev/null
a=$(best <<<"$tilvex_runs")
b=$(best <<<"$tiled_runs")
printf '| export to Phaser, %s maps of %sx%s cells | seconds |\n|---|---|\n' "$maps" "$cells" "$cells"
printf '| tilvex export --to phaser, one map a run | %s |\n' "$a"
printf '| tiled --export-map json --embed-tilesets | %s |\n' "$b"
awk -v a="$a" -v b="$b" 'BEGIN { printf "tiled over tilvex: %.1f times\n", (a > 0 ? b / a : 0) }'
