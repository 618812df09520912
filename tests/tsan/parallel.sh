#!/usr/bin/env bash
# Runs the batch program's parallel paths under ThreadSanitizer and fails on any report:
# split of a bitmap on every core (new folder and old), PNG split while decoding, compile of
# PNG and of 1,000+ bitmap tiles (exact and the window's way), a level split and its map drawn back, a tall sheet extruded in bands.
#   bash tests/tsan/parallel.sh BUILD_DIR   (a build configured with -DTILVEX_TSAN=ON)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
program="$(realpath "$1/tilvex")"
[ -x "$program" ] || { echo "tsan: no $program"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/tilvex"  # its Errors.Log lands in $work
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$here/qt.supp"

level="$here/../support/level.py"
python3 "$level" "$work/sheet.bmp" 48 32 400 1 32
python3 "$level" "$work/level.png" 80 60 300 2 16
python3 "$level" "$work/tall.png" 64 240 200 3 16

run() {
  echo "tsan: tilvex $*"
  if ! (cd "$work" && ./tilvex "$@" --quiet); then
    echo "tsan: FAILED: tilvex $*" >&2
    exit 1
  fi
}
run split sheet.bmp bmptiles
run compile bmptiles . --width 48 --exact
# The window's way: read in bands, into a folder that exists; drawn in bands while the next
# row of tiles is read and the last band written.
run split sheet.bmp bmptiles
mkdir -p "$work/plain"
run compile bmptiles plain --width 48
run split level.png pngtiles --tile 16 --format png
mkdir -p "$work/sheets"
run compile pngtiles sheets --tile 16 --format png --width 80
run split level.png leveltiles --tile 16 --format png --unique --flips --map level.tmx
run compile --map level.tmx again.png
# Tall enough for several bands: the next is decoded while the last is extruded and encoded.
run extrude tall.png tall-extruded.png --tile 16 --extrude 2
cmp -s <(cd "$work" && ./tilvex info again.png level.png | cut -f2-) <(printf 'PNG\t1280\t960\t32\nPNG\t1280\t960\t24\n') ||
  { echo "tsan: the level drew back at another size" >&2; exit 1; }
echo "tsan: no report"
