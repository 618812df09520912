#!/usr/bin/env bash
# PNG encode and decode of 4096 by 4096 RGBA sheets (flat pixel art, gradients, noise): ours on
# one core and on every core, libspng with zlib, and memcpy of the same buffer (bench_png), then
# Pillow on the same pixels. MB of pixels a second (best of the rounds) and file sizes.
#
#   bash bench/png.sh [side=4096] [rounds=3] [folder=/dev/shm]
set -euo pipefail
cd "$(dirname "$0")/.."
side="${1:-4096}"
rounds="${2:-3}"
base="${3:-/dev/shm}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target bench_png >/dev/null
work=$(mktemp -d "$base/tilvex-png-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
build/bench/bench_png "$side" "$rounds" "$work"

if ! /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
  echo "Pillow (Debian python3-pil) is not installed: its rows are left out" >&2
  exit 0
fi
/usr/bin/python3 - "$work" "$side" "$rounds" <<'PY'
import io, sys, time
from PIL import Image
work, side, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
mb = side * side * 4 / 1e6
def best(run):
    fastest = 1e9
    for _ in range(rounds):
        start = time.perf_counter(); run(); fastest = min(fastest, time.perf_counter() - start)
    return fastest
for kind in ("flat", "gradient", "noise"):
    with open(f"{work}/png-bench-{kind}.rgba", "rb") as f:
        image = Image.frombytes("RGBA", (side, side), f.read())
    out = io.BytesIO()
    def encode():
        out.seek(0); out.truncate(); image.save(out, "PNG")
    t = best(encode)
    print(f"{kind:<9} {'Pillow encode':<22} {1:>7} {mb / t:>10.0f} {out.tell():>12}")
    data = out.getvalue()
    t = best(lambda: Image.open(io.BytesIO(data)).load())
    print(f"{kind:<9} {'Pillow decode':<22} {1:>7} {mb / t:>10.0f} {len(data):>12}")
    ours = open(f"{work}/png-bench-{kind}.png", "rb").read()
    t = best(lambda: Image.open(io.BytesIO(ours)).load())
    print(f"{kind:<9} {'Pillow decode ours':<22} {1:>7} {mb / t:>10.0f} {len(ours):>12}")
PY
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
