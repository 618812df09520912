#!/usr/bin/env bash
# Sets up, builds and starts the converter window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target tilvex-converter

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: set DISPLAY (or start it on a desktop) to open the Tilvex Converter window." >&2
  exit 1
fi
exec build/tilvex-converter
