#!/usr/bin/env bash
# Shared tilesets under fire: kills tilvex at random moments of level splits that append to
# one shared tileset (split --unique --tileset --map), then runs pairs of such appends at
# once, and counts torn files (a tile, tileset or map that is neither absent nor whole), lost
# tiles (a tile id of the tileset gone or pointing elsewhere), maps that draw differently
# from their level and files left behind. Not part of the test command: it takes minutes.
#   bash tests/stress/tilesets.sh [kills=20] [rounds=10] [folder=/tmp] [program=build/tilvex]
set -euo pipefail
cd "$(dirname "$0")/../.."
kills="${1:-20}"
rounds="${2:-10}"
base="${3:-/tmp}"
program="$(realpath "${4:-build/tilvex}")"
[ -x "$program" ] || { echo "build $program first (bash scripts/test.sh)"; exit 1; }
level=tests/support/level.py

work="$(mktemp -d "$base/tilvex-tilesets.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/tilvex"  # its Errors.Log lands in $work
mkdir -p "$work/levels" "$work/maps"
cd "$work"

# Level n: 40x30 cells of 16x16 tiles, 300 distinct ones of its own.
make_level() { python3 "$OLDPWD/$level" "levels/$1.png" 40 30 300 "$1"; }
# exec: a run started in the background is the program itself, so the kill reaches it.
append() { (exec ./tilvex split "levels/$1.png" tiles --tile 16 --format png --unique --tileset shared.tsx --map "maps/$1.tmx" --quiet); }
append_in_background() { (exec ./tilvex split "levels/$1.png" tiles --tile 16 --format png --unique --tileset shared.tsx --map "maps/$1.tmx" --quiet) & }

# Tile sources of the tileset by id, one a line; exit 1 when it is no whole tileset.
sources() {
  python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as tree
try:
    root = tree.parse(sys.argv[1]).getroot()
except Exception:
    sys.exit(1)
for tile in root.findall("tile"):
    print(tile.get("id"), tile.find("image").get("source"))
PY
}

# Whole PNG files end with their IEND chunk; prints the torn ones.
torn_pictures() {
  python3 - "$@" <<'PY'
import sys
for name in sys.argv[1:]:
    with open(name, "rb") as f:
        data = f.read()
    if not (data.startswith(b"\x89PNG") and data.endswith(b"IEND\xaeB`\x82")):
        print(name)
PY
}

# Whether the map draws its level again: the two pictures as one bitmap tile each, compared.
draws_again() {
  rm -rf cmp && mkdir -p cmp
  ./tilvex compile --map "maps/$1.tmx" cmp/again.png --quiet 2>/dev/null &&
    ./tilvex split cmp/again.png cmp/a --tile 640x480 --quiet 2>/dev/null &&
    ./tilvex split "levels/$1.png" cmp/b --tile 640x480 --quiet 2>/dev/null &&
    cmp -s cmp/a/0.bmp cmp/b/0.bmp
}

torn=0
lost=0
differ=0
killed=0
finished=()  # levels whose maps were written whole
# Checks the tileset against the ids it had (known) and the tiles; with "maps", every map
# written so far is drawn again too.
check_all() {
  local known="$1" now
  if ! now="$(sources shared.tsx)"; then
    torn=$((torn + 1)); echo "torn: shared.tsx"; return
  fi
  # Every id the tileset had keeps its file.
  if [ "$(head -n "$(wc -l <<<"$known")" <<<"$now")" != "$known" ]; then
    lost=$((lost + 1)); echo "lost tiles: $(wc -l <<<"$known") known, $(wc -l <<<"$now") now"
  fi
  local n
  n=$(torn_pictures tiles/*.png | tee /dev/stderr | wc -l)
  torn=$((torn + n))
  [ "${2:-}" = maps ] || return 0
  for map in "${finished[@]}"; do
    if ! draws_again "$map"; then differ=$((differ + 1)); echo "draws differently: map $map"; fi
  done
}

make_level 0
append 0
finished+=(0)
make_level 1
start=$(date +%s%N)
append 1
span_ms=$(( ($(date +%s%N) - start) / 1000000 ))
finished+=(1)

next=2
for i in $(seq 1 "$kills"); do
  make_level "$next"
  known="$(sources shared.tsx)"
  append_in_background "$next" 2>/dev/null
  pid=$!
  sleep "$(awk -v r="$RANDOM" -v ms="$span_ms" 'BEGIN { printf "%.3f", (r / 32768) * ms / 1000 }')"
  if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  if [ -e "maps/$next.tmx" ]; then
    if python3 -c 'import sys, xml.etree.ElementTree as t; t.parse(sys.argv[1])' "maps/$next.tmx" 2>/dev/null; then
      finished+=("$next")
    else
      torn=$((torn + 1)); echo "torn: maps/$next.tmx"
    fi
  fi
  check_all "$known"
  next=$((next + 1))
done
check_all "$(sources shared.tsx)" maps

for round in $(seq 1 "$rounds"); do
  make_level "$next"
  make_level "$((next + 1))"
  known="$(sources shared.tsx)"
  before=$(wc -l <<<"$known")
  status=0
  append_in_background "$next"; a=$!
  append_in_background "$((next + 1))"; b=$!
  wait "$a" || status=1
  wait "$b" || status=1
  [ "$status" -eq 0 ] || echo "round $round: a run failed"
  finished+=("$next" "$((next + 1))")
  after=$(sources shared.tsx | wc -l)
  if [ "$after" -ne $((before + 600)) ]; then lost=$((lost + 1)); echo "round $round: $before + 600 tiles expected, $after found"; fi
  check_all "$known"
  next=$((next + 2))
done
check_all "$(sources shared.tsx)" maps

left=$(find tiles maps . -maxdepth 1 -name '.tilvex-*' | wc -l)
echo "appends: ${kills} killed at random (${killed} before they ended, about ${span_ms} ms a run), ${rounds} rounds of two at once"
echo "tiles in the shared tileset: $(sources shared.tsx | wc -l); maps checked: ${#finished[@]}"
echo "torn files: ${torn}"
echo "lost tiles: ${lost}"
echo "maps that draw differently: ${differ}"
echo "files left behind: ${left}"
[ "$torn" -eq 0 ] && [ "$lost" -eq 0 ] && [ "$differ" -eq 0 ] && [ "$left" -eq 0 ]
