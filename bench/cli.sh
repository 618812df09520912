#!/usr/bin/env bash
# Times the batch program on one big sheet against the floor programs and ImageMagick.
#
#   bash bench/cli.sh [side=4096] [folder=/tmp]
#
# The folder decides the file system: on a disk, creating 16,384 files can outweigh all
# else; on a tmpfs such as /dev/shm the figures show the programs' own work.
# Builds build/ (RelWithDebInfo), installs ImageMagick if it is missing (for this
# comparison only; the tool does not need it), then prints one table.
set -euo pipefail
cd "$(dirname "$0")/.."
side="${1:-4096}"
base="${2:-/tmp}"

bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_split bench_compile >/dev/null

# GNU time for the peak memory.
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi
# The real ImageMagick binaries, not any wrapper earlier on the PATH.
if ! command -v convert-im6.q16 >/dev/null && ! command -v convert >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq imagemagick >/dev/null
fi
im_convert=$(command -v convert-im6.q16 || command -v convert)
im_montage=$(command -v montage-im6.q16 || command -v montage)

work=$(mktemp -d "$base/tilvex-cli-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/bench_split --sheet "$work/big.bmp" "$side"
tiles=$(( (side / 32) * (side / 32) ))

# seconds and peak RSS (MiB) of one command
measure() {
  local log="$work/time.log"
  /usr/bin/time -f '%e %M' -o "$log" "$@" >/dev/null 2>"$work/stderr.log" || {
    echo "failed: $*" >&2; cat "$work/stderr.log" >&2; exit 1; }
  awk '{ printf "%s %d\n", $1, $2 / 1024 }' "$log"
}

# Keeps the best time and the largest peak of the runs measured with it.
best_s=""
best_mb=0
keep_best() {
  local s mb
  read -r s mb < <(measure "$@")
  if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s; fi
  [ "$mb" -gt "$best_mb" ] && best_mb=$mb
  return 0
}
# Best of three, as the floors are.
for run in 1 2 3; do
  keep_best build/tilvex split "$work/big.bmp" "$work/tiles$run" --quiet
done
split_s=$best_s split_mb=$best_mb best_s="" best_mb=0
for run in 1 2 3; do
  mkdir -p "$work/sheet$run"
  keep_best build/tilvex compile "$work/tiles1" "$work/sheet$run" --width 128 --quiet
done
compile_s=$best_s compile_mb=$best_mb

# The floors: plain open/write/close of the same tiles, plain reads and one sheet write.
split_floor=$(build/bench/bench_split "$side" "$work" | awk '/^floor/ { print $2 }')
compile_floor=$(build/bench/bench_compile "$tiles" 128 "$work" | awk '/^floor/ { print $2 }')

mkdir -p "$work/im"
read -r im_split_s im_split_mb < <(measure "$im_convert" "$work/big.bmp" -crop 32x32 +repage "BMP3:$work/im/%d.bmp")
# The tiles by name on the command line (ImageMagick's policy refuses @list files), short
# names from inside the folder.
mapfile -t names < <(seq -f '%g.bmp' 0 $((tiles - 1)))
read -r im_compile_s im_compile_mb < <(cd "$work/tiles1" &&
  measure "$im_montage" "${names[@]}" -tile 128x -geometry 32x32+0+0 "BMP3:$work/im-sheet.bmp")
rm -rf "$work"/tiles2 "$work"/tiles3

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
printf '%-9s %10s %10s %10s %12s %10s %14s\n' "command" "tilvex s" "floor s" "x floor" "ImageMagick s" "IM / tilvex" "peak MiB (IM)"
printf '%-9s %10s %10s %10s %12s %10s %8s (%s)\n' split "$split_s" "$split_floor" "$(ratio "$split_s" "$split_floor")" \
  "$im_split_s" "$(ratio "$im_split_s" "$split_s")" "$split_mb" "$im_split_mb"
printf '%-9s %10s %10s %10s %12s %10s %8s (%s)\n' compile "$compile_s" "$compile_floor" "$(ratio "$compile_s" "$compile_floor")" \
  "$im_compile_s" "$(ratio "$im_compile_s" "$compile_s")" "$compile_mb" "$im_compile_mb"
echo "targets: x floor <= 2, IM / tilvex >= 10 ($side x $side, $tiles tiles, in $base)"
