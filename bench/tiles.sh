#!/usr/bin/env bash
# Times `tilvex split` and `tilvex compile` with PNG tiles against Pillow and libvips.
#
#   bash bench/tiles.sh [side=4096] [folder=/tmp]
#
# A side by side RGBA PNG of game-like 32 by 32 tiles (bench_tilesheet) is cut into
# (side/32)^2 PNG tiles and compiled back into one PNG sheet by each tool in the same run.
# Installs Pillow (python3-pil) and libvips (libvips-tools) when missing, for this
# comparison only; a tool that cannot be installed is left out. Checks that our sheet
# equals the source pixel for pixel, then prints one table.
set -euo pipefail
cd "$(dirname "$0")/.."
side="${1:-4096}"
base="${2:-/tmp}"
across=$((side / 32))
tiles=$((across * across))

bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tilvex bench_tilesheet >/dev/null

install() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$@" >/dev/null 2>&1 || true
}
[ -x /usr/bin/time ] || install time
# Debian's own Python, where python3-pil lives (a python3 earlier on the PATH may lack it).
/usr/bin/python3 -c 'import PIL' 2>/dev/null || install python3-pil
command -v vips >/dev/null || install libvips-tools

work=$(mktemp -d "$base/tilvex-tiles-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/bench_tilesheet "$work/big.png" "$side"

# seconds, peak RSS (MiB) and CPU use of one command
measure() {
  local log="$work/time.log"
  /usr/bin/time -f '%e %M %P' -o "$log" "$@" >/dev/null 2>"$work/stderr.log" || {
    echo "failed: $*" >&2; cat "$work/stderr.log" >&2; exit 1; }
  awk '{ printf "%s %d %s\n", $1, $2 / 1024, $3 }' "$log"
}

# Best time of some runs, with the largest peak and the CPU use of the best run.
best() {
  local runs=$1 setup=$2 s mb cpu best_s="" best_mb=0 best_cpu=""
  shift 2
  for ((run = 0; run < runs; run++)); do
    eval "$setup"
    read -r s mb cpu < <(measure "$@")
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s best_cpu=$cpu; fi
    [ "$mb" -gt "$best_mb" ] && best_mb=$mb
  done
  echo "$best_s $best_mb $best_cpu"
}

results=()
row() { results+=("$(printf '%-9s %9s %9s %6s %11s %9s %6s %10s' "$@")"); }

tv=build/tilvex
read -r ts tm tc < <(best 3 'rm -rf "$work/t"' "$tv" split "$work/big.png" "$work/t" --format png --quiet)
read -r cs cm cc < <(best 3 'rm -rf "$work/ts"; mkdir "$work/ts"' "$tv" compile "$work/t" "$work/ts" --format png --width "$across" --quiet)
row tilvex "$ts" "$tm" "$tc" "$cs" "$cm" "$cc" "$(stat -c %s "$work/ts/Tiles.png")"
/usr/bin/python3 - "$work/big.png" "$work/ts/Tiles.png" <<'PY' || { echo "tilvex sheet differs from the source" >&2; exit 1; }
import sys
from PIL import Image
a, b = (Image.open(p).convert("RGBA") for p in sys.argv[1:3])
sys.exit(0 if a.size == b.size and a.tobytes() == b.tobytes() else 1)
PY
fastest_split="" fastest_compile=""
faster() { [ -z "$1" ] || awk -v a="$2" -v b="$1" 'BEGIN { exit !(a < b) }'; }

if /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
  py=(/usr/bin/python3 bench/pillow_tiles.py)
  read -r s m c < <(best 3 'rm -rf "$work/p"' "${py[@]}" split "$work/big.png" "$work/p")
  read -r s2 m2 c2 < <(best 3 'rm -f "$work/p.png"' "${py[@]}" compile "$work/p" "$work/p.png" "$tiles" "$across")
  row Pillow "$s" "$m" "$c" "$s2" "$m2" "$c2" "$(stat -c %s "$work/p.png")"
  fastest_split=$s fastest_compile=$s2
  rm -rf "$work/p"
fi

if command -v vips >/dev/null; then
  # Split: deep zoom tiles of one level, no overlap, PNG. Compile: a command line cannot
  # name 16,384 files, so one arrayjoin per row of tiles, then one of the rows.
  vips_compile() {
    local rows=$(( (tiles + across - 1) / across )) r list=""
    for ((r = 0; r < rows; r++)); do
      (cd "$work/t" && vips arrayjoin "$(seq -f '%g.png' $((r * across)) $((r * across + across - 1)) | tr '\n' ' ')" \
        "$work/vrow$r.png" --across "$across")
      list+="$work/vrow$r.png "
    done
    vips arrayjoin "$list" "$work/v.png" --across 1
  }
  export -f vips_compile
  export work tiles across
  read -r s m c < <(best 1 'rm -rf "$work/v"' vips dzsave "$work/big.png" "$work/v" --layout google --tile-size 32 \
    --overlap 0 --depth one --suffix .png)
  read -r s2 m2 c2 < <(best 1 'rm -f "$work"/vrow*.png' bash -c vips_compile)
  row libvips "$s" "$m" "$c" "$s2" "$m2" "$c2" "$(stat -c %s "$work/v.png")"
  faster "$fastest_split" "$s" && fastest_split=$s
  faster "$fastest_compile" "$s2" && fastest_compile=$s2
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a != "") printf "%.1f", a / b; else print "-" }'; }
printf '%-9s %9s %9s %6s %11s %9s %6s %10s\n' tool "split s" "peak MiB" "CPU" "compile s" "peak MiB" "CPU" "sheet B"
printf '%s\n' "${results[@]}"
echo "fastest other / tilvex: split $(ratio "$fastest_split" "$ts"), compile $(ratio "$fastest_compile" "$cs") (target >= 2)"
echo "($side x $side RGBA PNG, $tiles tiles of 32 x 32, in $base; tilvex and Pillow best of 3, libvips 1 run; $(nproc) cores)"
