#!/usr/bin/env bash
# Kills tilvex at random moments of a Split of a side x side sheet and of a Compile of its
# tiles, then counts torn files (a tile, sheet or info.ini that is neither absent nor whole)
# and files left behind. Not part of the test command: it takes a few minutes.
#   bash tests/stress/kills.sh [runs=20] [side=8192] [folder=/tmp] [program=build/tilvex]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs="${1:-20}"
side="${2:-8192}"
base="${3:-/tmp}"
program="$(realpath "${4:-build/tilvex}")"
command -v convert >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq imagemagick >/dev/null
[ -x "$program" ] || { echo "build $program first (bash scripts/test.sh)"; exit 1; }

work="$(mktemp -d "$base/tilvex-kills.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/tilvex"  # its Errors.Log lands in $work
convert -size "${side}x${side}" gradient:red-blue -type truecolor "bmp3:$work/sheet.bmp"
"$work/tilvex" split "$work/sheet.bmp" "$work/tiles" --quiet
tiles=$(( (side / 32) * (side / 32) ))
sheet_bytes=$(stat -c %s "$work/sheet.bmp")

# A whole bitmap is as long as its header says.
whole_bitmap() {
  local size claimed
  size=$(stat -c %s "$1")
  [ "$size" -ge 54 ] || return 1
  claimed=$(od -An -tu4 -j2 -N4 "$1" | tr -d ' ')
  [ "$claimed" = "$size" ] && [ "$(head -c2 "$1")" = "BM" ]
}

# Time of one whole run, so that kills land anywhere in it.
span() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
split_ms=$(span "$work/tilvex" split "$work/sheet.bmp" "$work/probe" --quiet)
rm -rf "$work/probe"
mkdir -p "$work/sheetout"
compile_ms=$(span "$work/tilvex" compile "$work/tiles" "$work/sheetout" --width 256 --quiet)
cp "$work/sheetout/Tiles.bmp" "$work/good-sheet.bmp"

torn=0
left=0
killed=0
for i in $(seq 1 "$runs"); do
  for mode in split compile; do
    if [ "$mode" = split ]; then
      # Half the runs write into a folder of old tiles, half into a new one.
      rm -rf "$work/out"
      if [ $((i % 2)) -eq 0 ]; then cp -r "$work/tiles" "$work/out"; fi
      "$work/tilvex" split "$work/sheet.bmp" "$work/out" --quiet &
      ms=$split_ms
    else
      if [ $((i % 2)) -eq 0 ]; then cp "$work/good-sheet.bmp" "$work/sheetout/Tiles.bmp"; else rm -f "$work/sheetout/Tiles.bmp"; fi
      "$work/tilvex" compile "$work/tiles" "$work/sheetout" --width 256 --quiet &
      ms=$compile_ms
    fi
    pid=$!
    sleep "$(awk -v r="$RANDOM" -v ms="$ms" 'BEGIN { printf "%.3f", (r / 32768) * ms / 1000 }')"
    if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
    wait "$pid" 2>/dev/null || true
    if [ "$mode" = split ]; then
      folder="$work/out"
      [ -d "$folder" ] || continue
      # Every whole tile is 3,126 bytes.
      n=$(find "$folder" -maxdepth 1 -name '*.bmp' ! -size 3126c | tee /dev/stderr | wc -l)
      torn=$((torn + n))
      if [ -e "$folder/info.ini" ] && ! grep -q "^NumFiles=" "$folder/info.ini"; then torn=$((torn + 1)); echo "torn: info.ini"; fi
    else
      folder="$work/sheetout"
      if [ -e "$folder/Tiles.bmp" ] && ! whole_bitmap "$folder/Tiles.bmp"; then torn=$((torn + 1)); echo "torn: Tiles.bmp"; fi
    fi
    n=$(find "$folder" -maxdepth 1 -type f \( -name '.*' -o -name '*.tilvex-tmp' \) | wc -l)
    left=$((left + n))
  done
done
echo "sheet ${side}x${side} (${sheet_bytes} bytes, ${tiles} tiles): split ${split_ms} ms, compile ${compile_ms} ms a run"
echo "runs: ${runs} splits and ${runs} compiles, ${killed} killed before they ended"
echo "torn files: ${torn}"
echo "files left behind: ${left}"
[ "$torn" -eq 0 ] && [ "$left" -eq 0 ]
