#!/usr/bin/env bash
# Times two tilvex programs drawing maps scaled (`compile --map --scale`), interleaved: the map
# of bench/mapgen.py at 1, 0.5, 0.37 and 2, and Tiled's isometric and desert samples (where the
# Debian package tiled put them) at 4, 0.5 and 2. Prints the median CPU seconds (user + system)
# and wall seconds of each program per case, AFTER over BEFORE, and the load average.
#
#   bash bench/scaled.sh BEFORE AFTER [side=3000] [rounds=5] [folder=/tmp]
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: bash bench/scaled.sh BEFORE AFTER [side=3000] [rounds=5] [folder=/tmp]" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
before="$(realpath "$1")"
after="$(realpath "$2")"
side="${3:-3000}"
rounds="${4:-5}"
base="${5:-/tmp}"

work=$(mktemp -d "$base/tilvex-scaled-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/gen"
python3 bench/mapgen.py "$work/gen" "$side" >/dev/null
cases=("gen/map.tmx 1" "gen/map.tmx 0.5" "gen/map.tmx 0.37" "gen/map.tmx 2")
samples=/usr/share/doc/tiled/examples
if [ -f "$samples/isometric_grass_and_water.tmx" ]; then
  cp -r "$samples" "$work/tiled"
  cases+=("tiled/isometric_grass_and_water.tmx 4" "tiled/isometric_grass_and_water.tmx 0.5" "tiled/desert.tmx 0.5"
          "tiled/desert.tmx 2")
else
  echo "Tiled's samples are not installed (Debian package tiled): only the generated map is drawn" >&2
fi
export QT_QPA_PLATFORM=offscreen

# One run: "cpu-seconds wall-seconds", to the millisecond (the shell's own timer; GNU time's
# hundredths hid the differences of the small maps).
measure() {
  sleep 0.3
  local TIMEFORMAT='%3U %3S %3R'
  { time "$@" >/dev/null 2>"$work/err"; } 2>"$work/time" || { cat "$work/err" >&2; exit 1; }
  awk '{ printf "%.3f %.3f\n", $1 + $2, $3 }' "$work/time"
}
source bench/timing.sh

printf "%-42s %18s %18s %8s\n" "map scale" "before cpu/wall" "after cpu/wall" "cpu a/b"
for entry in "${cases[@]}"; do
  read -r map scale <<<"$entry"
  : >"$work/b" && : >"$work/a"
  for _ in $(seq "$rounds"); do
    measure "$before" compile --map "$work/$map" "$work/out.png" --scale "$scale" >>"$work/b"
    measure "$after" compile --map "$work/$map" "$work/out.png" --scale "$scale" >>"$work/a"
  done
  bc=$(cut -d' ' -f1 "$work/b" | median) bw=$(cut -d' ' -f2 "$work/b" | median)
  ac=$(cut -d' ' -f1 "$work/a" | median) aw=$(cut -d' ' -f2 "$work/a" | median)
  printf "%-42s %18s %18s %8s\n" "$map $scale" "$bc/$bw" "$ac/$aw" "$(ratio "$ac" "$bc")"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
