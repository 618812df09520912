#!/usr/bin/env bash
# Installs the Debian packages that are missing: with "build", only what building and running
# both programs need; without it, also what the tests, benchmarks and package checks need.
#   bash scripts/setup.sh [build]
set -euo pipefail

# What building needs (GoogleTest too: the one CMake configuration declares the tests) and
# help2man, which writes the manual pages from the programs' own help.
packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libgtest-dev libspng-dev libdeflate-dev libisal-dev zlib1g-dev
          libzstd-dev help2man)
tests=1
[ "${1:-}" = build ] && tests=0
if [ $tests -eq 1 ]; then
  # tiled ships tmxrasterizer, which the tileset tests render maps with; python3-pil makes the
  # sheets the extrusion tests compare on; xvfb and xdotool drive the real window; the rest
  # check the installed tree and the package; python3-jsonschema checks exported LDtk projects.
  packages+=(locales xvfb xdotool x11-utils strace tiled desktop-file-utils appstream man-db file dpkg-dev python3 python3-pil python3-jsonschema pngcheck
             ccache)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
[ $tests -eq 1 ] || exit 0

# The number tests also run under a locale whose decimal separator is ",".
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo_cmd sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  $sudo_cmd locale-gen >/dev/null
fi

# tile-extruder (npm), which the extrusion tests and benchmark compare against, into a folder
# git ignores; only where npm is there (those tests skip without it).
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if command -v npm >/dev/null 2>&1 && [ ! -f "$root/build-node/node_modules/tile-extruder/bin/cli.js" ]; then
  npm install --silent --no-audit --no-fund --prefix "$root/build-node" tile-extruder >/dev/null 2>&1 ||
    echo "tile-extruder could not be installed; the tests that compare with it will skip"
fi

# Phaser (npm), whose own Tiled parser the export tests run under Node on the maps written.
if command -v npm >/dev/null 2>&1 && [ ! -f "$root/build-node/node_modules/phaser/dist/phaser.js" ]; then
  npm install --silent --no-audit --no-fund --prefix "$root/build-node" phaser >/dev/null 2>&1 ||
    echo "phaser could not be installed; the tests that run its parser will skip"
fi

# LDtk's sample projects (MIT; most of their art is third parties'), which the LDtk tests draw
# level by level: only that folder of deepnight/ldtk, into a folder git ignores.
if command -v git >/dev/null 2>&1 && [ ! -d "$root/build-ldtk/app/extraFiles/samples" ]; then
  { git clone --quiet --depth 1 --filter=blob:none --sparse https://github.com/deepnight/ldtk "$root/build-ldtk" &&
    git -C "$root/build-ldtk" sparse-checkout set app/extraFiles/samples; } >/dev/null 2>&1 ||
    echo "LDtk's samples could not be fetched; the tests that draw them will skip"
fi
