#!/usr/bin/env bash
# Runs one battery of tilvex commands with two builds and compares what they do: every file
# written, stdout (--json lines without their "seconds", summaries with the times masked),
# stderr, exit status and Errors.Log (dates masked). Exit 0 only when all is equal.
#   bash tests/battery/compare.sh OLD_TILVEX NEW_TILVEX [WORKDIR]
# Each group of commands runs once in text mode and once with --json added to every
# command, for each build in a fresh copy of the inputs in WORKDIR/old/GROUP-MODE and
# WORKDIR/new/GROUP-MODE (paths of one length, the work folder masked), with the build in
# its bin/ so that its Errors.Log lands there.
# shellcheck disable=SC2317  # the groups g_* are called by name
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then echo "usage: $0 OLD_TILVEX NEW_TILVEX [WORKDIR]" >&2; exit 2; fi
here="$(cd "$(dirname "$0")" && pwd)"
old_bin="$(realpath "$1")"
new_bin="$(realpath "$2")"
for bin in "$old_bin" "$new_bin"; do [ -x "$bin" ] || { echo "not a program: $bin" >&2; exit 2; }; done
PY="${PYTHON:-python3}"
"$PY" -c 'import PIL' 2>/dev/null || PY=/usr/bin/python3
if [ $# -eq 3 ]; then
  WORK="$(mkdir -p "$3" && realpath "$3")"
  rm -rf "${WORK:?}/old" "$WORK/new" "$WORK/inputs" "$WORK/old.tilvex" "$WORK/new.tilvex"
  keep=1
else
  WORK="$(mktemp -d /tmp/tilvex-battery.XXXXXX)"
  keep=0
fi
export LC_ALL=C.UTF-8 TZ=UTC
started=$SECONDS

# Inputs: made pictures and levels, and the orthogonal example maps of Tiled where installed.
inputs="$WORK/inputs"
"$PY" "$here/battery.py" inputs "$inputs"
examples=/usr/share/doc/tiled/examples
if [ -f "$examples/desert.tmx" ]; then
  mkdir -p "$inputs/tiled"
  cp -r "$examples"/{desert.tmx,desert.tsx,tmw_desert_spacing.png,sewers.tmx,sewer_tileset.png} "$inputs/tiled/"
  cp -r "$examples"/{perspective_walls.tmx,perspective_walls.tsx,perspective_walls.png,buch-outdoor.png} "$inputs/tiled/"
  cp -r "$examples"/{isometric_grass_and_water.tmx,isometric_grass_and_water.png,rpg} "$inputs/tiled/"
  cp -r "$examples/sticker-knight/map" "$inputs/tiled/sticker"
  gunzip -c "$examples/orthogonal-outside.tmx.gz" >"$inputs/tiled/orthogonal-outside.tmx"
  find "$inputs/tiled" -name '*.gz' -exec gunzip {} +
  # The island with its top layer hidden, for --hidden.
  sed 's/<layer name="Over" /<layer name="Over" visible="0" /' "$inputs/tiled/rpg/island.tmx" \
    >"$inputs/tiled/rpg/island-hidden.tmx"
else
  echo "note: no Tiled examples in $examples; the group tiled is left out"
fi

# One command: tilvex ARGS (plus --json in json mode) in the current folder, its output,
# errors and exit status recorded in RUN/log.
t() {
  local args=("$@") id
  [ "$MODE" = json ] && args+=(--json)
  count=$((count + 1))
  id="$RUN/log/$(printf %03d "$count")"
  printf '%s\n' "${args[*]}" >"$id.cmd"
  local status=0
  timeout 60 "$RUN/bin/tilvex" "${args[@]}" >"$id.out" 2>"$id.err" </dev/null || status=$?
  echo "$status" >"$id.rc"
}

g_window() {  # the window's way: plain 24-bit bitmaps, 32x32 tiles
  t split big.bmp tiles --start 5
  mkdir out
  t compile tiles out --width 7 --start 5
  mkdir out2 out3
  t compile tiles out2 --start 5
  t split big.bmp tiles            # into a folder that exists: tiles replaced
  t --quiet split small.bmp quiet
  t -j 1 split small.png pngtiles --start 3
  t split missing.bmp nowhere      # bad input
  t split tiles somewhere          # a folder where a picture belongs
  mkdir empty
  t compile empty out3             # no info.ini
  t compile big.bmp out3
  t compile missing out3
  t compile tiles ''
  t split big.bmp tiles3 --start 5
  rm tiles3/9.bmp
  t compile tiles3 out3 --width 7 --start 5   # a tile missing during the run
  t split broken.bmp broken        # a picture that ends early
}

g_tiles() {  # tile options
  t split sheet.png tiles --tile 16x24 --margin 2 --spacing 1 --format png --tileset T.tsx
  mkdir out out2 out3 out4 out5 out6 iout
  t compile tiles out --tile 16x24 --margin 2 --spacing 1 --format png --width auto --tileset out/sheet.tsx
  t split sheet.png keep --tile 16x24 --margin 2 --spacing 1 --format png --keep-edges
  t compile keep out2 --tile 16x24 --format png --exact --width 5
  t compile tiles out3 --tile 16x24 --margin 1 --spacing 1 --format png --extrude 2 --width 4 --tileset out3/x.tsx
  t split sheet.png bmptiles --tile 16x24 --margin 2 --spacing 1 --keep-edges
  t compile bmptiles out4 --tile 16x24 --margin 2 --spacing 1 --format bmp --width 3
  t compile bmptiles out5 --tile 16x24 --exact --width 6
  t split indexed.png itiles --tile 16 --format png --keep-edges --tileset itiles.tsx
  t compile itiles iout --tile 16 --format png --width auto --tileset iout/i.tsx
  t split sheet.png started --tile 16x24 --start 10 --format png -j 1
  t compile started out6 --start 10 --tile 16x24 --format png --width 2
  t compile tiles out6               # PNG tiles the window's way
  t split sheet.png bad --tile 0
  t split sheet.png bad --margin -1
  t split sheet.png bad --start abc
  t split sheet.png bad --format gif
  t split sheet.png bad --tile 4096
  t compile tiles out6 --width x
}

g_level() {  # levels cut into distinct tiles and maps, maps drawn back, optimize
  mkdir maps csv small
  t split level1.png tiles --tile 16 --format png --unique --flips --skip-empty --map maps/level1.tmx
  t split level2.png tiles --tile 16 --format png --unique --flips --tileset maps/level1.tsx --map maps/level2.tmx
  t split level3.png tiles2 --tile 16 --format png --unique --flips --skip-empty --tileset maps/level1.tsx --map maps/level3.tmx
  t split level3.png tiles3 --tile 16 --format png --unique --flips --skip-empty --map maps/level3j.tmj
  t split level3.png tiles4 --tile 16 --format png --unique --skip-empty --keep-edges --map csv/level4.csv
  t split levelb.bmp btiles --tile 16 --unique --skip-empty --empty-colour 102030 --map csv/levelb.csv
  t split level8.png tiles8 --tile 8 --format png --unique --map small/level8.tmx
  t compile --map maps/level1.tmx level1.png
  t compile --map maps/level2.tmx level2.bmp
  t compile --map maps/level3.tmx level3.png
  t compile --map maps/level3j.tmj level3j.png
  t compile --map csv/level4.csv level4.png
  t compile --map csv/levelb.csv levelb.bmp
  t compile --map maps/level1.tmx level1e.png --empty-colour 336699
  t compile --map maps/level1.tmx level1noext --format png
  t compile --map maps/level1.tmx level1.gif
  t info maps/level1.tmx maps/level3j.tmj
  t split level1.png x --tile 16 --flips
  t split level1.png x --tile 16 --unique --map x.csv --flips
  t split level1.png x --tile 16 --unique --map x.txt
  t extrude maps/level1.tsx x.tsx --extrude 2   # an image collection has no sheet
  t optimize maps/*.tmx --out game --flips
  t optimize maps/*.tmx maps/level3j.tmj --out game2 --flips --extrude 1 --width 3 --tileset all.tsx
  t optimize maps/*.tmx --out game3 --dry-run
  t optimize maps/level1.tmx --out game4
  t optimize maps/level1.tmx --out game5 --format bmp  # tiles with transparency
  t optimize maps/level1.tmx small/level8.tmx --out game6  # tile sizes differ
  t optimize maps/level1.tmx maps/level2.tmx --out maps     # the out folder holds an input
  t optimize maps/level1.tmx
}

g_extrude() {
  t extrude ex.png ex-x.png --tile 16 --margin 1 --spacing 2 --extrude 2
  t extrude ex.png ex-x.bmp --tile 16 --margin 1 --spacing 2
  t extrude indexed.png indexed-x.png --tile 16 --extrude 3
  t split ex.png tiles --tile 16 --margin 1 --spacing 2 --format png --tileset tiles.tsx
  mkdir sheet
  t compile tiles sheet --tile 16 --format png --width 3 --tileset sheet/T.tsx
  t extrude sheet/T.tsx T-x.tsx --extrude 2
  t extrude tiles.tsx x.tsx                     # an image collection has no sheet
  t extrude sheet/T.tsx sheet/Tiles.tsx         # its sheet would replace the tileset's own
  t extrude ex.png bad.png --tile 128
  t extrude ex.png bad.png
  t extrude ex.png bad.gif --tile 16
}

g_tiled() {  # the example maps of Tiled
  cd tiled
  t info desert.tmx rpg/island.tmx sewers.tmx orthogonal-outside.tmx sticker/sandbox.tmx
  t info ../big.bmp ../sheet.png ../indexed.png ../notes.txt ../missing.png
  t compile --map desert.tmx desert.png
  t compile --map rpg/island.tmx island.png
  t compile --map rpg/island.tmx island-go.bmp --layer Ground --layer Over
  t compile --map rpg/island-hidden.tmx hidden.png
  t compile --map rpg/island-hidden.tmx hidden-shown.png --hidden
  t compile --map sewers.tmx sewers.png
  t compile --map perspective_walls.tmx walls.png
  t compile --map orthogonal-outside.tmx outside.png
  t compile --map sticker/sandbox2.tmx sandbox2.png --hidden
  t compile --map isometric_grass_and_water.tmx iso.png
  t compile --map desert.tmx none.png --layer Nothing
  t extrude desert.tsx desert-x.tsx --extrude 2
  t extrude rpg/beach_tileset.tsx rpg/beach-x.tsx
  t optimize rpg/island.tmx orthogonal-outside.tmx --out game --flips
  t optimize desert.tmx rpg/island.tmx --out game2
}

g_usage() {
  t
  t --help
  t --version
  for command in split compile extrude optimize info; do t "$command" --help; done
  t split --tiles 16 big.bmp x
  t split big.bmp
  t compile a b c
  t frobnicate
  t split big.bmp x --start 1 --start 2
  t optimize maps.tmx
  t info
}

groups=(window tiles level extrude usage)
[ -d "$inputs/tiled" ] && groups+=(tiled)
# Every group with one build in one mode, each in a fresh copy of the inputs; the four
# streams (two builds, two modes) run at once.
run_stream() {
  local side="$1" group
  MODE="$2"
  for group in "${groups[@]}"; do
    RUN="$WORK/$side/$group-$MODE"
    mkdir -p "$RUN/bin" "$RUN/log" "$RUN/xdg/config" "$RUN/xdg/state"
    ln "$WORK/$side.tilvex" "$RUN/bin/tilvex"  # Errors.Log lands beside the link
    cp -r "$inputs" "$RUN/tree"
    count=0
    (cd "$RUN/tree" && export XDG_CONFIG_HOME="$RUN/xdg/config" XDG_STATE_HOME="$RUN/xdg/state" && "g_$group")
  done
}
echo "running ${#groups[@]} groups of commands in text and json mode with each build"
cp "$old_bin" "$WORK/old.tilvex"
cp "$new_bin" "$WORK/new.tilvex"
jobs=()
for side in old new; do
  for mode in text json; do
    run_stream "$side" "$mode" &
    jobs+=($!)
  done
done
for job in "${jobs[@]}"; do wait "$job"; done

status=0
"$PY" "$here/battery.py" compare "$WORK" || status=$?
if [ "$status" -eq 0 ] && [ "$keep" -eq 0 ]; then rm -rf "$WORK"; else echo "results in $WORK"; fi
echo "time: $((SECONDS - started)) s"
exit "$status"
