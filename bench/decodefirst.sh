#!/usr/bin/env bash
# The PNG split of two builds of the batch program in the same run, interleaved: e.g. one
# that cuts tiles while the picture decodes straight into the folder against one that keeps
# them out of sight until the whole picture has decoded.
#
#   bash bench/decodefirst.sh BEFORE AFTER [side=4096] [rounds=5] [folder=/dev/shm]
#
# BEFORE and AFTER are tilvex programs. A side by side RGBA PNG of game-like tiles is split
# into (side/32)^2 PNG tiles, into a new folder and into one that holds the tiles already;
# prints the median seconds of each and AFTER's over BEFORE's.
set -euo pipefail
cd "$(dirname "$0")/.."
before="$1"
after="$2"
side="${3:-4096}"
rounds="${4:-5}"
base="${5:-/dev/shm}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target bench_tilesheet >/dev/null
work=$(mktemp -d "$base/tilvex-decodefirst-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/bench_tilesheet "$work/big.png" "$side"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"

source bench/timing.sh

: >"$work/times"
for round in $(seq "$rounds"); do
  for which in before after; do
    program=$before
    [ "$which" = after ] && program=$after
    rm -rf "$work/t"
    echo "new $which $(seconds "$program" split "$work/big.png" "$work/t" --format png -q)" >>"$work/times"
    echo "existing $which $(seconds "$program" split "$work/big.png" "$work/t" --format png -q)" >>"$work/times"
  done
done
printf '%-10s %9s %9s %7s\n' folder "before s" "after s" ratio
for what in new existing; do
  b=$(awk -v w="$what" '$1 == w && $2 == "before" { print $3 }' "$work/times" | median)
  a=$(awk -v w="$what" '$1 == w && $2 == "after" { print $3 }' "$work/times" | median)
  printf '%-10s %9s %9s %7s\n' "$what" "$b" "$a" "$(ratio "$a" "$b")"
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
