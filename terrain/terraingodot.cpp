#include "terrain/terrainfiles.h"

#include "terrain/blobshapes.h"

namespace {
// Godot's names of a square tile's neighbours (TileSet.CellNeighbor), in the order of Blob's bits.
const char* const PeeringBits[8] = {"top_side",    "top_right_corner",   "right_side", "bottom_right_corner",
                                    "bottom_side", "bottom_left_corner", "left_side",  "top_left_corner"};

QString quoted(const QString& text) {
    QString escaped = text;
    escaped.replace('\\', QStringLiteral("\\\\")).replace('"', QStringLiteral("\\\""));
    return '"' + escaped + '"';
}

QString channel(int value) { return QString::number(value / 255.0, 'g', 9); }
}  // namespace

QByteArray TerrainGodotTileSet(const TerrainSet& set, const QString& sheetRes) {
    QString text = QStringLiteral("[gd_resource type=\"TileSet\" load_steps=3 format=3]\n\n"
                                  "[ext_resource type=\"Texture2D\" path=%1 id=\"1_sheet\"]\n\n"
                                  "[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_0\"]\n"
                                  "texture = ExtResource(\"1_sheet\")\n"
                                  "texture_region_size = Vector2i(%2, %2)\n")
                       .arg(quoted(sheetRes), QString::number(set.Tile()));
    for (int terrain = 0; terrain < set.Terrains(); ++terrain) {
        for (int shape = 0; shape < Blob::Shapes; ++shape) {
            // Bits left out are -1, Godot's "no terrain", as Godot itself saves them.
            const QString tile = QStringLiteral("%1:%2/0").arg(shape).arg(terrain);
            text += QStringLiteral("%1 = 0\n%1/terrain_set = 0\n%1/terrain = %2\n").arg(tile).arg(terrain);
            for (int k = 0; k < 8; ++k) {
                if (Blob::Mask(shape) & (1u << k)) {
                    text += QStringLiteral("%1/terrains_peering_bit/%2 = %3\n").arg(tile, QLatin1String(PeeringBits[k])).arg(terrain);
                }
            }
        }
    }
    text += QStringLiteral("\n[resource]\ntile_size = Vector2i(%1, %1)\nterrain_set_0/mode = 0\n").arg(set.Tile());
    for (int terrain = 0; terrain < set.Terrains(); ++terrain) {
        const QColor colour = set.Colour(terrain);
        text += QStringLiteral("terrain_set_0/terrain_%1/name = %2\nterrain_set_0/terrain_%1/color = Color(%3, %4, %5, 1)\n")
                    .arg(terrain)
                    .arg(quoted(set.TerrainName(terrain)), channel(colour.red()), channel(colour.green()), channel(colour.blue()));
    }
    text += QStringLiteral("sources/0 = SubResource(\"TileSetAtlasSource_0\")\n");
    return text.toUtf8();
}
