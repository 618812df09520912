#include "terrain/terrainfiles.h"

#include "sheets/tilemap.h"
#include "terrain/blobshapes.h"
#include "tiled/mapfile.h"
#include "tiled/tilesetfile.h"

namespace {
// A wang id of the terrain's colour 1 where the mask has it, 0 (no colour) elsewhere.
QString wangId(unsigned mask) {
    QStringList values;
    for (int k = 0; k < 8; ++k) {
        values += (mask & (1u << k)) ? QStringLiteral("1") : QStringLiteral("0");
    }
    return values.join(',');
}
}  // namespace

void WriteTerrainTileset(const QString& tsxPath, const TerrainSet& set, const QString& sheetPath) {
    const TileGrid grid(QSize(set.Tile(), set.Tile()), 0, 0);
    WriteSheetTileset(tsxPath, grid, set.Terrains() * Blob::Shapes, Blob::Shapes, sheetPath, set.Sheet().size(), [&](QXmlStreamWriter& xml) {
        xml.writeStartElement("wangsets");
        for (int terrain = 0; terrain < set.Terrains(); ++terrain) {
            const QString body = QString::number(set.TileId(terrain, Blob::ShapeOf(0xFF)));
            xml.writeStartElement("wangset");
            xml.writeAttribute("name", set.TerrainName(terrain));
            xml.writeAttribute("type", "mixed");
            xml.writeAttribute("tile", body);
            xml.writeStartElement("wangcolor");
            xml.writeAttribute("name", set.TerrainName(terrain));
            xml.writeAttribute("color", set.Colour(terrain).name());
            xml.writeAttribute("tile", body);
            xml.writeAttribute("probability", "1");
            xml.writeEndElement();
            for (int shape = 0; shape < Blob::Shapes; ++shape) {
                // Tiled drops a tile whose wang id is all empty, so the lone cell is left out.
                if (Blob::Mask(shape) != 0) {
                    xml.writeStartElement("wangtile");
                    xml.writeAttribute("tileid", QString::number(set.TileId(terrain, shape)));
                    xml.writeAttribute("wangid", wangId(Blob::Mask(shape)));
                    xml.writeEndElement();
                }
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    });
}

void WriteTerrainDemo(const QString& tmxPath, const TerrainSet& set, const QString& tsxPath) {
    const QSize size = set.DemoSize();
    const std::vector<int> cells = set.DemoCells();
    TileMap map(size, QSize(set.Tile(), set.Tile()));
    map.Tileset = tsxPath;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            map.At(x, y).id = set.CellTile(cells, size, x, y);
        }
    }
    WriteMapFile(tmxPath, map);
}
