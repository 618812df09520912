#!/usr/bin/env bash
# Sets of files under fire: kills tilvex at random moments and at each of its file steps (a
# rename, link or unlink, through strace's fault injection) during an optimize into an
# existing --out or a new one, an extrude of a tileset over an older extrusion and a level split
# into a new folder, then runs pairs of optimize into one --out at once. Counts maps that draw
# neither as their old nor as their new self, tilesets that describe a sheet that is not there
# (missing, or of another size) and half folders (a folder that appeared without all its files).
# Not part of the test command: it takes minutes.
#   bash tests/stress/sets.sh [kills=20] [rounds=5] [folder=/tmp] [program=build/tilvex]
set -euo pipefail
cd "$(dirname "$0")/../.."
kills="${1:-20}"
rounds="${2:-5}"
base="${3:-/tmp}"
program="$(realpath "${4:-build/tilvex}")"
[ -x "$program" ] || { echo "build $program first (bash scripts/test.sh)"; exit 1; }
command -v strace >/dev/null || { echo "strace is needed (apt-get install strace)"; exit 1; }
level="$(realpath tests/support/level.py)"

work="$(mktemp -d "$base/tilvex-sets.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/tilvex"  # its Errors.Log lands in $work
cd "$work"

# The file steps strace counts and kills at.
steps=rename,renameat,renameat2,link,linkat,unlink,unlinkat
# exec: a run started in the background is the program itself, so the kill reaches it.
run_bg() { (exec ./tilvex "$@" --quiet) 2>/dev/null & }
# Kills the run at the n-th file step.
run_killed_at() {
  local n="$1"
  shift
  # The shell's own report of each kill goes nowhere.
  { strace -f -o /dev/null -e trace="$steps" -e inject="$steps":signal=SIGKILL:when="$n" ./tilvex "$@" --quiet >/dev/null 2>&1 || true; } 2>/dev/null
}
# How many file steps a whole run takes.
count_steps() {
  strace -f -c -o steps.txt -e trace="$steps" ./tilvex "$@" --quiet >/dev/null 2>&1 || true
  awk '$NF ~ /^(rename|renameat|renameat2|link|linkat|unlink|unlinkat)$/ { n += $(NF-1) } END { print n + 0 }' steps.txt
}
ms_of() {
  local start
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  echo $(( ($(date +%s%N) - start) / 1000000 ))
}
pause_ms() { sleep "$(awk -v r="$RANDOM" -v ms="$1" 'BEGIN { printf "%.3f", (r / 32768) * ms / 1000 }')"; }

# Draws the map to a picture; fails where it does not draw.
draw() { ./tilvex compile --map "$1" "$2" --quiet >/dev/null 2>&1; }

# Two versions of three levels, each cut into a map over a tileset of its own.
mkdir -p levels v1 v2
for version in 1 2; do
  for m in 0 1 2; do
    python3 "$level" "levels/v$version-$m.png" 24 16 60 "$((version * 10 + m))"
    ./tilvex split "levels/v$version-$m.png" "cut$version-$m" --tile 16 --format png --unique --map "v$version/m$m.tmx" --quiet
  done
done
maps=(m0.tmx m1.tmx m2.tmx)
# Each version optimized once; what every map draws as, for either version.
for version in 1 2; do
  ./tilvex optimize v$version/m*.tmx --out "ref$version" --quiet
  for map in "${maps[@]}"; do draw "ref$version/$map" "ref$version-$map.png"; done
done

differ=0
missing_sheet=0
half=0
killed=0
injected=0

# Every map in the folder draws as its version 1 or version 2 self; with "all", all are there.
check_maps() {
  local folder="$1" map
  for map in "${maps[@]}"; do
    if [ ! -e "$folder/$map" ]; then
      if [ "${2:-}" = all ]; then half=$((half + 1)); echo "half folder: $folder lacks $map"; fi
      continue
    fi
    if ! draw "$folder/$map" drawn.png || { ! cmp -s drawn.png "ref1-$map.png" && ! cmp -s drawn.png "ref2-$map.png"; }; then
      differ=$((differ + 1)); echo "draws as neither self: $folder/$map"
    fi
  done
}

# Every tileset in the folder describes a sheet that is there, of its size.
check_tilesets() {
  local bad
  bad=$(/usr/bin/python3 - "$@" <<'PY'
import os, struct, sys, xml.etree.ElementTree as tree
for name in sys.argv[1:]:
    try:
        root = tree.parse(name).getroot()
    except Exception:
        print(name, "is no whole tileset"); continue
    image = root.find("image")
    if image is None:
        continue
    sheet = os.path.join(os.path.dirname(name), image.get("source"))
    try:
        with open(sheet, "rb") as f:
            head = f.read(24)
        size = struct.unpack(">II", head[16:24])
    except Exception:
        print(name, "describes", sheet, "which is not there"); continue
    if size != (int(image.get("width")), int(image.get("height"))):
        print(name, "describes", sheet, "as", image.get("width"), "x", image.get("height"), "but it is", size)
PY
)
  if [ -n "$bad" ]; then echo "$bad"; missing_sheet=$((missing_sheet + $(wc -l <<<"$bad"))); fi
}

