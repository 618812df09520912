#!/usr/bin/env bash
# Every job of the benchmarks with two builds of the batch program in the same run,
# interleaved: to show that a change of the code costs no speed.
#
#   bash bench/beforeafter.sh BEFORE AFTER [rounds=5] [folder=/dev/shm]
#
# BEFORE and AFTER are tilvex programs. Jobs: the window's split of a 4096 by 4096 bitmap
# and compile of its 16,384 tiles; split of a 4096 by 4096 RGBA PNG into 32 by 32 PNG tiles
# and compile back; extrusion of that sheet as 16 by 16 tiles; a level split with flips and
# its map drawn back; the map of bench/mapgen.py drawn; optimize of bench_optimizemaps's
# maps. Prints the median seconds of each and AFTER's over BEFORE's, with the load average.
set -euo pipefail
cd "$(dirname "$0")/.."
before="$(realpath "$1")"
after="$(realpath "$2")"
rounds="${3:-5}"
base="${4:-/dev/shm}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target bench_tilesheet bench_levelsheet bench_optimizemaps >/dev/null
work=$(mktemp -d "$base/tilvex-beforeafter-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/bench_tilesheet "$work/sheet.png" 4096
build/bench/bench_levelsheet "$work/level.png" 4096
# The same sheet as a 24-bit bitmap: one tile of the whole sheet.
"$before" split "$work/sheet.png" "$work/whole" --tile 4096 -q
mv "$work/whole/0.bmp" "$work/sheet.bmp"
mkdir -p "$work/map" "$work/maps"
python3 bench/mapgen.py "$work/map" 4096 >/dev/null
build/bench/bench_optimizemaps "$work/maps" 10 256 1024 >/dev/null
# The tiles the compiles read, made once by the program before the change.
"$before" split "$work/sheet.bmp" "$work/bmptiles" -q
"$before" split "$work/sheet.png" "$work/pngtiles" --format png -q
mkdir -p "$work/leveltiles"
"$before" split "$work/level.png" "$work/leveltiles" --format png --unique --flips --map "$work/leveltiles/level.tmx" -q

source bench/timing.sh
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

jobs=(plain-split plain-compile png-split png-compile extrude level-split map-level map-big optimize)
run() {
  local program=$1 job=$2 out=$work/out
  rm -rf "$out"
  case $job in
    plain-split) seconds "$program" split "$work/sheet.bmp" "$out" -q ;;
    plain-compile) mkdir -p "$out" && seconds "$program" compile "$work/bmptiles" "$out" --width 128 -q ;;
    png-split) seconds "$program" split "$work/sheet.png" "$out" --format png -q ;;
    png-compile) mkdir -p "$out" && seconds "$program" compile "$work/pngtiles" "$out" --format png --width 128 -q ;;
    extrude) seconds "$program" extrude "$work/sheet.png" "$work/x.png" --tile 16 --extrude 2 -q ;;
    level-split) mkdir -p "$out" && seconds "$program" split "$work/level.png" "$out" --format png --unique --flips --map "$out/l.tmx" -q ;;
    map-level) seconds "$program" compile --map "$work/leveltiles/level.tmx" "$work/l.png" -q ;;
    map-big) seconds "$program" compile --map "$work/map/map.tmx" "$work/m.png" -q ;;
    optimize) seconds "$program" optimize "$work"/maps/*.tmx --out "$out" --flips -q ;;
  esac
}

: >"$work/times"
for round in $(seq "$rounds"); do
  for job in "${jobs[@]}"; do
    for which in before after; do
      program=$before
      [ "$which" = after ] && program=$after
      echo "$job $which $(run "$program" "$job")" >>"$work/times"
    done
  done
done
printf '%-14s %9s %9s %7s\n' job "before s" "after s" ratio
for job in "${jobs[@]}"; do
  b=$(awk -v j="$job" '$1 == j && $2 == "before" { print $3 }' "$work/times" | median)
  a=$(awk -v j="$job" '$1 == j && $2 == "after" { print $3 }' "$work/times" | median)
  printf '%-14s %9s %9s %7s\n' "$job" "$b" "$a" "$(ratio "$a" "$b")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
