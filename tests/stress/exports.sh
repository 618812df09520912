#!/usr/bin/env bash
# Export folders under fire, for each engine: kills tilvex at random moments of an export into
# a folder that holds an earlier export and files of the user's (plain runs, and runs whose
# file steps strace slows down so that a kill lands inside the change-over), then runs pairs
# of exports of two versions into one folder at once. Counts mixed sets (files of both
# versions, or half a set), torn files (bytes of neither version), the user's files lost or
# changed, and stage folders left behind once a later run is done. Want 0 each.
# Not part of the test command: it takes minutes.
#   bash tests/stress/exports.sh [kills=20] [rounds=10] [folder=/tmp] [program=build/tilvex]
set -euo pipefail
cd "$(dirname "$0")/../.."
kills="${1:-20}"
rounds="${2:-10}"
base="${3:-/tmp}"
program="$(realpath "${4:-build/tilvex}")"
[ -x "$program" ] || { echo "build $program first (bash scripts/test.sh)"; exit 1; }
level="$(realpath tests/support/level.py)"
have_strace=1
command -v strace >/dev/null || { have_strace=0; echo "strace is missing: no slowed runs (apt-get install strace)"; }

work="$(mktemp -d "$base/tilvex-exports.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/tilvex"  # its Errors.Log lands in $work
cd "$work"

steps=mkdirat,linkat,renameat,renameat2,unlinkat
pause_ms() { sleep "$(awk -v r="$RANDOM" -v ms="$1" 'BEGIN { printf "%.3f", (r / 32768) * ms / 1000 }')"; }
ms_of() {
  local start
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  echo $(( ($(date +%s%N) - start) / 1000000 ))
}

# Two versions of two levels, each cut into a map over a tileset of its own.
mkdir -p levels
for version in 1 2; do
  for m in 0 1; do
    python3 "$level" "levels/v$version-$m.png" 24 16 60 "$((version * 10 + m))"
    ./tilvex split "levels/v$version-$m.png" "cut$version-$m" --tile 16 --format png --unique --map "v$version/m$m.tmx" --quiet
  done
done

mixed=0
torn=0
lost=0
leftovers=0
killed=0

# A listing of the folder's files with their sums, the user's aside.
sums() { (cd "$1" && find . -type f ! -path './user/*' | LC_ALL=C sort | xargs -r md5sum); }
# The folder holds one version's whole set, and the user's files as they were.
check_set() {
  local engine="$1" now
  now=$(sums out)
  if [ "$now" != "$(cat "ref-$engine-1.sums")" ] && [ "$now" != "$(cat "ref-$engine-2.sums")" ]; then
    # A file whose bytes are neither version's is torn; else the versions are mixed.
    local file bad=0
    while read -r _ file; do
      if ! cmp -s "out/$file" "ref-$engine-1/$file" 2>/dev/null && ! cmp -s "out/$file" "ref-$engine-2/$file" 2>/dev/null; then
        bad=$((bad + 1))
      fi
    done <<<"$now"
    if [ "$bad" -gt 0 ]; then torn=$((torn + bad)); echo "$engine: $bad torn files"; else mixed=$((mixed + 1)); echo "$engine: a mixed set"; fi
  fi
  if ! diff -r -q user out/user >/dev/null 2>&1; then lost=$((lost + 1)); echo "$engine: the user's files changed"; fi
}
# After a whole run, no stage of ours is left beside the folder or in it.
check_leftovers() {
  local left
  left=$(find . out -maxdepth 1 -name '.tilvex-*' | wc -l)
  if [ "$left" -gt 0 ]; then leftovers=$((leftovers + left)); echo "$1: $left stage folders or files left"; fi
}

mkdir -p user/art
echo "the user's notes" >user/notes.txt
head -c 5000 /dev/urandom >user/art/hero.png
for engine in phaser godot ldtk; do
  for version in 1 2; do
    ./tilvex export "v$version"/m*.tmx --to "$engine" --out "ref-$engine-$version" --quiet
    sums "ref-$engine-$version" >"ref-$engine-$version.sums"
  done
  rm -rf out
  ./tilvex export v1/m*.tmx --to "$engine" --out out --quiet
  cp -r user out/user
  run_ms=$(ms_of ./tilvex export v2/m*.tmx --to "$engine" --out out --quiet)
  for i in $(seq 1 "$kills"); do
    version=$((i % 2 + 1))
    if [ "$have_strace" = 1 ] && [ $((i % 3)) -eq 0 ]; then
      # Each file step slowed by 2 ms: the kill lands among them.
      (exec strace -f -o /dev/null -e trace="$steps" -e inject="$steps":delay_enter=2000 \
        ./tilvex export "v$version"/m*.tmx --to "$engine" --out out --quiet) >/dev/null 2>&1 &
      tracer=$!
      pause_ms "$((run_ms * 3 + 40))"
      pid=$(ps -o pid= --ppid "$tracer" | tr -d ' ' | head -1 || true)  # none once it has ended
      if [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
      wait "$tracer" 2>/dev/null || true
    else
      (exec ./tilvex export "v$version"/m*.tmx --to "$engine" --out out --quiet) >/dev/null 2>&1 &
      pid=$!
      pause_ms "$run_ms"
      if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
      wait "$pid" 2>/dev/null || true
    fi
    check_set "$engine"
    ./tilvex export v1/m*.tmx --to "$engine" --out out --quiet
    check_set "$engine"
    check_leftovers "$engine"
  done
  # Pairs at once: each run takes its turn, so the folder ends as one of them, whole.
  for i in $(seq 1 "$rounds"); do
    (exec ./tilvex export v1/m*.tmx --to "$engine" --out out --quiet) >/dev/null 2>&1 &
    first=$!
    (exec ./tilvex export v2/m*.tmx --to "$engine" --out out --quiet) >/dev/null 2>&1 &
    second=$!
    wait "$first" || { echo "$engine: a concurrent run failed"; mixed=$((mixed + 1)); }
    wait "$second" || { echo "$engine: a concurrent run failed"; mixed=$((mixed + 1)); }
    check_set "$engine"
    check_leftovers "$engine"
  done
done

echo "exports: $killed kills, $((3 * rounds)) concurrent pairs; mixed sets $mixed, torn files $torn, user's files lost $lost, leftovers $leftovers"
[ $((mixed + torn + lost + leftovers)) -eq 0 ]
