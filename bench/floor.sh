#!/usr/bin/env bash
# The batch program against the floor process (bench_floor), both as whole processes with
# their start-up, runs interleaved, medians; then the window path in one process each
# (bench_split, bench_compile) and the peak memory of the batch program.
#
#   bash bench/floor.sh [rounds=5] [folders="/dev/shm /tmp"]
#
# The load average and any other busy process are printed before and after: figures taken
# while the machine was busy are no measure of the floor.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-5}"
folders="${2:-/dev/shm /tmp}"

bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_split bench_compile bench_floor >/dev/null
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi

source bench/timing.sh

# The figures hold only on a quiet machine: say what else was running.
quiet_check() {
  local load others
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  others=$(ps -eo pcpu=,comm= --sort=-pcpu | awk -v me="$$" '$1 >= 5 { printf "%s(%s%%) ", $2, $1 }' | head -c 300)
  echo "load average $load; $1: ${others:-nothing else above 5% CPU}"
}
quiet_check "before the runs"

printf '%-10s %-34s %9s %9s %7s\n' folder "batch program (median of $rounds)" "tilvex s" "floor s" ratio
for base in $folders; do
  work=$(mktemp -d "$base/tilvex-floor-XXXXXX")
  build/bench/bench_split --sheet "$work/big.bmp" 4096
  build/bench/bench_split --sheet "$work/small.bmp" 1440
  build/tilvex split "$work/big.bmp" "$work/tiles" -q
  build/tilvex compile "$work/tiles" "$work" --width 128 -q
  sheet_bytes=$(stat -c %s "$work/Tiles.bmp")
  : >"$work/times"
  for round in $(seq "$rounds"); do
    mkdir "$work/f" "$work/fs"
    {
      echo "split4096 floor $(seconds build/bench/bench_floor split 16384 "$work/f")"
      echo "split4096 tilvex $(seconds build/tilvex split "$work/big.bmp" "$work/t" -q)"
      echo "split1440 floor $(seconds build/bench/bench_floor split 2025 "$work/fs")"
      echo "split1440 tilvex $(seconds build/tilvex split "$work/small.bmp" "$work/ts" -q)"
      echo "compile floor $(seconds build/bench/bench_floor compile 16384 "$work/tiles" "$sheet_bytes")"
      echo "compile tilvex $(seconds build/tilvex compile "$work/tiles" "$work" --width 128 -q)"
      echo "startup floor $(seconds build/bench/bench_floor split 0 "$work/fs")"
      echo "startup tilvex $(seconds build/tilvex --version)"
    } >>"$work/times"
    rm -rf "$work/f" "$work/fs" "$work/t" "$work/ts"
  done
  for what in split4096 split1440 compile startup; do
    ours=$(awk -v w="$what" '$1 == w && $2 == "tilvex" { print $3 }' "$work/times" | median)
    floor=$(awk -v w="$what" '$1 == w && $2 == "floor" { print $3 }' "$work/times" | median)
    printf '%-10s %-34s %9s %9s %7s\n' "$base" "$what" "$ours" "$floor" "$(ratio "$ours" "$floor")"
  done
  echo "window path, one process (best of three each):"
  build/bench/bench_split 4096 "$base" | sed 's/^/  /'
  build/bench/bench_compile 16384 128 "$base" | tail -3 | sed 's/^/  /'
  echo "peak MiB: split 4096² $(peak build/tilvex split "$work/big.bmp" "$work/p" -q) (sheet file $((50331702 >> 20))), compile $(peak build/tilvex compile "$work/tiles" "$work" --width 128 -q) (sheet file $((sheet_bytes >> 20)))"
  rm -rf "$work"
  quiet_check "after $base"
done
# The 16384 by 16384 sheet needs 1.8 GB of room: a tmpfs only.
work=$(mktemp -d /dev/shm/tilvex-floor-XXXXXX)
build/bench/bench_split --sheet "$work/huge.bmp" 16384
echo "peak MiB: split 16384² $(peak build/tilvex split "$work/huge.bmp" "$work/t" -q) (sheet file $(($(stat -c %s "$work/huge.bmp") >> 20)))"
rm -rf "$work"
