#!/usr/bin/env bash
# The layers depend one way (window -> conversion -> surfaces -> records -> imaging ->
# runtime, and export -> maps -> tiled -> sheets -> imaging): no file includes a layer it may not use, and the batch
# program links no widget.
#   layers.sh SOURCE_DIR TILVEX_PROGRAM
set -uo pipefail
source_dir="$1"
program="$2"
declare -A may_use=(
  [runtime]="runtime"
  [imaging]="runtime imaging"
  [sheets]="runtime imaging sheets"
  [tiled]="runtime imaging sheets tiled"
  [maps]="runtime imaging sheets tiled maps"
  [ldtk]="runtime imaging sheets tiled ldtk"
  [export]="runtime imaging sheets tiled maps export"
  [terrain]="runtime imaging sheets tiled terrain"
  [records]="runtime imaging records"
  [surfaces]="runtime imaging records surfaces"
  [conversion]="runtime imaging records surfaces conversion"
  [window]="runtime imaging records surfaces conversion window"
  [commands]="runtime imaging records surfaces conversion sheets tiled maps export ldtk terrain commands"
)
status=0

for layer in "${!may_use[@]}"; do
  for other in "${!may_use[@]}"; do
    [[ " ${may_use[$layer]} " == *" $other "* ]] && continue
    if grep -n "#include \"$other/" "$source_dir/$layer"/*.{h,cpp} 2>/dev/null; then
      echo "layers: $layer includes $other, which it may not use" >&2
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