check_out() {
  if [ "$1" = new ] && [ -e out ]; then
    check_maps out all
  else
    check_maps out
  fi
  if [ -e out ]; then check_tilesets out/*.tsx; fi
}

# optimize: half the runs over version 1 in --out, half into a new --out.
prepare_out() { rm -rf out; if [ "$1" = old ]; then cp -r ref1 out; fi; }
opt_args=(optimize v2/m0.tmx v2/m1.tmx v2/m2.tmx --out out)
prepare_out old
opt_ms=$(ms_of ./tilvex "${opt_args[@]}" --quiet)
prepare_out old
opt_steps=$(count_steps "${opt_args[@]}")
for i in $(seq 1 "$kills"); do
  kind=old; [ $((i % 2)) -eq 0 ] && kind=new
  prepare_out "$kind"
  run_bg "${opt_args[@]}"; pid=$!
  pause_ms "$opt_ms"
  if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  check_out "$kind"
done
for kind in old new; do
  for n in $(seq 1 "$opt_steps"); do
    prepare_out "$kind"
    run_killed_at "$n" "${opt_args[@]}"
    injected=$((injected + 1))
    check_out "$kind"
  done
done

# extrude: OUT.tsx and OUT.png of an extrusion by 1, extruded again by 2.
mkdir -p sheet
./tilvex compile cut1-0 sheet --tile 16 --format png --tileset sheet/t.tsx --quiet
ext_args=(extrude sheet/t.tsx ext/o.tsx --extrude 2)
prepare_ext() { rm -rf ext; mkdir ext; ./tilvex extrude sheet/t.tsx ext/o.tsx --extrude 1 --quiet; }
prepare_ext
ext_ms=$(ms_of ./tilvex "${ext_args[@]}" --quiet)
prepare_ext
ext_steps=$(count_steps "${ext_args[@]}")
for i in $(seq 1 "$kills"); do
  prepare_ext
  run_bg "${ext_args[@]}"; pid=$!
  pause_ms "$ext_ms"
  if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  check_tilesets ext/o.tsx
done
for n in $(seq 1 "$ext_steps"); do
  prepare_ext
  run_killed_at "$n" "${ext_args[@]}"
  injected=$((injected + 1))
  check_tilesets ext/o.tsx
done

# A level split into a new folder, its map inside: absent, or whole and drawing its level.
python3 "$level" levels/big.png 64 48 400 99
split_args=(split levels/big.png tiles --tile 16 --format png --unique --map tiles/level.tmx)
rm -rf tiles
./tilvex "${split_args[@]}" --quiet
draw tiles/level.tmx level-ref.png
rm -rf tiles
split_ms=$(ms_of ./tilvex "${split_args[@]}" --quiet)
rm -rf tiles
split_steps=$(count_steps "${split_args[@]}")
check_split() {
  [ -e tiles ] || return 0
  if [ ! -e tiles/info.ini ] || [ ! -e tiles/level.tmx ] || [ ! -e tiles/level.tsx ] || [ ! -e tiles/399.png ]; then
    half=$((half + 1)); echo "half folder: tiles ($(ls tiles | wc -l) files)"
  elif ! draw tiles/level.tmx drawn.png || ! cmp -s drawn.png level-ref.png; then
    differ=$((differ + 1)); echo "draws as neither self: tiles/level.tmx"
  fi
}
for i in $(seq 1 "$kills"); do
  rm -rf tiles
  run_bg "${split_args[@]}"; pid=$!
  pause_ms "$split_ms"
  if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  check_split
done
for n in $(seq 1 "$split_steps"); do
  rm -rf tiles
  run_killed_at "$n" "${split_args[@]}"
  injected=$((injected + 1))
  check_split
done

# Two optimize into one --out at once: they take turns, so each map draws as one version.
for round in $(seq 1 "$rounds"); do
  prepare_out old
  run_bg optimize v1/m0.tmx v1/m1.tmx v1/m2.tmx --out out; a=$!
  run_bg "${opt_args[@]}"; b=$!
  status=0
  wait "$a" || status=1
  wait "$b" || status=1
  [ "$status" -eq 0 ] || echo "round $round: a run failed"
  check_out old
done

left=$(find . -name '.tilvex-*' | wc -l)
echo "optimize: ${opt_steps} file steps; extrude: ${ext_steps}; level split: ${split_steps}"
echo "runs: ${kills} random kills of each command (${killed} before they ended), ${injected} kills injected at file steps, ${rounds} rounds of two optimize at once"
echo "maps that draw as neither their old nor their new self: ${differ}"
echo "tilesets that describe a missing sheet: ${missing_sheet}"
echo "half folders: ${half}"
echo "hidden files left behind: ${left}"
[ "$differ" -eq 0 ] && [ "$missing_sheet" -eq 0 ] && [ "$half" -eq 0 ]
