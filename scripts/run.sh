#!/usr/bin/env bash
# Sets up what building and running need, builds both programs (the window tilvex-converter
# and the batch program tilvex, in build/) and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target tilvex-converter tilvex

echo "Built build/tilvex (try: build/tilvex --help) and build/tilvex-converter."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: set DISPLAY (or start it on a desktop) to open the Tilvex Converter window." >&2
  exit 1
fi
exec build/tilvex-converter
