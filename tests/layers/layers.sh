#!/usr/bin/env bash
# The layers depend one way (window -> conversion -> surfaces -> records -> imaging ->
# runtime): no file includes a layer above its own, and the batch program links no widget.
#   layers.sh SOURCE_DIR TILVEX_PROGRAM
set -uo pipefail
source_dir="$1"
program="$2"
layers=(runtime imaging records surfaces conversion window)
status=0

for ((i = 0; i < ${#layers[@]}; i++)); do
  layer="${layers[$i]}"
  for ((j = i + 1; j < ${#layers[@]}; j++)); do
    above="${layers[$j]}"
    if grep -n "#include \"$above/" "$source_dir/$layer"/*.{h,cpp} 2>/dev/null; then
      echo "layers: $layer includes $above, a layer above it" >&2
      status=1
    fi
  done
done

if ! libraries="$(ldd "$program")"; then
  echo "layers: ldd $program failed" >&2
  exit 1
fi
if grep -E "libQt6Widgets" <<<"$libraries"; then
  echo "layers: tilvex links the widgets" >&2
  status=1
fi
echo "tilvex links $(wc -l <<<"$libraries") libraries, none of them Qt Widgets"
exit "$status"
