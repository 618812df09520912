#!/usr/bin/env bash
# Makes docs/pipeline.png, the README's picture, with tilvex alone from Tiled's island sample
# (Debian's tiled package): a corner of the island drawn as a level picture, cut into its
# distinct tiles and the map that places them, the tiles compiled into one sheet, the map
# drawn back; the three laid side by side by a map of image layers that tilvex draws.
#   bash docs/pipeline.sh [TILVEX=build/tilvex] [OUT=docs/pipeline.png]
set -euo pipefail
tilvex="$(realpath "${1:-build/tilvex}")"
out="$(realpath -m "${2:-docs/pipeline.png}")"
sample=/usr/share/doc/tiled/examples/rpg
[ -f "$sample/island.tmx" ] || { echo "Tiled's examples are not installed (apt-get install tiled)" >&2; exit 1; }
work=$(mktemp -d /tmp/tilvex-pipeline-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$sample"/beach_tileset.tsx "$sample"/beach_tileset.png "$work/"

# A corner of the island, 20 by 14 cells, as a map of CSV layers (Python's standard library).
/usr/bin/python3 - "$sample/island.tmx" "$work/corner.tmx" <<'EOF'
import base64, sys, zlib, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
width, x0, y0, w, h = int(root.get("width")), 18, 18, 20, 14
layers = []
for layer in root.iter("layer"):
    raw = zlib.decompress(base64.b64decode(layer.find("data").text.strip()))
    gids = [int.from_bytes(raw[i:i + 4], "little") for i in range(0, len(raw), 4)]
    rows = [",".join(str(gids[(y0 + y) * width + x0 + x]) for x in range(w)) for y in range(h)]
    layers.append(f' <layer name="{layer.get("name")}" width="{w}" height="{h}"><data encoding="csv">\n'
                  + ",\n".join(rows) + "\n</data></layer>\n")
open(sys.argv[2], "w").write(
    f'<?xml version="1.0" encoding="UTF-8"?>\n<map version="1.10" orientation="orthogonal" renderorder="right-down" '
    f'width="{w}" height="{h}" tilewidth="16" tileheight="16" infinite="0">\n'
    ' <tileset firstgid="1" source="beach_tileset.tsx"/>\n' + "".join(layers) + "</map>\n")
EOF

cd "$work"
"$tilvex" -q compile --map corner.tmx level.png
"$tilvex" -q split level.png tiles --tile 16 --flips --map level.tmx
"$tilvex" -q compile tiles sheet.png --width 6
"$tilvex" -q compile --map level.tmx drawn.png

# The three side by side on a light ground, 16 pixels apart: the picture is the map grown by
# its layers' offsets, so the map is as wide as what is right of the last offset.
size() { "$tilvex" info "$1" | cut -f3,4; }
read -r lw lh < <(size level.png)
read -r sw sh < <(size sheet.png)
gap=16
total=$((gap + lw + gap + sw + gap + lw + gap))
high=$(( (lh > sh ? lh : sh) + 2 * gap ))
cat >picture.tmx <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<map version="1.10" orientation="orthogonal" renderorder="right-down" width="$(( (total - 3 * gap - lw - sw + 15) / 16 ))" height="$(( (high - gap + 15) / 16 ))"
     tilewidth="16" tileheight="16" infinite="0" backgroundcolor="#f4f1e8">
 <imagelayer name="level" offsetx="$gap" offsety="$gap"><image source="level.png" width="$lw" height="$lh"/></imagelayer>
 <imagelayer name="tiles" offsetx="$((2 * gap + lw))" offsety="$gap"><image source="sheet.png" width="$sw" height="$sh"/></imagelayer>
 <imagelayer name="map" offsetx="$((3 * gap + lw + sw))" offsety="$gap"><image source="drawn.png" width="$lw" height="$lh"/></imagelayer>
 <objectgroup name="margin"><object id="1" x="$((total - 1))" y="$((high - 1))" width="$(( (total - 3 * gap - lw - sw + 15) / 16 ))" height="$(( (high - gap + 15) / 16 ))"/></objectgroup>
</map>
EOF
"$tilvex" -q compile --map picture.tmx "$out"
"$tilvex" info "$out"
